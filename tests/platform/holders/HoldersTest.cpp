// The owning holders: each frees what it holds once, whether it is destroyed,
// reset, moved from, assigned over or left by an early return, and frees
// nothing it has handed over.
#include "support/ScratchDir.h"
#include "support/TempRegistry.h"

#include <orafon/Holders.h>
#include <orafon/SqliteHolders.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <type_traits>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' allocators keep the count; GCC ships no header declaring it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif
#include <unistd.h>

namespace {

using orafon::CUniqueHandle;

// ---- The holder itself, over a handle kind that counts its closings --------

struct CountedTraits {
    using Handle = int;
    static inline std::map<int, int> closed;
    static Handle Empty() noexcept { return 0; }
    static int Close(Handle h) noexcept
    {
        ++closed[h];
        return h * 10;
    }
    static int CloseEmpty() noexcept { return -1; }
};
using Counted = CUniqueHandle<CountedTraits>;

// Leaves through an early return while holding handle 5.
bool EarlyReturn(bool leave)
{
    Counted held(5);
    if (leave)
        return false;
    static_cast<void>(held.Detach());
    return true;
}

struct HolderCase {
    const char *name;
    std::function<void()> run;
    std::map<int, int> closed; // handle -> times closed, after run
};

TEST(HolderTest, ClosesEachHandleOnce)
{
    const HolderCase cases[] = {
        {"destroyed", [] { Counted h(1); }, {{1, 1}}},
        {"empty destroyed", [] { Counted h; }, {}},
        {"reset to another",
         [] {
             Counted h(1);
             h.Reset(2);
             EXPECT_EQ(1, CountedTraits::closed[1]) << "the old handle is closed at once";
         },
         {{1, 1}, {2, 1}}},
        {"reset to nothing",
         [] {
             Counted h(1);
             h.Reset();
             EXPECT_FALSE(h);
         },
         {{1, 1}}},
        {"moved from",
         [] {
             Counted a(1);
             Counted b(std::move(a));
             EXPECT_FALSE(a);
             EXPECT_EQ(1, b.Get());
         },
         {{1, 1}}},
        {"assigned over",
         [] {
             Counted a(1), b(2);
             b = std::move(a);
             EXPECT_EQ(1, CountedTraits::closed[2]) << "what b held is closed by the assignment";
             EXPECT_EQ(1, b.Get());
         },
         {{1, 1}, {2, 1}}},
        {"assigned to itself",
         [] {
             Counted a(1);
             Counted &alias = a;
             a = std::move(alias);
             EXPECT_EQ(1, a.Get());
         },
         {{1, 1}}},
        {"detached", [] { EXPECT_EQ(3, Counted(3).Detach()); }, {}},
        {"early return", [] { EXPECT_FALSE(EarlyReturn(true)); }, {{5, 1}}},
        {"no early return, handed over", [] { EXPECT_TRUE(EarlyReturn(false)); }, {}},
        {"out parameter",
         [] {
             Counted h(1);
             *h.Out() = 2;
             EXPECT_EQ(1, CountedTraits::closed[1]) << "Out() frees what was held first";
         },
         {{1, 1}, {2, 1}}},
        {"closed by hand",
         [] {
             Counted h(4);
             EXPECT_EQ(40, h.Close()) << "Close() returns what closing reported";
             EXPECT_FALSE(h);
             EXPECT_EQ(-1, h.Close()) << "an empty holder reports CloseEmpty()";
         },
         {{4, 1}}},
    };
    for (const HolderCase &c : cases) {
        SCOPED_TRACE(c.name);
        CountedTraits::closed.clear();
        c.run();
        std::erase_if(CountedTraits::closed, [](const auto &entry) { return entry.second == 0; });
        EXPECT_EQ(c.closed, CountedTraits::closed);
    }
}

// ---- Each real holder over its real resource -------------------------------

// Open descriptors on a file, as /proc/self/fd shows them.
int DescriptorsOn(const std::string &path)
{
    int count = 0;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkError;
        if (std::filesystem::read_symlink(entry.path(), linkError) == path)
            ++count;
    }
    return count;
}

// Bytes the allocator has handed out and not had back.
size_t HeapBytesInUse()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

// A scratch folder with one file name in it.
class ScratchFile {
public:
    const std::string &path() const { return path_; }

private:
    orafon::test::ScratchDir dir_{"orafon-holders-"};
    std::string path_ = (dir_.path() / "file").string();
};

// Each probe makes one live resource and tells whether it is still live.
struct StdioProbe {
    using Holder = orafon::CStdioFile;
    ScratchFile file;
    std::FILE *Acquire() { return std::fopen(file.path().c_str(), "w"); }
    bool Live(std::FILE *) const { return DescriptorsOn(file.path()) > 0; }
};

struct MmioProbe {
    using Holder = orafon::CMmioFile;
    ScratchFile file;
    HMMIO Acquire()
    {
        std::string name = file.path();
        return mmioOpenA(name.data(), nullptr, MMIO_CREATE | MMIO_WRITE);
    }
    bool Live(HMMIO) const { return DescriptorsOn(file.path()) > 0; }
};

struct SqliteDbProbe {
    using Holder = orafon::CSqliteDb;
    ScratchFile file;
    sqlite3 *Acquire()
    {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(file.path().c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            orafon::CSqliteDb{db}.Reset();
        return db;
    }
    bool Live(sqlite3 *) const { return DescriptorsOn(file.path()) > 0; }
};

struct SqliteStmtProbe {
    using Holder = orafon::CSqliteStmt;
    orafon::CSqliteDb db;
    SqliteStmtProbe() { sqlite3_open_v2(":memory:", db.Out(), SQLITE_OPEN_READWRITE, nullptr); }
    sqlite3_stmt *Acquire()
    {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db.Get(), "SELECT 1", -1, &statement, nullptr);
        return statement;
    }
    bool Live(sqlite3_stmt *) const { return sqlite3_next_stmt(db.Get(), nullptr) != nullptr; }
};

struct RegKeyProbe {
    using Holder = orafon::CRegKey;
    orafon::test::TempRegistry registry;
    HKEY Acquire()
    {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\HolderTest", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr);
        return key;
    }
    // A closed handle is refused; an open one answers that the value is absent.
    bool Live(HKEY key) const
    {
        return RegQueryValueExW(key, u"absent", nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND;
    }
};

// Heap blocks are told live by the allocator's count of bytes in use: the
// block is far larger than anything else the test allocates meanwhile.
constexpr size_t kBlockBytes = 16u << 20;

struct CoTaskMemProbe {
    using Holder = orafon::CComHeapPtr<BYTE>;
    size_t before = 0;
    BYTE *Acquire()
    {
        before = HeapBytesInUse();
        return static_cast<BYTE *>(CoTaskMemAlloc(kBlockBytes));
    }
    bool Live(BYTE *) const { return HeapBytesInUse() > before + kBlockBytes / 2; }
};

struct BstrProbe {
    using Holder = orafon::CBstr;
    size_t before = 0;
    BSTR Acquire()
    {
        before = HeapBytesInUse();
        return SysAllocStringLen(nullptr, kBlockBytes / sizeof(OLECHAR));
    }
    bool Live(BSTR) const { return HeapBytesInUse() > before + kBlockBytes / 2; }
};

template <typename Probe> class RealHolderTest : public ::testing::Test {
protected:
    Probe probe_;
};
using Probes =
    ::testing::Types<StdioProbe, MmioProbe, SqliteDbProbe, SqliteStmtProbe, RegKeyProbe, CoTaskMemProbe, BstrProbe>;
TYPED_TEST_SUITE(RealHolderTest, Probes);

template <typename Holder, typename Raw> bool LeaveEarly(Raw raw, bool leave)
{
    Holder held(raw);
    if (leave)
        return false;
    static_cast<void>(held.Detach());
    return true;
}

TYPED_TEST(RealHolderTest, FreesWhatItHolds)
{
    using Holder = typename TypeParam::Holder;
    auto &probe = this->probe_;
    using Raw = decltype(probe.Acquire());
    const struct {
        const char *name;
        std::function<void(Raw)> run;
    } cases[] = {
        {"destroyed", [](Raw raw) { Holder held(raw); }},
        {"reset",
         [](Raw raw) {
             Holder held(raw);
             held.Reset();
         }},
        {"moved, then destroyed",
         [&probe](Raw raw) {
             Holder first(raw);
             Holder second(std::move(first));
             first.Reset();
             EXPECT_TRUE(probe.Live(raw)) << "the moved-from holder freed what it handed over";
         }},
        {"assigned over",
         [](Raw raw) {
             Holder held(raw);
             held = Holder();
         }},
        {"early return", [](Raw raw) { EXPECT_FALSE(LeaveEarly<Holder>(raw, true)); }},
        {"out parameter",
         [](Raw raw) {
             Holder held(raw);
             static_cast<void>(held.Out());
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Raw raw = probe.Acquire();
        ASSERT_NE(nullptr, raw);
        ASSERT_TRUE(probe.Live(raw));
        c.run(raw);
        EXPECT_FALSE(probe.Live(raw));
    }
}

TYPED_TEST(RealHolderTest, LeavesWhatItHandedOver)
{
    using Holder = typename TypeParam::Holder;
    auto &probe = this->probe_;
    const auto raw = probe.Acquire();
    ASSERT_NE(nullptr, raw);
    Holder first(raw);
    Holder second(first.Detach());
    EXPECT_TRUE(probe.Live(raw)) << "a detached holder freed what it handed over";
    second.Reset();
    EXPECT_FALSE(probe.Live(raw));
}

// ---- Closing that reports -------------------------------------------------

TEST(HolderCloseTest, StdioCloseReportsTheLastWrite)
{
    ScratchFile file;
    orafon::CStdioFile f(std::fopen(file.path().c_str(), "w"));
    ASSERT_TRUE(f);
    ASSERT_EQ(1u, std::fwrite("x", 1, 1, f.Get()));
    EXPECT_EQ(0, f.Close());
    EXPECT_EQ(0, DescriptorsOn(file.path()));
    EXPECT_EQ(1u, std::filesystem::file_size(file.path())) << "the buffered byte reached the file on Close()";
    EXPECT_EQ(EOF, f.Close()) << "a closed holder reports that nothing was there";
}

TEST(HolderCloseTest, StdioCloseReportsAFullDisk)
{
    orafon::CStdioFile f(std::fopen("/dev/full", "w"));
    ASSERT_TRUE(f);
    ASSERT_EQ(1u, std::fwrite("x", 1, 1, f.Get()));
    EXPECT_EQ(EOF, f.Close());
}

TEST(HolderCloseTest, MmioCloseReportsAndEmpties)
{
    ScratchFile file;
    std::string name = file.path();
    orafon::CMmioFile h(mmioOpenA(name.data(), nullptr, MMIO_CREATE | MMIO_WRITE | MMIO_ALLOCBUF));
    ASSERT_TRUE(h);
    ASSERT_EQ(4, mmioWrite(h.Get(), "RIFF", 4));
    EXPECT_EQ(MMSYSERR_NOERROR, h.Close());
    EXPECT_EQ(4u, std::filesystem::file_size(file.path()));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, h.Close());
}

TEST(HolderCloseTest, RegKeyCloseReports)
{
    orafon::test::TempRegistry registry;
    orafon::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\HolderTest", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, key.Out(), nullptr));
    EXPECT_EQ(ERROR_SUCCESS, key.Close());
    EXPECT_EQ(ERROR_INVALID_HANDLE, key.Close());
}

// ---- CVariant's typed constructors ------------------------------------------

static_assert(!std::is_constructible_v<orafon::CVariant, int *>, "no pointer may become a VT_BOOL");
static_assert(!std::is_copy_constructible_v<orafon::CVariant>);
static_assert(!std::is_copy_constructible_v<orafon::CRegKey>);

TEST(CVariantTest, TypedConstructorsMakeTheirType)
{
    const char16_t withNul[] = {u'a', u'\0', u'b'};
    {
        const orafon::CVariant v(LONG{-7});
        EXPECT_EQ(VT_I4, v->vt);
        EXPECT_EQ(-7, v->lVal);
    }
    const struct {
        bool value;
        VARIANT_BOOL expected;
    } bools[] = {{true, VARIANT_TRUE}, {false, VARIANT_FALSE}};
    for (const auto &b : bools) {
        const orafon::CVariant v(b.value);
        EXPECT_EQ(VT_BOOL, v->vt);
        EXPECT_EQ(b.expected, v->boolVal);
    }
    const struct {
        std::u16string_view text;
        UINT length;
    } texts[] = {{u"", 0}, {u"hello", 5}, {std::u16string_view(withNul, 3), 3}};
    for (const auto &t : texts) {
        const orafon::CVariant v(t.text);
        ASSERT_EQ(VT_BSTR, v->vt);
        ASSERT_NE(nullptr, v->bstrVal);
        EXPECT_EQ(t.length, SysStringLen(v->bstrVal));
        EXPECT_EQ(t.text, std::u16string_view(v->bstrVal, SysStringLen(v->bstrVal)));
    }
    const orafon::CVariant literal(u"text");
    EXPECT_EQ(VT_BSTR, literal->vt) << "a string literal is text, not a bool";
}

// ---- EXCEPINFO -------------------------------------------------------------

// Fills an EXCEPINFO as a failing Invoke does: three large strings, and a
// deferred fill-in that adds the help context.
HRESULT STDAPICALLTYPE FillInHelpContext(EXCEPINFO *info)
{
    info->dwHelpContext = 42;
    return S_OK;
}

void FailLikeASink(EXCEPINFO *info)
{
    const UINT length = kBlockBytes / sizeof(OLECHAR);
    info->bstrSource = SysAllocStringLen(nullptr, length);
    info->bstrDescription = SysAllocStringLen(nullptr, length);
    info->bstrHelpFile = SysAllocStringLen(nullptr, length);
    info->pfnDeferredFillIn = &FillInHelpContext;
    info->scode = E_FAIL;
}

TEST(CExcepInfoTest, FreesTheStringsACalleeFilled)
{
    const size_t before = HeapBytesInUse();
    const auto live = [&](size_t blocks) { return HeapBytesInUse() > before + blocks * kBlockBytes - kBlockBytes / 2; };
    {
        orafon::CExcepInfo info;
        FailLikeASink(info.Out());
        ASSERT_TRUE(live(3));
        // A second call through the same holder frees what the first left.
        FailLikeASink(info.Out());
        EXPECT_TRUE(live(3));
        EXPECT_FALSE(live(4)) << "Out() kept the strings of the earlier call";
        EXPECT_EQ(E_FAIL, info->scode);
    }
    EXPECT_FALSE(live(1)) << "the holder left the strings behind";

    orafon::CBstr description;
    {
        orafon::CExcepInfo info;
        FailLikeASink(info.Out());
        description.Reset(info.DetachDescription());
        EXPECT_EQ(nullptr, info->bstrDescription);
    }
    EXPECT_TRUE(live(1)) << "the holder freed the description it handed over";
    EXPECT_FALSE(live(2));
    description.Reset();
    EXPECT_FALSE(live(1));
}

TEST(CExcepInfoTest, RunsTheDeferredFillInOnce)
{
    orafon::CExcepInfo info;
    EXCEPINFO *raw = info.Out();
    FailLikeASink(raw);
    info.FillIn();
    EXPECT_EQ(42u, info->dwHelpContext);
    EXPECT_EQ(nullptr, info->pfnDeferredFillIn);
    raw->dwHelpContext = 7;
    info.FillIn();
    EXPECT_EQ(7u, info->dwHelpContext) << "the fill-in ran twice";
    info.Clear();
    EXPECT_EQ(nullptr, info->bstrSource);
    EXPECT_EQ(0u, info->dwHelpContext);
}

} // namespace

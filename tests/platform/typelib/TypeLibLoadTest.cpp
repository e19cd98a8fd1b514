// LoadTypeLib from .tlb files and from module files, registration in the
// registry, and LoadRegTypeLib.
#include "TypeLibTestSupport.h"
#include "TypeLibText.h"

#include <fstream>

using namespace orafon::test;
using orafon::typelib::FromUtf8;
using orafon::typelib::GuidString;

namespace {

const bool kRegistry = (UsePrivateRegistry(), true);

std::filesystem::path WriteFile(const std::string &name, const std::vector<BYTE> &bytes)
{
    std::filesystem::path path = TestDir() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::u16string Wide(const std::filesystem::path &p)
{
    return FromUtf8(p.string());
}

HRESULT Load(const std::filesystem::path &p, CComPtr<ITypeLib> &lib)
{
    return LoadTypeLib(Wide(p).c_str(), &lib);
}

std::u16string LibName(ITypeLib *lib)
{
    BSTR name = nullptr;
    EXPECT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    return Take(name);
}

TEST(TypeLibLoad, FromTypeLibraryFile)
{
    CComPtr<ITypeLib> lib;
    ASSERT_EQ(Load(WriteFile("sample.tlb", SampleBytes()), lib), S_OK);
    EXPECT_EQ(LibName(lib), u"Sample");
    EXPECT_EQ(lib->GetTypeInfoCount(), 5u);
}

TEST(TypeLibLoad, FromModuleFileResource)
{
    CComPtr<ITypeLib> lib;
    ASSERT_EQ(Load(SAMPLE_MODULE, lib), S_OK);
    EXPECT_EQ(LibName(lib), u"Sample");
    CComPtr<ITypeInfo> info;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_ISample, &info), S_OK);
}

TEST(TypeLibLoad, UnreadableSourcesAreRefused)
{
    std::vector<BYTE> good = SampleBytes();
    struct Case {
        const char *what;
        std::filesystem::path path;
        HRESULT hr;
    };
    const Case cases[] = {
        {"missing file", TestDir() / "none.tlb", TYPE_E_CANTLOADLIBRARY},
        {"directory", TestDir(), TYPE_E_CANTLOADLIBRARY},
        {"empty file", WriteFile("empty.tlb", {}), TYPE_E_CANTLOADLIBRARY},
        {"text file", WriteFile("text.tlb", {'h', 'e', 'l', 'l', 'o', '\n'}), TYPE_E_CANTLOADLIBRARY},
        {"truncated library", WriteFile("cut.tlb", std::vector<BYTE>(good.begin(), good.begin() + good.size() / 2)),
         TYPE_E_INVDATAREAD},
        {"module without a library", NO_RESOURCE_MODULE, TYPE_E_CANTLOADLIBRARY},
        {"file that only looks like a module", WriteFile("fake.so", {0x7F, 'E', 'L', 'F', 0, 0, 0, 0}),
         TYPE_E_CANTLOADLIBRARY},
    };
    for (const Case &c : cases) {
        CComPtr<ITypeLib> lib;
        EXPECT_EQ(Load(c.path, lib), c.hr) << c.what;
        EXPECT_EQ(lib.get(), nullptr) << c.what;
    }
    CComPtr<ITypeLib> lib;
    EXPECT_EQ(LoadTypeLib(nullptr, &lib), E_INVALIDARG);
    EXPECT_EQ(LoadTypeLib(u"", &lib), E_INVALIDARG);
    EXPECT_EQ(LoadTypeLib(u"x.tlb", nullptr), E_INVALIDARG);
}

class TypeLibRegistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = WriteFile("reg.tlb", SampleBytes());
        ASSERT_EQ(Load(path, lib), S_OK);
    }
    std::u16string VersionKey() const { return u"TypeLib\\" + GuidString(LIBID_Sample) + u"\\2.3"; }

    std::filesystem::path path;
    CComPtr<ITypeLib> lib;
};

TEST_F(TypeLibRegistration, WritesTheWindowsLayout)
{
    ASSERT_EQ(RegisterTypeLib(lib, Wide(path).c_str(), u"/help/dir/"), S_OK);
    EXPECT_EQ(ReadKey(VersionKey()), u"Sample 2.3 Type Library");
    EXPECT_EQ(ReadKey(VersionKey() + u"\\FLAGS"), u"0");
    EXPECT_EQ(ReadKey(VersionKey() + u"\\HELPDIR"), u"/help/dir/");
    EXPECT_EQ(ReadKey(VersionKey() + u"\\409\\win32"), Wide(path));
    for (const GUID *iid : {&IID_ISample, &DIID_SampleEvents}) {
        std::u16string key = u"Interface\\" + GuidString(*iid);
        EXPECT_TRUE(ReadKey(key).has_value());
        EXPECT_EQ(ReadKey(key + u"\\ProxyStubClsid32"), u"{00020424-0000-0000-C000-000000000046}");
        EXPECT_EQ(ReadKey(key + u"\\ProxyStubClsid"), u"{00020424-0000-0000-C000-000000000046}");
        EXPECT_EQ(ReadKey(key + u"\\TypeLib"), GuidString(LIBID_Sample));
        EXPECT_EQ(ReadKey(key + u"\\TypeLib", u"Version"), u"2.3");
    }
    EXPECT_EQ(ReadKey(u"Interface\\" + GuidString(IID_ISample)), u"ISample");
    // A custom interface that is not oleautomation has no marshalling entry.
    EXPECT_FALSE(KeyExists(u"Interface\\" + GuidString(IID_ICustom)));
    EXPECT_EQ(UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32), S_OK);
}

TEST_F(TypeLibRegistration, LoadRegTypeLibFindsCompatibleVersionsAndLocales)
{
    ASSERT_EQ(RegisterTypeLib(lib, Wide(path).c_str(), nullptr), S_OK);
    struct Case {
        WORD major, minor;
        LCID lcid;
        HRESULT hr;
    };
    const Case cases[] = {
        {2, 3, 0x409, S_OK},
        {2, 3, 0, S_OK},
        {2, 0, 0x409, S_OK},
        {2, 3, 0x809, S_OK},
        {2, 3, 0x407, S_OK},
        {2, 4, 0, TYPE_E_LIBNOTREGISTERED},
        {1, 0, 0, TYPE_E_LIBNOTREGISTERED},
        {3, 0, 0, TYPE_E_LIBNOTREGISTERED},
    };
    for (const Case &c : cases) {
        CComPtr<ITypeLib> found;
        EXPECT_EQ(LoadRegTypeLib(LIBID_Sample, c.major, c.minor, c.lcid, &found), c.hr)
            << c.major << "." << c.minor << " lcid " << c.lcid;
        EXPECT_EQ(found.get() != nullptr, c.hr == S_OK);
    }
    CComPtr<ITypeLib> other;
    EXPECT_EQ(LoadRegTypeLib(IID_ISample, 1, 0, 0, &other), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(LIBID_Sample, 2, 3, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32), S_OK);
}

TEST_F(TypeLibRegistration, UnregisterRemovesEverythingOnceAndOnlyItsOwn)
{
    ASSERT_EQ(RegisterTypeLib(lib, Wide(path).c_str(), nullptr), S_OK);
    // Another library has since claimed the events interface.
    orafon::CRegKey key;
    std::u16string eventsTypeLib = u"Interface\\" + GuidString(DIID_SampleEvents) + u"\\TypeLib";
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, eventsTypeLib.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.Out(), nullptr),
              ERROR_SUCCESS);
    std::u16string other = GuidString(CLSID_Sample);
    ASSERT_EQ(RegSetValueExW(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(other.c_str()),
                             static_cast<DWORD>((other.size() + 1) * 2)),
              ERROR_SUCCESS);
    key.Reset();

    EXPECT_EQ(UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32), S_OK);
    EXPECT_FALSE(KeyExists(u"TypeLib\\" + GuidString(LIBID_Sample)));
    EXPECT_FALSE(KeyExists(u"Interface\\" + GuidString(IID_ISample)));
    EXPECT_EQ(ReadKey(eventsTypeLib), other);
    EXPECT_TRUE(KeyExists(u"TypeLib"));

    EXPECT_EQ(UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32), TYPE_E_REGISTRYACCESS);
    CComPtr<ITypeLib> gone;
    EXPECT_EQ(LoadRegTypeLib(LIBID_Sample, 2, 3, 0, &gone), TYPE_E_LIBNOTREGISTERED);
}

TEST_F(TypeLibRegistration, UnregisterOfAnotherLocaleKeepsTheRest)
{
    ASSERT_EQ(RegisterTypeLib(lib, Wide(path).c_str(), nullptr), S_OK);
    EXPECT_EQ(UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x407, SYS_WIN32), TYPE_E_REGISTRYACCESS);
    EXPECT_EQ(UnRegisterTypeLib(LIBID_Sample, 2, 2, 0x409, SYS_WIN32), TYPE_E_REGISTRYACCESS);
    EXPECT_EQ(ReadKey(VersionKey() + u"\\409\\win32"), Wide(path));
    EXPECT_EQ(UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32), S_OK);
}

TEST_F(TypeLibRegistration, RegisteredFileThatIsGoneFailsToLoad)
{
    std::filesystem::path moved = WriteFile("moved.tlb", SampleBytes());
    ASSERT_EQ(RegisterTypeLib(lib, Wide(moved).c_str(), nullptr), S_OK);
    std::filesystem::remove(moved);
    CComPtr<ITypeLib> found;
    EXPECT_EQ(LoadRegTypeLib(LIBID_Sample, 2, 3, 0, &found), TYPE_E_CANTLOADLIBRARY);
    // Unregistering still works without the file; its interface entries
    // cannot be known then and stay.
    EXPECT_EQ(UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32), S_OK);
    EXPECT_FALSE(KeyExists(u"TypeLib\\" + GuidString(LIBID_Sample)));
}

TEST_F(TypeLibRegistration, LoadTypeLibExRegistersOnlyWhenAsked)
{
    CComPtr<ITypeLib> plain, none, registered;
    ASSERT_EQ(LoadTypeLibEx(Wide(path).c_str(), REGKIND_DEFAULT, &plain), S_OK);
    ASSERT_EQ(LoadTypeLibEx(Wide(path).c_str(), REGKIND_NONE, &none), S_OK);
    EXPECT_FALSE(KeyExists(u"TypeLib\\" + GuidString(LIBID_Sample)));
    ASSERT_EQ(LoadTypeLibEx(Wide(path).c_str(), REGKIND_REGISTER, &registered), S_OK);
    EXPECT_EQ(ReadKey(VersionKey() + u"\\409\\win32"), Wide(path));
    EXPECT_EQ(ReadKey(VersionKey() + u"\\HELPDIR"), Wide(TestDir()) + u"/");
    EXPECT_EQ(UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32), S_OK);
}

TEST_F(TypeLibRegistration, BadArgumentsAreRefused)
{
    EXPECT_EQ(RegisterTypeLib(nullptr, u"/x.tlb", nullptr), E_INVALIDARG);
    EXPECT_EQ(RegisterTypeLib(lib, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(RegisterTypeLib(lib, u"", nullptr), E_INVALIDARG);
}

} // namespace

// Modules, last error, interlocked counts, critical sections, threads, time.
#include <orafon/win/winbase.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Basename(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

std::string ExePath()
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// ---- Module file names ------------------------------------------------------------

TEST(Modules, NullModuleIsTheMainProgram)
{
    char buf[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof(buf));
    ASSERT_GT(n, 0u);
    EXPECT_EQ(ExePath(), std::string(buf, n));
    EXPECT_EQ(strlen(buf), n);
}

TEST(Modules, ShortBufferTruncatesAsWindowsDoes)
{
    const std::string full = ExePath();
    char buf[8];
    SetLastError(0);
    EXPECT_EQ(8u, GetModuleFileNameA(nullptr, buf, 8));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(full.substr(0, 7), std::string(buf));
    // Exactly the length: still no room for the NUL.
    std::string exact(full.size(), 'x');
    EXPECT_EQ(full.size(), GetModuleFileNameA(nullptr, exact.data(), static_cast<DWORD>(full.size())));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    SetLastError(0);
    EXPECT_EQ(0u, GetModuleFileNameA(nullptr, buf, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

TEST(Modules, ModuleLearnsItsOwnPathFromAnAddress)
{
    HMODULE self = nullptr;
    ASSERT_TRUE(
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&GetModuleFileNameA), &self));
    char buf[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(self, buf, sizeof(buf));
    ASSERT_GT(n, 0u);
    EXPECT_EQ('/', buf[0]);
    EXPECT_EQ("liborafon_platform.so", Basename(buf));

    // The same module by name, through LoadLibraryA and by GetModuleHandleExA.
    HMODULE loaded = LoadLibraryA("liborafon_platform.so");
    EXPECT_EQ(self, loaded);
    HMODULE byName = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(0, "liborafon_platform.so", &byName));
    EXPECT_EQ(self, byName);
    EXPECT_TRUE(FreeLibrary(byName));
    EXPECT_TRUE(FreeLibrary(loaded));
}

TEST(Modules, MainProgramHandleFromAddressAndName)
{
    static int inMain = 0;
    HMODULE fromAddress = nullptr;
    ASSERT_TRUE(
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&inMain), &fromAddress));
    HMODULE main = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, nullptr, &main));
    EXPECT_EQ(main, fromAddress);
    char buf[MAX_PATH * 4];
    ASSERT_GT(GetModuleFileNameA(main, buf, sizeof(buf)), 0u);
    EXPECT_EQ(ExePath(), buf);
}

TEST(Modules, ProcedureLookup)
{
    HMODULE platform = LoadLibraryA("liborafon_platform.so");
    ASSERT_NE(nullptr, platform);
    auto tick = reinterpret_cast<DWORD (*)(void)>(GetProcAddress(platform, "GetTickCount"));
    ASSERT_NE(nullptr, tick);
    EXPECT_EQ(&GetTickCount, tick);
    SetLastError(0);
    EXPECT_EQ(nullptr, GetProcAddress(platform, "NoSuchFunction"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, GetProcAddress(platform, reinterpret_cast<LPCSTR>(7))); // ordinals are not supported
    EXPECT_TRUE(FreeLibrary(platform));
}

TEST(Modules, WindowsNamesFindTheSharedObject)
{
    // "orafon_test_server.dll" stands for liborafon_test_server.so beside us.
    HMODULE server = LoadLibraryA("orafon_test_server.dll");
    ASSERT_NE(nullptr, server);
    EXPECT_NE(nullptr, GetProcAddress(server, "DllGetClassObject"));
    char buf[MAX_PATH * 4];
    ASSERT_GT(GetModuleFileNameA(server, buf, sizeof(buf)), 0u);
    EXPECT_EQ("liborafon_test_server.so", Basename(buf));
    EXPECT_TRUE(FreeLibrary(server));
}

TEST(Modules, FailuresSetTheLastError)
{
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA("no_such_module.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, LoadLibraryA("/nonexistent/libx.so"));
    EXPECT_EQ(nullptr, LoadLibraryA(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(nullptr, LoadLibraryA(""));

    int notAModule = 0;
    const HMODULE bogus = reinterpret_cast<HMODULE>(&notAModule);
    EXPECT_FALSE(FreeLibrary(bogus));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_EQ(nullptr, GetProcAddress(bogus, "x"));
    EXPECT_EQ(nullptr, GetProcAddress(nullptr, "x"));
    char buf[16];
    EXPECT_EQ(0u, GetModuleFileNameA(bogus, buf, sizeof(buf)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_FALSE(GetModuleHandleExA(0, "never_loaded_module.so", nullptr));
    HMODULE h = reinterpret_cast<HMODULE>(1);
    EXPECT_FALSE(GetModuleHandleExA(0, "never_loaded_module.so", &h));
    EXPECT_EQ(nullptr, h);
}

// ---- Threads ------------------------------------------------------------------------

TEST(Threads, LastErrorIsPerThread)
{
    SetLastError(1234);
    std::thread([] {
        EXPECT_EQ(0u, GetLastError());
        SetLastError(99);
    }).join();
    EXPECT_EQ(1234u, GetLastError());
}

TEST(Threads, ThreadIdsAreDistinctAndStable)
{
    const DWORD mine = GetCurrentThreadId();
    EXPECT_NE(0u, mine);
    EXPECT_EQ(mine, GetCurrentThreadId());
    DWORD other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(mine, other);
}

TEST(Threads, InterlockedCountsAreAtomic)
{
    LONG counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                InterlockedIncrement(&counter);
                InterlockedIncrement(&counter);
                InterlockedDecrement(&counter);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(40000, counter);
    EXPECT_EQ(1, InterlockedIncrement(&(counter = 0)));
    EXPECT_EQ(0, InterlockedDecrement(&counter));
    EXPECT_EQ(0, InterlockedExchange(&counter, 5));
    EXPECT_EQ(5, counter);
}

TEST(Threads, CriticalSectionIsRecursiveAndExclusive)
{
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs); // the holder may enter again
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    std::atomic<bool> otherGotIt{true};
    std::thread([&] { otherGotIt = TryEnterCriticalSection(&cs) != FALSE; }).join();
    EXPECT_FALSE(otherGotIt);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    std::thread([&] {
        otherGotIt = TryEnterCriticalSection(&cs) != FALSE;
        if (otherGotIt)
            LeaveCriticalSection(&cs);
    }).join();
    EXPECT_TRUE(otherGotIt);

    long shared = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                EnterCriticalSection(&cs);
                ++shared;
                LeaveCriticalSection(&cs);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(40000, shared);
    DeleteCriticalSection(&cs);

    CRITICAL_SECTION spun;
    EXPECT_TRUE(InitializeCriticalSectionAndSpinCount(&spun, 4000));
    DeleteCriticalSection(&spun);
    EXPECT_FALSE(InitializeCriticalSectionAndSpinCount(nullptr, 0));
}

TEST(Threads, TickCountAdvancesAcrossSleep)
{
    const DWORD before = GetTickCount();
    Sleep(20);
    const DWORD elapsed = GetTickCount() - before; // unsigned: correct across wrap-around
    EXPECT_GE(elapsed, 19u);
    Sleep(0);
}

} // namespace

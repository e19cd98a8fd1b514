#include "TestServer.h"
#include "support/Process.h"
#include "support/TempRegistry.h"

#include <orafon/Holders.h>
#include <orafon/win/objbase.h>
#include <orafon/win/winbase.h>
#include <orafon/win/winreg.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <thread>

using orafon::test::Key;
using orafon::test::TempRegistry;

namespace {

// {11111111-2222-4333-8444-555555555555}: registered nowhere.
constexpr CLSID kUnknownClass = {0x11111111, 0x2222, 0x4333, {0x84, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

std::string GuidA(const GUID &g)
{
    OLECHAR buf[39];
    StringFromGUID2(g, buf, 39);
    return std::string(buf, buf + 38);
}

void SetDefault(const std::string &path, const std::string &value)
{
    Key key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                            static_cast<DWORD>(value.size() + 1)));
}

void RegisterServer(const GUID &clsid, const std::string &modulePath)
{
    SetDefault("CLSID\\" + GuidA(clsid) + "\\InprocServer32", modulePath);
}

// dlopen with RTLD_NOLOAD takes a reference when it succeeds; give it back.
bool ServerLoadedNoRef()
{
    void *h = dlopen(TEST_SERVER_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (h)
        dlclose(h);
    return h != nullptr;
}

class ComApartment : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, CoInitialize(nullptr)); }
    void TearDown() override { CoUninitialize(); }
    TempRegistry registry_;
};

// ---- Apartments -------------------------------------------------------------

TEST(ComInit, CountsPerThreadAndRefusesModeChange)
{
    std::thread([] {
        EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        EXPECT_EQ(S_FALSE, CoInitialize(nullptr));
        EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED)); // fully left: a new mode is fine
        CoUninitialize();
        CoUninitialize(); // unbalanced: harmless
    }).join();
    EXPECT_EQ(E_INVALIDARG, CoInitializeEx(reinterpret_cast<void *>(1), COINIT_APARTMENTTHREADED));
    EXPECT_EQ(E_INVALIDARG, CoInitializeEx(nullptr, 0x1000));
}

TEST(ComInit, ObjectCreationNeedsInitialisation)
{
    std::thread([] {
        void *p = reinterpret_cast<void *>(1);
        EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstance(kUnknownClass, nullptr, CLSCTX_ALL, IID_IUnknown, &p));
        EXPECT_EQ(nullptr, p);
        EXPECT_EQ(CO_E_NOTINITIALIZED, CoGetClassObject(kUnknownClass, CLSCTX_ALL, nullptr, IID_IUnknown, &p));
        DWORD cookie = 7;
        IClassFactory *none = nullptr;
        EXPECT_EQ(E_INVALIDARG, CoRegisterClassObject(kUnknownClass, none, CLSCTX_INPROC_SERVER, 1, &cookie));
    }).join();
}

TEST(ComInit, MultithreadedApartmentCoversOtherThreads)
{
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    TempRegistry registry;
    std::thread([] {
        void *p = nullptr;
        EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(kUnknownClass, nullptr, CLSCTX_ALL, IID_IUnknown, &p));
    }).join();
    CoUninitialize();
}

TEST(ComMemory, TaskMemoryAllocatesAndResizes)
{
    auto *p = static_cast<char *>(CoTaskMemAlloc(4));
    ASSERT_NE(nullptr, p);
    std::memcpy(p, "abc", 4);
    p = static_cast<char *>(CoTaskMemRealloc(p, 4096));
    ASSERT_NE(nullptr, p);
    EXPECT_STREQ("abc", p);
    EXPECT_EQ(nullptr, CoTaskMemRealloc(p, 0)); // frees
    void *zero = CoTaskMemAlloc(0);
    EXPECT_NE(nullptr, zero);
    CoTaskMemFree(zero);
    CoTaskMemFree(nullptr);
    void *fresh = CoTaskMemRealloc(nullptr, 8);
    EXPECT_NE(nullptr, fresh);
    CoTaskMemFree(fresh);
}

// ---- Registered class objects ---------------------------------------------------

// A class object living in the test itself.
class LocalFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
    STDMETHODIMP CreateInstance(IUnknown *, REFIID riid, void **ppv) override
    {
        ++created;
        return QueryInterface(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    LONG refs = 0;
    int created = 0;
};

TEST_F(ComApartment, RegisteredClassObjectIsFoundFirstAndRevoked)
{
    LocalFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, CoRegisterClassObject(kUnknownClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(1, factory.refs);
    for (int i = 0; i < 2; ++i) {
        CComPtr<IUnknown> object;
        ASSERT_EQ(S_OK, CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         reinterpret_cast<void **>(&object)));
    }
    EXPECT_EQ(2, factory.created);
    EXPECT_EQ(1, factory.refs); // every reference the runtime took was given back
    CComPtr<IUnknown> wrong;
    EXPECT_EQ(E_NOINTERFACE, CoGetClassObject(kUnknownClass, CLSCTX_INPROC_SERVER, nullptr, IID_ITestAdder,
                                              reinterpret_cast<void **>(&wrong)));
    EXPECT_EQ(S_OK, CoRevokeClassObject(cookie));
    EXPECT_EQ(0, factory.refs);
    EXPECT_EQ(E_INVALIDARG, CoRevokeClassObject(cookie));
    CComPtr<IUnknown> gone;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void **>(&gone)));
}

TEST_F(ComApartment, SingleUseRegistrationServesOnce)
{
    LocalFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, CoRegisterClassObject(kUnknownClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_SINGLEUSE, &cookie));
    CComPtr<IClassFactory> first;
    ASSERT_EQ(S_OK, CoGetClassObject(kUnknownClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                     reinterpret_cast<void **>(&first)));
    CComPtr<IClassFactory> second;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoGetClassObject(kUnknownClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                                    reinterpret_cast<void **>(&second)));
    first = nullptr;
    EXPECT_EQ(0, factory.refs);
}

TEST_F(ComApartment, LastUninitializeRevokesTheThreadsRegistrations)
{
    LocalFactory factory;
    std::thread([&] {
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        DWORD cookie = 0;
        ASSERT_EQ(S_OK,
                  CoRegisterClassObject(kUnknownClass, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie));
        CoUninitialize();
    }).join();
    EXPECT_EQ(0, factory.refs);
}

// ---- Servers through the registry -------------------------------------------------

TEST_F(ComApartment, CreatesThroughInprocServer32)
{
    RegisterServer(CLSID_TestAdder, TEST_SERVER_PATH);
    CComPtr<ITestAdder> adder;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_INPROC_SERVER, IID_ITestAdder,
                                     reinterpret_cast<void **>(&adder)));
    LONG sum = 0;
    EXPECT_EQ(S_OK, adder->Add(40, 2, &sum));
    EXPECT_EQ(42, sum);

    // The module is loaded once and asked again for the next object.
    void *module = dlopen(TEST_SERVER_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, module);
    auto requests = reinterpret_cast<LPFNTESTSERVERCOUNT>(dlsym(module, "TestServerRequests"));
    ASSERT_NE(nullptr, requests);
    const LONG before = requests();
    CComPtr<ITestAdder> second;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_ALL, IID_ITestAdder,
                                     reinterpret_cast<void **>(&second)));
    EXPECT_EQ(before + 1, requests());
    dlclose(module);

    // Still in use: not unloaded.
    CoFreeUnusedLibraries();
    EXPECT_TRUE(ServerLoadedNoRef());
    adder = nullptr;
    second = nullptr;
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ServerLoadedNoRef());

    // And it comes back on demand.
    CComPtr<ITestAdder> third;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_INPROC_SERVER, IID_ITestAdder,
                                     reinterpret_cast<void **>(&third)));
}

TEST_F(ComApartment, ServerErrorsPassThrough)
{
    RegisterServer(CLSID_TestAdder, TEST_SERVER_PATH);
    CComPtr<IUnknown> object;
    // The class has no such interface.
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory,
                                              reinterpret_cast<void **>(&object)));
    // Aggregation is refused by the factory.
    LocalFactory outer;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_TestAdder, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                      reinterpret_cast<void **>(&object)));
    EXPECT_EQ(nullptr, object.get());
    EXPECT_EQ(E_POINTER, CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr));
    EXPECT_EQ(E_INVALIDARG, CoGetClassObject(CLSID_TestAdder, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown, nullptr));
}

TEST_F(ComApartment, UnregisteredClassIsReported)
{
    CComPtr<IUnknown> object;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void **>(&object)));
    // A class the server does not have.
    RegisterServer(kUnknownClass, TEST_SERVER_PATH);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                          reinterpret_cast<void **>(&object)));
    // Out-of-process only: nothing here serves that.
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void **>(&object)));
}

TEST_F(ComApartment, BrokenServerEntriesGiveLoadErrors)
{
    RegisterServer(kUnknownClass, "/nonexistent/libnothing.so");
    CComPtr<IUnknown> object;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND),
              CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void **>(&object)));
    // A library without DllGetClassObject.
    RegisterServer(kUnknownClass, PLATFORM_PATH);
    EXPECT_EQ(CO_E_ERRORINDLL, CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                reinterpret_cast<void **>(&object)));
}

// ---- ProgIDs ----------------------------------------------------------------------

TEST_F(ComApartment, ProgIdsResolveDirectlyAndThroughCurVer)
{
    SetDefault("Orafon.TestAdder.1\\CLSID", GuidA(CLSID_TestAdder));
    SetDefault("Orafon.TestAdder\\CurVer", "Orafon.TestAdder.1");
    SetDefault("CLSID\\" + GuidA(CLSID_TestAdder) + "\\ProgID", "Orafon.TestAdder.1");
    CLSID clsid = GUID_NULL;
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"Orafon.TestAdder.1", &clsid));
    EXPECT_TRUE(IsEqualGUID(CLSID_TestAdder, clsid));
    clsid = GUID_NULL;
    ASSERT_EQ(S_OK, CLSIDFromProgID(u"orafon.testadder", &clsid));
    EXPECT_TRUE(IsEqualGUID(CLSID_TestAdder, clsid));
    clsid = GUID_NULL;
    ASSERT_EQ(S_OK, CLSIDFromString(u"Orafon.TestAdder", &clsid)); // a ProgID is accepted here too
    EXPECT_TRUE(IsEqualGUID(CLSID_TestAdder, clsid));

    orafon::CComHeapPtr<OLECHAR> progId;
    ASSERT_EQ(S_OK, ProgIDFromCLSID(CLSID_TestAdder, progId.Out()));
    EXPECT_EQ(u"Orafon.TestAdder.1", std::u16string(progId.Get()));
}

TEST_F(ComApartment, ProgIdFailures)
{
    CLSID clsid;
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(u"No.Such.ProgId", &clsid));
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(u"", &clsid));
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(u"CLSID\\Sneaky", &clsid));
    EXPECT_EQ(E_INVALIDARG, CLSIDFromProgID(nullptr, &clsid));
    EXPECT_EQ(E_INVALIDARG, CLSIDFromProgID(u"X", nullptr));
    SetDefault("Orafon.Broken\\CLSID", "not a guid");
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(u"Orafon.Broken", &clsid));
    // CurVer loops end.
    SetDefault("Orafon.LoopA\\CurVer", "Orafon.LoopB");
    SetDefault("Orafon.LoopB\\CurVer", "Orafon.LoopA");
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(u"Orafon.LoopA", &clsid));
    LPOLESTR progId = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ProgIDFromCLSID(kUnknownClass, &progId));
    EXPECT_EQ(nullptr, progId);
    EXPECT_EQ(E_INVALIDARG, ProgIDFromCLSID(kUnknownClass, nullptr));
}

// ---- Platform modules -------------------------------------------------------------

// The speech platform's modules provide their classes without registry
// entries: they are found beside the platform library. A separate process
// loads the platform library from a scratch folder holding the test server
// under the speech module's name.
TEST(ComPlatformModules, ClassComesFromModuleBesideThePlatformLibrary)
{
    TempRegistry registry; // empty: no InprocServer32 anywhere
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(registry.dir()) / "platform";
    fs::create_directories(dir);
    fs::copy_file(PLATFORM_PATH, dir / "liborafon_platform.so");
    fs::copy_file(TEST_SERVER_PATH, dir / "liborafon_sapi5.so");

    const char *old = getenv("LD_LIBRARY_PATH");
    const std::string saved = old ? old : "";
    setenv("LD_LIBRARY_PATH", dir.c_str(), 1);
    const auto result = orafon::test::RunProgram(MODULE_PROBE, {});
    if (old)
        setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
    else
        unsetenv("LD_LIBRARY_PATH");

    EXPECT_EQ(0, result.exitCode) << result.output;
    EXPECT_EQ("00000000\n" + (dir / "liborafon_platform.so").string() + "\n", result.output);

    // Without the module the class is unknown.
    fs::remove(dir / "liborafon_sapi5.so");
    setenv("LD_LIBRARY_PATH", dir.c_str(), 1);
    const auto missing = orafon::test::RunProgram(MODULE_PROBE, {});
    if (old)
        setenv("LD_LIBRARY_PATH", saved.c_str(), 1);
    else
        unsetenv("LD_LIBRARY_PATH");
    EXPECT_EQ(3, missing.exitCode);
    EXPECT_EQ("80040154", missing.output.substr(0, 8)); // REGDB_E_CLASSNOTREG
}

} // namespace

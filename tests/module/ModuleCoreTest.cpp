// The module logic (lock count, class factory, class table, registration,
// type-library lookup) driven with a class table of the test's own, whose
// instance maker makes small counted objects.
#include "ClassFactory.h"
#include "ModuleState.h"
#include "ModuleTestSupport.h"
#include "Registration.h"
#include "support/ComRules.h"

#include <orafon/OrafonIds.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

using namespace orafon::module;

namespace {

const bool kRegistry = (orafon::test::UsePrivateRegistry(), true);

DEFINE_GUID(CLSID_TestThing, 0x11112222, 0x3333, 0x4444, 0x55, 0x55, 0x66, 0x66, 0x77, 0x77, 0x88, 0x88);

ModuleState *g_state = nullptr;
int g_makerCalls = 0;
IUnknown *g_lastOuter = nullptr;
HRESULT g_makerResult = S_OK;

// Holds a module lock for its lifetime, as the real objects do.
class TestThing final : public IUnknown {
public:
    TestThing() { g_state->Lock(); }
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (riid != IID_IUnknown) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

private:
    ~TestThing() { g_state->Unlock(); }
    ULONG refs_ = 1;
};

HRESULT MakeTestThing(IUnknown *outer, REFIID riid, void **ppv)
{
    ++g_makerCalls;
    g_lastOuter = outer;
    if (FAILED(g_makerResult))
        return g_makerResult;
    auto *thing = new TestThing;
    HRESULT hr = thing->QueryInterface(riid, ppv);
    thing->Release();
    return hr;
}

HRESULT NoRegistry(const char *, bool)
{
    return S_OK;
}

class ModuleCore : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_state = &state;
        g_makerCalls = 0;
        g_lastOuter = nullptr;
        g_makerResult = S_OK;
        ASSERT_TRUE(state.Attach("/nonexistent/Test.so"));
    }
    void TearDown() override
    {
        state.Detach();
        g_state = nullptr;
    }
    CComPtr<IClassFactory> Factory()
    {
        CComPtr<IClassFactory> f;
        EXPECT_EQ(state.GetClassObject(CLSID_TestThing, IID_IClassFactory, reinterpret_cast<void **>(&f)), S_OK);
        return f;
    }

    ClassEntry classes[1] = {{&CLSID_TestThing, NoRegistry, CClassFactory::Make, MakeTestThing}};
    ModuleState state{classes, LIBID_Orafon};
};

TEST_F(ModuleCore, CanUnloadFollowsLockServer)
{
    EXPECT_EQ(state.CanUnloadNow(), S_OK);
    CComPtr<IClassFactory> f = Factory();
    f->AddRef(); // the count goes 2 -> 3: no second lock
    f->Release();
    ASSERT_EQ(f->LockServer(TRUE), S_OK);
    f.Release(); // back to the cache's own reference
    EXPECT_EQ(state.LockCount(), 1);
    EXPECT_EQ(state.CanUnloadNow(), S_FALSE);
    f = Factory();
    ASSERT_EQ(f->LockServer(FALSE), S_OK);
    f.Release();
    EXPECT_EQ(state.CanUnloadNow(), S_OK);
}

TEST_F(ModuleCore, SameFactoryEachTimeAndHoldingItLocks)
{
    CComPtr<IClassFactory> first = Factory();
    EXPECT_EQ(state.CanUnloadNow(), S_FALSE);
    CComPtr<IClassFactory> second = Factory();
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(state.LockCount(), 1);
    CComPtr<IUnknown> unknown;
    ASSERT_EQ(state.GetClassObject(CLSID_TestThing, IID_IUnknown, reinterpret_cast<void **>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<IUnknown *>(first.get()), unknown.get());
    first.Release();
    EXPECT_EQ(state.CanUnloadNow(), S_FALSE);
    second.Release();
    unknown.Release();
    EXPECT_EQ(state.CanUnloadNow(), S_OK);
}

TEST_F(ModuleCore, FactoryKeepsTheRulesOfIUnknownAndGivesItsLockBack)
{
    CComPtr<IClassFactory> factory = Factory();
    orafon::test::ExpectComRules(factory, {IID_IClassFactory}, {IID_IDispatch, IID_IConnectionPoint});
    EXPECT_EQ(state.LockCount(), 1) << "one lock however many client references come and go";
    factory.Release();
    EXPECT_EQ(state.LockCount(), 0);
    EXPECT_EQ(state.CanUnloadNow(), S_OK);
}

TEST_F(ModuleCore, LiveObjectsKeepTheModule)
{
    CComPtr<IClassFactory> f = Factory();
    CComPtr<IUnknown> thing;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void **>(&thing)), S_OK);
    f.Release();
    EXPECT_EQ(state.CanUnloadNow(), S_FALSE);
    thing.Release();
    EXPECT_EQ(state.CanUnloadNow(), S_OK);
}

TEST_F(ModuleCore, GetClassObjectResults)
{
    struct Case {
        const char *what;
        const GUID *clsid;
        const IID *iid;
        HRESULT hr;
    };
    const Case cases[] = {
        {"the type library's LIBID", &LIBID_Orafon, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"another class", &CLSID_TextToSpeech, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"the null GUID", &GUID_NULL, &IID_IUnknown, CLASS_E_CLASSNOTAVAILABLE},
        {"an interface the factory lacks", &CLSID_TestThing, &IID_IDispatch, E_NOINTERFACE},
    };
    for (const Case &c : cases) {
        void *pv = reinterpret_cast<void *>(1);
        EXPECT_EQ(state.GetClassObject(*c.clsid, *c.iid, &pv), c.hr) << c.what;
        EXPECT_EQ(pv, nullptr) << c.what;
    }
    EXPECT_EQ(state.GetClassObject(CLSID_TestThing, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(state.CanUnloadNow(), S_OK);
}

TEST_F(ModuleCore, AggregationOnlyThroughIUnknown)
{
    CComPtr<IClassFactory> f = Factory();
    IUnknown *outer = f; // any object serves as the outer one here
    void *pv = reinterpret_cast<void *>(1);
    EXPECT_EQ(f->CreateInstance(outer, IID_ITextToSpeech, &pv), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(g_makerCalls, 0);
    ASSERT_EQ(f->CreateInstance(outer, IID_IUnknown, &pv), S_OK);
    EXPECT_EQ(g_lastOuter, outer);
    static_cast<IUnknown *>(pv)->Release();
    EXPECT_EQ(f->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ModuleCore, CreationFailurePassesThroughWithNoObject)
{
    CComPtr<IClassFactory> f = Factory();
    for (HRESULT failure : {E_OUTOFMEMORY, E_FAIL, E_NOINTERFACE}) {
        g_makerResult = failure;
        void *pv = reinterpret_cast<void *>(1);
        EXPECT_EQ(f->CreateInstance(nullptr, IID_IUnknown, &pv), failure);
        EXPECT_EQ(pv, nullptr);
    }
    f.Release();
    EXPECT_EQ(state.CanUnloadNow(), S_OK);
}

TEST_F(ModuleCore, FactoryIsMadeOnceUnderConcurrentRequests)
{
    constexpr int kThreads = 8;
    std::vector<IClassFactory *> seen(kThreads);
    std::vector<HRESULT> results(kThreads, E_FAIL);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            results[i] = state.GetClassObject(CLSID_TestThing, IID_IClassFactory, reinterpret_cast<void **>(&seen[i]));
        });
    for (auto &t : threads)
        t.join();
    for (HRESULT hr : results)
        EXPECT_EQ(hr, S_OK);
    for (IClassFactory *f : seen)
        EXPECT_EQ(f, seen[0]);
    EXPECT_EQ(state.LockCount(), 1);
    for (IClassFactory *f : seen)
        f->Release();
    EXPECT_EQ(state.CanUnloadNow(), S_OK);
}

TEST(ModuleState, FailedAttachMakesEveryEntryUnexpected)
{
    ClassEntry classes[1] = {{&CLSID_TestThing, NoRegistry, CClassFactory::Make, MakeTestThing}};
    ModuleState state(classes, LIBID_Orafon);
    EXPECT_FALSE(state.Attach(nullptr));
    void *pv = nullptr;
    EXPECT_EQ(state.GetClassObject(CLSID_TestThing, IID_IClassFactory, &pv), E_UNEXPECTED);
    EXPECT_EQ(state.RegisterServer(), E_UNEXPECTED);
    EXPECT_EQ(state.UnregisterServer(), E_UNEXPECTED);
    ITypeInfo *info = nullptr;
    EXPECT_EQ(state.GetTypeInfo(IID_ITextToSpeech, &info), E_UNEXPECTED);
    EXPECT_EQ(state.CanUnloadNow(), S_OK);
    EXPECT_FALSE(state.Attach("relative/Orafon.so"));
}

TEST(ModulePaths, TypeLibraryBesideTheModule)
{
    const std::pair<const char *, const char *> cases[] = {
        {"/usr/lib/orafon/Orafon.so", "/usr/lib/orafon/Orafon.tlb"},
        {"/opt/a.b/Orafon", "/opt/a.b/Orafon.tlb"},
        {"/opt/x/lib.v2.so", "/opt/x/lib.v2.tlb"},
        {"/opt/x/.hidden", "/opt/x/.hidden.tlb"},
    };
    for (const auto &[module, tlb] : cases)
        EXPECT_EQ(TypeLibPathBeside(module), tlb) << module;
}

TEST(ModulePaths, HelpDirectoryKeepsItsSeparator)
{
    const std::pair<const char16_t *, const char16_t *> cases[] = {
        {u"/usr/lib/orafon/Orafon.so", u"/usr/lib/orafon/"},
        {u"C:\\Program Files\\Orafon.dll", u"C:\\Program Files\\"},
        {u"C:Orafon.dll", u"C:"},
        {u"Orafon.so", u""},
    };
    for (const auto &[path, dir] : cases)
        EXPECT_EQ(HelpDirOf(path), dir);
}

// The type library is looked for in the module file, then beside it.
TEST(ModuleTypeLib, FallsBackToTheTlbBesideTheModule)
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "orafon-mod-XXXXXX").string();
    std::filesystem::path dir = mkdtemp(tmpl.data());
    std::filesystem::path module = dir / "Fake.so";
    std::ofstream(module) << "not a module";
    ClassEntry classes[1] = {{&CLSID_TestThing, NoRegistry, CClassFactory::Make, MakeTestThing}};
    {
        ModuleState state(classes, LIBID_Orafon);
        ASSERT_TRUE(state.Attach(module.c_str()));
        CComPtr<ITypeInfo> info;
        EXPECT_EQ(state.GetTypeInfo(IID_ITextToSpeech, &info), TYPE_E_CANTLOADLIBRARY);
        std::filesystem::copy_file(ORAFON_TLB, dir / "Fake.tlb");
        ASSERT_EQ(state.GetTypeInfo(IID_ITextToSpeech, &info), S_OK);
        std::u16string from;
        CComPtr<ITypeLib> lib;
        ASSERT_EQ(state.LoadTypeLibrary(&lib, &from), S_OK);
        EXPECT_EQ(from.substr(from.size() - 9), u"/Fake.tlb");
        EXPECT_EQ(state.GetTypeInfo(IID_ITextToSpeech, nullptr), E_POINTER);
        CComPtr<ITypeInfo> none;
        EXPECT_EQ(state.GetTypeInfo(GUID_NULL, &none), TYPE_E_ELEMENTNOTFOUND);
    }
    std::filesystem::remove_all(dir);
}

// Registration loads the library the same way and registers it with the
// file it came from, the help directory cut after its last separator.
TEST(ModuleTypeLib, RegistersTheLibraryFromWhereItWasLoaded)
{
    const std::filesystem::path dir = orafon::test::TestDir() / "fallback";
    std::filesystem::create_directories(dir);
    const std::filesystem::path module = dir / "Fake.so";
    std::ofstream(module) << "not a module";
    ClassEntry classes[1] = {{&CLSID_TestThing, NoRegistry, CClassFactory::Make, MakeTestThing}};
    ModuleState state(classes, LIBID_Orafon);
    ASSERT_TRUE(state.Attach(module.c_str()));
    EXPECT_EQ(state.RegisterServer(), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(state.UnregisterServer(), TYPE_E_CANTLOADLIBRARY);

    std::filesystem::copy_file(ORAFON_TLB, dir / "Fake.tlb");
    ASSERT_EQ(state.RegisterServer(), S_OK);
    const std::string version = "TypeLib\\{F29A07DB-9775-46B7-A7DD-94C440145B52}\\1.0";
    EXPECT_EQ(orafon::test::Key(version + "\\409\\win32").value(), (dir / "Fake.tlb").string());
    EXPECT_EQ(orafon::test::Key(version + "\\HELPDIR").value(), dir.string() + "/");
    ASSERT_EQ(state.UnregisterServer(), S_OK);
    EXPECT_FALSE(orafon::test::Key(version).exists());
    EXPECT_EQ(state.UnregisterServer(), TYPE_E_REGISTRYACCESS);
}

} // namespace

// Orafon.so as a host sees it: loaded at run time, asked through its exports,
// its type library read back, its registration round trip.
#include "ModuleTestSupport.h"

#include <orafon/OrafonIds.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <climits>
#include <fstream>
#include <iterator>
#include <vector>

using namespace orafon::test;

namespace {

const bool kRegistry = (UsePrivateRegistry(), true);

using GetTypeLibResource = LPFNGETTYPELIBRESOURCE;
using RegisterFn = HRESULT (*)();

std::u16string Wide(const std::string &s)
{
    return std::u16string(s.begin(), s.end());
}
std::u16string Take(BSTR b)
{
    std::u16string s = b ? std::u16string(b, SysStringLen(b)) : std::u16string();
    SysFreeString(b);
    return s;
}

std::string RealPath(const char *path)
{
    char buf[PATH_MAX];
    return realpath(path, buf) ? buf : "";
}

class OrafonModule : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        handle = dlopen(ORAFON_MODULE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        getClassObject = Sym<LPFNGETCLASSOBJECT>("DllGetClassObject");
        canUnloadNow = Sym<LPFNCANUNLOADNOW>("DllCanUnloadNow");
        registerServer = Sym<RegisterFn>("DllRegisterServer");
        unregisterServer = Sym<RegisterFn>("DllUnregisterServer");
        getResource = Sym<GetTypeLibResource>("DllGetTypeLibResource");
    }
    static void TearDownTestSuite()
    {
        if (handle)
            dlclose(handle);
        handle = nullptr;
    }
    template <typename F> static F Sym(const char *name) { return reinterpret_cast<F>(dlsym(handle, name)); }

    CComPtr<IClassFactory> Factory()
    {
        CComPtr<IClassFactory> f;
        EXPECT_EQ(getClassObject(CLSID_TextToSpeech, IID_IClassFactory, reinterpret_cast<void **>(&f)), S_OK);
        return f;
    }

    static inline void *handle = nullptr;
    static inline LPFNGETCLASSOBJECT getClassObject = nullptr;
    static inline LPFNCANUNLOADNOW canUnloadNow = nullptr;
    static inline RegisterFn registerServer = nullptr;
    static inline RegisterFn unregisterServer = nullptr;
    static inline GetTypeLibResource getResource = nullptr;
};

TEST_F(OrafonModule, ExportsTheEntryPointsAndNothingElse)
{
    EXPECT_NE(getClassObject, nullptr);
    EXPECT_NE(canUnloadNow, nullptr);
    EXPECT_NE(registerServer, nullptr);
    EXPECT_NE(unregisterServer, nullptr);
    EXPECT_NE(getResource, nullptr);
    for (const char *hidden :
         {"ModuleLock", "ModuleUnlock", "ModuleGetTypeInfo", "DllMain", "CTextToSpeech_CreateInstance"})
        EXPECT_EQ(dlsym(handle, hidden), nullptr) << hidden;
}

TEST_F(OrafonModule, UnloadableUntilAFactoryIsHeld)
{
    EXPECT_EQ(canUnloadNow(), S_OK);
    CComPtr<IClassFactory> first = Factory();
    CComPtr<IClassFactory> second = Factory();
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    first.Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    second.Release();
    EXPECT_EQ(canUnloadNow(), S_OK);

    CComPtr<IClassFactory> f = Factory();
    ASSERT_EQ(f->LockServer(TRUE), S_OK);
    f.Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    f = Factory();
    ASSERT_EQ(f->LockServer(FALSE), S_OK);
    f.Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(OrafonModule, OnlyTheOneClassIsServed)
{
    for (const GUID *clsid : {&LIBID_Orafon, &IID_ITextToSpeech, &DIID__ITextToSpeechEvents, &GUID_NULL}) {
        void *pv = reinterpret_cast<void *>(1);
        EXPECT_EQ(getClassObject(*clsid, IID_IClassFactory, &pv), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(pv, nullptr);
    }
    EXPECT_EQ(getClassObject(CLSID_TextToSpeech, IID_IClassFactory, nullptr), E_POINTER);
    void *pv = reinterpret_cast<void *>(1);
    EXPECT_EQ(getClassObject(CLSID_TextToSpeech, IID_IDispatch, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(OrafonModule, AggregationAskedForAnotherInterfaceIsRefused)
{
    CComPtr<IClassFactory> f = Factory();
    void *pv = reinterpret_cast<void *>(1);
    EXPECT_EQ(f->CreateInstance(f, IID_ITextToSpeech, &pv), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(f->CreateInstance(nullptr, IID_ITextToSpeech, nullptr), E_POINTER);
}

TEST_F(OrafonModule, ResourceAndTlbFileCarryTheSameLibrary)
{
    const void *data = nullptr;
    SIZE_T size = 0;
    ASSERT_EQ(getResource(1, &data, &size), S_OK);
    std::ifstream tlb(ORAFON_TLB, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(tlb)), std::istreambuf_iterator<char>());
    ASSERT_EQ(file.size(), size);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), static_cast<const char *>(data)));
    EXPECT_EQ(getResource(2, &data, &size), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(getResource(1, nullptr, &size), E_POINTER);
}

TEST_F(OrafonModule, ObjectsHoldTheModuleWhileTheyLive)
{
    CComPtr<IClassFactory> f = Factory();
    CComPtr<IDispatch> object;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_ITextToSpeech, reinterpret_cast<void **>(&object)), S_OK);
    f.Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    // The object describes itself from the module's own type library.
    CComPtr<ITypeInfo> info;
    ASSERT_EQ(object->GetTypeInfo(0, 0, &info), S_OK);
    TYPEATTR *a = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&a), S_OK);
    EXPECT_EQ(a->guid, IID_ITextToSpeech);
    info->ReleaseTypeAttr(a);
    info.Release();
    object.Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// An outer object that only counts references; the aggregated object gets
// it as its controlling IUnknown.
class Outer final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = riid == IID_IUnknown ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    ULONG refs = 1;
};

TEST_F(OrafonModule, AggregatedObjectHandsOutItsInnerUnknown)
{
    CComPtr<IClassFactory> f = Factory();
    Outer outer;
    IUnknown *inner = nullptr;
    ASSERT_EQ(f->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void **>(&inner)), S_OK);
    ASSERT_NE(inner, nullptr);
    EXPECT_NE(inner, static_cast<IUnknown *>(&outer));
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    f.Release();
    inner->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(outer.refs, 1u);
}

class OrafonTypeLib : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override { ASSERT_EQ(LoadTypeLib(Wide(GetParam()).c_str(), &lib), S_OK); }

    CComPtr<ITypeInfo> Info(const GUID &guid)
    {
        CComPtr<ITypeInfo> info;
        EXPECT_EQ(lib->GetTypeInfoOfGuid(guid, &info), S_OK);
        return info;
    }
    static TYPEATTR Attr(ITypeInfo *info)
    {
        TYPEATTR *a = nullptr;
        EXPECT_EQ(info->GetTypeAttr(&a), S_OK);
        TYPEATTR copy = *a;
        info->ReleaseTypeAttr(a);
        return copy;
    }
    static std::pair<std::u16string, std::u16string> Doc(ITypeInfo *info, MEMBERID memid)
    {
        BSTR name = nullptr, doc = nullptr;
        EXPECT_EQ(info->GetDocumentation(memid, &name, &doc, nullptr, nullptr), S_OK);
        return {Take(name), Take(doc)};
    }

    CComPtr<ITypeLib> lib;
};

TEST_P(OrafonTypeLib, LibraryAndContentsInOrder)
{
    TLIBATTR *a = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&a), S_OK);
    EXPECT_EQ(a->guid, LIBID_Orafon);
    EXPECT_EQ(a->wMajorVerNum, 1);
    EXPECT_EQ(a->wMinorVerNum, 0);
    EXPECT_EQ(a->lcid, 0x0409u);
    EXPECT_EQ(a->syskind, SYS_WIN32);
    lib->ReleaseTLibAttr(a);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take(name), u"Orafon");
    EXPECT_EQ(Take(doc), u"Orafon 1.0 Type Library");

    const std::tuple<const char16_t *, TYPEKIND, const char16_t *> order[] = {
        {u"TTSFLAG", TKIND_ENUM, u"Speak Flag"},
        {u"FILEFORMAT", TKIND_ENUM, u"Output File Format"},
        {u"_ITextToSpeechEvents", TKIND_DISPATCH, u"_ITextToSpeechEvents Interface"},
        {u"CTextToSpeech", TKIND_COCLASS, u""},
        {u"ITextToSpeech", TKIND_DISPATCH, u"ITextToSpeech Interface"},
    };
    ASSERT_EQ(lib->GetTypeInfoCount(), std::size(order));
    for (INT i = 0; i < static_cast<INT>(std::size(order)); ++i) {
        TYPEKIND kind{};
        ASSERT_EQ(lib->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(kind, std::get<1>(order[i]));
        ASSERT_EQ(lib->GetDocumentation(i, &name, &doc, nullptr, nullptr), S_OK);
        EXPECT_EQ(Take(name), std::get<0>(order[i]));
        EXPECT_EQ(Take(doc), std::get<2>(order[i]));
    }
}

TEST_P(OrafonTypeLib, EnumerationValues)
{
    const std::vector<std::pair<const char16_t *, LONG>> flags = {
        {u"TF_DEFAULT", 0}, {u"TF_ASYNC", 1}, {u"TF_WITHTAG", 2}};
    const std::vector<std::pair<const char16_t *, LONG>> formats = {{u"FF_WAVE", 0}, {u"FF_MP3", 1}, {u"FF_WMA", 2},
                                                                    {u"FF_OGG", 3},  {u"FF_VOX", 4}, {u"FF_AU", 5},
                                                                    {u"FF_AIFF", 6}, {u"FF_MP4", 7}, {u"FF_FLAC", 8}};
    for (UINT t = 0; t < 2; ++t) {
        const auto &expected = t == 0 ? flags : formats;
        CComPtr<ITypeInfo> info;
        ASSERT_EQ(lib->GetTypeInfo(t, &info), S_OK);
        ASSERT_EQ(Attr(info).cVars, expected.size());
        for (UINT i = 0; i < expected.size(); ++i) {
            VARDESC *v = nullptr;
            ASSERT_EQ(info->GetVarDesc(i, &v), S_OK);
            EXPECT_EQ(v->varkind, VAR_CONST);
            EXPECT_EQ(v->lpvarValue->vt, VT_I4);
            EXPECT_EQ(v->lpvarValue->lVal, expected[i].second);
            EXPECT_EQ(Doc(info, v->memid).first, expected[i].first);
            info->ReleaseVarDesc(v);
        }
    }
}

struct MemberRow {
    MEMBERID id;
    INVOKEKIND kind;
    const char16_t *name;
    const char16_t *help;
    std::vector<std::u16string> params; // as IDispatch sees them
};

TEST_P(OrafonTypeLib, EventsInterface)
{
    const MemberRow rows[] = {
        {1, INVOKE_FUNC, u"OnTTSStart", u"TTS Start Event", {}},
        {2, INVOKE_FUNC, u"OnTTSEnd", u"TTS End Event", {}},
        {3, INVOKE_FUNC, u"OnTTSWord", u"TTS Word Event", {u"nStart", u"nLength"}},
        {4,
         INVOKE_FUNC,
         u"OnTTSSentence",
         u"TTS Sentence Event, Only Support by SAPI5 voices",
         {u"nStart", u"nLength"}},
        {5, INVOKE_FUNC, u"OnTTSProgress", u"TTS Progress", {u"nPercent"}},
    };
    CComPtr<ITypeInfo> info = Info(DIID__ITextToSpeechEvents);
    TYPEATTR a = Attr(info);
    EXPECT_EQ(a.wTypeFlags & TYPEFLAG_FDUAL, 0);
    ASSERT_EQ(a.cFuncs, std::size(rows));
    for (UINT i = 0; i < std::size(rows); ++i) {
        FUNCDESC *f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->memid, rows[i].id);
        EXPECT_EQ(f->funckind, FUNC_DISPATCH);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        ASSERT_EQ(f->cParams, static_cast<SHORT>(rows[i].params.size()));
        for (SHORT p = 0; p < f->cParams; ++p) {
            EXPECT_EQ(f->lprgelemdescParam[p].tdesc.vt, VT_I4);
            EXPECT_EQ(f->lprgelemdescParam[p].paramdesc.wParamFlags, PARAMFLAG_FIN);
        }
        info->ReleaseFuncDesc(f);
        EXPECT_EQ(Doc(info, rows[i].id), std::make_pair(std::u16string(rows[i].name), std::u16string(rows[i].help)));
        BSTR names[4] = {};
        UINT count = 0;
        ASSERT_EQ(info->GetNames(rows[i].id, names, 4, &count), S_OK);
        ASSERT_EQ(count, rows[i].params.size() + 1);
        EXPECT_EQ(Take(names[0]), rows[i].name);
        for (UINT p = 1; p < count; ++p)
            EXPECT_EQ(Take(names[p]), rows[i].params[p - 1]);
    }
}

TEST_P(OrafonTypeLib, CoclassDefaultInterfaceAndDefaultSource)
{
    CComPtr<ITypeInfo> info = Info(CLSID_TextToSpeech);
    TYPEATTR a = Attr(info);
    EXPECT_EQ(a.wTypeFlags, TYPEFLAG_FCANCREATE);
    EXPECT_EQ(a.wMajorVerNum, 1);
    EXPECT_EQ(a.wMinorVerNum, 0);
    ASSERT_EQ(a.cImplTypes, 2);
    const std::pair<const GUID *, INT> impls[] = {
        {&IID_ITextToSpeech, IMPLTYPEFLAG_FDEFAULT},
        {&DIID__ITextToSpeechEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    for (UINT i = 0; i < 2; ++i) {
        HREFTYPE href = 0;
        INT flags = 0;
        ASSERT_EQ(info->GetRefTypeOfImplType(i, &href), S_OK);
        ASSERT_EQ(info->GetImplTypeFlags(i, &flags), S_OK);
        EXPECT_EQ(flags, impls[i].second);
        CComPtr<ITypeInfo> iface;
        ASSERT_EQ(info->GetRefTypeInfo(href, &iface), S_OK);
        EXPECT_EQ(Attr(iface).guid, *impls[i].first);
    }
}

// The members themselves come from the component's member table; that the
// library describes each row, and that the live object agrees with the
// library, is checked in tests/component/InModuleTest.cpp. Here: the shape
// every member of a dual interface has.
TEST_P(OrafonTypeLib, DualInterfaceShape)
{
    CComPtr<ITypeInfo> dispatch = Info(IID_ITextToSpeech);
    TYPEATTR a = Attr(dispatch);
    EXPECT_EQ(a.wTypeFlags, TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    ASSERT_GT(a.cFuncs, 0);
    HREFTYPE href = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
    CComPtr<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(href, &vtable), S_OK);
    ASSERT_EQ(Attr(vtable).cFuncs, a.cFuncs);
    for (UINT i = 0; i < a.cFuncs; ++i) {
        SCOPED_TRACE(i);
        FUNCDESC *d = nullptr;
        ASSERT_EQ(dispatch->GetFuncDesc(i, &d), S_OK);
        FUNCDESC *v = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(i, &v), S_OK);
        EXPECT_EQ(d->memid, v->memid);
        EXPECT_EQ(d->invkind, v->invkind);
        EXPECT_EQ(d->funckind, FUNC_DISPATCH);
        // The seven IDispatch slots come first; every slot returns HRESULT.
        EXPECT_EQ(v->oVft, static_cast<SHORT>((7 + i) * sizeof(void *)));
        EXPECT_EQ(v->elemdescFunc.tdesc.vt, VT_HRESULT);
        // Getters hand their value back through an [out, retval] pointer,
        // which IDispatch sees as the result; setters take one [in] value.
        if (v->invkind == INVOKE_PROPERTYGET) {
            ASSERT_EQ(v->cParams, 1);
            EXPECT_EQ(v->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
            EXPECT_EQ(d->cParams, 0);
            EXPECT_NE(d->elemdescFunc.tdesc.vt, VT_VOID);
        }
        if (v->invkind == INVOKE_PROPERTYPUT) {
            ASSERT_EQ(v->cParams, 1);
            EXPECT_EQ(v->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
            EXPECT_EQ(d->cParams, 1);
            EXPECT_EQ(d->elemdescFunc.tdesc.vt, VT_VOID);
        }
        dispatch->ReleaseFuncDesc(d);
        vtable->ReleaseFuncDesc(v);
    }
    // Names are found in any case; Rate keeps its published DISPID.
    std::u16string rate = u"RATE";
    LPOLESTR names[] = {rate.data()};
    MEMBERID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(names, 1, &id), S_OK);
    EXPECT_EQ(id, 11);
}

INSTANTIATE_TEST_SUITE_P(FromModuleAndTlb, OrafonTypeLib, ::testing::Values(ORAFON_MODULE, ORAFON_TLB),
                         [](const auto &row) { return row.index == 0 ? "Module" : "TlbFile"; });

class OrafonRegistration : public OrafonModule {};

TEST_F(OrafonRegistration, RegisterAndUnregisterRoundTrip)
{
    const std::string module = RealPath(ORAFON_MODULE);
    const std::string dir = module.substr(0, module.find_last_of('/') + 1);
    const std::string classKey = "CLSID\\{A5584957-EF07-419C-BACD-9931F1256D92}";
    const std::string version = "TypeLib\\{F29A07DB-9775-46B7-A7DD-94C440145B52}\\1.0";
    const std::string interfaces[] = {"Interface\\{3FFB694E-7A37-4C40-827B-14EB25F1C07C}",
                                      "Interface\\{C1D378DB-D1AA-4D74-8DA4-4E73495C3BB8}"};

    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(registerServer(), S_OK);
    EXPECT_EQ(Key(classKey + "\\InprocServer32").value(), module);
    EXPECT_EQ(Key("Orafon.TextToSpeech\\CurVer").value(), "Orafon.TextToSpeech.1");
    EXPECT_EQ(Key(version).value(), "Orafon 1.0 Type Library");
    EXPECT_EQ(Key(version + "\\409\\win32").value(), module);
    EXPECT_EQ(Key(version + "\\HELPDIR").value(), dir);
    EXPECT_EQ(Key(version + "\\FLAGS").value(), "0");
    EXPECT_EQ(Key(interfaces[0]).value(), "ITextToSpeech");
    EXPECT_EQ(Key(interfaces[1]).value(), "_ITextToSpeechEvents");
    for (const std::string &key : interfaces) {
        EXPECT_EQ(Key(key + "\\ProxyStubClsid32").value(), "{00020424-0000-0000-C000-000000000046}");
        EXPECT_EQ(Key(key + "\\TypeLib").value(), "{F29A07DB-9775-46B7-A7DD-94C440145B52}");
    }
    // What IProvideClassInfo2 hosts ask for: the registered library, locale 0.
    CComPtr<ITypeLib> registered;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Orafon, 1, 0, 0, &registered), S_OK);
    CComPtr<ITypeInfo> coclass;
    EXPECT_EQ(registered->GetTypeInfoOfGuid(CLSID_TextToSpeech, &coclass), S_OK);

    ASSERT_EQ(unregisterServer(), S_OK);
    for (const std::string &gone :
         {std::string("Orafon.TextToSpeech.1"), std::string("Orafon.TextToSpeech"), classKey,
          std::string("TypeLib\\{F29A07DB-9775-46B7-A7DD-94C440145B52}"), interfaces[0], interfaces[1]})
        EXPECT_FALSE(Key(gone).exists()) << gone;
    EXPECT_TRUE(Key("CLSID").exists());
    // The class entries are gone already; the library is not registered.
    EXPECT_EQ(unregisterServer(), TYPE_E_REGISTRYACCESS);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// Whether a library of that file name is mapped into this process.
bool IsMapped(const std::string &fileName)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.size() > fileName.size() &&
            line.compare(line.size() - fileName.size(), fileName.size(), fileName) == 0 &&
            line[line.size() - fileName.size() - 1] == '/')
            return true;
    return false;
}

// Its own load: the suite above loads the module once for all its tests.
// (Unloading cannot be watched: the dynamic loader keeps a C++ module with
// unique symbols mapped after dlclose.)
TEST(OrafonModuleLoad, LoadsTheMp3EncoderWithTheModule)
{
    if (IsMapped("lame_enc.so"))
        GTEST_SKIP() << "an earlier test of this process loaded the encoder";
    void *module = dlopen(ORAFON_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_TRUE(IsMapped("lame_enc.so"));
    dlclose(module);
}

} // namespace

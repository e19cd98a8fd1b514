// A library built in code, serialised, parsed and read back through ITypeLib
// and ITypeInfo as a host reads it.
#include "TypeLibObjects.h"
#include "TypeLibTestSupport.h"

#include <array>

using namespace orafon::test;
using orafon::typelib::CreateTypeLibFromBytes;

namespace {

class TypeLibRead : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(CreateTypeLibFromBytes(SampleBytes(), &lib), S_OK); }

    CComPtr<ITypeInfo> Info(const GUID &guid)
    {
        CComPtr<ITypeInfo> info;
        EXPECT_EQ(lib->GetTypeInfoOfGuid(guid, &info), S_OK);
        return info;
    }
    CComPtr<ITypeInfo> Info(UINT index)
    {
        CComPtr<ITypeInfo> info;
        EXPECT_EQ(lib->GetTypeInfo(index, &info), S_OK);
        return info;
    }
    static CComPtr<ITypeInfo> Ref(ITypeInfo *from, HREFTYPE href)
    {
        CComPtr<ITypeInfo> info;
        EXPECT_EQ(from->GetRefTypeInfo(href, &info), S_OK);
        return info;
    }
    static CComPtr<ITypeInfo> VtableHalf(ITypeInfo *dual)
    {
        HREFTYPE href = 0;
        EXPECT_EQ(dual->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
        return Ref(dual, href);
    }
    static std::u16string Name(ITypeInfo *info, MEMBERID memid = MEMBERID_NIL)
    {
        BSTR name = nullptr;
        EXPECT_EQ(info->GetDocumentation(memid, &name, nullptr, nullptr, nullptr), S_OK);
        return Take(name);
    }
    static TYPEATTR Attr(ITypeInfo *info)
    {
        TYPEATTR *attr = nullptr;
        EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
        TYPEATTR copy = *attr;
        info->ReleaseTypeAttr(attr);
        return copy;
    }

    CComPtr<ITypeLib> lib;
};

TEST_F(TypeLibRead, LibraryAttributesAndDocumentation)
{
    TLIBATTR *attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_Sample);
    EXPECT_EQ(attr->lcid, 0x0409u);
    EXPECT_EQ(attr->syskind, SYS_WIN32);
    EXPECT_EQ(attr->wMajorVerNum, 2);
    EXPECT_EQ(attr->wMinorVerNum, 3);
    EXPECT_EQ(attr->wLibFlags, 0);
    lib->ReleaseTLibAttr(attr);

    BSTR name = nullptr, doc = nullptr, file = nullptr;
    DWORD context = 99;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, &context, &file), S_OK);
    EXPECT_EQ(Take(name), u"Sample");
    EXPECT_EQ(Take(doc), u"Sample 2.3 Type Library");
    EXPECT_EQ(Take(file), u"sample.hlp");
    EXPECT_EQ(context, 0u);
    EXPECT_EQ(lib->GetDocumentation(5, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib->GetDocumentation(-2, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
}

struct TypeRow {
    const char16_t *name;
    const char16_t *doc;
    TYPEKIND kind;
    const GUID *guid;
    WORD funcs, vars, impls, flags;
};

TEST_F(TypeLibRead, TypesInOrderWithTheirAttributes)
{
    const TypeRow rows[] = {
        {u"COLOR", u"Colours", TKIND_ENUM, &GUID_NULL, 0, 3, 0, 0},
        {u"ISample", u"ISample Interface", TKIND_DISPATCH, &IID_ISample, 5, 0, 1,
         TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE},
        {u"SampleEvents", u"SampleEvents Interface", TKIND_DISPATCH, &DIID_SampleEvents, 2, 0, 1,
         TYPEFLAG_FDISPATCHABLE},
        {u"Sample", nullptr, TKIND_COCLASS, &CLSID_Sample, 0, 0, 2, TYPEFLAG_FCANCREATE},
        {u"ICustom", nullptr, TKIND_INTERFACE, &IID_ICustom, 1, 0, 1, 0},
    };
    ASSERT_EQ(lib->GetTypeInfoCount(), std::size(rows));
    for (UINT i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(Narrow(rows[i].name));
        TYPEKIND kind{};
        ASSERT_EQ(lib->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(kind, rows[i].kind);
        CComPtr<ITypeInfo> info = Info(i);
        TYPEATTR a = Attr(info);
        EXPECT_EQ(a.typekind, rows[i].kind);
        EXPECT_EQ(a.guid, *rows[i].guid);
        EXPECT_EQ(a.cFuncs, rows[i].funcs);
        EXPECT_EQ(a.cVars, rows[i].vars);
        EXPECT_EQ(a.cImplTypes, rows[i].impls);
        EXPECT_EQ(a.wTypeFlags, rows[i].flags);
        EXPECT_EQ(a.lcid, 0x0409u);
        EXPECT_EQ(a.memidConstructor, MEMBERID_NIL);
        BSTR name = nullptr, doc = nullptr;
        ASSERT_EQ(lib->GetDocumentation(static_cast<INT>(i), &name, &doc, nullptr, nullptr), S_OK);
        EXPECT_EQ(Take(name), rows[i].name);
        EXPECT_EQ(Take(doc), rows[i].doc ? rows[i].doc : u"");
        EXPECT_EQ(Name(info), rows[i].name);
        // The index a type info reports is its place in the library.
        CComPtr<ITypeLib> container;
        UINT index = 99;
        ASSERT_EQ(info->GetContainingTypeLib(&container, &index), S_OK);
        EXPECT_EQ(index, i);
        EXPECT_EQ(container.get(), lib.get());
    }
    TYPEKIND kind{};
    EXPECT_EQ(lib->GetTypeInfoType(5, &kind), TYPE_E_ELEMENTNOTFOUND);
    CComPtr<ITypeInfo> none;
    EXPECT_EQ(lib->GetTypeInfo(5, &none), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(none.get(), nullptr);
}

TEST_F(TypeLibRead, TypeInfoOfGuidFindsEachTypeAndNothingElse)
{
    EXPECT_EQ(Name(Info(IID_ISample)), u"ISample");
    EXPECT_EQ(Name(Info(DIID_SampleEvents)), u"SampleEvents");
    EXPECT_EQ(Name(Info(CLSID_Sample)), u"Sample");
    CComPtr<ITypeInfo> none;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(LIBID_Sample, &none), TYPE_E_ELEMENTNOTFOUND);
    // The enumeration has no GUID; GUID_NULL names nothing.
    EXPECT_EQ(lib->GetTypeInfoOfGuid(GUID_NULL, &none), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(none.get(), nullptr);
}

TEST_F(TypeLibRead, EnumConstantsAreConstVariablesWithI4Values)
{
    CComPtr<ITypeInfo> info = Info(0u);
    const std::array<std::pair<const char16_t *, LONG>, 3> expected = {{{u"RED", 0}, {u"GREEN", 5}, {u"BLUE", -7}}};
    for (UINT i = 0; i < expected.size(); ++i) {
        VARDESC *var = nullptr;
        ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
        EXPECT_EQ(var->varkind, VAR_CONST);
        EXPECT_EQ(var->memid, 0x40000000 + static_cast<MEMBERID>(i));
        ASSERT_NE(var->lpvarValue, nullptr);
        EXPECT_EQ(var->lpvarValue->vt, VT_I4);
        EXPECT_EQ(var->lpvarValue->lVal, expected[i].second);
        EXPECT_EQ(var->elemdescVar.tdesc.vt, VT_I4);
        EXPECT_EQ(Name(info, var->memid), expected[i].first);
        info->ReleaseVarDesc(var);
    }
    VARDESC *var = nullptr;
    EXPECT_EQ(info->GetVarDesc(3, &var), TYPE_E_ELEMENTNOTFOUND);
    BSTR doc = nullptr;
    ASSERT_EQ(info->GetDocumentation(0x40000001, nullptr, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Take(doc), u"the green one");
    FUNCDESC *func = nullptr;
    EXPECT_EQ(info->GetFuncDesc(0, &func), TYPE_E_ELEMENTNOTFOUND);
}

struct FuncRow {
    MEMBERID memid;
    INVOKEKIND invkind;
    const char16_t *name;
    SHORT dispatchParams; // as IDispatch sees it
    VARTYPE dispatchResult;
    SHORT vtableParams;
};

const FuncRow kSampleFuncs[] = {
    {1, INVOKE_PROPERTYGET, u"Count", 0, VT_I4, 1},   {2, INVOKE_PROPERTYGET, u"Color", 0, VT_USERDEFINED, 1},
    {2, INVOKE_PROPERTYPUT, u"Color", 1, VT_VOID, 1}, {3, INVOKE_FUNC, u"Paint", 2, VT_VOID, 2},
    {4, INVOKE_FUNC, u"Lookup", 1, VT_BSTR, 2},
};

TEST_F(TypeLibRead, DualDispatchHalfShowsResultsInsteadOfHresults)
{
    CComPtr<ITypeInfo> info = Info(IID_ISample);
    for (UINT i = 0; i < std::size(kSampleFuncs); ++i) {
        const FuncRow &row = kSampleFuncs[i];
        SCOPED_TRACE(Narrow(row.name));
        FUNCDESC *f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->memid, row.memid);
        EXPECT_EQ(f->invkind, row.invkind);
        EXPECT_EQ(f->funckind, FUNC_DISPATCH);
        EXPECT_EQ(f->cParams, row.dispatchParams);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, row.dispatchResult);
        EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void *)));
        EXPECT_EQ(Name(info, row.memid), row.name);
        info->ReleaseFuncDesc(f);
    }
    // The user-defined result of the Color getter leads to the enumeration.
    FUNCDESC *f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(1, &f), S_OK);
    EXPECT_EQ(Name(Ref(info, f->elemdescFunc.tdesc.hreftype)), u"COLOR");
    info->ReleaseFuncDesc(f);
    // Paint's parameters as declared.
    ASSERT_EQ(info->GetFuncDesc(3, &f), S_OK);
    ASSERT_EQ(f->cParams, 2);
    EXPECT_EQ(f->lprgelemdescParam[0].tdesc.vt, VT_BSTR);
    EXPECT_EQ(f->lprgelemdescParam[0].paramdesc.wParamFlags, PARAMFLAG_FIN);
    EXPECT_EQ(f->lprgelemdescParam[1].tdesc.vt, VT_BOOL);
    info->ReleaseFuncDesc(f);
    EXPECT_EQ(info->GetFuncDesc(5, &f), TYPE_E_ELEMENTNOTFOUND);

    TYPEATTR a = Attr(info);
    EXPECT_EQ(a.cbSizeVft, 7 * sizeof(void *));
    HREFTYPE base = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &base), S_OK);
    EXPECT_EQ(Name(Ref(info, base)), u"IDispatch");
    EXPECT_EQ(info->GetRefTypeOfImplType(1, &base), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(TypeLibRead, DualFunctionTableHalfKeepsHresultsAndRetvals)
{
    CComPtr<ITypeInfo> dual = Info(IID_ISample);
    CComPtr<ITypeInfo> info = VtableHalf(dual);
    TYPEATTR a = Attr(info);
    EXPECT_EQ(a.typekind, TKIND_INTERFACE);
    EXPECT_EQ(a.guid, IID_ISample);
    EXPECT_EQ(a.cFuncs, 5);
    EXPECT_EQ(a.cbSizeVft, (7 + 5) * sizeof(void *));
    for (UINT i = 0; i < std::size(kSampleFuncs); ++i) {
        FUNCDESC *f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
        EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
        EXPECT_EQ(f->callconv, CC_STDCALL);
        EXPECT_EQ(f->cParams, kSampleFuncs[i].vtableParams);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + i) * sizeof(void *)));
        info->ReleaseFuncDesc(f);
    }
    // Lookup's [out, retval] BSTR* strName.
    FUNCDESC *f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(4, &f), S_OK);
    const ELEMDESC &retval = f->lprgelemdescParam[1];
    EXPECT_EQ(retval.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    ASSERT_EQ(retval.tdesc.vt, VT_PTR);
    EXPECT_EQ(retval.tdesc.lptdesc->vt, VT_BSTR);
    info->ReleaseFuncDesc(f);
    // Only the dispatch half leads to the function-table half.
    HREFTYPE href = 0;
    EXPECT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), TYPE_E_ELEMENTNOTFOUND);
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &href), S_OK);
    CComPtr<ITypeInfo> dispatch = Ref(info, href);
    EXPECT_EQ(Name(dispatch), u"IDispatch");
    EXPECT_EQ(Attr(dispatch).cFuncs, 4);
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(0, &href), S_OK);
    CComPtr<ITypeInfo> unknown = Ref(dispatch, href);
    EXPECT_EQ(Name(unknown), u"IUnknown");
    EXPECT_EQ(Attr(unknown).cImplTypes, 0);
    EXPECT_EQ(Attr(unknown).cbSizeVft, 3 * sizeof(void *));
}

TEST_F(TypeLibRead, DerivedInterfaceSlotsFollowItsBase)
{
    CComPtr<ITypeInfo> info = Info(4u);
    FUNCDESC *f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(0, &f), S_OK);
    EXPECT_EQ(f->oVft, static_cast<SHORT>((7 + 5) * sizeof(void *)));
    ASSERT_EQ(f->lprgelemdescParam[0].tdesc.vt, VT_PTR);
    EXPECT_EQ(f->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_USERDEFINED);
    EXPECT_EQ(Name(Ref(info, f->lprgelemdescParam[0].tdesc.lptdesc->hreftype)), u"IDispatch");
    info->ReleaseFuncDesc(f);
    HREFTYPE base = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &base), S_OK);
    CComPtr<ITypeInfo> sample = Ref(info, base);
    EXPECT_EQ(Attr(sample).typekind, TKIND_INTERFACE);
    EXPECT_EQ(Name(sample), u"ISample");
}

TEST_F(TypeLibRead, CoclassNamesDefaultInterfaceAndDefaultSource)
{
    CComPtr<ITypeInfo> info = Info(CLSID_Sample);
    const std::pair<const char16_t *, INT> expected[] = {
        {u"ISample", IMPLTYPEFLAG_FDEFAULT}, {u"SampleEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    for (UINT i = 0; i < 2; ++i) {
        HREFTYPE href = 0;
        INT flags = -1;
        ASSERT_EQ(info->GetRefTypeOfImplType(i, &href), S_OK);
        ASSERT_EQ(info->GetImplTypeFlags(i, &flags), S_OK);
        EXPECT_EQ(flags, expected[i].second);
        CComPtr<ITypeInfo> iface = Ref(info, href);
        EXPECT_EQ(Name(iface), expected[i].first);
        // A dual is reached as its dispatch half.
        EXPECT_EQ(Attr(iface).typekind, TKIND_DISPATCH);
    }
    HREFTYPE href = 0;
    INT flags = 0;
    EXPECT_EQ(info->GetRefTypeOfImplType(2, &href), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(info->GetImplTypeFlags(2, &flags), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(Attr(info).wMajorVerNum, 1);
    CComPtr<ITypeInfo> bad;
    EXPECT_EQ(info->GetRefTypeInfo(0x7FFFFFF0, &bad), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(info->GetRefTypeInfo(0x80000009, &bad), TYPE_E_ELEMENTNOTFOUND);
    // The view bit only exists for duals (type 0 is the enumeration).
    EXPECT_EQ(info->GetRefTypeInfo(1, &bad), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(bad.get(), nullptr);
}

TEST_F(TypeLibRead, NamesOfMembersAndParameters)
{
    CComPtr<ITypeInfo> dispatch = Info(IID_ISample);
    CComPtr<ITypeInfo> vtable = VtableHalf(dispatch);
    struct Row {
        ITypeInfo *info;
        MEMBERID memid;
        UINT max;
        std::vector<std::u16string> names;
    };
    const Row rows[] = {
        {dispatch, 3, 8, {u"Paint", u"strText", u"bLoud"}},
        {dispatch, 3, 1, {u"Paint"}},
        {dispatch, 4, 8, {u"Lookup", u"nIndex"}},
        {vtable, 4, 8, {u"Lookup", u"nIndex", u"strName"}},
        {dispatch, 1, 8, {u"Count"}},
    };
    for (const Row &row : rows) {
        BSTR names[8] = {};
        UINT count = 99;
        ASSERT_EQ(row.info->GetNames(row.memid, names, row.max, &count), S_OK);
        ASSERT_EQ(count, row.names.size());
        for (UINT i = 0; i < count; ++i)
            EXPECT_EQ(Take(names[i]), row.names[i]);
    }
    BSTR names[2] = {};
    UINT count = 0;
    EXPECT_EQ(dispatch->GetNames(77, names, 2, &count), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(dispatch->GetNames(3, nullptr, 2, &count), E_INVALIDARG);
    EXPECT_EQ(dispatch->GetNames(3, names, 2, nullptr), E_INVALIDARG);
}

TEST_F(TypeLibRead, IdsOfNamesIgnoreCaseAndNameParametersByPosition)
{
    CComPtr<ITypeInfo> info = Info(IID_ISample);
    struct Row {
        std::vector<std::u16string> names;
        HRESULT hr;
        std::vector<MEMBERID> ids;
    };
    const Row rows[] = {
        {{u"paint"}, S_OK, {3}},
        {{u"PAINT", u"bloud", u"STRTEXT"}, S_OK, {3, 1, 0}},
        {{u"Paint", u"nope", u"strText"}, DISP_E_UNKNOWNNAME, {3, MEMBERID_NIL, 0}},
        {{u"color"}, S_OK, {2}},
        {{u"Repaint"}, DISP_E_UNKNOWNNAME, {MEMBERID_NIL}},
        {{u"Lookup", u"strName"}, DISP_E_UNKNOWNNAME, {4, MEMBERID_NIL}}, // the retval is no argument
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(Narrow(row.names[0]));
        std::vector<std::u16string> copies = row.names;
        std::vector<LPOLESTR> ptrs;
        for (auto &n : copies)
            ptrs.push_back(n.data());
        std::vector<MEMBERID> ids(ptrs.size(), 12345);
        EXPECT_EQ(info->GetIDsOfNames(ptrs.data(), static_cast<UINT>(ptrs.size()), ids.data()), row.hr);
        EXPECT_EQ(ids, row.ids);
    }
    CComPtr<ITypeInfo> colors = Info(0u);
    std::u16string green = u"green";
    LPOLESTR name = green.data();
    MEMBERID id = 0;
    ASSERT_EQ(colors->GetIDsOfNames(&name, 1, &id), S_OK);
    EXPECT_EQ(id, 0x40000001);
    EXPECT_EQ(colors->GetIDsOfNames(nullptr, 1, &id), E_INVALIDARG);
    EXPECT_EQ(colors->GetIDsOfNames(&name, 0, &id), E_INVALIDARG);
}

TEST_F(TypeLibRead, DocumentationOfTypesAndMembers)
{
    CComPtr<ITypeInfo> info = Info(IID_ISample);
    BSTR name = nullptr, doc = nullptr, file = nullptr;
    DWORD context = 7;
    ASSERT_EQ(info->GetDocumentation(3, &name, &doc, &context, &file), S_OK);
    EXPECT_EQ(Take(name), u"Paint");
    EXPECT_EQ(Take(doc), u"Paint it");
    EXPECT_EQ(Take(file), u"sample.hlp");
    EXPECT_EQ(context, 0u);
    // Every out pointer is optional.
    EXPECT_EQ(info->GetDocumentation(MEMBERID_NIL, nullptr, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(info->GetDocumentation(99, &name, nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);
    // A member without a help string reads as a null string.
    CComPtr<ITypeInfo> custom = Info(4u);
    doc = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(custom->GetDocumentation(0x100, nullptr, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(doc, nullptr);
}

TEST_F(TypeLibRead, IsNameAndFindNameSearchTypesAndMembers)
{
    std::u16string buf = u"sampleevents";
    BOOL found = FALSE;
    ASSERT_EQ(lib->IsName(buf.data(), 0, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(buf, u"SampleEvents"); // spelled as the library spells it
    std::u16string missing = u"Nothing";
    ASSERT_EQ(lib->IsName(missing.data(), 0, &found), S_OK);
    EXPECT_FALSE(found);

    std::u16string color = u"COLOR";
    ITypeInfo *infos[4] = {};
    MEMBERID ids[4] = {};
    USHORT count = 4;
    ASSERT_EQ(lib->FindName(color.data(), 0, infos, ids, &count), S_OK);
    // The enumeration's own name, and ISample's two Color accessors.
    ASSERT_EQ(count, 3);
    EXPECT_EQ(Name(infos[0]), u"COLOR");
    EXPECT_EQ(ids[0], MEMBERID_NIL);
    EXPECT_EQ(Name(infos[1]), u"ISample");
    EXPECT_EQ(ids[1], 2);
    for (USHORT i = 0; i < count; ++i)
        infos[i]->Release();
    count = 1;
    ASSERT_EQ(lib->FindName(color.data(), 0, infos, ids, &count), S_OK);
    ASSERT_EQ(count, 1);
    infos[0]->Release();
}

// Records what reaches it through IDispatch::Invoke.
class RecordingDispatch final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID, void **ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *, EXCEPINFO *,
                        UINT *) override
    {
        lastId = id;
        lastFlags = flags;
        lastArgs = params ? params->cArgs : 99;
        return S_FALSE;
    }
    DISPID lastId = 0;
    WORD lastFlags = 0;
    UINT lastArgs = 0;
};

TEST_F(TypeLibRead, InvokeGoesThroughTheObjectsIDispatch)
{
    CComPtr<ITypeInfo> info = Info(IID_ISample);
    RecordingDispatch object;
    VARIANT args[2] = {};
    DISPPARAMS params{args, nullptr, 2, 0};
    EXPECT_EQ(info->Invoke(static_cast<IDispatch *>(&object), 3, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
              S_FALSE);
    EXPECT_EQ(object.lastId, 3);
    EXPECT_EQ(object.lastFlags, DISPATCH_METHOD);
    EXPECT_EQ(object.lastArgs, 2u);
    // A member the type does not have, or not with that kind of call.
    EXPECT_EQ(info->Invoke(&object, 77, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(info->Invoke(&object, 1, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(info->Invoke(nullptr, 3, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Info(0u)->Invoke(&object, 3, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), E_NOTIMPL);
}

TEST_F(TypeLibRead, NullOutPointersAreRefused)
{
    CComPtr<ITypeInfo> info = Info(IID_ISample);
    EXPECT_EQ(lib->GetLibAttr(nullptr), E_INVALIDARG);
    EXPECT_EQ(lib->GetTypeInfo(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(lib->GetTypeInfoType(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_ISample, nullptr), E_INVALIDARG);
    EXPECT_EQ(info->GetTypeAttr(nullptr), E_INVALIDARG);
    EXPECT_EQ(info->GetFuncDesc(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(info->GetVarDesc(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(info->GetRefTypeOfImplType(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(info->GetImplTypeFlags(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(info->GetRefTypeInfo(0, nullptr), E_INVALIDARG);
    ITypeComp *comp = reinterpret_cast<ITypeComp *>(1);
    EXPECT_EQ(info->GetTypeComp(&comp), E_NOTIMPL);
    EXPECT_EQ(comp, nullptr);
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(info->CreateInstance(nullptr, IID_IUnknown, &object), TYPE_E_WRONGTYPEKIND);
    EXPECT_EQ(object, nullptr);
}

TEST_F(TypeLibRead, ReleasingForeignOrRepeatedDescriptionsIsHarmless)
{
    CComPtr<ITypeInfo> info = Info(IID_ISample);
    FUNCDESC *f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(0, &f), S_OK);
    info->ReleaseFuncDesc(f);
    info->ReleaseFuncDesc(f);
    info->ReleaseFuncDesc(nullptr);
    TYPEATTR foreign{};
    info->ReleaseTypeAttr(&foreign);
    lib->ReleaseTLibAttr(nullptr);
    // Descriptions still held when the objects go are freed with them (the
    // leak checker of the sanitizer build watches this).
    TYPEATTR *kept = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&kept), S_OK);
    TLIBATTR *keptLib = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&keptLib), S_OK);
}

TEST_F(TypeLibRead, TypeInfosKeepTheirLibraryAlive)
{
    CComPtr<ITypeInfo> info = Info(IID_ISample);
    lib.Release();
    EXPECT_EQ(Name(info), u"ISample");
    CComPtr<ITypeLib> container;
    ASSERT_EQ(info->GetContainingTypeLib(&container, nullptr), S_OK);
    EXPECT_EQ(container->GetTypeInfoCount(), 5u);
}

} // namespace

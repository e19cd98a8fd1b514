// CTextToSpeech as the module serves it: made through the module's class
// factory, with the module's own type library behind GetTypeInfo and
// IProvideClassInfo. The member table, the type library generated from it and
// the live object's IDispatch are checked against each other here.
#include <component/OleHelpers.h>
#include <component/TextToSpeechMembers.h>
#include <orafon/Orafon.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

using orafon::CBstr;

namespace {

class InModule : public testing::Test {
protected:
    void SetUp() override
    {
        m_module = LoadLibraryA(ORAFON_MODULE_PATH);
        ASSERT_NE(m_module, nullptr) << ORAFON_MODULE_PATH;
        m_getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(m_module, "DllGetClassObject"));
        m_canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(m_module, "DllCanUnloadNow"));
        ASSERT_NE(m_getClassObject, nullptr);
        ASSERT_NE(m_canUnloadNow, nullptr);
        CComPtr<IClassFactory> factory;
        ASSERT_EQ(m_getClassObject(CLSID_TextToSpeech, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITextToSpeech, reinterpret_cast<void **>(&m_tts)), S_OK);
    }
    void TearDown() override
    {
        m_tts.Release();
        if (m_canUnloadNow) {
            EXPECT_EQ(m_canUnloadNow(), S_OK);
        }
        if (m_module)
            FreeLibrary(m_module);
    }

    HMODULE m_module = nullptr;
    LPFNGETCLASSOBJECT m_getClassObject = nullptr;
    LPFNCANUNLOADNOW m_canUnloadNow = nullptr;
    CComPtr<ITextToSpeech> m_tts;
};

std::u16string NameOf(ITypeInfo *info)
{
    CBstr name;
    EXPECT_EQ(info->GetDocumentation(MEMBERID_NIL, name.Out(), nullptr, nullptr, nullptr), S_OK);
    return name.Get() ? std::u16string(name.Get(), SysStringLen(name.Get())) : std::u16string();
}

GUID GuidOf(ITypeInfo *info)
{
    TYPEATTR *attr = nullptr;
    EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
    if (!attr)
        return GUID_NULL;
    const GUID guid = attr->guid;
    info->ReleaseTypeAttr(attr);
    return guid;
}

TEST_F(InModule, TypeInfoDescribesTheAutomationInterface)
{
    UINT count = 0;
    EXPECT_EQ(m_tts->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    CComPtr<ITypeInfo> info;
    ASSERT_EQ(m_tts->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
    ASSERT_TRUE(info);
    EXPECT_EQ(GuidOf(info), IID_ITextToSpeech);
    EXPECT_EQ(NameOf(info), u"ITextToSpeech");
}

TEST_F(InModule, ClassInfoDescribesTheCoclass)
{
    CComPtr<IProvideClassInfo2> provide;
    ASSERT_EQ(m_tts->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void **>(&provide)), S_OK);
    CComPtr<ITypeInfo> info;
    ASSERT_EQ(provide->GetClassInfo(&info), S_OK);
    ASSERT_TRUE(info);
    EXPECT_EQ(GuidOf(info), CLSID_TextToSpeech);
    EXPECT_EQ(NameOf(info), u"CTextToSpeech");
}

// ---- One function of the type library, as IDispatch or the vtable sees it ------------

// A type as it travels through IDispatch: an enumeration travels as VT_I4
// and is told apart by its name.
struct LibType {
    VARTYPE vt = VT_EMPTY;
    std::u16string enumName;
    bool operator==(const LibType &) const = default;
};

struct LibParam {
    std::u16string name;
    LibType type;
    USHORT flags = 0;
    bool pointer = false;
};

struct LibFunction {
    MEMBERID memid = 0;
    INVOKEKIND kind = INVOKE_FUNC;
    std::u16string name;
    std::u16string help;
    LibType result;
    std::vector<LibParam> params;
    SHORT oVft = 0;
};

std::u16string Text(const CBstr &b)
{
    return b.Get() ? std::u16string(b.Get(), SysStringLen(b.Get())) : std::u16string();
}

LibType TypeOf(ITypeInfo *info, const TYPEDESC &desc, bool *pointer = nullptr)
{
    const TYPEDESC *t = &desc;
    if (t->vt == VT_PTR) {
        if (pointer)
            *pointer = true;
        t = t->lptdesc;
    }
    if (t->vt != VT_USERDEFINED)
        return {t->vt, {}};
    CComPtr<ITypeInfo> ref;
    EXPECT_EQ(info->GetRefTypeInfo(t->hreftype, &ref), S_OK);
    if (!ref)
        return {};
    TYPEATTR *attr = nullptr;
    EXPECT_EQ(ref->GetTypeAttr(&attr), S_OK);
    if (!attr)
        return {};
    const TYPEKIND kind = attr->typekind;
    ref->ReleaseTypeAttr(attr);
    EXPECT_EQ(kind, TKIND_ENUM) << "the interface refers to no other kind of type";
    return {VT_I4, NameOf(ref)};
}

std::vector<LibFunction> ReadFunctions(ITypeInfo *info)
{
    TYPEATTR *attr = nullptr;
    EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
    if (!attr)
        return {};
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    std::vector<LibFunction> functions;
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC *f = nullptr;
        EXPECT_EQ(info->GetFuncDesc(i, &f), S_OK);
        if (!f)
            break;
        LibFunction fn;
        fn.memid = f->memid;
        fn.kind = f->invkind;
        fn.oVft = f->oVft;
        fn.result = TypeOf(info, f->elemdescFunc.tdesc);
        BSTR names[8] = {};
        UINT named = 0;
        EXPECT_EQ(info->GetNames(f->memid, names, 8, &named), S_OK);
        for (SHORT p = 0; p < f->cParams; ++p) {
            LibParam param;
            param.type = TypeOf(info, f->lprgelemdescParam[p].tdesc, &param.pointer);
            param.flags = f->lprgelemdescParam[p].paramdesc.wParamFlags;
            if (static_cast<UINT>(p) + 1 < named)
                param.name.assign(names[p + 1], SysStringLen(names[p + 1]));
            fn.params.push_back(param);
        }
        for (UINT n = 0; n < named; ++n)
            SysFreeString(names[n]);
        info->ReleaseFuncDesc(f);
        CBstr name, help;
        EXPECT_EQ(info->GetDocumentation(fn.memid, name.Out(), help.Out(), nullptr, nullptr), S_OK);
        fn.name = Text(name);
        fn.help = Text(help);
        functions.push_back(fn);
    }
    return functions;
}

CComPtr<ITypeInfo> VtableInfo(ITypeInfo *dispatch)
{
    HREFTYPE href = 0;
    EXPECT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &href), S_OK);
    CComPtr<ITypeInfo> vtable;
    EXPECT_EQ(dispatch->GetRefTypeInfo(href, &vtable), S_OK);
    return vtable;
}

std::string Narrow(const std::u16string &s)
{
    return std::string(s.begin(), s.end());
}

LibType FromTable(const orafon::members::ValueType &type)
{
    return {type.vt, type.enumName ? type.enumName : u""};
}

// ---- The member table against the library generated from it ----------------------

// What the vtable view of the library should hold for one row.
struct ExpectedFunction {
    INVOKEKIND kind;
    std::vector<LibParam> params;
};

std::vector<ExpectedFunction> FunctionsOf(const orafon::members::Member &row)
{
    using orafon::members::MemberKind;
    const LibType value = FromTable(row.get.result);
    const LibParam retval{u"pVal", value, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, true};
    switch (row.kind) {
    case MemberKind::PropertyGet:
        return {{INVOKE_PROPERTYGET, {retval}}};
    case MemberKind::Property:
        return {{INVOKE_PROPERTYGET, {retval}}, {INVOKE_PROPERTYPUT, {{u"newVal", value, PARAMFLAG_FIN, false}}}};
    case MemberKind::Method:
        break;
    }
    ExpectedFunction method{INVOKE_FUNC, {}};
    for (UINT p = 0; p < row.get.paramCount; ++p)
        method.params.push_back({row.paramNames[p], FromTable(row.get.paramTypes[p]), PARAMFLAG_FIN, false});
    if (row.get.result.vt != VT_EMPTY)
        method.params.push_back({row.paramNames[row.get.paramCount], value, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, true});
    return {method};
}

TEST_F(InModule, LibraryDescribesEachRowOfTheMemberTable)
{
    CComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(m_tts->GetTypeInfo(0, 0, &dispatch), S_OK);
    CComPtr<ITypeInfo> vtable = VtableInfo(dispatch);
    ASSERT_TRUE(vtable);
    const std::vector<LibFunction> functions = ReadFunctions(vtable);
    size_t next = 0;
    for (const orafon::members::Member &row : orafon::members::kTextToSpeechMembers) {
        SCOPED_TRACE(Narrow(row.name));
        for (const ExpectedFunction &expected : FunctionsOf(row)) {
            ASSERT_LT(next, functions.size());
            const LibFunction &fn = functions[next++];
            EXPECT_EQ(fn.memid, row.id);
            EXPECT_EQ(fn.kind, expected.kind);
            EXPECT_EQ(fn.name, row.name);
            EXPECT_EQ(fn.help, row.help);
            EXPECT_EQ(fn.result, (LibType{VT_HRESULT, {}}));
            ASSERT_EQ(fn.params.size(), expected.params.size());
            for (size_t p = 0; p < expected.params.size(); ++p) {
                EXPECT_EQ(fn.params[p].type, expected.params[p].type) << p;
                EXPECT_EQ(fn.params[p].flags, expected.params[p].flags) << p;
                EXPECT_EQ(fn.params[p].pointer, expected.params[p].pointer) << p;
                // Accessor parameters are named by the library; a method's by its row.
                if (expected.kind == INVOKE_FUNC) {
                    EXPECT_EQ(fn.params[p].name, expected.params[p].name) << p;
                }
            }
        }
    }
    EXPECT_EQ(next, functions.size()) << "the library has functions the table lacks";
}

// The slot at byte offset oVft of ITextToSpeech's function table as a pointer
// to a virtual member function: in the Itanium C++ ABI, the offset plus one.
template <typename Getter> Getter SlotAsMember(SHORT oVft)
{
    struct {
        std::ptrdiff_t ptr;
        std::ptrdiff_t adj;
    } raw{oVft + 1, 0};
    static_assert(sizeof(raw) == sizeof(Getter));
    Getter getter;
    std::memcpy(&getter, &raw, sizeof getter);
    return getter;
}

void PutByName(ITextToSpeech *tts, std::u16string name, LONG value)
{
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    ASSERT_EQ(tts->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    VARIANT arg;
    V_VT(&arg) = VT_I4;
    V_I4(&arg) = value;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    ASSERT_EQ(tts->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr), S_OK);
}

// A client calling through the function table where the library puts each
// getter reaches the getter IDispatch reaches for the same member.
TEST_F(InModule, LibrarySlotsReachTheGettersOfTheirMembers)
{
    // Values that differ from one property to the next.
    PutByName(m_tts, u"SWFFrameRate", 37);
    PutByName(m_tts, u"FileFormat", FF_OGG);
    PutByName(m_tts, u"WaveFormatIdx", 2);
    CComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(m_tts->GetTypeInfo(0, 0, &dispatch), S_OK);
    CComPtr<ITypeInfo> vtable = VtableInfo(dispatch);
    ASSERT_TRUE(vtable);
    UINT compared = 0;
    for (const LibFunction &fn : ReadFunctions(vtable)) {
        if (fn.kind != INVOKE_PROPERTYGET)
            continue;
        SCOPED_TRACE(Narrow(fn.name));
        ASSERT_EQ(fn.params.size(), 1u);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        orafon::CVariant expected;
        const HRESULT expectedHr =
            m_tts->Invoke(fn.memid, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, expected.Get(), nullptr, nullptr);
        if (fn.params[0].type.vt == VT_BSTR) {
            CBstr value;
            const auto getter = SlotAsMember<HRESULT (ITextToSpeech::*)(BSTR *)>(fn.oVft);
            EXPECT_EQ((m_tts.get()->*getter)(value.Out()), expectedHr);
            if (SUCCEEDED(expectedHr)) {
                EXPECT_EQ(Text(value), std::u16string(V_BSTR(expected.Get()), SysStringLen(V_BSTR(expected.Get()))));
            }
        } else {
            ASSERT_EQ(fn.params[0].type.vt, VT_I4);
            LONG value = -12345;
            const auto getter = SlotAsMember<HRESULT (ITextToSpeech::*)(LONG *)>(fn.oVft);
            EXPECT_EQ((m_tts.get()->*getter)(&value), expectedHr);
            if (SUCCEEDED(expectedHr)) {
                EXPECT_EQ(value, V_I4(expected.Get()));
            }
        }
        ++compared;
    }
    EXPECT_GT(compared, 0u);
}

// ---- The live object against the library -------------------------------------------

HRESULT ObjectId(ITextToSpeech *tts, std::u16string name, DISPID &id)
{
    LPOLESTR names[] = {name.data()};
    id = -99;
    return tts->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
}

std::u16string Upper(std::u16string s)
{
    for (char16_t &c : s) {
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return s;
}

TEST_F(InModule, ObjectAnswersEveryLibraryNameWithItsMemid)
{
    CComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(m_tts->GetTypeInfo(0, 0, &dispatch), S_OK);
    const std::vector<LibFunction> functions = ReadFunctions(dispatch);
    ASSERT_FALSE(functions.empty());
    std::set<MEMBERID> gets, puts;
    for (const LibFunction &fn : functions) {
        if (fn.kind == INVOKE_PROPERTYGET)
            gets.insert(fn.memid);
        if (fn.kind == INVOKE_PROPERTYPUT)
            puts.insert(fn.memid);
    }
    for (const LibFunction &fn : functions) {
        SCOPED_TRACE(Narrow(fn.name));
        std::u16string name = fn.name;
        LPOLESTR names[] = {name.data()};
        MEMBERID fromLibrary = -98;
        EXPECT_EQ(dispatch->GetIDsOfNames(names, 1, &fromLibrary), S_OK);
        EXPECT_EQ(fromLibrary, fn.memid);
        DISPID id = 0;
        EXPECT_EQ(ObjectId(m_tts, fn.name, id), S_OK);
        EXPECT_EQ(id, fn.memid);
        EXPECT_EQ(ObjectId(m_tts, Upper(fn.name), id), S_OK);
        EXPECT_EQ(id, fn.memid);
        // Accessor names exist exactly for the accessors the library has.
        const bool hasGet = gets.count(fn.memid) > 0, hasPut = puts.count(fn.memid) > 0;
        EXPECT_EQ(ObjectId(m_tts, u"get_" + fn.name, id), hasGet ? S_OK : DISP_E_UNKNOWNNAME);
        if (hasGet) {
            EXPECT_EQ(id, fn.memid);
        }
        EXPECT_EQ(ObjectId(m_tts, u"put_" + fn.name, id), hasPut ? S_OK : DISP_E_UNKNOWNNAME);
        if (hasPut) {
            EXPECT_EQ(id, fn.memid);
        }
    }
}

// A valid argument of a library type; strings are not numbers, so an object
// expecting a number there would refuse it.
void SetValid(VARIANT &v, const LibType &type)
{
    VariantInit(&v);
    V_VT(&v) = type.vt;
    if (type.vt == VT_BSTR)
        V_BSTR(&v) = SysAllocString(u"text");
    else if (type.vt == VT_BOOL)
        V_BOOL(&v) = VARIANT_FALSE;
    else
        V_I4(&v) = 0;
}

WORD FlagsOf(INVOKEKIND kind)
{
    switch (kind) {
    case INVOKE_PROPERTYGET:
        return DISPATCH_PROPERTYGET;
    case INVOKE_PROPERTYPUT:
    case INVOKE_PROPERTYPUTREF:
        return DISPATCH_PROPERTYPUT;
    case INVOKE_FUNC:
        break;
    }
    return DISPATCH_METHOD;
}

// Calls the member with count arguments: the first `valid` of them of the
// library's types, the rest a by-reference long, which no parameter takes. With
// fewer valid arguments than parameters nothing runs: the call stops at the
// first refused argument.
HRESULT Probe(ITextToSpeech *tts, const LibFunction &fn, UINT count, UINT valid, UINT *argErr)
{
    static LONG referenced = 5;
    std::vector<VARIANT> args(count);
    for (UINT p = 0; p < count; ++p) {
        VARIANT &v = args[count - 1 - p]; // rgvarg holds the last parameter first
        if (p < valid && p < fn.params.size()) {
            SetValid(v, fn.params[p].type);
        } else {
            VariantInit(&v);
            V_VT(&v) = VT_I4 | VT_BYREF;
            V_I4REF(&v) = &referenced;
        }
    }
    DISPID named = DISPID_PROPERTYPUT;
    const bool put = fn.kind == INVOKE_PROPERTYPUT && count > 0;
    DISPPARAMS params{count ? args.data() : nullptr, put ? &named : nullptr, count, put ? 1u : 0u};
    *argErr = 0xDEAD;
    const HRESULT hr = tts->Invoke(fn.memid, IID_NULL, 0, FlagsOf(fn.kind), &params, nullptr, nullptr, argErr);
    for (VARIANT &v : args) {
        if (!(V_VT(&v) & VT_BYREF))
            VariantClear(&v);
    }
    return hr;
}

TEST_F(InModule, ObjectTakesTheArgumentsTheLibraryDescribes)
{
    CComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(m_tts->GetTypeInfo(0, 0, &dispatch), S_OK);
    for (const LibFunction &fn : ReadFunctions(dispatch)) {
        SCOPED_TRACE(Narrow(fn.name) + " kind " + std::to_string(fn.kind));
        const UINT count = static_cast<UINT>(fn.params.size());
        UINT argErr = 0;
        // One argument more or fewer is the wrong count.
        if (count < orafon::members::kMaxParams) {
            EXPECT_EQ(Probe(m_tts, fn, count + 1, 0, &argErr), DISP_E_BADPARAMCOUNT);
        }
        if (count > 0) {
            EXPECT_EQ(Probe(m_tts, fn, count - 1, 0, &argErr), DISP_E_BADPARAMCOUNT);
        }
        // With the right count, each parameter in turn is the first refused.
        for (UINT p = 0; p < count; ++p) {
            EXPECT_EQ(Probe(m_tts, fn, count, p, &argErr), DISP_E_TYPEMISMATCH) << "parameter " << p;
            EXPECT_EQ(argErr, count - 1 - p) << "parameter " << p;
        }
    }
}

TEST_F(InModule, GettersHandBackTheTypeTheLibraryGives)
{
    CComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(m_tts->GetTypeInfo(0, 0, &dispatch), S_OK);
    UINT answered = 0;
    for (const LibFunction &fn : ReadFunctions(dispatch)) {
        if (fn.kind != INVOKE_PROPERTYGET)
            continue;
        SCOPED_TRACE(Narrow(fn.name));
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        orafon::CVariant result;
        const HRESULT hr =
            m_tts->Invoke(fn.memid, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.Get(), nullptr, nullptr);
        if (FAILED(hr)) {
            // Voice properties fail without a voice, and leave nothing behind.
            EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);
            continue;
        }
        ++answered;
        EXPECT_EQ(V_VT(result.Get()), fn.result.vt);
    }
    // Whatever voices the machine has, the object's own properties answer.
    EXPECT_GE(answered, 6u);
}

TEST_F(InModule, ObjectHasNoMemberTheLibraryLacks)
{
    CComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(m_tts->GetTypeInfo(0, 0, &dispatch), S_OK);
    std::set<MEMBERID> memids;
    for (const LibFunction &fn : ReadFunctions(dispatch))
        memids.insert(fn.memid);
    static LONG referenced = 0;
    for (DISPID id = -16; id <= 64; ++id) {
        // Three arguments no parameter takes: a member is found and refuses
        // them, without running.
        VARIANT args[3];
        for (VARIANT &v : args) {
            VariantInit(&v);
            V_VT(&v) = VT_I4 | VT_BYREF;
            V_I4REF(&v) = &referenced;
        }
        DISPPARAMS params{args, nullptr, 3, 0};
        const HRESULT hr =
            m_tts->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, nullptr, nullptr, nullptr);
        EXPECT_EQ(hr != DISP_E_MEMBERNOTFOUND, memids.count(id) > 0) << "DISPID " << id << " " << hr;
    }
}

TEST_F(InModule, ObjectsHoldTheModule)
{
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    CComPtr<IUnknown> second;
    CComPtr<IClassFactory> factory;
    ASSERT_EQ(m_getClassObject(CLSID_TextToSpeech, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void **>(&second)), S_OK);
    factory.Release();
    m_tts.Release();
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    second.Release();
    EXPECT_EQ(m_canUnloadNow(), S_OK);
}

} // namespace

#include "TypeLibObjects.h"

#include "TypeLibText.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/ComObject.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace orafon::typelib {
namespace {

constexpr WORD kPointerSize = sizeof(void *);

// Stores a new BSTR in *out when out is given; an empty text gives a null
// BSTR, as absent names and help strings read on Windows.
[[nodiscard]] HRESULT StoreBstr(BSTR *out, std::u16string_view text)
{
    if (!out)
        return S_OK;
    *out = nullptr;
    if (text.empty())
        return S_OK;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// The descriptions handed out (TYPEATTR, FUNCDESC, VARDESC, TLIBATTR) live in
// blocks the handing object keeps until they are released, so a release of a
// pointer it never gave out, or a second release, is harmless, and whatever a
// caller forgets is freed with the object.
struct Block {
    virtual ~Block() = default;
};

class BlockKeeper {
public:
    template <typename B> B *Keep(std::unique_ptr<B> block, const void *key)
    {
        B *raw = block.get();
        std::lock_guard lock(mutex_);
        blocks_[key] = std::move(block);
        return raw;
    }
    void Drop(const void *key)
    {
        std::unique_ptr<Block> gone;
        std::lock_guard lock(mutex_);
        auto it = blocks_.find(key);
        if (it != blocks_.end()) {
            gone = std::move(it->second);
            blocks_.erase(it);
        }
    }

private:
    std::mutex mutex_;
    std::unordered_map<const void *, std::unique_ptr<Block>> blocks_;
};

// TYPEDESCs with their pointer chains.
struct TypeDescs {
    std::deque<TYPEDESC> chain;
    TYPEDESC Make(const TypeSpec &spec, int dropPointers = 0)
    {
        TYPEDESC base{};
        base.vt = spec.vt;
        if (spec.vt == VT_USERDEFINED)
            base.hreftype = spec.href;
        int levels = spec.pointers - dropPointers;
        for (int i = 0; i < levels; ++i) {
            chain.push_back(base);
            base = TYPEDESC{};
            base.vt = VT_PTR;
            base.lptdesc = &chain.back();
        }
        return base;
    }
};

struct TypeAttrBlock : Block {
    TYPEATTR attr{};
};
struct FuncDescBlock : Block {
    FUNCDESC desc{};
    std::vector<ELEMDESC> params;
    TypeDescs types;
};
struct VarDescBlock : Block {
    VARDESC desc{};
    VARIANT value{};
    TypeDescs types;
};
struct LibAttrBlock : Block {
    TLIBATTR attr{};
};

// Function-table slots of a type and everything it derives from.
size_t SlotsBefore(const Library &lib, const TypeDef &t);
size_t SlotsOf(const Library &lib, const TypeDef &t)
{
    return SlotsBefore(lib, t) + t.funcs.size();
}
size_t SlotsBefore(const Library &lib, const TypeDef &t)
{
    if (t.implTypes.empty() || t.kind == TKIND_COCLASS || t.kind == TKIND_ENUM)
        return 0;
    HREFTYPE base = t.implTypes[0].href;
    if (IsStdRef(base)) {
        const Library &stdole = StdOleLibrary();
        return SlotsOf(stdole, stdole.types[RefIndex(base)]);
    }
    return SlotsOf(lib, lib.types[RefIndex(base)]);
}

class TypeLibObject;

class TypeInfoObject final : public orafon::ComObject<TypeInfoObject, ITypeInfo> {
public:
    TypeInfoObject(TypeLibObject *owner, uint32_t index, bool vtableView);

    // ITypeInfo
    STDMETHODIMP GetTypeAttr(TYPEATTR **ppTypeAttr) override;
    STDMETHODIMP GetTypeComp(ITypeComp **ppTComp) override;
    STDMETHODIMP GetFuncDesc(UINT index, FUNCDESC **ppFuncDesc) override;
    STDMETHODIMP GetVarDesc(UINT index, VARDESC **ppVarDesc) override;
    STDMETHODIMP GetNames(MEMBERID memid, BSTR *rgBstrNames, UINT cMaxNames, UINT *pcNames) override;
    STDMETHODIMP GetRefTypeOfImplType(UINT index, HREFTYPE *pRefType) override;
    STDMETHODIMP GetImplTypeFlags(UINT index, INT *pImplTypeFlags) override;
    STDMETHODIMP GetIDsOfNames(LPOLESTR *rgszNames, UINT cNames, MEMBERID *pMemId) override;
    STDMETHODIMP Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS *pDispParams, VARIANT *pVarResult,
                        EXCEPINFO *pExcepInfo, UINT *puArgErr) override;
    STDMETHODIMP GetDocumentation(MEMBERID memid, BSTR *pBstrName, BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                  BSTR *pBstrHelpFile) override;
    STDMETHODIMP GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR *pBstrDllName, BSTR *pBstrName,
                             WORD *pwOrdinal) override;
    STDMETHODIMP GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo **ppTInfo) override;
    STDMETHODIMP AddressOfMember(MEMBERID memid, INVOKEKIND invKind, PVOID *ppv) override;
    STDMETHODIMP CreateInstance(IUnknown *pUnkOuter, REFIID riid, PVOID *ppvObj) override;
    STDMETHODIMP GetMops(MEMBERID memid, BSTR *pBstrMops) override;
    STDMETHODIMP GetContainingTypeLib(ITypeLib **ppTLib, UINT *pIndex) override;
    STDMETHODIMP_(void) ReleaseTypeAttr(TYPEATTR *pTypeAttr) override { blocks_.Drop(pTypeAttr); }
    STDMETHODIMP_(void) ReleaseFuncDesc(FUNCDESC *pFuncDesc) override { blocks_.Drop(pFuncDesc); }
    STDMETHODIMP_(void) ReleaseVarDesc(VARDESC *pVarDesc) override { blocks_.Drop(pVarDesc); }

private:
    const Library &lib() const;
    const TypeDef &def() const { return lib().types[index_]; }
    // The dispatch half of a dual interface presents its functions as
    // IDispatch::Invoke sees them: the [out, retval] parameter becomes the
    // result and the HRESULT disappears.
    bool DispatchOfDual() const { return def().IsDual() && !vtableView_; }
    TYPEKIND Kind() const { return vtableView_ ? TKIND_INTERFACE : def().kind; }
    size_t PresentedParamCount(const Func &f) const;
    const Func *FindFunc(MEMBERID memid) const;
    const Var *FindVar(MEMBERID memid) const;

    CComPtr<ITypeLib> libRef_;
    TypeLibObject *owner_;
    uint32_t index_;
    bool vtableView_;
    BlockKeeper blocks_;
};

class TypeLibObject final : public orafon::ComObject<TypeLibObject, ITypeLib> {
public:
    explicit TypeLibObject(std::shared_ptr<const Library> lib) : lib_(std::move(lib)) {}

    const Library &lib() const { return *lib_; }
    [[nodiscard]] HRESULT MakeTypeInfo(uint32_t index, bool vtableView, ITypeInfo **pp)
    {
        *pp = new (std::nothrow) TypeInfoObject(this, index, vtableView);
        return *pp ? S_OK : E_OUTOFMEMORY;
    }

    // ITypeLib
    STDMETHODIMP_(UINT) GetTypeInfoCount() override { return static_cast<UINT>(lib_->types.size()); }
    STDMETHODIMP GetTypeInfo(UINT index, ITypeInfo **ppTInfo) override
    {
        if (!ppTInfo)
            return E_INVALIDARG;
        *ppTInfo = nullptr;
        if (index >= lib_->types.size())
            return TYPE_E_ELEMENTNOTFOUND;
        return MakeTypeInfo(index, false, ppTInfo);
    }
    STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND *pTKind) override
    {
        if (!pTKind)
            return E_INVALIDARG;
        if (index >= lib_->types.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *pTKind = lib_->types[index].kind;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo **ppTinfo) override
    {
        if (!ppTinfo)
            return E_INVALIDARG;
        *ppTinfo = nullptr;
        for (size_t i = 0; i < lib_->types.size(); ++i)
            if (lib_->types[i].guid == guid && guid != GUID_NULL)
                return MakeTypeInfo(static_cast<uint32_t>(i), false, ppTinfo);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHODIMP GetLibAttr(TLIBATTR **ppTLibAttr) override
    {
        return orafon::CatchAtEdge([&]() -> HRESULT {
            if (!ppTLibAttr)
                return E_INVALIDARG;
            auto block = std::unique_ptr<LibAttrBlock>(new (std::nothrow) LibAttrBlock);
            if (!block)
                return E_OUTOFMEMORY;
            TLIBATTR &a = block->attr;
            a.guid = lib_->guid;
            a.lcid = lib_->lcid;
            a.syskind = lib_->syskind;
            a.wMajorVerNum = lib_->majorVersion;
            a.wMinorVerNum = lib_->minorVersion;
            a.wLibFlags = lib_->flags;
            *ppTLibAttr = &blocks_.Keep(std::move(block), &a)->attr;
            return S_OK;
        });
    }
    STDMETHODIMP GetTypeComp(ITypeComp **ppTComp) override
    {
        if (ppTComp)
            *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetDocumentation(INT index, BSTR *pBstrName, BSTR *pBstrDocString, DWORD *pdwHelpContext,
                                  BSTR *pBstrHelpFile) override
    {
        if (index < -1 || (index >= 0 && static_cast<size_t>(index) >= lib_->types.size()))
            return TYPE_E_ELEMENTNOTFOUND;
        const std::u16string &name = index < 0 ? lib_->name : lib_->types[index].name;
        const std::u16string &doc = index < 0 ? lib_->doc : lib_->types[index].doc;
        DWORD context = index < 0 ? lib_->helpContext : lib_->types[index].helpContext;
        return StoreDocumentation(name, doc, context, lib_->helpFile, pBstrName, pBstrDocString, pdwHelpContext,
                                  pBstrHelpFile);
    }
    STDMETHODIMP IsName(LPOLESTR szNameBuf, ULONG, BOOL *pfName) override
    {
        if (!szNameBuf || !pfName)
            return E_INVALIDARG;
        *pfName = FALSE;
        std::u16string_view wanted(szNameBuf);
        const std::u16string *hit = nullptr;
        ForEachName([&](const std::u16string &name, uint32_t, MEMBERID) {
            if (!hit && NameEquals(name, wanted))
                hit = &name;
        });
        if (hit) {
            // The caller's buffer receives the name as the library spells it.
            std::copy(hit->begin(), hit->end(), szNameBuf);
            *pfName = TRUE;
        }
        return S_OK;
    }
    STDMETHODIMP FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo **ppTInfo, MEMBERID *rgMemId, USHORT *pcFound) override
    {
        if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound)
            return E_INVALIDARG;
        std::u16string_view wanted(szNameBuf);
        USHORT found = 0;
        HRESULT hr = S_OK;
        ForEachName([&](const std::u16string &name, uint32_t type, MEMBERID memid) {
            if (found >= *pcFound || FAILED(hr) || !NameEquals(name, wanted))
                return;
            hr = MakeTypeInfo(type, false, &ppTInfo[found]);
            if (SUCCEEDED(hr))
                rgMemId[found++] = memid;
        });
        if (FAILED(hr)) {
            // A failed call hands out no type info: those made are let go.
            for (USHORT i = 0; i < found; ++i) {
                ppTInfo[i]->Release();
                ppTInfo[i] = nullptr;
            }
            found = 0;
        }
        *pcFound = found;
        return hr;
    }
    STDMETHODIMP_(void) ReleaseTLibAttr(TLIBATTR *pTLibAttr) override { blocks_.Drop(pTLibAttr); }

    static HRESULT StoreDocumentation(const std::u16string &name, const std::u16string &doc, DWORD context,
                                      const std::u16string &helpFile, BSTR *pName, BSTR *pDoc, DWORD *pContext,
                                      BSTR *pHelpFile)
    {
        BSTR n = nullptr, d = nullptr, h = nullptr;
        HRESULT hr = StoreBstr(pName ? &n : nullptr, name);
        if (SUCCEEDED(hr))
            hr = StoreBstr(pDoc ? &d : nullptr, doc);
        if (SUCCEEDED(hr))
            hr = StoreBstr(pHelpFile ? &h : nullptr, helpFile);
        if (FAILED(hr)) {
            SysFreeString(n);
            SysFreeString(d);
            SysFreeString(h);
            return hr;
        }
        if (pName)
            *pName = n;
        if (pDoc)
            *pDoc = d;
        if (pHelpFile)
            *pHelpFile = h;
        if (pContext)
            *pContext = context;
        return S_OK;
    }

private:
    // Type names (MEMBERID_NIL), then member names, type by type.
    template <typename F> void ForEachName(F &&visit) const
    {
        for (size_t i = 0; i < lib_->types.size(); ++i) {
            const TypeDef &t = lib_->types[i];
            auto index = static_cast<uint32_t>(i);
            visit(t.name, index, MEMBERID_NIL);
            for (const Func &f : t.funcs)
                visit(f.name, index, f.memid);
            for (const Var &v : t.vars)
                visit(v.name, index, v.memid);
        }
    }

    std::shared_ptr<const Library> lib_;
    BlockKeeper blocks_;
};

// ---- TypeInfoObject -------------------------------------------------------------

TypeInfoObject::TypeInfoObject(TypeLibObject *owner, uint32_t index, bool vtableView)
    : libRef_(owner), owner_(owner), index_(index), vtableView_(vtableView)
{
}

const Library &TypeInfoObject::lib() const
{
    return owner_->lib();
}

size_t TypeInfoObject::PresentedParamCount(const Func &f) const
{
    if (DispatchOfDual() && !f.params.empty() && (f.params.back().flags & PARAMFLAG_FRETVAL))
        return f.params.size() - 1;
    return f.params.size();
}

const Func *TypeInfoObject::FindFunc(MEMBERID memid) const
{
    for (const Func &f : def().funcs)
        if (f.memid == memid)
            return &f;
    return nullptr;
}

const Var *TypeInfoObject::FindVar(MEMBERID memid) const
{
    for (const Var &v : def().vars)
        if (v.memid == memid)
            return &v;
    return nullptr;
}

STDMETHODIMP TypeInfoObject::GetTypeAttr(TYPEATTR **ppTypeAttr)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppTypeAttr)
            return E_INVALIDARG;
        auto block = std::unique_ptr<TypeAttrBlock>(new (std::nothrow) TypeAttrBlock);
        if (!block)
            return E_OUTOFMEMORY;
        const TypeDef &t = def();
        TYPEATTR &a = block->attr;
        a.guid = t.guid;
        a.lcid = lib().lcid;
        a.memidConstructor = MEMBERID_NIL;
        a.memidDestructor = MEMBERID_NIL;
        a.typekind = Kind();
        a.cFuncs = static_cast<WORD>(t.funcs.size());
        a.cVars = static_cast<WORD>(t.vars.size());
        // The dispatch half of a dual derives from IDispatch; the function-table
        // half from what the interface names.
        a.cImplTypes = static_cast<WORD>(DispatchOfDual() ? 1 : t.implTypes.size());
        a.cbSizeInstance = t.kind == TKIND_ENUM ? 4 : kPointerSize;
        a.cbAlignment = t.kind == TKIND_ENUM ? 4 : kPointerSize;
        if (Kind() == TKIND_INTERFACE)
            a.cbSizeVft = static_cast<WORD>(SlotsOf(lib(), t) * kPointerSize);
        else if (Kind() == TKIND_DISPATCH)
            a.cbSizeVft = static_cast<WORD>(7 * kPointerSize);
        a.wTypeFlags = t.flags;
        a.wMajorVerNum = t.majorVersion;
        a.wMinorVerNum = t.minorVersion;
        a.tdescAlias.vt = VT_EMPTY;
        *ppTypeAttr = &blocks_.Keep(std::move(block), &a)->attr;
        return S_OK;
    });
}

STDMETHODIMP TypeInfoObject::GetTypeComp(ITypeComp **ppTComp)
{
    if (ppTComp)
        *ppTComp = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TypeInfoObject::GetFuncDesc(UINT index, FUNCDESC **ppFuncDesc)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppFuncDesc)
            return E_INVALIDARG;
        const TypeDef &t = def();
        if (index >= t.funcs.size())
            return TYPE_E_ELEMENTNOTFOUND;
        auto block = std::unique_ptr<FuncDescBlock>(new (std::nothrow) FuncDescBlock);
        if (!block)
            return E_OUTOFMEMORY;
        const Func &f = t.funcs[index];
        FUNCDESC &d = block->desc;
        size_t count = PresentedParamCount(f);
        block->params.resize(count);
        for (size_t i = 0; i < count; ++i) {
            ELEMDESC &e = block->params[i];
            e.tdesc = block->types.Make(f.params[i].type);
            e.paramdesc.wParamFlags = f.params[i].flags;
            if (f.params[i].flags & PARAMFLAG_FOPT)
                ++d.cParamsOpt;
        }
        d.memid = f.memid;
        d.lprgelemdescParam = count ? block->params.data() : nullptr;
        d.funckind = Kind() == TKIND_DISPATCH ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
        d.invkind = f.invkind;
        d.callconv = CC_STDCALL;
        d.cParams = static_cast<SHORT>(count);
        bool hasSlots = Kind() == TKIND_INTERFACE || t.IsDual();
        d.oVft = hasSlots ? static_cast<SHORT>((SlotsBefore(lib(), t) + index) * kPointerSize) : 0;
        d.wFuncFlags = f.flags;
        if (DispatchOfDual()) {
            if (count < f.params.size())
                d.elemdescFunc.tdesc = block->types.Make(f.params.back().type, 1);
            else
                d.elemdescFunc.tdesc.vt = VT_VOID;
        } else {
            d.elemdescFunc.tdesc = block->types.Make(f.result);
        }
        *ppFuncDesc = &blocks_.Keep(std::move(block), &d)->desc;
        return S_OK;
    });
}

STDMETHODIMP TypeInfoObject::GetVarDesc(UINT index, VARDESC **ppVarDesc)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppVarDesc)
            return E_INVALIDARG;
        const TypeDef &t = def();
        if (index >= t.vars.size())
            return TYPE_E_ELEMENTNOTFOUND;
        auto block = std::unique_ptr<VarDescBlock>(new (std::nothrow) VarDescBlock);
        if (!block)
            return E_OUTOFMEMORY;
        const Var &v = t.vars[index];
        VARDESC &d = block->desc;
        d.memid = v.memid;
        block->value.vt = VT_I4;
        block->value.lVal = v.value;
        d.lpvarValue = &block->value;
        d.elemdescVar.tdesc = block->types.Make(v.type);
        d.wVarFlags = v.flags;
        d.varkind = VAR_CONST;
        *ppVarDesc = &blocks_.Keep(std::move(block), &d)->desc;
        return S_OK;
    });
}

STDMETHODIMP TypeInfoObject::GetNames(MEMBERID memid, BSTR *rgBstrNames, UINT cMaxNames, UINT *pcNames)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!rgBstrNames || !pcNames)
            return E_INVALIDARG;
        *pcNames = 0;
        std::vector<const std::u16string *> names;
        if (const Func *f = FindFunc(memid)) {
            names.push_back(&f->name);
            for (size_t i = 0; i < PresentedParamCount(*f); ++i)
                names.push_back(&f->params[i].name);
        } else if (const Var *v = FindVar(memid)) {
            names.push_back(&v->name);
        } else {
            return TYPE_E_ELEMENTNOTFOUND;
        }
        UINT n = std::min<UINT>(cMaxNames, static_cast<UINT>(names.size()));
        for (UINT i = 0; i < n; ++i) {
            HRESULT hr = StoreBstr(&rgBstrNames[i], *names[i]);
            if (FAILED(hr)) {
                for (UINT k = 0; k < i; ++k) {
                    SysFreeString(rgBstrNames[k]);
                    rgBstrNames[k] = nullptr;
                }
                return hr;
            }
        }
        *pcNames = n;
        return S_OK;
    });
}

STDMETHODIMP TypeInfoObject::GetRefTypeOfImplType(UINT index, HREFTYPE *pRefType)
{
    if (!pRefType)
        return E_INVALIDARG;
    const TypeDef &t = def();
    if (index == static_cast<UINT>(-1)) {
        // From the dispatch half of a dual to its function-table half.
        if (!DispatchOfDual())
            return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = LocalRef(index_, true);
        return S_OK;
    }
    if (DispatchOfDual()) {
        if (index != 0)
            return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = StdRef(StdType::IDispatch);
        return S_OK;
    }
    if (index >= t.implTypes.size())
        return TYPE_E_ELEMENTNOTFOUND;
    *pRefType = t.implTypes[index].href;
    return S_OK;
}

STDMETHODIMP TypeInfoObject::GetImplTypeFlags(UINT index, INT *pImplTypeFlags)
{
    if (!pImplTypeFlags)
        return E_INVALIDARG;
    const TypeDef &t = def();
    size_t count = DispatchOfDual() ? 1 : t.implTypes.size();
    if (index >= count)
        return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = DispatchOfDual() ? 0 : t.implTypes[index].flags;
    return S_OK;
}

STDMETHODIMP TypeInfoObject::GetIDsOfNames(LPOLESTR *rgszNames, UINT cNames, MEMBERID *pMemId)
{
    if (!rgszNames || !pMemId || cNames == 0)
        return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i)
        pMemId[i] = MEMBERID_NIL;
    if (!rgszNames[0])
        return DISP_E_UNKNOWNNAME;
    std::u16string_view member(rgszNames[0]);
    for (const Func &f : def().funcs) {
        if (!NameEquals(f.name, member))
            continue;
        pMemId[0] = f.memid;
        HRESULT hr = S_OK;
        // Further names are parameters of that member, answered by position.
        for (UINT i = 1; i < cNames; ++i) {
            size_t p = 0, count = PresentedParamCount(f);
            while (p < count && !(rgszNames[i] && NameEquals(f.params[p].name, rgszNames[i])))
                ++p;
            if (p < count)
                pMemId[i] = static_cast<MEMBERID>(p);
            else
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    for (const Var &v : def().vars) {
        if (NameEquals(v.name, member)) {
            pMemId[0] = v.memid;
            return cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

// Calls through the object's own IDispatch: every interface described by a
// dispatch type (dispinterfaces and both halves of a dual) is one. Calling a
// plain function table from a description is not done on this platform.
STDMETHODIMP TypeInfoObject::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS *pDispParams,
                                    VARIANT *pVarResult, EXCEPINFO *pExcepInfo, UINT *puArgErr)
{
    if (!pvInstance)
        return E_INVALIDARG;
    if (def().kind != TKIND_DISPATCH)
        return E_NOTIMPL;
    bool found = false;
    for (const Func &f : def().funcs)
        found = found || (f.memid == memid && (f.invkind & wFlags) != 0);
    if (!found)
        return DISP_E_MEMBERNOTFOUND;
    auto *dispatch = static_cast<IDispatch *>(pvInstance);
    return dispatch->Invoke(memid, IID_NULL, LOCALE_USER_DEFAULT, wFlags, pDispParams, pVarResult, pExcepInfo,
                            puArgErr);
}

STDMETHODIMP TypeInfoObject::GetDocumentation(MEMBERID memid, BSTR *pBstrName, BSTR *pBstrDocString,
                                              DWORD *pdwHelpContext, BSTR *pBstrHelpFile)
{
    const TypeDef &t = def();
    const std::u16string &helpFile = lib().helpFile;
    if (memid == MEMBERID_NIL)
        return TypeLibObject::StoreDocumentation(t.name, t.doc, t.helpContext, helpFile, pBstrName, pBstrDocString,
                                                 pdwHelpContext, pBstrHelpFile);
    if (const Func *f = FindFunc(memid))
        return TypeLibObject::StoreDocumentation(f->name, f->doc, f->helpContext, helpFile, pBstrName, pBstrDocString,
                                                 pdwHelpContext, pBstrHelpFile);
    if (const Var *v = FindVar(memid))
        return TypeLibObject::StoreDocumentation(v->name, v->doc, v->helpContext, helpFile, pBstrName, pBstrDocString,
                                                 pdwHelpContext, pBstrHelpFile);
    return TYPE_E_ELEMENTNOTFOUND;
}

STDMETHODIMP TypeInfoObject::GetDllEntry(MEMBERID, INVOKEKIND, BSTR *pBstrDllName, BSTR *pBstrName, WORD *pwOrdinal)
{
    if (pBstrDllName)
        *pBstrDllName = nullptr;
    if (pBstrName)
        *pBstrName = nullptr;
    if (pwOrdinal)
        *pwOrdinal = 0;
    return TYPE_E_BADMODULEKIND;
}

STDMETHODIMP TypeInfoObject::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo **ppTInfo)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppTInfo)
            return E_INVALIDARG;
        *ppTInfo = nullptr;
        if (IsStdRef(hRefType)) {
            if (RefIndex(hRefType) >= kStdTypeCount)
                return TYPE_E_ELEMENTNOTFOUND;
            // A library object of its own over the process-wide description.
            std::shared_ptr<const Library> stdole(&StdOleLibrary(), [](const Library *) {});
            auto *stdLib = new (std::nothrow) TypeLibObject(std::move(stdole));
            if (!stdLib)
                return E_OUTOFMEMORY;
            HRESULT hr = stdLib->MakeTypeInfo(RefIndex(hRefType), false, ppTInfo);
            stdLib->Release();
            return hr;
        }
        uint32_t index = RefIndex(hRefType);
        if (index >= lib().types.size())
            return TYPE_E_ELEMENTNOTFOUND;
        bool vtable = IsVtableViewRef(hRefType);
        if (vtable && !lib().types[index].IsDual())
            return TYPE_E_ELEMENTNOTFOUND;
        return owner_->MakeTypeInfo(index, vtable, ppTInfo);
    });
}

STDMETHODIMP TypeInfoObject::AddressOfMember(MEMBERID, INVOKEKIND, PVOID *ppv)
{
    if (ppv)
        *ppv = nullptr;
    return TYPE_E_BADMODULEKIND;
}

STDMETHODIMP TypeInfoObject::CreateInstance(IUnknown *pUnkOuter, REFIID riid, PVOID *ppvObj)
{
    if (!ppvObj)
        return E_INVALIDARG;
    *ppvObj = nullptr;
    if (def().kind != TKIND_COCLASS)
        return TYPE_E_WRONGTYPEKIND;
    return CoCreateInstance(def().guid, pUnkOuter, CLSCTX_SERVER, riid, ppvObj);
}

STDMETHODIMP TypeInfoObject::GetMops(MEMBERID, BSTR *pBstrMops)
{
    if (!pBstrMops)
        return E_INVALIDARG;
    *pBstrMops = nullptr;
    return S_OK;
}

STDMETHODIMP TypeInfoObject::GetContainingTypeLib(ITypeLib **ppTLib, UINT *pIndex)
{
    if (ppTLib) {
        *ppTLib = owner_;
        owner_->AddRef();
    }
    if (pIndex)
        *pIndex = index_;
    return S_OK;
}

} // namespace

[[nodiscard]] HRESULT CreateTypeLib(std::shared_ptr<const Library> lib, ITypeLib **pptlib)
{
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    if (!lib)
        return E_INVALIDARG;
    *pptlib = new (std::nothrow) TypeLibObject(std::move(lib));
    return *pptlib ? S_OK : E_OUTOFMEMORY;
}

[[nodiscard]] HRESULT CreateTypeLibFromBytes(std::span<const BYTE> bytes, ITypeLib **pptlib)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!pptlib)
            return E_INVALIDARG;
        *pptlib = nullptr;
        auto lib = std::make_shared<Library>();
        HRESULT hr = Parse(bytes, *lib);
        if (FAILED(hr))
            return hr;
        return CreateTypeLib(std::move(lib), pptlib);
    });
}

} // namespace orafon::typelib

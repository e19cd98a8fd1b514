#include "TypeLibBuilder.h"

#include <map>
#include <set>
#include <utility>

namespace orafon::typelib {
namespace {

constexpr MEMBERID kFirstConstantId = 0x40000000;

std::string Narrow(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

} // namespace

// ---- TypeBuilder ----------------------------------------------------------------

TypeBuilder::TypeBuilder(TYPEKIND kind, std::u16string name, const GUID &guid)
    : kind_(kind), name_(std::move(name)), guid_(guid)
{
}

TypeBuilder &TypeBuilder::Doc(std::u16string doc, DWORD helpContext)
{
    doc_ = std::move(doc);
    helpContext_ = helpContext;
    return *this;
}

TypeBuilder &TypeBuilder::Flags(WORD typeFlags)
{
    flags_ = typeFlags;
    return *this;
}

TypeBuilder &TypeBuilder::Version(WORD major, WORD minor)
{
    major_ = major;
    minor_ = minor;
    return *this;
}

TypeBuilder &TypeBuilder::Inherits(Ty base)
{
    base_ = std::move(base);
    return *this;
}

TypeBuilder &TypeBuilder::NoBase()
{
    base_.reset();
    return *this;
}

TypeBuilder &TypeBuilder::Implements(std::u16string name, INT implFlags)
{
    impls_.push_back({std::move(name), implFlags});
    return *this;
}

TypeBuilder &TypeBuilder::Constant(std::u16string name, LONG value, std::u16string doc)
{
    consts_.push_back({std::move(name), value, std::move(doc)});
    return *this;
}

TypeBuilder &TypeBuilder::Method(MEMBERID memid, std::u16string name, std::vector<ParamDef> params, std::u16string doc)
{
    FuncDef f;
    f.memid = memid;
    f.name = std::move(name);
    f.params = std::move(params);
    f.doc = std::move(doc);
    return Function(std::move(f));
}

TypeBuilder &TypeBuilder::PropertyGet(MEMBERID memid, std::u16string name, Ty valueType, std::u16string doc)
{
    FuncDef f;
    f.memid = memid;
    f.invkind = INVOKE_PROPERTYGET;
    f.name = std::move(name);
    f.params.push_back(RetVal(u"pVal", valueType.Ptr()));
    f.doc = std::move(doc);
    return Function(std::move(f));
}

TypeBuilder &TypeBuilder::PropertyPut(MEMBERID memid, std::u16string name, Ty valueType, std::u16string doc)
{
    FuncDef f;
    f.memid = memid;
    f.invkind = INVOKE_PROPERTYPUT;
    f.name = std::move(name);
    f.params.push_back(In(u"newVal", std::move(valueType)));
    f.doc = std::move(doc);
    return Function(std::move(f));
}

TypeBuilder &TypeBuilder::Property(MEMBERID memid, std::u16string name, Ty valueType, std::u16string doc)
{
    PropertyGet(memid, name, valueType, doc);
    return PropertyPut(memid, std::move(name), std::move(valueType), std::move(doc));
}

TypeBuilder &TypeBuilder::Function(FuncDef def)
{
    funcs_.push_back(std::move(def));
    return *this;
}

// ---- TypeLibBuilder -------------------------------------------------------------

TypeLibBuilder::TypeLibBuilder(std::u16string name, const GUID &libid, WORD major, WORD minor)
{
    lib_.name = std::move(name);
    lib_.guid = libid;
    lib_.majorVersion = major;
    lib_.minorVersion = minor;
}

TypeLibBuilder &TypeLibBuilder::Doc(std::u16string doc, DWORD helpContext)
{
    lib_.doc = std::move(doc);
    lib_.helpContext = helpContext;
    return *this;
}

TypeLibBuilder &TypeLibBuilder::HelpFile(std::u16string helpFile)
{
    lib_.helpFile = std::move(helpFile);
    return *this;
}

TypeLibBuilder &TypeLibBuilder::Lcid(LCID lcid)
{
    lib_.lcid = lcid;
    return *this;
}

TypeLibBuilder &TypeLibBuilder::SysKind(SYSKIND syskind)
{
    lib_.syskind = syskind;
    return *this;
}

TypeLibBuilder &TypeLibBuilder::Flags(WORD libFlags)
{
    lib_.flags = libFlags;
    return *this;
}

TypeBuilder &TypeLibBuilder::Enum(std::u16string name, const GUID &guid)
{
    return types_.emplace_back(TKIND_ENUM, std::move(name), guid);
}

TypeBuilder &TypeLibBuilder::Interface(std::u16string name, const GUID &iid)
{
    return types_.emplace_back(TKIND_INTERFACE, std::move(name), iid).Inherits(Ty::Std(StdType::IUnknown));
}

TypeBuilder &TypeLibBuilder::DualInterface(std::u16string name, const GUID &iid)
{
    return types_.emplace_back(TKIND_DISPATCH, std::move(name), iid)
        .Flags(TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE)
        .Inherits(Ty::Std(StdType::IDispatch));
}

TypeBuilder &TypeLibBuilder::DispInterface(std::u16string name, const GUID &diid)
{
    return types_.emplace_back(TKIND_DISPATCH, std::move(name), diid)
        .Flags(TYPEFLAG_FDISPATCHABLE)
        .Inherits(Ty::Std(StdType::IDispatch));
}

TypeBuilder &TypeLibBuilder::CoClass(std::u16string name, const GUID &clsid)
{
    return types_.emplace_back(TKIND_COCLASS, std::move(name), clsid).Flags(TYPEFLAG_FCANCREATE);
}

namespace {

[[nodiscard]] HRESULT Fail(std::string *error, std::string reason)
{
    if (error)
        *error = std::move(reason);
    return E_INVALIDARG;
}

} // namespace

[[nodiscard]] HRESULT TypeLibBuilder::Build(Library &out, std::string *error) const
{
    Library lib = lib_;
    lib.types.clear();

    std::map<std::u16string, uint32_t> byName;
    for (const TypeBuilder &t : types_) {
        if (!byName.emplace(t.name_, static_cast<uint32_t>(byName.size())).second)
            return Fail(error, "duplicate type name " + Narrow(t.name_));
    }

    // View 1 (the function-table half) is what an interface derives from; a
    // reference anywhere else names the type as stored.
    auto resolve = [&](const Ty &ty, bool asBase, TypeSpec &spec) -> HRESULT {
        spec.vt = ty.vt();
        spec.pointers = ty.pointers();
        spec.href = 0;
        if (ty.vt() != VT_USERDEFINED)
            return S_OK;
        if (ty.stdType()) {
            spec.href = StdRef(*ty.stdType());
            return S_OK;
        }
        auto it = byName.find(ty.name());
        if (it == byName.end())
            return Fail(error, "unknown type " + Narrow(ty.name()));
        const TypeBuilder &target = types_[it->second];
        bool dual = target.kind_ == TKIND_DISPATCH && (target.flags_ & TYPEFLAG_FDUAL);
        spec.href = LocalRef(it->second, asBase && dual);
        return S_OK;
    };

    for (const TypeBuilder &t : types_) {
        TypeDef def;
        def.kind = t.kind_;
        def.guid = t.guid_;
        def.flags = t.flags_;
        def.majorVersion = t.major_;
        def.minorVersion = t.minor_;
        def.helpContext = t.helpContext_;
        def.name = t.name_;
        def.doc = t.doc_;

        if (t.base_ && t.kind_ != TKIND_ENUM && t.kind_ != TKIND_COCLASS) {
            TypeSpec spec;
            HRESULT hr = resolve(*t.base_, t.kind_ == TKIND_INTERFACE, spec);
            if (FAILED(hr))
                return hr;
            def.implTypes.push_back({spec.href, 0});
        }
        for (const auto &impl : t.impls_) {
            TypeSpec spec;
            HRESULT hr = resolve(Ty::Named(impl.name), false, spec);
            if (FAILED(hr))
                return hr;
            def.implTypes.push_back({spec.href, impl.flags});
        }
        for (size_t i = 0; i < t.consts_.size(); ++i) {
            Var v;
            v.memid = kFirstConstantId + static_cast<MEMBERID>(i);
            v.name = t.consts_[i].name;
            v.doc = t.consts_[i].doc;
            v.value = t.consts_[i].value;
            v.type.vt = VT_I4;
            def.vars.push_back(std::move(v));
        }
        std::set<std::pair<MEMBERID, int>> seen;
        for (const FuncDef &fd : t.funcs_) {
            if (!seen.emplace(fd.memid, fd.invkind).second)
                return Fail(error, "duplicate member " + Narrow(fd.name) + " in " + Narrow(t.name_));
            Func f;
            f.memid = fd.memid;
            f.invkind = fd.invkind;
            f.flags = fd.flags;
            f.helpContext = fd.helpContext;
            f.name = fd.name;
            f.doc = fd.doc;
            HRESULT hr = resolve(fd.result, false, f.result);
            if (FAILED(hr))
                return hr;
            for (const ParamDef &pd : fd.params) {
                Param p;
                p.name = pd.name;
                p.flags = pd.flags;
                hr = resolve(pd.type, false, p.type);
                if (FAILED(hr))
                    return hr;
                f.params.push_back(std::move(p));
            }
            def.funcs.push_back(std::move(f));
        }
        lib.types.push_back(std::move(def));
    }

    if (FAILED(Validate(lib)))
        return Fail(error, "the library is not consistent (kinds, references or parameters)");
    out = std::move(lib);
    return S_OK;
}

[[nodiscard]] HRESULT TypeLibBuilder::Build(std::vector<BYTE> &bytes, std::string *error) const
{
    Library lib;
    HRESULT hr = Build(lib, error);
    if (SUCCEEDED(hr))
        bytes = Serialize(lib);
    return hr;
}

} // namespace orafon::typelib

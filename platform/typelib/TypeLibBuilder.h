// Describes a type library in code, as an IDL file would, and produces its
// model or its binary form:
//
//   TypeLibBuilder b(u"Lib", LIBID_Lib, 1, 0);
//   b.Enum(u"COLOR").Constant(u"RED", 0).Constant(u"GREEN", 1);
//   b.DualInterface(u"IThing", IID_IThing)
//       .Property(1, u"Color", Ty::Named(u"COLOR"), u"property Color")
//       .Method(2, u"Paint", {In(u"strText", Ty::Bstr())}, u"Paint");
//   b.CoClass(u"Thing", CLSID_Thing).Implements(u"IThing", IMPLTYPEFLAG_FDEFAULT);
//   std::vector<BYTE> bytes; HRESULT hr = b.Build(bytes);
//
// Types refer to each other by name and may be referred to before they are
// added; names are resolved by Build.
#pragma once

#include "TypeLibModel.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace orafon::typelib {

// A type while building: a base VARTYPE, a standard interface or a type of
// the library by name, wrapped in pointers.
class Ty {
public:
    static Ty Base(VARTYPE vt) { return Ty(vt); }
    static Ty Long() { return Ty(VT_I4); }
    static Ty Bstr() { return Ty(VT_BSTR); }
    static Ty Bool() { return Ty(VT_BOOL); }
    static Ty Variant() { return Ty(VT_VARIANT); }
    static Ty HResult() { return Ty(VT_HRESULT); }
    static Ty Void() { return Ty(VT_VOID); }
    static Ty Named(std::u16string name)
    {
        Ty t(VT_USERDEFINED);
        t.name_ = std::move(name);
        return t;
    }
    static Ty Std(StdType type)
    {
        Ty t(VT_USERDEFINED);
        t.std_ = type;
        return t;
    }
    Ty Ptr() const
    {
        Ty t = *this;
        ++t.pointers_;
        return t;
    }

    VARTYPE vt() const { return vt_; }
    uint8_t pointers() const { return pointers_; }
    const std::u16string &name() const { return name_; }
    const std::optional<StdType> &stdType() const { return std_; }

private:
    explicit Ty(VARTYPE vt) : vt_(vt) {}
    VARTYPE vt_;
    uint8_t pointers_ = 0;
    std::u16string name_;
    std::optional<StdType> std_;
};

struct ParamDef {
    std::u16string name;
    Ty type;
    USHORT flags;
};
inline ParamDef In(std::u16string name, Ty type)
{
    return {std::move(name), std::move(type), PARAMFLAG_FIN};
}
inline ParamDef Out(std::u16string name, Ty pointerType)
{
    return {std::move(name), std::move(pointerType), PARAMFLAG_FOUT};
}
inline ParamDef RetVal(std::u16string name, Ty pointerType)
{
    return {std::move(name), std::move(pointerType), PARAMFLAG_FOUT | PARAMFLAG_FRETVAL};
}

struct FuncDef {
    MEMBERID memid = 0;
    INVOKEKIND invkind = INVOKE_FUNC;
    std::u16string name;
    std::vector<ParamDef> params;
    Ty result = Ty::HResult();
    std::u16string doc;
    WORD flags = 0;
    DWORD helpContext = 0;
};

class TypeBuilder {
public:
    TypeBuilder(TYPEKIND kind, std::u16string name, const GUID &guid);

    TypeBuilder &Doc(std::u16string doc, DWORD helpContext = 0);
    TypeBuilder &Flags(WORD typeFlags);
    TypeBuilder &Version(WORD major, WORD minor);
    // The base of an interface or dispinterface.
    TypeBuilder &Inherits(Ty base);
    // For the root interface, which derives from nothing.
    TypeBuilder &NoBase();
    // An interface a coclass implements, with IMPLTYPEFLAG_* flags.
    TypeBuilder &Implements(std::u16string name, INT implFlags = 0);
    // An enumeration member; its MEMBERID is 0x40000000 + its position.
    TypeBuilder &Constant(std::u16string name, LONG value, std::u16string doc = {});
    // A method returning HRESULT.
    TypeBuilder &Method(MEMBERID memid, std::u16string name, std::vector<ParamDef> params, std::u16string doc);
    // propget with an [out, retval] valueType* pVal; propput with [in] valueType newVal.
    TypeBuilder &PropertyGet(MEMBERID memid, std::u16string name, Ty valueType, std::u16string doc);
    TypeBuilder &PropertyPut(MEMBERID memid, std::u16string name, Ty valueType, std::u16string doc);
    // Both accessors, the getter first.
    TypeBuilder &Property(MEMBERID memid, std::u16string name, Ty valueType, std::u16string doc);
    TypeBuilder &Function(FuncDef def);

private:
    friend class TypeLibBuilder;
    struct ImplDef {
        std::u16string name;
        INT flags;
    };
    struct ConstDef {
        std::u16string name;
        LONG value;
        std::u16string doc;
    };
    TYPEKIND kind_;
    std::u16string name_;
    GUID guid_;
    std::u16string doc_;
    DWORD helpContext_ = 0;
    WORD flags_ = 0;
    WORD major_ = 0;
    WORD minor_ = 0;
    std::optional<Ty> base_;
    std::vector<ImplDef> impls_;
    std::vector<ConstDef> consts_;
    std::vector<FuncDef> funcs_;
};

class TypeLibBuilder {
public:
    TypeLibBuilder(std::u16string name, const GUID &libid, WORD major, WORD minor);

    TypeLibBuilder &Doc(std::u16string doc, DWORD helpContext = 0);
    TypeLibBuilder &HelpFile(std::u16string helpFile);
    TypeLibBuilder &Lcid(LCID lcid);
    TypeLibBuilder &SysKind(SYSKIND syskind);
    TypeLibBuilder &Flags(WORD libFlags);

    // Types appear in the library in the order they are added.
    TypeBuilder &Enum(std::u16string name, const GUID &guid = GUID_NULL);
    // A custom interface deriving from IUnknown unless Inherits says otherwise.
    TypeBuilder &Interface(std::u16string name, const GUID &iid);
    // A dual interface (dual, oleautomation, deriving from IDispatch).
    TypeBuilder &DualInterface(std::u16string name, const GUID &iid);
    // A pure dispinterface.
    TypeBuilder &DispInterface(std::u16string name, const GUID &diid);
    // A creatable class.
    TypeBuilder &CoClass(std::u16string name, const GUID &clsid);

    // E_INVALIDARG with a reason in *error for unknown or duplicate names,
    // duplicate members and anything Validate refuses.
    [[nodiscard]] HRESULT Build(Library &out, std::string *error = nullptr) const;
    HRESULT Build(std::vector<BYTE> &bytes, std::string *error = nullptr) const;

private:
    Library lib_;
    std::deque<TypeBuilder> types_;
};

} // namespace orafon::typelib

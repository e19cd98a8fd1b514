// The in-memory model of a type library: what TypeLibBuilder produces, what
// the binary format stores and what the ITypeLib/ITypeInfo objects read.
#pragma once

#include <orafon/win/windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orafon::typelib {

// References to other types (TYPEDESC::hreftype, GetRefTypeOfImplType) are
// numbers of this form:
//   bit 31 set    a type of the standard OLE library (StdType below)
//   otherwise     (index << 1) | view, index into Library::types; view 1 is
//                 the function-table half of a dual interface, 0 the type
//                 as stored (for a dual interface: its dispatch half).
enum class StdType : uint32_t { IUnknown = 0, IDispatch = 1 };
inline constexpr uint32_t kStdTypeCount = 2;
inline constexpr HREFTYPE kStdRefBit = 0x80000000u;

constexpr HREFTYPE StdRef(StdType t)
{
    return kStdRefBit | static_cast<uint32_t>(t);
}
constexpr HREFTYPE LocalRef(uint32_t index, bool vtableView = false)
{
    return (index << 1) | (vtableView ? 1u : 0u);
}
[[nodiscard]] constexpr bool IsStdRef(HREFTYPE h)
{
    return (h & kStdRefBit) != 0;
}
constexpr uint32_t RefIndex(HREFTYPE h)
{
    return IsStdRef(h) ? (h & ~kStdRefBit) : (h >> 1);
}
[[nodiscard]] constexpr bool IsVtableViewRef(HREFTYPE h)
{
    return !IsStdRef(h) && (h & 1u) != 0;
}

// A type as a parameter, result or constant has it: a base VARTYPE, how many
// pointer levels wrap it, and for VT_USERDEFINED the referenced type.
struct TypeSpec {
    VARTYPE vt = VT_EMPTY;
    uint8_t pointers = 0;
    HREFTYPE href = 0;
};

struct Param {
    std::u16string name;
    TypeSpec type;
    USHORT flags = PARAMFLAG_FIN;
};

struct Func {
    MEMBERID memid = 0;
    INVOKEKIND invkind = INVOKE_FUNC;
    WORD flags = 0; // FUNCFLAG_*
    DWORD helpContext = 0;
    std::u16string name;
    std::u16string doc;
    TypeSpec result;
    std::vector<Param> params;
};

// Only constants (VAR_CONST with a 32-bit integer value) are described: the
// members of enumerations.
struct Var {
    MEMBERID memid = 0;
    WORD flags = 0; // VARFLAG_*
    DWORD helpContext = 0;
    std::u16string name;
    std::u16string doc;
    TypeSpec type;
    LONG value = 0;
};

struct ImplType {
    HREFTYPE href = 0;
    INT flags = 0; // IMPLTYPEFLAG_*
};

// One type. A dual interface is stored once, as TKIND_DISPATCH with
// TYPEFLAG_FDUAL and its functions in function-table form (HRESULT results,
// [out, retval] parameters); the dispatch view is derived from it.
struct TypeDef {
    TYPEKIND kind = TKIND_ENUM;
    GUID guid = GUID_NULL;
    WORD flags = 0; // TYPEFLAG_*
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    DWORD helpContext = 0;
    std::u16string name;
    std::u16string doc;
    std::vector<ImplType> implTypes;
    std::vector<Func> funcs;
    std::vector<Var> vars;

    bool IsDual() const { return kind == TKIND_DISPATCH && (flags & TYPEFLAG_FDUAL) != 0; }
};

struct Library {
    GUID guid = GUID_NULL;
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    WORD majorVersion = 0;
    WORD minorVersion = 0;
    WORD flags = 0; // LIBFLAG_*
    DWORD helpContext = 0;
    std::u16string name;
    std::u16string doc;
    std::u16string helpFile;
    std::vector<TypeDef> types;
};

// Checks everything a reader relies on: kinds, references, pointer depths,
// base interfaces without cycles. Returns S_OK or TYPE_E_INVDATAREAD.
[[nodiscard]] HRESULT Validate(const Library &lib);

// The binary form (see TypeLibFormat.cpp for the layout).
std::vector<BYTE> Serialize(const Library &lib);
// S_OK, TYPE_E_CANTLOADLIBRARY (not a type library at all), TYPE_E_UNSUPFORMAT
// (a format version this code does not read) or TYPE_E_INVDATAREAD (truncated,
// corrupt or inconsistent).
[[nodiscard]] HRESULT Parse(std::span<const BYTE> bytes, Library &lib);

// The standard library describing IUnknown and IDispatch, built once.
const Library &StdOleLibrary();

} // namespace orafon::typelib

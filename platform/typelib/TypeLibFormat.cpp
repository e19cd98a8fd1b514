// The binary form of a type library, as carried in module files and .tlb files.
//
// Layout (all integers little-endian):
//
//   Header, 16 bytes
//     0  4  magic "OTLB"
//     4  2  format version, 1
//     6  2  reserved, 0
//     8  4  payload length in bytes
//    12  4  CRC-32 (the zlib/PNG polynomial) of the payload
//   Payload
//     library  guid, u32 lcid, u16 syskind, u16 major, u16 minor, u16 libflags,
//              u32 help context, str name, str doc, str help file,
//              u16 type count, that many types
//     type     u16 typekind, guid, u16 typeflags, u16 major, u16 minor,
//              u32 help context, str name, str doc,
//              u16 count + impl types   (u32 hreftype, i32 impltypeflags)
//              u16 count + functions
//              u16 count + variables
//     function i32 memid, u16 invkind, u16 funcflags, u32 help context,
//              str name, str doc, typespec result,
//              u16 count + parameters (str name, typespec, u16 paramflags)
//     variable i32 memid, u16 varflags, u32 help context, str name, str doc,
//              typespec, i32 constant value
//     typespec u16 base vartype, u8 pointer levels, u32 hreftype
//     guid     u32 Data1, u16 Data2, u16 Data3, 8 bytes Data4
//     str      u32 count of UTF-16 code units, then the code units (u16 each)
//
// Nothing may follow the library in the payload. A reader checks the header,
// the CRC, every count against the bytes left, and then the references and
// kinds (Validate) before anything is handed out.
#include "TypeLibModel.h"

#include <array>
#include <cstring>

namespace orafon::typelib {
namespace {

constexpr BYTE kMagic[4] = {'O', 'T', 'L', 'B'};
constexpr uint16_t kFormatVersion = 1;
constexpr size_t kHeaderSize = 16;
constexpr uint8_t kMaxPointers = 3;

std::array<uint32_t, 256> MakeCrcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

uint32_t Crc32(std::span<const BYTE> bytes)
{
    static const std::array<uint32_t, 256> table = MakeCrcTable();
    uint32_t c = 0xFFFFFFFFu;
    for (BYTE b : bytes)
        c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

class Writer {
public:
    void U8(uint8_t v) { out_.push_back(v); }
    void U16(uint16_t v)
    {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v)
    {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void Guid(const GUID &g)
    {
        U32(g.Data1);
        U16(g.Data2);
        U16(g.Data3);
        for (BYTE b : g.Data4)
            U8(b);
    }
    void Str(const std::u16string &s)
    {
        U32(static_cast<uint32_t>(s.size()));
        for (char16_t c : s)
            U16(static_cast<uint16_t>(c));
    }
    void Type(const TypeSpec &t)
    {
        U16(t.vt);
        U8(t.pointers);
        U32(t.href);
    }
    template <typename T> void Count(const std::vector<T> &v) { U16(static_cast<uint16_t>(v.size())); }
    std::vector<BYTE> &Bytes() { return out_; }

private:
    std::vector<BYTE> out_;
};

// Reads the payload; any read past the end sets a sticky failure and yields
// zeros, so the caller checks Ok() once per record.
class Reader {
public:
    explicit Reader(std::span<const BYTE> bytes) : bytes_(bytes) {}
    bool Ok() const { return ok_; }
    bool AtEnd() const { return pos_ == bytes_.size(); }
    size_t Left() const { return bytes_.size() - pos_; }

    uint8_t U8()
    {
        if (!Need(1))
            return 0;
        return bytes_[pos_++];
    }
    // A u16 that names one value of an enumeration whose values run up to
    // limit; anything larger is bad data (and may not be cast to the enum).
    uint16_t Kind(uint16_t limit)
    {
        const uint16_t value = U16();
        if (value <= limit)
            return value;
        ok_ = false;
        return 0;
    }
    uint16_t U16()
    {
        uint16_t lo = U8();
        return static_cast<uint16_t>(lo | (U8() << 8));
    }
    uint32_t U32()
    {
        uint32_t lo = U16();
        return lo | (static_cast<uint32_t>(U16()) << 16);
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    GUID Guid()
    {
        GUID g{};
        g.Data1 = U32();
        g.Data2 = U16();
        g.Data3 = U16();
        for (BYTE &b : g.Data4)
            b = U8();
        return g;
    }
    std::u16string Str()
    {
        uint32_t n = U32();
        if (!ok_ || n > Left() / 2) {
            ok_ = false;
            return {};
        }
        std::u16string s(n, u'\0');
        for (auto &c : s)
            c = static_cast<char16_t>(U16());
        return s;
    }
    TypeSpec Type()
    {
        TypeSpec t;
        t.vt = U16();
        t.pointers = U8();
        t.href = U32();
        return t;
    }
    // A count of records each at least minSize bytes long; more than the
    // bytes left can hold is corrupt.
    uint16_t Count(size_t minSize)
    {
        uint16_t n = U16();
        if (static_cast<size_t>(n) * minSize > Left())
            ok_ = false;
        return ok_ ? n : 0;
    }

private:
    [[nodiscard]] bool Need(size_t n)
    {
        if (!ok_ || Left() < n) {
            ok_ = false;
            return false;
        }
        return true;
    }
    std::span<const BYTE> bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Smallest encoded sizes, for the count checks.
constexpr size_t kMinStr = 4;
constexpr size_t kMinTypeSpec = 7;
constexpr size_t kMinParam = kMinStr + kMinTypeSpec + 2;
constexpr size_t kMinImpl = 8;
constexpr size_t kMinFunc = 4 + 2 + 2 + 4 + 2 * kMinStr + kMinTypeSpec + 2;
constexpr size_t kMinVar = 4 + 2 + 4 + 2 * kMinStr + kMinTypeSpec + 4;
constexpr size_t kMinType = 2 + 16 + 2 + 2 + 2 + 4 + 2 * kMinStr + 3 * 2;

void WriteFunc(Writer &w, const Func &f)
{
    w.I32(f.memid);
    w.U16(static_cast<uint16_t>(f.invkind));
    w.U16(f.flags);
    w.U32(f.helpContext);
    w.Str(f.name);
    w.Str(f.doc);
    w.Type(f.result);
    w.Count(f.params);
    for (const Param &p : f.params) {
        w.Str(p.name);
        w.Type(p.type);
        w.U16(p.flags);
    }
}

void WriteVar(Writer &w, const Var &v)
{
    w.I32(v.memid);
    w.U16(v.flags);
    w.U32(v.helpContext);
    w.Str(v.name);
    w.Str(v.doc);
    w.Type(v.type);
    w.I32(v.value);
}

void WriteType(Writer &w, const TypeDef &t)
{
    w.U16(static_cast<uint16_t>(t.kind));
    w.Guid(t.guid);
    w.U16(t.flags);
    w.U16(t.majorVersion);
    w.U16(t.minorVersion);
    w.U32(t.helpContext);
    w.Str(t.name);
    w.Str(t.doc);
    w.Count(t.implTypes);
    for (const ImplType &i : t.implTypes) {
        w.U32(i.href);
        w.I32(i.flags);
    }
    w.Count(t.funcs);
    for (const Func &f : t.funcs)
        WriteFunc(w, f);
    w.Count(t.vars);
    for (const Var &v : t.vars)
        WriteVar(w, v);
}

Func ReadFunc(Reader &r)
{
    Func f;
    f.memid = r.I32();
    f.invkind = static_cast<INVOKEKIND>(r.Kind(INVOKE_PROPERTYPUTREF));
    f.flags = r.U16();
    f.helpContext = r.U32();
    f.name = r.Str();
    f.doc = r.Str();
    f.result = r.Type();
    uint16_t n = r.Count(kMinParam);
    for (uint16_t i = 0; i < n && r.Ok(); ++i) {
        Param p;
        p.name = r.Str();
        p.type = r.Type();
        p.flags = r.U16();
        f.params.push_back(std::move(p));
    }
    return f;
}

Var ReadVar(Reader &r)
{
    Var v;
    v.memid = r.I32();
    v.flags = r.U16();
    v.helpContext = r.U32();
    v.name = r.Str();
    v.doc = r.Str();
    v.type = r.Type();
    v.value = r.I32();
    return v;
}

TypeDef ReadType(Reader &r)
{
    TypeDef t;
    t.kind = static_cast<TYPEKIND>(r.Kind(TKIND_UNION));
    t.guid = r.Guid();
    t.flags = r.U16();
    t.majorVersion = r.U16();
    t.minorVersion = r.U16();
    t.helpContext = r.U32();
    t.name = r.Str();
    t.doc = r.Str();
    uint16_t n = r.Count(kMinImpl);
    for (uint16_t i = 0; i < n && r.Ok(); ++i) {
        ImplType it;
        it.href = r.U32();
        it.flags = r.I32();
        t.implTypes.push_back(it);
    }
    n = r.Count(kMinFunc);
    for (uint16_t i = 0; i < n && r.Ok(); ++i)
        t.funcs.push_back(ReadFunc(r));
    n = r.Count(kMinVar);
    for (uint16_t i = 0; i < n && r.Ok(); ++i)
        t.vars.push_back(ReadVar(r));
    return t;
}

// ---- Validation -----------------------------------------------------------------

[[nodiscard]] bool IsBaseVarType(VARTYPE vt)
{
    switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_VOID:
    case VT_HRESULT:
    case VT_LPSTR:
    case VT_LPWSTR:
    case VT_USERDEFINED:
        return true;
    default:
        return false;
    }
}

[[nodiscard]] bool IsValidRef(const Library &lib, HREFTYPE href)
{
    if (IsStdRef(href))
        return RefIndex(href) < kStdTypeCount;
    uint32_t index = RefIndex(href);
    if (index >= lib.types.size())
        return false;
    return !IsVtableViewRef(href) || lib.types[index].IsDual();
}

[[nodiscard]] bool IsValidTypeSpec(const Library &lib, const TypeSpec &t)
{
    if (t.pointers > kMaxPointers || !IsBaseVarType(t.vt))
        return false;
    if (t.vt == VT_USERDEFINED)
        return IsValidRef(lib, t.href);
    return t.href == 0;
}

[[nodiscard]] bool IsInterfaceRef(const Library &lib, HREFTYPE href)
{
    if (IsStdRef(href))
        return true;
    TYPEKIND kind = lib.types[RefIndex(href)].kind;
    return kind == TKIND_INTERFACE || kind == TKIND_DISPATCH;
}

[[nodiscard]] bool IsValidInvokeKind(INVOKEKIND k)
{
    return k == INVOKE_FUNC || k == INVOKE_PROPERTYGET || k == INVOKE_PROPERTYPUT || k == INVOKE_PROPERTYPUTREF;
}

[[nodiscard]] bool IsValidFunc(const Library &lib, const TypeDef &owner, const Func &f)
{
    if (f.name.empty() || !IsValidInvokeKind(f.invkind) || !IsValidTypeSpec(lib, f.result))
        return false;
    for (size_t i = 0; i < f.params.size(); ++i) {
        const Param &p = f.params[i];
        if (!IsValidTypeSpec(lib, p.type))
            return false;
        // A retval parameter is the last one and is written through a pointer.
        if ((p.flags & PARAMFLAG_FRETVAL) && (i + 1 != f.params.size() || p.type.pointers == 0))
            return false;
    }
    // The dispatch view of a dual interface turns the HRESULT into the result.
    return !owner.IsDual() || (f.result.vt == VT_HRESULT && f.result.pointers == 0);
}

[[nodiscard]] bool IsValidVar(const Library &lib, const Var &v)
{
    return !v.name.empty() && IsValidTypeSpec(lib, v.type) && v.type.pointers == 0 && v.type.vt == VT_I4;
}

[[nodiscard]] bool IsValidShape(const Library &lib, const TypeDef &t)
{
    switch (t.kind) {
    case TKIND_ENUM:
        return t.funcs.empty() && t.implTypes.empty();
    case TKIND_INTERFACE:
    case TKIND_DISPATCH:
        return t.vars.empty() && t.implTypes.size() <= 1 &&
               (t.implTypes.empty() || IsInterfaceRef(lib, t.implTypes[0].href)) &&
               (!t.IsDual() || t.implTypes.size() == 1);
    case TKIND_COCLASS:
        if (!t.funcs.empty() || !t.vars.empty())
            return false;
        for (const ImplType &i : t.implTypes)
            if (!IsInterfaceRef(lib, i.href))
                return false;
        return true;
    default:
        return false;
    }
}

// Follows each interface's base chain; a chain longer than the library has
// types is a cycle.
[[nodiscard]] bool HasBaseCycle(const Library &lib)
{
    for (const TypeDef &start : lib.types) {
        const TypeDef *t = &start;
        for (size_t steps = 0; t; ++steps) {
            if (steps > lib.types.size())
                return true;
            if ((t->kind != TKIND_INTERFACE && t->kind != TKIND_DISPATCH) || t->implTypes.empty() ||
                IsStdRef(t->implTypes[0].href))
                break;
            t = &lib.types[RefIndex(t->implTypes[0].href)];
        }
    }
    return false;
}

} // namespace

[[nodiscard]] HRESULT Validate(const Library &lib)
{
    if (lib.name.empty() || lib.types.size() > 0xFFFF)
        return TYPE_E_INVDATAREAD;
    for (const TypeDef &t : lib.types) {
        if (t.name.empty())
            return TYPE_E_INVDATAREAD;
        for (const ImplType &i : t.implTypes)
            if (!IsValidRef(lib, i.href))
                return TYPE_E_INVDATAREAD;
        if (!IsValidShape(lib, t))
            return TYPE_E_INVDATAREAD;
        // Function-table offsets are 16-bit.
        if (t.funcs.size() > 0x0FFF || t.vars.size() > 0xFFFF || t.implTypes.size() > 0xFFFF)
            return TYPE_E_INVDATAREAD;
        for (const Func &f : t.funcs)
            if (!IsValidFunc(lib, t, f) || f.params.size() > 0x7FFF)
                return TYPE_E_INVDATAREAD;
        for (const Var &v : t.vars)
            if (!IsValidVar(lib, v))
                return TYPE_E_INVDATAREAD;
    }
    return HasBaseCycle(lib) ? TYPE_E_INVDATAREAD : S_OK;
}

std::vector<BYTE> Serialize(const Library &lib)
{
    Writer payload;
    payload.Guid(lib.guid);
    payload.U32(lib.lcid);
    payload.U16(static_cast<uint16_t>(lib.syskind));
    payload.U16(lib.majorVersion);
    payload.U16(lib.minorVersion);
    payload.U16(lib.flags);
    payload.U32(lib.helpContext);
    payload.Str(lib.name);
    payload.Str(lib.doc);
    payload.Str(lib.helpFile);
    payload.Count(lib.types);
    for (const TypeDef &t : lib.types)
        WriteType(payload, t);

    const std::vector<BYTE> &body = payload.Bytes();
    Writer out;
    for (BYTE b : kMagic)
        out.U8(b);
    out.U16(kFormatVersion);
    out.U16(0);
    out.U32(static_cast<uint32_t>(body.size()));
    out.U32(Crc32(body));
    std::vector<BYTE> bytes = std::move(out.Bytes());
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

[[nodiscard]] HRESULT Parse(std::span<const BYTE> bytes, Library &lib)
{
    if (bytes.size() < sizeof(kMagic) || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0)
        return TYPE_E_CANTLOADLIBRARY;
    if (bytes.size() < kHeaderSize)
        return TYPE_E_INVDATAREAD;
    Reader header(bytes.subspan(sizeof(kMagic), kHeaderSize - sizeof(kMagic)));
    uint16_t version = header.U16();
    uint16_t reserved = header.U16();
    uint32_t length = header.U32();
    uint32_t crc = header.U32();
    if (version != kFormatVersion)
        return TYPE_E_UNSUPFORMAT;
    std::span<const BYTE> body = bytes.subspan(kHeaderSize);
    if (reserved != 0 || length != body.size() || Crc32(body) != crc)
        return TYPE_E_INVDATAREAD;

    Reader r(body);
    Library out;
    out.guid = r.Guid();
    out.lcid = r.U32();
    out.syskind = static_cast<SYSKIND>(r.Kind(SYS_WIN64));
    out.majorVersion = r.U16();
    out.minorVersion = r.U16();
    out.flags = r.U16();
    out.helpContext = r.U32();
    out.name = r.Str();
    out.doc = r.Str();
    out.helpFile = r.Str();
    uint16_t n = r.Count(kMinType);
    for (uint16_t i = 0; i < n && r.Ok(); ++i)
        out.types.push_back(ReadType(r));
    if (!r.Ok() || !r.AtEnd() || out.syskind > SYS_WIN64)
        return TYPE_E_INVDATAREAD;
    HRESULT hr = Validate(out);
    if (FAILED(hr))
        return hr;
    lib = std::move(out);
    return S_OK;
}

} // namespace orafon::typelib

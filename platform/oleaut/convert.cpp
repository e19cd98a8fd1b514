// VariantChangeType(Ex): the Automation conversion rules between the
// VARIANT types, with Windows' rounding, range and text rules.
#include "date_text.h"
#include "number_text.h"
#include "variant_internal.h"
#include <orafon/CatchAtEdge.h>

#include <orafon/CaseFold.h>
#include <orafon/win/winbase.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

using namespace orafon::oleaut;
using orafon::locale::LocaleInfo;

namespace {

using Int128 = __int128;

struct Context {
    const LocaleInfo &loc;
    LCID lcid;
    USHORT flags;
};

// The integer types a VARIANT can hold, with their ranges.
struct IntegerType {
    VARTYPE vt;
    int bits;
    bool isSigned;
};

constexpr IntegerType kIntegerTypes[] = {
    {VT_I1, 8, true},    {VT_UI1, 8, false}, {VT_I2, 16, true},    {VT_UI2, 16, false}, {VT_I4, 32, true},
    {VT_UI4, 32, false}, {VT_INT, 32, true}, {VT_UINT, 32, false}, {VT_I8, 64, true},   {VT_UI8, 64, false},
};

const IntegerType *FindIntegerType(VARTYPE vt)
{
    for (const IntegerType &t : kIntegerTypes)
        if (t.vt == vt)
            return &t;
    return nullptr;
}

Int128 MinOf(const IntegerType &t)
{
    return t.isSigned ? -(Int128{1} << (t.bits - 1)) : 0;
}
Int128 MaxOf(const IntegerType &t)
{
    return t.isSigned ? (Int128{1} << (t.bits - 1)) - 1 : (Int128{1} << t.bits) - 1;
}

void StoreInteger(VARIANT &out, VARTYPE vt, Int128 value)
{
    out.vt = vt;
    switch (vt) {
    case VT_I1:
        out.cVal = static_cast<CHAR>(static_cast<int8_t>(value));
        break;
    case VT_UI1:
        out.bVal = static_cast<BYTE>(value);
        break;
    case VT_I2:
        out.iVal = static_cast<SHORT>(value);
        break;
    case VT_UI2:
        out.uiVal = static_cast<USHORT>(value);
        break;
    case VT_I4:
    case VT_INT:
        out.lVal = static_cast<LONG>(value);
        break;
    case VT_UI4:
    case VT_UINT:
        out.ulVal = static_cast<ULONG>(value);
        break;
    case VT_I8:
        out.llVal = static_cast<LONGLONG>(value);
        break;
    default:
        out.ullVal = static_cast<ULONGLONG>(value);
        break;
    }
}

// The exact value of an integer-typed source.
[[nodiscard]] bool ExactInteger(const VARIANT &v, Int128 &out)
{
    switch (v.vt) {
    case VT_EMPTY:
        out = 0;
        return true;
    case VT_I1:
        out = static_cast<int8_t>(v.cVal);
        return true;
    case VT_UI1:
        out = v.bVal;
        return true;
    case VT_I2:
        out = v.iVal;
        return true;
    case VT_UI2:
        out = v.uiVal;
        return true;
    case VT_I4:
    case VT_INT:
        out = v.lVal;
        return true;
    case VT_UI4:
    case VT_UINT:
        out = v.ulVal;
        return true;
    case VT_I8:
        out = v.llVal;
        return true;
    case VT_UI8:
        out = v.ullVal;
        return true;
    case VT_BOOL:
        out = v.boolVal;
        return true;
    default:
        return false;
    }
}

// Sources held as exact decimal numbers: text and DECIMAL.
[[nodiscard]] bool IsDecimalNumber(VARTYPE vt)
{
    return vt == VT_BSTR || vt == VT_DECIMAL;
}

// The exact number of a text or DECIMAL source. A DECIMAL fills the whole
// VARIANT, its first field overlaying vt.
[[nodiscard]] HRESULT DecimalNumberOf(const VARIANT &v, const Context &ctx, ParsedNumber &n)
{
    if (v.vt == VT_BSTR)
        return ParseNumber(v.bstrVal, ctx.loc, n);
    static_assert(sizeof(DECIMAL) <= sizeof(VARIANT));
    DECIMAL dec;
    std::memcpy(&dec, &v, sizeof dec);
    return DecimalToParsed(dec, n);
}

[[nodiscard]] bool IsFloating(VARTYPE vt)
{
    return vt == VT_R4 || vt == VT_R8 || vt == VT_DATE;
}

double FloatingValue(const VARIANT &v)
{
    return v.vt == VT_R4 ? static_cast<double>(v.fltVal) : v.dblVal;
}

// Rounds half to even (the FPU's default rounding) to an integer; false when
// the result does not fit 128 bits or is not a number.
[[nodiscard]] bool RoundDouble(double d, Int128 &out)
{
    if (!std::isfinite(d))
        return false;
    double r = std::nearbyint(d);
    if (std::fabs(r) >= 1.0e38)
        return false;
    out = static_cast<Int128>(r);
    return true;
}

// The product of a double and the currency scale, computed in extended
// precision as the x87 unit does: a double of up to 15 digits such as
// 123456789012345 becomes its amount exactly, where a double product would
// round away the last digits.
[[nodiscard]] bool ScaleToCurrency(double d, Int128 &out)
{
    if (!std::isfinite(d))
        return false;
    const long double r = std::nearbyintl(static_cast<long double>(d) * 10000.0L);
    if (std::fabs(r) >= 1.0e38L)
        return false;
    out = static_cast<Int128>(r);
    return true;
}

// Currency (scaled by 10000) rounded half to even to a whole number.
Int128 RoundCurrency(LONGLONG scaled)
{
    Int128 q = scaled / 10000, r = scaled % 10000;
    Int128 absR = r < 0 ? -r : r;
    if (absR > 5000 || (absR == 5000 && (q & 1)))
        q += r < 0 ? -1 : 1;
    return q;
}

// The integer type of v, if it is one.
const IntegerType *IntegerTypeOf(const VARIANT &v)
{
    return FindIntegerType(v.vt);
}

[[nodiscard]] HRESULT ToInteger(const VARIANT &v, const Context &ctx, const IntegerType &t, VARIANT &out)
{
    Int128 value;
    const IntegerType *from = IntegerTypeOf(v);
    if (from && from->bits == t.bits && from->isSigned != t.isSigned) {
        // Between the signed and unsigned types of one size Windows keeps the
        // bits: VT_I1 -1 is VT_UI1 255, VT_UI4 0xFFFFFFFF is VT_I4 -1.
        static_cast<void>(ExactInteger(v, value)); // always exact: the source is an integer type
        StoreInteger(out, t.vt, value);
        return S_OK;
    }
    if (v.vt == VT_BOOL) {
        // Booleans keep their bit pattern: True is 255 as VT_UI1.
        StoreInteger(out, t.vt, v.boolVal);
        return S_OK;
    }
    if (IsDecimalNumber(v.vt)) {
        ParsedNumber n;
        HRESULT hr = DecimalNumberOf(v, ctx, n);
        if (FAILED(hr))
            return hr;
        if (t.isSigned) {
            LONGLONG s;
            hr = ParsedToInt64(n, static_cast<LONGLONG>(MinOf(t)), static_cast<LONGLONG>(MaxOf(t)), t.bits, s);
            value = s;
        } else {
            ULONGLONG u;
            hr = ParsedToUInt64(n, static_cast<ULONGLONG>(MaxOf(t)), u);
            value = u;
        }
        if (FAILED(hr))
            return hr;
        StoreInteger(out, t.vt, value);
        return S_OK;
    }
    if (ExactInteger(v, value)) {
    } else if (IsFloating(v.vt)) {
        if (!RoundDouble(FloatingValue(v), value))
            return DISP_E_OVERFLOW;
    } else if (v.vt == VT_CY) {
        value = RoundCurrency(v.cyVal.int64);
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    if (value < MinOf(t) || value > MaxOf(t))
        return DISP_E_OVERFLOW;
    StoreInteger(out, t.vt, value);
    return S_OK;
}

[[nodiscard]] HRESULT ToDouble(const VARIANT &v, const Context &ctx, double &out)
{
    Int128 exact;
    if (ExactInteger(v, exact)) {
        out = static_cast<double>(exact);
    } else if (IsFloating(v.vt)) {
        out = FloatingValue(v);
    } else if (v.vt == VT_CY) {
        out = static_cast<double>(v.cyVal.int64) / 10000.0;
    } else if (IsDecimalNumber(v.vt)) {
        ParsedNumber n;
        HRESULT hr = DecimalNumberOf(v, ctx, n);
        return FAILED(hr) ? hr : ParsedToDouble(n, out);
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

[[nodiscard]] HRESULT ToR4(const VARIANT &v, const Context &ctx, VARIANT &out)
{
    double d;
    HRESULT hr = ToDouble(v, ctx, d);
    if (FAILED(hr))
        return hr;
    if (std::isfinite(d) && std::fabs(d) > FLT_MAX)
        return DISP_E_OVERFLOW;
    out.vt = VT_R4;
    out.fltVal = static_cast<float>(d);
    return S_OK;
}

[[nodiscard]] HRESULT ToR8(const VARIANT &v, const Context &ctx, VARIANT &out)
{
    double d;
    HRESULT hr = ToDouble(v, ctx, d);
    if (FAILED(hr))
        return hr;
    out.vt = VT_R8;
    out.dblVal = d;
    return S_OK;
}

[[nodiscard]] HRESULT ToCurrency(const VARIANT &v, const Context &ctx, VARIANT &out)
{
    constexpr Int128 kMin = std::numeric_limits<LONGLONG>::min(), kMax = std::numeric_limits<LONGLONG>::max();
    Int128 scaled;
    if (v.vt == VT_CY) {
        scaled = v.cyVal.int64;
    } else if (Int128 exact; ExactInteger(v, exact)) {
        scaled = exact * 10000;
    } else if (IsFloating(v.vt)) {
        if (!ScaleToCurrency(FloatingValue(v), scaled))
            return DISP_E_OVERFLOW;
    } else if (IsDecimalNumber(v.vt)) {
        ParsedNumber n;
        LONGLONG s;
        HRESULT hr = DecimalNumberOf(v, ctx, n);
        if (SUCCEEDED(hr))
            hr = ParsedToCurrency(n, s);
        if (FAILED(hr))
            return hr;
        scaled = s;
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    if (scaled < kMin || scaled > kMax)
        return DISP_E_OVERFLOW;
    out.vt = VT_CY;
    out.cyVal.int64 = static_cast<LONGLONG>(scaled);
    return S_OK;
}

[[nodiscard]] HRESULT ToDate(const VARIANT &v, const Context &ctx, VARIANT &out)
{
    double d;
    if (v.vt == VT_BSTR) {
        HRESULT hr = ParseDate(v.bstrVal, ctx.loc, d);
        if (FAILED(hr))
            return hr;
    } else {
        HRESULT hr = ToDouble(v, ctx, d);
        if (FAILED(hr))
            return hr;
        if (!IsDateInRange(d))
            return DISP_E_OVERFLOW;
    }
    out.vt = VT_DATE;
    out.date = d;
    return S_OK;
}

[[nodiscard]] bool EqualsIgnoringCase(const OLECHAR *a, const char16_t *b)
{
    return orafon::EqualsIgnoringCase(std::u16string_view(a), std::u16string_view(b));
}

[[nodiscard]] bool EqualsExactly(const OLECHAR *a, const char16_t *b)
{
    for (; *a && *b; ++a, ++b)
        if (*a != *b)
            return false;
    return *a == *b;
}

[[nodiscard]] HRESULT BoolFromText(const OLECHAR *text, const Context &ctx, VARIANT_BOOL &out)
{
    if (!text)
        return DISP_E_TYPEMISMATCH;
    // "#TRUE#"/"#FALSE#" (exact case) and English names are always understood,
    // the locale's own names only when asked for.
    if (EqualsExactly(text, u"#TRUE#") || EqualsIgnoringCase(text, u"true")) {
        out = VARIANT_TRUE;
        return S_OK;
    }
    if (EqualsExactly(text, u"#FALSE#") || EqualsIgnoringCase(text, u"false")) {
        out = VARIANT_FALSE;
        return S_OK;
    }
    if (ctx.flags & VARIANT_LOCALBOOL) {
        if (EqualsIgnoringCase(text, ctx.loc.trueName)) {
            out = VARIANT_TRUE;
            return S_OK;
        }
        if (EqualsIgnoringCase(text, ctx.loc.falseName)) {
            out = VARIANT_FALSE;
            return S_OK;
        }
    }
    ParsedNumber n;
    HRESULT hr = ParseNumber(text, ctx.loc, n);
    if (FAILED(hr))
        return hr;
    // The number is read as a double first: text beyond the double range
    // ("1e400") overflows rather than being true.
    double d;
    hr = ParsedToDouble(n, d);
    if (FAILED(hr))
        return hr;
    out = d != 0.0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

[[nodiscard]] HRESULT ToBool(const VARIANT &v, const Context &ctx, VARIANT &out)
{
    VARIANT_BOOL b;
    Int128 exact;
    if (ExactInteger(v, exact)) {
        b = exact != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (IsFloating(v.vt)) {
        b = FloatingValue(v) != 0.0 ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (v.vt == VT_CY) {
        b = v.cyVal.int64 != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (v.vt == VT_BSTR) {
        HRESULT hr = BoolFromText(v.bstrVal, ctx, b);
        if (FAILED(hr))
            return hr;
    } else if (v.vt == VT_DECIMAL) {
        ParsedNumber n;
        HRESULT hr = DecimalNumberOf(v, ctx, n);
        if (FAILED(hr))
            return hr;
        b = n.digits.empty() ? VARIANT_FALSE : VARIANT_TRUE;
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    out.vt = VT_BOOL;
    out.boolVal = b;
    return S_OK;
}

[[nodiscard]] HRESULT TextOf(const VARIANT &v, const Context &ctx, std::u16string &text)
{
    switch (v.vt) {
    case VT_EMPTY:
        text.clear();
        return S_OK;
    case VT_BOOL:
        // Numbers by default; the words only when asked for.
        if (ctx.flags & VARIANT_LOCALBOOL)
            text = v.boolVal ? ctx.loc.trueName : ctx.loc.falseName;
        else if (ctx.flags & VARIANT_ALPHABOOL)
            text = v.boolVal ? u"True" : u"False";
        else
            text = FormatInteger(v.boolVal);
        return S_OK;
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
    case VT_UI8: {
        Int128 exact;
        static_cast<void>(ExactInteger(v, exact)); // always exact: the source is an integer type
        text = FormatUnsigned(static_cast<ULONGLONG>(exact));
        return S_OK;
    }
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_I8: {
        Int128 exact;
        static_cast<void>(ExactInteger(v, exact)); // always exact: the source is an integer type
        text = FormatInteger(static_cast<LONGLONG>(exact));
        return S_OK;
    }
    case VT_R4:
        text = FormatReal(v.fltVal, 7, ctx.loc);
        return S_OK;
    case VT_R8:
        text = FormatReal(v.dblVal, 15, ctx.loc);
        return S_OK;
    case VT_CY:
        text = FormatCurrency(v.cyVal.int64, ctx.loc);
        return S_OK;
    case VT_DATE:
        return FormatDate(v.date, ctx.loc, text);
    case VT_DECIMAL: {
        ParsedNumber n;
        HRESULT hr = DecimalNumberOf(v, ctx, n);
        if (SUCCEEDED(hr))
            text = FormatParsed(n, ctx.loc);
        return hr;
    }
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

[[nodiscard]] HRESULT ToBstr(const VARIANT &v, const Context &ctx, VARIANT &out)
{
    std::u16string text;
    HRESULT hr = TextOf(v, ctx, text);
    if (FAILED(hr))
        return hr;
    BSTR bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!bstr)
        return E_OUTOFMEMORY;
    out.vt = VT_BSTR;
    out.bstrVal = bstr;
    return S_OK;
}

[[nodiscard]] HRESULT ToInterface(const VARIANT &v, VARTYPE vt, VARIANT &out)
{
    // Only the other interface type converts; a null pointer stays null.
    IUnknown *result = nullptr;
    if (v.vt == VT_DISPATCH || v.vt == VT_UNKNOWN) {
        if (v.punkVal) {
            HRESULT hr = v.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown,
                                                   reinterpret_cast<void **>(&result));
            if (FAILED(hr))
                return hr;
        }
    } else {
        return DISP_E_TYPEMISMATCH;
    }
    out.vt = vt;
    out.punkVal = result;
    return S_OK;
}

// Targets VariantChangeType recognises; the rest are not VARIANT value types.
[[nodiscard]] HRESULT CheckTarget(VARTYPE vt)
{
    if (vt & (VT_VECTOR | VT_RESERVED))
        return DISP_E_BADVARTYPE;
    VARTYPE base = vt & VT_TYPEMASK;
    if (!IsValueType(base) && base != VT_VARIANT && base != VT_RECORD)
        return DISP_E_BADVARTYPE;
    if ((vt & (VT_BYREF | VT_ARRAY)) && base <= VT_NULL)
        return DISP_E_BADVARTYPE;
    // Well-formed, but no value converts to a reference, an array, a
    // VARIANT or a record. DECIMAL is read but not produced here.
    if ((vt & (VT_BYREF | VT_ARRAY)) || base == VT_VARIANT || base == VT_RECORD)
        return DISP_E_TYPEMISMATCH;
    return S_OK;
}

constexpr int kMaxValueDepth = 8;

[[nodiscard]] HRESULT Coerce(const VARIANT &v, const Context &ctx, VARTYPE vt, int depth, VARIANT &out);

// The default value of an object: its DISPID_VALUE property.
[[nodiscard]] HRESULT CoerceDispatch(const VARIANT &v, const Context &ctx, VARTYPE vt, int depth, VARIANT &out)
{
    if (!v.pdispVal || depth >= kMaxValueDepth)
        return DISP_E_TYPEMISMATCH;
    DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
    VARIANT value;
    VariantInit(&value);
    HRESULT hr =
        v.pdispVal->Invoke(DISPID_VALUE, IID_NULL, ctx.lcid, DISPATCH_PROPERTYGET, &noArgs, &value, nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    VARIANT plain;
    hr = Dereference(value, plain);
    if (SUCCEEDED(hr))
        hr = Coerce(plain, ctx, vt, depth + 1, out);
    VariantClear(&value);
    return hr;
}

// VT_INT and VT_UINT convert exactly as VT_I4 and VT_UI4.
VARTYPE Canonical(VARTYPE vt)
{
    if (vt == VT_INT)
        return VT_I4;
    if (vt == VT_UINT)
        return VT_UI4;
    return vt;
}

[[nodiscard]] HRESULT Coerce(const VARIANT &v, const Context &ctx, VARTYPE vt, int depth, VARIANT &out)
{
    if (Canonical(v.vt) == Canonical(vt)) {
        HRESULT hr = VariantCopy(&out, &v);
        out.vt = vt;
        return hr;
    }
    if ((ctx.flags & VARIANT_NOVALUEPROP) && v.vt == VT_DISPATCH && vt != VT_UNKNOWN)
        return DISP_E_TYPEMISMATCH;
    if (vt == VT_EMPTY || vt == VT_NULL) {
        // Anything but an error code empties; only VT_NULL itself stays null.
        if (v.vt == VT_ERROR || (vt == VT_EMPTY && v.vt == VT_NULL))
            return DISP_E_TYPEMISMATCH;
        out.vt = vt;
        return S_OK;
    }
    if (v.vt == VT_NULL)
        return DISP_E_TYPEMISMATCH;
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN)
        return ToInterface(v, vt, out);
    if (v.vt == VT_DISPATCH)
        return CoerceDispatch(v, ctx, vt, depth, out);
    if (v.vt == VT_ERROR || v.vt == VT_UNKNOWN)
        return DISP_E_TYPEMISMATCH;

    if (const IntegerType *t = FindIntegerType(vt))
        return ToInteger(v, ctx, *t, out);
    switch (vt) {
    case VT_R4:
        return ToR4(v, ctx, out);
    case VT_R8:
        return ToR8(v, ctx, out);
    case VT_CY:
        return ToCurrency(v, ctx, out);
    case VT_DATE:
        return ToDate(v, ctx, out);
    case VT_BOOL:
        return ToBool(v, ctx, out);
    case VT_BSTR:
        return ToBstr(v, ctx, out);
    default:
        return DISP_E_TYPEMISMATCH; // VT_ERROR takes no other type; DECIMAL is not produced here
    }
}

} // namespace

namespace {

[[nodiscard]] HRESULT ChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, LCID lcid, USHORT wFlags, VARTYPE vt)
{
    if (!pvargDest || !pvarSrc)
        return E_INVALIDARG;
    if (!IsValidVariantType(pvarSrc->vt))
        return DISP_E_BADVARTYPE;
    HRESULT hr = CheckTarget(vt);
    if (FAILED(hr))
        return hr;
    VARIANT value;
    hr = Dereference(*pvarSrc, value);
    if (FAILED(hr))
        return hr == E_INVALIDARG ? DISP_E_TYPEMISMATCH : hr;

    Context ctx{orafon::locale::LocaleOrDefault(lcid), lcid, wFlags};
    VARIANT result;
    VariantInit(&result);
    hr = Coerce(value, ctx, vt, 0, result);
    if (FAILED(hr))
        return hr;
    // The destination is released only once the conversion has succeeded; it
    // may be the source itself.
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

} // namespace

STDAPI VariantChangeTypeEx(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, LCID lcid, USHORT wFlags, VARTYPE vt)
{
    return orafon::CatchAtEdge([&] { return ChangeType(pvargDest, pvarSrc, lcid, wFlags, vt); });
}

STDAPI VariantChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, USHORT wFlags, VARTYPE vt)
{
    return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}

// Converts arbitrary text to every numeric, date and Boolean type in four
// locales, as VariantChangeTypeEx reads numbers and dates. A value that
// converts must convert back to text and from that text to the same value
// (integers, currency, Booleans, decimals), or to the same text again where
// the text form rounds (doubles, singles, dates).
#include <orafon/win/oleauto.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

constexpr LCID kLocales[] = {0x0409, 0x0407, 0x040C, 0x0809};
constexpr VARTYPE kTargets[] = {VT_I1,  VT_UI1, VT_I2, VT_UI2, VT_I4,   VT_UI4,  VT_I8,
                                VT_UI8, VT_R4,  VT_R8, VT_CY,  VT_DATE, VT_BOOL, VT_DECIMAL};
constexpr USHORT kFlags[] = {0, VARIANT_ALPHABOOL, VARIANT_LOCALBOOL, VARIANT_NOVALUEPROP};

// A VARIANT cleared on every exit.
struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    ~Var() { VariantClear(&v); }
    Var(const Var &) = delete;
    Var &operator=(const Var &) = delete;
};

bool SameValue(const VARIANT &a, const VARIANT &b)
{
    if (V_VT(&a) != V_VT(&b))
        return false;
    switch (V_VT(&a)) {
    case VT_I1:
        return V_I1(&a) == V_I1(&b);
    case VT_UI1:
        return V_UI1(&a) == V_UI1(&b);
    case VT_I2:
        return V_I2(&a) == V_I2(&b);
    case VT_UI2:
        return V_UI2(&a) == V_UI2(&b);
    case VT_I4:
        return V_I4(&a) == V_I4(&b);
    case VT_UI4:
        return V_UI4(&a) == V_UI4(&b);
    case VT_I8:
        return V_I8(&a) == V_I8(&b);
    case VT_UI8:
        return V_UI8(&a) == V_UI8(&b);
    case VT_CY:
        return V_CY(&a).int64 == V_CY(&b).int64;
    case VT_BOOL:
        return V_BOOL(&a) == V_BOOL(&b);
    default:
        return false;
    }
}

bool SameText(const VARIANT &a, const VARIANT &b)
{
    return SysStringLen(V_BSTR(&a)) == SysStringLen(V_BSTR(&b)) &&
           std::memcmp(V_BSTR(&a), V_BSTR(&b), SysStringLen(V_BSTR(&a)) * sizeof(OLECHAR)) == 0;
}

void CheckRoundTrip(const VARIANT &value, LCID lcid)
{
    Var text;
    Require(SUCCEEDED(VariantChangeTypeEx(&text.v, &value, lcid, 0, VT_BSTR)));
    Var again;
    const HRESULT hr = VariantChangeTypeEx(&again.v, &text.v, lcid, 0, V_VT(&value));
    const VARTYPE vt = V_VT(&value);
    if (vt == VT_R4 || vt == VT_R8 || vt == VT_DATE || vt == VT_DECIMAL) {
        // The text rounds to its digits; read back, it must give that text
        // again. Rounding the largest doubles up leaves their range, as on
        // Windows ("1.79769313486232E+308" overflows).
        if (hr == DISP_E_OVERFLOW && (vt == VT_R4 || vt == VT_R8))
            return;
        Require(SUCCEEDED(hr));
        Var text2;
        Require(SUCCEEDED(VariantChangeTypeEx(&text2.v, &again.v, lcid, 0, VT_BSTR)));
        Require(SameText(text.v, text2.v));
        return;
    }
    Require(SUCCEEDED(hr) && SameValue(value, again.v));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const LCID lcid = kLocales[data[0] & 3];
    const USHORT flags = kFlags[(data[0] >> 2) & 3];
    Var source;
    V_VT(&source.v) = VT_BSTR;
    std::u16string text((size - 1) / 2, u'\0');
    std::memcpy(text.data(), data + 1, text.size() * sizeof(char16_t));
    V_BSTR(&source.v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!V_BSTR(&source.v))
        return 0;
    for (VARTYPE vt : kTargets) {
        Var result;
        const HRESULT hr = VariantChangeTypeEx(&result.v, &source.v, lcid, flags, vt);
        if (FAILED(hr)) {
            Require(V_VT(&result.v) == VT_EMPTY);
            continue;
        }
        Require(V_VT(&result.v) == vt);
        if (flags == 0)
            CheckRoundTrip(result.v, lcid);
    }
    return 0;
}

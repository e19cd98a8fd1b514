// VariantInit, VariantClear, VariantCopy and VariantCopyInd.
#include "variant_internal.h"

#include <cstring>

namespace orafon::oleaut {

[[nodiscard]] bool IsValueType(VARTYPE vt)
{
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
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
        return true;
    default:
        return false;
    }
}

[[nodiscard]] bool IsValidVariantType(VARTYPE vt)
{
    // Arrays and records need SAFEARRAY and IRecordInfo, which this platform
    // does not provide, so they are refused rather than mishandled.
    if (vt & (VT_ARRAY | VT_VECTOR | VT_RESERVED))
        return false;
    if (vt & VT_BYREF) {
        VARTYPE base = vt & VT_TYPEMASK;
        return base == VT_VARIANT || (IsValueType(base) && base != VT_EMPTY && base != VT_NULL);
    }
    // A VT_VARIANT by value holds nothing to release; Windows accepts it.
    return IsValueType(vt) || vt == VT_VARIANT;
}

[[nodiscard]] HRESULT Dereference(const VARIANT &src, VARIANT &value)
{
    if (!(src.vt & VT_BYREF)) {
        value = src;
        return S_OK;
    }
    if (!src.byref)
        return E_INVALIDARG;
    VARTYPE base = src.vt & VT_TYPEMASK;
    std::memset(&value, 0, sizeof value);
    value.vt = base;
    switch (base) {
    case VT_VARIANT: {
        const VARIANT &inner = *src.pvarVal;
        if (inner.vt & VT_BYREF)
            return E_INVALIDARG;
        value = inner;
        return S_OK;
    }
    case VT_I1:
    case VT_UI1:
        value.bVal = *src.pbVal;
        return S_OK;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        value.uiVal = *src.puiVal;
        return S_OK;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_R4:
        std::memcpy(&value.ulVal, src.byref, sizeof(ULONG));
        return S_OK;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
        std::memcpy(&value.ullVal, src.byref, sizeof(ULONGLONG));
        return S_OK;
    case VT_BSTR:
        value.bstrVal = *src.pbstrVal;
        return S_OK;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        value.punkVal = *src.ppunkVal;
        return S_OK;
    case VT_DECIMAL:
        // A DECIMAL fills the whole VARIANT; its first field is where vt goes.
        static_assert(sizeof(DECIMAL) <= sizeof(VARIANT));
        std::memcpy(&value, src.pdecVal, sizeof(DECIMAL));
        value.vt = VT_DECIMAL;
        return S_OK;
    default:
        return DISP_E_BADVARTYPE;
    }
}

} // namespace orafon::oleaut

using namespace orafon::oleaut;

namespace {

// Makes dest an owning copy of the by-value `value`: strings are duplicated
// (keeping their byte length) and interfaces gain a reference.
[[nodiscard]] HRESULT CopyValue(VARIANT *dest, const VARIANT &value)
{
    VARIANT copy = value;
    switch (value.vt) {
    case VT_BSTR:
        // A null string copies as an empty one, as on Windows.
        copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(value.bstrVal), SysStringByteLen(value.bstrVal));
        if (!copy.bstrVal)
            return E_OUTOFMEMORY;
        break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        if (value.punkVal)
            value.punkVal->AddRef();
        break;
    default:
        break;
    }
    *dest = copy;
    return S_OK;
}

} // namespace

STDAPI_(void) VariantInit(VARIANTARG *pvarg)
{
    if (pvarg)
        pvarg->vt = VT_EMPTY;
}

STDAPI VariantClear(VARIANTARG *pvarg)
{
    if (!pvarg)
        return E_INVALIDARG;
    if (!IsValidVariantType(pvarg->vt))
        return DISP_E_BADVARTYPE;
    if (!(pvarg->vt & VT_BYREF)) {
        switch (pvarg->vt) {
        case VT_BSTR:
            SysFreeString(pvarg->bstrVal);
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (pvarg->punkVal)
                pvarg->punkVal->Release();
            break;
        default:
            break;
        }
    }
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

STDAPI VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc)
{
    if (!pvargDest || !pvargSrc)
        return E_INVALIDARG;
    if (pvargDest == pvargSrc)
        return S_OK;
    if (!IsValidVariantType(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr))
        return hr;
    if (pvargSrc->vt & VT_BYREF) {
        *pvargDest = *pvargSrc;
        return S_OK;
    }
    return CopyValue(pvargDest, *pvargSrc);
}

STDAPI VariantCopyInd(VARIANT *pvarDest, const VARIANTARG *pvargSrc)
{
    if (!pvarDest || !pvargSrc)
        return E_INVALIDARG;
    if (!IsValidVariantType(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    if (!(pvargSrc->vt & VT_BYREF))
        return VariantCopy(pvarDest, pvargSrc);

    VARIANT value;
    HRESULT hr = Dereference(*pvargSrc, value);
    if (FAILED(hr))
        return hr;
    VARIANT copy;
    hr = CopyValue(&copy, value);
    if (FAILED(hr))
        return hr;
    // Only now is the destination released: it may be the source itself, or
    // hold what the source refers to.
    hr = VariantClear(pvarDest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvarDest = copy;
    return S_OK;
}

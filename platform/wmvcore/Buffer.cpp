#include "Buffer.h"

#include <new>

namespace orafon::wmvcore {

[[nodiscard]] HRESULT Buffer::Make(DWORD cbMax, CComPtr<Buffer> &out)
{
    std::unique_ptr<BYTE[]> bytes(new (std::nothrow) BYTE[cbMax ? cbMax : 1]);
    if (!bytes)
        return E_OUTOFMEMORY;
    return Create(out, std::move(bytes), cbMax);
}

STDMETHODIMP Buffer::GetLength(DWORD *pdwLength)
{
    if (!pdwLength)
        return E_POINTER;
    *pdwLength = length_;
    return S_OK;
}

STDMETHODIMP Buffer::SetLength(DWORD dwLength)
{
    if (dwLength > max_)
        return E_INVALIDARG;
    length_ = dwLength;
    return S_OK;
}

STDMETHODIMP Buffer::GetMaxLength(DWORD *pdwLength)
{
    if (!pdwLength)
        return E_POINTER;
    *pdwLength = max_;
    return S_OK;
}

STDMETHODIMP Buffer::GetBuffer(BYTE **ppdwBuffer)
{
    if (!ppdwBuffer)
        return E_POINTER;
    *ppdwBuffer = bytes_.get();
    return S_OK;
}

STDMETHODIMP Buffer::GetBufferAndLength(BYTE **ppdwBuffer, DWORD *pdwLength)
{
    if (!ppdwBuffer || !pdwLength)
        return E_POINTER;
    *ppdwBuffer = bytes_.get();
    *pdwLength = length_;
    return S_OK;
}

} // namespace orafon::wmvcore

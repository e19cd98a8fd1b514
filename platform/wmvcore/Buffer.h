// INSSBuffer over an owned block.
#pragma once

#include "WmObject.h"

#include <orafon/win/wmsbuffer.h>

#include <memory>

namespace orafon::wmvcore {

class Buffer final : public orafon::ComObject<Buffer, INSSBuffer>, private WmObject {
public:
    // A buffer of cbMax bytes, all in use until SetLength says otherwise.
    [[nodiscard]] static HRESULT Make(DWORD cbMax, CComPtr<Buffer> &out);

    STDMETHODIMP GetLength(DWORD *pdwLength) override;
    STDMETHODIMP SetLength(DWORD dwLength) override;
    STDMETHODIMP GetMaxLength(DWORD *pdwLength) override;
    STDMETHODIMP GetBuffer(BYTE **ppdwBuffer) override;
    STDMETHODIMP GetBufferAndLength(BYTE **ppdwBuffer, DWORD *pdwLength) override;

    // Public for ComObject::Create; Make is the way in.
    Buffer(std::unique_ptr<BYTE[]> bytes, DWORD cbMax) : bytes_(std::move(bytes)), max_(cbMax), length_(cbMax) {}

private:
    std::unique_ptr<BYTE[]> bytes_;
    DWORD max_;
    DWORD length_;
};

} // namespace orafon::wmvcore

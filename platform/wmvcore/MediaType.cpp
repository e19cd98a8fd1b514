#include "MediaType.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/PcmFormat.h>

#include <cstring>
#include <new>

namespace orafon::wmvcore {

MediaType MediaType::Pcm(DWORD nSamplesPerSec, WORD nChannels)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(nSamplesPerSec, nChannels, 16);
    MediaType type = Audio(WMMEDIASUBTYPE_PCM, wfx, nullptr, 0);
    type.header_.bFixedSizeSamples = TRUE;
    return type;
}

MediaType MediaType::Audio(REFGUID subtype, const WAVEFORMATEX &wfx, const BYTE *pbExtra, WORD cbExtra)
{
    MediaType type;
    type.header_.majortype = WMMEDIATYPE_Audio;
    type.header_.subtype = subtype;
    type.header_.bFixedSizeSamples = TRUE;
    type.header_.bTemporalCompression = FALSE;
    type.header_.lSampleSize = wfx.nBlockAlign;
    type.header_.formattype = WMFORMAT_WaveFormatEx;
    WAVEFORMATEX copy = wfx;
    copy.cbSize = cbExtra;
    type.format_.resize(sizeof(WAVEFORMATEX) + cbExtra);
    std::memcpy(type.format_.data(), &copy, sizeof(WAVEFORMATEX));
    if (cbExtra)
        std::memcpy(type.format_.data() + sizeof(WAVEFORMATEX), pbExtra, cbExtra);
    type.header_.cbFormat = static_cast<ULONG>(type.format_.size());
    return type;
}

[[nodiscard]] HRESULT MediaType::Assign(const WM_MEDIA_TYPE *pType)
{
    if (!pType || (pType->cbFormat > 0 && !pType->pbFormat))
        return E_INVALIDARG;
    if (HRESULT hr = orafon::CatchAtEdge([&] { format_.assign(pType->pbFormat, pType->pbFormat + pType->cbFormat); });
        FAILED(hr))
        return hr;
    header_ = *pType;
    header_.pUnk = nullptr; // a reference this object never took
    header_.pbFormat = nullptr;
    return S_OK;
}

[[nodiscard]] HRESULT MediaType::CopyOut(WM_MEDIA_TYPE *pType, DWORD *pcbType) const
{
    if (!pcbType)
        return E_POINTER;
    const DWORD needed = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + format_.size());
    if (!pType) {
        *pcbType = needed;
        return S_OK;
    }
    if (*pcbType < needed) {
        *pcbType = needed;
        return E_INVALIDARG;
    }
    *pType = header_;
    BYTE *block = reinterpret_cast<BYTE *>(pType) + sizeof(WM_MEDIA_TYPE);
    if (!format_.empty())
        std::memcpy(block, format_.data(), format_.size());
    pType->pbFormat = format_.empty() ? nullptr : block;
    pType->cbFormat = static_cast<ULONG>(format_.size());
    *pcbType = needed;
    return S_OK;
}

const WAVEFORMATEX *MediaType::WaveFormat() const
{
    if (header_.formattype != WMFORMAT_WaveFormatEx || format_.size() < sizeof(WAVEFORMATEX))
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX *>(format_.data());
}

} // namespace orafon::wmvcore

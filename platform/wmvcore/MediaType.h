// An owned copy of a WM_MEDIA_TYPE with its format block, and the block
// layout GetMediaType hands out.
#pragma once

#include <orafon/win/wmsdkidl.h>

#include <vector>

namespace orafon::wmvcore {

class MediaType {
public:
    MediaType() = default;
    // A 16-bit PCM audio input type.
    static MediaType Pcm(DWORD nSamplesPerSec, WORD nChannels);
    // A coded audio type around a WAVEFORMATEX followed by its extra bytes.
    static MediaType Audio(REFGUID subtype, const WAVEFORMATEX &wfx, const BYTE *pbExtra, WORD cbExtra);

    // Copies pType and its format block; E_INVALIDARG for a null type or a
    // format size without bytes; E_OUTOFMEMORY.
    [[nodiscard]] HRESULT Assign(const WM_MEDIA_TYPE *pType);
    // GetMediaType's contract: size query with a null pType, else a copy
    // whose pbFormat points just after the structure in the caller's block.
    [[nodiscard]] HRESULT CopyOut(WM_MEDIA_TYPE *pType, DWORD *pcbType) const;

    const WM_MEDIA_TYPE &Header() const { return header_; }
    // The WAVEFORMATEX at the start of the format block, or null when the
    // block is not one.
    const WAVEFORMATEX *WaveFormat() const;
    const std::vector<BYTE> &Format() const { return format_; }

private:
    WM_MEDIA_TYPE header_{};
    std::vector<BYTE> format_;
};

} // namespace orafon::wmvcore

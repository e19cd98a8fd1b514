// CFrameCarry: the bytes of a sample frame that one Write ends in the middle
// of, kept for the next Write. Writers that hand whole frames to an encoder
// use it, so writes of any size never shift the samples that follow.
#pragma once

#include <orafon/win/wintypes.h>

#include <algorithm>
#include <array>
#include <cstring>

class CFrameCarry {
public:
    // The largest frame kept: eight channels of 16-bit samples.
    static constexpr ULONG kMaxFrameBytes = 16;

    // Starts over with frames of cbFrame bytes (1..kMaxFrameBytes); anything held is dropped.
    void Reset(ULONG cbFrame)
    {
        m_cbFrame = std::clamp<ULONG>(cbFrame, 1, kMaxFrameBytes);
        m_cbHeld = 0;
    }
    ULONG GetHeldBytes() const { return m_cbHeld; }

    // Calls encode(frames, frame count) for the whole frames that the bytes
    // held so far and pb make, in order, and keeps what remains of a frame.
    // Returns the first failure of encode.
    template <class Encode> HRESULT Take(const BYTE *pb, ULONG cb, Encode &&encode)
    {
        if (m_cbHeld > 0) {
            const ULONG n = std::min(cb, m_cbFrame - m_cbHeld);
            std::memcpy(m_abHeld.data() + m_cbHeld, pb, n);
            m_cbHeld += n;
            pb += n;
            cb -= n;
            if (m_cbHeld < m_cbFrame)
                return S_OK;
            m_cbHeld = 0;
            const HRESULT hr = encode(m_abHeld.data(), 1UL);
            if (FAILED(hr))
                return hr;
        }
        const ULONG nFrames = cb / m_cbFrame;
        const ULONG cbWhole = nFrames * m_cbFrame;
        m_cbHeld = cb - cbWhole;
        if (m_cbHeld > 0)
            std::memcpy(m_abHeld.data(), pb + cbWhole, m_cbHeld);
        return nFrames > 0 ? encode(pb, nFrames) : S_OK;
    }

private:
    std::array<BYTE, kMaxFrameBytes> m_abHeld{};
    ULONG m_cbFrame = 1;
    ULONG m_cbHeld = 0;
};

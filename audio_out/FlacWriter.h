// CFlacWriter: FF_FLAC files: lossless FLAC of 8- or 16-bit PCM with one or
// two channels, at any rate, through libFLAC's stream encoder writing the
// named file itself (it rewrites the stream header when the file is
// finished). Every encoder setting is applied explicitly, so the bitstream
// does not change with the library's defaults: streamable subset, blocks of
// 256 samples, fixed predictors only (no LPC), no mid-side stereo, residual
// partition order 0, no verification, no metadata blocks.
//
// A file that could not be written completely is a failure: a block the
// encoder could not write fails that Write, and Close fails when any block
// since Open was lost or the file could not be finished.
#pragma once

#include "FileWriter.h"
#include "FrameCarry.h"

#include <orafon/win/wintypes.h>

#include <cstdint>
#include <memory>

class CFlacWriter final : public CFileWriter {
public:
    // Samples per encoder block.
    static constexpr unsigned kBlockSize = 256;
    // Sample frames converted per encoder call; longer writes go in pieces.
    static constexpr ULONG kFramesPerPiece = 4096;

    CFlacWriter() = default;
    ~CFlacWriter() override;

    // Creates the encoder for the target's channels, bits and rate and the
    // file. E_OUTOFMEMORY when the encoder cannot be made, E_FAIL when a
    // setting is refused or the file cannot be created, E_INVALIDARG for a
    // null name. A writer still open is finished first.
    [[nodiscard]] HRESULT Open(const WAVEFORMATEX &wfxTarget, const char *pszFileName);
    // Encodes cb bytes of interleaved PCM in the target format: 8-bit samples
    // are unsigned (0x80 is silence), 16-bit ones signed little-endian. A
    // frame split between two writes waits for the rest; one still
    // incomplete at Close is dropped. *pcbWritten tells the bytes taken.
    // S_OK and nothing taken when idle; E_INVALIDARG for null bytes; E_FAIL
    // when the encoder fails.
    [[nodiscard]] HRESULT Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten) override;
    // Encodes the last block, rewrites the stream header and closes the file.
    // S_OK when idle; E_FAIL when the file is incomplete.
    [[nodiscard]] HRESULT Close() override;

    [[nodiscard]] bool IsOpen() const { return m_pEncoder != nullptr; }

    // The value the encoder receives for one sample of the given width.
    static int32_t SampleValue(const BYTE *pb, WORD wBitsPerSample)
    {
        if (wBitsPerSample == 8)
            return static_cast<int32_t>(pb[0]) - 128;
        return static_cast<int16_t>(static_cast<uint16_t>(pb[0] | (pb[1] << 8)));
    }

private:
    // The library's encoder instance (its type is an unnamed struct, so it is
    // held through a record of this writer's own).
    struct Encoder;
    struct EncoderDeleter {
        void operator()(Encoder *p) const;
    };

    [[nodiscard]] HRESULT ApplySettings(const WAVEFORMATEX &wfx);
    [[nodiscard]] HRESULT EncodeFrames(const BYTE *pb, ULONG nFrames);
    [[nodiscard]] HRESULT Encode(const BYTE *pb, ULONG nFrames);

    std::unique_ptr<Encoder, EncoderDeleter> m_pEncoder;
    WAVEFORMATEX m_wfx{};
    std::unique_ptr<int32_t[]> m_pSamples;
    CFrameCarry m_carry;
    // A block since Open could not be encoded or written; Close reports it.
    bool m_bFailed = false;
};

// CMp4Writer: FF_MP4 files, one MPEG-4 audio track of raw AAC Low Complexity
// frames in an MP4 file. The encoding is done by the run-time AAC encoder
// library (AacEncoderApi.h); the file is built with libavformat's MP4 muxer.
//
// The file has an "ftyp" and an "iods" atom (audio profile level 0x0F), movie
// time scale 90000, the track's time scale is the sample rate, the encoder's
// AudioSpecificConfig sits in the track's ES descriptor, and every frame is
// one sync sample with its own duration. The encoder's priming is declared
// in an edit list and the encoder is drained at Close, so the file plays
// exactly the samples it was given.
#pragma once

#include "AacEncoderApi.h"
#include "FileWriter.h"

#include <orafon/win/faac.h>
#include <orafon/win/wintypes.h>

#include <cstdint>
#include <memory>

class CMp4Writer final : public CFileWriter {
public:
    static constexpr int kMovieTimeScale = 90000;
    static constexpr int kAudioProfileLevel = 0x0F;

    // The encoder quality for a catalogue bit rate (bit/s): 33 kbit/s gives
    // 50, 57 kbit/s gives 150, anything else 100.
    static ULONG QuantQualFor(LONG nBitRate);
    // Sets the fields of the encoder configuration the writer fixes.
    static void ApplySettings(faacEncConfiguration &cfg, LONG nBitRate);

    CMp4Writer();
    ~CMp4Writer() override;

    // E_NOTIMPL without the encoder library (no file is created), E_INVALIDARG
    // without a file name, E_FAIL when the encoder or the file cannot be set
    // up. After a failure the writer is idle.
    [[nodiscard]] HRESULT Open(LONG nBitRate, DWORD dwSampleRate, WORD nChannels, const char *pszFileName);
    // 16-bit little-endian interleaved PCM, gathered into blocks of 1024
    // samples per channel. E_FAIL when idle, when the encoder fails or when
    // the file cannot take a frame.
    [[nodiscard]] HRESULT Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten) override;
    // Encodes what is pending, drains the encoder, finishes the file. S_OK
    // when idle; E_FAIL when any part of the file could not be written.
    [[nodiscard]] HRESULT Close() override;

    [[nodiscard]] bool IsOpen() const { return m_hEncoder != nullptr; }
    [[nodiscard]] DWORD GetSamplesPerBlock() const { return m_nInputSamples; }
    [[nodiscard]] DWORD GetPendingSamples() const { return m_cbFilled / 2; }
    // Encoder calls with input since Open (draining calls not counted).
    ULONG GetEncodeCalls() const { return m_nEncodeCalls; }

private:
    struct Container;

    [[nodiscard]] HRESULT OpenEncoder(LONG nBitRate, DWORD dwSampleRate, WORD nChannels);
    [[nodiscard]] HRESULT OpenContainer(const char *pszFileName, DWORD dwSampleRate, WORD nChannels);
    [[nodiscard]] HRESULT EncodeBlock(DWORD nSamples);
    [[nodiscard]] HRESULT Drain();
    [[nodiscard]] HRESULT TakeFrame(int cb);
    [[nodiscard]] HRESULT WriteHeldFrame(int64_t duration);
    [[nodiscard]] HRESULT Finish();
    void Release();

    // The encoder library's entry points this file was opened with.
    AacEncoderApi m_api;
    faacEncHandle m_hEncoder = nullptr;
    WORD m_nChannels = 2;
    ULONG m_nInputSamples = 0;
    ULONG m_cbMaxOutput = 0;
    std::unique_ptr<BYTE[]> m_pbOutput;
    std::unique_ptr<BYTE[]> m_pbInput;
    // Bytes held in the input buffer; counted in bytes so that an odd-sized
    // write never shifts the samples that follow it.
    DWORD m_cbFilled = 0;
    // The last frame is written only when the next one (or the end) shows
    // how long it plays.
    std::unique_ptr<BYTE[]> m_pbHeld;
    int m_cbHeld = 0;
    int64_t m_nSamplesIn = 0;     // per channel, fed to the encoder
    int64_t m_nFramesOut = 0;     // frames the encoder has given
    int64_t m_nPrimingFrames = 0; // calls without a frame before the first one
    ULONG m_nEncodeCalls = 0;
    std::unique_ptr<Container> m_pContainer;
    // A frame or the file could not be written, or the encoder failed; Close reports it.
    bool m_bFailed = false;
};

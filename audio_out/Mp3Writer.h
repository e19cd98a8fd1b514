// CMp3Writer: FF_MP3 files, constant bit rate at the target sample rate, with
// the encoder's VBR/info header written into the finished file. The encoding
// is done by the run-time encoder library (Mp3EncoderApi.h).
#pragma once

#include "FileWriter.h"
#include "Mp3EncoderApi.h"

#include <orafon/Holders.h>
#include <orafon/win/BladeMP3EncDLL.h>
#include <orafon/win/wintypes.h>

#include <cstdio>
#include <memory>
#include <string>

class CMp3Writer final : public CFileWriter {
public:
    // The bit rates (kbit/s) the writer asks the encoder for.
    static constexpr DWORD kMp3Bitrates[] = {16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    // The entry nearest to nKbps; a tie keeps the lower rate.
    [[nodiscard]] static DWORD SnapBitrate(LONG nKbps);
    // The BE_CONFIG the writer hands the encoder.
    static BE_CONFIG MakeConfig(DWORD dwKbps, DWORD dwSampleRate, LONG nMode, LONG nPreset);

    CMp3Writer() = default;
    ~CMp3Writer() override;

    // nMode: BE_MP3_MODE_JSTEREO (1) for two channels, BE_MP3_MODE_MONO (3).
    // E_NOTIMPL without the encoder library (no file is created),
    // E_UNEXPECTED when the encoder refuses the configuration, E_OUTOFMEMORY,
    // E_ACCESSDENIED when the file cannot be created.
    [[nodiscard]] HRESULT Open(LONG nKbps, DWORD dwSampleRate, LONG nMode, const char *pszFileName, LONG nPreset);
    // 16-bit little-endian interleaved PCM, gathered into whole encoder blocks.
    // E_UNEXPECTED when the encoder fails on a block (the block is dropped),
    // E_ACCESSDENIED when the file takes fewer bytes than produced.
    [[nodiscard]] HRESULT Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten) override;
    // Encodes what is pending, flushes the encoder, closes the file and lets
    // the library write its header. S_OK when idle. E_UNEXPECTED when the
    // encoder could not deliver its last frames, E_FAIL when the file could
    // not be written completely.
    [[nodiscard]] HRESULT Close() override;

    [[nodiscard]] bool IsOpen() const { return m_hbeStream != 0; }
    [[nodiscard]] DWORD GetSamplesPerBlock() const { return m_dwSamples; }
    [[nodiscard]] DWORD GetPendingSamples() const { return m_cbFilled / 2; }

private:
    [[nodiscard]] HRESULT EncodeBlock(DWORD nSamples);
    [[nodiscard]] HRESULT WriteOutput(DWORD cb);
    [[nodiscard]] HRESULT Finish();
    void Release();

    // The encoder library's entry points this file was opened with.
    Mp3EncoderApi m_api;
    DWORD m_dwSamples = 0;
    DWORD m_cbOutput = 0;
    HBE_STREAM m_hbeStream = 0;
    std::unique_ptr<BYTE[]> m_pbOutput;
    std::unique_ptr<BYTE[]> m_pbInput;
    // Bytes held in the input buffer; counted in bytes so that an odd-sized
    // write never shifts the samples that follow it.
    DWORD m_cbFilled = 0;
    std::string m_strFileName;
    orafon::CStdioFile m_pFile;
    // A write to the file failed; Close reports it.
    bool m_bWriteFailed = false;
};

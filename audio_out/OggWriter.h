// COggWriter: FF_OGG files: one logical Ogg stream of Vorbis audio encoded
// at a nominal bit rate (libvorbis with its encoder setup, libogg), from
// 16-bit little-endian PCM of one or two interleaved channels.
//
// A file that could not be written completely is a failure: a page the file
// did not take fails that Write, and Close fails when any page since Open was
// lost or the file could not be flushed and closed.
#pragma once

#include "FileWriter.h"
#include "FrameCarry.h"

#include <orafon/Holders.h>
#include <orafon/win/wintypes.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>

class COggWriter final : public CFileWriter {
public:
    COggWriter();
    ~COggWriter() override;

    // Creates the file and writes the three Vorbis header packets on pages of
    // their own, so the audio starts on a fresh page. E_ACCESSDENIED when the
    // file cannot be created, E_FAIL when the encoder refuses the channel
    // count (1 to 8 here), rate and bit rate (the empty file stays) or the
    // headers cannot be written, E_OUTOFMEMORY. A writer still open is
    // finished first.
    [[nodiscard]] HRESULT Open(LONG nBitRate, DWORD nSampleRate, WORD nChannels, const char *pszFileName);
    // Encodes the sample frames of cb bytes. A frame split between two writes
    // waits for the rest (so writes of any size keep the samples in step);
    // one still incomplete at Close is dropped. Only Close ends the stream: an
    // empty write encodes nothing. *pcbWritten tells the bytes taken.
    // CO_E_NOTINITIALIZED when idle, E_INVALIDARG for null bytes, E_FAIL when
    // the encoder fails or the file does not take a page.
    [[nodiscard]] HRESULT Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten) override;
    // Ends the stream (every remaining page and the end-of-stream page are
    // written) and closes the file. S_OK when idle; E_FAIL when the file is
    // incomplete.
    [[nodiscard]] HRESULT Close() override;

    [[nodiscard]] bool IsOpen() const { return static_cast<bool>(m_pFile); }
    [[nodiscard]] int GetSerialNumber() const { return m_nSerialNumber; }

    // The stream serial number of a file opened at the given second. It comes
    // from a generator of the writer's own seeded with that second, so two
    // files opened in the same second share it and the host's rand() sequence
    // is left alone.
    [[nodiscard]] static int SerialNumberFor(std::time_t seconds);
    // What one 16-bit sample becomes for the analysis: s / 32768.
    static float SampleToFloat(int16_t s) { return static_cast<float>(s) * (1.0f / 32768.0f); }
    // Frames per analysis buffer request; longer writes are taken in pieces of
    // this size so the encoder's buffer stays bounded.
    static constexpr ULONG kFramesPerPiece = 4096;
    // Channels of 16-bit samples a frame may have.
    static constexpr WORD kMaxChannels = CFrameCarry::kMaxFrameBytes / 2;

private:
    struct Encoder;
    struct EncoderDeleter {
        void operator()(Encoder *p) const;
    };

    [[nodiscard]] HRESULT WriteHeaders();
    [[nodiscard]] HRESULT AnalyseFrames(const BYTE *pb, ULONG nFrames);
    [[nodiscard]] HRESULT Analyse(const BYTE *pb, ULONG nFrames);
    [[nodiscard]] HRESULT DrainBlocks();
    [[nodiscard]] HRESULT WritePage(const void *pHeader, long cbHeader, const void *pBody, long cbBody);
    [[nodiscard]] HRESULT Fail(HRESULT hr);
    [[nodiscard]] HRESULT CloseFile();

    std::unique_ptr<Encoder, EncoderDeleter> m_pEncoder;
    orafon::CStdioFile m_pFile;
    int m_nChannels = 0;
    int m_nSerialNumber = 0;
    CFrameCarry m_carry;
    // The first failure since Open; Close reports it.
    HRESULT m_hrFailure = S_OK;
};

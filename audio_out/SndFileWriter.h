// CSndFileWriter: FF_VOX, FF_AU and FF_AIFF files through libsndfile. One
// object serves all three; the file format index given to Open picks the
// container and encoding: headerless Dialogic VOX ADPCM (mono only), Sun AU
// or AIFF with 16-bit linear PCM, each in libsndfile's default byte order.
#pragma once

#include "FileWriter.h"

#include <orafon/win/wintypes.h>

#include <array>
#include <memory>
#include <sndfile.h>

class CSndFileWriter final : public CFileWriter {
public:
    // The SF_INFO.format of a file format index; 0 for an index the writer does not serve.
    [[nodiscard]] static int SndFileFormatOf(LONG nFileFormat);

    CSndFileWriter() = default;
    ~CSndFileWriter() override;

    // Starts a file of wfxTarget's rate and channels. A file still open is
    // finished first. E_INVALIDARG for an index other than FF_VOX, FF_AU or
    // FF_AIFF; E_FAIL when the target is not 16-bit PCM, when libsndfile
    // refuses the format (VOX with two channels) or cannot create the file.
    // A refused format creates no file.
    [[nodiscard]] HRESULT Open(const WAVEFORMATEX &wfxTarget, const char *pszFileName, LONG nFileFormat);
    // 16-bit PCM in the target's channel layout, any byte count: bytes short
    // of a whole sample frame (for VOX, of a pair of samples) wait for the
    // next Write. *pcbWritten counts the
    // bytes taken. CO_E_NOTINITIALIZED when idle, E_INVALIDARG for null
    // pointers, E_FAIL when libsndfile stored fewer samples than given.
    [[nodiscard]] HRESULT Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten) override;
    // Finishes the file (libsndfile completes the header). S_OK when idle;
    // E_FAIL when the file could not be finished or any Write since Open
    // failed. Bytes of an incomplete last frame are dropped; a last odd VOX
    // sample is written (libsndfile pads it with a silent one).
    [[nodiscard]] HRESULT Close() override;

    [[nodiscard]] bool IsOpen() const { return m_file != nullptr; }

private:
    struct SndFileCloser {
        void operator()(SNDFILE *file) const { sf_close(file); }
    };

    [[nodiscard]] HRESULT WriteFrames(const BYTE *pb, ULONG cbFrames);
    [[nodiscard]] HRESULT WriteSamples(const short *ps, sf_count_t nSamples);
    [[nodiscard]] HRESULT WriteCarriedFrames();
    ULONG FillCarry(const BYTE *pb, ULONG cb);

    std::unique_ptr<SNDFILE, SndFileCloser> m_file;
    WAVEFORMATEX m_wfxTarget{};
    ULONG m_cbFrame = 2;
    // Bytes handed to libsndfile per unit: a frame, or two for VOX.
    ULONG m_cbUnit = 2;
    // Bytes of an incomplete unit, put in front of the next Write.
    std::array<BYTE, 8> m_abCarry{};
    ULONG m_cbCarry = 0;
    // A Write since Open that libsndfile did not store completely; Close reports it.
    bool m_bWriteFailed = false;
};

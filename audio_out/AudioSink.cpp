#include "AudioSink.h"

#include <orafon/CatchAtEdge.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <span>

namespace {

[[nodiscard]] bool SameFormat(const WAVEFORMATEX &a, const WAVEFORMATEX &b)
{
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

} // namespace

CAudioSink::CAudioSink()
{
    MakeWriters();
}

CAudioSink::~CAudioSink()
{
    // The writers' own teardown finishes any file still open; the conversion
    // goes with the sink.
    ReleaseConversion();
}

void CAudioSink::MakeWriters() noexcept
{
    // Rows with the same maker share one object: one sound-file writer serves
    // VOX, AU and AIFF, as one file at a time is written.
    const HRESULT built = orafon::CatchAtEdge([&] {
        const std::span<const FileTypeDescriptor> types = AllFileTypes();
        std::vector<PFNMAKEFILEWRITER> makers;
        m_writerOfType.assign(types.size(), nullptr);
        for (size_t i = 0; i < types.size(); ++i) {
            const PFNMAKEFILEWRITER make = types[i].writer.make;
            const auto made = std::find(makers.begin(), makers.end(), make);
            if (made != makers.end()) {
                m_writerOfType[i] = m_writers[made - makers.begin()].get();
                continue;
            }
            m_writers.push_back(make());
            makers.push_back(make);
            m_writerOfType[i] = m_writers.back().get();
        }
    });
    if (FAILED(built)) {
        // Out of memory: every Open reports it.
        m_writerOfType.clear();
        m_writers.clear();
    }
}

CFileWriter *CAudioSink::SelectedWriter() const
{
    if (m_nFileFormat < 0 || m_nFileFormat >= static_cast<LONG>(m_writerOfType.size()))
        return nullptr;
    return m_writerOfType[m_nFileFormat];
}

HRESULT CAudioSink::Open(const char *pszFileName, const WAVEFORMATEX *pwfxSource, const WAVEFORMATEX *pwfxTarget,
                         LONG nBitRate)
{
    if (!pwfxSource || !pwfxTarget || !pszFileName || !*pszFileName)
        return E_INVALIDARG;
    // A file still open is finished first, so that nothing of it is lost or
    // leaked; its verdict went to whoever ended its speech, not to this open.
    static_cast<void>(Close());
    m_hrWriteFailure = S_OK;
    m_cbCarry = 0;
    HRESULT hr = S_OK;
    if (const FileTypeDescriptor *type = FindFileType(m_nFileFormat)) {
        CFileWriter *writer = SelectedWriter();
        if (!writer)
            return E_OUTOFMEMORY;
        // Nothing a writer throws leaves the sink: the speech bridge calls it
        // from the engines' callbacks.
        hr = orafon::CatchAtEdge([&] { return type->writer.open(*writer, pszFileName, *pwfxTarget, nBitRate); });
        if (FAILED(hr)) {
            static_cast<void>(Close()); // the open's failure is the one reported
            return hr;
        }
    }
    if (!SameFormat(*pwfxSource, *pwfxTarget)) {
        const HRESULT hrConv = OpenConversion(*pwfxSource, *pwfxTarget);
        if (FAILED(hrConv)) {
            static_cast<void>(Close()); // the open's failure is the one reported
            return hrConv;
        }
    }
    if (const HRESULT hrName = orafon::CatchAtEdge([&] { m_strFileName = pszFileName; }); FAILED(hrName)) {
        static_cast<void>(Close()); // the open's failure is the one reported
        return hrName;
    }
    m_wfxSource = *pwfxSource;
    m_wfxTarget = *pwfxTarget;
    m_nBitRate = nBitRate;
    return hr;
}

HRESULT CAudioSink::OpenConversion(const WAVEFORMATEX &src, const WAVEFORMATEX &dst)
{
    WAVEFORMATEX wfxSrc = src, wfxDst = dst;
    if (const MMRESULT mr = acmStreamOpen(&m_hStream, nullptr, &wfxSrc, &wfxDst, nullptr, 0, 0, 0);
        mr != MMSYSERR_NOERROR) {
        m_hStream = nullptr;
        return mr == MMSYSERR_NOMEM ? E_OUTOFMEMORY : E_FAIL;
    }
    DWORD cbDst = 0;
    if (acmStreamSize(m_hStream, m_cbSrcPiece, &cbDst, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR || cbDst == 0)
        return E_UNEXPECTED;
    m_pbDst.reset(new (std::nothrow) BYTE[cbDst]());
    if (!m_pbDst)
        return E_OUTOFMEMORY;
    m_cbDst = cbDst;
    m_cbSrcBlock = src.nBlockAlign ? src.nBlockAlign : 1;
    return S_OK;
}

void CAudioSink::ReleaseConversion()
{
    if (m_hStream) {
        acmStreamClose(m_hStream, 0);
        m_hStream = nullptr;
    }
    m_pbDst.reset();
    m_cbDst = 0;
    m_cbCarry = 0;
}

HRESULT CAudioSink::ConvertPiece(const BYTE *pb, DWORD cb, DWORD fdwConvert, DWORD *pcbUsed, CFileWriter &writer)
{
    ACMSTREAMHEADER hdr{};
    hdr.cbStruct = sizeof(ACMSTREAMHEADER);
    hdr.pbSrc = const_cast<BYTE *>(pb);
    hdr.cbSrcLength = cb;
    hdr.pbDst = m_pbDst.get();
    hdr.cbDstLength = m_cbDst;
    MMRESULT mr = acmStreamPrepareHeader(m_hStream, &hdr, 0);
    if (mr == MMSYSERR_NOERROR) {
        mr = acmStreamConvert(m_hStream, &hdr, fdwConvert);
        acmStreamUnprepareHeader(m_hStream, &hdr, 0);
    }
    if (pcbUsed)
        *pcbUsed = hdr.cbSrcLengthUsed;
    if (mr != MMSYSERR_NOERROR)
        return E_FAIL;
    return WriteToWriter(writer, hdr.cbDstLengthUsed, m_pbDst.get());
}

HRESULT CAudioSink::WriteToWriter(CFileWriter &writer, ULONG cb, const BYTE *pb)
{
    if (m_pfnObserver)
        m_pfnObserver(cb, m_pObserverContext);
    ULONG cbWritten = 0;
    return orafon::CatchAtEdge([&] { return writer.Write(cb, pb, &cbWritten); });
}

HRESULT CAudioSink::WriteConverted(const BYTE *pb, ULONG cb, CFileWriter &writer)
{
    HRESULT hrFirstFailure = S_OK;
    HRESULT hr = E_FAIL;
    auto note = [&](HRESULT h) {
        hr = h;
        if (FAILED(h) && SUCCEEDED(hrFirstFailure))
            hrFirstFailure = h;
    };
    // An incomplete sample frame left by the last Write is completed first.
    if (m_cbCarry > 0 && cb > 0) {
        const ULONG take = std::min<ULONG>(cb, m_cbSrcBlock - m_cbCarry);
        std::memcpy(m_abCarry.data() + m_cbCarry, pb, take);
        m_cbCarry += take;
        pb += take;
        cb -= take;
        if (m_cbCarry == m_cbSrcBlock) {
            note(ConvertPiece(m_abCarry.data(), m_cbCarry, ACM_STREAMCONVERTF_BLOCKALIGN, nullptr, writer));
            m_cbCarry = 0;
        } else {
            hr = S_OK; // kept for the next Write
        }
    }
    while (cb > 0) {
        const DWORD piece = std::min<DWORD>(cb, m_cbSrcPiece);
        DWORD used = 0;
        note(ConvertPiece(pb, piece, ACM_STREAMCONVERTF_BLOCKALIGN, &used, writer));
        // The converter takes whole frames only; the rest of a frame waits.
        if (used < piece && piece - used < m_cbSrcBlock) {
            m_cbCarry = piece - used;
            std::memcpy(m_abCarry.data(), pb + used, m_cbCarry);
        }
        pb += piece;
        cb -= piece;
    }
    return FAILED(hrFirstFailure) ? hrFirstFailure : hr;
}

HRESULT CAudioSink::Write(const void *pData, ULONG cb)
{
    CFileWriter *selected = SelectedWriter();
    if (!selected)
        return E_FAIL;
    if (!pData && cb > 0)
        return E_INVALIDARG;
    CFileWriter &writer = *selected;
    HRESULT hr;
    if (!m_hStream) {
        hr = WriteToWriter(writer, cb, static_cast<const BYTE *>(pData));
    } else {
        hr = WriteConverted(static_cast<const BYTE *>(pData), cb, writer);
        if (cb == 0)
            return hr; // nothing was offered, nothing was lost
    }
    if (FAILED(hr) && SUCCEEDED(m_hrWriteFailure) && hr != CO_E_NOTINITIALIZED)
        m_hrWriteFailure = hr;
    return hr;
}

HRESULT CAudioSink::DrainConversion(CFileWriter &writer)
{
    // The resampler holds back its last samples until it is told the input
    // has ended; they belong at the end of the file.
    HRESULT hr = S_OK;
    for (;;) {
        ACMSTREAMHEADER hdr{};
        hdr.cbStruct = sizeof(ACMSTREAMHEADER);
        hdr.pbDst = m_pbDst.get();
        hdr.cbDstLength = m_cbDst;
        if (acmStreamPrepareHeader(m_hStream, &hdr, 0) != MMSYSERR_NOERROR)
            return E_FAIL;
        const MMRESULT mr = acmStreamConvert(m_hStream, &hdr, ACM_STREAMCONVERTF_END);
        acmStreamUnprepareHeader(m_hStream, &hdr, 0);
        if (mr != MMSYSERR_NOERROR)
            return E_FAIL;
        if (hdr.cbDstLengthUsed == 0)
            return hr;
        const HRESULT hrWrite = WriteToWriter(writer, hdr.cbDstLengthUsed, m_pbDst.get());
        if (FAILED(hrWrite) && SUCCEEDED(hr))
            hr = hrWrite;
    }
}

HRESULT CAudioSink::Close()
{
    HRESULT hr = S_OK;
    if (CFileWriter *writer = SelectedWriter()) {
        if (m_hStream)
            hr = DrainConversion(*writer);
        const HRESULT hrClose = orafon::CatchAtEdge([writer] { return writer->Close(); });
        // An idle writer has nothing to finish; that is not a failure.
        if (FAILED(hrClose) && hrClose != CO_E_NOTINITIALIZED && SUCCEEDED(hr))
            hr = hrClose;
    }
    ReleaseConversion();
    if (SUCCEEDED(hr) && FAILED(m_hrWriteFailure))
        hr = m_hrWriteFailure;
    m_hrWriteFailure = S_OK;
    return hr;
}

CAudioSinkHandle::CAudioSinkHandle() : m_pSink(new (std::nothrow) CAudioSink) {}

CAudioSinkHandle::~CAudioSinkHandle() = default;

void CAudioSinkHandle::SetFileFormat(LONG nFileFormat)
{
    if (m_pSink)
        m_pSink->SetFileFormat(nFileFormat);
}

HRESULT CAudioSinkHandle::EnumFormats(LONG nFileFormat, PFNADDWAVEFORMAT pfnAdd, void *pContext) const
{
    return m_pSink ? CAudioSink::EnumFormats(nFileFormat, pfnAdd, pContext) : S_OK;
}

HRESULT CAudioSinkHandle::Open(const char *pszFileName, const WAVEFORMATEX *pwfxSource, const WAVEFORMATEX *pwfxTarget,
                               LONG nBitRate)
{
    return m_pSink ? m_pSink->Open(pszFileName, pwfxSource, pwfxTarget, nBitRate) : S_OK;
}

HRESULT CAudioSinkHandle::Write(const void *pData, ULONG cb)
{
    return m_pSink ? m_pSink->Write(pData, cb) : S_OK;
}

HRESULT CAudioSinkHandle::Close()
{
    return m_pSink ? m_pSink->Close() : S_OK;
}

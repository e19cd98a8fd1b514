#include "Mp3Writer.h"

#include "Mp3EncoderApi.h"

#include <orafon/CatchAtEdge.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

DWORD CMp3Writer::SnapBitrate(LONG nKbps)
{
    DWORD best = kMp3Bitrates[0];
    int64_t bestDiff = std::llabs(static_cast<int64_t>(nKbps) - best);
    for (DWORD rate : kMp3Bitrates) {
        const int64_t diff = std::llabs(static_cast<int64_t>(nKbps) - rate);
        if (diff < bestDiff) { // strictly smaller: a tie keeps the lower rate
            best = rate;
            bestDiff = diff;
        }
    }
    return best;
}

BE_CONFIG CMp3Writer::MakeConfig(DWORD dwKbps, DWORD dwSampleRate, LONG nMode, LONG nPreset)
{
    BE_CONFIG cfg;
    std::memset(&cfg, 0, sizeof(cfg));
    cfg.dwConfig = BE_CONFIG_LAME;
    auto &l = cfg.format.LHV1;
    l.dwStructVersion = CURRENT_STRUCT_VERSION;
    l.dwStructSize = CURRENT_STRUCT_SIZE;
    l.dwSampleRate = dwSampleRate;
    l.dwReSampleRate = dwSampleRate;
    l.nMode = nMode;
    l.dwBitrate = dwKbps;
    l.dwMaxBitrate = 0;
    l.nPreset = nPreset;
    l.dwMpegVersion = MPEG1;
    l.dwPsyModel = 0;
    l.dwEmphasis = 0;
    l.bOriginal = TRUE;
    l.bWriteVBRHeader = TRUE;
    l.bEnableVBR = FALSE;
    l.nVBRQuality = 0;
    l.dwVbrAbr_bps = 0;
    l.nVbrMethod = VBR_METHOD_NONE;
    l.bNoRes = TRUE;
    l.bStrictIso = TRUE;
    l.nQuality = 0;
    return cfg;
}

CMp3Writer::~CMp3Writer()
{
    // A file still open is finished; nobody is left to hear its verdict.
    static_cast<void>(Close());
}

HRESULT CMp3Writer::Open(LONG nKbps, DWORD dwSampleRate, LONG nMode, const char *pszFileName, LONG nPreset)
{
    if (m_hbeStream || m_pFile)
        static_cast<void>(Close()); // the earlier file's verdict is not this open's
    if (!Mp3EncoderApiGet().beInitStream)
        Mp3EncoderApiLoad();
    m_api = Mp3EncoderApiGet();
    const Mp3EncoderApi &api = m_api;
    // A library without the calls every file needs is as good as none.
    if (!api.beInitStream || !api.beEncodeChunk || !api.beDeinitStream || !api.beCloseStream)
        return E_NOTIMPL;
    if (!pszFileName)
        return E_INVALIDARG;
    const DWORD dwKbps = SnapBitrate(nKbps);
    if (const HRESULT hrName = orafon::CatchAtEdge([&] { m_strFileName = pszFileName; }); FAILED(hrName))
        return hrName;
    BE_CONFIG cfg = MakeConfig(dwKbps, dwSampleRate, nMode, nPreset);
    m_dwSamples = 0;
    m_cbOutput = 0;
    m_bWriteFailed = false;
    m_hbeStream = 0;
    if (const BE_ERR err = api.beInitStream(&cfg, &m_dwSamples, &m_cbOutput, &m_hbeStream);
        err != BE_ERR_SUCCESSFUL || m_dwSamples == 0) {
        Release();
        // The encoder's interface has no code of its own for running out of
        // memory: no stream can be made now is the one it gives.
        return err == BE_ERR_NO_MORE_HANDLES ? E_OUTOFMEMORY : E_UNEXPECTED;
    }
    m_pbOutput.reset(new (std::nothrow) BYTE[m_cbOutput]);
    m_pbInput.reset(m_pbOutput ? new (std::nothrow) BYTE[m_dwSamples * 2] : nullptr);
    if (!m_pbOutput || !m_pbInput) {
        Release();
        return E_OUTOFMEMORY;
    }
    m_cbFilled = 0;
    m_pFile.Reset(std::fopen(pszFileName, "wb"));
    if (!m_pFile) {
        Release();
        return E_ACCESSDENIED;
    }
    return S_OK;
}

HRESULT CMp3Writer::WriteOutput(DWORD cb)
{
    if (!m_pFile || cb == 0)
        return S_OK;
    if (std::fwrite(m_pbOutput.get(), 1, cb, m_pFile.Get()) != cb) {
        m_bWriteFailed = true;
        return E_ACCESSDENIED;
    }
    return S_OK;
}

HRESULT CMp3Writer::EncodeBlock(DWORD nSamples)
{
    DWORD cbProduced = 0;
    const BE_ERR err = m_api.beEncodeChunk(m_hbeStream, nSamples, reinterpret_cast<PSHORT>(m_pbInput.get()),
                                           m_pbOutput.get(), &cbProduced);
    m_cbFilled = 0;
    if (err != BE_ERR_SUCCESSFUL)
        return E_UNEXPECTED;
    return WriteOutput(cbProduced);
}

HRESULT CMp3Writer::Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten)
{
    if (pcbWritten)
        *pcbWritten = 0;
    if (!m_hbeStream)
        return CO_E_NOTINITIALIZED;
    if (!pb && cb > 0)
        return E_INVALIDARG;
    const DWORD cbBlock = m_dwSamples * 2;
    ULONG consumed = 0;
    while (consumed < cb) {
        const ULONG n = std::min<ULONG>(cb - consumed, cbBlock - m_cbFilled);
        std::memcpy(m_pbInput.get() + m_cbFilled, pb + consumed, n);
        m_cbFilled += n;
        consumed += n;
        if (m_cbFilled < cbBlock)
            break; // all input taken
        const HRESULT hr = EncodeBlock(m_dwSamples);
        if (FAILED(hr)) {
            if (pcbWritten)
                *pcbWritten = consumed;
            return hr;
        }
    }
    if (pcbWritten)
        *pcbWritten = consumed;
    return S_OK;
}

HRESULT CMp3Writer::Finish()
{
    const Mp3EncoderApi &api = m_api;
    HRESULT hr = S_OK;
    if (m_cbFilled / 2 > 0) {
        const HRESULT hrLast = EncodeBlock(m_cbFilled / 2);
        if (FAILED(hrLast))
            hr = hrLast;
    }
    m_cbFilled = 0;
    DWORD cbProduced = 0;
    if (api.beDeinitStream(m_hbeStream, m_pbOutput.get(), &cbProduced) != BE_ERR_SUCCESSFUL)
        return E_UNEXPECTED; // the last frames are lost; Release closes what is left
    if (FAILED(WriteOutput(cbProduced)) && SUCCEEDED(hr))
        hr = E_FAIL;
    if (m_pFile) {
        // The stream's buffered bytes reach the disk only here; a full disk shows now.
        const bool bad = std::ferror(m_pFile.Get()) != 0;
        if (m_pFile.Close() != 0 || bad)
            m_bWriteFailed = true;
    }
    if (api.beWriteInfoTag) {
        api.beWriteInfoTag(m_hbeStream, m_strFileName.c_str());
        api.beCloseStream(m_hbeStream);
    } else {
        api.beCloseStream(m_hbeStream);
        if (api.beWriteVBRHeader)
            api.beWriteVBRHeader(m_strFileName.c_str());
    }
    m_hbeStream = 0;
    return hr;
}

void CMp3Writer::Release()
{
    if (m_hbeStream) {
        m_api.beCloseStream(m_hbeStream);
        m_hbeStream = 0;
    }
    if (m_pFile) {
        if (m_pFile.Close() != 0)
            m_bWriteFailed = true;
    }
    m_pbOutput.reset();
    m_pbInput.reset();
    m_cbFilled = 0;
}

HRESULT CMp3Writer::Close()
{
    HRESULT hr = S_OK;
    // Release runs whatever Finish meets: the destructor closes through here.
    if (m_hbeStream)
        hr = orafon::CatchAtEdge([this] { return Finish(); });
    Release();
    if (SUCCEEDED(hr) && m_bWriteFailed)
        hr = E_FAIL;
    m_bWriteFailed = false;
    return hr;
}

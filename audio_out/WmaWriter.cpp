#include "WmaWriter.h"

#include <orafon/CatchAtEdge.h>

#include <orafon/PcmFormat.h>
#include <orafon/win/objbase.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr QWORD kUnitsPerSecond = 10000000;

// The media type of a stream configuration, read into a block of its own.
struct MediaTypeBlock {
    std::unique_ptr<BYTE[]> bytes;
    const WM_MEDIA_TYPE *type() const { return reinterpret_cast<const WM_MEDIA_TYPE *>(bytes.get()); }
};

[[nodiscard]] HRESULT ReadMediaType(IWMStreamConfig *config, MediaTypeBlock &block)
{
    CComPtr<IWMMediaProps> props;
    HRESULT hr = config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void **>(&props));
    if (FAILED(hr))
        return hr;
    DWORD cb = 0;
    hr = props->GetMediaType(nullptr, &cb);
    if (FAILED(hr))
        return hr;
    if (cb < sizeof(WM_MEDIA_TYPE))
        return E_UNEXPECTED;
    block.bytes.reset(new (std::nothrow) BYTE[cb]);
    if (!block.bytes)
        return E_OUTOFMEMORY;
    return props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE *>(block.bytes.get()), &cb);
}

// The input type the writer gives every input: 16-bit PCM at the target.
WM_MEDIA_TYPE InputMediaType(WAVEFORMATEX &wfx)
{
    WM_MEDIA_TYPE mt{};
    mt.majortype = WMMEDIATYPE_Audio;
    mt.subtype = WMMEDIASUBTYPE_PCM;
    mt.bFixedSizeSamples = TRUE;
    mt.bTemporalCompression = FALSE;
    mt.lSampleSize = wfx.nBlockAlign;
    mt.formattype = WMFORMAT_WaveFormatEx;
    mt.pUnk = nullptr;
    mt.cbFormat = sizeof(WAVEFORMATEX);
    mt.pbFormat = reinterpret_cast<BYTE *>(&wfx);
    return mt;
}

[[nodiscard]] bool AnsiToWide(const char *text, std::u16string &out)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0)
        return false;
    if (FAILED(orafon::CatchAtEdge([&] { out.assign(static_cast<size_t>(n), u'\0'); })))
        return false;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n) != n)
        return false;
    out.resize(static_cast<size_t>(n - 1));
    return true;
}

[[nodiscard]] std::string WideToAnsiForDisplay(const WCHAR *text)
{
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return "?";
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

} // namespace

bool CWmaWriter::IsRuntimeAvailable()
{
    if (!WmRuntimeApiGet().IsAvailable())
        WmRuntimeApiLoad();
    return WmRuntimeApiGet().IsAvailable();
}

CWmaWriter::CWmaWriter() = default;

void CWmaWriter::InitializeCom()
{
    // Once, on the thread that first opens a file; balanced only when it
    // took, so a thread already in another apartment (RPC_E_CHANGED_MODE)
    // never loses one of its own initialisations.
    if (m_bComTried)
        return;
    m_bComTried = true;
    m_bComInitialized = SUCCEEDED(CoInitialize(nullptr));
    m_dwComThread = GetCurrentThreadId();
}

CWmaWriter::~CWmaWriter()
{
    // A file still open is finished; nobody is left to hear its verdict.
    static_cast<void>(Close());
    if (m_bComInitialized && GetCurrentThreadId() == m_dwComThread)
        CoUninitialize();
}

void CWmaWriter::UseLoadedRuntime()
{
    if (!m_api.hModule)
        m_api = WmRuntimeApiGet();
}

void CWmaWriter::NoteFailure(HRESULT hr)
{
    if (FAILED(hr) && SUCCEEDED(m_hrWriteFailure))
        m_hrWriteFailure = hr;
}

HRESULT CWmaWriter::Open(LONG nBitRate, DWORD nSampleRate, WORD nChannels, const char *pszFileName)
{
    if (m_spWriter)
        static_cast<void>(Close()); // the earlier file's verdict is not this open's
    m_api = WmRuntimeApiGet();
    if (!m_api.IsAvailable()) {
        WmRuntimeApiLoad();
        m_api = WmRuntimeApiGet();
    }
    if (!m_api.IsAvailable())
        return E_NOTIMPL;
    if (!pszFileName)
        return E_INVALIDARG;
    InitializeCom();
    m_strFileName.clear();
    m_hrWriteFailure = S_OK;
    m_cbFill = 0;

    HRESULT hr = m_api.WMCreateWriter(nullptr, &m_spWriter);
    std::u16string wideName;
    if (SUCCEEDED(hr))
        hr = AnsiToWide(pszFileName, wideName) ? m_spWriter->SetOutputFilename(wideName.c_str()) : E_INVALIDARG;
    if (SUCCEEDED(hr)) {
        m_wfxInput = orafon::PcmFormat(nSampleRate, nChannels, 16);
        m_qwNextSampleTime = 0;
        m_dwInputBytesPerSec = nSampleRate * nChannels * 2;
        CComPtr<IWMProfile> spProfile;
        hr = CreateProfile(static_cast<DWORD>(nBitRate), spProfile);
        if (SUCCEEDED(hr))
            hr = m_spWriter->SetProfile(spProfile);
    }
    if (SUCCEEDED(hr))
        hr = ConfigureInputs();
    if (SUCCEEDED(hr)) {
        CComPtr<IWMWriterAdvanced> spAdvanced;
        if (SUCCEEDED(m_spWriter.QueryInterface(&spAdvanced)))
            spAdvanced->SetLiveSource(TRUE);
        m_pbSample.reset(new (std::nothrow) BYTE[kSampleCapacity]);
        hr = m_pbSample ? S_OK : E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr))
        hr = m_spWriter->BeginWriting();
    if (FAILED(hr)) {
        static_cast<void>(Close()); // the open's failure is the one reported
        return hr;
    }
    m_strFileName = std::move(wideName);
    return S_OK;
}

HRESULT CWmaWriter::CreateProfile(DWORD nBitRate, CComPtr<IWMProfile> &spProfile)
{
    CComPtr<IWMProfileManager> spManager;
    HRESULT hr = m_api.WMCreateProfileManager(&spManager);
    if (SUCCEEDED(hr))
        hr = spManager->CreateEmptyProfile(WMT_VER_8_0, &spProfile);
    CComPtr<IWMStreamConfig> spConfig;
    if (SUCCEEDED(hr))
        hr = FindWmaStreamConfig(WMMEDIASUBTYPE_WMAudioV8, m_wfxInput, nBitRate, &spConfig);
    if (SUCCEEDED(hr)) {
        spConfig->SetStreamNumber(1);
        hr = spProfile->AddStream(spConfig);
    }
    return hr;
}

HRESULT CWmaWriter::ConfigureInputs()
{
    DWORD nInputs = 0;
    HRESULT hr = m_spWriter->GetInputCount(&nInputs);
    WM_MEDIA_TYPE mt = InputMediaType(m_wfxInput);
    for (DWORD i = 0; SUCCEEDED(hr) && i < nInputs; ++i) {
        CComPtr<IWMInputMediaProps> spProps;
        hr = m_spWriter->GetInputProps(i, &spProps);
        if (SUCCEEDED(hr))
            hr = spProps->SetMediaType(&mt);
        if (SUCCEEDED(hr))
            hr = m_spWriter->SetInputProps(i, spProps);
    }
    return hr;
}

HRESULT CWmaWriter::FindWmaStreamConfig(REFGUID subtype, const WAVEFORMATEX &wfxInput, DWORD nBitRate,
                                        IWMStreamConfig **ppConfig)
{
    if (!ppConfig)
        return E_INVALIDARG;
    *ppConfig = nullptr;
    UseLoadedRuntime();
    if (!m_api.WMCreateProfileManager)
        return E_NOTIMPL;
    CComPtr<IWMProfileManager> spManager;
    HRESULT hr = m_api.WMCreateProfileManager(&spManager);
    if (FAILED(hr))
        return hr;
    CComPtr<IWMCodecInfo3> spCodecs;
    hr = spManager.QueryInterface(&spCodecs);
    if (FAILED(hr))
        return hr;
    DWORD nCodecs = 0;
    hr = spCodecs->GetCodecInfoCount(WMMEDIATYPE_Audio, &nCodecs);
    if (FAILED(hr))
        return hr;

    // The first codec whose format 0 has the subtype.
    DWORD codec = 0;
    bool found = false;
    for (; codec < nCodecs && !found; ++codec) {
        CComPtr<IWMStreamConfig> spFormat;
        if (FAILED(spCodecs->GetCodecFormat(WMMEDIATYPE_Audio, codec, 0, &spFormat)))
            continue;
        MediaTypeBlock block;
        hr = ReadMediaType(spFormat, block);
        if (FAILED(hr))
            return hr;
        found = block.type()->subtype == subtype;
    }
    if (!found)
        return E_INVALIDARG;
    --codec;

    DWORD nFormats = 0;
    hr = spCodecs->GetCodecFormatCount(WMMEDIATYPE_Audio, codec, &nFormats);
    if (FAILED(hr))
        return hr;
    CComPtr<IWMStreamConfig> spBest;
    DWORD bestBitRate = 0;
    for (DWORD i = 0; i < nFormats; ++i) {
        CComPtr<IWMStreamConfig> spFormat;
        hr = spCodecs->GetCodecFormat(WMMEDIATYPE_Audio, codec, i, &spFormat);
        if (FAILED(hr))
            return hr;
        MediaTypeBlock block;
        hr = ReadMediaType(spFormat, block);
        if (FAILED(hr))
            return hr;
        const WM_MEDIA_TYPE *mt = block.type();
        if (mt->cbFormat < sizeof(WAVEFORMATEX) || !mt->pbFormat)
            return E_UNEXPECTED;
        WAVEFORMATEX wfx;
        std::memcpy(&wfx, mt->pbFormat, sizeof wfx);
        const DWORD bitRate = wfx.nAvgBytesPerSec * 8;
        if (bitRate > bestBitRate && bitRate <= nBitRate && wfx.nChannels == wfxInput.nChannels &&
            wfx.wBitsPerSample == wfxInput.wBitsPerSample && wfx.nSamplesPerSec == wfxInput.nSamplesPerSec) {
            spBest = spFormat;
            bestBitRate = bitRate;
        }
    }
    if (!spBest)
        return E_INVALIDARG;
    *ppConfig = spBest.Detach();
    return S_OK;
}

HRESULT CWmaWriter::DeliverSample(const BYTE *pb, DWORD cb)
{
    CComPtr<INSSBuffer> spBuffer;
    BYTE *pbBuffer = nullptr;
    HRESULT hr = m_spWriter->AllocateSample(cb, &spBuffer);
    if (SUCCEEDED(hr))
        hr = spBuffer->GetBuffer(&pbBuffer);
    if (FAILED(hr)) {
        // The bytes are lost and nothing else moves; the file is reported incomplete.
        NoteFailure(hr);
        return hr;
    }
    std::memcpy(pbBuffer, pb, cb);
    hr = spBuffer->SetLength(cb);
    if (SUCCEEDED(hr))
        hr = m_spWriter->WriteSample(0, m_qwNextSampleTime, 0, spBuffer);
    m_qwNextSampleTime += QWORD{cb} * kUnitsPerSecond / m_dwInputBytesPerSec;
    NoteFailure(hr);
    return hr;
}

HRESULT CWmaWriter::Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten)
{
    if (pcbWritten)
        *pcbWritten = 0;
    if (!m_spWriter)
        return CO_E_NOTINITIALIZED;
    if (!pb && cb > 0)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (ULONG done = 0; done < cb;) {
        const DWORD n = std::min<DWORD>(cb - done, kSampleCapacity - m_cbFill);
        std::memcpy(m_pbSample.get() + m_cbFill, pb + done, n);
        m_cbFill += n;
        done += n;
        if (m_cbFill == kSampleCapacity) {
            m_cbFill = 0;
            const HRESULT hrSample = DeliverSample(m_pbSample.get(), kSampleCapacity);
            if (FAILED(hrSample) && SUCCEEDED(hr))
                hr = hrSample;
        }
    }
    if (pcbWritten)
        *pcbWritten = cb;
    return hr;
}

HRESULT CWmaWriter::Close()
{
    if (m_spWriter && m_cbFill > 0) {
        // A failure is noted in m_hrWriteFailure and reported below.
        static_cast<void>(DeliverSample(m_pbSample.get(), m_cbFill));
        m_cbFill = 0;
    }
    HRESULT hr = S_OK;
    if (m_spWriter) {
        const bool begun = !m_strFileName.empty();
        const HRESULT hrEnd = m_spWriter->EndWriting();
        m_spWriter.Release();
        if (begun) {
            NoteFailure(hrEnd);
            hr = m_hrWriteFailure;
            // A file that could not be finished gets no attribute written into it.
            // The file is whole without the duration attribute (a player
            // counts the samples), so a failure to add it is not the file's.
            if (SUCCEEDED(hr))
                static_cast<void>(SetFileAttribute(m_strFileName.c_str(), 0, g_wszWMDuration,
                                                   std::to_string(m_qwNextSampleTime).c_str()));
        }
    }
    Release();
    return hr;
}

void CWmaWriter::Release()
{
    m_spWriter.Release();
    m_pbSample.reset();
    m_cbFill = 0;
    m_strFileName.clear();
    m_hrWriteFailure = S_OK;
}

HRESULT CWmaWriter::SetFileAttribute(const WCHAR *pwszFileName, WORD wStreamNum, const WCHAR *pwszAttribName,
                                     const char *pszAttribValue)
{
    if (!pwszFileName || !pwszAttribName || !pszAttribValue)
        return E_INVALIDARG;
    long long value = 0;
    const char *end = pszAttribValue + std::strlen(pszAttribValue);
    const auto parsed = std::from_chars(pszAttribValue, end, value);
    if (parsed.ec != std::errc() || parsed.ptr != end)
        return E_INVALIDARG;
    UseLoadedRuntime();
    if (!m_api.WMCreateEditor)
        return E_NOTIMPL;

    CComPtr<IWMMetadataEditor> spEditor;
    HRESULT hr = m_api.WMCreateEditor(&spEditor);
    if (FAILED(hr)) {
        std::fprintf(stderr, "Could not create Metadata Editor ( hr=0x%08x ).\n", static_cast<unsigned>(hr));
        return hr;
    }
    hr = spEditor->Open(pwszFileName);
    if (FAILED(hr)) {
        std::fprintf(stderr, "Could not open the file %s ( hr=0x%08x ).\n", WideToAnsiForDisplay(pwszFileName).c_str(),
                     static_cast<unsigned>(hr));
        return hr;
    }
    CComPtr<IWMHeaderInfo> spHeader;
    hr = spEditor.QueryInterface(&spHeader);
    if (FAILED(hr)) {
        std::fprintf(stderr, "Could not QI for IWMHeaderInfo ( hr=0x%08x ).\n", static_cast<unsigned>(hr));
        spEditor->Close();
        return hr;
    }
    BYTE bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<BYTE>(static_cast<unsigned long long>(value) >> (8 * i));
    hr = spHeader->SetAttribute(wStreamNum, pwszAttribName, WMT_TYPE_QWORD, bytes, sizeof bytes);
    if (SUCCEEDED(hr)) {
        hr = spEditor->Flush();
        if (SUCCEEDED(hr))
            hr = spEditor->Close();
    } else {
        spEditor->Close();
    }
    return hr;
}

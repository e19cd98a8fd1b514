#include "Writer.h"

#include "Buffer.h"
#include "Codecs.h"
#include "Files.h"
#include "Hooks.h"

#include <orafon/CatchAtEdge.h>

#include <cstring>
#include <new>
#include <utility>

namespace orafon::wmvcore {

namespace {

constexpr QWORD kUnitsPerSecond = 10000000;

// Whether an input type is 16-bit PCM at the stream's rate and channels.
[[nodiscard]] bool AcceptsInput(const MediaType &type, const WAVEFORMATEX &stream)
{
    const WM_MEDIA_TYPE &h = type.Header();
    const WAVEFORMATEX *wfx = type.WaveFormat();
    if (h.majortype != WMMEDIATYPE_Audio || h.subtype != WMMEDIASUBTYPE_PCM || !wfx)
        return false;
    return wfx->wFormatTag == WAVE_FORMAT_PCM && wfx->wBitsPerSample == 16 && wfx->nChannels == stream.nChannels &&
           wfx->nSamplesPerSec == stream.nSamplesPerSec && wfx->nBlockAlign == stream.nChannels * 2 &&
           wfx->nAvgBytesPerSec == stream.nSamplesPerSec * stream.nChannels * 2;
}

// Reads a media properties object's type through its interface.
[[nodiscard]] HRESULT ReadMediaType(IWMMediaProps *props, MediaType &out)
{
    DWORD cb = 0;
    HRESULT hr = props->GetMediaType(nullptr, &cb);
    if (FAILED(hr))
        return hr;
    if (cb < sizeof(WM_MEDIA_TYPE))
        return E_INVALIDARG;
    std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[cb]);
    if (!block)
        return E_OUTOFMEMORY;
    auto *type = reinterpret_cast<WM_MEDIA_TYPE *>(block.get());
    hr = props->GetMediaType(type, &cb);
    return FAILED(hr) ? hr : out.Assign(type);
}

} // namespace

// ---- InputProps -----------------------------------------------------------------------

STDMETHODIMP InputProps::GetType(GUID *pguidType)
{
    if (!pguidType)
        return E_POINTER;
    *pguidType = type_.Header().majortype;
    return S_OK;
}

STDMETHODIMP InputProps::GetMediaType(WM_MEDIA_TYPE *pType, DWORD *pcbType)
{
    return type_.CopyOut(pType, pcbType);
}

STDMETHODIMP InputProps::SetMediaType(WM_MEDIA_TYPE *pType)
{
    return type_.Assign(pType);
}

STDMETHODIMP InputProps::GetConnectionName(WCHAR *pwszName, WORD *pcchName)
{
    return CopyName(u"Audio1", pwszName, pcchName);
}

STDMETHODIMP InputProps::GetGroupName(WCHAR *pwszName, WORD *pcchName)
{
    return CopyName(u"", pwszName, pcchName);
}

// ---- Writer -------------------------------------------------------------------------------

Writer::~Writer()
{
    // A writer let go without EndWriting has nobody to tell how the file ended.
    if (encoder_)
        static_cast<void>(encoder_->Finish());
}

STDMETHODIMP Writer::SetProfileByID(REFGUID)
{
    return E_NOTIMPL;
}

STDMETHODIMP Writer::SetProfile(IWMProfile *pProfile)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (encoder_)
            return E_UNEXPECTED;
        CComPtr<Profile> profile = OwnProfile(pProfile);
        if (!profile || profile->Streams().size() != 1 || !IsEncodableFormat(profile->Streams()[0]->Type()))
            return E_INVALIDARG;
        CComPtr<StreamConfig> stream;
        HRESULT hr = profile->Streams()[0]->Clone(stream);
        if (FAILED(hr))
            return hr;
        const WAVEFORMATEX *wfx = stream->Type().WaveFormat();
        input_ = MediaType::Pcm(wfx->nSamplesPerSec, wfx->nChannels);
        stream_ = std::move(stream);
        return S_OK;
    });
}

STDMETHODIMP Writer::SetOutputFilename(const WCHAR *pwszFilename)
{
    if (encoder_)
        return E_UNEXPECTED;
    if (!pwszFilename || !*pwszFilename)
        return E_INVALIDARG;
    return orafon::CatchAtEdge([&] { fileName_ = pwszFilename; });
}

STDMETHODIMP Writer::GetInputCount(DWORD *pcInputs)
{
    if (!pcInputs)
        return E_POINTER;
    *pcInputs = stream_ ? 1 : 0;
    return stream_ ? S_OK : E_UNEXPECTED;
}

STDMETHODIMP Writer::GetInputProps(DWORD dwInputNum, IWMInputMediaProps **ppInput)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppInput)
            return E_POINTER;
        *ppInput = nullptr;
        if (!HasInput(dwInputNum))
            return E_INVALIDARG;
        CComPtr<InputProps> props;
        HRESULT hr = InputProps::Create(props, input_);
        return FAILED(hr) ? hr : HandOut(props, ppInput);
    });
}

STDMETHODIMP Writer::SetInputProps(DWORD dwInputNum, IWMInputMediaProps *pInput)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!HasInput(dwInputNum) || !pInput)
            return E_INVALIDARG;
        if (encoder_)
            return E_UNEXPECTED;
        MediaType type;
        HRESULT hr = ReadMediaType(pInput, type);
        if (FAILED(hr))
            return hr;
        if (!AcceptsInput(type, StreamFormat()))
            return E_INVALIDARG;
        input_ = std::move(type);
        return S_OK;
    });
}

STDMETHODIMP Writer::GetInputFormatCount(DWORD dwInputNumber, DWORD *pcFormats)
{
    if (!pcFormats)
        return E_POINTER;
    if (!HasInput(dwInputNumber))
        return E_INVALIDARG;
    *pcFormats = 1;
    return S_OK;
}

STDMETHODIMP Writer::GetInputFormat(DWORD dwInputNumber, DWORD dwFormatNumber, IWMInputMediaProps **pProps)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!pProps)
            return E_POINTER;
        *pProps = nullptr;
        if (!HasInput(dwInputNumber) || dwFormatNumber != 0)
            return E_INVALIDARG;
        CComPtr<InputProps> props;
        HRESULT hr = InputProps::Create(props, MediaType::Pcm(StreamFormat().nSamplesPerSec, StreamFormat().nChannels));
        return FAILED(hr) ? hr : HandOut(props, pProps);
    });
}

STDMETHODIMP Writer::BeginWriting()
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (encoder_ || !stream_ || fileName_.empty())
            return E_UNEXPECTED;
        std::string path;
        if (!ToUtf8(fileName_.c_str(), path))
            return E_INVALIDARG;
        auto encoder = std::unique_ptr<AsfEncoder>(new (std::nothrow) AsfEncoder);
        if (!encoder)
            return E_OUTOFMEMORY;
        const WAVEFORMATEX &wfx = StreamFormat();
        HRESULT hr = encoder->Open(path, wfx.nSamplesPerSec, wfx.nChannels, wfx.nAvgBytesPerSec * 8);
        if (FAILED(hr))
            return hr;
        encoder_ = std::move(encoder);
        carryBytes_ = 0;
        samples_ = 0;
        bytes_ = 0;
        return S_OK;
    });
}

STDMETHODIMP Writer::EndWriting()
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!encoder_)
            return E_UNEXPECTED;
        // A part of a sample frame left over cannot be encoded; it is dropped.
        carryBytes_ = 0;
        const HRESULT hr = encoder_->Finish();
        encoder_.reset();
        return hr;
    });
}

STDMETHODIMP Writer::AllocateSample(DWORD dwSampleSize, INSSBuffer **ppSample)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppSample)
            return E_POINTER;
        *ppSample = nullptr;
        if (SampleAllocationFails())
            return E_OUTOFMEMORY;
        CComPtr<Buffer> buffer;
        HRESULT hr = Buffer::Make(dwSampleSize, buffer);
        return FAILED(hr) ? hr : HandOut(buffer, ppSample);
    });
}

QWORD Writer::TimeWritten() const
{
    return encoder_->FramesIn() * kUnitsPerSecond / StreamFormat().nSamplesPerSec;
}

[[nodiscard]] HRESULT Writer::FillGapUntil(QWORD cnsSampleTime)
{
    const QWORD written = TimeWritten();
    const QWORD frameTime = kUnitsPerSecond / StreamFormat().nSamplesPerSec + 1;
    // Times are truncated by their writers: a sample up to one frame late is on time.
    if (cnsSampleTime <= written + frameTime || carryBytes_ > 0)
        return S_OK;
    const QWORD frames = (cnsSampleTime - written) * StreamFormat().nSamplesPerSec / kUnitsPerSecond;
    return encoder_->WriteSilence(frames);
}

[[nodiscard]] HRESULT Writer::TakePcm(const BYTE *pb, DWORD cb)
{
    const DWORD frame = StreamFormat().nChannels * 2u;
    if (carryBytes_ > 0) {
        const DWORD take = std::min(cb, frame - carryBytes_);
        std::memcpy(carry_ + carryBytes_, pb, take);
        carryBytes_ += take;
        pb += take;
        cb -= take;
        if (carryBytes_ < frame)
            return S_OK;
        carryBytes_ = 0;
        const HRESULT hr = encoder_->WritePcm(carry_, frame);
        if (FAILED(hr))
            return hr;
    }
    const DWORD whole = cb - cb % frame;
    const HRESULT hr = encoder_->WritePcm(pb, whole);
    if (FAILED(hr))
        return hr;
    carryBytes_ = cb - whole;
    std::memcpy(carry_, pb + whole, carryBytes_);
    return S_OK;
}

STDMETHODIMP Writer::WriteSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD, INSSBuffer *pSample)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!HasInput(dwInputNum) || !pSample)
            return E_INVALIDARG;
        if (!encoder_)
            return E_UNEXPECTED;
        BYTE *pb = nullptr;
        DWORD cb = 0;
        HRESULT hr = pSample->GetBufferAndLength(&pb, &cb);
        if (FAILED(hr))
            return hr;
        SampleGiven(cb, cnsSampleTime);
        hr = FillGapUntil(cnsSampleTime);
        if (SUCCEEDED(hr))
            hr = TakePcm(pb, cb);
        if (SUCCEEDED(hr)) {
            ++samples_;
            bytes_ += cb;
        }
        return hr;
    });
}

STDMETHODIMP Writer::Flush()
{
    // Samples are encoded as they arrive; nothing waits in the writer.
    return encoder_ ? S_OK : E_UNEXPECTED;
}

// ---- IWMWriterAdvanced ------------------------------------------------------------------------

STDMETHODIMP Writer::GetSinkCount(DWORD *pcSinks)
{
    if (!pcSinks)
        return E_POINTER;
    *pcSinks = 0;
    return S_OK;
}

STDMETHODIMP Writer::GetSink(DWORD, IWMWriterSink **ppSink)
{
    if (ppSink)
        *ppSink = nullptr;
    return E_INVALIDARG;
}

STDMETHODIMP Writer::AddSink(IWMWriterSink *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Writer::RemoveSink(IWMWriterSink *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Writer::WriteStreamSample(WORD, QWORD, DWORD, QWORD, DWORD, INSSBuffer *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Writer::SetLiveSource(BOOL fIsLiveSource)
{
    // A live source only changes how a real-time writer paces itself; a file
    // is written as fast as samples come either way.
    live_ = fIsLiveSource != FALSE;
    return S_OK;
}

STDMETHODIMP Writer::IsRealTime(BOOL *pfRealTime)
{
    if (!pfRealTime)
        return E_POINTER;
    *pfRealTime = FALSE;
    return S_OK;
}

STDMETHODIMP Writer::GetWriterTime(QWORD *pCurrentTime)
{
    if (!pCurrentTime)
        return E_POINTER;
    *pCurrentTime = encoder_ ? TimeWritten() : 0;
    return S_OK;
}

STDMETHODIMP Writer::GetStatistics(WORD wStreamNum, WM_WRITER_STATISTICS *pStats)
{
    if (!pStats)
        return E_POINTER;
    if (wStreamNum != 0 && (!stream_ || wStreamNum != stream_->Number()))
        return E_INVALIDARG;
    *pStats = {};
    pStats->qwSampleCount = samples_;
    pStats->qwByteCount = bytes_;
    if (stream_) {
        const DWORD bitrate = StreamFormat().nAvgBytesPerSec * 8;
        pStats->dwCurrentBitrate = pStats->dwAverageBitrate = pStats->dwExpectedBitrate = bitrate;
    }
    return S_OK;
}

STDMETHODIMP Writer::SetSyncTolerance(DWORD msWindow)
{
    syncTolerance_ = msWindow;
    return S_OK;
}

STDMETHODIMP Writer::GetSyncTolerance(DWORD *pmsWindow)
{
    if (!pmsWindow)
        return E_POINTER;
    *pmsWindow = syncTolerance_;
    return S_OK;
}

} // namespace orafon::wmvcore

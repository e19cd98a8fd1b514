#include "Profile.h"

#include <orafon/CatchAtEdge.h>

#include <algorithm>
#include <cstdio>
#include <new>

namespace orafon::wmvcore {

namespace {

std::u16string Text(const WCHAR *text)
{
    return text ? std::u16string(text) : std::u16string();
}

[[nodiscard]] HRESULT Store(std::u16string &field, const WCHAR *text)
{
    return orafon::CatchAtEdge([&] { field = Text(text); });
}

} // namespace

// ---- StreamConfig -------------------------------------------------------------------

StreamConfig::StreamConfig(const MediaType &type, DWORD bitrate) : type_(type), bitrate_(bitrate) {}

[[nodiscard]] HRESULT StreamConfig::Clone(CComPtr<StreamConfig> &out) const
{
    HRESULT hr = Create(out, type_, bitrate_);
    if (FAILED(hr))
        return hr;
    hr = orafon::CatchAtEdge([&] {
        out->name_ = name_;
        out->connection_ = connection_;
    });
    if (FAILED(hr)) {
        out.Release();
        return hr;
    }
    out->bufferWindow_ = bufferWindow_;
    out->number_ = number_;
    return S_OK;
}

STDMETHODIMP StreamConfig::GetStreamType(GUID *pguidStreamType)
{
    if (!pguidStreamType)
        return E_POINTER;
    *pguidStreamType = type_.Header().majortype;
    return S_OK;
}

STDMETHODIMP StreamConfig::GetStreamNumber(WORD *pwStreamNum)
{
    if (!pwStreamNum)
        return E_POINTER;
    *pwStreamNum = number_;
    return S_OK;
}

STDMETHODIMP StreamConfig::SetStreamNumber(WORD wStreamNum)
{
    if (wStreamNum < 1 || wStreamNum > 63)
        return E_INVALIDARG;
    number_ = wStreamNum;
    return S_OK;
}

STDMETHODIMP StreamConfig::GetStreamName(WCHAR *pwszStreamName, WORD *pcchStreamName)
{
    return CopyName(name_, pwszStreamName, pcchStreamName);
}

STDMETHODIMP StreamConfig::SetStreamName(LPCWSTR pwszStreamName)
{
    return Store(name_, pwszStreamName);
}

STDMETHODIMP StreamConfig::GetConnectionName(WCHAR *pwszInputName, WORD *pcchInputName)
{
    return CopyName(connection_, pwszInputName, pcchInputName);
}

STDMETHODIMP StreamConfig::SetConnectionName(LPCWSTR pwszInputName)
{
    return Store(connection_, pwszInputName);
}

STDMETHODIMP StreamConfig::GetBitrate(DWORD *pdwBitrate)
{
    if (!pdwBitrate)
        return E_POINTER;
    *pdwBitrate = bitrate_;
    return S_OK;
}

STDMETHODIMP StreamConfig::SetBitrate(DWORD pdwBitrate)
{
    bitrate_ = pdwBitrate;
    return S_OK;
}

STDMETHODIMP StreamConfig::GetBufferWindow(DWORD *pmsBufferWindow)
{
    if (!pmsBufferWindow)
        return E_POINTER;
    *pmsBufferWindow = bufferWindow_;
    return S_OK;
}

STDMETHODIMP StreamConfig::SetBufferWindow(DWORD msBufferWindow)
{
    bufferWindow_ = msBufferWindow;
    return S_OK;
}

STDMETHODIMP StreamConfig::GetType(GUID *pguidType)
{
    if (!pguidType)
        return E_POINTER;
    *pguidType = type_.Header().majortype;
    return S_OK;
}

STDMETHODIMP StreamConfig::GetMediaType(WM_MEDIA_TYPE *pType, DWORD *pcbType)
{
    return type_.CopyOut(pType, pcbType);
}

STDMETHODIMP StreamConfig::SetMediaType(WM_MEDIA_TYPE *pType)
{
    if (!pType || pType->majortype != type_.Header().majortype)
        return E_INVALIDARG;
    return type_.Assign(pType);
}

[[nodiscard]] CComPtr<StreamConfig> OwnStreamConfig(IWMStreamConfig *pConfig)
{
    CComPtr<StreamConfig> own;
    void *p = nullptr;
    if (pConfig && SUCCEEDED(pConfig->QueryInterface(IID_OwnStreamConfig, &p)))
        own.Attach(static_cast<StreamConfig *>(static_cast<IWMStreamConfig *>(p)));
    return own;
}

// ---- Profile ------------------------------------------------------------------------

[[nodiscard]] CComPtr<Profile> OwnProfile(IWMProfile *pProfile)
{
    CComPtr<Profile> own;
    void *p = nullptr;
    if (pProfile && SUCCEEDED(pProfile->QueryInterface(IID_OwnProfile, &p)))
        own.Attach(static_cast<Profile *>(static_cast<IWMProfile *>(p)));
    return own;
}

std::vector<CComPtr<StreamConfig>>::iterator Profile::FindNumber(WORD wStreamNum)
{
    return std::find_if(streams_.begin(), streams_.end(),
                        [&](const CComPtr<StreamConfig> &s) { return s->Number() == wStreamNum; });
}

STDMETHODIMP Profile::GetVersion(WMT_VERSION *pdwVersion)
{
    if (!pdwVersion)
        return E_POINTER;
    *pdwVersion = version_;
    return S_OK;
}

STDMETHODIMP Profile::GetName(WCHAR *pwszName, DWORD *pcchName)
{
    return CopyName(name_, pwszName, pcchName);
}

STDMETHODIMP Profile::SetName(const WCHAR *pwszName)
{
    return Store(name_, pwszName);
}

STDMETHODIMP Profile::GetDescription(WCHAR *pwszDescription, DWORD *pcchDescription)
{
    return CopyName(description_, pwszDescription, pcchDescription);
}

STDMETHODIMP Profile::SetDescription(const WCHAR *pwszDescription)
{
    return Store(description_, pwszDescription);
}

STDMETHODIMP Profile::GetStreamCount(DWORD *pcStreams)
{
    if (!pcStreams)
        return E_POINTER;
    *pcStreams = static_cast<DWORD>(streams_.size());
    return S_OK;
}

STDMETHODIMP Profile::GetStream(DWORD dwStreamIndex, IWMStreamConfig **ppConfig)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppConfig)
            return E_POINTER;
        *ppConfig = nullptr;
        if (dwStreamIndex >= streams_.size())
            return E_INVALIDARG;
        CComPtr<StreamConfig> copy;
        HRESULT hr = streams_[dwStreamIndex]->Clone(copy);
        return FAILED(hr) ? hr : HandOut(copy, ppConfig);
    });
}

STDMETHODIMP Profile::GetStreamByNumber(WORD wStreamNum, IWMStreamConfig **ppConfig)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppConfig)
            return E_POINTER;
        *ppConfig = nullptr;
        auto it = FindNumber(wStreamNum);
        if (it == streams_.end())
            return E_INVALIDARG;
        CComPtr<StreamConfig> copy;
        HRESULT hr = (*it)->Clone(copy);
        return FAILED(hr) ? hr : HandOut(copy, ppConfig);
    });
}

STDMETHODIMP Profile::RemoveStream(IWMStreamConfig *pConfig)
{
    WORD number = 0;
    if (!pConfig || FAILED(pConfig->GetStreamNumber(&number)))
        return E_INVALIDARG;
    return RemoveStreamByNumber(number);
}

STDMETHODIMP Profile::RemoveStreamByNumber(WORD wStreamNum)
{
    auto it = FindNumber(wStreamNum);
    if (it == streams_.end())
        return E_INVALIDARG;
    streams_.erase(it);
    return S_OK;
}

STDMETHODIMP Profile::AddStream(IWMStreamConfig *pConfig)
{
    CComPtr<StreamConfig> own = OwnStreamConfig(pConfig);
    if (!own || own->Number() == 0 || FindNumber(own->Number()) != streams_.end())
        return E_INVALIDARG;
    CComPtr<StreamConfig> copy;
    HRESULT hr = own->Clone(copy);
    if (FAILED(hr))
        return hr;
    return orafon::CatchAtEdge([&] { streams_.push_back(std::move(copy)); });
}

STDMETHODIMP Profile::ReconfigStream(IWMStreamConfig *pConfig)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        CComPtr<StreamConfig> own = OwnStreamConfig(pConfig);
        if (!own)
            return E_INVALIDARG;
        auto it = FindNumber(own->Number());
        if (it == streams_.end())
            return E_INVALIDARG;
        return own->Clone(*it);
    });
}

STDMETHODIMP Profile::CreateNewStream(REFGUID guidStreamType, IWMStreamConfig **ppConfig)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppConfig)
            return E_POINTER;
        *ppConfig = nullptr;
        if (guidStreamType != WMMEDIATYPE_Audio)
            return E_INVALIDARG;
        CComPtr<StreamConfig> config;
        HRESULT hr = StreamConfig::Create(config, MediaType::Pcm(44100, 2), 0);
        return FAILED(hr) ? hr : HandOut(config, ppConfig);
    });
}

STDMETHODIMP Profile::GetMutualExclusionCount(DWORD *pcME)
{
    if (!pcME)
        return E_POINTER;
    *pcME = 0;
    return S_OK;
}

STDMETHODIMP Profile::GetMutualExclusion(DWORD, IWMMutualExclusion **ppME)
{
    if (ppME)
        *ppME = nullptr;
    return E_INVALIDARG;
}

STDMETHODIMP Profile::RemoveMutualExclusion(IWMMutualExclusion *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Profile::AddMutualExclusion(IWMMutualExclusion *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Profile::CreateNewMutualExclusion(IWMMutualExclusion **ppME)
{
    if (ppME)
        *ppME = nullptr;
    return E_NOTIMPL;
}

// ---- ProfileManager -------------------------------------------------------------------

STDMETHODIMP ProfileManager::CreateEmptyProfile(WMT_VERSION dwVersion, IWMProfile **ppProfile)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppProfile)
            return E_POINTER;
        *ppProfile = nullptr;
        switch (dwVersion) {
        case WMT_VER_4_0:
        case WMT_VER_7_0:
        case WMT_VER_8_0:
        case WMT_VER_9_0:
            break;
        default:
            return E_INVALIDARG;
        }
        CComPtr<Profile> profile;
        HRESULT hr = Profile::Create(profile, dwVersion);
        return FAILED(hr) ? hr : HandOut(profile, ppProfile);
    });
}

STDMETHODIMP ProfileManager::LoadProfileByID(REFGUID, IWMProfile **ppProfile)
{
    if (ppProfile)
        *ppProfile = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ProfileManager::LoadProfileByData(const WCHAR *, IWMProfile **ppProfile)
{
    if (ppProfile)
        *ppProfile = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ProfileManager::SaveProfile(IWMProfile *, WCHAR *, DWORD *)
{
    return E_NOTIMPL;
}

STDMETHODIMP ProfileManager::GetSystemProfileCount(DWORD *pcProfiles)
{
    if (!pcProfiles)
        return E_POINTER;
    *pcProfiles = 0;
    return S_OK;
}

STDMETHODIMP ProfileManager::LoadSystemProfile(DWORD, IWMProfile **ppProfile)
{
    if (ppProfile)
        *ppProfile = nullptr;
    return E_INVALIDARG;
}

std::shared_ptr<const CodecList> ProfileManager::ListOf(REFGUID guidType)
{
    if (guidType == WMMEDIATYPE_Audio)
        return AudioCodecs();
    static const std::shared_ptr<const CodecList> none = std::make_shared<const CodecList>();
    return guidType == WMMEDIATYPE_Video ? none : nullptr;
}

const CodecFormat *ProfileManager::FormatAt(const CodecList &list, DWORD codec, DWORD format)
{
    if (codec >= list.size() || format >= list[codec].formats.size())
        return nullptr;
    return &list[codec].formats[format];
}

STDMETHODIMP ProfileManager::GetCodecInfoCount(REFGUID guidType, DWORD *pcCodecs)
{
    if (!pcCodecs)
        return E_POINTER;
    auto list = ListOf(guidType);
    if (!list)
        return E_INVALIDARG;
    *pcCodecs = static_cast<DWORD>(list->size());
    return S_OK;
}

STDMETHODIMP ProfileManager::GetCodecFormatCount(REFGUID guidType, DWORD dwCodecIndex, DWORD *pcFormat)
{
    if (!pcFormat)
        return E_POINTER;
    auto list = ListOf(guidType);
    if (!list || dwCodecIndex >= list->size())
        return E_INVALIDARG;
    *pcFormat = static_cast<DWORD>((*list)[dwCodecIndex].formats.size());
    return S_OK;
}

STDMETHODIMP ProfileManager::GetCodecFormat(REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex,
                                            IWMStreamConfig **ppIStreamConfig)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppIStreamConfig)
            return E_POINTER;
        *ppIStreamConfig = nullptr;
        auto list = ListOf(guidType);
        const CodecFormat *format = list ? FormatAt(*list, dwCodecIndex, dwFormatIndex) : nullptr;
        if (!format)
            return E_INVALIDARG;
        CComPtr<StreamConfig> config;
        HRESULT hr = StreamConfig::Create(config, format->type, format->bitrate);
        return FAILED(hr) ? hr : HandOut(config, ppIStreamConfig);
    });
}

STDMETHODIMP ProfileManager::GetCodecName(REFGUID guidType, DWORD dwCodecIndex, WCHAR *wszName, DWORD *pcchName)
{
    auto list = ListOf(guidType);
    if (!list || dwCodecIndex >= list->size())
        return E_INVALIDARG;
    return CopyName((*list)[dwCodecIndex].name, wszName, pcchName);
}

STDMETHODIMP ProfileManager::GetCodecFormatDesc(REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex,
                                                IWMStreamConfig **ppIStreamConfig, WCHAR *wszDesc, DWORD *pcchDesc)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (ppIStreamConfig)
            *ppIStreamConfig = nullptr;
        auto list = ListOf(guidType);
        const CodecFormat *format = list ? FormatAt(*list, dwCodecIndex, dwFormatIndex) : nullptr;
        if (!format)
            return E_INVALIDARG;
        const WAVEFORMATEX *wfx = format->type.WaveFormat();
        char text[64] = "";
        if (wfx)
            std::snprintf(text, sizeof text, "%u kbps, %u kHz, %s CBR", static_cast<unsigned>(format->bitrate / 1000),
                          static_cast<unsigned>(wfx->nSamplesPerSec / 1000), wfx->nChannels == 1 ? "mono" : "stereo");
        std::u16string desc(text, text + std::char_traits<char>::length(text));
        HRESULT hr = CopyName(desc, wszDesc, pcchDesc);
        if (FAILED(hr) || !ppIStreamConfig)
            return hr;
        return GetCodecFormat(guidType, dwCodecIndex, dwFormatIndex, ppIStreamConfig);
    });
}

STDMETHODIMP ProfileManager::GetCodecFormatProp(REFGUID, DWORD, DWORD, const WCHAR *, WMT_ATTR_DATATYPE *, BYTE *,
                                                DWORD *)
{
    return E_NOTIMPL;
}

STDMETHODIMP ProfileManager::GetCodecProp(REFGUID, DWORD, const WCHAR *, WMT_ATTR_DATATYPE *, BYTE *, DWORD *)
{
    return E_NOTIMPL;
}

STDMETHODIMP ProfileManager::SetCodecEnumerationSetting(REFGUID, DWORD, const WCHAR *, WMT_ATTR_DATATYPE, const BYTE *,
                                                        DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP ProfileManager::GetCodecEnumerationSetting(REFGUID, DWORD, const WCHAR *, WMT_ATTR_DATATYPE *, BYTE *,
                                                        DWORD *)
{
    return E_NOTIMPL;
}

} // namespace orafon::wmvcore

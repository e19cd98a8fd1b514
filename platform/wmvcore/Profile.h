// Stream configurations, profiles and the profile manager with its codec list.
#pragma once

#include "Codecs.h"
#include "MediaType.h"
#include "WmObject.h"

#include <string>
#include <vector>

namespace orafon::wmvcore {

// One stream of a profile: its number, names, bit rate, buffer window and
// media type (answered through IWMMediaProps).
// Private identities: QueryInterface with them answers the object itself, so
// a profile or configuration handed back in is known to be one of ours.
DEFINE_GUID(IID_OwnStreamConfig, 0x5C0B7E2A, 0x61D4, 0x4B8F, 0x9A, 0x33, 0x1E, 0x7C, 0x20, 0x4D, 0x95, 0x01);
DEFINE_GUID(IID_OwnProfile, 0x5C0B7E2A, 0x61D4, 0x4B8F, 0x9A, 0x33, 0x1E, 0x7C, 0x20, 0x4D, 0x95, 0x02);
// The entries that answer them.
struct OwnStreamConfigId {};
struct OwnProfileId {};

} // namespace orafon::wmvcore

ORAFON_DECLARE_IID(orafon::wmvcore::OwnStreamConfigId, orafon::wmvcore::IID_OwnStreamConfig);
ORAFON_DECLARE_IID(orafon::wmvcore::OwnProfileId, orafon::wmvcore::IID_OwnProfile);

namespace orafon::wmvcore {

class StreamConfig final : public orafon::ComObject<StreamConfig, IWMStreamConfig, IWMMediaProps,
                                                    orafon::ComAlias<OwnStreamConfigId, IWMStreamConfig>>,
                           private WmObject {
public:
    StreamConfig(const MediaType &type, DWORD bitrate);

    // A copy with its own reference (profiles keep copies, as the platform does).
    [[nodiscard]] HRESULT Clone(CComPtr<StreamConfig> &out) const;
    WORD Number() const { return number_; }
    const MediaType &Type() const { return type_; }

    STDMETHODIMP GetStreamType(GUID *pguidStreamType) override;
    STDMETHODIMP GetStreamNumber(WORD *pwStreamNum) override;
    STDMETHODIMP SetStreamNumber(WORD wStreamNum) override;
    STDMETHODIMP GetStreamName(WCHAR *pwszStreamName, WORD *pcchStreamName) override;
    STDMETHODIMP SetStreamName(LPCWSTR pwszStreamName) override;
    STDMETHODIMP GetConnectionName(WCHAR *pwszInputName, WORD *pcchInputName) override;
    STDMETHODIMP SetConnectionName(LPCWSTR pwszInputName) override;
    STDMETHODIMP GetBitrate(DWORD *pdwBitrate) override;
    STDMETHODIMP SetBitrate(DWORD pdwBitrate) override;
    STDMETHODIMP GetBufferWindow(DWORD *pmsBufferWindow) override;
    STDMETHODIMP SetBufferWindow(DWORD msBufferWindow) override;

    // IWMMediaProps
    STDMETHODIMP GetType(GUID *pguidType) override;
    STDMETHODIMP GetMediaType(WM_MEDIA_TYPE *pType, DWORD *pcbType) override;
    STDMETHODIMP SetMediaType(WM_MEDIA_TYPE *pType) override;

private:
    MediaType type_;
    DWORD bitrate_;
    DWORD bufferWindow_ = 3000;
    WORD number_ = 0;
    std::u16string name_;
    std::u16string connection_;
};

class Profile final : public orafon::ComObject<Profile, IWMProfile, orafon::ComAlias<OwnProfileId, IWMProfile>>,
                      private WmObject {
public:
    explicit Profile(WMT_VERSION version) : version_(version) {}
    const std::vector<CComPtr<StreamConfig>> &Streams() const { return streams_; }

    STDMETHODIMP GetVersion(WMT_VERSION *pdwVersion) override;
    STDMETHODIMP GetName(WCHAR *pwszName, DWORD *pcchName) override;
    STDMETHODIMP SetName(const WCHAR *pwszName) override;
    STDMETHODIMP GetDescription(WCHAR *pwszDescription, DWORD *pcchDescription) override;
    STDMETHODIMP SetDescription(const WCHAR *pwszDescription) override;
    STDMETHODIMP GetStreamCount(DWORD *pcStreams) override;
    STDMETHODIMP GetStream(DWORD dwStreamIndex, IWMStreamConfig **ppConfig) override;
    STDMETHODIMP GetStreamByNumber(WORD wStreamNum, IWMStreamConfig **ppConfig) override;
    STDMETHODIMP RemoveStream(IWMStreamConfig *pConfig) override;
    STDMETHODIMP RemoveStreamByNumber(WORD wStreamNum) override;
    STDMETHODIMP AddStream(IWMStreamConfig *pConfig) override;
    STDMETHODIMP ReconfigStream(IWMStreamConfig *pConfig) override;
    STDMETHODIMP CreateNewStream(REFGUID guidStreamType, IWMStreamConfig **ppConfig) override;
    STDMETHODIMP GetMutualExclusionCount(DWORD *pcME) override;
    STDMETHODIMP GetMutualExclusion(DWORD dwMEIndex, IWMMutualExclusion **ppME) override;
    STDMETHODIMP RemoveMutualExclusion(IWMMutualExclusion *pME) override;
    STDMETHODIMP AddMutualExclusion(IWMMutualExclusion *pME) override;
    STDMETHODIMP CreateNewMutualExclusion(IWMMutualExclusion **ppME) override;

private:
    // The stream with wStreamNum, or streams_.end().
    std::vector<CComPtr<StreamConfig>>::iterator FindNumber(WORD wStreamNum);

    WMT_VERSION version_;
    std::u16string name_;
    std::u16string description_;
    std::vector<CComPtr<StreamConfig>> streams_;
};

// Our own object behind an interface pointer a caller handed in; empty for
// anyone else's object (whose insides this runtime cannot read).
[[nodiscard]] CComPtr<StreamConfig> OwnStreamConfig(IWMStreamConfig *pConfig);
CComPtr<Profile> OwnProfile(IWMProfile *pProfile);

class ProfileManager final : public orafon::ComObject<ProfileManager, IWMProfileManager, IWMCodecInfo3,
                                                      orafon::ComAlias<IWMCodecInfo, IWMCodecInfo3>,
                                                      orafon::ComAlias<IWMCodecInfo2, IWMCodecInfo3>>,
                             private WmObject {
public:
    STDMETHODIMP CreateEmptyProfile(WMT_VERSION dwVersion, IWMProfile **ppProfile) override;
    STDMETHODIMP LoadProfileByID(REFGUID guidProfile, IWMProfile **ppProfile) override;
    STDMETHODIMP LoadProfileByData(const WCHAR *pwszProfile, IWMProfile **ppProfile) override;
    STDMETHODIMP SaveProfile(IWMProfile *pIWMProfile, WCHAR *pwszProfile, DWORD *pdwLength) override;
    STDMETHODIMP GetSystemProfileCount(DWORD *pcProfiles) override;
    STDMETHODIMP LoadSystemProfile(DWORD dwProfileIndex, IWMProfile **ppProfile) override;

    // IWMCodecInfo3
    STDMETHODIMP GetCodecInfoCount(REFGUID guidType, DWORD *pcCodecs) override;
    STDMETHODIMP GetCodecFormatCount(REFGUID guidType, DWORD dwCodecIndex, DWORD *pcFormat) override;
    STDMETHODIMP GetCodecFormat(REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex,
                                IWMStreamConfig **ppIStreamConfig) override;
    STDMETHODIMP GetCodecName(REFGUID guidType, DWORD dwCodecIndex, WCHAR *wszName, DWORD *pcchName) override;
    STDMETHODIMP GetCodecFormatDesc(REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex,
                                    IWMStreamConfig **ppIStreamConfig, WCHAR *wszDesc, DWORD *pcchDesc) override;
    STDMETHODIMP GetCodecFormatProp(REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex, const WCHAR *pszName,
                                    WMT_ATTR_DATATYPE *pType, BYTE *pValue, DWORD *pdwSize) override;
    STDMETHODIMP GetCodecProp(REFGUID guidType, DWORD dwCodecIndex, const WCHAR *pszName, WMT_ATTR_DATATYPE *pType,
                              BYTE *pValue, DWORD *pdwSize) override;
    STDMETHODIMP SetCodecEnumerationSetting(REFGUID guidType, DWORD dwCodecIndex, const WCHAR *pszName,
                                            WMT_ATTR_DATATYPE Type, const BYTE *pValue, DWORD dwSize) override;
    STDMETHODIMP GetCodecEnumerationSetting(REFGUID guidType, DWORD dwCodecIndex, const WCHAR *pszName,
                                            WMT_ATTR_DATATYPE *pType, BYTE *pValue, DWORD *pdwSize) override;

private:
    // The codec list of guidType (empty for video), or null.
    static std::shared_ptr<const CodecList> ListOf(REFGUID guidType);
    static const CodecFormat *FormatAt(const CodecList &list, DWORD codec, DWORD format);
};

// Copies text into a caller's buffer of *pcch characters (terminator
// included): a size query when the buffer is null, E_INVALIDARG when short.
template <typename Count> [[nodiscard]] HRESULT CopyName(const std::u16string &text, WCHAR *buffer, Count *pcch)
{
    if (!pcch)
        return E_POINTER;
    const size_t needed = text.size() + 1;
    if (!buffer) {
        *pcch = static_cast<Count>(needed);
        return S_OK;
    }
    if (*pcch < needed) {
        *pcch = static_cast<Count>(needed);
        return E_INVALIDARG;
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = 0;
    *pcch = static_cast<Count>(needed);
    return S_OK;
}

} // namespace orafon::wmvcore

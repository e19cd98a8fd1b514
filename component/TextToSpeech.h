// CTextToSpeech: the automation object. One reference count and one identity
// for all its interfaces; aggregatable through a separate non-delegating
// IUnknown (orafon::ComAggregatable).
#pragma once

#include "ConnectionPoint.h"
#include "ModuleServices.h"
#include "OleHelpers.h"

#include <audio_out/AudioSink.h>
#include <orafon/Orafon.h>

#include <speech/EngineOutput.h>
#include <speech/VoiceInfo.h>
#include <speech/WaveFormatCatalogue.h>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

// The interfaces QueryInterface answers; ITextToSpeech also answers IDispatch.
using CTextToSpeechInterfaces = orafon::ComAggregatable<
    class CTextToSpeech, ITextToSpeech, orafon::ComAlias<IDispatch, ITextToSpeech>, IConnectionPointContainer,
    IProvideClassInfo2, orafon::ComAlias<IProvideClassInfo, IProvideClassInfo2>, ISupportErrorInfo, IObjectWithSite>;

// ISpNotifyCallback is no COM interface (it has no IUnknown): only a voice
// the object registers with calls it.
class CTextToSpeech final : public CTextToSpeechInterfaces, public ISpNotifyCallback {
public:
    // Makes an object (aggregated when pUnkOuter is given), runs InitObject
    // and asks for riid. See TextToSpeechFactory.h.
    static HRESULT CreateInstance(orafon::ModuleServices &module, IUnknown *pUnkOuter, REFIID riid, void **ppv);

    // ---- IDispatch ------------------------------------------------------------
    STDMETHODIMP GetTypeInfoCount(UINT *pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo **ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR *rgszNames, UINT cNames, LCID lcid, DISPID *rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS *pDispParams,
                        VARIANT *pVarResult, EXCEPINFO *pExcepInfo, UINT *puArgErr) override;

    // ---- ITextToSpeech --------------------------------------------------------
    STDMETHODIMP get_VoiceCount(LONG *pVal) override;
    STDMETHODIMP get_VoiceIdx(LONG *pVal) override;
    STDMETHODIMP put_VoiceIdx(LONG newVal) override;
    STDMETHODIMP get_VoiceName(BSTR *pVal) override;
    STDMETHODIMP get_VoiceGender(BSTR *pVal) override;
    STDMETHODIMP get_VoiceLanguage(BSTR *pVal) override;
    STDMETHODIMP Speak(BSTR strText, TTSFLAG nFlag) override;
    STDMETHODIMP SpeakToFile(BSTR strText, BSTR strFile, TTSFLAG nFlag) override;
    STDMETHODIMP StopTTS() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Resume() override;
    STDMETHODIMP get_Rate(LONG *pVal) override;
    STDMETHODIMP put_Rate(LONG newVal) override;
    STDMETHODIMP get_Volume(LONG *pVal) override;
    STDMETHODIMP put_Volume(LONG newVal) override;
    STDMETHODIMP get_Pitch(LONG *pVal) override;
    STDMETHODIMP put_Pitch(LONG newVal) override;
    STDMETHODIMP get_WaveFormatCount(LONG *pVal) override;
    STDMETHODIMP get_WaveFormatIdx(LONG *pVal) override;
    STDMETHODIMP put_WaveFormatIdx(LONG newVal) override;
    STDMETHODIMP get_WaveFormatName(BSTR *pVal) override;
    STDMETHODIMP get_FileFormat(FILEFORMAT *pVal) override;
    STDMETHODIMP put_FileFormat(FILEFORMAT newVal) override;
    STDMETHODIMP GetVoiceName(LONG nIndex, BSTR *strName) override;
    STDMETHODIMP Mp3ToSWF(BSTR strMp3, BSTR strSWF, VARIANT_BOOL bLoop) override;
    STDMETHODIMP get_SWFFrameRate(LONG *pVal) override;
    STDMETHODIMP put_SWFFrameRate(LONG newVal) override;
    STDMETHODIMP get_SAPIVersion(LONG *pVal) override;

    // ---- IConnectionPointContainer -------------------------------------------
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints **ppEnum) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint **ppCP) override;

    // ---- IProvideClassInfo2 ---------------------------------------------------
    STDMETHODIMP GetClassInfo(ITypeInfo **ppTI) override;
    STDMETHODIMP GetGUID(DWORD dwGuidKind, GUID *pGUID) override;

    // ---- ISupportErrorInfo ----------------------------------------------------
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // ---- IObjectWithSite ------------------------------------------------------
    STDMETHODIMP SetSite(IUnknown *pUnkSite) override;
    STDMETHODIMP GetSite(REFIID riid, void **ppvSite) override;

    // ---- ISpNotifyCallback: a SAPI 5 voice has events waiting ------------------
    STDMETHODIMP NotifyCallback(WPARAM wParam, LPARAM lParam) override;

    // ---- Events ---------------------------------------------------------------
    // Each calls every advised _ITextToSpeechEvents sink in cookie order and
    // stops at the first sink that fails, returning its failure and leaving an
    // error object on the thread. A handler may advise, unadvise or drop the
    // last reference to this object: the object stays alive until the fire
    // returns (it may be destroyed then), and a sink removed during the walk
    // is not called.
    HRESULT FireOnTTSStart();
    HRESULT FireOnTTSEnd();
    HRESULT FireOnTTSWord(LONG nStart, LONG nLength);
    HRESULT FireOnTTSSentence(LONG nStart, LONG nLength);
    HRESULT FireOnTTSProgress(LONG nPercent);

private:
    friend CTextToSpeechInterfaces;
    friend class CSpeechOutputStream;
    friend class CSpeechAudioDest;
    friend class CSpeechBufNotify;

    CTextToSpeech(orafon::ModuleServices &module, IUnknown *pUnkOuter) noexcept;
    ~CTextToSpeech() override;

    // The engine output objects' interfaces, which QueryInterface answers
    // beyond the table. They are objects of their own, not part of this
    // object's identity: an engine may hold and call them after this object
    // is gone (see speech/EngineOutput.h), so asking one of them for
    // IUnknown or ITextToSpeech does not lead back here.
    IUnknown *OtherInterface(REFIID riid) noexcept;
    void ReleaseMembers() noexcept;

    HRESULT InitObject();
    HRESULT FireEvent(DISPID dispid, const LONG *args, UINT argCount);

    // ---- Catalogue and file output (see TextToSpeechCatalogue.cpp) -----------
    HRESULT RebuildWaveFormats(LONG fileFormat);

    // ---- Speech bridge seams (see TextToSpeechVoice.cpp) ---------------------
    bool HasVoice() const noexcept { return m_nVoiceIdx >= 0 && m_nVoiceIdx < static_cast<LONG>(m_aVoices.size()); }
    const VoiceInfo &CurrentVoice() const { return m_aVoices[static_cast<size_t>(m_nVoiceIdx)]; }
    HRESULT EnumVoices();
    HRESULT SelectVoice(LONG index);
    HRESULT ReleaseVoice(LONG index);
    HRESULT SpeakRequest(BSTR text, BSTR file, TTSFLAG flags);
    HRESULT StopSpeaking();
    HRESULT PauseSpeaking();
    HRESULT ResumeSpeaking();
    HRESULT EngineGetRate(LONG *pRate);
    HRESULT EngineSetRate(LONG rate);
    HRESULT EngineGetVolume(LONG *pVolume);
    HRESULT EngineSetVolume(LONG volume);
    void ReleaseVoiceCatalogue() noexcept;
    HRESULT VoiceText(const std::string VoiceInfo::*field, BSTR *pVal);
    HRESULT CreateEngineOutput() noexcept;

    // ---- Speaking (speech/Speaking.cpp, speech/EngineEvents.cpp) --------------
    HRESULT SelectSapi5Voice(const VoiceInfo &voice);
    HRESULT SelectSapi4Mode(const VoiceInfo &voice);
    HRESULT Sapi5Speak(BSTR text, BSTR file, TTSFLAG flags);
    HRESULT Sapi4Speak(BSTR text, BSTR file, TTSFLAG flags);
    void ApplySapi4Attributes(ITTSAttributesA *attributes);
    HRESULT OpenFileOutput(BSTR file);
    void CloseFileOutput() noexcept;
    HRESULT WaitForEndOfSpeech();
    void EndOfSpeech(bool closeFile);
    void ClearTextState() noexcept;
    void OnSapi5Events();
    void OnTextDataStarted();
    void OnTextDataDone(DWORD flags);
    void OnWordPosition(DWORD byteOffset);

    // ---- Engine output (speech/FileCapture.cpp); engine threads, link locked --
    HRESULT StreamWrite(const void *pv, ULONG cb, ULONG *pcbWritten);
    HRESULT StreamFormat(GUID *pguidFormatId, WAVEFORMATEX **ppwfx);
    void AudioFormatSet(const WAVEFORMATEX &format);
    void AudioData(const void *pData, DWORD cb);

    // The module serving this object: its lock and its type library.
    orafon::ModuleServices &m_module;

    // ---- Connection points, in map order --------------------------------------
    orafon::CConnectionPoint m_cpPropertyNotify;
    orafon::CConnectionPoint m_cpEvents;

    CComPtr<IUnknown> m_spSite;

    // ---- Voices and speaking (the speech bridge) ------------------------------
    std::vector<VoiceInfo> m_aVoices;
    LONG m_nVoiceIdx = -1;
    WAVEFORMATEX m_wfxEngine{};
    LONG m_nRate = 0;
    LONG m_nVolume = 100;
    LONG m_nPitch = 0;
    // Read by engine threads deciding whether audio still belongs to a file.
    std::atomic<bool> m_bSpeaking{false};
    orafon::CBstr m_bstrText;
    ULONG m_nTextLen = 0;
    LONG m_nPrefixLen = 0;
    CComPtr<ISpVoice> m_spVoice;
    CComPtr<IAudioMultiMediaDevice> m_spDevice;
    CComPtr<ITTSCentralW> m_spCentral;
    bool m_bDeviceEngine = false;
    std::atomic<bool> m_bToFile{false};
    ULONG m_nDefSpeed = 0;
    ULONG m_nDefVolume = 100;
    WORD m_nDefPitch = 0;
    // The format the SAPI 5 output stream reports: a format id and a wave format.
    GUID m_streamFormatId = GUID_NULL;
    std::optional<WAVEFORMATEX> m_streamFormatWfx;
    // PCM bytes a SAPI 4 engine delivered to a file and the sink accepted.
    ULONGLONG m_qwBytes = 0;
    // The verdict on the file of the current request: the first failure of a
    // sink write or of closing the file.
    HRESULT m_hrFileResult = S_OK;
    std::shared_ptr<CEngineLink> m_link;
    CComPtr<CSpeechOutputStream> m_spOutputStream;
    CComPtr<CSpeechAudioDest> m_spAudioDest;
    CComPtr<CSpeechBufNotify> m_spBufNotify;
    // Numbers the SAPI 4 requests; each gets a notification sink of its own.
    ULONG m_nSapi4Request = 0;

    // ---- Wave-format catalogue and file output ---------------------------------
    LONG m_nFileFormat = FF_WAVE;
    LONG m_nWaveFormatIdx = -1;
    CWaveFormatCatalogue m_waveFormats;
    // The file output, made with the object; released at its fixed place in
    // the teardown order.
    std::optional<CAudioSinkHandle> m_sink;

    LONG m_nSWFFrameRate = 15;
};

// CTextToSpeech: the automation object. One reference count and one identity
// for all its interfaces; aggregatable through a separate non-delegating
// IUnknown (orafon::ComAggregatable).
#pragma once

#include "ConnectionPoint.h"
#include "ModuleServices.h"
#include "OleHelpers.h"

#include <orafon/Orafon.h>

#include <speech/SpeechBridge.h>
#include <speech/SpeechListener.h>
#include <speech/VoiceInfo.h>
#include <speech/WaveFormatCatalogue.h>

#include <memory>
#include <string>
#include <vector>

// The interfaces QueryInterface answers; ITextToSpeech also answers IDispatch.
using CTextToSpeechInterfaces = orafon::ComAggregatable<
    class CTextToSpeech, ITextToSpeech, orafon::ComAlias<IDispatch, ITextToSpeech>, IConnectionPointContainer,
    IProvideClassInfo2, orafon::ComAlias<IProvideClassInfo, IProvideClassInfo2>, ISupportErrorInfo, IObjectWithSite>;

// ISpeechListener is no COM interface: only the object's own speech bridge
// calls it.
class CTextToSpeech final : public CTextToSpeechInterfaces, private orafon::speech::ISpeechListener {
public:
    // Makes an object (aggregated when pUnkOuter is given), runs InitObject
    // and asks for riid. See TextToSpeechFactory.h.
    [[nodiscard]] static HRESULT CreateInstance(orafon::ModuleServices &module, IUnknown *pUnkOuter, REFIID riid,
                                                void **ppv);

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

    // ---- Events ---------------------------------------------------------------
    // Each calls every advised _ITextToSpeechEvents sink in cookie order and
    // stops at the first sink that fails, returning its failure and leaving an
    // error object on the thread. A handler may advise, unadvise or drop the
    // last reference to this object: the object stays alive until the fire
    // returns (it may be destroyed then), and a sink removed during the walk
    // is not called.
    [[nodiscard]] HRESULT FireOnTTSStart();
    [[nodiscard]] HRESULT FireOnTTSEnd();
    [[nodiscard]] HRESULT FireOnTTSWord(LONG nStart, LONG nLength);
    [[nodiscard]] HRESULT FireOnTTSSentence(LONG nStart, LONG nLength);
    [[nodiscard]] HRESULT FireOnTTSProgress(LONG nPercent);

private:
    friend CTextToSpeechInterfaces;

    CTextToSpeech(orafon::ModuleServices &module, IUnknown *pUnkOuter) noexcept;
    ~CTextToSpeech() override;

    // The engine output objects' interfaces, which QueryInterface answers
    // beyond the table. They are objects of their own, not part of this
    // object's identity: an engine may hold and call them after this object
    // is gone (see speech/EngineLink.h), so asking one of them for
    // IUnknown or ITextToSpeech does not lead back here.
    IUnknown *OtherInterface(REFIID riid) noexcept;
    void ReleaseMembers() noexcept;

    [[nodiscard]] HRESULT InitObject();
    [[nodiscard]] HRESULT FireEvent(DISPID dispid, const LONG *args, UINT argCount);
    [[nodiscard]] HRESULT FireToSinks(DISPID dispid, const LONG *args, UINT argCount);

    // ---- Catalogue and file output (see TextToSpeechCatalogue.cpp) -----------
    [[nodiscard]] HRESULT RebuildWaveFormats(LONG fileFormat);

    // ---- The speech bridge (speech/SpeechBridge.h) ----------------------------
    const std::vector<VoiceInfo> &Voices() const noexcept { return m_bridge->Voices(); }
    [[nodiscard]] bool HasVoice() const noexcept
    {
        return m_nVoiceIdx >= 0 && m_nVoiceIdx < static_cast<LONG>(Voices().size());
    }
    const VoiceInfo &CurrentVoice() const { return Voices()[static_cast<size_t>(m_nVoiceIdx)]; }
    [[nodiscard]] HRESULT EnumVoices();
    [[nodiscard]] HRESULT SelectVoice(LONG index);
    [[nodiscard]] HRESULT ReleaseVoice(LONG index);
    [[nodiscard]] HRESULT SpeakRequest(BSTR text, BSTR file, TTSFLAG flags);
    [[nodiscard]] HRESULT VoiceText(const std::string VoiceInfo::*field, BSTR *pVal);
    [[nodiscard]] HRESULT ConvertToSwf(BSTR strMp3, BSTR strSWF, VARIANT_BOOL bLoop);

    // ---- ISpeechListener: the bridge's reports become the events -------------
    void OnSpeechStart() override;
    void OnSpeechEnd() override;
    void OnSpeechWord(LONG nStart, LONG nLength) override;
    void OnSpeechSentence(LONG nStart, LONG nLength) override;
    void OnSpeechProgress(LONG nPercent) override;

    // The module serving this object: its lock and its type library.
    orafon::ModuleServices &m_module;

    // ---- Connection points, in map order --------------------------------------
    orafon::CConnectionPoint m_cpPropertyNotify;
    orafon::CConnectionPoint m_cpEvents;

    CComPtr<IUnknown> m_spSite;

    // ---- Voices and speaking ----------------------------------------------------
    // The catalogue, the selected voice's engine, the running request and the
    // file output; made with the object, shut down first when it goes.
    std::shared_ptr<orafon::speech::CSpeechBridge> m_bridge;
    LONG m_nVoiceIdx = -1;
    LONG m_nRate = 0;
    LONG m_nVolume = 100;
    LONG m_nPitch = 0;

    // ---- Wave-format catalogue ---------------------------------------------------
    LONG m_nFileFormat = FF_WAVE;
    LONG m_nWaveFormatIdx = -1;
    CWaveFormatCatalogue m_waveFormats;

    LONG m_nSWFFrameRate = 15;
};

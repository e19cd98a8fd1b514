// Identity, reference counting, aggregation, construction and destruction of
// CTextToSpeech, and its small standard interfaces.
#include "TextToSpeech.h"

#include <orafon/CatchAtEdge.h>

#include <new>

// ---- Construction and destruction --------------------------------------------

CTextToSpeech::CTextToSpeech(orafon::ModuleServices &module, IUnknown *pUnkOuter) noexcept
    : ComAggregatable(pUnkOuter), m_module(module), m_cpPropertyNotify(this, IID_IPropertyNotifySink),
      m_cpEvents(this, DIID__ITextToSpeechEvents)
{
    m_module.Lock();
}

CTextToSpeech::~CTextToSpeech()
{
    ReleaseMembers();
    // Given back only after the members are gone: once the count is 0 the
    // module may be unloaded, and releasing a member runs code of the module.
    m_module.Unlock();
}

void CTextToSpeech::ReleaseMembers() noexcept
{
    // The order is fixed: the speech bridge first (it cuts off the engines'
    // output objects, finishes a file being written and lets go of the
    // engines), then the host-side objects.
    if (m_bridge)
        m_bridge->Shutdown();
    m_waveFormats.Clear();
    m_cpPropertyNotify.Slots().ReleaseAll();
    m_spSite.Release();
    m_cpEvents.Slots().ReleaseAll();
}

HRESULT CTextToSpeech::CreateInstance(orafon::ModuleServices &module, IUnknown *pUnkOuter, REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter && riid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;

    auto *object = new (std::nothrow) CTextToSpeech(module, pUnkOuter);
    if (!object)
        return E_OUTOFMEMORY;

    // The object's one reference, on its own IUnknown, holds it while
    // InitObject runs, so references taken and dropped there cannot destroy
    // it. Dropping it at the end destroys the object unless riid was given out.
    CComPtr<IUnknown> hold;
    hold.Attach(object->InnerUnknown());
    HRESULT hr = orafon::CatchAtEdge([object] { return object->InitObject(); });
    if (SUCCEEDED(hr))
        hr = hold->QueryInterface(riid, ppv);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CTextToSpeech::InitObject()
{
    if (HRESULT hr = orafon::speech::CSpeechBridge::Create(this, m_bridge); FAILED(hr))
        return hr;
    m_nVoiceIdx = -1;
    m_nWaveFormatIdx = -1;
    m_nSWFFrameRate = 15;

    HRESULT hr = EnumVoices();
    if (SUCCEEDED(hr) && !Voices().empty())
        hr = put_VoiceIdx(0);

    // Stored directly; nothing is sent to the engine.
    m_nPitch = 0;
    m_nRate = 0;
    m_nVolume = 100;
    if (FAILED(hr))
        return hr;

    if (!Voices().empty())
        hr = put_Pitch(0);
    if (SUCCEEDED(hr))
        hr = put_FileFormat(FF_MP3);
    if (SUCCEEDED(hr))
        hr = put_WaveFormatIdx(0);
    return hr;
}

// ---- IUnknown beyond the table --------------------------------------------------

IUnknown *CTextToSpeech::OtherInterface(REFIID riid) noexcept
{
    return m_bridge ? m_bridge->OutputObject(riid) : nullptr;
}

// ---- IDispatch type information ---------------------------------------------------

STDMETHODIMP CTextToSpeech::GetTypeInfoCount(UINT *pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    CComPtr<ITypeInfo> info;
    *pctinfo = SUCCEEDED(m_module.GetTypeInfo(IID_ITextToSpeech, &info)) && info ? 1 : 0;
    return S_OK;
}

STDMETHODIMP CTextToSpeech::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo **ppTInfo)
{
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    return m_module.GetTypeInfo(IID_ITextToSpeech, ppTInfo);
}

// ---- IProvideClassInfo2 -------------------------------------------------------------

STDMETHODIMP CTextToSpeech::GetClassInfo(ITypeInfo **ppTI)
{
    if (!ppTI)
        return E_POINTER;
    *ppTI = nullptr;
    return m_module.GetTypeInfo(CLSID_TextToSpeech, ppTI);
}

STDMETHODIMP CTextToSpeech::GetGUID(DWORD dwGuidKind, GUID *pGUID)
{
    if (!pGUID)
        return E_POINTER;
    if (dwGuidKind == GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *pGUID = DIID__ITextToSpeechEvents;
        return S_OK;
    }
    *pGUID = GUID_NULL;
    return E_FAIL;
}

// ---- ISupportErrorInfo -----------------------------------------------------------------

STDMETHODIMP CTextToSpeech::InterfaceSupportsErrorInfo(REFIID riid)
{
    return riid == IID_ITextToSpeech ? S_OK : S_FALSE;
}

// ---- IObjectWithSite ---------------------------------------------------------------------

STDMETHODIMP CTextToSpeech::SetSite(IUnknown *pUnkSite)
{
    m_spSite = pUnkSite;
    return S_OK;
}

STDMETHODIMP CTextToSpeech::GetSite(REFIID riid, void **ppvSite)
{
    if (!ppvSite)
        return E_POINTER;
    *ppvSite = nullptr;
    if (!m_spSite)
        return E_FAIL;
    return m_spSite->QueryInterface(riid, ppvSite);
}

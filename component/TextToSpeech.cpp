// Identity, reference counting, aggregation, construction and destruction of
// CTextToSpeech, and its small standard interfaces.
#include "TextToSpeech.h"

#include <module/Module.h>

#include <new>

namespace {

// Set as the count while the object is torn down, so that references taken
// and dropped by members during teardown cannot start a second destruction.
constexpr LONG kDestroyingRefCount = static_cast<LONG>(0xC0000001u);

} // namespace

// ---- Construction and destruction --------------------------------------------

CTextToSpeech::CTextToSpeech(IUnknown *pUnkOuter) noexcept
    : m_innerUnknown(this), m_pControllingUnknown(pUnkOuter ? pUnkOuter : &m_innerUnknown),
      m_cpPropertyNotify(this, IID_IPropertyNotifySink), m_cpEvents(this, DIID__ITextToSpeechEvents)
{
    ModuleLock();
}

CTextToSpeech::~CTextToSpeech()
{
    ReleaseMembers();
    // Given back only after the members are gone: once the count is 0 the
    // module may be unloaded, and releasing a member runs code of the module.
    ModuleUnlock();
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

HRESULT CTextToSpeech::CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter && riid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;

    auto *object = new (std::nothrow) CTextToSpeech(pUnkOuter);
    if (!object)
        return E_OUTOFMEMORY;

    HRESULT hr;
    if (!pUnkOuter) {
        // Hold the object while InitObject runs, so that references taken and
        // dropped there cannot destroy it; drop the hold without destroying.
        ++object->m_nRefCount;
        hr = object->InitObject();
        --object->m_nRefCount;
    } else {
        hr = object->InitObject();
    }
    if (SUCCEEDED(hr))
        hr = object->InternalQueryInterface(riid, ppv);
    if (FAILED(hr)) {
        object->m_nRefCount = kDestroyingRefCount;
        delete object;
        return hr;
    }
    return S_OK;
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

// ---- IUnknown -------------------------------------------------------------------

STDMETHODIMP CTextToSpeech::QueryInterface(REFIID riid, void **ppv)
{
    return m_pControllingUnknown->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CTextToSpeech::AddRef()
{
    return m_pControllingUnknown->AddRef();
}

STDMETHODIMP_(ULONG) CTextToSpeech::Release()
{
    return m_pControllingUnknown->Release();
}

STDMETHODIMP CTextToSpeech::CInnerUnknown::QueryInterface(REFIID riid, void **ppv)
{
    return m_owner->InternalQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CTextToSpeech::CInnerUnknown::AddRef()
{
    return m_owner->InternalAddRef();
}

STDMETHODIMP_(ULONG) CTextToSpeech::CInnerUnknown::Release()
{
    return m_owner->InternalRelease();
}

HRESULT CTextToSpeech::InternalQueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    IUnknown *found = nullptr;
    if (riid == IID_IUnknown)
        found = &m_innerUnknown;
    else if (riid == IID_IDispatch || riid == IID_ITextToSpeech)
        found = static_cast<ITextToSpeech *>(this);
    else if (riid == IID_IConnectionPointContainer)
        found = static_cast<IConnectionPointContainer *>(this);
    else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
        found = static_cast<IProvideClassInfo2 *>(this);
    else if (riid == IID_ISupportErrorInfo)
        found = static_cast<ISupportErrorInfo *>(this);
    else if (riid == IID_IObjectWithSite)
        found = static_cast<IObjectWithSite *>(this);
    // The engine output objects are objects of the speech bridge, with
    // reference counts of their own; they are what a speech engine gets as
    // this object's stream or audio destination.
    else if (m_bridge)
        return m_bridge->QueryOutputObject(riid, ppv);
    if (!found) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    found->AddRef();
    *ppv = found;
    return S_OK;
}

ULONG CTextToSpeech::InternalAddRef()
{
    return static_cast<ULONG>(++m_nRefCount);
}

ULONG CTextToSpeech::InternalRelease()
{
    const LONG count = --m_nRefCount;
    if (count == 0) {
        m_nRefCount = kDestroyingRefCount;
        delete this;
    }
    return static_cast<ULONG>(count);
}

// ---- IDispatch type information ---------------------------------------------------

STDMETHODIMP CTextToSpeech::GetTypeInfoCount(UINT *pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    CComPtr<ITypeInfo> info;
    *pctinfo = SUCCEEDED(ModuleGetTypeInfo(IID_ITextToSpeech, &info)) && info ? 1 : 0;
    return S_OK;
}

STDMETHODIMP CTextToSpeech::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo **ppTInfo)
{
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    return ModuleGetTypeInfo(IID_ITextToSpeech, ppTInfo);
}

// ---- IProvideClassInfo2 -------------------------------------------------------------

STDMETHODIMP CTextToSpeech::GetClassInfo(ITypeInfo **ppTI)
{
    if (!ppTI)
        return E_POINTER;
    *ppTI = nullptr;
    return ModuleGetTypeInfo(CLSID_TextToSpeech, ppTI);
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

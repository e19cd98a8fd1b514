#include "EventSink.h"

#include "Automation.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/Orafon.h>

namespace orafon_cli {

namespace {

// Event arguments arrive last-first; each is a long but a host must accept
// any type the caller chose, so convert.
[[nodiscard]] LONG ArgumentAt(DISPPARAMS *params, UINT index)
{
    if (!params || index >= params->cArgs)
        return 0;
    LONG value = 0;
    return VariantToLong(params->rgvarg[params->cArgs - 1 - index], value) ? value : 0;
}

} // namespace

STDMETHODIMP EventSink::GetTypeInfoCount(UINT *pctinfo)
{
    if (!pctinfo)
        return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP EventSink::GetTypeInfo(UINT, LCID, ITypeInfo **ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP EventSink::GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *)
{
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *, EXCEPINFO *, UINT *)
{
    // The listener prints and keeps state; nothing it throws goes back into the object.
    return orafon::CatchAtEdge([&] { return Deliver(id, params); });
}

HRESULT EventSink::Deliver(DISPID id, DISPPARAMS *params)
{
    switch (id) {
    case 1:
        listener_.OnStart();
        return S_OK;
    case 2:
        listener_.OnEnd();
        return S_OK;
    case 3:
        listener_.OnWord(ArgumentAt(params, 0), ArgumentAt(params, 1));
        return S_OK;
    case 4:
        listener_.OnSentence(ArgumentAt(params, 0), ArgumentAt(params, 1));
        return S_OK;
    case 5:
        listener_.OnProgress(ArgumentAt(params, 0));
        return S_OK;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT EventConnection::Connect(IUnknown *object, IUnknown *sink)
{
    CComPtr<IConnectionPointContainer> container;
    HRESULT hr = object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
    if (FAILED(hr))
        return hr;
    hr = container->FindConnectionPoint(DIID__ITextToSpeechEvents, &point_);
    if (FAILED(hr))
        return hr;
    hr = point_->Advise(sink, &cookie_);
    if (FAILED(hr))
        point_ = nullptr;
    return hr;
}

void EventConnection::Disconnect()
{
    // A connection the object already dropped needs no undoing.
    if (point_ && cookie_)
        static_cast<void>(point_->Unadvise(cookie_));
    point_ = nullptr;
    cookie_ = 0;
}

} // namespace orafon_cli

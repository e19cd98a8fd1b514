// The connection-point container and the five event fire operations.
#include "TextToSpeech.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/Holders.h>
#include <orafon/Orafon.h>

#include <array>

namespace {

// Turns a failing sink's EXCEPINFO into the thread's error object; the
// holder frees its strings.
void InstallErrorObject(orafon::CExcepInfo &info)
{
    info.FillIn();
    CComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create)) || !create)
        return;
    // Each field is best effort: an error object missing one still tells more than none.
    static_cast<void>(create->SetGUID(IID_IDispatch));
    static_cast<void>(create->SetSource(info->bstrSource));
    static_cast<void>(create->SetDescription(info->bstrDescription));
    static_cast<void>(create->SetHelpFile(info->bstrHelpFile));
    static_cast<void>(create->SetHelpContext(info->dwHelpContext));
    CComPtr<IErrorInfo> error;
    if (SUCCEEDED(create.QueryInterface(&error)))
        static_cast<void>(SetErrorInfo(0, error));
}

constexpr UINT kMaxEventArgs = 2;

} // namespace

// ---- IConnectionPointContainer ------------------------------------------------

STDMETHODIMP CTextToSpeech::EnumConnectionPoints(IEnumConnectionPoints **ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    return orafon::CatchAtEdge([&] {
        std::vector<CComPtr<IConnectionPoint>> points{&m_cpPropertyNotify, &m_cpEvents};
        return orafon::CreateConnectionPointEnumerator(std::move(points), ppEnum);
    });
}

STDMETHODIMP CTextToSpeech::FindConnectionPoint(REFIID riid, IConnectionPoint **ppCP)
{
    if (!ppCP)
        return E_POINTER;
    *ppCP = nullptr;
    for (orafon::CConnectionPoint *point : {&m_cpPropertyNotify, &m_cpEvents}) {
        if (point->Iid() == riid) {
            point->AddRef();
            *ppCP = point;
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

// ---- Firing ----------------------------------------------------------------------

HRESULT CTextToSpeech::FireEvent(DISPID dispid, const LONG *args, UINT argCount)
{
    // A handler may drop the last reference to this object; keep it alive
    // until the walk is over.
    CComPtr<ITextToSpeech> self(this);
    // Fired from the bridge's reports, which no exception may leave.
    return orafon::CatchAtEdge([&] { return FireToSinks(dispid, args, argCount); });
}

HRESULT CTextToSpeech::FireToSinks(DISPID dispid, const LONG *args, UINT argCount)
{
    // Walk a copy of the sink list: a handler that advises or unadvises
    // changes the slots, never this copy. Each copy entry holds a reference.
    const std::vector<orafon::AdvisedSink> sinks = m_cpEvents.Slots().Snapshot();
    for (const orafon::AdvisedSink &entry : sinks) {
        // A sink removed by an earlier handler of this event is not called.
        if (m_cpEvents.Slots().Find(entry.cookie) != entry.sink.get())
            continue;

        std::array<VARIANT, kMaxEventArgs> argv{};
        for (UINT i = 0; i < argCount; ++i) {
            VariantInit(&argv[i]);
            // Reverse order: rgvarg[0] holds the last parameter.
            V_VT(&argv[i]) = VT_I4;
            V_I4(&argv[i]) = args[argCount - 1 - i];
        }
        DISPPARAMS params{argCount ? argv.data() : nullptr, nullptr, argCount, 0};
        orafon::CVariant result;
        // A sink that succeeded may still have filled it; nothing of it is kept.
        orafon::CExcepInfo info;
        UINT argErr = 0xFFFFFFFFu;
        auto *sink = static_cast<IDispatch *>(entry.sink.get());
        const HRESULT hr =
            sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, info.Out(), &argErr);
        if (FAILED(hr)) {
            InstallErrorObject(info);
            return hr;
        }
    }
    return S_OK;
}

HRESULT CTextToSpeech::FireOnTTSStart()
{
    return FireEvent(DISPID_TTS_ONTTSSTART, nullptr, 0);
}

HRESULT CTextToSpeech::FireOnTTSEnd()
{
    return FireEvent(DISPID_TTS_ONTTSEND, nullptr, 0);
}

HRESULT CTextToSpeech::FireOnTTSWord(LONG nStart, LONG nLength)
{
    const LONG args[] = {nStart, nLength};
    return FireEvent(DISPID_TTS_ONTTSWORD, args, 2);
}

HRESULT CTextToSpeech::FireOnTTSSentence(LONG nStart, LONG nLength)
{
    const LONG args[] = {nStart, nLength};
    return FireEvent(DISPID_TTS_ONTTSSENTENCE, args, 2);
}

HRESULT CTextToSpeech::FireOnTTSProgress(LONG nPercent)
{
    const LONG args[] = {nPercent};
    return FireEvent(DISPID_TTS_ONTTSPROGRESS, args, 1);
}

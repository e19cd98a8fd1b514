// Receives the component's events through an IDispatch sink advised on its
// connection point, as a script host does.
#pragma once

#include <orafon/ComObject.h>
#include <orafon/Orafon.h>
#include <orafon/win/windows.h>

namespace orafon_cli {

class SpeechListener {
public:
    virtual void OnStart() = 0;
    virtual void OnEnd() = 0;
    virtual void OnWord(LONG start, LONG length) = 0;
    virtual void OnSentence(LONG start, LONG length) = 0;
    virtual void OnProgress(LONG percent) = 0;

protected:
    ~SpeechListener() = default;
};

// The events' dispinterface, which is also its IDispatch.
class EventSink final
    : public orafon::ComObject<EventSink, _ITextToSpeechEvents, orafon::ComAlias<IDispatch, _ITextToSpeechEvents>> {
public:
    explicit EventSink(SpeechListener &listener) : listener_(listener) {}

    STDMETHODIMP GetTypeInfoCount(UINT *pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *, EXCEPINFO *, UINT *) override;

private:
    [[nodiscard]] HRESULT Deliver(DISPID id, DISPPARAMS *params);

    SpeechListener &listener_;
};

// Advises a sink on the object's event connection point for its lifetime.
class EventConnection {
public:
    EventConnection() = default;
    EventConnection(const EventConnection &) = delete;
    EventConnection &operator=(const EventConnection &) = delete;
    ~EventConnection() { Disconnect(); }

    [[nodiscard]] HRESULT Connect(IUnknown *object, IUnknown *sink);
    void Disconnect();

private:
    CComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

} // namespace orafon_cli

// Objects the component tests talk to: an event sink, a plain COM object,
// and helpers to make the object under test.
#pragma once

#include "TestServices.h"

#include <component/OleHelpers.h>
#include <component/TextToSpeechFactory.h>
#include <orafon/Orafon.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace orafon::test {

inline CComPtr<ITextToSpeech> MakeTts()
{
    CComPtr<ITextToSpeech> tts;
    EXPECT_EQ(CTextToSpeech_CreateInstance(TestModule(), nullptr, IID_ITextToSpeech, reinterpret_cast<void **>(&tts)),
              S_OK);
    return tts;
}

inline std::u16string ToU16(BSTR s)
{
    return s ? std::u16string(s, SysStringLen(s)) : std::u16string();
}

// Counts its references; answers IUnknown and the IIDs it is given.
class CountedObject : public IUnknown {
public:
    explicit CountedObject(std::vector<IID> answers = {}) : m_answers(std::move(answers)) {}
    virtual ~CountedObject() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (queryResult != S_OK)
            return queryResult;
        if (riid == IID_IUnknown || Answers(riid)) {
            *ppv = static_cast<IUnknown *>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refCount; }
    STDMETHODIMP_(ULONG) Release() override { return --refCount; }

    bool Answers(REFIID riid) const
    {
        for (const IID &iid : m_answers) {
            if (iid == riid)
                return true;
        }
        return false;
    }

    // Objects live on the test's stack; the count shows what others hold.
    ULONG refCount = 1;
    HRESULT queryResult = S_OK;

private:
    std::vector<IID> m_answers;
};

// One received event: its DISPID and its arguments in parameter order.
struct ReceivedEvent {
    DISPID id;
    std::vector<LONG> args;
    bool operator==(const ReceivedEvent &o) const { return id == o.id && args == o.args; }
};

// What the last Invoke call looked like besides its arguments.
struct InvokeShape {
    bool riidNull = false;
    LCID lcid = 0;
    WORD flags = 0;
    UINT argErr = 0;
    bool resultEmpty = false;
    UINT namedArgs = 99;
};

// An _ITextToSpeechEvents sink that records what it receives. onEvent, when
// set, runs inside Invoke and gives its result.
class EventSink : public IDispatch {
public:
    explicit EventSink(bool answersEvents = true) : m_answersEvents(answersEvents) {}
    virtual ~EventSink() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || (m_answersEvents && riid == DIID__ITextToSpeechEvents)) {
            *ppv = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refCount; }
    STDMETHODIMP_(ULONG) Release() override { return --refCount; }
    STDMETHODIMP GetTypeInfoCount(UINT *pctinfo) override
    {
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *info, UINT *argErr) override
    {
        last.riidNull = riid == IID_NULL;
        last.lcid = lcid;
        last.flags = flags;
        last.argErr = argErr ? *argErr : 0;
        last.resultEmpty = result && V_VT(result) == VT_EMPTY;
        last.namedArgs = params ? params->cNamedArgs : 99;
        ReceivedEvent event{id, {}};
        if (params) {
            // rgvarg holds the last parameter first.
            for (UINT i = params->cArgs; i-- > 0;) {
                EXPECT_EQ(V_VT(&params->rgvarg[i]), VT_I4);
                event.args.push_back(V_I4(&params->rgvarg[i]));
            }
        }
        received.push_back(event);
        if (onEvent)
            return onEvent(*this, id, info);
        return S_OK;
    }

    ULONG refCount = 1;
    std::vector<ReceivedEvent> received;
    std::function<HRESULT(EventSink &, DISPID, EXCEPINFO *)> onEvent;
    InvokeShape last;

private:
    bool m_answersEvents;
};

inline CComPtr<IConnectionPoint> EventPoint(IUnknown *object, REFIID iid = DIID__ITextToSpeechEvents)
{
    CComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)), S_OK);
    CComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(iid, &point), S_OK);
    return point;
}

} // namespace orafon::test

// Connection points and events: lookup, enumerators, cookies and slot growth,
// firing order and arguments, failing sinks, and handlers that change the
// sinks or the object while an event is being delivered.
#include "TestObjects.h"

#include <component/TextToSpeech.h>

#include <memory>

using orafon::CBstr;
using namespace orafon::test;

namespace {

CTextToSpeech *Impl(ITextToSpeech *tts)
{
    return static_cast<CTextToSpeech *>(tts);
}

// ---- Container ----------------------------------------------------------------

TEST(ComponentConnectionPoints, FindConnectionPointByInterface)
{
    auto tts = MakeTts();
    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(tts->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)), S_OK);

    for (const IID &iid : {DIID__ITextToSpeechEvents, IID_IPropertyNotifySink}) {
        CComPtr<IConnectionPoint> point;
        ASSERT_EQ(container->FindConnectionPoint(iid, &point), S_OK);
        IID reported = IID_NULL;
        EXPECT_EQ(point->GetConnectionInterface(&reported), S_OK);
        EXPECT_EQ(reported, iid);
        EXPECT_EQ(point->GetConnectionInterface(nullptr), E_POINTER);
        CComPtr<IConnectionPointContainer> back;
        ASSERT_EQ(point->GetConnectionPointContainer(&back), S_OK);
        EXPECT_EQ(back.get(), container.get());
    }
    IConnectionPoint *none = reinterpret_cast<IConnectionPoint *>(1);
    EXPECT_EQ(container->FindConnectionPoint(IID_ITextToSpeech, &none), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &none), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(container->FindConnectionPoint(DIID__ITextToSpeechEvents, nullptr), E_POINTER);
}

TEST(ComponentConnectionPoints, PointAnswersItsOwnInterfacesAndKeepsTheObjectAlive)
{
    const LONG locksBefore = ModuleLockCountForTest();
    CComPtr<IConnectionPoint> point;
    {
        auto tts = MakeTts();
        point = EventPoint(tts);
    }
    // The object lives while its point is held.
    EXPECT_EQ(ModuleLockCountForTest(), locksBefore + 1);
    CComPtr<IUnknown> unk;
    EXPECT_EQ(point->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&unk)), S_OK);
    CComPtr<IConnectionPoint> again;
    EXPECT_EQ(point->QueryInterface(IID_IConnectionPoint, reinterpret_cast<void **>(&again)), S_OK);
    void *pv = reinterpret_cast<void *>(1);
    EXPECT_EQ(point->QueryInterface(IID_ITextToSpeech, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    unk.Release();
    again.Release();
    point.Release();
    EXPECT_EQ(ModuleLockCountForTest(), locksBefore);
}

TEST(ComponentConnectionPoints, EnumConnectionPointsInMapOrder)
{
    auto tts = MakeTts();
    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(tts->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)), S_OK);
    EXPECT_EQ(container->EnumConnectionPoints(nullptr), E_POINTER);
    CComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);

    IConnectionPoint *got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(3, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    IID iid;
    got[0]->GetConnectionInterface(&iid);
    EXPECT_EQ(iid, IID_IPropertyNotifySink);
    got[1]->GetConnectionInterface(&iid);
    EXPECT_EQ(iid, DIID__ITextToSpeechEvents);
    got[0]->Release();
    got[1]->Release();

    EXPECT_EQ(points->Next(1, got, nullptr), S_FALSE);
    EXPECT_EQ(points->Reset(), S_OK);
    EXPECT_EQ(points->Skip(1), S_OK);
    CComPtr<IEnumConnectionPoints> clone;
    ASSERT_EQ(points->Clone(&clone), S_OK);
    EXPECT_EQ(clone->Next(1, got, nullptr), S_OK);
    got[0]->GetConnectionInterface(&iid);
    EXPECT_EQ(iid, DIID__ITextToSpeechEvents);
    got[0]->Release();
    EXPECT_EQ(points->Skip(5), S_FALSE);
    EXPECT_EQ(points->Next(2, got, nullptr), E_POINTER);
}

// ---- Advise and Unadvise ----------------------------------------------------------

TEST(ComponentConnectionPoints, CookiesCountFromOneAndAreReused)
{
    EventSink a, b, c, d;
    auto tts = MakeTts();
    auto point = EventPoint(tts);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(&a, &cookie), S_OK);
    EXPECT_EQ(cookie, 1u);
    EXPECT_EQ(point->Advise(&b, &cookie), S_OK);
    EXPECT_EQ(cookie, 2u);
    EXPECT_EQ(point->Advise(&c, &cookie), S_OK);
    EXPECT_EQ(cookie, 3u);
    EXPECT_EQ(point->Unadvise(2), S_OK);
    EXPECT_EQ(point->Advise(&d, &cookie), S_OK);
    EXPECT_EQ(cookie, 2u);
    EXPECT_EQ(point->Unadvise(2), S_OK);
    EXPECT_EQ(point->Unadvise(2), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(99), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(1), S_OK);
    EXPECT_EQ(point->Unadvise(3), S_OK);
}

TEST(ComponentConnectionPoints, SingleSinkAdvisedAgainGetsCookieOne)
{
    EventSink a;
    auto tts = MakeTts();
    auto point = EventPoint(tts);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(&a, &cookie), S_OK);
    EXPECT_EQ(cookie, 1u);
    EXPECT_EQ(point->Unadvise(1), S_OK);
    EXPECT_EQ(point->Unadvise(1), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Advise(&a, &cookie), S_OK);
    EXPECT_EQ(cookie, 1u);
}

TEST(ComponentConnectionPoints, SlotsGrowAndKeepTheirCookies)
{
    std::vector<std::unique_ptr<EventSink>> sinks;
    EventSink late;
    auto tts = MakeTts();
    auto point = EventPoint(tts);
    for (DWORD expected = 1; expected <= 40; ++expected) {
        sinks.push_back(std::make_unique<EventSink>());
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(sinks.back().get(), &cookie), S_OK);
        EXPECT_EQ(cookie, expected);
    }
    EXPECT_EQ(Impl(tts)->FireOnTTSProgress(7), S_OK);
    for (auto &sink : sinks) {
        ASSERT_EQ(sink->received.size(), 1u);
        EXPECT_EQ(sink->refCount, 2u);
    }
    // Free a few slots in the middle; the lowest is reused first.
    for (DWORD cookie : {17u, 5u, 33u})
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
    DWORD cookie = 0;
    for (DWORD expected : {5u, 17u, 33u, 41u}) {
        ASSERT_EQ(point->Advise(&late, &cookie), S_OK);
        EXPECT_EQ(cookie, expected);
    }
    EXPECT_EQ(late.refCount, 5u);
}

TEST(ComponentConnectionPoints, AdviseChecksTheSink)
{
    EventSink good;
    EventSink dispatchOnly(false);
    auto tts = MakeTts();
    auto point = EventPoint(tts);
    DWORD cookie = 77;
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(point->Advise(&good, nullptr), E_POINTER);

    cookie = 77;
    EXPECT_EQ(point->Advise(&dispatchOnly, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(dispatchOnly.refCount, 1u);

    CountedObject failing;
    failing.queryResult = E_UNEXPECTED;
    EXPECT_EQ(point->Advise(&failing, &cookie), E_UNEXPECTED);
    EXPECT_EQ(failing.refCount, 1u);

    // The property-change point asks for IPropertyNotifySink.
    auto propertyPoint = EventPoint(tts, IID_IPropertyNotifySink);
    EXPECT_EQ(propertyPoint->Advise(&good, &cookie), CONNECT_E_CANNOTCONNECT);
    CountedObject propertySink({IID_IPropertyNotifySink});
    EXPECT_EQ(propertyPoint->Advise(&propertySink, &cookie), S_OK);
    EXPECT_EQ(cookie, 1u);
    EXPECT_EQ(propertySink.refCount, 2u);
    EXPECT_EQ(propertyPoint->Unadvise(1), S_OK);
    EXPECT_EQ(propertySink.refCount, 1u);
}

TEST(ComponentConnectionPoints, AdvisedSinksAreReleasedWithTheObject)
{
    EventSink events;
    CountedObject propertySink({IID_IPropertyNotifySink});
    {
        auto tts = MakeTts();
        DWORD cookie = 0;
        EXPECT_EQ(EventPoint(tts)->Advise(&events, &cookie), S_OK);
        EXPECT_EQ(EventPoint(tts, IID_IPropertyNotifySink)->Advise(&propertySink, &cookie), S_OK);
        EXPECT_EQ(events.refCount, 2u);
        EXPECT_EQ(propertySink.refCount, 2u);
        EXPECT_EQ(Impl(tts)->FireOnTTSStart(), S_OK);
    }
    EXPECT_EQ(events.refCount, 1u);
    EXPECT_EQ(propertySink.refCount, 1u);
}

TEST(ComponentConnectionPoints, EnumConnectionsIsASnapshot)
{
    EventSink a, b, c;
    auto tts = MakeTts();
    auto point = EventPoint(tts);
    DWORD cookie = 0;
    point->Advise(&a, &cookie);
    point->Advise(&b, &cookie);
    point->Advise(&c, &cookie);
    point->Unadvise(2);
    EXPECT_EQ(point->EnumConnections(nullptr), E_POINTER);
    CComPtr<IEnumConnections> connections;
    ASSERT_EQ(point->EnumConnections(&connections), S_OK);
    // Later changes do not reach the enumerator.
    point->Unadvise(1);

    CONNECTDATA data[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(data[0].dwCookie, 1u);
    EXPECT_EQ(data[0].pUnk, static_cast<IUnknown *>(&a));
    EXPECT_EQ(data[1].dwCookie, 3u);
    EXPECT_EQ(data[1].pUnk, static_cast<IUnknown *>(&c));
    EXPECT_EQ(a.refCount, 3u); // the enumerator's copy and the entry handed out
    data[0].pUnk->Release();
    data[1].pUnk->Release();
    connections.Release();
    EXPECT_EQ(a.refCount, 1u);
    EXPECT_EQ(c.refCount, 2u);
}

// ---- Firing --------------------------------------------------------------------------

TEST(ComponentEvents, EachEventReachesTheSinkWithItsArguments)
{
    EventSink sink;
    auto tts = MakeTts();
    DWORD cookie = 0;
    ASSERT_EQ(EventPoint(tts)->Advise(&sink, &cookie), S_OK);
    CTextToSpeech *impl = Impl(tts);
    EXPECT_EQ(impl->FireOnTTSStart(), S_OK);
    EXPECT_EQ(impl->FireOnTTSWord(6, 5), S_OK);
    EXPECT_EQ(impl->FireOnTTSSentence(0, 11), S_OK);
    EXPECT_EQ(impl->FireOnTTSProgress(54), S_OK);
    EXPECT_EQ(impl->FireOnTTSEnd(), S_OK);
    const std::vector<ReceivedEvent> expected = {
        {1, {}}, {3, {6, 5}}, {4, {0, 11}}, {5, {54}}, {2, {}},
    };
    EXPECT_EQ(sink.received, expected);
    EXPECT_TRUE(sink.last.riidNull);
    EXPECT_EQ(sink.last.lcid, static_cast<LCID>(LOCALE_USER_DEFAULT));
    EXPECT_EQ(sink.last.flags, DISPATCH_METHOD);
    EXPECT_EQ(sink.last.argErr, 0xFFFFFFFFu);
    EXPECT_TRUE(sink.last.resultEmpty);
    EXPECT_EQ(sink.last.namedArgs, 0u);
}

TEST(ComponentEvents, NoSinkIsFine)
{
    auto tts = MakeTts();
    EXPECT_EQ(Impl(tts)->FireOnTTSWord(1, 2), S_OK);
}

TEST(ComponentEvents, SinksAreCalledInSlotOrder)
{
    EventSink first, second, third;
    auto tts = MakeTts();
    auto point = EventPoint(tts);
    std::vector<int> order;
    first.onEvent = [&](EventSink &, DISPID, EXCEPINFO *) {
        order.push_back(1);
        return S_OK;
    };
    second.onEvent = [&](EventSink &, DISPID, EXCEPINFO *) {
        order.push_back(2);
        return S_OK;
    };
    third.onEvent = [&](EventSink &, DISPID, EXCEPINFO *) {
        order.push_back(3);
        return S_OK;
    };
    DWORD cookie = 0;
    point->Advise(&first, &cookie);
    point->Advise(&second, &cookie);
    point->Advise(&third, &cookie);
    point->Unadvise(2);
    EXPECT_EQ(Impl(tts)->FireOnTTSStart(), S_OK);
    EXPECT_EQ(order, (std::vector<int>{1, 3}));
}

HRESULT STDAPICALLTYPE FillInDescription(EXCEPINFO *info)
{
    info->bstrHelpFile = SysAllocString(u"help.chm");
    return S_OK;
}

TEST(ComponentEvents, FailingSinkStopsThatEventAndLeavesAnErrorObject)
{
    EventSink failing, next;
    auto tts = MakeTts();
    auto point = EventPoint(tts);
    int calls = 0;
    failing.onEvent = [&](EventSink &, DISPID, EXCEPINFO *info) {
        if (++calls > 1)
            return S_OK;
        info->bstrSource = SysAllocString(u"Host");
        info->bstrDescription = SysAllocString(u"handler failed");
        info->dwHelpContext = 42;
        info->pfnDeferredFillIn = &FillInDescription;
        return E_FAIL;
    };
    DWORD cookie = 0;
    point->Advise(&failing, &cookie);
    point->Advise(&next, &cookie);
    SetErrorInfo(0, nullptr);

    EXPECT_EQ(Impl(tts)->FireOnTTSWord(0, 5), E_FAIL);
    EXPECT_TRUE(next.received.empty());
    CComPtr<IErrorInfo> error;
    ASSERT_EQ(GetErrorInfo(0, &error), S_OK);
    ASSERT_TRUE(error);
    CBstr text;
    EXPECT_EQ(error->GetDescription(text.Out()), S_OK);
    EXPECT_EQ(ToU16(text.Get()), u"handler failed");
    EXPECT_EQ(error->GetSource(text.Out()), S_OK);
    EXPECT_EQ(ToU16(text.Get()), u"Host");
    EXPECT_EQ(error->GetHelpFile(text.Out()), S_OK);
    EXPECT_EQ(ToU16(text.Get()), u"help.chm");
    DWORD context = 0;
    EXPECT_EQ(error->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 42u);
    GUID guid = GUID_NULL;
    EXPECT_EQ(error->GetGUID(&guid), S_OK);
    EXPECT_EQ(guid, IID_IDispatch);

    // The next event reaches both.
    EXPECT_EQ(Impl(tts)->FireOnTTSWord(6, 5), S_OK);
    ASSERT_EQ(next.received.size(), 1u);
    EXPECT_EQ(next.received[0].args, (std::vector<LONG>{6, 5}));
}

// ---- Handlers that change things during a fire -------------------------------------------

TEST(ComponentEvents, SinkRemovedByAnEarlierHandlerIsNotCalled)
{
    EventSink remover, removed;
    auto tts = MakeTts();
    auto point = EventPoint(tts);
    DWORD removedCookie = 0, cookie = 0;
    point->Advise(&remover, &cookie);
    point->Advise(&removed, &removedCookie);
    remover.onEvent = [&](EventSink &, DISPID, EXCEPINFO *) { return point->Unadvise(removedCookie); };
    EXPECT_EQ(Impl(tts)->FireOnTTSStart(), S_OK);
    EXPECT_TRUE(removed.received.empty());
    EXPECT_EQ(removed.refCount, 1u);
}

TEST(ComponentEvents, HandlerMayUnadviseItself)
{
    EventSink self, other;
    auto tts = MakeTts();
    auto point = EventPoint(tts);
    DWORD selfCookie = 0, cookie = 0;
    point->Advise(&self, &selfCookie);
    point->Advise(&other, &cookie);
    self.onEvent = [&](EventSink &, DISPID, EXCEPINFO *) { return point->Unadvise(selfCookie); };
    EXPECT_EQ(Impl(tts)->FireOnTTSStart(), S_OK);
    EXPECT_EQ(other.received.size(), 1u);
    EXPECT_EQ(Impl(tts)->FireOnTTSEnd(), S_OK);
    EXPECT_EQ(self.received.size(), 1u);
    EXPECT_EQ(other.received.size(), 2u);
    EXPECT_EQ(self.refCount, 1u);
}

TEST(ComponentEvents, HandlerMayAdviseUntilTheSlotsMove)
{
    EventSink grower;
    std::vector<std::unique_ptr<EventSink>> added;
    auto tts = MakeTts();
    auto point = EventPoint(tts);
    grower.onEvent = [&](EventSink &, DISPID, EXCEPINFO *) {
        for (int i = 0; i < 20; ++i) {
            added.push_back(std::make_unique<EventSink>());
            DWORD cookie = 0;
            EXPECT_EQ(point->Advise(added.back().get(), &cookie), S_OK);
        }
        return S_OK;
    };
    DWORD cookie = 0;
    point->Advise(&grower, &cookie);
    EXPECT_EQ(Impl(tts)->FireOnTTSProgress(10), S_OK);
    ASSERT_EQ(added.size(), 20u);
    grower.onEvent = nullptr;
    EXPECT_EQ(Impl(tts)->FireOnTTSProgress(20), S_OK);
    for (auto &sink : added) {
        ASSERT_FALSE(sink->received.empty());
        EXPECT_EQ(sink->received.back().args, std::vector<LONG>{20});
    }
    point.Release();
    tts.Release();
    for (auto &sink : added)
        EXPECT_EQ(sink->refCount, 1u);
}

TEST(ComponentEvents, HandlerMayDropTheLastReference)
{
    EventSink dropper, after;
    const LONG locksBefore = ModuleLockCountForTest();
    ITextToSpeech *raw = nullptr;
    ASSERT_EQ(CTextToSpeech_CreateInstance(TestModule(), nullptr, IID_ITextToSpeech, reinterpret_cast<void **>(&raw)),
              S_OK);
    {
        auto point = EventPoint(raw);
        DWORD cookie = 0;
        point->Advise(&dropper, &cookie);
        point->Advise(&after, &cookie);
    }
    dropper.onEvent = [&](EventSink &, DISPID, EXCEPINFO *) {
        raw->Release(); // the host's only reference
        return S_OK;
    };
    EXPECT_EQ(Impl(raw)->FireOnTTSEnd(), S_OK);
    // The walk finished on a live object, then the object went away.
    EXPECT_EQ(after.received.size(), 1u);
    EXPECT_EQ(ModuleLockCountForTest(), locksBefore);
    EXPECT_EQ(dropper.refCount, 1u);
    EXPECT_EQ(after.refCount, 1u);
}

} // namespace

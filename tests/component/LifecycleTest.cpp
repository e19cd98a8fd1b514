// Creation, initial values, reference counting, module locks and aggregation.
#include "TestObjects.h"

using orafon::CBstr;
using namespace orafon::test;

namespace {

TEST(ComponentLifecycle, NewObjectHasItsInitialValues)
{
    auto tts = MakeTts();
    LONG value = 0;
    EXPECT_EQ(tts->get_VoiceIdx(&value), S_OK);
    EXPECT_EQ(value, -1);
    FILEFORMAT format = FF_WAVE;
    EXPECT_EQ(tts->get_FileFormat(&format), S_OK);
    EXPECT_EQ(format, FF_MP3);
    EXPECT_EQ(tts->get_WaveFormatIdx(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(tts->get_WaveFormatCount(&value), S_OK);
    EXPECT_EQ(value, 22);
    EXPECT_EQ(tts->get_SWFFrameRate(&value), S_OK);
    EXPECT_EQ(value, 15);
    EXPECT_EQ(tts->get_Rate(&value), E_FAIL);
}

TEST(ComponentLifecycle, EachLiveObjectHoldsAModuleLock)
{
    const LONG before = ModuleLockCountForTest();
    {
        auto first = MakeTts();
        EXPECT_EQ(ModuleLockCountForTest(), before + 1);
        auto second = MakeTts();
        EXPECT_EQ(ModuleLockCountForTest(), before + 2);
    }
    EXPECT_EQ(ModuleLockCountForTest(), before);
}

// Services that remember which type information the object asked for.
class RecordingServices final : public orafon::ModuleServices {
public:
    LONG Lock() noexcept override { return ++locks; }
    LONG Unlock() noexcept override { return --locks; }
    HRESULT GetTypeInfo(REFGUID guid, ITypeInfo **ppTInfo) noexcept override
    {
        asked.push_back(guid);
        *ppTInfo = nullptr;
        return TYPE_E_CANTLOADLIBRARY;
    }

    LONG locks = 0;
    std::vector<GUID> asked;
};

TEST(ComponentLifecycle, ObjectUsesTheServicesItWasMadeWith)
{
    RecordingServices services;
    const LONG sharedBefore = ModuleLockCountForTest();
    {
        CComPtr<ITextToSpeech> tts;
        ASSERT_EQ(CTextToSpeech_CreateInstance(services, nullptr, IID_ITextToSpeech, reinterpret_cast<void **>(&tts)),
                  S_OK);
        EXPECT_EQ(services.locks, 1);
        EXPECT_EQ(ModuleLockCountForTest(), sharedBefore);

        UINT count = 7;
        EXPECT_EQ(tts->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 0u);
        CComPtr<ITypeInfo> info;
        EXPECT_EQ(tts->GetTypeInfo(0, 0, &info), TYPE_E_CANTLOADLIBRARY);
        CComPtr<IProvideClassInfo2> provide;
        ASSERT_EQ(tts->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void **>(&provide)), S_OK);
        EXPECT_EQ(provide->GetClassInfo(&info), TYPE_E_CANTLOADLIBRARY);
        const std::vector<GUID> expected = {IID_ITextToSpeech, IID_ITextToSpeech, CLSID_TextToSpeech};
        EXPECT_EQ(services.asked, expected);
    }
    EXPECT_EQ(services.locks, 0);
}

TEST(ComponentLifecycle, ReferenceCountsReturnTheNewCount)
{
    ITextToSpeech *tts = nullptr;
    ASSERT_EQ(CTextToSpeech_CreateInstance(TestModule(), nullptr, IID_ITextToSpeech, reinterpret_cast<void **>(&tts)),
              S_OK);
    EXPECT_EQ(tts->AddRef(), 2u);
    EXPECT_EQ(tts->AddRef(), 3u);
    EXPECT_EQ(tts->Release(), 2u);
    EXPECT_EQ(tts->Release(), 1u);
    EXPECT_EQ(tts->Release(), 0u);
}

TEST(ComponentLifecycle, CreationFailuresLeaveNoObject)
{
    const LONG before = ModuleLockCountForTest();
    EXPECT_EQ(CTextToSpeech_CreateInstance(TestModule(), nullptr, IID_ITextToSpeech, nullptr), E_POINTER);
    void *pv = reinterpret_cast<void *>(1);
    EXPECT_EQ(CTextToSpeech_CreateInstance(TestModule(), nullptr, IID_IClassFactory, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(ModuleLockCountForTest(), before);
}

TEST(ComponentLifecycle, CreatableForEachOfItsInterfaces)
{
    for (const IID &iid : {IID_IUnknown, IID_IDispatch, IID_ITextToSpeech, IID_IConnectionPointContainer,
                           IID_IProvideClassInfo2, IID_ISupportErrorInfo, IID_IObjectWithSite}) {
        IUnknown *unk = nullptr;
        ASSERT_EQ(CTextToSpeech_CreateInstance(TestModule(), nullptr, iid, reinterpret_cast<void **>(&unk)), S_OK);
        ASSERT_NE(unk, nullptr);
        EXPECT_EQ(unk->Release(), 0u); // the reference handed out is the only one
    }
}

// ---- Aggregation ---------------------------------------------------------------------

// An outer object that aggregates CTextToSpeech: it holds the inner object's
// non-delegating IUnknown and hands out the inner interfaces as its own.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown *>(this);
            AddRef();
            return S_OK;
        }
        ++delegatedQueries;
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refCount; }
    STDMETHODIMP_(ULONG) Release() override { return --refCount; }

    ULONG refCount = 1;
    int delegatedQueries = 0;
    IUnknown *inner = nullptr;
};

TEST(ComponentAggregation, OnlyIUnknownMayBeAskedForWithAnOuterObject)
{
    Outer outer;
    void *pv = reinterpret_cast<void *>(1);
    const LONG before = ModuleLockCountForTest();
    EXPECT_EQ(CTextToSpeech_CreateInstance(TestModule(), &outer, IID_ITextToSpeech, &pv), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(ModuleLockCountForTest(), before);
    EXPECT_EQ(outer.refCount, 1u);
}

TEST(ComponentAggregation, InterfacesDelegateToTheOuterObject)
{
    Outer outer;
    const LONG before = ModuleLockCountForTest();
    ASSERT_EQ(CTextToSpeech_CreateInstance(TestModule(), &outer, IID_IUnknown, reinterpret_cast<void **>(&outer.inner)),
              S_OK);
    ASSERT_NE(outer.inner, nullptr);
    EXPECT_EQ(ModuleLockCountForTest(), before + 1);
    EXPECT_EQ(outer.refCount, 1u); // creation took no reference on the outer object

    // The inner IUnknown is the object's own: it answers and counts itself.
    ITextToSpeech *tts = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_ITextToSpeech, reinterpret_cast<void **>(&tts)), S_OK);
    // The reference taken through QueryInterface lands on the outer object.
    EXPECT_EQ(outer.refCount, 2u);
    LONG count = 0;
    EXPECT_EQ(tts->get_WaveFormatCount(&count), S_OK);
    EXPECT_EQ(count, 22);

    // IUnknown methods of the inner interfaces go to the outer object.
    tts->AddRef();
    EXPECT_EQ(outer.refCount, 3u);
    tts->Release();
    IUnknown *identity = nullptr;
    ASSERT_EQ(tts->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown *>(&outer));
    identity->Release();
    const int delegatedBefore = outer.delegatedQueries;
    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(tts->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)), S_OK);
    EXPECT_EQ(outer.delegatedQueries, delegatedBefore + 1);
    // Connection points count on the outer object too.
    CComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID__ITextToSpeechEvents, &point), S_OK);
    EXPECT_EQ(outer.refCount, 4u);
    point.Release();
    container.Release();
    tts->Release();
    EXPECT_EQ(outer.refCount, 1u);

    // Releasing the inner IUnknown destroys the inner object.
    EXPECT_EQ(outer.inner->Release(), 0u);
    outer.inner = nullptr;
    EXPECT_EQ(ModuleLockCountForTest(), before);
}

TEST(ComponentAggregation, EventsWorkWhenAggregated)
{
    Outer outer;
    ASSERT_EQ(CTextToSpeech_CreateInstance(TestModule(), &outer, IID_IUnknown, reinterpret_cast<void **>(&outer.inner)),
              S_OK);
    EventSink sink;
    {
        CComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(outer.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)), S_OK);
        CComPtr<IConnectionPoint> point;
        ASSERT_EQ(container->FindConnectionPoint(DIID__ITextToSpeechEvents, &point), S_OK);
        DWORD cookie = 0;
        EXPECT_EQ(point->Advise(&sink, &cookie), S_OK);
        EXPECT_EQ(cookie, 1u);
    }
    EXPECT_EQ(sink.refCount, 2u);
    EXPECT_EQ(outer.inner->Release(), 0u);
    outer.inner = nullptr;
    EXPECT_EQ(sink.refCount, 1u);
    EXPECT_EQ(outer.refCount, 1u);
}

} // namespace

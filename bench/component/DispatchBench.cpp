// Cost of reaching a member by name and by DISPID, as script hosts do for
// every property access, and of firing an event to several sinks.
#include <component/TextToSpeech.h>
#include <component/TextToSpeechFactory.h>
#include <tests/component/TestServices.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

CComPtr<ITextToSpeech> Make()
{
    CComPtr<ITextToSpeech> tts;
    // A failure leaves tts null, which the caller checks.
    static_cast<void>(CTextToSpeech_CreateInstance(orafon::test::TestModule(), nullptr, IID_ITextToSpeech,
                                                   reinterpret_cast<void **>(&tts)));
    return tts;
}

void BM_GetIDsOfNames(benchmark::State &state)
{
    auto tts = Make();
    // The last name of the table: the longest walk.
    std::u16string name = u"get_SAPIVersion";
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    for (auto _ : state) {
        tts->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        benchmark::DoNotOptimize(id);
    }
}
BENCHMARK(BM_GetIDsOfNames);

void BM_InvokeLongGetter(benchmark::State &state)
{
    auto tts = Make();
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    for (auto _ : state) {
        tts->Invoke(21, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
        benchmark::DoNotOptimize(result.lVal);
    }
    VariantClear(&result);
}
BENCHMARK(BM_InvokeLongGetter);

void BM_InvokeStringGetter(benchmark::State &state)
{
    auto tts = Make();
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    for (auto _ : state) {
        tts->Invoke(16, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
        benchmark::DoNotOptimize(result.bstrVal);
    }
    VariantClear(&result);
}
BENCHMARK(BM_InvokeStringGetter);

void BM_InvokePutConvertingString(benchmark::State &state)
{
    auto tts = Make();
    VARIANT arg;
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(u"24");
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    for (auto _ : state)
        benchmark::DoNotOptimize(
            tts->Invoke(21, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr));
    VariantClear(&arg);
}
BENCHMARK(BM_InvokePutConvertingString);

// A sink that accepts every event.
class NullSink final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__ITextToSpeechEvents) {
            *ppv = static_cast<IDispatch *>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT *) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *, EXCEPINFO *, UINT *) override
    {
        benchmark::DoNotOptimize(params->rgvarg[0].lVal);
        return S_OK;
    }
};

void BM_FireWordToSinks(benchmark::State &state)
{
    // The sinks outlive the object, which releases them when it goes.
    std::vector<NullSink> sinks(static_cast<size_t>(state.range(0)));
    auto tts = Make();
    CComPtr<IConnectionPointContainer> container;
    tts->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
    CComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(DIID__ITextToSpeechEvents, &point);
    for (NullSink &sink : sinks) {
        DWORD cookie = 0;
        point->Advise(&sink, &cookie);
    }
    auto *impl = static_cast<CTextToSpeech *>(tts.get());
    LONG position = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(impl->FireOnTTSWord(position++, 5));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FireWordToSinks)->Arg(1)->Arg(4)->Arg(16);

} // namespace

BENCHMARK_MAIN();

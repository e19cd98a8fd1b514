// Speed of the SAPI 5 voice against the espeak-ng library it drives.
//
//   EspeakLibrary/2000 words   espeak-ng's own API, synchronous, into memory
//   VoiceToStream/2000 words   ISpVoice::Speak into a client stream, same voice and text
//   SpeedRatio                 library time / voice time (the goal is 0.95 or more)
//   AsyncSpeakToFirstAudio     from an asynchronous Speak to the first bytes the stream receives
//   PurgeToEnd                 from Speak("", SPF_PURGEBEFORESPEAK) while speaking aloud to the
//                              end of the purged stream
//
// The library benchmark runs first and alone: espeak-ng is one engine per
// process, and the voices' worker takes it over on first use.
#include "BenchSupport.h"
#include "support/SpEvents.h"

#include <espeak-ng/speak_lib.h>
#include <orafon/PcmFormat.h>
#include <orafon/win/objbase.h>
#include <orafon/win/sapi.h>
#include <orafon/win/winbase.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using orafon::bench::Text2000Words;
using Clock = std::chrono::steady_clock;

std::u16string Widen(const std::string &s)
{
    return std::u16string(s.begin(), s.end());
}

double g_libraryMs = 0;
double g_voiceMs = 0;
size_t g_librarySamples = 0;

int CountSamples(short *wav, int n, espeak_EVENT *)
{
    if (wav)
        g_librarySamples += static_cast<size_t>(n);
    return 0;
}

void EspeakLibrary(benchmark::State &state)
{
    espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 100, nullptr, 0); // the buffer the voices use
    espeak_SetSynthCallback(CountSamples);
    espeak_SetVoiceByName("gmw/en-US");
    const std::string text = Text2000Words();
    for (auto _ : state) {
        g_librarySamples = 0;
        const auto start = Clock::now();
        espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(ms / 1000);
        g_libraryMs = g_libraryMs == 0 ? ms : std::min(g_libraryMs, ms);
    }
    state.counters["audio_s"] = static_cast<double>(g_librarySamples) / 22050.0;
}

CComPtr<ISpVoice> EnglishVoice()
{
    CComPtr<ISpVoice> voice;
    CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice, reinterpret_cast<void **>(&voice));
    CComPtr<ISpObjectToken> token;
    CoCreateInstance(CLSID_SpObjectToken, nullptr, CLSCTX_ALL, IID_ISpObjectToken, reinterpret_cast<void **>(&token));
    token->SetId(nullptr, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\eSpeakNG.gmw.en-US",
                 FALSE);
    voice->SetVoice(token);
    voice->SetInterest(SPFEI_ALL_TTS_EVENTS, SPFEI_ALL_TTS_EVENTS);
    return voice;
}

// A client stream that only counts, so the figures are the voice's own.
class CountingStream final : public ISpStreamFormat {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISpStreamFormat) || IsEqualIID(riid, IID_IStream) ||
            IsEqualIID(riid, IID_ISequentialStream))
            *ppv = static_cast<ISpStreamFormat *>(this);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --refs_;
        if (!left)
            delete this;
        return left;
    }
    STDMETHODIMP Read(void *, ULONG, ULONG *) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP Write(const void *, ULONG cb, ULONG *written) override
    {
        bytes_ += cb;
        if (written)
            *written = cb;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER *) override { return S_OK; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG *, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream **) override { return E_NOTIMPL; }
    STDMETHODIMP GetFormat(GUID *id, WAVEFORMATEX **wfx) override
    {
        *id = SPDFID_WaveFormatEx;
        *wfx = static_cast<WAVEFORMATEX *>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
        **wfx = orafon::PcmFormat(22050, 1, 16);
        return S_OK;
    }
    size_t Size() const { return bytes_; }

private:
    std::atomic<ULONG> refs_{1};
    std::atomic<size_t> bytes_{0};
};

void VoiceToStream(benchmark::State &state)
{
    CComPtr<ISpVoice> voice = EnglishVoice();
    const std::u16string text = Widen(Text2000Words());
    size_t bytes = 0;
    for (auto _ : state) {
        auto *stream = new CountingStream;
        voice->SetOutput(stream, TRUE);
        const auto start = Clock::now();
        voice->Speak(text.c_str(), SPF_IS_NOT_XML, nullptr);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(ms / 1000);
        g_voiceMs = g_voiceMs == 0 ? ms : std::min(g_voiceMs, ms);
        bytes = stream->Size();
        orafon::test::DrainEvents(voice);
        voice->SetOutput(nullptr, FALSE);
        stream->Release();
    }
    state.counters["audio_s"] = static_cast<double>(bytes) / 44100.0;
}

void SpeedRatio(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(g_libraryMs);
    state.counters["library_ms"] = g_libraryMs;
    state.counters["voice_ms"] = g_voiceMs;
    state.counters["ratio"] = g_voiceMs > 0 ? g_libraryMs / g_voiceMs : 0;
}

void AsyncSpeakToFirstAudio(benchmark::State &state)
{
    CComPtr<ISpVoice> voice = EnglishVoice();
    const std::u16string text = u"How quickly does the first audio arrive after an asynchronous call?";
    for (auto _ : state) {
        auto *stream = new CountingStream;
        voice->SetOutput(stream, TRUE);
        const auto start = Clock::now();
        voice->Speak(text.c_str(), SPF_ASYNC | SPF_IS_NOT_XML, nullptr);
        while (stream->Size() == 0)
            std::this_thread::yield();
        const double s = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(s);
        voice->WaitUntilDone(INFINITE);
        orafon::test::DrainEvents(voice);
        voice->SetOutput(nullptr, FALSE);
        stream->Release();
    }
}

void PurgeToEnd(benchmark::State &state)
{
    ::setenv("ORAFON_AUDIO_DEVICE", "silent", 1);
    CComPtr<ISpVoice> voice = EnglishVoice();
    const std::u16string text = Widen(Text2000Words());
    for (auto _ : state) {
        voice->Speak(text.c_str(), SPF_ASYNC | SPF_IS_NOT_XML, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        orafon::test::DrainEvents(voice);
        const auto start = Clock::now();
        voice->Speak(u"", SPF_PURGEBEFORESPEAK, nullptr);
        voice->WaitUntilDone(INFINITE);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        orafon::test::DrainEvents(voice);
    }
}

} // namespace

BENCHMARK(EspeakLibrary)
    ->Name("EspeakLibrary/2000words")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(VoiceToStream)
    ->Name("VoiceToStream/2000words")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(SpeedRatio)->Iterations(1);
BENCHMARK(AsyncSpeakToFirstAudio)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(PurgeToEnd)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char **argv)
{
    char dir[] = "/tmp/orafon_sapi5_bench_XXXXXX";
    if (mkdtemp(dir))
        ::setenv("ORAFON_REGISTRY", (std::string(dir) + "/registry.db").c_str(), 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CoUninitialize();
    std::system((std::string("rm -rf ") + dir).c_str());
    return 0;
}

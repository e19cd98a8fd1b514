// How soon a flite engine starts delivering audio for a long text, and how
// its synthesis speed compares with flite's own text reader on the same text.
#include "BenchSupport.h"

#include <orafon/win/speech.h>

#include <benchmark/benchmark.h>

extern "C" {
#include <flite/flite.h>
cst_voice *register_cmu_us_kal16(const char *voxdir);
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <sched.h>
#include <string>
#include <vector>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv);

namespace {

using orafon::bench::Median;
using Clock = std::chrono::steady_clock;

// About 2000 words of ordinary prose in sentences of varied length.
std::string LongText()
{
    static const char *const kSentences[] = {
        "The committee met on Tuesday to discuss the budget for the coming year.",
        "After a long debate, the members agreed that the library needed new shelves, better lighting and "
        "a quieter reading room for students who come in the evening.",
        "Nobody objected.",
        "The treasurer pointed out that the heating bill had doubled since the spring, and that the roof "
        "would need repairs before the first snow.",
        "A small group of volunteers offered to paint the hallway themselves.",
        "It was nearly ten o'clock when the chairman finally closed the meeting and thanked everyone for "
        "their patience.",
    };
    std::string text;
    size_t words = 0;
    for (size_t i = 0; words < 2000; ++i) {
        const std::string s = kSentences[i % std::size(kSentences)];
        text += s + " ";
        words += std::count(s.begin(), s.end(), ' ') + 1;
    }
    return text;
}

// CPU time of the whole process: the engine works on threads of its own.
double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

std::u16string Widen(const std::string &s)
{
    return std::u16string(s.begin(), s.end());
}

// A destination that takes everything at once and reports what happens.
class NullAudio final : public IAudio, public IAudioDest {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IAudio)
            *ppv = static_cast<IAudio *>(this);
        else if (riid == IID_IAudioDest)
            *ppv = static_cast<IAudioDest *>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG after = --refs_;
        if (after == 0)
            delete this;
        return after;
    }
    STDMETHODIMP Flush() override { return S_OK; }
    STDMETHODIMP LevelGet(DWORD *) override { return S_OK; }
    STDMETHODIMP LevelSet(DWORD) override { return S_OK; }
    STDMETHODIMP PassNotify(PVOID sink, IID) override
    {
        sink_ = static_cast<IAudioDestNotifySink *>(sink);
        return S_OK;
    }
    STDMETHODIMP PosnGet(PQWORD) override { return S_OK; }
    STDMETHODIMP Claim() override { return S_OK; }
    STDMETHODIMP UnClaim() override
    {
        std::lock_guard lock(mutex_);
        unclaimed_ = true;
        changed_.notify_all();
        return S_OK;
    }
    STDMETHODIMP Start() override { return S_OK; }
    STDMETHODIMP Stop() override { return S_OK; }
    STDMETHODIMP TotalGet(PQWORD) override { return S_OK; }
    STDMETHODIMP ToFileTime(PQWORD, FILETIME *) override { return S_OK; }
    STDMETHODIMP WaveFormatGet(PSDATA) override { return AUDERR_NEEDWAVEFORMAT; }
    STDMETHODIMP WaveFormatSet(SDATA) override { return S_OK; }
    STDMETHODIMP FreeSpace(DWORD *bytes, BOOL *eof) override
    {
        *bytes = 0xFFFFFFFF;
        *eof = FALSE;
        return S_OK;
    }
    STDMETHODIMP DataSet(PVOID, DWORD size) override
    {
        std::lock_guard lock(mutex_);
        if (bytes_ == 0) {
            firstData_ = Clock::now();
            changed_.notify_all();
        }
        bytes_ += size;
        return S_OK;
    }
    STDMETHODIMP BookMark(DWORD id) override
    {
        if (sink_)
            sink_->BookMark(id, FALSE);
        return S_OK;
    }

    void Rearm()
    {
        std::lock_guard lock(mutex_);
        bytes_ = 0;
        unclaimed_ = false;
    }
    Clock::time_point WaitFirstData()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return bytes_ > 0; });
        return firstData_;
    }
    uint64_t WaitUnclaimed()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return unclaimed_; });
        return bytes_;
    }

private:
    std::atomic<ULONG> refs_{1};
    IAudioDestNotifySink *sink_ = nullptr; // held by the engine
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t bytes_ = 0;
    bool unclaimed_ = false;
    Clock::time_point firstData_;
};

const GUID kKal16Mode = {0x2D7E0F40, 0x8C1B, 0x4A57, {0x9F, 0x3E, 0x6B, 0x1C, 0x0A, 0x5E, 0x00, 0x02}};

struct Engine {
    NullAudio *audio = new NullAudio();
    CComPtr<IUnknown> audioRef;
    CComPtr<ITTSCentralW> central;

    Engine()
    {
        audioRef.Attach(static_cast<IAudio *>(audio));
        CComPtr<IClassFactory> factory;
        CComPtr<ITTSEnumW> enumerator;
        if (FAILED(DllGetClassObject(CLSID_TTSEnumerator, IID_IClassFactory, reinterpret_cast<void **>(&factory))) ||
            FAILED(factory->CreateInstance(nullptr, IID_ITTSEnumW, reinterpret_cast<void **>(&enumerator))) ||
            FAILED(enumerator->Select(kKal16Mode, &central, audioRef)))
            central = nullptr;
    }
    HRESULT Speak(const std::u16string &text)
    {
        SDATA data{const_cast<char16_t *>(text.c_str()), static_cast<DWORD>((text.size() + 1) * 2)};
        return central->TextData(CHARSET_TEXT, 0, data, nullptr, IID_ITTSBufNotifySink);
    }
};

void BM_TextDataToFirstDataSet_kal16_2000Words(benchmark::State &state)
{
    Engine engine;
    if (!engine.central) {
        state.SkipWithError("kal16 cannot be selected");
        return;
    }
    const std::u16string text = Widen(LongText());
    for (auto _ : state) {
        engine.audio->Rearm();
        const auto start = Clock::now();
        engine.Speak(text);
        const auto first = engine.audio->WaitFirstData();
        state.SetIterationTime(std::chrono::duration<double>(first - start).count());
        engine.central->AudioReset();
    }
}
BENCHMARK(BM_TextDataToFirstDataSet_kal16_2000Words)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

struct Run {
    double audioSeconds = 0, wallSeconds = 0, cpuSeconds = 0;
};

template <typename F> Run Timed(F speak)
{
    const auto start = Clock::now();
    const double cpuStart = ProcessCpuSeconds();
    Run run;
    run.audioSeconds = speak();
    run.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpuSeconds = ProcessCpuSeconds() - cpuStart;
    return run;
}

// flite's own text reader, a sentence at a time, on the same text.
double FliteLibrarySpeak(cst_voice *voice, const std::string &text)
{
    cst_tokenstream *ts = ts_open_string(text.c_str(), get_param_string(voice->features, "text_whitespace", nullptr),
                                         get_param_string(voice->features, "text_singlecharsymbols", nullptr),
                                         get_param_string(voice->features, "text_prepunctuation", nullptr),
                                         get_param_string(voice->features, "text_postpunctuation", nullptr));
    return flite_ts_to_speech(ts, voice, "none");
}

// Seconds of speech made per second of wall time ("speed") and per second of
// the process's CPU time ("cpu_speed"), for the engine and for flite's own
// reader, run in pairs, alternating which goes first; the goal is the median
// of the pairs' ratios, as a change of machine load hits both runs of a pair alike.
void BM_Synthesis_EngineAgainstFliteLibrary_kal16(benchmark::State &state)
{
    Engine engine;
    if (!engine.central) {
        state.SkipWithError("kal16 cannot be selected");
        return;
    }
    flite_init();
    static cst_voice *voice = register_cmu_us_kal16(nullptr);
    const std::string text8 = LongText();
    const std::u16string text = Widen(text8);
    auto speakEngine = [&] {
        engine.audio->Rearm();
        engine.Speak(text);
        return engine.audio->WaitUnclaimed() / 32000.0;
    };
    auto speakLibrary = [&] { return FliteLibrarySpeak(voice, text8); };
    std::vector<double> engineSpeed, engineCpuSpeed, librarySpeed, libraryCpuSpeed, ratios, cpuRatios;
    bool engineFirst = true;
    for (auto _ : state) {
        const Run first = engineFirst ? Timed(speakEngine) : Timed(speakLibrary);
        const Run second = engineFirst ? Timed(speakLibrary) : Timed(speakEngine);
        const Run &e = engineFirst ? first : second;
        const Run &l = engineFirst ? second : first;
        engineFirst = !engineFirst;
        engineSpeed.push_back(e.audioSeconds / e.wallSeconds);
        engineCpuSpeed.push_back(e.audioSeconds / e.cpuSeconds);
        librarySpeed.push_back(l.audioSeconds / l.wallSeconds);
        libraryCpuSpeed.push_back(l.audioSeconds / l.cpuSeconds);
        ratios.push_back(engineSpeed.back() / librarySpeed.back());
        cpuRatios.push_back(engineCpuSpeed.back() / libraryCpuSpeed.back());
        state.SetIterationTime(e.wallSeconds);
    }
    state.counters["engine_speed"] = Median(engineSpeed);
    state.counters["library_speed"] = Median(librarySpeed);
    state.counters["speed_ratio"] = Median(ratios); // goal >= 0.95
    state.counters["cpu_speed_ratio"] = Median(cpuRatios);
}
BENCHMARK(BM_Synthesis_EngineAgainstFliteLibrary_kal16)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

} // namespace

// The whole process runs on one core: the engine's threads and flite's own
// reader then do their work on the same processor, so the comparison is not
// decided by which of the machine's (virtual, unequal) cores each landed on.
// The engine gains nothing from its second thread this way.
int main(int argc, char **argv)
{
    const int cpu = sched_getcpu();
    if (cpu >= 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        sched_setaffinity(0, sizeof set, &set);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

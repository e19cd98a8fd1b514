// Soak: thousands of object lifetimes (create, Speak, Stop, Release) and a
// thousand SpeakToFile runs in one process, with a scripted voice so that
// the run measures the object and the platform rather than synthesis.
// Resident memory, threads and open descriptors are sampled as it goes; the
// curve goes to standard error, the figures to the benchmark's counters.
//   soak_bench [--cycles=N] [--files=N] [benchmark options]
#include <component/TextToSpeechFactory.h>
#include <orafon/Orafon.h>
#include <orafon/win/objbase.h>
#include <orafon/win/winuser.h>
#include <sapi5/ScriptedEngine.h>
#include <tests/component/TestServices.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

long g_cycles = 10000;
long g_files = 1000;

std::string TempDir()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/orafon-soak-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    return dir;
}

struct Sample {
    long round;
    long rssKb;
    long threads;
    long fds;
};

long StatusField(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, length, field) == 0)
            return std::atol(line.c_str() + length);
    }
    return -1;
}

long OpenDescriptors()
{
    long count = 0;
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (dirent *e = readdir(dir))
            count += e->d_name[0] != '.';
        closedir(dir);
    }
    return count - 1; // the directory's own
}

Sample Take(long round)
{
    return {round, StatusField("VmRSS:"), StatusField("Threads:"), OpenDescriptors()};
}

void Pump()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

LONG ScriptedVoiceIndex(ITextToSpeech *tts)
{
    LONG count = 0;
    tts->get_VoiceCount(&count);
    for (LONG i = 0; i < count; ++i) {
        BSTR name = nullptr;
        tts->GetVoiceName(i, &name);
        const bool match = name && std::u16string(name) == u"Soak Voice";
        SysFreeString(name);
        if (match)
            return i;
    }
    return -1;
}

CComPtr<ITextToSpeech> MakeObject(LONG voice)
{
    CComPtr<ITextToSpeech> tts;
    // A failure leaves tts null, which the caller checks.
    static_cast<void>(CTextToSpeech_CreateInstance(orafon::test::TestModule(), nullptr, IID_ITextToSpeech,
                                                   reinterpret_cast<void **>(&tts)));
    if (tts && voice >= 0)
        tts->put_VoiceIdx(voice);
    return tts;
}

// Samples after the first 100 rounds and then every tenth of the run; the
// growth is measured from the sample at 100.
void Report(benchmark::State &state, const char *what, const std::vector<Sample> &samples)
{
    std::fprintf(stderr, "%s: round rss_kb threads fds\n", what);
    for (const Sample &s : samples)
        std::fprintf(stderr, "%s: %ld %ld %ld %ld\n", what, s.round, s.rssKb, s.threads, s.fds);
    const Sample &first = samples.front();
    const Sample &last = samples.back();
    long peak = first.rssKb;
    for (const Sample &s : samples)
        peak = std::max(peak, s.rssKb);
    state.counters["rss_at_100_kb"] = static_cast<double>(first.rssKb);
    state.counters["rss_end_kb"] = static_cast<double>(last.rssKb);
    state.counters["rss_peak_growth_pct"] = 100.0 * static_cast<double>(peak - first.rssKb) / first.rssKb;
    state.counters["threads_growth"] = static_cast<double>(last.threads - first.threads);
    state.counters["fds_growth"] = static_cast<double>(last.fds - first.fds);
}

void BM_CreateSpeakStopRelease(benchmark::State &state)
{
    const std::u16string text = u"The quick brown fox jumps over the lazy dog.";
    BSTR bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    LONG voice = -1;
    {
        CComPtr<ITextToSpeech> probe = MakeObject(-1);
        voice = probe ? ScriptedVoiceIndex(probe) : -1;
    }
    if (voice < 0) {
        state.SkipWithError("the scripted voice is not in the catalogue");
        SysFreeString(bstr);
        return;
    }
    std::vector<Sample> samples;
    long failures = 0;
    for (auto _ : state) {
        for (long round = 1; round <= g_cycles; ++round) {
            CComPtr<ITextToSpeech> tts = MakeObject(voice);
            if (!tts || FAILED(tts->Speak(bstr, TF_ASYNC)) || FAILED(tts->StopTTS()))
                ++failures;
            Pump();
            tts.Release();
            Pump();
            if (round == 100 || (round > 100 && round % (g_cycles / 10 > 0 ? g_cycles / 10 : 1) == 0) ||
                round == g_cycles)
                samples.push_back(Take(round));
        }
    }
    SysFreeString(bstr);
    state.counters["cycles"] = static_cast<double>(g_cycles);
    state.counters["failures"] = static_cast<double>(failures);
    if (!samples.empty())
        Report(state, "cycles", samples);
}

void BM_SpeakToFile(benchmark::State &state)
{
    const std::u16string text = u"Hello there. This goes into a file.";
    BSTR bstr = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    const std::string path = TempDir() + "/soak.wav";
    const std::u16string widePath(path.begin(), path.end());
    BSTR file = SysAllocStringLen(widePath.data(), static_cast<UINT>(widePath.size()));
    CComPtr<ITextToSpeech> tts = MakeObject(-1);
    const LONG voice = tts ? ScriptedVoiceIndex(tts) : -1;
    std::vector<Sample> samples;
    long failures = 0;
    if (voice < 0) {
        state.SkipWithError("the scripted voice is not in the catalogue");
    } else {
        tts->put_VoiceIdx(voice);
        for (auto _ : state) {
            for (long run = 1; run <= g_files; ++run) {
                if (FAILED(tts->SpeakToFile(bstr, file, TF_DEFAULT)))
                    ++failures;
                Pump();
                if (run == 100 || (run > 100 && run % (g_files / 10 > 0 ? g_files / 10 : 1) == 0) || run == g_files)
                    samples.push_back(Take(run));
            }
        }
    }
    SysFreeString(bstr);
    SysFreeString(file);
    state.counters["runs"] = static_cast<double>(g_files);
    state.counters["failures"] = static_cast<double>(failures);
    if (!samples.empty())
        Report(state, "files", samples);
}

BENCHMARK(BM_CreateSpeakStopRelease)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_SpeakToFile)->Iterations(1)->Unit(benchmark::kSecond);

// Takes --cycles=N and --files=N out of the arguments.
void ReadCounts(int &argc, char **argv)
{
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--cycles=", 9) == 0)
            g_cycles = std::max(1L, std::atol(argv[i] + 9));
        else if (std::strncmp(argv[i], "--files=", 8) == 0)
            g_files = std::max(1L, std::atol(argv[i] + 8));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
}

} // namespace

int main(int argc, char **argv)
{
    ReadCounts(argc, argv);
    if (!std::getenv("ORAFON_REGISTRY"))
        ::setenv("ORAFON_REGISTRY", (TempDir() + "/registry.db").c_str(), 1);
    ::setenv("ORAFON_AUDIO_DEVICE", "silent", 1);
    ::setenv("ORAFON_AUDIO_FAST", "1", 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    orafon::sapi5::VoiceScript script;
    script.steps = {orafon::sapi5::ScriptStep::Audio(3200), orafon::sapi5::ScriptStep::Event(SPEI_WORD_BOUNDARY, 3, 0),
                    orafon::sapi5::ScriptStep::Audio(3200)};
    if (orafon::sapi5::RegisterScriptedVoice(u"SoakVoice", u"Soak Voice", script) != S_OK) {
        std::fprintf(stderr, "could not register the scripted voice\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    orafon::sapi5::UnregisterScriptedVoice(u"SoakVoice");
    CoUninitialize();
    const std::string remove = "rm -rf '" + TempDir() + "'";
    return std::system(remove.c_str()) == 0 ? 0 : 1;
}

// SpeakToFile of a 2000-word text, measured in the same run against what it
// stands for: synthesis with the espeak-ng library directly (WAV at the
// engine's format) and `espeak-ng --stdout | lame -b 128` (MP3, 44.1 kHz
// stereo, 128 kbit/s).
#include <component/TextToSpeechFactory.h>
#include <orafon/Orafon.h>

#include <benchmark/benchmark.h>
#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string Text2000Words()
{
    static const char *const words[] = {"the",   "quick",  "brown",  "fox",    "jumps",   "over",  "lazy",
                                        "dog",   "speech", "engine", "writes", "audio",   "files", "every",
                                        "voice", "reads",  "clear",  "simple", "numbers", "like",  "seven"};
    std::mt19937 rng(7);
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += words[rng() % (sizeof words / sizeof *words)];
        text += (i % 12 == 11) ? ". " : " ";
    }
    return text;
}

std::string TempDir()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/orafon-speech-bench-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    return dir;
}

double Best(double current, double ms)
{
    return current == 0 ? ms : std::min(current, ms);
}

double g_libraryMs = 0, g_wavMs = 0, g_mp3Ms = 0, g_pipeMs = 0;

int Discard(short *, int, espeak_EVENT *)
{
    return 0;
}

void EspeakLibrary(benchmark::State &state)
{
    espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 100, nullptr, 0);
    espeak_SetSynthCallback(Discard);
    espeak_SetVoiceByName("gmw/en-US");
    const std::string text = Text2000Words();
    for (auto _ : state) {
        const auto start = Clock::now();
        espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(ms / 1000);
        g_libraryMs = Best(g_libraryMs, ms);
    }
}

// The object with the US English espeak-ng voice selected.
CComPtr<ITextToSpeech> MakeObject()
{
    CComPtr<ITextToSpeech> tts;
    CTextToSpeech_CreateInstance(nullptr, IID_ITextToSpeech, reinterpret_cast<void **>(&tts));
    if (!tts)
        return tts;
    LONG count = 0;
    tts->get_VoiceCount(&count);
    for (LONG i = 0; i < count; ++i) {
        BSTR name = nullptr;
        tts->GetVoiceName(i, &name);
        const bool match = name && std::u16string(name) == u"eSpeak NG English (America)";
        SysFreeString(name);
        if (match) {
            tts->put_VoiceIdx(i);
            break;
        }
    }
    return tts;
}

LONG FindWaveFormat(ITextToSpeech *tts, const std::u16string &wanted)
{
    LONG count = 0;
    tts->get_WaveFormatCount(&count);
    for (LONG i = 0; i < count; ++i) {
        BSTR name = nullptr;
        tts->put_WaveFormatIdx(i);
        tts->get_WaveFormatName(&name);
        const bool match = name && std::u16string(name) == wanted;
        SysFreeString(name);
        if (match)
            return i;
    }
    return -1;
}

void SpeakToFile(benchmark::State &state, FILEFORMAT type, const std::u16string &format, const char *file, double &best)
{
    CComPtr<ITextToSpeech> tts = MakeObject();
    if (!tts || FAILED(tts->put_FileFormat(type))) {
        state.SkipWithError("no object");
        return;
    }
    const LONG index = format.empty() ? 0 : FindWaveFormat(tts, format);
    if (index < 0 || FAILED(tts->put_WaveFormatIdx(index))) {
        state.SkipWithError("no such wave format");
        return;
    }
    const std::string text8 = Text2000Words();
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(text8.size()));
    std::copy(text8.begin(), text8.end(), text);
    const std::string path = TempDir() + "/" + file;
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(path.size()));
    std::copy(path.begin(), path.end(), out);
    for (auto _ : state) {
        const auto start = Clock::now();
        const HRESULT hr = tts->SpeakToFile(text, out, TF_DEFAULT);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (FAILED(hr)) {
            state.SkipWithError("SpeakToFile failed");
            break;
        }
        state.SetIterationTime(ms / 1000);
        best = Best(best, ms);
    }
    SysFreeString(text);
    SysFreeString(out);
}

void SpeakToFileWav(benchmark::State &state)
{
    SpeakToFile(state, FF_WAVE, u"", "speech.wav", g_wavMs);
}

void SpeakToFileMp3(benchmark::State &state)
{
    SpeakToFile(state, FF_MP3, u"128kBPS, 44kHz, Stereo", "speech.mp3", g_mp3Ms);
}

void EspeakPipeLame(benchmark::State &state)
{
    const std::string textFile = TempDir() + "/text.txt";
    std::ofstream(textFile) << Text2000Words();
    const std::string command = "espeak-ng -v en-us --stdout -f '" + textFile +
                                "' | lame --quiet -b 128 -m j "
                                "--resample 44.1 - '" +
                                TempDir() + "/pipe.mp3'";
    for (auto _ : state) {
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("espeak-ng | lame failed");
            break;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        state.SetIterationTime(ms / 1000);
        g_pipeMs = Best(g_pipeMs, ms);
    }
}

void Ratios(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(g_libraryMs);
    state.counters["library_ms"] = g_libraryMs;
    state.counters["wav_ms"] = g_wavMs;
    state.counters["wav_over_library"] = g_libraryMs > 0 ? g_wavMs / g_libraryMs : 0; // goal <= 1.05
    state.counters["mp3_ms"] = g_mp3Ms;
    state.counters["pipe_ms"] = g_pipeMs;
    state.counters["mp3_over_pipe"] = g_pipeMs > 0 ? g_mp3Ms / g_pipeMs : 0; // goal <= 0.9
}

} // namespace

BENCHMARK(EspeakLibrary)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(SpeakToFileWav)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(EspeakPipeLame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(SpeakToFileMp3)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(Ratios)->Iterations(1);

int main(int argc, char **argv)
{
    const std::string registry = TempDir() + "/registry.db";
    ::setenv("ORAFON_REGISTRY", registry.c_str(), 0);
    ::setenv("ORAFON_AUDIO_DEVICE", "silent", 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CoUninitialize();
    return 0;
}

// SpeakToFile of a 2000-word text, measured in the same run against what it
// stands for: synthesis with the espeak-ng library directly (WAV at the
// engine's format), the `espeak-ng --stdout | … | lame -b 128` pipeline
// (MP3, 44.1 kHz stereo, 128 kbit/s), to WMA against
// `espeak-ng --stdout | ffmpeg … -c:a wmav2 -b:a 128k` (44.1 kHz stereo),
// and to MP4 against `espeak-ng --stdout | ffmpeg … -c:a aac` (44.1 kHz
// stereo, the same AAC encoder at the same quality).
#include "SpeakToFileJob.h"

#include <benchmark/benchmark.h>
#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using orafon::bench::Clock;
using orafon::bench::Median;
using orafon::bench::MillisecondsSince;
using orafon::bench::SpeakToFileJob;
using orafon::bench::Text2000Words;

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

double g_libraryMs = 0, g_wavMs = 0, g_wavRatio = 0, g_mp3Ms = 0, g_pipeMs = 0, g_plainPipeMs = 0;
double g_wmaMs = 0, g_wmaPipeMs = 0, g_wmaRatio = 0;
double g_mp4Ms = 0, g_mp4PipeMs = 0, g_mp4Ratio = 0, g_mp4BitRate = 0, g_mp4RatePipeMs = 0, g_mp4RateRatio = 0;

// The same text through the espeak-ng library on this thread. The library is
// the one instance the voice's engine uses (initialised, voice and
// parameters set by the warm-up SpeakToFile); its callback drops audio of a
// synthesis the engine did not start, as the bare library client would.
double LibrarySynthesis(const std::string &text)
{
    espeak_SetVoiceByName("gmw/en-US");
    const auto start = Clock::now();
    espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
    return MillisecondsSince(start);
}

// WAV at the engine's format against the library, run in pairs, alternating
// which goes first; the goal is the median of the pairs' ratios, as a change
// of machine load hits both runs of a pair alike.
void WavAgainstLibrary(benchmark::State &state)
{
    const SpeakToFileJob job(FF_WAVE, u"", TempDir() + "/speech.wav");
    if (!job.Ready() || job.Run() < 0) {
        state.SkipWithError("SpeakToFile failed");
        return;
    }
    const std::string text = Text2000Words();
    std::vector<double> library, wav, ratios;
    bool libraryFirst = true;
    for (auto _ : state) {
        if (libraryFirst)
            library.push_back(LibrarySynthesis(text));
        const double ms = job.Run();
        if (!libraryFirst)
            library.push_back(LibrarySynthesis(text));
        libraryFirst = !libraryFirst;
        if (ms < 0) {
            state.SkipWithError("SpeakToFile failed");
            return;
        }
        wav.push_back(ms);
        ratios.push_back(ms / library.back());
        state.SetIterationTime(ms / 1000);
    }
    g_libraryMs = Median(library);
    g_wavMs = Median(wav);
    g_wavRatio = Median(ratios);
}

void SpeakToFileMp3(benchmark::State &state)
{
    const SpeakToFileJob job(FF_MP3, u"128kBPS, 44kHz, Stereo", TempDir() + "/speech.mp3");
    if (!job.Ready()) {
        state.SkipWithError("no object or no such wave format");
        return;
    }
    for (auto _ : state) {
        const double ms = job.Run();
        if (ms < 0) {
            state.SkipWithError("SpeakToFile failed");
            return;
        }
        state.SetIterationTime(ms / 1000);
        g_mp3Ms = Best(g_mp3Ms, ms);
    }
}

// The shell pipeline for the same job. lame keeps a mono input mono whatever
// -m says, so the pipeline that makes the same file (44.1 kHz stereo) has
// sox turn espeak-ng's 22.05 kHz mono into it; the plain `espeak-ng | lame
// -b 128` makes a 22.05 kHz mono file, a quarter of the samples to encode,
// and is timed for reference.
std::string EspeakCommand()
{
    const std::string textFile = TempDir() + "/text.txt";
    std::ofstream(textFile) << Text2000Words();
    return "espeak-ng -v en-us --stdout -f '" + textFile + "'";
}

void TimePipeline(benchmark::State &state, const std::string &command, double &best)
{
    for (auto _ : state) {
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("pipeline failed");
            return;
        }
        const double ms = MillisecondsSince(start);
        state.SetIterationTime(ms / 1000);
        best = Best(best, ms);
    }
}

void EspeakSoxLameStereo(benchmark::State &state)
{
    TimePipeline(state,
                 EspeakCommand() + " | sox -t wav - -t wav -r 44100 -c 2 - | lame --quiet -b 128 -m j - '" + TempDir() +
                     "/pipe.mp3'",
                 g_pipeMs);
}

void EspeakLameMono22k(benchmark::State &state)
{
    TimePipeline(state, EspeakCommand() + " | lame --quiet -b 128 - '" + TempDir() + "/plain.mp3'", g_plainPipeMs);
}

// The medians of SpeakToFile and of a shell pipeline making the same file,
// run in pairs alternating which goes first, and of the pairs' ratios.
struct PairedTimes {
    double ms = 0, pipeMs = 0, ratio = 0;
};

bool TimeAgainstPipeline(benchmark::State &state, const SpeakToFileJob &job, const std::string &pipeline,
                         const std::string &pipeFile, PairedTimes &out)
{
    auto runPipeline = [&] {
        std::remove(pipeFile.c_str());
        const auto start = Clock::now();
        return std::system(pipeline.c_str()) == 0 ? MillisecondsSince(start) : -1.0;
    };
    std::vector<double> jobMs, pipe, ratios;
    bool pipeFirst = true;
    for (auto _ : state) {
        const double first = pipeFirst ? runPipeline() : job.Run();
        const double second = pipeFirst ? job.Run() : runPipeline();
        const double ms = pipeFirst ? second : first, pipeMs = pipeFirst ? first : second;
        pipeFirst = !pipeFirst;
        if (ms < 0 || pipeMs < 0) {
            state.SkipWithError("SpeakToFile or the pipeline failed");
            return false;
        }
        jobMs.push_back(ms);
        pipe.push_back(pipeMs);
        ratios.push_back(ms / pipeMs);
        state.SetIterationTime(ms / 1000);
    }
    out = {Median(jobMs), Median(pipe), Median(ratios)};
    return true;
}

// WMA at 44.1 kHz stereo, 128 kbit/s, against the shell pipeline that makes
// the same file with FFmpeg's encoder; the goal is the median of the pairs' ratios.
void WmaAgainstFfmpegPipeline(benchmark::State &state)
{
    const SpeakToFileJob job(FF_WMA, u"128kBPS, 44kHz, Stereo", TempDir() + "/speech.wma");
    if (!job.Ready() || job.Run() < 0) {
        state.SkipWithError("no WMA runtime, no such wave format, or SpeakToFile failed");
        return;
    }
    const std::string pipeFile = TempDir() + "/pipe.wma";
    const std::string pipeline =
        EspeakCommand() + " | ffmpeg -v error -y -i - -ar 44100 -ac 2 -c:a wmav2 -b:a 128k '" + pipeFile + "'";
    PairedTimes t;
    if (TimeAgainstPipeline(state, job, pipeline, pipeFile, t)) {
        g_wmaMs = t.ms;
        g_wmaPipeMs = t.pipeMs;
        g_wmaRatio = t.ratio;
    }
}

// The average bit rate of a file, bit/s (0 when unknown).
double FileBitRate(const std::string &path)
{
    double rate = 0;
    const std::string probe = "ffprobe -v error -show_entries format=bit_rate -of csv=p=0 '" + path + "'";
    if (FILE *p = popen(probe.c_str(), "r")) {
        char line[64] = {};
        if (std::fgets(line, sizeof line, p))
            rate = std::atof(line);
        pclose(p);
    }
    return rate;
}

// MP4 at the middle entry (the AAC encoder library's quality 100, which is
// libavcodec's native AAC encoder at global quality 0.40) against the same
// encoder at the same setting in FFmpeg (-q:a 0.40); the goal is the median
// of the pairs' ratios.
void Mp4AgainstFfmpegPipeline(benchmark::State &state)
{
    const SpeakToFileJob job(FF_MP4, u"47kBPS, 44kHz, Stereo", TempDir() + "/speech.m4a");
    if (!job.Ready() || job.Run() < 0) {
        state.SkipWithError("no AAC encoder library, no such wave format, or SpeakToFile failed");
        return;
    }
    g_mp4BitRate = FileBitRate(job.Path());
    const std::string pipeFile = TempDir() + "/pipe-q.m4a";
    const std::string pipeline =
        EspeakCommand() + " | ffmpeg -nostdin -v error -y -i - -ar 44100 -ac 2 -c:a aac -q:a 0.40 '" + pipeFile + "'";
    PairedTimes t;
    if (TimeAgainstPipeline(state, job, pipeline, pipeFile, t)) {
        g_mp4Ms = t.ms;
        g_mp4PipeMs = t.pipeMs;
        g_mp4Ratio = t.ratio;
    }
}

// For reference: the same encoder asked instead for the average bit rate the
// MP4 file has (-b:a, FFmpeg's usual way of choosing AAC quality).
void Mp4AgainstFfmpegAtItsBitRate(benchmark::State &state)
{
    const SpeakToFileJob job(FF_MP4, u"47kBPS, 44kHz, Stereo", TempDir() + "/speech-b.m4a");
    if (!job.Ready() || job.Run() < 0) {
        state.SkipWithError("no AAC encoder library, no such wave format, or SpeakToFile failed");
        return;
    }
    const long kbps = std::lround(FileBitRate(job.Path()) / 1000);
    const std::string pipeFile = TempDir() + "/pipe-b.m4a";
    const std::string pipeline = EspeakCommand() +
                                 " | ffmpeg -nostdin -v error -y -i - -ar 44100 -ac 2 -c:a aac -b:a " +
                                 std::to_string(kbps) + "k '" + pipeFile + "'";
    PairedTimes t;
    if (TimeAgainstPipeline(state, job, pipeline, pipeFile, t)) {
        g_mp4RatePipeMs = t.pipeMs;
        g_mp4RateRatio = t.ratio;
    }
}

void Ratios(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(g_libraryMs);
    state.counters["library_median_ms"] = g_libraryMs;
    state.counters["wav_median_ms"] = g_wavMs;
    state.counters["wav_over_library"] = g_wavRatio; // goal <= 1.05
    state.counters["mp3_ms"] = g_mp3Ms;
    state.counters["pipe_ms"] = g_pipeMs;
    state.counters["mp3_over_pipe"] = g_pipeMs > 0 ? g_mp3Ms / g_pipeMs : 0; // goal <= 0.9
    state.counters["plain_pipe_ms"] = g_plainPipeMs;
    state.counters["mp3_over_plain_pipe"] = g_plainPipeMs > 0 ? g_mp3Ms / g_plainPipeMs : 0;
    state.counters["wma_median_ms"] = g_wmaMs;
    state.counters["wma_pipe_median_ms"] = g_wmaPipeMs;
    state.counters["wma_over_pipe"] = g_wmaRatio; // goal <= 0.9
    state.counters["mp4_median_ms"] = g_mp4Ms;
    state.counters["mp4_kbps"] = g_mp4BitRate / 1000;
    state.counters["aac_q_pipe_median_ms"] = g_mp4PipeMs;
    state.counters["mp4_over_aac_q_pipe"] = g_mp4Ratio; // goal <= 0.9
    state.counters["aac_b_pipe_median_ms"] = g_mp4RatePipeMs;
    state.counters["mp4_over_aac_b_pipe"] = g_mp4RateRatio;
}

} // namespace

BENCHMARK(WavAgainstLibrary)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(EspeakSoxLameStereo)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(EspeakLameMono22k)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(SpeakToFileMp3)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(WmaAgainstFfmpegPipeline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(Mp4AgainstFfmpegPipeline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(Mp4AgainstFfmpegAtItsBitRate)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
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

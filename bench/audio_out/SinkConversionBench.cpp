// Throughput of the sink's conversion: 22050 Hz mono 16-bit engine PCM to a
// 44100 Hz stereo 16-bit WAV file, counted in source bytes per second.
#include "AudioSink.h"

#include <orafon/PcmFormat.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Ten seconds of speech-like PCM: a few partials, written in engine-sized blocks.
std::vector<BYTE> EnginePcm()
{
    const size_t frames = 22050 * 10;
    std::vector<BYTE> b(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 22050;
        const double v = 0.3 * std::sin(2 * M_PI * 180 * t) + 0.2 * std::sin(2 * M_PI * 720 * t) +
                         0.1 * std::sin(2 * M_PI * 2900 * t);
        const auto s = static_cast<int16_t>(std::lround(v * 32767));
        b[2 * i] = static_cast<BYTE>(s & 0xFF);
        b[2 * i + 1] = static_cast<BYTE>((s >> 8) & 0xFF);
    }
    return b;
}

std::string OutputPath(const char *name)
{
    const std::filesystem::path shm = "/dev/shm";
    const auto dir = std::filesystem::exists(shm) ? shm : std::filesystem::temp_directory_path();
    return (dir / (std::string(name) + std::to_string(getpid()) + ".wav")).string();
}

void SinkConvertToWav(benchmark::State &state, WAVEFORMATEX target)
{
    const auto pcm = EnginePcm();
    const WAVEFORMATEX engine = orafon::PcmFormat(22050, 1, 16);
    const std::string path = OutputPath("orafon_bench_sink");
    const ULONG block = static_cast<ULONG>(state.range(0));
    CAudioSink sink;
    sink.SetFileFormat(FF_WAVE);
    for (auto _ : state) {
        if (FAILED(sink.Open(path.c_str(), &engine, &target, static_cast<LONG>(target.nAvgBytesPerSec * 8)))) {
            state.SkipWithError("open failed");
            break;
        }
        for (size_t at = 0; at < pcm.size(); at += block)
            // A failed write shows in Close's verdict.
            static_cast<void>(
                sink.Write(pcm.data() + at, static_cast<ULONG>(std::min<size_t>(block, pcm.size() - at))));
        if (FAILED(sink.Close())) {
            state.SkipWithError("close failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pcm.size()));
    std::filesystem::remove(path);
}

void BM_Sink22050MonoTo44100Stereo(benchmark::State &state)
{
    SinkConvertToWav(state, orafon::PcmFormat(44100, 2, 16));
}
BENCHMARK(BM_Sink22050MonoTo44100Stereo)->Arg(4410)->Arg(65536)->Unit(benchmark::kMillisecond);

// The same without a rate change (channel doubling only), for comparison.
void BM_Sink22050MonoTo22050Stereo(benchmark::State &state)
{
    SinkConvertToWav(state, orafon::PcmFormat(22050, 2, 16));
}
BENCHMARK(BM_Sink22050MonoTo22050Stereo)->Arg(4410)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

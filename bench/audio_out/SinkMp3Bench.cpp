// Throughput of MP3 output through the sink: 22050 Hz mono 16-bit engine PCM
// to 44.1 kHz stereo at 128 kbit/s, counted in source bytes per second.
#include "AudioSink.h"

#include <orafon/PcmFormat.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void BM_SinkMp3_44100Stereo128(benchmark::State &state)
{
    const size_t frames = 22050 * 10;
    std::vector<BYTE> pcm(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 22050;
        const auto s = static_cast<int16_t>(
            std::lround(32767 * (0.3 * std::sin(2 * M_PI * 180 * t) + 0.2 * std::sin(2 * M_PI * 720 * t))));
        pcm[2 * i] = static_cast<BYTE>(s & 0xFF);
        pcm[2 * i + 1] = static_cast<BYTE>((s >> 8) & 0xFF);
    }
    const WAVEFORMATEX engine = orafon::PcmFormat(22050, 1, 16), target = orafon::PcmFormat(44100, 2, 16);
    const std::string path =
        (std::filesystem::temp_directory_path() / ("orafon_bench_mp3_" + std::to_string(getpid()) + ".mp3")).string();
    CAudioSink sink;
    sink.SetFileFormat(FF_MP3);
    for (auto _ : state) {
        if (FAILED(sink.Open(path.c_str(), &engine, &target, 128000))) {
            state.SkipWithError("open failed (is lame_enc.so beside the program?)");
            break;
        }
        for (size_t at = 0; at < pcm.size(); at += 4410)
            // A failed write shows in Close's verdict.
            static_cast<void>(sink.Write(pcm.data() + at, static_cast<ULONG>(std::min<size_t>(4410, pcm.size() - at))));
        if (FAILED(sink.Close())) {
            state.SkipWithError("close failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pcm.size()));
    std::filesystem::remove(path);
}
BENCHMARK(BM_SinkMp3_44100Stereo128)->Unit(benchmark::kMillisecond);

} // namespace

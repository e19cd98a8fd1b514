// SpeakToFile of the 2000-word text into Ogg Vorbis, FLAC, AU, AIFF and VOX,
// each measured in the same run against the library chain it stands for:
// synthesis with the espeak-ng library plus encoding the same PCM (the
// engine's own, captured once) with libvorbis/libogg, libFLAC or libsndfile
// alone. Every target is the catalogue entry at the engine's rate (22050 Hz
// mono, 16-bit), so neither side converts.
#include "SpeakToFileJob.h"

#include <FLAC/stream_encoder.h>
#include <benchmark/benchmark.h>
#include <espeak-ng/speak_lib.h>
#include <sndfile.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using orafon::bench::Clock;
using orafon::bench::Median;
using orafon::bench::MillisecondsSince;
using orafon::bench::SpeakToFileJob;
using orafon::bench::Text2000Words;

constexpr int kRate = 22050;
constexpr int kOggBitRate = 48000;
// Frames handed to an encoder per call, about what the engine delivers at once.
constexpr size_t kChunkFrames = 4096;

std::string TempDir()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/orafon-types-bench-XXXXXX";
        return std::string(mkdtemp(pattern));
    }();
    return dir;
}

// CPU time of every thread of the process, in milliseconds: the work done,
// whatever share of the cores other programs leave.
double ProcessCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Wall and CPU milliseconds of one run; negative wall time on failure.
struct Timing {
    double wallMs = -1, cpuMs = 0;
};

template <class Run> Timing Time(Run run)
{
    const double cpu = ProcessCpuMs();
    const auto start = Clock::now();
    const bool ok = run();
    Timing t;
    t.wallMs = ok ? MillisecondsSince(start) : -1;
    t.cpuMs = ProcessCpuMs() - cpu;
    return t;
}

// One SpeakToFile into a new file, timed.
Timing Run(const SpeakToFileJob &job)
{
    job.Prepare();
    return Time([&] { return SUCCEEDED(job.Speak()); });
}

// The engine's PCM for the text: the data chunk of a WAV file at its own format.
const std::vector<short> &EnginePcm()
{
    static const std::vector<short> pcm = [] {
        std::vector<short> samples;
        const SpeakToFileJob job(FF_WAVE, u"", TempDir() + "/engine.wav");
        if (!job.Ready() || job.Run() < 0)
            return samples;
        std::ifstream in(job.Path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        for (size_t at = 12; at + 8 <= bytes.size();) {
            uint32_t size = 0;
            std::memcpy(&size, &bytes[at + 4], 4);
            if (std::memcmp(&bytes[at], "data", 4) == 0) {
                const size_t n = std::min<size_t>(size, bytes.size() - at - 8) / 2;
                samples.resize(n);
                std::memcpy(samples.data(), &bytes[at + 8], n * 2);
                break;
            }
            at += 8 + size + (size & 1);
        }
        std::remove(job.Path().c_str());
        return samples;
    }();
    return pcm;
}

// The same text through the espeak-ng library on this thread, a sentence per
// call as the engine hands it over (one call for the whole text takes the
// library about three times as long). The library is the one instance the
// voice's engine uses (set up by the warm-up SpeakToFile); its callback drops
// audio of a synthesis the engine did not start, so this is synthesis alone.
std::vector<std::string> Sentences(const std::string &text)
{
    std::vector<std::string> sentences;
    for (size_t at = 0; at < text.size();) {
        const size_t stop = text.find(". ", at);
        const size_t end = stop == std::string::npos ? text.size() : stop + 2;
        sentences.push_back(text.substr(at, end - at));
        at = end;
    }
    return sentences;
}

bool LibrarySynthesis(const std::vector<std::string> &sentences)
{
    bool ok = true;
    for (const std::string &s : sentences)
        ok = espeak_Synth(s.c_str(), s.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr) == EE_OK &&
             ok;
    return ok;
}

// ---- the encoders alone ------------------------------------------------------

bool WritePage(FILE *f, const ogg_page &page)
{
    return std::fwrite(page.header, 1, static_cast<size_t>(page.header_len), f) ==
               static_cast<size_t>(page.header_len) &&
           std::fwrite(page.body, 1, static_cast<size_t>(page.body_len), f) == static_cast<size_t>(page.body_len);
}

// Drains the analysis into packets and the packets into pages.
bool DrainVorbis(vorbis_dsp_state &vd, vorbis_block &vb, ogg_stream_state &os, FILE *f)
{
    ogg_packet op;
    ogg_page og;
    bool ok = true;
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
        vorbis_analysis(&vb, nullptr);
        vorbis_bitrate_addblock(&vb);
        while (vorbis_bitrate_flushpacket(&vd, &op)) {
            ogg_stream_packetin(&os, &op);
            while (ogg_stream_pageout(&os, &og))
                ok = WritePage(f, og) && ok;
        }
    }
    return ok;
}

bool EncodeOgg(const std::vector<short> &pcm, const std::string &path)
{
    orafon::CStdioFile file(std::fopen(path.c_str(), "wb"));
    if (!file)
        return false;
    FILE *const f = file.Get();
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_dsp_state vd;
    vorbis_block vb;
    ogg_stream_state os;
    vorbis_info_init(&vi);
    vorbis_encode_init(&vi, 1, kRate, -1, kOggBitRate, -1);
    vorbis_comment_init(&vc);
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_init(&os, 1);
    ogg_packet id, comment, books;
    vorbis_analysis_headerout(&vd, &vc, &id, &comment, &books);
    ogg_stream_packetin(&os, &id);
    ogg_stream_packetin(&os, &comment);
    ogg_stream_packetin(&os, &books);
    ogg_page og;
    bool ok = true;
    while (ogg_stream_flush(&os, &og))
        ok = WritePage(f, og) && ok;
    for (size_t at = 0; at < pcm.size(); at += kChunkFrames) {
        const size_t n = std::min(kChunkFrames, pcm.size() - at);
        float **buffer = vorbis_analysis_buffer(&vd, static_cast<int>(n));
        for (size_t i = 0; i < n; ++i)
            buffer[0][i] = pcm[at + i] / 32768.0f;
        vorbis_analysis_wrote(&vd, static_cast<int>(n));
        ok = DrainVorbis(vd, vb, os, f) && ok;
    }
    vorbis_analysis_wrote(&vd, 0);
    ok = DrainVorbis(vd, vb, os, f) && ok;
    while (ogg_stream_flush(&os, &og))
        ok = WritePage(f, og) && ok;
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return file.Close() == 0 && ok;
}

// The stream settings the component's FLAC files use.
bool EncodeFlac(const std::vector<short> &pcm, const std::string &path)
{
    FLAC__StreamEncoder *e = FLAC__stream_encoder_new();
    if (!e)
        return false;
    FLAC__stream_encoder_set_channels(e, 1);
    FLAC__stream_encoder_set_bits_per_sample(e, 16);
    FLAC__stream_encoder_set_sample_rate(e, kRate);
    FLAC__stream_encoder_set_blocksize(e, 256);
    FLAC__stream_encoder_set_do_mid_side_stereo(e, false);
    FLAC__stream_encoder_set_loose_mid_side_stereo(e, false);
    FLAC__stream_encoder_set_max_lpc_order(e, 0);
    FLAC__stream_encoder_set_min_residual_partition_order(e, 0);
    FLAC__stream_encoder_set_max_residual_partition_order(e, 0);
    bool ok = FLAC__stream_encoder_init_file(e, path.c_str(), nullptr, nullptr) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    std::vector<FLAC__int32> wide(kChunkFrames);
    for (size_t at = 0; ok && at < pcm.size(); at += kChunkFrames) {
        const size_t n = std::min(kChunkFrames, pcm.size() - at);
        std::copy(pcm.begin() + static_cast<long>(at), pcm.begin() + static_cast<long>(at + n), wide.begin());
        ok = FLAC__stream_encoder_process_interleaved(e, wide.data(), static_cast<unsigned>(n));
    }
    ok = FLAC__stream_encoder_finish(e) && ok;
    FLAC__stream_encoder_delete(e);
    return ok;
}

bool EncodeSndFile(const std::vector<short> &pcm, const std::string &path, int format)
{
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = format;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    bool ok = true;
    for (size_t at = 0; at < pcm.size(); at += kChunkFrames) {
        const sf_count_t n = static_cast<sf_count_t>(std::min(kChunkFrames, pcm.size() - at));
        // The VOX coder counts the silent sample it pads an odd count with.
        ok = sf_write_short(f, pcm.data() + at, n) >= n && ok;
    }
    return sf_close(f) == 0 && ok;
}

// ---- the comparison ------------------------------------------------------------

struct FileType {
    const char *name;
    FILEFORMAT type;
    const char16_t *entry;
    bool (*encode)(const std::vector<short> &pcm, const std::string &path);
};

const FileType kTypes[] = {
    {"ogg", FF_OGG, u"48kBPS, 22kHz, Mono", EncodeOgg},
    {"flac", FF_FLAC, u"352kBPS, 22kHz, Mono", EncodeFlac},
    {"au", FF_AU, u"352kBPS, 22kHz, Mono",
     [](const std::vector<short> &pcm, const std::string &path) {
         return EncodeSndFile(pcm, path, SF_FORMAT_AU | SF_FORMAT_PCM_16);
     }},
    {"aiff", FF_AIFF, u"352kBPS, 22kHz, Mono",
     [](const std::vector<short> &pcm, const std::string &path) {
         return EncodeSndFile(pcm, path, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
     }},
    {"vox", FF_VOX, u"352kBPS, 22kHz, Mono",
     [](const std::vector<short> &pcm, const std::string &path) {
         return EncodeSndFile(pcm, path, SF_FORMAT_RAW | SF_FORMAT_VOX_ADPCM);
     }},
};

// SpeakToFile against synthesis plus encoding alone, in pairs alternating
// which goes first; the goal is the median of the pairs' ratios, as a change
// of machine load hits both runs of a pair alike. SpeakToFile synthesises on
// the engine's thread while this one writes, the library chain does one after
// the other: on a busy machine two threads get a larger share of the cores,
// so the CPU times are given too.
void AgainstLibraryChain(benchmark::State &state, const FileType &type)
{
    const SpeakToFileJob job(type.type, type.entry, TempDir() + "/speech." + type.name);
    const std::vector<short> &pcm = EnginePcm();
    if (!job.Ready() || pcm.empty() || job.Run() < 0) {
        state.SkipWithError("SpeakToFile failed");
        return;
    }
    espeak_SetVoiceByName("gmw/en-US");
    const std::vector<std::string> text = Sentences(Text2000Words());
    const std::string libraryPath = TempDir() + "/library." + type.name;
    auto libraryChain = [&] {
        std::remove(libraryPath.c_str());
        return Time([&] { return LibrarySynthesis(text) && type.encode(pcm, libraryPath); });
    };
    std::vector<double> library, speak, ratios, libraryCpu, speakCpu, cpuRatios;
    bool libraryFirst = true;
    for (auto _ : state) {
        Timing lib, own;
        if (libraryFirst)
            lib = libraryChain();
        own = Run(job);
        if (!libraryFirst)
            lib = libraryChain();
        libraryFirst = !libraryFirst;
        if (own.wallMs < 0 || lib.wallMs < 0) {
            state.SkipWithError("a run failed");
            return;
        }
        speak.push_back(own.wallMs);
        library.push_back(lib.wallMs);
        ratios.push_back(own.wallMs / lib.wallMs);
        speakCpu.push_back(own.cpuMs);
        libraryCpu.push_back(lib.cpuMs);
        cpuRatios.push_back(own.cpuMs / lib.cpuMs);
        state.SetIterationTime(own.wallMs / 1000);
    }
    state.counters["speak_ms"] = Median(speak);
    state.counters["library_ms"] = Median(library);
    state.counters["over_library"] = Median(ratios); // goal <= 1.1
    state.counters["speak_cpu_ms"] = Median(speakCpu);
    state.counters["library_cpu_ms"] = Median(libraryCpu);
    state.counters["cpu_over_library"] = Median(cpuRatios);
}

} // namespace

int main(int argc, char **argv)
{
    const std::string registry = TempDir() + "/registry.db";
    ::setenv("ORAFON_REGISTRY", registry.c_str(), 0);
    ::setenv("ORAFON_AUDIO_DEVICE", "silent", 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (const FileType &type : kTypes)
        benchmark::RegisterBenchmark((std::string("SpeakToFile_") + type.name + "_AgainstLibraryChain").c_str(),
                                     [&type](benchmark::State &state) { AgainstLibraryChain(state, type); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(7);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CoUninitialize();
    std::remove(registry.c_str());
    return 0;
}

// The SpeakToFile both speech benchmarks time: the object with the US English
// espeak-ng voice, one file type and wave format, and the 2000-word text,
// set up once and spoken into a new file per run.
#pragma once

#include "BenchSupport.h"

#include <component/TextToSpeechFactory.h>
#include <orafon/Holders.h>
#include <orafon/Orafon.h>
#include <tests/component/TestServices.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace orafon::bench {

using Clock = std::chrono::steady_clock;

inline double MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline CBstr AsciiBstr(const std::string &ascii)
{
    CBstr b(SysAllocStringLen(nullptr, static_cast<UINT>(ascii.size())));
    if (b.Get())
        std::copy(ascii.begin(), ascii.end(), b.Get());
    return b;
}

// The object with the US English espeak-ng voice selected.
inline CComPtr<ITextToSpeech> MakeEnglishObject()
{
    CComPtr<ITextToSpeech> tts;
    // A failure leaves tts null, which the caller checks.
    static_cast<void>(CTextToSpeech_CreateInstance(orafon::test::TestModule(), nullptr, IID_ITextToSpeech,
                                                   reinterpret_cast<void **>(&tts)));
    if (!tts)
        return tts;
    LONG count = 0;
    tts->get_VoiceCount(&count);
    for (LONG i = 0; i < count; ++i) {
        CBstr name;
        tts->GetVoiceName(i, name.Out());
        if (name.Get() && std::u16string(name.Get()) == u"eSpeak NG English (America)") {
            tts->put_VoiceIdx(i);
            break;
        }
    }
    return tts;
}

// The index of the wave format named wanted for the current file type; -1 when none is.
inline LONG FindWaveFormat(ITextToSpeech *tts, const std::u16string &wanted)
{
    LONG count = 0;
    tts->get_WaveFormatCount(&count);
    for (LONG i = 0; i < count; ++i) {
        CBstr name;
        tts->put_WaveFormatIdx(i);
        tts->get_WaveFormatName(name.Out());
        if (name.Get() && std::u16string(name.Get()) == wanted)
            return i;
    }
    return -1;
}

class SpeakToFileJob {
public:
    // format: a wave format's name, or empty for the type's first.
    SpeakToFileJob(FILEFORMAT type, const std::u16string &format, const std::string &path) : tts_(MakeEnglishObject())
    {
        if (!tts_ || FAILED(tts_->put_FileFormat(type)))
            return;
        const LONG index = format.empty() ? 0 : FindWaveFormat(tts_, format);
        if (index < 0 || FAILED(tts_->put_WaveFormatIdx(index)))
            return;
        path_ = path;
        text_ = AsciiBstr(Text2000Words());
        out_ = AsciiBstr(path_);
    }

    bool Ready() const { return text_.Get() != nullptr; }
    const std::string &Path() const { return path_; }

    // Removes the last run's file: replacing it would time the file system's
    // truncation of it (tens of milliseconds on ext4 for 30 MB).
    void Prepare() const { std::remove(path_.c_str()); }
    // One synchronous SpeakToFile.
    HRESULT Speak() const { return tts_->SpeakToFile(text_.Get(), out_.Get(), TF_DEFAULT); }
    // Milliseconds of one SpeakToFile into a new file, or a negative number.
    double Run() const
    {
        Prepare();
        const auto start = Clock::now();
        return SUCCEEDED(Speak()) ? MillisecondsSince(start) : -1;
    }

private:
    CComPtr<ITextToSpeech> tts_;
    std::string path_;
    CBstr text_;
    CBstr out_;
};

} // namespace orafon::bench

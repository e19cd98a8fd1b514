#include "EspeakEngine.h"

#include "Engine.h"
#include "SerialExecutor.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/PcmFormat.h>

#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>

namespace orafon::sapi5 {

namespace {

// espeak-ng synthesises a buffer in well under a millisecond per 100 ms of
// audio, so a cancel still acts at once and the first audio still comes
// early, while the hand-over to the voice costs little per second of speech.
constexpr int kBufferMs = 100;
// A long run is spoken in pieces of whole sentences of about this many
// characters (a minute of speech or so), one piece per turn on the worker.
constexpr size_t kPieceUnits = 1500;
// How long a turn waits for room in a full pipe before it lets others go first.
constexpr auto kRoomWait = std::chrono::milliseconds(50);

[[nodiscard]] bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// The one espeak-ng instance of the process and the thread that uses it.
class EspeakWorker {
public:
    static EspeakWorker &Instance()
    {
        // Never destroyed: the library stays loaded and the worker may still
        // be finishing a cancelled request while the process exits.
        static EspeakWorker *worker = new EspeakWorker;
        return *worker;
    }

    void Post(std::function<void()> task) { executor_.Post(std::move(task)); }

    template <typename F> auto Call(F f) -> decltype(f())
    {
        std::packaged_task<decltype(f())()> task(std::move(f));
        auto result = task.get_future();
        executor_.Post([&task] { task(); });
        return result.get();
    }

    // Worker thread only.
    int SampleRate()
    {
        if (!initialised_) {
            initialised_ = true;
            sampleRate_ = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, kBufferMs, nullptr, espeakINITIALIZE_DONT_EXIT);
            if (sampleRate_ > 0)
                espeak_SetSynthCallback(&EspeakWorker::Callback);
            else
                sampleRate_ = 0;
        }
        return sampleRate_;
    }

    [[nodiscard]] bool SelectVoice(const std::string &identifier)
    {
        if (identifier == currentVoice_)
            return true;
        if (espeak_SetVoiceByName(identifier.c_str()) != EE_OK)
            return false;
        currentVoice_ = identifier;
        return true;
    }

private:
    static int Callback(short *wav, int samples, espeak_EVENT *events);

    SerialExecutor executor_;
    bool initialised_ = false;
    int sampleRate_ = 0;
    std::string currentVoice_;
};

// The state of one text run while espeak-ng synthesises it.
class RunSynthesis {
public:
    RunSynthesis(const TextRun &run, SynthesisJob &job) : run_(run), job_(job), engineText_(ToEngineText(run.text)) {}

    [[nodiscard]] HRESULT Synthesize()
    {
        unsigned int id = 0;
        const espeak_ERROR err = espeak_Synth(engineText_.utf8.c_str(), engineText_.utf8.size() + 1, 0, POS_CHARACTER,
                                              0, espeakCHARS_UTF8, &id, this);
        if (FAILED(failure_))
            return failure_;
        if (err != EE_OK)
            return E_FAIL;
        return job_.pipe->Cancelled() ? E_ABORT : S_OK;
    }

    // What stopped the synthesis from inside its callback.
    void Fail(HRESULT hr) { failure_ = hr; }

    // Returns 1 to make espeak-ng stop: the only way to interrupt a synthesis.
    int OnAudio(const short *wav, int samples, const espeak_EVENT *events)
    {
        if (job_.pipe->Cancelled())
            return 1;
        for (const espeak_EVENT *e = events; e && e->type != espeakEVENT_LIST_TERMINATED; ++e) {
            if (e->type != espeakEVENT_WORD && e->type != espeakEVENT_SENTENCE)
                continue;
            // Audio up to the event goes first, so the event lands where it is heard.
            const long upTo = std::clamp<long>(e->sample - pushedSamples_, 0, samples - consumed_);
            if (!PushAudio(wav + consumed_, upTo))
                return 1;
            consumed_ += static_cast<int>(upTo);
            if (!PushEvent(*e))
                return 1;
        }
        if (!PushAudio(wav + consumed_, samples - consumed_))
            return 1;
        consumed_ = 0;
        return 0;
    }

private:
    [[nodiscard]] bool PushAudio(const short *wav, long samples)
    {
        if (samples <= 0 || !wav)
            return true;
        PipeItem item;
        item.kind = PipeItem::Kind::Audio;
        item.gainPercent = run_.prosody.volume;
        item.pcm.resize(static_cast<size_t>(samples) * 2);
        std::memcpy(item.pcm.data(), wav, item.pcm.size());
        pushedSamples_ += samples;
        return job_.pipe->Push(std::move(item));
    }

    // Maps espeak-ng's character span (code points from 1) to run units,
    // without the blanks around it; false when nothing is left.
    [[nodiscard]] bool MapSpan(int position, int length, size_t &first, size_t &last) const
    {
        const auto &map = engineText_.unitOfCodePoint;
        const long count = static_cast<long>(map.size()) - 1;
        const long from = std::clamp<long>(position - 1, 0, count);
        const long to = std::clamp<long>(from + std::max(length, 0), from, count);
        first = map[static_cast<size_t>(from)];
        last = map[static_cast<size_t>(to)];
        while (first < last && IsBlank(run_.text[first]))
            ++first;
        while (last > first && IsBlank(run_.text[last - 1]))
            --last;
        return first < last;
    }

    // After some multi-word dictionary entries espeak-ng reports a position
    // inside the word already reported: the word meant is the next one.
    [[nodiscard]] bool NextWord(size_t &first, size_t &last) const
    {
        first = lastWordEnd_;
        while (first < run_.text.size() && IsBlank(run_.text[first]))
            ++first;
        last = first;
        while (last < run_.text.size() && !IsBlank(run_.text[last]))
            ++last;
        while (last > first && IsTrailingPunctuation(run_.text[last - 1]))
            --last;
        return first < last;
    }

    [[nodiscard]] static bool IsTrailingPunctuation(char16_t c)
    {
        return c == u'.' || c == u',' || c == u';' || c == u':' || c == u'!' || c == u'?' || c == u'"' || c == u'\'' ||
               c == u')' || c == u']';
    }

    [[nodiscard]] bool PushEvent(const espeak_EVENT &e)
    {
        size_t first = 0, last = 0;
        PipeItem item;
        item.kind = PipeItem::Kind::Event;
        if (e.type == espeakEVENT_WORD) {
            // espeak-ng also reports an empty word at the end, and words it
            // derives from symbols at blanks: neither is a word of the text.
            if (e.length <= 0 || !MapSpan(e.text_position, e.length, first, last))
                return true;
            if (first < lastWordEnd_ && !NextWord(first, last))
                return true;
            lastWordEnd_ = last;
            item.eventId = SPEI_WORD_BOUNDARY;
        } else {
            // Sentences come with length 0: measure them in the text.
            if (!MapSpan(e.text_position, static_cast<int>(run_.text.size()), first, last))
                return true;
            last = SentenceEnd(run_.text, first);
            if (last <= first)
                return true;
            item.eventId = SPEI_SENTENCE_BOUNDARY;
        }
        const uint32_t begin = run_.OriginBegin(first);
        item.lParam = static_cast<LPARAM>(begin);
        item.wParam = static_cast<WPARAM>(run_.OriginEnd(last) - begin);
        return job_.pipe->Push(std::move(item));
    }

    const TextRun &run_;
    SynthesisJob &job_;
    EngineText engineText_;
    HRESULT failure_ = S_OK;
    long pushedSamples_ = 0;
    int consumed_ = 0;
    size_t lastWordEnd_ = 0;
};

int EspeakWorker::Callback(short *wav, int samples, espeak_EVENT *events)
{
    if (!events || !events->user_data)
        return 0;
    auto *synthesis = static_cast<RunSynthesis *>(events->user_data);
    // Called from inside espeak-ng: nothing thrown may pass through it. A run
    // that cannot go on (out of memory) stops, and its synthesis says why.
    int stop = 0;
    if (const HRESULT hr = orafon::CatchAtEdge([&] { stop = synthesis->OnAudio(wav, samples, events); }); FAILED(hr)) {
        synthesis->Fail(hr);
        return 1;
    }
    return stop;
}

[[nodiscard]] bool PushSilence(SpeechPipe &pipe, int sampleRate, uint32_t ms)
{
    size_t remaining = static_cast<size_t>(sampleRate) * ms / 1000 * 2;
    while (remaining > 0) {
        PipeItem item;
        item.kind = PipeItem::Kind::Audio;
        item.pcm.assign(std::min<size_t>(remaining, static_cast<size_t>(sampleRate) / 10 * 2), 0);
        remaining -= item.pcm.size();
        if (!pipe.Push(std::move(item)))
            return false;
    }
    return true;
}

[[nodiscard]] bool PushBookmark(SpeechPipe &pipe, const SpeechItem &mark)
{
    PipeItem item;
    item.kind = PipeItem::Kind::Event;
    item.eventId = SPEI_TTS_BOOKMARK;
    item.bookmark = mark.mark;
    // The mark's number, as the platform gives it: its leading digits.
    long number = 0;
    for (char16_t c : mark.mark) {
        if (c < u'0' || c > u'9')
            break;
        number = std::min<long>(number * 10 + (c - u'0'), 0x7FFFFFFF);
    }
    item.wParam = static_cast<WPARAM>(number);
    return pipe.Push(std::move(item));
}

class EspeakEngine final : public TtsEngine {
public:
    explicit EspeakEngine(std::string voiceId) : voiceId_(std::move(voiceId)) {}

    WAVEFORMATEX Format() const override
    {
        const int rate = EspeakSampleRate();
        return orafon::PcmFormat(static_cast<DWORD>(rate > 0 ? rate : 22050), 1, 16);
    }

    void Start(std::shared_ptr<SynthesisJob> job) override
    {
        auto progress = std::make_shared<Progress>();
        progress->voice = voiceId_;
        progress->job = std::move(job);
        progress->items = SplitLongRuns(progress->job->items);
        EspeakWorker::Instance().Post([progress] { Step(progress); });
    }

private:
    // Where a request stands between its turns on the worker.
    struct Progress {
        std::string voice;
        std::shared_ptr<SynthesisJob> job;
        std::vector<SpeechItem> items;
        size_t next = 0;
    };

    static std::vector<SpeechItem> SplitLongRuns(const std::vector<SpeechItem> &items)
    {
        std::vector<SpeechItem> out;
        for (const SpeechItem &item : items) {
            if (item.kind != SpeechItem::Kind::Text || item.run.text.size() <= kPieceUnits) {
                out.push_back(item);
                continue;
            }
            for (TextRun &piece : SplitAtSentences(item.run, kPieceUnits)) {
                SpeechItem text;
                text.run = std::move(piece);
                out.push_back(std::move(text));
            }
        }
        return out;
    }

    // One turn of a request: its items up to and including the next piece of
    // text. The worker is shared by every voice of the process, so a request
    // goes to the back of the queue after each piece, and one whose pipe is
    // well filled (a paused voice, a device far behind) waits there rather
    // than in the middle of a piece, where it would hold up the others.
    static void Step(const std::shared_ptr<Progress> &progress)
    {
        EspeakWorker &worker = EspeakWorker::Instance();
        SynthesisJob &job = *progress->job;
        HRESULT hr = S_OK;
        const int sampleRate = worker.SampleRate();
        if (sampleRate == 0 || !worker.SelectVoice(progress->voice))
            hr = SPERR_NOT_FOUND;
        while (SUCCEEDED(hr) && progress->next < progress->items.size()) {
            const SpeechItem &item = progress->items[progress->next];
            if (job.pipe->Cancelled()) {
                hr = E_ABORT;
            } else if (item.kind == SpeechItem::Kind::Silence) {
                hr = PushSilence(*job.pipe, sampleRate, item.silenceMs) ? S_OK : E_ABORT;
            } else if (item.kind == SpeechItem::Kind::Bookmark) {
                hr = PushBookmark(*job.pipe, item) ? S_OK : E_ABORT;
            } else if (!job.pipe->WaitForRoom(kRoomWait)) {
                worker.Post([progress] { Step(progress); });
                return;
            } else {
                hr = SpeakRun(item.run, job);
            }
            const bool spokeText = item.kind == SpeechItem::Kind::Text;
            if (SUCCEEDED(hr) && ++progress->next < progress->items.size() && spokeText) {
                worker.Post([progress] { Step(progress); });
                return;
            }
        }
        PipeItem done;
        done.kind = PipeItem::Kind::Done;
        done.result = hr == E_ABORT ? S_OK : hr;
        static_cast<void>(
            job.pipe->Push(std::move(done))); // refused only when cancelled: nobody waits for the end then
    }

    [[nodiscard]] static HRESULT SpeakRun(const TextRun &run, SynthesisJob &job)
    {
        const LONG voiceRate = job.rate ? job.rate() : 0;
        espeak_SetParameter(espeakRATE, EspeakWordsPerMinute(std::clamp<int>(voiceRate + run.prosody.rate, -10, 10)),
                            0);
        espeak_SetParameter(espeakPITCH, EspeakPitch(run.prosody.pitch), 0);
        espeak_SetParameter(espeakVOLUME, 100, 0);
        RunSynthesis synthesis(run, job);
        return synthesis.Synthesize();
    }

    std::string voiceId_;
};

} // namespace

int EspeakWordsPerMinute(int rate)
{
    // Rate 10 is three times the normal speed and -10 a third of it; the
    // engine's own limits bound both ends.
    const double wpm = espeakRATE_NORMAL * std::pow(3.0, std::clamp(rate, -10, 10) / 10.0);
    return std::clamp(static_cast<int>(std::lround(wpm)), espeakRATE_MINIMUM, espeakRATE_MAXIMUM);
}

int EspeakPitch(int pitch)
{
    return std::clamp(50 + 5 * std::clamp(pitch, -10, 10), 0, 100);
}

int EspeakSampleRate()
{
    static const int rate = EspeakWorker::Instance().Call([] { return EspeakWorker::Instance().SampleRate(); });
    return rate;
}

std::vector<EspeakVoiceInfo> ListEspeakVoices()
{
    return EspeakWorker::Instance().Call([] {
        std::vector<EspeakVoiceInfo> voices;
        if (EspeakWorker::Instance().SampleRate() == 0)
            return voices;
        const espeak_VOICE **list = espeak_ListVoices(nullptr);
        for (size_t i = 0; list && list[i]; ++i) {
            const espeak_VOICE *v = list[i];
            EspeakVoiceInfo info;
            info.name = v->name ? v->name : "";
            info.identifier = v->identifier ? v->identifier : "";
            // languages: a priority byte, then a NUL-terminated name, repeated.
            if (v->languages && v->languages[0])
                info.language = v->languages + 1;
            info.gender = v->gender;
            info.age = v->age;
            if (!info.identifier.empty())
                voices.push_back(std::move(info));
        }
        return voices;
    });
}

std::shared_ptr<TtsEngine> CreateEspeakEngine(const std::string &voiceId)
{
    return std::make_shared<EspeakEngine>(voiceId);
}

} // namespace orafon::sapi5

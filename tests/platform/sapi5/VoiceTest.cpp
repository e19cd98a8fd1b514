// SpVoice, tokens and categories through the platform's COM interfaces only.
#include "VoiceTestSupport.h"

#include <orafon/Holders.h>
#include <orafon/win/winbase.h>
#include <orafon/win/winreg.h>
#include <orafon/win/winuser.h>
#include <sapi5/ScriptedEngine.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace sapi5test;

namespace {

const std::u16string kTokens = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\";

CComPtr<ISpObjectToken> Token(const std::u16string &name)
{
    CComPtr<ISpObjectToken> token;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectToken, nullptr, CLSCTX_ALL, IID_ISpObjectToken,
                                     reinterpret_cast<void **>(&token)));
    if (token) {
        EXPECT_EQ(S_OK, token->SetId(nullptr, (kTokens + name).c_str(), FALSE)) << Narrow(name);
    }
    return token;
}

CComPtr<ISpVoice> NewVoice(const std::u16string &tokenName = u"eSpeakNG.gmw.en-US")
{
    CComPtr<ISpVoice> voice;
    EXPECT_EQ(S_OK,
              CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice, reinterpret_cast<void **>(&voice)));
    if (!voice)
        return voice;
    EXPECT_EQ(S_OK, voice->SetVoice(Token(tokenName)));
    EXPECT_EQ(S_OK, voice->SetInterest(SPFEI_ALL_TTS_EVENTS, SPFEI_ALL_TTS_EVENTS));
    return voice;
}

struct Spoken {
    HRESULT hr;
    std::vector<uint8_t> pcm;
    std::vector<int16_t> samples;
    std::vector<Event> events;
};

Spoken SpeakToStream(ISpVoice *voice, const std::u16string &text, DWORD flags = SPF_IS_XML,
                     const WAVEFORMATEX &format = Pcm(22050, 1, 16))
{
    auto *stream = new MemoryStream(format);
    Spoken out;
    EXPECT_EQ(S_OK, voice->SetOutput(stream, TRUE));
    out.hr = voice->Speak(text.c_str(), flags, nullptr);
    EXPECT_EQ(S_OK, voice->WaitUntilDone(INFINITE));
    out.pcm = stream->Data();
    out.samples = stream->Samples();
    out.events = DrainEvents(voice);
    EXPECT_EQ(S_OK, voice->SetOutput(nullptr, FALSE));
    stream->Release();
    return out;
}

std::string TempDir()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/orafon_sapi5_XXXXXX";
        const char *made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

std::string RunCommand(const std::string &command)
{
    std::string out;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (size_t n = std::fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// ---- Tokens and categories ---------------------------------------------------------

class Sapi5Tokens : public ::testing::Test {};

TEST_F(Sapi5Tokens, EveryEspeakVoiceIsListedWithNameAndAttributes)
{
    CComPtr<ISpObjectTokenCategory> category;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                                     reinterpret_cast<void **>(&category)));
    ASSERT_EQ(S_OK, category->SetId(SPCAT_VOICES, FALSE));
    CComPtr<IEnumSpObjectTokens> tokens;
    ASSERT_EQ(S_OK, category->EnumTokens(nullptr, nullptr, &tokens));
    ULONG count = 0;
    ASSERT_EQ(S_OK, tokens->GetCount(&count));
    const long espeakVoices = std::stol(RunCommand("espeak-ng --voices | tail -n +2 | wc -l"));
    EXPECT_EQ(static_cast<ULONG>(espeakVoices), count);
    ULONG seen = 0;
    CComPtr<ISpObjectToken> token;
    while (tokens->Next(1, &token, nullptr) == S_OK) {
        ++seen;
        orafon::CComHeapPtr<WCHAR> name;
        ASSERT_EQ(S_OK, token->GetStringValue(u"409", name.Out()));
        EXPECT_EQ(0, std::u16string(name.Get()).rfind(u"eSpeak NG ", 0)) << Narrow(name.Get());
        ASSERT_EQ(S_OK, token->GetStringValue(nullptr, name.Out()));
        CComPtr<ISpDataKey> attributes;
        ASSERT_EQ(S_OK, token->OpenKey(u"Attributes", &attributes));
        for (const char16_t *value : {u"Gender", u"Language", u"Name", u"Vendor", u"Age"}) {
            orafon::CComHeapPtr<WCHAR> text;
            EXPECT_EQ(S_OK, attributes->GetStringValue(value, text.Out())) << Narrow(value);
            EXPECT_TRUE(text.Get() && *text.Get());
        }
        token.Release();
    }
    EXPECT_EQ(count, seen);
    EXPECT_EQ(S_FALSE, tokens->Next(1, &token, nullptr));
}

TEST_F(Sapi5Tokens, TheUsersLanguageComesFirstAndEnglishWithoutOne)
{
    struct Case {
        const char *locale;
        const char16_t *firstLanguage;
    } cases[] = {{"en_US.UTF-8", u"409"}, {"de_DE.UTF-8", u"407"}, {"fr_FR.UTF-8", u"40C"}, {"C", u"409"}};
    const std::string saved = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
    for (const auto &c : cases) {
        ::setenv("LC_ALL", c.locale, 1);
        CComPtr<ISpObjectTokenCategory> category;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                                         reinterpret_cast<void **>(&category)));
        ASSERT_EQ(S_OK, category->SetId(SPCAT_VOICES, FALSE));
        CComPtr<IEnumSpObjectTokens> tokens;
        ASSERT_EQ(S_OK, category->EnumTokens(nullptr, nullptr, &tokens));
        CComPtr<ISpObjectToken> first;
        ASSERT_EQ(S_OK, tokens->Next(1, &first, nullptr));
        CComPtr<ISpDataKey> attributes;
        ASSERT_EQ(S_OK, first->OpenKey(u"Attributes", &attributes));
        orafon::CComHeapPtr<WCHAR> language;
        ASSERT_EQ(S_OK, attributes->GetStringValue(u"Language", language.Out()));
        EXPECT_EQ(std::u16string(c.firstLanguage), std::u16string(language.Get())) << c.locale;
    }
    saved.empty() ? ::unsetenv("LC_ALL") : ::setenv("LC_ALL", saved.c_str(), 1);
}

TEST_F(Sapi5Tokens, MissingThingsAreNotFound)
{
    CComPtr<ISpObjectToken> token = Token(u"eSpeakNG.gmw.en-US");
    ASSERT_TRUE(token);
    LPWSTR text = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(SPERR_NOT_FOUND, token->GetStringValue(u"C07", &text));
    EXPECT_EQ(nullptr, text);
    CComPtr<ISpDataKey> key;
    EXPECT_EQ(SPERR_NOT_FOUND, token->OpenKey(u"NoSuchKey", &key));
    EXPECT_EQ(E_POINTER, token->GetStringValue(u"409", nullptr));

    CComPtr<ISpObjectToken> missing;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectToken, nullptr, CLSCTX_ALL, IID_ISpObjectToken,
                                     reinterpret_cast<void **>(&missing)));
    EXPECT_EQ(SPERR_NOT_FOUND, missing->SetId(nullptr, (kTokens + u"NoSuchVoice").c_str(), FALSE));
    EXPECT_EQ(SPERR_UNINITIALIZED, missing->GetStringValue(u"409", &text));

    CComPtr<ISpObjectTokenCategory> category;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                                     reinterpret_cast<void **>(&category)));
    EXPECT_EQ(SPERR_NOT_FOUND, category->SetId(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\NoSuchCategory", FALSE));
}

TEST_F(Sapi5Tokens, RequiredAttributesFilterTheTokens)
{
    CComPtr<ISpObjectTokenCategory> category;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                                     reinterpret_cast<void **>(&category)));
    ASSERT_EQ(S_OK, category->SetId(SPCAT_VOICES, FALSE));
    CComPtr<IEnumSpObjectTokens> tokens;
    ASSERT_EQ(S_OK, category->EnumTokens(u"Language=409;Vendor=eSpeak NG", nullptr, &tokens));
    ULONG count = 0;
    ASSERT_EQ(S_OK, tokens->GetCount(&count));
    EXPECT_GE(count, 2u); // en-US and en-US-nyc
    CComPtr<ISpObjectToken> token;
    while (tokens->Next(1, &token, nullptr) == S_OK) {
        BOOL matches = FALSE;
        EXPECT_EQ(S_OK, token->MatchesAttributes(u"Language=409", &matches));
        EXPECT_TRUE(matches);
        EXPECT_EQ(S_OK, token->MatchesAttributes(u"Language=407", &matches));
        EXPECT_FALSE(matches);
        token.Release();
    }
}

// Run in a child process with a registry of its own (see the next test):
// a stale espeak-ng token from an older installation is removed on first use.
TEST(Sapi5Registration, DISABLED_FreshRegistryDropsStaleTokens)
{
    orafon::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens\\eSpeakNG.zz.gone", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr));
    key.Reset();
    CComPtr<ISpObjectTokenCategory> category;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                                     reinterpret_cast<void **>(&category)));
    ASSERT_EQ(S_OK, category->SetId(SPCAT_VOICES, FALSE));
    CComPtr<ISpObjectToken> gone;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectToken, nullptr, CLSCTX_ALL, IID_ISpObjectToken,
                                     reinterpret_cast<void **>(&gone)));
    EXPECT_EQ(SPERR_NOT_FOUND, gone->SetId(nullptr, (kTokens + u"eSpeakNG.zz.gone").c_str(), FALSE));
    CComPtr<IEnumSpObjectTokens> tokens;
    ASSERT_EQ(S_OK, category->EnumTokens(nullptr, nullptr, &tokens));
    ULONG count = 0;
    ASSERT_EQ(S_OK, tokens->GetCount(&count));
    EXPECT_GT(count, 100u);
}

TEST(Sapi5Registration, StaleTokensAreDroppedOnFirstUse)
{
    const std::string registry = TempDir() + "/stale.db";
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string command =
        "ORAFON_SAPI5_TEST_CHILD=1 ORAFON_REGISTRY='" + registry + "' '" + self +
        "' --gtest_also_run_disabled_tests "
        "--gtest_filter=Sapi5Registration.DISABLED_FreshRegistryDropsStaleTokens >/dev/null 2>&1";
    EXPECT_EQ(0, std::system(command.c_str()));
}

// Calls the function in the given slot of an object's function table, as a
// client compiled against the published headers would.
template <typename R, typename... Args> R CallSlot(void *object, int slot, Args... args)
{
    using Fn = R (*)(void *, Args...);
    return reinterpret_cast<Fn>((*reinterpret_cast<void ***>(object))[slot])(object, args...);
}

TEST(Sapi5Layout, FunctionTablesKeepThePublishedSlots)
{
    CComPtr<ISpVoice> voice = NewVoice();
    EXPECT_EQ(S_OK, (CallSlot<HRESULT, LONG>(voice, 28, 7))); // SetRate
    LONG rate = 0;
    EXPECT_EQ(S_OK, (CallSlot<HRESULT, LONG *>(voice, 29, &rate))); // GetRate
    EXPECT_EQ(7, rate);
    EXPECT_EQ(S_OK, (CallSlot<HRESULT, USHORT>(voice, 30, static_cast<USHORT>(33)))); // SetVolume
    USHORT volume = 0;
    ASSERT_EQ(S_OK, voice->GetVolume(&volume));
    EXPECT_EQ(33, volume);
    EXPECT_EQ(S_OK,
              (CallSlot<HRESULT, ULONGLONG, ULONGLONG>(voice, 10, SPFEI(SPEI_WORD_BOUNDARY), 0ull))); // SetInterest
    SPEVENTSOURCEINFO info{};
    EXPECT_EQ(S_OK, (CallSlot<HRESULT, SPEVENTSOURCEINFO *>(voice, 12, &info))); // GetInfo
    EXPECT_EQ(SPFEI(SPEI_WORD_BOUNDARY), info.ullEventInterest);
    EXPECT_EQ(S_OK, (CallSlot<HRESULT, ULONG>(voice, 32, 0u))); // WaitUntilDone
    EXPECT_EQ(E_INVALIDARG, (CallSlot<HRESULT, LPCWSTR, DWORD, ULONG *>(voice, 20, nullptr, 0u, nullptr))); // Speak

    CComPtr<ISpObjectToken> token = Token(u"eSpeakNG.gmw.en-US");
    orafon::CComHeapPtr<WCHAR> id;
    ASSERT_EQ(S_OK, (CallSlot<HRESULT, LPWSTR *>(token, 16, id.Out()))); // GetId
    EXPECT_EQ(kTokens + u"eSpeakNG.gmw.en-US", std::u16string(id.Get()));
    orafon::CComHeapPtr<WCHAR> name;
    ASSERT_EQ(S_OK, (CallSlot<HRESULT, LPCWSTR, LPWSTR *>(token, 6, u"409", name.Out()))); // GetStringValue
    EXPECT_EQ(u"eSpeak NG English (America)", std::u16string(name.Get()));
    BOOL matches = FALSE;
    ASSERT_EQ(S_OK,
              (CallSlot<HRESULT, LPCWSTR, BOOL *>(token, 24, u"Vendor=eSpeak NG", &matches))); // MatchesAttributes
    EXPECT_TRUE(matches);

    CComPtr<ISpObjectTokenCategory> category;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                                     reinterpret_cast<void **>(&category)));
    ASSERT_EQ(S_OK, (CallSlot<HRESULT, LPCWSTR, BOOL>(category, 15, SPCAT_VOICES, FALSE))); // SetId
    IEnumSpObjectTokens *tokens = nullptr;
    ASSERT_EQ(S_OK, (CallSlot<HRESULT, LPCWSTR, LPCWSTR, IEnumSpObjectTokens **>(category, 18, nullptr, nullptr,
                                                                                 &tokens))); // EnumTokens
    ULONG count = 0;
    EXPECT_EQ(S_OK, (CallSlot<HRESULT, ULONG *>(tokens, 8, &count))); // GetCount
    EXPECT_GT(count, 100u);
    tokens->Release();

    CComPtr<ISpStreamFormat> stream;
    ASSERT_EQ(S_OK, voice->GetOutputStream(&stream));
    GUID format{};
    orafon::CComHeapPtr<WAVEFORMATEX> wfx;
    ASSERT_EQ(S_OK, (CallSlot<HRESULT, GUID *, WAVEFORMATEX **>(stream, 14, &format, wfx.Out()))); // GetFormat
    EXPECT_EQ(SPDFID_WaveFormatEx, format);
}

// ---- Speaking into a stream --------------------------------------------------------

class Sapi5Voice : public ::testing::Test {};

TEST_F(Sapi5Voice, OutputStreamReportsTheDeviceFormat)
{
    CComPtr<ISpVoice> voice = NewVoice();
    CComPtr<ISpStreamFormat> stream;
    ASSERT_EQ(S_OK, voice->GetOutputStream(&stream));
    GUID id{};
    orafon::CComHeapPtr<WAVEFORMATEX> wfx;
    ASSERT_EQ(S_OK, stream->GetFormat(&id, wfx.Out()));
    EXPECT_EQ(SPDFID_WaveFormatEx, id);
    ASSERT_TRUE(wfx.Get());
    EXPECT_EQ(WAVE_FORMAT_PCM, wfx->wFormatTag);
    EXPECT_EQ(1, wfx->nChannels);
    EXPECT_EQ(22050u, wfx->nSamplesPerSec);
    EXPECT_EQ(16, wfx->wBitsPerSample);
    EXPECT_EQ(44100u, wfx->nAvgBytesPerSec);
}

TEST_F(Sapi5Voice, SpeechIsAudibleAndAsLongAsTheEnginesOwn)
{
    CComPtr<ISpVoice> voice = NewVoice();
    const std::u16string text = u"Hello world. This is a test.";
    const Spoken s = SpeakToStream(voice, text);
    ASSERT_EQ(S_OK, s.hr);
    EXPECT_GT(Rms(s.samples), 500.0);
    const std::string wav = TempDir() + "/reference.wav";
    RunCommand("espeak-ng -v gmw/en-US -w '" + wav + "' 'Hello world. This is a test.'");
    const double reference = std::stod(RunCommand("soxi -D '" + wav + "'"));
    const double ours = static_cast<double>(s.samples.size()) / 22050.0;
    EXPECT_NEAR(reference, ours, reference * 0.3) << reference << " s vs " << ours << " s";
}

TEST_F(Sapi5Voice, EventsFrameTheStreamAndSliceTheWords)
{
    CComPtr<ISpVoice> voice = NewVoice();
    const std::u16string text = u"Hello world. This is a test.";
    ULONG number = 0;
    auto *stream = new MemoryStream(Pcm(22050, 1, 16));
    ASSERT_EQ(S_OK, voice->SetOutput(stream, TRUE));
    ASSERT_EQ(S_OK, voice->Speak(text.c_str(), SPF_ASYNC | SPF_IS_XML, &number));
    ASSERT_EQ(S_OK, voice->WaitUntilDone(INFINITE));
    const auto events = DrainEvents(voice);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(SPEI_START_INPUT_STREAM, events.front().id);
    EXPECT_EQ(SPEI_END_INPUT_STREAM, events.back().id);
    EXPECT_EQ(stream->Size(), events.back().offset);
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(number, events[i].stream);
        if (i) {
            EXPECT_LE(events[i - 1].offset, events[i].offset);
        }
    }
    EXPECT_EQ((std::vector<std::u16string>{u"Hello", u"world", u"This", u"is", u"a", u"test"}),
              Slices(events, text, SPEI_WORD_BOUNDARY));
    EXPECT_EQ((std::vector<std::u16string>{u"Hello world.", u"This is a test."}),
              Slices(events, text, SPEI_SENTENCE_BOUNDARY));
    stream->Release();
}

struct PositionCase {
    const char16_t *text;
    std::vector<std::u16string> words;
};

TEST_F(Sapi5Voice, PositionsAreTheCallersUtf16Units)
{
    const PositionCase cases[] = {
        {u"<pitch absmiddle=\"3\"/>Hello world", {u"Hello", u"world"}},
        {u"Caf\u00e9 cr\u00e8me br\u00fbl\u00e9e.", {u"Caf\u00e9", u"cr\u00e8me", u"br\u00fbl\u00e9e"}},
        {u"\U0001D11E music \U0001D11E notes.", {u"music", u"notes"}},
        {u"<rate speed=\"2\">fast</rate> then <volume level=\"80\">quiet</volume> words",
         {u"fast", u"then", u"quiet", u"words"}},
        {u"Fish &amp; chips.", {u"Fish", u"chips"}},
    };
    CComPtr<ISpVoice> voice = NewVoice();
    for (const auto &c : cases) {
        const std::u16string text = c.text;
        const Spoken s = SpeakToStream(voice, text);
        ASSERT_EQ(S_OK, s.hr) << Narrow(text);
        const auto words = Slices(s.events, text, SPEI_WORD_BOUNDARY);
        for (const auto &w : c.words)
            EXPECT_NE(words.end(), std::find(words.begin(), words.end(), w)) << Narrow(w) << " in " << Narrow(text);
        for (const auto &w : words) {
            ASSERT_FALSE(w.empty());
            EXPECT_EQ(std::u16string::npos, w.find(u'<')) << Narrow(w);
            EXPECT_FALSE(w.front() >= 0xDC00 && w.front() <= 0xDFFF) << Narrow(text);
        }
    }
    // The prefix case exactly: "world" at 28.
    const std::u16string prefixed = cases[0].text;
    const Spoken s = SpeakToStream(voice, prefixed);
    bool found = false;
    for (const auto &e : s.events)
        if (e.id == SPEI_WORD_BOUNDARY && e.lParam == 28 && e.wParam == 5)
            found = true;
    EXPECT_TRUE(found);
}

TEST_F(Sapi5Voice, RateTenIsMuchFaster)
{
    CComPtr<ISpVoice> voice = NewVoice();
    const std::u16string text = u"The rain in Spain stays mainly in the plain, they said.";
    const Spoken normal = SpeakToStream(voice, text);
    ASSERT_EQ(S_OK, voice->SetRate(10));
    LONG rate = 0;
    ASSERT_EQ(S_OK, voice->GetRate(&rate));
    EXPECT_EQ(10, rate);
    const Spoken fast = SpeakToStream(voice, text);
    ASSERT_GT(fast.pcm.size(), 0u);
    EXPECT_GE(static_cast<double>(normal.pcm.size()) / static_cast<double>(fast.pcm.size()), 1.8);
}

TEST_F(Sapi5Voice, VolumeFiftyIsHalfTheAmplitude)
{
    CComPtr<ISpVoice> voice = NewVoice();
    const std::u16string text = u"Listen to the volume of this sentence.";
    const Spoken full = SpeakToStream(voice, text);
    ASSERT_EQ(S_OK, voice->SetVolume(50));
    USHORT volume = 0;
    ASSERT_EQ(S_OK, voice->GetVolume(&volume));
    EXPECT_EQ(50, volume);
    const Spoken half = SpeakToStream(voice, text);
    EXPECT_NEAR(0.5, Rms(half.samples) / Rms(full.samples), 0.06);
    EXPECT_EQ(E_INVALIDARG, voice->SetVolume(101));
}

// The median fundamental of voiced 40 ms frames (shortest strong period).
double FundamentalHz(const std::vector<int16_t> &s, int rate)
{
    const size_t frame = static_cast<size_t>(rate) * 40 / 1000;
    const int minLag = rate / 500, maxLag = rate / 50;
    std::vector<double> found;
    for (size_t start = 0; start + frame + static_cast<size_t>(maxLag) < s.size(); start += frame) {
        double energy = 0;
        for (size_t i = start; i < start + frame; ++i)
            energy += static_cast<double>(s[i]) * s[i];
        if (energy / static_cast<double>(frame) < 1e6)
            continue;
        std::vector<double> r(static_cast<size_t>(maxLag) + 1, 0.0);
        double best = 0;
        for (int lag = minLag; lag <= maxLag; ++lag) {
            double sum = 0;
            for (size_t i = start; i < start + frame; ++i)
                sum += static_cast<double>(s[i]) * s[i + static_cast<size_t>(lag)];
            r[static_cast<size_t>(lag)] = sum / energy;
            best = std::max(best, r[static_cast<size_t>(lag)]);
        }
        if (best < 0.5)
            continue;
        for (int lag = minLag + 1; lag < maxLag; ++lag) {
            const double v = r[static_cast<size_t>(lag)];
            if (v >= 0.85 * best && v >= r[static_cast<size_t>(lag) - 1] && v >= r[static_cast<size_t>(lag) + 1]) {
                found.push_back(static_cast<double>(rate) / lag);
                break;
            }
        }
    }
    if (found.empty())
        return 0;
    std::sort(found.begin(), found.end());
    return found[found.size() / 2];
}

TEST_F(Sapi5Voice, PitchTagMovesTheFundamental)
{
    CComPtr<ISpVoice> voice = NewVoice();
    const Spoken plain = SpeakToStream(voice, u"Aaah, a long vowel.");
    const Spoken high = SpeakToStream(voice, u"<pitch absmiddle=\"10\"/>Aaah, a long vowel.");
    const Spoken low = SpeakToStream(voice, u"<pitch absmiddle=\"-10\">Aaah, a long vowel.</pitch>");
    const double f0 = FundamentalHz(plain.samples, 22050), f0High = FundamentalHz(high.samples, 22050),
                 f0Low = FundamentalHz(low.samples, 22050);
    EXPECT_GT(f0High, f0 * 1.15) << f0Low << " " << f0 << " " << f0High;
    EXPECT_LT(f0Low, f0 * 0.87) << f0Low << " " << f0 << " " << f0High;
}

TEST_F(Sapi5Voice, OutputInTheStreamsOwnFormat)
{
    CComPtr<ISpVoice> voice = NewVoice();
    const std::u16string text = u"Format check.";
    const Spoken native = SpeakToStream(voice, text);
    const Spoken converted = SpeakToStream(voice, text, SPF_IS_XML, Pcm(8000, 2, 8));
    const double nativeSeconds = static_cast<double>(native.pcm.size()) / 44100.0;
    const double convertedSeconds = static_cast<double>(converted.pcm.size()) / 16000.0;
    EXPECT_NEAR(nativeSeconds, convertedSeconds, 0.02);
    EXPECT_EQ(0u, converted.pcm.size() % 2);
}

TEST_F(Sapi5Voice, MalformedMarkupSpeaksNothing)
{
    const char16_t *bad[] = {u"<pitch absmiddle=\"3\">open", u"</rate>x", u"a & b", u"<volume level=5/>x"};
    CComPtr<ISpVoice> voice = NewVoice();
    for (const char16_t *text : bad) {
        const Spoken s = SpeakToStream(voice, text);
        EXPECT_EQ(SPERR_XML_BAD_SYNTAX, s.hr) << Narrow(text);
        EXPECT_TRUE(s.pcm.empty());
        EXPECT_TRUE(s.events.empty());
        // The same text as plain text is spoken, markup characters and all.
        const Spoken plain = SpeakToStream(voice, text, SPF_IS_NOT_XML);
        EXPECT_EQ(S_OK, plain.hr);
        EXPECT_FALSE(plain.pcm.empty());
    }
}

TEST_F(Sapi5Voice, BookmarksAndSilence)
{
    CComPtr<ISpVoice> voice = NewVoice();
    const std::u16string text = u"One<bookmark mark=\"12 o'clock\"/><silence msec=\"300\"/> two";
    const Spoken s = SpeakToStream(voice, text);
    ASSERT_EQ(S_OK, s.hr);
    size_t marks = 0;
    for (const auto &e : s.events)
        if (e.id == SPEI_TTS_BOOKMARK) {
            ++marks;
            EXPECT_EQ(u"12 o'clock", e.bookmark);
            EXPECT_EQ(12u, e.wParam);
        }
    EXPECT_EQ(1u, marks);
}

TEST_F(Sapi5Voice, TwoVoicesOnTwoThreadsSoundAsOneAtATime)
{
    const std::u16string a = u"The first voice reads this line.", b = u"A second voice reads another one.";
    std::vector<int16_t> soloA, soloB, bothA, bothB;
    auto speak = [](const std::u16string &text, std::vector<int16_t> &out) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
            CComPtr<ISpVoice> voice = NewVoice();
            out = SpeakToStream(voice, text).samples;
        }
        CoUninitialize();
    };
    speak(a, soloA);
    speak(b, soloB);
    std::thread ta(speak, a, std::ref(bothA)), tb(speak, b, std::ref(bothB));
    ta.join();
    tb.join();
    // espeak-ng carries a little state from one utterance to the next, so the
    // same text differs by a few milliseconds; interleaved synthesis would
    // change the loudness contour altogether.
    EXPECT_NEAR(static_cast<double>(soloA.size()), static_cast<double>(bothA.size()), soloA.size() * 0.02);
    EXPECT_NEAR(static_cast<double>(soloB.size()), static_cast<double>(bothB.size()), soloB.size() * 0.02);
    EXPECT_GT(ContourSimilarity(soloA, bothA), 0.97);
    EXPECT_GT(ContourSimilarity(soloB, bothB), 0.97);
    EXPECT_LT(ContourSimilarity(soloA, soloB), 0.8);
    EXPECT_NEAR(Rms(soloA), Rms(bothA), Rms(soloA) * 0.05);
    EXPECT_NEAR(Rms(soloB), Rms(bothB), Rms(soloB) * 0.05);
}

TEST_F(Sapi5Voice, BadInputGivesErrorsNotCrashes)
{
    CComPtr<ISpVoice> voice = NewVoice();
    EXPECT_EQ(E_INVALIDARG, voice->Speak(nullptr, SPF_DEFAULT, nullptr));
    EXPECT_EQ(E_INVALIDARG, voice->Speak(u"x", SPF_IS_XML | SPF_IS_NOT_XML, nullptr));
    EXPECT_EQ(E_INVALIDARG, voice->Speak(u"x", 0x10000, nullptr));
    EXPECT_EQ(E_POINTER, voice->GetRate(nullptr));
    EXPECT_EQ(E_POINTER, voice->GetEvents(1, nullptr, nullptr));
    EXPECT_EQ(E_INVALIDARG, voice->SetInterest(SPFEI(SPEI_WORD_BOUNDARY), SPFEI_ALL_TTS_EVENTS));

    // Unpaired surrogates are spoken around; text ends at a NUL.
    std::u16string odd = u"Broken ? pair and end";
    odd[7] = 0xDC00;
    const Spoken s = SpeakToStream(voice, odd);
    EXPECT_EQ(S_OK, s.hr);
    EXPECT_FALSE(s.pcm.empty());
    const char16_t withNul[] = u"Before\0after";
    const Spoken cut = SpeakToStream(voice, std::u16string(withNul, 12));
    for (const auto &w : Slices(cut.events, withNul, SPEI_WORD_BOUNDARY))
        EXPECT_EQ(u"Before", w);

    // A token whose engine nobody provides.
    CComPtr<ISpObjectToken> bogus;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectToken, nullptr, CLSCTX_ALL, IID_ISpObjectToken,
                                     reinterpret_cast<void **>(&bogus)));
    ASSERT_EQ(S_OK, bogus->SetId(nullptr, (kTokens + u"Bogus").c_str(), TRUE));
    ASSERT_EQ(S_OK, bogus->SetStringValue(u"CLSID", u"{00000000-1111-2222-3333-444444444444}"));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, voice->SetVoice(bogus));
    EXPECT_EQ(S_OK, bogus->Remove(nullptr));
}

TEST_F(Sapi5Voice, AStreamThatRefusesWritesEndsTheRequest)
{
    CComPtr<ISpVoice> voice = NewVoice();
    auto *stream = new MemoryStream(Pcm(22050, 1, 16));
    stream->RefuseAfter(4000);
    ASSERT_EQ(S_OK, voice->SetOutput(stream, TRUE));
    EXPECT_EQ(STG_E_MEDIUMFULL, voice->Speak(u"This text is much longer than the stream takes.", SPF_DEFAULT, nullptr));
    const auto events = DrainEvents(voice);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(SPEI_END_INPUT_STREAM, events.back().id);
    SPVOICESTATUS status{};
    ASSERT_EQ(S_OK, voice->GetStatus(&status, nullptr));
    EXPECT_EQ(STG_E_MEDIUMFULL, status.hrLastResult);
    EXPECT_TRUE(status.dwRunningState & SPRS_DONE);
    voice->SetOutput(nullptr, FALSE);
    stream->Release();
}

TEST_F(Sapi5Voice, AStreamThatDoesNotCountTakesEverything)
{
    CComPtr<ISpVoice> voice = NewVoice();
    const Spoken counted = SpeakToStream(voice, u"Counting the bytes.");
    auto *stream = new MemoryStream(Pcm(22050, 1, 16));
    stream->LeaveCountUnset();
    ASSERT_EQ(S_OK, voice->SetOutput(stream, TRUE));
    EXPECT_EQ(S_OK, voice->Speak(u"Counting the bytes.", SPF_DEFAULT, nullptr));
    EXPECT_NEAR(static_cast<double>(counted.pcm.size()), static_cast<double>(stream->Size()), 4410.0);
    EXPECT_EQ(SPEI_END_INPUT_STREAM, DrainEvents(voice).back().id);
    voice->SetOutput(nullptr, FALSE);
    stream->Release();
}

TEST_F(Sapi5Voice, EveryVoiceCanBeSelectedAndHeard)
{
    CComPtr<ISpObjectTokenCategory> category;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                                     reinterpret_cast<void **>(&category)));
    ASSERT_EQ(S_OK, category->SetId(SPCAT_VOICES, FALSE));
    CComPtr<IEnumSpObjectTokens> tokens;
    ASSERT_EQ(S_OK, category->EnumTokens(u"Vendor=eSpeak NG", nullptr, &tokens));
    CComPtr<ISpVoice> voice;
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice, reinterpret_cast<void **>(&voice)));
    CComPtr<ISpObjectToken> token;
    size_t voices = 0;
    while (tokens->Next(1, &token, nullptr) == S_OK) {
        orafon::CComHeapPtr<WCHAR> id;
        ASSERT_EQ(S_OK, token->GetId(id.Out()));
        const std::string name = Narrow(id.Get());
        ASSERT_EQ(S_OK, voice->SetVoice(token)) << name;
        const Spoken s = SpeakToStream(voice, u"a b c 1 2 3");
        EXPECT_EQ(S_OK, s.hr) << name;
        EXPECT_GT(Rms(s.samples), 100.0) << name;
        token.Release();
        ++voices;
    }
    EXPECT_GT(voices, 100u);
}

TEST_F(Sapi5Voice, HugeTextIsSpokenWithoutTrouble)
{
    CComPtr<ISpVoice> voice = NewVoice();
    std::u16string huge;
    while (huge.size() < 200000)
        huge += u"Lorem ipsum dolor sit amet. ";
    auto *stream = new MemoryStream(Pcm(22050, 1, 16));
    ASSERT_EQ(S_OK, voice->SetOutput(stream, TRUE));
    ASSERT_EQ(S_OK, voice->Speak(huge.c_str(), SPF_ASYNC | SPF_IS_NOT_XML, nullptr));
    while (stream->Size() < 100000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(S_OK, voice->Speak(u"", SPF_PURGEBEFORESPEAK, nullptr));
    EXPECT_EQ(S_OK, voice->WaitUntilDone(INFINITE));
    const auto events = DrainEvents(voice);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(SPEI_END_INPUT_STREAM, events.back().id);
    voice->SetOutput(nullptr, FALSE);
    stream->Release();
}

// Waits of the tests below are guards against a hang, not speed limits.
constexpr auto kGuard = std::chrono::seconds(60);

// Removes a test's voice token whatever way the test ends.
class TokenGuard {
public:
    explicit TokenGuard(std::u16string name) : name_(std::move(name)) {}
    ~TokenGuard() { EXPECT_EQ(S_OK, orafon::sapi5::UnregisterScriptedVoice(name_)); }
    TokenGuard(const TokenGuard &) = delete;
    TokenGuard &operator=(const TokenGuard &) = delete;

private:
    std::u16string name_;
};

// One engine serves every voice of the process: a paused voice whose queue of
// audio is full must not keep the others from speaking.
TEST_F(Sapi5Voice, APausedVoiceWithAFullQueueDoesNotHoldUpAnother)
{
    // The paused voice speaks with the espeak-ng engine every voice shares,
    // through a token that lets the test see its queue.
    ASSERT_EQ(S_OK, orafon::sapi5::RegisterObservedVoice(u"ObservedEnglish", u"eSpeakNG.gmw.en-US"));
    const TokenGuard token(u"ObservedEnglish");
    CComPtr<ISpVoice> paused = NewVoice(u"ObservedEnglish");
    auto *held = new MemoryStream(Pcm(22050, 1, 16));
    ASSERT_EQ(S_OK, paused->SetOutput(held, TRUE));
    ASSERT_EQ(S_OK, paused->Pause());
    std::u16string longText; // some eight minutes of speech, more than a voice queues
    for (int i = 0; i < 160; ++i)
        longText += u"This sentence is repeated to make a long text. ";
    ASSERT_EQ(S_OK, paused->Speak(longText.c_str(), SPF_ASYNC | SPF_IS_NOT_XML, nullptr));
    // The engine makes minutes of speech per second, until the queue is so
    // full that it holds the request back.
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    while (!orafon::sapi5::ObservedVoiceHeldBack(u"ObservedEnglish") && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(orafon::sapi5::ObservedVoiceHeldBack(u"ObservedEnglish")) << "the paused voice's queue never filled";
    EXPECT_EQ(0u, held->Size());

    // Another voice speaks twice on the same engine. The engine takes one
    // request at a time, so the first is heard only once the piece that
    // filled the queue is over; the paused request's next turn is then
    // already waiting ahead of the second.
    CComPtr<ISpVoice> other = NewVoice();
    for (const char16_t *sentence : {u"Meanwhile another voice speaks.", u"And once more, while the first waits."}) {
        auto *stream = new MemoryStream(Pcm(22050, 1, 16));
        ASSERT_EQ(S_OK, other->SetOutput(stream, TRUE));
        ASSERT_EQ(S_OK, other->Speak(sentence, SPF_ASYNC, nullptr));
        EXPECT_EQ(S_OK, other->WaitUntilDone(60000)) << Narrow(sentence);
        EXPECT_GT(stream->Size(), 10000u);
        other->SetOutput(nullptr, FALSE);
        stream->Release();
    }
    // Still paused, still held back: the other voice did not have to wait
    // for the paused one's queue to drain.
    EXPECT_TRUE(orafon::sapi5::ObservedVoiceHeldBack(u"ObservedEnglish"));
    EXPECT_EQ(0u, held->Size());

    ASSERT_EQ(S_OK, paused->Speak(u"", SPF_PURGEBEFORESPEAK, nullptr));
    ASSERT_EQ(S_OK, paused->Resume());
    EXPECT_EQ(S_OK, paused->WaitUntilDone(60000));
    paused->SetOutput(nullptr, FALSE);
    held->Release();
}

// ---- Speaking aloud: the paced device ---------------------------------------------

size_t Count(const std::vector<Event> &events, WORD id)
{
    return static_cast<size_t>(std::count_if(events.begin(), events.end(), [&](const Event &e) { return e.id == id; }));
}

// Collects the voice's events until those that satisfy done are in; false
// when they are not by the guard.
bool CollectUntil(ISpVoice *voice, std::vector<Event> &events, const std::function<bool()> &done)
{
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        auto more = DrainEvents(voice);
        events.insert(events.end(), more.begin(), more.end());
    }
    return true;
}

// The bytes of audio the capture device has taken, which its played position
// never passes.
uint64_t CapturedBytes(const std::string &path)
{
    struct stat info {};
    constexpr off_t kHeader = 44;
    return ::stat(path.c_str(), &info) == 0 && info.st_size > kHeader ? static_cast<uint64_t>(info.st_size - kHeader)
                                                                      : 0;
}

// Waits until the capture device's position stops advancing: it takes audio
// in pieces of 10 ms at the pace of playback, so a tenth of a second without
// a byte means it holds still. False when it still plays at the guard.
bool WaitUntilTheDeviceHolds(const std::string &path)
{
    const auto deadline = std::chrono::steady_clock::now() + kGuard;
    uint64_t last = CapturedBytes(path);
    auto since = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const uint64_t now = CapturedBytes(path);
        if (now != last) {
            last = now;
            since = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - since >= std::chrono::milliseconds(100)) {
            return true;
        }
    }
    return false;
}

TEST_F(Sapi5Voice, PauseHoldsTheWordsResumeGoesOnPurgeStops)
{
    const std::string capture = TempDir() + "/aloud.wav";
    ::setenv("ORAFON_AUDIO_CAPTURE", capture.c_str(), 1);
    CComPtr<ISpVoice> voice = NewVoice();
    const std::u16string text = u"One two three four five six seven eight nine ten eleven twelve thirteen fourteen "
                                u"fifteen sixteen seventeen eighteen nineteen twenty.";
    ASSERT_EQ(S_OK, voice->Speak(text.c_str(), SPF_ASYNC, nullptr));
    // Words come as they are heard, not all at once.
    std::vector<Event> heard;
    ASSERT_TRUE(CollectUntil(voice, heard, [&] { return Count(heard, SPEI_WORD_BOUNDARY) >= 2; }));
    EXPECT_LT(Count(heard, SPEI_WORD_BOUNDARY), 10u);
    ASSERT_EQ(S_OK, voice->Pause());
    // The device finishes the piece it was given, then holds still.
    ASSERT_TRUE(WaitUntilTheDeviceHolds(capture)) << "the paused device went on playing";
    // A word heard before the pause may still be reported; none that the
    // device has not played is.
    const auto whilePaused = DrainEvents(voice);
    heard.insert(heard.end(), whilePaused.begin(), whilePaused.end());
    const uint64_t played = CapturedBytes(capture);
    for (const Event &e : heard) {
        if (e.id == SPEI_WORD_BOUNDARY) {
            EXPECT_LE(e.offset, played) << Narrow(text.substr(static_cast<size_t>(e.lParam), e.wParam));
        }
    }
    EXPECT_EQ(0u, Count(heard, SPEI_END_INPUT_STREAM));
    EXPECT_EQ(S_FALSE, voice->WaitUntilDone(10));
    ASSERT_EQ(S_OK, voice->Resume());
    // Resumed, the device plays on past where it stopped, and the words there come.
    std::vector<Event> resumed;
    ASSERT_TRUE(CollectUntil(voice, resumed, [&] {
        return std::any_of(resumed.begin(), resumed.end(),
                           [&](const Event &e) { return e.id == SPEI_WORD_BOUNDARY && e.offset > played; });
    }));
    ASSERT_EQ(S_OK, voice->Speak(u"", SPF_PURGEBEFORESPEAK, nullptr));
    EXPECT_EQ(S_OK, voice->WaitUntilDone(INFINITE));
    const auto rest = DrainEvents(voice);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(SPEI_END_INPUT_STREAM, rest.back().id);
    EXPECT_EQ(0u, Count(rest, SPEI_START_INPUT_STREAM)); // the empty purge speaks nothing
    voice.Release();
    ::unsetenv("ORAFON_AUDIO_CAPTURE");
    // The device heard only the start of the text.
    const double seconds = std::stod(RunCommand("soxi -D '" + capture + "'"));
    EXPECT_GT(seconds, 0.2);
    EXPECT_LT(seconds, 4.0);
}

// A purge can come before a request has had its turn (Ctrl-C right after a
// synchronous Speak): every request still starts and ends, in order, so a
// caller waiting for the end of its own is not left waiting.
TEST_F(Sapi5Voice, PurgedRequestsStillStartAndEndInOrder)
{
    CComPtr<ISpVoice> voice = NewVoice();
    ULONG numbers[3] = {};
    for (ULONG &number : numbers)
        ASSERT_EQ(S_OK, voice->Speak(u"This text is long enough to be still spoken at the purge.", SPF_ASYNC, &number));
    ASSERT_EQ(S_OK, voice->Speak(u"", SPF_PURGEBEFORESPEAK, nullptr));
    EXPECT_EQ(S_OK, voice->WaitUntilDone(60000));
    std::vector<ULONG> starts, ends;
    for (const Event &e : DrainEvents(voice)) {
        if (e.id == SPEI_START_INPUT_STREAM)
            starts.push_back(e.stream);
        else if (e.id == SPEI_END_INPUT_STREAM)
            ends.push_back(e.stream);
    }
    const std::vector<ULONG> all(std::begin(numbers), std::end(numbers));
    EXPECT_EQ(all, starts);
    EXPECT_EQ(all, ends);
}

// ---- Notifications on the registering thread -------------------------------------

struct Callback final : ISpNotifyCallback {
    ISpVoice *voice = nullptr;
    DWORD thread = 0;
    bool wrongThread = false;
    bool ended = false;
    std::vector<Event> events;
    STDMETHODIMP NotifyCallback(WPARAM, LPARAM) override
    {
        wrongThread = wrongThread || GetCurrentThreadId() != thread;
        for (auto &e : DrainEvents(voice)) {
            ended = ended || e.id == SPEI_END_INPUT_STREAM;
            events.push_back(std::move(e));
        }
        return S_OK;
    }
};

TEST_F(Sapi5Voice, CallbackRunsInsideTheRegisteringThreadsDispatch)
{
    CComPtr<ISpVoice> voice = NewVoice();
    Callback callback;
    callback.voice = voice;
    callback.thread = GetCurrentThreadId();
    ASSERT_EQ(S_OK, voice->SetNotifyCallbackInterface(&callback, 0, 0));
    auto *stream = new MemoryStream(Pcm(22050, 1, 16));
    ASSERT_EQ(S_OK, voice->SetOutput(stream, TRUE));
    const std::u16string text = u"Events by message.";
    ASSERT_EQ(S_OK, voice->Speak(text.c_str(), SPF_ASYNC | SPF_IS_XML, nullptr));
    EXPECT_TRUE(callback.events.empty()); // nothing before the thread takes its messages
    MSG msg{};
    while (!callback.ended && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    EXPECT_FALSE(callback.wrongThread);
    ASSERT_FALSE(callback.events.empty());
    EXPECT_EQ(SPEI_START_INPUT_STREAM, callback.events.front().id);
    EXPECT_EQ((std::vector<std::u16string>{u"Events", u"by", u"message"}),
              Slices(callback.events, text, SPEI_WORD_BOUNDARY));
    voice->SetNotifyCallbackInterface(nullptr, 0, 0);
    voice->SetOutput(nullptr, FALSE);
    stream->Release();
}

struct CountingSink final : ISpNotifySink {
    std::atomic<int> notified{0};
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_ISpNotifySink))
            return E_NOINTERFACE;
        *ppv = static_cast<ISpNotifySink *>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Notify() override
    {
        ++notified;
        return S_OK;
    }
};

TEST_F(Sapi5Voice, SinkAndWindowMessageNotifications)
{
    CComPtr<ISpVoice> voice = NewVoice();
    CountingSink sink;
    ASSERT_EQ(S_OK, voice->SetNotifySink(&sink));
    const Spoken s = SpeakToStream(voice, u"Sink.");
    EXPECT_GE(sink.notified.load(), 2); // at least the start and the end
    SPEVENTSOURCEINFO info{};
    ASSERT_EQ(S_OK, voice->GetInfo(&info));
    EXPECT_EQ(SPFEI_ALL_TTS_EVENTS, info.ullEventInterest);
    EXPECT_EQ(0u, info.ulCount);
    ASSERT_EQ(S_OK, voice->SetNotifySink(nullptr));

    static std::atomic<int> messages{0};
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_APP + 7 && w == 11 && l == 22)
            ++messages;
        return DefWindowProcA(h, m, w, l);
    };
    wc.lpszClassName = "Sapi5TestWindow";
    RegisterClassExA(&wc);
    HWND hwnd = CreateWindowExA(0, "Sapi5TestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(hwnd);
    ASSERT_EQ(S_OK, voice->SetNotifyWindowMessage(hwnd, WM_APP + 7, 11, 22));
    SpeakToStream(voice, u"Window.");
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    EXPECT_GE(messages.load(), 2);
    ASSERT_EQ(S_OK, voice->SetNotifySink(nullptr));
    DestroyWindow(hwnd);
}

// ---- The scripted test engine -----------------------------------------------------

TEST_F(Sapi5Voice, ScriptedVoiceFollowsItsScript)
{
    using orafon::sapi5::ScriptStep;
    orafon::sapi5::VoiceScript script;
    script.format = Pcm(16000, 1, 16);
    script.speakResults = {SPERR_XML_BAD_SYNTAX};
    script.steps = {ScriptStep::Audio(3200), ScriptStep::Event(SPEI_WORD_BOUNDARY, 5, 28),
                    ScriptStep::Bookmark(u"7", 7), ScriptStep::Audio(1600)};
    ASSERT_EQ(S_OK, orafon::sapi5::RegisterScriptedVoice(u"ScriptedTest", u"Scripted Test Voice", script));
    CComPtr<ISpVoice> voice = NewVoice(u"ScriptedTest");
    CComPtr<ISpStreamFormat> device;
    ASSERT_EQ(S_OK, voice->GetOutputStream(&device));
    GUID id{};
    orafon::CComHeapPtr<WAVEFORMATEX> wfx;
    ASSERT_EQ(S_OK, device->GetFormat(&id, wfx.Out()));
    EXPECT_EQ(16000u, wfx->nSamplesPerSec);

    const Spoken first = SpeakToStream(voice, u"<x>Hello world", SPF_ASYNC | SPF_IS_XML, Pcm(16000, 1, 16));
    EXPECT_EQ(SPERR_XML_BAD_SYNTAX, first.hr);
    EXPECT_TRUE(first.events.empty());
    const Spoken second = SpeakToStream(voice, u"Hello world", SPF_ASYNC, Pcm(16000, 1, 16));
    EXPECT_EQ(S_OK, second.hr);
    EXPECT_EQ(4800u, second.pcm.size());
    ASSERT_EQ(4u, second.events.size());
    EXPECT_EQ(SPEI_START_INPUT_STREAM, second.events[0].id);
    EXPECT_EQ(SPEI_WORD_BOUNDARY, second.events[1].id);
    EXPECT_EQ(28, second.events[1].lParam);
    EXPECT_EQ(5u, second.events[1].wParam);
    EXPECT_EQ(3200u, second.events[1].offset);
    EXPECT_EQ(SPEI_TTS_BOOKMARK, second.events[2].id);
    EXPECT_EQ(u"7", second.events[2].bookmark);
    EXPECT_EQ(SPEI_END_INPUT_STREAM, second.events[3].id);
    EXPECT_EQ(4800u, second.events[3].offset);

    const auto calls = orafon::sapi5::ScriptedVoiceCalls(u"ScriptedTest");
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(u"<x>Hello world", calls[0].text);
    EXPECT_EQ(static_cast<DWORD>(SPF_ASYNC | SPF_IS_XML), calls[0].flags);
    EXPECT_EQ(static_cast<DWORD>(SPF_ASYNC), calls[1].flags);
    voice.Release();
    EXPECT_EQ(S_OK, orafon::sapi5::UnregisterScriptedVoice(u"ScriptedTest"));
}

} // namespace

int main(int argc, char **argv)
{
    // A registry and an audio device of the tests' own, before anything uses them.
    // A child run by a test brings the registry it is to use.
    if (!std::getenv("ORAFON_SAPI5_TEST_CHILD"))
        ::setenv("ORAFON_REGISTRY", (TempDir() + "/registry.db").c_str(), 1);
    ::setenv("ORAFON_AUDIO_DEVICE", "silent", 1);
    ::setenv("LC_ALL", "en_US.UTF-8", 1);
    ::testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    RunCommand("rm -rf '" + TempDir() + "'");
    return result;
}

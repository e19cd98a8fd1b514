// The speech tests' process set-up and shared helpers.
#include "SpeechTestSupport.h"

#include <orafon/Holders.h>
#include <orafon/win/objbase.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace speechtest {

const std::string &TempDir()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/orafon-speech-XXXXXX";
        const char *made = ::mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

std::string TempPath(const std::string &name)
{
    return TempDir() + "/" + name;
}

std::u16string U16(const std::string &s)
{
    return std::u16string(s.begin(), s.end());
}

void DrainMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

Subject::Subject()
{
    tts = orafon::test::MakeTts();
    if (tts) {
        EXPECT_EQ(orafon::test::EventPoint(tts)->Advise(&sink, &cookie), S_OK);
    }
}

Subject::~Subject()
{
    Release();
}

void Subject::Release()
{
    tts.Release();
}

LONG Subject::Count() const
{
    LONG count = -1;
    EXPECT_EQ(tts->get_VoiceCount(&count), S_OK);
    return count;
}

LONG Subject::Find(const std::u16string &name) const
{
    const LONG count = Count();
    for (LONG i = 0; i < count; ++i) {
        orafon::CBstr entry;
        if (tts->GetVoiceName(i, entry.Out()) != S_OK)
            continue;
        if (orafon::test::ToU16(entry.Get()) == name)
            return i;
    }
    return -1;
}

size_t Subject::Ends() const
{
    size_t ends = 0;
    for (const ReceivedEvent &e : sink.received)
        ends += e.id == DISPID_TTS_ONTTSEND;
    return ends;
}

std::string Describe(const std::vector<ReceivedEvent> &events)
{
    static const char *const names[] = {"?", "Start", "End", "Word", "Sentence", "Progress"};
    std::ostringstream out;
    for (const ReceivedEvent &e : events) {
        out << (e.id >= 1 && e.id <= 5 ? names[e.id] : names[0]) << "(";
        for (size_t i = 0; i < e.args.size(); ++i)
            out << (i ? "," : "") << e.args[i];
        out << ") ";
    }
    return out.str();
}

HRESULT InvokeMethod(ITextToSpeech *tts, DISPID id, const std::vector<DispArg> &args)
{
    // rgvarg holds the last parameter first.
    std::vector<VARIANT> vars(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        VARIANT &v = vars[args.size() - 1 - i];
        VariantInit(&v);
        if (args[i].isText) {
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = SysAllocStringLen(args[i].text.data(), static_cast<UINT>(args[i].text.size()));
        } else {
            V_VT(&v) = VT_I4;
            V_I4(&v) = args[i].number;
        }
    }
    DISPPARAMS params{vars.empty() ? nullptr : vars.data(), nullptr, static_cast<UINT>(vars.size()), 0};
    VARIANT result;
    VariantInit(&result);
    UINT argErr = 0;
    const HRESULT hr =
        tts->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, &argErr);
    VariantClear(&result);
    for (VARIANT &v : vars)
        VariantClear(&v);
    return hr;
}

namespace {

uint32_t Le32(const uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace

WaveFile ReadWave(const std::string &path)
{
    WaveFile wave;
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    wave.fileSize = bytes.size();
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4))
        return wave;
    wave.riffSize = Le32(bytes.data() + 4);
    bool haveFormat = false, haveData = false;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const uint32_t size = Le32(bytes.data() + at + 4);
        const size_t body = at + 8;
        if (body + size > bytes.size())
            return wave;
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && size >= 16) {
            std::memcpy(&wave.format, bytes.data() + body, 16);
            haveFormat = true;
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            wave.data.assign(bytes.begin() + static_cast<long>(body), bytes.begin() + static_cast<long>(body + size));
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    wave.valid = haveFormat && haveData;
    return wave;
}

std::string CommandOutput(const std::string &command)
{
    std::string out;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, got);
        ::pclose(pipe);
    }
    return out;
}

} // namespace speechtest

int main(int argc, char **argv)
{
    // A registry and a silent, unpaced audio device of the tests' own,
    // before anything reads them.
    ::setenv("ORAFON_REGISTRY", speechtest::TempPath("registry.db").c_str(), 1);
    ::setenv("ORAFON_AUDIO_DEVICE", "silent", 1);
    ::setenv("ORAFON_AUDIO_FAST", "1", 1);
    ::setenv("LC_ALL", "en_US.UTF-8", 1);
    ::testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    const std::string remove = "rm -rf '" + speechtest::TempDir() + "'";
    if (std::system(remove.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", speechtest::TempDir().c_str());
    return result;
}

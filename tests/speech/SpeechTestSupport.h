// What the speech bridge tests share: making the object with an event sink,
// finding catalogue entries by name, pumping the thread's messages, calling
// through IDispatch as a script host does, and reading WAV files back.
#pragma once

#include "../component/TestObjects.h"
#include "support/MessagePump.h"

#include <orafon/Holders.h>
#include <orafon/win/windows.h>
#include <orafon/win/winuser.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace speechtest {

using orafon::test::EventSink;
using orafon::test::ReceivedEvent;

// A BSTR owned by the test, passed as the BSTR it holds.
class Bstr : public orafon::CBstr {
public:
    explicit Bstr(const std::u16string &text) : CBstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    operator BSTR() const { return Get(); }
};

// The directory of this test process's files (registry, outputs).
const std::string &TempDir();
std::string TempPath(const std::string &name);
std::u16string U16(const std::string &s);

using orafon::test::PumpUntil;
// Dispatches what is queued now, without waiting for more.
void DrainMessages();

// Ends a synchronous wait that would never end by itself: the quit message
// ends the object's wait, and the test then fails instead of hanging.
class QuitGuard {
public:
    QuitGuard() : m_thread(GetCurrentThreadId())
    {
        m_watch = std::thread([this] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (!m_done && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (!m_done) {
                m_fired = true;
                PostThreadMessageA(m_thread, WM_QUIT, 0, 0);
            }
        });
    }
    ~QuitGuard()
    {
        m_done = true;
        m_watch.join();
    }
    bool Fired() const { return m_fired; }

private:
    DWORD m_thread;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_fired{false};
    std::thread m_watch;
};

// The object under test with a sink advised on its events.
struct Subject {
    Subject();
    ~Subject();
    Subject(const Subject &) = delete;
    Subject &operator=(const Subject &) = delete;

    ITextToSpeech *operator->() const { return tts.get(); }
    // Catalogue index of the entry of that name; -1 when absent.
    LONG Find(const std::u16string &name) const;
    LONG Count() const;
    size_t Ends() const;
    void Release();

    EventSink sink; // outlives the object, which holds it while advised
    CComPtr<ITextToSpeech> tts;
    DWORD cookie = 0;
};

inline ReceivedEvent Start()
{
    return {DISPID_TTS_ONTTSSTART, {}};
}
inline ReceivedEvent End()
{
    return {DISPID_TTS_ONTTSEND, {}};
}
inline ReceivedEvent Word(LONG start, LONG length)
{
    return {DISPID_TTS_ONTTSWORD, {start, length}};
}
inline ReceivedEvent Sentence(LONG start, LONG length)
{
    return {DISPID_TTS_ONTTSSENTENCE, {start, length}};
}
inline ReceivedEvent Progress(LONG percent)
{
    return {DISPID_TTS_ONTTSPROGRESS, {percent}};
}

std::string Describe(const std::vector<ReceivedEvent> &events);

// Invoke of a method with integer and string arguments in parameter order.
struct DispArg {
    bool isText;
    std::u16string text;
    LONG number;
};
inline DispArg Text(std::u16string s)
{
    return {true, std::move(s), 0};
}
inline DispArg Number(LONG n)
{
    return {false, {}, n};
}
HRESULT InvokeMethod(ITextToSpeech *tts, DISPID id, const std::vector<DispArg> &args);

// A RIFF WAVE file's format chunk and data.
struct WaveFile {
    bool valid = false;
    uint32_t riffSize = 0;
    uint64_t fileSize = 0;
    WAVEFORMATEX format{};
    std::vector<uint8_t> data;
};
WaveFile ReadWave(const std::string &path);

// Runs a command and gives its standard output.
std::string CommandOutput(const std::string &command);

} // namespace speechtest

#include <sapi4/ScriptedMode.h>
#include <sapi5/ScriptedEngine.h>

namespace speechtest {

// Scripted voices and modes registered for one test and removed after it.
// They must be registered before the object is made: the catalogue is
// listed once, at creation.
class ScriptedEngines : public testing::Test {
protected:
    void TearDown() override
    {
        for (const std::u16string &token : m_tokens)
            orafon::sapi5::UnregisterScriptedVoice(token);
        OrafonSapi4_RemoveScriptedModes();
    }

    void AddVoice(const std::u16string &token, const std::u16string &name, const orafon::sapi5::VoiceScript &script)
    {
        ASSERT_EQ(orafon::sapi5::RegisterScriptedVoice(token, name, script), S_OK);
        m_tokens.push_back(token);
    }

    static orafon::sapi5::VoiceScript Script(std::vector<orafon::sapi5::ScriptStep> steps)
    {
        orafon::sapi5::VoiceScript script;
        script.steps = std::move(steps);
        return script;
    }

    static OrafonScriptedMode Mode(const char16_t *name = u"Orafon Scripted Mode")
    {
        return OrafonScriptedStandardMode(name);
    }

    static OrafonScriptedRecord Record(const GUID &mode)
    {
        OrafonScriptedRecord record{};
        EXPECT_EQ(OrafonSapi4_GetScriptedRecord(&mode, &record), S_OK);
        return record;
    }

    // The mode's engines have ended a text and everything they queued for
    // this thread has been delivered.
    static bool ModeQuiet(const GUID &mode)
    {
        const OrafonScriptedRecord r = Record(mode);
        return r.doneNotificationsPosted >= 1 && r.notificationsDelivered == r.notificationsPosted;
    }

    // Every request the voice's engine began is over (finished or cancelled).
    static bool VoiceQuiet(const std::u16string &token)
    {
        const orafon::sapi5::ScriptedRuns runs = orafon::sapi5::ScriptedVoiceRuns(token);
        return runs.started == runs.finished;
    }

private:
    std::vector<std::u16string> m_tokens;
};

} // namespace speechtest

// The scripted engine: an engine class of its own, registered with the
// voice's engine classes the first time a scripted voice is registered, so
// that a voice selecting a scripted token creates it as it creates any.
#include "ScriptedEngine.h"

#include <sapi5/Engine.h>
#include <sapi5/SerialExecutor.h>
#include <sapi5/Tokens.h>

#include <orafon/Holders.h>
#include <orafon/win/objbase.h>
#include <orafon/win/winreg.h>

#include <map>
#include <mutex>
#include <thread>

namespace orafon::sapi5 {

namespace {

// {6F4A1C1E-3B0D-4C52-9A3E-0B7E5D2C8E12}
DEFINE_GUID(CLSID_OrafonScriptedEngine, 0x6F4A1C1E, 0x3B0D, 0x4C52, 0x9A, 0x3E, 0x0B, 0x7E, 0x5D, 0x2C, 0x8E, 0x12);

struct ScriptState {
    VoiceScript script;
    std::vector<ScriptedCall> calls;
    size_t speakCalls = 0;
    ScriptedRuns runs;
};

class ScriptBook {
public:
    static ScriptBook &Instance()
    {
        static ScriptBook *book = new ScriptBook;
        return *book;
    }

    void Set(const std::u16string &name, const VoiceScript &script)
    {
        std::lock_guard lock(mutex_);
        states_[name] = ScriptState{script, {}, 0, {}};
    }
    void Erase(const std::u16string &name)
    {
        std::lock_guard lock(mutex_);
        states_.erase(name);
    }
    bool Find(const std::u16string &name, VoiceScript &script)
    {
        std::lock_guard lock(mutex_);
        auto it = states_.find(name);
        if (it == states_.end())
            return false;
        script = it->second.script;
        return true;
    }
    HRESULT RecordCall(const std::u16string &name, const std::u16string &text, DWORD flags)
    {
        std::lock_guard lock(mutex_);
        auto it = states_.find(name);
        if (it == states_.end())
            return SPERR_NOT_FOUND;
        ScriptState &s = it->second;
        const size_t n = s.speakCalls++;
        const HRESULT hr = n < s.script.speakResults.size() ? s.script.speakResults[n] : S_OK;
        s.calls.push_back({text, flags, hr});
        return hr;
    }
    // One more run begun (started) or over (finished).
    void CountRun(const std::u16string &name, bool started)
    {
        std::lock_guard lock(mutex_);
        auto it = states_.find(name);
        if (it == states_.end())
            return;
        ++(started ? it->second.runs.started : it->second.runs.finished);
    }
    ScriptedRuns Runs(const std::u16string &name)
    {
        std::lock_guard lock(mutex_);
        auto it = states_.find(name);
        return it == states_.end() ? ScriptedRuns{} : it->second.runs;
    }
    std::vector<ScriptedCall> Calls(const std::u16string &name)
    {
        std::lock_guard lock(mutex_);
        auto it = states_.find(name);
        return it == states_.end() ? std::vector<ScriptedCall>{} : it->second.calls;
    }

private:
    std::mutex mutex_;
    std::map<std::u16string, ScriptState> states_;
};

std::vector<uint8_t> SquareWave(const WAVEFORMATEX &f, ULONG bytes, SHORT amplitude)
{
    std::vector<uint8_t> pcm(bytes);
    const unsigned block = f.nBlockAlign ? f.nBlockAlign : 2;
    const unsigned halfPeriod = f.nSamplesPerSec / 400 ? f.nSamplesPerSec / 400 : 1; // a 200 Hz tone
    for (ULONG i = 0; i + block <= bytes; i += block) {
        const bool high = (i / block / halfPeriod) % 2 == 0;
        for (unsigned c = 0; c < f.nChannels; ++c) {
            if (f.wBitsPerSample == 16) {
                const SHORT v = high ? amplitude : static_cast<SHORT>(-amplitude);
                pcm[i + c * 2] = static_cast<uint8_t>(v & 0xFF);
                pcm[i + c * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
            } else {
                pcm[i + c] = static_cast<uint8_t>(128 + (high ? amplitude : -amplitude) / 256);
            }
        }
    }
    return pcm;
}

class ScriptedEngine final : public TtsEngine {
public:
    ScriptedEngine(std::u16string name, VoiceScript script) : name_(std::move(name)), script_(std::move(script)) {}

    WAVEFORMATEX Format() const override { return script_.format; }

    HRESULT Accept(const std::u16string &text, DWORD flags) override
    {
        return ScriptBook::Instance().RecordCall(name_, text, flags);
    }

    void Start(std::shared_ptr<SynthesisJob> job) override
    {
        // The run is over when its task is gone, run or dropped unrun.
        auto over =
            std::shared_ptr<void>(nullptr, [name = name_](void *) { ScriptBook::Instance().CountRun(name, false); });
        ScriptBook::Instance().CountRun(name_, true);
        executor_.Post([steps = script_.steps, format = script_.format, job, over] { Run(steps, format, *job); });
    }

private:
    static void Run(const std::vector<ScriptStep> &steps, const WAVEFORMATEX &format, SynthesisJob &job)
    {
        for (const ScriptStep &step : steps) {
            if (job.pipe->Cancelled())
                return;
            PipeItem item;
            switch (step.kind) {
            case ScriptStep::Kind::Sleep:
                std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
                continue;
            case ScriptStep::Kind::Audio:
                item.kind = PipeItem::Kind::Audio;
                item.pcm = SquareWave(format, step.bytes, step.amplitude);
                break;
            case ScriptStep::Kind::Event:
                item.kind = PipeItem::Kind::Event;
                item.eventId = step.eventId;
                item.wParam = step.wParam;
                item.lParam = step.lParam;
                item.bookmark = step.bookmark;
                break;
            }
            if (!job.pipe->Push(std::move(item)))
                return;
        }
        PipeItem done;
        done.kind = PipeItem::Kind::Done;
        static_cast<void>(
            job.pipe->Push(std::move(done))); // refused only when cancelled: nobody waits for the end then
    }

    std::u16string name_;
    VoiceScript script_;
    SerialExecutor executor_; // the engine's own thread
};

// ---- Observed voices -------------------------------------------------------------------

// {6F4A1C1E-3B0D-4C52-9A3E-0B7E5D2C8E13}
DEFINE_GUID(CLSID_OrafonObservedEngine, 0x6F4A1C1E, 0x3B0D, 0x4C52, 0x9A, 0x3E, 0x0B, 0x7E, 0x5D, 0x2C, 0x8E, 0x13);

// The queue of each observed voice's latest request.
class ObservedBook {
public:
    static ObservedBook &Instance()
    {
        static ObservedBook *book = new ObservedBook;
        return *book;
    }

    void Add(const std::u16string &name)
    {
        std::lock_guard lock(mutex_);
        pipes_[name].reset();
    }
    bool Has(const std::u16string &name)
    {
        std::lock_guard lock(mutex_);
        return pipes_.count(name) != 0;
    }
    void Erase(const std::u16string &name)
    {
        std::lock_guard lock(mutex_);
        pipes_.erase(name);
    }
    void SetLatest(const std::u16string &name, const std::shared_ptr<SpeechPipe> &pipe)
    {
        std::lock_guard lock(mutex_);
        if (auto it = pipes_.find(name); it != pipes_.end())
            it->second = pipe;
    }
    std::shared_ptr<SpeechPipe> Latest(const std::u16string &name)
    {
        std::lock_guard lock(mutex_);
        auto it = pipes_.find(name);
        return it == pipes_.end() ? nullptr : it->second.lock();
    }

private:
    std::mutex mutex_;
    std::map<std::u16string, std::weak_ptr<SpeechPipe>> pipes_;
};

// The base engine, passed every call; it only notes each request's queue.
class ObservedEngine final : public TtsEngine {
public:
    ObservedEngine(std::u16string name, std::shared_ptr<TtsEngine> base)
        : name_(std::move(name)), base_(std::move(base))
    {
    }

    WAVEFORMATEX Format() const override { return base_->Format(); }
    HRESULT Accept(const std::u16string &text, DWORD flags) override { return base_->Accept(text, flags); }
    void Start(std::shared_ptr<SynthesisJob> job) override
    {
        ObservedBook::Instance().SetLatest(name_, job->pipe);
        base_->Start(std::move(job));
    }

private:
    std::u16string name_;
    std::shared_ptr<TtsEngine> base_;
};

std::u16string TokenKeyName(ISpObjectToken *token, HRESULT &hr)
{
    orafon::CComHeapPtr<WCHAR> id;
    hr = token->GetId(id.Out());
    if (FAILED(hr))
        return {};
    std::u16string name(id.Get());
    const size_t slash = name.rfind(u'\\');
    if (slash != std::u16string::npos)
        name.erase(0, slash + 1);
    return name;
}

HRESULT CreateObservedEngine(ISpObjectToken *token, std::shared_ptr<TtsEngine> &engine)
{
    HRESULT hr = S_OK;
    const std::u16string name = TokenKeyName(token, hr);
    if (FAILED(hr))
        return hr;
    if (!ObservedBook::Instance().Has(name))
        return SPERR_NOT_FOUND;
    orafon::CComHeapPtr<WCHAR> baseId;
    hr = token->GetStringValue(u"Base", baseId.Out());
    if (FAILED(hr))
        return hr;
    CComPtr<ISpObjectToken> base;
    hr = CoCreateInstance(CLSID_SpObjectToken, nullptr, CLSCTX_ALL, IID_ISpObjectToken,
                          reinterpret_cast<void **>(&base));
    if (SUCCEEDED(hr))
        hr = base->SetId(nullptr, baseId.Get(), FALSE);
    std::shared_ptr<TtsEngine> baseEngine;
    if (SUCCEEDED(hr))
        hr = CreateEngineForToken(base, baseEngine);
    if (FAILED(hr))
        return hr;
    engine = std::make_shared<ObservedEngine>(name, std::move(baseEngine));
    return S_OK;
}

HRESULT SetString(HKEY key, const char16_t *name, const std::u16string &value)
{
    const LSTATUS st = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                      static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
    return st == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<uint32_t>(st));
}

// The engine of the token's script; the token's key name names the script.
HRESULT CreateScriptedEngine(ISpObjectToken *token, std::shared_ptr<TtsEngine> &engine)
{
    HRESULT hr = S_OK;
    const std::u16string name = TokenKeyName(token, hr);
    if (FAILED(hr))
        return hr;
    VoiceScript script;
    if (!ScriptBook::Instance().Find(name, script))
        return SPERR_NOT_FOUND;
    engine = std::make_shared<ScriptedEngine>(name, script);
    return S_OK;
}

} // namespace

HRESULT RegisterScriptedVoice(const std::u16string &tokenName, const std::u16string &displayName,
                              const VoiceScript &script)
{
    if (tokenName.empty() || tokenName.find(u'\\') != std::u16string::npos)
        return E_INVALIDARG;
    const HRESULT registered = RegisterEngineClass(CLSID_OrafonScriptedEngine, &CreateScriptedEngine);
    if (FAILED(registered))
        return registered;
    const std::u16string path = std::u16string(kVoiceTokensKey) + u"\\" + tokenName;
    RegKey key;
    LSTATUS st =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr);
    if (st != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(static_cast<uint32_t>(st));
    OLECHAR clsid[40] = {};
    StringFromGUID2(CLSID_OrafonScriptedEngine, clsid, 40);
    HRESULT hr = SetString(key.Get(), u"", displayName);
    if (SUCCEEDED(hr))
        hr = SetString(key.Get(), u"409", displayName);
    if (SUCCEEDED(hr))
        hr = SetString(key.Get(), u"CLSID", clsid);
    RegKey attributes;
    if (SUCCEEDED(hr)) {
        st = RegCreateKeyExW(key.Get(), u"Attributes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, attributes.Out(),
                             nullptr);
        hr = st == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<uint32_t>(st));
    }
    if (SUCCEEDED(hr)) {
        const std::pair<const char16_t *, std::u16string> values[] = {{u"Name", displayName},
                                                                      {u"Gender", script.gender},
                                                                      {u"Language", script.language},
                                                                      {u"Vendor", u"Orafon test"},
                                                                      {u"Age", script.age}};
        for (const auto &[name, value] : values)
            if (SUCCEEDED(hr))
                hr = SetString(attributes.Get(), name, value);
    }
    if (SUCCEEDED(hr))
        ScriptBook::Instance().Set(tokenName, script);
    return hr;
}

std::vector<ScriptedCall> ScriptedVoiceCalls(const std::u16string &tokenName)
{
    return ScriptBook::Instance().Calls(tokenName);
}

ScriptedRuns ScriptedVoiceRuns(const std::u16string &tokenName)
{
    return ScriptBook::Instance().Runs(tokenName);
}

HRESULT RegisterObservedVoice(const std::u16string &tokenName, const std::u16string &baseTokenName)
{
    if (tokenName.empty() || tokenName.find(u'\\') != std::u16string::npos)
        return E_INVALIDARG;
    HRESULT hr = RegisterEngineClass(CLSID_OrafonObservedEngine, &CreateObservedEngine);
    if (FAILED(hr))
        return hr;
    const std::u16string tokens = std::u16string(kVoiceTokensKey) + u"\\";
    RegKey key;
    LSTATUS st = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (tokens + tokenName).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, key.Out(), nullptr);
    if (st != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(static_cast<uint32_t>(st));
    OLECHAR clsid[40] = {};
    StringFromGUID2(CLSID_OrafonObservedEngine, clsid, 40);
    hr = SetString(key.Get(), u"", u"Observed " + baseTokenName);
    if (SUCCEEDED(hr))
        hr = SetString(key.Get(), u"CLSID", clsid);
    if (SUCCEEDED(hr))
        hr = SetString(key.Get(), u"Base", u"HKEY_LOCAL_MACHINE\\" + tokens + baseTokenName);
    if (SUCCEEDED(hr))
        ObservedBook::Instance().Add(tokenName);
    return hr;
}

bool ObservedVoiceHeldBack(const std::u16string &tokenName)
{
    const std::shared_ptr<SpeechPipe> pipe = ObservedBook::Instance().Latest(tokenName);
    // A wait of no time answers at once whether a third of the room is left.
    return pipe && !pipe->Cancelled() && !pipe->WaitForRoom(std::chrono::milliseconds(0));
}

HRESULT UnregisterScriptedVoice(const std::u16string &tokenName)
{
    ScriptBook::Instance().Erase(tokenName);
    ObservedBook::Instance().Erase(tokenName);
    const std::u16string path = std::u16string(kVoiceTokensKey) + u"\\" + tokenName;
    const LSTATUS st = RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
    return st == ERROR_SUCCESS || st == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(static_cast<uint32_t>(st));
}

} // namespace orafon::sapi5

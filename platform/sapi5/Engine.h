// The engines behind the voices. A voice token names its engine by CLSID;
// the engine turns the parsed request into audio and events in a pipe.
#pragma once

#include "Markup.h"
#include "SpeechPipe.h"

#include <orafon/win/sapi.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace orafon::sapi5 {

// The CLSID that tokens of espeak-ng voices carry in their "CLSID" value.
// {6F4A1C1E-3B0D-4C52-9A3E-0B7E5D2C8E11}
DEFINE_GUID(CLSID_OrafonEspeakEngine, 0x6F4A1C1E, 0x3B0D, 0x4C52, 0x9A, 0x3E, 0x0B, 0x7E, 0x5D, 0x2C, 0x8E, 0x11);

struct SynthesisJob {
    std::vector<SpeechItem> items;
    std::u16string text; // the caller's string, as given to Speak
    DWORD flags = 0;
    // Read at the start of every run, so rate changes reach the next run.
    std::function<LONG()> rate;
    std::shared_ptr<SpeechPipe> pipe;
};

class TtsEngine {
public:
    virtual ~TtsEngine() = default;
    virtual WAVEFORMATEX Format() const = 0;
    // Asked on the caller's thread before a request is queued; a failure is
    // returned by Speak and nothing is spoken.
    [[nodiscard]] virtual HRESULT Accept(const std::u16string &text, DWORD flags)
    {
        (void)text;
        (void)flags;
        return S_OK;
    }
    // Starts producing the job's items; returns at once. The pipe ends with
    // a Done item unless the job is cancelled first.
    virtual void Start(std::shared_ptr<SynthesisJob> job) = 0;
};

// The engine a token names, or a failure (REGDB_E_CLASSNOTREG for a CLSID no
// engine answers, SPERR_NOT_FOUND for an espeak-ng voice that is not there).
// Exported for engine classes that add to another token's engine (a test's
// observing engine).
ORAFON_EXPORT HRESULT CreateEngineForToken(ISpObjectToken *token, std::shared_ptr<TtsEngine> &engine);

std::shared_ptr<TtsEngine> CreateEspeakEngine(const std::string &voiceId);

// Engine classes a process adds beside espeak-ng's (the scripted engine of
// tests): a token whose "CLSID" names one gets its engine from the factory.
// Registering a CLSID again replaces its factory; espeak-ng's cannot be
// replaced (E_INVALIDARG).
using EngineFactory = HRESULT (*)(ISpObjectToken *token, std::shared_ptr<TtsEngine> &engine);
ORAFON_EXPORT HRESULT RegisterEngineClass(REFCLSID clsid, EngineFactory factory);

} // namespace orafon::sapi5

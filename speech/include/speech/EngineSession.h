// The selected voice's engine, one class per engine generation: a SAPI 5
// voice (CSapi5Session) or a SAPI 4 engine mode (CSapi4Session). Each speaks
// requests, stops, pauses and resumes them, keeps or maps rate and volume,
// lists the catalogue entries of its generation, and turns its engine's
// notifications into the request's progress with its own arithmetic.
#pragma once

#include <speech/EngineLink.h>
#include <speech/SpeechRequest.h>
#include <speech/VoiceInfo.h>

#include <orafon/win/sapi.h>
#include <orafon/win/speech.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orafon::speech {

// The speaking properties a request is spoken with.
struct SpeechSettings {
    LONG rate = 0;     // -10..10
    LONG volume = 100; // 0..100
    LONG pitch = 0;    // -10..10
};

// A word as the host is told about it.
struct WordReport {
    LONG start = 0;
    LONG length = 0;
    std::optional<LONG> percent; // none for a request without text
    bool operator==(const WordReport &o) const = default;
};

class CEngineSession {
public:
    CEngineSession() = default;
    CEngineSession(const CEngineSession &) = delete;
    CEngineSession &operator=(const CEngineSession &) = delete;
    virtual ~CEngineSession() = default;

    // VoiceEngineKind: what SAPIVersion reports.
    [[nodiscard]] virtual LONG Kind() const noexcept = 0;
    // Hands the request to the engine; the request is speaking when this
    // succeeds. A failure leaves the request for the caller to abandon.
    [[nodiscard]] virtual HRESULT Speak(const std::shared_ptr<CSpeechRequest> &request,
                                        const SpeechSettings &settings) = 0;
    // Whether a request with these flags waits for its end.
    [[nodiscard]] virtual bool WaitsFor(TTSFLAG flags) const noexcept = 0;
    virtual void Stop() = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    // stored: the value the object keeps, for engines that have no live one.
    [[nodiscard]] virtual HRESULT GetRate(LONG stored, LONG *pRate) = 0;
    virtual void SetRate(LONG rate) = 0;
    [[nodiscard]] virtual HRESULT GetVolume(LONG stored, LONG *pVolume) = 0;
    virtual void SetVolume(LONG volume) = 0;
    // Lets go of the engine; nothing it reports afterwards reaches a request.
    virtual void Release() noexcept = 0;

    // The request this session spoke last (it may be over).
    const std::shared_ptr<CSpeechRequest> &Current() const noexcept { return m_request; }

protected:
    std::shared_ptr<CSpeechRequest> m_request;
};

class CSapi5Session final : public CEngineSession,
                            public ISpNotifyCallback,
                            public std::enable_shared_from_this<CSapi5Session> {
public:
    // Appends every voice of the platform's voice category.
    static void EnumVoices(std::vector<VoiceInfo> &out);
    // Makes a voice object for the entry, on the default audio device, and
    // records its format in the link.
    [[nodiscard]] static HRESULT Select(const VoiceInfo &voice, const std::shared_ptr<CEngineLink> &link,
                                        std::shared_ptr<CSapi5Session> &out);

    // The markup put in front of the text for a pitch other than 0.
    [[nodiscard]] static std::u16string PitchPrefix(LONG pitch);
    // A word boundary at `position` (in the engine's string) of `length`.
    static WordReport WordBoundary(LPARAM position, WPARAM length, LONG prefixLength, ULONG textLength);
    // The start of a sentence in the caller's text.
    [[nodiscard]] static LONG SentenceStart(LPARAM position, LONG prefixLength) noexcept;

    CSapi5Session(CComPtr<ISpVoice> voice, std::shared_ptr<CEngineLink> link);
    ~CSapi5Session() override;

    [[nodiscard]] LONG Kind() const noexcept override { return ENGINE_SAPI5; }
    [[nodiscard]] HRESULT Speak(const std::shared_ptr<CSpeechRequest> &request,
                                const SpeechSettings &settings) override;
    [[nodiscard]] bool WaitsFor(TTSFLAG flags) const noexcept override { return flags == TF_DEFAULT; }
    void Stop() override;
    void Pause() override;
    void Resume() override;
    [[nodiscard]] HRESULT GetRate(LONG stored, LONG *pRate) override;
    void SetRate(LONG rate) override;
    [[nodiscard]] HRESULT GetVolume(LONG stored, LONG *pVolume) override;
    void SetVolume(LONG volume) override;
    void Release() noexcept override;

    // ISpNotifyCallback: the voice has events waiting.
    HRESULT STDMETHODCALLTYPE NotifyCallback(WPARAM wParam, LPARAM lParam) override;

private:
    void DiscardQueuedEvents();
    [[nodiscard]] HRESULT SpeakText(CSpeechRequest &request, LONG pitch);
    void OnEvents();
    void OnEvent(WORD id, LPARAM position, WPARAM length);

    CComPtr<ISpVoice> m_spVoice;
    std::shared_ptr<CEngineLink> m_link;
    // The voice's number for the text of the current request.
    ULONG m_nStream = 0;
};

class CSapi4Session final : public CEngineSession {
public:
    // Appends every mode of the platform's mode enumerator.
    static void EnumModes(std::vector<VoiceInfo> &out);
    // Learns the mode's PCM format through `audio` (the format lands in the
    // link) and makes the device the mode speaks aloud through.
    [[nodiscard]] static HRESULT Select(const VoiceInfo &voice, const std::shared_ptr<CEngineLink> &link,
                                        IUnknown *audio, std::unique_ptr<CSapi4Session> &out);

    // The engine's own values and ranges, and what the properties map to.
    struct Range {
        DWORD min = 0, max = 0;
    };
    [[nodiscard]] static DWORD MapSpeed(LONG rate, DWORD defaultSpeed, Range range) noexcept;
    [[nodiscard]] static DWORD MapVolume(LONG volume, Range range) noexcept;
    static WORD MapPitch(LONG pitch, WORD defaultPitch, Range range) noexcept;
    // A word position (a byte offset into the text the engine was given).
    static WordReport WordPosition(const std::u16string &text, DWORD byteOffset);

    CSapi4Session(GUID modeId, CComPtr<IAudioMultiMediaDevice> device, std::shared_ptr<CEngineLink> link);
    ~CSapi4Session() override;

    [[nodiscard]] LONG Kind() const noexcept override { return ENGINE_SAPI4; }
    [[nodiscard]] HRESULT Speak(const std::shared_ptr<CSpeechRequest> &request,
                                const SpeechSettings &settings) override;
    [[nodiscard]] bool WaitsFor(TTSFLAG flags) const noexcept override { return (flags & TF_ASYNC) == 0; }
    void Stop() override;
    void Pause() override;
    void Resume() override;
    [[nodiscard]] HRESULT GetRate(LONG stored, LONG *pRate) override;
    void SetRate(LONG) override {}
    [[nodiscard]] HRESULT GetVolume(LONG stored, LONG *pVolume) override;
    void SetVolume(LONG) override {}
    void Release() noexcept override;

private:
    [[nodiscard]] HRESULT SelectEngine(IUnknown *audio);
    void ApplyAttributes(ITTSAttributesA *attributes, const SpeechSettings &settings);

    GUID m_modeId;
    CComPtr<IAudioMultiMediaDevice> m_spDevice;
    // The engine instance of the latest request.
    CComPtr<ITTSCentralW> m_spCentral;
    std::shared_ptr<CEngineLink> m_link;
    DWORD m_nDefSpeed = 0;
    WORD m_nDefPitch = 0;
};

} // namespace orafon::speech

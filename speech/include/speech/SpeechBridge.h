// The speech engine bridge: the voice catalogue of both engine generations,
// the session of the selected voice, the request being spoken, and the file
// output the engines write into. Its owner calls it on one thread and hears
// back only through its ISpeechListener.
//
//   std::shared_ptr<CSpeechBridge> bridge;
//   CSpeechBridge::Create(listener, bridge);
//   bridge->EnumVoices();
//   bridge->SelectVoice(0);
//   bridge->Speak(text, length, file, target, TF_DEFAULT, settings);
//   ...
//   bridge->Shutdown();   // before the listener goes away
//
// Engine notifications and listener calls may run code that drops the owner;
// the bridge keeps itself alive while it works, and once shut down it neither
// calls the listener nor touches the file again.
#pragma once

#include <speech/EngineLink.h>
#include <speech/EngineSession.h>
#include <speech/SpeechListener.h>
#include <speech/SpeechRequest.h>
#include <speech/VoiceInfo.h>

#include <audio_out/AudioSink.h>
#include <orafon/win/sapi.h>
#include <orafon/win/speech.h>

#include <memory>
#include <optional>
#include <vector>

namespace orafon::speech {

class CSpeechOutputStream;
class CSpeechAudioDest;

class CSpeechBridge final : public IRequestHost,
                            public IEngineAudioTarget,
                            public std::enable_shared_from_this<CSpeechBridge> {
public:
    [[nodiscard]] static HRESULT Create(ISpeechListener *listener, std::shared_ptr<CSpeechBridge> &out) noexcept;
    CSpeechBridge(const CSpeechBridge &) = delete;
    CSpeechBridge &operator=(const CSpeechBridge &) = delete;
    ~CSpeechBridge();
    // Ends the running request without a report, finishes its file, lets go
    // of the engines and forgets the listener.
    void Shutdown() noexcept;

    // ---- Voice catalogue --------------------------------------------------------
    // Lists every SAPI 5 voice, then every SAPI 4 mode. Always S_OK.
    [[nodiscard]] HRESULT EnumVoices();
    const std::vector<VoiceInfo> &Voices() const noexcept { return m_aVoices; }
    [[nodiscard]] HRESULT SelectVoice(LONG index);
    // Lets go of the selected engine. A request it is speaking ends as a stop
    // would end it: its file is finished and its end reported.
    [[nodiscard]] HRESULT ReleaseVoice(LONG index);
    // The selected engine's PCM format (all zero before a selection).
    WAVEFORMATEX EngineFormat() const;

    // ---- Speaking ------------------------------------------------------------------
    // One request: a file request when file is given (target is then the
    // catalogue entry to convert to, none when the catalogue is empty). Waits
    // for the end when the engine's flag rule says so.
    [[nodiscard]] HRESULT Speak(const OLECHAR *text, UINT textLength, const OLECHAR *file,
                                std::optional<FileTarget> target, TTSFLAG flags, const SpeechSettings &settings);
    void Stop();
    void Pause();
    void Resume();
    [[nodiscard]] HRESULT GetRate(LONG stored, LONG *pRate);
    void SetRate(LONG rate);
    [[nodiscard]] HRESULT GetVolume(LONG stored, LONG *pVolume);
    void SetVolume(LONG volume);
    // The request spoken last (it may be over); for diagnostics and tests.
    [[nodiscard]] std::shared_ptr<CSpeechRequest> CurrentRequest() const;

    // ---- File output ----------------------------------------------------------------
    [[nodiscard]] static HRESULT EnumFormats(LONG fileFormat, PFNADDWAVEFORMAT pfnAdd, void *pContext);
    // The file type of the next file; a file being written keeps its own.
    void SetFileFormat(LONG fileFormat) noexcept { m_nFileFormat = fileFormat; }
    // The output object an engine is given, for the owner's QueryInterface
    // (no reference added): ISpStreamFormat (IStream, ISequentialStream),
    // IAudio and IAudioDest; null for any other interface.
    IUnknown *OutputObject(REFIID riid) const noexcept;

    // ---- IRequestHost, IEngineAudioTarget ---------------------------------------------
    [[nodiscard]] HRESULT OpenSink(const std::string &path, const WAVEFORMATEX &source,
                                   const FileTarget &target) override;
    [[nodiscard]] HRESULT CloseSink() noexcept override;
    [[nodiscard]] bool EngineAudio(ULONG serial, const void *pData, ULONG cb) noexcept override;

private:
    explicit CSpeechBridge(ISpeechListener *listener);
    [[nodiscard]] HRESULT MakeOutputObjects() noexcept;
    void SetCurrent(std::shared_ptr<CSpeechRequest> request);
    void EndPrevious() noexcept;
    [[nodiscard]] HRESULT WaitForEnd(const CSpeechRequest &request);

    ISpeechListener *m_listener;
    std::shared_ptr<CEngineLink> m_link;
    std::vector<VoiceInfo> m_aVoices;
    std::shared_ptr<CEngineSession> m_session;
    // Guarded by the link's lock where engine threads read it.
    std::shared_ptr<CSpeechRequest> m_request;
    ULONG m_nSerial = 0;
    LONG m_nFileFormat = 0;
    CAudioSinkHandle m_sink;
    CComPtr<CSpeechOutputStream> m_spOutputStream;
    CComPtr<CSpeechAudioDest> m_spAudioDest;
    bool m_bShutDown = false;
};

} // namespace orafon::speech

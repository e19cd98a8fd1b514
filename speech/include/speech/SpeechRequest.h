// One Speak or SpeakToFile: its text, its file, its state, and the reporting
// of its progress. A request is over once it ended (its end was reported),
// was stopped without a report (replaced by the next request, failed, or shut
// down with the bridge); from then on nothing it is told reaches the listener
// or the file.
#pragma once

#include <speech/SpeechListener.h>

#include <orafon/OrafonIds.h>
#include <orafon/win/windows.h>

#include <atomic>
#include <optional>
#include <string>

namespace orafon::speech {

// The target of a file request: the catalogue entry selected for it.
struct FileTarget {
    WAVEFORMATEX format{};
    LONG bitRate = 0;
};

// What a request needs from the bridge that runs it: the file output.
class IRequestHost {
public:
    // Opens the sink for this request; the sink's own code.
    [[nodiscard]] virtual HRESULT OpenSink(const std::string &path, const WAVEFORMATEX &source,
                                           const FileTarget &target) = 0;
    // Finishes the file; the file's verdict.
    [[nodiscard]] virtual HRESULT CloseSink() noexcept = 0;

protected:
    ~IRequestHost() = default;
};

class CSpeechRequest {
public:
    enum class State { Prepared, Speaking, Stopped, Ended };

    // file is null for speaking aloud; target is the selected catalogue entry
    // (none when the catalogue is empty).
    CSpeechRequest(ULONG serial, const OLECHAR *text, UINT textLength, const OLECHAR *file,
                   std::optional<FileTarget> target, TTSFLAG flags);
    CSpeechRequest(const CSpeechRequest &) = delete;
    CSpeechRequest &operator=(const CSpeechRequest &) = delete;

    ULONG Serial() const noexcept { return m_nSerial; }
    TTSFLAG Flags() const noexcept { return m_nFlags; }
    [[nodiscard]] bool WritesFile() const noexcept { return m_bWritesFile; }
    // The caller's text, whole (embedded NULs included).
    const std::u16string &CallerText() const noexcept { return m_callerText; }
    // The string the engine was given, and the markup in front of the
    // caller's text in it; word positions are positions in this string.
    const std::u16string &EngineText() const noexcept { return m_engineText; }
    ULONG TextLength() const noexcept { return static_cast<ULONG>(m_engineText.size()); }
    [[nodiscard]] LONG PrefixLength() const noexcept { return m_nPrefixLen; }
    void SetEngineText(std::u16string text, LONG prefixLength);
    std::u16string &MutableEngineText() noexcept { return m_engineText; }

    State CurrentState() const noexcept { return m_state.load(); }
    [[nodiscard]] bool Speaking() const noexcept { return m_state.load() == State::Speaking; }
    [[nodiscard]] bool Over() const noexcept;

    // Binds the request to its bridge and listener before it is spoken.
    void Attach(IRequestHost *host, ISpeechListener *listener) noexcept;

    // Opens the request's file for PCM in engineFormat: E_INVALIDARG without
    // a catalogue entry, E_OUTOFMEMORY when memory ran out, E_FAIL when the
    // name cannot be converted or the sink refuses it for any other reason.
    [[nodiscard]] HRESULT OpenFile(const WAVEFORMATEX &engineFormat);
    void BeginSpeaking() noexcept;

    // The engine's progress, already in the caller's terms. Nothing happens
    // unless the request is speaking, and a handler that ends the request
    // stops what would have followed.
    void ReportStart();
    void ReportWord(LONG nStart, LONG nLength, std::optional<LONG> percent);
    void ReportSentence(LONG nStart, LONG nLength);
    // The end of speech: the file is finished, then 100 % and the end are
    // reported, once.
    void Finish();
    // Over without a report: the file (if open) is finished.
    void Abandon() noexcept;

    // The first failure of a sink write or of finishing the file.
    [[nodiscard]] HRESULT FileResult() const noexcept { return m_hrFile.load(); }
    void NoteFileFailure(HRESULT hr) noexcept;

private:
    void CloseFile() noexcept;

    const ULONG m_nSerial;
    const TTSFLAG m_nFlags;
    const bool m_bWritesFile;
    std::u16string m_callerText;
    std::u16string m_fileName;
    std::optional<FileTarget> m_target;
    std::u16string m_engineText;
    LONG m_nPrefixLen = 0;
    // Read by engine threads deciding whether audio belongs to the file.
    std::atomic<State> m_state{State::Prepared};
    std::atomic<HRESULT> m_hrFile{S_OK};
    bool m_bFileOpen = false;
    IRequestHost *m_host = nullptr;
    ISpeechListener *m_listener = nullptr;
};

} // namespace orafon::speech

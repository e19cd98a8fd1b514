// SpVoice: queues speak requests and plays them, one at a time, on a thread
// of its own, to the default audio device or to a client's stream.
#pragma once

#include "ComObject.h"

#include <orafon/win/sapi.h>

#include <memory>

namespace orafon::sapi5 {

class VoiceCore;

class SpVoice final : public orafon::ComObject<SpVoice, ISpVoice, orafon::ComAlias<ISpEventSource, ISpVoice>,
                                               orafon::ComAlias<ISpNotifySource, ISpVoice>>,
                      private ModuleObject {
public:
    SpVoice();
    ~SpVoice() override;

    // ISpNotifySource
    STDMETHODIMP SetNotifySink(ISpNotifySink *sink) override;
    STDMETHODIMP SetNotifyWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;
    STDMETHODIMP SetNotifyCallbackFunction(SPNOTIFYCALLBACK *function, WPARAM wParam, LPARAM lParam) override;
    STDMETHODIMP SetNotifyCallbackInterface(ISpNotifyCallback *callback, WPARAM wParam, LPARAM lParam) override;
    STDMETHODIMP SetNotifyWin32Event() override;
    STDMETHODIMP WaitForNotifyEvent(DWORD ms) override;
    STDMETHODIMP_(HANDLE) GetNotifyEventHandle() override;
    // ISpEventSource
    STDMETHODIMP SetInterest(ULONGLONG eventInterest, ULONGLONG queuedInterest) override;
    STDMETHODIMP GetEvents(ULONG count, SPEVENT *events, ULONG *fetched) override;
    STDMETHODIMP GetInfo(SPEVENTSOURCEINFO *info) override;
    // ISpVoice
    STDMETHODIMP SetOutput(IUnknown *output, BOOL allowFormatChanges) override;
    STDMETHODIMP GetOutputObjectToken(ISpObjectToken **token) override;
    STDMETHODIMP GetOutputStream(ISpStreamFormat **stream) override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Resume() override;
    STDMETHODIMP SetVoice(ISpObjectToken *token) override;
    STDMETHODIMP GetVoice(ISpObjectToken **token) override;
    STDMETHODIMP Speak(LPCWSTR text, DWORD flags, ULONG *streamNumber) override;
    STDMETHODIMP SpeakStream(IStream *stream, DWORD flags, ULONG *streamNumber) override;
    STDMETHODIMP GetStatus(SPVOICESTATUS *status, LPWSTR *lastBookmark) override;
    STDMETHODIMP Skip(LPCWSTR itemType, LONG items, ULONG *skipped) override;
    STDMETHODIMP SetPriority(SPVPRIORITY priority) override;
    STDMETHODIMP GetPriority(SPVPRIORITY *priority) override;
    STDMETHODIMP SetAlertBoundary(SPEVENTENUM boundary) override;
    STDMETHODIMP GetAlertBoundary(SPEVENTENUM *boundary) override;
    STDMETHODIMP SetRate(LONG rate) override;
    STDMETHODIMP GetRate(LONG *rate) override;
    STDMETHODIMP SetVolume(USHORT volume) override;
    STDMETHODIMP GetVolume(USHORT *volume) override;
    STDMETHODIMP WaitUntilDone(ULONG ms) override;
    STDMETHODIMP SetSyncSpeakTimeout(ULONG ms) override;
    STDMETHODIMP GetSyncSpeakTimeout(ULONG *ms) override;
    STDMETHODIMP_(HANDLE) SpeakCompleteEvent() override;
    STDMETHODIMP IsUISupported(LPCWSTR type, void *extra, ULONG cbExtra, BOOL *supported) override;
    STDMETHODIMP DisplayUI(HWND parent, LPCWSTR title, LPCWSTR type, void *extra, ULONG cbExtra) override;

private:
    std::shared_ptr<VoiceCore> core_;
};

// The stream GetOutputStream gives for the audio device: it reports the
// format the device plays.
class DeviceStream final
    : public orafon::ComObject<DeviceStream, ISpStreamFormat, orafon::ComAlias<IStream, ISpStreamFormat>,
                               orafon::ComAlias<ISequentialStream, ISpStreamFormat>>,
      private ModuleObject {
public:
    explicit DeviceStream(const WAVEFORMATEX &format) : format_(format) {}

    STDMETHODIMP Read(void *, ULONG, ULONG *) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP Write(const void *, ULONG, ULONG *) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position) override;
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG *, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream **) override { return E_NOTIMPL; }
    STDMETHODIMP GetFormat(GUID *formatId, WAVEFORMATEX **format) override;

private:
    WAVEFORMATEX format_;
};

} // namespace orafon::sapi5

#include "DeviceOutput.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace orafon::sapi5 {

namespace {
constexpr unsigned kLeadMs = 150;
constexpr auto kTick = std::chrono::milliseconds(5);
} // namespace

[[nodiscard]] HRESULT DeviceOutput::Open(const WAVEFORMATEX &format)
{
    Close();
    format_ = format;
    const MMRESULT mr = waveOutOpen(&handle_, WAVE_MAPPER, &format_, reinterpret_cast<DWORD_PTR>(&OnDone),
                                    reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
    if (mr != MMSYSERR_NOERROR) {
        handle_ = nullptr;
        return mr == WAVERR_BADFORMAT ? SPERR_UNSUPPORTED_FORMAT : SPERR_DEVICE_BUSY;
    }
    written_ = 0;
    return S_OK;
}

void DeviceOutput::Close()
{
    if (!handle_)
        return;
    Reset();
    waveOutClose(handle_);
    handle_ = nullptr;
}

void CALLBACK DeviceOutput::OnDone(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR, DWORD_PTR)
{
    if (msg != WOM_DONE)
        return;
    auto *self = reinterpret_cast<DeviceOutput *>(instance);
    std::lock_guard lock(self->mutex_);
    self->done_.notify_all();
}

void DeviceOutput::ReapDone()
{
    // The device sets WHDR_DONE from its own thread, after its last use of
    // the buffer; the acquire load orders the buffer's release after it.
    while (!buffers_.empty() && (__atomic_load_n(&buffers_.front()->header.dwFlags, __ATOMIC_ACQUIRE) & WHDR_DONE)) {
        waveOutUnprepareHeader(handle_, &buffers_.front()->header, sizeof(WAVEHDR));
        inFlight_ -= buffers_.front()->data.size();
        buffers_.pop_front();
    }
}

void DeviceOutput::Write(const std::vector<uint8_t> &bytes, const std::function<bool()> &stop,
                         const std::function<void()> &tick)
{
    if (!handle_ || bytes.empty())
        return;
    const size_t lead = static_cast<size_t>(format_.nAvgBytesPerSec) * kLeadMs / 1000;
    while (true) {
        ReapDone();
        if (inFlight_ < lead || stop())
            break;
        tick();
        std::unique_lock lock(mutex_);
        done_.wait_for(lock, kTick);
    }
    if (stop())
        return;
    auto buffer = std::make_unique<Buffer>();
    buffer->data = bytes;
    buffer->header.lpData = reinterpret_cast<LPSTR>(buffer->data.data());
    buffer->header.dwBufferLength = static_cast<DWORD>(buffer->data.size());
    if (waveOutPrepareHeader(handle_, &buffer->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
        return;
    if (waveOutWrite(handle_, &buffer->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        waveOutUnprepareHeader(handle_, &buffer->header, sizeof(WAVEHDR));
        return;
    }
    inFlight_ += buffer->data.size();
    written_ += buffer->data.size();
    buffers_.push_back(std::move(buffer));
}

void DeviceOutput::Drain(const std::function<bool()> &stop, const std::function<void()> &tick)
{
    while (handle_ && !stop()) {
        tick();
        ReapDone();
        if (buffers_.empty() && Played() >= written_)
            break;
        std::unique_lock lock(mutex_);
        done_.wait_for(lock, kTick);
    }
    tick();
}

void DeviceOutput::Reset()
{
    if (!handle_)
        return;
    waveOutReset(handle_); // every buffer is done when this returns
    ReapDone();
    written_ = 0;
}

void DeviceOutput::SetPaused(bool paused)
{
    if (handle_)
        paused ? waveOutPause(handle_) : waveOutRestart(handle_);
}

uint64_t DeviceOutput::Played() const
{
    if (!handle_)
        return written_;
    MMTIME t{};
    t.wType = TIME_BYTES;
    if (waveOutGetPosition(handle_, &t, sizeof t) != MMSYSERR_NOERROR)
        return written_;
    return t.u.cb;
}

} // namespace orafon::sapi5

// What an engine hands the voice for one request, in order: audio in the
// engine's format and the events between it. The engine pushes from its own
// thread; the voice's output thread pops. Cancelling makes both sides stop at
// once: pushes are dropped and a blocked pusher returns.
//
// A consumer that is not bound to a clock (a stream, not the device) may ask
// to be woken per batch of audio rather than per item: waking a thread for
// each 100 ms buffer costs the engine's thread more than synthesising it.
#pragma once

#include <orafon/win/wintypes.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace orafon::sapi5 {

struct PipeItem {
    enum class Kind { Audio, Event, Done };
    Kind kind = Kind::Audio;
    std::vector<uint8_t> pcm; // Audio
    int gainPercent = 100;    // Audio: the markup's volume for this audio
    WORD eventId = 0;         // Event
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::u16string bookmark; // Event SPEI_TTS_BOOKMARK: the mark's name
    HRESULT result = S_OK;   // Done: how synthesis ended
};

class SpeechPipe {
public:
    // The engine may run this far ahead of playback before it waits.
    explicit SpeechPipe(size_t maxQueuedBytes = 22050u * 2u * 300u) : maxQueuedBytes_(maxQueuedBytes) {}

    // False when the request was cancelled (the item is dropped).
    [[nodiscard]] bool Push(PipeItem item)
    {
        std::unique_lock lock(mutex_);
        roomCv_.wait(lock, [&] { return cancelled_ || queuedBytes_ < maxQueuedBytes_; });
        if (cancelled_)
            return false;
        queuedBytes_ += item.pcm.size();
        items_.push_back(std::move(item));
        if (consumerWaiting_ && BatchReady())
            itemCv_.notify_one();
        return true;
    }

    // Pop waits for this much queued audio (or the end) before it wakes;
    // its timeout still hands over whatever is queued by then.
    void SetBatchBytes(size_t bytes)
    {
        std::lock_guard lock(mutex_);
        batchBytes_ = std::min(bytes, maxQueuedBytes_);
    }

    // Waits up to timeout for an item (for a batch, when one is set; at the
    // timeout it takes what is there); false when nothing came, or on
    // cancellation.
    [[nodiscard]] bool Pop(PipeItem &item, std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        // Once woken, the consumer takes everything queued before it waits again.
        if (!draining_ && !BatchReady()) {
            consumerWaiting_ = true;
            itemCv_.wait_for(lock, timeout, [&] { return BatchReady(); });
            consumerWaiting_ = false;
        }
        if (cancelled_ || items_.empty())
            return false;
        item = std::move(items_.front());
        items_.pop_front();
        queuedBytes_ -= item.pcm.size();
        draining_ = !items_.empty();
        roomCv_.notify_all();
        return true;
    }

    // Waits up to timeout until at most a third of the room is taken: an
    // engine shared by several voices starts a piece of text only then, so
    // that the piece does not have to wait for room halfway. True once there
    // is room or the request is cancelled.
    [[nodiscard]] bool WaitForRoom(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex_);
        return roomCv_.wait_for(lock, timeout, [&] { return cancelled_ || queuedBytes_ <= maxQueuedBytes_ / 3; });
    }

    void Cancel()
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        items_.clear();
        queuedBytes_ = 0;
        roomCv_.notify_all();
        itemCv_.notify_all();
    }

    [[nodiscard]] bool Cancelled() const
    {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }

private:
    [[nodiscard]] bool BatchReady() const
    {
        return cancelled_ ||
               (!items_.empty() && (queuedBytes_ >= batchBytes_ || items_.back().kind == PipeItem::Kind::Done));
    }

    mutable std::mutex mutex_;
    std::condition_variable roomCv_;
    std::condition_variable itemCv_;
    std::deque<PipeItem> items_;
    size_t queuedBytes_ = 0;
    size_t maxQueuedBytes_;
    size_t batchBytes_ = 0;
    bool consumerWaiting_ = false;
    bool draining_ = false;
    bool cancelled_ = false;
};

} // namespace orafon::sapi5

// What the voice tests share: a client stream that keeps what the voice
// writes, event collection, and signal measurements.
#pragma once

#include "support/SpEvents.h"

#include <orafon/PcmFormat.h>
#include <orafon/win/objbase.h>
#include <orafon/win/sapi.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace sapi5test {

// An ISpStreamFormat that stores the PCM written to it, in the format it
// announces. It can be told to refuse writes after some bytes.
class MemoryStream final : public ISpStreamFormat {
public:
    explicit MemoryStream(const WAVEFORMATEX &format) : format_(format) {}

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ISpStreamFormat) || IsEqualIID(riid, IID_IStream) ||
            IsEqualIID(riid, IID_ISequentialStream))
            *ppv = static_cast<ISpStreamFormat *>(this);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --refs_;
        if (!left)
            delete this;
        return left;
    }
    STDMETHODIMP Read(void *, ULONG, ULONG *) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP Write(const void *pv, ULONG cb, ULONG *written) override
    {
        std::lock_guard lock(mutex_);
        ++writes_;
        if (data_.size() + cb > refuseAfter_)
            return STG_E_MEDIUMFULL;
        const auto *p = static_cast<const uint8_t *>(pv);
        data_.insert(data_.end(), p, p + cb);
        if (written && reportWritten_)
            *written = cb;
        cv_.notify_all();
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER *position) override
    {
        if (position)
            position->QuadPart = 0;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    STDMETHODIMP CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG *, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream **) override { return E_NOTIMPL; }
    STDMETHODIMP GetFormat(GUID *id, WAVEFORMATEX **wfx) override
    {
        if (!id || !wfx)
            return E_POINTER;
        *id = SPDFID_WaveFormatEx;
        *wfx = static_cast<WAVEFORMATEX *>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
        if (!*wfx)
            return E_OUTOFMEMORY;
        **wfx = format_;
        return S_OK;
    }

    std::vector<uint8_t> Data()
    {
        std::lock_guard lock(mutex_);
        return data_;
    }
    size_t Size()
    {
        std::lock_guard lock(mutex_);
        return data_.size();
    }
    size_t Writes()
    {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    // Like a stream that takes the bytes without reporting the count.
    void LeaveCountUnset()
    {
        std::lock_guard lock(mutex_);
        reportWritten_ = false;
    }
    void RefuseAfter(size_t bytes)
    {
        std::lock_guard lock(mutex_);
        refuseAfter_ = bytes;
    }
    std::vector<int16_t> Samples()
    {
        std::lock_guard lock(mutex_);
        std::vector<int16_t> s(data_.size() / 2);
        if (!s.empty())
            std::memcpy(s.data(), data_.data(), s.size() * 2);
        return s;
    }

private:
    ~MemoryStream() = default;
    std::atomic<ULONG> refs_{1};
    WAVEFORMATEX format_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<uint8_t> data_;
    size_t writes_ = 0;
    size_t refuseAfter_ = SIZE_MAX;
    bool reportWritten_ = true;
};

inline constexpr auto &Pcm = orafon::PcmFormat;

using Event = orafon::test::SpEventCopy;
using orafon::test::DrainEvents;

inline std::vector<std::u16string> Slices(const std::vector<Event> &events, const std::u16string &text, WORD id)
{
    std::vector<std::u16string> out;
    for (const auto &e : events)
        if (e.id == id)
            out.push_back(text.substr(static_cast<size_t>(e.lParam), e.wParam));
    return out;
}

inline double Rms(const std::vector<int16_t> &s)
{
    double sum = 0;
    for (int16_t v : s)
        sum += static_cast<double>(v) * v;
    return s.empty() ? 0 : std::sqrt(sum / static_cast<double>(s.size()));
}

// How alike two utterances sound: the correlation of their loudness contours
// (RMS per 10 ms at 22050 Hz).
inline double ContourSimilarity(const std::vector<int16_t> &a, const std::vector<int16_t> &b)
{
    auto contour = [](const std::vector<int16_t> &s) {
        std::vector<double> e;
        for (size_t i = 0; i + 220 <= s.size(); i += 220) {
            double sum = 0;
            for (size_t k = i; k < i + 220; ++k)
                sum += static_cast<double>(s[k]) * s[k];
            e.push_back(std::sqrt(sum / 220));
        }
        return e;
    };
    const auto ea = contour(a), eb = contour(b);
    const size_t n = std::min(ea.size(), eb.size());
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) {
        ma += ea[i] / static_cast<double>(n);
        mb += eb[i] / static_cast<double>(n);
    }
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; ++i) {
        ab += (ea[i] - ma) * (eb[i] - mb);
        aa += (ea[i] - ma) * (ea[i] - ma);
        bb += (eb[i] - mb) * (eb[i] - mb);
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

inline std::string Narrow(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s)
        out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
}

} // namespace sapi5test

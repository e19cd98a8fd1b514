// Taking the events a SAPI 5 voice has queued, with what they carry freed.
#pragma once

#include <orafon/win/objbase.h>
#include <orafon/win/sapi.h>

#include <string>
#include <utility>
#include <vector>

namespace orafon::test {

// One queued event; a string parameter (a bookmark's name) is copied out.
struct SpEventCopy {
    WORD id;
    ULONG stream;
    ULONGLONG offset;
    WPARAM wParam;
    LPARAM lParam;
    std::u16string bookmark;
};

// Takes every queued event, freeing what they carry.
inline std::vector<SpEventCopy> DrainEvents(ISpVoice *voice)
{
    std::vector<SpEventCopy> out;
    SPEVENT e{};
    ULONG fetched = 0;
    while (voice->GetEvents(1, &e, &fetched) == S_OK && fetched == 1) {
        SpEventCopy copy{e.eEventId, e.ulStreamNum, e.ullAudioStreamOffset, e.wParam, e.lParam, {}};
        if (e.elParamType == SPET_LPARAM_IS_STRING) {
            copy.bookmark = reinterpret_cast<const char16_t *>(e.lParam);
            CoTaskMemFree(reinterpret_cast<void *>(e.lParam));
            copy.lParam = 0;
        }
        out.push_back(std::move(copy));
    }
    return out;
}

} // namespace orafon::test

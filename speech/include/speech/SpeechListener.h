// The one way back from the speech bridge to its owner: the five things a
// request reports while it is spoken. Called on the owner's thread only,
// never after the request's end, and never once the bridge is shut down.
#pragma once

#include <orafon/win/windows.h>

namespace orafon::speech {

class ISpeechListener {
public:
    virtual void OnSpeechStart() = 0;
    virtual void OnSpeechEnd() = 0;
    // Character position and length in the caller's text.
    virtual void OnSpeechWord(LONG nStart, LONG nLength) = 0;
    virtual void OnSpeechSentence(LONG nStart, LONG nLength) = 0;
    virtual void OnSpeechProgress(LONG nPercent) = 0;

protected:
    ~ISpeechListener() = default;
};

} // namespace orafon::speech

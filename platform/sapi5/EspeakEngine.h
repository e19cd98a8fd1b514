// espeak-ng as an engine. espeak-ng keeps one synthesiser per process, and two
// threads synthesising at once corrupt each other's audio, so every voice's
// request runs on one worker thread that owns the library.
#pragma once

#include <string>
#include <vector>

namespace orafon::sapi5 {

struct EspeakVoiceInfo {
    std::string name;       // "English_(Great_Britain)"
    std::string identifier; // "gmw/en"
    std::string language;   // "en-gb", the first listed
    int gender = 0;         // 0 none, 1 male, 2 female
    int age = 0;
};

// The installed voices (runs on the worker); empty when espeak-ng cannot start.
std::vector<EspeakVoiceInfo> ListEspeakVoices();

// The sample rate espeak-ng produces (0 when it cannot start).
int EspeakSampleRate();

// The engine's settings for the voice's rate (-10..10) and pitch (-10..10).
int EspeakWordsPerMinute(int rate);
int EspeakPitch(int pitch);

} // namespace orafon::sapi5

// The voices as a user names them: by index, name, unique part of a name or
// language tag, and the 'voices' listing.
#pragma once

#include "Automation.h"

#include <string>

namespace orafon_cli {

// A BCP 47 tag ("en-US", "fr", "nb-NO") for a voice's language as the
// component reports it: a hexadecimal language id ("409") for the first
// engine generation, "Lang:<decimal id>" for the second. Empty when unknown.
[[nodiscard]] std::string LanguageTagOf(const std::string &componentLanguage);

// The number of terminal columns UTF-8 text takes.
size_t DisplayWidth(const std::string &utf8);

struct VoiceChoice {
    LONG index = -1;
    std::string problem; // a usage problem when index < 0
};

// Index, exact name, language tag (the first voice of that language), or a
// part of a name that only one voice has; names compare without regard to
// ASCII letter case.
VoiceChoice FindVoice(DispatchObject &tts, const std::string &wanted);

// Prints index, name, gender, language id and tag, and generation of every voice.
[[nodiscard]] int ListVoices(DispatchObject &tts);

} // namespace orafon_cli

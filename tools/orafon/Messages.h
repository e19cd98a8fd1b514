// Turns a failing HRESULT into one line that says what failed and what to do.
#pragma once

#include <orafon/win/windows.h>

#include <string>

namespace orafon_cli {

// The context of a failure decides the advice: the same code means a missing
// encoder for an MP3 file and a missing voice for speaking.
enum class Activity { Create, Register, Speak, Save, Convert, Describe, Voices, Formats };

[[nodiscard]] std::string DescribeFailure(Activity activity, HRESULT hr, const std::string &subject = {});

} // namespace orafon_cli

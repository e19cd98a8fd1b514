// Wraps an MP3 file, frame by frame, into a streaming SWF movie.
#pragma once

#include <cstdint>

// Why a conversion failed.
enum class Mp3ToSwfFailure {
    None,
    BadArguments,  // a null or empty path, or a frame rate outside 1..255
    SameFile,      // the output names the input
    CannotRead,    // the input could not be read
    NoFrames,      // no run of MPEG audio Layer III frames: not an MP3 file
    FreeFormat,    // a free-format stream, whose frames cannot be found without decoding
    TooManyFrames, // the movie would need more frames than its header can count
    CannotWrite,   // the output could not be written
    OutOfMemory,
};

// Returns 0 on success and -1 on failure; *why (when given) tells the failure.
[[nodiscard]] int ConvertMp3ToSwf(const char *mp3Path, const char *swfPath, bool loop, int32_t frameRate,
                                  Mp3ToSwfFailure *why = nullptr);

// A sentence for a failure, to show to a user ("the input holds no ...").
[[nodiscard]] const char *DescribeMp3ToSwfFailure(Mp3ToSwfFailure why);

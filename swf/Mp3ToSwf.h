// Wraps an MP3 file, frame by frame, into a streaming SWF movie.
#pragma once

#include <cstdint>

// Returns 0 on success and -1 on failure.
int ConvertMp3ToSwf(const char *mp3Path, const char *swfPath, bool loop, int32_t frameRate);

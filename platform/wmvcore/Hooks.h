// The points where a test build of the runtime watches and steers it: the
// objects made, the samples writers are given, a codec list of the test's
// own and failing sample allocations. wmvcore.so links NoHooks.cpp, whose
// hooks do nothing; the test build (tests/scripted/wmvcore) links its own
// definitions, and exports the controls that drive them.
#pragma once

#include "Codecs.h"

#include <orafon/win/wmsdkidl.h>

#include <memory>

namespace orafon::wmvcore {

// An object of the library was made, or is gone.
void ObjectMade() noexcept;
void ObjectGone() noexcept;
// A codec list that takes the place of the real one, or null.
std::shared_ptr<const CodecList> ReplacedAudioCodecs() noexcept;
// A writer was given a sample of cb bytes at cnsTime.
void SampleGiven(DWORD cb, QWORD cnsTime) noexcept;
// Whether the writer's AllocateSample is to fail with E_OUTOFMEMORY.
[[nodiscard]] bool SampleAllocationFails() noexcept;

} // namespace orafon::wmvcore

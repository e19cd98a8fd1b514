// The production library's hooks (Hooks.h): nothing is watched or steered.
#include "Hooks.h"

namespace orafon::wmvcore {

void ObjectMade() noexcept {}

void ObjectGone() noexcept {}

std::shared_ptr<const CodecList> ReplacedAudioCodecs() noexcept
{
    return nullptr;
}

void SampleGiven(DWORD, QWORD) noexcept {}

[[nodiscard]] bool SampleAllocationFails() noexcept
{
    return false;
}

} // namespace orafon::wmvcore

// An engine instance of one mode: ITTSCentralW and ITTSAttributesW over a
// speaking thread that drives the audio destination it was selected with.
#pragma once

#include "EngineMode.h"

#include <orafon/win/speech.h>

#include <memory>

namespace orafon::sapi4 {

// Makes a fresh engine of the mode speaking into the audio object, as
// ITTSEnumW::Select does; the caller's thread receives its notifications.
[[nodiscard]] HRESULT CreateEngine(std::shared_ptr<EngineMode> mode, IUnknown *audio, ITTSCentralW **central);

} // namespace orafon::sapi4

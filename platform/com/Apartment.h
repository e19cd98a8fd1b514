// Internal seams of the COM runtime.
#pragma once

#include <orafon/win/wintypes.h>

#include <string>

namespace orafon::com {

// True when the calling thread may use COM: it initialised it, or some thread
// holds the multithreaded apartment open.
[[nodiscard]] bool IsInitialized();

// Revokes the class objects the calling thread registered (its last
// CoUninitialize).
void RevokeThreadRegistrations();

// Reads the default value of HKEY_CLASSES_ROOT\<path> as text.
[[nodiscard]] bool ReadClassesRootDefault(const std::u16string &path, std::u16string &value, LONG &error);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::u16string GuidText(const GUID &guid);

} // namespace orafon::com

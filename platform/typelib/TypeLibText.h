// Small text helpers of the type-library code: UTF conversions for file
// paths, name comparison as OLE does it, GUIDs in registry form.
#pragma once

#include <orafon/win/windows.h>

#include <string>
#include <string_view>

namespace orafon::typelib {

// File names are UTF-8 bytes on this platform; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view s);
std::u16string FromUtf8(std::string_view s);

// Case-insensitive for ASCII and Latin-1 letters, as member names are compared.
[[nodiscard]] bool NameEquals(std::u16string_view a, std::u16string_view b);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::u16string GuidString(const GUID &g);

// Hex without leading zeros, as registry key names of versions and locales.
std::u16string Hex(uint32_t v);

} // namespace orafon::typelib

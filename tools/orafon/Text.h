// UTF-8 (what users type and files hold) to UTF-16 (what crosses the interface) and back.
#pragma once

#include <orafon/win/windows.h>

#include <string>

namespace orafon_cli {

[[nodiscard]] std::u16string Utf8ToUtf16(const std::string &text);
[[nodiscard]] std::string Utf16ToUtf8(const char16_t *text, size_t length);
[[nodiscard]] std::string Utf16ToUtf8(const std::u16string &text);
[[nodiscard]] std::string BstrToUtf8(BSTR text);

// Case-insensitive comparison for voice names (ASCII letters fold; others must match).
[[nodiscard]] bool StartsWithNoCase(const std::string &text, const std::string &prefix);
[[nodiscard]] bool EqualsNoCase(const std::string &a, const std::string &b);

// Reads all of a file ("-" reads standard input). False with error set to the
// errno value when it cannot be read (a directory gives EISDIR).
[[nodiscard]] bool ReadWholeFile(const std::string &path, std::string &contents, int &error);

} // namespace orafon_cli

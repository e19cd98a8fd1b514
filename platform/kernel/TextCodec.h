// UTF-8 <-> UTF-16 conversion shared by the platform pieces (registry A forms,
// COM strings, the text conversion functions); the platform library exports
// it for its hosts.
#pragma once

#include <orafon/win/wintypes.h>

#include <string>
#include <string_view>

namespace orafon::text {

inline constexpr char16_t kReplacement = u'\uFFFD';

// Decodes UTF-8. An ill-formed sequence becomes one U+FFFD per maximal
// subpart (the Unicode recommended practice); with strict set it makes the
// call fail instead. Returns false only in strict mode on bad input.
ORAFON_EXPORT bool Utf8ToUtf16(std::string_view in, std::u16string &out, bool strict = false);

// Encodes UTF-16. A lone surrogate becomes U+FFFD (EF BF BD); with strict set
// it makes the call fail instead; `replacement` may name other bytes to use.
// *replaced tells whether a replacement happened. Returns false only in strict mode on bad input.
ORAFON_EXPORT bool Utf16ToUtf8(std::u16string_view in, std::string &out, bool strict = false, bool *replaced = nullptr,
                               std::string_view replacement = "\xEF\xBF\xBD");

// Convenience forms for internal callers that never need strictness.
ORAFON_EXPORT std::u16string ToUtf16(std::string_view in);
ORAFON_EXPORT std::string ToUtf8(std::u16string_view in);

// Length of a NUL-terminated UTF-16 string.
ORAFON_EXPORT size_t Length(const char16_t *s);

} // namespace orafon::text

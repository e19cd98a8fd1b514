// Letter case as the platform ignores it: registry key and value names,
// member names looked up through IDispatch, type-library names, window
// class names and markup tags all compare through these, with one rule.
#pragma once

#include <cstdint>
#include <string_view>

namespace orafon {

// The upper-case form Windows compares names by; covers Latin (ASCII,
// Latin-1, Latin Extended-A), Greek and Cyrillic. Other characters are
// their own fold.
constexpr char16_t FoldCase(char16_t c) noexcept
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x450 && c <= 0x45F)
        return static_cast<char16_t>(c - 0x50);
    if (((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177) || (c >= 0x460 && c <= 0x4BF)) && (c & 1))
        return static_cast<char16_t>(c - 1);
    if (((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) && !(c & 1))
        return static_cast<char16_t>(c - 1);
    return c;
}

// Whether text begins with prefix, letter case aside.
constexpr bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) noexcept
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (FoldCase(text[i]) != FoldCase(prefix[i]))
            return false;
    return true;
}

constexpr bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) noexcept
{
    return a.size() == b.size() && StartsWithIgnoringCase(a, b);
}

namespace detail {
// The next code point of UTF-8 text at i, which is advanced past it. A byte
// that starts no valid sequence stands for itself as a lone low surrogate
// (as Python's surrogateescape has it), so it equals no letter.
constexpr char32_t NextCodePoint(std::string_view s, size_t &i) noexcept
{
    const auto byte = [&s](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return byte(i++);
    const size_t extra = lead >= 0xF0 && lead < 0xF5   ? 3
                         : lead >= 0xE0 && lead < 0xF0 ? 2
                         : lead >= 0xC2 && lead < 0xE0 ? 1
                                                       : 0;
    char32_t cp = lead & (0x3F >> extra);
    bool valid = extra > 0 && i + extra < s.size();
    for (size_t k = 1; valid && k <= extra; ++k) {
        valid = (byte(i + k) & 0xC0) == 0x80;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (!valid) {
        ++i;
        return 0xDC00 + lead;
    }
    i += extra + 1;
    return cp;
}
} // namespace detail

// The same rule for UTF-8 text.
constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) noexcept
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = detail::NextCodePoint(a, i), y = detail::NextCodePoint(b, j);
        const char32_t fx = x < 0x10000 ? FoldCase(static_cast<char16_t>(x)) : x;
        const char32_t fy = y < 0x10000 ? FoldCase(static_cast<char16_t>(y)) : y;
        if (fx != fy)
            return false;
    }
    return i == a.size() && j == b.size();
}

} // namespace orafon

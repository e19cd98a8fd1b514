#include "TypeLibText.h"

#include <orafon/CaseFold.h>

namespace orafon::typelib {

std::string ToUtf8(std::u16string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string FromUtf8(std::string_view s)
{
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto b = static_cast<unsigned char>(s[i]);
        uint32_t c = 0xFFFD;
        size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > s.size()) {
            ++i;
        } else {
            c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
            bool ok = true;
            for (size_t k = 1; k < len; ++k) {
                auto cb = static_cast<unsigned char>(s[i + k]);
                ok = ok && (cb & 0xC0) == 0x80;
                c = (c << 6) | (cb & 0x3F);
            }
            if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
                c = 0xFFFD;
                len = 1;
            }
            i += len;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

[[nodiscard]] bool NameEquals(std::u16string_view a, std::u16string_view b)
{
    return orafon::EqualsIgnoringCase(a, b);
}

std::u16string Hex(uint32_t v)
{
    static const char16_t digits[] = u"0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), digits[v & 0xF]);
        v >>= 4;
    } while (v);
    return out;
}

std::u16string GuidString(const GUID &g)
{
    static const char16_t digits[] = u"0123456789ABCDEF";
    std::u16string out = u"{";
    auto put = [&](uint64_t v, int n) {
        for (int k = n - 1; k >= 0; --k)
            out.push_back(digits[(v >> (4 * k)) & 0xF]);
    };
    put(g.Data1, 8);
    out.push_back(u'-');
    put(g.Data2, 4);
    out.push_back(u'-');
    put(g.Data3, 4);
    out.push_back(u'-');
    put(g.Data4[0], 2);
    put(g.Data4[1], 2);
    out.push_back(u'-');
    for (int i = 2; i < 8; ++i)
        put(g.Data4[i], 2);
    out.push_back(u'}');
    return out;
}

} // namespace orafon::typelib

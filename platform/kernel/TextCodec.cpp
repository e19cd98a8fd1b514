#include "TextCodec.h"
#include <orafon/LastErrorEdge.h>

#include <orafon/win/winbase.h>

namespace orafon::text {
namespace {

[[nodiscard]] bool InRange(unsigned char c, unsigned char lo, unsigned char hi)
{
    return c >= lo && c <= hi;
}

// Decodes the sequence starting at in[i]. Returns the code point, or -1 for an
// ill-formed sequence; `used` is the number of bytes consumed (for ill-formed
// input: the maximal subpart, at least one byte).
long DecodeOne(std::string_view in, size_t i, size_t &used)
{
    const unsigned char b0 = static_cast<unsigned char>(in[i]);
    used = 1;
    if (b0 < 0x80)
        return b0;
    int extra;
    unsigned char lo = 0x80, hi = 0xBF;
    long cp;
    if (InRange(b0, 0xC2, 0xDF)) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if (InRange(b0, 0xE0, 0xEF)) {
        extra = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0; // overlong
        else if (b0 == 0xED)
            hi = 0x9F; // encoded surrogates
    } else if (InRange(b0, 0xF0, 0xF4)) {
        extra = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90; // overlong
        else if (b0 == 0xF4)
            hi = 0x8F; // beyond U+10FFFF
    } else {
        return -1;
    }
    for (int k = 0; k < extra; ++k) {
        if (i + used >= in.size())
            return -1;
        const unsigned char b = static_cast<unsigned char>(in[i + used]);
        const bool ok = k == 0 ? InRange(b, lo, hi) : InRange(b, 0x80, 0xBF);
        if (!ok)
            return -1;
        cp = (cp << 6) | (b & 0x3F);
        ++used;
    }
    return cp;
}

void AppendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

[[nodiscard]] bool Utf8ToUtf16(std::string_view in, std::u16string &out, bool strict)
{
    out.clear();
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        size_t used;
        const long cp = DecodeOne(in, i, used);
        i += used;
        if (cp < 0) {
            if (strict)
                return false;
            out += kReplacement;
        } else if (cp >= 0x10000) {
            const long v = cp - 0x10000;
            out += static_cast<char16_t>(0xD800 + (v >> 10));
            out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return true;
}

[[nodiscard]] bool Utf16ToUtf8(std::u16string_view in, std::string &out, bool strict, bool *replaced,
                               std::string_view replacement)
{
    out.clear();
    out.reserve(in.size());
    if (replaced)
        *replaced = false;
    for (size_t i = 0; i < in.size(); ++i) {
        const char16_t c = in[i];
        char32_t cp = c;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (strict)
                return false;
            if (replaced)
                *replaced = true;
            out += replacement;
            continue;
        }
        AppendUtf8(out, cp);
    }
    return true;
}

std::u16string ToUtf16(std::string_view in)
{
    std::u16string out;
    static_cast<void>(Utf8ToUtf16(in, out)); // lenient: what cannot be converted is replaced, never refused
    return out;
}

std::string ToUtf8(std::u16string_view in)
{
    std::string out;
    static_cast<void>(Utf16ToUtf8(in, out)); // lenient: what cannot be converted is replaced, never refused
    return out;
}

size_t Length(const char16_t *s)
{
    size_t n = 0;
    while (s[n])
        ++n;
    return n;
}

} // namespace orafon::text

// ---- MultiByteToWideChar / WideCharToMultiByte --------------------------------

namespace {

// The stand-in's ANSI code page is UTF-8, as on Windows with the "UTF-8 for
// worldwide language support" setting: every Linux locale in use is UTF-8,
// and the component keeps 8-bit paths and names in that code page.
[[nodiscard]] bool IsUtf8CodePage(UINT codePage)
{
    return codePage == CP_ACP || codePage == CP_OEMCP || codePage == 3 /* CP_THREAD_ACP */ || codePage == CP_UTF8;
}

// Copies `produced` into the caller's buffer under the Windows size rules:
// a zero-sized buffer asks for the required size; a short one fails with
// ERROR_INSUFFICIENT_BUFFER.
template <typename Char> int Deliver(const std::basic_string<Char> &produced, Char *dest, int destSize)
{
    if (produced.size() > static_cast<size_t>(INT32_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int needed = static_cast<int>(produced.size());
    if (destSize == 0)
        return needed;
    if (needed > destSize) {
        std::char_traits<Char>::copy(dest, produced.data(), static_cast<size_t>(destSize));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::char_traits<Char>::copy(dest, produced.data(), produced.size());
    return needed;
}

} // namespace

STDAPI_(int)
MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr,
                    int cchWideChar)
{
    return orafon::AtLastErrorEdge<int>(0, [&]() -> int {
        if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
            (cchWideChar > 0 && !lpWideCharStr)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (!IsUtf8CodePage(CodePage)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        // UTF-8 takes no flag but MB_ERR_INVALID_CHARS; the ANSI code page also
        // accepts the composition flags (which change nothing for UTF-8 text).
        const DWORD allowed =
            CodePage == CP_UTF8 ? MB_ERR_INVALID_CHARS
                                : MB_ERR_INVALID_CHARS | MB_PRECOMPOSED | 0x2 /* COMPOSITE */ | 0x4 /* USEGLYPHCHARS */;
        if ((dwFlags & ~allowed) != 0) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        // -1: the input is NUL-terminated and the NUL is converted (and counted) too.
        const size_t length =
            cbMultiByte == -1 ? std::char_traits<char>::length(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
        std::u16string produced;
        if (!orafon::text::Utf8ToUtf16(std::string_view(lpMultiByteStr, length), produced,
                                       (dwFlags & MB_ERR_INVALID_CHARS) != 0)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        return Deliver(produced, lpWideCharStr, cchWideChar);
    });
}

STDAPI_(int)
WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr,
                    int cbMultiByte, LPCSTR lpDefaultChar, BOOL *lpUsedDefaultChar)
{
    return orafon::AtLastErrorEdge<int>(0, [&]() -> int {
        if (!lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
            (cbMultiByte > 0 && !lpMultiByteStr)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (!IsUtf8CodePage(CodePage)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        const bool explicitUtf8 = CodePage == CP_UTF8;
        if (explicitUtf8) {
            // Windows refuses default characters and best-fit flags for UTF-8.
            if ((dwFlags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
                SetLastError(ERROR_INVALID_FLAGS);
                return 0;
            }
            if (lpDefaultChar || lpUsedDefaultChar) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return 0;
            }
        } else if ((dwFlags &
                    ~static_cast<DWORD>(WC_ERR_INVALID_CHARS | WC_NO_BEST_FIT_CHARS | 0x200 /* COMPOSITECHECK */ |
                                        0x10 /* DISCARDNS */ | 0x20 /* SEPCHARS */ | 0x40 /* DEFAULTCHAR */)) != 0) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        const size_t length =
            cchWideChar == -1 ? orafon::text::Length(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
        std::string produced;
        bool replaced = false;
        // The ANSI code page path honours a caller-given default character in
        // place of U+FFFD.
        const std::string_view replacement =
            lpDefaultChar && *lpDefaultChar ? std::string_view(lpDefaultChar, 1) : std::string_view("\xEF\xBF\xBD");
        if (!orafon::text::Utf16ToUtf8(std::u16string_view(lpWideCharStr, length), produced,
                                       (dwFlags & WC_ERR_INVALID_CHARS) != 0, &replaced, replacement)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        if (lpUsedDefaultChar)
            *lpUsedDefaultChar = replaced ? TRUE : FALSE;
        return Deliver(produced, lpMultiByteStr, cbMultiByte);
    });
}

#include "Text.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace orafon_cli {

[[nodiscard]] std::u16string Utf8ToUtf16(const std::string &text)
{
    if (text.empty())
        return {};
    int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    if (needed <= 0)
        return {};
    std::u16string wide((size_t)needed, u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), wide.data(), needed);
    return wide;
}

[[nodiscard]] std::string Utf16ToUtf8(const char16_t *text, size_t length)
{
    if (!text || length == 0)
        return {};
    int needed = WideCharToMultiByte(CP_UTF8, 0, text, (int)length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string narrow((size_t)needed, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, (int)length, narrow.data(), needed, nullptr, nullptr);
    return narrow;
}

[[nodiscard]] std::string Utf16ToUtf8(const std::u16string &text)
{
    return Utf16ToUtf8(text.data(), text.size());
}

[[nodiscard]] std::string BstrToUtf8(BSTR text)
{
    return Utf16ToUtf8(text, SysStringLen(text));
}

[[nodiscard]] static bool SameLetter(char a, char b)
{
    return std::tolower((unsigned char)a) == std::tolower((unsigned char)b);
}

[[nodiscard]] bool StartsWithNoCase(const std::string &text, const std::string &prefix)
{
    if (prefix.size() > text.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (!SameLetter(text[i], prefix[i]))
            return false;
    return true;
}

[[nodiscard]] bool EqualsNoCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

[[nodiscard]] bool ReadWholeFile(const std::string &path, std::string &contents, int &error)
{
    const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    contents.clear();
    char buffer[1 << 16];
    bool ok = true;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            ok = false;
            break;
        }
        if (n == 0)
            break;
        contents.append(buffer, (size_t)n);
    }
    if (fd != STDIN_FILENO)
        close(fd);
    return ok;
}

} // namespace orafon_cli

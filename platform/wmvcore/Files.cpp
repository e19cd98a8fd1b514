#include "Files.h"

#include <orafon/CatchAtEdge.h>

#include <cerrno>

namespace orafon::wmvcore {

[[nodiscard]] bool ToUtf8(const WCHAR *text, std::string &out)
{
    out.clear();
    if (!text)
        return false;
    bool wellFormed = true;
    const HRESULT hr = orafon::CatchAtEdge([&] {
        for (const WCHAR *p = text; *p; ++p) {
            uint32_t c = *p;
            if (c >= 0xD800 && c <= 0xDBFF) {
                if (p[1] < 0xDC00 || p[1] > 0xDFFF) {
                    wellFormed = false;
                    return;
                }
                c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
                ++p;
            } else if (c >= 0xDC00 && c <= 0xDFFF) {
                wellFormed = false;
                return;
            }
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x800) {
                out += static_cast<char>(0xC0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                out += static_cast<char>(0xE0 | (c >> 12));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                out += static_cast<char>(0xF0 | (c >> 18));
                out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
    });
    return SUCCEEDED(hr) && wellFormed;
}

[[nodiscard]] HRESULT ErrnoToHresult(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return E_ACCESSDENIED;
    case ENOENT:
    case ENOTDIR:
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case ENOMEM:
        return E_OUTOFMEMORY;
    case EIO:
        return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    default:
        return E_FAIL;
    }
}

} // namespace orafon::wmvcore

#include "Editor.h"

#include "Files.h"

#include <orafon/CatchAtEdge.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace orafon::wmvcore {

namespace {

DEFINE_GUID(ASF_Header_Object, 0x75B22630, 0x668E, 0x11CF, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C);
DEFINE_GUID(ASF_File_Properties_Object, 0x8CABDCA1, 0xA947, 0x11CF, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65);

constexpr HRESULT kNotAsf = HRESULT_FROM_WIN32(11); // ERROR_BAD_FORMAT
constexpr QWORD kUnitsPerMs = 10000;
// Header object: GUID, size, object count (4), two reserved bytes.
constexpr size_t kHeaderObjectSize = 30;
// File Properties object: the play duration, then the send duration, then the preroll (ms).
constexpr size_t kPlayDurationAt = 64;
constexpr size_t kPrerollAt = 80;
constexpr size_t kFilePropertiesMinSize = 104;

QWORD Le64(const BYTE *p)
{
    QWORD v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

void PutLe64(BYTE *p, QWORD v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<BYTE>(v >> (8 * i));
}

[[nodiscard]] bool ReadAt(int fd, void *buffer, size_t size, off_t at)
{
    auto *p = static_cast<BYTE *>(buffer);
    while (size > 0) {
        const ssize_t n = ::pread(fd, p, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

// Writes all of it or reports how far it got.
ssize_t WriteAt(int fd, const BYTE *p, size_t size, off_t at)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, p + done, size - done, at + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 && done == 0 ? -1 : static_cast<ssize_t>(done);
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

} // namespace

Editor::~Editor()
{
    Close();
}

[[nodiscard]] HRESULT Editor::FindFileProperties()
{
    BYTE head[kHeaderObjectSize];
    if (!ReadAt(fd_, head, sizeof head, 0) || std::memcmp(head, &ASF_Header_Object, sizeof(GUID)) != 0)
        return kNotAsf;
    const QWORD headerSize = Le64(head + 16);
    for (QWORD at = kHeaderObjectSize; at + 24 <= headerSize;) {
        BYTE object[kFilePropertiesMinSize];
        if (!ReadAt(fd_, object, 24, static_cast<off_t>(at)))
            return kNotAsf;
        const QWORD size = Le64(object + 16);
        if (size < 24 || size > headerSize - at)
            return kNotAsf;
        if (std::memcmp(object, &ASF_File_Properties_Object, sizeof(GUID)) == 0) {
            if (size < kFilePropertiesMinSize || !ReadAt(fd_, object, sizeof object, static_cast<off_t>(at)))
                return kNotAsf;
            filePropertiesAt_ = static_cast<long long>(at);
            playDuration_ = Le64(object + kPlayDurationAt);
            sendDuration_ = Le64(object + kPlayDurationAt + 8);
            prerollMs_ = Le64(object + kPrerollAt);
            return S_OK;
        }
        at += size;
    }
    return kNotAsf;
}

STDMETHODIMP Editor::Open(const WCHAR *pwszFilename)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (fd_ >= 0)
            return E_UNEXPECTED;
        std::string path;
        if (!pwszFilename || !ToUtf8(pwszFilename, path) || path.empty())
            return E_INVALIDARG;
        fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd_ < 0)
            return errno == ENOENT ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) : ErrnoToHresult(errno);
        const HRESULT hr = FindFileProperties();
        if (FAILED(hr))
            Close();
        return hr;
    });
}

STDMETHODIMP Editor::Close()
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        newDuration_.reset();
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        return S_OK;
    });
}

QWORD Editor::Duration() const
{
    if (newDuration_)
        return *newDuration_;
    const QWORD preroll = prerollMs_ * kUnitsPerMs;
    return playDuration_ > preroll ? playDuration_ - preroll : 0;
}

STDMETHODIMP Editor::Flush()
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (fd_ < 0)
            return E_UNEXPECTED;
        HRESULT hr = S_OK;
        if (newDuration_) {
            BYTE old[16], fields[16];
            PutLe64(old, playDuration_);
            PutLe64(old + 8, sendDuration_);
            PutLe64(fields, *newDuration_ + prerollMs_ * kUnitsPerMs);
            PutLe64(fields + 8, *newDuration_);
            const off_t at = static_cast<off_t>(filePropertiesAt_ + kPlayDurationAt);
            errno = 0;
            const ssize_t written = WriteAt(fd_, fields, sizeof fields, at);
            if (written != static_cast<ssize_t>(sizeof fields)) {
                hr = ErrnoToHresult(errno ? errno : EIO);
                if (written > 0)
                    WriteAt(fd_, old, static_cast<size_t>(written), at);
            }
        }
        if (::close(fd_) != 0 && SUCCEEDED(hr))
            hr = ErrnoToHresult(errno);
        fd_ = -1;
        newDuration_.reset();
        return hr;
    });
}

// ---- IWMHeaderInfo -------------------------------------------------------------------------

STDMETHODIMP Editor::GetAttributeCount(WORD, WORD *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Editor::GetAttributeByIndex(WORD, WORD *, WCHAR *, WORD *, WMT_ATTR_DATATYPE *, BYTE *, WORD *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Editor::GetAttributeByName(WORD *pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE *pType, BYTE *pValue,
                                        WORD *pcbLength)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!pwStreamNum || !pszName || !pType || !pcbLength)
            return E_INVALIDARG;
        if (fd_ < 0)
            return E_UNEXPECTED;
        if (std::u16string_view(pszName) != g_wszWMDuration)
            return E_NOTIMPL;
        if (*pwStreamNum != 0)
            return E_INVALIDARG;
        *pType = WMT_TYPE_QWORD;
        if (!pValue) {
            *pcbLength = 8;
            return S_OK;
        }
        if (*pcbLength < 8) {
            *pcbLength = 8;
            return E_INVALIDARG;
        }
        PutLe64(pValue, Duration());
        *pcbLength = 8;
        return S_OK;
    });
}

STDMETHODIMP Editor::SetAttribute(WORD wStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE Type, const BYTE *pValue,
                                  WORD cbLength)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!pszName)
            return E_INVALIDARG;
        if (fd_ < 0)
            return E_UNEXPECTED;
        if (std::u16string_view(pszName) != g_wszWMDuration)
            return E_NOTIMPL;
        if (wStreamNum != 0 || Type != WMT_TYPE_QWORD || cbLength != 8 || !pValue)
            return E_INVALIDARG;
        newDuration_ = Le64(pValue);
        return S_OK;
    });
}

STDMETHODIMP Editor::GetMarkerCount(WORD *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Editor::GetMarker(WORD, WCHAR *, WORD *, QWORD *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Editor::AddMarker(LPCWSTR, QWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP Editor::RemoveMarker(WORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP Editor::GetScriptCount(WORD *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Editor::GetScript(WORD, WCHAR *, WORD *, WCHAR *, WORD *, QWORD *)
{
    return E_NOTIMPL;
}

STDMETHODIMP Editor::AddScript(LPCWSTR, LPCWSTR, QWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP Editor::RemoveScript(WORD)
{
    return E_NOTIMPL;
}

} // namespace orafon::wmvcore

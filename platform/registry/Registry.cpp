// The Win32 registry functions (A and W forms) over the store. The A forms
// take and give names and string data in the ANSI code page, UTF-8 here.
#include "Store.h"

#include "kernel/TextCodec.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/win/objidl.h>

#include <cstring>

using orafon::registry::Value;
namespace text = orafon::text;

namespace {

[[nodiscard]] bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

[[nodiscard]] std::optional<std::string> NameA(LPCSTR name)
{
    if (!name)
        return std::nullopt;
    // Round trip so the stored text is always well-formed UTF-8.
    return text::ToUtf8(text::ToUtf16(name));
}

[[nodiscard]] std::optional<std::string> NameW(LPCWSTR name)
{
    if (!name)
        return std::nullopt;
    return text::ToUtf8(std::u16string_view(name, text::Length(name)));
}

std::string Utf16Bytes(const std::u16string &s)
{
    return std::string(reinterpret_cast<const char *>(s.data()), s.size() * sizeof(char16_t));
}

std::u16string Utf16FromBytes(const std::string &bytes)
{
    std::u16string s(bytes.size() / 2, u'\0');
    std::memcpy(s.data(), bytes.data(), s.size() * sizeof(char16_t));
    return s;
}

// String data is stored terminated, as Windows' own tools store it, so a
// reader never meets an unterminated string (REG_MULTI_SZ: two NULs).
std::string TerminateString(DWORD type, std::u16string s)
{
    if (s.empty() || s.back() != u'\0')
        s.push_back(u'\0');
    if (type == REG_MULTI_SZ && (s.size() < 2 || s[s.size() - 2] != u'\0'))
        s.push_back(u'\0');
    return Utf16Bytes(s);
}

std::string StoredFormW(DWORD type, const BYTE *data, DWORD size)
{
    std::string raw(reinterpret_cast<const char *>(data), size);
    if (!IsStringType(type))
        return raw;
    if (raw.size() % 2)
        raw.push_back('\0');
    return TerminateString(type, Utf16FromBytes(raw));
}

std::string StoredFormA(DWORD type, const BYTE *data, DWORD size)
{
    std::string raw(reinterpret_cast<const char *>(data), size);
    if (!IsStringType(type))
        return raw;
    return TerminateString(type, text::ToUtf16(raw));
}

std::string AnsiForm(const Value &value)
{
    if (!IsStringType(value.type))
        return value.data;
    return text::ToUtf8(Utf16FromBytes(value.data));
}

// Windows' size rules for returned data: no buffer asks for the size; a
// short buffer gives ERROR_MORE_DATA with the size needed.
[[nodiscard]] LSTATUS DeliverData(const std::string &data, LPBYTE out, LPDWORD size)
{
    if (!size)
        return out ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(data.size());
    if (!out) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(out, data.data(), data.size());
    *size = needed;
    return ERROR_SUCCESS;
}

// Names are returned with their NUL; the count excludes it. A buffer too
// small gives ERROR_MORE_DATA and leaves the count unchanged.
template <typename Char>
[[nodiscard]] LSTATUS DeliverName(const std::basic_string<Char> &name, Char *out, LPDWORD count)
{
    if (!out || !count)
        return ERROR_INVALID_PARAMETER;
    if (*count <= name.size())
        return ERROR_MORE_DATA;
    std::char_traits<Char>::copy(out, name.data(), name.size());
    out[name.size()] = Char{};
    *count = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

void ToFileTime(int64_t unixMs, FILETIME *ft)
{
    if (!ft)
        return;
    // 100-ns intervals since 1601-01-01.
    const uint64_t ticks = static_cast<uint64_t>(unixMs) * 10000ULL + 116444736000000000ULL;
    ft->dwLowDateTime = static_cast<DWORD>(ticks);
    ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

template <typename Char> void EmptyClass(Char *cls, LPDWORD cchClass)
{
    if (cls && cchClass && *cchClass > 0)
        cls[0] = Char{};
    if (cchClass)
        *cchClass = 0;
}

// No exception leaves a registry function: running out of memory answers
// ERROR_NOT_ENOUGH_MEMORY, as the store answers it for the database, and the
// store's transaction is rolled back on the way out.
template <typename Body> [[nodiscard]] LSTATUS AtEdge(Body &&body) noexcept
{
    return orafon::CatchAtEdgeOr<LSTATUS>(ERROR_NOT_ENOUGH_MEMORY, ERROR_INTERNAL_ERROR, std::forward<Body>(body));
}

// A key is handed out only by a call that succeeds, whatever failed first
// (a name that could not be converted included).
template <typename Body> [[nodiscard]] LSTATUS KeyAtEdge(PHKEY result, Body &&body) noexcept
{
    if (result)
        *result = nullptr;
    return AtEdge(std::forward<Body>(body));
}

[[nodiscard]] LSTATUS CreateKey(HKEY hKey, const std::optional<std::string> &subKey, REGSAM sam, PHKEY result,
                                LPDWORD disposition)
{
    return orafon::registry::OpenKey(hKey, subKey, true, sam, result, disposition);
}

} // namespace

STDAPI_(LSTATUS)
RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired, LPSECURITY_ATTRIBUTES,
                PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return KeyAtEdge(phkResult, [&]() -> LSTATUS {
        return CreateKey(hKey, NameA(lpSubKey), samDesired, phkResult, lpdwDisposition);
    });
}

STDAPI_(LSTATUS)
RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired, LPSECURITY_ATTRIBUTES,
                PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return KeyAtEdge(phkResult, [&]() -> LSTATUS {
        return CreateKey(hKey, NameW(lpSubKey), samDesired, phkResult, lpdwDisposition);
    });
}

STDAPI_(LSTATUS) RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    return KeyAtEdge(phkResult, [&]() -> LSTATUS {
        return orafon::registry::OpenKey(hKey, NameA(lpSubKey), false, samDesired, phkResult, nullptr);
    });
}

STDAPI_(LSTATUS) RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    return KeyAtEdge(phkResult, [&]() -> LSTATUS {
        return orafon::registry::OpenKey(hKey, NameW(lpSubKey), false, samDesired, phkResult, nullptr);
    });
}

STDAPI_(LSTATUS)
RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE *lpData, DWORD cbData)
{
    return AtEdge([&]() -> LSTATUS {
        if (!lpData && cbData)
            return ERROR_INVALID_PARAMETER;
        return orafon::registry::SetValue(
            hKey, NameA(lpValueName), dwType,
            StoredFormA(dwType, lpData ? lpData : reinterpret_cast<const BYTE *>(""), lpData ? cbData : 0));
    });
}

STDAPI_(LSTATUS)
RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE *lpData, DWORD cbData)
{
    return AtEdge([&]() -> LSTATUS {
        if (!lpData && cbData)
            return ERROR_INVALID_PARAMETER;
        return orafon::registry::SetValue(
            hKey, NameW(lpValueName), dwType,
            StoredFormW(dwType, lpData ? lpData : reinterpret_cast<const BYTE *>(""), lpData ? cbData : 0));
    });
}

STDAPI_(LSTATUS)
RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return AtEdge([&]() -> LSTATUS {
        if (lpData && !lpcbData)
            return ERROR_INVALID_PARAMETER;
        Value value;
        if (LSTATUS s = orafon::registry::GetValue(hKey, NameA(lpValueName), value); s != ERROR_SUCCESS)
            return s;
        if (lpType)
            *lpType = value.type;
        return DeliverData(AnsiForm(value), lpData, lpcbData);
    });
}

STDAPI_(LSTATUS)
RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return AtEdge([&]() -> LSTATUS {
        if (lpData && !lpcbData)
            return ERROR_INVALID_PARAMETER;
        Value value;
        if (LSTATUS s = orafon::registry::GetValue(hKey, NameW(lpValueName), value); s != ERROR_SUCCESS)
            return s;
        if (lpType)
            *lpType = value.type;
        return DeliverData(value.data, lpData, lpcbData);
    });
}

STDAPI_(LSTATUS)
RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR lpClass, LPDWORD lpcchClass,
              FILETIME *lpftLastWriteTime)
{
    return AtEdge([&]() -> LSTATUS {
        if (!lpName || !lpcchName)
            return ERROR_INVALID_PARAMETER;
        std::string name;
        int64_t mtime = 0;
        if (LSTATUS s = orafon::registry::EnumKey(hKey, dwIndex, name, mtime); s != ERROR_SUCCESS)
            return s;
        if (LSTATUS s = DeliverName(name, lpName, lpcchName); s != ERROR_SUCCESS)
            return s;
        EmptyClass(lpClass, lpcchClass);
        ToFileTime(mtime, lpftLastWriteTime);
        return ERROR_SUCCESS;
    });
}

STDAPI_(LSTATUS)
RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass, LPDWORD lpcchClass,
              FILETIME *lpftLastWriteTime)
{
    return AtEdge([&]() -> LSTATUS {
        if (!lpName || !lpcchName)
            return ERROR_INVALID_PARAMETER;
        std::string name;
        int64_t mtime = 0;
        if (LSTATUS s = orafon::registry::EnumKey(hKey, dwIndex, name, mtime); s != ERROR_SUCCESS)
            return s;
        if (LSTATUS s = DeliverName(text::ToUtf16(name), lpName, lpcchName); s != ERROR_SUCCESS)
            return s;
        EmptyClass(lpClass, lpcchClass);
        ToFileTime(mtime, lpftLastWriteTime);
        return ERROR_SUCCESS;
    });
}

STDAPI_(LSTATUS)
RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
              LPBYTE lpData, LPDWORD lpcbData)
{
    return AtEdge([&]() -> LSTATUS {
        if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
            return ERROR_INVALID_PARAMETER;
        Value value;
        if (LSTATUS s = orafon::registry::EnumValue(hKey, dwIndex, value); s != ERROR_SUCCESS)
            return s;
        if (LSTATUS s = DeliverName(value.name, lpValueName, lpcchValueName); s != ERROR_SUCCESS)
            return s;
        if (lpType)
            *lpType = value.type;
        return DeliverData(AnsiForm(value), lpData, lpcbData);
    });
}

STDAPI_(LSTATUS)
RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
              LPBYTE lpData, LPDWORD lpcbData)
{
    return AtEdge([&]() -> LSTATUS {
        if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
            return ERROR_INVALID_PARAMETER;
        Value value;
        if (LSTATUS s = orafon::registry::EnumValue(hKey, dwIndex, value); s != ERROR_SUCCESS)
            return s;
        if (LSTATUS s = DeliverName(text::ToUtf16(value.name), lpValueName, lpcchValueName); s != ERROR_SUCCESS)
            return s;
        if (lpType)
            *lpType = value.type;
        return DeliverData(value.data, lpData, lpcbData);
    });
}

STDAPI_(LSTATUS) RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    return AtEdge([&]() -> LSTATUS {
        if (!lpSubKey)
            return ERROR_INVALID_PARAMETER;
        return orafon::registry::DeleteKey(hKey, *NameA(lpSubKey));
    });
}

STDAPI_(LSTATUS) RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    return AtEdge([&]() -> LSTATUS {
        if (!lpSubKey)
            return ERROR_INVALID_PARAMETER;
        return orafon::registry::DeleteKey(hKey, *NameW(lpSubKey));
    });
}

STDAPI_(LSTATUS) RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey)
{
    return AtEdge([&]() -> LSTATUS { return orafon::registry::DeleteTree(hKey, NameA(lpSubKey)); });
}

STDAPI_(LSTATUS) RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey)
{
    return AtEdge([&]() -> LSTATUS { return orafon::registry::DeleteTree(hKey, NameW(lpSubKey)); });
}

STDAPI_(LSTATUS) RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    return AtEdge([&]() -> LSTATUS { return orafon::registry::DeleteValue(hKey, NameA(lpValueName)); });
}

STDAPI_(LSTATUS) RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    return AtEdge([&]() -> LSTATUS { return orafon::registry::DeleteValue(hKey, NameW(lpValueName)); });
}

STDAPI_(LSTATUS) RegCloseKey(HKEY hKey)
{
    return AtEdge([&] { return orafon::registry::CloseKey(hKey); });
}

// GUID text forms and ProgIDs.
#include "Apartment.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/Holders.h>
#include <orafon/win/objbase.h>
#include <orafon/win/winreg.h>

#include <cstdio>
#include <cstring>

namespace orafon::com {
namespace {

constexpr int kGuidChars = 38; // without the NUL

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Reads `digits` hex digits at s[pos].
[[nodiscard]] bool ReadHex(const char16_t *s, int pos, int digits, uint32_t &value)
{
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = HexDigit(s[pos + i]);
        if (d < 0)
            return false;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

// Exactly "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", either case, nothing after.
[[nodiscard]] bool ParseGuid(const char16_t *s, GUID &guid)
{
    for (int i = 0; i < kGuidChars; ++i) {
        if (!s[i])
            return false;
    }
    if (s[kGuidChars] || s[0] != u'{' || s[37] != u'}' || s[9] != u'-' || s[14] != u'-' || s[19] != u'-' ||
        s[24] != u'-')
        return false;
    uint32_t d1, d2, d3, b;
    if (!ReadHex(s, 1, 8, d1) || !ReadHex(s, 10, 4, d2) || !ReadHex(s, 15, 4, d3))
        return false;
    guid.Data1 = d1;
    guid.Data2 = static_cast<WORD>(d2);
    guid.Data3 = static_cast<WORD>(d3);
    static constexpr int kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(s, kBytePos[i], 2, b))
            return false;
        guid.Data4[i] = static_cast<BYTE>(b);
    }
    return true;
}

[[nodiscard]] HRESULT CopyToTaskMemory(const std::u16string &text, LPOLESTR *out)
{
    auto *p = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!p)
        return E_OUTOFMEMORY;
    std::memcpy(p, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
    *out = p;
    return S_OK;
}

// A ProgID names one key directly below HKEY_CLASSES_ROOT.
[[nodiscard]] bool IsProgIdShaped(LPCOLESTR s)
{
    if (!s || !*s)
        return false;
    for (; *s; ++s) {
        if (*s == u'\\')
            return false;
    }
    return true;
}

} // namespace

std::u16string GuidText(const GUID &guid)
{
    char buf[kGuidChars + 1];
    std::snprintf(buf, sizeof(buf), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2,
                  guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return std::u16string(buf, buf + kGuidChars);
}

[[nodiscard]] bool ReadClassesRootDefault(const std::u16string &path, std::u16string &value, LONG &error)
{
    orafon::CRegKey key;
    error = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, key.Out());
    if (error != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    error = RegQueryValueExW(key.Get(), nullptr, nullptr, &type, nullptr, &size);
    if (error == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ)
        error = ERROR_FILE_NOT_FOUND;
    if (error == ERROR_SUCCESS) {
        value.assign(size / sizeof(char16_t), u'\0');
        error = RegQueryValueExW(key.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE *>(value.data()), &size);
        value.resize(size / sizeof(char16_t));
        while (!value.empty() && value.back() == u'\0')
            value.pop_back();
    }
    return error == ERROR_SUCCESS;
}

} // namespace orafon::com

using namespace orafon::com;

STDAPI_(int) StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    return orafon::CatchAtEdgeOr<int>(0, 0, [&]() -> int {
        if (!lpsz || cchMax < kGuidChars + 1)
            return 0;
        const std::u16string text = GuidText(rguid);
        std::memcpy(lpsz, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
        return kGuidChars + 1;
    });
}

STDAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR *lplpsz)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!lplpsz)
            return E_INVALIDARG;
        *lplpsz = nullptr;
        return CopyToTaskMemory(GuidText(rclsid), lplpsz);
    });
}

STDAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid)
{
    if (!lpiid)
        return E_INVALIDARG;
    if (!lpsz) {
        *lpiid = GUID_NULL;
        return S_OK;
    }
    GUID guid;
    if (!ParseGuid(lpsz, guid))
        return E_INVALIDARG;
    *lpiid = guid;
    return S_OK;
}

STDAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!lpszProgID || !lpclsid)
            return E_INVALIDARG;
        *lpclsid = GUID_NULL;
        // A version-independent ProgID names its CLSID directly or through
        // CurVer, the current versioned ProgID; a few hops at most.
        std::u16string progId = lpszProgID;
        for (int hop = 0; hop < 8; ++hop) {
            if (!IsProgIdShaped(progId.c_str()))
                return CO_E_CLASSSTRING;
            std::u16string text;
            LONG error = 0;
            if (ReadClassesRootDefault(progId + u"\\CLSID", text, error)) {
                GUID guid;
                if (!ParseGuid(text.c_str(), guid))
                    return CO_E_CLASSSTRING;
                *lpclsid = guid;
                return S_OK;
            }
            if (error != ERROR_FILE_NOT_FOUND)
                return REGDB_E_READREGDB;
            if (!ReadClassesRootDefault(progId + u"\\CurVer", text, error) || text.empty())
                return error == ERROR_FILE_NOT_FOUND || error == ERROR_SUCCESS ? CO_E_CLASSSTRING : REGDB_E_READREGDB;
            progId = text;
        }
        return CO_E_CLASSSTRING;
    });
}

STDAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid)
{
    if (!pclsid)
        return E_INVALIDARG;
    *pclsid = GUID_NULL;
    if (!lpsz)
        return S_OK;
    GUID guid;
    if (lpsz[0] == u'{') {
        if (!ParseGuid(lpsz, guid))
            return CO_E_CLASSSTRING;
        *pclsid = guid;
        return S_OK;
    }
    // Anything else may be a ProgID.
    const HRESULT hr = CLSIDFromProgID(lpsz, pclsid);
    return SUCCEEDED(hr) || hr == E_OUTOFMEMORY ? hr : CO_E_CLASSSTRING;
}

STDAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR *lplpszProgID)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!lplpszProgID)
            return E_INVALIDARG;
        *lplpszProgID = nullptr;
        std::u16string progId;
        LONG error = 0;
        if (!ReadClassesRootDefault(u"CLSID\\" + GuidText(clsid) + u"\\ProgID", progId, error) || progId.empty())
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_SUCCESS ? REGDB_E_CLASSNOTREG : REGDB_E_READREGDB;
        return CopyToTaskMemory(progId, lplpszProgID);
    });
}

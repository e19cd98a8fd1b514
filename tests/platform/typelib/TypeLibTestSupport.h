// Shared pieces of the type-library tests: a sample library, a private
// registry database (support/PrivateRegistry.h), and small BSTR and registry readers.
#pragma once

#include "SampleLibrary.h"
#include "support/PrivateRegistry.h"

#include <orafon/Holders.h>

#include <orafon/win/windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orafon::test {

inline std::u16string Take(BSTR b)
{
    const orafon::CBstr owned(b);
    return b ? std::u16string(b, SysStringLen(b)) : std::u16string();
}

inline std::string Narrow(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s)
        out.push_back(static_cast<char>(c));
    return out;
}

inline std::optional<std::u16string> ReadKey(const std::u16string &path, const char16_t *value = nullptr)
{
    orafon::CRegKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
        return std::nullopt;
    char16_t buf[1024] = {};
    DWORD size = sizeof buf - sizeof(char16_t), type = 0;
    if (RegQueryValueExW(key.Get(), value, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::u16string(buf);
}

inline bool KeyExists(const std::u16string &path)
{
    orafon::CRegKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Out()) == ERROR_SUCCESS;
}

} // namespace orafon::test

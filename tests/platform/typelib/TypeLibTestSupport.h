// Shared pieces of the type-library tests: a sample library, a private
// registry database, and small BSTR and registry readers.
#pragma once

#include "SampleLibrary.h"

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
    std::u16string s = b ? std::u16string(b, SysStringLen(b)) : std::u16string();
    SysFreeString(b);
    return s;
}

inline std::string Narrow(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s)
        out.push_back(static_cast<char>(c));
    return out;
}

// A directory of its own for each test process, removed at exit; the
// private registry database lives in it.
inline const std::filesystem::path &TestDir()
{
    static const std::filesystem::path dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orafon-tl-XXXXXX").string();
        std::filesystem::path made = mkdtemp(tmpl.data());
        std::atexit([] { std::filesystem::remove_all(TestDir()); });
        return made;
    }();
    return dir;
}

// Called before the first registry use of a process.
inline void UsePrivateRegistry()
{
    setenv("ORAFON_REGISTRY", (TestDir() / "registry.db").c_str(), 1);
}

inline std::optional<std::u16string> ReadKey(const std::u16string &path, const char16_t *value = nullptr)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    char16_t buf[1024] = {};
    DWORD size = sizeof buf - sizeof(char16_t), type = 0;
    LSTATUS st = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size);
    RegCloseKey(key);
    if (st != ERROR_SUCCESS)
        return std::nullopt;
    return std::u16string(buf);
}

inline bool KeyExists(const std::u16string &path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace orafon::test

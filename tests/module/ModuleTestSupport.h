// A private registry database per test process, and registry readers.
#pragma once

#include "support/PrivateRegistry.h"

#include <orafon/Holders.h>
#include <orafon/win/windows.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace orafon::test {

// A key under HKEY_CLASSES_ROOT opened for reading, and what it holds.
class Key {
public:
    explicit Key(const std::string &path) { RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key_.Out()); }

    bool exists() const { return static_cast<bool>(key_); }
    std::optional<std::string> value(const char *name = nullptr) const
    {
        if (!key_)
            return std::nullopt;
        char buf[2048] = {};
        DWORD size = sizeof buf - 1, type = 0;
        if (RegQueryValueExA(key_.Get(), name, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return std::nullopt;
        return std::string(buf);
    }
    std::set<std::string> subkeys() const
    {
        std::set<std::string> names;
        for (DWORD i = 0; key_; ++i) {
            char name[256];
            DWORD len = sizeof name;
            if (RegEnumKeyExA(key_.Get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.emplace(name, len);
        }
        return names;
    }

private:
    orafon::CRegKey key_;
};

inline bool CreateKey(const std::string &path)
{
    orafon::CRegKey key;
    return RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(),
                           nullptr) == ERROR_SUCCESS;
}

} // namespace orafon::test

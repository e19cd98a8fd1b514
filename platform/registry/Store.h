// The registry's storage: keys and values in one SQLite database per user,
// shared by every process. All names here are UTF-8; string data is kept as
// Windows keeps it, UTF-16LE with its terminating NUL.
#pragma once

#include <orafon/win/winreg.h>

#include <cstdint>
#include <optional>
#include <string>

namespace orafon::registry {

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string data; // raw bytes
};

// Each function validates the handle, runs in one database transaction and
// returns a Windows error code.
LSTATUS OpenKey(HKEY parent, const std::optional<std::string> &subKey, bool create, REGSAM access, PHKEY result,
                LPDWORD disposition);
[[nodiscard]] LSTATUS CloseKey(HKEY key);
LSTATUS SetValue(HKEY key, const std::optional<std::string> &name, DWORD type, std::string data);
[[nodiscard]] LSTATUS GetValue(HKEY key, const std::optional<std::string> &name, Value &value);
LSTATUS EnumKey(HKEY key, DWORD index, std::string &name, int64_t &writeTimeMs);
[[nodiscard]] LSTATUS EnumValue(HKEY key, DWORD index, Value &value);
LSTATUS DeleteKey(HKEY key, const std::string &subKey);
[[nodiscard]] LSTATUS DeleteTree(HKEY key, const std::optional<std::string> &subKey);
LSTATUS DeleteValue(HKEY key, const std::optional<std::string> &name);

// The database file this process uses (for tests and diagnostics).
std::string DatabasePath();

} // namespace orafon::registry

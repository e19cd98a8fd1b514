// A private registry database per test process, and registry readers.
#pragma once

#include <orafon/win/windows.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace orafon::test {

inline const std::filesystem::path &TestDir()
{
    static const std::filesystem::path dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "orafon-module-XXXXXX").string();
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

class Key {
public:
    explicit Key(const std::string &path)
    {
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~Key()
    {
        if (key_)
            RegCloseKey(key_);
    }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;

    bool exists() const { return key_ != nullptr; }
    std::optional<std::string> value(const char *name = nullptr) const
    {
        if (!key_)
            return std::nullopt;
        char buf[2048] = {};
        DWORD size = sizeof buf - 1, type = 0;
        if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size) != ERROR_SUCCESS ||
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
            if (RegEnumKeyExA(key_, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.emplace(name, len);
        }
        return names;
    }

private:
    HKEY key_ = nullptr;
};

inline bool CreateKey(const std::string &path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

} // namespace orafon::test

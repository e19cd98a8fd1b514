// Test helpers: a registry database of the test's own, and a key holder.
#pragma once

#include <orafon/win/winreg.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace orafon::test {

// Points ORAFON_REGISTRY at a fresh database in a new temporary folder for
// the holder's lifetime; the registry reopens when the variable changes.
class TempRegistry {
public:
    TempRegistry()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orafon-reg-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            dir_ = pattern;
        path_ = dir_ + "/registry.db";
        setenv("ORAFON_REGISTRY", path_.c_str(), 1);
    }
    ~TempRegistry()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempRegistry(const TempRegistry &) = delete;
    TempRegistry &operator=(const TempRegistry &) = delete;

    const std::string &path() const { return path_; }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_;
    std::string path_;
};

// Closes the key it holds.
class Key {
public:
    Key() = default;
    ~Key() { Close(); }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    HKEY *operator&() { return &h_; }
    operator HKEY() const { return h_; }
    void Close()
    {
        if (h_)
            RegCloseKey(h_);
        h_ = nullptr;
    }

private:
    HKEY h_ = nullptr;
};

} // namespace orafon::test

// Test helpers: a registry database of the test's own, and a key holder.
#pragma once

#include "support/ScratchDir.h"

#include <orafon/Holders.h>
#include <orafon/win/winreg.h>

#include <cstdlib>
#include <string>

namespace orafon::test {

// Points ORAFON_REGISTRY at a fresh database in a new temporary folder for
// the holder's lifetime; the registry reopens when the variable changes.
class TempRegistry {
public:
    TempRegistry() : dir_("orafon-reg-"), path_((dir_.path() / "registry.db").string())
    {
        setenv("ORAFON_REGISTRY", path_.c_str(), 1);
    }
    TempRegistry(const TempRegistry &) = delete;
    TempRegistry &operator=(const TempRegistry &) = delete;

    const std::string &path() const { return path_; }
    std::string dir() const { return dir_.path().string(); }

private:
    ScratchDir dir_;
    std::string path_;
};

// A CRegKey that reads as the HKEY it holds and whose address is an out
// parameter, as registry calls in tests take it.
class Key : public orafon::CRegKey {
public:
    HKEY *operator&() { return Out(); }
    operator HKEY() const { return Get(); }
    void Close() { Reset(); }
};

} // namespace orafon::test

// A folder and a registry database of the test process's own, for tests
// whose registry use starts before any fixture runs.
#pragma once

#include "support/ScratchDir.h"

#include <cstdlib>
#include <filesystem>

namespace orafon::test {

// The process's folder, removed at exit. The holder is a function-local
// static, so it is destroyed (and the folder removed) after every later
// static that might still write into it.
inline const std::filesystem::path &TestDir()
{
    static const ScratchDir dir("orafon-test-");
    return dir.path();
}

// Called before the first registry use of a process.
inline void UsePrivateRegistry()
{
    setenv("ORAFON_REGISTRY", (TestDir() / "registry.db").c_str(), 1);
}

} // namespace orafon::test

// The module's count of live objects and server locks for the in-process
// server's COM objects (their IUnknown is orafon::ComObject's).
#pragma once

#include <orafon/ComObject.h>
#include <orafon/win/unknwn.h>

#include <atomic>

namespace orafon::sapi4 {

// Live objects and server locks; DllCanUnloadNow answers from them.
std::atomic<long> &LiveObjects();
std::atomic<long> &ServerLocks();

// Counts itself among the module's live objects while it exists. Objects of
// the module list it as a base after their orafon::ComObject, so it is given
// back after their members are gone.
class ModuleObject {
public:
    ModuleObject() { ++LiveObjects(); }
    ModuleObject(const ModuleObject &) = delete;
    ModuleObject &operator=(const ModuleObject &) = delete;
    ~ModuleObject() { --LiveObjects(); }
};

} // namespace orafon::sapi4

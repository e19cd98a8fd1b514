// The module's count of live objects that decides DllCanUnloadNow, and
// strings handed out in task memory.
#pragma once

#include <orafon/ComObject.h>
#include <orafon/win/unknwn.h>

#include <string>

namespace orafon::sapi5 {

void ModuleAddRef();
void ModuleRelease();
long ModuleCount();

// Counts itself among the module's live objects while it exists. Objects of
// the module list it as a base after their orafon::ComObject, so it is given
// back after their members are gone.
class ModuleObject {
public:
    ModuleObject() { ModuleAddRef(); }
    ModuleObject(const ModuleObject &) = delete;
    ModuleObject &operator=(const ModuleObject &) = delete;
    ~ModuleObject() { ModuleRelease(); }
};

// Copies text into task memory for an out parameter.
[[nodiscard]] HRESULT CoMemString(const char16_t *text, size_t length, LPWSTR *out);
inline HRESULT CoMemString(const std::u16string &text, LPWSTR *out)
{
    return CoMemString(text.c_str(), text.size(), out);
}

} // namespace orafon::sapi5

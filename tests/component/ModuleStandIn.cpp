// The functions of module/Module.h for tests that link the component
// without the module: a real lock count, and no type library.
#include <module/Module.h>

#include <atomic>

namespace {
std::atomic<LONG> g_lockCount{0};
}

namespace orafon::test {
LONG ModuleLockCountForTest()
{
    return g_lockCount.load();
}
} // namespace orafon::test

LONG ModuleLock()
{
    return ++g_lockCount;
}

LONG ModuleUnlock()
{
    return --g_lockCount;
}

HRESULT ModuleGetTypeInfo(REFGUID, ITypeInfo **ppTInfo)
{
    if (ppTInfo)
        *ppTInfo = nullptr;
    return TYPE_E_CANTLOADLIBRARY;
}

const char *ModuleGetPath()
{
    return "";
}

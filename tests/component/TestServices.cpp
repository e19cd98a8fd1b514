#include "TestServices.h"

namespace orafon::test {

LONG TestServices::Lock() noexcept
{
    return ++m_locks;
}

LONG TestServices::Unlock() noexcept
{
    return --m_locks;
}

HRESULT TestServices::GetTypeInfo(REFGUID, ITypeInfo **ppTInfo) noexcept
{
    if (ppTInfo)
        *ppTInfo = nullptr;
    return TYPE_E_CANTLOADLIBRARY;
}

TestServices &TestModule()
{
    static constinit TestServices services;
    return services;
}

LONG ModuleLockCountForTest()
{
    return TestModule().LockCount();
}

} // namespace orafon::test

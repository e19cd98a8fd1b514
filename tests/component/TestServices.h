// The module's part for tests that link the component without a module: a
// real lock count and no type library.
#pragma once

#include <component/ModuleServices.h>

#include <atomic>

namespace orafon::test {

class TestServices final : public orafon::ModuleServices {
public:
    LONG Lock() noexcept override;
    LONG Unlock() noexcept override;
    HRESULT GetTypeInfo(REFGUID guid, ITypeInfo **ppTInfo) noexcept override;

    LONG LockCount() const noexcept { return m_locks.load(); }

private:
    std::atomic<LONG> m_locks{0};
};

// The one instance the tests make their objects with.
TestServices &TestModule();

// Its lock count: the locks objects made with TestModule() hold.
LONG ModuleLockCountForTest();

} // namespace orafon::test

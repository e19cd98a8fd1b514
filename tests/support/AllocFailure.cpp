// The replaced operator new of orafon_alloc_failure. It is an object
// library, so every executable that links it gets these definitions.
#include "support/AllocFailure.h"

#include <cstdlib>
#include <new>

namespace {

// The allocation of the calling thread to fail, counted from 0; -1 fails none.
thread_local long t_failAt = -1;
thread_local bool t_failed = false;

bool FailThisOne()
{
    if (t_failAt < 0)
        return false;
    if (t_failAt-- != 0)
        return false;
    t_failed = true;
    return true;
}

void *Allocate(std::size_t n) noexcept
{
    return FailThisOne() ? nullptr : std::malloc(n ? n : 1);
}

// Out of line, so the compiler does not pair a free it sees with a new.
[[gnu::noinline]] void Release(void *p) noexcept
{
    std::free(p);
}

} // namespace

void *operator new(std::size_t n)
{
    if (void *p = Allocate(n))
        return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t n)
{
    return operator new(n);
}
void *operator new(std::size_t n, const std::nothrow_t &) noexcept
{
    return Allocate(n);
}
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept
{
    return Allocate(n);
}
void operator delete(void *p) noexcept
{
    Release(p);
}
void operator delete[](void *p) noexcept
{
    Release(p);
}
void operator delete(void *p, std::size_t) noexcept
{
    Release(p);
}
void operator delete[](void *p, std::size_t) noexcept
{
    Release(p);
}
// A constructor that throws inside a nothrow new expression frees through
// these; left to the runtime they would free a malloc block as a new one.
void operator delete(void *p, const std::nothrow_t &) noexcept
{
    Release(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept
{
    Release(p);
}

namespace orafon::test {

FailedAllocation::FailedAllocation(long n)
{
    t_failed = false;
    t_failAt = n;
}

FailedAllocation::~FailedAllocation()
{
    t_failAt = -1;
}

bool FailedAllocation::Met() const
{
    return t_failed;
}

} // namespace orafon::test

// Allocation-failure tests: an executable that links orafon_alloc_failure
// has its operator new replaced (the throwing and the nothrow forms) by one
// that fails a chosen allocation of the calling thread, so each allocation a
// call makes can be failed in turn.
#pragma once

#include <orafon/win/wintypes.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace orafon::test {

// Fails allocation |n| of the calling thread (counted from 0) while it lives.
class FailedAllocation {
public:
    explicit FailedAllocation(long n);
    ~FailedAllocation();
    FailedAllocation(const FailedAllocation &) = delete;
    FailedAllocation &operator=(const FailedAllocation &) = delete;

    // Whether the call met the failed allocation.
    bool Met() const;
};

inline constexpr long kMaxAllocations = 10000;

// Runs |call| once per allocation it makes, failing that allocation, until a
// run meets no failure. |check| sees each run's answer, whether it met the
// failed allocation and which allocation that was, with allocation granted
// again. An exception crossing |call| fails the test.
template <typename Result, typename Call, typename Check> void EachAllocationFails(Call &&call, Check &&check)
{
    for (long n = 0; n < kMaxAllocations; ++n) {
        std::optional<Result> result;
        bool met = false;
        {
            FailedAllocation failing(n);
            try {
                result = call();
            } catch (...) {
            }
            met = failing.Met();
        }
        ASSERT_TRUE(result.has_value()) << "an exception crossed the call when allocation " << n << " failed";
        check(*result, met, n);
        if (!met)
            return;
    }
    ADD_FAILURE() << "the call never ran without meeting a failed allocation";
}

// The common case: a call answering an HRESULT, which must be E_OUTOFMEMORY
// (or S_OK, when the failed allocation was one it could do without) and S_OK
// once every allocation is granted.
inline void EachAllocationFails(const std::function<HRESULT()> &call)
{
    EachAllocationFails<HRESULT>(call, [](HRESULT hr, bool met, long n) {
        if (!met)
            EXPECT_EQ(S_OK, hr) << "with every allocation granted";
        else
            EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == S_OK) << "allocation " << n << " failed: 0x" << std::hex << hr;
    });
}

} // namespace orafon::test

// Running out of memory is answered, not fatal: each allocation a call makes
// is failed in turn, and the call must answer E_OUTOFMEMORY (or succeed when
// the failed allocation was one it could do without) with no exception
// crossing it and nothing leaked. This executable replaces operator new, so
// it holds these tests alone.
#include <orafon/win/objbase.h>
#include <orafon/win/oleauto.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
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

namespace {

// Runs |call| once per allocation it makes, failing that allocation, until a
// run meets no failure; that last run must succeed.
void EachAllocationFails(const std::function<HRESULT()> &call)
{
    for (long n = 0; n < 10000; ++n) {
        t_failed = false;
        t_failAt = n;
        HRESULT hr = E_FAIL;
        bool threw = false;
        try {
            hr = call();
        } catch (...) {
            threw = true;
        }
        t_failAt = -1;
        ASSERT_FALSE(threw) << "an exception crossed the call when allocation " << n << " failed";
        if (!t_failed) {
            EXPECT_EQ(S_OK, hr) << "with every allocation granted";
            return;
        }
        EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == S_OK) << "allocation " << n << " failed: 0x" << std::hex << hr;
    }
    FAIL() << "the call never ran without meeting a failed allocation";
}

// Converts |source| to |vt| and releases what it made.
HRESULT Change(const VARIANT &source, VARTYPE vt)
{
    VARIANT out;
    VariantInit(&out);
    const HRESULT hr = VariantChangeType(&out, &source, 0, vt);
    VariantClear(&out);
    return hr;
}

struct Conversion {
    const char *label;
    std::function<VARIANT()> source;
    VARTYPE target;
};

class ConversionUnderAllocationFailure : public ::testing::TestWithParam<Conversion> {};

TEST_P(ConversionUnderAllocationFailure, AnswersOutOfMemory)
{
    VARIANT source = GetParam().source();
    EachAllocationFails([&] { return Change(source, GetParam().target); });
    VariantClear(&source);
}

VARIANT Real(double value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

VARIANT Text(const OLECHAR *text)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

VARIANT Date(double value)
{
    VARIANT v = Real(value);
    v.vt = VT_DATE;
    return v;
}

INSTANTIATE_TEST_SUITE_P(Conversions, ConversionUnderAllocationFailure,
                         ::testing::Values(Conversion{"RealToText", [] { return Real(654322.25); }, VT_BSTR},
                                           Conversion{"TextToReal", [] { return Text(u"1234.5"); }, VT_R8},
                                           Conversion{"DateToText", [] { return Date(45000.75); }, VT_BSTR},
                                           Conversion{"TextToDate", [] { return Text(u"2023-03-15 18:00"); }, VT_DATE},
                                           Conversion{"TextToBool", [] { return Text(u"True"); }, VT_BOOL}),
                         [](const ::testing::TestParamInfo<Conversion> &row) { return std::string(row.param.label); });

TEST(ErrorInfoUnderAllocationFailure, MadeAndDescribed)
{
    EachAllocationFails([] {
        ICreateErrorInfo *create = nullptr;
        HRESULT hr = CreateErrorInfo(&create);
        if (FAILED(hr))
            return hr;
        hr = create->SetDescription(const_cast<LPOLESTR>(u"The file could not be written"));
        if (SUCCEEDED(hr))
            hr = create->SetSource(const_cast<LPOLESTR>(u"Orafon.TextToSpeech"));
        create->Release();
        return hr;
    });
}

} // namespace

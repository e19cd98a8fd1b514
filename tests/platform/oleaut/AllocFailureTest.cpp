// Running out of memory is answered, not fatal: each allocation a call makes
// is failed in turn, and the call must answer E_OUTOFMEMORY (or succeed when
// the failed allocation was one it could do without) with no exception
// crossing it and nothing leaked. This executable replaces operator new
// (orafon_alloc_failure), so it holds these tests alone.
#include "support/AllocFailure.h"

#include <orafon/win/objbase.h>
#include <orafon/win/oleauto.h>

#include <gtest/gtest.h>

#include <functional>

using orafon::test::EachAllocationFails;

namespace {

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

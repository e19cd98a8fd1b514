// VariantChangeTypeEx against the results Windows gives, grouped by target
// type. Every expected value is a literal taken from Windows' behaviour.
#include <orafon/win/oleauto.h>
#include <orafon/win/winbase.h>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>

namespace {

constexpr LCID kEnUs = 0x0409;
constexpr LCID kDeDe = 0x0407;
constexpr LCID kFrFr = 0x040C;
constexpr LCID kEnGb = 0x0809;

// ---- Sources ------------------------------------------------------------

struct Source {
    VARTYPE vt;
    LONGLONG i = 0; // integers, booleans, currency (scaled by 10000), DECIMAL low 64 bits
    double d = 0;   // R4, R8, DATE
    const char16_t *s = nullptr;
    BYTE scale = 0, sign = 0; // DECIMAL
    ULONG hi = 0;
};

Source Str(const char16_t *s)
{
    return {VT_BSTR, 0, 0, s};
}
Source I1(LONGLONG v)
{
    return {VT_I1, v};
}
Source UI1(LONGLONG v)
{
    return {VT_UI1, v};
}
Source I2(LONGLONG v)
{
    return {VT_I2, v};
}
Source UI2(LONGLONG v)
{
    return {VT_UI2, v};
}
Source I4(LONGLONG v)
{
    return {VT_I4, v};
}
Source UI4(LONGLONG v)
{
    return {VT_UI4, v};
}
Source I8(LONGLONG v)
{
    return {VT_I8, v};
}
Source UI8(ULONGLONG v)
{
    return {VT_UI8, static_cast<LONGLONG>(v)};
}
Source R4(double v)
{
    return {VT_R4, 0, v};
}
Source R8(double v)
{
    return {VT_R8, 0, v};
}
Source Date(double v)
{
    return {VT_DATE, 0, v};
}
Source Cy(LONGLONG scaled)
{
    return {VT_CY, scaled};
}
Source Bool(bool b)
{
    return {VT_BOOL, b ? -1 : 0};
}
Source Empty()
{
    return {VT_EMPTY};
}
Source Null()
{
    return {VT_NULL};
}
Source Error(LONGLONG scode)
{
    return {VT_ERROR, scode};
}
Source Dec(BYTE scale, BYTE sign, ULONG hi, ULONGLONG lo)
{
    return {VT_DECIMAL, static_cast<LONGLONG>(lo), 0, nullptr, scale, sign, hi};
}

// Builds the VARIANT (owning its string) for a source.
VARIANT Build(const Source &src)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = src.vt;
    switch (src.vt) {
    case VT_DECIMAL: {
        DECIMAL dec{};
        dec.scale = src.scale;
        dec.sign = src.sign;
        dec.Hi32 = src.hi;
        dec.Lo64 = static_cast<ULONGLONG>(src.i);
        std::memcpy(&v, &dec, sizeof dec); // a DECIMAL overlays the whole VARIANT
        v.vt = VT_DECIMAL;
        break;
    }
    case VT_BSTR:
        v.bstrVal = SysAllocString(src.s);
        break;
    case VT_R4:
        v.fltVal = static_cast<float>(src.d);
        break;
    case VT_R8:
    case VT_DATE:
        v.dblVal = src.d;
        break;
    case VT_CY:
        v.cyVal.int64 = src.i;
        break;
    case VT_BOOL:
        v.boolVal = static_cast<VARIANT_BOOL>(src.i);
        break;
    case VT_I1:
        v.cVal = static_cast<CHAR>(src.i);
        break;
    case VT_UI1:
        v.bVal = static_cast<BYTE>(src.i);
        break;
    case VT_I2:
        v.iVal = static_cast<SHORT>(src.i);
        break;
    case VT_UI2:
        v.uiVal = static_cast<USHORT>(src.i);
        break;
    case VT_I4:
    case VT_ERROR:
        v.lVal = static_cast<LONG>(src.i);
        break;
    case VT_UI4:
        v.ulVal = static_cast<ULONG>(src.i);
        break;
    default:
        v.llVal = src.i;
        break;
    }
    return v;
}

// ---- Expectations -------------------------------------------------------

struct Expected {
    HRESULT hr = S_OK;
    LONGLONG i = 0;
    double d = 0;
    const char16_t *s = nullptr;
};

Expected Int(LONGLONG v)
{
    return {S_OK, v};
}
Expected UInt(ULONGLONG v)
{
    return {S_OK, static_cast<LONGLONG>(v)};
}
Expected Real(double v)
{
    return {S_OK, 0, v};
}
Expected Text(const char16_t *s)
{
    return {S_OK, 0, 0, s};
}
Expected Scaled(LONGLONG v)
{
    return {S_OK, v};
}
Expected True()
{
    return {S_OK, -1};
}
Expected False()
{
    return {S_OK, 0};
}
Expected Fails(HRESULT hr)
{
    return {hr};
}
const Expected kOverflow = Fails(DISP_E_OVERFLOW);
const Expected kMismatch = Fails(DISP_E_TYPEMISMATCH);

struct Row {
    Source src;
    VARTYPE to;
    Expected want;
    LCID lcid = kEnUs;
    USHORT flags = 0;
};

std::string Narrow(const char16_t *s)
{
    std::string out;
    for (; s && *s; ++s)
        out += *s < 0x80 ? static_cast<char>(*s) : '?';
    return out;
}

void PrintTo(const Row &row, std::ostream *os)
{
    *os << "vt " << row.src.vt;
    if (row.src.vt == VT_BSTR)
        *os << " \"" << Narrow(row.src.s) << "\"";
    else
        *os << " i=" << row.src.i << " d=" << row.src.d;
    *os << " -> vt " << row.to << " lcid " << std::hex << row.lcid << " flags " << row.flags << std::dec;
}

// The result as a signed number, for the integer, boolean and currency targets.
LONGLONG IntegerResult(const VARIANT &v)
{
    switch (v.vt) {
    case VT_I1:
        return static_cast<signed char>(v.cVal);
    case VT_UI1:
        return v.bVal;
    case VT_I2:
        return v.iVal;
    case VT_UI2:
        return v.uiVal;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
        return v.lVal;
    case VT_UI4:
    case VT_UINT:
        return v.ulVal;
    case VT_BOOL:
        return v.boolVal;
    case VT_CY:
        return v.cyVal.int64;
    default:
        return v.llVal;
    }
}

void Check(const Row &row)
{
    VARIANT src = Build(row.src);
    VARIANT dst;
    VariantInit(&dst);
    HRESULT hr = VariantChangeTypeEx(&dst, &src, row.lcid, row.flags, row.to);
    ASSERT_EQ(hr, row.want.hr) << std::hex << "got 0x" << hr;
    if (SUCCEEDED(hr)) {
        ASSERT_EQ(dst.vt, row.to);
        switch (row.to) {
        case VT_EMPTY:
        case VT_NULL:
            break;
        case VT_R4:
            EXPECT_EQ(dst.fltVal, static_cast<float>(row.want.d));
            break;
        case VT_R8:
            EXPECT_EQ(dst.dblVal, row.want.d);
            break;
        case VT_DATE:
            EXPECT_NEAR(dst.date, row.want.d, 1e-9);
            break;
        case VT_BSTR:
            ASSERT_NE(dst.bstrVal, nullptr);
            EXPECT_EQ(std::u16string(dst.bstrVal), std::u16string(row.want.s));
            EXPECT_EQ(SysStringLen(dst.bstrVal), std::char_traits<char16_t>::length(row.want.s));
            break;
        default:
            EXPECT_EQ(IntegerResult(dst), row.want.i);
            break;
        }
    } else {
        EXPECT_EQ(dst.vt, VT_EMPTY); // untouched on failure
    }
    VariantClear(&src);
    VariantClear(&dst);
}

class Conversion : public testing::TestWithParam<Row> {};
TEST_P(Conversion, MatchesWindows)
{
    Check(GetParam());
}

constexpr LONGLONG kI64Max = std::numeric_limits<LONGLONG>::max();
constexpr LONGLONG kI64Min = std::numeric_limits<LONGLONG>::min();

// ---- Text to VT_I4 --------------------------------------------------------
const Row kTextToI4[] = {
    {Str(u"0"), VT_I4, Int(0)},
    {Str(u"123"), VT_I4, Int(123)},
    {Str(u"-123"), VT_I4, Int(-123)},
    {Str(u"+7"), VT_I4, Int(7)},
    {Str(u"  42  "), VT_I4, Int(42)},
    {Str(u"\t42\r\n"), VT_I4, Int(42)},
    {Str(u"- 42"), VT_I4, Int(-42)},
    {Str(u"42-"), VT_I4, Int(-42)},
    {Str(u"42+"), VT_I4, Int(42)},
    {Str(u"(42)"), VT_I4, Int(-42)},
    {Str(u"1,000"), VT_I4, Int(1000)},
    {Str(u"1,234,567"), VT_I4, Int(1234567)},
    {Str(u"1,,000"), VT_I4, Int(1000)},
    {Str(u"1,00,0"), VT_I4, Int(1000)},
    {Str(u"1,"), VT_I4, Int(1)},
    {Str(u",1"), VT_I4, kMismatch},
    {Str(u"$12"), VT_I4, Int(12)},
    {Str(u"12$"), VT_I4, Int(12)},
    {Str(u"-$12"), VT_I4, Int(-12)},
    {Str(u"$-12"), VT_I4, Int(-12)},
    {Str(u"($12)"), VT_I4, Int(-12)},
    {Str(u"$1,234"), VT_I4, Int(1234)},
    {Str(u"$$12"), VT_I4, kMismatch},
    {Str(u"12$$"), VT_I4, Int(12)},
    {Str(u"0.5"), VT_I4, Int(0)},
    {Str(u"1.5"), VT_I4, Int(2)},
    {Str(u"2.5"), VT_I4, Int(2)},
    {Str(u"3.5"), VT_I4, Int(4)},
    {Str(u"2.51"), VT_I4, Int(3)},
    {Str(u"-0.5"), VT_I4, Int(0)},
    {Str(u"-0.6"), VT_I4, Int(-1)},
    {Str(u"-1.5"), VT_I4, Int(-2)},
    {Str(u"-2.5"), VT_I4, Int(-2)},
    {Str(u"1."), VT_I4, Int(1)},
    {Str(u".4"), VT_I4, Int(0)},
    {Str(u"1e3"), VT_I4, Int(1000)},
    {Str(u"1.5e2"), VT_I4, Int(150)},
    {Str(u"1E+2"), VT_I4, Int(100)},
    {Str(u"25e-1"), VT_I4, Int(2)},
    {Str(u"1e10"), VT_I4, kOverflow},
    {Str(u"&H10"), VT_I4, Int(16)},
    {Str(u"&hff"), VT_I4, Int(255)},
    {Str(u"&O17"), VT_I4, Int(15)},
    {Str(u"&o777"), VT_I4, Int(511)},
    {Str(u"&HFFFFFFFF"), VT_I4, Int(-1)},
    {Str(u"&H80000000"), VT_I4, Int(-2147483647 - 1)},
    {Str(u"&H100000000"), VT_I4, kOverflow},
    {Str(u"&H"), VT_I4, kMismatch},
    {Str(u"2147483647"), VT_I4, Int(2147483647)},
    {Str(u"2147483648"), VT_I4, kOverflow},
    {Str(u"-2147483648"), VT_I4, Int(-2147483647 - 1)},
    {Str(u"-2147483649"), VT_I4, kOverflow},
    {Str(u"2147483647.4"), VT_I4, Int(2147483647)},
    {Str(u"2147483647.5"), VT_I4, kOverflow},
    {Str(u"-2147483648.5"), VT_I4, Int(-2147483647 - 1)},
    {Str(u"99999999999999999999999"), VT_I4, kOverflow},
    {Str(u""), VT_I4, kMismatch},
    {Str(u"   "), VT_I4, kMismatch},
    {Str(nullptr), VT_I4, kMismatch},
    {Str(u"abc"), VT_I4, kMismatch},
    {Str(u"12abc"), VT_I4, kMismatch},
    {Str(u"1.2.3"), VT_I4, kMismatch},
    {Str(u"--1"), VT_I4, kMismatch},
    {Str(u"+-1"), VT_I4, kMismatch},
    {Str(u"1-2"), VT_I4, kMismatch},
    {Str(u"(1"), VT_I4, kMismatch},
    {Str(u"1)"), VT_I4, kMismatch},
    {Str(u"()"), VT_I4, kMismatch},
    {Str(u"0x10"), VT_I4, kMismatch},
    {Str(u"12 34"), VT_I4, kMismatch},
    {Str(u"\u0660"), VT_I4, kMismatch}, // Arabic-Indic digit zero
    {Str(u"12"), VT_INT, Int(12)},
};
INSTANTIATE_TEST_SUITE_P(TextToI4, Conversion, testing::ValuesIn(kTextToI4));

// ---- Text to the other integer sizes: the overflow edges ------------------
const Row kTextToIntegers[] = {
    {Str(u"127"), VT_I1, Int(127)},
    {Str(u"128"), VT_I1, kOverflow},
    {Str(u"-128"), VT_I1, Int(-128)},
    {Str(u"-129"), VT_I1, kOverflow},
    {Str(u"127.49"), VT_I1, Int(127)},
    {Str(u"127.5"), VT_I1, kOverflow},
    {Str(u"-128.5"), VT_I1, Int(-128)},
    {Str(u"&H82"), VT_I1, Int(-126)},
    {Str(u"255"), VT_UI1, Int(255)},
    {Str(u"256"), VT_UI1, kOverflow},
    {Str(u"-1"), VT_UI1, kOverflow},
    {Str(u"-0.5"), VT_UI1, Int(0)},
    {Str(u"-0.6"), VT_UI1, kOverflow},
    {Str(u"&HFF"), VT_UI1, Int(255)},
    {Str(u"&H100"), VT_UI1, kOverflow},
    {Str(u"32767"), VT_I2, Int(32767)},
    {Str(u"32768"), VT_I2, kOverflow},
    {Str(u"-32768"), VT_I2, Int(-32768)},
    {Str(u"-32769"), VT_I2, kOverflow},
    {Str(u"&HFFFF"), VT_I2, Int(-1)},
    {Str(u"&H8002"), VT_I2, Int(-32766)},
    {Str(u"65535"), VT_UI2, Int(65535)},
    {Str(u"65536"), VT_UI2, kOverflow},
    {Str(u"4294967295"), VT_UI4, UInt(4294967295u)},
    {Str(u"4294967296"), VT_UI4, kOverflow},
    {Str(u"-1"), VT_UI4, kOverflow},
    {Str(u"4294967295"), VT_UINT, UInt(4294967295u)},
    {Str(u"9223372036854775807"), VT_I8, Int(kI64Max)},
    {Str(u"9223372036854775808"), VT_I8, kOverflow},
    {Str(u"-9223372036854775808"), VT_I8, Int(kI64Min)},
    {Str(u"-9223372036854775809"), VT_I8, kOverflow},
    {Str(u"&HFFFFFFFFFFFFFFFF"), VT_I8, Int(-1)},
    {Str(u"18446744073709551615"), VT_UI8, UInt(18446744073709551615ull)},
    {Str(u"18446744073709551616"), VT_UI8, kOverflow},
};
INSTANTIATE_TEST_SUITE_P(TextToIntegers, Conversion, testing::ValuesIn(kTextToIntegers));

// ---- Floating and currency to integers: half to even, then the range -------
const Row kRounding[] = {
    {R8(0.5), VT_I4, Int(0)},
    {R8(1.5), VT_I4, Int(2)},
    {R8(2.5), VT_I4, Int(2)},
    {R8(3.5), VT_I4, Int(4)},
    {R8(-0.5), VT_I4, Int(0)},
    {R8(-1.5), VT_I4, Int(-2)},
    {R8(-2.5), VT_I4, Int(-2)},
    {R8(0.4999), VT_I4, Int(0)},
    {R8(0.5001), VT_I4, Int(1)},
    {R8(-0.6), VT_I4, Int(-1)},
    {R8(2147483647.49), VT_I4, Int(2147483647)},
    {R8(2147483647.5), VT_I4, kOverflow},
    {R8(-2147483648.5), VT_I4, Int(-2147483647 - 1)},
    {R8(-2147483648.51), VT_I4, kOverflow},
    {R8(1e10), VT_I4, kOverflow},
    {R8(std::numeric_limits<double>::quiet_NaN()), VT_I4, kOverflow},
    {R8(std::numeric_limits<double>::infinity()), VT_I4, kOverflow},
    {R8(127.49), VT_I1, Int(127)},
    {R8(127.5), VT_I1, kOverflow},
    {R8(-128.5), VT_I1, Int(-128)},
    {R8(-128.51), VT_I1, kOverflow},
    {R8(-129.0), VT_I1, kOverflow},
    {R8(255.49), VT_UI1, Int(255)},
    {R8(255.5), VT_UI1, kOverflow},
    {R8(-0.5), VT_UI1, Int(0)},
    {R8(-0.51), VT_UI1, kOverflow},
    {R8(32767.5), VT_I2, kOverflow},
    {R8(-32768.5), VT_I2, Int(-32768)},
    {R8(65534.5), VT_UI2, Int(65534)},
    {R8(65535.5), VT_UI2, kOverflow},
    {R8(4294967294.5), VT_UI4, UInt(4294967294u)},
    {R8(4294967295.5), VT_UI4, kOverflow},
    {R8(-0.5), VT_UI4, Int(0)},
    {R8(9223372036854775808.0), VT_I8, kOverflow},
    {R8(-9223372036854775808.0), VT_I8, Int(kI64Min)},
    {R8(1e19), VT_UI8, UInt(10000000000000000000ull)},
    {R8(18446744073709551616.0), VT_UI8, kOverflow},
    {R4(2.5), VT_I2, Int(2)},
    {R4(3.5), VT_I2, Int(4)},
    {R4(-1.5), VT_I1, Int(-2)},
    {Date(1.5), VT_I4, Int(2)},
    {Date(2.5), VT_I4, Int(2)},
    {Cy(25000), VT_I4, Int(2)},
    {Cy(35000), VT_I4, Int(4)},
    {Cy(-25000), VT_I4, Int(-2)},
    {Cy(5000), VT_I4, Int(0)},
    {Cy(15000), VT_I4, Int(2)},
    {Cy(5001), VT_I4, Int(1)},
    {Cy(1275000), VT_I1, kOverflow},
    {Cy(-10000), VT_UI1, kOverflow},
};
INSTANTIATE_TEST_SUITE_P(FloatingToIntegers, Conversion, testing::ValuesIn(kRounding));

// ---- Integers to integers and booleans to numbers --------------------------
const Row kIntegers[] = {
    {I4(128), VT_I1, kOverflow},
    {I4(-128), VT_I1, Int(-128)},
    {I4(-1), VT_UI1, kOverflow},
    {I4(255), VT_UI1, Int(255)},
    // Between the signed and unsigned types of one size the bits are kept.
    {UI1(255), VT_I1, Int(-1)},
    {I1(-1), VT_UI1, Int(255)},
    {I2(-2), VT_UI2, Int(65534)},
    {UI4(4294967295u), VT_I4, Int(-1)},
    {I4(-1), VT_UINT, UInt(4294967295u)},
    {Source{VT_INT, -5}, VT_UI4, UInt(4294967291u)},
    {Source{VT_INT, -5}, VT_I4, Int(-5)},
    {I8(-1), VT_UI8, UInt(18446744073709551615ull)},
    {UI8(18446744073709551615ull), VT_I8, Int(-1)},
    {I4(-1), VT_UI8, kOverflow},
    {I2(-1), VT_UI4, kOverflow},
    {I2(-32768), VT_I4, Int(-32768)},
    {I8(2147483648LL), VT_I4, kOverflow},
    {I8(-2147483648LL), VT_I4, Int(-2147483647 - 1)},
    {I1(-5), VT_I8, Int(-5)},
    {UI2(65535), VT_I4, Int(65535)},
    {Bool(true), VT_I4, Int(-1)},
    {Bool(true), VT_I2, Int(-1)},
    {Bool(true), VT_I1, Int(-1)},
    {Bool(true), VT_UI1, Int(255)},
    {Bool(true), VT_UI2, Int(65535)},
    {Bool(true), VT_UI4, UInt(4294967295u)},
    {Bool(true), VT_UI8, UInt(18446744073709551615ull)},
    {Bool(false), VT_I4, Int(0)},
    {Bool(true), VT_R8, Real(-1.0)},
    {Bool(true), VT_CY, Scaled(-10000)},
    {Bool(true), VT_DATE, Real(-1.0)},
};
INSTANTIATE_TEST_SUITE_P(Integers, Conversion, testing::ValuesIn(kIntegers));

// ---- To VT_R8 and VT_R4 --------------------------------------------------
const Row kToReal[] = {
    {Str(u"1.5"), VT_R8, Real(1.5)},
    {Str(u"-0.25"), VT_R8, Real(-0.25)},
    {Str(u"0.1"), VT_R8, Real(0.1)},
    {Str(u".5"), VT_R8, Real(0.5)},
    {Str(u"1,234.5"), VT_R8, Real(1234.5)},
    {Str(u"$1,234.56"), VT_R8, Real(1234.56)},
    {Str(u"(2.5)"), VT_R8, Real(-2.5)},
    {Str(u"2.5-"), VT_R8, Real(-2.5)},
    {Str(u"1e-5"), VT_R8, Real(1e-5)},
    {Str(u"1.5e20"), VT_R8, Real(1.5e20)},
    {Str(u"1e308"), VT_R8, Real(1e308)},
    {Str(u"1e309"), VT_R8, kOverflow},
    {Str(u"1e-400"), VT_R8, Real(0.0)},
    {Str(u"&H10"), VT_R8, Real(16.0)},
    {Str(u"123456789012345678"), VT_R8, Real(123456789012345678.0)},
    {Str(u"abc"), VT_R8, kMismatch},
    {Str(u""), VT_R8, kMismatch},
    {Str(u"1.2.3"), VT_R8, kMismatch},
    {Str(u"1..2"), VT_R8, kMismatch},
    {I4(-7), VT_R8, Real(-7.0)},
    {UI8(18446744073709551615ull), VT_R8, Real(18446744073709551616.0)},
    {Cy(15000), VT_R8, Real(1.5)},
    {Cy(-6000), VT_R8, Real(-0.6)},
    {Date(36527.5), VT_R8, Real(36527.5)},
    {R4(1.5), VT_R8, Real(1.5)},
    {Str(u"1.5"), VT_R4, Real(1.5)},
    {Str(u"0.1"), VT_R4, Real(0.1)},
    {Str(u"3.5e38"), VT_R4, kOverflow},
    {R8(1e39), VT_R4, kOverflow},
    {R8(-1e39), VT_R4, kOverflow},
    {R8(0.1), VT_R4, Real(0.1)},
    {I4(16777217), VT_R4, Real(16777216.0)},
};
INSTANTIATE_TEST_SUITE_P(ToReal, Conversion, testing::ValuesIn(kToReal));

// ---- To VT_BOOL ------------------------------------------------------------
const Row kToBool[] = {
    {Str(u"True"), VT_BOOL, True()},
    {Str(u"true"), VT_BOOL, True()},
    {Str(u"TRUE"), VT_BOOL, True()},
    {Str(u"False"), VT_BOOL, False()},
    {Str(u"false"), VT_BOOL, False()},
    {Str(u"#TRUE#"), VT_BOOL, True()},
    {Str(u"#FALSE#"), VT_BOOL, False()},
    {Str(u"#True#"), VT_BOOL, kMismatch},
    {Str(u"0"), VT_BOOL, False()},
    {Str(u"1"), VT_BOOL, True()},
    {Str(u"-1"), VT_BOOL, True()},
    {Str(u"+1"), VT_BOOL, True()},
    {Str(u"0.1"), VT_BOOL, True()},
    {Str(u"0.0"), VT_BOOL, False()},
    {Str(u"Yes"), VT_BOOL, kMismatch},
    {Str(u"On"), VT_BOOL, kMismatch},
    {Str(u""), VT_BOOL, kMismatch},
    {Str(u"True"), VT_BOOL, True(), kFrFr},
    {Str(u"faux"), VT_BOOL, kMismatch, kFrFr},
    {Str(u"faux"), VT_BOOL, False(), kFrFr, VARIANT_LOCALBOOL},
    {Str(u"Vrai"), VT_BOOL, True(), kFrFr, VARIANT_LOCALBOOL},
    {I4(5), VT_BOOL, True()},
    {I4(0), VT_BOOL, False()},
    {I4(-2147483647 - 1), VT_BOOL, True()},
    {UI1(0), VT_BOOL, False()},
    {R8(0.0), VT_BOOL, False()},
    {R8(-0.0), VT_BOOL, False()},
    {R8(0.4), VT_BOOL, True()},
    {R4(-0.5), VT_BOOL, True()},
    {Cy(0), VT_BOOL, False()},
    {Cy(1), VT_BOOL, True()},
    {Date(0.0), VT_BOOL, False()},
    // Numbers are read as doubles: past their range the text overflows.
    {Str(u"1e400"), VT_BOOL, kOverflow},
    {Str(u"-1E400"), VT_BOOL, kOverflow},
    {Str(u"1.8e308"), VT_BOOL, kOverflow},
    {Str(u"1e308"), VT_BOOL, True()},
    {Str(u"1e-400"), VT_BOOL, False()},
    {Str(u"0e400"), VT_BOOL, False()},
};
INSTANTIATE_TEST_SUITE_P(ToBool, Conversion, testing::ValuesIn(kToBool));

// ---- To VT_CY ----------------------------------------------------------------
const Row kToCurrency[] = {
    {Str(u"1.5"), VT_CY, Scaled(15000)},
    {Str(u"1.23456"), VT_CY, Scaled(12346)},
    {Str(u"1.00005"), VT_CY, Scaled(10000)},
    {Str(u"1.00015"), VT_CY, Scaled(10002)},
    {Str(u"-1.00005"), VT_CY, Scaled(-10000)},
    {Str(u"$1,234.56"), VT_CY, Scaled(12345600)},
    {Str(u"(5)"), VT_CY, Scaled(-50000)},
    {Str(u"922337203685477.5807"), VT_CY, Scaled(kI64Max)},
    {Str(u"922337203685477.5808"), VT_CY, kOverflow},
    {Str(u"-922337203685477.5808"), VT_CY, Scaled(kI64Min)},
    {Str(u"abc"), VT_CY, kMismatch},
    {R8(1.5), VT_CY, Scaled(15000)},
    {R8(-1.0), VT_CY, Scaled(-10000)},
    {R8(0.5), VT_CY, Scaled(5000)},
    {R8(1e15), VT_CY, kOverflow},
    {R8(-4611686018427388416.1), VT_CY, kOverflow},
    {I4(2147483647), VT_CY, Scaled(21474836470000LL)},
    {I4(-1), VT_CY, Scaled(-10000)},
    {I8(kI64Max), VT_CY, kOverflow},
    {I8(922337203685477LL), VT_CY, Scaled(9223372036854770000LL)},
    {I8(922337203685478LL), VT_CY, kOverflow},
    {UI1(200), VT_CY, Scaled(2000000)},
    // Hexadecimal and octal text: a 64-bit pattern, wrapping past the signed range.
    {Str(u"&HFFFF"), VT_CY, Scaled(655350000LL)},
    {Str(u"&O177777"), VT_CY, Scaled(655350000LL)},
    {Str(u"&HFFFFFFFF"), VT_CY, Scaled(42949672950000LL)},
    {Str(u"&H346DC5D638865"), VT_CY, Scaled(9223372036854770000LL)},
    {Str(u"&H346DC5D638866"), VT_CY, kOverflow},
    {Str(u"&HFFFFFFFFFFFFFFFF"), VT_CY, Scaled(-10000)},
    {Str(u"&HFFFCB923A29C779B"), VT_CY, Scaled(-9223372036854770000LL)},
    {Str(u"&HFFFCB923A29C779A"), VT_CY, kOverflow},
    {Str(u"&H7FFFFFFFFFFFFFFF"), VT_CY, kOverflow},
    {Str(u"&H8000000000000000"), VT_CY, kOverflow},
    {Str(u"&H10000000000000000"), VT_CY, kOverflow},
    // Text at and just past the limits, rounded half to even.
    {Str(u"922337203685477.58074999"), VT_CY, Scaled(kI64Max)},
    {Str(u"922337203685477.58075"), VT_CY, kOverflow},
    {Str(u"-922337203685477.58085"), VT_CY, Scaled(kI64Min)},
    {Str(u"-922337203685477.58086"), VT_CY, kOverflow},
    {Str(u"9.223372036854775807E14"), VT_CY, Scaled(kI64Max)},
    {Str(u"1E15"), VT_CY, kOverflow},
    // Large doubles reach their amount exactly, not through a rounded product.
    {R8(123456789012345.0), VT_CY, Scaled(1234567890123450000LL)},
    {R8(-123456789012345.0), VT_CY, Scaled(-1234567890123450000LL)},
    {R8(922337203685477.0), VT_CY, Scaled(9223372036854770000LL)},
    {R8(922337203685477.5), VT_CY, Scaled(9223372036854775000LL)},
    {R8(-922337203685477.5), VT_CY, Scaled(-9223372036854775000LL)},
    {R8(922337203685477.625), VT_CY, kOverflow},
    {R8(123456789012345.671875), VT_CY, Scaled(1234567890123456719LL)},
};
INSTANTIATE_TEST_SUITE_P(ToCurrency, Conversion, testing::ValuesIn(kToCurrency));

// ---- To and from VT_DATE --------------------------------------------------------
const Row kToDate[] = {
    {Str(u"1/2/2000"), VT_DATE, Real(36527.0)},
    {Str(u"2000-01-02"), VT_DATE, Real(36527.0)},
    {Str(u"12:30:00"), VT_DATE, Real(0.520833333333333)},
    {Str(u"January 2, 2000"), VT_DATE, Real(36527.0)},
    {Str(u"1/2/2000 3:04:05 PM"), VT_DATE, Real(36527.627835648148)},
    {Str(u"2000-01-02 15:04:05"), VT_DATE, Real(36527.627835648148)},
    {Str(u"2 January, 1970"), VT_DATE, Real(25570.0)},
    {Str(u"2 January 1970"), VT_DATE, Real(25570.0)},
    {Str(u"2 Jan 1970"), VT_DATE, Real(25570.0)},
    {Str(u"2/Jan/1970"), VT_DATE, Real(25570.0)},
    {Str(u"2-Jan-1970"), VT_DATE, Real(25570.0)},
    {Str(u"1 2 1970"), VT_DATE, Real(25570.0)},
    {Str(u"1/2/1970"), VT_DATE, Real(25570.0)},
    {Str(u"1-2-1970"), VT_DATE, Real(25570.0)},
    {Str(u"1 2 3"), VT_DATE, Real(37623.0)},
    {Str(u"14 2 3"), VT_DATE, Real(41673.0)},
    {Str(u"2 14 3"), VT_DATE, Real(37666.0)},
    {Str(u"2 3 14"), VT_DATE, Real(41673.0)},
    {Str(u"32 2 3"), VT_DATE, Real(11722.0)},
    {Str(u"2 3 32"), VT_DATE, Real(11722.0)},
    {Str(u"1 2 29"), VT_DATE, Real(47120.0)},
    {Str(u"1 2 30"), VT_DATE, Real(10960.0)},
    {Str(u"1 2 31"), VT_DATE, Real(11325.0)},
    {Str(u"30 2"), VT_DATE, Real(10990.0)},
    {Str(u"Jan 35"), VT_DATE, Real(12785.0)},
    {Str(u"35-Jan"), VT_DATE, Real(12785.0)},
    {Str(u"12/30/1899"), VT_DATE, Real(0.0)},
    {Str(u"12/31/9999"), VT_DATE, Real(2958465.0)},
    {Str(u"1 am"), VT_DATE, Real(0.0416666666666667)},
    {Str(u"0:40"), VT_DATE, Real(0.0277777777777778)},
    {Str(u"3:5"), VT_DATE, Real(0.128472222222222)},
    {Str(u"2.5"), VT_DATE, Real(0.0868055555555556)},
    {Str(u"1.5.2"), VT_DATE, Real(0.0451620370370370)},
    {Str(u"00:00 AM"), VT_DATE, Real(0.0)},
    {Str(u"12:59 AM"), VT_DATE, Real(0.0409722222222222)},
    {Str(u"00:00 pm"), VT_DATE, Real(0.5)},
    {Str(u"12:59 p"), VT_DATE, Real(0.540972222222222)},
    {Str(u"13:00 AM"), VT_DATE, Real(0.541666666666667)},
    {Str(u"1 2 3 4.5"), VT_DATE, Real(37623.1701388889)},
    {Str(u"1 2 3 4.5.6"), VT_DATE, Real(37623.1702083333)},
    {Str(u"True"), VT_DATE, kMismatch},
    {Str(u"0"), VT_DATE, kMismatch},
    {Str(u"-1.1"), VT_DATE, kMismatch},
    {Str(u"1.1-"), VT_DATE, kMismatch},
    {Str(u"1;2;3"), VT_DATE, kMismatch},
    {Str(u"(1:2)"), VT_DATE, kMismatch},
    {Str(u"24:00"), VT_DATE, kMismatch},
    {Str(u"0:60"), VT_DATE, kMismatch},
    {Str(u"1 2 am"), VT_DATE, kMismatch},
    {Str(u"1.5 2"), VT_DATE, kMismatch},
    {Str(u"1 2 3 4"), VT_DATE, kMismatch},
    {Str(u"32 49"), VT_DATE, kMismatch},
    {Str(u"02.01.1970 00:00:00"), VT_DATE, kMismatch},
    {Str(u""), VT_DATE, kMismatch},
    {I4(2958465), VT_DATE, Real(2958465.0)},
    {I4(2958466), VT_DATE, kOverflow},
    {I4(-657434), VT_DATE, Real(-657434.0)},
    {I4(-657435), VT_DATE, kOverflow},
    {R8(1.5), VT_DATE, Real(1.5)},
    {R8(2958466.0), VT_DATE, kOverflow},
    {Cy(15000), VT_DATE, Real(1.5)},
};
INSTANTIATE_TEST_SUITE_P(ToDate, Conversion, testing::ValuesIn(kToDate));

// ---- To VT_BSTR ------------------------------------------------------------------
const Row kToText[] = {
    {I4(-42), VT_BSTR, Text(u"-42")},
    {I1(-128), VT_BSTR, Text(u"-128")},
    {UI1(255), VT_BSTR, Text(u"255")},
    {UI4(4294967295u), VT_BSTR, Text(u"4294967295")},
    {I8(kI64Min), VT_BSTR, Text(u"-9223372036854775808")},
    {UI8(18446744073709551615ull), VT_BSTR, Text(u"18446744073709551615")},
    {R8(1.5), VT_BSTR, Text(u"1.5")},
    {R8(-2.5), VT_BSTR, Text(u"-2.5")},
    {R8(100.0), VT_BSTR, Text(u"100")},
    {R8(0.1), VT_BSTR, Text(u"0.1")},
    {R8(1.0 / 3.0), VT_BSTR, Text(u"0.333333333333333")},
    {R8(2.0 / 3.0), VT_BSTR, Text(u"0.666666666666667")},
    {R8(123456789012345.0), VT_BSTR, Text(u"123456789012345")},
    {R8(1234567890123456.0), VT_BSTR, Text(u"1.23456789012346E+15")},
    {R8(1e20), VT_BSTR, Text(u"1E+20")},
    {R8(-0.0), VT_BSTR, Text(u"0")},
    {R8(0.0001), VT_BSTR, Text(u"0.0001")},
    {R8(1e-5), VT_BSTR, Text(u"1E-05")},
    {R8(-1.5e-10), VT_BSTR, Text(u"-1.5E-10")},
    {R8(999999999999999.0), VT_BSTR, Text(u"999999999999999")},
    {R8(9999999999999999.0), VT_BSTR, Text(u"1E+16")},
    {R8(1.5), VT_BSTR, Text(u"1,5"), kDeDe},
    {R8(0.5), VT_BSTR, Text(u"0,5"), kFrFr},
    {R4(1.5), VT_BSTR, Text(u"1.5")},
    {R4(0.1), VT_BSTR, Text(u"0.1")},
    {R4(3.14159274), VT_BSTR, Text(u"3.141593")},
    {R4(654322.23456), VT_BSTR, Text(u"654322.3")},
    {Cy(0), VT_BSTR, Text(u"0")},
    {Cy(10000), VT_BSTR, Text(u"1")},
    {Cy(15000), VT_BSTR, Text(u"1.5")},
    {Cy(-15000), VT_BSTR, Text(u"-1.5")},
    {Cy(9), VT_BSTR, Text(u"0.0009")},
    {Cy(4294967295LL), VT_BSTR, Text(u"429496.7295")},
    {Cy(kI64Max), VT_BSTR, Text(u"922337203685477.5807")},
    {Cy(9), VT_BSTR, Text(u"0,0009"), kDeDe},
    {Date(0.0), VT_BSTR, Text(u"12:00:00 AM")},
    {Date(0.5), VT_BSTR, Text(u"12:00:00 PM")},
    {Date(0.627835648148148), VT_BSTR, Text(u"3:04:05 PM")},
    {Date(-0.25), VT_BSTR, Text(u"6:00:00 AM")},
    {Date(-5.25), VT_BSTR, Text(u"12/25/1899 6:00:00 AM")},
    {Date(29221.9999999), VT_BSTR, Text(u"1/2/1980")},
    {Date(3.34), VT_BSTR, Text(u"1/2/1900 8:09:36 AM")},
    {Date(3339.34), VT_BSTR, Text(u"2/20/1909 8:09:36 AM")},
    {Date(365.0), VT_BSTR, Text(u"12/30/1900")},
    {Date(365.25), VT_BSTR, Text(u"12/30/1900 6:00:00 AM")},
    {Date(1461.0), VT_BSTR, Text(u"12/31/1903")},
    {Date(1461.5), VT_BSTR, Text(u"12/31/1903 12:00:00 PM")},
    {Date(2958465.0), VT_BSTR, Text(u"12/31/9999")},
    {Date(25570.0), VT_BSTR, Text(u"1/2/1970")},
    {Date(36527.0), VT_BSTR, Text(u"1/2/2000")},
    {Date(36527.627835648148), VT_BSTR, Text(u"1/2/2000 3:04:05 PM")},
    {Date(-1.0), VT_BSTR, Text(u"12/29/1899")},
    {Date(36527.5), VT_BSTR, Text(u"02.01.2000 12:00:00"), kDeDe},
    {Date(36527.0), VT_BSTR, Text(u"02/01/2000"), kEnGb},
    {Bool(true), VT_BSTR, Text(u"-1")},
    {Bool(false), VT_BSTR, Text(u"0")},
    {Bool(true), VT_BSTR, Text(u"True"), kEnUs, VARIANT_ALPHABOOL},
    {Bool(false), VT_BSTR, Text(u"False"), kEnUs, VARIANT_ALPHABOOL},
    {Bool(false), VT_BSTR, Text(u"False"), kFrFr, VARIANT_ALPHABOOL},
    {Bool(false), VT_BSTR, Text(u"Faux"), kFrFr, VARIANT_LOCALBOOL},
    {Bool(false), VT_BSTR, Text(u"Faux"), kFrFr, VARIANT_ALPHABOOL | VARIANT_LOCALBOOL},
    {Empty(), VT_BSTR, Text(u"")},
};
INSTANTIATE_TEST_SUITE_P(ToText, Conversion, testing::ValuesIn(kToText));

// ---- VT_EMPTY, VT_NULL, VT_ERROR and invalid types --------------------------------
const Row kSpecial[] = {
    {Empty(), VT_I4, Int(0)},
    {Empty(), VT_UI1, Int(0)},
    {Empty(), VT_R8, Real(0.0)},
    {Empty(), VT_BOOL, False()},
    {Empty(), VT_CY, Scaled(0)},
    {Empty(), VT_DATE, Real(0.0)},
    {Empty(), VT_NULL, Int(0)},
    {Empty(), VT_ERROR, kMismatch},
    {Null(), VT_I4, kMismatch},
    {Null(), VT_BSTR, kMismatch},
    {Null(), VT_BOOL, kMismatch},
    {Null(), VT_DATE, kMismatch},
    {Null(), VT_NULL, Int(0)},
    {Null(), VT_EMPTY, kMismatch},
    {Error(DISP_E_PARAMNOTFOUND), VT_EMPTY, kMismatch},
    {Error(DISP_E_PARAMNOTFOUND), VT_NULL, kMismatch},
    {Empty(), VT_DISPATCH, kMismatch},
    {Empty(), VT_UNKNOWN, kMismatch},
    {I4(1), VT_NULL, Int(0)},
    {I4(1), VT_EMPTY, Int(0)},
    {Str(u"x"), VT_EMPTY, Int(0)},
    {Error(DISP_E_PARAMNOTFOUND), VT_ERROR, Int(DISP_E_PARAMNOTFOUND)},
    {Error(DISP_E_PARAMNOTFOUND), VT_I4, kMismatch},
    {Error(DISP_E_PARAMNOTFOUND), VT_BSTR, kMismatch},
    {Error(DISP_E_PARAMNOTFOUND), VT_BOOL, kMismatch},
    {I4(5), VT_ERROR, kMismatch},
    {Str(u"5"), VT_ERROR, kMismatch},
    {I4(1), VT_VARIANT, kMismatch},
    {I4(1), VT_DISPATCH, kMismatch},
    {I4(1), VT_UNKNOWN, kMismatch},
    {I4(1), VT_VOID, Fails(DISP_E_BADVARTYPE)},
    {I4(1), VT_HRESULT, Fails(DISP_E_BADVARTYPE)},
    {I4(1), VT_LPSTR, Fails(DISP_E_BADVARTYPE)},
    {I4(1), VT_I4 | VT_BYREF, kMismatch},
    {I4(1), VT_I4 | VT_ARRAY, kMismatch},
    {I4(1), VT_I4 | VT_VECTOR, Fails(DISP_E_BADVARTYPE)},
    {I4(1), VARTYPE(72), Fails(DISP_E_BADVARTYPE)}, // VT_CLSID
    {I4(1), VARTYPE(15), Fails(DISP_E_BADVARTYPE)},
    {Source{VARTYPE(15)}, VT_I4, Fails(DISP_E_BADVARTYPE)},
    {Source{VT_VOID}, VT_BSTR, Fails(DISP_E_BADVARTYPE)},
};
INSTANTIATE_TEST_SUITE_P(EmptyNullError, Conversion, testing::ValuesIn(kSpecial));

// ---- Locales: separators and currency signs ----------------------------------------
const Row kLocales[] = {
    {Str(u"1,5"), VT_R8, Real(1.5), kDeDe},
    {Str(u"1.234,5"), VT_R8, Real(1234.5), kDeDe},
    {Str(u"1.5"), VT_R8, Real(15.0), kDeDe},
    {Str(u"1,5"), VT_I4, Int(2), kDeDe},
    {Str(u"2,5"), VT_I4, Int(2), kDeDe},
    {Str(u"1.234.567"), VT_I4, Int(1234567), kDeDe},
    {Str(u"\u20ac5"), VT_I4, Int(5), kDeDe},
    {Str(u"5 \u20ac"), VT_I4, Int(5), kDeDe},
    {Str(u"1,50 \u20ac"), VT_CY, Scaled(15000), kDeDe},
    {Str(u"02.01.1970"), VT_DATE, Real(25570.0), kDeDe},
    {Str(u"02.01.1970 00:00:00"), VT_DATE, Real(25570.0), kDeDe},
    {Str(u"1 234,5"), VT_R8, Real(1234.5), kFrFr},
    {Str(u"1\u00a0234,5"), VT_R8, Real(1234.5), kFrFr},
    {Str(u"3 "), VT_I4, Int(3), kFrFr},
    {Str(u"1,5"), VT_R8, Real(1.5), kFrFr},
    {Str(u"\u00a35"), VT_I4, Int(5), kEnGb},
    {Str(u"$5"), VT_I4, kMismatch, kEnGb},
    {Str(u"2/1/2000"), VT_DATE, Real(36527.0), kEnGb},
};
INSTANTIATE_TEST_SUITE_P(Locales, Conversion, testing::ValuesIn(kLocales));

// ---- DECIMAL sources ------------------------------------------------------------------------
const Row kFromDecimal[] = {
    {Dec(0, 0x80, 0, 129), VT_I1, kOverflow},
    {Dec(0, 0x80, 0, 128), VT_I1, Int(-128)},
    {Dec(2, 0x80, 0, 12800), VT_I1, Int(-128)},
    {Dec(2, 0, 0, 12700), VT_I1, Int(127)},
    {Dec(2, 0x80, 0, 100), VT_UI1, kOverflow},
    {Dec(2, 0, 0, 25500), VT_UI1, Int(255)},
    {Dec(2, 0, 0, 3276800), VT_I2, kOverflow},
    {Dec(2, 0, 0, 6553500), VT_UI2, Int(65535)},
    {Dec(1, 0, 0, 25), VT_I4, Int(2)},
    {Dec(1, 0, 0, 35), VT_I4, Int(4)},
    {Dec(0, 0, 1, 0), VT_R8, Real(18446744073709551616.0)},
    {Dec(2, 0x80, 0, 3276800), VT_R8, Real(-32768.0)},
    {Dec(2, 0, 0, 1500), VT_CY, Scaled(150000)},
    {Dec(2, 0x80, 0, 1), VT_CY, Scaled(-100)},
    {Dec(2, 0, 0, 999), VT_CY, Scaled(99900)},
    {Dec(0, 0x80, 0, 1), VT_BOOL, True()},
    {Dec(0, 0, 0, 0), VT_BOOL, False()},
    {Dec(2, 0, 0, 10000), VT_BOOL, True()},
    {Dec(0, 0x80, 0, 32768), VT_DATE, Real(-32768.0)},
    {Dec(0, 0, 0, 0), VT_BSTR, Text(u"0")},
    {Dec(3, 0, 0, 1000), VT_BSTR, Text(u"1")},
    {Dec(1, 0, 0, 15), VT_BSTR, Text(u"1.5")},
    {Dec(1, 0x80, 0, 15), VT_BSTR, Text(u"-1.5")},
    {Dec(0, 0, 0, 0xffffffffffffffffull), VT_BSTR, Text(u"18446744073709551615")},
    {Dec(0, 0, 0xffffffff, 0xffffffffffffffffull), VT_BSTR, Text(u"79228162514264337593543950335")},
    {Dec(10, 0, 0, 1), VT_BSTR, Text(u"0.0000000001")},
    {Dec(28, 0, 0xffffffff, 0xffffffffffffffffull), VT_BSTR, Text(u"7.9228162514264337593543950335")},
    {Dec(4, 0, 0, 9), VT_BSTR, Text(u"0.0009")},
    {Dec(7, 0, 0, 9000), VT_BSTR, Text(u"0,0009"), kDeDe},
    {Dec(29, 0, 0, 0), VT_I4, Fails(E_INVALIDARG)},
    {Dec(0, 0x01, 0, 0), VT_I4, Fails(E_INVALIDARG)},
    {Dec(0, 0x40, 0, 0), VT_BSTR, Fails(E_INVALIDARG)},
    {Dec(0, 0, 0, 5), VT_DECIMAL, Int(5)}, // same type: copied
    {I4(5), VT_DECIMAL, kMismatch},        // not produced here
};
INSTANTIATE_TEST_SUITE_P(FromDecimal, Conversion, testing::ValuesIn(kFromDecimal));

// ---- By-reference sources ------------------------------------------------------------
TEST(ByReference, ValuesAreReadThroughTheirPointers)
{
    LONG l = 42;
    VARIANT src;
    src.vt = VT_I4 | VT_BYREF;
    src.plVal = &l;
    VARIANT dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, kEnUs, 0, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(dst.bstrVal), u"42");
    VariantClear(&dst);

    BSTR text = SysAllocString(u"12");
    src.vt = VT_BSTR | VT_BYREF;
    src.pbstrVal = &text;
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, kEnUs, 0, VT_I4), S_OK);
    EXPECT_EQ(dst.lVal, 12);
    EXPECT_EQ(std::u16string(text), u"12"); // the caller's string is untouched
    SysFreeString(text);

    double d = 2.5;
    src.vt = VT_R8 | VT_BYREF;
    src.pdblVal = &d;
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, kEnUs, 0, VT_I4), S_OK);
    EXPECT_EQ(dst.lVal, 2);

    VARIANT_BOOL b = VARIANT_TRUE;
    src.vt = VT_BOOL | VT_BYREF;
    src.pboolVal = &b;
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, kEnUs, 0, VT_I2), S_OK);
    EXPECT_EQ(dst.iVal, -1);

    CY cy;
    cy.int64 = 25000;
    src.vt = VT_CY | VT_BYREF;
    src.pcyVal = &cy;
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, kEnUs, 0, VT_I4), S_OK);
    EXPECT_EQ(dst.lVal, 2);

    BYTE ub = 200;
    src.vt = VT_UI1 | VT_BYREF;
    src.pbVal = &ub;
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, kEnUs, 0, VT_I1), S_OK);
    EXPECT_EQ(dst.cVal, -56);

    SHORT s = 300;
    src.vt = VT_I2 | VT_BYREF;
    src.piVal = &s;
    EXPECT_EQ(VariantChangeTypeEx(&dst, &src, kEnUs, 0, VT_UI1), DISP_E_OVERFLOW);
    EXPECT_EQ(dst.vt, VT_I1); // left as it was
}

TEST(ByReference, VariantReferenceAndSameTypeCopy)
{
    VARIANT inner;
    inner.vt = VT_I4;
    inner.lVal = 7;
    VARIANT src;
    src.vt = VT_VARIANT | VT_BYREF;
    src.pvarVal = &inner;
    VARIANT dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, kEnUs, 0, VT_R8), S_OK);
    EXPECT_EQ(dst.vt, VT_R8);
    EXPECT_EQ(dst.dblVal, 7.0);

    // Converting a reference to its own base type yields the value, not the reference.
    LONG l = 9;
    src.vt = VT_I4 | VT_BYREF;
    src.plVal = &l;
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, kEnUs, 0, VT_I4), S_OK);
    EXPECT_EQ(dst.vt, VT_I4);
    EXPECT_EQ(dst.lVal, 9);
}

TEST(ByReference, NullReferenceIsRefused)
{
    VARIANT src;
    src.vt = VT_I4 | VT_BYREF;
    src.plVal = nullptr;
    VARIANT dst;
    VariantInit(&dst);
    EXPECT_EQ(VariantChangeTypeEx(&dst, &src, kEnUs, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(dst.vt, VT_EMPTY);
}

// ---- The user's locale -------------------------------------------------------------------
// Restores LC_ALL when a test that changes it ends.
class UserLocale : public testing::Test {
protected:
    void SetUp() override
    {
        const char *old = std::getenv("LC_ALL");
        saved_ = old ? old : "";
        hadValue_ = old != nullptr;
    }
    void TearDown() override
    {
        if (hadValue_)
            setenv("LC_ALL", saved_.c_str(), 1);
        else
            unsetenv("LC_ALL");
    }

private:
    std::string saved_;
    bool hadValue_ = false;
};

TEST_F(UserLocale, VariantChangeTypeFollowsTheEnvironment)
{
    VARIANT src;
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocString(u"1,5");
    VARIANT dst;
    VariantInit(&dst);

    setenv("LC_ALL", "de_DE.UTF-8", 1);
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_R8), S_OK);
    EXPECT_EQ(dst.dblVal, 1.5);

    setenv("LC_ALL", "en_US.UTF-8", 1);
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_R8), S_OK);
    EXPECT_EQ(dst.dblVal, 15.0);

    setenv("LC_ALL", "C", 1);
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, LOCALE_USER_DEFAULT, 0, VT_R8), S_OK);
    EXPECT_EQ(dst.dblVal, 15.0);
    VariantClear(&src);
}

} // namespace

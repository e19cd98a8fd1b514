// Reading and writing numbers as the Automation conversions do.
#include "number_text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace orafon::oleaut {
namespace {

[[nodiscard]] bool IsWhite(OLECHAR c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}
[[nodiscard]] bool IsDigit(OLECHAR c)
{
    return c >= u'0' && c <= u'9';
}

// Locales whose thousands separator is a space accept a plain space, a
// no-break space and a narrow no-break space alike.
[[nodiscard]] bool IsThousandSep(OLECHAR c, const locale::LocaleInfo &loc)
{
    if (c == loc.thousandSep)
        return true;
    bool spaceLike = loc.thousandSep == u' ' || loc.thousandSep == u'\u00a0' || loc.thousandSep == u'\u202f';
    return spaceLike && (c == u' ' || c == u'\u00a0' || c == u'\u202f');
}

// Length of the locale's currency sign at p, or 0.
size_t MatchCurrency(const OLECHAR *p, const locale::LocaleInfo &loc)
{
    size_t n = 0;
    while (loc.currency[n]) {
        if (p[n] != loc.currency[n])
            return 0;
        ++n;
    }
    return n;
}

int BasedDigit(OLECHAR c, int shift)
{
    int v = -1;
    if (c >= u'0' && c <= u'9')
        v = c - u'0';
    else if (shift == 4 && c >= u'a' && c <= u'f')
        v = c - u'a' + 10;
    else if (shift == 4 && c >= u'A' && c <= u'F')
        v = c - u'A' + 10;
    return v >= 0 && v < (1 << shift) ? v : -1;
}

// "&H..." or "&O...": the digits after the prefix as an unsigned number.
[[nodiscard]] HRESULT ReadBased(const OLECHAR *&p, int shift, ParsedNumber &out)
{
    bool any = false;
    ULONGLONG value = 0;
    for (int d; (d = BasedDigit(*p, shift)) >= 0; ++p) {
        if (value > (std::numeric_limits<ULONGLONG>::max() >> shift))
            return DISP_E_OVERFLOW;
        value = (value << shift) | static_cast<ULONGLONG>(d);
        any = true;
    }
    if (!any)
        return DISP_E_TYPEMISMATCH;
    out.isBased = true;
    out.based = value;
    return S_OK;
}

// Decimal digits with thousands separators, a decimal separator and an
// exponent. Leading zeros are dropped and trailing zeros folded into the exponent.
[[nodiscard]] HRESULT ReadDecimal(const OLECHAR *&p, const locale::LocaleInfo &loc, ParsedNumber &out)
{
    bool anyDigit = false;
    bool inFraction = false;
    long exponent = 0;
    std::string digits;
    for (;; ++p) {
        OLECHAR c = *p;
        if (IsDigit(c)) {
            anyDigit = true;
            if (!digits.empty() || c != u'0')
                digits.push_back(static_cast<char>(c));
            if (inFraction)
                --exponent;
        } else if (c == loc.decimalSep && !inFraction) {
            inFraction = true;
        } else if (!inFraction && anyDigit && IsThousandSep(c, loc)) {
            // Grouping is not checked: Windows takes separators anywhere after the first digit.
        } else {
            break;
        }
    }
    if (!anyDigit)
        return DISP_E_TYPEMISMATCH;

    if (*p == u'e' || *p == u'E') {
        const OLECHAR *q = p + 1;
        bool negativeExp = false;
        if (*q == u'+' || *q == u'-')
            negativeExp = *q++ == u'-';
        if (IsDigit(*q)) {
            long value = 0;
            for (; IsDigit(*q); ++q)
                value = value < 100000 ? value * 10 + (*q - u'0') : value;
            exponent += negativeExp ? -value : value;
            p = q;
        }
    }
    while (!digits.empty() && digits.back() == '0') {
        digits.pop_back();
        ++exponent;
    }
    if (digits.empty())
        exponent = 0;
    if (exponent > 100000 || exponent < -100000)
        exponent = exponent > 0 ? 100000 : -100000;
    out.digits = std::move(digits);
    out.exponent = static_cast<int>(exponent);
    return S_OK;
}

// Rounds |n| half to even to an integer; false when it exceeds 64 bits.
[[nodiscard]] bool RoundedMagnitude(const ParsedNumber &n, ULONGLONG &out)
{
    out = 0;
    if (n.isBased) {
        out = n.based;
        return true;
    }
    const std::string &d = n.digits;
    long intCount = static_cast<long>(d.size()) + n.exponent; // digits before the decimal point
    if (intCount > 20)
        return false;
    unsigned __int128 value = 0;
    for (long i = 0; i < intCount; ++i) {
        int digit = i < static_cast<long>(d.size()) ? d[i] - '0' : 0;
        value = value * 10 + static_cast<unsigned>(digit);
    }
    if (intCount < static_cast<long>(d.size())) {
        long first = intCount < 0 ? -1 : intCount; // index of the first fractional digit, -1 if below 0.1
        int firstDigit = first >= 0 ? d[first] - '0' : 0;
        bool restNonZero = first >= 0 ? d.size() > static_cast<size_t>(first) + 1 : true;
        if (firstDigit > 5 || (firstDigit == 5 && (restNonZero || (value & 1))))
            ++value;
    }
    if (value > std::numeric_limits<ULONGLONG>::max())
        return false;
    out = static_cast<ULONGLONG>(value);
    return true;
}

} // namespace

std::u16string Widen(const std::string &text)
{
    return std::u16string(text.begin(), text.end());
}

[[nodiscard]] HRESULT ParseNumber(const OLECHAR *text, const locale::LocaleInfo &loc, ParsedNumber &out)
{
    out = ParsedNumber{};
    if (!text)
        return DISP_E_TYPEMISMATCH;
    const OLECHAR *p = text;
    bool sign = false, parens = false, currency = false;

    // Leading part: white space, one sign, one '(' and one currency sign, in any order.
    for (;;) {
        if (IsWhite(*p)) {
            ++p;
        } else if ((*p == u'+' || *p == u'-') && !sign) {
            sign = true;
            out.negative = *p++ == u'-';
        } else if (*p == u'(' && !parens) {
            parens = true;
            ++p;
        } else if (size_t n = currency ? 0 : MatchCurrency(p, loc)) {
            currency = true;
            p += n;
        } else {
            break;
        }
    }

    HRESULT hr;
    if (p[0] == u'&' && (p[1] == u'H' || p[1] == u'h')) {
        p += 2;
        hr = ReadBased(p, 4, out);
    } else if (p[0] == u'&' && (p[1] == u'O' || p[1] == u'o')) {
        p += 2;
        hr = ReadBased(p, 3, out);
    } else {
        hr = ReadDecimal(p, loc, out);
    }
    if (FAILED(hr))
        return hr;

    // Trailing part: white space, a sign if none came before, the closing
    // parenthesis and currency signs.
    bool closed = !parens;
    for (;;) {
        if (IsWhite(*p)) {
            ++p;
        } else if ((*p == u'+' || *p == u'-') && !sign) {
            sign = true;
            out.negative = *p++ == u'-';
        } else if (*p == u')' && !closed) {
            closed = true;
            ++p;
        } else if (size_t n = MatchCurrency(p, loc)) {
            p += n;
        } else {
            break;
        }
    }
    if (*p || !closed)
        return DISP_E_TYPEMISMATCH;
    if (parens)
        out.negative = !out.negative;
    return S_OK;
}

[[nodiscard]] HRESULT ParsedToInt64(const ParsedNumber &n, LONGLONG min, LONGLONG max, int bits, LONGLONG &out)
{
    ULONGLONG magnitude;
    if (!RoundedMagnitude(n, magnitude))
        return DISP_E_OVERFLOW;
    if (n.isBased && !n.negative) {
        // Hexadecimal and octal text keeps its bit pattern: &HFFFF is -1 as VT_I2.
        ULONGLONG widthMax = bits >= 64 ? std::numeric_limits<ULONGLONG>::max() : (ULONGLONG{1} << bits) - 1;
        if (magnitude > widthMax)
            return DISP_E_OVERFLOW;
        if (magnitude > static_cast<ULONGLONG>(max)) {
            ULONGLONG wrapped = magnitude - widthMax - 1; // two's complement of the target width
            out = static_cast<LONGLONG>(wrapped);
        } else {
            out = static_cast<LONGLONG>(magnitude);
        }
        return S_OK;
    }
    if (n.negative && magnitude != 0) {
        if (magnitude - 1 > static_cast<ULONGLONG>(-(min + 1)))
            return DISP_E_OVERFLOW;
        out = -static_cast<LONGLONG>(magnitude - 1) - 1;
        return S_OK;
    }
    if (magnitude > static_cast<ULONGLONG>(max))
        return DISP_E_OVERFLOW;
    out = static_cast<LONGLONG>(magnitude);
    return S_OK;
}

[[nodiscard]] HRESULT ParsedToUInt64(const ParsedNumber &n, ULONGLONG max, ULONGLONG &out)
{
    ULONGLONG magnitude;
    if (!RoundedMagnitude(n, magnitude))
        return DISP_E_OVERFLOW;
    if (n.negative && magnitude != 0)
        return DISP_E_OVERFLOW;
    if (magnitude > max)
        return DISP_E_OVERFLOW;
    out = magnitude;
    return S_OK;
}

[[nodiscard]] HRESULT ParsedToDouble(const ParsedNumber &n, double &out)
{
    if (n.isBased) {
        out = static_cast<double>(n.based);
    } else if (n.digits.empty()) {
        out = 0.0;
    } else {
        std::string text = n.digits + "e" + std::to_string(n.exponent);
        errno = 0;
        out = std::strtod(text.c_str(), nullptr);
        if (std::isinf(out))
            return DISP_E_OVERFLOW;
    }
    if (n.negative && out != 0.0)
        out = -out;
    return S_OK;
}

[[nodiscard]] HRESULT ParsedToCurrency(const ParsedNumber &n, LONGLONG &out)
{
    ParsedNumber scaled = n;
    if (scaled.isBased) {
        // "&H"/"&O" text is a 64-bit pattern, as for VT_I8: past the signed
        // range it wraps to a negative amount ("&HFFFFFFFFFFFFFFFF" is -1).
        const __int128 value = static_cast<__int128>(static_cast<LONGLONG>(scaled.based)) * 10000;
        if (value < std::numeric_limits<LONGLONG>::min() || value > std::numeric_limits<LONGLONG>::max())
            return DISP_E_OVERFLOW;
        out = static_cast<LONGLONG>(value);
        return S_OK;
    } else if (!scaled.digits.empty()) {
        scaled.exponent += 4;
    }
    return ParsedToInt64(scaled, std::numeric_limits<LONGLONG>::min(), std::numeric_limits<LONGLONG>::max(), 64, out);
}

[[nodiscard]] HRESULT DecimalToParsed(const DECIMAL &dec, ParsedNumber &out)
{
    constexpr BYTE kNegative = 0x80;
    if (dec.scale > 28 || (dec.sign & ~kNegative))
        return E_INVALIDARG;
    out = ParsedNumber{};
    unsigned __int128 value = (static_cast<unsigned __int128>(dec.Hi32) << 64) | dec.Lo64;
    std::string reversed;
    for (; value; value /= 10)
        reversed.push_back(static_cast<char>('0' + static_cast<int>(value % 10)));
    out.digits.assign(reversed.rbegin(), reversed.rend());
    out.exponent = -static_cast<int>(dec.scale);
    while (!out.digits.empty() && out.digits.back() == '0') {
        out.digits.pop_back();
        ++out.exponent;
    }
    if (out.digits.empty())
        out.exponent = 0;
    out.negative = (dec.sign & kNegative) && !out.digits.empty();
    return S_OK;
}

std::u16string FormatParsed(const ParsedNumber &n, const locale::LocaleInfo &loc)
{
    if (n.digits.empty())
        return u"0";
    std::u16string text = n.negative ? u"-" : u"";
    long whole = static_cast<long>(n.digits.size()) + n.exponent; // digits before the decimal separator
    if (n.exponent >= 0) {
        text += Widen(n.digits) + std::u16string(static_cast<size_t>(n.exponent), u'0');
    } else if (whole > 0) {
        text += Widen(n.digits.substr(0, static_cast<size_t>(whole)));
        text += loc.decimalSep;
        text += Widen(n.digits.substr(static_cast<size_t>(whole)));
    } else {
        text += u"0";
        text += loc.decimalSep;
        text += std::u16string(static_cast<size_t>(-whole), u'0') + Widen(n.digits);
    }
    return text;
}

std::u16string FormatInteger(LONGLONG value)
{
    return Widen(std::to_string(value));
}

std::u16string FormatUnsigned(ULONGLONG value)
{
    return Widen(std::to_string(value));
}

namespace {

// Significant digits of |value| rounded half away from zero, as Windows rounds
// when it writes a number (654322.25 as R4 is "654322.3"), and the decimal
// exponent of the first digit.
void RoundedDigits(double value, int digits, std::string &out, int &exponent)
{
    // 40 digits of the exact binary value are enough to decide the rounding.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.40e", std::fabs(value));
    std::string all;
    for (const char *p = buffer; *p && *p != 'e'; ++p)
        if (*p != '.')
            all.push_back(*p);
    exponent = std::atoi(std::strchr(buffer, 'e') + 1);
    out = all.substr(0, static_cast<size_t>(digits));
    if (all[static_cast<size_t>(digits)] >= '5') {
        int i = digits - 1;
        for (; i >= 0 && out[static_cast<size_t>(i)] == '9'; --i)
            out[static_cast<size_t>(i)] = '0';
        if (i >= 0) {
            ++out[static_cast<size_t>(i)];
        } else {
            out.insert(out.begin(), '1');
            out.pop_back();
            ++exponent;
        }
    }
    while (out.size() > 1 && out.back() == '0')
        out.pop_back();
}

} // namespace

std::u16string FormatReal(double value, int digits, const locale::LocaleInfo &loc)
{
    if (value == 0.0)
        return u"0"; // never "-0"
    if (!std::isfinite(value))
        return std::isnan(value) ? u"NaN" : (value < 0 ? u"-Infinity" : u"Infinity");
    std::string mantissa;
    int exponent;
    RoundedDigits(value, digits, mantissa, exponent);

    std::u16string text = value < 0 ? u"-" : u"";
    auto appendDigits = [&](const std::string &d) { text += Widen(d); };
    if (exponent < -4 || exponent >= digits) {
        // Scientific, as "%G" writes it: 1.5E+20, 1E-05.
        text += static_cast<char16_t>(mantissa[0]);
        if (mantissa.size() > 1) {
            text += loc.decimalSep;
            appendDigits(mantissa.substr(1));
        }
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        appendDigits(buffer);
    } else if (exponent < 0) {
        text += u"0";
        text += loc.decimalSep;
        text += std::u16string(static_cast<size_t>(-exponent - 1), u'0');
        appendDigits(mantissa);
    } else {
        size_t whole = static_cast<size_t>(exponent) + 1;
        if (mantissa.size() <= whole) {
            appendDigits(mantissa + std::string(whole - mantissa.size(), '0'));
        } else {
            appendDigits(mantissa.substr(0, whole));
            text += loc.decimalSep;
            appendDigits(mantissa.substr(whole));
        }
    }
    return text;
}

std::u16string FormatCurrency(LONGLONG scaled, const locale::LocaleInfo &loc)
{
    bool negative = scaled < 0;
    ULONGLONG magnitude = negative ? ULONGLONG(0) - static_cast<ULONGLONG>(scaled) : static_cast<ULONGLONG>(scaled);
    std::string text = std::to_string(magnitude / 10000);
    unsigned fraction = static_cast<unsigned>(magnitude % 10000);
    std::u16string out = (negative ? u"-" : u"") + Widen(text);
    if (fraction) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "%04u", fraction);
        std::string f = buffer;
        while (f.back() == '0')
            f.pop_back();
        out += loc.decimalSep;
        out += Widen(f);
    }
    return out;
}

} // namespace orafon::oleaut

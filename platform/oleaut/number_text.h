// Numbers as text: parsing as the Automation conversions read numbers, and
// formatting as they write them, both by the conventions of a locale.
#pragma once

#include "locale/locale_info.h"

#include <orafon/win/oleauto.h>

#include <string>

namespace orafon::oleaut {

// A number read from text, exactly: value = (negative ? -1 : 1) * digits * 10^exponent,
// or, for "&H"/"&O" text, the unsigned value `based`.
struct ParsedNumber {
    bool negative = false;
    std::string digits; // significant decimal digits, no leading zeros; empty for zero
    int exponent = 0;
    bool isBased = false; // hexadecimal or octal text
    ULONGLONG based = 0;
};

// Reads text the way the Automation conversions do: white space, a sign
// before or after, parentheses for a negative number, thousands separators,
// the currency sign, one decimal separator, an exponent and the "&H"/"&O"
// prefixes. DISP_E_TYPEMISMATCH when the text is not a number,
// DISP_E_OVERFLOW when a hexadecimal or octal number exceeds 64 bits.
[[nodiscard]] HRESULT ParseNumber(const OLECHAR *text, const locale::LocaleInfo &loc, ParsedNumber &out);

// The parsed number rounded half to even to an integer and checked against
// [min, max]; based numbers that fit the target's width as unsigned wrap
// into signed targets as on Windows.
[[nodiscard]] HRESULT ParsedToInt64(const ParsedNumber &n, LONGLONG min, LONGLONG max, int bits, LONGLONG &out);
HRESULT ParsedToUInt64(const ParsedNumber &n, ULONGLONG max, ULONGLONG &out);
[[nodiscard]] HRESULT ParsedToDouble(const ParsedNumber &n, double &out);
// Scaled by 10000 and rounded half to even, as currency holds it.
[[nodiscard]] HRESULT ParsedToCurrency(const ParsedNumber &n, LONGLONG &out);

// The exact value of a DECIMAL; E_INVALIDARG for a scale above 28 or an
// unknown sign bit, as Windows refuses them.
[[nodiscard]] HRESULT DecimalToParsed(const DECIMAL &dec, ParsedNumber &out);
// Exact decimal text of a parsed (non-based) number: "1.5", "0.0009".
std::u16string FormatParsed(const ParsedNumber &n, const locale::LocaleInfo &loc);

// Text of an integer, of a double with `digits` significant digits (15 for
// VT_R8, 7 for VT_R4) and of a currency amount, with the locale's decimal
// separator and no thousands separators.
std::u16string FormatInteger(LONGLONG value);
std::u16string FormatUnsigned(ULONGLONG value);
std::u16string FormatReal(double value, int digits, const locale::LocaleInfo &loc);
std::u16string FormatCurrency(LONGLONG scaled, const locale::LocaleInfo &loc);

// ASCII text widened to OLECHARs.
std::u16string Widen(const std::string &text);

} // namespace orafon::oleaut

// Automation dates (days since 30 December 1899, the time as the fraction)
// and their text in a locale.
#pragma once

#include "locale/locale_info.h"

#include <orafon/win/oleauto.h>

#include <string>

namespace orafon::oleaut {

// The range VT_DATE covers: 1 January 100 to 31 December 9999.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDate = 2958465.0;

// True when d lies within the dates a VT_DATE may hold (the time of the last
// day included).
[[nodiscard]] bool IsDateInRange(double d);

struct DateParts {
    int year, month, day, hour, minute, second;
};

// Splits a date into its calendar parts, rounding to the second; false out of range.
[[nodiscard]] bool DateToParts(DATE date, DateParts &parts);
// The date of the given parts; false when they do not form a valid date.
[[nodiscard]] bool PartsToDate(const DateParts &parts, DATE &date);

// "1/2/2000", "3:04:05 PM" or "1/2/2000 3:04:05 PM" in en-US: the date is
// left out when it is 30 December 1899 and the time when it is midnight
// (but day 0 at midnight is "12:00:00 AM").
[[nodiscard]] HRESULT FormatDate(DATE date, const locale::LocaleInfo &loc, std::u16string &text);

// Reads a date, a time or both: numeric dates in the locale's order or ISO
// order, month names ("January 2, 2000", "2-Jan-1970"), times with ':' and
// an optional AM/PM. DISP_E_TYPEMISMATCH when the text is not a date.
[[nodiscard]] HRESULT ParseDate(const OLECHAR *text, const locale::LocaleInfo &loc, DATE &date);

} // namespace orafon::oleaut

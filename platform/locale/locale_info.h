// Locale conventions the platform's text conversions need: the LCIDs of the
// common locales, their number separators, currency sign and short date and
// time shapes. Internal to liborafon_platform.
#pragma once

#include <orafon/win/wintypes.h>

namespace orafon::locale {

enum class DateOrder { MDY, DMY, YMD };

struct LocaleInfo {
    LCID lcid;
    const char *name;         // language_COUNTRY as in POSIX locale names
    char16_t decimalSep;      // LOCALE_SDECIMAL
    char16_t thousandSep;     // LOCALE_STHOUSAND
    const char16_t *currency; // LOCALE_SCURRENCY
    DateOrder dateOrder;      // order of the short date
    char16_t dateSep;         // LOCALE_SDATE
    bool clock24;             // no AM/PM in the short time
    bool padDayMonth;         // "02.01.2000" rather than "2/1/2000"
    const char16_t *trueName; // Boolean names in the locale's language
    const char16_t *falseName;
};

// The LCID for a POSIX locale name such as "de_DE.UTF-8", "fr_FR@euro" or
// "de" (a bare language gives its primary locale). "C", "POSIX", empty and
// null give en-US; an unknown name gives 0.
LCID LcidFromPosixName(const char *name);

// The conventions of lcid. LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT and 0
// mean the user's locale; LOCALE_INVARIANT and neutral languages behave as
// en-US; an unknown sublanguage falls back to its primary language; an
// unknown language gives null.
const LocaleInfo *FindLocale(LCID lcid);

// FindLocale, with en-US in place of an unknown locale.
const LocaleInfo &LocaleOrDefault(LCID lcid);

// The whole table, for callers that list or test it.
const LocaleInfo *LocaleTable(size_t *count);

} // namespace orafon::locale

// Dates to and from text.
#include "date_text.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>
#include <vector>

namespace orafon::oleaut {
namespace {

// Days of the proleptic Gregorian calendar counted from 30 December 1899.
long DaysFromCivil(long y, int m, int d)
{
    y -= m <= 2;
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + 25569;
}

void CivilFromDays(long days, int &y, int &m, int &d)
{
    long z = days - 25569 + 719468;
    long era = (z >= 0 ? z : z - 146096) / 146097;
    long doe = z - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

[[nodiscard]] bool IsLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

[[nodiscard]] bool IsValidDay(int y, int m, int d)
{
    return y >= 100 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

int CurrentYear()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

// ---- Formatting ---------------------------------------------------------

std::u16string Number(int value, bool pad)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, pad ? "%02d" : "%d", value);
    return std::u16string(buffer, buffer + std::char_traits<char>::length(buffer));
}

std::u16string DateText(const DateParts &p, const locale::LocaleInfo &loc)
{
    std::u16string day = Number(p.day, loc.padDayMonth), month = Number(p.month, loc.padDayMonth);
    std::u16string year = Number(p.year, false);
    std::u16string sep(1, loc.dateSep);
    switch (loc.dateOrder) {
    case locale::DateOrder::MDY:
        return month + sep + day + sep + year;
    case locale::DateOrder::DMY:
        return day + sep + month + sep + year;
    case locale::DateOrder::YMD:
        break;
    }
    return year + sep + month + sep + day;
}

std::u16string TimeText(const DateParts &p, const locale::LocaleInfo &loc)
{
    std::u16string rest = u":" + Number(p.minute, true) + u":" + Number(p.second, true);
    if (loc.clock24)
        return Number(p.hour, true) + rest;
    int hour12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    return Number(hour12, false) + rest + (p.hour < 12 ? u" AM" : u" PM");
}

// ---- Parsing ------------------------------------------------------------

enum class Kind { Number, Month, AmPm, Sep };

struct Token {
    Kind kind;
    int value;  // number, month 1-12, 0 for AM / 1 for PM, or the separator
    int digits; // digit count of a number
};

constexpr const char *kMonths[] = {"january", "february", "march",     "april",   "may",      "june",
                                   "july",    "august",   "september", "october", "november", "december"};
constexpr const char *kWeekdays[] = {"sunday", "monday", "tuesday", "wednesday", "thursday", "friday", "saturday"};

// A full name, or an abbreviation of at least three letters.
[[nodiscard]] bool MatchesName(const std::string &word, const char *name)
{
    std::string_view full(name);
    return word.size() >= 3 && word.size() <= full.size() && full.substr(0, word.size()) == word;
}

[[nodiscard]] std::optional<Token> WordToken(const std::string &word)
{
    for (int i = 0; i < 12; ++i)
        if (MatchesName(word, kMonths[i]) || (word == "sept" && i == 8))
            return Token{Kind::Month, i + 1, 0};
    if (word == "am" || word == "a")
        return Token{Kind::AmPm, 0, 0};
    if (word == "pm" || word == "p")
        return Token{Kind::AmPm, 1, 0};
    if (word == "t")
        return Token{Kind::Sep, 'T', 0};
    for (const char *weekday : kWeekdays)
        if (MatchesName(word, weekday))
            return Token{Kind::Sep, ' ', 0}; // dropped by the tokenizer
    return std::nullopt;
}

[[nodiscard]] bool Tokenize(const OLECHAR *text, std::vector<Token> &tokens)
{
    for (const OLECHAR *p = text; *p;) {
        OLECHAR c = *p;
        if (c >= u'0' && c <= u'9') {
            long value = 0;
            int digits = 0;
            for (; *p >= u'0' && *p <= u'9'; ++p, ++digits)
                value = value < 100000 ? value * 10 + (*p - u'0') : value;
            tokens.push_back({Kind::Number, static_cast<int>(value), digits});
        } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
            std::string word;
            for (; (*p >= u'a' && *p <= u'z') || (*p >= u'A' && *p <= u'Z'); ++p)
                word.push_back(static_cast<char>(*p | 0x20));
            std::optional<Token> token = WordToken(word);
            if (!token)
                return false;
            if (token->kind != Kind::Sep || token->value != ' ') // weekday names carry nothing
                tokens.push_back(*token);
        } else if (c == u' ' || c == u'\t' || c == u'\u00a0') {
            ++p;
        } else if (c == u'/' || c == u'-' || c == u'.' || c == u':' || c == u',') {
            tokens.push_back({Kind::Sep, static_cast<int>(c), 0});
            ++p;
        } else {
            return false;
        }
    }
    return true;
}

[[nodiscard]] bool IsSep(const std::vector<Token> &t, size_t i, int c)
{
    return i < t.size() && t[i].kind == Kind::Sep && t[i].value == c;
}
[[nodiscard]] bool IsNumber(const std::vector<Token> &t, size_t i)
{
    return i < t.size() && t[i].kind == Kind::Number;
}

struct TimeOfDay {
    bool present = false;
    int hour = 0, minute = 0, second = 0;
};

// True when tokens i, i+1 are a time separator and a number. Where '.' does
// not separate the parts of a date it separates those of a time, as on Windows
// ("2.5" is 2:05 in en-US).
[[nodiscard]] bool IsTimeStep(const std::vector<Token> &t, size_t i, bool dotIsTime)
{
    return (IsSep(t, i, ':') || (dotIsTime && IsSep(t, i, '.'))) && IsNumber(t, i + 1);
}

// Takes the time out of the token list: "h:m[:s] [AM|PM]" or "h AM|PM".
[[nodiscard]] bool ExtractTime(std::vector<Token> &t, bool dotIsTime, TimeOfDay &time)
{
    for (size_t i = 0; i < t.size(); ++i) {
        if (!IsNumber(t, i))
            continue;
        size_t end = i;
        int fields[3] = {t[i].value, 0, 0};
        if (IsTimeStep(t, i + 1, dotIsTime)) {
            fields[1] = t[i + 2].value;
            end = i + 3;
            if (IsTimeStep(t, end, dotIsTime)) {
                fields[2] = t[end + 1].value;
                end += 2;
            }
        } else if (i + 1 < t.size() && t[i + 1].kind == Kind::AmPm) {
            end = i + 1;
        } else {
            continue;
        }
        if (time.present)
            return false;
        time.present = true;
        int hour = fields[0];
        if (end < t.size() && t[end].kind == Kind::AmPm) {
            // AM/PM only applies to hours up to 12; "13:00 AM" stays 13:00.
            if (hour <= 12) {
                bool pm = t[end].value == 1;
                hour = hour % 12 + (pm ? 12 : 0);
            }
            ++end;
        }
        if (hour > 23 || fields[1] > 59 || fields[2] > 59)
            return false;
        time.hour = hour;
        time.minute = fields[1];
        time.second = fields[2];
        t.erase(t.begin() + static_cast<ptrdiff_t>(i), t.begin() + static_cast<ptrdiff_t>(end));
        --i; // look again at the token now at i (wraps to 0 via the loop's ++i)
    }
    return true;
}

int FullYear(const Token &n)
{
    if (n.digits <= 2)
        return n.value < 30 ? 2000 + n.value : 1900 + n.value;
    return n.value;
}

[[nodiscard]] bool YearLike(const Token &n)
{
    return n.digits >= 3 || n.value > 31;
}

[[nodiscard]] bool TryDay(int y, int m, int d, DateParts &out)
{
    if (!IsValidDay(y, m, d))
        return false;
    out.year = y;
    out.month = m;
    out.day = d;
    return true;
}

[[nodiscard]] bool DateWithMonthName(int month, const std::vector<Token> &nums, DateParts &out)
{
    if (nums.size() == 1) {
        const Token &n = nums[0];
        if (!YearLike(n) && TryDay(CurrentYear(), month, n.value, out))
            return true;
        return TryDay(FullYear(n), month, 1, out);
    }
    if (nums.size() == 2) {
        bool firstIsYear = YearLike(nums[0]) && !YearLike(nums[1]);
        const Token &day = firstIsYear ? nums[1] : nums[0];
        const Token &year = firstIsYear ? nums[0] : nums[1];
        return TryDay(FullYear(year), month, day.value, out);
    }
    return false;
}

[[nodiscard]] bool DateFromTwo(const Token &a, const Token &b, locale::DateOrder order, DateParts &out)
{
    int year = CurrentYear();
    bool dayFirst = order == locale::DateOrder::DMY;
    const Token &m = dayFirst ? b : a, &d = dayFirst ? a : b;
    if (!YearLike(a) && !YearLike(b) && (TryDay(year, m.value, d.value, out) || TryDay(year, d.value, m.value, out)))
        return true;
    // Otherwise a month and a year, on the first of the month.
    if (b.value >= 1 && b.value <= 12 && TryDay(FullYear(a), b.value, 1, out))
        return true;
    return a.value >= 1 && a.value <= 12 && TryDay(FullYear(b), a.value, 1, out);
}

[[nodiscard]] bool DateFromThree(const Token &a, const Token &b, const Token &c, locale::DateOrder order,
                                 DateParts &out)
{
    auto ymd = [&] { return TryDay(FullYear(a), b.value, c.value, out); };
    auto mdy = [&] { return TryDay(FullYear(c), a.value, b.value, out); };
    auto dmy = [&] { return TryDay(FullYear(c), b.value, a.value, out); };
    if (a.digits >= 3)
        return ymd();
    switch (order) {
    case locale::DateOrder::MDY:
        return mdy() || ymd() || dmy();
    case locale::DateOrder::DMY:
        return dmy() || ymd() || mdy();
    case locale::DateOrder::YMD:
        break;
    }
    return ymd() || mdy() || dmy();
}

} // namespace

[[nodiscard]] bool IsDateInRange(double d)
{
    return d > kMinDate - 1.0 && d < kMaxDate + 1.0;
}

[[nodiscard]] bool DateToParts(DATE date, DateParts &parts)
{
    if (!std::isfinite(date) || !IsDateInRange(date))
        return false;
    double whole = std::trunc(date);
    long days = static_cast<long>(whole);
    long seconds = std::lround(std::fabs(date - whole) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        ++days;
    }
    CivilFromDays(days, parts.year, parts.month, parts.day);
    parts.hour = static_cast<int>(seconds / 3600);
    parts.minute = static_cast<int>(seconds / 60 % 60);
    parts.second = static_cast<int>(seconds % 60);
    return true;
}

[[nodiscard]] bool PartsToDate(const DateParts &p, DATE &date)
{
    if (!IsValidDay(p.year, p.month, p.day) || p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 ||
        p.second < 0 || p.second > 59)
        return false;
    double days = static_cast<double>(DaysFromCivil(p.year, p.month, p.day));
    double time = (p.hour * 3600 + p.minute * 60 + p.second) / 86400.0;
    date = days >= 0 ? days + time : days - time;
    return true;
}

[[nodiscard]] HRESULT FormatDate(DATE date, const locale::LocaleInfo &loc, std::u16string &text)
{
    DateParts p;
    if (!DateToParts(date, p))
        return E_INVALIDARG;
    bool hasDate = !(p.year == 1899 && p.month == 12 && p.day == 30);
    bool hasTime = p.hour || p.minute || p.second;
    if (hasDate && hasTime)
        text = DateText(p, loc) + u" " + TimeText(p, loc);
    else if (hasDate)
        text = DateText(p, loc);
    else
        text = TimeText(p, loc);
    return S_OK;
}

[[nodiscard]] HRESULT ParseDate(const OLECHAR *text, const locale::LocaleInfo &loc, DATE &date)
{
    std::vector<Token> tokens;
    if (!text || !Tokenize(text, tokens) || tokens.empty())
        return DISP_E_TYPEMISMATCH;
    // Text may not start or end with a separator ("-1.1", "1.1-").
    if (tokens.front().kind == Kind::Sep || (tokens.back().kind == Kind::Sep && tokens.back().value != 'T'))
        return DISP_E_TYPEMISMATCH;
    TimeOfDay time;
    if (!ExtractTime(tokens, loc.dateSep != u'.', time))
        return DISP_E_TYPEMISMATCH;

    std::vector<Token> nums;
    int month = 0;
    for (const Token &t : tokens) {
        if (t.kind == Kind::Number) {
            nums.push_back(t);
        } else if (t.kind == Kind::Month) {
            if (month)
                return DISP_E_TYPEMISMATCH;
            month = t.value;
        } else if (t.kind == Kind::AmPm) {
            return DISP_E_TYPEMISMATCH;
        }
    }

    DateParts parts{1899, 12, 30, time.hour, time.minute, time.second};
    bool ok;
    if (month)
        ok = DateWithMonthName(month, nums, parts);
    else if (nums.empty())
        ok = time.present;
    else if (nums.size() == 2)
        ok = DateFromTwo(nums[0], nums[1], loc.dateOrder, parts);
    else if (nums.size() == 3)
        ok = DateFromThree(nums[0], nums[1], nums[2], loc.dateOrder, parts);
    else
        ok = false;
    if (!ok || !PartsToDate(parts, date))
        return DISP_E_TYPEMISMATCH;
    return S_OK;
}

} // namespace orafon::oleaut

// The user's default locale from the POSIX environment, and the table of
// locale conventions behind it.
#include "locale/locale_info.h"

#include <orafon/win/winbase.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>

namespace orafon::locale {
namespace {

constexpr char16_t kNbsp = u'\u00a0';
using enum DateOrder;

// One row per locale; the first row of a language is its primary locale, the
// one a bare language name or an unknown sublanguage falls back to.
constexpr LocaleInfo kLocales[] = {
    {0x0409, "en_US", u'.', u',', u"$", MDY, u'/', false, false, u"True", u"False"},
    {0x0809, "en_GB", u'.', u',', u"\u00a3", DMY, u'/', true, true, u"True", u"False"},
    {0x0c09, "en_AU", u'.', u',', u"$", DMY, u'/', false, false, u"True", u"False"},
    {0x1009, "en_CA", u'.', u',', u"$", DMY, u'/', false, true, u"True", u"False"},
    {0x1409, "en_NZ", u'.', u',', u"$", DMY, u'/', false, false, u"True", u"False"},
    {0x1809, "en_IE", u'.', u',', u"\u20ac", DMY, u'/', true, true, u"True", u"False"},
    {0x1c09, "en_ZA", u'.', u',', u"R", YMD, u'/', true, true, u"True", u"False"},
    {0x4009, "en_IN", u'.', u',', u"\u20b9", DMY, u'-', false, true, u"True", u"False"},
    {0x0407, "de_DE", u',', u'.', u"\u20ac", DMY, u'.', true, true, u"Wahr", u"Falsch"},
    {0x0c07, "de_AT", u',', u'.', u"\u20ac", DMY, u'.', true, true, u"Wahr", u"Falsch"},
    {0x0807, "de_CH", u'.', u'\'', u"CHF", DMY, u'.', true, true, u"Wahr", u"Falsch"},
    {0x1007, "de_LU", u',', u'.', u"\u20ac", DMY, u'.', true, true, u"Wahr", u"Falsch"},
    {0x040c, "fr_FR", u',', kNbsp, u"\u20ac", DMY, u'/', true, true, u"Vrai", u"Faux"},
    {0x080c, "fr_BE", u',', u'.', u"\u20ac", DMY, u'/', true, true, u"Vrai", u"Faux"},
    {0x0c0c, "fr_CA", u',', kNbsp, u"$", YMD, u'-', true, true, u"Vrai", u"Faux"},
    {0x100c, "fr_CH", u'.', u'\'', u"CHF", DMY, u'.', true, true, u"Vrai", u"Faux"},
    {0x0c0a, "es_ES", u',', u'.', u"\u20ac", DMY, u'/', true, true, u"Verdadero", u"Falso"},
    {0x080a, "es_MX", u'.', u',', u"$", DMY, u'/', false, true, u"Verdadero", u"Falso"},
    {0x2c0a, "es_AR", u',', u'.', u"$", DMY, u'/', true, true, u"Verdadero", u"Falso"},
    {0x0410, "it_IT", u',', u'.', u"\u20ac", DMY, u'/', true, true, u"Vero", u"Falso"},
    {0x0810, "it_CH", u'.', u'\'', u"CHF", DMY, u'.', true, true, u"Vero", u"Falso"},
    {0x0413, "nl_NL", u',', u'.', u"\u20ac", DMY, u'-', true, true, u"Waar", u"Onwaar"},
    {0x0813, "nl_BE", u',', u'.', u"\u20ac", DMY, u'/', true, true, u"Waar", u"Onwaar"},
    {0x0416, "pt_BR", u',', u'.', u"R$", DMY, u'/', true, true, u"Verdadeiro", u"Falso"},
    {0x0816, "pt_PT", u',', kNbsp, u"\u20ac", DMY, u'/', true, true, u"Verdadeiro", u"Falso"},
    {0x041d, "sv_SE", u',', kNbsp, u"kr", YMD, u'-', true, true, u"Sant", u"Falskt"},
    {0x0406, "da_DK", u',', u'.', u"kr.", DMY, u'-', true, true, u"Sand", u"Falsk"},
    {0x0414, "nb_NO", u',', kNbsp, u"kr", DMY, u'.', true, true, u"Sann", u"Usann"},
    {0x0814, "nn_NO", u',', kNbsp, u"kr", DMY, u'.', true, true, u"Sann", u"Usann"},
    {0x040b, "fi_FI", u',', kNbsp, u"\u20ac", DMY, u'.', true, false, u"Tosi", u"Ep\u00e4tosi"},
    {0x0415, "pl_PL", u',', kNbsp, u"z\u0142", DMY, u'.', true, true, u"Prawda", u"Fa\u0142sz"},
    {0x0405, "cs_CZ", u',', kNbsp, u"K\u010d", DMY, u'.', true, false, u"Pravda", u"Nepravda"},
    {0x041b, "sk_SK", u',', kNbsp, u"\u20ac", DMY, u'.', true, false, u"Pravda", u"Nepravda"},
    {0x040e, "hu_HU", u',', kNbsp, u"Ft", YMD, u'.', true, true, u"Igaz", u"Hamis"},
    {0x0419, "ru_RU", u',', kNbsp, u"\u20bd", DMY, u'.', true, true, u"\u0418\u0441\u0442\u0438\u043d\u0430",
     u"\u041b\u043e\u0436\u044c"},
    {0x0422, "uk_UA", u',', kNbsp, u"\u20b4", DMY, u'.', true, true, u"True", u"False"},
    {0x041f, "tr_TR", u',', u'.', u"\u20ba", DMY, u'.', true, true, u"Do\u011fru", u"Yanl\u0131\u015f"},
    {0x0408, "el_GR", u',', u'.', u"\u20ac", DMY, u'/', false, false, u"True", u"False"},
    {0x0418, "ro_RO", u',', u'.', u"lei", DMY, u'.', true, true, u"Adev\u0103rat", u"Fals"},
    {0x0402, "bg_BG", u',', kNbsp, u"\u043b\u0432.", DMY, u'.', true, false, u"True", u"False"},
    {0x041a, "hr_HR", u',', u'.', u"\u20ac", DMY, u'.', true, false, u"True", u"False"},
    {0x0424, "sl_SI", u',', u'.', u"\u20ac", DMY, u'.', true, false, u"True", u"False"},
    {0x0425, "et_EE", u',', kNbsp, u"\u20ac", DMY, u'.', true, false, u"True", u"False"},
    {0x0426, "lv_LV", u',', kNbsp, u"\u20ac", DMY, u'.', true, true, u"True", u"False"},
    {0x0427, "lt_LT", u',', kNbsp, u"\u20ac", YMD, u'-', true, true, u"True", u"False"},
    {0x040f, "is_IS", u',', u'.', u"kr.", DMY, u'.', true, false, u"True", u"False"},
    {0x0403, "ca_ES", u',', u'.', u"\u20ac", DMY, u'/', true, true, u"Cert", u"Fals"},
    {0x0411, "ja_JP", u'.', u',', u"\u00a5", YMD, u'/', true, true, u"True", u"False"},
    {0x0804, "zh_CN", u'.', u',', u"\u00a5", YMD, u'/', true, false, u"True", u"False"},
    {0x0404, "zh_TW", u'.', u',', u"NT$", YMD, u'/', false, false, u"True", u"False"},
    {0x0c04, "zh_HK", u'.', u',', u"HK$", DMY, u'/', false, false, u"True", u"False"},
    {0x0412, "ko_KR", u'.', u',', u"\u20a9", YMD, u'-', false, true, u"True", u"False"},
    {0x040d, "he_IL", u'.', u',', u"\u20aa", DMY, u'/', true, false, u"True", u"False"},
    {0x0401, "ar_SA", u'.', u',', u"\u0631.\u0633.\u200f", DMY, u'/', false, true, u"True", u"False"},
    {0x041e, "th_TH", u'.', u',', u"\u0e3f", DMY, u'/', true, false, u"True", u"False"},
    {0x0439, "hi_IN", u'.', u',', u"\u20b9", DMY, u'-', false, true, u"True", u"False"},
    {0x0421, "id_ID", u',', u'.', u"Rp", DMY, u'/', true, true, u"True", u"False"},
    {0x042a, "vi_VN", u',', u'.', u"\u20ab", DMY, u'/', true, true, u"True", u"False"},
    {0x043e, "ms_MY", u'.', u',', u"RM", DMY, u'/', false, true, u"True", u"False"},
};

constexpr WORD kEnglishUS = 0x0409;

const LocaleInfo *FindExact(WORD langId)
{
    for (const LocaleInfo &info : kLocales)
        if (LANGIDFROMLCID(info.lcid) == langId)
            return &info;
    return nullptr;
}

const LocaleInfo *FindPrimary(WORD primary)
{
    for (const LocaleInfo &info : kLocales)
        if (PRIMARYLANGID(info.lcid) == primary)
            return &info;
    return nullptr;
}

// The first non-empty of the named environment variables.
const char *FirstSetVariable(std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        const char *value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return nullptr;
}

// Equal ignoring the case of ASCII letters; '-' and '_' are the same.
[[nodiscard]] bool SameAsciiLetters(std::string_view a, std::string_view b)
{
    auto fold = [](char c) { return c == '-' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i]))
            return false;
    return true;
}

LCID LcidFromEnvironment(std::initializer_list<const char *> names)
{
    LCID lcid = LcidFromPosixName(FirstSetVariable(names));
    return lcid ? lcid : kEnglishUS;
}

} // namespace

LCID LcidFromPosixName(const char *name)
{
    if (!name || !*name)
        return kEnglishUS;
    // Drop the code set and modifier: "de_DE.UTF-8@euro" -> "de_DE". Read in
    // place: the user's locale is worked out without allocating.
    const std::string_view base(name, std::strcspn(name, ".@"));
    if (base.empty() || base == "C" || base == "POSIX")
        return kEnglishUS;
    const size_t cut = base.find_first_of("_-");
    const std::string_view language = base.substr(0, cut);
    const std::string_view country = cut == std::string_view::npos ? std::string_view() : base.substr(cut + 1);

    const LocaleInfo *primary = nullptr;
    for (const LocaleInfo &info : kLocales) {
        std::string_view infoName(info.name);
        if (!SameAsciiLetters(infoName.substr(0, infoName.find('_')), language))
            continue;
        if (!primary)
            primary = &info;
        if (SameAsciiLetters(infoName.substr(infoName.find('_') + 1), country))
            return info.lcid;
    }
    return primary ? primary->lcid : 0;
}

const LocaleInfo *FindLocale(LCID lcid)
{
    WORD langId = LANGIDFROMLCID(lcid);
    if (lcid == 0 || langId == LOCALE_USER_DEFAULT || langId == LOCALE_SYSTEM_DEFAULT)
        langId = LANGIDFROMLCID(GetUserDefaultLCID());
    if (langId == LOCALE_INVARIANT || PRIMARYLANGID(langId) == LANG_NEUTRAL)
        langId = kEnglishUS;
    if (const LocaleInfo *info = FindExact(langId))
        return info;
    return FindPrimary(PRIMARYLANGID(langId));
}

const LocaleInfo &LocaleOrDefault(LCID lcid)
{
    const LocaleInfo *info = FindLocale(lcid);
    return info ? *info : *FindExact(kEnglishUS);
}

const LocaleInfo *LocaleTable(size_t *count)
{
    *count = std::size(kLocales);
    return kLocales;
}

} // namespace orafon::locale

using namespace orafon::locale;

STDAPI_(LANGID) GetUserDefaultUILanguage(void)
{
    return LANGIDFROMLCID(LcidFromEnvironment({"LC_ALL", "LC_MESSAGES", "LANG"}));
}

STDAPI_(LCID) GetUserDefaultLCID(void)
{
    return LcidFromEnvironment({"LC_ALL", "LC_NUMERIC", "LANG"});
}

STDAPI_(LANGID) GetUserDefaultLangID(void)
{
    return LANGIDFROMLCID(GetUserDefaultLCID());
}

// Threads start with the user's locale; nothing here changes a thread's locale.
STDAPI_(LCID) GetThreadLocale(void)
{
    return GetUserDefaultLCID();
}

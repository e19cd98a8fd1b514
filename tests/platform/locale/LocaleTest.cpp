// The user's locale from the environment, and the locale table.
#include "locale/locale_info.h"

#include <orafon/win/winbase.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

using namespace orafon::locale;

namespace {

// Clears the locale variables for a test and puts them back afterwards.
class Environment : public testing::Test {
protected:
    static constexpr const char *kNames[] = {"LC_ALL", "LC_MESSAGES", "LC_NUMERIC", "LANG"};

    void SetUp() override
    {
        for (const char *name : kNames) {
            const char *value = std::getenv(name);
            saved_.push_back({name, value ? value : "", value != nullptr});
            unsetenv(name);
        }
    }
    void TearDown() override
    {
        for (const Saved &s : saved_) {
            if (s.present)
                setenv(s.name, s.value.c_str(), 1);
            else
                unsetenv(s.name);
        }
    }

private:
    struct Saved {
        const char *name;
        std::string value;
        bool present;
    };
    std::vector<Saved> saved_;
};

TEST_F(Environment, UnsetMeansEnglishUnitedStates)
{
    EXPECT_EQ(GetUserDefaultLCID(), 0x0409u);
    EXPECT_EQ(GetUserDefaultUILanguage(), 0x0409);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0409);
    EXPECT_EQ(GetThreadLocale(), 0x0409u);
}

TEST_F(Environment, LangGivesTheLocale)
{
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0407u);
    EXPECT_EQ(GetUserDefaultUILanguage(), 0x0407);
    EXPECT_EQ(GetThreadLocale(), 0x0407u);
}

TEST_F(Environment, LcAllOverridesEverything)
{
    setenv("LANG", "de_DE.UTF-8", 1);
    setenv("LC_MESSAGES", "fr_FR.UTF-8", 1);
    setenv("LC_NUMERIC", "en_GB.UTF-8", 1);
    setenv("LC_ALL", "fr_FR.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLCID(), 0x040Cu);
    EXPECT_EQ(GetUserDefaultUILanguage(), 0x040C);
}

TEST_F(Environment, UiLanguageFromMessagesAndLocaleFromNumeric)
{
    setenv("LANG", "en_US.UTF-8", 1);
    setenv("LC_MESSAGES", "fr_FR.UTF-8", 1);
    setenv("LC_NUMERIC", "de_DE.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultUILanguage(), 0x040C);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0407u);
    EXPECT_EQ(GetUserDefaultLangID(), 0x0407);
}

TEST_F(Environment, EmptyVariablesAreIgnored)
{
    setenv("LC_ALL", "", 1);
    setenv("LANG", "en_GB.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0809u);
}

TEST_F(Environment, PosixAndUnknownFallBackToEnglish)
{
    setenv("LANG", "C", 1);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0409u);
    setenv("LANG", "POSIX", 1);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0409u);
    setenv("LANG", "C.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0409u);
    setenv("LANG", "xx_YY.UTF-8", 1);
    EXPECT_EQ(GetUserDefaultLCID(), 0x0409u);
}

struct NameRow {
    const char *name;
    LCID lcid;
};

class PosixNames : public testing::TestWithParam<NameRow> {};

TEST_P(PosixNames, MapToTheWindowsLcid)
{
    EXPECT_EQ(LcidFromPosixName(GetParam().name), GetParam().lcid);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PosixNames,
    testing::Values(NameRow{"en_US.UTF-8", 0x0409}, NameRow{"en_US", 0x0409}, NameRow{"de_DE", 0x0407},
                    NameRow{"de_DE.UTF-8@euro", 0x0407}, NameRow{"fr_FR", 0x040C}, NameRow{"en_GB.UTF-8", 0x0809},
                    NameRow{"de_AT.UTF-8", 0x0C07}, NameRow{"de_CH", 0x0807}, NameRow{"fr_CA", 0x0C0C},
                    NameRow{"es_ES", 0x0C0A}, NameRow{"es_MX", 0x080A}, NameRow{"pt_BR", 0x0416},
                    NameRow{"pt_PT", 0x0816}, NameRow{"it_IT", 0x0410}, NameRow{"nl_NL", 0x0413},
                    NameRow{"sv_SE", 0x041D}, NameRow{"ja_JP.eucJP", 0x0411}, NameRow{"zh_CN", 0x0804},
                    NameRow{"zh_TW", 0x0404}, NameRow{"ko_KR", 0x0412}, NameRow{"ru_RU.KOI8-R", 0x0419},
                    NameRow{"pl_PL", 0x0415}, NameRow{"en-AU", 0x0C09}, NameRow{"EN_us", 0x0409},
                    // A bare language or an unknown country gives the primary locale.
                    NameRow{"de", 0x0407}, NameRow{"fr_LU", 0x040C}, NameRow{"en_XX", 0x0409}, NameRow{"C", 0x0409},
                    NameRow{"POSIX", 0x0409}, NameRow{"", 0x0409}, NameRow{"xx_YY", 0}));

TEST(LocaleTable, HasAtLeastFortyDistinctLocales)
{
    size_t count = 0;
    const LocaleInfo *table = LocaleTable(&count);
    EXPECT_GE(count, 40u);
    std::set<LCID> seen;
    for (size_t i = 0; i < count; ++i) {
        EXPECT_TRUE(seen.insert(table[i].lcid).second) << table[i].name;
        EXPECT_NE(table[i].decimalSep, table[i].thousandSep) << table[i].name;
        EXPECT_EQ(LcidFromPosixName(table[i].name), table[i].lcid) << table[i].name;
        EXPECT_NE(table[i].currency[0], u'\0') << table[i].name;
    }
}

TEST(LocaleTable, EnglishUnitedStatesConventions)
{
    const LocaleInfo *info = FindLocale(0x0409);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->decimalSep, u'.');
    EXPECT_EQ(info->thousandSep, u',');
    EXPECT_EQ(std::u16string(info->currency), u"$");
    EXPECT_EQ(info->dateOrder, DateOrder::MDY);
    EXPECT_EQ(info->dateSep, u'/');
    EXPECT_FALSE(info->clock24);
}

TEST(LocaleTable, SeparatorsOfOtherLocales)
{
    EXPECT_EQ(FindLocale(0x0407)->decimalSep, u',');
    EXPECT_EQ(FindLocale(0x0407)->thousandSep, u'.');
    EXPECT_EQ(FindLocale(0x040C)->decimalSep, u',');
    EXPECT_EQ(FindLocale(0x040C)->thousandSep, u'\u00a0');
    EXPECT_EQ(FindLocale(0x0807)->thousandSep, u'\'');
    EXPECT_EQ(std::u16string(FindLocale(0x0809)->currency), u"\u00a3");
}

TEST(LocaleTable, SortIdsAndFallbacks)
{
    EXPECT_EQ(FindLocale(MAKELCID(0x0407, 1))->lcid, 0x0407u); // sort order ignored
    EXPECT_EQ(FindLocale(0x1407)->lcid, 0x0407u);              // de-LI: primary German
    EXPECT_EQ(FindLocale(LOCALE_INVARIANT)->lcid, 0x0409u);
    EXPECT_EQ(FindLocale(0x007B), nullptr); // a language not in the table
    EXPECT_EQ(LocaleOrDefault(0x007B).lcid, 0x0409u);
}

TEST_F(Environment, UserDefaultFollowsTheEnvironment)
{
    setenv("LC_ALL", "fr_FR.UTF-8", 1);
    EXPECT_EQ(FindLocale(LOCALE_USER_DEFAULT)->lcid, 0x040Cu);
    EXPECT_EQ(FindLocale(LOCALE_SYSTEM_DEFAULT)->lcid, 0x040Cu);
    EXPECT_EQ(FindLocale(0)->lcid, 0x040Cu);
}

} // namespace

// The registry under allocation failure: each allocation a registry call
// makes is failed in turn. The call answers ERROR_NOT_ENOUGH_MEMORY (or
// succeeds, when it could do without), no exception crosses it, the registry
// holds either everything the call was to write or nothing of it, and the
// next call works. This executable replaces operator new
// (orafon_alloc_failure), so it holds these tests alone.
#include "support/AllocFailure.h"
#include "support/TempRegistry.h"

#include <orafon/win/winreg.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using orafon::test::EachAllocationFails;
using orafon::test::Key;
using orafon::test::TempRegistry;

namespace {

constexpr const char16_t *kTop = u"Software\\AllocTest";
constexpr const char16_t *kVoice = u"Software\\AllocTest\\Voices\\Tokens\\Alto";

LSTATUS Create(const char16_t *path, HKEY *key)
{
    return RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key, nullptr);
}

bool Exists(const char16_t *path)
{
    Key key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) == ERROR_SUCCESS;
}

LSTATUS SetText(HKEY key, const char16_t *name, const std::u16string &text)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

// The text of a value, or "<missing>".
std::u16string Text(const char16_t *path, const char16_t *name)
{
    Key key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return u"<missing>";
    char16_t buf[512] = {};
    DWORD size = sizeof buf - sizeof(char16_t);
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size) != ERROR_SUCCESS)
        return u"<missing>";
    return buf;
}

std::string Narrow(const std::u16string &s)
{
    return std::string(s.begin(), s.end());
}

// A voice-like key with values, as registration leaves it.
void MakeVoice()
{
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, Create(kVoice, &key));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, nullptr, u"Alto voice"));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, u"CLSID", u"{01234567-89AB-CDEF-0123-456789ABCDEF}"));
    Key attributes;
    ASSERT_EQ(ERROR_SUCCESS, Create(u"Software\\AllocTest\\Voices\\Tokens\\Alto\\Attributes", &attributes));
    ASSERT_EQ(ERROR_SUCCESS, SetText(attributes, u"Gender", u"Female"));
}

// A long text, so writing it allocates more than a short string would;
// made before any allocation is failed.
const std::u16string &LongText()
{
    static const std::u16string text = [] {
        std::u16string made;
        for (int i = 0; i < 40; ++i)
            made += u"Stimme \u00e9t\u00e9 ";
        return made;
    }();
    return text;
}

// One registry call and what the registry must hold after it.
struct Case {
    const char *label;
    std::function<void()> arrange;         // before each run, allocation granted
    std::function<LSTATUS()> call;         // the call under allocation failure
    std::function<void()> expectDone;      // after a run that succeeded
    std::function<void()> expectUntouched; // after a run that failed
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.label;
}

class RegistryUnderAllocationFailure : public ::testing::TestWithParam<Case> {
protected:
    TempRegistry registry_;
};

// The handle a call opens, closed when the next run arranges.
Key g_opened;

// Some write works after each failed run: a transaction a failure left open
// would refuse it.
void ExpectRegistryStillWrites()
{
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, Create(u"Software\\AllocTestScratch", &key));
    EXPECT_EQ(ERROR_SUCCESS, SetText(key, u"Check", u"written"));
    EXPECT_EQ(u"written", Text(u"Software\\AllocTestScratch", u"Check"));
}

TEST_P(RegistryUnderAllocationFailure, AnswersOutOfMemoryAndWritesAllOrNothing)
{
    const Case &c = GetParam();
    c.arrange();
    EachAllocationFails<LSTATUS>(c.call, [&](LSTATUS status, bool met, long n) {
        if (!met) {
            EXPECT_EQ(ERROR_SUCCESS, status) << "with every allocation granted";
        } else {
            EXPECT_TRUE(status == ERROR_NOT_ENOUGH_MEMORY || status == ERROR_SUCCESS)
                << "allocation " << n << " failed: " << status;
        }
        if (status == ERROR_SUCCESS)
            c.expectDone();
        else
            c.expectUntouched();
        ExpectRegistryStillWrites();
        const LSTATUS cleared = RegDeleteTreeW(HKEY_CURRENT_USER, kTop);
        ASSERT_TRUE(cleared == ERROR_SUCCESS || cleared == ERROR_FILE_NOT_FOUND) << cleared;
        c.arrange();
    });
    g_opened.Close();
}

Case CreateNestedKey()
{
    return {"CreateNestedKey", [] { g_opened.Close(); },
            [] { return Create(u"Software\\AllocTest\\Voices\\Tokens\\Tenor\\Attributes", &g_opened); },
            [] {
                EXPECT_NE(nullptr, static_cast<HKEY>(g_opened));
                EXPECT_TRUE(Exists(u"Software\\AllocTest\\Voices\\Tokens\\Tenor\\Attributes"));
            },
            [] {
                EXPECT_EQ(nullptr, static_cast<HKEY>(g_opened)) << "a failed call handed out a key";
                EXPECT_FALSE(Exists(kTop)) << "a failed call created part of the path";
            }};
}

Case OpenKey()
{
    return {"OpenKey",
            [] {
                g_opened.Close();
                MakeVoice();
            },
            [] {
                return RegOpenKeyExA(HKEY_CURRENT_USER, "software\\alloctest\\voices\\tokens\\ALTO", 0, KEY_READ,
                                     &g_opened);
            },
            [] { EXPECT_EQ(u"Alto voice", Text(kVoice, nullptr)); },
            [] { EXPECT_EQ(nullptr, static_cast<HKEY>(g_opened)) << "a failed call handed out a key"; }};
}

Case SetValueWide()
{
    return {"SetValueWide",
            [] {
                static_cast<void>(LongText()); // made while allocation is granted
                MakeVoice();
            },
            []() -> LSTATUS {
                Key key;
                if (LSTATUS s = Create(kVoice, &key); s != ERROR_SUCCESS)
                    return s;
                return SetText(key, u"Description", LongText());
            },
            [] { EXPECT_EQ(Narrow(LongText()), Narrow(Text(kVoice, u"Description"))); },
            [] { EXPECT_EQ("<missing>", Narrow(Text(kVoice, u"Description"))); }};
}

Case ReplaceValueAnsi()
{
    return {"ReplaceValueAnsi", MakeVoice,
            []() -> LSTATUS {
                Key key;
                if (LSTATUS s = Create(kVoice, &key); s != ERROR_SUCCESS)
                    return s;
                const char text[] = "Alto, \xc3\xa9t\xc3\xa9 voice";
                return RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE *>(text), sizeof text);
            },
            [] { EXPECT_EQ(u"Alto, \u00e9t\u00e9 voice", Text(kVoice, nullptr)); },
            [] { EXPECT_EQ(u"Alto voice", Text(kVoice, nullptr)) << "the old value is gone or changed"; }};
}

Case QueryValue()
{
    return {"QueryValue", MakeVoice,
            []() -> LSTATUS {
                Key key;
                if (LSTATUS s = RegOpenKeyExW(HKEY_CURRENT_USER, kVoice, 0, KEY_READ, &key); s != ERROR_SUCCESS)
                    return s;
                char buf[128] = {};
                DWORD size = sizeof buf;
                if (LSTATUS s = RegQueryValueExA(key, "CLSID", nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size);
                    s != ERROR_SUCCESS)
                    return s;
                return std::strcmp(buf, "{01234567-89AB-CDEF-0123-456789ABCDEF}") == 0 ? ERROR_SUCCESS
                                                                                       : ERROR_INVALID_DATA;
            },
            [] {}, [] { EXPECT_EQ(u"Alto voice", Text(kVoice, nullptr)); }};
}

Case EnumerateKeysAndValues()
{
    return {
        "EnumerateKeysAndValues", MakeVoice,
        []() -> LSTATUS {
            Key key;
            if (LSTATUS s = RegOpenKeyExW(HKEY_CURRENT_USER, kVoice, 0, KEY_READ, &key); s != ERROR_SUCCESS)
                return s;
            char16_t name[256];
            DWORD cch = 256;
            if (LSTATUS s = RegEnumKeyExW(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr); s != ERROR_SUCCESS)
                return s;
            if (std::u16string(name) != u"Attributes")
                return ERROR_INVALID_DATA;
            cch = 256;
            char16_t data[128];
            DWORD size = sizeof data;
            if (LSTATUS s = RegEnumValueW(key, 1, name, &cch, nullptr, nullptr, reinterpret_cast<BYTE *>(data), &size);
                s != ERROR_SUCCESS)
                return s;
            return std::u16string(name) == u"CLSID" ? ERROR_SUCCESS : ERROR_INVALID_DATA;
        },
        [] {}, [] {}};
}

Case DeleteTree()
{
    return {"DeleteTree", MakeVoice, [] { return RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\AllocTest\\Voices"); },
            [] {
                EXPECT_TRUE(Exists(kTop));
                EXPECT_FALSE(Exists(u"Software\\AllocTest\\Voices"));
            },
            [] {
                EXPECT_EQ(u"Female", Text(u"Software\\AllocTest\\Voices\\Tokens\\Alto\\Attributes", u"Gender"))
                    << "a failed call deleted part of the tree";
                EXPECT_EQ(u"Alto voice", Text(kVoice, nullptr));
            }};
}

Case DeleteValue()
{
    return {"DeleteValue", MakeVoice,
            []() -> LSTATUS {
                Key key;
                if (LSTATUS s = RegOpenKeyExW(HKEY_CURRENT_USER, kVoice, 0, KEY_ALL_ACCESS, &key); s != ERROR_SUCCESS)
                    return s;
                return RegDeleteValueW(key, u"clsid");
            },
            [] { EXPECT_EQ("<missing>", Narrow(Text(kVoice, u"CLSID"))); },
            [] { EXPECT_EQ("{01234567-89AB-CDEF-0123-456789ABCDEF}", Narrow(Text(kVoice, u"CLSID"))); }};
}

INSTANTIATE_TEST_SUITE_P(Calls, RegistryUnderAllocationFailure,
                         ::testing::Values(CreateNestedKey(), OpenKey(), SetValueWide(), ReplaceValueAnsi(),
                                           QueryValue(), EnumerateKeysAndValues(), DeleteTree(), DeleteValue()),
                         [](const ::testing::TestParamInfo<Case> &row) { return std::string(row.param.label); });

} // namespace

#include "support/TempRegistry.h"

#include <orafon/win/objidl.h>
#include <orafon/win/winreg.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using orafon::test::Key;
using orafon::test::TempRegistry;

namespace {

class Registry : public ::testing::Test {
protected:
    TempRegistry registry_;

    // Creates HKCU\<path> with full access.
    void Create(const char *path, HKEY *key, DWORD *disposition = nullptr)
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key, disposition));
    }
    static LSTATUS SetText(HKEY key, const char *name, const char *text)
    {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                              static_cast<DWORD>(strlen(text) + 1));
    }
    static LSTATUS SetDword(HKEY key, const char *name, DWORD value)
    {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof(value));
    }
    static std::string GetText(HKEY key, const char *name)
    {
        char buf[512] = {};
        DWORD size = sizeof(buf);
        DWORD type = 0;
        if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size) != ERROR_SUCCESS)
            return "<missing>";
        return buf;
    }
    static std::vector<std::string> SubKeys(HKEY key)
    {
        std::vector<std::string> names;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD cch = sizeof(name);
            const LSTATUS s = RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
            if (s == ERROR_NO_MORE_ITEMS)
                break;
            EXPECT_EQ(ERROR_SUCCESS, s);
            if (s != ERROR_SUCCESS)
                break;
            EXPECT_EQ(strlen(name), cch);
            names.push_back(name);
        }
        return names;
    }
    static std::vector<std::string> ValueNames(HKEY key)
    {
        std::vector<std::string> names;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD cch = sizeof(name);
            const LSTATUS s = RegEnumValueA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
            if (s == ERROR_NO_MORE_ITEMS)
                break;
            EXPECT_EQ(ERROR_SUCCESS, s);
            if (s != ERROR_SUCCESS)
                break;
            names.push_back(name);
        }
        return names;
    }
};

// ---- Keys -------------------------------------------------------------------

TEST_F(Registry, CreatesNestedPathAndReportsDisposition)
{
    Key key;
    DWORD disposition = 0;
    Create("Software\\Orafon\\Deep\\Path", &key, &disposition);
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    Key again;
    Create("Software\\Orafon\\Deep\\Path", &again, &disposition);
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    Key opened;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Orafon\\Deep", 0, KEY_READ, &opened));
}

TEST_F(Registry, OpeningMissingKeyFailsAndClearsResult)
{
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nowhere", 0, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
}

TEST_F(Registry, KeyNamesAreCaseInsensitiveAndCasePreserving)
{
    Key key;
    Create("Software\\MixedCase", &key);
    Key upper;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\mixedCASE", 0, KEY_READ, &upper));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "v", "x"));
    EXPECT_EQ("x", GetText(upper, "V"));
    Key software;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "software", 0, KEY_READ, &software));
    EXPECT_EQ(std::vector<std::string>{"MixedCase"}, SubKeys(software));
}

TEST_F(Registry, NonAsciiNamesFoldCase)
{
    Key key;
    Create("Software\\Stimme Ärger Ωmega", &key);
    Key other;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "software\\STIMME äRGER ωMEGA", 0, KEY_READ, &other));
    Key wide;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\stimme ärger ΩMEGA", 0, KEY_READ, &wide));
}

TEST_F(Registry, RootsAreSeparate)
{
    Key user;
    Create("Software\\Same", &user);
    ASSERT_EQ(ERROR_SUCCESS, SetDword(user, "Where", 1));
    Key machine;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Same", 0, KEY_READ, &machine));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CLASSES_ROOT, "Software\\Same", 0, KEY_READ, &machine));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_USERS, "Software\\Same", 0, KEY_READ, &machine));
}

TEST_F(Registry, EmptySubKeyOpensTheKeyItself)
{
    Key key;
    Create("Software\\Self", &key);
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "n", "v"));
    Key same;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, "", 0, KEY_READ, &same));
    EXPECT_EQ("v", GetText(same, "n"));
    Key viaNull;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, nullptr, 0, KEY_READ, &viaNull));
    EXPECT_EQ("v", GetText(viaNull, "n"));
}

TEST_F(Registry, LeadingBackslashIsRefused)
{
    Key key;
    EXPECT_EQ(ERROR_BAD_PATHNAME,
              RegCreateKeyExA(HKEY_CURRENT_USER, "\\Software", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
}

TEST_F(Registry, OverlongKeyNameIsRefused)
{
    Key key;
    const std::string name(256, 'k');
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
}

// ---- Values -------------------------------------------------------------------

TEST_F(Registry, ValueNamesAreCaseInsensitiveAndKeepFirstSpelling)
{
    Key key;
    Create("Software\\Values", &key);
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "Gender", "Female"));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "GENDER", "Male"));
    EXPECT_EQ("Male", GetText(key, "gender"));
    EXPECT_EQ(std::vector<std::string>{"Gender"}, ValueNames(key));
}

TEST_F(Registry, DefaultValueHasNullOrEmptyName)
{
    Key key;
    Create("Software\\Default", &key);
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, nullptr, "display name"));
    EXPECT_EQ("display name", GetText(key, ""));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "", "renamed"));
    EXPECT_EQ("renamed", GetText(key, nullptr));
    EXPECT_EQ(std::vector<std::string>{""}, ValueNames(key));
}

struct TypedValue {
    const char *label;
    DWORD type;
    std::vector<BYTE> written; // bytes given to RegSetValueExW
    std::vector<BYTE> read;    // bytes RegQueryValueExW gives back
};

void PrintTo(const TypedValue &row, std::ostream *os)
{
    *os << row.label;
}

std::vector<BYTE> Bytes(std::u16string_view s)
{
    const auto *p = reinterpret_cast<const BYTE *>(s.data());
    return std::vector<BYTE>(p, p + s.size() * 2);
}

class RegistryTypes : public Registry, public ::testing::WithParamInterface<TypedValue> {};

TEST_P(RegistryTypes, RoundTripsThroughWideForms)
{
    const TypedValue &row = GetParam();
    Key key;
    Create("Software\\Types", &key);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, u"v", 0, row.type, row.written.data(), static_cast<DWORD>(row.written.size())));
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"V", nullptr, &type, nullptr, &size));
    EXPECT_EQ(row.type, type);
    ASSERT_EQ(row.read.size(), size);
    std::vector<BYTE> data(size);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"v", nullptr, &type, data.data(), &size));
    EXPECT_EQ(row.read, data);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RegistryTypes,
    ::testing::Values(TypedValue{"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}, {0x78, 0x56, 0x34, 0x12}},
                      TypedValue{"binary", REG_BINARY, {0, 1, 2, 0, 255}, {0, 1, 2, 0, 255}},
                      TypedValue{"emptybinary", REG_BINARY, {}, {}},
                      TypedValue{"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
                      TypedValue{"sz", REG_SZ, Bytes(std::u16string_view(u"abc", 4)),
                                 Bytes(std::u16string_view(u"abc", 4))},
                      TypedValue{"szunterminated", REG_SZ, Bytes(u"abc"), Bytes(std::u16string_view(u"abc", 4))},
                      TypedValue{"szempty", REG_SZ, {}, Bytes(std::u16string_view(u"", 1))},
                      TypedValue{"expandsz", REG_EXPAND_SZ, Bytes(std::u16string_view(u"%HOME%", 7)),
                                 Bytes(std::u16string_view(u"%HOME%", 7))},
                      TypedValue{"multisz", REG_MULTI_SZ, Bytes(std::u16string_view(u"a\0bc\0", 6)),
                                 Bytes(std::u16string_view(u"a\0bc\0", 6))},
                      TypedValue{"multiszunterminated", REG_MULTI_SZ, Bytes(std::u16string_view(u"a\0bc", 4)),
                                 Bytes(std::u16string_view(u"a\0bc\0", 6))}),
    [](const ::testing::TestParamInfo<TypedValue> &row) { return std::string(row.param.label); });

struct TextRow {
    const char *label;
    std::u16string wide; // without NUL
    std::string utf8;    // without NUL
};

void PrintTo(const TextRow &row, std::ostream *os)
{
    *os << row.label;
}

class RegistryText : public Registry, public ::testing::WithParamInterface<TextRow> {};

TEST_P(RegistryText, WideAndAnsiFormsAgree)
{
    const TextRow &row = GetParam();
    Key key;
    Create("Software\\Text", &key);
    const std::u16string withNul(row.wide.c_str(), row.wide.size() + 1);
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, u"w", 0, REG_SZ, reinterpret_cast<const BYTE *>(withNul.data()),
                                            static_cast<DWORD>(withNul.size() * 2)));
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "w", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(row.utf8.size() + 1, size); // the A form counts bytes of UTF-8 with the NUL
    std::string got(size, '\0');
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "w", nullptr, nullptr, reinterpret_cast<BYTE *>(got.data()), &size));
    EXPECT_EQ(row.utf8 + '\0', got);

    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "a", row.utf8.c_str()));
    size = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"a", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(withNul.size() * 2, size);
    std::u16string wide(size / 2, u'\0');
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExW(key, u"a", nullptr, nullptr, reinterpret_cast<BYTE *>(wide.data()), &size));
    EXPECT_EQ(withNul, wide);
}

INSTANTIATE_TEST_SUITE_P(Table, RegistryText,
                         ::testing::Values(TextRow{"ascii", u"Microsoft Anna", "Microsoft Anna"},
                                           TextRow{"latin", u"Fran\u00e7ais",
                                                   "Fran\xc3\xa7"
                                                   "ais"},
                                           TextRow{"cjk", u"\u65e5\u672c\u8a9e",
                                                   "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e"},
                                           TextRow{"astral", u"a\U0001F600b",
                                                   "a\xf0\x9f\x98\x80"
                                                   "b"},
                                           TextRow{"empty", u"", ""}),
                         [](const ::testing::TestParamInfo<TextRow> &row) { return std::string(row.param.label); });

TEST_F(Registry, QuerySizeRules)
{
    Key key;
    Create("Software\\Sizes", &key);
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "s", "hello"));
    DWORD type = 0;
    DWORD size = 0;
    // No buffer: the size needed.
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "s", nullptr, &type, nullptr, &size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    // Short buffer: ERROR_MORE_DATA with the size needed.
    char small[3];
    size = sizeof(small);
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "s", nullptr, nullptr, reinterpret_cast<BYTE *>(small), &size));
    EXPECT_EQ(6u, size);
    // Exact buffer.
    char exact[6];
    size = sizeof(exact);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "s", nullptr, nullptr, reinterpret_cast<BYTE *>(exact), &size));
    EXPECT_STREQ("hello", exact);
    // A buffer without a size is refused; neither asks only for existence.
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(key, "s", nullptr, nullptr, reinterpret_cast<BYTE *>(exact), nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "s", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "missing", nullptr, nullptr, nullptr, nullptr));
    // Wide form counts bytes of UTF-16.
    size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, u"s", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(12u, size);
}

TEST_F(Registry, SetWithDataSizeButNoDataIsRefused)
{
    Key key;
    Create("Software\\NoData", &key);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegSetValueExA(key, "x", 0, REG_BINARY, nullptr, 4));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "x", 0, REG_BINARY, nullptr, 0));
}

TEST_F(Registry, DeleteValue)
{
    Key key;
    Create("Software\\DeleteValue", &key);
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, "One", 1));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "ONE"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "One"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueW(key, u"Two"));
}

// ---- Enumeration ----------------------------------------------------------------

TEST_F(Registry, SubKeysEnumerateInCaseInsensitiveOrder)
{
    Key key;
    Create("Software\\Enum", &key);
    for (const char *name : {"delta", "Alpha", "charlie", "Bravo"}) {
        Key child;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr));
    }
    EXPECT_EQ((std::vector<std::string>{"Alpha", "Bravo", "charlie", "delta"}), SubKeys(key));

    std::u16string name(16, u'\0');
    DWORD cch = static_cast<DWORD>(name.size());
    ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExW(key, 2, name.data(), &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(7u, cch);
    EXPECT_EQ(u"charlie", std::u16string(name.c_str()));
}

TEST_F(Registry, EnumKeyNameBufferRules)
{
    Key key;
    Create("Software\\EnumSize", &key);
    Key child;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, "abcd", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr));
    char name[8];
    DWORD cch = 4; // no room for the NUL
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    cch = 5;
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(key, 0, name, &cch, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(4u, cch);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegEnumKeyExA(key, 0, nullptr, &cch, nullptr, nullptr, nullptr, nullptr));
    cch = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(key, 1, name, &cch, nullptr, nullptr, nullptr, nullptr));
    FILETIME ft{};
    cch = sizeof(name);
    ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(key, 0, name, &cch, nullptr, nullptr, nullptr, &ft));
    EXPECT_GT(ft.dwHighDateTime, 0x01D00000u); // after 2015 in 100-ns units since 1601
}

TEST_F(Registry, ValuesEnumerateInWriteOrderStableOverUpdates)
{
    Key key;
    Create("Software\\EnumValues", &key);
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "Zeta", "1"));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "alpha", "2"));
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, "Mid", 3));
    ASSERT_EQ(ERROR_SUCCESS, SetText(key, "ZETA", "changed"));
    EXPECT_EQ((std::vector<std::string>{"Zeta", "alpha", "Mid"}), ValueNames(key));

    char name[16];
    DWORD cch = sizeof(name);
    DWORD type = 0;
    BYTE data[16];
    DWORD size = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(key, 0, name, &cch, nullptr, &type, data, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(8u, size);
    EXPECT_STREQ("changed", reinterpret_cast<char *>(data));
    size = 2;
    cch = sizeof(name);
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(key, 0, name, &cch, nullptr, &type, data, &size));
    EXPECT_EQ(8u, size);
    cch = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(key, 3, name, &cch, nullptr, nullptr, nullptr, nullptr));
}

// ---- Deletion -------------------------------------------------------------------

TEST_F(Registry, DeleteKeyRefusesKeysWithSubKeys)
{
    Key leaf;
    Create("Software\\Tree\\Branch\\Leaf", &leaf);
    leaf.Close();
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tree\\Branch"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "software\\tree\\branch\\LEAF"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Tree\\Branch"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tree\\Branch"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(HKEY_CURRENT_USER, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, ""));
}

TEST_F(Registry, DeleteTreeRemovesEverythingBelow)
{
    Key leaf;
    Create("Software\\Big\\A\\B\\C", &leaf);
    ASSERT_EQ(ERROR_SUCCESS, SetDword(leaf, "deep", 1));
    Key other;
    Create("Software\\Big\\D", &other);
    leaf.Close();
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Big"));
    Key gone;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Big", 0, KEY_READ, &gone));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Big"));
    // A recreated key starts empty: nothing of the old tree comes back.
    Key reborn;
    Create("Software\\Big\\A\\B\\C", &reborn);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(reborn, "deep", nullptr, nullptr, nullptr, nullptr));
}

TEST_F(Registry, DeleteTreeWithoutSubKeyEmptiesTheKey)
{
    Key key;
    Create("Software\\Emptied", &key);
    ASSERT_EQ(ERROR_SUCCESS, SetDword(key, "v", 1));
    Key child;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, "child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeA(key, nullptr));
    EXPECT_TRUE(SubKeys(key).empty());
    EXPECT_TRUE(ValueNames(key).empty());
    EXPECT_EQ(ERROR_SUCCESS, SetDword(key, "still usable", 2));
}

TEST_F(Registry, HandlesOfDeletedKeysReportKeyDeleted)
{
    Key key;
    Create("Software\\Doomed", &key);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Doomed"));
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(key, "v", 1));
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, nullptr));
    Key child;
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegCreateKeyExA(key, "child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr));
    // Recreating the same path gives a new key the old handle does not see.
    Key fresh;
    Create("Software\\Doomed", &fresh);
    EXPECT_EQ(ERROR_KEY_DELETED, SetDword(key, "v", 1));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(fresh, "v", 1));
}

// ---- Handles and rights ---------------------------------------------------------

TEST_F(Registry, BadHandlesAreRefused)
{
    int notAKey = 0;
    const HKEY bogus = reinterpret_cast<HKEY>(&notAKey);
    EXPECT_EQ(ERROR_INVALID_HANDLE, SetDword(bogus, "v", 1));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(bogus));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    Key child;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(nullptr, "Software", 0, KEY_READ, &child));

    HKEY key = nullptr;
    Create("Software\\Closed", &key);
    ASSERT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, SetDword(key, "v", 1));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE)); // predefined keys close harmlessly
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, nullptr));
}

TEST_F(Registry, ReadOnlyHandlesCannotWrite)
{
    Key created;
    Create("Software\\Rights", &created);
    Key reader;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Rights", 0, KEY_READ, &reader));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(reader, "v", 1));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(reader, "v"));
    Key child;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegCreateKeyExA(reader, "child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr));
    Key writer;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Rights", 0, KEY_WRITE, &writer));
    EXPECT_EQ(ERROR_SUCCESS, SetDword(writer, "v", 1));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(writer, "v", nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(reader, "v", nullptr, nullptr, nullptr, nullptr));
}

TEST_F(Registry, ManyVoiceLikeKeysEnumerate)
{
    // The layout the speech platform reads at every object creation.
    Key voices;
    Create("Software\\Speech\\Voices\\Tokens", &voices);
    for (int i = 0; i < 140; ++i) {
        Key token;
        const std::string name = "Voice" + std::to_string(1000 + i);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(voices, (name + "\\Attributes").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &token, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, SetText(token, "Name", name.c_str()));
        ASSERT_EQ(ERROR_SUCCESS, SetText(token, "Gender", i % 2 ? "Male" : "Female"));
    }
    const std::vector<std::string> names = SubKeys(voices);
    ASSERT_EQ(140u, names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ("Voice" + std::to_string(1000 + i), names[i]);
        Key attributes;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(voices, (names[i] + "\\Attributes").c_str(), 0, KEY_READ, &attributes));
        EXPECT_EQ(names[i], GetText(attributes, "Name"));
    }
}

} // namespace

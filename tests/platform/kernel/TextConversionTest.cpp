// MultiByteToWideChar / WideCharToMultiByte against Windows' rules: buffer
// sizes, NUL handling, ill-formed input.
#include <orafon/win/winbase.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// ---- UTF-8 to UTF-16 ------------------------------------------------------------

struct Decode {
    const char *label;
    std::string input;       // passed with its length (no NUL)
    std::u16string expected; // what lenient conversion gives
    bool valid;              // false: MB_ERR_INVALID_CHARS refuses it
};

void PrintTo(const Decode &row, std::ostream *os)
{
    *os << row.label;
}

class Utf8Decoding : public ::testing::TestWithParam<Decode> {};

TEST_P(Utf8Decoding, GivesExpectedUnits)
{
    const Decode &row = GetParam();
    for (UINT cp : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        const int len = static_cast<int>(row.input.size());
        const int needed = MultiByteToWideChar(cp, 0, row.input.data(), len, nullptr, 0);
        ASSERT_EQ(static_cast<int>(row.expected.size()), needed);
        std::u16string out(static_cast<size_t>(needed), u'\0');
        ASSERT_EQ(needed, MultiByteToWideChar(cp, 0, row.input.data(), len, out.data(), needed));
        EXPECT_EQ(row.expected, out);

        SetLastError(0);
        const int strict = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, row.input.data(), len, out.data(), needed);
        if (row.valid) {
            EXPECT_EQ(needed, strict);
        } else {
            EXPECT_EQ(0, strict);
            EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
        }
    }
}

// Ill-formed sequences become one U+FFFD per maximal subpart (the Unicode
// recommended practice).
INSTANTIATE_TEST_SUITE_P(
    Table, Utf8Decoding,
    ::testing::Values(Decode{"ascii", "abc", u"abc", true}, Decode{"twobyte", "\xC3\xA9", u"\u00E9", true},
                      Decode{"threebyte", "\xE2\x82\xAC", u"\u20AC", true},
                      Decode{"fourbyte", "\xF0\x9F\x98\x80", u"\U0001F600", true},
                      Decode{"maxscalar", "\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},
                      Decode{"lastbmp", "\xEF\xBF\xBF", u"\uFFFF", true},
                      Decode{"embeddednul", std::string("a\0b", 3), std::u16string(u"a\0b", 3), true},
                      Decode{"lonecontinuation", "\x80", u"\uFFFD", false},
                      Decode{"truncatedtwo", "\xC3", u"\uFFFD", false},
                      Decode{"truncatedthree",
                             "\xE2\x82"
                             "a",
                             u"\uFFFD"
                             "a",
                             false},
                      Decode{"truncatedfour", "\xF0\x9F\x98", u"\uFFFD", false},
                      Decode{"overlongtwo", "\xC0\xAF", u"\uFFFD\uFFFD", false},
                      Decode{"overlongthree", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", false},
                      Decode{"overlongfour", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
                      Decode{"encodedsurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},
                      Decode{"beyondmax", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
                      Decode{"f5", "\xF5", u"\uFFFD", false}, Decode{"ff", "x\xFFy", u"x\uFFFDy", false},
                      Decode{"leadthenascii",
                             "\xC3"
                             "A",
                             u"\uFFFD"
                             "A",
                             false}),
    [](const ::testing::TestParamInfo<Decode> &row) { return std::string(row.param.label); });

TEST(MultiByteToWideChar, MinusOneCountsAndCopiesTheNul)
{
    EXPECT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0));
    WCHAR buf[8];
    ASSERT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, buf, 8));
    EXPECT_EQ(u"abc", std::u16string(buf));
    // With an explicit length no NUL is added.
    buf[3] = u'X';
    ASSERT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "abc", 3, buf, 8));
    EXPECT_EQ(u'X', buf[3]);
    EXPECT_EQ(1, MultiByteToWideChar(CP_UTF8, 0, "", -1, buf, 8));
    EXPECT_EQ(u'\0', buf[0]);
}

TEST(MultiByteToWideChar, ShortBufferFails)
{
    WCHAR buf[3];
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, buf, 3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "abc", 3, buf, 3)); // exactly enough without the NUL
    // A surrogate pair needs two units.
    WCHAR one[1];
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, one, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

TEST(MultiByteToWideChar, BadArgumentsAreRefused)
{
    WCHAR buf[4];
    struct Case {
        UINT cp;
        DWORD flags;
        const char *src;
        int srcLen;
        WCHAR *dst;
        int dstLen;
        DWORD error;
    };
    const Case cases[] = {
        {CP_UTF8, 0, nullptr, 3, buf, 4, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 0, "abc", 0, buf, 4, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 0, "abc", -2, buf, 4, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 0, "abc", 3, buf, -1, ERROR_INVALID_PARAMETER},
        {CP_UTF8, 0, "abc", 3, nullptr, 4, ERROR_INVALID_PARAMETER},
        {CP_UTF8, MB_PRECOMPOSED, "abc", 3, buf, 4, ERROR_INVALID_FLAGS},
        {CP_ACP, 0x100, "abc", 3, buf, 4, ERROR_INVALID_FLAGS},
        {12345, 0, "abc", 3, buf, 4, ERROR_INVALID_PARAMETER},
    };
    for (const Case &c : cases) {
        SetLastError(0);
        EXPECT_EQ(0, MultiByteToWideChar(c.cp, c.flags, c.src, c.srcLen, c.dst, c.dstLen));
        EXPECT_EQ(c.error, GetLastError());
    }
    // The ANSI code page takes the composition flag.
    EXPECT_EQ(3, MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, "abc", 3, buf, 4));
}

// ---- UTF-16 to UTF-8 ------------------------------------------------------------

struct Encode {
    const char *label;
    std::u16string input;
    std::string expected;
    bool valid;
};

void PrintTo(const Encode &row, std::ostream *os)
{
    *os << row.label;
}

class Utf16Encoding : public ::testing::TestWithParam<Encode> {};

TEST_P(Utf16Encoding, GivesExpectedBytes)
{
    const Encode &row = GetParam();
    const int len = static_cast<int>(row.input.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, row.input.data(), len, nullptr, 0, nullptr, nullptr);
    ASSERT_EQ(static_cast<int>(row.expected.size()), needed);
    std::string out(static_cast<size_t>(needed), '\0');
    ASSERT_EQ(needed, WideCharToMultiByte(CP_UTF8, 0, row.input.data(), len, out.data(), needed, nullptr, nullptr));
    EXPECT_EQ(row.expected, out);
    SetLastError(0);
    const int strict =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, row.input.data(), len, out.data(), needed, nullptr, nullptr);
    if (row.valid) {
        EXPECT_EQ(needed, strict);
    } else {
        EXPECT_EQ(0, strict);
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION), GetLastError());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf16Encoding,
    ::testing::Values(Encode{"ascii", u"abc", "abc", true}, Encode{"latin", u"\u00E9", "\xC3\xA9", true},
                      Encode{"euro", u"\u20AC", "\xE2\x82\xAC", true},
                      Encode{"pair", u"\U0001F600", "\xF0\x9F\x98\x80", true},
                      Encode{"maxscalar", u"\U0010FFFF", "\xF4\x8F\xBF\xBF", true},
                      Encode{"lonehigh", std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD", false},
                      Encode{"lonelow", std::u16string{char16_t(0xDC00), u'a'},
                             "\xEF\xBF\xBD"
                             "a",
                             false},
                      Encode{"highathigh", std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)},
                             "\xEF\xBF\xBD\xF0\x9F\x98\x80", false},
                      Encode{"reversedpair", std::u16string{char16_t(0xDE00), char16_t(0xD83D)},
                             "\xEF\xBF\xBD\xEF\xBF\xBD", false},
                      Encode{"replacementitself", u"\uFFFD", "\xEF\xBF\xBD", true}),
    [](const ::testing::TestParamInfo<Encode> &row) { return std::string(row.param.label); });

TEST(WideCharToMultiByte, SizesAndNul)
{
    EXPECT_EQ(4, WideCharToMultiByte(CP_UTF8, 0, u"abc", -1, nullptr, 0, nullptr, nullptr));
    char buf[8];
    ASSERT_EQ(4, WideCharToMultiByte(CP_UTF8, 0, u"abc", -1, buf, 8, nullptr, nullptr));
    EXPECT_STREQ("abc", buf);
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"\u20AC", 1, buf, 2, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(3, WideCharToMultiByte(CP_UTF8, 0, u"\u20AC", 1, buf, 3, nullptr, nullptr));
}

TEST(WideCharToMultiByte, DefaultCharacterRules)
{
    char buf[8];
    BOOL used = TRUE;
    // UTF-8 takes neither a default character nor the flag that reports it.
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"a", 1, buf, 8, nullptr, &used));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_NO_BEST_FIT_CHARS, u"a", 1, buf, 8, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FLAGS), GetLastError());
    // The ANSI code page reports and uses them.
    ASSERT_EQ(1, WideCharToMultiByte(CP_ACP, 0, u"a", 1, buf, 8, nullptr, &used));
    EXPECT_FALSE(used);
    const std::u16string lone{u'x', char16_t(0xD800), u'y'};
    ASSERT_EQ(3, WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, lone.data(), 3, buf, 8, "?", &used));
    EXPECT_TRUE(used);
    EXPECT_EQ("x?y", std::string(buf, 3));
}

TEST(WideCharToMultiByte, BadArgumentsAreRefused)
{
    char buf[4];
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, nullptr, 1, buf, 4, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"a", 0, buf, 4, nullptr, nullptr));
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"a", 1, nullptr, 4, nullptr, nullptr));
    EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"a", 1, buf, -1, nullptr, nullptr));
    EXPECT_EQ(0, WideCharToMultiByte(999, 0, u"a", 1, buf, 4, nullptr, nullptr));
}

TEST(TextConversion, RoundTripsEveryScalarValueBlock)
{
    // One code point from every 64 in the whole range, surrogates excluded.
    std::u16string wide;
    for (char32_t cp = 1; cp <= 0x10FFFF; cp += 61) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        if (cp < 0x10000) {
            wide += static_cast<char16_t>(cp);
        } else {
            wide += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    const int len = static_cast<int>(wide.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), len, nullptr, 0, nullptr, nullptr);
    ASSERT_GT(bytes, 0);
    std::string narrow(static_cast<size_t>(bytes), '\0');
    ASSERT_EQ(bytes, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), len, narrow.data(), bytes, nullptr,
                                         nullptr));
    std::u16string back(wide.size(), u'\0');
    ASSERT_EQ(len, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, narrow.data(), bytes, back.data(), len));
    EXPECT_EQ(wide, back);
}

} // namespace

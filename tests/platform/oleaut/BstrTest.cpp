// BSTR layout (length prefix, terminating NUL) and ownership.
#include <orafon/win/oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

DWORD Prefix(BSTR b)
{
    DWORD bytes;
    std::memcpy(&bytes, reinterpret_cast<const char *>(b) - sizeof(DWORD), sizeof bytes);
    return bytes;
}

// Holds a BSTR for the length of a test.
struct Bstr {
    BSTR p;
    explicit Bstr(BSTR b) : p(b) {}
    ~Bstr() { SysFreeString(p); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
};

TEST(Bstr, AllocStringStoresByteLengthAndNul)
{
    Bstr b(SysAllocString(u"Hello"));
    ASSERT_NE(b.p, nullptr);
    EXPECT_EQ(Prefix(b.p), 10u);
    EXPECT_EQ(SysStringLen(b.p), 5u);
    EXPECT_EQ(SysStringByteLen(b.p), 10u);
    EXPECT_EQ(std::u16string(b.p), u"Hello");
    EXPECT_EQ(b.p[5], u'\0');
}

TEST(Bstr, NullInputGivesNullString)
{
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr); // must be harmless
}

TEST(Bstr, EmptyStringIsNotNull)
{
    Bstr b(SysAllocString(u""));
    ASSERT_NE(b.p, nullptr);
    EXPECT_EQ(SysStringLen(b.p), 0u);
    EXPECT_EQ(b.p[0], u'\0');
}

TEST(Bstr, AllocStringLenKeepsEmbeddedNuls)
{
    const OLECHAR data[] = {u'a', u'\0', u'b', u'c'};
    Bstr b(SysAllocStringLen(data, 4));
    ASSERT_NE(b.p, nullptr);
    EXPECT_EQ(SysStringLen(b.p), 4u);
    EXPECT_EQ(b.p[1], u'\0');
    EXPECT_EQ(b.p[3], u'c');
    EXPECT_EQ(b.p[4], u'\0');
}

TEST(Bstr, AllocStringLenWithNullSourceAllocatesRequestedLength)
{
    Bstr b(SysAllocStringLen(nullptr, 8));
    ASSERT_NE(b.p, nullptr);
    EXPECT_EQ(SysStringLen(b.p), 8u);
    EXPECT_EQ(b.p[8], u'\0');
    for (int i = 0; i < 8; ++i)
        b.p[i] = u'x'; // the characters are the caller's to fill
    EXPECT_EQ(std::u16string(b.p), u"xxxxxxxx");
}

TEST(Bstr, ByteLengthStringsMayBeOdd)
{
    Bstr b(SysAllocStringByteLen("abc", 3));
    ASSERT_NE(b.p, nullptr);
    EXPECT_EQ(SysStringByteLen(b.p), 3u);
    EXPECT_EQ(SysStringLen(b.p), 1u);
    const char *bytes = reinterpret_cast<const char *>(b.p);
    EXPECT_EQ(std::memcmp(bytes, "abc", 3), 0);
    EXPECT_EQ(bytes[3], '\0');
    EXPECT_EQ(bytes[4], '\0');
}

TEST(Bstr, ByteLengthWithNullSourceIsZeroed)
{
    Bstr b(SysAllocStringByteLen(nullptr, 6));
    ASSERT_NE(b.p, nullptr);
    EXPECT_EQ(SysStringByteLen(b.p), 6u);
    EXPECT_EQ(SysStringLen(b.p), 3u);
    EXPECT_EQ(b.p[3], u'\0');
}

TEST(Bstr, HugeLengthsFailCleanly)
{
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, ReAllocStringReplacesContents)
{
    BSTR b = SysAllocString(u"short");
    ASSERT_TRUE(SysReAllocString(&b, u"a much longer string"));
    EXPECT_EQ(std::u16string(b), u"a much longer string");
    EXPECT_EQ(SysStringLen(b), 20u);
    ASSERT_TRUE(SysReAllocString(&b, u"x"));
    EXPECT_EQ(std::u16string(b), u"x");
    EXPECT_EQ(Prefix(b), 2u);
    SysFreeString(b);
}

TEST(Bstr, ReAllocStringFromItsOwnTail)
{
    BSTR b = SysAllocString(u"Hello world");
    ASSERT_TRUE(SysReAllocString(&b, b + 6));
    EXPECT_EQ(std::u16string(b), u"world");
    SysFreeString(b);
}

TEST(Bstr, ReAllocStringOfNullStringAllocates)
{
    BSTR b = nullptr;
    ASSERT_TRUE(SysReAllocString(&b, u"new"));
    EXPECT_EQ(std::u16string(b), u"new");
    SysFreeString(b);
    EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

TEST(Bstr, ReAllocStringLenGrowsAndShrinks)
{
    BSTR b = SysAllocString(u"abc");
    ASSERT_TRUE(SysReAllocStringLen(&b, u"abcdefgh", 6));
    EXPECT_EQ(SysStringLen(b), 6u);
    EXPECT_EQ(std::u16string(b), u"abcdef");
    ASSERT_TRUE(SysReAllocStringLen(&b, b + 2, 2));
    EXPECT_EQ(std::u16string(b), u"cd");
    EXPECT_EQ(b[2], u'\0');
    SysFreeString(b);
}

TEST(Bstr, ReAllocStringLenWithNullSourceKeepsOldText)
{
    BSTR b = SysAllocString(u"keep");
    ASSERT_TRUE(SysReAllocStringLen(&b, nullptr, 6));
    EXPECT_EQ(SysStringLen(b), 6u);
    EXPECT_EQ(std::u16string(b, 4), u"keep");
    EXPECT_EQ(b[6], u'\0');
    SysFreeString(b);
}

TEST(Bstr, PassesForAnOrdinaryWideString)
{
    Bstr b(SysAllocString(u"text"));
    const OLECHAR *plain = b.p;
    size_t n = 0;
    while (plain[n])
        ++n;
    EXPECT_EQ(n, 4u);
}

} // namespace

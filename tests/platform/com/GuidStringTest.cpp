#include "support/TempRegistry.h"

#include <orafon/Holders.h>
#include <orafon/win/objbase.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// {6B29FC40-CA47-1067-B31D-00DD010662DA}
constexpr GUID kSample = {0x6B29FC40, 0xCA47, 0x1067, {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}};

TEST(GuidStrings, StringFromGuid2GivesUpperCaseBracedForm)
{
    OLECHAR buf[39];
    EXPECT_EQ(39, StringFromGUID2(kSample, buf, 39));
    EXPECT_EQ(u"{6B29FC40-CA47-1067-B31D-00DD010662DA}", std::u16string(buf));
    EXPECT_EQ(39, StringFromGUID2(GUID_NULL, buf, 39));
    EXPECT_EQ(u"{00000000-0000-0000-0000-000000000000}", std::u16string(buf));
    EXPECT_EQ(39, StringFromGUID2(IID_IClassFactory, buf, 39));
    EXPECT_EQ(u"{00000001-0000-0000-C000-000000000046}", std::u16string(buf));
}

TEST(GuidStrings, StringFromGuid2NeedsRoomForTheNul)
{
    OLECHAR buf[39] = {u'x'};
    EXPECT_EQ(0, StringFromGUID2(kSample, buf, 38));
    EXPECT_EQ(u'x', buf[0]);
    EXPECT_EQ(0, StringFromGUID2(kSample, nullptr, 39));
    OLECHAR big[64];
    EXPECT_EQ(39, StringFromGUID2(kSample, big, 64));
}

TEST(GuidStrings, StringFromClsidAllocatesTaskMemory)
{
    orafon::CComHeapPtr<OLECHAR> text;
    ASSERT_EQ(S_OK, StringFromCLSID(kSample, text.Out()));
    EXPECT_EQ(u"{6B29FC40-CA47-1067-B31D-00DD010662DA}", std::u16string(text.Get()));
    EXPECT_EQ(E_INVALIDARG, StringFromCLSID(kSample, nullptr));
}

TEST(GuidStrings, RoundTripsThroughBothParsers)
{
    for (const GUID &g : {kSample, GUID_NULL, IID_IUnknown, IID_IClassFactory}) {
        OLECHAR buf[39];
        ASSERT_EQ(39, StringFromGUID2(g, buf, 39));
        CLSID clsid;
        ASSERT_EQ(S_OK, CLSIDFromString(buf, &clsid));
        EXPECT_TRUE(IsEqualGUID(g, clsid));
        IID iid;
        ASSERT_EQ(S_OK, IIDFromString(buf, &iid));
        EXPECT_TRUE(IsEqualGUID(g, iid));
    }
}

TEST(GuidStrings, LowerCaseIsAccepted)
{
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromString(u"{6b29fc40-ca47-1067-b31d-00dd010662da}", &clsid));
    EXPECT_TRUE(IsEqualGUID(kSample, clsid));
}

struct Malformed {
    const char *label;
    std::u16string text;
};

void PrintTo(const Malformed &m, std::ostream *os)
{
    *os << m.label;
}

// Text that is not a braced GUID is looked up as a ProgID, so these tests
// read a registry of their own.
class MalformedGuid : public ::testing::TestWithParam<Malformed> {
protected:
    orafon::test::TempRegistry registry_;
};

TEST_P(MalformedGuid, IsRefusedByBothParsers)
{
    CLSID clsid = kSample;
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(GetParam().text.c_str(), &clsid));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, clsid));
    IID iid;
    EXPECT_EQ(E_INVALIDARG, IIDFromString(GetParam().text.c_str(), &iid));
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedGuid,
                         ::testing::Values(Malformed{"empty", u""},
                                           Malformed{"nobraces", u"6B29FC40-CA47-1067-B31D-00DD010662DA"},
                                           Malformed{"noclose", u"{6B29FC40-CA47-1067-B31D-00DD010662DA"},
                                           Malformed{"short", u"{6B29FC40-CA47-1067-B31D-00DD010662D}"},
                                           Malformed{"long", u"{6B29FC40-CA47-1067-B31D-00DD010662DAA}"},
                                           Malformed{"trailing", u"{6B29FC40-CA47-1067-B31D-00DD010662DA}x"},
                                           Malformed{"badhex", u"{6B29FC4G-CA47-1067-B31D-00DD010662DA}"},
                                           Malformed{"badhexlast", u"{6B29FC40-CA47-1067-B31D-00DD010662DZ}"},
                                           Malformed{"movedhyphen", u"{6B29FC4-0CA47-1067-B31D-00DD010662DA}"},
                                           Malformed{"nohyphens", u"{6B29FC40CA471067B31D00DD010662DA}"},
                                           Malformed{"spaces", u"{6B29FC40-CA47-1067-B31D-00DD010662D }"},
                                           Malformed{"sign", u"{+B29FC40-CA47-1067-B31D-00DD010662DA}"},
                                           Malformed{"parens", u"(6B29FC40-CA47-1067-B31D-00DD010662DA)"}),
                         [](const ::testing::TestParamInfo<Malformed> &row) { return std::string(row.param.label); });

TEST(GuidStrings, NullStringsGiveGuidNull)
{
    CLSID clsid = kSample;
    EXPECT_EQ(S_OK, CLSIDFromString(nullptr, &clsid));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, clsid));
    IID iid = kSample;
    EXPECT_EQ(S_OK, IIDFromString(nullptr, &iid));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, iid));
    EXPECT_EQ(E_INVALIDARG, CLSIDFromString(u"{6B29FC40-CA47-1067-B31D-00DD010662DA}", nullptr));
    EXPECT_EQ(E_INVALIDARG, IIDFromString(u"{6B29FC40-CA47-1067-B31D-00DD010662DA}", nullptr));
}

} // namespace

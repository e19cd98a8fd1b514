// The rules of IUnknown on every object the SAPI 5 server hands out: its
// class objects, voices, tokens, categories, token enumerators, data keys
// and the device's output stream.
#include "VoiceTestSupport.h"
#include "support/ComRules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

struct Served {
    std::string name;
    std::function<CComPtr<IUnknown>()> make;
    std::vector<IID> answered;
};

template <typename I> CComPtr<IUnknown> Make(REFCLSID clsid)
{
    CComPtr<I> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, __uuidof(I), reinterpret_cast<void **>(&object)), S_OK);
    return CComPtr<IUnknown>(object.get());
}

CComPtr<IUnknown> ClassObject(REFCLSID clsid)
{
    CComPtr<IUnknown> factory;
    EXPECT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IUnknown, reinterpret_cast<void **>(&factory)),
              S_OK);
    return factory;
}

CComPtr<ISpObjectTokenCategory> Voices()
{
    CComPtr<ISpObjectTokenCategory> category;
    EXPECT_EQ(CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                               reinterpret_cast<void **>(&category)),
              S_OK);
    if (category) {
        EXPECT_EQ(category->SetId(SPCAT_VOICES, FALSE), S_OK);
    }
    return category;
}

CComPtr<IUnknown> TokenList()
{
    CComPtr<IEnumSpObjectTokens> tokens;
    EXPECT_EQ(Voices()->EnumTokens(nullptr, nullptr, &tokens), S_OK);
    return CComPtr<IUnknown>(tokens.get());
}

CComPtr<ISpObjectToken> FirstVoice()
{
    CComPtr<IEnumSpObjectTokens> tokens;
    EXPECT_EQ(Voices()->EnumTokens(nullptr, nullptr, &tokens), S_OK);
    CComPtr<ISpObjectToken> token;
    if (tokens) {
        EXPECT_EQ(tokens->Next(1, &token, nullptr), S_OK);
    }
    return token;
}

CComPtr<IUnknown> AttributesKey()
{
    CComPtr<ISpDataKey> key;
    EXPECT_EQ(FirstVoice()->OpenKey(u"Attributes", &key), S_OK);
    return CComPtr<IUnknown>(key.get());
}

CComPtr<IUnknown> DeviceStream()
{
    CComPtr<ISpVoice> voice;
    EXPECT_EQ(CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice, reinterpret_cast<void **>(&voice)),
              S_OK);
    CComPtr<ISpStreamFormat> stream;
    EXPECT_EQ(voice->GetOutputStream(&stream), S_OK);
    return CComPtr<IUnknown>(stream.get());
}

class Sapi5Identity : public ::testing::TestWithParam<Served> {};

TEST_P(Sapi5Identity, QueryInterfaceRulesHold)
{
    CComPtr<IUnknown> object = GetParam().make();
    ASSERT_TRUE(object);
    orafon::test::ExpectComRules(object, GetParam().answered, {IID_ISpNotifySink, GUID_NULL});
}

INSTANTIATE_TEST_SUITE_P(
    Served, Sapi5Identity,
    ::testing::Values(
        Served{"VoiceClass", [] { return ClassObject(CLSID_SpVoice); }, {IID_IClassFactory}},
        Served{"Voice",
               [] { return Make<ISpVoice>(CLSID_SpVoice); },
               {IID_ISpVoice, IID_ISpEventSource, IID_ISpNotifySource}},
        Served{"Token", [] { return CComPtr<IUnknown>(FirstVoice().get()); }, {IID_ISpObjectToken, IID_ISpDataKey}},
        Served{"Category",
               [] { return Make<ISpObjectTokenCategory>(CLSID_SpObjectTokenCategory); },
               {IID_ISpObjectTokenCategory, IID_ISpDataKey}},
        Served{"TokenEnumerator", TokenList, {IID_IEnumSpObjectTokens}},
        Served{"DataKey", AttributesKey, {IID_ISpDataKey}},
        Served{"DeviceStream", DeviceStream, {IID_ISpStreamFormat, IID_IStream, IID_ISequentialStream}}),
    [](const ::testing::TestParamInfo<Served> &row) { return row.param.name; });

} // namespace

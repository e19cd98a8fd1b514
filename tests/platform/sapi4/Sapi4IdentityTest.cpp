// The rules of IUnknown on every object the SAPI 4 server hands out: its
// class objects, the mode enumerator, the audio destination and an engine.
#include "Sapi4TestSupport.h"
#include "support/ComRules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace sapi4test;

namespace {

struct Served {
    std::string name;
    std::function<CComPtr<IUnknown>()> make;
    std::vector<IID> answered;
};

CComPtr<IUnknown> ClassObject(REFCLSID clsid)
{
    CComPtr<IUnknown> factory;
    EXPECT_EQ(DllGetClassObject(clsid, IID_IUnknown, reinterpret_cast<void **>(&factory)), S_OK);
    return factory;
}

// An engine of the first mode, speaking into a TestAudio.
CComPtr<IUnknown> FirstEngine()
{
    auto enumerator = Create<ITTSEnumW>(CLSID_TTSEnumerator);
    TTSMODEINFOW info{};
    if (!enumerator || enumerator->Next(1, &info, nullptr) != S_OK)
        return nullptr;
    CComPtr<IUnknown> audio;
    audio.Attach(static_cast<IAudio *>(new TestAudio()));
    CComPtr<ITTSCentralW> central;
    EXPECT_EQ(enumerator->Select(info.gModeID, &central, audio), S_OK);
    return CComPtr<IUnknown>(central.get());
}

class Sapi4Identity : public ::testing::TestWithParam<Served> {};

TEST_P(Sapi4Identity, QueryInterfaceRulesHold)
{
    CComPtr<IUnknown> object = GetParam().make();
    ASSERT_TRUE(object);
    orafon::test::ExpectComRules(object, GetParam().answered,
                                 {IID_ITTSBufNotifySink, IID_IAudioDestNotifySink, IID_ITTSNotifySinkW});
}

INSTANTIATE_TEST_SUITE_P(
    Served, Sapi4Identity,
    ::testing::Values(Served{"EnumeratorClass", [] { return ClassObject(CLSID_TTSEnumerator); }, {IID_IClassFactory}},
                      Served{"AudioDestClass", [] { return ClassObject(CLSID_MMAudioDest); }, {IID_IClassFactory}},
                      Served{"Enumerator",
                             [] { return CComPtr<IUnknown>(Create<ITTSEnumW>(CLSID_TTSEnumerator).get()); },
                             {IID_ITTSEnumW}},
                      Served{"AudioDest",
                             [] { return CComPtr<IUnknown>(Create<IAudio>(CLSID_MMAudioDest).get()); },
                             {IID_IAudio, IID_IAudioDest, IID_IAudioMultiMediaDevice}},
                      Served{"Engine", FirstEngine, {IID_ITTSCentralW, IID_ITTSAttributesW, IID_ITTSAttributesA}}),
    [](const ::testing::TestParamInfo<Served> &row) { return row.param.name; });

TEST(Sapi4IdentityLifetime, AHeldClassObjectKeepsTheModule)
{
    ASSERT_EQ(DllCanUnloadNow(), S_OK);
    CComPtr<IUnknown> factory = ClassObject(CLSID_TTSEnumerator);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    factory.Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

} // namespace

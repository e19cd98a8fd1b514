// The rules of IUnknown on the object and on the objects it hands out:
// connection points and enumerators.
#include "TestObjects.h"
#include "support/ComRules.h"

#include <orafon/win/sapi.h>
#include <orafon/win/speech.h>

#include <functional>
#include <string>
#include <vector>

using namespace orafon::test;

namespace {

struct Handed {
    std::string name;
    // Something the object hands out, from a new object.
    std::function<CComPtr<IUnknown>(ITextToSpeech *)> get;
    std::vector<IID> answered;
    std::vector<IID> refused;
};

CComPtr<IConnectionPointContainer> Container(ITextToSpeech *tts)
{
    CComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(CComPtr<ITextToSpeech>(tts).QueryInterface(&container), S_OK);
    return container;
}

const std::vector<IID> kObjectInterfaces = {
    IID_ITextToSpeech,     IID_IDispatch,          IID_IConnectionPointContainer,
    IID_IProvideClassInfo, IID_IProvideClassInfo2, IID_ISupportErrorInfo,
    IID_IObjectWithSite};

class ObjectIdentity : public ::testing::TestWithParam<Handed> {};

TEST_P(ObjectIdentity, QueryInterfaceRulesHold)
{
    auto tts = MakeTts();
    CComPtr<IUnknown> handed = GetParam().get(tts);
    ASSERT_TRUE(handed);
    ExpectComRules(handed, GetParam().answered, GetParam().refused);
}

INSTANTIATE_TEST_SUITE_P(
    Component, ObjectIdentity,
    ::testing::Values(Handed{"Object",
                             [](ITextToSpeech *tts) { return CComPtr<IUnknown>(tts); },
                             kObjectInterfaces,
                             {IID_IClassFactory, IID_IConnectionPoint, IID_IPropertyNotifySink,
                              DIID__ITextToSpeechEvents, IID_IEnumConnectionPoints}},
                      Handed{"EventPoint",
                             [](ITextToSpeech *tts) { return CComPtr<IUnknown>(EventPoint(tts)); },
                             {IID_IConnectionPoint},
                             {IID_ITextToSpeech, IID_IDispatch, IID_IConnectionPointContainer, IID_IEnumConnections}},
                      Handed{"PropertyPoint",
                             [](ITextToSpeech *tts) {
                                 return CComPtr<IUnknown>(EventPoint(tts, IID_IPropertyNotifySink));
                             },
                             {IID_IConnectionPoint},
                             {IID_ITextToSpeech, IID_IConnectionPointContainer, IID_IPropertyNotifySink}},
                      Handed{"EngineStream",
                             [](ITextToSpeech *tts) {
                                 CComPtr<ISpStreamFormat> stream;
                                 EXPECT_EQ(CComPtr<ITextToSpeech>(tts).QueryInterface(&stream), S_OK);
                                 return CComPtr<IUnknown>(stream);
                             },
                             {IID_ISpStreamFormat, IID_IStream, IID_ISequentialStream},
                             {IID_ITextToSpeech, IID_IAudio, IID_IConnectionPointContainer}},
                      Handed{"EngineAudioDest",
                             [](ITextToSpeech *tts) {
                                 CComPtr<IAudio> audio;
                                 EXPECT_EQ(CComPtr<ITextToSpeech>(tts).QueryInterface(&audio), S_OK);
                                 return CComPtr<IUnknown>(audio);
                             },
                             {IID_IAudio, IID_IAudioDest},
                             {IID_ITextToSpeech, IID_ISpStreamFormat, IID_IDispatch}},
                      Handed{"PointEnumerator",
                             [](ITextToSpeech *tts) {
                                 CComPtr<IEnumConnectionPoints> points;
                                 EXPECT_EQ(Container(tts)->EnumConnectionPoints(&points), S_OK);
                                 return CComPtr<IUnknown>(points);
                             },
                             {IID_IEnumConnectionPoints},
                             {IID_IConnectionPoint, IID_IEnumConnections, IID_ITextToSpeech}},
                      Handed{"ConnectionEnumerator",
                             [](ITextToSpeech *tts) {
                                 CComPtr<IEnumConnections> connections;
                                 EXPECT_EQ(EventPoint(tts)->EnumConnections(&connections), S_OK);
                                 return CComPtr<IUnknown>(connections);
                             },
                             {IID_IEnumConnections},
                             {IID_IConnectionPoint, IID_IEnumConnectionPoints, IID_ITextToSpeech}}),
    [](const ::testing::TestParamInfo<Handed> &row) { return row.param.name; });

// The engines' stream and audio destination are answered by the object but
// are objects of their own: an engine may call them after the object is gone.
TEST(ObjectIdentityLifetime, EngineOutputsOutliveTheObject)
{
    const LONG before = ModuleLockCountForTest();
    CComPtr<ISpStreamFormat> stream;
    {
        auto tts = MakeTts();
        ASSERT_EQ(tts.QueryInterface(&stream), S_OK);
    }
    EXPECT_EQ(ModuleLockCountForTest(), before) << "the stream does not hold the object";
    ULONG written = 1;
    const BYTE pcm[4] = {};
    EXPECT_TRUE(SUCCEEDED(stream->Write(pcm, sizeof pcm, &written))) << "a late write is answered";
    stream.Release();
}

// A connection point is an object of its own whose references are the
// object's: holding only the point keeps the object alive.
TEST(ObjectIdentityLifetime, AHeldConnectionPointKeepsTheObject)
{
    const LONG before = ModuleLockCountForTest();
    CComPtr<IConnectionPoint> point;
    {
        auto tts = MakeTts();
        point = EventPoint(tts);
    }
    EXPECT_EQ(ModuleLockCountForTest(), before + 1);
    CComPtr<IConnectionPointContainer> container;
    ASSERT_EQ(point->GetConnectionPointContainer(&container), S_OK);
    CComPtr<ITextToSpeech> tts;
    ASSERT_EQ(container.QueryInterface(&tts), S_OK);
    LONG rate = 0;
    EXPECT_EQ(tts->get_SWFFrameRate(&rate), S_OK);
    EXPECT_EQ(rate, 15);
    tts.Release();
    container.Release();
    point.Release();
    EXPECT_EQ(ModuleLockCountForTest(), before);
}

} // namespace

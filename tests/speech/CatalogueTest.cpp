// The voice catalogue: both generations listed, selection by VoiceIdx, and
// what the members report for each entry.
#include "SpeechTestSupport.h"

namespace speechtest {
namespace {

std::u16string Take(BSTR text)
{
    const orafon::CBstr owned(text);
    return orafon::test::ToU16(text);
}

class SpeechCatalogue : public ScriptedEngines {};

TEST_F(SpeechCatalogue, ListsTwoScriptedVoicesAndOneModeInGenerationOrder)
{
    LONG before = 0;
    {
        Subject plain;
        ASSERT_TRUE(plain.tts);
        before = plain.Count();
    }
    orafon::sapi5::VoiceScript first = Script({});
    first.gender = u"Male";
    AddVoice(u"OrafonCatalogueA", u"Orafon Catalogue A", first);
    AddVoice(u"OrafonCatalogueB", u"Orafon Catalogue B", Script({}));
    const OrafonScriptedMode mode = Mode(u"Orafon Catalogue Mode");
    OrafonSapi4_AddScriptedMode(&mode);

    Subject s;
    ASSERT_TRUE(s.tts);
    const LONG count = s.Count();
    EXPECT_EQ(count, before + 3);
    const LONG a = s.Find(u"Orafon Catalogue A");
    const LONG b = s.Find(u"Orafon Catalogue B");
    const LONG m = s.Find(u"Orafon Catalogue Mode");
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    // Scripted modes come after the flite modes, and every mode after every voice.
    EXPECT_EQ(m, count - 1);
    EXPECT_LT(a, m);
    EXPECT_LT(b, m);

    struct Expected {
        LONG index;
        LONG sapiVersion;
        const char16_t *name;
        const char16_t *gender;
        const char16_t *language;
    };
    const Expected table[] = {
        {a, 0, u"Orafon Catalogue A", u"Male", u"409"},
        {b, 0, u"Orafon Catalogue B", u"Female", u"409"},
        {m, 1, u"Orafon Catalogue Mode", u"Gender:2", u"Lang:1033"},
    };
    for (const Expected &e : table) {
        SCOPED_TRACE(e.index);
        ASSERT_EQ(s->put_VoiceIdx(e.index), S_OK);
        LONG index = -2;
        EXPECT_EQ(s->get_VoiceIdx(&index), S_OK);
        EXPECT_EQ(index, e.index);
        LONG version = -1;
        EXPECT_EQ(s->get_SAPIVersion(&version), S_OK);
        EXPECT_EQ(version, e.sapiVersion);
        BSTR text = nullptr;
        ASSERT_EQ(s->get_VoiceName(&text), S_OK);
        EXPECT_EQ(Take(text), e.name);
        ASSERT_EQ(s->get_VoiceGender(&text), S_OK);
        EXPECT_EQ(Take(text), e.gender);
        ASSERT_EQ(s->get_VoiceLanguage(&text), S_OK);
        EXPECT_EQ(Take(text), e.language);
    }
}

TEST_F(SpeechCatalogue, VoiceIdxPutChecksRangeAndKeepsTheCurrentVoice)
{
    AddVoice(u"OrafonIdxVoice", u"Orafon Idx Voice", Script({}));
    Subject s;
    ASSERT_TRUE(s.tts);
    const LONG count = s.Count();
    LONG index = -2;
    EXPECT_EQ(s->get_VoiceIdx(&index), S_OK);
    EXPECT_EQ(index, 0);

    const LONG voice = s.Find(u"Orafon Idx Voice");
    ASSERT_GE(voice, 0);
    ASSERT_EQ(s->put_VoiceIdx(voice), S_OK);
    EXPECT_EQ(s->put_VoiceIdx(voice), S_OK);
    for (const LONG bad : {LONG{-1}, count, LONG{count + 5}}) {
        EXPECT_EQ(s->put_VoiceIdx(bad), E_INVALIDARG);
        EXPECT_EQ(s->get_VoiceIdx(&index), S_OK);
        EXPECT_EQ(index, voice);
    }
    BSTR name = nullptr;
    EXPECT_EQ(s->GetVoiceName(count, &name), E_INVALIDARG);
    EXPECT_EQ(s->GetVoiceName(-1, &name), E_INVALIDARG);
    ASSERT_EQ(s->GetVoiceName(voice, &name), S_OK);
    EXPECT_EQ(Take(name), u"Orafon Idx Voice");
}

TEST_F(SpeechCatalogue, PitchKeepsItsValueAcrossVoicesAndRateVolumeComeFromTheNewVoice)
{
    AddVoice(u"OrafonKeepA", u"Orafon Keep A", Script({}));
    AddVoice(u"OrafonKeepB", u"Orafon Keep B", Script({}));
    Subject s;
    ASSERT_TRUE(s.tts);
    const LONG a = s.Find(u"Orafon Keep A");
    const LONG b = s.Find(u"Orafon Keep B");
    ASSERT_EQ(s->put_VoiceIdx(a), S_OK);
    ASSERT_EQ(s->put_Rate(4), S_OK);
    ASSERT_EQ(s->put_Volume(40), S_OK);
    ASSERT_EQ(s->put_Pitch(-3), S_OK);
    LONG rate = 0, volume = 0, pitch = 0;
    EXPECT_EQ(s->get_Rate(&rate), S_OK);
    EXPECT_EQ(s->get_Volume(&volume), S_OK);
    EXPECT_EQ(rate, 4);
    EXPECT_EQ(volume, 40);

    ASSERT_EQ(s->put_VoiceIdx(b), S_OK);
    EXPECT_EQ(s->get_Rate(&rate), S_OK);
    EXPECT_EQ(s->get_Volume(&volume), S_OK);
    EXPECT_EQ(s->get_Pitch(&pitch), S_OK);
    EXPECT_EQ(rate, 0);
    EXPECT_EQ(volume, 100);
    EXPECT_EQ(pitch, -3);
}

TEST_F(SpeechCatalogue, PropertiesAreClamped)
{
    Subject s;
    ASSERT_TRUE(s.tts);
    struct Case {
        HRESULT (ITextToSpeech::*put)(LONG);
        HRESULT (ITextToSpeech::*get)(LONG *);
        LONG put_value;
        LONG expected;
    };
    const Case cases[] = {
        {&ITextToSpeech::put_Rate, &ITextToSpeech::get_Rate, -20, -10},
        {&ITextToSpeech::put_Rate, &ITextToSpeech::get_Rate, 11, 10},
        {&ITextToSpeech::put_Volume, &ITextToSpeech::get_Volume, 150, 100},
        {&ITextToSpeech::put_Volume, &ITextToSpeech::get_Volume, -1, 0},
        {&ITextToSpeech::put_Pitch, &ITextToSpeech::get_Pitch, 11, 10},
        {&ITextToSpeech::put_Pitch, &ITextToSpeech::get_Pitch, -11, -10},
    };
    for (const Case &c : cases) {
        EXPECT_EQ((s.tts.get()->*c.put)(c.put_value), S_OK);
        LONG value = 12345;
        EXPECT_EQ((s.tts.get()->*c.get)(&value), S_OK);
        EXPECT_EQ(value, c.expected) << c.put_value;
    }
}

} // namespace
} // namespace speechtest

namespace speechtest {
namespace {

class SpeechNoVoice : public ScriptedEngines {};

TEST_F(SpeechNoVoice, AFailedSelectionLeavesNoActiveVoice)
{
    OrafonScriptedMode mode = Mode(u"Orafon Busy Mode");
    mode.results[ORAFON_SCRIPTED_SELECT] = AUDERR_WAVEDEVICEBUSY;
    OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    const LONG busy = s.Find(u"Orafon Busy Mode");
    ASSERT_GE(busy, 0);
    EXPECT_EQ(s->put_VoiceIdx(busy), AUDERR_WAVEDEVICEBUSY);
    LONG index = 7;
    EXPECT_EQ(s->get_VoiceIdx(&index), S_OK);
    EXPECT_EQ(index, -1);

    BSTR text = nullptr;
    EXPECT_EQ(s->get_VoiceName(&text), E_FAIL);
    EXPECT_EQ(s->get_VoiceGender(&text), E_FAIL);
    EXPECT_EQ(s->get_VoiceLanguage(&text), E_FAIL);
    // Succeeds without a voice; the component reports -1 as VoiceIdx does.
    LONG version = 42;
    EXPECT_EQ(s->get_SAPIVersion(&version), S_OK);
    EXPECT_EQ(version, -1);

    Bstr hello(u"Hello");
    Bstr file(U16(TempPath("no-voice.wav")));
    EXPECT_EQ(s->Speak(hello, TF_DEFAULT), E_FAIL);
    EXPECT_EQ(s->SpeakToFile(hello, file, TF_DEFAULT), E_FAIL);
    EXPECT_EQ(s->StopTTS(), E_FAIL);
    EXPECT_EQ(s->Pause(), E_FAIL);
    EXPECT_EQ(s->Resume(), E_FAIL);
    LONG value = 0;
    EXPECT_EQ(s->get_Rate(&value), E_FAIL);
    EXPECT_EQ(s->put_Rate(3), E_FAIL);
    EXPECT_EQ(s->get_Volume(&value), E_FAIL);
    EXPECT_EQ(s->put_Volume(30), S_OK);
    EXPECT_EQ(s->get_Pitch(&value), E_FAIL);
    EXPECT_EQ(s->put_Pitch(3), S_OK);
    EXPECT_TRUE(s.sink.received.empty());

    // A later selection that succeeds makes the object usable again.
    ASSERT_EQ(s->put_VoiceIdx(0), S_OK);
    EXPECT_EQ(s->Speak(hello, TF_DEFAULT), S_OK);
    EXPECT_EQ(s.Ends(), 1u);
}

} // namespace
} // namespace speechtest

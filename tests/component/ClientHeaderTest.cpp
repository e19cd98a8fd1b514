// Orafon.h as a client sees it: the function-table slot of every member of
// ITextToSpeech is fixed, since compiled clients call through the table.
#include <orafon/Orafon.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The Itanium C++ ABI represents a pointer to a virtual member function as
// 1 + the byte offset of its slot in the function table.
template <typename MemberPointer> size_t SlotOf(MemberPointer member)
{
    static_assert(sizeof(MemberPointer) == 2 * sizeof(uintptr_t));
    uintptr_t words[2];
    std::memcpy(words, &member, sizeof words);
    EXPECT_EQ(words[0] % sizeof(void *), 1u) << "not a virtual member";
    return (words[0] - 1) / sizeof(void *);
}

TEST(ComponentClientHeader, FunctionTableOrderIsFixed)
{
    // IUnknown has 3 slots and IDispatch 4 more; the members follow in table order.
    EXPECT_EQ(SlotOf(&ITextToSpeech::Invoke), 6u);
    size_t slot = 7;
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_VoiceCount), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_VoiceIdx), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::put_VoiceIdx), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_VoiceName), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_VoiceGender), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_VoiceLanguage), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::Speak), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::SpeakToFile), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::StopTTS), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::Pause), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::Resume), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_Rate), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::put_Rate), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_Volume), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::put_Volume), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_Pitch), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::put_Pitch), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_WaveFormatCount), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_WaveFormatIdx), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::put_WaveFormatIdx), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_WaveFormatName), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_FileFormat), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::put_FileFormat), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::GetVoiceName), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::Mp3ToSWF), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_SWFFrameRate), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::put_SWFFrameRate), slot++);
    EXPECT_EQ(SlotOf(&ITextToSpeech::get_SAPIVersion), slot++);
    EXPECT_EQ(slot, 35u);
}

TEST(ComponentClientHeader, IdentifiersAndEnumerations)
{
    EXPECT_EQ(__uuidof(ITextToSpeech), IID_ITextToSpeech);
    EXPECT_EQ(__uuidof(_ITextToSpeechEvents), DIID__ITextToSpeechEvents);
    EXPECT_EQ(IID_ITextToSpeech.Data1, 0x3FFB694Eu);
    EXPECT_EQ(CLSID_CTextToSpeech, CLSID_TextToSpeech);
    EXPECT_EQ(CLSID_CTextToSpeech.Data1, 0xA5584957u);
    EXPECT_EQ(LIBID_Orafon.Data1, 0xF29A07DBu);
    EXPECT_EQ(DIID__ITextToSpeechEvents.Data1, 0xC1D378DBu);
    EXPECT_EQ(sizeof(TTSFLAG), 4u);
    EXPECT_EQ(sizeof(FILEFORMAT), 4u);
    EXPECT_EQ(TF_WITHTAG, 2);
    EXPECT_EQ(FF_FLAC, 8);
}

} // namespace

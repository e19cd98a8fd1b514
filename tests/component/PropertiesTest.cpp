// ITextToSpeech through its function table on a machine with no voice
// installed, and the object's small standard interfaces.
#include "TestObjects.h"

#include <component/TextToSpeech.h>

using orafon::CBstr;
using namespace orafon::test;

namespace {

TEST(ComponentNoVoice, VoiceMembersReportNoVoice)
{
    auto tts = MakeTts();
    LONG value = 99;
    EXPECT_EQ(tts->get_VoiceCount(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(tts->get_VoiceIdx(&value), S_OK);
    EXPECT_EQ(value, -1);
    for (LONG idx : {0, -1, 1, 100})
        EXPECT_EQ(tts->put_VoiceIdx(idx), E_INVALIDARG);
    EXPECT_EQ(tts->get_VoiceIdx(&value), S_OK);
    EXPECT_EQ(value, -1);

    CBstr text;
    EXPECT_EQ(tts->get_VoiceName(text.Out()), E_FAIL);
    EXPECT_EQ(tts->get_VoiceGender(text.Out()), E_FAIL);
    EXPECT_EQ(tts->get_VoiceLanguage(text.Out()), E_FAIL);
    EXPECT_EQ(text.Get(), nullptr);
    EXPECT_EQ(tts->GetVoiceName(0, text.Out()), E_INVALIDARG);
    EXPECT_EQ(tts->GetVoiceName(-1, text.Out()), E_INVALIDARG);
}

TEST(ComponentNoVoice, RateVolumePitchFollowTheNoVoiceRules)
{
    auto tts = MakeTts();
    LONG value = 77;
    EXPECT_EQ(tts->get_Rate(&value), E_FAIL);
    EXPECT_EQ(value, 0); // written before the voice check
    EXPECT_EQ(tts->put_Rate(5), E_FAIL);
    EXPECT_EQ(tts->put_Rate(-50), E_FAIL);

    EXPECT_EQ(tts->put_Volume(50), S_OK);
    EXPECT_EQ(tts->put_Volume(-1), S_OK);
    value = 77;
    EXPECT_EQ(tts->get_Volume(&value), E_FAIL);
    EXPECT_EQ(value, 77);

    EXPECT_EQ(tts->put_Pitch(11), S_OK);
    EXPECT_EQ(tts->get_Pitch(&value), E_FAIL);
}

TEST(ComponentNoVoice, SpeakingMembersNeedAVoice)
{
    auto tts = MakeTts();
    CBstr text(SysAllocString(u"Hello world"));
    CBstr empty(SysAllocString(u""));
    CBstr file(SysAllocString(u"/tmp/out.mp3"));
    EXPECT_EQ(tts->Speak(nullptr, TF_DEFAULT), E_INVALIDARG);
    EXPECT_EQ(tts->Speak(text.Get(), TF_DEFAULT), E_FAIL);
    EXPECT_EQ(tts->Speak(empty.Get(), TF_ASYNC), E_FAIL); // an empty string passes the check
    EXPECT_EQ(tts->SpeakToFile(nullptr, file.Get(), TF_DEFAULT), E_INVALIDARG);
    EXPECT_EQ(tts->SpeakToFile(text.Get(), nullptr, TF_DEFAULT), E_INVALIDARG);
    EXPECT_EQ(tts->SpeakToFile(text.Get(), file.Get(), TF_DEFAULT), E_FAIL);
    EXPECT_EQ(tts->StopTTS(), E_FAIL);
    EXPECT_EQ(tts->Pause(), E_FAIL);
    EXPECT_EQ(tts->Resume(), E_FAIL);
}

TEST(ComponentNoVoice, SapiVersionSucceedsWithoutAVoice)
{
    auto tts = MakeTts();
    LONG value = 5;
    EXPECT_EQ(tts->get_SAPIVersion(&value), S_OK);
    EXPECT_EQ(value, -1);
}

TEST(ComponentProperties, SwfFrameRateAcceptsZeroAndRefusesNegatives)
{
    auto tts = MakeTts();
    LONG value = 0;
    EXPECT_EQ(tts->get_SWFFrameRate(&value), S_OK);
    EXPECT_EQ(value, 15);
    EXPECT_EQ(tts->put_SWFFrameRate(0), S_OK);
    EXPECT_EQ(tts->get_SWFFrameRate(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(tts->put_SWFFrameRate(24), S_OK);
    EXPECT_EQ(tts->put_SWFFrameRate(-1), E_INVALIDARG);
    EXPECT_EQ(tts->get_SWFFrameRate(&value), S_OK);
    EXPECT_EQ(value, 24);
    EXPECT_EQ(tts->put_SWFFrameRate(0x7FFFFFFF), S_OK);
}

TEST(ComponentProperties, NullOutPointersAreInvalidArguments)
{
    auto tts = MakeTts();
    EXPECT_EQ(tts->get_VoiceCount(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_VoiceIdx(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_VoiceName(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_VoiceGender(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_VoiceLanguage(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_Rate(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_Volume(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_Pitch(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_WaveFormatCount(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_WaveFormatIdx(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_WaveFormatName(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_FileFormat(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->GetVoiceName(0, nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_SWFFrameRate(nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->get_SAPIVersion(nullptr), E_INVALIDARG);
}

TEST(ComponentProperties, Mp3ToSwfChecksItsArguments)
{
    auto tts = MakeTts();
    CBstr mp3(SysAllocString(u"/nonexistent/in.mp3"));
    CBstr swf(SysAllocString(u"/nonexistent/out.swf"));
    EXPECT_EQ(tts->Mp3ToSWF(nullptr, swf.Get(), VARIANT_FALSE), E_INVALIDARG);
    EXPECT_EQ(tts->Mp3ToSWF(mp3.Get(), nullptr, VARIANT_TRUE), E_INVALIDARG);
    // An embedded NUL would make the path name another file.
    CBstr cut(SysAllocStringLen(u"/tmp/a\0b.mp3", 12));
    EXPECT_EQ(tts->Mp3ToSWF(cut.Get(), swf.Get(), VARIANT_FALSE), E_INVALIDARG);
    EXPECT_EQ(tts->Mp3ToSWF(mp3.Get(), swf.Get(), VARIANT_FALSE), E_UNEXPECTED);
}

// ---- QueryInterface and identity --------------------------------------------------

TEST(ComponentInterfaces, AnswersItsInterfacesWithOneIdentity)
{
    auto tts = MakeTts();
    CComPtr<IUnknown> identity;
    ASSERT_EQ(tts->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&identity)), S_OK);
    for (const IID &iid : {IID_IUnknown, IID_IDispatch, IID_ITextToSpeech, IID_IConnectionPointContainer,
                           IID_IProvideClassInfo, IID_IProvideClassInfo2, IID_ISupportErrorInfo, IID_IObjectWithSite}) {
        CComPtr<IUnknown> itf;
        ASSERT_EQ(tts->QueryInterface(iid, reinterpret_cast<void **>(&itf)), S_OK);
        ASSERT_NE(itf.get(), nullptr);
        CComPtr<IUnknown> back;
        ASSERT_EQ(itf->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&back)), S_OK);
        EXPECT_EQ(back.get(), identity.get());
    }
}

TEST(ComponentInterfaces, OtherInterfacesAreRefused)
{
    auto tts = MakeTts();
    void *pv = reinterpret_cast<void *>(1);
    for (const IID &iid : {IID_IClassFactory, IID_IConnectionPoint, IID_IPropertyNotifySink, DIID__ITextToSpeechEvents,
                           IID_IErrorInfo, IID_NULL}) {
        EXPECT_EQ(tts->QueryInterface(iid, &pv), E_NOINTERFACE);
        EXPECT_EQ(pv, nullptr);
    }
    EXPECT_EQ(tts->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
}

TEST(ComponentInterfaces, ReferenceCountsAreShared)
{
    auto tts = MakeTts();
    CComPtr<IObjectWithSite> site;
    ASSERT_EQ(tts->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void **>(&site)), S_OK);
    EXPECT_EQ(tts->AddRef(), 3u);
    EXPECT_EQ(site->Release(), 2u);
}

TEST(ComponentInterfaces, ProvideClassInfoReportsTheEventInterface)
{
    auto tts = MakeTts();
    CComPtr<IProvideClassInfo2> info;
    ASSERT_EQ(tts->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void **>(&info)), S_OK);
    GUID guid = IID_IUnknown;
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), S_OK);
    EXPECT_EQ(guid, DIID__ITextToSpeechEvents);
    for (DWORD kind : {0u, 2u, 0xFFFFFFFFu}) {
        guid = IID_IUnknown;
        EXPECT_EQ(info->GetGUID(kind, &guid), E_FAIL);
        EXPECT_EQ(guid, GUID_NULL);
    }
    EXPECT_EQ(info->GetGUID(1, nullptr), E_POINTER);
    EXPECT_EQ(info->GetClassInfo(nullptr), E_POINTER);
}

TEST(ComponentInterfaces, SupportErrorInfoNamesOnlyTheAutomationInterface)
{
    auto tts = MakeTts();
    CComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(tts->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void **>(&support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ITextToSpeech), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(DIID__ITextToSpeechEvents), S_FALSE);
}

TEST(ComponentInterfaces, ObjectWithSiteKeepsOneReferenceToTheSite)
{
    CountedObject first({IID_IDispatch});
    CountedObject second;
    {
        auto tts = MakeTts();
        CComPtr<IObjectWithSite> withSite;
        ASSERT_EQ(tts->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void **>(&withSite)), S_OK);
        void *pv = reinterpret_cast<void *>(1);
        EXPECT_EQ(withSite->GetSite(IID_IUnknown, &pv), E_FAIL);
        EXPECT_EQ(pv, nullptr);
        EXPECT_EQ(withSite->GetSite(IID_IUnknown, nullptr), E_POINTER);

        EXPECT_EQ(withSite->SetSite(&first), S_OK);
        EXPECT_EQ(first.refCount, 2u);
        ASSERT_EQ(withSite->GetSite(IID_IDispatch, &pv), S_OK);
        EXPECT_EQ(pv, static_cast<IUnknown *>(&first));
        first.Release();
        EXPECT_EQ(withSite->GetSite(IID_IClassFactory, &pv), E_NOINTERFACE);

        EXPECT_EQ(withSite->SetSite(&second), S_OK);
        EXPECT_EQ(first.refCount, 1u);
        EXPECT_EQ(second.refCount, 2u);
        EXPECT_EQ(withSite->SetSite(nullptr), S_OK);
        EXPECT_EQ(second.refCount, 1u);
        EXPECT_EQ(withSite->GetSite(IID_IUnknown, &pv), E_FAIL);
        EXPECT_EQ(withSite->SetSite(&first), S_OK);
        EXPECT_EQ(first.refCount, 2u);
    }
    // Destroying the object lets go of the site.
    EXPECT_EQ(first.refCount, 1u);
}

TEST(ComponentInterfaces, TypeInfoChecksItsArguments)
{
    auto tts = MakeTts();
    EXPECT_EQ(tts->GetTypeInfoCount(nullptr), E_POINTER);
    ITypeInfo *info = nullptr;
    EXPECT_EQ(tts->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    EXPECT_EQ(tts->GetTypeInfo(0, 0, nullptr), E_POINTER);
    UINT count = 7;
    EXPECT_EQ(tts->GetTypeInfoCount(&count), S_OK);
    EXPECT_TRUE(count == 0 || count == 1);
    const HRESULT hr = tts->GetTypeInfo(0, 0, &info);
    EXPECT_EQ(SUCCEEDED(hr), count == 1);
    if (info)
        info->Release();
}

} // namespace

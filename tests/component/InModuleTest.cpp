// CTextToSpeech as the module serves it: made through the module's class
// factory, with the module's own type library behind GetTypeInfo and
// IProvideClassInfo, and the name table checked against that library.
#include <component/OleHelpers.h>
#include <orafon/Orafon.h>

#include <gtest/gtest.h>

#include <string>

using orafon::CBstr;

namespace {

class InModule : public testing::Test {
protected:
    void SetUp() override
    {
        m_module = LoadLibraryA(ORAFON_MODULE_PATH);
        ASSERT_NE(m_module, nullptr) << ORAFON_MODULE_PATH;
        m_getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(m_module, "DllGetClassObject"));
        m_canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(m_module, "DllCanUnloadNow"));
        ASSERT_NE(m_getClassObject, nullptr);
        ASSERT_NE(m_canUnloadNow, nullptr);
        CComPtr<IClassFactory> factory;
        ASSERT_EQ(m_getClassObject(CLSID_TextToSpeech, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITextToSpeech, reinterpret_cast<void **>(&m_tts)), S_OK);
    }
    void TearDown() override
    {
        m_tts.Release();
        if (m_canUnloadNow) {
            EXPECT_EQ(m_canUnloadNow(), S_OK);
        }
        if (m_module)
            FreeLibrary(m_module);
    }

    HMODULE m_module = nullptr;
    LPFNGETCLASSOBJECT m_getClassObject = nullptr;
    LPFNCANUNLOADNOW m_canUnloadNow = nullptr;
    CComPtr<ITextToSpeech> m_tts;
};

std::u16string NameOf(ITypeInfo *info)
{
    CBstr name;
    EXPECT_EQ(info->GetDocumentation(MEMBERID_NIL, name.Out(), nullptr, nullptr, nullptr), S_OK);
    return name.Get() ? std::u16string(name.Get(), SysStringLen(name.Get())) : std::u16string();
}

GUID GuidOf(ITypeInfo *info)
{
    TYPEATTR *attr = nullptr;
    EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
    if (!attr)
        return GUID_NULL;
    const GUID guid = attr->guid;
    info->ReleaseTypeAttr(attr);
    return guid;
}

TEST_F(InModule, TypeInfoDescribesTheAutomationInterface)
{
    UINT count = 0;
    EXPECT_EQ(m_tts->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    CComPtr<ITypeInfo> info;
    ASSERT_EQ(m_tts->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info), S_OK);
    ASSERT_TRUE(info);
    EXPECT_EQ(GuidOf(info), IID_ITextToSpeech);
    EXPECT_EQ(NameOf(info), u"ITextToSpeech");
}

TEST_F(InModule, ClassInfoDescribesTheCoclass)
{
    CComPtr<IProvideClassInfo2> provide;
    ASSERT_EQ(m_tts->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void **>(&provide)), S_OK);
    CComPtr<ITypeInfo> info;
    ASSERT_EQ(provide->GetClassInfo(&info), S_OK);
    ASSERT_TRUE(info);
    EXPECT_EQ(GuidOf(info), CLSID_TextToSpeech);
    EXPECT_EQ(NameOf(info), u"CTextToSpeech");
}

TEST_F(InModule, NameTableAgreesWithTheTypeLibrary)
{
    CComPtr<ITypeInfo> info;
    ASSERT_EQ(m_tts->GetTypeInfo(0, 0, &info), S_OK);
    for (const char16_t *name :
         {u"VoiceCount",  u"VoiceIdx",        u"VoiceName",     u"VoiceGender",    u"VoiceLanguage", u"Speak",
          u"SpeakToFile", u"StopTTS",         u"Pause",         u"Resume",         u"Rate",          u"Volume",
          u"Pitch",       u"WaveFormatCount", u"WaveFormatIdx", u"WaveFormatName", u"FileFormat",    u"GetVoiceName",
          u"Mp3ToSWF",    u"SWFFrameRate",    u"SAPIVersion"}) {
        std::u16string text(name);
        LPOLESTR names[] = {text.data()};
        MEMBERID fromLibrary = -99;
        DISPID fromObject = -98;
        EXPECT_EQ(info->GetIDsOfNames(names, 1, &fromLibrary), S_OK);
        EXPECT_EQ(m_tts->GetIDsOfNames(IID_NULL, names, 1, 0, &fromObject), S_OK);
        EXPECT_EQ(fromLibrary, fromObject) << std::string(text.begin(), text.end());
    }
}

TEST_F(InModule, ObjectsHoldTheModule)
{
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    CComPtr<IUnknown> second;
    CComPtr<IClassFactory> factory;
    ASSERT_EQ(m_getClassObject(CLSID_TextToSpeech, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void **>(&second)), S_OK);
    factory.Release();
    m_tts.Release();
    EXPECT_EQ(m_canUnloadNow(), S_FALSE);
    second.Release();
    EXPECT_EQ(m_canUnloadNow(), S_OK);
}

} // namespace

// The object's IDispatch when memory runs out: every member is called through
// Invoke (and every name through GetIDsOfNames, the type information through
// GetTypeInfo) once per allocation the call makes on this thread, failing
// that allocation. Each call must answer E_OUTOFMEMORY, succeed, or give the
// member's own failure; no exception may cross it, and the object must go on
// working. Under AddressSanitizer the leak check at exit covers every run.
// The object is made by the module, so its type information is the module's
// own; the voices are a scripted SAPI 5 voice and a scripted SAPI 4 mode, so
// speaking exercises both engine generations and the file writers.
#include "support/AllocFailure.h"
#include "support/ScratchDir.h"

#include <component/TextToSpeechMembers.h>
#include <orafon/Holders.h>
#include <orafon/Orafon.h>
#include <orafon/win/winuser.h>

#include <sapi4/ScriptedMode.h>
#include <sapi5/ScriptedEngine.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using orafon::CBstr;
using orafon::CExcepInfo;
using orafon::CVariant;
using orafon::test::EachAllocationFails;
using orafon::test::FailedAllocation;

namespace {

namespace fs = std::filesystem;

const std::u16string kVoiceToken = u"OrafonAllocVoice";
const std::u16string kVoiceName = u"Orafon Alloc Voice";
const char16_t *const kModeName = u"Orafon Alloc Mode";

// The folder of the test's files: registry, an MP3 to convert, outputs.
orafon::test::ScratchDir &Scratch()
{
    static orafon::test::ScratchDir dir("orafon-alloc-");
    return dir;
}

std::u16string U16(const std::string &s)
{
    return std::u16string(s.begin(), s.end());
}

// An event sink that counts what it receives and allocates nothing, so every
// failed allocation is one of the object's.
class CountingSink final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != DIID__ITextToSpeechEvents)
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch *>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT *pctinfo) override
    {
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override
    {
        if (id > 0 && static_cast<size_t>(id) < received.size())
            ++received[static_cast<size_t>(id)];
        return S_OK;
    }

    ULONG refs = 1;
    std::array<unsigned, 6> received{};
};

// A call's arguments, first parameter first, made before the call so that
// the test allocates nothing of its own while the object's allocations fail.
class Args {
public:
    Args() = default;
    Args(const Args &) = delete;
    Args &operator=(const Args &) = delete;
    ~Args()
    {
        for (UINT i = 0; i < m_count; ++i)
            VariantClear(&m_values[i]);
    }

    void Number(LONG value)
    {
        VARIANT &v = Next();
        V_VT(&v) = VT_I4;
        V_I4(&v) = value;
    }
    void Text(std::u16string_view value)
    {
        VARIANT &v = Next();
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    }
    void Bool(bool value)
    {
        VARIANT &v = Next();
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
    }

    UINT Count() const { return m_count; }
    const VARIANT &operator[](UINT i) const { return m_values[i]; }

private:
    VARIANT &Next()
    {
        VARIANT &v = m_values.at(m_count++);
        VariantInit(&v);
        return v;
    }

    std::array<VARIANT, orafon::members::kMaxParams> m_values{};
    UINT m_count = 0;
};

// One call of a member through Invoke. |args| gives its arguments when the
// call is made (a value may depend on the object's state); none when empty.
struct MemberCall {
    const char *label;
    DISPID id;
    WORD flags;
    std::function<void(Args &)> args;
    // Failures of the member's own it may answer when an allocation fails.
    std::vector<HRESULT> ownFailures;
};

// The DISPID of a member, from the member table.
DISPID Dispid(const char16_t *name)
{
    for (const orafon::members::Member &member : orafon::members::kTextToSpeechMembers) {
        if (std::u16string_view(member.name) == name)
            return member.id;
    }
    ADD_FAILURE() << "no member of that name";
    return DISPID_UNKNOWN;
}

class DispatchUnderAllocationFailure : public testing::Test {
protected:
    void SetUp() override
    {
        m_module = LoadLibraryA(ORAFON_MODULE_PATH);
        ASSERT_NE(m_module, nullptr) << ORAFON_MODULE_PATH;
        auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(m_module, "DllGetClassObject"));
        m_canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(m_module, "DllCanUnloadNow"));
        ASSERT_NE(getClassObject, nullptr);
        ASSERT_NE(m_canUnloadNow, nullptr);
        CComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_TextToSpeech, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void **>(&m_object)), S_OK);
        ASSERT_EQ(m_object->QueryInterface(IID_ITextToSpeech, reinterpret_cast<void **>(&m_tts)), S_OK);

        CComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(m_object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container)), S_OK);
        ASSERT_EQ(container->FindConnectionPoint(DIID__ITextToSpeechEvents, &m_point), S_OK);
        ASSERT_EQ(m_point->Advise(&m_sink, &m_cookie), S_OK);

        m_voice = IndexOf(kVoiceName);
        m_mode = IndexOf(kModeName);
        ASSERT_GE(m_voice, 0);
        ASSERT_GE(m_mode, 0);
        ASSERT_EQ(m_tts->put_VoiceIdx(m_voice), S_OK);
    }

    void TearDown() override
    {
        if (m_point) {
            EXPECT_EQ(m_point->Unadvise(m_cookie), S_OK);
            m_point.Release();
        }
        m_tts.Release();
        m_object.Release();
        EXPECT_EQ(m_sink.refs, 1u) << "the object kept the sink";
        if (m_canUnloadNow) {
            EXPECT_EQ(m_canUnloadNow(), S_OK) << "an object or a lock outlived its release";
        }
        if (m_module)
            FreeLibrary(m_module);
    }

    LONG IndexOf(const std::u16string &name)
    {
        LONG count = 0;
        EXPECT_EQ(m_tts->get_VoiceCount(&count), S_OK);
        for (LONG i = 0; i < count; ++i) {
            CBstr entry;
            if (m_tts->GetVoiceName(i, entry.Out()) == S_OK && entry.Get() &&
                std::u16string(entry.Get(), entry.Length()) == name)
                return i;
        }
        return -1;
    }

    HRESULT Invoke(const MemberCall &call)
    {
        Args args;
        if (call.args)
            call.args(args);
        return InvokeWith(call, args);
    }

    // Allocates nothing of the test's own.
    HRESULT InvokeWith(const MemberCall &call, const Args &args)
    {
        // rgvarg holds the last parameter first; the VARIANTs stay args'.
        std::array<VARIANT, orafon::members::kMaxParams> argv{};
        for (UINT i = 0; i < args.Count(); ++i)
            argv[args.Count() - 1 - i] = args[i];
        DISPID named = DISPID_PROPERTYPUT;
        const bool put = call.flags == DISPATCH_PROPERTYPUT;
        DISPPARAMS params{args.Count() ? argv.data() : nullptr, put ? &named : nullptr, args.Count(), put ? 1u : 0u};
        CVariant result;
        CExcepInfo info;
        UINT argErr = 0;
        return m_object->Invoke(call.id, IID_NULL, LOCALE_USER_DEFAULT, call.flags, &params, &result, info.Out(),
                                &argErr);
    }

    // Every allocation the call makes on this thread fails in turn; after
    // each failed run the same call, with memory granted, must succeed.
    void EachAllocationFailsIn(const MemberCall &call)
    {
        SCOPED_TRACE(call.label);
        for (long n = 0; n < orafon::test::kMaxAllocations; ++n) {
            Args args;
            if (call.args)
                call.args(args);
            HRESULT hr = E_FAIL;
            bool threw = false;
            bool met = false;
            {
                FailedAllocation failing(n);
                try {
                    hr = InvokeWith(call, args);
                } catch (...) {
                    threw = true;
                }
                met = failing.Met();
            }
            ASSERT_FALSE(threw) << "an exception crossed Invoke when allocation " << n << " failed";
            if (!met) {
                EXPECT_EQ(hr, S_OK) << "with every allocation granted";
                return;
            }
            EXPECT_TRUE(Acceptable(call, hr)) << "allocation " << n << " failed: 0x" << std::hex << hr;
            EXPECT_EQ(Invoke(call), S_OK) << "after allocation " << n << " failed";
        }
        ADD_FAILURE() << "the call never ran without meeting a failed allocation";
    }

    static bool Acceptable(const MemberCall &call, HRESULT hr)
    {
        if (hr == S_OK || hr == E_OUTOFMEMORY)
            return true;
        for (HRESULT own : call.ownFailures) {
            if (hr == own)
                return true;
        }
        return false;
    }

    // The object still lists its voices, speaks with its events and writes a
    // file.
    void StillWorks()
    {
        LONG count = 0;
        EXPECT_EQ(m_tts->get_VoiceCount(&count), S_OK);
        EXPECT_GT(count, m_voice);
        EXPECT_GT(count, m_mode);
        for (LONG voice : {m_voice, m_mode}) {
            ASSERT_EQ(m_tts->put_VoiceIdx(voice), S_OK);
            const unsigned starts = m_sink.received[DISPID_TTS_ONTTSSTART];
            const unsigned ends = m_sink.received[DISPID_TTS_ONTTSEND];
            CBstr text(SysAllocString(u"Still speaking after all."));
            EXPECT_EQ(m_tts->Speak(text.Get(), TF_DEFAULT), S_OK);
            EXPECT_EQ(m_sink.received[DISPID_TTS_ONTTSSTART], starts + 1);
            EXPECT_EQ(m_sink.received[DISPID_TTS_ONTTSEND], ends + 1);

            ASSERT_EQ(m_tts->put_FileFormat(FF_WAVE), S_OK);
            const std::string path = (Scratch().path() / "after.wav").string();
            std::error_code ignored;
            fs::remove(path, ignored);
            CBstr file(SysAllocString(U16(path).c_str()));
            EXPECT_EQ(m_tts->SpeakToFile(text.Get(), file.Get(), TF_DEFAULT), S_OK);
            EXPECT_GT(fs::file_size(path, ignored), 44u) << "no samples in " << path;
        }
    }

    HMODULE m_module = nullptr;
    LPFNCANUNLOADNOW m_canUnloadNow = nullptr;
    CComPtr<IDispatch> m_object;
    CComPtr<ITextToSpeech> m_tts;
    CComPtr<IConnectionPoint> m_point;
    CountingSink m_sink;
    DWORD m_cookie = 0;
    LONG m_voice = -1;
    LONG m_mode = -1;
};

// Making a SAPI 4 engine goes through the platform's class lookup, which
// answers a failed allocation inside it as a class it cannot find.
const std::vector<HRESULT> kEngineMade = {REGDB_E_CLASSNOTREG};

constexpr WORD kGet = DISPATCH_PROPERTYGET;
constexpr WORD kPut = DISPATCH_PROPERTYPUT;
constexpr WORD kMethod = DISPATCH_METHOD;

template <LONG Value> void One(Args &args)
{
    args.Number(Value);
}

std::u16string ScratchPath(const char *name)
{
    return U16((Scratch().path() / name).string());
}

TEST_F(DispatchUnderAllocationFailure, EveryGetterAndSimpleSetter)
{
    const MemberCall calls[] = {
        {"VoiceCount", Dispid(u"VoiceCount"), kGet, {}, {}},
        {"VoiceIdx", Dispid(u"VoiceIdx"), kGet, {}, {}},
        {"VoiceName", Dispid(u"VoiceName"), kGet, {}, {}},
        {"VoiceGender", Dispid(u"VoiceGender"), kGet, {}, {}},
        {"VoiceLanguage", Dispid(u"VoiceLanguage"), kGet, {}, {}},
        {"Rate", Dispid(u"Rate"), kGet, {}, {}},
        {"put Rate", Dispid(u"Rate"), kPut, One<3>, {}},
        {"Volume", Dispid(u"Volume"), kGet, {}, {}},
        {"put Volume", Dispid(u"Volume"), kPut, One<70>, {}},
        {"Pitch", Dispid(u"Pitch"), kGet, {}, {}},
        {"put Pitch", Dispid(u"Pitch"), kPut, One<-2>, {}},
        {"WaveFormatCount", Dispid(u"WaveFormatCount"), kGet, {}, {}},
        {"WaveFormatIdx", Dispid(u"WaveFormatIdx"), kGet, {}, {}},
        {"put WaveFormatIdx", Dispid(u"WaveFormatIdx"), kPut, One<0>, {}},
        {"WaveFormatName", Dispid(u"WaveFormatName"), kGet, {}, {}},
        {"FileFormat", Dispid(u"FileFormat"), kGet, {}, {}},
        {"GetVoiceName", Dispid(u"GetVoiceName"), kMethod, One<0>, {}},
        {"SWFFrameRate", Dispid(u"SWFFrameRate"), kGet, {}, {}},
        {"put SWFFrameRate", Dispid(u"SWFFrameRate"), kPut, One<12>, {}},
        {"SAPIVersion", Dispid(u"SAPIVersion"), kGet, {}, {}},
        {"StopTTS", Dispid(u"StopTTS"), kMethod, {}, {}},
        {"Pause", Dispid(u"Pause"), kMethod, {}, {}},
        {"Resume", Dispid(u"Resume"), kMethod, {}, {}},
    };
    for (LONG voice : {m_voice, m_mode}) {
        ASSERT_EQ(m_tts->put_VoiceIdx(voice), S_OK);
        for (const MemberCall &call : calls)
            EachAllocationFailsIn(call);
    }
    StillWorks();
}

TEST_F(DispatchUnderAllocationFailure, ChangingTheVoice)
{
    // Each call selects the other voice, so every run releases one engine
    // and makes another.
    const MemberCall call{"put VoiceIdx", Dispid(u"VoiceIdx"), kPut,
                          [this](Args &args) {
                              LONG current = -1;
                              EXPECT_EQ(m_tts->get_VoiceIdx(&current), S_OK);
                              args.Number(current == m_voice ? m_mode : m_voice);
                          },
                          kEngineMade};
    EachAllocationFailsIn(call);
    StillWorks();
}

TEST_F(DispatchUnderAllocationFailure, ChangingTheFileFormat)
{
    for (LONG format = FF_WAVE; format <= FF_FLAC; ++format) {
        const MemberCall call{"put FileFormat",
                              Dispid(u"FileFormat"),
                              kPut,
                              [format](Args &args) { args.Number(format); },
                              // A file type whose encoder is missing offers no formats.
                              {E_INVALIDARG}};
        SCOPED_TRACE(format);
        EachAllocationFailsIn(call);
    }
    StillWorks();
}

TEST_F(DispatchUnderAllocationFailure, Speaking)
{
    for (LONG voice : {m_voice, m_mode}) {
        ASSERT_EQ(m_tts->put_VoiceIdx(voice), S_OK);
        for (LONG flags : {LONG{TF_DEFAULT}, LONG{TF_ASYNC}}) {
            const MemberCall call{"Speak", Dispid(u"Speak"), kMethod,
                                  [flags](Args &args) {
                                      args.Text(u"Two sentences. Said twice.");
                                      args.Number(flags);
                                  },
                                  kEngineMade};
            SCOPED_TRACE(flags);
            EachAllocationFailsIn(call);
        }
        ASSERT_EQ(m_tts->StopTTS(), S_OK);
    }
    StillWorks();
}

TEST_F(DispatchUnderAllocationFailure, SpeakingToFiles)
{
    for (LONG voice : {m_voice, m_mode}) {
        ASSERT_EQ(m_tts->put_VoiceIdx(voice), S_OK);
        for (FILEFORMAT format : {FF_WAVE, FF_MP3, FF_OGG, FF_FLAC}) {
            ASSERT_EQ(m_tts->put_FileFormat(format), S_OK);
            const std::u16string file = ScratchPath("spoken.out");
            const MemberCall call{"SpeakToFile", Dispid(u"SpeakToFile"), kMethod,
                                  [file](Args &args) {
                                      args.Text(u"Written to a file.");
                                      args.Text(file);
                                      args.Number(TF_DEFAULT);
                                  },
                                  kEngineMade};
            SCOPED_TRACE(format);
            EachAllocationFailsIn(call);
        }
    }
    StillWorks();
}

TEST_F(DispatchUnderAllocationFailure, ConvertingMp3ToSwf)
{
    const std::string mp3 = (Scratch().path() / "tone.mp3").string();
    const std::string make =
        "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -ar 22050 -ac 1 -b:a 32k '" + mp3 + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    const MemberCall call{"Mp3ToSWF",
                          Dispid(u"Mp3ToSWF"),
                          kMethod,
                          [&mp3](Args &args) {
                              args.Text(U16(mp3));
                              args.Text(ScratchPath("tone.swf"));
                              args.Bool(true);
                          },
                          // Its one failure, whatever the reason.
                          {E_UNEXPECTED}};
    EachAllocationFailsIn(call);
    StillWorks();
}

TEST_F(DispatchUnderAllocationFailure, NamesAndTypeInformation)
{
    for (const orafon::members::Member &member : orafon::members::kTextToSpeechMembers) {
        std::u16string name(member.name);
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        EachAllocationFails([&] {
            LPOLESTR names[] = {name.data()};
            DISPID id = DISPID_UNKNOWN;
            const HRESULT hr = m_object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
            if (hr == S_OK) {
                EXPECT_EQ(id, member.id);
            }
            return hr;
        });
    }
    EachAllocationFails([&] {
        CComPtr<ITypeInfo> info;
        HRESULT hr = m_object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
        if (hr == S_OK) {
            // The description it hands out must be usable.
            TYPEATTR *attr = nullptr;
            hr = info->GetTypeAttr(&attr);
            if (SUCCEEDED(hr)) {
                EXPECT_EQ(attr->guid, IID_ITextToSpeech);
                info->ReleaseTypeAttr(attr);
            }
        }
        return hr;
    });
    UINT count = 0;
    EXPECT_EQ(m_object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    StillWorks();
}

} // namespace

int main(int argc, char **argv)
{
    // A registry and a silent, unpaced audio device of the test's own,
    // before anything reads them.
    const std::string registry = (Scratch().path() / "registry.db").string();
    setenv("ORAFON_REGISTRY", registry.c_str(), 1);
    setenv("ORAFON_AUDIO_DEVICE", "silent", 1);
    setenv("ORAFON_AUDIO_FAST", "1", 1);
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;

    orafon::sapi5::VoiceScript script;
    script.steps = {orafon::sapi5::ScriptStep::Audio(3200),
                    orafon::sapi5::ScriptStep::Event(SPEI_SENTENCE_BOUNDARY, 0, 14),
                    orafon::sapi5::ScriptStep::Event(SPEI_WORD_BOUNDARY, 0, 3),
                    orafon::sapi5::ScriptStep::Audio(3200),
                    orafon::sapi5::ScriptStep::Event(SPEI_WORD_BOUNDARY, 4, 9),
                    orafon::sapi5::ScriptStep::Audio(3200)};
    if (FAILED(orafon::sapi5::RegisterScriptedVoice(kVoiceToken, kVoiceName, script)))
        return 1;
    OrafonScriptedMode mode = OrafonScriptedStandardMode(kModeName);
    OrafonSapi4_AddScriptedMode(&mode);

    const int result = RUN_ALL_TESTS();
    OrafonSapi4_RemoveScriptedModes();
    static_cast<void>(orafon::sapi5::UnregisterScriptedVoice(kVoiceToken));
    CoUninitialize();
    return result;
}

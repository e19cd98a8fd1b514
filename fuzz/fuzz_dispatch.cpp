// Calls the object's IDispatch::Invoke with fuzzed DISPIDs, flags, named
// arguments and VARIANT arguments of every kind a host may pass, by value and
// by reference. The object speaks with a scripted voice on the silent device;
// file names given to the members that write files are kept inside a private
// directory. Whatever is passed, Invoke must answer with an HRESULT, name an
// argument within the list when it blames one, and leave no result behind on
// failure.
#include <component/TextToSpeechFactory.h>
#include <orafon/Orafon.h>
#include <orafon/win/objbase.h>
#include <orafon/win/oleauto.h>
#include <orafon/win/winuser.h>
#include <sapi5/ScriptedEngine.h>
#include <tests/component/TestServices.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

std::string &WorkDir()
{
    static std::string dir;
    return dir;
}

ITextToSpeech *g_object = nullptr;

// Room for the values that by-reference arguments point at.
struct ArgStore {
    VARIANT held;
    union {
        SHORT i2;
        LONG i4;
        LONGLONG i8;
        FLOAT r4;
        DOUBLE r8;
        CY cy;
        DATE date;
        VARIANT_BOOL b;
        BYTE ui1;
        BSTR bstr;
        DECIMAL dec;
    } value;
};

constexpr VARTYPE kArgTypes[] = {VT_EMPTY, VT_NULL, VT_I2,    VT_I4,      VT_R4,       VT_R8,      VT_CY,     VT_DATE,
                                 VT_BSTR,  VT_BOOL, VT_I1,    VT_UI1,     VT_UI2,      VT_UI4,     VT_I8,     VT_UI8,
                                 VT_INT,   VT_UINT, VT_ERROR, VT_DECIMAL, VT_DISPATCH, VT_UNKNOWN, VT_VARIANT};

std::u16string FuzzText(FuzzedDataProvider &in, bool fileName)
{
    const std::string bytes = in.ConsumeRandomLengthString(fileName ? 24 : 200);
    std::u16string text;
    if (!fileName) {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            text.push_back(
                static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
        return text;
    }
    // Names of files in the private directory only: no separators, no dots first.
    text = std::u16string(WorkDir().begin(), WorkDir().end()) + u"/f";
    static const char16_t *const kExtensions[] = {u".wav", u".mp3", u".swf", u".ogg", u".flac", u".au", u""};
    for (char c : bytes) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            text.push_back(static_cast<char16_t>(c));
    }
    text.resize(std::min<size_t>(text.size(), WorkDir().size() + 10));
    return text + kExtensions[bytes.size() % 7];
}

// Fills arg with a value of type vt (its by-reference form points into store).
void MakeArg(FuzzedDataProvider &in, VARTYPE vt, bool byRef, bool fileName, ArgStore &store, VARIANT &arg)
{
    VariantInit(&store.held);
    VARIANT &v = byRef ? store.held : arg;
    V_VT(&v) = vt;
    switch (vt) {
    case VT_I2:
    case VT_UI2:
        V_I2(&v) = in.ConsumeIntegral<SHORT>();
        break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
        V_I4(&v) = in.ConsumeIntegral<LONG>();
        break;
    case VT_I8:
    case VT_UI8:
        V_I8(&v) = in.ConsumeIntegral<LONGLONG>();
        break;
    case VT_R4:
        V_R4(&v) = in.ConsumeFloatingPoint<float>();
        break;
    case VT_R8:
    case VT_DATE:
        V_R8(&v) = in.ConsumeFloatingPoint<double>();
        break;
    case VT_CY:
        V_CY(&v).int64 = in.ConsumeIntegral<LONGLONG>();
        break;
    case VT_BOOL:
        V_BOOL(&v) = in.ConsumeIntegral<SHORT>();
        break;
    case VT_I1:
    case VT_UI1:
        V_UI1(&v) = in.ConsumeIntegral<BYTE>();
        break;
    case VT_BSTR: {
        const std::u16string text = FuzzText(in, fileName);
        V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        break;
    }
    case VT_DECIMAL: {
        DECIMAL dec{};
        dec.scale = in.ConsumeIntegral<BYTE>();
        dec.sign = in.ConsumeIntegral<BYTE>();
        dec.Hi32 = in.ConsumeIntegral<ULONG>();
        dec.Lo64 = in.ConsumeIntegral<ULONGLONG>();
        // A DECIMAL fills the whole VARIANT, its reserved word where vt is.
        std::memcpy(&v, &dec, sizeof dec);
        V_VT(&v) = VT_DECIMAL;
        break;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN:
        V_UNKNOWN(&v) = nullptr;
        break;
    case VT_VARIANT:
        // A variant holding a variant only makes sense by reference.
        V_VT(&v) = VT_I4;
        V_I4(&v) = in.ConsumeIntegral<LONG>();
        break;
    default:
        break;
    }
    if (!byRef)
        return;
    VariantInit(&arg);
    if (vt == VT_VARIANT) {
        V_VT(&arg) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&arg) = &store.held;
    } else if (vt == VT_EMPTY || vt == VT_NULL) {
        V_VT(&arg) = VT_BYREF | vt;
        V_BYREF(&arg) = &store.value;
    } else {
        V_VT(&arg) = VT_BYREF | vt;
        V_BYREF(&arg) = vt == VT_DECIMAL ? static_cast<void *>(&store.held) : &store.held.lVal;
    }
}

void PumpMessages()
{
    MSG message;
    for (int i = 0; i < 10000 && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

LONG g_scriptedVoice = -1;

// Starts every input on the scripted voice, which speaks quickly.
void SelectScriptedVoice()
{
    if (g_scriptedVoice < 0) {
        LONG count = 0;
        g_object->get_VoiceCount(&count);
        for (LONG i = 0; i < count && g_scriptedVoice < 0; ++i) {
            BSTR name = nullptr;
            if (SUCCEEDED(g_object->put_VoiceIdx(i)) && SUCCEEDED(g_object->get_VoiceName(&name)) && name &&
                std::u16string(name) == u"Fuzz Voice")
                g_scriptedVoice = i;
            SysFreeString(name);
        }
        Require(g_scriptedVoice >= 0);
    }
    g_object->put_VoiceIdx(g_scriptedVoice);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/orafon-fuzz-dispatch-XXXXXX";
    const char *dir = ::mkdtemp(pattern);
    Require(dir != nullptr);
    WorkDir() = dir;
    ::setenv("ORAFON_REGISTRY", (WorkDir() + "/registry.db").c_str(), 1);
    ::setenv("ORAFON_AUDIO_DEVICE", "silent", 1);
    ::setenv("ORAFON_AUDIO_FAST", "1", 1);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    orafon::sapi5::VoiceScript script;
    script.steps = {orafon::sapi5::ScriptStep::Audio(640), orafon::sapi5::ScriptStep::Event(SPEI_WORD_BOUNDARY, 0, 4),
                    orafon::sapi5::ScriptStep::Audio(640)};
    Require(orafon::sapi5::RegisterScriptedVoice(u"FuzzVoice", u"Fuzz Voice", script) == S_OK);
    Require(CTextToSpeech_CreateInstance(orafon::test::TestModule(), nullptr, IID_ITextToSpeech,
                                         reinterpret_cast<void **>(&g_object)) == S_OK);
    SelectScriptedVoice();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const DISPID id = in.ConsumeBool() ? in.ConsumeIntegralInRange<DISPID>(-6, 24) : in.ConsumeIntegral<DISPID>();
    const WORD flags =
        in.ConsumeBool() ? static_cast<WORD>(1u << in.ConsumeIntegralInRange(0, 3)) : in.ConsumeIntegral<WORD>();
    const bool writesFiles = id == 7 || id == 20;
    const UINT count = in.ConsumeIntegralInRange<UINT>(0, 4);
    std::vector<ArgStore> stores(count);
    std::vector<VARIANT> args(count);
    for (UINT i = 0; i < count; ++i) {
        const VARTYPE vt = kArgTypes[in.ConsumeIntegralInRange<size_t>(0, std::size(kArgTypes) - 1)];
        MakeArg(in, vt, in.ConsumeBool(), writesFiles, stores[i], args[i]);
    }
    DISPID named = in.ConsumeBool() ? DISPID_PROPERTYPUT : in.ConsumeIntegral<DISPID>();
    DISPPARAMS params{count ? args.data() : nullptr, &named, count,
                      static_cast<UINT>(count > 0 ? in.ConsumeIntegralInRange(0, 1) : 0)};
    if (in.ConsumeBool())
        params.cNamedArgs = in.ConsumeIntegralInRange<UINT>(0, count);
    if (params.cNamedArgs > 1)
        params.cNamedArgs = 1; // one name to point at
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT argErr = 0xFFFFFFFFu;
    const bool wantResult = in.ConsumeBool();
    const HRESULT hr = g_object->Invoke(id, IID_NULL, 0x0409, flags, &params, wantResult ? &result : nullptr,
                                        in.ConsumeBool() ? &excep : nullptr, in.ConsumeBool() ? &argErr : nullptr);
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND)
        Require(argErr == 0xFFFFFFFFu || argErr < count);
    if (FAILED(hr))
        Require(V_VT(&result) == VT_EMPTY);
    VariantClear(&result);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    for (UINT i = 0; i < count; ++i) {
        if (V_VT(&args[i]) & VT_BYREF)
            VariantClear(&stores[i].held);
        else
            VariantClear(&args[i]);
    }
    // Each input starts from a quiet object on the scripted voice: a
    // synchronous Speak after an earlier input's Pause would wait for a
    // Resume that never comes.
    g_object->Resume();
    g_object->StopTTS();
    PumpMessages();
    SelectScriptedVoice();
    return 0;
}

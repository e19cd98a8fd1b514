// IDispatch by name: the member name table, GetIDsOfNames, and Invoke with
// its argument conversion. The dispatch does not consult the type library.
#include "TextToSpeech.h"

#include <array>
#include <span>

namespace {

// ---- Name lookup ------------------------------------------------------------------

struct MemberName {
    const char16_t *name;
    DISPID id;
};

// Each member's plain name and, for properties, the accessor names.
constexpr MemberName kMemberNameTable[] = {
    {u"VoiceCount", 1},
    {u"get_VoiceCount", 1},
    {u"VoiceIdx", 2},
    {u"get_VoiceIdx", 2},
    {u"put_VoiceIdx", 2},
    {u"VoiceName", 3},
    {u"get_VoiceName", 3},
    {u"VoiceGender", 4},
    {u"get_VoiceGender", 4},
    {u"VoiceLanguage", 5},
    {u"get_VoiceLanguage", 5},
    {u"Speak", 6},
    {u"SpeakToFile", 7},
    {u"StopTTS", 8},
    {u"Pause", 9},
    {u"Resume", 10},
    {u"Rate", 11},
    {u"get_Rate", 11},
    {u"put_Rate", 11},
    {u"Volume", 12},
    {u"get_Volume", 12},
    {u"put_Volume", 12},
    {u"Pitch", 13},
    {u"get_Pitch", 13},
    {u"put_Pitch", 13},
    {u"WaveFormatCount", 14},
    {u"get_WaveFormatCount", 14},
    {u"WaveFormatIdx", 15},
    {u"get_WaveFormatIdx", 15},
    {u"put_WaveFormatIdx", 15},
    {u"WaveFormatName", 16},
    {u"get_WaveFormatName", 16},
    {u"FileFormat", 17},
    {u"get_FileFormat", 17},
    {u"put_FileFormat", 17},
    {u"GetVoiceName", 18},
    {u"Mp3ToSWF", 20},
    {u"SWFFrameRate", 21},
    {u"get_SWFFrameRate", 21},
    {u"put_SWFFrameRate", 21},
    {u"SAPIVersion", 22},
    {u"get_SAPIVersion", 22},
};
static_assert(std::size(kMemberNameTable) == 42);

char16_t FoldAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EqualsIgnoringCase(const char16_t *a, const char16_t *b)
{
    for (; *a && *b; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b))
            return false;
    }
    return *a == *b;
}

bool LookUpName(const OLECHAR *name, DISPID &id)
{
    if (!name)
        return false;
    for (const MemberName &entry : kMemberNameTable) {
        if (EqualsIgnoringCase(name, entry.name)) {
            id = entry.id;
            return true;
        }
    }
    return false;
}

// ---- Member table ---------------------------------------------------------------------

// Calls one accessor or method with its converted arguments (first parameter
// first) and, on success, stores its result in *result when given.
using MemberCall = HRESULT (*)(ITextToSpeech &object, const VARIANT *const *args, VARIANT *result);

struct Accessor {
    MemberCall call = nullptr;
    UINT argCount = 0;
    std::array<VARTYPE, 3> argTypes{};
};

struct MemberEntry {
    DISPID id;
    Accessor get; // the getter, or the method
    Accessor put; // the setter of a read-write property, else empty
};

template <HRESULT (STDMETHODCALLTYPE ITextToSpeech::*Get)(LONG *)>
HRESULT GetLong(ITextToSpeech &object, const VARIANT *const *, VARIANT *result)
{
    LONG value = 0;
    const HRESULT hr = (object.*Get)(&value);
    if (SUCCEEDED(hr) && result) {
        V_VT(result) = VT_I4;
        V_I4(result) = value;
    }
    return hr;
}

HRESULT GetFileFormat(ITextToSpeech &object, const VARIANT *const *, VARIANT *result)
{
    FILEFORMAT value = FF_WAVE;
    const HRESULT hr = object.get_FileFormat(&value);
    if (SUCCEEDED(hr) && result) {
        V_VT(result) = VT_I4;
        V_I4(result) = value;
    }
    return hr;
}

// The string is handed to the caller, or freed when there is nowhere to put it.
HRESULT StoreString(HRESULT hr, BSTR value, VARIANT *result)
{
    if (SUCCEEDED(hr) && result) {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = value;
    } else {
        SysFreeString(value);
    }
    return hr;
}

template <HRESULT (STDMETHODCALLTYPE ITextToSpeech::*Get)(BSTR *)>
HRESULT GetString(ITextToSpeech &object, const VARIANT *const *, VARIANT *result)
{
    BSTR value = nullptr;
    const HRESULT hr = (object.*Get)(&value);
    return StoreString(hr, value, result);
}

template <HRESULT (STDMETHODCALLTYPE ITextToSpeech::*Put)(LONG)>
HRESULT PutLong(ITextToSpeech &object, const VARIANT *const *args, VARIANT *)
{
    return (object.*Put)(V_I4(args[0]));
}

HRESULT PutFileFormat(ITextToSpeech &object, const VARIANT *const *args, VARIANT *)
{
    return object.put_FileFormat(static_cast<FILEFORMAT>(V_I4(args[0])));
}

template <HRESULT (STDMETHODCALLTYPE ITextToSpeech::*Method)()>
HRESULT CallPlain(ITextToSpeech &object, const VARIANT *const *, VARIANT *)
{
    return (object.*Method)();
}

HRESULT CallSpeak(ITextToSpeech &object, const VARIANT *const *args, VARIANT *)
{
    return object.Speak(V_BSTR(args[0]), static_cast<TTSFLAG>(V_I4(args[1])));
}

HRESULT CallSpeakToFile(ITextToSpeech &object, const VARIANT *const *args, VARIANT *)
{
    return object.SpeakToFile(V_BSTR(args[0]), V_BSTR(args[1]), static_cast<TTSFLAG>(V_I4(args[2])));
}

HRESULT CallGetVoiceName(ITextToSpeech &object, const VARIANT *const *args, VARIANT *result)
{
    BSTR name = nullptr;
    const HRESULT hr = object.GetVoiceName(V_I4(args[0]), &name);
    return StoreString(hr, name, result);
}

HRESULT CallMp3ToSWF(ITextToSpeech &object, const VARIANT *const *args, VARIANT *)
{
    return object.Mp3ToSWF(V_BSTR(args[0]), V_BSTR(args[1]), V_BOOL(args[2]));
}

constexpr Accessor LongGetter(MemberCall call)
{
    return {call, 0, {}};
}
constexpr Accessor LongSetter(MemberCall call)
{
    return {call, 1, {VT_I4}};
}
constexpr Accessor NoArgs(MemberCall call)
{
    return {call, 0, {}};
}

const MemberEntry kMembers[] = {
    {1, LongGetter(&GetLong<&ITextToSpeech::get_VoiceCount>), {}},
    {2, LongGetter(&GetLong<&ITextToSpeech::get_VoiceIdx>), LongSetter(&PutLong<&ITextToSpeech::put_VoiceIdx>)},
    {3, NoArgs(&GetString<&ITextToSpeech::get_VoiceName>), {}},
    {4, NoArgs(&GetString<&ITextToSpeech::get_VoiceGender>), {}},
    {5, NoArgs(&GetString<&ITextToSpeech::get_VoiceLanguage>), {}},
    {6, {&CallSpeak, 2, {VT_BSTR, VT_I4}}, {}},
    {7, {&CallSpeakToFile, 3, {VT_BSTR, VT_BSTR, VT_I4}}, {}},
    {8, NoArgs(&CallPlain<&ITextToSpeech::StopTTS>), {}},
    {9, NoArgs(&CallPlain<&ITextToSpeech::Pause>), {}},
    {10, NoArgs(&CallPlain<&ITextToSpeech::Resume>), {}},
    {11, LongGetter(&GetLong<&ITextToSpeech::get_Rate>), LongSetter(&PutLong<&ITextToSpeech::put_Rate>)},
    {12, LongGetter(&GetLong<&ITextToSpeech::get_Volume>), LongSetter(&PutLong<&ITextToSpeech::put_Volume>)},
    {13, LongGetter(&GetLong<&ITextToSpeech::get_Pitch>), LongSetter(&PutLong<&ITextToSpeech::put_Pitch>)},
    {14, LongGetter(&GetLong<&ITextToSpeech::get_WaveFormatCount>), {}},
    {15, LongGetter(&GetLong<&ITextToSpeech::get_WaveFormatIdx>),
     LongSetter(&PutLong<&ITextToSpeech::put_WaveFormatIdx>)},
    {16, NoArgs(&GetString<&ITextToSpeech::get_WaveFormatName>), {}},
    {17, LongGetter(&GetFileFormat), LongSetter(&PutFileFormat)},
    {18, {&CallGetVoiceName, 1, {VT_I4}}, {}},
    {20, {&CallMp3ToSWF, 3, {VT_BSTR, VT_BSTR, VT_BOOL}}, {}},
    {21, LongGetter(&GetLong<&ITextToSpeech::get_SWFFrameRate>),
     LongSetter(&PutLong<&ITextToSpeech::put_SWFFrameRate>)},
    {22, LongGetter(&GetLong<&ITextToSpeech::get_SAPIVersion>), {}},
};

const MemberEntry *FindMember(DISPID id)
{
    for (const MemberEntry &entry : kMembers) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

// Chooses the accessor a call runs. A read-write property runs its getter
// when the flags ask for a get (even together with a put), else its setter
// for a put; with neither, it has no accessor for the call. Read-only
// properties and methods ignore the flags.
const Accessor *ChooseAccessor(const MemberEntry &member, WORD flags)
{
    if (!member.put.call)
        return &member.get;
    if (flags & DISPATCH_PROPERTYGET)
        return &member.get;
    if (flags & DISPATCH_PROPERTYPUT)
        return &member.put;
    return nullptr;
}

bool NamedArgumentsAccepted(const DISPPARAMS &params)
{
    if (params.cNamedArgs == 0)
        return true;
    return params.cNamedArgs == 1 && params.rgdispidNamedArgs && params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
}

} // namespace

// ---- Argument conversion -------------------------------------------------------------

// Gives the value of one argument as the target type: *value points either at
// the caller's VARIANT (exact type) or at converted. Fails for a by-reference
// argument of another type and for a value the Automation conversion refuses.
static HRESULT CoerceArgument(const VARIANT *argument, VARTYPE target, orafon::CVariant &converted,
                              const VARIANT **value)
{
    const VARIANT *source = argument;
    if (V_VT(source) == (VT_BYREF | VT_VARIANT)) {
        source = V_VARIANTREF(source);
        if (!source)
            return DISP_E_TYPEMISMATCH;
    }
    if (V_VT(source) == target) {
        *value = source;
        return S_OK;
    }
    if (V_VT(source) & VT_BYREF)
        return DISP_E_TYPEMISMATCH;
    const HRESULT hr = VariantChangeType(converted.Get(), source, 0, target);
    if (FAILED(hr))
        return hr;
    *value = converted.Get();
    return S_OK;
}

// ---- IDispatch ----------------------------------------------------------------------------

STDMETHODIMP CTextToSpeech::GetIDsOfNames(REFIID, LPOLESTR *rgszNames, UINT cNames, LCID, DISPID *rgDispId)
{
    if (cNames > 0 && (!rgszNames || !rgDispId))
        return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i) {
        if (!LookUpName(rgszNames[i], rgDispId[i]))
            return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
}

STDMETHODIMP CTextToSpeech::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS *pDispParams,
                                   VARIANT *pVarResult, EXCEPINFO *, UINT *puArgErr)
{
    constexpr UINT kMaxArgs = 3;
    if (!pDispParams)
        return DISP_E_BADVARTYPE;
    if (pDispParams->cArgs > kMaxArgs)
        return DISP_E_BADPARAMCOUNT;
    if (pDispParams->cArgs > 0 && !pDispParams->rgvarg)
        return E_INVALIDARG;
    if (pVarResult)
        VariantClear(pVarResult);
    if (!NamedArgumentsAccepted(*pDispParams))
        return DISP_E_NONAMEDARGS;

    const MemberEntry *member = FindMember(dispIdMember);
    if (!member)
        return DISP_E_MEMBERNOTFOUND;
    const Accessor *accessor = ChooseAccessor(*member, wFlags);
    if (!accessor)
        return DISP_E_MEMBERNOTFOUND;
    const UINT argCount = pDispParams->cArgs;
    if (argCount != accessor->argCount)
        return DISP_E_BADPARAMCOUNT;

    // rgvarg holds the arguments in reverse order; convert the first parameter first.
    std::array<orafon::CVariant, kMaxArgs> converted;
    std::array<const VARIANT *, kMaxArgs> values{};
    for (UINT param = 0; param < argCount; ++param) {
        const UINT index = argCount - 1 - param;
        if (FAILED(CoerceArgument(&pDispParams->rgvarg[index], accessor->argTypes[param], converted[param],
                                  &values[param]))) {
            if (puArgErr)
                *puArgErr = index;
            return DISP_E_TYPEMISMATCH;
        }
    }
    return accessor->call(*this, values.data(), pVarResult);
}

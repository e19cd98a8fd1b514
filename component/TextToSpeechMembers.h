// The members of ITextToSpeech, one row each: DISPID, name, kind, the C++
// accessors (their parameter and result types read from the signatures),
// parameter names and help string. The object's IDispatch
// (TextToSpeechDispatch.cpp) and the module's type library
// (module/OrafonTypeLib.cpp) are both made from this table, so adding a
// member is adding a row, in function-table order.
#pragma once

#include <orafon/Orafon.h>

#include <array>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

namespace orafon::members {

// The most parameters any member takes, its [out, retval] not counted.
inline constexpr UINT kMaxParams = 3;

// A value as it travels through IDispatch: its VARTYPE and, for an
// enumeration, the enumeration's name in the type library.
struct ValueType {
    VARTYPE vt = VT_EMPTY;
    const char16_t *enumName = nullptr;
};

// ---- Values between VARIANTs and the C++ parameter types -------------------------

// From reads an argument already coerced to kType.vt; To stores a result.
template <typename T> struct Marshal;

template <> struct Marshal<LONG> {
    static constexpr ValueType kType{VT_I4};
    [[nodiscard]] static LONG From(const VARIANT &v) { return V_I4(&v); }
    static void To(VARIANT &v, LONG value)
    {
        V_VT(&v) = VT_I4;
        V_I4(&v) = value;
    }
};

template <> struct Marshal<BSTR> {
    static constexpr ValueType kType{VT_BSTR};
    static BSTR From(const VARIANT &v) { return V_BSTR(&v); }
    // The VARIANT takes the string over.
    static void To(VARIANT &v, BSTR value)
    {
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = value;
    }
};

template <> struct Marshal<VARIANT_BOOL> {
    static constexpr ValueType kType{VT_BOOL};
    static VARIANT_BOOL From(const VARIANT &v) { return V_BOOL(&v); }
    static void To(VARIANT &v, VARIANT_BOOL value)
    {
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = value;
    }
};

// Enumerations travel as VT_I4.
template <typename E> struct EnumMarshal {
    static E From(const VARIANT &v) { return static_cast<E>(V_I4(&v)); }
    static void To(VARIANT &v, E value)
    {
        V_VT(&v) = VT_I4;
        V_I4(&v) = value;
    }
};

template <> struct Marshal<TTSFLAG> : EnumMarshal<TTSFLAG> {
    static constexpr ValueType kType{VT_I4, u"TTSFLAG"};
};

template <> struct Marshal<FILEFORMAT> : EnumMarshal<FILEFORMAT> {
    static constexpr ValueType kType{VT_I4, u"FILEFORMAT"};
};

template <typename T>
concept Marshalled = requires
{
    Marshal<T>::kType;
};

// A pointer to a marshalled type is where a member hands back its result.
template <typename T> inline constexpr bool kIsResult = false;
template <Marshalled T> inline constexpr bool kIsResult<T *> = true;

// ---- Accessors -----------------------------------------------------------------------

// Calls one accessor or method with its arguments, converted to its parameter
// types and given first parameter first; stores its result, if it has one, in
// result (also when it fails: the caller then clears it).
using MemberCall = HRESULT (*)(ITextToSpeech &object, const VARIANT *const *args, VARIANT &result);

struct Accessor {
    MemberCall call = nullptr;
    UINT paramCount = 0;
    std::array<ValueType, kMaxParams> paramTypes{};
    // VT_EMPTY when the accessor hands nothing back.
    ValueType result{};
};

template <auto Function> struct Signature;
template <typename... Params, HRESULT (STDMETHODCALLTYPE ITextToSpeech::*Function)(Params...)>
struct Signature<Function> {
    using Types = std::tuple<Params...>;
};

template <typename Tuple> constexpr bool LastIsResult()
{
    constexpr std::size_t count = std::tuple_size_v<Tuple>;
    if constexpr (count == 0)
        return false;
    else
        return kIsResult<std::tuple_element_t<count - 1, Tuple>>;
}

// The Accessor of one ITextToSpeech function: its parameters, in order, then
// an optional result pointer last.
template <auto Function> class AccessorOf {
    using Types = typename Signature<Function>::Types;
    static constexpr bool kHasResult = LastIsResult<Types>();
    static constexpr std::size_t kParams = std::tuple_size_v<Types> - (kHasResult ? 1 : 0);
    static_assert(kParams <= kMaxParams);

    template <std::size_t I> using Param = std::tuple_element_t<I, Types>;

    template <std::size_t... I>
    [[nodiscard]] static HRESULT CallWith(ITextToSpeech &object, const VARIANT *const *args, VARIANT &result,
                                          std::index_sequence<I...>)
    {
        if constexpr (kHasResult) {
            using Result = std::remove_pointer_t<Param<kParams>>;
            Result value{};
            const HRESULT hr = (object.*Function)(Marshal<Param<I>>::From(*args[I])..., &value);
            Marshal<Result>::To(result, value);
            return hr;
        } else {
            return (object.*Function)(Marshal<Param<I>>::From(*args[I])...);
        }
    }

    [[nodiscard]] static HRESULT Call(ITextToSpeech &object, const VARIANT *const *args, VARIANT &result)
    {
        return CallWith(object, args, result, std::make_index_sequence<kParams>{});
    }

    template <std::size_t... I> static constexpr Accessor Make(std::index_sequence<I...>)
    {
        Accessor accessor{&Call, static_cast<UINT>(kParams), {Marshal<Param<I>>::kType...}, {}};
        if constexpr (kHasResult)
            accessor.result = Marshal<std::remove_pointer_t<Param<kParams>>>::kType;
        return accessor;
    }

public:
    static constexpr std::size_t kNames = std::tuple_size_v<Types>;
    static constexpr Accessor kAccessor = Make(std::make_index_sequence<kParams>{});
};

// ---- Rows ------------------------------------------------------------------------------

enum class MemberKind {
    Method,      // INVOKE_FUNC
    PropertyGet, // a read-only property: INVOKE_PROPERTYGET
    Property,    // a read-write property: INVOKE_PROPERTYGET, then INVOKE_PROPERTYPUT
};

struct Member {
    DISPID id;
    const char16_t *name;
    MemberKind kind;
    const char16_t *help;
    Accessor get; // the getter, or the method
    Accessor put; // the setter of a read-write property, else empty
    // A method's parameter names, its [out, retval] last.
    std::array<const char16_t *, kMaxParams + 1> paramNames{};
};

template <auto Get> consteval Member PropertyGet(DISPID id, const char16_t *name, const char16_t *help)
{
    constexpr Accessor get = AccessorOf<Get>::kAccessor;
    static_assert(get.paramCount == 0 && get.result.vt != VT_EMPTY, "a getter only hands back its value");
    return {id, name, MemberKind::PropertyGet, help, get, {}, {}};
}

template <auto Get, auto Put> consteval Member Property(DISPID id, const char16_t *name, const char16_t *help)
{
    constexpr Accessor get = AccessorOf<Get>::kAccessor;
    constexpr Accessor put = AccessorOf<Put>::kAccessor;
    static_assert(get.paramCount == 0 && get.result.vt != VT_EMPTY, "a getter only hands back its value");
    static_assert(put.paramCount == 1 && put.result.vt == VT_EMPTY, "a setter only takes the value");
    static_assert(put.paramTypes[0].vt == get.result.vt && put.paramTypes[0].enumName == get.result.enumName,
                  "getter and setter agree on the type");
    return {id, name, MemberKind::Property, help, get, put, {}};
}

template <auto Function, std::size_t N>
consteval Member Method(DISPID id, const char16_t *name, const char16_t *const (&params)[N], const char16_t *help)
{
    static_assert(N == AccessorOf<Function>::kNames, "one name for each parameter");
    Member member{id, name, MemberKind::Method, help, AccessorOf<Function>::kAccessor, {}, {}};
    for (std::size_t i = 0; i < N; ++i)
        member.paramNames[i] = params[i];
    return member;
}

template <auto Function> consteval Member Method(DISPID id, const char16_t *name, const char16_t *help)
{
    static_assert(AccessorOf<Function>::kNames == 0, "parameters need their names");
    return {id, name, MemberKind::Method, help, AccessorOf<Function>::kAccessor, {}, {}};
}

// ---- The table -------------------------------------------------------------------------

// Rows follow the function table of ITextToSpeech in orafon/Orafon.h: the type
// library places each accessor at the slot of its position here.

inline constexpr Member kTextToSpeechMembers[] = {
    PropertyGet<&ITextToSpeech::get_VoiceCount>(1, u"VoiceCount", u"property VoiceCount"),
    Property<&ITextToSpeech::get_VoiceIdx, &ITextToSpeech::put_VoiceIdx>(2, u"VoiceIdx", u"property VoiceIdx"),
    PropertyGet<&ITextToSpeech::get_VoiceName>(3, u"VoiceName", u"property VoiceName"),
    PropertyGet<&ITextToSpeech::get_VoiceGender>(4, u"VoiceGender", u"property VoiceGender"),
    PropertyGet<&ITextToSpeech::get_VoiceLanguage>(5, u"VoiceLanguage", u"property VoiceLanguage"),
    Method<&ITextToSpeech::Speak>(6, u"Speak", {u"strText", u"nFlag"}, u"Speak Text"),
    Method<&ITextToSpeech::SpeakToFile>(7, u"SpeakToFile", {u"strText", u"strFile", u"nFlag"}, u"Speak To File"),
    Method<&ITextToSpeech::StopTTS>(8, u"StopTTS", u"StopTTS"),
    Method<&ITextToSpeech::Pause>(9, u"Pause", u"Pause"),
    Method<&ITextToSpeech::Resume>(10, u"Resume", u"Resume"),
    Property<&ITextToSpeech::get_Rate, &ITextToSpeech::put_Rate>(11, u"Rate", u"property Rate"),
    Property<&ITextToSpeech::get_Volume, &ITextToSpeech::put_Volume>(12, u"Volume", u"property Volume"),
    Property<&ITextToSpeech::get_Pitch, &ITextToSpeech::put_Pitch>(13, u"Pitch", u"property Pitch"),
    PropertyGet<&ITextToSpeech::get_WaveFormatCount>(14, u"WaveFormatCount", u"property WaveFormatCount"),
    Property<&ITextToSpeech::get_WaveFormatIdx, &ITextToSpeech::put_WaveFormatIdx>(15, u"WaveFormatIdx",
                                                                                   u"property WaveFormatIdx"),
    PropertyGet<&ITextToSpeech::get_WaveFormatName>(16, u"WaveFormatName", u"property WaveFormatName"),
    Property<&ITextToSpeech::get_FileFormat, &ITextToSpeech::put_FileFormat>(17, u"FileFormat", u"property FileFormat"),
    Method<&ITextToSpeech::GetVoiceName>(18, u"GetVoiceName", {u"nIndex", u"strName"}, u"GetVoiceName"),
    Method<&ITextToSpeech::Mp3ToSWF>(20, u"Mp3ToSWF", {u"strMp3", u"strSWF", u"bLoop"}, u"Convert Mp3 to SWF"),
    Property<&ITextToSpeech::get_SWFFrameRate, &ITextToSpeech::put_SWFFrameRate>(21, u"SWFFrameRate",
                                                                                 u"property SWFFrameRate"),
    PropertyGet<&ITextToSpeech::get_SAPIVersion>(22, u"SAPIVersion", u"property SAPIVersion"),
};

consteval char16_t Folded(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Names are looked up ignoring case, so they must differ in more than case.
consteval bool SameName(const char16_t *a, const char16_t *b)
{
    for (; *a && *b; ++a, ++b) {
        if (Folded(*a) != Folded(*b))
            return false;
    }
    return *a == *b;
}

// Each DISPID and each name belongs to one row.
template <std::size_t N> consteval bool RowsAreDistinct(const Member (&rows)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        for (std::size_t j = i + 1; j < N; ++j) {
            if (rows[i].id == rows[j].id || SameName(rows[i].name, rows[j].name))
                return false;
        }
    }
    return true;
}
static_assert(RowsAreDistinct(kTextToSpeechMembers));

} // namespace orafon::members

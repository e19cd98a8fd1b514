// IDispatch of CTextToSpeech: name lookup and Invoke, as a matrix over
// members, flags, argument counts and argument conversions. That the object
// and the type library describe the same members is checked in InModuleTest.
#include "TestObjects.h"

#include <array>
#include <cstring>
#include <vector>

using orafon::CBstr;
using orafon::CVariant;
using namespace orafon::test;

namespace {

// ---- GetIDsOfNames ------------------------------------------------------------

struct NameCase {
    const char16_t *name;
    DISPID id;
};

// The published DISPIDs: clients that cache them, and the DISPID comments of
// orafon/Orafon.h, rely on these values never changing.
const NameCase kPublishedDispids[] = {
    {u"VoiceCount", 1},     {u"VoiceIdx", 2},
    {u"VoiceName", 3},      {u"VoiceGender", 4},
    {u"VoiceLanguage", 5},  {u"Speak", 6},
    {u"SpeakToFile", 7},    {u"StopTTS", 8},
    {u"Pause", 9},          {u"Resume", 10},
    {u"Rate", 11},          {u"Volume", 12},
    {u"Pitch", 13},         {u"WaveFormatCount", 14},
    {u"WaveFormatIdx", 15}, {u"WaveFormatName", 16},
    {u"FileFormat", 17},    {u"GetVoiceName", 18},
    {u"Mp3ToSWF", 20},      {u"SWFFrameRate", 21},
    {u"SAPIVersion", 22},
};

// Accessor names: a getter's for every property, a setter's for read-write ones.
const NameCase kAccessorNames[] = {
    {u"get_VoiceCount", 1},  {u"get_VoiceIdx", 2},     {u"put_VoiceIdx", 2}, {u"get_FileFormat", 17},
    {u"put_FileFormat", 17}, {u"get_SAPIVersion", 22}, {u"put_Rate", 11},    {u"get_WaveFormatName", 16},
};

std::u16string WithCase(const char16_t *name, bool upper)
{
    std::u16string s(name);
    for (char16_t &c : s) {
        if (upper && c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
        if (!upper && c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return s;
}

HRESULT LookUp(ITextToSpeech *tts, std::u16string name, DISPID &id)
{
    LPOLESTR names[] = {name.data()};
    return tts->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
}

TEST(ComponentNames, PublishedAndAccessorNamesInAnyCaseGiveTheirDispid)
{
    auto tts = MakeTts();
    std::vector<NameCase> cases(std::begin(kPublishedDispids), std::end(kPublishedDispids));
    cases.insert(cases.end(), std::begin(kAccessorNames), std::end(kAccessorNames));
    for (const NameCase &c : cases) {
        for (const std::u16string &name : {std::u16string(c.name), WithCase(c.name, true), WithCase(c.name, false)}) {
            DISPID id = -99;
            EXPECT_EQ(LookUp(tts, name, id), S_OK);
            EXPECT_EQ(id, c.id);
        }
    }
}

TEST(ComponentNames, NamesOutsideTheTableAreUnknown)
{
    auto tts = MakeTts();
    for (const char16_t *name :
         {u"SetPitch", u"strText", u"", u"Rate ", u"get_Speak", u"put_VoiceCount", u"put_WaveFormatName", u"Mp3ToSWF2",
          u"DISPID", u"get_", u"get_get_Rate", u"put_StopTTS", u"getRate", u"get_Rat", u"RateRate"}) {
        DISPID id = -99;
        EXPECT_EQ(LookUp(tts, name, id), DISP_E_UNKNOWNNAME)
            << std::string(name, name + std::char_traits<char16_t>::length(name));
    }
}

TEST(ComponentNames, FirstUnknownNameStopsTheLookup)
{
    auto tts = MakeTts();
    std::u16string a = u"Volume", b = u"Speed", c = u"Pitch";
    LPOLESTR names[] = {a.data(), b.data(), c.data()};
    DISPID ids[] = {-7, -7, -7};
    EXPECT_EQ(tts->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 12);
    EXPECT_EQ(ids[2], -7);
}

TEST(ComponentNames, SeveralKnownNamesAreAllResolved)
{
    auto tts = MakeTts();
    std::u16string a = u"speak", b = u"PUT_RATE", c = u"sapiversion";
    LPOLESTR names[] = {a.data(), b.data(), c.data()};
    DISPID ids[3] = {};
    EXPECT_EQ(tts->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 6);
    EXPECT_EQ(ids[1], 11);
    EXPECT_EQ(ids[2], 22);
}

TEST(ComponentNames, NullArraysAndNullNamesAreRefused)
{
    auto tts = MakeTts();
    DISPID id = 0;
    EXPECT_EQ(tts->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_INVALIDARG);
    LPOLESTR names[] = {nullptr};
    EXPECT_EQ(tts->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    std::u16string rate = u"Rate";
    LPOLESTR one[] = {rate.data()};
    EXPECT_EQ(tts->GetIDsOfNames(IID_NULL, one, 1, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(tts->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), S_OK);
}

// ---- Invoke ----------------------------------------------------------------------

// Arguments in parameter order; Call reverses them into rgvarg.
class Args {
public:
    Args &Long(LONG v)
    {
        VARIANT &var = Add();
        V_VT(&var) = VT_I4;
        V_I4(&var) = v;
        return *this;
    }
    Args &Str(const char16_t *s)
    {
        VARIANT &var = Add();
        V_VT(&var) = VT_BSTR;
        V_BSTR(&var) = s ? SysAllocString(s) : nullptr;
        return *this;
    }
    Args &Var(const VARIANT &v)
    {
        Add() = v;
        return *this;
    }
    ~Args()
    {
        for (UINT i = 0; i < m_count; ++i)
            VariantClear(&m_vars[i]);
    }

    // rgvarg for DISPPARAMS: last parameter first.
    VARIANT *Reversed()
    {
        for (UINT i = 0; i < m_count; ++i)
            m_reversed[i] = m_vars[m_count - 1 - i];
        return m_reversed.data();
    }
    UINT Count() const { return m_count; }

private:
    VARIANT &Add()
    {
        VARIANT &v = m_vars.at(m_count++);
        VariantInit(&v);
        return v;
    }
    std::array<VARIANT, 5> m_vars{};
    std::array<VARIANT, 5> m_reversed{};
    UINT m_count = 0;
};

struct InvokeResult {
    HRESULT hr;
    UINT argErr = 0xDEAD;
};

InvokeResult Call(ITextToSpeech *tts, DISPID id, WORD flags, Args &args, VARIANT *result = nullptr,
                  bool namedPut = false)
{
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.Count() ? args.Reversed() : nullptr, namedPut ? &named : nullptr, args.Count(),
                      namedPut ? 1u : 0u};
    InvokeResult r{};
    r.hr = tts->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, &r.argErr);
    return r;
}

HRESULT Get(ITextToSpeech *tts, DISPID id, CVariant &result)
{
    Args none;
    return Call(tts, id, DISPATCH_PROPERTYGET, none, result.Get()).hr;
}

HRESULT Put(ITextToSpeech *tts, DISPID id, Args &value)
{
    return Call(tts, id, DISPATCH_PROPERTYPUT, value, nullptr, true).hr;
}

LONG ReadLong(ITextToSpeech *tts, DISPID id)
{
    CVariant v;
    EXPECT_EQ(Get(tts, id, v), S_OK);
    EXPECT_EQ(V_VT(v.Get()), VT_I4);
    return V_I4(v.Get());
}

constexpr DISPID kFrameRate = 21;

TEST(ComponentInvoke, MissingParameterBlockIsBadVarType)
{
    auto tts = MakeTts();
    EXPECT_EQ(tts->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, nullptr, nullptr, nullptr), DISP_E_BADVARTYPE);
}

TEST(ComponentInvoke, MoreThanThreeArgumentsAreRefusedBeforeTheDispid)
{
    auto tts = MakeTts();
    Args four;
    four.Long(1).Long(2).Long(3).Long(4);
    EXPECT_EQ(Call(tts, 6, DISPATCH_METHOD, four).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(tts, 999, DISPATCH_METHOD, four).hr, DISP_E_BADPARAMCOUNT);
}

TEST(ComponentInvoke, UnknownDispidsAreNotFound)
{
    auto tts = MakeTts();
    for (DISPID id : {0, 19, 23, -1, -3, 1000}) {
        Args none;
        EXPECT_EQ(Call(tts, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none).hr, DISP_E_MEMBERNOTFOUND) << id;
    }
}

TEST(ComponentInvoke, NamedArgumentsOtherThanOnePropertyPutAreRefused)
{
    auto tts = MakeTts();
    Args value;
    value.Long(30);
    DISPID named[] = {DISPID_PROPERTYPUT, 5};
    DISPPARAMS params{value.Reversed(), named, 1, 1};
    EXPECT_EQ(tts->Invoke(kFrameRate, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(ReadLong(tts, kFrameRate), 30);

    DISPID other = 7;
    params.rgdispidNamedArgs = &other;
    EXPECT_EQ(tts->Invoke(kFrameRate, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr),
              DISP_E_NONAMEDARGS);
    params.rgdispidNamedArgs = named;
    params.cNamedArgs = 2;
    EXPECT_EQ(tts->Invoke(kFrameRate, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr),
              DISP_E_NONAMEDARGS);
    // A put without the named argument is accepted too.
    params.cNamedArgs = 0;
    params.rgdispidNamedArgs = nullptr;
    V_I4(&params.rgvarg[0]) = 31;
    EXPECT_EQ(tts->Invoke(kFrameRate, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(ReadLong(tts, kFrameRate), 31);
}

// Every member called the way a script host calls it, on an object with no
// voice: the result code and what pVarResult holds afterwards.
struct MemberCase {
    DISPID id;
    WORD flags;
    std::function<void(Args &)> args;
    HRESULT expected;
    VARTYPE resultType;
    LONG longValue;
    const char16_t *text;
};

void NoArgs(Args &) {}

const MemberCase kMemberCases[] = {
    {1, DISPATCH_PROPERTYGET, NoArgs, S_OK, VT_I4, 0, nullptr},
    {2, DISPATCH_PROPERTYGET, NoArgs, S_OK, VT_I4, -1, nullptr},
    {2, DISPATCH_PROPERTYPUT, [](Args &a) { a.Long(0); }, E_INVALIDARG, VT_EMPTY, 0, nullptr},
    {3, DISPATCH_PROPERTYGET, NoArgs, E_FAIL, VT_EMPTY, 0, nullptr},
    {4, DISPATCH_PROPERTYGET, NoArgs, E_FAIL, VT_EMPTY, 0, nullptr},
    {5, DISPATCH_PROPERTYGET, NoArgs, E_FAIL, VT_EMPTY, 0, nullptr},
    {6, DISPATCH_METHOD, [](Args &a) { a.Str(u"Hello").Long(TF_DEFAULT); }, E_FAIL, VT_EMPTY, 0, nullptr},
    {6, DISPATCH_METHOD, [](Args &a) { a.Str(nullptr).Long(TF_DEFAULT); }, E_INVALIDARG, VT_EMPTY, 0, nullptr},
    {7, DISPATCH_METHOD, [](Args &a) { a.Str(u"Hello").Str(u"out.mp3").Long(TF_ASYNC); }, E_FAIL, VT_EMPTY, 0, nullptr},
    {7, DISPATCH_METHOD, [](Args &a) { a.Str(u"Hello").Str(nullptr).Long(0); }, E_INVALIDARG, VT_EMPTY, 0, nullptr},
    {8, DISPATCH_METHOD, NoArgs, E_FAIL, VT_EMPTY, 0, nullptr},
    {9, DISPATCH_METHOD, NoArgs, E_FAIL, VT_EMPTY, 0, nullptr},
    {10, DISPATCH_METHOD, NoArgs, E_FAIL, VT_EMPTY, 0, nullptr},
    {11, DISPATCH_PROPERTYGET, NoArgs, E_FAIL, VT_EMPTY, 0, nullptr},
    {11, DISPATCH_PROPERTYPUT, [](Args &a) { a.Long(5); }, E_FAIL, VT_EMPTY, 0, nullptr},
    {12, DISPATCH_PROPERTYGET, NoArgs, E_FAIL, VT_EMPTY, 0, nullptr},
    {12, DISPATCH_PROPERTYPUT, [](Args &a) { a.Long(50); }, S_OK, VT_EMPTY, 0, nullptr},
    {13, DISPATCH_PROPERTYGET, NoArgs, E_FAIL, VT_EMPTY, 0, nullptr},
    {13, DISPATCH_PROPERTYPUT, [](Args &a) { a.Long(3); }, S_OK, VT_EMPTY, 0, nullptr},
    {14, DISPATCH_PROPERTYGET, NoArgs, S_OK, VT_I4, 22, nullptr},
    {15, DISPATCH_PROPERTYGET, NoArgs, S_OK, VT_I4, 0, nullptr},
    {15, DISPATCH_PROPERTYPUT, [](Args &a) { a.Long(22); }, E_INVALIDARG, VT_EMPTY, 0, nullptr},
    {16, DISPATCH_PROPERTYGET, NoArgs, S_OK, VT_BSTR, 0, u"16kBPS, 11kHz, Mono"},
    {17, DISPATCH_PROPERTYGET, NoArgs, S_OK, VT_I4, FF_MP3, nullptr},
    {18, DISPATCH_METHOD, [](Args &a) { a.Long(0); }, E_INVALIDARG, VT_EMPTY, 0, nullptr},
    {20, DISPATCH_METHOD, [](Args &a) { a.Str(nullptr).Str(u"x.swf").Long(0); }, E_INVALIDARG, VT_EMPTY, 0, nullptr},
    {21, DISPATCH_PROPERTYGET, NoArgs, S_OK, VT_I4, 15, nullptr},
    {21, DISPATCH_PROPERTYPUT, [](Args &a) { a.Long(-1); }, E_INVALIDARG, VT_EMPTY, 0, nullptr},
    {22, DISPATCH_PROPERTYGET, NoArgs, S_OK, VT_I4, -1, nullptr},
};

TEST(ComponentInvoke, EveryMemberGivesItsResultAndValue)
{
    for (const MemberCase &c : kMemberCases) {
        SCOPED_TRACE(testing::Message() << "DISPID " << c.id << " flags " << c.flags);
        auto tts = MakeTts();
        Args args;
        c.args(args);
        // pVarResult holds a string beforehand: it is freed, whatever the outcome.
        VARIANT result;
        V_VT(&result) = VT_BSTR;
        V_BSTR(&result) = SysAllocString(u"stale");
        const InvokeResult r = Call(tts, c.id, c.flags, args, &result, (c.flags & DISPATCH_PROPERTYPUT) != 0);
        EXPECT_EQ(r.hr, c.expected);
        EXPECT_EQ(V_VT(&result), c.resultType);
        if (c.resultType == VT_I4) {
            EXPECT_EQ(V_I4(&result), c.longValue);
        }
        if (c.resultType == VT_BSTR) {
            EXPECT_EQ(ToU16(V_BSTR(&result)), c.text);
        }
        VariantClear(&result);
    }
}

TEST(ComponentInvoke, WrongArgumentCountsAreBadParamCount)
{
    struct CountCase {
        DISPID id;
        WORD flags;
        UINT args;
    };
    const CountCase cases[] = {
        {1, DISPATCH_PROPERTYGET, 1},  {6, DISPATCH_METHOD, 3},       {6, DISPATCH_METHOD, 1},
        {7, DISPATCH_METHOD, 2},       {8, DISPATCH_METHOD, 1},       {11, DISPATCH_PROPERTYPUT, 0},
        {11, DISPATCH_PROPERTYPUT, 2}, {11, DISPATCH_PROPERTYGET, 1}, {18, DISPATCH_METHOD, 0},
        {20, DISPATCH_METHOD, 2},      {21, DISPATCH_PROPERTYPUT, 3}, {22, DISPATCH_PROPERTYGET, 2},
    };
    auto tts = MakeTts();
    for (const CountCase &c : cases) {
        Args args;
        for (UINT i = 0; i < c.args; ++i)
            args.Long(1);
        CVariant result;
        EXPECT_EQ(Call(tts, c.id, c.flags, args, result.Get()).hr, DISP_E_BADPARAMCOUNT) << c.id;
        EXPECT_EQ(V_VT(result.Get()), VT_EMPTY);
    }
}

TEST(ComponentInvoke, FlagsChooseTheAccessorOfReadWriteProperties)
{
    auto tts = MakeTts();
    Args none;
    CVariant result;
    // A get wins over a put.
    EXPECT_EQ(Call(tts, kFrameRate, DISPATCH_PROPERTYGET | DISPATCH_METHOD, none, result.Get()).hr, S_OK);
    EXPECT_EQ(V_I4(result.Get()), 15);
    EXPECT_EQ(Call(tts, kFrameRate, DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT, none, result.Get()).hr, S_OK);
    EXPECT_EQ(V_I4(result.Get()), 15);
    Args one;
    one.Long(20);
    EXPECT_EQ(Call(tts, kFrameRate, DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT, one).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(tts, kFrameRate, DISPATCH_PROPERTYPUT | DISPATCH_METHOD, one).hr, S_OK);
    EXPECT_EQ(ReadLong(tts, kFrameRate), 20);
    // Neither get nor put: the property has no accessor for the call.
    EXPECT_EQ(Call(tts, kFrameRate, DISPATCH_METHOD, none).hr, DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(tts, kFrameRate, DISPATCH_PROPERTYPUTREF, one).hr, DISP_E_MEMBERNOTFOUND);
}

TEST(ComponentInvoke, ReadOnlyPropertiesAndMethodsIgnoreTheFlags)
{
    auto tts = MakeTts();
    for (WORD flags : {WORD{0}, WORD{DISPATCH_METHOD}, WORD{DISPATCH_PROPERTYPUT}, WORD{DISPATCH_PROPERTYPUTREF}}) {
        Args none;
        CVariant result;
        EXPECT_EQ(Call(tts, 14, flags, none, result.Get()).hr, S_OK);
        EXPECT_EQ(V_I4(result.Get()), 22);
        // A put on a read-only property fails on its argument count.
        Args one;
        one.Long(3);
        EXPECT_EQ(Call(tts, 14, flags, one).hr, DISP_E_BADPARAMCOUNT);
        EXPECT_EQ(Call(tts, 8, flags, none).hr, E_FAIL);
    }
}

TEST(ComponentInvoke, ResultPointerIsOptional)
{
    auto tts = MakeTts();
    Args none;
    EXPECT_EQ(Call(tts, 16, DISPATCH_PROPERTYGET, none, nullptr).hr, S_OK);
    EXPECT_EQ(Call(tts, 14, DISPATCH_PROPERTYGET, none, nullptr).hr, S_OK);
}

// ---- Argument conversion ----------------------------------------------------------

struct ConversionCase {
    const char *what;
    std::function<void(VARIANT &)> make;
    HRESULT expected;
    LONG stored; // SWFFrameRate afterwards
};

VARIANT g_referenced;
LONG g_referencedLong = 9;

const ConversionCase kConversions[] = {
    {"I4",
     [](VARIANT &v) {
         V_VT(&v) = VT_I4;
         V_I4(&v) = 40;
     },
     S_OK, 40},
    {"I2",
     [](VARIANT &v) {
         V_VT(&v) = VT_I2;
         V_I2(&v) = 7;
     },
     S_OK, 7},
    {"UI1",
     [](VARIANT &v) {
         V_VT(&v) = VT_UI1;
         V_UI1(&v) = 200;
     },
     S_OK, 200},
    {"R8 rounds",
     [](VARIANT &v) {
         V_VT(&v) = VT_R8;
         V_R8(&v) = 2.6;
     },
     S_OK, 3},
    {"R4",
     [](VARIANT &v) {
         V_VT(&v) = VT_R4;
         V_R4(&v) = 11.0f;
     },
     S_OK, 11},
    {"BSTR number",
     [](VARIANT &v) {
         V_VT(&v) = VT_BSTR;
         V_BSTR(&v) = SysAllocString(u"5");
     },
     S_OK, 5},
    {"BSTR text",
     [](VARIANT &v) {
         V_VT(&v) = VT_BSTR;
         V_BSTR(&v) = SysAllocString(u"fast");
     },
     DISP_E_TYPEMISMATCH, 15},
    {"R8 overflow",
     [](VARIANT &v) {
         V_VT(&v) = VT_R8;
         V_R8(&v) = 1e12;
     },
     DISP_E_TYPEMISMATCH, 15},
    {"BOOL true is -1",
     [](VARIANT &v) {
         V_VT(&v) = VT_BOOL;
         V_BOOL(&v) = VARIANT_TRUE;
     },
     E_INVALIDARG, 15},
    {"I4 by reference",
     [](VARIANT &v) {
         V_VT(&v) = VT_I4 | VT_BYREF;
         V_I4REF(&v) = &g_referencedLong;
     },
     DISP_E_TYPEMISMATCH, 15},
    {"VARIANT by reference",
     [](VARIANT &v) {
         V_VT(&g_referenced) = VT_I4;
         V_I4(&g_referenced) = 9;
         V_VT(&v) = VT_VARIANT | VT_BYREF;
         V_VARIANTREF(&v) = &g_referenced;
     },
     S_OK, 9},
    {"VARIANT by reference to R8",
     [](VARIANT &v) {
         V_VT(&g_referenced) = VT_R8;
         V_R8(&g_referenced) = 12.2;
         V_VT(&v) = VT_VARIANT | VT_BYREF;
         V_VARIANTREF(&v) = &g_referenced;
     },
     S_OK, 12},
    {"VARIANT by reference to I4 by reference",
     [](VARIANT &v) {
         V_VT(&g_referenced) = VT_I4 | VT_BYREF;
         V_I4REF(&g_referenced) = &g_referencedLong;
         V_VT(&v) = VT_VARIANT | VT_BYREF;
         V_VARIANTREF(&v) = &g_referenced;
     },
     DISP_E_TYPEMISMATCH, 15},
    {"null VARIANT reference",
     [](VARIANT &v) {
         V_VT(&v) = VT_VARIANT | VT_BYREF;
         V_VARIANTREF(&v) = nullptr;
     },
     DISP_E_TYPEMISMATCH, 15},
};

TEST(ComponentConversion, ArgumentsAreConvertedToTheParameterType)
{
    for (const ConversionCase &c : kConversions) {
        SCOPED_TRACE(c.what);
        auto tts = MakeTts();
        VARIANT v;
        VariantInit(&v);
        c.make(v);
        Args args;
        args.Var(v); // Args frees it (by-reference values are not owned)
        const InvokeResult r = Call(tts, kFrameRate, DISPATCH_PROPERTYPUT, args);
        EXPECT_EQ(r.hr, c.expected);
        if (c.expected == DISP_E_TYPEMISMATCH) {
            EXPECT_EQ(r.argErr, 0u);
        }
        EXPECT_EQ(ReadLong(tts, kFrameRate), c.stored);
    }
}

TEST(ComponentConversion, ArgErrNamesTheFailingRgvargIndex)
{
    auto tts = MakeTts();
    // Speak(strText, nFlag): rgvarg[1] is strText, rgvarg[0] is nFlag.
    {
        BSTR text = SysAllocString(u"Hi");
        VARIANT byRefString;
        V_VT(&byRefString) = VT_BSTR | VT_BYREF;
        V_BSTRREF(&byRefString) = &text;
        Args args;
        args.Var(byRefString).Long(0);
        const InvokeResult r = Call(tts, 6, DISPATCH_METHOD, args);
        EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
        EXPECT_EQ(r.argErr, 1u);
        SysFreeString(text);
    }
    {
        Args args;
        args.Str(u"Hi").Str(u"loud");
        const InvokeResult r = Call(tts, 6, DISPATCH_METHOD, args);
        EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
        EXPECT_EQ(r.argErr, 0u);
    }
    // SpeakToFile(strText, strFile, nFlag): strFile is rgvarg[1].
    {
        BSTR file = SysAllocString(u"f.wav");
        VARIANT byRef;
        V_VT(&byRef) = VT_BSTR | VT_BYREF;
        V_BSTRREF(&byRef) = &file;
        Args args;
        args.Str(u"Hi").Var(byRef).Str(u"zero");
        const InvokeResult r = Call(tts, 7, DISPATCH_METHOD, args);
        EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
        EXPECT_EQ(r.argErr, 1u); // the first failure, in parameter order
        SysFreeString(file);
    }
    // Mp3ToSWF's bLoop is a VARIANT_BOOL.
    {
        Args args;
        args.Str(u"a.mp3").Str(u"b.swf").Str(u"maybe");
        const InvokeResult r = Call(tts, 20, DISPATCH_METHOD, args);
        EXPECT_EQ(r.hr, DISP_E_TYPEMISMATCH);
        EXPECT_EQ(r.argErr, 0u);
    }
    // Without puArgErr the failure is still reported.
    {
        Args args;
        args.Str(u"fast");
        DISPPARAMS params{args.Reversed(), nullptr, 1, 0};
        EXPECT_EQ(tts->Invoke(kFrameRate, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr),
                  DISP_E_TYPEMISMATCH);
    }
}

TEST(ComponentConversion, StringArgumentsReachTheMemberByValueAndByVariantReference)
{
    auto tts = MakeTts();
    // A number converts to the text of strText; with no voice Speak then fails on the voice, not the argument.
    Args number;
    number.Long(5).Long(0);
    EXPECT_EQ(Call(tts, 6, DISPATCH_METHOD, number).hr, E_FAIL);

    VARIANT inner;
    V_VT(&inner) = VT_BSTR;
    V_BSTR(&inner) = SysAllocString(u"Hello");
    VARIANT ref;
    V_VT(&ref) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&ref) = &inner;
    Args byRef;
    byRef.Var(ref).Long(0);
    EXPECT_EQ(Call(tts, 6, DISPATCH_METHOD, byRef).hr, E_FAIL);
    // The caller's string is left alone.
    EXPECT_EQ(ToU16(V_BSTR(&inner)), u"Hello");
    VariantClear(&inner);
}

TEST(ComponentConversion, FileFormatAndWaveFormatIdxAcceptConvertedValues)
{
    auto tts = MakeTts();
    VARIANT v;
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(u"4");
    Args format;
    format.Var(v);
    EXPECT_EQ(Put(tts, 17, format), S_OK);
    EXPECT_EQ(ReadLong(tts, 17), FF_VOX);
    EXPECT_EQ(ReadLong(tts, 14), 10);
    Args idx;
    VARIANT r8;
    V_VT(&r8) = VT_R8;
    V_R8(&r8) = 8.9;
    idx.Var(r8);
    EXPECT_EQ(Put(tts, 15, idx), S_OK);
    EXPECT_EQ(ReadLong(tts, 15), 9);
    CVariant name;
    EXPECT_EQ(Get(tts, 16, name), S_OK);
    EXPECT_EQ(ToU16(V_BSTR(name.Get())), u"768kBPS, 48kHz, Mono");
}

} // namespace

// The espeak-ng voices as voice tokens, and the engine a token names.
#include "Engine.h"
#include "EspeakEngine.h"
#include "Tokens.h"

#include <orafon/Holders.h>
#include <orafon/win/objbase.h>
#include <orafon/win/winbase.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace orafon::sapi5 {

namespace {

// Language tags with a LANGID of their own region; the rest take the
// primary language's default.
struct RegionalLanguage {
    const char *tag;
    LANGID id;
};
constexpr RegionalLanguage kRegional[] = {
    {"en", 0x0809},
    {"en-gb", 0x0809},
    {"en-us", 0x0409},
    {"en-029", 0x2409},
    {"en-gb-scotland", 0x0809},
    {"en-gb-x-gbclan", 0x0809},
    {"en-gb-x-gbcwmd", 0x0809},
    {"en-gb-x-rp", 0x0809},
    {"en-us-nyc", 0x0409},
    {"pt", 0x0816},
    {"pt-br", 0x0416},
    {"pt-pt", 0x0816},
    {"es", 0x0C0A},
    {"es-419", 0x580A},
    {"fr", 0x040C},
    {"fr-fr", 0x040C},
    {"fr-be", 0x080C},
    {"fr-ch", 0x100C},
    {"cmn", 0x0804},
    {"cmn-latn-pinyin", 0x0804},
    {"yue", 0x0C04},
    {"hak", 0x0804},
    {"zh", 0x0804},
    {"de", 0x0407},
    {"nl", 0x0413},
    {"sr", 0x241A},
    {"bs", 0x141A},
    {"hr", 0x041A},
    {"vi-vn-x-central", 0x042A},
    {"vi-vn-x-south", 0x042A},
    {"sv", 0x041D},
    {"it", 0x0410},
    {"nb", 0x0414},
    {"no", 0x0414},
};

// Primary language subtags and their Windows primary language ids.
struct PrimaryLanguage {
    const char *tag;
    WORD primary;
};
constexpr PrimaryLanguage kPrimary[] = {
    {"af", 0x36},  {"am", 0x5E},  {"ar", 0x01},  {"as", 0x4D},  {"az", 0x2C}, {"ba", 0x6D}, {"be", 0x23}, {"bg", 0x02},
    {"bn", 0x45},  {"bs", 0x1A},  {"ca", 0x03},  {"chr", 0x5C}, {"cs", 0x05}, {"cy", 0x52}, {"da", 0x06}, {"de", 0x07},
    {"el", 0x08},  {"en", 0x09},  {"es", 0x0A},  {"et", 0x25},  {"eu", 0x2D}, {"fa", 0x29}, {"fi", 0x0B}, {"fo", 0x38},
    {"fr", 0x0C},  {"fy", 0x62},  {"ga", 0x3C},  {"gd", 0x91},  {"gl", 0x56}, {"gn", 0x74}, {"gu", 0x47}, {"ha", 0x68},
    {"haw", 0x75}, {"he", 0x0D},  {"hi", 0x39},  {"hr", 0x1A},  {"hu", 0x0E}, {"hy", 0x2B}, {"id", 0x21}, {"ig", 0x70},
    {"is", 0x0F},  {"it", 0x10},  {"ja", 0x11},  {"ka", 0x37},  {"kk", 0x3F}, {"kl", 0x6F}, {"km", 0x53}, {"kn", 0x4B},
    {"ko", 0x12},  {"kok", 0x57}, {"ku", 0x92},  {"ky", 0x40},  {"lb", 0x6E}, {"lo", 0x54}, {"lt", 0x27}, {"lv", 0x26},
    {"mi", 0x81},  {"mk", 0x2F},  {"ml", 0x4C},  {"mn", 0x50},  {"mr", 0x4E}, {"ms", 0x3E}, {"mt", 0x3A}, {"my", 0x55},
    {"nb", 0x14},  {"ne", 0x61},  {"nl", 0x13},  {"nn", 0x14},  {"no", 0x14}, {"om", 0x72}, {"or", 0x48}, {"pa", 0x46},
    {"pl", 0x15},  {"ps", 0x63},  {"pt", 0x16},  {"qu", 0x6B},  {"ro", 0x18}, {"ru", 0x19}, {"sa", 0x4F}, {"sd", 0x59},
    {"si", 0x5B},  {"sk", 0x1B},  {"sl", 0x24},  {"so", 0x77},  {"sq", 0x1C}, {"sr", 0x1A}, {"sv", 0x1D}, {"sw", 0x41},
    {"ta", 0x49},  {"te", 0x4A},  {"th", 0x1E},  {"ti", 0x73},  {"tk", 0x42}, {"tn", 0x32}, {"tr", 0x1F}, {"tt", 0x44},
    {"ug", 0x80},  {"uk", 0x22},  {"ur", 0x20},  {"uz", 0x43},  {"vi", 0x2A}, {"xh", 0x34}, {"yo", 0x6A}, {"zh", 0x04},
    {"zu", 0x35},  {"cmn", 0x04}, {"yue", 0x04}, {"hak", 0x04},
};

// LOCALE_CUSTOM_UNSPECIFIED: a language without a Windows id (Esperanto, Lojban...).
constexpr LANGID kCustomLanguage = 0x1000;

std::string LowerAscii(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return s;
}

LANGID LanguageIdForTag(const std::string &tagIn)
{
    const std::string tag = LowerAscii(tagIn);
    for (const auto &r : kRegional)
        if (tag == r.tag)
            return r.id;
    const std::string primary = tag.substr(0, tag.find('-'));
    for (const auto &p : kPrimary)
        if (primary == p.tag)
            return MAKELANGID(p.primary, SUBLANG_DEFAULT);
    return kCustomLanguage;
}

// espeak-ng's names are UTF-8 ("Bokm\u00e5l", "M\u0101ori"); a byte that
// is not part of a UTF-8 sequence is taken as Latin-1 rather than lost.
std::u16string Widen(const std::string &s)
{
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const unsigned char lead = static_cast<unsigned char>(s[i]);
        const size_t length = lead < 0x80             ? 1
                              : (lead & 0xE0) == 0xC0 ? 2
                              : (lead & 0xF0) == 0xE0 ? 3
                              : (lead & 0xF8) == 0xF0 ? 4
                                                      : 0;
        char32_t code = length <= 1 ? lead : lead & (0x7F >> length);
        bool valid = length >= 1 && i + length <= s.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(s[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            out.push_back(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

// Identifiers are ASCII; anything else is kept as UTF-8 rather than cut to a byte.
void AppendUtf8(std::string &out, char16_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::u16string DisplayName(const EspeakVoiceInfo &v)
{
    std::string name = v.name;
    for (char &c : name)
        if (c == '_')
            c = ' ';
    return u"eSpeak NG " + Widen(name);
}

std::u16string TokenKeyName(const EspeakVoiceInfo &v)
{
    std::string id = v.identifier;
    for (char &c : id)
        if (c == '/' || c == '\\')
            c = '.';
    return u"eSpeakNG." + Widen(id);
}

std::u16string Hex(unsigned v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", v);
    return Widen(buf);
}

void SetString(HKEY key, const char16_t *name, const std::u16string &value)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
}

const char16_t *GenderName(int gender)
{
    switch (gender) {
    case 1:
        return u"Male";
    case 2:
        return u"Female";
    default:
        return u"Neutral";
    }
}

void WriteVoiceToken(HKEY tokens, const EspeakVoiceInfo &v, const std::u16string &engineClsid)
{
    // Rewritten whole when the voice set changed, so that a token an earlier
    // build wrote with wrong text is mended.
    RegKey key;
    if (RegCreateKeyExW(tokens, TokenKeyName(v).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr) !=
        ERROR_SUCCESS)
        return;
    const std::u16string display = DisplayName(v);
    const std::u16string language = Hex(LanguageIdForTag(v.language));
    SetString(key.Get(), u"", display);
    SetString(key.Get(), u"409", display); // the names are English
    SetString(key.Get(), u"CLSID", engineClsid);
    RegKey attributes;
    if (RegCreateKeyExW(key.Get(), u"Attributes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, attributes.Out(), nullptr) ==
        ERROR_SUCCESS) {
        SetString(attributes.Get(), u"Name", display);
        SetString(attributes.Get(), u"Gender", GenderName(v.gender));
        SetString(attributes.Get(), u"Language", language);
        SetString(attributes.Get(), u"Vendor", u"eSpeak NG");
        SetString(attributes.Get(), u"Age", v.age > 0 && v.age < 18 ? u"Child" : u"Adult");
    }
    // Written last: its presence marks a complete token.
    SetString(key.Get(), u"VoiceId", Widen(v.identifier));
}

} // namespace

namespace {

// Names the installed voice set, so that a registry already holding exactly
// these voices is left alone.
std::u16string VoiceSetSignature(const std::vector<EspeakVoiceInfo> &voices)
{
    uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (const auto &v : voices) {
        for (char c : v.identifier + "|" + v.name + "|" + v.language + ";") {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ull;
        }
    }
    char buf[40];
    // "2:" since voice names are stored as UTF-16 from UTF-8; a registry of an
    // earlier build differs and is rewritten.
    std::snprintf(buf, sizeof buf, "2:%zu:%016llx", voices.size(), static_cast<unsigned long long>(hash));
    return Widen(buf);
}

// Tokens of espeak-ng voices that are no longer installed would select
// nothing; they go.
void RemoveStaleTokens(HKEY tokens, const std::vector<EspeakVoiceInfo> &voices)
{
    std::vector<std::u16string> current;
    for (const auto &v : voices)
        current.push_back(TokenKeyName(v));
    std::vector<std::u16string> stale;
    for (DWORD i = 0;; ++i) {
        char16_t name[256];
        DWORD cch = 256;
        if (RegEnumKeyExW(tokens, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::u16string key(name, cch);
        if (key.rfind(u"eSpeakNG.", 0) == 0 && std::find(current.begin(), current.end(), key) == current.end())
            stale.push_back(key);
    }
    for (const auto &key : stale)
        RegDeleteTreeW(tokens, key.c_str());
}

constexpr char16_t kSignatureValue[] = u"OrafonEspeakVoices";

} // namespace

void EnsureEspeakVoicesRegistered()
{
    static std::once_flag once;
    std::call_once(once, [] {
        RegKey tokens;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVoiceTokensKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, tokens.Out(),
                            nullptr) != ERROR_SUCCESS)
            return;
        const std::vector<EspeakVoiceInfo> voices = ListEspeakVoices();
        if (voices.empty())
            return;
        const std::u16string signature = VoiceSetSignature(voices);
        std::u16string registered;
        if (SUCCEEDED(ReadString(tokens.Get(), kSignatureValue, registered)) && registered == signature)
            return;
        OLECHAR clsid[40] = {};
        StringFromGUID2(CLSID_OrafonEspeakEngine, clsid, 40);
        for (const auto &v : voices)
            WriteVoiceToken(tokens.Get(), v, clsid);
        RemoveStaleTokens(tokens.Get(), voices);
        SetString(tokens.Get(), kSignatureValue, signature);
    });
}

namespace {

struct EngineClasses {
    struct Entry {
        CLSID clsid;
        EngineFactory factory;
    };
    std::mutex mutex;
    std::vector<Entry> entries;
};

EngineClasses &TheEngineClasses()
{
    // Never destroyed: a voice may look an engine up while the process exits.
    static EngineClasses *classes = new EngineClasses;
    return *classes;
}

EngineFactory FindEngineClass(REFCLSID clsid)
{
    EngineClasses &classes = TheEngineClasses();
    std::lock_guard lock(classes.mutex);
    for (const auto &entry : classes.entries)
        if (IsEqualCLSID(entry.clsid, clsid))
            return entry.factory;
    return nullptr;
}

} // namespace

[[nodiscard]] HRESULT CreateEngineForToken(ISpObjectToken *token, std::shared_ptr<TtsEngine> &engine)
{
    engine.reset();
    if (!token)
        return E_INVALIDARG;
    orafon::CComHeapPtr<WCHAR> text;
    HRESULT hr = token->GetStringValue(u"CLSID", text.Out());
    if (FAILED(hr))
        return hr;
    CLSID clsid{};
    hr = CLSIDFromString(text.Get(), &clsid);
    if (FAILED(hr))
        return REGDB_E_CLASSNOTREG;
    if (IsEqualCLSID(clsid, CLSID_OrafonEspeakEngine)) {
        orafon::CComHeapPtr<WCHAR> id;
        hr = token->GetStringValue(u"VoiceId", id.Out());
        if (FAILED(hr))
            return hr;
        std::string voice;
        for (const char16_t *p = id.Get(); *p; ++p)
            AppendUtf8(voice, *p);
        engine = CreateEspeakEngine(voice);
        return S_OK;
    }
    const EngineFactory factory = FindEngineClass(clsid);
    return factory ? factory(token, engine) : REGDB_E_CLASSNOTREG;
}

[[nodiscard]] HRESULT RegisterEngineClass(REFCLSID clsid, EngineFactory factory)
{
    if (!factory || IsEqualCLSID(clsid, CLSID_OrafonEspeakEngine))
        return E_INVALIDARG;
    EngineClasses &classes = TheEngineClasses();
    std::lock_guard lock(classes.mutex);
    for (auto &entry : classes.entries) {
        if (IsEqualCLSID(entry.clsid, clsid)) {
            entry.factory = factory;
            return S_OK;
        }
    }
    classes.entries.push_back({clsid, factory});
    return S_OK;
}

} // namespace orafon::sapi5

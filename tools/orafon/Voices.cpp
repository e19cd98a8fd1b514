#include "Voices.h"

#include "Commands.h"
#include "Messages.h"
#include "Text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace orafon_cli {

namespace {

// Language ids with a region of their own.
struct RegionTag {
    unsigned id;
    const char *tag;
};
constexpr RegionTag kRegionTags[] = {
    {0x0409, "en-US"}, {0x0809, "en-GB"}, {0x0C09, "en-AU"},  {0x1009, "en-CA"},      {0x1409, "en-NZ"},
    {0x1809, "en-IE"}, {0x1C09, "en-ZA"}, {0x2409, "en-029"}, {0x4009, "en-IN"},      {0x0416, "pt-BR"},
    {0x0816, "pt-PT"}, {0x0C0A, "es-ES"}, {0x080A, "es-MX"},  {0x2C0A, "es-AR"},      {0x580A, "es-419"},
    {0x040C, "fr-FR"}, {0x080C, "fr-BE"}, {0x0C0C, "fr-CA"},  {0x100C, "fr-CH"},      {0x0407, "de-DE"},
    {0x0C07, "de-AT"}, {0x0807, "de-CH"}, {0x0804, "zh-CN"},  {0x0404, "zh-TW"},      {0x0C04, "zh-HK"},
    {0x0413, "nl-NL"}, {0x0813, "nl-BE"}, {0x0410, "it-IT"},  {0x0810, "it-CH"},      {0x041D, "sv-SE"},
    {0x0414, "nb-NO"}, {0x0814, "nn-NO"}, {0x041A, "hr-HR"},  {0x241A, "sr-Latn-RS"}, {0x141A, "bs-Latn-BA"},
    {0x042A, "vi-VN"}, {0x0419, "ru-RU"}, {0x0415, "pl-PL"},  {0x0405, "cs-CZ"},      {0x040B, "fi-FI"},
    {0x0406, "da-DK"}, {0x040E, "hu-HU"}, {0x041F, "tr-TR"},  {0x0408, "el-GR"},      {0x0411, "ja-JP"},
    {0x0412, "ko-KR"}, {0x0418, "ro-RO"}, {0x0422, "uk-UA"},  {0x0439, "hi-IN"},      {0x0401, "ar-SA"},
};

// Primary language ids and their subtags, for the other sublanguages.
struct PrimaryTag {
    unsigned primary;
    const char *tag;
};
constexpr PrimaryTag kPrimaryTags[] = {
    {0x36, "af"},  {0x5E, "am"}, {0x01, "ar"},  {0x4D, "as"}, {0x2C, "az"}, {0x6D, "ba"}, {0x23, "be"}, {0x02, "bg"},
    {0x45, "bn"},  {0x03, "ca"}, {0x5C, "chr"}, {0x05, "cs"}, {0x52, "cy"}, {0x06, "da"}, {0x07, "de"}, {0x08, "el"},
    {0x09, "en"},  {0x0A, "es"}, {0x25, "et"},  {0x2D, "eu"}, {0x29, "fa"}, {0x0B, "fi"}, {0x38, "fo"}, {0x0C, "fr"},
    {0x62, "fy"},  {0x3C, "ga"}, {0x91, "gd"},  {0x56, "gl"}, {0x74, "gn"}, {0x47, "gu"}, {0x68, "ha"}, {0x75, "haw"},
    {0x0D, "he"},  {0x39, "hi"}, {0x1A, "hr"},  {0x0E, "hu"}, {0x2B, "hy"}, {0x21, "id"}, {0x70, "ig"}, {0x0F, "is"},
    {0x10, "it"},  {0x11, "ja"}, {0x37, "ka"},  {0x3F, "kk"}, {0x6F, "kl"}, {0x53, "km"}, {0x4B, "kn"}, {0x12, "ko"},
    {0x57, "kok"}, {0x92, "ku"}, {0x40, "ky"},  {0x6E, "lb"}, {0x54, "lo"}, {0x27, "lt"}, {0x26, "lv"}, {0x81, "mi"},
    {0x2F, "mk"},  {0x4C, "ml"}, {0x50, "mn"},  {0x4E, "mr"}, {0x3E, "ms"}, {0x3A, "mt"}, {0x55, "my"}, {0x14, "nb"},
    {0x61, "ne"},  {0x13, "nl"}, {0x72, "om"},  {0x48, "or"}, {0x46, "pa"}, {0x15, "pl"}, {0x63, "ps"}, {0x16, "pt"},
    {0x6B, "qu"},  {0x18, "ro"}, {0x19, "ru"},  {0x4F, "sa"}, {0x59, "sd"}, {0x5B, "si"}, {0x1B, "sk"}, {0x24, "sl"},
    {0x77, "so"},  {0x1C, "sq"}, {0x1D, "sv"},  {0x41, "sw"}, {0x49, "ta"}, {0x4A, "te"}, {0x1E, "th"}, {0x73, "ti"},
    {0x42, "tk"},  {0x32, "tn"}, {0x1F, "tr"},  {0x44, "tt"}, {0x80, "ug"}, {0x22, "uk"}, {0x20, "ur"}, {0x43, "uz"},
    {0x2A, "vi"},  {0x34, "xh"}, {0x6A, "yo"},  {0x04, "zh"}, {0x35, "zu"},
};

[[nodiscard]] std::string Lower(std::string text)
{
    for (char &c : text)
        c = (char)std::tolower((unsigned char)c);
    return text;
}

[[nodiscard]] bool ContainsNoCase(const std::string &text, const std::string &part)
{
    return Lower(text).find(Lower(part)) != std::string::npos;
}

// Letters, digits and hyphens, starting with two or three letters: "en", "en-GB", "es-419".
[[nodiscard]] bool LooksLikeTag(const std::string &text)
{
    size_t letters = 0;
    while (letters < text.size() && std::isalpha((unsigned char)text[letters]))
        ++letters;
    if (letters < 2 || letters > 3)
        return false;
    if (letters == text.size())
        return true;
    if (text[letters] != '-' || letters + 1 == text.size())
        return false;
    return std::all_of(text.begin() + (long)letters, text.end(),
                       [](char c) { return c == '-' || std::isalnum((unsigned char)c); });
}

struct VoiceEntry {
    LONG index;
    std::string name, gender, language, tag;
    bool firstGeneration;
    bool available;
};

[[nodiscard]] std::vector<VoiceEntry> ReadVoices(DispatchObject &tts, LONG count)
{
    LONG current = -1; // nothing to restore when it cannot be read
    static_cast<void>(tts.GetLong(u"VoiceIdx", current));
    std::vector<VoiceEntry> voices;
    for (LONG i = 0; i < count; ++i) {
        VoiceEntry voice{i, {}, {}, {}, {}, false, false};
        if (FAILED(tts.PutLong(u"VoiceIdx", i))) {
            CVariant index(i), name;
            // A name that cannot be read stays empty in the list.
            static_cast<void>(tts.Call(u"GetVoiceName", {&index}, &name));
            voice.name = VariantToUtf8(*name.Get());
            voices.push_back(voice);
            continue;
        }
        LONG generation = 0;
        // A field that cannot be read stays empty in the list.
        static_cast<void>(tts.GetText(u"VoiceName", voice.name));
        static_cast<void>(tts.GetText(u"VoiceGender", voice.gender));
        static_cast<void>(tts.GetText(u"VoiceLanguage", voice.language));
        static_cast<void>(tts.GetLong(u"SAPIVersion", generation));
        voice.firstGeneration = generation == 0;
        voice.tag = LanguageTagOf(voice.language);
        voice.available = true;
        voices.push_back(voice);
    }
    // The listing is the command's result; the object is not used after it.
    if (current >= 0)
        static_cast<void>(tts.PutLong(u"VoiceIdx", current));
    return voices;
}

// The first voice whose tag is wanted, or else the first whose tag starts with
// it as a whole subtag ("en" finds "en-US").
[[nodiscard]] LONG FindByTag(const std::vector<VoiceEntry> &voices, const std::string &wanted)
{
    const std::string tag = Lower(wanted);
    for (const VoiceEntry &v : voices)
        if (v.available && Lower(v.tag) == tag)
            return v.index;
    for (const VoiceEntry &v : voices)
        if (v.available && Lower(v.tag).rfind(tag + "-", 0) == 0)
            return v.index;
    return -1;
}

[[nodiscard]] std::string PadTo(const std::string &text, size_t width)
{
    const size_t used = DisplayWidth(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}

} // namespace

[[nodiscard]] std::string LanguageTagOf(const std::string &componentLanguage)
{
    unsigned long id = 0;
    char *end = nullptr;
    if (componentLanguage.rfind("Lang:", 0) == 0)
        id = std::strtoul(componentLanguage.c_str() + 5, &end, 10);
    else
        id = std::strtoul(componentLanguage.c_str(), &end, 16);
    if (!end || *end != '\0' || componentLanguage.empty() || id == 0 || id > 0xFFFF)
        return {};
    for (const RegionTag &r : kRegionTags)
        if (r.id == id)
            return r.tag;
    for (const PrimaryTag &p : kPrimaryTags)
        if (p.primary == (id & 0x3FF))
            return p.tag;
    return {};
}

size_t DisplayWidth(const std::string &utf8)
{
    size_t width = 0;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char lead = (unsigned char)utf8[i];
        size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        length = std::min(length, utf8.size() - i);
        char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (size_t k = 1; k < length; ++k)
            code = (code << 6) | ((unsigned char)utf8[i + k] & 0x3F);
        i += length;
        if (code >= 0x300 && code <= 0x36F)
            continue; // combining marks sit on the letter before them
        const bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                          (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                          (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                          (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}

VoiceChoice FindVoice(DispatchObject &tts, const std::string &wanted)
{
    VoiceChoice choice;
    LONG count = 0;
    if (FAILED(tts.GetLong(u"VoiceCount", count)) || count == 0) {
        choice.problem = "no voice is installed";
        return choice;
    }
    char *end = nullptr;
    const long number = std::strtol(wanted.c_str(), &end, 10);
    if (!wanted.empty() && end && *end == '\0') {
        if (number < 0 || number >= count)
            choice.problem = "--voice " + wanted + " is out of range: the voices are 0.." + std::to_string(count - 1);
        else
            choice.index = (LONG)number;
        return choice;
    }
    if (wanted.empty()) {
        choice.problem = "--voice needs an index, a name or a language";
        return choice;
    }
    const std::vector<VoiceEntry> voices = ReadVoices(tts, count);
    for (const VoiceEntry &v : voices) {
        if (EqualsNoCase(v.name, wanted)) {
            choice.index = v.index;
            return choice;
        }
    }
    if (LooksLikeTag(wanted)) {
        choice.index = FindByTag(voices, wanted);
        if (choice.index >= 0)
            return choice;
    }
    std::vector<const VoiceEntry *> matches;
    for (const VoiceEntry &v : voices)
        if (ContainsNoCase(v.name, wanted))
            matches.push_back(&v);
    if (matches.size() == 1) {
        choice.index = matches[0]->index;
    } else if (matches.empty()) {
        choice.problem =
            "no such voice: " + wanted + " (give an index, a name or a language such as en-GB; see 'orafon voices')";
    } else {
        choice.problem = "several voices match '" + wanted + "':";
        for (size_t i = 0; i < matches.size() && i < 8; ++i)
            choice.problem += (i ? ", " : " ") + matches[i]->name;
        if (matches.size() > 8)
            choice.problem += ", ...";
        choice.problem += "; give more of the name or the index";
    }
    return choice;
}

[[nodiscard]] int ListVoices(DispatchObject &tts)
{
    LONG count = 0;
    HRESULT hr = tts.GetLong(u"VoiceCount", count);
    if (FAILED(hr)) {
        std::fprintf(stderr, "orafon: %s\n", DescribeFailure(Activity::Voices, hr).c_str());
        return kExitFailure;
    }
    const std::vector<VoiceEntry> voices = ReadVoices(tts, count);
    size_t nameWidth = 4, genderWidth = 6, languageWidth = 8;
    for (const VoiceEntry &v : voices) {
        nameWidth = std::max(nameWidth, DisplayWidth(v.name));
        genderWidth = std::max(genderWidth, DisplayWidth(v.gender));
        languageWidth = std::max(languageWidth, DisplayWidth(v.language));
    }
    const size_t tagWidth = 10;
    std::printf("%5s  %s  %s  %s  %s  %s\n", "index", PadTo("name", nameWidth).c_str(),
                PadTo("gender", genderWidth).c_str(), PadTo("language", languageWidth).c_str(),
                PadTo("tag", tagWidth).c_str(), "engine");
    for (const VoiceEntry &v : voices) {
        const char *engine = !v.available ? "unavailable" : v.firstGeneration ? "SAPI 5" : "SAPI 4";
        std::printf("%5d  %s  %s  %s  %s  %s\n", v.index, PadTo(v.name, nameWidth).c_str(),
                    PadTo(v.available ? v.gender : "?", genderWidth).c_str(),
                    PadTo(v.available ? v.language : "?", languageWidth).c_str(),
                    PadTo(v.tag.empty() ? "-" : v.tag, tagWidth).c_str(), engine);
    }
    return kExitOk;
}

} // namespace orafon_cli

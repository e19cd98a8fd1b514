#include "Markup.h"

#include <algorithm>
#include <optional>

namespace orafon::sapi5 {

namespace {

[[nodiscard]] bool IsBlank(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

[[nodiscard]] bool IsNameStart(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c == u':';
}

[[nodiscard]] bool IsNameChar(char16_t c)
{
    return IsNameStart(c) || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.';
}

char16_t Lower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

[[nodiscard]] bool EqualsNoCase(const std::u16string &a, const char16_t *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return i == a.size() && !b[i];
}

[[nodiscard]] std::optional<int> ParseInt(const std::u16string &s)
{
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+'))
        negative = s[i++] == u'-';
    if (i >= s.size() || s[i] < u'0' || s[i] > u'9')
        return std::nullopt;
    long long v = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i)
        v = std::min<long long>(v * 10 + (s[i] - u'0'), 1000000000);
    while (i < s.size() && IsBlank(s[i]))
        ++i;
    if (i != s.size())
        return std::nullopt;
    return static_cast<int>(negative ? -v : v);
}

void AppendCodePoint(std::u16string &out, uint32_t cp)
{
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}

struct Attribute {
    std::u16string name;
    std::u16string value;
};

struct Tag {
    enum class Kind { Start, End, Empty, Skip } kind = Kind::Skip;
    std::u16string name;
    std::vector<Attribute> attributes;
    uint32_t position = 0;

    const std::u16string *Find(const char16_t *attribute) const
    {
        for (const auto &a : attributes)
            if (EqualsNoCase(a.name, attribute))
                return &a.value;
        return nullptr;
    }
};

// A tag's effect on the prosody; tags the voice does not know have none.
class TagAction {
public:
    virtual ~TagAction() = default;
    virtual void Apply(const Tag &tag, Prosody &prosody) const = 0;
};

class PitchAction final : public TagAction {
public:
    void Apply(const Tag &tag, Prosody &p) const override
    {
        if (const auto *v = tag.Find(u"absmiddle"); v && ParseInt(*v))
            p.pitch = std::clamp(*ParseInt(*v), -10, 10);
        if (const auto *v = tag.Find(u"middle"); v && ParseInt(*v))
            p.pitch = std::clamp(p.pitch + *ParseInt(*v), -10, 10);
    }
};

class RateAction final : public TagAction {
public:
    void Apply(const Tag &tag, Prosody &p) const override
    {
        if (const auto *v = tag.Find(u"absspeed"); v && ParseInt(*v))
            p.rate = std::clamp(*ParseInt(*v), -10, 10);
        if (const auto *v = tag.Find(u"speed"); v && ParseInt(*v))
            p.rate = std::clamp(p.rate + *ParseInt(*v), -10, 10);
    }
};

class VolumeAction final : public TagAction {
public:
    void Apply(const Tag &tag, Prosody &p) const override
    {
        if (const auto *v = tag.Find(u"level"); v && ParseInt(*v))
            p.volume = std::clamp(*ParseInt(*v), 0, 100);
    }
};

const TagAction *ProsodyActionFor(const std::u16string &name)
{
    static const PitchAction pitch;
    static const RateAction rate;
    static const VolumeAction volume;
    if (EqualsNoCase(name, u"pitch"))
        return &pitch;
    if (EqualsNoCase(name, u"rate"))
        return &rate;
    if (EqualsNoCase(name, u"volume"))
        return &volume;
    return nullptr;
}

class Parser {
public:
    Parser(const char16_t *text, size_t length, std::vector<SpeechItem> &items) : s_(text), n_(length), items_(items) {}

    [[nodiscard]] HRESULT Run()
    {
        while (i_ < n_) {
            if (s_[i_] == u'<') {
                Tag tag;
                if (!ReadTag(tag) || !Handle(tag))
                    return SPERR_XML_BAD_SYNTAX;
            } else if (s_[i_] == u'&') {
                if (!ReadEntity())
                    return SPERR_XML_BAD_SYNTAX;
            } else {
                Put(s_[i_], static_cast<uint32_t>(i_), static_cast<uint32_t>(i_ + 1));
                ++i_;
            }
        }
        if (!open_.empty())
            return SPERR_XML_BAD_SYNTAX;
        Flush();
        return S_OK;
    }

private:
    void Put(char16_t c, uint32_t begin, uint32_t end)
    {
        run_.text.push_back(c);
        run_.begin.push_back(begin);
        run_.end.push_back(end);
    }

    // Ends the current run; a run of blanks only is not worth the engine's time.
    void Flush()
    {
        const bool blank = std::all_of(run_.text.begin(), run_.text.end(), IsBlank);
        if (!blank) {
            run_.prosody = prosody_;
            SpeechItem item;
            item.kind = SpeechItem::Kind::Text;
            item.run = std::move(run_);
            items_.push_back(std::move(item));
        }
        run_ = TextRun{};
    }

    void SetProsody(const Prosody &p)
    {
        if (p == prosody_)
            return;
        Flush();
        prosody_ = p;
    }

    [[nodiscard]] bool Handle(const Tag &tag)
    {
        switch (tag.kind) {
        case Tag::Kind::Skip:
            return true;
        case Tag::Kind::End:
            if (open_.empty() || !EqualsNoCase(open_.back().name, tag.name.c_str()))
                return false;
            SetProsody(open_.back().saved);
            open_.pop_back();
            return true;
        case Tag::Kind::Start:
            open_.push_back({tag.name, prosody_});
            [[fallthrough]];
        case Tag::Kind::Empty:
            break;
        }
        if (const TagAction *action = ProsodyActionFor(tag.name)) {
            Prosody p = prosody_;
            action->Apply(tag, p);
            SetProsody(p);
        } else if (EqualsNoCase(tag.name, u"silence")) {
            Flush();
            SpeechItem item;
            item.kind = SpeechItem::Kind::Silence;
            const auto *msec = tag.Find(u"msec");
            item.silenceMs =
                static_cast<uint32_t>(std::clamp(msec && ParseInt(*msec) ? *ParseInt(*msec) : 0, 0, 600000));
            items_.push_back(std::move(item));
        } else if (EqualsNoCase(tag.name, u"bookmark")) {
            Flush();
            SpeechItem item;
            item.kind = SpeechItem::Kind::Bookmark;
            if (const auto *mark = tag.Find(u"mark"))
                item.mark = *mark;
            item.markPosition = tag.position;
            items_.push_back(std::move(item));
        }
        return true;
    }

    [[nodiscard]] bool SkipPast(const char16_t *terminator)
    {
        const std::u16string_view t(terminator);
        const std::u16string_view rest(s_ + i_, n_ - i_);
        const size_t at = rest.find(t);
        if (at == std::u16string_view::npos)
            return false;
        i_ += at + t.size();
        return true;
    }

    void SkipBlanks()
    {
        while (i_ < n_ && IsBlank(s_[i_]))
            ++i_;
    }

    [[nodiscard]] bool ReadName(std::u16string &name)
    {
        if (i_ >= n_ || !IsNameStart(s_[i_]))
            return false;
        while (i_ < n_ && IsNameChar(s_[i_]))
            name.push_back(s_[i_++]);
        return true;
    }

    [[nodiscard]] bool ReadTag(Tag &tag)
    {
        tag.position = static_cast<uint32_t>(i_);
        ++i_; // '<'
        if (n_ - i_ >= 3 && s_[i_] == u'!' && s_[i_ + 1] == u'-' && s_[i_ + 2] == u'-') {
            i_ += 3;
            return SkipPast(u"-->");
        }
        if (i_ < n_ && s_[i_] == u'?')
            return SkipPast(u"?>");
        if (i_ < n_ && s_[i_] == u'!')
            return SkipPast(u">");
        if (i_ < n_ && s_[i_] == u'/') {
            ++i_;
            tag.kind = Tag::Kind::End;
            if (!ReadName(tag.name))
                return false;
            SkipBlanks();
            return i_ < n_ && s_[i_++] == u'>';
        }
        tag.kind = Tag::Kind::Start;
        if (!ReadName(tag.name))
            return false;
        while (true) {
            const bool hadBlank = i_ < n_ && IsBlank(s_[i_]);
            SkipBlanks();
            if (i_ >= n_)
                return false;
            if (s_[i_] == u'>') {
                ++i_;
                return true;
            }
            if (s_[i_] == u'/') {
                ++i_;
                tag.kind = Tag::Kind::Empty;
                return i_ < n_ && s_[i_++] == u'>';
            }
            if (!hadBlank)
                return false;
            Attribute a;
            if (!ReadName(a.name))
                return false;
            SkipBlanks();
            if (i_ >= n_ || s_[i_++] != u'=')
                return false;
            SkipBlanks();
            if (!ReadValue(a.value))
                return false;
            tag.attributes.push_back(std::move(a));
        }
    }

    [[nodiscard]] bool ReadValue(std::u16string &value)
    {
        if (i_ >= n_ || (s_[i_] != u'"' && s_[i_] != u'\''))
            return false;
        const char16_t quote = s_[i_++];
        while (i_ < n_ && s_[i_] != quote) {
            if (s_[i_] == u'<')
                return false;
            if (s_[i_] == u'&') {
                uint32_t cp = 0;
                if (!DecodeEntity(cp))
                    return false;
                AppendCodePoint(value, cp);
            } else {
                value.push_back(s_[i_++]);
            }
        }
        if (i_ >= n_)
            return false;
        ++i_;
        return true;
    }

    // Decodes the entity at i_ and moves past it.
    [[nodiscard]] bool DecodeEntity(uint32_t &cp)
    {
        const size_t start = i_;
        const size_t semi = std::u16string_view(s_ + i_, n_ - i_).find(u';');
        if (semi == std::u16string_view::npos || semi > 12)
            return false;
        const std::u16string body(s_ + start + 1, semi - 1);
        i_ = start + semi + 1;
        static const struct {
            const char16_t *name;
            char16_t value;
        } kNamed[] = {{u"lt", u'<'}, {u"gt", u'>'}, {u"amp", u'&'}, {u"quot", u'"'}, {u"apos", u'\''}};
        for (const auto &e : kNamed)
            if (body == e.name) {
                cp = e.value;
                return true;
            }
        if (body.size() < 2 || body[0] != u'#')
            return false;
        const bool hex = body[1] == u'x' || body[1] == u'X';
        size_t k = hex ? 2 : 1;
        if (k >= body.size())
            return false;
        uint32_t v = 0;
        for (; k < body.size(); ++k) {
            const char16_t c = Lower(body[k]);
            uint32_t digit;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (hex && c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else
                return false;
            v = v * (hex ? 16 : 10) + digit;
            if (v > 0x10FFFF)
                return false;
        }
        if (v == 0 || (v >= 0xD800 && v <= 0xDFFF))
            return false;
        cp = v;
        return true;
    }

    [[nodiscard]] bool ReadEntity()
    {
        const uint32_t begin = static_cast<uint32_t>(i_);
        uint32_t cp = 0;
        if (!DecodeEntity(cp))
            return false;
        std::u16string units;
        AppendCodePoint(units, cp);
        for (char16_t u : units)
            Put(u, begin, static_cast<uint32_t>(i_));
        return true;
    }

    struct OpenTag {
        std::u16string name;
        Prosody saved;
    };

    const char16_t *s_;
    size_t n_;
    size_t i_ = 0;
    std::vector<SpeechItem> &items_;
    TextRun run_;
    Prosody prosody_;
    std::vector<OpenTag> open_;
};

} // namespace

[[nodiscard]] HRESULT ParseSpeech(const char16_t *text, size_t length, bool xml, std::vector<SpeechItem> &items)
{
    items.clear();
    if (!xml) {
        SpeechItem item;
        item.kind = SpeechItem::Kind::Text;
        item.run.text.assign(text, length);
        for (size_t i = 0; i < length; ++i) {
            item.run.begin.push_back(static_cast<uint32_t>(i));
            item.run.end.push_back(static_cast<uint32_t>(i + 1));
        }
        if (!std::all_of(item.run.text.begin(), item.run.text.end(), IsBlank))
            items.push_back(std::move(item));
        return S_OK;
    }
    std::vector<SpeechItem> parsed;
    const HRESULT hr = Parser(text, length, parsed).Run();
    if (SUCCEEDED(hr))
        items = std::move(parsed);
    return hr;
}

[[nodiscard]] bool LooksLikeMarkup(const char16_t *text, size_t length)
{
    size_t i = 0;
    while (i < length && IsBlank(text[i]))
        ++i;
    return i < length && text[i] == u'<';
}

EngineText ToEngineText(const std::u16string &text)
{
    EngineText out;
    out.utf8.reserve(text.size() + text.size() / 2);
    auto put = [&](uint32_t cp) {
        if (cp < 0x80) {
            out.utf8.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.utf8.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.utf8.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.utf8.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.utf8.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.utf8.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.utf8.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.utf8.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.utf8.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.utf8.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    };
    for (size_t i = 0; i < text.size(); ++i) {
        out.unitOfCodePoint.push_back(static_cast<uint32_t>(i));
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            put(0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            put(0xFFFD);
        } else {
            put(c);
        }
    }
    out.unitOfCodePoint.push_back(static_cast<uint32_t>(text.size()));
    return out;
}

size_t SentenceEnd(const std::u16string &text, size_t start)
{
    for (size_t i = start; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool terminator =
            c == u'.' || c == u'!' || c == u'?' || c == u'\u3002' || c == u'\uFF01' || c == u'\uFF1F';
        if (terminator && (i + 1 == text.size() || IsBlank(text[i + 1])))
            return i + 1;
    }
    size_t end = text.size();
    while (end > start && IsBlank(text[end - 1]))
        --end;
    return end;
}

std::vector<TextRun> SplitAtSentences(const TextRun &run, size_t pieceUnits)
{
    std::vector<TextRun> pieces;
    const size_t size = run.text.size();
    size_t start = 0;
    while (start < size) {
        size_t cut = start;
        do {
            const size_t end = SentenceEnd(run.text, cut);
            cut = end > cut ? end : size; // only blanks are left
        } while (cut < size && cut - start < pieceUnits);
        TextRun piece;
        piece.text = run.text.substr(start, cut - start);
        piece.begin.assign(run.begin.begin() + static_cast<std::ptrdiff_t>(start),
                           run.begin.begin() + static_cast<std::ptrdiff_t>(cut));
        piece.end.assign(run.end.begin() + static_cast<std::ptrdiff_t>(start),
                         run.end.begin() + static_cast<std::ptrdiff_t>(cut));
        piece.prosody = run.prosody;
        pieces.push_back(std::move(piece));
        start = cut;
    }
    return pieces;
}

} // namespace orafon::sapi5

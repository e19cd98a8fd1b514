#include "Tokens.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/win/objbase.h>
#include <orafon/win/winbase.h>

#include <algorithm>
#include <cstring>

namespace orafon::sapi5 {

namespace {

[[nodiscard]] HRESULT FromStatus(LSTATUS st)
{
    if (st == ERROR_SUCCESS)
        return S_OK;
    if (st == ERROR_FILE_NOT_FOUND || st == ERROR_PATH_NOT_FOUND)
        return SPERR_NOT_FOUND;
    if (st == ERROR_NO_MORE_ITEMS)
        return SPERR_NO_MORE_ITEMS;
    return HRESULT_FROM_WIN32(static_cast<uint32_t>(st));
}

const char16_t *ValueName(LPCWSTR name)
{
    return name ? name : u"";
}

size_t Length(LPCWSTR s)
{
    return s ? std::char_traits<char16_t>::length(s) : 0;
}

char16_t Lower(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

[[nodiscard]] bool EqualNoCase(const std::u16string &a, const std::u16string &b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

std::u16string Trim(const std::u16string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && s[b] == u' ')
        ++b;
    while (e > b && s[e - 1] == u' ')
        --e;
    return s.substr(b, e - b);
}

std::vector<std::u16string> Split(const std::u16string &s, char16_t sep)
{
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= s.size()) {
        const size_t at = s.find(sep, start);
        const std::u16string part =
            Trim(s.substr(start, at == std::u16string::npos ? std::u16string::npos : at - start));
        if (!part.empty())
            parts.push_back(part);
        if (at == std::u16string::npos)
            break;
        start = at + 1;
    }
    return parts;
}

unsigned ParseHex(const std::u16string &s)
{
    unsigned v = 0;
    for (char16_t c : s) {
        const char16_t l = Lower(c);
        if (l >= u'0' && l <= u'9')
            v = v * 16 + (l - u'0');
        else if (l >= u'a' && l <= u'f')
            v = v * 16 + (l - u'a' + 10);
        else
            return 0;
        if (v > 0xFFFF)
            return 0;
    }
    return v;
}

std::vector<LANGID> TokenLanguages(ISpObjectToken *token)
{
    std::vector<LANGID> out;
    CComPtr<ISpDataKey> attributes;
    if (FAILED(token->OpenKey(u"Attributes", &attributes)))
        return out;
    orafon::CComHeapPtr<WCHAR> value;
    if (FAILED(attributes->GetStringValue(u"Language", value.Out())))
        return out;
    for (const auto &part : Split(value.Get(), u';'))
        if (const unsigned id = ParseHex(part))
            out.push_back(static_cast<LANGID>(id));
    return out;
}

// 0: the language itself, 1: the same primary language, 2: another one.
int LanguageRank(const std::vector<LANGID> &languages, LANGID wanted)
{
    int rank = 2;
    for (LANGID l : languages) {
        if (l == wanted)
            return 0;
        if (PRIMARYLANGID(l) == PRIMARYLANGID(wanted))
            rank = 1;
    }
    return rank;
}

} // namespace

[[nodiscard]] HRESULT CoMemString(const char16_t *text, size_t length, LPWSTR *out)
{
    if (!out)
        return E_POINTER;
    *out = static_cast<LPWSTR>(CoTaskMemAlloc((length + 1) * sizeof(char16_t)));
    if (!*out)
        return E_OUTOFMEMORY;
    if (length)
        std::memcpy(*out, text, length * sizeof(char16_t));
    (*out)[length] = 0;
    return S_OK;
}

[[nodiscard]] bool SplitRegistryPath(const std::u16string &full, HKEY &root, std::u16string &path)
{
    static const struct {
        const char16_t *name;
        HKEY key;
    } kRoots[] = {{u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                  {u"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                  {u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                  {u"HKEY_USERS", HKEY_USERS}};
    const size_t slash = full.find(u'\\');
    const std::u16string head = full.substr(0, slash);
    for (const auto &r : kRoots)
        if (EqualNoCase(head, r.name)) {
            root = r.key;
            path = slash == std::u16string::npos ? std::u16string() : full.substr(slash + 1);
            return true;
        }
    return false;
}

[[nodiscard]] HRESULT ReadString(HKEY key, const char16_t *name, std::u16string &value)
{
    DWORD type = 0, cb = 0;
    LSTATUS st = RegQueryValueExW(key, name, nullptr, &type, nullptr, &cb);
    if (st != ERROR_SUCCESS)
        return FromStatus(st);
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return SPERR_NOT_FOUND;
    std::vector<char16_t> buffer(cb / sizeof(char16_t) + 1, 0);
    st = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer.data()), &cb);
    if (st != ERROR_SUCCESS)
        return FromStatus(st);
    value.assign(buffer.data());
    return S_OK;
}

// ---- DataKeyBase ------------------------------------------------------------------

template <typename D, typename... E>
STDMETHODIMP DataKeyBase<D, E...>::SetData(LPCWSTR name, ULONG cb, const BYTE *data)
{
    if (FAILED(CheckKey()))
        return CheckKey();
    if (cb && !data)
        return E_INVALIDARG;
    return FromStatus(RegSetValueExW(key_.Get(), ValueName(name), 0, REG_BINARY, data, cb));
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::GetData(LPCWSTR name, ULONG *pcb, BYTE *data)
{
    if (FAILED(CheckKey()))
        return CheckKey();
    if (!pcb)
        return E_POINTER;
    DWORD cb = *pcb;
    const HRESULT hr = FromStatus(RegQueryValueExW(key_.Get(), ValueName(name), nullptr, nullptr, data, &cb));
    *pcb = cb;
    return hr;
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::SetStringValue(LPCWSTR name, LPCWSTR value)
{
    if (FAILED(CheckKey()))
        return CheckKey();
    if (!value)
        return E_POINTER;
    return FromStatus(RegSetValueExW(key_.Get(), ValueName(name), 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                                     static_cast<DWORD>((Length(value) + 1) * sizeof(char16_t))));
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::GetStringValue(LPCWSTR name, LPWSTR *value)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!value)
            return E_POINTER;
        *value = nullptr;
        if (FAILED(CheckKey()))
            return CheckKey();
        std::u16string text;
        const HRESULT hr = ReadString(key_.Get(), ValueName(name), text);
        return FAILED(hr) ? hr : CoMemString(text, value);
    });
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::SetDWORD(LPCWSTR name, DWORD value)
{
    if (FAILED(CheckKey()))
        return CheckKey();
    return FromStatus(
        RegSetValueExW(key_.Get(), ValueName(name), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), 4));
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::GetDWORD(LPCWSTR name, DWORD *value)
{
    if (!value)
        return E_POINTER;
    if (FAILED(CheckKey()))
        return CheckKey();
    DWORD type = 0, cb = 4, v = 0;
    const HRESULT hr =
        FromStatus(RegQueryValueExW(key_.Get(), ValueName(name), nullptr, &type, reinterpret_cast<BYTE *>(&v), &cb));
    if (FAILED(hr))
        return hr;
    if (type != REG_DWORD)
        return SPERR_NOT_FOUND;
    *value = v;
    return S_OK;
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::OpenKey(LPCWSTR subKey, ISpDataKey **out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!subKey)
        return E_INVALIDARG;
    if (FAILED(CheckKey()))
        return CheckKey();
    RegKey sub;
    const HRESULT hr = FromStatus(RegOpenKeyExW(key_.Get(), subKey, 0, KEY_ALL_ACCESS, sub.Out()));
    if (FAILED(hr))
        return hr;
    CComPtr<DataKey> key;
    if (FAILED(DataKey::Create(key, std::move(sub))))
        return E_OUTOFMEMORY;
    *out = key.Detach();
    return S_OK;
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::CreateKey(LPCWSTR subKey, ISpDataKey **out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!subKey || !*subKey)
        return E_INVALIDARG;
    if (FAILED(CheckKey()))
        return CheckKey();
    RegKey sub;
    const HRESULT hr =
        FromStatus(RegCreateKeyExW(key_.Get(), subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, sub.Out(), nullptr));
    if (FAILED(hr))
        return hr;
    CComPtr<DataKey> key;
    if (FAILED(DataKey::Create(key, std::move(sub))))
        return E_OUTOFMEMORY;
    *out = key.Detach();
    return S_OK;
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::DeleteKey(LPCWSTR subKey)
{
    if (!subKey || !*subKey)
        return E_INVALIDARG;
    if (FAILED(CheckKey()))
        return CheckKey();
    return FromStatus(RegDeleteTreeW(key_.Get(), subKey));
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::DeleteValue(LPCWSTR name)
{
    if (FAILED(CheckKey()))
        return CheckKey();
    return FromStatus(RegDeleteValueW(key_.Get(), ValueName(name)));
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::EnumKeys(ULONG index, LPWSTR *name)
{
    if (!name)
        return E_POINTER;
    *name = nullptr;
    if (FAILED(CheckKey()))
        return CheckKey();
    char16_t buffer[256];
    DWORD cch = 256;
    const HRESULT hr = FromStatus(RegEnumKeyExW(key_.Get(), index, buffer, &cch, nullptr, nullptr, nullptr, nullptr));
    return FAILED(hr) ? hr : CoMemString(buffer, cch, name);
}

template <typename D, typename... E> STDMETHODIMP DataKeyBase<D, E...>::EnumValues(ULONG index, LPWSTR *name)
{
    if (!name)
        return E_POINTER;
    *name = nullptr;
    if (FAILED(CheckKey()))
        return CheckKey();
    char16_t buffer[16384];
    DWORD cch = 16384;
    const HRESULT hr = FromStatus(RegEnumValueW(key_.Get(), index, buffer, &cch, nullptr, nullptr, nullptr, nullptr));
    return FAILED(hr) ? hr : CoMemString(buffer, cch, name);
}

template class DataKeyBase<DataKey, ISpDataKey>;
template class DataKeyBase<ObjectToken, ISpObjectToken, orafon::ComAlias<ISpDataKey, ISpObjectToken>>;
template class DataKeyBase<TokenCategory, ISpObjectTokenCategory, orafon::ComAlias<ISpDataKey, ISpObjectTokenCategory>>;

// ---- ObjectToken ------------------------------------------------------------------

[[nodiscard]] HRESULT ObjectToken::Init(const std::u16string &categoryId, const std::u16string &tokenId, bool create)
{
    if (key_.Get())
        return SPERR_ALREADY_INITIALIZED;
    std::u16string full = tokenId;
    HKEY root = nullptr;
    std::u16string path;
    if (!SplitRegistryPath(full, root, path)) {
        // A bare token name lives under its category's "Tokens" key.
        if (categoryId.empty())
            return SPERR_NOT_FOUND;
        full = categoryId + u"\\Tokens\\" + tokenId;
        if (!SplitRegistryPath(full, root, path))
            return SPERR_NOT_FOUND;
    }
    if (path.empty())
        return E_INVALIDARG;
    if (full.rfind(kVoicesCategory, 0) == 0)
        EnsureEspeakVoicesRegistered();
    RegKey key;
    const HRESULT hr = create ? FromStatus(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                           key.Out(), nullptr))
                              : FromStatus(RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, key.Out()));
    if (FAILED(hr))
        return hr;
    key_ = std::move(key);
    id_ = full;
    const size_t tokens = full.rfind(u"\\Tokens\\");
    categoryId_ = tokens == std::u16string::npos ? categoryId : full.substr(0, tokens);
    return S_OK;
}

std::u16string ObjectToken::Name() const
{
    const size_t slash = id_.rfind(u'\\');
    return slash == std::u16string::npos ? id_ : id_.substr(slash + 1);
}

STDMETHODIMP ObjectToken::SetId(LPCWSTR categoryId, LPCWSTR tokenId, BOOL create)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!tokenId)
            return E_POINTER;
        return Init(categoryId ? categoryId : u"", tokenId, create != FALSE);
    });
}

STDMETHODIMP ObjectToken::GetId(LPWSTR *id)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!id)
            return E_POINTER;
        *id = nullptr;
        if (FAILED(CheckKey()))
            return CheckKey();
        return CoMemString(id_, id);
    });
}

STDMETHODIMP ObjectToken::GetCategory(ISpObjectTokenCategory **category)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!category)
            return E_POINTER;
        *category = nullptr;
        if (FAILED(CheckKey()))
            return CheckKey();
        CComPtr<TokenCategory> c;
        HRESULT hr = TokenCategory::Create(c);
        if (SUCCEEDED(hr))
            hr = c->SetId(categoryId_.c_str(), FALSE);
        if (SUCCEEDED(hr))
            *category = c.Detach();
        return hr;
    });
}

STDMETHODIMP ObjectToken::CreateInstance(IUnknown *outer, DWORD context, REFIID riid, void **ppv)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (FAILED(CheckKey()))
            return CheckKey();
        std::u16string text;
        HRESULT hr = ReadString(key_.Get(), u"CLSID", text);
        if (FAILED(hr))
            return hr;
        CLSID clsid{};
        hr = CLSIDFromString(text.c_str(), &clsid);
        if (FAILED(hr))
            return hr;
        return CoCreateInstance(clsid, outer, context, riid, ppv);
    });
}

STDMETHODIMP ObjectToken::GetStorageFileName(REFCLSID, LPCWSTR, LPCWSTR, ULONG, LPWSTR *path)
{
    if (path)
        *path = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP ObjectToken::RemoveStorageFileName(REFCLSID, LPCWSTR, BOOL)
{
    return E_NOTIMPL;
}

STDMETHODIMP ObjectToken::Remove(const CLSID *)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (FAILED(CheckKey()))
            return CheckKey();
        HKEY root = nullptr;
        std::u16string path;
        if (!SplitRegistryPath(id_, root, path))
            return E_UNEXPECTED;
        key_.Reset();
        return FromStatus(RegDeleteTreeW(root, path.c_str()));
    });
}

STDMETHODIMP ObjectToken::IsUISupported(LPCWSTR, void *, ULONG, IUnknown *, BOOL *supported)
{
    if (!supported)
        return E_POINTER;
    *supported = FALSE;
    return S_OK;
}

STDMETHODIMP ObjectToken::DisplayUI(HWND, LPCWSTR, LPCWSTR, void *, ULONG, IUnknown *)
{
    return E_NOTIMPL;
}

int ObjectToken::CountMatches(const std::u16string &attributes, bool required)
{
    CComPtr<ISpDataKey> attrKey;
    const bool hasAttributes = SUCCEEDED(OpenKey(u"Attributes", &attrKey));
    int matched = 0;
    for (const auto &condition : Split(attributes, u';')) {
        const size_t eq = condition.find(u'=');
        const bool negated = eq != std::u16string::npos && eq > 0 && condition[eq - 1] == u'!';
        const std::u16string name =
            Trim(condition.substr(0, eq == std::u16string::npos ? eq : (negated ? eq - 1 : eq)));
        std::u16string actual;
        const bool present = hasAttributes && SUCCEEDED(ReadString(static_cast<DataKey *>(attrKey.get())->Handle(),
                                                                   name.c_str(), actual));
        bool ok;
        if (eq == std::u16string::npos) {
            ok = present;
        } else {
            const std::u16string wanted = Trim(condition.substr(eq + 1));
            bool equal = false;
            for (const auto &v : Split(actual, u';'))
                equal = equal || EqualNoCase(v, wanted);
            ok = negated ? !equal : (present && equal);
        }
        if (ok)
            ++matched;
        else if (required)
            return -1;
    }
    return matched;
}

STDMETHODIMP ObjectToken::MatchesAttributes(LPCWSTR attributes, BOOL *matches)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!matches)
            return E_POINTER;
        *matches = CountMatches(attributes ? attributes : u"", true) >= 0;
        return S_OK;
    });
}

// ---- TokenCategory ----------------------------------------------------------------

STDMETHODIMP TokenCategory::SetId(LPCWSTR id, BOOL create)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!id)
            return E_POINTER;
        if (key_.Get())
            return SPERR_ALREADY_INITIALIZED;
        HKEY root = nullptr;
        std::u16string path;
        if (!SplitRegistryPath(id, root, path) || path.empty())
            return SPERR_NOT_FOUND;
        if (EqualNoCase(id, kVoicesCategory))
            EnsureEspeakVoicesRegistered();
        RegKey key;
        const HRESULT hr = create ? FromStatus(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                               nullptr, key.Out(), nullptr))
                                  : FromStatus(RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS, key.Out()));
        if (FAILED(hr))
            return hr;
        key_ = std::move(key);
        id_ = id;
        return S_OK;
    });
}

STDMETHODIMP TokenCategory::GetId(LPWSTR *id)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!id)
            return E_POINTER;
        *id = nullptr;
        if (FAILED(CheckKey()))
            return CheckKey();
        return CoMemString(id_, id);
    });
}

STDMETHODIMP TokenCategory::GetDataKey(SPDATAKEYLOCATION, ISpDataKey **key)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!key)
            return E_POINTER;
        *key = nullptr;
        if (FAILED(CheckKey()))
            return CheckKey();
        RegKey copy;
        const HRESULT hr = FromStatus(RegOpenKeyExW(key_.Get(), u"", 0, KEY_ALL_ACCESS, copy.Out()));
        if (FAILED(hr))
            return hr;
        CComPtr<DataKey> k;
        if (FAILED(DataKey::Create(k, std::move(copy))))
            return E_OUTOFMEMORY;
        *key = k.Detach();
        return S_OK;
    });
}

HRESULT TokenCategory::Tokens(const std::u16string &required, const std::u16string &optional,
                              std::vector<CComPtr<ISpObjectToken>> &tokens)
{
    tokens.clear();
    if (FAILED(CheckKey()))
        return CheckKey();
    RegKey tokensKey;
    if (RegOpenKeyExW(key_.Get(), u"Tokens", 0, KEY_READ, tokensKey.Out()) != ERROR_SUCCESS)
        return S_OK; // a category without tokens enumerates nothing
    struct Candidate {
        CComPtr<ISpObjectToken> token;
        int optionalMatches;
        int languageRank;
    };
    std::vector<Candidate> candidates;
    std::vector<std::vector<LANGID>> languages;
    for (DWORD i = 0;; ++i) {
        char16_t name[256];
        DWORD cch = 256;
        if (RegEnumKeyExW(tokensKey.Get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        CComPtr<ObjectToken> token;
        if (FAILED(ObjectToken::Create(token)) || FAILED(token->Init(id_, id_ + u"\\Tokens\\" + name, false)))
            continue;
        if (token->CountMatches(required, true) < 0)
            continue;
        const int optionalMatches = token->CountMatches(optional, false);
        languages.push_back(TokenLanguages(token));
        candidates.push_back({CComPtr<ISpObjectToken>(token.get()), optionalMatches, 2});
    }
    // The user's language first; English when no voice speaks it.
    LANGID wanted = GetUserDefaultUILanguage();
    const bool spoken =
        std::any_of(languages.begin(), languages.end(), [&](const auto &l) { return LanguageRank(l, wanted) < 2; });
    if (!spoken)
        wanted = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    for (size_t i = 0; i < candidates.size(); ++i)
        candidates[i].languageRank = LanguageRank(languages[i], wanted);
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
        if (a.optionalMatches != b.optionalMatches)
            return a.optionalMatches > b.optionalMatches;
        return a.languageRank < b.languageRank;
    });
    // A default chosen with SetDefaultTokenId goes before all others.
    std::u16string chosen;
    if (SUCCEEDED(ReadString(key_.Get(), u"DefaultTokenId", chosen)))
        std::stable_partition(candidates.begin(), candidates.end(), [&](const Candidate &c) {
            return EqualNoCase(static_cast<ObjectToken *>(c.token.get())->Id(), chosen);
        });
    for (auto &c : candidates)
        tokens.push_back(std::move(c.token));
    return S_OK;
}

STDMETHODIMP TokenCategory::EnumTokens(LPCWSTR required, LPCWSTR optional, IEnumSpObjectTokens **out)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        std::vector<CComPtr<ISpObjectToken>> tokens;
        HRESULT hr = Tokens(required ? required : u"", optional ? optional : u"", tokens);
        if (FAILED(hr))
            return hr;
        CComPtr<TokenEnum> e;
        hr = TokenEnum::Create(e, std::move(tokens));
        if (SUCCEEDED(hr))
            *out = e.Detach();
        return hr;
    });
}

STDMETHODIMP TokenCategory::SetDefaultTokenId(LPCWSTR tokenId)
{
    if (!tokenId)
        return E_POINTER;
    CComPtr<ISpObjectToken> token;
    const HRESULT hr = OpenToken(tokenId, token);
    if (FAILED(hr))
        return hr;
    return SetStringValue(u"DefaultTokenId", tokenId);
}

STDMETHODIMP TokenCategory::GetDefaultTokenId(LPWSTR *tokenId)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!tokenId)
            return E_POINTER;
        *tokenId = nullptr;
        std::vector<CComPtr<ISpObjectToken>> tokens;
        const HRESULT hr = Tokens(u"", u"", tokens);
        if (FAILED(hr))
            return hr;
        if (tokens.empty())
            return SPERR_NOT_FOUND;
        return tokens.front()->GetId(tokenId);
    });
}

// ---- TokenEnum ----------------------------------------------------------------------

STDMETHODIMP TokenEnum::Next(ULONG celt, ISpObjectToken **elements, ULONG *fetched)
{
    if (!elements || (celt > 1 && !fetched))
        return E_POINTER;
    ULONG n = 0;
    while (n < celt && next_ < tokens_.size())
        tokens_[next_++].CopyTo(&elements[n++]);
    if (fetched)
        *fetched = n;
    return n == celt ? S_OK : S_FALSE;
}

STDMETHODIMP TokenEnum::Skip(ULONG celt)
{
    const size_t left = tokens_.size() - next_;
    next_ += std::min<size_t>(celt, left);
    return celt <= left ? S_OK : S_FALSE;
}

STDMETHODIMP TokenEnum::Reset()
{
    next_ = 0;
    return S_OK;
}

STDMETHODIMP TokenEnum::Clone(IEnumSpObjectTokens **out)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        CComPtr<TokenEnum> e;
        const HRESULT hr = TokenEnum::Create(e, tokens_);
        if (FAILED(hr))
            return hr;
        e->next_ = next_;
        *out = e.Detach();
        return S_OK;
    });
}

STDMETHODIMP TokenEnum::Item(ULONG index, ISpObjectToken **token)
{
    if (!token)
        return E_POINTER;
    *token = nullptr;
    if (index >= tokens_.size())
        return SPERR_NO_MORE_ITEMS;
    return tokens_[index].CopyTo(token);
}

STDMETHODIMP TokenEnum::GetCount(ULONG *count)
{
    if (!count)
        return E_POINTER;
    *count = static_cast<ULONG>(tokens_.size());
    return S_OK;
}

// ---- helpers ------------------------------------------------------------------------

[[nodiscard]] HRESULT OpenToken(const std::u16string &tokenId, CComPtr<ISpObjectToken> &token)
{
    CComPtr<ObjectToken> t;
    HRESULT hr = ObjectToken::Create(t);
    if (SUCCEEDED(hr))
        hr = t->Init(u"", tokenId, false);
    if (SUCCEEDED(hr))
        token = t.get();
    return hr;
}

[[nodiscard]] HRESULT DefaultVoiceToken(CComPtr<ISpObjectToken> &token)
{
    CComPtr<TokenCategory> category;
    HRESULT hr = TokenCategory::Create(category);
    if (SUCCEEDED(hr))
        hr = category->SetId(kVoicesCategory, FALSE);
    std::vector<CComPtr<ISpObjectToken>> tokens;
    if (SUCCEEDED(hr))
        hr = category->Tokens(u"", u"", tokens);
    if (SUCCEEDED(hr) && tokens.empty())
        hr = SPERR_NOT_FOUND;
    if (SUCCEEDED(hr))
        token = tokens.front();
    return hr;
}

} // namespace orafon::sapi5

// Data keys, object tokens, token categories and token enumerators over the
// platform registry.
#pragma once

#include "ComObject.h"

#include <orafon/Holders.h>
#include <orafon/win/sapi.h>
#include <orafon/win/winreg.h>

#include <string>
#include <vector>

namespace orafon::sapi5 {

inline constexpr char16_t kVoicesCategory[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices";
// Relative to HKEY_LOCAL_MACHINE.
inline constexpr char16_t kVoiceTokensKey[] = u"SOFTWARE\\Microsoft\\Speech\\Voices\\Tokens";

// An open registry key, closed with its holder.
using RegKey = orafon::CRegKey;

// Splits "HKEY_LOCAL_MACHINE\path" into its root and path; false for an unknown root.
[[nodiscard]] bool SplitRegistryPath(const std::u16string &full, HKEY &root, std::u16string &path);

// Reads a string value; SPERR_NOT_FOUND when it is not there.
[[nodiscard]] HRESULT ReadString(HKEY key, const char16_t *name, std::u16string &value);

// ISpDataKey over one registry key. The base of tokens and categories, which
// extend ISpDataKey: Entries lists their interfaces.
template <typename Derived, typename... Entries>
class DataKeyBase : public orafon::ComObject<Derived, Entries...>, private ModuleObject {
public:
    STDMETHODIMP SetData(LPCWSTR name, ULONG cb, const BYTE *data) override;
    STDMETHODIMP GetData(LPCWSTR name, ULONG *pcb, BYTE *data) override;
    STDMETHODIMP SetStringValue(LPCWSTR name, LPCWSTR value) override;
    STDMETHODIMP GetStringValue(LPCWSTR name, LPWSTR *value) override;
    STDMETHODIMP SetDWORD(LPCWSTR name, DWORD value) override;
    STDMETHODIMP GetDWORD(LPCWSTR name, DWORD *value) override;
    STDMETHODIMP OpenKey(LPCWSTR subKey, ISpDataKey **out) override;
    STDMETHODIMP CreateKey(LPCWSTR subKey, ISpDataKey **out) override;
    STDMETHODIMP DeleteKey(LPCWSTR subKey) override;
    STDMETHODIMP DeleteValue(LPCWSTR name) override;
    STDMETHODIMP EnumKeys(ULONG index, LPWSTR *name) override;
    STDMETHODIMP EnumValues(ULONG index, LPWSTR *name) override;

protected:
    // SPERR_UNINITIALIZED until an id has been set.
    HRESULT CheckKey() const { return key_.Get() ? S_OK : SPERR_UNINITIALIZED; }
    RegKey key_;
};

class DataKey final : public DataKeyBase<DataKey, ISpDataKey> {
public:
    explicit DataKey(RegKey key) { key_ = std::move(key); }
    HKEY Handle() const { return key_.Get(); }
};

class ObjectToken final
    : public DataKeyBase<ObjectToken, ISpObjectToken, orafon::ComAlias<ISpDataKey, ISpObjectToken>> {
public:
    ObjectToken() = default;

    // Opens the token at the full registry path id.
    [[nodiscard]] HRESULT Init(const std::u16string &categoryId, const std::u16string &tokenId, bool create);
    const std::u16string &Id() const { return id_; }
    // The token's key name (last part of its id).
    std::u16string Name() const;

    STDMETHODIMP SetId(LPCWSTR categoryId, LPCWSTR tokenId, BOOL create) override;
    STDMETHODIMP GetId(LPWSTR *id) override;
    STDMETHODIMP GetCategory(ISpObjectTokenCategory **category) override;
    STDMETHODIMP CreateInstance(IUnknown *outer, DWORD context, REFIID riid, void **ppv) override;
    STDMETHODIMP GetStorageFileName(REFCLSID, LPCWSTR, LPCWSTR, ULONG, LPWSTR *) override;
    STDMETHODIMP RemoveStorageFileName(REFCLSID, LPCWSTR, BOOL) override;
    STDMETHODIMP Remove(const CLSID *caller) override;
    STDMETHODIMP IsUISupported(LPCWSTR, void *, ULONG, IUnknown *, BOOL *supported) override;
    STDMETHODIMP DisplayUI(HWND, LPCWSTR, LPCWSTR, void *, ULONG, IUnknown *) override;
    STDMETHODIMP MatchesAttributes(LPCWSTR attributes, BOOL *matches) override;

    // How many of the attribute conditions hold; -1 when one of them is not
    // met and required is true.
    int CountMatches(const std::u16string &attributes, bool required);

private:
    std::u16string id_;
    std::u16string categoryId_;
};

class TokenCategory final
    : public DataKeyBase<TokenCategory, ISpObjectTokenCategory, orafon::ComAlias<ISpDataKey, ISpObjectTokenCategory>> {
public:
    STDMETHODIMP SetId(LPCWSTR id, BOOL create) override;
    STDMETHODIMP GetId(LPWSTR *id) override;
    STDMETHODIMP GetDataKey(SPDATAKEYLOCATION location, ISpDataKey **key) override;
    STDMETHODIMP EnumTokens(LPCWSTR required, LPCWSTR optional, IEnumSpObjectTokens **out) override;
    STDMETHODIMP SetDefaultTokenId(LPCWSTR tokenId) override;
    STDMETHODIMP GetDefaultTokenId(LPWSTR *tokenId) override;

    HRESULT Tokens(const std::u16string &required, const std::u16string &optional,
                   std::vector<CComPtr<ISpObjectToken>> &tokens);

private:
    std::u16string id_;
};

class TokenEnum final : public orafon::ComObject<TokenEnum, IEnumSpObjectTokens>, private ModuleObject {
public:
    explicit TokenEnum(std::vector<CComPtr<ISpObjectToken>> tokens) : tokens_(std::move(tokens)) {}

    STDMETHODIMP Next(ULONG celt, ISpObjectToken **elements, ULONG *fetched) override;
    STDMETHODIMP Skip(ULONG celt) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumSpObjectTokens **out) override;
    STDMETHODIMP Item(ULONG index, ISpObjectToken **token) override;
    STDMETHODIMP GetCount(ULONG *count) override;

private:
    std::vector<CComPtr<ISpObjectToken>> tokens_;
    size_t next_ = 0;
};

// Opens the token with the given full id.
[[nodiscard]] HRESULT OpenToken(const std::u16string &tokenId, CComPtr<ISpObjectToken> &token);

// The voice tokens in preference order (see TokenCategory::EnumTokens).
[[nodiscard]] HRESULT DefaultVoiceToken(CComPtr<ISpObjectToken> &token);

// Makes sure every espeak-ng voice has its token (once per process).
void EnsureEspeakVoicesRegistered();

} // namespace orafon::sapi5

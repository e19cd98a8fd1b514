#include "Registration.h"

#include <orafon/CaseFold.h>
#include <orafon/Holders.h>
#include <orafon/OrafonIds.h>

#include <algorithm>
#include <cctype>

namespace orafon::module {
namespace {

constexpr const char *kFriendlyName = "CTextToSpeech Object";
constexpr const char *kProgId = "Orafon.TextToSpeech.1";
constexpr const char *kVersionIndependentProgId = "Orafon.TextToSpeech";
constexpr const char *kClsid = "{A5584957-EF07-419C-BACD-9931F1256D92}";
constexpr const char *kLibId = "{F29A07DB-9775-46B7-A7DD-94C440145B52}";
constexpr const char *kModuleType = "InprocServer32";
constexpr const char *kThreadingModel = "apartment";
constexpr const char *kAppId = "";

[[nodiscard]] HRESULT FromStatus(LSTATUS st)
{
    return st == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(st));
}

[[nodiscard]] LSTATUS SetString(HKEY key, const char *name, const std::string &text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

[[nodiscard]] bool IsMissing(LSTATUS st)
{
    return st == ERROR_FILE_NOT_FOUND || st == ERROR_PATH_NOT_FOUND;
}

// How often a registration starts over when another process unregisters
// under it (its keys deleted under the open handles).
constexpr int kRegisterAttempts = 8;

[[nodiscard]] bool IsNamedValue(const ScriptKey &k, const std::string &name)
{
    if (name.empty())
        return k.value.has_value();
    for (const auto &value : k.namedValues) {
        if (orafon::EqualsIgnoringCase(std::string_view(value.first), std::string_view(name)))
            return true;
    }
    return false;
}

[[nodiscard]] bool IsNamedSubkey(const ScriptKey &k, const std::string &name)
{
    for (const ScriptKey &sub : k.subkeys) {
        if (orafon::EqualsIgnoringCase(std::string_view(sub.name), std::string_view(name)))
            return true;
    }
    return false;
}

// The names of a key's values or subkeys, read before any of them goes.
[[nodiscard]] std::vector<std::string> ListNames(HKEY key, bool subkeys)
{
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD length = sizeof name;
        const LSTATUS st = subkeys ? RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr)
                                   : RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (st != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

// Leaves under key only what the script writes there. A forced key is
// emptied this way rather than deleted and made again, so that another
// process registering at the same time never has the key it is writing
// deleted under its open handle.
[[nodiscard]] HRESULT PruneKey(HKEY key, const ScriptKey &k)
{
    for (const std::string &name : ListNames(key, false)) {
        if (IsNamedValue(k, name))
            continue;
        const LSTATUS st = RegDeleteValueA(key, name.empty() ? nullptr : name.c_str());
        if (st != ERROR_SUCCESS && !IsMissing(st))
            return FromStatus(st);
    }
    for (const std::string &name : ListNames(key, true)) {
        if (IsNamedSubkey(k, name))
            continue;
        const LSTATUS st = RegDeleteTreeA(key, name.c_str());
        if (st != ERROR_SUCCESS && !IsMissing(st))
            return FromStatus(st);
    }
    return S_OK;
}

// Writes k under parent; below a ForceRemove key (exact) nothing the script
// does not name is left.
[[nodiscard]] HRESULT RegisterKey(HKEY parent, const ScriptKey &k, bool exact)
{
    exact = exact || k.mode == ScriptKey::Mode::ForceRemove;
    orafon::CRegKey key;
    LSTATUS st = RegCreateKeyExA(parent, k.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                 key.Out(), nullptr);
    if (st != ERROR_SUCCESS)
        return FromStatus(st);
    HRESULT hr = exact ? PruneKey(key.Get(), k) : S_OK;
    if (SUCCEEDED(hr) && k.value)
        hr = FromStatus(SetString(key.Get(), nullptr, *k.value));
    for (size_t i = 0; SUCCEEDED(hr) && i < k.namedValues.size(); ++i)
        hr = FromStatus(SetString(key.Get(), k.namedValues[i].first.c_str(), k.namedValues[i].second));
    for (size_t i = 0; SUCCEEDED(hr) && i < k.subkeys.size(); ++i)
        hr = RegisterKey(key.Get(), k.subkeys[i], exact);
    return hr;
}

[[nodiscard]] HRESULT UnregisterKey(HKEY parent, const ScriptKey &k)
{
    if (k.mode != ScriptKey::Mode::NoRemove) {
        LSTATUS st = RegDeleteTreeA(parent, k.name.c_str());
        return IsMissing(st) ? S_OK : FromStatus(st);
    }
    orafon::CRegKey key;
    LSTATUS st = RegOpenKeyExA(parent, k.name.c_str(), 0, KEY_ALL_ACCESS, key.Out());
    if (IsMissing(st))
        return S_OK;
    if (st != ERROR_SUCCESS)
        return FromStatus(st);
    HRESULT hr = S_OK;
    for (size_t i = 0; SUCCEEDED(hr) && i < k.subkeys.size(); ++i)
        hr = UnregisterKey(key.Get(), k.subkeys[i]);
    return hr;
}

ScriptKey Key(std::string name, std::optional<std::string> value, std::vector<ScriptKey> subkeys = {},
              ScriptKey::Mode mode = ScriptKey::Mode::Normal)
{
    ScriptKey k;
    k.name = std::move(name);
    k.value = std::move(value);
    k.subkeys = std::move(subkeys);
    k.mode = mode;
    return k;
}

} // namespace

[[nodiscard]] HRESULT ApplyRegistryScript(HKEY parent, const std::vector<ScriptKey> &script, bool reg)
{
    HRESULT hr = S_OK;
    for (int attempt = 0; attempt < (reg ? kRegisterAttempts : 1); ++attempt) {
        hr = S_OK;
        for (size_t i = 0; SUCCEEDED(hr) && i < script.size(); ++i)
            hr = reg ? RegisterKey(parent, script[i], false) : UnregisterKey(parent, script[i]);
        // A concurrent unregistration deleted a key being written: the whole
        // script again gives the complete entries.
        if (hr != HRESULT_FROM_WIN32(ERROR_KEY_DELETED))
            break;
    }
    return hr;
}

[[nodiscard]] std::vector<ScriptKey> TextToSpeechRegistryScript(const std::string &modulePath)
{
    using Mode = ScriptKey::Mode;
    ScriptKey server = Key(kModuleType, modulePath);
    server.namedValues.emplace_back("ThreadingModel", kThreadingModel);

    ScriptKey classKey =
        Key(kClsid, kFriendlyName,
            {Key("ProgID", kProgId), Key("VersionIndependentProgID", kVersionIndependentProgId),
             Key("Programmable", std::nullopt, {}, Mode::ForceRemove), std::move(server), Key("TypeLib", kLibId)},
            Mode::ForceRemove);
    classKey.namedValues.emplace_back("AppID", kAppId);

    return {
        Key(kProgId, kFriendlyName, {Key("CLSID", kClsid)}),
        Key(kVersionIndependentProgId, kFriendlyName, {Key("CLSID", kClsid), Key("CurVer", kProgId)}),
        Key("CLSID", std::nullopt, {std::move(classKey)}, Mode::NoRemove),
    };
}

[[nodiscard]] HRESULT UpdateTextToSpeechRegistry(const char *modulePath, bool reg)
{
    return ApplyRegistryScript(HKEY_CLASSES_ROOT, TextToSpeechRegistryScript(modulePath ? modulePath : ""), reg);
}

} // namespace orafon::module

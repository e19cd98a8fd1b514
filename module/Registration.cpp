#include "Registration.h"

#include <orafon/OrafonIds.h>

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

HRESULT FromStatus(LSTATUS st)
{
    return st == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(st));
}

LSTATUS SetString(HKEY key, const char *name, const std::string &text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

bool IsMissing(LSTATUS st)
{
    return st == ERROR_FILE_NOT_FOUND || st == ERROR_PATH_NOT_FOUND;
}

HRESULT RegisterKey(HKEY parent, const ScriptKey &k)
{
    if (k.mode == ScriptKey::Mode::ForceRemove) {
        LSTATUS st = RegDeleteTreeA(parent, k.name.c_str());
        if (st != ERROR_SUCCESS && !IsMissing(st))
            return FromStatus(st);
    }
    HKEY key = nullptr;
    LSTATUS st = RegCreateKeyExA(parent, k.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                 &key, nullptr);
    if (st != ERROR_SUCCESS)
        return FromStatus(st);
    if (k.value)
        st = SetString(key, nullptr, *k.value);
    for (size_t i = 0; st == ERROR_SUCCESS && i < k.namedValues.size(); ++i)
        st = SetString(key, k.namedValues[i].first.c_str(), k.namedValues[i].second);
    HRESULT hr = FromStatus(st);
    for (size_t i = 0; SUCCEEDED(hr) && i < k.subkeys.size(); ++i)
        hr = RegisterKey(key, k.subkeys[i]);
    RegCloseKey(key);
    return hr;
}

HRESULT UnregisterKey(HKEY parent, const ScriptKey &k)
{
    if (k.mode != ScriptKey::Mode::NoRemove) {
        LSTATUS st = RegDeleteTreeA(parent, k.name.c_str());
        return IsMissing(st) ? S_OK : FromStatus(st);
    }
    HKEY key = nullptr;
    LSTATUS st = RegOpenKeyExA(parent, k.name.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (IsMissing(st))
        return S_OK;
    if (st != ERROR_SUCCESS)
        return FromStatus(st);
    HRESULT hr = S_OK;
    for (size_t i = 0; SUCCEEDED(hr) && i < k.subkeys.size(); ++i)
        hr = UnregisterKey(key, k.subkeys[i]);
    RegCloseKey(key);
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

HRESULT ApplyRegistryScript(HKEY parent, const std::vector<ScriptKey> &script, bool reg)
{
    for (const ScriptKey &k : script) {
        HRESULT hr = reg ? RegisterKey(parent, k) : UnregisterKey(parent, k);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

std::vector<ScriptKey> TextToSpeechRegistryScript(const std::string &modulePath)
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

HRESULT UpdateTextToSpeechRegistry(const char *modulePath, bool reg)
{
    return ApplyRegistryScript(HKEY_CLASSES_ROOT, TextToSpeechRegistryScript(modulePath ? modulePath : ""), reg);
}

} // namespace orafon::module

// Registration of type libraries, in the Windows layout under HKEY_CLASSES_ROOT:
//
//   TypeLib\{LIBID}\<major>.<minor>            = help string (else the name)
//       FLAGS                                  = library flags, decimal
//       HELPDIR                                = help directory
//       <lcid>\<platform>                      = file the library loads from
//   Interface\{IID}                            = interface name
//       ProxyStubClsid, ProxyStubClsid32       = {00020424-0000-0000-C000-000000000046}
//       TypeLib                                = {LIBID}, value Version = "<major>.<minor>"
//
// Versions and locales are hexadecimal; the platform key is "win32" for a
// 32-bit Windows library (the layout is kept whatever this machine is).
#include "TypeLibObjects.h"
#include "TypeLibText.h"

#include <orafon/Holders.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace orafon::typelib;

namespace {

LSTATUS CreateKey(HKEY parent, const std::u16string &sub, orafon::CRegKey &key)
{
    return RegCreateKeyExW(parent, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Out(),
                           nullptr);
}

LSTATUS OpenKey(HKEY parent, const std::u16string &sub, orafon::CRegKey &key)
{
    return RegOpenKeyExW(parent, sub.c_str(), 0, KEY_ALL_ACCESS, key.Out());
}

LSTATUS SetString(HKEY key, const char16_t *valueName, const std::u16string &text)
{
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

LSTATUS SetKeyString(HKEY parent, const std::u16string &sub, const std::u16string &text)
{
    orafon::CRegKey key;
    LSTATUS st = CreateKey(parent, sub, key);
    return st == ERROR_SUCCESS ? SetString(key.Get(), nullptr, text) : st;
}

std::optional<std::u16string> GetString(HKEY key, const char16_t *valueName)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    std::vector<char16_t> buf(size / sizeof(char16_t) + 1, u'\0');
    DWORD got = static_cast<DWORD>(buf.size() * sizeof(char16_t));
    if (RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(buf.data()), &got) != ERROR_SUCCESS)
        return std::nullopt;
    return std::u16string(buf.data());
}

std::vector<std::u16string> SubKeys(HKEY key)
{
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
        char16_t name[256];
        DWORD len = 256;
        if (RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, len);
    }
    return names;
}

const char16_t *PlatformKey(SYSKIND syskind)
{
    switch (syskind) {
    case SYS_WIN16:
        return u"win16";
    case SYS_MAC:
        return u"mac";
    case SYS_WIN64:
        return u"win64";
    default:
        return u"win32";
    }
}

std::u16string LibKey(const GUID &libid)
{
    return u"TypeLib\\" + GuidString(libid);
}
std::u16string VersionName(WORD major, WORD minor)
{
    return Hex(major) + u"." + Hex(minor);
}
std::u16string InterfaceKey(const GUID &iid)
{
    return u"Interface\\" + GuidString(iid);
}

// Interfaces whose calls OLE Automation marshals: dispinterfaces, duals and
// oleautomation interfaces.
bool IsAutomationInterface(const TYPEATTR &a)
{
    return a.typekind == TKIND_DISPATCH ||
           (a.typekind == TKIND_INTERFACE && (a.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)));
}

struct InterfaceEntry {
    GUID iid;
    std::u16string name;
};

std::vector<InterfaceEntry> AutomationInterfaces(ITypeLib *lib)
{
    std::vector<InterfaceEntry> out;
    UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        CComPtr<ITypeInfo> info;
        TYPEATTR *attr = nullptr;
        if (FAILED(lib->GetTypeInfo(i, &info)) || FAILED(info->GetTypeAttr(&attr)))
            continue;
        if (IsAutomationInterface(*attr)) {
            BSTR name = nullptr;
            if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)))
                out.push_back({attr->guid, name ? std::u16string(name, SysStringLen(name)) : std::u16string()});
            SysFreeString(name);
        }
        info->ReleaseTypeAttr(attr);
    }
    return out;
}

LSTATUS RegisterInterface(const InterfaceEntry &entry, const std::u16string &libid, const std::u16string &version)
{
    const std::u16string key = InterfaceKey(entry.iid);
    const std::u16string proxy = GuidString(CLSID_PSOAInterface);
    LSTATUS st = SetKeyString(HKEY_CLASSES_ROOT, key, entry.name);
    if (st == ERROR_SUCCESS)
        st = SetKeyString(HKEY_CLASSES_ROOT, key + u"\\ProxyStubClsid", proxy);
    if (st == ERROR_SUCCESS)
        st = SetKeyString(HKEY_CLASSES_ROOT, key + u"\\ProxyStubClsid32", proxy);
    orafon::CRegKey typeLib;
    if (st == ERROR_SUCCESS)
        st = CreateKey(HKEY_CLASSES_ROOT, key + u"\\TypeLib", typeLib);
    if (st == ERROR_SUCCESS)
        st = SetString(typeLib.Get(), nullptr, libid);
    if (st == ERROR_SUCCESS)
        st = SetString(typeLib.Get(), u"Version", version);
    return st;
}

// Removes an interface key only while it still names this library.
void UnregisterInterface(const GUID &iid, const std::u16string &libid)
{
    const std::u16string key = InterfaceKey(iid);
    orafon::CRegKey typeLib;
    if (OpenKey(HKEY_CLASSES_ROOT, key + u"\\TypeLib", typeLib) != ERROR_SUCCESS)
        return;
    std::optional<std::u16string> owner = GetString(typeLib.Get(), nullptr);
    if (owner && NameEquals(*owner, libid))
        RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
}

// The version key: the major asked for with the highest minor not below the
// one asked for.
std::optional<std::u16string> FindVersion(HKEY libKey, WORD major, WORD minor)
{
    std::optional<std::u16string> best;
    uint32_t bestMinor = 0;
    for (const std::u16string &name : SubKeys(libKey)) {
        std::string text = ToUtf8(name);
        unsigned maj = 0, min = 0;
        char extra = 0;
        if (std::sscanf(text.c_str(), "%x.%x%c", &maj, &min, &extra) != 2)
            continue;
        if (maj == major && min >= minor && (!best || min > bestMinor)) {
            best = name;
            bestMinor = min;
        }
    }
    return best;
}

// The locale key: the locale asked for, its primary language, neutral, and
// at last any locale the library was registered for.
std::optional<std::u16string> FindLocale(HKEY versionKey, LCID lcid)
{
    std::vector<std::u16string> names = SubKeys(versionKey);
    auto has = [&](const std::u16string &n) {
        for (const auto &k : names)
            if (NameEquals(k, n))
                return true;
        return false;
    };
    for (LCID candidate : {lcid, static_cast<LCID>(PRIMARYLANGID(LANGIDFROMLCID(lcid))), LCID(0)})
        if (has(Hex(candidate)))
            return Hex(candidate);
    for (const auto &n : names) {
        std::string text = ToUtf8(n);
        unsigned value = 0;
        char extra = 0;
        if (std::sscanf(text.c_str(), "%x%c", &value, &extra) == 1)
            return n;
    }
    return std::nullopt;
}

std::optional<std::u16string> RegisteredPath(HKEY localeKey)
{
    for (const char16_t *platform : {u"win32", u"win64", u"win16", u"mac"}) {
        orafon::CRegKey key;
        if (OpenKey(localeKey, platform, key) != ERROR_SUCCESS)
            continue;
        if (auto path = GetString(key.Get(), nullptr); path && !path->empty())
            return path;
    }
    return std::nullopt;
}

bool HasSubKeys(HKEY key, std::initializer_list<const char16_t *> ignoring = {})
{
    for (const std::u16string &name : SubKeys(key)) {
        bool ignored = false;
        for (const char16_t *skip : ignoring)
            ignored = ignored || NameEquals(name, skip);
        if (!ignored)
            return true;
    }
    return false;
}

constexpr int kWriteAttempts = 8;

struct LibraryEntry {
    TLIBATTR attr;
    std::u16string title;
    LPCOLESTR fullPath;
    LPCOLESTR helpDir;
};

LSTATUS WriteLibraryKeys(const LibraryEntry &e, const std::vector<InterfaceEntry> &interfaces)
{
    const TLIBATTR &a = e.attr;
    const std::u16string libid = GuidString(a.guid);
    const std::u16string version = VersionName(a.wMajorVerNum, a.wMinorVerNum);
    const std::u16string versionKey = LibKey(a.guid) + u"\\" + version;
    LSTATUS st = SetKeyString(HKEY_CLASSES_ROOT, versionKey, e.title);
    if (st == ERROR_SUCCESS)
        st = SetKeyString(HKEY_CLASSES_ROOT, versionKey + u"\\FLAGS",
                          std::u16string(FromUtf8(std::to_string(a.wLibFlags))));
    if (st == ERROR_SUCCESS && e.helpDir)
        st = SetKeyString(HKEY_CLASSES_ROOT, versionKey + u"\\HELPDIR", e.helpDir);
    if (st == ERROR_SUCCESS)
        st = SetKeyString(HKEY_CLASSES_ROOT, versionKey + u"\\" + Hex(a.lcid) + u"\\" + PlatformKey(a.syskind),
                          e.fullPath);
    for (const InterfaceEntry &entry : interfaces) {
        if (st != ERROR_SUCCESS)
            break;
        st = RegisterInterface(entry, libid, version);
    }
    return st;
}

} // namespace

STDAPI RegisterTypeLib(ITypeLib *ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir)
{
    if (!ptlib || !szFullPath || !*szFullPath)
        return E_INVALIDARG;
    TLIBATTR *attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    const TLIBATTR a = *attr;
    ptlib->ReleaseTLibAttr(attr);

    BSTR name = nullptr, doc = nullptr;
    hr = ptlib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    std::u16string title = doc && *doc ? std::u16string(doc) : name ? std::u16string(name) : std::u16string();
    SysFreeString(name);
    SysFreeString(doc);

    const LibraryEntry entry{a, title, szFullPath, szHelpDir};
    const std::vector<InterfaceEntry> interfaces = AutomationInterfaces(ptlib);
    // Another process unregistering the library meanwhile deletes keys under
    // the handles being written; the whole set is written again then.
    LSTATUS st = ERROR_KEY_DELETED;
    for (int attempt = 0; attempt < kWriteAttempts && st == ERROR_KEY_DELETED; ++attempt)
        st = WriteLibraryKeys(entry, interfaces);
    return st == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

STDAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, int syskind)
{
    const std::u16string libKeyName = LibKey(libID);
    const std::u16string versionKeyName = libKeyName + u"\\" + VersionName(wVerMajor, wVerMinor);
    orafon::CRegKey versionKey;
    if (OpenKey(HKEY_CLASSES_ROOT, versionKeyName, versionKey) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    const std::u16string localeName = Hex(lcid);
    const std::u16string platformName = localeName + u"\\" + PlatformKey(static_cast<SYSKIND>(syskind));
    orafon::CRegKey platformKey;
    if (OpenKey(versionKey.Get(), platformName, platformKey) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;

    // The interfaces it registered are known only from the library itself.
    if (std::optional<std::u16string> path = GetString(platformKey.Get(), nullptr)) {
        CComPtr<ITypeLib> lib;
        if (SUCCEEDED(LoadTypeLibEx(path->c_str(), REGKIND_NONE, &lib)))
            for (const InterfaceEntry &entry : AutomationInterfaces(lib))
                UnregisterInterface(entry.iid, GuidString(libID));
    }

    if (RegDeleteTreeW(versionKey.Get(), platformName.c_str()) != ERROR_SUCCESS)
        return TYPE_E_REGISTRYACCESS;
    {
        orafon::CRegKey localeKey;
        if (OpenKey(versionKey.Get(), localeName, localeKey) == ERROR_SUCCESS && !HasSubKeys(localeKey.Get())) {
            localeKey.Reset();
            RegDeleteTreeW(versionKey.Get(), localeName.c_str());
        }
    }
    // The version goes when no other locale is left under it; the library
    // key when no other version is.
    if (!HasSubKeys(versionKey.Get(), {u"FLAGS", u"HELPDIR"})) {
        versionKey.Reset();
        RegDeleteTreeW(HKEY_CLASSES_ROOT, versionKeyName.c_str());
        orafon::CRegKey libKey;
        if (OpenKey(HKEY_CLASSES_ROOT, libKeyName, libKey) == ERROR_SUCCESS && !HasSubKeys(libKey.Get())) {
            libKey.Reset();
            RegDeleteTreeW(HKEY_CLASSES_ROOT, libKeyName.c_str());
        }
    }
    return S_OK;
}

STDAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib **pptlib)
{
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    orafon::CRegKey libKey;
    if (OpenKey(HKEY_CLASSES_ROOT, LibKey(rguid), libKey) != ERROR_SUCCESS)
        return TYPE_E_LIBNOTREGISTERED;
    std::optional<std::u16string> version = FindVersion(libKey.Get(), wVerMajor, wVerMinor);
    orafon::CRegKey versionKey;
    if (!version || OpenKey(libKey.Get(), *version, versionKey) != ERROR_SUCCESS)
        return TYPE_E_LIBNOTREGISTERED;
    std::optional<std::u16string> locale = FindLocale(versionKey.Get(), lcid);
    orafon::CRegKey localeKey;
    if (!locale || OpenKey(versionKey.Get(), *locale, localeKey) != ERROR_SUCCESS)
        return TYPE_E_LIBNOTREGISTERED;
    std::optional<std::u16string> path = RegisteredPath(localeKey.Get());
    if (!path)
        return TYPE_E_LIBNOTREGISTERED;
    return LoadTypeLibEx(path->c_str(), REGKIND_NONE, pptlib);
}

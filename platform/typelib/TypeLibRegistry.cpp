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

#include <orafon/CatchAtEdge.h>
#include <orafon/Holders.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace orafon::typelib;

namespace {

[[nodiscard]] bool IsOutOfMemory(LSTATUS st)
{
    return st == ERROR_NOT_ENOUGH_MEMORY || st == ERROR_OUTOFMEMORY;
}

// A registry failure as a type-library call answers it: running out of
// memory stays what it is, anything else is |otherwise|.
[[nodiscard]] HRESULT RegistryFailure(LSTATUS st, HRESULT otherwise)
{
    return IsOutOfMemory(st) ? E_OUTOFMEMORY : otherwise;
}

[[nodiscard]] LSTATUS CreateKey(HKEY parent, const std::u16string &sub, orafon::CRegKey &key)
{
    return RegCreateKeyExW(parent, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Out(),
                           nullptr);
}

[[nodiscard]] LSTATUS OpenKey(HKEY parent, const std::u16string &sub, orafon::CRegKey &key)
{
    return RegOpenKeyExW(parent, sub.c_str(), 0, KEY_ALL_ACCESS, key.Out());
}

[[nodiscard]] LSTATUS SetString(HKEY key, const char16_t *valueName, const std::u16string &text)
{
    return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
}

[[nodiscard]] LSTATUS SetKeyString(HKEY parent, const std::u16string &sub, const std::u16string &text)
{
    orafon::CRegKey key;
    LSTATUS st = CreateKey(parent, sub, key);
    return st == ERROR_SUCCESS ? SetString(key.Get(), nullptr, text) : st;
}

// A string value; ERROR_FILE_NOT_FOUND also when the value is no string.
[[nodiscard]] LSTATUS GetString(HKEY key, const char16_t *valueName, std::u16string &text)
{
    DWORD type = 0, size = 0;
    if (LSTATUS st = RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size); st != ERROR_SUCCESS)
        return st;
    if (type != REG_SZ)
        return ERROR_FILE_NOT_FOUND;
    std::vector<char16_t> buf(size / sizeof(char16_t) + 1, u'\0');
    DWORD got = static_cast<DWORD>(buf.size() * sizeof(char16_t));
    if (LSTATUS st = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE *>(buf.data()), &got);
        st != ERROR_SUCCESS)
        return st;
    text = buf.data();
    return ERROR_SUCCESS;
}

// Every subkey name, or the failure that cut the listing short.
[[nodiscard]] LSTATUS SubKeys(HKEY key, std::vector<std::u16string> &names)
{
    names.clear();
    for (DWORD i = 0;; ++i) {
        char16_t name[256];
        DWORD len = 256;
        const LSTATUS st = RegEnumKeyExW(key, i, name, &len, nullptr, nullptr, nullptr, nullptr);
        if (st == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (st != ERROR_SUCCESS)
            return st;
        names.emplace_back(name, len);
    }
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
[[nodiscard]] bool IsAutomationInterface(const TYPEATTR &a)
{
    return a.typekind == TKIND_DISPATCH ||
           (a.typekind == TKIND_INTERFACE && (a.wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)));
}

struct InterfaceEntry {
    GUID iid;
    std::u16string name;
};

// The interfaces a library registers. A failure to read one fails the
// whole list: registering (or unregistering) part of a library is no answer.
[[nodiscard]] HRESULT AutomationInterfaces(ITypeLib *lib, std::vector<InterfaceEntry> &out)
{
    out.clear();
    UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        CComPtr<ITypeInfo> info;
        if (HRESULT hr = lib->GetTypeInfo(i, &info); FAILED(hr))
            return hr;
        TYPEATTR *attr = nullptr;
        if (HRESULT hr = info->GetTypeAttr(&attr); FAILED(hr))
            return hr;
        const TYPEATTR a = *attr;
        info->ReleaseTypeAttr(attr);
        if (!IsAutomationInterface(a))
            continue;
        orafon::CBstr name;
        if (HRESULT hr = info->GetDocumentation(MEMBERID_NIL, name.Out(), nullptr, nullptr, nullptr); FAILED(hr))
            return hr;
        out.push_back({a.guid, std::u16string(name.Get() ? name.Get() : u"", name.Length())});
    }
    return S_OK;
}

[[nodiscard]] LSTATUS RegisterInterface(const InterfaceEntry &entry, const std::u16string &libid,
                                        const std::u16string &version)
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
[[nodiscard]] LSTATUS UnregisterInterface(const GUID &iid, const std::u16string &libid)
{
    const std::u16string key = InterfaceKey(iid);
    orafon::CRegKey typeLib;
    if (LSTATUS st = OpenKey(HKEY_CLASSES_ROOT, key + u"\\TypeLib", typeLib); st != ERROR_SUCCESS)
        return st == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : st;
    std::u16string owner;
    if (LSTATUS st = GetString(typeLib.Get(), nullptr, owner); st != ERROR_SUCCESS)
        return st == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : st;
    if (!NameEquals(owner, libid))
        return ERROR_SUCCESS;
    typeLib.Reset();
    const LSTATUS st = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return st == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : st;
}

// The version key: the major asked for with the highest minor not below the
// one asked for.
[[nodiscard]] LSTATUS FindVersion(HKEY libKey, WORD major, WORD minor, std::optional<std::u16string> &best)
{
    best.reset();
    std::vector<std::u16string> names;
    if (LSTATUS st = SubKeys(libKey, names); st != ERROR_SUCCESS)
        return st;
    uint32_t bestMinor = 0;
    for (const std::u16string &name : names) {
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
    return ERROR_SUCCESS;
}

// The locale key: the locale asked for, its primary language, neutral, and
// at last any locale the library was registered for.
[[nodiscard]] LSTATUS FindLocale(HKEY versionKey, LCID lcid, std::optional<std::u16string> &found)
{
    found.reset();
    std::vector<std::u16string> names;
    if (LSTATUS st = SubKeys(versionKey, names); st != ERROR_SUCCESS)
        return st;
    auto has = [&](const std::u16string &n) {
        for (const auto &k : names)
            if (NameEquals(k, n))
                return true;
        return false;
    };
    for (LCID candidate : {lcid, static_cast<LCID>(PRIMARYLANGID(LANGIDFROMLCID(lcid))), LCID(0)}) {
        if (has(Hex(candidate))) {
            found = Hex(candidate);
            return ERROR_SUCCESS;
        }
    }
    for (const auto &n : names) {
        std::string text = ToUtf8(n);
        unsigned value = 0;
        char extra = 0;
        if (std::sscanf(text.c_str(), "%x%c", &value, &extra) == 1) {
            found = n;
            return ERROR_SUCCESS;
        }
    }
    return ERROR_SUCCESS;
}

[[nodiscard]] LSTATUS RegisteredPath(HKEY localeKey, std::optional<std::u16string> &path)
{
    path.reset();
    for (const char16_t *platform : {u"win32", u"win64", u"win16", u"mac"}) {
        orafon::CRegKey key;
        if (LSTATUS st = OpenKey(localeKey, platform, key); st != ERROR_SUCCESS) {
            if (st == ERROR_FILE_NOT_FOUND)
                continue;
            return st;
        }
        std::u16string text;
        const LSTATUS st = GetString(key.Get(), nullptr, text);
        if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND)
            return st;
        if (st == ERROR_SUCCESS && !text.empty()) {
            path = std::move(text);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_SUCCESS;
}

[[nodiscard]] LSTATUS HasSubKeys(HKEY key, bool &has, std::initializer_list<const char16_t *> ignoring = {})
{
    has = false;
    std::vector<std::u16string> names;
    if (LSTATUS st = SubKeys(key, names); st != ERROR_SUCCESS)
        return st;
    for (const std::u16string &name : names) {
        bool ignored = false;
        for (const char16_t *skip : ignoring)
            ignored = ignored || NameEquals(name, skip);
        has = has || !ignored;
    }
    return ERROR_SUCCESS;
}

constexpr int kWriteAttempts = 8;

struct LibraryEntry {
    TLIBATTR attr;
    std::u16string title;
    LPCOLESTR fullPath;
    LPCOLESTR helpDir;
};

[[nodiscard]] LSTATUS WriteLibraryKeys(const LibraryEntry &e, const std::vector<InterfaceEntry> &interfaces)
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

// The keys a registration would create, found before it writes anything, so
// that a registration that fails part way removes what it made: the
// registry then holds the library as it did before, not a part of it.
class NewKeys {
public:
    [[nodiscard]] LSTATUS Find(const LibraryEntry &e, const std::vector<InterfaceEntry> &interfaces)
    {
        const TLIBATTR &a = e.attr;
        const std::u16string libKey = LibKey(a.guid);
        std::vector<std::u16string> candidates{libKey + u"\\" + VersionName(a.wMajorVerNum, a.wMinorVerNum), libKey};
        for (const InterfaceEntry &entry : interfaces)
            candidates.push_back(InterfaceKey(entry.iid));
        for (std::u16string &key : candidates) {
            orafon::CRegKey existing;
            const LSTATUS st = OpenKey(HKEY_CLASSES_ROOT, key, existing);
            if (st == ERROR_FILE_NOT_FOUND)
                keys_.push_back(std::move(key));
            else if (st != ERROR_SUCCESS)
                return st;
        }
        return ERROR_SUCCESS;
    }

    // Deepest first: a version key goes before the library key above it.
    void Remove() const noexcept
    {
        for (const std::u16string &key : keys_)
            static_cast<void>(RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str())); // a key never made is no failure
    }

private:
    std::vector<std::u16string> keys_;
};

[[nodiscard]] HRESULT Register(ITypeLib *ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir)
{
    TLIBATTR *attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    const TLIBATTR a = *attr;
    ptlib->ReleaseTLibAttr(attr);

    orafon::CBstr name, doc;
    hr = ptlib->GetDocumentation(-1, name.Out(), doc.Out(), nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    std::u16string title = doc.Length()    ? std::u16string(doc.Get(), doc.Length())
                           : name.Length() ? std::u16string(name.Get(), name.Length())
                                           : std::u16string();

    const LibraryEntry entry{a, std::move(title), szFullPath, szHelpDir};
    std::vector<InterfaceEntry> interfaces;
    if (hr = AutomationInterfaces(ptlib, interfaces); FAILED(hr))
        return hr;
    NewKeys made;
    if (LSTATUS st = made.Find(entry, interfaces); st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_REGISTRYACCESS);
    // Another process unregistering the library meanwhile deletes keys under
    // the handles being written; the whole set is written again then.
    LSTATUS st = ERROR_KEY_DELETED;
    try {
        for (int attempt = 0; attempt < kWriteAttempts && st == ERROR_KEY_DELETED; ++attempt)
            st = WriteLibraryKeys(entry, interfaces);
    } catch (...) {
        made.Remove();
        throw;
    }
    if (st != ERROR_SUCCESS)
        made.Remove();
    return st == ERROR_SUCCESS ? S_OK : RegistryFailure(st, TYPE_E_REGISTRYACCESS);
}

// The key an unregistration deletes, below HKEY_CLASSES_ROOT: the platform
// key with what it leaves empty (its locale; the version when no other
// locale is left under it; the library key when no other version is), so
// that one deletion removes the registration whole.
LSTATUS WhatGoes(HKEY versionKey, const std::u16string &libKeyName, const std::u16string &version,
                 const std::u16string &locale, const std::u16string &platform, std::u16string &doomed)
{
    const std::u16string versionKeyName = libKeyName + u"\\" + version;
    doomed = versionKeyName + u"\\" + locale + u"\\" + platform;
    orafon::CRegKey localeKey;
    if (LSTATUS st = OpenKey(versionKey, locale, localeKey); st != ERROR_SUCCESS)
        return st;
    bool inUse = true;
    if (LSTATUS st = HasSubKeys(localeKey.Get(), inUse, {platform.c_str()}); st != ERROR_SUCCESS || inUse)
        return st;
    doomed = versionKeyName + u"\\" + locale;
    if (LSTATUS st = HasSubKeys(versionKey, inUse, {u"FLAGS", u"HELPDIR", locale.c_str()});
        st != ERROR_SUCCESS || inUse)
        return st;
    doomed = versionKeyName;
    orafon::CRegKey libKey;
    if (LSTATUS st = OpenKey(HKEY_CLASSES_ROOT, libKeyName, libKey); st != ERROR_SUCCESS)
        return st;
    if (LSTATUS st = HasSubKeys(libKey.Get(), inUse, {version.c_str()}); st != ERROR_SUCCESS || inUse)
        return st;
    doomed = libKeyName;
    return ERROR_SUCCESS;
}

// The interfaces go first: a call that fails part way leaves the library
// registered, so calling again finishes the work.
[[nodiscard]] HRESULT Unregister(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, int syskind)
{
    const std::u16string libKeyName = LibKey(libID);
    const std::u16string versionKeyName = libKeyName + u"\\" + VersionName(wVerMajor, wVerMinor);
    orafon::CRegKey versionKey;
    if (LSTATUS st = OpenKey(HKEY_CLASSES_ROOT, versionKeyName, versionKey); st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_REGISTRYACCESS);
    const std::u16string localeName = Hex(lcid);
    const std::u16string platformName = localeName + u"\\" + PlatformKey(static_cast<SYSKIND>(syskind));
    orafon::CRegKey platformKey;
    if (LSTATUS st = OpenKey(versionKey.Get(), platformName, platformKey); st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_REGISTRYACCESS);

    // The interfaces it registered are known only from the library itself;
    // a library file that is gone leaves them be.
    std::u16string path;
    if (LSTATUS st = GetString(platformKey.Get(), nullptr, path); st == ERROR_SUCCESS) {
        CComPtr<ITypeLib> lib;
        HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
        if (hr == E_OUTOFMEMORY)
            return hr;
        std::vector<InterfaceEntry> interfaces;
        if (SUCCEEDED(hr) && FAILED(hr = AutomationInterfaces(lib, interfaces)))
            return hr;
        const std::u16string libid = GuidString(libID);
        for (const InterfaceEntry &entry : interfaces)
            if (LSTATUS gone = UnregisterInterface(entry.iid, libid); gone != ERROR_SUCCESS)
                return RegistryFailure(gone, TYPE_E_REGISTRYACCESS);
    } else if (st != ERROR_FILE_NOT_FOUND) {
        return RegistryFailure(st, TYPE_E_REGISTRYACCESS);
    }
    platformKey.Reset();

    std::u16string doomed;
    if (LSTATUS st = WhatGoes(versionKey.Get(), libKeyName, VersionName(wVerMajor, wVerMinor), localeName,
                              PlatformKey(static_cast<SYSKIND>(syskind)), doomed);
        st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_REGISTRYACCESS);
    versionKey.Reset();
    if (LSTATUS st = RegDeleteTreeW(HKEY_CLASSES_ROOT, doomed.c_str()); st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_REGISTRYACCESS);
    return S_OK;
}

[[nodiscard]] HRESULT LoadRegistered(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib **pptlib)
{
    orafon::CRegKey libKey;
    if (LSTATUS st = OpenKey(HKEY_CLASSES_ROOT, LibKey(rguid), libKey); st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_LIBNOTREGISTERED);
    std::optional<std::u16string> version;
    if (LSTATUS st = FindVersion(libKey.Get(), wVerMajor, wVerMinor, version); st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_LIBNOTREGISTERED);
    if (!version)
        return TYPE_E_LIBNOTREGISTERED;
    orafon::CRegKey versionKey;
    if (LSTATUS st = OpenKey(libKey.Get(), *version, versionKey); st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_LIBNOTREGISTERED);
    std::optional<std::u16string> locale;
    if (LSTATUS st = FindLocale(versionKey.Get(), lcid, locale); st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_LIBNOTREGISTERED);
    if (!locale)
        return TYPE_E_LIBNOTREGISTERED;
    orafon::CRegKey localeKey;
    if (LSTATUS st = OpenKey(versionKey.Get(), *locale, localeKey); st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_LIBNOTREGISTERED);
    std::optional<std::u16string> path;
    if (LSTATUS st = RegisteredPath(localeKey.Get(), path); st != ERROR_SUCCESS)
        return RegistryFailure(st, TYPE_E_LIBNOTREGISTERED);
    if (!path)
        return TYPE_E_LIBNOTREGISTERED;
    return LoadTypeLibEx(path->c_str(), REGKIND_NONE, pptlib);
}

} // namespace

STDAPI RegisterTypeLib(ITypeLib *ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir)
{
    if (!ptlib || !szFullPath || !*szFullPath)
        return E_INVALIDARG;
    return orafon::CatchAtEdge([&] { return Register(ptlib, szFullPath, szHelpDir); });
}

STDAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, int syskind)
{
    return orafon::CatchAtEdge([&] { return Unregister(libID, wVerMajor, wVerMinor, lcid, syskind); });
}

STDAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib **pptlib)
{
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    return orafon::CatchAtEdge([&] { return LoadRegistered(rguid, wVerMajor, wVerMinor, lcid, pptlib); });
}

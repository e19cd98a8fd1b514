// A second process for the registry tests. Commands:
//   set <key> <name> <text>     writes a REG_SZ value under HKCU\<key>
//   get <key> <name>            prints a REG_SZ value (exit 1 when missing)
//   fill <key> <prefix> <count> writes count REG_DWORD values prefix<i> = i,
//                               each in its own call, as concurrent writers do
#include <orafon/Holders.h>
#include <orafon/win/winreg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Set(const char *path, const char *name, const char *text)
{
    orafon::CRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr) !=
        ERROR_SUCCESS)
        return 2;
    const LSTATUS s = RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                                     static_cast<DWORD>(strlen(text) + 1));
    return s == ERROR_SUCCESS ? 0 : 3;
}

int Get(const char *path, const char *name)
{
    orafon::CRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
        return 1;
    char buf[4096];
    DWORD size = sizeof(buf);
    DWORD type = 0;
    const LSTATUS s = RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE *>(buf), &size);
    if (s != ERROR_SUCCESS || type != REG_SZ)
        return 1;
    std::fputs(buf, stdout);
    return 0;
}

int Fill(const char *path, const char *prefix, int count)
{
    orafon::CRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr) !=
        ERROR_SUCCESS)
        return 2;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const std::string name = prefix + std::to_string(i);
        const DWORD value = static_cast<DWORD>(i);
        if (RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                           sizeof(value)) != ERROR_SUCCESS)
            ++failures;
    }
    return failures == 0 ? 0 : 4;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::strcmp(argv[1], "set") == 0)
        return Set(argv[2], argv[3], argv[4]);
    if (argc == 4 && std::strcmp(argv[1], "get") == 0)
        return Get(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "fill") == 0)
        return Fill(argv[2], argv[3], std::atoi(argv[4]));
    std::fputs("usage: registry_helper set|get|fill ...\n", stderr);
    return 64;
}

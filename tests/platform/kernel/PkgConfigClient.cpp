// A client built only from what `pkg-config orafon` gives: headers and the
// platform library.
#if __has_include(<orafon/Orafon.h>)
#include <orafon/Holders.h>
#include <orafon/Orafon.h>
#endif
#include <orafon/win/windows.h>

#include <cstdio>

int main()
{
    if (FAILED(CoInitialize(nullptr)))
        return 1;
    OLECHAR text[39];
    if (StringFromGUID2(IID_IClassFactory, text, 39) != 39)
        return 2;
    char narrow[64];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof(narrow), nullptr, nullptr) != 39)
        return 3;
    orafon::CRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\OrafonClient", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(),
                        nullptr) != ERROR_SUCCESS)
        return 4;
    key.Reset();
    CoUninitialize();
    std::puts(narrow);
    return 0;
}

// Run with the platform library and a "speech platform module" in a folder
// of their own (through LD_LIBRARY_PATH): creates the test class, which no
// registry entry names, and prints where the platform library was loaded.
#include "TestServer.h"

#include <orafon/win/winbase.h>

#include <cstdio>

int main()
{
    if (FAILED(CoInitialize(nullptr)))
        return 2;
    int status = 0;
    {
        CComPtr<ITestAdder> adder;
        const HRESULT hr = CoCreateInstance(CLSID_TestAdder, nullptr, CLSCTX_INPROC_SERVER, IID_ITestAdder,
                                            reinterpret_cast<void **>(&adder));
        LONG sum = 0;
        if (FAILED(hr))
            status = 3;
        else if (FAILED(adder->Add(2, 3, &sum)) || sum != 5)
            status = 4;
        std::printf("%08X\n", static_cast<unsigned>(hr));
    }
    HMODULE platform = nullptr;
    char path[4096] = {};
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&CoCreateInstance), &platform))
        GetModuleFileNameA(platform, path, sizeof(path));
    std::printf("%s\n", path);
    CoUninitialize();
    return status;
}

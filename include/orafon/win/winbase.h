// Kernel pieces: modules, text conversion, locale, interlocked counts, critical sections.
// Implemented in platform/kernel (part of liborafon_platform).
#pragma once

#include <orafon/win/wintypes.h>

STDAPI_(HMODULE) LoadLibraryA(LPCSTR lpLibFileName);
STDAPI_(BOOL) FreeLibrary(HMODULE hLibModule);
typedef void (*FARPROC)(void);
STDAPI_(FARPROC) GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
// hModule null: the main program. Returns the length copied, 0 on failure.
STDAPI_(DWORD) GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
// The module that contains the given address (GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS).
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x4
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x2
STDAPI_(BOOL) GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE *phModule);
STDAPI_(DWORD) GetLastError(void);
STDAPI_(void) SetLastError(DWORD dwErrCode);

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x01
#define MB_ERR_INVALID_CHARS 0x08
#define WC_NO_BEST_FIT_CHARS 0x400
#define WC_ERR_INVALID_CHARS 0x80
STDAPI_(int) MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                 LPWSTR lpWideCharStr, int cchWideChar);
STDAPI_(int) WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                 LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                 BOOL *lpUsedDefaultChar);

#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#define PRIMARYLANGID(lgid) ((WORD)(lgid) & 0x3ff)
#define SUBLANGID(lgid) ((WORD)(lgid) >> 10)
#define MAKELCID(lgid, srtid) ((DWORD)((((DWORD)((WORD)(srtid))) << 16) | ((DWORD)((WORD)(lgid)))))
#define LANGIDFROMLCID(lcid) ((WORD)(lcid))
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_INVARIANT 0x007F
#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_ENGLISH_US 0x01
STDAPI_(LANGID) GetUserDefaultUILanguage(void);
STDAPI_(LANGID) GetUserDefaultLangID(void);
STDAPI_(LCID) GetUserDefaultLCID(void);
STDAPI_(LCID) GetThreadLocale(void);

STDAPI_(LONG) InterlockedIncrement(LONG volatile *Addend);
STDAPI_(LONG) InterlockedDecrement(LONG volatile *Addend);
STDAPI_(LONG) InterlockedExchange(LONG volatile *Target, LONG Value);

// Opaque to callers; large enough for a recursive pthread mutex.
typedef struct _RTL_CRITICAL_SECTION {
    alignas(8) unsigned char opaque[64];
} CRITICAL_SECTION, *LPCRITICAL_SECTION;
STDAPI_(void) InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
STDAPI_(BOOL) InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount);
STDAPI_(void) EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
STDAPI_(BOOL) TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
STDAPI_(void) LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
STDAPI_(void) DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

STDAPI_(DWORD) GetCurrentThreadId(void);
STDAPI_(void) Sleep(DWORD dwMilliseconds);
STDAPI_(DWORD) GetTickCount(void);

#define MAX_PATH 260
#define INFINITE 0xFFFFFFFF

// Basic Windows types, GUIDs and result codes with their 32-bit Windows sizes.
// Everything here is plain data: no functions, no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Calling conventions are meaningless on x86_64 Linux; keep the words so
// declarations read as they do on Windows.
#define WINAPI
#define STDAPICALLTYPE
#define STDMETHODCALLTYPE
#define CALLBACK
#define __stdcall
#define __cdecl

#ifdef __cplusplus
#define EXTERN_C extern "C"
#else
#define EXTERN_C extern
#endif

// Libraries are built with hidden symbols; what they export says so. Every
// platform function (STDAPI) is an export of the library that defines it.
#define ORAFON_EXPORT __attribute__((visibility("default")))

#define STDAPI EXTERN_C ORAFON_EXPORT HRESULT STDAPICALLTYPE
#define STDAPI_(type) EXTERN_C ORAFON_EXPORT type STDAPICALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef int32_t INT;
typedef int32_t BOOL;
typedef int32_t HRESULT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef float FLOAT;
typedef double DOUBLE;
typedef int64_t LONG64;
typedef uint64_t DWORD64;
typedef uint64_t QWORD;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef ULONG_PTR SIZE_T;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef void VOID;
typedef void *PVOID;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef BYTE *LPBYTE;
typedef DWORD *LPDWORD;
typedef LONG *LPLONG;
typedef WORD LANGID;
typedef DWORD LCID;

typedef char16_t WCHAR;
typedef WCHAR OLECHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
typedef CHAR *LPSTR;
typedef const CHAR *LPCSTR;
typedef OLECHAR *BSTR;
typedef int16_t VARIANT_BOOL;

#define OLESTR(str) u##str
#define L16(str) u##str

#define TRUE 1
#define FALSE 0
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

// Opaque handles.
typedef void *HANDLE;
typedef struct HINSTANCE__ *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HKEY__ *HKEY;
typedef HKEY *PHKEY;
typedef struct HWND__ *HWND;

static_assert(sizeof(LONG) == 4 && sizeof(HRESULT) == 4 && sizeof(DWORD) == 4);
static_assert(sizeof(WCHAR) == 2 && sizeof(VARIANT_BOOL) == 2);

// ---- GUIDs ----------------------------------------------------------------

typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;
static_assert(sizeof(GUID) == 16);

typedef GUID IID;
typedef GUID CLSID;
typedef GUID FMTID;
typedef IID *LPIID;
typedef CLSID *LPCLSID;
#define REFGUID const GUID &
#define REFIID const IID &
#define REFCLSID const CLSID &
#define REFFMTID const FMTID &

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

// Defines a GUID constant usable from any number of translation units.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

extern "C++" {
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL
}

// ---- Result codes -----------------------------------------------------------

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1fff)
#define SEVERITY_SUCCESS 0
#define SEVERITY_ERROR 1
#define FACILITY_NULL 0
#define FACILITY_RPC 1
#define FACILITY_DISPATCH 2
#define FACILITY_STORAGE 3
#define FACILITY_ITF 4
#define FACILITY_WIN32 7
#define MAKE_HRESULT(sev, fac, code) \
    ((HRESULT)(((uint32_t)(sev) << 31) | ((uint32_t)(fac) << 16) | ((uint32_t)(code))))

constexpr HRESULT HRESULT_FROM_WIN32(uint32_t x)
{
    return (HRESULT)x <= 0 ? (HRESULT)x : (HRESULT)((x & 0x0000FFFF) | (FACILITY_WIN32 << 16) | 0x80000000);
}

#define _HR(x) ((HRESULT)(x))
#define S_OK _HR(0)
#define S_FALSE _HR(1)
#define NOERROR S_OK
#define E_UNEXPECTED _HR(0x8000FFFF)
#define E_NOTIMPL _HR(0x80004001)
#define E_OUTOFMEMORY _HR(0x8007000E)
#define E_INVALIDARG _HR(0x80070057)
#define E_NOINTERFACE _HR(0x80004002)
#define E_POINTER _HR(0x80004003)
#define E_HANDLE _HR(0x80070006)
#define E_ABORT _HR(0x80004004)
#define E_FAIL _HR(0x80004005)
#define E_ACCESSDENIED _HR(0x80070005)
#define E_PENDING _HR(0x8000000A)

#define CO_E_NOTINITIALIZED _HR(0x800401F0)
#define CO_E_ALREADYINITIALIZED _HR(0x800401F1)
#define CO_E_CLASSSTRING _HR(0x800401F3)
#define CO_E_DLLNOTFOUND _HR(0x800401F8)
#define CO_E_ERRORINDLL _HR(0x800401F9)
#define CO_E_IIDSTRING _HR(0x800401F4)
#define RPC_E_CHANGED_MODE _HR(0x80010106)
#define REGDB_E_CLASSNOTREG _HR(0x80040154)
#define REGDB_E_READREGDB _HR(0x80040150)
#define REGDB_E_WRITEREGDB _HR(0x80040151)
#define REGDB_E_KEYMISSING _HR(0x80040152)
#define REGDB_E_IIDNOTREG _HR(0x80040155)
#define CLASS_E_NOAGGREGATION _HR(0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE _HR(0x80040111)
#define OLE_E_ADVISENOTSUPPORTED _HR(0x80040003)
#define OLE_E_NOCONNECTION _HR(0x80040004)

#define CONNECT_E_NOCONNECTION _HR(0x80040200)
#define CONNECT_E_ADVISELIMIT _HR(0x80040201)
#define CONNECT_E_CANNOTCONNECT _HR(0x80040202)
#define CONNECT_E_OVERRIDDEN _HR(0x80040203)

#define DISP_E_UNKNOWNINTERFACE _HR(0x80020001)
#define DISP_E_MEMBERNOTFOUND _HR(0x80020003)
#define DISP_E_PARAMNOTFOUND _HR(0x80020004)
#define DISP_E_TYPEMISMATCH _HR(0x80020005)
#define DISP_E_UNKNOWNNAME _HR(0x80020006)
#define DISP_E_NONAMEDARGS _HR(0x80020007)
#define DISP_E_BADVARTYPE _HR(0x80020008)
#define DISP_E_EXCEPTION _HR(0x80020009)
#define DISP_E_OVERFLOW _HR(0x8002000A)
#define DISP_E_BADINDEX _HR(0x8002000B)
#define DISP_E_UNKNOWNLCID _HR(0x8002000C)
#define DISP_E_ARRAYISLOCKED _HR(0x8002000D)
#define DISP_E_BADPARAMCOUNT _HR(0x8002000E)
#define DISP_E_PARAMNOTOPTIONAL _HR(0x8002000F)
#define DISP_E_DIVBYZERO _HR(0x80020012)

#define TYPE_E_ELEMENTNOTFOUND _HR(0x8002802B)
#define TYPE_E_LIBNOTREGISTERED _HR(0x8002801D)
#define TYPE_E_CANTLOADLIBRARY _HR(0x80029C4A)
#define TYPE_E_INVDATAREAD _HR(0x80028018)
#define TYPE_E_UNSUPFORMAT _HR(0x80028019)
#define TYPE_E_REGISTRYACCESS _HR(0x8002801C)
#define TYPE_E_BADMODULEKIND _HR(0x800288BD)
#define TYPE_E_WRONGTYPEKIND _HR(0x8002802A)

#define STG_E_INVALIDFUNCTION _HR(0x80030001)
#define STG_E_FILENOTFOUND _HR(0x80030002)
#define STG_E_ACCESSDENIED _HR(0x80030005)
#define STG_E_INVALIDPOINTER _HR(0x80030009)
#define STG_E_MEDIUMFULL _HR(0x80030070)
#define STG_E_WRITEFAULT _HR(0x8003001D)
#define STG_E_READFAULT _HR(0x8003001E)
#define STG_E_INVALIDPARAMETER _HR(0x80030057)

// Win32 error codes.
#define ERROR_SUCCESS 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_INTERNAL_ERROR 1359L
#define ERROR_BADDB 1009L
#define ERROR_BADKEY 1010L
#define ERROR_CANTOPEN 1011L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_INVALID_THREAD_ID 1444L
#define ERROR_NOT_ENOUGH_QUOTA 1816L

// Speech platform (SAPI 5) codes the component relies on.
#define SPERR_NOT_FOUND _HR(0x8004503A)
#define SPERR_XML_BAD_SYNTAX _HR(0x80045042)
#define SPERR_UNINITIALIZED _HR(0x80045001)
#define SPERR_ALREADY_INITIALIZED _HR(0x80045002)
#define SPERR_UNSUPPORTED_FORMAT _HR(0x80045003)
#define SPERR_INVALID_FLAGS _HR(0x80045004)
#define SPERR_DEVICE_BUSY _HR(0x80045006)
#define SPERR_STREAM_CLOSED _HR(0x80045024)
#define SPERR_NO_MORE_ITEMS _HR(0x80045025)

// ---- Wave format ------------------------------------------------------------

#define WAVE_FORMAT_PCM 1
#define WAVE_FORMAT_ADPCM 2
#define WAVE_FORMAT_IEEE_FLOAT 3

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} WAVEFORMATEX;
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
typedef WAVEFORMATEX *PWAVEFORMATEX;
typedef WAVEFORMATEX *LPWAVEFORMATEX;
typedef const WAVEFORMATEX *LPCWAVEFORMATEX;

// Thread message queues and message-only windows.
// Implemented in platform/user (part of liborafon_platform).
#pragma once

#include <orafon/win/wintypes.h>

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

typedef LRESULT(CALLBACK *WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HANDLE hIcon;
    HANDLE hCursor;
    HANDLE hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HANDLE hIconSm;
} WNDCLASSEXA;
typedef WORD ATOM;
#define MAKEINTATOM(i) ((LPCSTR)((ULONG_PTR)((WORD)(i))))

// What WM_NCCREATE and WM_CREATE carry in lParam.
typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HANDLE hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)
#define GWLP_USERDATA (-21)
#define GWLP_WNDPROC (-4)
#define PM_NOYIELD 0x0002

#define ERROR_WINDOW_OF_OTHER_THREAD 1408L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CLASS_DOES_NOT_EXIST 1411L
#define ERROR_CLASS_HAS_WINDOWS 1412L
#define ERROR_INVALID_INDEX 1413L

STDAPI_(ATOM) RegisterClassExA(const WNDCLASSEXA *lpwcx);
STDAPI_(BOOL) UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance);
// Only message-only windows (hWndParent == HWND_MESSAGE) are supported; a
// window belongs to the thread that created it.
STDAPI_(HWND) CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                              int nWidth, int nHeight, HWND hWndParent, HANDLE hMenu, HINSTANCE hInstance,
                              LPVOID lpParam);
STDAPI_(BOOL) DestroyWindow(HWND hWnd);
STDAPI_(BOOL) IsWindow(HWND hWnd);
STDAPI_(LONG_PTR) SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
STDAPI_(LONG_PTR) GetWindowLongPtrA(HWND hWnd, int nIndex);
STDAPI_(LRESULT) DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

STDAPI_(BOOL) PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
STDAPI_(BOOL) PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);
STDAPI_(LRESULT) SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
STDAPI_(BOOL) GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
STDAPI_(BOOL) PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
STDAPI_(BOOL) TranslateMessage(const MSG *lpMsg);
STDAPI_(LRESULT) DispatchMessageA(const MSG *lpMsg);
STDAPI_(void) PostQuitMessage(int nExitCode);
// Waits until a message arrives in the calling thread's queue or the timeout passes.
#define QS_ALLINPUT 0x04FF
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT 258
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
STDAPI_(DWORD) MsgWaitForMultipleObjects(DWORD nCount, const HANDLE *pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                         DWORD dwWakeMask);

#define PostMessage PostMessageA
#define PostThreadMessage PostThreadMessageA
#define SendMessage SendMessageA
#define GetMessage GetMessageA
#define PeekMessage PeekMessageA
#define DispatchMessage DispatchMessageA
#define RegisterClassEx RegisterClassExA
#define CreateWindowEx CreateWindowExA
#define DefWindowProc DefWindowProcA

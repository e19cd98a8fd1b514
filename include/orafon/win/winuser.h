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

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define WM_APP 0x8000
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)
#define GWLP_USERDATA (-21)

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

// The interface and class of the small in-process server the COM tests load.
#pragma once

#include <orafon/win/objbase.h>

// {6A1B2C3D-4E5F-4711-8899-AABBCCDDEEF0}
DEFINE_GUID(IID_ITestAdder, 0x6A1B2C3D, 0x4E5F, 0x4711, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0);
// {0F1E2D3C-4B5A-4697-8877-665544332211}
DEFINE_GUID(CLSID_TestAdder, 0x0F1E2D3C, 0x4B5A, 0x4697, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11);

struct ITestAdder : public IUnknown {
    STDMETHOD(Add)(LONG a, LONG b, LONG *sum) PURE;
};
ORAFON_DECLARE_IID(ITestAdder, IID_ITestAdder);

// Extra exports for the tests: live objects and server locks, and how often
// DllGetClassObject was asked.
typedef LONG(STDAPICALLTYPE *LPFNTESTSERVERCOUNT)(void);
STDAPI_(LONG) TestServerRequests(void);

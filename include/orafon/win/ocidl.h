// Connectable objects and the small control interfaces hosts ask for.
#pragma once

#include <orafon/win/oaidl.h>

DEFINE_GUID(IID_IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IEnumConnectionPoints, 0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IEnumConnections, 0xB196B287, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IPropertyNotifySink, 0x9BFBBC02, 0xEFF1, 0x101A, 0x84, 0xED, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IProvideClassInfo, 0xB196B283, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);
DEFINE_GUID(IID_IProvideClassInfo2, 0xA6BC3AC0, 0xDBAA, 0x11CE, 0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
DEFINE_GUID(IID_IObjectWithSite, 0xFC4801A3, 0x2BA9, 0x11CF, 0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52);

struct IConnectionPointContainer;
struct IConnectionPoint;

typedef struct tagCONNECTDATA {
    IUnknown *pUnk;
    DWORD dwCookie;
} CONNECTDATA, *LPCONNECTDATA;

struct IEnumConnections : public IUnknown {
    STDMETHOD(Next)(ULONG cConnections, CONNECTDATA *rgcd, ULONG *pcFetched) PURE;
    STDMETHOD(Skip)(ULONG cConnections) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumConnections **ppEnum) PURE;
};
ORAFON_DECLARE_IID(IEnumConnections, IID_IEnumConnections);

struct IConnectionPoint : public IUnknown {
    STDMETHOD(GetConnectionInterface)(IID *pIID) PURE;
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer **ppCPC) PURE;
    STDMETHOD(Advise)(IUnknown *pUnkSink, DWORD *pdwCookie) PURE;
    STDMETHOD(Unadvise)(DWORD dwCookie) PURE;
    STDMETHOD(EnumConnections)(IEnumConnections **ppEnum) PURE;
};
ORAFON_DECLARE_IID(IConnectionPoint, IID_IConnectionPoint);

struct IEnumConnectionPoints : public IUnknown {
    STDMETHOD(Next)(ULONG cConnections, IConnectionPoint **ppCP, ULONG *pcFetched) PURE;
    STDMETHOD(Skip)(ULONG cConnections) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumConnectionPoints **ppEnum) PURE;
};
ORAFON_DECLARE_IID(IEnumConnectionPoints, IID_IEnumConnectionPoints);

struct IConnectionPointContainer : public IUnknown {
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints **ppEnum) PURE;
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint **ppCP) PURE;
};
ORAFON_DECLARE_IID(IConnectionPointContainer, IID_IConnectionPointContainer);

struct IPropertyNotifySink : public IUnknown {
    STDMETHOD(OnChanged)(DISPID dispID) PURE;
    STDMETHOD(OnRequestEdit)(DISPID dispID) PURE;
};
ORAFON_DECLARE_IID(IPropertyNotifySink, IID_IPropertyNotifySink);

struct IProvideClassInfo : public IUnknown {
    STDMETHOD(GetClassInfo)(ITypeInfo **ppTI) PURE;
};
ORAFON_DECLARE_IID(IProvideClassInfo, IID_IProvideClassInfo);

#define GUIDKIND_DEFAULT_SOURCE_DISP_IID 1
struct IProvideClassInfo2 : public IProvideClassInfo {
    STDMETHOD(GetGUID)(DWORD dwGuidKind, GUID *pGUID) PURE;
};
ORAFON_DECLARE_IID(IProvideClassInfo2, IID_IProvideClassInfo2);

struct IObjectWithSite : public IUnknown {
    STDMETHOD(SetSite)(IUnknown *pUnkSite) PURE;
    STDMETHOD(GetSite)(REFIID riid, void **ppvSite) PURE;
};
ORAFON_DECLARE_IID(IObjectWithSite, IID_IObjectWithSite);

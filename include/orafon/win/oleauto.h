// OLE Automation functions: BSTRs, VARIANT handling and conversion, error objects.
// Implemented in platform/oleaut (part of liborafon_platform).
#pragma once

#include <orafon/win/oaidl.h>

// BSTR: a 32-bit byte-length prefix, then the characters, then a NUL; the
// pointer addresses the first character. A null BSTR reads as empty.
STDAPI_(BSTR) SysAllocString(const OLECHAR *psz);
STDAPI_(BSTR) SysAllocStringLen(const OLECHAR *strIn, UINT ui);
STDAPI_(BSTR) SysAllocStringByteLen(LPCSTR psz, UINT len);
STDAPI_(INT) SysReAllocString(BSTR *pbstr, const OLECHAR *psz);
STDAPI_(INT) SysReAllocStringLen(BSTR *pbstr, const OLECHAR *psz, UINT len);
STDAPI_(void) SysFreeString(BSTR bstrString);
STDAPI_(UINT) SysStringLen(BSTR pbstr);
STDAPI_(UINT) SysStringByteLen(BSTR bstr);

// Flags of VariantChangeType(Ex).
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_CALENDAR_HIJRI 0x08
#define VARIANT_LOCALBOOL 0x10

STDAPI_(void) VariantInit(VARIANTARG *pvarg);
STDAPI VariantClear(VARIANTARG *pvarg);
STDAPI VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc);
STDAPI VariantCopyInd(VARIANT *pvarDest, const VARIANTARG *pvargSrc);
STDAPI VariantChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, USHORT wFlags, VARTYPE vt);
STDAPI VariantChangeTypeEx(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc, LCID lcid, USHORT wFlags, VARTYPE vt);

STDAPI CreateErrorInfo(ICreateErrorInfo **pperrinfo);
STDAPI SetErrorInfo(ULONG dwReserved, IErrorInfo *perrinfo);
STDAPI GetErrorInfo(ULONG dwReserved, IErrorInfo **pperrinfo);

// Type libraries (ITypeLib and ITypeInfo are declared in typeinfo.h).
typedef enum tagREGKIND { REGKIND_DEFAULT, REGKIND_REGISTER, REGKIND_NONE } REGKIND;
STDAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib **pptlib);
STDAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib **pptlib);
STDAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib **pptlib);
STDAPI RegisterTypeLib(ITypeLib *ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir);
STDAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, int syskind);

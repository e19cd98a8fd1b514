// A counting IDispatch for the VARIANT tests: it records its references and
// answers DISPID_VALUE property gets with a configured value.
#pragma once

#include <orafon/win/oleauto.h>

struct CountingDispatch final : IDispatch {
    LONG refs = 1;
    int invokes = 0;
    VARIANT value{}; // returned for DISPID_VALUE (copied)
    HRESULT invokeResult = S_OK;
    bool dispatchInterface = true; // answers IID_IDispatch

    CountingDispatch() { VariantInit(&value); }
    ~CountingDispatch() { VariantClear(&value); }

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || (dispatchInterface && riid == IID_IDispatch)) {
            *ppv = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    // Owned by the test, never deleted through Release.
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT *pctinfo) override
    {
        *pctinfo = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *,
                        UINT *) override
    {
        ++invokes;
        if (id != DISPID_VALUE || flags != DISPATCH_PROPERTYGET || !params || params->cArgs != 0 || !result)
            return DISP_E_MEMBERNOTFOUND;
        if (FAILED(invokeResult))
            return invokeResult;
        VariantInit(result);
        return VariantCopy(result, &value);
    }
};

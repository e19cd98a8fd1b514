// Error objects and the per-thread error slot behind SetErrorInfo/GetErrorInfo.
#include <orafon/CatchAtEdge.h>
#include <orafon/ComObject.h>
#include <orafon/win/oleauto.h>

#include <new>
#include <optional>
#include <string>

namespace {

// One object answers both the writing (ICreateErrorInfo) and the reading
// (IErrorInfo) side, as Windows' error objects do.
class CErrorInfo final : public orafon::ComObject<CErrorInfo, IErrorInfo, ICreateErrorInfo> {
public:
    // IErrorInfo
    STDMETHODIMP GetGUID(GUID *pGUID) override
    {
        if (!pGUID)
            return E_INVALIDARG;
        *pGUID = guid_;
        return S_OK;
    }
    STDMETHODIMP GetSource(BSTR *p) override { return Read(source_, p); }
    STDMETHODIMP GetDescription(BSTR *p) override { return Read(description_, p); }
    STDMETHODIMP GetHelpFile(BSTR *p) override { return Read(helpFile_, p); }
    STDMETHODIMP GetHelpContext(DWORD *p) override
    {
        if (!p)
            return E_INVALIDARG;
        *p = helpContext_;
        return S_OK;
    }

    // ICreateErrorInfo
    STDMETHODIMP SetGUID(REFGUID rguid) override
    {
        guid_ = rguid;
        return S_OK;
    }
    STDMETHODIMP SetSource(LPOLESTR s) override { return Write(source_, s); }
    STDMETHODIMP SetDescription(LPOLESTR s) override { return Write(description_, s); }
    STDMETHODIMP SetHelpFile(LPOLESTR s) override { return Write(helpFile_, s); }
    STDMETHODIMP SetHelpContext(DWORD context) override
    {
        helpContext_ = context;
        return S_OK;
    }

private:
    // A field never set reads as a null BSTR.
    [[nodiscard]] static HRESULT Read(const std::optional<std::u16string> &field, BSTR *out);
    static HRESULT Write(std::optional<std::u16string> &field, LPOLESTR value);

    GUID guid_ = GUID_NULL;
    std::optional<std::u16string> source_, description_, helpFile_;
    DWORD helpContext_ = 0;
};

[[nodiscard]] HRESULT CErrorInfo::Read(const std::optional<std::u16string> &field, BSTR *out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (!field)
        return S_OK;
    *out = SysAllocStringLen(field->data(), static_cast<UINT>(field->size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

[[nodiscard]] HRESULT CErrorInfo::Write(std::optional<std::u16string> &field, LPOLESTR value)
{
    return orafon::CatchAtEdge([&] {
        if (value)
            field = std::u16string(value);
        else
            field.reset();
    });
}

// The calling thread's current error object; released when the thread ends.
thread_local CComPtr<IErrorInfo> t_errorInfo;

} // namespace

STDAPI CreateErrorInfo(ICreateErrorInfo **pperrinfo)
{
    if (!pperrinfo)
        return E_INVALIDARG;
    CErrorInfo *info = new (std::nothrow) CErrorInfo();
    *pperrinfo = info;
    return info ? S_OK : E_OUTOFMEMORY;
}

STDAPI SetErrorInfo(ULONG dwReserved, IErrorInfo *perrinfo)
{
    if (dwReserved)
        return E_INVALIDARG;
    t_errorInfo = perrinfo;
    return S_OK;
}

STDAPI GetErrorInfo(ULONG dwReserved, IErrorInfo **pperrinfo)
{
    if (dwReserved || !pperrinfo)
        return E_INVALIDARG;
    // Reading the error object takes it: the slot is empty afterwards.
    *pperrinfo = t_errorInfo.Detach();
    return *pperrinfo ? S_OK : S_FALSE;
}

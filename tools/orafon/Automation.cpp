#include "Automation.h"

#include "Text.h"

#include <vector>

namespace orafon_cli {

[[nodiscard]] bool VariantToLong(const VARIANT &value, LONG &out)
{
    CVariant converted;
    if (FAILED(VariantChangeType(&converted, &value, 0, VT_I4)))
        return false;
    out = converted->lVal;
    return true;
}

[[nodiscard]] std::string VariantToUtf8(const VARIANT &value)
{
    if (value.vt == VT_BSTR)
        return BstrToUtf8(value.bstrVal);
    CVariant converted;
    if (FAILED(VariantChangeType(&converted, &value, 0, VT_BSTR)))
        return {};
    return BstrToUtf8(converted->bstrVal);
}

HRESULT DispatchObject::IdOf(const char16_t *name, DISPID &id)
{
    auto found = ids_.find(name);
    if (found != ids_.end()) {
        id = found->second;
        return S_OK;
    }
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(hr))
        ids_.emplace(name, id);
    return hr;
}

HRESULT DispatchObject::InvokeById(DISPID id, WORD flags, DISPPARAMS &params, VARIANT *result)
{
    UINT argErr = 0;
    return object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, &argErr);
}

HRESULT DispatchObject::Get(const char16_t *name, CVariant &result)
{
    DISPID id;
    HRESULT hr = IdOf(name, id);
    if (FAILED(hr))
        return hr;
    DISPPARAMS params = {nullptr, nullptr, 0, 0};
    return InvokeById(id, DISPATCH_PROPERTYGET, params, result.Get());
}

HRESULT DispatchObject::Put(const char16_t *name, CVariant &value)
{
    DISPID id;
    HRESULT hr = IdOf(name, id);
    if (FAILED(hr))
        return hr;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {value.Get(), &named, 1, 1};
    return InvokeById(id, DISPATCH_PROPERTYPUT, params, nullptr);
}

HRESULT DispatchObject::Call(const char16_t *name, std::initializer_list<VARIANT *> args, VARIANT *result)
{
    DISPID id;
    HRESULT hr = IdOf(name, id);
    if (FAILED(hr))
        return hr;
    // Automation passes arguments last-first.
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size());
    for (auto it = std::rbegin(args); it != std::rend(args); ++it)
        reversed.push_back(**it);
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, (UINT)reversed.size(), 0};
    // The copies are shallow: the CVariants keep ownership of their contents.
    return InvokeById(id, DISPATCH_METHOD, params, result);
}

HRESULT DispatchObject::GetLong(const char16_t *name, LONG &value)
{
    CVariant result;
    HRESULT hr = Get(name, result);
    if (FAILED(hr))
        return hr;
    return VariantToLong(*result.Get(), value) ? S_OK : DISP_E_TYPEMISMATCH;
}

HRESULT DispatchObject::PutLong(const char16_t *name, LONG value)
{
    CVariant v(value);
    return Put(name, v);
}

HRESULT DispatchObject::GetText(const char16_t *name, std::string &value)
{
    CVariant result;
    HRESULT hr = Get(name, result);
    if (SUCCEEDED(hr))
        value = VariantToUtf8(*result.Get());
    return hr;
}

} // namespace orafon_cli

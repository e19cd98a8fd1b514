#include "Automation.h"

#include "Text.h"

#include <vector>

namespace orafon_cli {

bool Variant::ToLong(LONG &out) const
{
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, &v_, 0, VT_I4)))
        return false;
    out = converted.lVal;
    return true;
}

std::string Variant::ToUtf8() const
{
    if (v_.vt == VT_BSTR)
        return BstrToUtf8(v_.bstrVal);
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, &v_, 0, VT_BSTR)))
        return {};
    std::string text = BstrToUtf8(converted.bstrVal);
    VariantClear(&converted);
    return text;
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

HRESULT DispatchObject::InvokeById(DISPID id, WORD flags, DISPPARAMS &params, Variant *result)
{
    UINT argErr = 0;
    return object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result ? result->get() : nullptr, nullptr,
                           &argErr);
}

HRESULT DispatchObject::Get(const char16_t *name, Variant &result)
{
    DISPID id;
    HRESULT hr = IdOf(name, id);
    if (FAILED(hr))
        return hr;
    DISPPARAMS params = {nullptr, nullptr, 0, 0};
    return InvokeById(id, DISPATCH_PROPERTYGET, params, &result);
}

HRESULT DispatchObject::Put(const char16_t *name, Variant &value)
{
    DISPID id;
    HRESULT hr = IdOf(name, id);
    if (FAILED(hr))
        return hr;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {value.get(), &named, 1, 1};
    return InvokeById(id, DISPATCH_PROPERTYPUT, params, nullptr);
}

HRESULT DispatchObject::Call(const char16_t *name, std::initializer_list<Variant *> args, Variant *result)
{
    DISPID id;
    HRESULT hr = IdOf(name, id);
    if (FAILED(hr))
        return hr;
    // Automation passes arguments last-first.
    std::vector<VARIANT> reversed;
    reversed.reserve(args.size());
    for (auto it = std::rbegin(args); it != std::rend(args); ++it)
        reversed.push_back(*(*it)->get());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, (UINT)reversed.size(), 0};
    // The copies are shallow: the Variants keep ownership of their contents.
    return InvokeById(id, DISPATCH_METHOD, params, result);
}

HRESULT DispatchObject::GetLong(const char16_t *name, LONG &value)
{
    Variant result;
    HRESULT hr = Get(name, result);
    if (FAILED(hr))
        return hr;
    return result.ToLong(value) ? S_OK : DISP_E_TYPEMISMATCH;
}

HRESULT DispatchObject::PutLong(const char16_t *name, LONG value)
{
    Variant v(value);
    return Put(name, v);
}

HRESULT DispatchObject::GetText(const char16_t *name, std::string &value)
{
    Variant result;
    HRESULT hr = Get(name, result);
    if (SUCCEEDED(hr))
        value = result.ToUtf8();
    return hr;
}

} // namespace orafon_cli

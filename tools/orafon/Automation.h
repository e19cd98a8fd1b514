// Late-bound calls by member name, the way a script host makes them:
// GetIDsOfNames once per name, then Invoke with VARIANT arguments.
#pragma once

#include <orafon/Holders.h>
#include <orafon/win/windows.h>

#include <initializer_list>
#include <map>
#include <string>

namespace orafon_cli {

using orafon::CVariant;

// The value as a long; false when it cannot be converted.
bool VariantToLong(const VARIANT &value, LONG &out);
// The value as UTF-8 text; empty when it cannot be converted.
std::string VariantToUtf8(const VARIANT &value);

class DispatchObject {
public:
    explicit DispatchObject(IDispatch *object) : object_(object) {}

    HRESULT Get(const char16_t *name, CVariant &result);
    HRESULT Put(const char16_t *name, CVariant &value);
    // Arguments in the member's parameter order.
    HRESULT Call(const char16_t *name, std::initializer_list<VARIANT *> args, VARIANT *result = nullptr);

    HRESULT GetLong(const char16_t *name, LONG &value);
    HRESULT PutLong(const char16_t *name, LONG value);
    HRESULT GetText(const char16_t *name, std::string &value);

    IDispatch *get() const { return object_; }

private:
    HRESULT IdOf(const char16_t *name, DISPID &id);
    HRESULT InvokeById(DISPID id, WORD flags, DISPPARAMS &params, VARIANT *result);

    CComPtr<IDispatch> object_;
    std::map<std::u16string, DISPID> ids_;
};

} // namespace orafon_cli

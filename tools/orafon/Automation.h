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
[[nodiscard]] bool VariantToLong(const VARIANT &value, LONG &out);
// The value as UTF-8 text; empty when it cannot be converted.
[[nodiscard]] std::string VariantToUtf8(const VARIANT &value);

class DispatchObject {
public:
    explicit DispatchObject(IDispatch *object) : object_(object) {}

    [[nodiscard]] HRESULT Get(const char16_t *name, CVariant &result);
    [[nodiscard]] HRESULT Put(const char16_t *name, CVariant &value);
    // Arguments in the member's parameter order.
    [[nodiscard]] HRESULT Call(const char16_t *name, std::initializer_list<VARIANT *> args, VARIANT *result = nullptr);

    [[nodiscard]] HRESULT GetLong(const char16_t *name, LONG &value);
    [[nodiscard]] HRESULT PutLong(const char16_t *name, LONG value);
    [[nodiscard]] HRESULT GetText(const char16_t *name, std::string &value);

    IDispatch *get() const { return object_; }

private:
    [[nodiscard]] HRESULT IdOf(const char16_t *name, DISPID &id);
    [[nodiscard]] HRESULT InvokeById(DISPID id, WORD flags, DISPPARAMS &params, VARIANT *result);

    CComPtr<IDispatch> object_;
    std::map<std::u16string, DISPID> ids_;
};

} // namespace orafon_cli

// Late-bound calls by member name, the way a script host makes them:
// GetIDsOfNames once per name, then Invoke with VARIANT arguments.
#pragma once

#include <orafon/win/windows.h>

#include <initializer_list>
#include <map>
#include <string>

namespace orafon_cli {

// Owns one VARIANT and clears it when done.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    explicit Variant(LONG value) : Variant()
    {
        v_.vt = VT_I4;
        v_.lVal = value;
    }
    explicit Variant(bool value) : Variant()
    {
        v_.vt = VT_BOOL;
        v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
    // Takes a copy of the text as a BSTR.
    explicit Variant(const std::u16string &text) : Variant()
    {
        v_.vt = VT_BSTR;
        v_.bstrVal = SysAllocStringLen(text.data(), (UINT)text.size());
    }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
    ~Variant() { VariantClear(&v_); }

    VARIANT *get() { return &v_; }
    const VARIANT *get() const { return &v_; }
    VARTYPE type() const { return v_.vt; }
    // The value as a long; false when it cannot be converted.
    bool ToLong(LONG &out) const;
    std::string ToUtf8() const;

private:
    VARIANT v_;
};

class DispatchObject {
public:
    explicit DispatchObject(IDispatch *object) : object_(object) {}

    HRESULT Get(const char16_t *name, Variant &result);
    HRESULT Put(const char16_t *name, Variant &value);
    // Arguments in the member's parameter order.
    HRESULT Call(const char16_t *name, std::initializer_list<Variant *> args, Variant *result = nullptr);

    HRESULT GetLong(const char16_t *name, LONG &value);
    HRESULT PutLong(const char16_t *name, LONG value);
    HRESULT GetText(const char16_t *name, std::string &value);

    IDispatch *get() const { return object_; }

private:
    HRESULT IdOf(const char16_t *name, DISPID &id);
    HRESULT InvokeById(DISPID id, WORD flags, DISPPARAMS &params, Variant *result);

    CComPtr<IDispatch> object_;
    std::map<std::u16string, DISPID> ids_;
};

} // namespace orafon_cli

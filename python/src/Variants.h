// Values between Python and VARIANT: int, float, bool, str, None and
// automation objects; anything else is refused with a TypeError.
#pragma once

#include <orafon/win/windows.h>

#include <pybind11/pybind11.h>

#include <string>

namespace orafon::python {

// Owns one VARIANT and clears it when done.
class OwnedVariant {
public:
    OwnedVariant() { VariantInit(&v_); }
    OwnedVariant(const OwnedVariant &) = delete;
    OwnedVariant &operator=(const OwnedVariant &) = delete;
    OwnedVariant(OwnedVariant &&other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    ~OwnedVariant() { VariantClear(&v_); }
    VARIANT *get() { return &v_; }
    const VARIANT *get() const { return &v_; }

private:
    VARIANT v_;
};

// Fills out from value; throws TypeError (naming what) for a value that has
// no automation type, OverflowError for an int wider than 64 bits.
void ToVariant(pybind11::handle value, VARIANT &out, const std::string &what);

// The Python value of v; VT_ERROR raises ComError naming member.
pybind11::object FromVariant(const VARIANT &v, const std::string &member);

} // namespace orafon::python

// One automation object as the Python module holds it: its IDispatch, the
// thread it belongs to, and its event connection.
#pragma once

#include <orafon/win/windows.h>

#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <thread>

namespace orafon::python {

class DispatchObject {
public:
    // Takes a reference to object on the calling thread.
    explicit DispatchObject(IDispatch *object);

    // CoCreateInstance of the class registered under progid.
    static DispatchObject Create(const std::string &progid);

    // The object for a call named what; ComError once released or from
    // another thread.
    IDispatch *Pointer(const std::string &what) const;

    // GetIDsOfNames; AttributeError naming the member when unknown.
    DISPID IdOf(const std::string &name) const;
    // IDispatch::Invoke with the arguments in their written order; a
    // property put passes its value as the last one.
    pybind11::object Invoke(DISPID id, int flags, const pybind11::tuple &args, const std::string &member) const;

    // What the type library says of the object's interface, or None.
    pybind11::object Describe() const;
    pybind11::list Enums() const;
    // The event interface described as Describe does, or None.
    pybind11::object DescribeEvents() const;

    // Connects an event sink calling methods of handler() (a weak reference
    // to the Python object) by event name.
    void Advise(pybind11::object handlerRef);
    // The member a Ctrl-C during a synchronous call invokes (DISPID_UNKNOWN: none).
    void SetInterruptMember(DISPID id);

    void Release();
    [[nodiscard]] bool Released() const;
    [[nodiscard]] bool SameObject(const DispatchObject &other) const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace orafon::python

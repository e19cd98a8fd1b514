#include "DispatchObject.h"

#include "ComError.h"
#include "EventSink.h"
#include "MessagePump.h"
#include "TypeInfo.h"
#include "Variants.h"

#include <orafon/Holders.h>

#include <climits>
#include <vector>

namespace py = pybind11;

namespace orafon::python {

namespace {

// Each thread that creates objects joins a single-threaded apartment once;
// its objects then deliver events through that thread's message queue.
HRESULT EnsureApartment()
{
    thread_local HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return joined == RPC_E_CHANGED_MODE ? S_OK : joined;
}

std::string TakeBstr(BSTR text)
{
    std::string out = text ? Utf8FromWide(text, SysStringLen(text)) : std::string();
    SysFreeString(text);
    return out;
}

// The description a failed call leaves: its EXCEPINFO, else the thread's
// error object.
std::string FailureDescription(HRESULT &hr, CExcepInfo &info)
{
    std::string description;
    if (hr == DISP_E_EXCEPTION) {
        info.FillIn();
        description = TakeBstr(info.DetachDescription());
        if (info->scode)
            hr = info->scode;
    }
    if (description.empty()) {
        CComPtr<IErrorInfo> error;
        BSTR text = nullptr;
        if (GetErrorInfo(0, &error) == S_OK && SUCCEEDED(error->GetDescription(&text)))
            description = TakeBstr(text);
    }
    return description;
}

} // namespace

struct DispatchObject::State {
    CComPtr<IDispatch> object;
    std::thread::id thread = std::this_thread::get_id();
    CComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    DISPID interruptMember = DISPID_UNKNOWN;

    void Disconnect()
    {
        if (point && cookie)
            point->Unadvise(cookie);
        point = nullptr;
        cookie = 0;
    }
    ~State()
    {
        // Released where it was made; from another thread the references
        // are dropped all the same, as a script host does at exit.
        Disconnect();
        object = nullptr;
    }
};

DispatchObject::DispatchObject(IDispatch *object) : state_(std::make_shared<State>())
{
    state_->object = object;
}

DispatchObject DispatchObject::Create(const std::string &progid)
{
    HRESULT hr = EnsureApartment();
    if (FAILED(hr))
        ThrowComError(hr, progid, "cannot initialise COM on this thread");
    const std::u16string wide = WideFromUtf8(progid);
    CLSID clsid;
    hr = wide.starts_with(u"{") ? CLSIDFromString(wide.c_str(), &clsid) : CLSIDFromProgID(wide.c_str(), &clsid);
    if (FAILED(hr))
        ThrowComError(hr, progid, "no class is registered under \"" + progid + "\"");
    CComPtr<IDispatch> object;
    {
        py::gil_scoped_release unlocked;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void **>(&object));
    }
    if (FAILED(hr))
        ThrowComError(hr, progid, "cannot create an object of \"" + progid + "\": " + DescribeHresult(hr));
    return DispatchObject(object);
}

IDispatch *DispatchObject::Pointer(const std::string &what) const
{
    if (!state_->object)
        ThrowComError(CO_E_OBJNOTCONNECTED, what, "the object was released");
    if (state_->thread != std::this_thread::get_id())
        ThrowComError(RPC_E_WRONG_THREAD, what, "the object belongs to the thread that created it");
    return state_->object;
}

DISPID DispatchObject::IdOf(const std::string &name) const
{
    IDispatch *object = Pointer(name);
    std::u16string wide = WideFromUtf8(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND)
        throw py::attribute_error("the object has no member named '" + name + "'");
    if (FAILED(hr))
        ThrowComError(hr, name, {});
    return id;
}

py::object DispatchObject::Invoke(DISPID id, int flags, const py::tuple &args, const std::string &member) const
{
    CComPtr<IDispatch> object(Pointer(member));
    const size_t count = args.size();
    // Automation passes arguments last-first.
    std::vector<OwnedVariant> values(count);
    for (size_t i = 0; i < count; ++i)
        ToVariant(args[i], *values[count - 1 - i].get(), member + "() argument " + std::to_string(i + 1));
    std::vector<VARIANT> raw;
    for (auto &v : values)
        raw.push_back(*v.get()); // shallow: values keep ownership
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{raw.empty() ? nullptr : raw.data(), put ? &named : nullptr, static_cast<UINT>(count),
                      put ? 1u : 0u};

    OwnedVariant result;
    CExcepInfo info;
    UINT argErr = UINT_MAX;
    HRESULT hr;
    bool interrupted = false;
    {
        std::function<void()> stop;
        if (state_->interruptMember != DISPID_UNKNOWN) {
            const DISPID stopId = state_->interruptMember;
            stop = [object, stopId] {
                DISPPARAMS none{nullptr, nullptr, 0, 0};
                object->Invoke(stopId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr,
                               nullptr);
            };
        }
        InterruptScope scope((flags & DISPATCH_METHOD) ? std::move(stop) : std::function<void()>());
        py::gil_scoped_release unlocked;
        SetErrorInfo(0, nullptr);
        hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, static_cast<WORD>(flags), &params,
                            put ? nullptr : result.get(), info.Out(), &argErr);
        interrupted = scope.Interrupted();
    }
    if (TakeHandlerInterrupt() || interrupted)
        RaiseInterrupt();
    if (FAILED(hr)) {
        std::string description = FailureDescription(hr, info);
        if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) && argErr < count)
            description = (description.empty() ? DescribeHresult(hr) : description) + " (argument " +
                          std::to_string(count - argErr) + ")";
        ThrowComError(hr, member, description);
    }
    return FromVariant(*result.get(), member);
}

py::object DispatchObject::Describe() const
{
    IDispatch *object = Pointer("type information");
    UINT count = 0;
    CComPtr<ITypeInfo> info;
    if (FAILED(object->GetTypeInfoCount(&count)) || count == 0 ||
        FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) || !info)
        return py::none();
    return DescribeInterface(info);
}

py::list DispatchObject::Enums() const
{
    IDispatch *object = Pointer("type information");
    UINT count = 0;
    CComPtr<ITypeInfo> info;
    if (FAILED(object->GetTypeInfoCount(&count)) || count == 0 ||
        FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) || !info)
        return py::list();
    return EnumsOfLibrary(info);
}

py::object DispatchObject::DescribeEvents() const
{
    CComPtr<ITypeInfo> source;
    if (FAILED(FindSourceInterface(Pointer("events"), &source)))
        return py::none();
    return DescribeInterface(source);
}

void DispatchObject::Advise(py::object handlerRef)
{
    IDispatch *object = Pointer("events");
    CComPtr<ITypeInfo> source;
    HRESULT hr = FindSourceInterface(object, &source);
    if (FAILED(hr))
        ThrowComError(hr, "events", "the object's type information names no event interface");
    TYPEATTR *attr = nullptr;
    if (FAILED(hr = source->GetTypeAttr(&attr)))
        ThrowComError(hr, "events", {});
    const IID iid = attr->guid;
    source->ReleaseTypeAttr(attr);

    CComPtr<IConnectionPointContainer> container;
    hr = object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
    CComPtr<IConnectionPoint> point;
    if (SUCCEEDED(hr))
        hr = container->FindConnectionPoint(iid, &point);
    if (FAILED(hr))
        ThrowComError(hr, "events", "the object offers no connection point for " + GuidText(iid));
    CComPtr<IUnknown> sink;
    sink.Attach(static_cast<IDispatch *>(new EventSink(iid, MemberNames(source), std::move(handlerRef))));
    state_->Disconnect();
    DWORD cookie = 0;
    if (FAILED(hr = point->Advise(sink, &cookie)))
        ThrowComError(hr, "events", "the object refused the event sink");
    state_->point = point;
    state_->cookie = cookie;
}

void DispatchObject::SetInterruptMember(DISPID id)
{
    state_->interruptMember = id;
}

void DispatchObject::Release()
{
    state_->Disconnect();
    state_->object = nullptr;
}

bool DispatchObject::Released() const
{
    return !state_->object;
}

bool DispatchObject::SameObject(const DispatchObject &other) const
{
    if (!state_->object || !other.state_->object)
        return state_ == other.state_;
    CComPtr<IUnknown> a, b;
    state_->object->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&a));
    other.state_->object->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&b));
    return a.get() == b.get();
}

} // namespace orafon::python

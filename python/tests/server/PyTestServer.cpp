// OrafonPyTest.so: a small in-process automation server the Python module's
// tests drive by ProgID ("Orafon.PyTest"), so that the module is shown to work
// for any registered class and not only for the text-to-speech object. It has
// one property of each automation type, two methods with results, a failing
// method that sets IErrorInfo, an enumeration, and events fired both inside a
// call and later from the thread's message queue.
#include "ClassFactory.h"
#include "ModuleState.h"
#include "Registration.h"

#include <TypeLibBuilder.h>
#include <orafon/Holders.h>
#include <orafon/win/windows.h>

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

using orafon::module::CClassFactory;
using orafon::module::ClassEntry;
using orafon::module::ModuleState;
using orafon::module::ScriptKey;

// {6B1F3C52-0D0E-4C7A-9E61-3A7B8C2D4E01}
DEFINE_GUID(LIBID_PyTest, 0x6B1F3C52, 0x0D0E, 0x4C7A, 0x9E, 0x61, 0x3A, 0x7B, 0x8C, 0x2D, 0x4E, 0x01);
// {6B1F3C52-0D0E-4C7A-9E61-3A7B8C2D4E02}
DEFINE_GUID(CLSID_PyTest, 0x6B1F3C52, 0x0D0E, 0x4C7A, 0x9E, 0x61, 0x3A, 0x7B, 0x8C, 0x2D, 0x4E, 0x02);
// {6B1F3C52-0D0E-4C7A-9E61-3A7B8C2D4E03}
DEFINE_GUID(DIID_IPyTest, 0x6B1F3C52, 0x0D0E, 0x4C7A, 0x9E, 0x61, 0x3A, 0x7B, 0x8C, 0x2D, 0x4E, 0x03);
// {6B1F3C52-0D0E-4C7A-9E61-3A7B8C2D4E04}
DEFINE_GUID(DIID__IPyTestEvents, 0x6B1F3C52, 0x0D0E, 0x4C7A, 0x9E, 0x61, 0x3A, 0x7B, 0x8C, 0x2D, 0x4E, 0x04);

constexpr const char *kProgId = "Orafon.PyTest";
constexpr const char *kClsid = "{6B1F3C52-0D0E-4C7A-9E61-3A7B8C2D4E02}";
constexpr const char *kLibId = "{6B1F3C52-0D0E-4C7A-9E61-3A7B8C2D4E01}";
constexpr HRESULT kFailCode = MAKE_HRESULT(1, FACILITY_ITF, 0x0201);
constexpr UINT WM_PYTEST_RING = WM_APP + 20;

enum : DISPID {
    kValue = 1,
    kName,
    kRatio,
    kEnabled,
    kStored,
    kShade,
    kAdd,
    kJoin,
    kFail,
    kRing,
    kPostRing,
    kRingCount,
};
enum : DISPID { kOnRing = 1, kOnDone = 2 };

std::vector<BYTE> BuildTypeLibrary()
{
    using namespace orafon::typelib;
    TypeLibBuilder b(u"OrafonPyTestLib", LIBID_PyTest, 1, 0);
    b.Doc(u"Orafon Python test type library").Lcid(0x0409).SysKind(SYS_WIN32);
    b.Enum(u"SHADE").Doc(u"Shade").Constant(u"SH_LIGHT", 1).Constant(u"SH_DARK", 2);
    b.DispInterface(u"_IPyTestEvents", DIID__IPyTestEvents)
        .Doc(u"Events of the test object")
        .Method(kOnRing, u"OnRing", {In(u"nIndex", Ty::Long())}, u"One ring")
        .Method(kOnDone, u"OnDone", {}, u"The last ring");
    b.DispInterface(u"IPyTest", DIID_IPyTest)
        .Doc(u"A small automation object for the Python module's tests")
        .Property(kValue, u"Value", Ty::Long(), u"A stored number")
        .Property(kName, u"Name", Ty::Bstr(), u"A stored text")
        .Property(kRatio, u"Ratio", Ty::Base(VT_R8), u"A stored real number")
        .Property(kEnabled, u"Enabled", Ty::Bool(), u"A stored flag")
        .Property(kStored, u"Stored", Ty::Variant(), u"A stored value of any type")
        .Property(kShade, u"Shade", Ty::Named(u"SHADE"), u"A stored shade")
        .Method(kAdd, u"Add",
                {In(u"nFirst", Ty::Long()), In(u"nSecond", Ty::Long()), RetVal(u"nSum", Ty::Long().Ptr())},
                u"Adds two numbers")
        .Method(kJoin, u"Join",
                {In(u"strFirst", Ty::Bstr()), In(u"strSecond", Ty::Bstr()), RetVal(u"strJoined", Ty::Bstr().Ptr())},
                u"Joins two texts")
        .Method(kFail, u"Fail", {In(u"strDescription", Ty::Bstr())}, u"Fails with the given description")
        .Method(kRing, u"Ring", {In(u"nCount", Ty::Long())}, u"Fires OnRing nCount times, then OnDone")
        .Method(kPostRing, u"PostRing", {In(u"nCount", Ty::Long())},
                u"Queues nCount rings, fired while the thread pumps messages")
        .PropertyGet(kRingCount, u"RingCount", Ty::Long(), u"How many rings were fired");
    b.CoClass(u"PyTest", CLSID_PyTest)
        .Version(1, 0)
        .Implements(u"IPyTest", IMPLTYPEFLAG_FDEFAULT)
        .Implements(u"_IPyTestEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    std::vector<BYTE> bytes;
    if (FAILED(b.Build(bytes)))
        bytes.clear();
    return bytes;
}

const std::vector<BYTE> &TypeLibraryBytes()
{
    static const std::vector<BYTE> bytes = BuildTypeLibrary();
    return bytes;
}

HRESULT UpdateRegistry(const char *modulePath, bool reg)
{
    using Mode = ScriptKey::Mode;
    ScriptKey server{"InprocServer32", modulePath, {{"ThreadingModel", "apartment"}}, {}, Mode::Normal};
    ScriptKey cls{kClsid,
                  "PyTest Class",
                  {},
                  {ScriptKey{"ProgID", kProgId, {}, {}, Mode::Normal}, std::move(server),
                   ScriptKey{"TypeLib", kLibId, {}, {}, Mode::Normal}},
                  Mode::ForceRemove};
    std::vector<ScriptKey> script{
        ScriptKey{kProgId, "PyTest Class", {}, {ScriptKey{"CLSID", kClsid, {}, {}, Mode::Normal}}, Mode::Normal},
        ScriptKey{"CLSID", std::nullopt, {}, {std::move(cls)}, Mode::NoRemove},
    };
    return orafon::module::ApplyRegistryScript(HKEY_CLASSES_ROOT, script, reg);
}

HRESULT CreatePyTest(IUnknown *outer, REFIID riid, void **ppv);

ClassEntry g_classes[] = {{&CLSID_PyTest, UpdateRegistry, CClassFactory::Make, CreatePyTest}};
ModuleState *g_state = nullptr;

ModuleState &State()
{
    if (!g_state)
        g_state = new ModuleState(g_classes, LIBID_PyTest);
    return *g_state;
}

std::string OwnPath()
{
    Dl_info info{};
    char resolved[PATH_MAX];
    if (!dladdr(reinterpret_cast<const void *>(&OwnPath), &info) || !info.dli_fname ||
        !realpath(info.dli_fname, resolved))
        return {};
    return resolved;
}

__attribute__((constructor)) void OnLoad()
{
    // A failed attach leaves a server whose every entry point answers
    // E_UNEXPECTED, which the tests then see.
    static_cast<void>(State().Attach(OwnPath().c_str()));
}

__attribute__((destructor)) void OnUnload()
{
    State().Detach();
    if (State().LockCount() == 0) {
        delete g_state;
        g_state = nullptr;
    }
}

// Sets the thread's error object, as a component does before failing.
void SetError(const std::u16string &description)
{
    CComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create)))
        return;
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    create->SetSource(const_cast<LPOLESTR>(u"Orafon.PyTest"));
    create->SetGUID(DIID_IPyTest);
    CComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void **>(&info))))
        SetErrorInfo(0, info);
}

class CPyTest;

// The single connection point: the sinks share the object's lifetime.
class CEventPoint final : public IConnectionPoint {
public:
    explicit CEventPoint(IConnectionPointContainer *owner) : owner_(owner) {}

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
            *ppv = static_cast<IConnectionPoint *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
    STDMETHODIMP GetConnectionInterface(IID *piid) override
    {
        if (!piid)
            return E_POINTER;
        *piid = DIID__IPyTestEvents;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer **pp) override
    {
        if (!pp)
            return E_POINTER;
        *pp = owner_;
        owner_->AddRef();
        return S_OK;
    }
    STDMETHODIMP Advise(IUnknown *sink, DWORD *cookie) override
    {
        if (!sink || !cookie)
            return E_POINTER;
        CComPtr<IDispatch> dispatch;
        if (FAILED(sink->QueryInterface(DIID__IPyTestEvents, reinterpret_cast<void **>(&dispatch))))
            return CONNECT_E_CANNOTCONNECT;
        *cookie = ++lastCookie_;
        sinks_.emplace_back(*cookie, std::move(dispatch));
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override
    {
        auto found = std::find_if(sinks_.begin(), sinks_.end(), [&](auto &s) { return s.first == cookie; });
        if (found == sinks_.end())
            return CONNECT_E_NOCONNECTION;
        CComPtr<IDispatch> removed = std::move(found->second);
        sinks_.erase(found);
        return S_OK;
    }
    STDMETHODIMP EnumConnections(IEnumConnections **pp) override
    {
        if (pp)
            *pp = nullptr;
        return E_NOTIMPL;
    }

    void Fire(DISPID id, std::vector<VARIANT> args)
    {
        // A copy: a handler may unadvise while it runs.
        std::vector<CComPtr<IDispatch>> targets;
        for (auto &s : sinks_)
            targets.push_back(s.second);
        DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        for (auto &t : targets) {
            // What a failing handler reports is not kept.
            orafon::CExcepInfo info;
            UINT argErr = 0;
            static_cast<void>(
                t->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, info.Out(), &argErr));
        }
    }
    void Clear() { sinks_.clear(); }

private:
    IConnectionPointContainer *owner_;
    DWORD lastCookie_ = 0;
    std::vector<std::pair<DWORD, CComPtr<IDispatch>>> sinks_;
};

class CPyTest final : public IDispatch, public IConnectionPointContainer, public IProvideClassInfo, ISupportErrorInfo {
public:
    CPyTest() : point_(this)
    {
        State().Lock();
        VariantInit(&stored_);
        CreateRingWindow();
    }
    ~CPyTest()
    {
        if (window_)
            DestroyWindow(window_);
        point_.Clear();
        VariantClear(&stored_);
        State().Unlock();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        IUnknown *found = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_IPyTest)
            found = static_cast<IDispatch *>(this);
        else if (riid == IID_IConnectionPointContainer)
            found = static_cast<IConnectionPointContainer *>(this);
        else if (riid == IID_IProvideClassInfo)
            found = static_cast<IProvideClassInfo *>(this);
        else if (riid == IID_ISupportErrorInfo)
            found = static_cast<ISupportErrorInfo *>(this);
        *ppv = found;
        if (!found)
            return E_NOINTERFACE;
        found->AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    STDMETHODIMP GetTypeInfoCount(UINT *count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo **pp) override
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        return index == 0 ? State().GetTypeInfo(DIID_IPyTest, pp) : DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids) override
    {
        CComPtr<ITypeInfo> info;
        HRESULT hr = State().GetTypeInfo(DIID_IPyTest, &info);
        return FAILED(hr) ? hr : info->GetIDsOfNames(names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *,
                        UINT *argErr) override;

    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint **pp) override
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        if (riid != DIID__IPyTestEvents)
            return CONNECT_E_NOCONNECTION;
        *pp = &point_;
        point_.AddRef();
        return S_OK;
    }
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints **pp) override
    {
        if (pp)
            *pp = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetClassInfo(ITypeInfo **pp) override
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        return State().GetTypeInfo(CLSID_PyTest, pp);
    }
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override { return riid == DIID_IPyTest ? S_OK : S_FALSE; }

    void RingOnce(LONG index, bool last)
    {
        ++rings_;
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_I4;
        arg.lVal = index;
        point_.Fire(kOnRing, {arg});
        if (last)
            point_.Fire(kOnDone, {});
    }

private:
    static LRESULT CALLBACK RingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_PYTEST_RING) {
            auto *self = reinterpret_cast<CPyTest *>(GetWindowLongPtrA(window, GWLP_USERDATA));
            if (self) {
                CComPtr<IDispatch> hold(static_cast<IDispatch *>(self));
                self->RingOnce(static_cast<LONG>(wParam), lParam != 0);
            }
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    void CreateRingWindow()
    {
        static std::atomic<bool> registered{false};
        if (!registered.exchange(true)) {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = RingWindowProc;
            wc.lpszClassName = "OrafonPyTestRing";
            RegisterClassExA(&wc);
        }
        window_ = CreateWindowExA(0, "OrafonPyTestRing", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        if (window_)
            SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    HRESULT Property(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result, UINT *argErr);
    HRESULT Method(DISPID id, DISPPARAMS *params, VARIANT *result, UINT *argErr);

    std::atomic<ULONG> refs_{1};
    CEventPoint point_;
    HWND window_ = nullptr;
    LONG value_ = 0;
    std::u16string name_;
    double ratio_ = 0;
    bool enabled_ = false;
    LONG shade_ = 1;
    LONG rings_ = 0;
    VARIANT stored_;
};

// The argument at position index (arguments arrive last-first), converted.
HRESULT Argument(DISPPARAMS *params, UINT index, VARTYPE vt, VARIANT &out, UINT *argErr)
{
    VariantInit(&out);
    const UINT at = params->cArgs - 1 - index;
    HRESULT hr = VariantChangeType(&out, &params->rgvarg[at], 0, vt);
    if (FAILED(hr)) {
        if (argErr)
            *argErr = at;
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

VARTYPE PropertyType(DISPID id)
{
    switch (id) {
    case kName:
        return VT_BSTR;
    case kRatio:
        return VT_R8;
    case kEnabled:
        return VT_BOOL;
    case kStored:
        return VT_VARIANT;
    default:
        return VT_I4;
    }
}

HRESULT CPyTest::Property(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result, UINT *argErr)
{
    if (flags & DISPATCH_PROPERTYPUT) {
        if (id == kRingCount)
            return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != 1 || params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_PARAMNOTOPTIONAL;
        VARIANT v;
        if (id == kStored)
            return VariantCopyInd(&stored_, &params->rgvarg[0]);
        HRESULT hr = Argument(params, 0, PropertyType(id), v, argErr);
        if (FAILED(hr))
            return hr;
        switch (id) {
        case kValue:
            value_ = v.lVal;
            break;
        case kName:
            name_.assign(v.bstrVal, SysStringLen(v.bstrVal));
            break;
        case kRatio:
            ratio_ = v.dblVal;
            break;
        case kEnabled:
            enabled_ = v.boolVal != VARIANT_FALSE;
            break;
        case kShade:
            if (v.lVal != 1 && v.lVal != 2) {
                SetError(u"Shade must be SH_LIGHT or SH_DARK");
                return E_INVALIDARG;
            }
            shade_ = v.lVal;
            break;
        }
        VariantClear(&v);
        return S_OK;
    }
    if (params->cArgs != 0)
        return DISP_E_BADPARAMCOUNT;
    if (!result)
        return S_OK;
    switch (id) {
    case kValue:
    case kShade:
    case kRingCount:
        result->vt = VT_I4;
        result->lVal = id == kValue ? value_ : id == kShade ? shade_ : rings_;
        return S_OK;
    case kName:
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
        return S_OK;
    case kRatio:
        result->vt = VT_R8;
        result->dblVal = ratio_;
        return S_OK;
    case kEnabled:
        result->vt = VT_BOOL;
        result->boolVal = enabled_ ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    default:
        return VariantCopy(result, &stored_);
    }
}

HRESULT CPyTest::Method(DISPID id, DISPPARAMS *params, VARIANT *result, UINT *argErr)
{
    const UINT wanted = (id == kAdd || id == kJoin) ? 2 : 1;
    if (params->cArgs != wanted)
        return DISP_E_BADPARAMCOUNT;
    VARIANT a, b;
    const VARTYPE vt = (id == kJoin || id == kFail) ? VT_BSTR : VT_I4;
    HRESULT hr = Argument(params, 0, vt, a, argErr);
    if (FAILED(hr))
        return hr;
    if (wanted == 2 && FAILED(hr = Argument(params, 1, vt, b, argErr))) {
        VariantClear(&a);
        return hr;
    }
    switch (id) {
    case kAdd:
        if (result) {
            result->vt = VT_I4;
            result->lVal = a.lVal + b.lVal;
        }
        break;
    case kJoin:
        if (result) {
            std::u16string joined(a.bstrVal, SysStringLen(a.bstrVal));
            joined.append(b.bstrVal, SysStringLen(b.bstrVal));
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocStringLen(joined.data(), static_cast<UINT>(joined.size()));
        }
        VariantClear(&b);
        break;
    case kFail:
        SetError(std::u16string(a.bstrVal, SysStringLen(a.bstrVal)));
        hr = kFailCode;
        break;
    case kRing: {
        CComPtr<IDispatch> hold(static_cast<IDispatch *>(this));
        for (LONG i = 0; i < a.lVal; ++i)
            RingOnce(i, i + 1 == a.lVal);
        break;
    }
    case kPostRing:
        for (LONG i = 0; i < a.lVal; ++i)
            PostMessageA(window_, WM_PYTEST_RING, static_cast<WPARAM>(i), i + 1 == a.lVal);
        break;
    }
    VariantClear(&a);
    return hr;
}

STDMETHODIMP CPyTest::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result, EXCEPINFO *,
                             UINT *argErr)
{
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params)
        params = &none;
    if (result)
        VariantInit(result);
    if (id >= kValue && id <= kShade)
        return Property(id, flags, params, result, argErr);
    if (id == kRingCount)
        return (flags & DISPATCH_PROPERTYGET) || (flags & DISPATCH_PROPERTYPUT)
                   ? Property(id, flags, params, result, argErr)
                   : DISP_E_MEMBERNOTFOUND;
    if (id >= kAdd && id <= kPostRing) {
        if (!(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        return Method(id, params, result, argErr);
    }
    return DISP_E_MEMBERNOTFOUND;
}

HRESULT CreatePyTest(IUnknown *outer, REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    auto *object = new CPyTest();
    HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

} // namespace

extern "C" {

ORAFON_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv)
{
    return State().GetClassObject(rclsid, riid, ppv);
}
ORAFON_EXPORT HRESULT DllCanUnloadNow()
{
    return State().CanUnloadNow();
}
ORAFON_EXPORT HRESULT DllRegisterServer()
{
    return State().RegisterServer();
}
ORAFON_EXPORT HRESULT DllUnregisterServer()
{
    return State().UnregisterServer();
}
ORAFON_EXPORT HRESULT DllGetTypeLibResource(INT id, const void **ppData, SIZE_T *pcbData)
{
    if (!ppData || !pcbData)
        return E_POINTER;
    *ppData = nullptr;
    *pcbData = 0;
    const std::vector<BYTE> &bytes = TypeLibraryBytes();
    if (id != 1 || bytes.empty())
        return TYPE_E_ELEMENTNOTFOUND;
    *ppData = bytes.data();
    *pcbData = bytes.size();
    return S_OK;
}

} // extern "C"

// Finding class objects: those registered in the process, in-process servers
// named by the registry, and the platform's own modules.
#include "Apartment.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/win/objbase.h>
#include <orafon/win/winbase.h>
#include <orafon/win/winreg.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace orafon::com {
namespace {

// ---- Class objects registered in the process ----------------------------------

struct Registration {
    DWORD cookie;
    CLSID clsid;
    IUnknown *object; // one reference held
    DWORD context;
    DWORD flags;
    DWORD thread;
};

struct Registrations {
    std::mutex mutex;
    std::vector<Registration> entries;
    DWORD nextCookie = 1;
};

// Never destroyed: objects registered until exit stay reachable.
Registrations &GetRegistrations()
{
    static Registrations *r = new Registrations;
    return *r;
}

// The registered class object for clsid with one new reference, or null.
IUnknown *FindRegistered(REFCLSID clsid, DWORD context)
{
    Registrations &r = GetRegistrations();
    std::lock_guard lock(r.mutex);
    for (auto it = r.entries.begin(); it != r.entries.end(); ++it) {
        if (!IsEqualGUID(it->clsid, clsid) || !(it->context & context))
            continue;
        IUnknown *object = it->object;
        if (it->flags == REGCLS_SINGLEUSE) {
            // Single use: the first client takes it out of view, keeping
            // the registration's reference.
            r.entries.erase(it);
            return object;
        }
        object->AddRef();
        return object;
    }
    return nullptr;
}

// ---- In-process servers -------------------------------------------------------

struct Server {
    std::string path;
    HMODULE module;
    LPFNGETCLASSOBJECT getClassObject;
};

// Loaded servers, each loaded once and kept until CoFreeUnusedLibraries finds
// it unused. The lock is recursive: a server's DllGetClassObject may itself
// create objects, and it is held across that call so that a server is never
// unloaded while it is being asked.
struct Servers {
    std::recursive_mutex mutex;
    std::vector<Server> loaded;
};

Servers &GetServers()
{
    static Servers *s = new Servers;
    return *s;
}

// Finds or loads a server; caller holds the servers lock.
[[nodiscard]] HRESULT LoadServer(Servers &servers, const std::string &path, const Server *&server)
{
    for (const Server &s : servers.loaded) {
        if (s.path == path) {
            server = &s;
            return S_OK;
        }
    }
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module)
        return HRESULT_FROM_WIN32(GetLastError());
    auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
    if (!get) {
        FreeLibrary(module);
        return CO_E_ERRORINDLL;
    }
    servers.loaded.push_back(Server{path, module, get});
    server = &servers.loaded.back();
    return S_OK;
}

[[nodiscard]] HRESULT AskServer(const std::string &path, REFCLSID clsid, REFIID riid, LPVOID *ppv)
{
    Servers &servers = GetServers();
    std::lock_guard lock(servers.mutex);
    const Server *server = nullptr;
    if (HRESULT hr = LoadServer(servers, path, server); FAILED(hr))
        return hr;
    // Copied first: the call may load other servers and move the table.
    const LPFNGETCLASSOBJECT getClassObject = server->getClassObject;
    return getClassObject(clsid, riid, ppv);
}

[[nodiscard]] bool NotThisServersClass(HRESULT hr)
{
    return hr == CLASS_E_CLASSNOTAVAILABLE || hr == REGDB_E_CLASSNOTREG;
}

// The module registered under HKCR\CLSID\{clsid}\InprocServer32, if any.
[[nodiscard]] bool RegisteredServerPath(REFCLSID clsid, std::string &path)
{
    std::u16string value;
    LONG error = 0;
    if (!ReadClassesRootDefault(u"CLSID\\" + GuidText(clsid) + u"\\InprocServer32", value, error) || value.empty())
        return false;
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    path.assign(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), path.data(), size, nullptr, nullptr);
    return true;
}

// The speech platform's modules, looked for beside this library; the classes
// they provide need no registry entries.
const char *const kPlatformModules[] = {"liborafon_sapi5.so", "liborafon_sapi4.so"};

std::string PlatformDirectory()
{
    Dl_info info;
    if (!dladdr(reinterpret_cast<const void *>(&CoGetClassObject), &info) || !info.dli_fname)
        return {};
    char resolved[PATH_MAX];
    std::string path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace

void RevokeThreadRegistrations()
{
    std::vector<IUnknown *> released;
    {
        Registrations &r = GetRegistrations();
        std::lock_guard lock(r.mutex);
        const DWORD me = GetCurrentThreadId();
        // Room first: an entry is taken out only once its object is held.
        released.reserve(static_cast<size_t>(
            std::count_if(r.entries.begin(), r.entries.end(), [me](const Registration &e) { return e.thread == me; })));
        for (auto it = r.entries.begin(); it != r.entries.end();) {
            if (it->thread == me) {
                released.push_back(it->object);
                it = r.entries.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (IUnknown *object : released)
        object->Release();
}

} // namespace orafon::com

using namespace orafon::com;

STDAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext, DWORD flags, LPDWORD lpdwRegister)
{
    if (!pUnk || !lpdwRegister)
        return E_INVALIDARG;
    *lpdwRegister = 0;
    if (!IsInitialized())
        return CO_E_NOTINITIALIZED;
    return orafon::CatchAtEdge([&] {
        Registrations &r = GetRegistrations();
        std::lock_guard lock(r.mutex);
        const DWORD cookie = r.nextCookie++;
        r.entries.push_back(Registration{cookie, rclsid, pUnk, dwClsContext, flags & 0x3, GetCurrentThreadId()});
        pUnk->AddRef(); // once it is entered: a registration that failed holds nothing
        *lpdwRegister = cookie;
    });
}

STDAPI CoRevokeClassObject(DWORD dwRegister)
{
    if (!IsInitialized())
        return CO_E_NOTINITIALIZED;
    IUnknown *object = nullptr;
    {
        Registrations &r = GetRegistrations();
        std::lock_guard lock(r.mutex);
        for (auto it = r.entries.begin(); it != r.entries.end(); ++it) {
            if (it->cookie == dwRegister) {
                object = it->object;
                r.entries.erase(it);
                break;
            }
        }
    }
    if (!object)
        return E_INVALIDARG;
    object->Release(); // outside the lock: the object may register or revoke others
    return S_OK;
}

STDAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID, REFIID riid, LPVOID *ppv)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!ppv)
            return E_INVALIDARG;
        *ppv = nullptr;
        if (!IsInitialized())
            return CO_E_NOTINITIALIZED;

        if (IUnknown *registered = FindRegistered(rclsid, dwClsContext)) {
            const HRESULT hr = registered->QueryInterface(riid, ppv);
            registered->Release();
            return hr;
        }
        if (!(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)))
            return REGDB_E_CLASSNOTREG;

        // A failure of the registered server is reported if no platform module
        // provides the class either.
        HRESULT serverError = S_OK;
        std::string path;
        if (RegisteredServerPath(rclsid, path)) {
            const HRESULT hr = AskServer(path, rclsid, riid, ppv);
            if (SUCCEEDED(hr))
                return hr;
            *ppv = nullptr;
            serverError = hr;
        }

        const std::string dir = PlatformDirectory();
        for (const char *name : kPlatformModules) {
            const std::string candidate = dir + "/" + name;
            if (dir.empty() || access(candidate.c_str(), R_OK) != 0)
                continue;
            const HRESULT hr = AskServer(candidate, rclsid, riid, ppv);
            if (SUCCEEDED(hr))
                return hr;
            *ppv = nullptr;
            if (!NotThisServersClass(hr) && hr != CO_E_ERRORINDLL && HRESULT_FACILITY(hr) != FACILITY_WIN32)
                return hr; // the module has the class but could not give it
        }
        return FAILED(serverError) ? serverError : REGDB_E_CLASSNOTREG;
    });
}

STDAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID *ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    IClassFactory *factory = nullptr;
    HRESULT hr =
        CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void **>(&factory));
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

STDAPI_(void) CoFreeUnusedLibraries(void)
{
    Servers &servers = GetServers();
    std::lock_guard lock(servers.mutex);
    for (auto it = servers.loaded.begin(); it != servers.loaded.end();) {
        auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(it->module, "DllCanUnloadNow"));
        if (canUnload && canUnload() == S_OK) {
            FreeLibrary(it->module);
            it = servers.loaded.erase(it);
        } else {
            ++it;
        }
    }
}

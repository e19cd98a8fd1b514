#include "ModuleState.h"

#include "TypeLibText.h"

namespace orafon::module {

using typelib::FromUtf8;

ModuleState::ModuleState(std::span<ClassEntry> classes, const GUID &libid) : classes_(classes), libid_(libid) {}

ModuleState::~ModuleState()
{
    Detach();
}

bool ModuleState::Attach(const char *modulePath)
{
    initialised_ = modulePath && *modulePath == '/';
    path_ = initialised_ ? modulePath : "";
    return initialised_;
}

void ModuleState::Detach()
{
    for (ClassEntry &entry : classes_)
        if (IClassFactory *factory = entry.cachedFactory.exchange(nullptr))
            factory->Release();
    std::lock_guard lock(typeLibMutex_);
    if (typeLib_) {
        typeLib_->Release();
        typeLib_ = nullptr;
    }
}

HRESULT ModuleState::GetClassObject(REFCLSID rclsid, REFIID riid, void **ppv)
{
    if (!initialised_)
        return E_UNEXPECTED;
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (ClassEntry &entry : classes_) {
        if (*entry.clsid != rclsid)
            continue;
        IClassFactory *factory = entry.cachedFactory.load();
        if (!factory) {
            std::lock_guard lock(mutex_);
            factory = entry.cachedFactory.load();
            if (!factory) {
                HRESULT hr = entry.makeFactory(*this, entry.makeInstance, &factory);
                if (FAILED(hr))
                    return hr;
                entry.cachedFactory.store(factory);
            }
        }
        HRESULT hr = factory->QueryInterface(riid, ppv);
        if (SUCCEEDED(hr) && !*ppv)
            return CLASS_E_CLASSNOTAVAILABLE;
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

[[nodiscard]] std::string TypeLibPathBeside(const std::string &modulePath)
{
    size_t slash = modulePath.find_last_of('/');
    size_t dot = modulePath.find_last_of('.');
    bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? modulePath.substr(0, dot) : modulePath) + ".tlb";
}

[[nodiscard]] std::u16string HelpDirOf(const std::u16string &path)
{
    size_t cut = path.find_last_of(u"\\/:");
    return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
}

HRESULT ModuleState::LoadTypeLibrary(ITypeLib **pptlib, std::u16string *loadedFrom) const
{
    std::u16string path = FromUtf8(path_);
    HRESULT hr = LoadTypeLib(path.c_str(), pptlib);
    if (FAILED(hr)) {
        path = FromUtf8(TypeLibPathBeside(path_));
        hr = LoadTypeLib(path.c_str(), pptlib);
    }
    if (SUCCEEDED(hr) && loadedFrom)
        *loadedFrom = path;
    return hr;
}

HRESULT ModuleState::RegisterServer()
{
    if (!initialised_)
        return E_UNEXPECTED;
    for (ClassEntry &entry : classes_) {
        HRESULT hr = entry.registryScript(path_.c_str(), true);
        if (FAILED(hr))
            return hr;
    }
    CComPtr<ITypeLib> lib;
    std::u16string from;
    HRESULT hr = LoadTypeLibrary(&lib, &from);
    if (FAILED(hr))
        return hr;
    hr = RegisterTypeLib(lib, from.c_str(), HelpDirOf(from).c_str());
    return FAILED(hr) ? hr : S_OK;
}

HRESULT ModuleState::UnregisterServer()
{
    if (!initialised_)
        return E_UNEXPECTED;
    for (ClassEntry &entry : classes_) {
        HRESULT hr = entry.registryScript(path_.c_str(), false);
        if (FAILED(hr))
            return hr;
    }
    CComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibrary(&lib, nullptr);
    if (FAILED(hr))
        return hr;
    TLIBATTR *attr = nullptr;
    hr = lib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    lib->ReleaseTLibAttr(attr);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT ModuleState::GetTypeInfo(REFGUID guid, ITypeInfo **ppTInfo)
{
    if (!ppTInfo)
        return E_POINTER;
    *ppTInfo = nullptr;
    if (!initialised_)
        return E_UNEXPECTED;
    std::lock_guard lock(typeLibMutex_);
    if (!typeLib_) {
        HRESULT hr = LoadTypeLibrary(&typeLib_, nullptr);
        if (FAILED(hr))
            return hr;
    }
    return typeLib_->GetTypeInfoOfGuid(guid, ppTInfo);
}

} // namespace orafon::module

// The state of one loaded module serving COM classes: its lock count, class
// table with cached class factories, registration and type library. Orafon.so
// keeps one of these; tests make their own over their own class tables.
#pragma once

#include <orafon/win/windows.h>

#include <atomic>
#include <mutex>
#include <span>
#include <string>

namespace orafon::module {

class ModuleState;

// Makes an object of the class: aggregated when pUnkOuter is given (riid is
// then IUnknown), asked for riid otherwise.
using InstanceMaker = HRESULT (*)(IUnknown *pUnkOuter, REFIID riid, void **ppv);
// Writes (reg true) or removes the class's registry entries.
using RegistryRoutine = HRESULT (*)(const char *modulePath, bool reg);
// Makes the class factory, holding one reference for the cache.
using FactoryMaker = HRESULT (*)(ModuleState &module, InstanceMaker maker, IClassFactory **ppFactory);

struct ClassEntry {
    const CLSID *clsid;
    RegistryRoutine registryScript;
    FactoryMaker makeFactory;
    InstanceMaker makeInstance;
    std::atomic<IClassFactory *> cachedFactory{nullptr};
};

class ModuleState {
public:
    ModuleState(std::span<ClassEntry> classes, const GUID &libid);
    ModuleState(const ModuleState &) = delete;
    ModuleState &operator=(const ModuleState &) = delete;
    ~ModuleState();

    // Load: remembers the module file; without one the module is unusable
    // and reports E_UNEXPECTED. Returns whether initialisation succeeded.
    [[nodiscard]] bool Attach(const char *modulePath);
    // Unload: releases the cached class factories and type library.
    void Detach();

    LONG Lock() { return ++lockCount_; }
    LONG Unlock() { return --lockCount_; }
    LONG LockCount() const { return lockCount_; }

    [[nodiscard]] HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void **ppv);
    [[nodiscard]] HRESULT CanUnloadNow() const { return lockCount_ == 0 ? S_OK : S_FALSE; }
    [[nodiscard]] HRESULT RegisterServer();
    [[nodiscard]] HRESULT UnregisterServer();

    // From the module's own type library, loaded once and kept until Detach.
    [[nodiscard]] HRESULT GetTypeInfo(REFGUID guid, ITypeInfo **ppTInfo);

    // The module's type library: from the module file (resource 1), else
    // from the same path with the extension replaced by ".tlb". *loadedFrom
    // gets the file it came from.
    [[nodiscard]] HRESULT LoadTypeLibrary(ITypeLib **pptlib, std::u16string *loadedFrom) const;

private:
    std::span<ClassEntry> classes_;
    GUID libid_;
    std::atomic<LONG> lockCount_{0};
    bool initialised_ = false;
    std::string path_;
    std::mutex mutex_; // the module critical section: factory creation
    std::mutex typeLibMutex_;
    ITypeLib *typeLib_ = nullptr;
};

// The path with its file extension replaced by ".tlb" (appended when the
// file name has none).
[[nodiscard]] std::string TypeLibPathBeside(const std::string &modulePath);
// The help directory of a library loaded from path: the path cut after its
// last backslash, slash or colon, the separator kept.
[[nodiscard]] std::u16string HelpDirOf(const std::u16string &path);

} // namespace orafon::module

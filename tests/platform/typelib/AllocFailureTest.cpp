// Type libraries under allocation failure: each allocation a call makes is
// failed in turn. The call answers E_OUTOFMEMORY (or succeeds, when it could
// do without), no exception crosses it, nothing leaks, and a registration
// is all there or not at all. This executable replaces operator new
// (orafon_alloc_failure), so it holds these tests alone.
#include "support/AllocFailure.h"
#include "TypeLibTestSupport.h"
#include "TypeLibText.h"

#include <fstream>

using namespace orafon::test;
using orafon::typelib::FromUtf8;
using orafon::typelib::GuidString;

namespace {

const bool kRegistry = (UsePrivateRegistry(), true);

const std::u16string &LibraryFile()
{
    static const std::u16string path = [] {
        const std::filesystem::path file = TestDir() / "sample.tlb";
        const std::vector<BYTE> bytes = SampleBytes();
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return FromUtf8(file.string());
    }();
    return path;
}

CComPtr<ITypeLib> LoadSample()
{
    CComPtr<ITypeLib> lib;
    EXPECT_EQ(S_OK, LoadTypeLib(LibraryFile().c_str(), &lib));
    return lib;
}

// The keys a registration of the sample writes at the top of each of its trees.
const std::vector<std::u16string> &RegisteredKeys()
{
    static const std::vector<std::u16string> keys{u"TypeLib\\" + GuidString(LIBID_Sample),
                                                  u"Interface\\" + GuidString(IID_ISample),
                                                  u"Interface\\" + GuidString(DIID_SampleEvents)};
    return keys;
}

void ExpectNothingRegistered(const char *after)
{
    for (const std::u16string &key : RegisteredKeys())
        EXPECT_FALSE(KeyExists(key)) << Narrow(key) << " is left after " << after;
    CComPtr<ITypeLib> lib;
    EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, LoadRegTypeLib(LIBID_Sample, 2, 3, 0x409, &lib)) << after;
}

void ExpectRegistered()
{
    for (const std::u16string &key : RegisteredKeys())
        EXPECT_TRUE(KeyExists(key)) << Narrow(key);
    EXPECT_EQ(ReadKey(u"TypeLib\\" + GuidString(LIBID_Sample) + u"\\2.3\\409\\win32"), LibraryFile());
    CComPtr<ITypeLib> lib;
    EXPECT_EQ(S_OK, LoadRegTypeLib(LIBID_Sample, 2, 3, 0x409, &lib));
}

// What a client reads of one type, every description released again.
HRESULT ReadType(ITypeLib *lib, UINT index)
{
    CComPtr<ITypeInfo> info;
    if (HRESULT hr = lib->GetTypeInfo(index, &info); FAILED(hr))
        return hr;
    TYPEATTR *attr = nullptr;
    if (HRESULT hr = info->GetTypeAttr(&attr); FAILED(hr))
        return hr;
    const TYPEATTR a = *attr;
    info->ReleaseTypeAttr(attr);
    for (UINT f = 0; f < a.cFuncs; ++f) {
        FUNCDESC *desc = nullptr;
        if (HRESULT hr = info->GetFuncDesc(f, &desc); FAILED(hr))
            return hr;
        const MEMBERID memid = desc->memid;
        info->ReleaseFuncDesc(desc);
        BSTR names[4] = {};
        UINT count = 0;
        if (HRESULT hr = info->GetNames(memid, names, 4, &count); FAILED(hr))
            return hr;
        for (UINT n = 0; n < count; ++n)
            SysFreeString(names[n]);
        orafon::CBstr name, doc;
        if (HRESULT hr = info->GetDocumentation(memid, name.Out(), doc.Out(), nullptr, nullptr); FAILED(hr))
            return hr;
    }
    for (UINT v = 0; v < a.cVars; ++v) {
        VARDESC *desc = nullptr;
        if (HRESULT hr = info->GetVarDesc(v, &desc); FAILED(hr))
            return hr;
        info->ReleaseVarDesc(desc);
    }
    for (UINT i = 0; i < a.cImplTypes; ++i) {
        HREFTYPE ref = 0;
        if (HRESULT hr = info->GetRefTypeOfImplType(i, &ref); FAILED(hr))
            return hr;
        CComPtr<ITypeInfo> base;
        if (HRESULT hr = info->GetRefTypeInfo(ref, &base); FAILED(hr))
            return hr;
    }
    return S_OK;
}

// Everything a client reads of the library.
HRESULT ReadLibrary(ITypeLib *lib)
{
    TLIBATTR *attr = nullptr;
    if (HRESULT hr = lib->GetLibAttr(&attr); FAILED(hr))
        return hr;
    lib->ReleaseTLibAttr(attr);
    orafon::CBstr name, doc, helpFile;
    if (HRESULT hr = lib->GetDocumentation(-1, name.Out(), doc.Out(), nullptr, helpFile.Out()); FAILED(hr))
        return hr;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i)
        if (HRESULT hr = ReadType(lib, i); FAILED(hr))
            return hr;
    CComPtr<ITypeInfo> byGuid;
    if (HRESULT hr = lib->GetTypeInfoOfGuid(IID_ISample, &byGuid); FAILED(hr))
        return hr;
    OLECHAR wanted[] = u"paint";
    ITypeInfo *found[2] = {};
    MEMBERID ids[2] = {};
    USHORT count = 2;
    const HRESULT hr = lib->FindName(wanted, 0, found, ids, &count);
    for (USHORT i = 0; i < count; ++i)
        found[i]->Release();
    return hr;
}

TEST(TypeLibUnderAllocationFailure, Loads)
{
    static_cast<void>(LibraryFile()); // written while allocation is granted
    EachAllocationFails([] {
        CComPtr<ITypeLib> lib;
        return LoadTypeLib(LibraryFile().c_str(), &lib);
    });
}

TEST(TypeLibUnderAllocationFailure, IsReadWhole)
{
    CComPtr<ITypeLib> lib = LoadSample();
    ASSERT_TRUE(lib);
    EachAllocationFails([&] { return ReadLibrary(lib); });
}

// A registration that fails leaves no key of it behind; one that succeeds
// leaves the whole library registered.
TEST(TypeLibUnderAllocationFailure, RegistersAllOrNothing)
{
    CComPtr<ITypeLib> lib = LoadSample();
    ASSERT_TRUE(lib);
    ExpectNothingRegistered("the start");
    EachAllocationFails<HRESULT>([&] { return RegisterTypeLib(lib, LibraryFile().c_str(), nullptr); },
                                 [&](HRESULT hr, bool met, long n) {
                                     if (!met || hr == S_OK) {
                                         EXPECT_EQ(S_OK, hr) << "with every allocation granted";
                                         ExpectRegistered();
                                         ASSERT_EQ(S_OK, UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32));
                                     } else {
                                         EXPECT_EQ(E_OUTOFMEMORY, hr) << "allocation " << n << " failed";
                                         ExpectNothingRegistered("a failed registration");
                                     }
                                 });
}

// Looking a registered library up answers it or E_OUTOFMEMORY; running out
// of memory is not "not registered".
TEST(TypeLibUnderAllocationFailure, LoadsRegistered)
{
    CComPtr<ITypeLib> lib = LoadSample();
    ASSERT_TRUE(lib);
    ASSERT_EQ(S_OK, RegisterTypeLib(lib, LibraryFile().c_str(), nullptr));
    EachAllocationFails([] {
        CComPtr<ITypeLib> registered;
        return LoadRegTypeLib(LIBID_Sample, 2, 3, 0x409, &registered);
    });
    EXPECT_EQ(S_OK, UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32));
    ExpectNothingRegistered("the last unregistration");
}

// An unregistration that fails leaves the library registered enough to be
// found and unregistered by calling again, which then removes everything.
TEST(TypeLibUnderAllocationFailure, UnregistersOrCanFinish)
{
    CComPtr<ITypeLib> lib = LoadSample();
    ASSERT_TRUE(lib);
    ASSERT_EQ(S_OK, RegisterTypeLib(lib, LibraryFile().c_str(), nullptr));
    EachAllocationFails<HRESULT>([] { return UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32); },
                                 [&](HRESULT hr, bool met, long n) {
                                     if (met && hr != S_OK) {
                                         EXPECT_EQ(E_OUTOFMEMORY, hr) << "allocation " << n << " failed";
                                         EXPECT_EQ(S_OK, UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32))
                                             << "a failed unregistration cannot be finished";
                                     } else {
                                         EXPECT_EQ(S_OK, hr) << "with every allocation granted";
                                     }
                                     ExpectNothingRegistered("unregistering");
                                     ASSERT_EQ(S_OK, RegisterTypeLib(lib, LibraryFile().c_str(), nullptr));
                                 });
    EXPECT_EQ(S_OK, UnRegisterTypeLib(LIBID_Sample, 2, 3, 0x409, SYS_WIN32));
}

} // namespace

// Loads arbitrary bytes as a type library file. A library that loads must
// describe itself completely through ITypeLib and ITypeInfo (every type,
// member, name, reference and document string) without reading outside its
// bytes, and must write back to exactly the bytes it was read from.
#include "TypeLibModel.h"

#include <orafon/Holders.h>
#include <orafon/win/oleauto.h>
#include <orafon/win/typeinfo.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// The zlib CRC-32, so that the fuzzer can wrap its payloads in a valid header
// and spend its time past the checksum.
uint32_t Crc32(const uint8_t *data, size_t size)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        c ^= data[i];
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

void PutU32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::vector<uint8_t> WithHeader(const uint8_t *payload, size_t size)
{
    std::vector<uint8_t> bytes = {'O', 'T', 'L', 'B', 1, 0, 0, 0};
    PutU32(bytes, static_cast<uint32_t>(size));
    PutU32(bytes, Crc32(payload, size));
    bytes.insert(bytes.end(), payload, payload + size);
    return bytes;
}

const std::string &FilePath()
{
    static const std::string path = [] {
        char pattern[] = "/tmp/orafon-fuzz-typelib-XXXXXX.tlb";
        const int fd = ::mkstemps(pattern, 4);
        if (fd >= 0)
            ::close(fd);
        return std::string(pattern);
    }();
    return path;
}

bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    orafon::CStdioFile f(std::fopen(path.c_str(), "wb"));
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.Get()) == bytes.size();
    return f.Close() == 0 && ok;
}

void FreeStrings(std::initializer_list<BSTR> strings)
{
    for (BSTR s : strings)
        SysFreeString(s);
}

void DescribeMember(ITypeInfo *info, MEMBERID memid)
{
    BSTR names[8] = {};
    UINT count = 0;
    if (SUCCEEDED(info->GetNames(memid, names, 8, &count))) {
        Require(count <= 8);
        for (UINT i = 0; i < count; ++i)
            SysFreeString(names[i]);
        if (count > 0) {
            BSTR name = nullptr;
            Require(SUCCEEDED(info->GetDocumentation(memid, &name, nullptr, nullptr, nullptr)));
            LPOLESTR lookup = name;
            MEMBERID found = MEMBERID_NIL;
            info->GetIDsOfNames(&lookup, 1, &found);
            SysFreeString(name);
        }
    }
}

void DescribeType(ITypeLib *lib, ITypeInfo *info, int depth)
{
    TYPEATTR *attr = nullptr;
    Require(SUCCEEDED(info->GetTypeAttr(&attr)) && attr);
    const TYPEATTR a = *attr;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < a.cFuncs; ++i) {
        FUNCDESC *func = nullptr;
        Require(SUCCEEDED(info->GetFuncDesc(i, &func)) && func);
        Require(func->cParams >= 0 && func->cParamsOpt <= func->cParams);
        for (SHORT p = 0; p < func->cParams; ++p)
            Require(func->lprgelemdescParam != nullptr);
        const MEMBERID memid = func->memid;
        info->ReleaseFuncDesc(func);
        DescribeMember(info, memid);
    }
    Require(info->GetFuncDesc(a.cFuncs, nullptr) != S_OK);
    for (UINT i = 0; i < a.cVars; ++i) {
        VARDESC *var = nullptr;
        Require(SUCCEEDED(info->GetVarDesc(i, &var)) && var);
        const MEMBERID memid = var->memid;
        info->ReleaseVarDesc(var);
        DescribeMember(info, memid);
    }
    for (UINT i = 0; i < a.cImplTypes; ++i) {
        HREFTYPE ref = 0;
        INT flags = 0;
        Require(SUCCEEDED(info->GetRefTypeOfImplType(i, &ref)));
        Require(SUCCEEDED(info->GetImplTypeFlags(i, &flags)));
        ITypeInfo *base = nullptr;
        if (SUCCEEDED(info->GetRefTypeInfo(ref, &base)) && base) {
            if (depth < 4)
                DescribeType(lib, base, depth + 1);
            base->Release();
        }
    }
    ITypeLib *container = nullptr;
    UINT index = 0;
    if (SUCCEEDED(info->GetContainingTypeLib(&container, &index))) {
        Require(container != nullptr && index < container->GetTypeInfoCount());
        container->Release();
    }
    BSTR name = nullptr, doc = nullptr, help = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, &help);
    if (name) {
        BOOL isName = FALSE;
        Require(SUCCEEDED(lib->IsName(name, 0, &isName)));
    }
    FreeStrings({name, doc, help});
}

void DescribeLibrary(ITypeLib *lib)
{
    TLIBATTR *attr = nullptr;
    Require(SUCCEEDED(lib->GetLibAttr(&attr)) && attr);
    lib->ReleaseTLibAttr(attr);
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind{};
        Require(SUCCEEDED(lib->GetTypeInfoType(i, &kind)));
        ITypeInfo *info = nullptr;
        Require(SUCCEEDED(lib->GetTypeInfo(i, &info)) && info);
        DescribeType(lib, info, 0);
        info->Release();
        BSTR name = nullptr, doc = nullptr, help = nullptr;
        Require(SUCCEEDED(lib->GetDocumentation(static_cast<INT>(i), &name, &doc, nullptr, &help)));
        FreeStrings({name, doc, help});
    }
    Require(lib->GetTypeInfo(count, nullptr) != S_OK);
    BSTR name = nullptr;
    Require(SUCCEEDED(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr)));
    SysFreeString(name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // An odd first byte wraps the rest in a valid header and checksum.
    const std::vector<uint8_t> bytes =
        (data[0] & 1) ? WithHeader(data + 1, size - 1) : std::vector<uint8_t>(data + 1, data + size);

    orafon::typelib::Library model;
    const HRESULT parsed = orafon::typelib::Parse(std::span<const BYTE>(bytes.data(), bytes.size()), model);
    if (SUCCEEDED(parsed))
        Require(orafon::typelib::Serialize(model) == bytes);

    const std::string &path = FilePath();
    if (!WriteFile(path, bytes))
        return 0;
    const std::u16string widePath(path.begin(), path.end());
    ITypeLib *lib = nullptr;
    const HRESULT hr = LoadTypeLib(widePath.c_str(), &lib);
    Require(SUCCEEDED(hr) == SUCCEEDED(parsed));
    if (SUCCEEDED(hr)) {
        DescribeLibrary(lib);
        lib->Release();
    }
    return 0;
}

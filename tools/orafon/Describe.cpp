// orafon describe: the type library as a host discovers it, through
// IProvideClassInfo and ITypeInfo only.
#include "Automation.h"
#include "Commands.h"
#include "Messages.h"
#include "Text.h"

#include <cstdio>
#include <string>
#include <vector>

namespace orafon_cli {

namespace {

[[nodiscard]] std::string Documentation(ITypeInfo *info, MEMBERID id, std::string *help = nullptr)
{
    orafon::CBstr name, doc;
    if (FAILED(info->GetDocumentation(id, name.Out(), doc.Out(), nullptr, nullptr)))
        return {};
    if (help)
        *help = BstrToUtf8(doc.Get());
    return BstrToUtf8(name.Get());
}

[[nodiscard]] std::vector<std::string> Names(ITypeInfo *info, MEMBERID id, UINT count)
{
    std::vector<BSTR> names(count + 1, nullptr);
    UINT got = 0;
    std::vector<std::string> result;
    if (FAILED(info->GetNames(id, names.data(), (UINT)names.size(), &got)))
        return result;
    for (UINT i = 0; i < got; ++i) {
        const orafon::CBstr owned(names[i]);
        result.push_back(BstrToUtf8(owned.Get()));
    }
    return result;
}

const char *Access(INVOKEKIND kind)
{
    switch (kind) {
    case INVOKE_PROPERTYGET:
        return "get";
    case INVOKE_PROPERTYPUT:
        return "put";
    case INVOKE_PROPERTYPUTREF:
        return "putref";
    default:
        return "method";
    }
}

void PrintFunctions(ITypeInfo *info, const TYPEATTR &attr, bool skipDispatchSlots)
{
    for (UINT i = 0; i < attr.cFuncs; ++i) {
        FUNCDESC *desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc)))
            continue;
        std::string help;
        std::string name = Documentation(info, desc->memid, &help);
        std::vector<std::string> names = Names(info, desc->memid, (UINT)desc->cParams);
        bool dispatchSlot = desc->memid >= 0x60000000;
        if (!(skipDispatchSlots && dispatchSlot)) {
            std::string params;
            for (size_t p = 1; p < names.size(); ++p)
                params += (p > 1 ? ", " : "") + names[p];
            std::printf("  %3d  %-7s %s(%s)%s%s\n", (int)desc->memid, Access(desc->invkind), name.c_str(),
                        params.c_str(), help.empty() ? "" : "  -- ", help.c_str());
        }
        info->ReleaseFuncDesc(desc);
    }
}

void PrintEnum(ITypeInfo *info, const TYPEATTR &attr)
{
    for (UINT i = 0; i < attr.cVars; ++i) {
        VARDESC *desc = nullptr;
        if (FAILED(info->GetVarDesc(i, &desc)))
            continue;
        std::string name = Documentation(info, desc->memid);
        LONG value = 0;
        if (desc->varkind == VAR_CONST && desc->lpvarValue) {
            if (!VariantToLong(*desc->lpvarValue, value))
                value = 0;
        }
        std::printf("  %-12s = %d\n", name.c_str(), value);
        info->ReleaseVarDesc(desc);
    }
}

const char *KindName(TYPEKIND kind)
{
    switch (kind) {
    case TKIND_ENUM:
        return "enum";
    case TKIND_INTERFACE:
        return "interface";
    case TKIND_DISPATCH:
        return "dispinterface";
    case TKIND_COCLASS:
        return "coclass";
    default:
        return "type";
    }
}

void PrintTypeInfo(ITypeInfo *info)
{
    TYPEATTR *attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)))
        return;
    std::string help;
    std::string name = Documentation(info, MEMBERID_NIL, &help);
    std::string guidText;
    if (attr->guid != GUID_NULL) {
        OLECHAR guid[40];
        StringFromGUID2(attr->guid, guid, 40);
        guidText = " " + Utf16ToUtf8(std::u16string(guid));
    }
    std::printf("\n%s %s%s%s%s\n", KindName(attr->typekind), name.c_str(), guidText.c_str(),
                help.empty() ? "" : "  -- ", help.c_str());
    switch (attr->typekind) {
    case TKIND_ENUM:
        PrintEnum(info, *attr);
        break;
    case TKIND_DISPATCH:
    case TKIND_INTERFACE:
        PrintFunctions(info, *attr, true);
        break;
    case TKIND_COCLASS:
        for (UINT i = 0; i < attr->cImplTypes; ++i) {
            HREFTYPE ref;
            INT flags = 0;
            CComPtr<ITypeInfo> implemented;
            if (FAILED(info->GetRefTypeOfImplType(i, &ref)) || FAILED(info->GetRefTypeInfo(ref, &implemented)))
                continue;
            info->GetImplTypeFlags(i, &flags);
            std::printf("  implements %s%s%s\n", Documentation(implemented, MEMBERID_NIL).c_str(),
                        (flags & IMPLTYPEFLAG_FDEFAULT) ? " [default]" : "",
                        (flags & IMPLTYPEFLAG_FSOURCE) ? " [source]" : "");
        }
        break;
    default:
        break;
    }
    info->ReleaseTypeAttr(attr);
}

} // namespace

[[nodiscard]] int CommandDescribe(DispatchObject &tts)
{
    CComPtr<IProvideClassInfo> classInfo;
    HRESULT hr = tts.get()->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void **>(&classInfo));
    CComPtr<ITypeInfo> coclass;
    if (SUCCEEDED(hr))
        hr = classInfo->GetClassInfo(&coclass);
    CComPtr<ITypeLib> library;
    UINT index = 0;
    if (SUCCEEDED(hr))
        hr = coclass->GetContainingTypeLib(&library, &index);
    if (FAILED(hr)) {
        std::fprintf(stderr, "orafon: %s\n", DescribeFailure(Activity::Describe, hr).c_str());
        return kExitFailure;
    }
    orafon::CBstr name, help;
    library->GetDocumentation(-1, name.Out(), help.Out(), nullptr, nullptr);
    TLIBATTR *libAttr = nullptr;
    if (SUCCEEDED(library->GetLibAttr(&libAttr))) {
        std::printf("library %s %d.%d  -- %s\n", BstrToUtf8(name.Get()).c_str(), libAttr->wMajorVerNum,
                    libAttr->wMinorVerNum, BstrToUtf8(help.Get()).c_str());
        library->ReleaseTLibAttr(libAttr);
    }
    UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        CComPtr<ITypeInfo> info;
        if (SUCCEEDED(library->GetTypeInfo(i, &info)))
            PrintTypeInfo(info);
    }
    return kExitOk;
}

} // namespace orafon_cli

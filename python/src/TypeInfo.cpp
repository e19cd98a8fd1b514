#include "TypeInfo.h"

#include "ComError.h"
#include "Variants.h"

#include <vector>

namespace py = pybind11;

namespace orafon::python {

namespace {

[[nodiscard]] std::string TakeBstr(BSTR text)
{
    std::string out = text ? Utf8FromWide(text, SysStringLen(text)) : std::string();
    SysFreeString(text);
    return out;
}

// Frees the attributes of a type when it goes out of scope.
class TypeAttr {
public:
    explicit TypeAttr(ITypeInfo *info) : info_(info)
    {
        if (FAILED(info_->GetTypeAttr(&attr_)))
            attr_ = nullptr;
    }
    TypeAttr(const TypeAttr &) = delete;
    TypeAttr &operator=(const TypeAttr &) = delete;
    ~TypeAttr()
    {
        if (attr_)
            info_->ReleaseTypeAttr(attr_);
    }
    const TYPEATTR *operator->() const { return attr_; }
    explicit operator bool() const { return attr_ != nullptr; }

private:
    ITypeInfo *info_;
    TYPEATTR *attr_ = nullptr;
};

[[nodiscard]] std::string Documentation(ITypeInfo *info, MEMBERID id, std::string *name = nullptr)
{
    BSTR bname = nullptr, doc = nullptr;
    if (FAILED(info->GetDocumentation(id, &bname, &doc, nullptr, nullptr)))
        return {};
    std::string n = TakeBstr(bname);
    if (name)
        *name = n;
    return TakeBstr(doc);
}

// The type as a Python user reads it: the Python type a value arrives as,
// or the name of the library's own type (an enumeration).
[[nodiscard]] std::string TypeName(ITypeInfo *info, const TYPEDESC &type)
{
    switch (type.vt) {
    case VT_PTR:
        return type.lptdesc ? TypeName(info, *type.lptdesc) : "object";
    case VT_USERDEFINED: {
        CComPtr<ITypeInfo> ref;
        std::string name;
        if (SUCCEEDED(info->GetRefTypeInfo(type.hreftype, &ref)))
            static_cast<void>(Documentation(ref, MEMBERID_NIL, &name)); // only its name is wanted
        return name.empty() ? "object" : name;
    }
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return "int";
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_DECIMAL:
        return "float";
    case VT_BOOL:
        return "bool";
    case VT_BSTR:
        return "str";
    case VT_VOID:
    case VT_HRESULT:
        return "None";
    default:
        return "object";
    }
}

const char *KindName(INVOKEKIND kind)
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

py::dict DescribeFunction(ITypeInfo *info, const FUNCDESC &func)
{
    std::vector<BSTR> names(static_cast<size_t>(func.cParams) + 1, nullptr);
    UINT got = 0;
    info->GetNames(func.memid, names.data(), static_cast<UINT>(names.size()), &got);
    std::vector<std::string> text;
    for (UINT i = 0; i < names.size(); ++i)
        text.push_back(i < got ? TakeBstr(names[i]) : std::string());

    py::list params;
    std::string returns = TypeName(info, func.elemdescFunc.tdesc);
    for (SHORT i = 0; i < func.cParams; ++i) {
        const ELEMDESC &param = func.lprgelemdescParam[i];
        const USHORT flags = param.paramdesc.wParamFlags;
        if (flags & PARAMFLAG_FRETVAL) {
            returns = TypeName(info, param.tdesc);
            continue;
        }
        if (flags & PARAMFLAG_FLCID)
            continue;
        const bool optional = (flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0 ||
                              (func.cParamsOpt > 0 && i >= func.cParams - func.cParamsOpt);
        std::string name = text[static_cast<size_t>(i) + 1];
        if (name.empty())
            name = "arg" + std::to_string(i + 1);
        params.append(py::make_tuple(name, TypeName(info, param.tdesc), optional));
    }
    // A property put's value is the assigned one, not an argument.
    const bool put = func.invkind == INVOKE_PROPERTYPUT || func.invkind == INVOKE_PROPERTYPUTREF;
    if (put && py::len(params) > 0) {
        returns = py::cast<std::string>(params[py::len(params) - 1].cast<py::tuple>()[1]);
        params = params[py::slice(0, static_cast<py::ssize_t>(py::len(params) - 1), 1)];
    }
    py::dict member;
    member["name"] = text[0];
    member["dispid"] = func.memid;
    member["kind"] = KindName(func.invkind);
    member["params"] = params;
    member["returns"] = returns;
    member["doc"] = Documentation(info, func.memid);
    return member;
}

py::dict DescribeVariable(ITypeInfo *info, const VARDESC &var)
{
    std::string name;
    std::string doc = Documentation(info, var.memid, &name);
    py::dict member;
    member["name"] = name;
    member["dispid"] = var.memid;
    member["kind"] = (var.wVarFlags & VARFLAG_FREADONLY) ? "get" : "var";
    member["params"] = py::list();
    member["returns"] = TypeName(info, var.elemdescVar.tdesc);
    member["doc"] = doc;
    return member;
}

[[nodiscard]] bool IsInheritedDispatchMember(MEMBERID id)
{
    // IUnknown and IDispatch seen through a dispinterface's function table.
    return id >= 0x60000000 && id <= 0x60010003;
}

py::list EnumConstants(ITypeInfo *info, WORD count)
{
    py::list constants;
    for (WORD i = 0; i < count; ++i) {
        VARDESC *var = nullptr;
        if (FAILED(info->GetVarDesc(i, &var)))
            continue;
        std::string name;
        std::string doc = Documentation(info, var->memid, &name);
        if (var->varkind == VAR_CONST && var->lpvarValue) {
            try {
                constants.append(py::make_tuple(name, FromVariant(*var->lpvarValue, name), doc));
            } catch (py::error_already_set &) {
                PyErr_Clear();
            }
        }
        info->ReleaseVarDesc(var);
    }
    return constants;
}

[[nodiscard]] HRESULT SourceOfClass(ITypeInfo *coclass, ITypeInfo **source)
{
    TypeAttr attr(coclass);
    if (!attr)
        return E_FAIL;
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags)) || !(flags & IMPLTYPEFLAG_FSOURCE) ||
            !(flags & IMPLTYPEFLAG_FDEFAULT) || FAILED(coclass->GetRefTypeOfImplType(i, &ref)))
            continue;
        return coclass->GetRefTypeInfo(ref, source);
    }
    return CONNECT_E_NOCONNECTION;
}

[[nodiscard]] bool ClassImplements(ITypeInfo *coclass, const GUID &iid)
{
    TypeAttr attr(coclass);
    for (UINT i = 0; attr && i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        CComPtr<ITypeInfo> impl;
        if (FAILED(coclass->GetRefTypeOfImplType(i, &ref)) || FAILED(coclass->GetRefTypeInfo(ref, &impl)))
            continue;
        TypeAttr implAttr(impl);
        if (implAttr && implAttr->guid == iid)
            return true;
    }
    return false;
}

} // namespace

[[nodiscard]] std::string GuidText(const GUID &g)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

py::dict DescribeInterface(ITypeInfo *info)
{
    TypeAttr attr(info);
    py::dict out;
    std::string name;
    out["doc"] = Documentation(info, MEMBERID_NIL, &name);
    out["name"] = name;
    out["iid"] = attr ? GuidText(attr->guid) : std::string();
    py::list members;
    for (UINT i = 0; attr && i < attr->cFuncs; ++i) {
        FUNCDESC *func = nullptr;
        if (FAILED(info->GetFuncDesc(i, &func)))
            continue;
        if (!(func->wFuncFlags & FUNCFLAG_FRESTRICTED) && !IsInheritedDispatchMember(func->memid))
            members.append(DescribeFunction(info, *func));
        info->ReleaseFuncDesc(func);
    }
    for (UINT i = 0; attr && i < attr->cVars; ++i) {
        VARDESC *var = nullptr;
        if (FAILED(info->GetVarDesc(i, &var)))
            continue;
        members.append(DescribeVariable(info, *var));
        info->ReleaseVarDesc(var);
    }
    out["members"] = members;
    return out;
}

py::list EnumsOfLibrary(ITypeInfo *info)
{
    py::list enums;
    CComPtr<ITypeLib> lib;
    UINT index = 0;
    if (FAILED(info->GetContainingTypeLib(&lib, &index)))
        return enums;
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        CComPtr<ITypeInfo> type;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || (kind != TKIND_ENUM && kind != TKIND_MODULE) ||
            FAILED(lib->GetTypeInfo(i, &type)))
            continue;
        TypeAttr attr(type);
        if (!attr)
            continue;
        std::string name;
        std::string doc = Documentation(type, MEMBERID_NIL, &name);
        enums.append(py::make_tuple(name, doc, EnumConstants(type, attr->cVars)));
    }
    return enums;
}

[[nodiscard]] HRESULT FindSourceInterface(IDispatch *object, ITypeInfo **source)
{
    *source = nullptr;
    CComPtr<IProvideClassInfo> provide;
    if (SUCCEEDED(object->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void **>(&provide)))) {
        CComPtr<ITypeInfo> coclass;
        if (SUCCEEDED(provide->GetClassInfo(&coclass)) && SUCCEEDED(SourceOfClass(coclass, source)))
            return S_OK;
    }
    CComPtr<ITypeInfo> info;
    UINT count = 0;
    if (FAILED(object->GetTypeInfoCount(&count)) || count == 0 || FAILED(object->GetTypeInfo(0, 0, &info)))
        return CONNECT_E_NOCONNECTION;
    TypeAttr attr(info);
    CComPtr<ITypeLib> lib;
    UINT index = 0;
    if (!attr || FAILED(info->GetContainingTypeLib(&lib, &index)))
        return CONNECT_E_NOCONNECTION;
    const UINT types = lib->GetTypeInfoCount();
    for (UINT i = 0; i < types; ++i) {
        TYPEKIND kind;
        CComPtr<ITypeInfo> coclass;
        if (FAILED(lib->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS || FAILED(lib->GetTypeInfo(i, &coclass)))
            continue;
        if (ClassImplements(coclass, attr->guid) && SUCCEEDED(SourceOfClass(coclass, source)))
            return S_OK;
    }
    return CONNECT_E_NOCONNECTION;
}

std::map<DISPID, std::string> MemberNames(ITypeInfo *info)
{
    std::map<DISPID, std::string> names;
    TypeAttr attr(info);
    for (UINT i = 0; attr && i < attr->cFuncs; ++i) {
        FUNCDESC *func = nullptr;
        if (FAILED(info->GetFuncDesc(i, &func)))
            continue;
        BSTR name = nullptr;
        UINT got = 0;
        if (SUCCEEDED(info->GetNames(func->memid, &name, 1, &got)) && got == 1)
            names[func->memid] = TakeBstr(name);
        info->ReleaseFuncDesc(func);
    }
    return names;
}

} // namespace orafon::python

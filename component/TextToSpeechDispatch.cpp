// IDispatch by name: GetIDsOfNames and Invoke with its argument conversion,
// both driven by the member table (TextToSpeechMembers.h). The dispatch does
// not consult the type library.
#include "TextToSpeech.h"
#include "TextToSpeechMembers.h"

#include <orafon/CaseFold.h>
#include <orafon/CatchAtEdge.h>

#include <array>

namespace {

using orafon::members::Accessor;
using orafon::members::kTextToSpeechMembers;
using orafon::members::Member;
using orafon::members::MemberKind;

// ---- Name lookup ------------------------------------------------------------------

// Whether text starts with prefix, ignoring case; *rest is what follows it.
bool StartsWithIgnoringCase(const char16_t *text, const char16_t *prefix, const char16_t **rest) noexcept
{
    const std::u16string_view wanted(prefix);
    if (!orafon::StartsWithIgnoringCase(std::u16string_view(text), wanted))
        return false;
    *rest = text + wanted.size();
    return true;
}

bool EqualsIgnoringCase(const char16_t *a, const char16_t *b) noexcept
{
    return orafon::EqualsIgnoringCase(std::u16string_view(a), std::u16string_view(b));
}

// A member answers to its plain name; a property also to the name of its
// getter ("get_" + name) and a read-write property to that of its setter
// ("put_" + name).
bool AnswersTo(const Member &member, const OLECHAR *name) noexcept
{
    if (EqualsIgnoringCase(name, member.name))
        return true;
    const char16_t *rest = nullptr;
    if (member.kind != MemberKind::Method && StartsWithIgnoringCase(name, u"get_", &rest))
        return EqualsIgnoringCase(rest, member.name);
    if (member.kind == MemberKind::Property && StartsWithIgnoringCase(name, u"put_", &rest))
        return EqualsIgnoringCase(rest, member.name);
    return false;
}

// Nothing here allocates, so GetIDsOfNames cannot throw.
[[nodiscard]] bool LookUpName(const OLECHAR *name, DISPID &id) noexcept
{
    if (!name)
        return false;
    for (const Member &member : kTextToSpeechMembers) {
        if (AnswersTo(member, name)) {
            id = member.id;
            return true;
        }
    }
    return false;
}

// ---- Member choice -------------------------------------------------------------------

const Member *FindMember(DISPID id) noexcept
{
    for (const Member &member : kTextToSpeechMembers) {
        if (member.id == id)
            return &member;
    }
    return nullptr;
}

// Chooses the accessor a call runs. A read-write property runs its getter
// when the flags ask for a get (even together with a put), else its setter
// for a put; with neither, it has no accessor for the call. Read-only
// properties and methods ignore the flags.
const Accessor *ChooseAccessor(const Member &member, WORD flags)
{
    if (member.kind != MemberKind::Property)
        return &member.get;
    if (flags & DISPATCH_PROPERTYGET)
        return &member.get;
    if (flags & DISPATCH_PROPERTYPUT)
        return &member.put;
    return nullptr;
}

bool NamedArgumentsAccepted(const DISPPARAMS &params)
{
    if (params.cNamedArgs == 0)
        return true;
    return params.cNamedArgs == 1 && params.rgdispidNamedArgs && params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
}

// ---- Argument conversion -------------------------------------------------------------

// Gives the value of one argument as the target type: *value points either at
// the caller's VARIANT (exact type) or at converted. Fails for a by-reference
// argument of another type and for a value the Automation conversion refuses.
[[nodiscard]] HRESULT CoerceArgument(const VARIANT *argument, VARTYPE target, orafon::CVariant &converted,
                                     const VARIANT **value)
{
    const VARIANT *source = argument;
    if (V_VT(source) == (VT_BYREF | VT_VARIANT)) {
        source = V_VARIANTREF(source);
        if (!source)
            return DISP_E_TYPEMISMATCH;
    }
    if (V_VT(source) == target) {
        *value = source;
        return S_OK;
    }
    if (V_VT(source) & VT_BYREF)
        return DISP_E_TYPEMISMATCH;
    const HRESULT hr = VariantChangeType(converted.Get(), source, 0, target);
    if (FAILED(hr))
        return hr;
    *value = converted.Get();
    return S_OK;
}

} // namespace

// ---- IDispatch ----------------------------------------------------------------------------

STDMETHODIMP CTextToSpeech::GetIDsOfNames(REFIID, LPOLESTR *rgszNames, UINT cNames, LCID, DISPID *rgDispId)
{
    if (cNames > 0 && (!rgszNames || !rgDispId))
        return E_INVALIDARG;
    for (UINT i = 0; i < cNames; ++i) {
        if (!LookUpName(rgszNames[i], rgDispId[i]))
            return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
}

STDMETHODIMP CTextToSpeech::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS *pDispParams,
                                   VARIANT *pVarResult, EXCEPINFO *, UINT *puArgErr)
{
    constexpr UINT kMaxArgs = orafon::members::kMaxParams;
    if (!pDispParams)
        return DISP_E_BADVARTYPE;
    if (pDispParams->cArgs > kMaxArgs)
        return DISP_E_BADPARAMCOUNT;
    if (pDispParams->cArgs > 0 && !pDispParams->rgvarg)
        return E_INVALIDARG;
    if (pVarResult)
        VariantClear(pVarResult);
    if (!NamedArgumentsAccepted(*pDispParams))
        return DISP_E_NONAMEDARGS;

    const Member *member = FindMember(dispIdMember);
    if (!member)
        return DISP_E_MEMBERNOTFOUND;
    const Accessor *accessor = ChooseAccessor(*member, wFlags);
    if (!accessor)
        return DISP_E_MEMBERNOTFOUND;
    const UINT argCount = pDispParams->cArgs;
    if (argCount != accessor->paramCount)
        return DISP_E_BADPARAMCOUNT;

    // rgvarg holds the arguments in reverse order; convert the first parameter first.
    std::array<orafon::CVariant, kMaxArgs> converted;
    std::array<const VARIANT *, kMaxArgs> values{};
    for (UINT param = 0; param < argCount; ++param) {
        const UINT index = argCount - 1 - param;
        if (FAILED(CoerceArgument(&pDispParams->rgvarg[index], accessor->paramTypes[param].vt, converted[param],
                                  &values[param]))) {
            if (puArgErr)
                *puArgErr = index;
            return DISP_E_TYPEMISMATCH;
        }
    }
    // The result is handed over on success only; otherwise it is freed here.
    orafon::CVariant result;
    const HRESULT hr = orafon::CatchAtEdge([&] { return accessor->call(*this, values.data(), *result.Get()); });
    if (SUCCEEDED(hr) && pVarResult)
        result.Detach(pVarResult);
    return hr;
}

// The standard OLE library: IUnknown and IDispatch, the bases every
// automation interface derives from. References to them (StdRef) resolve here.
//
// GUID, DISPPARAMS, VARIANT* and EXCEPINFO parameters are described as
// untyped pointers: this platform's libraries describe no records.
#include "TypeLibBuilder.h"

#include <cstdlib>

namespace orafon::typelib {
namespace {

Library BuildStdOle()
{
    TypeLibBuilder b(u"stdole", LIBID_stdole, 2, 0);
    b.Doc(u"OLE Automation");

    const WORD restricted = FUNCFLAG_FRESTRICTED;
    const Ty voidPtr = Ty::Void().Ptr();
    auto fn = [&](MEMBERID id, std::u16string name, std::vector<ParamDef> params, Ty result) {
        FuncDef f;
        f.memid = id;
        f.name = std::move(name);
        f.params = std::move(params);
        f.result = std::move(result);
        f.flags = restricted;
        return f;
    };

    b.Interface(u"IUnknown", IID_IUnknown)
        .NoBase()
        .Flags(TYPEFLAG_FHIDDEN)
        .Function(
            fn(0x60000000, u"QueryInterface", {In(u"riid", voidPtr), Out(u"ppvObj", voidPtr.Ptr())}, Ty::HResult()))
        .Function(fn(0x60000001, u"AddRef", {}, Ty::Base(VT_UI4)))
        .Function(fn(0x60000002, u"Release", {}, Ty::Base(VT_UI4)));
    b.Interface(u"IDispatch", IID_IDispatch)
        .Inherits(Ty::Named(u"IUnknown"))
        .Flags(TYPEFLAG_FHIDDEN)
        .Function(fn(0x60010000, u"GetTypeInfoCount", {Out(u"pctinfo", Ty::Base(VT_UINT).Ptr())}, Ty::HResult()))
        .Function(fn(0x60010001, u"GetTypeInfo",
                     {In(u"itinfo", Ty::Base(VT_UINT)), In(u"lcid", Ty::Base(VT_UI4)), Out(u"pptinfo", voidPtr.Ptr())},
                     Ty::HResult()))
        .Function(
            fn(0x60010002, u"GetIDsOfNames",
               {In(u"riid", voidPtr), In(u"rgszNames", Ty::Base(VT_I1).Ptr().Ptr()), In(u"cNames", Ty::Base(VT_UINT)),
                In(u"lcid", Ty::Base(VT_UI4)), Out(u"rgdispid", Ty::Long().Ptr())},
               Ty::HResult()))
        .Function(
            fn(0x60010003, u"Invoke",
               {In(u"dispidMember", Ty::Long()), In(u"riid", voidPtr), In(u"lcid", Ty::Base(VT_UI4)),
                In(u"wFlags", Ty::Base(VT_UI2)), In(u"pdispparams", voidPtr), Out(u"pvarResult", Ty::Variant().Ptr()),
                Out(u"pexcepinfo", voidPtr), Out(u"puArgErr", Ty::Base(VT_UINT).Ptr())},
               Ty::HResult()));
    Library lib;
    std::string error;
    if (FAILED(b.Build(lib, &error)))
        std::abort(); // a fixed description; only a coding error gets here
    lib.syskind = SYS_WIN32;
    return lib;
}

} // namespace

const Library &StdOleLibrary()
{
    static const Library lib = BuildStdOle();
    return lib;
}

} // namespace orafon::typelib

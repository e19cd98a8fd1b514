// The sample library the type-library tests build, load and register.
#pragma once

#include "TypeLibBuilder.h"

#include <string>
#include <vector>

namespace orafon::test {

// {6B1D2E3F-0A4C-4B5D-9E8F-112233445566} and friends: the sample library.
DEFINE_GUID(LIBID_Sample, 0x6B1D2E3F, 0x0A4C, 0x4B5D, 0x9E, 0x8F, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66);
DEFINE_GUID(IID_ISample, 0x6B1D2E40, 0x0A4C, 0x4B5D, 0x9E, 0x8F, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66);
DEFINE_GUID(DIID_SampleEvents, 0x6B1D2E41, 0x0A4C, 0x4B5D, 0x9E, 0x8F, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66);
DEFINE_GUID(CLSID_Sample, 0x6B1D2E42, 0x0A4C, 0x4B5D, 0x9E, 0x8F, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66);
DEFINE_GUID(IID_ICustom, 0x6B1D2E43, 0x0A4C, 0x4B5D, 0x9E, 0x8F, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66);

// Library Sample 2.3 (lcid 0x409): enum COLOR, dual ISample, dispinterface
// SampleEvents, coclass Sample, custom ICustom deriving from ISample's
// function-table half.
inline void DescribeSample(typelib::TypeLibBuilder &b)
{
    using namespace typelib;
    b.Doc(u"Sample 2.3 Type Library").Lcid(0x0409).HelpFile(u"sample.hlp");
    b.Enum(u"COLOR").Doc(u"Colours").Constant(u"RED", 0).Constant(u"GREEN", 5, u"the green one").Constant(u"BLUE", -7);
    b.DualInterface(u"ISample", IID_ISample)
        .Doc(u"ISample Interface")
        .PropertyGet(1, u"Count", Ty::Long(), u"property Count")
        .Property(2, u"Color", Ty::Named(u"COLOR"), u"property Color")
        .Method(3, u"Paint", {In(u"strText", Ty::Bstr()), In(u"bLoud", Ty::Bool())}, u"Paint it")
        .Method(4, u"Lookup", {In(u"nIndex", Ty::Long()), RetVal(u"strName", Ty::Bstr().Ptr())}, u"Lookup");
    b.DispInterface(u"SampleEvents", DIID_SampleEvents)
        .Doc(u"SampleEvents Interface")
        .Method(1, u"OnDone", {}, u"Done")
        .Method(2, u"OnStep", {In(u"nStep", Ty::Long()), In(u"nOf", Ty::Long())}, u"Step");
    b.CoClass(u"Sample", CLSID_Sample)
        .Version(1, 0)
        .Implements(u"ISample", IMPLTYPEFLAG_FDEFAULT)
        .Implements(u"SampleEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    b.Interface(u"ICustom", IID_ICustom)
        .Inherits(Ty::Named(u"ISample"))
        .Method(0x100, u"Extra", {In(u"p", Ty::Std(StdType::IDispatch).Ptr())}, u"");
}

inline std::vector<BYTE> SampleBytes()
{
    typelib::TypeLibBuilder b(u"Sample", LIBID_Sample, 2, 3);
    DescribeSample(b);
    std::vector<BYTE> bytes;
    std::string error;
    if (FAILED(b.Build(bytes, &error)))
        bytes.clear();
    return bytes;
}

} // namespace orafon::test

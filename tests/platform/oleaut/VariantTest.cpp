// VariantInit, VariantClear, VariantCopy, VariantCopyInd and the object and
// reference forms of VariantChangeType.
#include "TestObjects.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

VARIANT Variant(VARTYPE vt)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}

TEST(VariantLifetime, InitSetsEmpty)
{
    VARIANT v;
    v.vt = VT_I4;
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(VariantLifetime, ClearFreesStringAndResetsType)
{
    VARIANT v = Variant(VT_BSTR);
    v.bstrVal = SysAllocString(u"owned");
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY); // LeakSanitizer checks the string went
}

TEST(VariantLifetime, ClearReleasesInterfaces)
{
    CountingDispatch obj;
    VARIANT v = Variant(VT_DISPATCH);
    obj.AddRef();
    v.pdispVal = &obj;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(obj.refs, 1);

    VARIANT u = Variant(VT_UNKNOWN);
    obj.AddRef();
    u.punkVal = &obj;
    EXPECT_EQ(VariantClear(&u), S_OK);
    EXPECT_EQ(obj.refs, 1);
}

TEST(VariantLifetime, ClearLeavesReferencedDataAlone)
{
    CountingDispatch obj;
    IDispatch *pdisp = &obj;
    VARIANT v = Variant(VT_DISPATCH | VT_BYREF);
    v.ppdispVal = &pdisp;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(obj.refs, 1);

    BSTR s = SysAllocString(u"still mine");
    VARIANT r = Variant(VT_BSTR | VT_BYREF);
    r.pbstrVal = &s;
    EXPECT_EQ(VariantClear(&r), S_OK);
    EXPECT_EQ(std::u16string(s), u"still mine");
    SysFreeString(s);
}

TEST(VariantLifetime, ClearRejectsInvalidTypes)
{
    for (VARTYPE bad : {VARTYPE(15), VARTYPE(VT_VOID), VARTYPE(VT_PTR), VARTYPE(VT_LPWSTR),
                        VARTYPE(VT_EMPTY | VT_BYREF), VARTYPE(VT_I4 | VT_VECTOR), VARTYPE(0x0fff)}) {
        VARIANT v = Variant(bad);
        EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << bad;
        EXPECT_EQ(v.vt, bad);
    }
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(VariantCopying, CopyDuplicatesStringKeepingByteLength)
{
    VARIANT src = Variant(VT_BSTR);
    src.bstrVal = SysAllocStringByteLen("odd", 3);
    VARIANT dst = Variant(VT_EMPTY);
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_BSTR);
    EXPECT_NE(dst.bstrVal, src.bstrVal);
    EXPECT_EQ(SysStringByteLen(dst.bstrVal), 3u);
    VariantClear(&src);
    VariantClear(&dst);
}

TEST(VariantCopying, CopyOfNullStringIsEmptyString)
{
    VARIANT src = Variant(VT_BSTR);
    src.bstrVal = nullptr;
    VARIANT dst = Variant(VT_EMPTY);
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    ASSERT_NE(dst.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(dst.bstrVal), 0u);
    VariantClear(&dst);
}

TEST(VariantCopying, CopyAddsReferenceAndClearsDestinationFirst)
{
    CountingDispatch a, b;
    VARIANT src = Variant(VT_DISPATCH);
    src.pdispVal = &a;
    VARIANT dst = Variant(VT_UNKNOWN);
    b.AddRef();
    dst.punkVal = &b;
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(a.refs, 2);
    EXPECT_EQ(b.refs, 1);
    EXPECT_EQ(dst.pdispVal, &a);
    VariantClear(&dst);
    EXPECT_EQ(a.refs, 1);
}

TEST(VariantCopying, CopyOfReferenceIsShallow)
{
    LONG value = 5;
    VARIANT src = Variant(VT_I4 | VT_BYREF);
    src.plVal = &value;
    VARIANT dst = Variant(VT_EMPTY);
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_I4 | VT_BYREF);
    EXPECT_EQ(dst.plVal, &value);
}

TEST(VariantCopying, CopyToItselfChangesNothing)
{
    VARIANT v = Variant(VT_BSTR);
    v.bstrVal = SysAllocString(u"same");
    BSTR before = v.bstrVal;
    EXPECT_EQ(VariantCopy(&v, &v), S_OK);
    EXPECT_EQ(v.bstrVal, before);
    VariantClear(&v);
}

TEST(VariantCopying, CopyRejectsBadSourceAndBadDestination)
{
    VARIANT bad = Variant(VT_VOID);
    VARIANT good = Variant(VT_I4);
    good.lVal = 1;
    VARIANT dst = Variant(VT_EMPTY);
    EXPECT_EQ(VariantCopy(&dst, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantCopy(&bad, &good), DISP_E_BADVARTYPE);
    EXPECT_EQ(VariantCopy(nullptr, &good), E_INVALIDARG);
}

TEST(VariantCopying, CopyIndDereferences)
{
    BSTR s = SysAllocString(u"deep");
    VARIANT src = Variant(VT_BSTR | VT_BYREF);
    src.pbstrVal = &s;
    VARIANT dst = Variant(VT_EMPTY);
    ASSERT_EQ(VariantCopyInd(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_BSTR);
    EXPECT_NE(dst.bstrVal, s);
    EXPECT_EQ(std::u16string(dst.bstrVal), u"deep");
    VariantClear(&dst);
    SysFreeString(s);

    CountingDispatch obj;
    IDispatch *pdisp = &obj;
    VARIANT dref = Variant(VT_DISPATCH | VT_BYREF);
    dref.ppdispVal = &pdisp;
    ASSERT_EQ(VariantCopyInd(&dst, &dref), S_OK);
    EXPECT_EQ(dst.vt, VT_DISPATCH);
    EXPECT_EQ(obj.refs, 2);
    VariantClear(&dst);
    EXPECT_EQ(obj.refs, 1);
}

TEST(VariantCopying, CopyIndThroughVariantReference)
{
    VARIANT inner = Variant(VT_R8);
    inner.dblVal = 2.5;
    VARIANT src = Variant(VT_VARIANT | VT_BYREF);
    src.pvarVal = &inner;
    VARIANT dst = Variant(VT_EMPTY);
    ASSERT_EQ(VariantCopyInd(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_R8);
    EXPECT_EQ(dst.dblVal, 2.5);

    // A reference to a reference is refused.
    LONG l = 1;
    VARIANT innerRef = Variant(VT_I4 | VT_BYREF);
    innerRef.plVal = &l;
    src.pvarVal = &innerRef;
    EXPECT_EQ(VariantCopyInd(&dst, &src), E_INVALIDARG);
}

TEST(VariantCopying, CopyIndInPlace)
{
    LONG l = 77;
    VARIANT v = Variant(VT_I4 | VT_BYREF);
    v.plVal = &l;
    ASSERT_EQ(VariantCopyInd(&v, &v), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 77);
}

TEST(VariantObjects, DispatchConvertsThroughItsValueProperty)
{
    CountingDispatch obj;
    obj.value.vt = VT_BSTR;
    obj.value.bstrVal = SysAllocString(u"42");
    VARIANT src = Variant(VT_DISPATCH);
    src.pdispVal = &obj;
    VARIANT dst = Variant(VT_EMPTY);
    ASSERT_EQ(VariantChangeTypeEx(&dst, &src, 0x0409, 0, VT_I4), S_OK);
    EXPECT_EQ(dst.vt, VT_I4);
    EXPECT_EQ(dst.lVal, 42);
    EXPECT_EQ(obj.invokes, 1);
    EXPECT_EQ(obj.refs, 1);
}

TEST(VariantObjects, NoValuePropFlagRefusesObjects)
{
    CountingDispatch obj;
    obj.value.vt = VT_I4;
    obj.value.lVal = 1;
    VARIANT src = Variant(VT_DISPATCH);
    src.pdispVal = &obj;
    VARIANT dst = Variant(VT_EMPTY);
    EXPECT_EQ(VariantChangeTypeEx(&dst, &src, 0x0409, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(obj.invokes, 0);
    EXPECT_EQ(dst.vt, VT_EMPTY);
}

TEST(VariantObjects, FailingValuePropertyPassesItsError)
{
    CountingDispatch obj;
    obj.invokeResult = E_OUTOFMEMORY;
    VARIANT src = Variant(VT_DISPATCH);
    src.pdispVal = &obj;
    VARIANT dst = Variant(VT_EMPTY);
    EXPECT_EQ(VariantChangeTypeEx(&dst, &src, 0x0409, 0, VT_BSTR), E_OUTOFMEMORY);
    EXPECT_EQ(obj.refs, 1);
}

TEST(VariantObjects, NullDispatchIsAMismatch)
{
    VARIANT src = Variant(VT_DISPATCH);
    src.pdispVal = nullptr;
    VARIANT dst = Variant(VT_EMPTY);
    EXPECT_EQ(VariantChangeTypeEx(&dst, &src, 0x0409, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

TEST(VariantObjects, DispatchToUnknownAndBack)
{
    CountingDispatch obj;
    VARIANT src = Variant(VT_DISPATCH);
    src.pdispVal = &obj;
    VARIANT unk = Variant(VT_EMPTY);
    ASSERT_EQ(VariantChangeTypeEx(&unk, &src, 0x0409, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(unk.vt, VT_UNKNOWN);
    EXPECT_EQ(obj.refs, 2);
    EXPECT_EQ(obj.invokes, 0);
    VARIANT disp = Variant(VT_EMPTY);
    ASSERT_EQ(VariantChangeTypeEx(&disp, &unk, 0x0409, 0, VT_DISPATCH), S_OK);
    EXPECT_EQ(obj.refs, 3);
    VariantClear(&disp);
    VariantClear(&unk);
    EXPECT_EQ(obj.refs, 1);

    obj.dispatchInterface = false;
    VARIANT plain = Variant(VT_UNKNOWN);
    plain.punkVal = &obj;
    EXPECT_EQ(VariantChangeTypeEx(&disp, &plain, 0x0409, 0, VT_DISPATCH), E_NOINTERFACE);
    EXPECT_EQ(obj.refs, 1);
}

TEST(VariantObjects, UnknownHasNoValue)
{
    CountingDispatch obj;
    VARIANT src = Variant(VT_UNKNOWN);
    src.punkVal = &obj;
    VARIANT dst = Variant(VT_EMPTY);
    EXPECT_EQ(VariantChangeTypeEx(&dst, &src, 0x0409, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(obj.refs, 1);
}

TEST(VariantInPlace, ChangeTypeOnItselfFreesTheOldString)
{
    VARIANT v = Variant(VT_BSTR);
    v.bstrVal = SysAllocString(u"123");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 123);
}

TEST(VariantInPlace, FailedChangeLeavesDestinationUntouched)
{
    VARIANT src = Variant(VT_BSTR);
    src.bstrVal = SysAllocString(u"not a number");
    VARIANT dst = Variant(VT_BSTR);
    dst.bstrVal = SysAllocString(u"keep");
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(dst.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(dst.bstrVal), u"keep");
    VariantClear(&src);
    VariantClear(&dst);
}

TEST(VariantInPlace, NullArgumentsAreRefused)
{
    VARIANT v = Variant(VT_I4);
    EXPECT_EQ(VariantChangeType(nullptr, &v, 0, VT_I4), E_INVALIDARG);
    EXPECT_EQ(VariantChangeType(&v, nullptr, 0, VT_I4), E_INVALIDARG);
}

TEST(VariantInPlace, StringToStringCopies)
{
    VARIANT src = Variant(VT_BSTR);
    src.bstrVal = SysAllocString(u"text");
    VARIANT dst = Variant(VT_EMPTY);
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
    EXPECT_NE(dst.bstrVal, src.bstrVal);
    EXPECT_EQ(std::u16string(dst.bstrVal), u"text");
    VariantClear(&src);
    VariantClear(&dst);
}

} // namespace

namespace {

TEST(VariantCopying, CopyIndOfDecimalReferenceCopiesTheWholeValue)
{
    DECIMAL dec{};
    dec.scale = 2;
    dec.sign = 0x80;
    dec.Hi32 = 1;
    dec.Lo64 = 42;
    VARIANT src;
    src.vt = VT_DECIMAL | VT_BYREF;
    src.pdecVal = &dec;
    VARIANT dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantCopyInd(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_DECIMAL);
    DECIMAL copy;
    std::memcpy(&copy, &dst, sizeof copy);
    EXPECT_EQ(copy.scale, 2);
    EXPECT_EQ(copy.sign, 0x80);
    EXPECT_EQ(copy.Hi32, 1u);
    EXPECT_EQ(copy.Lo64, 42u);
}

} // namespace

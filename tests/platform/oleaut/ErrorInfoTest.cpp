// Error objects and the per-thread error slot.
#include <orafon/win/oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

CComPtr<IErrorInfo> MakeError(const char16_t *description)
{
    CComPtr<ICreateErrorInfo> create;
    EXPECT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetDescription(const_cast<LPOLESTR>(description));
    create->SetSource(const_cast<LPOLESTR>(u"Orafon.Test"));
    create->SetHelpContext(7);
    CComPtr<IErrorInfo> info;
    EXPECT_EQ(create.QueryInterface(&info), S_OK);
    return info;
}

std::u16string Description(IErrorInfo *info)
{
    BSTR text = nullptr;
    EXPECT_EQ(info->GetDescription(&text), S_OK);
    std::u16string result = text ? std::u16string(text) : u"<null>";
    SysFreeString(text);
    return result;
}

TEST(ErrorInfo, ObjectKeepsWhatWasSet)
{
    CComPtr<IErrorInfo> info = MakeError(u"Something failed");
    EXPECT_EQ(Description(info), u"Something failed");
    BSTR source = nullptr;
    EXPECT_EQ(info->GetSource(&source), S_OK);
    EXPECT_EQ(std::u16string(source), u"Orafon.Test");
    SysFreeString(source);
    DWORD context = 0;
    EXPECT_EQ(info->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 7u);
    BSTR helpFile = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(info->GetHelpFile(&helpFile), S_OK);
    EXPECT_EQ(helpFile, nullptr); // never set
    GUID guid;
    EXPECT_EQ(info->GetGUID(&guid), S_OK);
    EXPECT_TRUE(IsEqualGUID(guid, GUID_NULL));
}

TEST(ErrorInfo, BothInterfacesAreOneObject)
{
    CComPtr<IErrorInfo> info = MakeError(u"x");
    CComPtr<ICreateErrorInfo> create;
    ASSERT_EQ(info.QueryInterface(&create), S_OK);
    create->SetGUID(IID_IDispatch);
    GUID guid;
    info->GetGUID(&guid);
    EXPECT_TRUE(IsEqualGUID(guid, IID_IDispatch));
    CComPtr<IDispatch> none;
    EXPECT_EQ(info.QueryInterface(&none), E_NOINTERFACE);
}

TEST(ErrorInfo, GetTakesTheObjectAndClearsTheSlot)
{
    ASSERT_EQ(SetErrorInfo(0, MakeError(u"first")), S_OK);
    IErrorInfo *got = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(Description(got), u"first");
    got->Release();

    got = reinterpret_cast<IErrorInfo *>(1);
    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
    EXPECT_EQ(got, nullptr);
}

TEST(ErrorInfo, SetReplacesAndNullClears)
{
    SetErrorInfo(0, MakeError(u"old"));
    SetErrorInfo(0, MakeError(u"new"));
    IErrorInfo *got = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    EXPECT_EQ(Description(got), u"new");
    got->Release();

    SetErrorInfo(0, MakeError(u"gone"));
    EXPECT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
}

TEST(ErrorInfo, EachThreadHasItsOwnSlot)
{
    SetErrorInfo(0, MakeError(u"main thread"));
    std::u16string seenByOther;
    HRESULT otherBefore = E_FAIL;
    std::thread other([&] {
        IErrorInfo *got = nullptr;
        otherBefore = GetErrorInfo(0, &got);
        SetErrorInfo(0, MakeError(u"other thread"));
        ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
        seenByOther = Description(got);
        got->Release();
        SetErrorInfo(0, MakeError(u"left behind")); // released when the thread ends
    });
    other.join();
    EXPECT_EQ(otherBefore, S_FALSE);
    EXPECT_EQ(seenByOther, u"other thread");
    IErrorInfo *got = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    EXPECT_EQ(Description(got), u"main thread");
    got->Release();
}

TEST(ErrorInfo, BadArguments)
{
    EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
    IErrorInfo *got = nullptr;
    EXPECT_EQ(GetErrorInfo(1, &got), E_INVALIDARG);
    EXPECT_EQ(SetErrorInfo(1, nullptr), E_INVALIDARG);
}

} // namespace

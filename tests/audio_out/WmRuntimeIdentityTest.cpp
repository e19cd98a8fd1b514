// The rules of IUnknown on the Windows Media runtime's objects: the writer,
// the profile manager with its codec list, profiles, stream configurations
// and the metadata editor.
#include "WmRuntimeApi.h"
#include "support/ComRules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

struct Made {
    std::string name;
    std::function<CComPtr<IUnknown>(const WmRuntimeApi &)> make;
    std::vector<IID> answered;
};

CComPtr<IWMProfile> EmptyProfile(const WmRuntimeApi &api)
{
    CComPtr<IWMProfileManager> manager;
    EXPECT_EQ(api.WMCreateProfileManager(&manager), S_OK);
    CComPtr<IWMProfile> profile;
    if (manager) {
        EXPECT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, &profile), S_OK);
    }
    return profile;
}

class WmRuntimeIdentity : public ::testing::TestWithParam<Made> {};

TEST_P(WmRuntimeIdentity, QueryInterfaceRulesHold)
{
    WmRuntimeApiLoad();
    const WmRuntimeApi api = WmRuntimeApiGet();
    ASSERT_TRUE(api.IsAvailable()) << "wmvcore.so was not found beside the test";
    CComPtr<IUnknown> object = GetParam().make(api);
    ASSERT_TRUE(object);
    orafon::test::ExpectComRules(object, GetParam().answered, {IID_IWMSyncReader, IID_INSSBuffer, GUID_NULL});
}

INSTANTIATE_TEST_SUITE_P(
    Runtime, WmRuntimeIdentity,
    ::testing::Values(Made{"Writer",
                           [](const WmRuntimeApi &api) {
                               CComPtr<IWMWriter> writer;
                               EXPECT_EQ(api.WMCreateWriter(nullptr, &writer), S_OK);
                               return CComPtr<IUnknown>(writer.get());
                           },
                           {IID_IWMWriter, IID_IWMWriterAdvanced}},
                      Made{"ProfileManager",
                           [](const WmRuntimeApi &api) {
                               CComPtr<IWMProfileManager> manager;
                               EXPECT_EQ(api.WMCreateProfileManager(&manager), S_OK);
                               return CComPtr<IUnknown>(manager.get());
                           },
                           {IID_IWMProfileManager, IID_IWMCodecInfo, IID_IWMCodecInfo2, IID_IWMCodecInfo3}},
                      Made{"Profile",
                           [](const WmRuntimeApi &api) { return CComPtr<IUnknown>(EmptyProfile(api).get()); },
                           {IID_IWMProfile}},
                      Made{"StreamConfig",
                           [](const WmRuntimeApi &api) {
                               CComPtr<IWMStreamConfig> config;
                               EXPECT_EQ(EmptyProfile(api)->CreateNewStream(WMMEDIATYPE_Audio, &config), S_OK);
                               return CComPtr<IUnknown>(config.get());
                           },
                           {IID_IWMStreamConfig, IID_IWMMediaProps}},
                      Made{"Editor",
                           [](const WmRuntimeApi &api) {
                               CComPtr<IWMMetadataEditor> editor;
                               EXPECT_EQ(api.WMCreateEditor(&editor), S_OK);
                               return CComPtr<IUnknown>(editor.get());
                           },
                           {IID_IWMMetadataEditor, IID_IWMHeaderInfo}}),
    [](const ::testing::TestParamInfo<Made> &row) { return row.param.name; });

} // namespace

// The class's registry entries written and removed by the registration
// script, in a registry of the test's own.
#include "Registration.h"
#include "ModuleTestSupport.h"
#include "TypeLibText.h"

#include <orafon/OrafonIds.h>

#include <gtest/gtest.h>

#include <fstream>

using namespace orafon::module;
using namespace orafon::test;

namespace {

const bool kRegistry = (UsePrivateRegistry(), true);

const std::string kClassKey = "CLSID\\{A5584957-EF07-419C-BACD-9931F1256D92}";
const std::string kModule = "/opt/orafon/lib/Orafon.so";

std::string Narrow(const std::u16string &s)
{
    return std::string(s.begin(), s.end());
}

class Registration : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(UpdateTextToSpeechRegistry(kModule.c_str(), false), S_OK); }
};

TEST_F(Registration, ScriptNamesTheLibraryIdentifiers)
{
    EXPECT_EQ(kClassKey, "CLSID\\" + Narrow(orafon::typelib::GuidString(CLSID_TextToSpeech)));
    ASSERT_EQ(UpdateTextToSpeechRegistry(kModule.c_str(), true), S_OK);
    EXPECT_EQ(Key(kClassKey + "\\TypeLib").value(), Narrow(orafon::typelib::GuidString(LIBID_Orafon)));
}

TEST_F(Registration, WritesEveryKeyAndValue)
{
    ASSERT_EQ(UpdateTextToSpeechRegistry(kModule.c_str(), true), S_OK);
    struct Row {
        std::string key;
        const char *value; // the default value; nullptr: none
    };
    const Row rows[] = {
        {"Orafon.TextToSpeech.1", "CTextToSpeech Object"},
        {"Orafon.TextToSpeech.1\\CLSID", "{A5584957-EF07-419C-BACD-9931F1256D92}"},
        {"Orafon.TextToSpeech", "CTextToSpeech Object"},
        {"Orafon.TextToSpeech\\CLSID", "{A5584957-EF07-419C-BACD-9931F1256D92}"},
        {"Orafon.TextToSpeech\\CurVer", "Orafon.TextToSpeech.1"},
        {kClassKey, "CTextToSpeech Object"},
        {kClassKey + "\\ProgID", "Orafon.TextToSpeech.1"},
        {kClassKey + "\\VersionIndependentProgID", "Orafon.TextToSpeech"},
        {kClassKey + "\\Programmable", nullptr},
        {kClassKey + "\\InprocServer32", "/opt/orafon/lib/Orafon.so"},
        {kClassKey + "\\TypeLib", "{F29A07DB-9775-46B7-A7DD-94C440145B52}"},
    };
    for (const Row &row : rows) {
        Key key(row.key);
        ASSERT_TRUE(key.exists()) << row.key;
        if (row.value)
            EXPECT_EQ(key.value(), row.value) << row.key;
        else
            EXPECT_FALSE(key.value().has_value()) << row.key;
    }
    EXPECT_EQ(Key(kClassKey + "\\InprocServer32").value("ThreadingModel"), "apartment");
    EXPECT_EQ(Key(kClassKey).value("AppID"), "");
    EXPECT_EQ(Key(kClassKey).subkeys(), (std::set<std::string>{"InprocServer32", "ProgID", "Programmable", "TypeLib",
                                                               "VersionIndependentProgID"}));
    EXPECT_EQ(Key("Orafon.TextToSpeech").subkeys(), (std::set<std::string>{"CLSID", "CurVer"}));
}

TEST_F(Registration, RegisteringAgainRebuildsTheClassKey)
{
    ASSERT_EQ(UpdateTextToSpeechRegistry("/old/place/Orafon.so", true), S_OK);
    ASSERT_TRUE(CreateKey(kClassKey + "\\Stray\\Deeper"));
    ASSERT_TRUE(CreateKey("CLSID\\{00000000-1111-2222-3333-444444444444}"));
    ASSERT_EQ(UpdateTextToSpeechRegistry(kModule.c_str(), true), S_OK);
    EXPECT_FALSE(Key(kClassKey + "\\Stray").exists());
    EXPECT_EQ(Key(kClassKey).subkeys().size(), 5u);
    EXPECT_EQ(Key(kClassKey + "\\InprocServer32").value(), kModule);
    // Other classes are none of this script's business.
    EXPECT_TRUE(Key("CLSID\\{00000000-1111-2222-3333-444444444444}").exists());
}

TEST_F(Registration, UnregisteringRemovesAllButClsidItself)
{
    ASSERT_EQ(UpdateTextToSpeechRegistry(kModule.c_str(), true), S_OK);
    ASSERT_TRUE(CreateKey("Orafon.TextToSpeech.1\\Extra"));
    ASSERT_EQ(UpdateTextToSpeechRegistry(kModule.c_str(), false), S_OK);
    for (const std::string &gone :
         {std::string("Orafon.TextToSpeech.1"), std::string("Orafon.TextToSpeech"), kClassKey})
        EXPECT_FALSE(Key(gone).exists()) << gone;
    EXPECT_TRUE(Key("CLSID").exists());
    // Nothing left to remove is no failure.
    EXPECT_EQ(UpdateTextToSpeechRegistry(kModule.c_str(), false), S_OK);
}

// A registry that cannot be opened: the first failure ends the call and is
// reported as an HRESULT.
TEST_F(Registration, RegistryFailureIsReported)
{
    const std::string saved = std::getenv("ORAFON_REGISTRY");
    const std::filesystem::path blocker = TestDir() / "not-a-directory";
    {
        std::ofstream(blocker) << "x";
    }
    setenv("ORAFON_REGISTRY", (blocker / "registry.db").c_str(), 1);
    HRESULT reg = UpdateTextToSpeechRegistry(kModule.c_str(), true);
    HRESULT unreg = UpdateTextToSpeechRegistry(kModule.c_str(), false);
    setenv("ORAFON_REGISTRY", saved.c_str(), 1);
    EXPECT_TRUE(FAILED(reg)) << std::hex << reg;
    EXPECT_EQ(HRESULT_FACILITY(reg), FACILITY_WIN32) << std::hex << reg;
    EXPECT_TRUE(FAILED(unreg)) << std::hex << unreg;
    // Nothing reached the real database meanwhile.
    EXPECT_FALSE(Key("Orafon.TextToSpeech").exists());
}

TEST(RegistryScript, NoRemoveKeysStayAndOnlyListedChildrenGo)
{
    std::vector<ScriptKey> script(1);
    script[0].name = "ScriptTestRoot";
    script[0].mode = ScriptKey::Mode::NoRemove;
    script[0].subkeys.resize(1);
    script[0].subkeys[0].name = "Child";
    script[0].subkeys[0].value = "v";
    ASSERT_EQ(ApplyRegistryScript(HKEY_CLASSES_ROOT, script, true), S_OK);
    ASSERT_TRUE(CreateKey("ScriptTestRoot\\Other"));
    EXPECT_EQ(Key("ScriptTestRoot\\Child").value(), "v");
    ASSERT_EQ(ApplyRegistryScript(HKEY_CLASSES_ROOT, script, false), S_OK);
    EXPECT_FALSE(Key("ScriptTestRoot\\Child").exists());
    EXPECT_TRUE(Key("ScriptTestRoot\\Other").exists());
}

} // namespace

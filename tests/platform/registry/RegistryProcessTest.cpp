// The registry shared between processes: what one writes, the next reads;
// concurrent writers lose nothing.
#include "support/Process.h"
#include "support/TempRegistry.h"

#include <orafon/win/winreg.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

using orafon::test::Key;
using orafon::test::Process;
using orafon::test::RunProgram;
using orafon::test::TempRegistry;

namespace {

const std::string kHelper = REGISTRY_HELPER;

bool FileExists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

TEST(RegistryProcesses, ValueWrittenByOneProcessIsReadByAnother)
{
    TempRegistry registry;
    EXPECT_FALSE(FileExists(registry.path()));
    ASSERT_EQ(0, RunProgram(kHelper, {"set", "Software\\Shared", "Greeting", "hello from child"}).exitCode);
    EXPECT_TRUE(FileExists(registry.path())); // created on first use
    // The writer closed the database on exit: its log went into the file.
    EXPECT_FALSE(FileExists(registry.path() + "-wal"));

    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\shared", 0, KEY_READ, &key));
    char buf[64] = {};
    DWORD size = sizeof(buf);
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "greeting", nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size));
    EXPECT_STREQ("hello from child", buf);

    Key writable;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &writable, nullptr));
    const char reply[] = "hello from parent";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(writable, "Reply", 0, REG_SZ, reinterpret_cast<const BYTE *>(reply), sizeof(reply)));
    const auto got = RunProgram(kHelper, {"get", "Software\\Shared", "REPLY"});
    EXPECT_EQ(0, got.exitCode);
    EXPECT_EQ("hello from parent", got.output);
    EXPECT_EQ(1, RunProgram(kHelper, {"get", "Software\\Shared", "Absent"}).exitCode);
}

TEST(RegistryProcesses, FourConcurrentWritersLoseNothing)
{
    TempRegistry registry;
    constexpr int kWriters = 4;
    constexpr int kValues = 1000;
    std::vector<std::unique_ptr<Process>> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.push_back(std::make_unique<Process>(kHelper, std::vector<std::string>{"fill", "Software\\Concurrent",
                                                                                      "w" + std::to_string(w) + "_",
                                                                                      std::to_string(kValues)}));
    for (auto &writer : writers)
        EXPECT_EQ(0, writer->Wait().exitCode);

    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Concurrent", 0, KEY_READ, &key));
    std::set<std::string> seen;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD cch = sizeof(name);
        DWORD value = 0;
        DWORD size = sizeof(value);
        DWORD type = 0;
        const LSTATUS s = RegEnumValueA(key, i, name, &cch, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
        if (s == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(ERROR_SUCCESS, s);
        ASSERT_EQ(static_cast<DWORD>(REG_DWORD), type);
        const std::string n(name);
        const std::string index = n.substr(n.find('_') + 1);
        EXPECT_EQ(std::to_string(value), index) << n;
        seen.insert(n);
    }
    EXPECT_EQ(static_cast<size_t>(kWriters * kValues), seen.size());
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kValues; i += 97)
            EXPECT_TRUE(seen.count("w" + std::to_string(w) + "_" + std::to_string(i)));
}

TEST(RegistryProcesses, DefaultLocationFollowsXdgDataHome)
{
    TempRegistry scratch; // a folder to play in
    const std::string saved = getenv("ORAFON_REGISTRY");
    const std::string xdg = scratch.dir() + "/xdg";
    unsetenv("ORAFON_REGISTRY");
    setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    const auto result = RunProgram(kHelper, {"set", "Software\\Where", "n", "v"});
    setenv("ORAFON_REGISTRY", saved.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(0, result.exitCode);
    EXPECT_TRUE(FileExists(xdg + "/orafon/registry.db"));
}

// The default location's folders are made; a file the user named must be in
// a folder that exists, so a mistyped name does not grow a folder tree.
TEST(RegistryProcesses, OnlyTheDefaultFolderIsCreated)
{
    TempRegistry scratch;
    const std::string nested = scratch.dir() + "/a/b/registry.db";
    setenv("ORAFON_REGISTRY", nested.c_str(), 1);
    Key key;
    EXPECT_EQ(ERROR_CANTOPEN,
              RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    key.Close();
    EXPECT_FALSE(FileExists(scratch.dir() + "/a"));

    unsetenv("ORAFON_REGISTRY");
    const char *savedData = std::getenv("XDG_DATA_HOME");
    const std::string saved = savedData ? savedData : "";
    setenv("XDG_DATA_HOME", (scratch.dir() + "/data").c_str(), 1);
    const LSTATUS s =
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    key.Close();
    EXPECT_EQ(ERROR_SUCCESS, s);
    EXPECT_TRUE(FileExists(scratch.dir() + "/data/orafon/registry.db"));
    if (savedData)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
    setenv("ORAFON_REGISTRY", scratch.path().c_str(), 1);
}

TEST(RegistryProcesses, UnusableDatabaseGivesAnErrorNotACrash)
{
    TempRegistry scratch;
    setenv("ORAFON_REGISTRY", "/proc/orafon-no-such-dir/registry.db", 1);
    Key key;
    EXPECT_EQ(ERROR_CANTOPEN,
              RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(nullptr, static_cast<HKEY>(key));
    // Back on a usable file, everything works again.
    setenv("ORAFON_REGISTRY", scratch.path().c_str(), 1);
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
}

} // namespace

// The output file's commit and an interrupt exclude each other: the interrupt
// watcher either abandons an output not yet in place, or finds it in place and
// lets the command end as it would.
#include "../../tools/orafon/OutputFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class OutputFileInterrupt : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orafon-output-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        dir_ = pattern;
        target_ = dir_ / "story.wav";
        std::ofstream(target_) << "the user's own file";
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static std::string Read(const fs::path &path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    size_t FilesInFolder() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }

    fs::path dir_, target_;
};

TEST_F(OutputFileInterrupt, AfterTheCommitTheCommandEndsAsItWould)
{
    orafon_cli::OutputFile out;
    std::string problem;
    ASSERT_TRUE(out.Prepare(target_.string(), {}, problem)) << problem;
    std::ofstream(out.WorkPath()) << "new speech";
    ASSERT_TRUE(out.Commit(problem)) << problem;
    EXPECT_FALSE(orafon_cli::AbandonOutputForInterrupt());
    EXPECT_EQ("new speech", Read(target_));
    EXPECT_EQ(1u, FilesInFolder());
}

// Once abandoned, nothing is put in place however the main thread goes on;
// the watcher ends the process right after, as here.
TEST_F(OutputFileInterrupt, BeforeTheCommitTheTemporaryGoesAndTheFileStays)
{
    EXPECT_EXIT(
        {
            orafon_cli::OutputFile out;
            std::string problem;
            if (!out.Prepare(target_.string(), {}, problem))
                _exit(2);
            std::ofstream(out.WorkPath()) << "new speech";
            if (!orafon_cli::AbandonOutputForInterrupt() || fs::exists(out.WorkPath()))
                _exit(3);
            _exit(Read(target_) == "the user's own file" && FilesInFolder() == 1 ? 130 : 4);
        },
        testing::ExitedWithCode(130), "");
}

} // namespace

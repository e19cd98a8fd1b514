// Mp3ToSWF end to end: a real MP3 made by ffmpeg becomes a SWF movie with
// the object's SWFFrameRate, and ffprobe finds the MP3 stream inside it.
#include "TestObjects.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

using orafon::CBstr;
using namespace orafon::test;

namespace {

namespace fs = std::filesystem;

std::string RunCommand(const std::string &command)
{
    std::string output;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        std::array<char, 256> buffer;
        while (size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
            output.append(buffer.data(), n);
        pclose(pipe);
    }
    return output;
}

CBstr Bstr(const fs::path &path)
{
    const std::string text = path.string();
    return CBstr(SysAllocString(std::u16string(text.begin(), text.end()).c_str()));
}

// The frame rate of an uncompressed SWF header: after "FWS", the version, the
// 32-bit length and the stage rectangle (5 bits of field size, then four
// fields), an 8.8 fixed-point value with the integer part second.
int FrameRateOf(const std::vector<unsigned char> &swf)
{
    const int fieldBits = swf.at(8) >> 3;
    const size_t rectBytes = (5 + 4 * static_cast<size_t>(fieldBits) + 7) / 8;
    return swf.at(8 + rectBytes + 1);
}

class SwfConversion : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("orafon-swf-" + std::to_string(getpid()));
        fs::create_directories(m_dir);
        m_mp3 = m_dir / "tone.mp3";
        const std::string make = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=2 -ar 22050 -ac 1 "
                                 "-b:a 32k '" +
                                 m_mp3.string() + "'";
        ASSERT_EQ(std::system(make.c_str()), 0);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir, m_mp3;
};

TEST_F(SwfConversion, MovieCarriesTheSoundAtTheObjectsFrameRate)
{
    auto tts = MakeTts();
    ASSERT_EQ(tts->put_SWFFrameRate(12), S_OK);
    const fs::path swfPath = m_dir / "tone.swf";
    CBstr mp3 = Bstr(m_mp3), swf = Bstr(swfPath);
    ASSERT_EQ(tts->Mp3ToSWF(mp3.Get(), swf.Get(), VARIANT_TRUE), S_OK);

    std::ifstream file(swfPath, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 20u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 3), "FWS");
    EXPECT_EQ(bytes[3], 5);
    EXPECT_EQ(FrameRateOf(bytes), 12);

    const std::string codec = RunCommand(
        "ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 '" + swfPath.string() + "'");
    EXPECT_EQ(codec.substr(0, 3), "mp3");
}

TEST_F(SwfConversion, UnreadableInputIsUnexpected)
{
    auto tts = MakeTts();
    CBstr missing = Bstr(m_dir / "missing.mp3"), swf = Bstr(m_dir / "out.swf");
    EXPECT_EQ(tts->Mp3ToSWF(missing.Get(), swf.Get(), VARIANT_FALSE), E_UNEXPECTED);
}

} // namespace

// The BladeEnc-style encoder library as a program loads it: by name, at run time.
#include <orafon/Holders.h>
#include <orafon/win/BladeMP3EncDLL.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

struct Api {
    void *h = nullptr;
    BEINITSTREAM init = nullptr;
    BEENCODECHUNK encode = nullptr;
    BEDEINITSTREAM deinit = nullptr;
    BECLOSESTREAM close = nullptr;
    BEVERSION version = nullptr;
    BEWRITEVBRHEADER vbrHeader = nullptr;
    BEWRITEINFOTAG infoTag = nullptr;

    explicit Api(const char *path)
    {
        h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!h)
            return;
        init = reinterpret_cast<BEINITSTREAM>(dlsym(h, TEXT_BEINITSTREAM));
        encode = reinterpret_cast<BEENCODECHUNK>(dlsym(h, TEXT_BEENCODECHUNK));
        deinit = reinterpret_cast<BEDEINITSTREAM>(dlsym(h, TEXT_BEDEINITSTREAM));
        close = reinterpret_cast<BECLOSESTREAM>(dlsym(h, TEXT_BECLOSESTREAM));
        version = reinterpret_cast<BEVERSION>(dlsym(h, TEXT_BEVERSION));
        vbrHeader = reinterpret_cast<BEWRITEVBRHEADER>(dlsym(h, TEXT_BEWRITEVBRHEADER));
        infoTag = reinterpret_cast<BEWRITEINFOTAG>(dlsym(h, TEXT_BEWRITEINFOTAG));
    }
    ~Api()
    {
        if (h)
            dlclose(h);
    }
};

Api &Lib()
{
    static Api api(LAME_ENC_PATH);
    return api;
}

BE_CONFIG Config(DWORD rate, LONG mode, DWORD kbps)
{
    BE_CONFIG cfg{};
    cfg.dwConfig = BE_CONFIG_LAME;
    cfg.format.LHV1.dwStructVersion = 1;
    cfg.format.LHV1.dwStructSize = sizeof(BE_CONFIG);
    cfg.format.LHV1.dwSampleRate = rate;
    cfg.format.LHV1.dwReSampleRate = rate;
    cfg.format.LHV1.nMode = mode;
    cfg.format.LHV1.dwBitrate = kbps;
    cfg.format.LHV1.nPreset = LQP_NOPRESET;
    cfg.format.LHV1.dwMpegVersion = MPEG1;
    cfg.format.LHV1.bOriginal = TRUE;
    cfg.format.LHV1.bWriteVBRHeader = TRUE;
    cfg.format.LHV1.nVbrMethod = VBR_METHOD_NONE;
    cfg.format.LHV1.bNoRes = TRUE;
    cfg.format.LHV1.bStrictIso = TRUE;
    return cfg;
}

TEST(LameEnc, ExportsTheWholeInterface)
{
    Api &api = Lib();
    ASSERT_NE(nullptr, api.h) << dlerror();
    EXPECT_TRUE(api.init && api.encode && api.deinit && api.close && api.version && api.vbrHeader && api.infoTag);
    Api without(LAME_ENC_WITHOUT_INFOTAG_PATH);
    ASSERT_NE(nullptr, without.h);
    EXPECT_NE(nullptr, without.init);
    EXPECT_EQ(nullptr, without.infoTag);
}

TEST(LameEnc, VersionIsFilled)
{
    BE_VERSION v{};
    Lib().version(&v);
    EXPECT_EQ(1, v.byDLLMajorVersion);
    EXPECT_EQ(3, v.byMajorVersion);
    EXPECT_GT(v.wYear, 2000);
    EXPECT_NE('\0', v.zHomepage[0]);
}

struct InitCase {
    DWORD rate;
    LONG mode;
    DWORD kbps;
    DWORD samples; // expected per chunk
};

TEST(LameEnc, AcceptsValidConfigurationsAndSizesTheChunks)
{
    const InitCase cases[] = {
        {11025, BE_MP3_MODE_MONO, 16, 576},      {11025, BE_MP3_MODE_MONO, 64, 576},
        {22050, BE_MP3_MODE_MONO, 48, 576},      {44100, BE_MP3_MODE_MONO, 56, 1152},
        {11025, BE_MP3_MODE_JSTEREO, 32, 1152},  {22050, BE_MP3_MODE_JSTEREO, 96, 1152},
        {44100, BE_MP3_MODE_JSTEREO, 128, 2304}, {48000, BE_MP3_MODE_JSTEREO, 320, 2304},
        {44100, BE_MP3_MODE_STEREO, 192, 2304},  {8000, BE_MP3_MODE_MONO, 8, 576},
    };
    for (const InitCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz mode " << c.mode << " " << c.kbps << " kbit/s");
        BE_CONFIG cfg = Config(c.rate, c.mode, c.kbps);
        DWORD samples = 0, size = 0;
        HBE_STREAM h = 0;
        ASSERT_EQ(BE_ERR_SUCCESSFUL, Lib().init(&cfg, &samples, &size, &h));
        EXPECT_NE(0u, h);
        EXPECT_EQ(c.samples, samples);
        EXPECT_GE(size, 7200u);
        EXPECT_EQ(BE_ERR_SUCCESSFUL, Lib().close(h));
    }
}

TEST(LameEnc, RefusesWhatItCannotHonour)
{
    struct Bad {
        const char *what;
        BE_CONFIG cfg;
    };
    std::vector<Bad> cases = {
        {"320 kbit/s at 11025 Hz", Config(11025, BE_MP3_MODE_MONO, 320)},
        {"16 kbit/s at 44100 Hz", Config(44100, BE_MP3_MODE_JSTEREO, 16)},
        {"a bit rate no MPEG version has", Config(44100, BE_MP3_MODE_JSTEREO, 100)},
        {"no bit rate", Config(44100, BE_MP3_MODE_JSTEREO, 0)},
        {"an odd sample rate", Config(44000, BE_MP3_MODE_JSTEREO, 128)},
        {"mode 4", Config(44100, 4, 128)},
        {"a preset", Config(44100, BE_MP3_MODE_JSTEREO, 128)},
        {"resampling to a bit rate the target lacks", Config(44100, BE_MP3_MODE_JSTEREO, 320)},
    };
    cases[6].cfg.format.LHV1.nPreset = LQP_HIGH_QUALITY;
    cases[7].cfg.format.LHV1.dwReSampleRate = 22050;
    for (Bad &c : cases) {
        SCOPED_TRACE(c.what);
        DWORD samples = 0, size = 0;
        HBE_STREAM h = 0;
        EXPECT_NE(BE_ERR_SUCCESSFUL, Lib().init(&c.cfg, &samples, &size, &h));
        EXPECT_EQ(0u, h);
    }
    BE_CONFIG other = Config(44100, BE_MP3_MODE_JSTEREO, 128);
    other.dwConfig = 2; // neither form
    DWORD samples = 0, size = 0;
    HBE_STREAM h = 0;
    EXPECT_EQ(BE_ERR_INVALID_FORMAT, Lib().init(&other, &samples, &size, &h));
    EXPECT_NE(BE_ERR_SUCCESSFUL, Lib().init(nullptr, &samples, &size, &h));
}

TEST(LameEnc, StaleHandlesAndOversizedChunksAreRefused)
{
    BE_CONFIG cfg = Config(44100, BE_MP3_MODE_JSTEREO, 128);
    DWORD samples = 0, size = 0;
    HBE_STREAM h = 0;
    ASSERT_EQ(BE_ERR_SUCCESSFUL, Lib().init(&cfg, &samples, &size, &h));
    std::vector<SHORT> pcm(samples * 2);
    std::vector<BYTE> out(size);
    DWORD produced = 0;
    EXPECT_EQ(BE_ERR_BUFFER_TOO_SMALL, Lib().encode(h, samples + 2, pcm.data(), out.data(), &produced));
    EXPECT_EQ(BE_ERR_SUCCESSFUL, Lib().close(h));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, Lib().close(h));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, Lib().encode(h, samples, pcm.data(), out.data(), &produced));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, Lib().deinit(h, out.data(), &produced));
    EXPECT_EQ(BE_ERR_INVALID_HANDLE, Lib().infoTag(h, "x.mp3"));
}

enum class Finish { InfoTag, CloseThenVbrHeader, CloseOnly };

// Encodes one second of a tone into path and finishes as told.
void EncodeTone(const std::string &path, Finish finish)
{
    BE_CONFIG cfg = Config(44100, BE_MP3_MODE_JSTEREO, 128);
    DWORD samples = 0, size = 0;
    HBE_STREAM h = 0;
    ASSERT_EQ(BE_ERR_SUCCESSFUL, Lib().init(&cfg, &samples, &size, &h));
    std::vector<SHORT> pcm(samples);
    std::vector<BYTE> out(size);
    orafon::CStdioFile f(std::fopen(path.c_str(), "wb"));
    ASSERT_TRUE(f);
    size_t t = 0;
    for (int block = 0; block < 44100 * 2 / static_cast<int>(samples); ++block) {
        for (DWORD i = 0; i < samples; i += 2, ++t)
            pcm[i] = pcm[i + 1] = static_cast<SHORT>(10000 * std::sin(2 * M_PI * 440 * t / 44100.0));
        DWORD produced = 0;
        ASSERT_EQ(BE_ERR_SUCCESSFUL, Lib().encode(h, samples, pcm.data(), out.data(), &produced));
        ASSERT_LE(produced, size);
        std::fwrite(out.data(), 1, produced, f.Get());
    }
    DWORD produced = 0;
    ASSERT_EQ(BE_ERR_SUCCESSFUL, Lib().deinit(h, out.data(), &produced));
    std::fwrite(out.data(), 1, produced, f.Get());
    f.Reset();
    if (finish == Finish::CloseOnly) {
        ASSERT_EQ(BE_ERR_SUCCESSFUL, Lib().close(h));
    } else if (finish == Finish::CloseThenVbrHeader) {
        ASSERT_EQ(BE_ERR_SUCCESSFUL, Lib().close(h));
        ASSERT_EQ(BE_ERR_SUCCESSFUL, Lib().vbrHeader(path.c_str()));
        EXPECT_NE(BE_ERR_SUCCESSFUL, Lib().vbrHeader(path.c_str())); // taken by the first call
    } else {
        ASSERT_EQ(BE_ERR_SUCCESSFUL, Lib().infoTag(h, path.c_str()));
        ASSERT_EQ(BE_ERR_SUCCESSFUL, Lib().close(h));
    }
}

bool HasInfoTag(const std::string &path)
{
    const orafon::CStdioFile f(std::fopen(path.c_str(), "rb"));
    std::vector<char> head(512);
    const size_t n = f ? std::fread(head.data(), 1, head.size(), f.Get()) : 0;
    const std::string s(head.data(), n);
    return s.find("Info") != std::string::npos || s.find("Xing") != std::string::npos;
}

TEST(LameEnc, TagIsWrittenByEitherFinishingOrder)
{
    for (Finish finish : {Finish::InfoTag, Finish::CloseThenVbrHeader, Finish::CloseOnly}) {
        const int n = static_cast<int>(finish);
        const std::string path = testing::TempDir() + "lame_enc_tag_" + std::to_string(n) + ".mp3";
        EncodeTone(path, finish);
        // Without a header pass the reserved first frame carries no tag.
        EXPECT_EQ(finish != Finish::CloseOnly, HasInfoTag(path)) << n;
        std::remove(path.c_str());
    }
    Lib().vbrHeader("/nonexistent/x.mp3"); // drops what the last close kept
}

} // namespace

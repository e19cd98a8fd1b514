// Buffered RIFF file I/O: chunk sizes, padding, chunk search, direct buffer
// access and the reporting of write failures.
#include <orafon/win/mmio.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class MmioTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("orafon_mmio_" + std::to_string(getpid()) + "_" +
                                             testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Path(const char *name) const { return (m_dir / name).string(); }

    static std::vector<unsigned char> ReadAll(const std::string &path)
    {
        std::ifstream f(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }
    static DWORD Le32(const std::vector<unsigned char> &b, size_t at)
    {
        return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<DWORD>(b[at + 3]) << 24);
    }
    static std::string Id(const std::vector<unsigned char> &b, size_t at)
    {
        return std::string(b.begin() + at, b.begin() + at + 4);
    }

    HMMIO Create(const std::string &path, LONG cchBuffer = 0)
    {
        MMIOINFO info{};
        info.cchBuffer = cchBuffer;
        return mmioOpenA(const_cast<LPSTR>(path.c_str()), &info, MMIO_ALLOCBUF | MMIO_READWRITE | MMIO_CREATE);
    }

    fs::path m_dir;
};

// A RIFF "TEST" form with an odd "odd " chunk and an even "even" chunk.
void WriteSampleForm(HMMIO h)
{
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('T', 'E', 'S', 'T');
    ASSERT_EQ(MMSYSERR_NOERROR, mmioCreateChunk(h, &riff, MMIO_CREATERIFF));
    MMCKINFO odd{};
    odd.ckid = mmioFOURCC('o', 'd', 'd', ' ');
    ASSERT_EQ(MMSYSERR_NOERROR, mmioCreateChunk(h, &odd, 0));
    ASSERT_EQ(3, mmioWrite(h, "abc", 3));
    ASSERT_EQ(MMSYSERR_NOERROR, mmioAscend(h, &odd, 0));
    EXPECT_EQ(3u, odd.cksize);
    MMCKINFO even{};
    even.ckid = mmioFOURCC('e', 'v', 'e', 'n');
    ASSERT_EQ(MMSYSERR_NOERROR, mmioCreateChunk(h, &even, 0));
    ASSERT_EQ(4, mmioWrite(h, "wxyz", 4));
    ASSERT_EQ(MMSYSERR_NOERROR, mmioAscend(h, &even, 0));
    ASSERT_EQ(MMSYSERR_NOERROR, mmioAscend(h, &riff, 0));
    EXPECT_EQ(4u + 12 + 12, riff.cksize);
}

TEST_F(MmioTest, AscendFixesSizesAndPadsOddChunks)
{
    const std::string path = Path("form.riff");
    HMMIO h = Create(path);
    ASSERT_NE(nullptr, h);
    WriteSampleForm(h);
    ASSERT_EQ(MMSYSERR_NOERROR, mmioClose(h, 0));

    const auto b = ReadAll(path);
    ASSERT_EQ(36u, b.size());
    EXPECT_EQ("RIFF", Id(b, 0));
    EXPECT_EQ(28u, Le32(b, 4));
    EXPECT_EQ("TEST", Id(b, 8));
    EXPECT_EQ("odd ", Id(b, 12));
    EXPECT_EQ(3u, Le32(b, 16));
    EXPECT_EQ("abc", std::string(b.begin() + 20, b.begin() + 23));
    EXPECT_EQ(0, b[23]); // pad byte
    EXPECT_EQ("even", Id(b, 24));
    EXPECT_EQ(4u, Le32(b, 28));
    EXPECT_EQ("wxyz", std::string(b.begin() + 32, b.begin() + 36));
}

TEST_F(MmioTest, DescendFindsFormsAndChunks)
{
    const std::string path = Path("form.riff");
    HMMIO h = Create(path);
    ASSERT_NE(nullptr, h);
    WriteSampleForm(h);
    ASSERT_EQ(0, mmioSeek(h, 0, SEEK_SET));

    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('T', 'E', 'S', 'T');
    ASSERT_EQ(MMSYSERR_NOERROR, mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF));
    EXPECT_EQ(8u, riff.dwDataOffset);
    MMCKINFO ck{};
    ck.ckid = mmioFOURCC('e', 'v', 'e', 'n');
    ASSERT_EQ(MMSYSERR_NOERROR, mmioDescend(h, &ck, &riff, MMIO_FINDCHUNK)); // skips the padded odd chunk
    EXPECT_EQ(32u, ck.dwDataOffset);
    char data[4];
    ASSERT_EQ(4, mmioRead(h, data, 4));
    EXPECT_EQ("wxyz", std::string(data, 4));
    ASSERT_EQ(MMSYSERR_NOERROR, mmioAscend(h, &ck, 0));

    ASSERT_EQ(0, mmioSeek(h, 0, SEEK_SET));
    ASSERT_EQ(MMSYSERR_NOERROR, mmioDescend(h, &riff, nullptr, 0));
    MMCKINFO missing{};
    missing.ckid = mmioFOURCC('n', 'o', 'n', 'e');
    EXPECT_EQ(MMIOERR_CHUNKNOTFOUND, mmioDescend(h, &missing, &riff, MMIO_FINDCHUNK));
    ASSERT_EQ(0, mmioSeek(h, 0, SEEK_SET));
    MMCKINFO otherForm{};
    otherForm.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    EXPECT_EQ(MMIOERR_CHUNKNOTFOUND, mmioDescend(h, &otherForm, nullptr, MMIO_FINDRIFF));
    EXPECT_EQ(MMSYSERR_NOERROR, mmioClose(h, 0));
}

TEST_F(MmioTest, DescendPastAChunkEndingNearTwoGigabytesFindsNothing)
{
    // A chunk whose size puts the next header at 0x7FFFFFFC, past the file's
    // end: the search must stop there, not overflow the position (UBSan).
    const std::string path = Path("huge.riff");
    const DWORD junkSize = 0x7FFFFFFCu - 20;
    const DWORD words[] = {FOURCC_RIFF, 0xFFFFFFF0u, mmioFOURCC('W', 'A', 'V', 'E'), mmioFOURCC('j', 'u', 'n', 'k'),
                           junkSize};
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(words), sizeof words);
    }
    HMMIO h = mmioOpenA(const_cast<LPSTR>(path.c_str()), nullptr, MMIO_READ);
    ASSERT_NE(nullptr, h);
    MMCKINFO riff{};
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(MMSYSERR_NOERROR, mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF));
    MMCKINFO data{};
    data.ckid = mmioFOURCC('d', 'a', 't', 'a');
    EXPECT_EQ(MMIOERR_CHUNKNOTFOUND, mmioDescend(h, &data, &riff, MMIO_FINDCHUNK));
    EXPECT_EQ(MMSYSERR_NOERROR, mmioClose(h, 0));
}

TEST_F(MmioTest, DirectBufferAccessAcrossManyBuffers)
{
    const std::string path = Path("direct.bin");
    HMMIO h = Create(path, 16); // a tiny buffer: many advances
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(4, mmioWrite(h, "HEAD", 4));
    MMIOINFO info{};
    ASSERT_EQ(MMSYSERR_NOERROR, mmioGetInfo(h, &info, 0));
    std::vector<unsigned char> expected = {'H', 'E', 'A', 'D'};
    for (int i = 0; i < 1000; ++i) {
        if (info.pchNext == info.pchEndWrite) {
            info.dwFlags |= MMIO_DIRTY;
            ASSERT_EQ(MMSYSERR_NOERROR, mmioAdvance(h, &info, MMIO_WRITE));
        }
        *info.pchNext++ = static_cast<char>(i * 7);
        expected.push_back(static_cast<unsigned char>(i * 7));
    }
    info.dwFlags |= MMIO_DIRTY;
    ASSERT_EQ(MMSYSERR_NOERROR, mmioSetInfo(h, &info, 0));
    EXPECT_EQ(1004, mmioSeek(h, 0, SEEK_CUR));
    EXPECT_EQ(1004, mmioSeek(h, 0, SEEK_END));
    ASSERT_EQ(MMSYSERR_NOERROR, mmioClose(h, 0));
    EXPECT_EQ(expected, ReadAll(path));
}

TEST_F(MmioTest, OverwriteInsideWrittenDataKeepsTheRest)
{
    const std::string path = Path("over.bin");
    HMMIO h = Create(path, 8);
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(26, mmioWrite(h, "abcdefghijklmnopqrstuvwxyz", 26));
    ASSERT_EQ(2, mmioSeek(h, 2, SEEK_SET));
    ASSERT_EQ(3, mmioWrite(h, "123", 3));
    ASSERT_EQ(20, mmioSeek(h, 20, SEEK_SET));
    char back[6];
    ASSERT_EQ(6, mmioRead(h, back, 6));
    EXPECT_EQ("uvwxyz", std::string(back, 6));
    ASSERT_EQ(MMSYSERR_NOERROR, mmioClose(h, 0));
    const auto b = ReadAll(path);
    EXPECT_EQ("ab123fghijklmnopqrstuvwxyz", std::string(b.begin(), b.end()));
}

TEST_F(MmioTest, OpenFailuresAreReported)
{
    MMIOINFO info{};
    const std::string missingFolder = Path("no/such/folder/x.wav");
    EXPECT_EQ(nullptr, mmioOpenA(const_cast<LPSTR>(missingFolder.c_str()), &info, MMIO_CREATE | MMIO_READWRITE));
    EXPECT_EQ(static_cast<UINT>(MMIOERR_FILENOTFOUND), info.wErrorRet);
    const std::string absent = Path("absent.wav");
    EXPECT_EQ(nullptr, mmioOpenA(const_cast<LPSTR>(absent.c_str()), &info, MMIO_READ));
    EXPECT_EQ(static_cast<UINT>(MMIOERR_FILENOTFOUND), info.wErrorRet);
    char empty[] = "";
    EXPECT_EQ(nullptr, mmioOpenA(empty, &info, MMIO_CREATE | MMIO_WRITE));
    EXPECT_EQ(nullptr, mmioOpenA(nullptr, nullptr, MMIO_READ));
}

TEST_F(MmioTest, CloseReportsAFullDisk)
{
    char devFull[] = "/dev/full";
    HMMIO h = mmioOpenA(devFull, nullptr, MMIO_ALLOCBUF | MMIO_WRITE | MMIO_CREATE);
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(5, mmioWrite(h, "hello", 5)); // still in the buffer
    EXPECT_EQ(static_cast<MMRESULT>(MMIOERR_CANNOTWRITE), mmioClose(h, 0));
}

TEST_F(MmioTest, AdvanceReportsAFullDiskAndCloseStillFails)
{
    char devFull[] = "/dev/full";
    HMMIO h = mmioOpenA(devFull, nullptr, MMIO_ALLOCBUF | MMIO_WRITE | MMIO_CREATE);
    ASSERT_NE(nullptr, h);
    MMIOINFO info{};
    ASSERT_EQ(MMSYSERR_NOERROR, mmioGetInfo(h, &info, 0));
    info.pchNext = info.pchEndWrite;
    info.dwFlags |= MMIO_DIRTY;
    EXPECT_EQ(static_cast<MMRESULT>(MMIOERR_CANNOTWRITE), mmioAdvance(h, &info, MMIO_WRITE));
    EXPECT_EQ(static_cast<MMRESULT>(MMIOERR_CANNOTWRITE), mmioClose(h, 0));
}

TEST_F(MmioTest, WritingStopsAtTheLargestOffset)
{
    const std::string path = Path("sparse.bin"); // sparse: only the last bytes are stored
    HMMIO h = Create(path);
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(INT32_MAX - 4, mmioSeek(h, INT32_MAX - 4, SEEK_SET));
    EXPECT_EQ(4, mmioWrite(h, "abcdefgh", 8));
    EXPECT_EQ(-1, mmioWrite(h, "i", 1));
    MMIOINFO info{};
    ASSERT_EQ(MMSYSERR_NOERROR, mmioGetInfo(h, &info, 0));
    EXPECT_EQ(info.pchNext, info.pchEndWrite);
    info.dwFlags |= MMIO_DIRTY;
    EXPECT_EQ(static_cast<MMRESULT>(MMIOERR_CANNOTEXPAND), mmioAdvance(h, &info, MMIO_WRITE));
    ASSERT_EQ(MMSYSERR_NOERROR, mmioSetInfo(h, &info, 0));
    EXPECT_EQ(MMSYSERR_NOERROR, mmioClose(h, 0));
    EXPECT_EQ(static_cast<uintmax_t>(INT32_MAX), fs::file_size(path));
}

TEST_F(MmioTest, UnbufferedFilesWriteAndReadDirectly)
{
    const std::string path = Path("plain.bin");
    HMMIO h = mmioOpenA(const_cast<LPSTR>(path.c_str()), nullptr, MMIO_READWRITE | MMIO_CREATE);
    ASSERT_NE(nullptr, h);
    MMIOINFO info{};
    ASSERT_EQ(MMSYSERR_NOERROR, mmioGetInfo(h, &info, 0));
    EXPECT_EQ(nullptr, info.pchBuffer);
    EXPECT_EQ(static_cast<MMRESULT>(MMIOERR_UNBUFFERED), mmioAdvance(h, &info, MMIO_WRITE));
    ASSERT_EQ(6, mmioWrite(h, "abcdef", 6));
    ASSERT_EQ(1, mmioSeek(h, 1, SEEK_SET));
    char two[2];
    ASSERT_EQ(2, mmioRead(h, two, 2));
    EXPECT_EQ("bc", std::string(two, 2));
    EXPECT_EQ(MMSYSERR_NOERROR, mmioClose(h, 0));
}

} // namespace

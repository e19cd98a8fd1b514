// Writes arbitrary bytes to a file and walks it as RIFF: descending into every
// RIFF and LIST chunk, reading every other chunk's data, searching by id and
// type, and reading through the buffer directly. Every byte read must be the
// file's byte at that place, and nothing may be read past the file's end.
#include <orafon/Holders.h>
#include <orafon/win/mmio.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

struct Input {
    const uint8_t *data;
    size_t size;
};

const std::string &FilePath()
{
    static const std::string path = [] {
        char pattern[] = "/tmp/orafon-fuzz-mmio-XXXXXX";
        const int fd = ::mkstemp(pattern);
        if (fd >= 0)
            ::close(fd);
        return std::string(pattern);
    }();
    return path;
}

bool WriteFile(const std::string &path, const uint8_t *data, size_t size)
{
    orafon::CStdioFile f(std::fopen(path.c_str(), "wb"));
    if (!f)
        return false;
    const bool ok = std::fwrite(data, 1, size, f.Get()) == size;
    return f.Close() == 0 && ok;
}

// Reads the chunk's data in pieces and compares them with the file.
void ReadChunk(HMMIO h, const MMCKINFO &ck, const Input &file)
{
    std::vector<char> buffer(257);
    const LONG wanted = static_cast<LONG>(std::min<DWORD>(ck.cksize, 4096));
    LONG done = 0;
    while (done < wanted) {
        const LONG piece = std::min<LONG>(wanted - done, static_cast<LONG>(buffer.size()));
        const LONG at = mmioSeek(h, 0, SEEK_CUR);
        const LONG got = mmioRead(h, buffer.data(), piece);
        if (got <= 0)
            break;
        Require(got <= piece && at >= 0);
        Require(static_cast<size_t>(at) + static_cast<size_t>(got) <= file.size);
        Require(std::memcmp(buffer.data(), file.data + at, static_cast<size_t>(got)) == 0);
        done += got;
    }
}

// Reads straight from the I/O buffer, as a fast reader does.
void ReadDirect(HMMIO h, const Input &file)
{
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != MMSYSERR_NOERROR || !info.pchBuffer)
        return;
    for (int round = 0; round < 4; ++round) {
        if (info.pchNext == info.pchEndRead && mmioAdvance(h, &info, MMIO_READ) != MMSYSERR_NOERROR)
            break;
        if (info.pchNext == info.pchEndRead)
            break;
        Require(info.pchNext < info.pchEndRead);
        Require(info.pchEndRead <= info.pchBuffer + info.cchBuffer);
        const LONG at = info.lBufOffset + static_cast<LONG>(info.pchNext - info.pchBuffer);
        const size_t count = static_cast<size_t>(info.pchEndRead - info.pchNext);
        Require(at >= 0 && static_cast<size_t>(at) + count <= file.size);
        Require(std::memcmp(info.pchNext, file.data + at, count) == 0);
        info.pchNext = info.pchEndRead;
    }
    mmioSetInfo(h, &info, 0);
}

void Walk(HMMIO h, const MMCKINFO *parent, const Input &file, int depth)
{
    for (int count = 0; count < 64; ++count) {
        MMCKINFO ck{};
        if (mmioDescend(h, &ck, parent, 0) != MMSYSERR_NOERROR)
            return;
        Require(ck.dwDataOffset >= 8 && ck.dwDataOffset <= file.size);
        if ((ck.ckid == FOURCC_RIFF || ck.ckid == FOURCC_LIST) && depth < 8)
            Walk(h, &ck, file, depth + 1);
        else
            ReadChunk(h, ck, file);
        if (mmioAscend(h, &ck, 0) != MMSYSERR_NOERROR)
            return;
    }
}

void Search(const std::string &path, const Input &file, FOURCC type, FOURCC id, bool direct)
{
    const orafon::CMmioFile h(mmioOpenA(const_cast<LPSTR>(path.c_str()), nullptr, MMIO_READ | MMIO_ALLOCBUF));
    if (!h)
        return;
    MMCKINFO riff{};
    riff.fccType = type;
    if (mmioDescend(h.Get(), &riff, nullptr, MMIO_FINDRIFF) == MMSYSERR_NOERROR) {
        MMCKINFO ck{};
        ck.ckid = id;
        if (mmioDescend(h.Get(), &ck, &riff, MMIO_FINDCHUNK) == MMSYSERR_NOERROR) {
            Require(ck.ckid == id);
            if (direct)
                ReadDirect(h.Get(), file);
            else
                ReadChunk(h.Get(), ck, file);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t options = data[0];
    const Input file{data + 1, size - 1};
    const std::string &path = FilePath();
    if (!WriteFile(path, file.data, file.size))
        return 0;
    const DWORD open = MMIO_READ | ((options & 1) ? MMIO_ALLOCBUF : 0);
    orafon::CMmioFile h(mmioOpenA(const_cast<LPSTR>(path.c_str()), nullptr, open));
    Require(static_cast<bool>(h));
    Walk(h.Get(), nullptr, file, 0);
    Require(h.Close() == MMSYSERR_NOERROR);
    Search(path, file, mmioFOURCC('W', 'A', 'V', 'E'), mmioFOURCC('d', 'a', 't', 'a'), (options & 2) != 0);
    Search(path, file, mmioFOURCC('W', 'A', 'V', 'E'), mmioFOURCC('f', 'm', 't', ' '), false);
    return 0;
}

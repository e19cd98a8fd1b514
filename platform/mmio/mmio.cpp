// Buffered multimedia file I/O with RIFF chunks over POSIX files.
//
// The I/O buffer mirrors the file range [lBufOffset, lBufOffset + valid
// bytes); the valid end is pchEndRead. Data stays in the buffer until it is
// moved on (mmioAdvance, a seek out of the buffered range, a flush or the
// close), and every failed write is remembered so that mmioClose can report
// it even when a later flush happened to succeed.
#include <orafon/win/mmio.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <unistd.h>

struct HMMIO__ {
    int fd = -1;
    MMIOINFO info{};
    std::unique_ptr<char[]> ownBuffer;
    // A buffered byte was written and not yet stored on disk.
    bool dirty = false;
    bool writeFailed = false;
    bool readable = false;
    bool writable = false;
    // File position for unbuffered files.
    LONG position = 0;
};

namespace {

constexpr DWORD kUnsupportedOpenFlags = MMIO_PARSE | MMIO_DELETE | MMIO_EXIST | MMIO_GETTEMP;

[[nodiscard]] bool Buffered(const HMMIO__ &f)
{
    return f.info.pchBuffer != nullptr;
}

LONG BufferedLength(const HMMIO__ &f)
{
    return static_cast<LONG>(f.info.pchEndRead - f.info.pchBuffer);
}

LONG CurrentPosition(const HMMIO__ &f)
{
    if (!Buffered(f))
        return f.position;
    return f.info.lBufOffset + static_cast<LONG>(f.info.pchNext - f.info.pchBuffer);
}

[[nodiscard]] bool WriteAll(int fd, const char *p, size_t cb, off_t offset)
{
    while (cb > 0) {
        const ssize_t n = pwrite(fd, p, cb, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        cb -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

[[nodiscard]] LONG ReadSome(int fd, char *p, size_t cb, off_t offset)
{
    size_t total = 0;
    while (total < cb) {
        const ssize_t n = pread(fd, p + total, cb - total, offset + static_cast<off_t>(total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        total += static_cast<size_t>(n);
    }
    return static_cast<LONG>(total);
}

// Stores the valid part of a dirty buffer.
[[nodiscard]] MMRESULT FlushBuffer(HMMIO__ &f)
{
    if (!Buffered(f) || !f.dirty)
        return MMSYSERR_NOERROR;
    if (!WriteAll(f.fd, f.info.pchBuffer, static_cast<size_t>(BufferedLength(f)), f.info.lBufOffset)) {
        f.writeFailed = true;
        return MMIOERR_CANNOTWRITE;
    }
    f.dirty = false;
    f.info.lDiskOffset = f.info.lBufOffset + BufferedLength(f);
    return MMSYSERR_NOERROR;
}

// Moves the buffer to start at lOffset, filled with what the file holds there.
[[nodiscard]] MMRESULT RelocateBuffer(HMMIO__ &f, LONG lOffset)
{
    const MMRESULT mr = FlushBuffer(f);
    if (mr != MMSYSERR_NOERROR)
        return mr;
    // Offsets are 32-bit signed: the buffer never reaches past the largest one.
    const LONG room = std::min<LONG>(f.info.cchBuffer, INT32_MAX - lOffset);
    LONG loaded = 0;
    if (f.readable) {
        loaded = ReadSome(f.fd, f.info.pchBuffer, static_cast<size_t>(room), lOffset);
        if (loaded < 0)
            return MMIOERR_CANNOTREAD;
        f.info.lDiskOffset = lOffset + loaded;
    }
    f.info.lBufOffset = lOffset;
    f.info.pchNext = f.info.pchBuffer;
    f.info.pchEndRead = f.info.pchBuffer + loaded;
    f.info.pchEndWrite = f.info.pchBuffer + room;
    return MMSYSERR_NOERROR;
}

// Marks the buffered bytes up to pchNext as valid and, when they were written, dirty.
void NoteBufferWrite(HMMIO__ &f)
{
    f.info.pchEndRead = std::max(f.info.pchEndRead, f.info.pchNext);
    f.dirty = true;
}

UINT OpenError(int err)
{
    switch (err) {
    case ENOENT:
        return MMIOERR_FILENOTFOUND;
    case ENOTDIR:
        return MMIOERR_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return MMIOERR_ACCESSDENIED;
    case EMFILE:
    case ENFILE:
        return MMIOERR_TOOMANYOPENFILES;
    default:
        return MMIOERR_CANNOTOPEN;
    }
}

int OpenFlags(DWORD fdwOpen)
{
    int flags = O_CLOEXEC;
    switch (fdwOpen & MMIO_RWMODE) {
    case MMIO_WRITE:
        flags |= O_WRONLY;
        break;
    case MMIO_READWRITE:
        flags |= O_RDWR;
        break;
    default:
        flags |= O_RDONLY;
        break;
    }
    if (fdwOpen & MMIO_CREATE)
        flags |= O_CREAT | O_TRUNC;
    return flags;
}

HMMIO OpenFailed(LPMMIOINFO pmmioinfo, UINT err)
{
    if (pmmioinfo)
        pmmioinfo->wErrorRet = err;
    return nullptr;
}

[[nodiscard]] bool SetUpBuffer(HMMIO__ &f, LPMMIOINFO pmmioinfo, DWORD fdwOpen)
{
    LONG cch = pmmioinfo && pmmioinfo->cchBuffer > 0 ? pmmioinfo->cchBuffer : 0;
    if (pmmioinfo && pmmioinfo->pchBuffer && cch > 0) {
        f.info.pchBuffer = pmmioinfo->pchBuffer; // the caller's buffer
    } else if (fdwOpen & MMIO_ALLOCBUF) {
        if (cch == 0)
            cch = MMIO_DEFAULTBUFFER;
        f.ownBuffer.reset(new (std::nothrow) char[static_cast<size_t>(cch)]);
        if (!f.ownBuffer)
            return false;
        f.info.pchBuffer = f.ownBuffer.get();
    } else {
        return true; // unbuffered
    }
    f.info.cchBuffer = cch;
    f.info.dwFlags |= MMIO_ALLOCBUF;
    f.info.pchNext = f.info.pchEndRead = f.info.pchBuffer;
    f.info.pchEndWrite = f.info.pchBuffer + cch;
    return true;
}

[[nodiscard]] bool ReadExact(HMMIO f, void *p, LONG cb)
{
    return mmioRead(f, static_cast<HPSTR>(p), cb) == cb;
}

[[nodiscard]] bool WriteExact(HMMIO f, const void *p, LONG cb)
{
    return mmioWrite(f, static_cast<const char *>(p), cb) == cb;
}

} // namespace

STDAPI_(HMMIO) mmioOpenA(LPSTR pszFileName, LPMMIOINFO pmmioinfo, DWORD fdwOpen)
{
    if (!pszFileName || !*pszFileName || (pmmioinfo && (pmmioinfo->pIOProc || pmmioinfo->fccIOProc)))
        return OpenFailed(pmmioinfo, MMSYSERR_INVALPARAM);
    if (fdwOpen & kUnsupportedOpenFlags)
        return OpenFailed(pmmioinfo, MMSYSERR_NOTSUPPORTED);
    std::unique_ptr<HMMIO__> f(new (std::nothrow) HMMIO__);
    if (!f)
        return OpenFailed(pmmioinfo, MMIOERR_OUTOFMEMORY);
    f->info.dwFlags = fdwOpen & ~MMIO_ALLOCBUF;
    f->readable = (fdwOpen & MMIO_RWMODE) != MMIO_WRITE;
    f->writable = (fdwOpen & MMIO_RWMODE) != MMIO_READ;
    if (!SetUpBuffer(*f, pmmioinfo, fdwOpen))
        return OpenFailed(pmmioinfo, MMIOERR_OUTOFMEMORY);
    f->fd = open(pszFileName, OpenFlags(fdwOpen), 0666);
    if (f->fd < 0)
        return OpenFailed(pmmioinfo, OpenError(errno));
    f->info.hmmio = f.get();
    if (pmmioinfo)
        pmmioinfo->wErrorRet = MMSYSERR_NOERROR;
    return f.release();
}

STDAPI_(MMRESULT) mmioClose(HMMIO hmmio, UINT /*fuClose*/)
{
    if (!hmmio)
        return MMSYSERR_INVALHANDLE;
    std::unique_ptr<HMMIO__> f(hmmio);
    MMRESULT mr = FlushBuffer(*f);
    if (close(f->fd) != 0 && mr == MMSYSERR_NOERROR)
        mr = errno == ENOSPC || errno == EIO || errno == EDQUOT ? MMIOERR_CANNOTWRITE : MMIOERR_CANNOTCLOSE;
    if (f->writeFailed)
        mr = MMIOERR_CANNOTWRITE;
    return mr;
}

STDAPI_(MMRESULT) mmioFlush(HMMIO hmmio, UINT /*fuFlush*/)
{
    if (!hmmio)
        return MMSYSERR_INVALHANDLE;
    return FlushBuffer(*hmmio);
}

STDAPI_(LONG) mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin)
{
    if (!hmmio)
        return -1;
    HMMIO__ &f = *hmmio;
    LONG base = 0;
    switch (iOrigin) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = CurrentPosition(f);
        break;
    case SEEK_END: {
        const off_t size = lseek(f.fd, 0, SEEK_END);
        if (size < 0)
            return -1;
        base = static_cast<LONG>(size);
        if (Buffered(f))
            base = std::max(base, f.info.lBufOffset + BufferedLength(f));
        break;
    }
    default:
        return -1;
    }
    const int64_t target = static_cast<int64_t>(base) + lOffset;
    if (target < 0 || target > INT32_MAX)
        return -1;
    const LONG pos = static_cast<LONG>(target);
    if (!Buffered(f)) {
        f.position = pos;
        return pos;
    }
    if (pos >= f.info.lBufOffset && pos <= f.info.lBufOffset + BufferedLength(f)) {
        f.info.pchNext = f.info.pchBuffer + (pos - f.info.lBufOffset);
        return pos;
    }
    return RelocateBuffer(f, pos) == MMSYSERR_NOERROR ? pos : -1;
}

STDAPI_(LONG) mmioRead(HMMIO hmmio, HPSTR pch, LONG cch)
{
    if (!hmmio || cch < 0 || (!pch && cch > 0))
        return -1;
    HMMIO__ &f = *hmmio;
    if (!f.readable)
        return -1;
    if (!Buffered(f)) {
        const LONG n = ReadSome(f.fd, pch, static_cast<size_t>(cch), f.position);
        if (n > 0)
            f.position += n;
        return n;
    }
    LONG total = 0;
    while (total < cch) {
        if (f.info.pchNext >= f.info.pchEndRead) {
            if (RelocateBuffer(f, CurrentPosition(f)) != MMSYSERR_NOERROR)
                return total > 0 ? total : -1;
            if (f.info.pchEndRead == f.info.pchBuffer)
                break; // end of file
        }
        const LONG n = std::min<LONG>(cch - total, static_cast<LONG>(f.info.pchEndRead - f.info.pchNext));
        std::copy_n(f.info.pchNext, n, pch + total);
        f.info.pchNext += n;
        total += n;
    }
    return total;
}

STDAPI_(LONG) mmioWrite(HMMIO hmmio, const char *pch, LONG cch)
{
    if (!hmmio || cch < 0 || (!pch && cch > 0))
        return -1;
    HMMIO__ &f = *hmmio;
    if (!f.writable)
        return -1;
    if (!Buffered(f)) {
        if (!WriteAll(f.fd, pch, static_cast<size_t>(cch), f.position)) {
            f.writeFailed = true;
            return -1;
        }
        f.position += cch;
        return cch;
    }
    LONG total = 0;
    while (total < cch) {
        if (f.info.pchNext >= f.info.pchEndWrite &&
            (RelocateBuffer(f, CurrentPosition(f)) != MMSYSERR_NOERROR || f.info.pchNext >= f.info.pchEndWrite))
            return total > 0 ? total : -1; // a failed flush, or the largest offset reached
        const LONG n = std::min<LONG>(cch - total, static_cast<LONG>(f.info.pchEndWrite - f.info.pchNext));
        std::copy_n(pch + total, n, f.info.pchNext);
        f.info.pchNext += n;
        NoteBufferWrite(f);
        total += n;
    }
    return total;
}

STDAPI_(MMRESULT) mmioGetInfo(HMMIO hmmio, LPMMIOINFO pmmioinfo, UINT /*fuInfo*/)
{
    if (!hmmio || !pmmioinfo)
        return MMSYSERR_INVALPARAM;
    *pmmioinfo = hmmio->info;
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) mmioSetInfo(HMMIO hmmio, LPCMMIOINFO pmmioinfo, UINT /*fuInfo*/)
{
    if (!hmmio || !pmmioinfo)
        return MMSYSERR_INVALPARAM;
    HMMIO__ &f = *hmmio;
    if (pmmioinfo->pchBuffer != f.info.pchBuffer || pmmioinfo->pchNext < f.info.pchBuffer ||
        pmmioinfo->pchNext > f.info.pchBuffer + f.info.cchBuffer)
        return MMSYSERR_INVALPARAM;
    f.info.pchNext = pmmioinfo->pchNext;
    if (pmmioinfo->dwFlags & MMIO_DIRTY)
        NoteBufferWrite(f);
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) mmioAdvance(HMMIO hmmio, LPMMIOINFO pmmioinfo, UINT fuAdvance)
{
    if (!hmmio)
        return MMSYSERR_INVALHANDLE;
    HMMIO__ &f = *hmmio;
    if (!Buffered(f))
        return MMIOERR_UNBUFFERED;
    if (fuAdvance != MMIO_READ && fuAdvance != MMIO_WRITE)
        return MMSYSERR_INVALFLAG;
    if (fuAdvance == MMIO_WRITE && !f.writable)
        return MMIOERR_CANNOTWRITE;
    if (pmmioinfo) {
        const MMRESULT mr = mmioSetInfo(hmmio, pmmioinfo, 0);
        if (mr != MMSYSERR_NOERROR)
            return mr;
    }
    // The whole buffer has been consumed or filled: the next one starts where
    // the caller stopped.
    MMRESULT mr = RelocateBuffer(f, CurrentPosition(f));
    if (mr == MMSYSERR_NOERROR && fuAdvance == MMIO_WRITE && f.info.pchEndWrite == f.info.pchBuffer)
        mr = MMIOERR_CANNOTEXPAND;
    if (pmmioinfo) {
        *pmmioinfo = f.info;
        if (mr == MMSYSERR_NOERROR && fuAdvance == MMIO_READ && f.info.pchEndRead == f.info.pchBuffer)
            mr = MMIOERR_CANNOTREAD; // end of file
    }
    return mr;
}

STDAPI_(MMRESULT) mmioCreateChunk(HMMIO hmmio, LPMMCKINFO pmmcki, UINT fuCreate)
{
    if (!hmmio || !pmmcki)
        return MMSYSERR_INVALPARAM;
    if (fuCreate & MMIO_CREATERIFF)
        pmmcki->ckid = FOURCC_RIFF;
    else if (fuCreate & MMIO_CREATELIST)
        pmmcki->ckid = FOURCC_LIST;
    const bool hasType = (fuCreate & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
    const LONG start = CurrentPosition(*hmmio);
    if (start < 0)
        return MMIOERR_CANNOTSEEK;
    pmmcki->dwDataOffset = static_cast<DWORD>(start) + 8;
    const DWORD header[3] = {pmmcki->ckid, pmmcki->cksize, pmmcki->fccType};
    const LONG cb = hasType ? 12 : 8;
    if (!WriteExact(hmmio, header, cb))
        return MMIOERR_CANNOTWRITE;
    pmmcki->dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) mmioAscend(HMMIO hmmio, LPMMCKINFO pmmcki, UINT /*fuAscend*/)
{
    if (!hmmio || !pmmcki)
        return MMSYSERR_INVALPARAM;
    if (pmmcki->dwFlags & MMIO_DIRTY) {
        const LONG end = CurrentPosition(*hmmio);
        if (end < static_cast<LONG>(pmmcki->dwDataOffset))
            return MMIOERR_CANNOTSEEK;
        const DWORD size = static_cast<DWORD>(end) - pmmcki->dwDataOffset;
        if (size != pmmcki->cksize) {
            if (mmioSeek(hmmio, static_cast<LONG>(pmmcki->dwDataOffset) - 4, SEEK_SET) < 0)
                return MMIOERR_CANNOTSEEK;
            if (!WriteExact(hmmio, &size, 4))
                return MMIOERR_CANNOTWRITE;
            pmmcki->cksize = size;
        }
        if (mmioSeek(hmmio, end, SEEK_SET) < 0)
            return MMIOERR_CANNOTSEEK;
        // Chunks start on even offsets: an odd chunk gets one zero pad byte.
        if (size & 1) {
            const char pad = 0;
            if (!WriteExact(hmmio, &pad, 1))
                return MMIOERR_CANNOTWRITE;
        }
        pmmcki->dwFlags &= ~MMIO_DIRTY;
        return MMSYSERR_NOERROR;
    }
    const int64_t end = static_cast<int64_t>(pmmcki->dwDataOffset) + pmmcki->cksize + (pmmcki->cksize & 1);
    if (end > INT32_MAX || mmioSeek(hmmio, static_cast<LONG>(end), SEEK_SET) < 0)
        return MMIOERR_CANNOTSEEK;
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) mmioDescend(HMMIO hmmio, LPMMCKINFO pmmcki, const MMCKINFO *pmmckiParent, UINT fuDescend)
{
    if (!hmmio || !pmmcki)
        return MMSYSERR_INVALPARAM;
    const FOURCC wantedId = pmmcki->ckid;
    const FOURCC wantedType = pmmcki->fccType;
    const int64_t parentEnd =
        pmmckiParent ? static_cast<int64_t>(pmmckiParent->dwDataOffset) + pmmckiParent->cksize : INT64_MAX;
    for (;;) {
        const LONG start = CurrentPosition(*hmmio);
        // In 64 bits: a chunk may claim to end just short of 2 GB.
        if (start < 0 || static_cast<int64_t>(start) + 8 > parentEnd)
            return MMIOERR_CHUNKNOTFOUND;
        DWORD header[2];
        if (!ReadExact(hmmio, header, 8))
            return MMIOERR_CHUNKNOTFOUND;
        MMCKINFO ck{};
        ck.ckid = header[0];
        ck.cksize = header[1];
        ck.dwDataOffset = static_cast<DWORD>(start) + 8;
        const bool hasType = ck.ckid == FOURCC_RIFF || ck.ckid == FOURCC_LIST;
        if (hasType && !ReadExact(hmmio, &ck.fccType, 4))
            return MMIOERR_CHUNKNOTFOUND;
        bool found = true;
        if (fuDescend & MMIO_FINDCHUNK)
            found = ck.ckid == wantedId;
        else if (fuDescend & MMIO_FINDRIFF)
            found = ck.ckid == FOURCC_RIFF && ck.fccType == wantedType;
        else if (fuDescend & MMIO_FINDLIST)
            found = ck.ckid == FOURCC_LIST && ck.fccType == wantedType;
        if (found) {
            *pmmcki = ck;
            return MMSYSERR_NOERROR;
        }
        const int64_t next = static_cast<int64_t>(ck.dwDataOffset) + ck.cksize + (ck.cksize & 1);
        if (next > INT32_MAX || next > parentEnd || mmioSeek(hmmio, static_cast<LONG>(next), SEEK_SET) < 0)
            return MMIOERR_CHUNKNOTFOUND;
    }
}

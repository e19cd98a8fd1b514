// Buffered multimedia file I/O with RIFF chunk support (mmio*), as winmm offers it.
// Implemented in platform/mmio (liborafon_mmio.so) over POSIX files. Custom I/O
// procedures, memory files and MMIO_PARSE/MMIO_DELETE/MMIO_EXIST/MMIO_GETTEMP
// are not offered.
#pragma once

#include <orafon/win/mmsystem.h>
#include <orafon/win/wintypes.h>

typedef struct HMMIO__ *HMMIO;
typedef DWORD FOURCC;
typedef char *HPSTR;
typedef struct HTASK__ *HTASK;
typedef LRESULT(CALLBACK MMIOPROC)(LPSTR lpmmioinfo, UINT uMsg, LPARAM lParam1, LPARAM lParam2);
typedef MMIOPROC *LPMMIOPROC;

#define mmioFOURCC(ch0, ch1, ch2, ch3)                                                                                 \
    ((DWORD)(BYTE)(ch0) | ((DWORD)(BYTE)(ch1) << 8) | ((DWORD)(BYTE)(ch2) << 16) | ((DWORD)(BYTE)(ch3) << 24))
#define FOURCC_RIFF mmioFOURCC('R', 'I', 'F', 'F')
#define FOURCC_LIST mmioFOURCC('L', 'I', 'S', 'T')

typedef struct _MMIOINFO {
    DWORD dwFlags;
    FOURCC fccIOProc;
    LPMMIOPROC pIOProc;
    UINT wErrorRet;
    HTASK htask;
    LONG cchBuffer;
    HPSTR pchBuffer;
    HPSTR pchNext;
    HPSTR pchEndRead;
    HPSTR pchEndWrite;
    LONG lBufOffset;
    LONG lDiskOffset;
    DWORD adwInfo[3];
    DWORD dwReserved1;
    DWORD dwReserved2;
    HMMIO hmmio;
} MMIOINFO, *LPMMIOINFO;
typedef const MMIOINFO *LPCMMIOINFO;

typedef struct _MMCKINFO {
    FOURCC ckid;
    DWORD cksize;
    FOURCC fccType;
    DWORD dwDataOffset;
    DWORD dwFlags;
} MMCKINFO, *LPMMCKINFO;
typedef const MMCKINFO *LPCMMCKINFO;

#define MMIOERR_BASE 256
#define MMIOERR_FILENOTFOUND (MMIOERR_BASE + 1)
#define MMIOERR_OUTOFMEMORY (MMIOERR_BASE + 2)
#define MMIOERR_CANNOTOPEN (MMIOERR_BASE + 3)
#define MMIOERR_CANNOTCLOSE (MMIOERR_BASE + 4)
#define MMIOERR_CANNOTREAD (MMIOERR_BASE + 5)
#define MMIOERR_CANNOTWRITE (MMIOERR_BASE + 6)
#define MMIOERR_CANNOTSEEK (MMIOERR_BASE + 7)
#define MMIOERR_CANNOTEXPAND (MMIOERR_BASE + 8)
#define MMIOERR_CHUNKNOTFOUND (MMIOERR_BASE + 9)
#define MMIOERR_UNBUFFERED (MMIOERR_BASE + 10)
#define MMIOERR_PATHNOTFOUND (MMIOERR_BASE + 11)
#define MMIOERR_ACCESSDENIED (MMIOERR_BASE + 12)
#define MMIOERR_SHARINGVIOLATION (MMIOERR_BASE + 13)
#define MMIOERR_NETWORKERROR (MMIOERR_BASE + 14)
#define MMIOERR_TOOMANYOPENFILES (MMIOERR_BASE + 15)
#define MMIOERR_INVALIDFILE (MMIOERR_BASE + 16)

#define MMIO_RWMODE 0x00000003
#define MMIO_SHAREMODE 0x00000070
#define MMIO_CREATE 0x00001000
#define MMIO_PARSE 0x00000100
#define MMIO_DELETE 0x00000200
#define MMIO_EXIST 0x00004000
#define MMIO_ALLOCBUF 0x00010000
#define MMIO_GETTEMP 0x00020000
#define MMIO_DIRTY 0x10000000
#define MMIO_READ 0x00000000
#define MMIO_WRITE 0x00000001
#define MMIO_READWRITE 0x00000002
#define MMIO_COMPAT 0x00000000
#define MMIO_EXCLUSIVE 0x00000010
#define MMIO_DENYWRITE 0x00000020
#define MMIO_DENYREAD 0x00000030
#define MMIO_DENYNONE 0x00000040

#define MMIO_FHOPEN 0x0010          // mmioClose
#define MMIO_EMPTYBUF 0x0010        // mmioFlush
#define MMIO_TOUPPER 0x0010         // mmioStringToFOURCC
#define MMIO_INSTALLPROC 0x00010000 // mmioInstallIOProc
#define MMIO_FINDCHUNK 0x0010       // mmioDescend
#define MMIO_FINDRIFF 0x0020
#define MMIO_FINDLIST 0x0040
#define MMIO_CREATERIFF 0x0020 // mmioCreateChunk
#define MMIO_CREATELIST 0x0040

#define MMIO_DEFAULTBUFFER 8192

#ifndef SEEK_SET
#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2
#endif

// Opens (MMIO_CREATE: creates or truncates) a file. MMIO_ALLOCBUF gives it an
// I/O buffer of pmmioinfo->cchBuffer bytes (MMIO_DEFAULTBUFFER when 0 or no
// pmmioinfo). Null on failure, with the reason in pmmioinfo->wErrorRet.
STDAPI_(HMMIO) mmioOpenA(LPSTR pszFileName, LPMMIOINFO pmmioinfo, DWORD fdwOpen);
// Flushes and closes; a failed flush gives MMIOERR_CANNOTWRITE, and so does any
// write of the file's life that failed. The handle is gone either way.
STDAPI_(MMRESULT) mmioClose(HMMIO hmmio, UINT fuClose);
STDAPI_(LONG) mmioRead(HMMIO hmmio, HPSTR pch, LONG cch);
STDAPI_(LONG) mmioWrite(HMMIO hmmio, const char *pch, LONG cch);
// The new position, or -1.
STDAPI_(LONG) mmioSeek(HMMIO hmmio, LONG lOffset, int iOrigin);
STDAPI_(MMRESULT) mmioFlush(HMMIO hmmio, UINT fuFlush);
// Direct access to the I/O buffer: the caller reads or writes through
// pchNext up to pchEndRead/pchEndWrite, calls mmioAdvance (with MMIO_DIRTY in
// dwFlags after writing) to move the buffer on, and hands the state back
// with mmioSetInfo before using any other mmio function on the file.
STDAPI_(MMRESULT) mmioGetInfo(HMMIO hmmio, LPMMIOINFO pmmioinfo, UINT fuInfo);
STDAPI_(MMRESULT) mmioSetInfo(HMMIO hmmio, LPCMMIOINFO pmmioinfo, UINT fuInfo);
STDAPI_(MMRESULT) mmioAdvance(HMMIO hmmio, LPMMIOINFO pmmioinfo, UINT fuAdvance);
STDAPI_(MMRESULT) mmioDescend(HMMIO hmmio, LPMMCKINFO pmmcki, const MMCKINFO *pmmckiParent, UINT fuDescend);
STDAPI_(MMRESULT) mmioAscend(HMMIO hmmio, LPMMCKINFO pmmcki, UINT fuAscend);
STDAPI_(MMRESULT) mmioCreateChunk(HMMIO hmmio, LPMMCKINFO pmmcki, UINT fuCreate);

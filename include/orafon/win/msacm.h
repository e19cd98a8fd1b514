// The audio compression manager's stream interface (acmStream*), as msacm32 offers it.
// Implemented in platform/acm (liborafon_acm.so): PCM to PCM conversion of sample
// rate (over libsoxr, high quality), channel count (mono/stereo) and sample width
// (8-bit unsigned, 16-bit signed). Other format pairs fail at open with
// ACMERR_NOTPOSSIBLE, as a machine without a fitting driver answers.
#pragma once

#include <orafon/win/mmsystem.h>
#include <orafon/win/wintypes.h>

typedef struct HACMSTREAM__ *HACMSTREAM;
typedef HACMSTREAM *LPHACMSTREAM;
typedef struct HACMDRIVER__ *HACMDRIVER;

typedef struct wavefilter_tag {
    DWORD cbStruct;
    DWORD dwFilterTag;
    DWORD fdwFilter;
    DWORD dwReserved[5];
} WAVEFILTER, *LPWAVEFILTER;

#define ACMERR_BASE 512
#define ACMERR_NOTPOSSIBLE (ACMERR_BASE + 0)
#define ACMERR_BUSY (ACMERR_BASE + 1)
#define ACMERR_UNPREPARED (ACMERR_BASE + 2)
#define ACMERR_CANCELED (ACMERR_BASE + 3)

// acmStreamOpen
#define ACM_STREAMOPENF_QUERY 0x00000001
#define ACM_STREAMOPENF_ASYNC 0x00000002
#define ACM_STREAMOPENF_NONREALTIME 0x00000004

// acmStreamSize
#define ACM_STREAMSIZEF_SOURCE 0x00000000
#define ACM_STREAMSIZEF_DESTINATION 0x00000001
#define ACM_STREAMSIZEF_QUERYMASK 0x0000000F

// acmStreamConvert
#define ACM_STREAMCONVERTF_BLOCKALIGN 0x00000004
#define ACM_STREAMCONVERTF_START 0x00000010
#define ACM_STREAMCONVERTF_END 0x00000020

// ACMSTREAMHEADER.fdwStatus
#define ACMSTREAMHEADER_STATUSF_DONE 0x00010000
#define ACMSTREAMHEADER_STATUSF_PREPARED 0x00020000
#define ACMSTREAMHEADER_STATUSF_INQUEUE 0x00100000

// The field order and names of the Windows record. On 32-bit Windows it is 84
// bytes; here pointers are 8 bytes, so callers set cbStruct to
// sizeof(ACMSTREAMHEADER) and the functions check exactly that.
typedef struct tACMSTREAMHEADER {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    LPBYTE pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    LPBYTE pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[10];
} ACMSTREAMHEADER, *LPACMSTREAMHEADER;

// Opens a synchronous conversion stream from pwfxSrc to pwfxDst. had must be
// null (any driver), pwfltr null; ACM_STREAMOPENF_QUERY only checks the pair
// (phas may then be null). ACM_STREAMOPENF_ASYNC is not offered.
STDAPI_(MMRESULT)
acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst, LPWAVEFILTER pwfltr,
              DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen);
STDAPI_(MMRESULT) acmStreamClose(HACMSTREAM has, DWORD fdwClose);
// ACM_STREAMSIZEF_SOURCE: the destination size that always suffices for
// cbInput source bytes. ACM_STREAMSIZEF_DESTINATION: the source size whose
// conversion fits in cbInput destination bytes.
STDAPI_(MMRESULT) acmStreamSize(HACMSTREAM has, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize);
STDAPI_(MMRESULT) acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare);
STDAPI_(MMRESULT) acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare);
// Converts whole source blocks (cbSrcLengthUsed tells how many bytes). The
// stream keeps the resampler's state from call to call; ACM_STREAMCONVERTF_START
// discards it first. ACM_STREAMCONVERTF_END marks the end of the input: the
// samples the resampler still holds are delivered too. When they do not fit
// in cbDstLength, call again with END (and no source) until cbDstLengthUsed is 0.
STDAPI_(MMRESULT) acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert);
// Discards whatever the stream holds, as if it had just been opened.
STDAPI_(MMRESULT) acmStreamReset(HACMSTREAM has, DWORD fdwReset);

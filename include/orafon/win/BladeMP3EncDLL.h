// The BladeEnc-style MP3 encoder library interface (LAME form of BE_CONFIG).
// Implemented by platform/lame_enc (lame_enc.so, loaded at run time) over
// libmp3lame. Sizes follow 32-bit Windows: BE_ERR and HBE_STREAM are 32-bit
// and BE_CONFIG is 331 bytes, packed.
#pragma once

#include <orafon/win/wintypes.h>

typedef DWORD HBE_STREAM;
typedef HBE_STREAM *PHBE_STREAM;
typedef DWORD BE_ERR;
typedef DWORD *PDWORD;
typedef SHORT *PSHORT;
typedef BYTE *PBYTE;

#define BE_ERR_SUCCESSFUL 0x00000000
#define BE_ERR_INVALID_FORMAT 0x00000001
#define BE_ERR_INVALID_FORMAT_PARAMETERS 0x00000002
#define BE_ERR_NO_MORE_HANDLES 0x00000003
#define BE_ERR_INVALID_HANDLE 0x00000004
#define BE_ERR_BUFFER_TOO_SMALL 0x00000005

#define BE_MAX_HOMEPAGE 128

#define BE_MP3_MODE_STEREO 0
#define BE_MP3_MODE_JSTEREO 1
#define BE_MP3_MODE_DUALCHANNEL 2
#define BE_MP3_MODE_MONO 3

#define MPEG1 1
#define MPEG2 0

#define BE_CONFIG_MP3 0
#define BE_CONFIG_LAME 256

#define CURRENT_STRUCT_VERSION 1

typedef enum VBRMETHOD : LONG {
    VBR_METHOD_NONE = -1,
    VBR_METHOD_DEFAULT = 0,
    VBR_METHOD_OLD = 1,
    VBR_METHOD_NEW = 2,
    VBR_METHOD_MTRH = 3,
    VBR_METHOD_ABR = 4
} VBRMETHOD;

typedef enum LAME_QUALITY_PRESET : LONG {
    LQP_NOPRESET = -1,
    LQP_NORMAL_QUALITY = 0,
    LQP_LOW_QUALITY = 1,
    LQP_HIGH_QUALITY = 2,
    LQP_VOICE_QUALITY = 3,
} LAME_QUALITY_PRESET;

#pragma pack(push, 1)
typedef struct {
    DWORD dwConfig; // BE_CONFIG_MP3 or BE_CONFIG_LAME
    union {
        struct {
            DWORD dwSampleRate;
            BYTE byMode;
            WORD wBitrate;
            BOOL bPrivate;
            BOOL bCRC;
            BOOL bCopyright;
            BOOL bOriginal;
        } mp3;
        struct {
            DWORD dwStructVersion;
            DWORD dwStructSize;
            DWORD dwSampleRate;   // input sample rate (Hz)
            DWORD dwReSampleRate; // output sample rate; 0 or the input rate: none
            LONG nMode;           // BE_MP3_MODE_*
            DWORD dwBitrate;      // CBR bit rate, or VBR minimum (kbit/s)
            DWORD dwMaxBitrate;   // VBR maximum (kbit/s)
            LONG nPreset;         // LAME_QUALITY_PRESET
            DWORD dwMpegVersion;  // MPEG1 or MPEG2
            DWORD dwPsyModel;
            DWORD dwEmphasis;
            BOOL bPrivate;
            BOOL bCRC;
            BOOL bCopyright;
            BOOL bOriginal;
            BOOL bWriteVBRHeader;
            BOOL bEnableVBR;
            INT nVBRQuality;
            DWORD dwVbrAbr_bps;
            VBRMETHOD nVbrMethod;
            BOOL bNoRes;
            BOOL bStrictIso;
            WORD nQuality; // low byte 0..9 with its complement in the high byte; else default
            BYTE btReserved[255 - 4 * sizeof(DWORD) - sizeof(WORD)];
        } LHV1;
        struct {
            DWORD dwSampleRate;
            BYTE byMode;
            WORD wBitrate;
            BYTE byEncodingMethod;
        } aac;
    } format;
} BE_CONFIG, *PBE_CONFIG;

typedef struct {
    BYTE byDLLMajorVersion;
    BYTE byDLLMinorVersion;
    BYTE byMajorVersion;
    BYTE byMinorVersion;
    BYTE byDay;
    BYTE byMonth;
    WORD wYear;
    CHAR zHomepage[BE_MAX_HOMEPAGE + 1];
    BYTE byAlphaLevel;
    BYTE byBetaLevel;
    BYTE byMMXEnabled;
    BYTE btReserved[125];
} BE_VERSION, *PBE_VERSION;
#pragma pack(pop)

static_assert(sizeof(BE_CONFIG) == 331, "BE_CONFIG is 331 bytes");
static_assert(offsetof(BE_CONFIG, format.LHV1.nQuality) == 92);

#define CURRENT_STRUCT_SIZE ((DWORD)sizeof(BE_CONFIG))

// dwSamples: 16-bit samples (all channels together) per beEncodeChunk;
// dwBufferSize: bytes the output buffer of each call must hold.
typedef BE_ERR (*BEINITSTREAM)(PBE_CONFIG pbeConfig, PDWORD dwSamples, PDWORD dwBufferSize, PHBE_STREAM phbeStream);
typedef BE_ERR (*BEENCODECHUNK)(HBE_STREAM hbeStream, DWORD nSamples, PSHORT pSamples, PBYTE pOutput, PDWORD pdwOutput);
typedef BE_ERR (*BEDEINITSTREAM)(HBE_STREAM hbeStream, PBYTE pOutput, PDWORD pdwOutput);
typedef BE_ERR (*BECLOSESTREAM)(HBE_STREAM hbeStream);
typedef VOID (*BEVERSION)(PBE_VERSION pbeVersion);
typedef BE_ERR (*BEWRITEVBRHEADER)(LPCSTR lpszFileName);
typedef BE_ERR (*BEWRITEINFOTAG)(HBE_STREAM hbeStream, LPCSTR lpszFileName);

#define TEXT_BEINITSTREAM "beInitStream"
#define TEXT_BEENCODECHUNK "beEncodeChunk"
#define TEXT_BEDEINITSTREAM "beDeinitStream"
#define TEXT_BECLOSESTREAM "beCloseStream"
#define TEXT_BEVERSION "beVersion"
#define TEXT_BEWRITEVBRHEADER "beWriteVBRHeader"
#define TEXT_BEWRITEINFOTAG "beWriteInfoTag"

EXTERN_C ORAFON_EXPORT BE_ERR beInitStream(PBE_CONFIG pbeConfig, PDWORD dwSamples, PDWORD dwBufferSize,
                                           PHBE_STREAM phbeStream);
EXTERN_C ORAFON_EXPORT BE_ERR beEncodeChunk(HBE_STREAM hbeStream, DWORD nSamples, PSHORT pSamples, PBYTE pOutput,
                                            PDWORD pdwOutput);
EXTERN_C ORAFON_EXPORT BE_ERR beDeinitStream(HBE_STREAM hbeStream, PBYTE pOutput, PDWORD pdwOutput);
EXTERN_C ORAFON_EXPORT BE_ERR beCloseStream(HBE_STREAM hbeStream);
EXTERN_C ORAFON_EXPORT VOID beVersion(PBE_VERSION pbeVersion);
EXTERN_C ORAFON_EXPORT BE_ERR beWriteVBRHeader(LPCSTR lpszFileName);
EXTERN_C ORAFON_EXPORT BE_ERR beWriteInfoTag(HBE_STREAM hbeStream, LPCSTR lpszFileName);

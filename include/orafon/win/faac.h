// The AAC encoder library interface (the libfaac-style entry points).
// Implemented by platform/aac_enc ("aac_enc.so", loaded at run time) over
// libavcodec's native AAC encoder. Sizes follow 32-bit Windows: every
// "unsigned long" of the classic interface is a 32-bit ULONG here.
//
// Use: faacEncOpen gives the block size (1024 samples per channel, all
// channels together) and the largest frame; faacEncGetCurrentConfiguration,
// change fields, faacEncSetConfiguration; faacEncGetDecoderSpecificInfo gives
// the stream's AudioSpecificConfig (release it with
// faacEncFreeDecoderSpecificInfo); faacEncEncode once per block (the last
// block may be shorter), then with zero samples until it gives no more bytes
// (the frames the encoder still holds); faacEncClose.
//
// Timing: each faacEncEncode call gives at most one raw frame. The stream
// begins with one frame of priming (1024 samples per channel that precede
// the input); the encoder holds that much back, so the first call gives no
// bytes, and the frames that follow are 1024 samples apart.
#pragma once

#include <orafon/win/wintypes.h>

#include <stdint.h>

typedef void *faacEncHandle;

#define FAAC_CFG_VERSION 104

// mpegVersion (prefixed: the MP3 interface's MPEG2 means something else)
#define FAAC_MPEG4 0
#define FAAC_MPEG2 1

// aacObjectType (the AudioSpecificConfig carries the type + 1)
#define FAAC_MAIN 0
#define FAAC_LOW 1
#define FAAC_SSR 2
#define FAAC_LTP 3

// inputFormat
#define FAAC_INPUT_NULL 0
#define FAAC_INPUT_16BIT 1
#define FAAC_INPUT_24BIT 2
#define FAAC_INPUT_32BIT 3
#define FAAC_INPUT_FLOAT 4

// shortctl
#define SHORTCTL_NORMAL 0
#define SHORTCTL_NOSHORT 1
#define SHORTCTL_NOLONG 2

// outputFormat
#define FAAC_OUTPUT_RAW 0
#define FAAC_OUTPUT_ADTS 1

// bandWidth: as wide as the encoder allows (it keeps below half the sample rate).
#define FAAC_BANDWIDTH_FULL 0xFFFFFFFFu

typedef struct faacEncConfiguration {
    INT version;           // FAAC_CFG_VERSION
    const char *name;      // the encoder's name, owned by the library
    const char *copyright; // owned by the library
    UINT mpegVersion;      // FAAC_MPEG4 or FAAC_MPEG2
    UINT aacObjectType;    // FAAC_LOW only in this library
    UINT allowMidside;     // 1: the encoder may code channel pairs as mid/side
    UINT useLfe;           // not supported: 0
    UINT useTns;           // 1: temporal noise shaping
    ULONG bitRate;         // bit/s per channel; 0: the rate follows quantqual
    UINT bandWidth;        // Hz; 0 or FAAC_BANDWIDTH_FULL: the encoder's own choice
    ULONG quantqual;       // quality, 10..500; 100 is the default (see aac_enc.cpp)
    UINT outputFormat;     // FAAC_OUTPUT_RAW only in this library
    void *psymodellist;    // not used: null
    UINT psymodelidx;      // 0
    UINT inputFormat;      // FAAC_INPUT_16BIT only in this library
    INT shortctl;          // SHORTCTL_NORMAL only in this library
} faacEncConfiguration, *faacEncConfigurationPtr;

// inputSamples: 16-bit samples (all channels together) per block;
// maxOutputBytes: the largest frame faacEncEncode can give. Null when the
// sample rate or channel count cannot be encoded.
typedef faacEncHandle (*FAACENCOPEN)(ULONG sampleRate, UINT numChannels, ULONG *inputSamples, ULONG *maxOutputBytes);
// The handle's own configuration; valid until faacEncClose.
typedef faacEncConfigurationPtr (*FAACENCGETCURRENTCONFIGURATION)(faacEncHandle hEncoder);
// 1 when the configuration is taken, 0 when it is refused (unsupported
// values, or the first block has already been encoded).
typedef int (*FAACENCSETCONFIGURATION)(faacEncHandle hEncoder, faacEncConfigurationPtr config);
// 0 and a block the caller releases with faacEncFreeDecoderSpecificInfo; -1 on failure.
typedef int (*FAACENCGETDECODERSPECIFICINFO)(faacEncHandle hEncoder, unsigned char **ppBuffer,
                                             ULONG *pSizeOfDecoderSpecificInfo);
// samplesInput: 16-bit samples (all channels together) of inputBuffer, at most
// one block; 0 drains. Returns the bytes of one raw frame written to
// outputBuffer (0: none this call), or -1 on failure.
typedef int (*FAACENCENCODE)(faacEncHandle hEncoder, int32_t *inputBuffer, UINT samplesInput,
                             unsigned char *outputBuffer, UINT bufferSize);
typedef int (*FAACENCCLOSE)(faacEncHandle hEncoder);
typedef void (*FAACENCFREEDECODERSPECIFICINFO)(unsigned char *pBuffer);

#define TEXT_FAACENCOPEN "faacEncOpen"
#define TEXT_FAACENCGETCURRENTCONFIGURATION "faacEncGetCurrentConfiguration"
#define TEXT_FAACENCSETCONFIGURATION "faacEncSetConfiguration"
#define TEXT_FAACENCGETDECODERSPECIFICINFO "faacEncGetDecoderSpecificInfo"
#define TEXT_FAACENCENCODE "faacEncEncode"
#define TEXT_FAACENCCLOSE "faacEncClose"
#define TEXT_FAACENCFREEDECODERSPECIFICINFO "faacEncFreeDecoderSpecificInfo"

EXTERN_C ORAFON_EXPORT faacEncHandle faacEncOpen(ULONG sampleRate, UINT numChannels, ULONG *inputSamples,
                                                 ULONG *maxOutputBytes);
EXTERN_C ORAFON_EXPORT faacEncConfigurationPtr faacEncGetCurrentConfiguration(faacEncHandle hEncoder);
EXTERN_C ORAFON_EXPORT int faacEncSetConfiguration(faacEncHandle hEncoder, faacEncConfigurationPtr config);
EXTERN_C ORAFON_EXPORT int faacEncGetDecoderSpecificInfo(faacEncHandle hEncoder, unsigned char **ppBuffer,
                                                         ULONG *pSizeOfDecoderSpecificInfo);
EXTERN_C ORAFON_EXPORT int faacEncEncode(faacEncHandle hEncoder, int32_t *inputBuffer, UINT samplesInput,
                                         unsigned char *outputBuffer, UINT bufferSize);
EXTERN_C ORAFON_EXPORT int faacEncClose(faacEncHandle hEncoder);
EXTERN_C ORAFON_EXPORT void faacEncFreeDecoderSpecificInfo(unsigned char *pBuffer);

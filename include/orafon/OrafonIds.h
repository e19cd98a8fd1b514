// Identifiers and enumerations of the Orafon type library, for clients and for
// the module itself. Orafon.h adds the ITextToSpeech interface on top.
#pragma once

#include <orafon/win/wintypes.h>

// {F29A07DB-9775-46B7-A7DD-94C440145B52}
DEFINE_GUID(LIBID_Orafon, 0xF29A07DB, 0x9775, 0x46B7, 0xA7, 0xDD, 0x94, 0xC4, 0x40, 0x14, 0x5B, 0x52);
// {A5584957-EF07-419C-BACD-9931F1256D92}
DEFINE_GUID(CLSID_TextToSpeech, 0xA5584957, 0xEF07, 0x419C, 0xBA, 0xCD, 0x99, 0x31, 0xF1, 0x25, 0x6D, 0x92);
// {3FFB694E-7A37-4C40-827B-14EB25F1C07C}
DEFINE_GUID(IID_ITextToSpeech, 0x3FFB694E, 0x7A37, 0x4C40, 0x82, 0x7B, 0x14, 0xEB, 0x25, 0xF1, 0xC0, 0x7C);
// {C1D378DB-D1AA-4D74-8DA4-4E73495C3BB8}
DEFINE_GUID(DIID__ITextToSpeechEvents, 0xC1D378DB, 0xD1AA, 0x4D74, 0x8D, 0xA4, 0x4E, 0x73, 0x49, 0x5C, 0x3B, 0xB8);

// How Speak and SpeakToFile treat the text (32-bit).
typedef enum TTSFLAG : LONG {
    TF_DEFAULT = 0,
    TF_ASYNC = 1,
    TF_WITHTAG = 2,
} TTSFLAG;

// The type of file SpeakToFile writes; also the index of its writer (32-bit).
typedef enum FILEFORMAT : LONG {
    FF_WAVE = 0,
    FF_MP3 = 1,
    FF_WMA = 2,
    FF_OGG = 3,
    FF_VOX = 4,
    FF_AU = 5,
    FF_AIFF = 6,
    FF_MP4 = 7,
    FF_FLAC = 8,
} FILEFORMAT;

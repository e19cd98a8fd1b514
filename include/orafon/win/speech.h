// The second-generation speech platform (text-to-speech engine modes and
// audio destinations), as the platform's speech.h declares it, Unicode side.
// Implemented in platform/sapi4 (liborafon_sapi4.so, an in-process server for
// CLSID_TTSEnumerator and CLSID_MMAudioDest).
#pragma once

#include <orafon/win/objidl.h>
#include <orafon/win/unknwn.h>
#include <orafon/win/wintypes.h>

// ---- Common -----------------------------------------------------------------

#define SVFN_LEN (262)
#define LANG_LEN (64)
#define SETBIT(x) ((DWORD)1 << (x))

typedef QWORD *PQWORD;
typedef WCHAR *PWSTR;
typedef const WCHAR *PCWSTR;

typedef struct {
    PVOID pData;
    DWORD dwSize;
} SDATA, *PSDATA;

typedef struct {
    LANGID LanguageID;
    WCHAR szDialect[LANG_LEN];
} LANGUAGEW, *PLANGUAGEW;

typedef enum { CHARSET_TEXT = 0, CHARSET_IPAPHONETIC = 1, CHARSET_ENGINEPHONETIC = 2 } VOICECHARSET;

// Error codes of the audio objects and engines.
#define AUDERR_NONE S_OK
#define AUDERR_BADDEVICEID _HR(0x80040301)
#define AUDERR_NEEDWAVEFORMAT _HR(0x80040302)
#define AUDERR_NOTSUPPORTED E_NOTIMPL
#define AUDERR_NOTENOUGHDATA _HR(0x80040201)
#define AUDERR_NOTPLAYING _HR(0x80040306)
#define AUDERR_INVALIDPARAM E_INVALIDARG
#define AUDERR_WAVEFORMATNOTSUPPORTED _HR(0x80040202)
#define AUDERR_WAVEDEVICEBUSY _HR(0x80040203)
#define AUDERR_NODRIVER _HR(0x80040317)
#define AUDERR_INVALIDNOTIFYSINK _HR(0x80040319)
#define AUDERR_ALREADYCLAIMED _HR(0x8004031D)
#define AUDERR_NOTCLAIMED _HR(0x8004031E)
#define AUDERR_ALREADYSTARTED _HR(0x80040320)

#define TTSERR_NONE S_OK
#define TTSERR_INVALIDINTERFACE E_NOINTERFACE
#define TTSERR_NOTSUPPORTED E_NOTIMPL
#define TTSERR_VALUEOUTOFRANGE E_UNEXPECTED
#define TTSERR_INVALIDPARAM E_INVALIDARG
#define TTSERR_INVALIDMODE _HR(0x80040206)
#define TTSERR_WAVEFORMATNOTSUPPORTED _HR(0x80040202)
#define TTSERR_INVALIDCHAR _HR(0x80040208)
#define TTSERR_QUEUEFULL _HR(0x8004020A)
#define TTSERR_WAVEDEVICEBUSY _HR(0x80040203)
#define TTSERR_NOTPAUSED _HR(0x80040501)
#define TTSERR_ALREADYPAUSED _HR(0x80040502)

// ---- Audio destinations -----------------------------------------------------

// IAudioDestNotifySink::AudioStop reasons.
#define IANSRSN_NODATA 0
#define IANSRSN_PRIORITY 1
#define IANSRSN_INACTIVE 2
#define IANSRSN_EOF 3

DEFINE_GUID(CLSID_MMAudioDest, 0xcb96b400, 0xc743, 0x11cd, 0x80, 0xe5, 0x0, 0xaa, 0x0, 0x3e, 0x4b, 0x50);
DEFINE_GUID(IID_IAudio, 0xf546b340, 0xc743, 0x11cd, 0x80, 0xe5, 0x0, 0xaa, 0x0, 0x3e, 0x4b, 0x50);
DEFINE_GUID(IID_IAudioDest, 0x2ec34da0, 0xc743, 0x11cd, 0x80, 0xe5, 0x0, 0xaa, 0x0, 0x3e, 0x4b, 0x50);
DEFINE_GUID(IID_IAudioDestNotifySink, 0xacb08c00, 0xc743, 0x11cd, 0x80, 0xe5, 0x0, 0xaa, 0x0, 0x3e, 0x4b, 0x50);
DEFINE_GUID(IID_IAudioMultiMediaDevice, 0xb68ad320, 0xc743, 0x11cd, 0x80, 0xe5, 0x0, 0xaa, 0x0, 0x3e, 0x4b, 0x50);

struct IAudio : public IUnknown {
    STDMETHOD(Flush)() PURE;
    STDMETHOD(LevelGet)(DWORD *pdwLevel) PURE;
    STDMETHOD(LevelSet)(DWORD dwLevel) PURE;
    // The notification sink (an IAudioDestNotifySink for a destination).
    STDMETHOD(PassNotify)(PVOID pNotifyInterface, IID iid) PURE;
    STDMETHOD(PosnGet)(PQWORD pqwPosition) PURE;
    STDMETHOD(Claim)() PURE;
    STDMETHOD(UnClaim)() PURE;
    STDMETHOD(Start)() PURE;
    STDMETHOD(Stop)() PURE;
    STDMETHOD(TotalGet)(PQWORD pqwTotal) PURE;
    STDMETHOD(ToFileTime)(PQWORD pqwPosition, FILETIME *pFileTime) PURE;
    // Answers the destination's preferred format in task memory, or
    // AUDERR_NEEDWAVEFORMAT when it proposes none.
    STDMETHOD(WaveFormatGet)(PSDATA pFormat) PURE;
    STDMETHOD(WaveFormatSet)(SDATA format) PURE;
};
typedef IAudio *PIAUDIO;

struct IAudioDest : public IUnknown {
    STDMETHOD(FreeSpace)(DWORD *pdwBytes, BOOL *pfEOF) PURE;
    STDMETHOD(DataSet)(PVOID pBuffer, DWORD dwSize) PURE;
    // Marks the current end of the written data; the sink's BookMark fires
    // when playback reaches it.
    STDMETHOD(BookMark)(DWORD dwMarkID) PURE;
};
typedef IAudioDest *PIAUDIODEST;

struct IAudioDestNotifySink : public IUnknown {
    STDMETHOD(AudioStop)(WORD wReason) PURE;
    STDMETHOD(AudioStart)() PURE;
    STDMETHOD(FreeSpace)(DWORD dwBytes, BOOL fEOF) PURE;
    STDMETHOD(BookMark)(DWORD dwMarkID, BOOL fFlushed) PURE;
};
typedef IAudioDestNotifySink *PIAUDIODESTNOTIFYSINK;

struct IAudioMultiMediaDevice : public IUnknown {
    STDMETHOD(CustomMessage)(UINT uMsg, SDATA data) PURE;
    STDMETHOD(DeviceNumGet)(DWORD *pdwDeviceID) PURE;
    STDMETHOD(DeviceNumSet)(DWORD dwDeviceID) PURE;
};
typedef IAudioMultiMediaDevice *PIAUDIOMULTIMEDIADEVICE;

ORAFON_DECLARE_IID(IAudio, IID_IAudio);
ORAFON_DECLARE_IID(IAudioDest, IID_IAudioDest);
ORAFON_DECLARE_IID(IAudioDestNotifySink, IID_IAudioDestNotifySink);
ORAFON_DECLARE_IID(IAudioMultiMediaDevice, IID_IAudioMultiMediaDevice);

// ---- Text-to-speech engines -------------------------------------------------

#define TTSI_NAMELEN SVFN_LEN
#define TTSI_STYLELEN SVFN_LEN

#define GENDER_NEUTRAL (0)
#define GENDER_FEMALE (1)
#define GENDER_MALE (2)

#define TTSFEATURE_ANYWORD SETBIT(0)
#define TTSFEATURE_VOLUME SETBIT(1)
#define TTSFEATURE_SPEED SETBIT(2)
#define TTSFEATURE_PITCH SETBIT(3)
#define TTSFEATURE_TAGGED SETBIT(4)
#define TTSFEATURE_IPAUNICODE SETBIT(5)
#define TTSFEATURE_VISUAL SETBIT(6)
#define TTSFEATURE_WORDPOSITION SETBIT(7)
#define TTSFEATURE_PCOPTIMIZED SETBIT(8)
#define TTSFEATURE_PHONEOPTIMIZED SETBIT(9)

#define TTSI_ILEXPRONOUNCE SETBIT(0)
#define TTSI_ITTSATTRIBUTES SETBIT(1)
#define TTSI_ITTSCENTRAL SETBIT(2)
#define TTSI_ITTSDIALOGS SETBIT(3)

// TextData flags: the text carries engine control tags (\Pit=n\ and the like).
#define TTSDATAFLAG_TAGGED SETBIT(0)
#define TTSDATAF_TAGGED TTSDATAFLAG_TAGGED

// ITTSBufNotifySink::TextDataDone flags.
#define TTSBNS_ABORTED SETBIT(0)

// ITTSNotifySink::AttribChanged values.
#define TTSNSAC_REALTIME 0
#define TTSNSAC_PITCH 1
#define TTSNSAC_SPEED 2
#define TTSNSAC_VOLUME 3

#define TTSAGE_BABY 1
#define TTSAGE_TODDLER 3
#define TTSAGE_CHILD 6
#define TTSAGE_ADOLESCENT 14
#define TTSAGE_ADULT 30
#define TTSAGE_ELDERLY 70

#define TTSATTR_MINPITCH 0
#define TTSATTR_MAXPITCH 0xffff
#define TTSATTR_MINREALTIME 0
#define TTSATTR_MAXREALTIME 0xffffffff
#define TTSATTR_MINSPEED 0
#define TTSATTR_MAXSPEED 0xffffffff
#define TTSATTR_MINVOLUME 0
#define TTSATTR_MAXVOLUME 0xffffffff

typedef struct {
    BYTE bMouthHeight;
    BYTE bMouthWidth;
    BYTE bMouthUpturn;
    BYTE bJawOpen;
    BYTE bTeethUpperVisible;
    BYTE bTeethLowerVisible;
    BYTE bTonguePosn;
    BYTE bLipTension;
} TTSMOUTH, *PTTSMOUTH;

// One engine mode, in its published layout.
typedef struct {
    GUID gEngineID;
    WCHAR szMfgName[TTSI_NAMELEN];
    WCHAR szProductName[TTSI_NAMELEN];
    GUID gModeID;
    WCHAR szModeName[TTSI_NAMELEN];
    LANGUAGEW language;
    WCHAR szSpeaker[TTSI_NAMELEN];
    WCHAR szStyle[TTSI_STYLELEN];
    WORD wGender;
    WORD wAge;
    DWORD dwFeatures;
    DWORD dwInterfaces;
    DWORD dwEngineFeatures;
} TTSMODEINFOW, *PTTSMODEINFOW;
static_assert(sizeof(TTSMODEINFOW) == 2800, "TTSMODEINFOW must keep its published size");
static_assert(offsetof(TTSMODEINFOW, wGender) == 2782 && offsetof(TTSMODEINFOW, dwFeatures) == 2788);

DEFINE_GUID(CLSID_TTSEnumerator, 0xd67c0280, 0xc743, 0x11cd, 0x80, 0xe5, 0x0, 0xaa, 0x0, 0x3e, 0x4b, 0x50);
DEFINE_GUID(IID_ITTSAttributesW, 0x1287A280, 0x4A47, 0x101B, 0x93, 0x1A, 0x00, 0xAA, 0x00, 0x47, 0xBA, 0x4F);
// The attributes interface has no text arguments, so its A and W forms share
// one function table; engines answer both ids with the same object.
DEFINE_GUID(IID_ITTSAttributesA, 0x0FD6E2A1, 0xE77D, 0x11CD, 0xB3, 0xCA, 0x00, 0xAA, 0x00, 0x47, 0xBA, 0x4F);
DEFINE_GUID(IID_ITTSBufNotifySink, 0xe4963d40, 0xc743, 0x11cd, 0x80, 0xe5, 0x0, 0xaa, 0x0, 0x3e, 0x4b, 0x50);
DEFINE_GUID(IID_ITTSCentralW, 0x28016060, 0x4A47, 0x101B, 0x93, 0x1A, 0x00, 0xAA, 0x00, 0x47, 0xBA, 0x4F);
DEFINE_GUID(IID_ITTSEnumW, 0x6B837B20, 0x4A47, 0x101B, 0x93, 0x1A, 0x00, 0xAA, 0x00, 0x47, 0xBA, 0x4F);
DEFINE_GUID(IID_ITTSNotifySinkW, 0xC0FA8F40, 0x4A46, 0x101B, 0x93, 0x1A, 0x00, 0xAA, 0x00, 0x47, 0xBA, 0x4F);

struct ITTSAttributesW : public IUnknown {
    STDMETHOD(PitchGet)(WORD *pwPitch) PURE;
    STDMETHOD(PitchSet)(WORD wPitch) PURE;
    STDMETHOD(RealTimeGet)(DWORD *pdwRealTime) PURE;
    STDMETHOD(RealTimeSet)(DWORD dwRealTime) PURE;
    STDMETHOD(SpeedGet)(DWORD *pdwSpeed) PURE;
    STDMETHOD(SpeedSet)(DWORD dwSpeed) PURE;
    STDMETHOD(VolumeGet)(DWORD *pdwVolume) PURE;
    STDMETHOD(VolumeSet)(DWORD dwVolume) PURE;
};
typedef ITTSAttributesW *PITTSATTRIBUTESW;
// Same function table under the A interface id.
struct ITTSAttributesA : public ITTSAttributesW {};
typedef ITTSAttributesA *PITTSATTRIBUTESA;

struct ITTSBufNotifySink : public IUnknown {
    STDMETHOD(TextDataDone)(QWORD qTimeStamp, DWORD dwFlags) PURE;
    STDMETHOD(TextDataStarted)(QWORD qTimeStamp) PURE;
    STDMETHOD(BookMark)(QWORD qTimeStamp, DWORD dwMarkNum) PURE;
    // dwByteOffset: byte offset of the word in the text given to TextData.
    STDMETHOD(WordPosition)(QWORD qTimeStamp, DWORD dwByteOffset) PURE;
};
typedef ITTSBufNotifySink *PITTSBUFNOTIFYSINK;

struct ITTSNotifySinkW : public IUnknown {
    STDMETHOD(AttribChanged)(DWORD dwAttribute) PURE;
    STDMETHOD(AudioStart)(QWORD qTimeStamp) PURE;
    STDMETHOD(AudioStop)(QWORD qTimeStamp) PURE;
    STDMETHOD(Visual)
    (QWORD qTimeStamp, WCHAR cIPAPhoneme, WCHAR cEnginePhoneme, DWORD dwHints, PTTSMOUTH pTTSMouth) PURE;
};
typedef ITTSNotifySinkW *PITTSNOTIFYSINKW;

struct ITTSCentralW : public IUnknown {
    STDMETHOD(Inject)(PCWSTR pszTag) PURE;
    STDMETHOD(ModeGet)(PTTSMODEINFOW pttsInfo) PURE;
    STDMETHOD(Phoneme)(VOICECHARSET eCharacterSet, DWORD dwFlags, SDATA dText, PSDATA pdPhoneme) PURE;
    STDMETHOD(PosnGet)(PQWORD pqwTimeStamp) PURE;
    // Queues text (UTF-16, dwSize in bytes) with an optional ITTSBufNotifySink.
    STDMETHOD(TextData)
    (VOICECHARSET eCharacterSet, DWORD dwFlags, SDATA dText, PVOID pNotifyInterface, IID IIDNotifyInterface) PURE;
    STDMETHOD(ToFileTime)(PQWORD pqTimeStamp, FILETIME *pFT) PURE;
    STDMETHOD(AudioPause)() PURE;
    STDMETHOD(AudioResume)() PURE;
    STDMETHOD(AudioReset)() PURE;
    STDMETHOD(Register)(PVOID pNotifyInterface, IID IIDNotifyInterface, DWORD *pdwKey) PURE;
    STDMETHOD(UnRegister)(DWORD dwKey) PURE;
};
typedef ITTSCentralW *PITTSCENTRALW;

struct ITTSEnumW : public IUnknown {
    STDMETHOD(Next)(ULONG celt, PTTSMODEINFOW rgelt, ULONG *pceltFetched) PURE;
    STDMETHOD(Skip)(ULONG celt) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(ITTSEnumW **ppenum) PURE;
    // A fresh engine instance of the mode, speaking into the audio object.
    STDMETHOD(Select)(GUID gModeID, PITTSCENTRALW *ppiTTSCentral, LPUNKNOWN pIUnknownForAudio) PURE;
};
typedef ITTSEnumW *PITTSENUMW;

ORAFON_DECLARE_IID(ITTSAttributesW, IID_ITTSAttributesW);
ORAFON_DECLARE_IID(ITTSAttributesA, IID_ITTSAttributesA);
ORAFON_DECLARE_IID(ITTSBufNotifySink, IID_ITTSBufNotifySink);
ORAFON_DECLARE_IID(ITTSNotifySinkW, IID_ITTSNotifySinkW);
ORAFON_DECLARE_IID(ITTSCentralW, IID_ITTSCentralW);
ORAFON_DECLARE_IID(ITTSEnumW, IID_ITTSEnumW);

#define ITTSAttributes ITTSAttributesW
#define IID_ITTSAttributes IID_ITTSAttributesW
#define ITTSCentral ITTSCentralW
#define IID_ITTSCentral IID_ITTSCentralW
#define ITTSEnum ITTSEnumW
#define IID_ITTSEnum IID_ITTSEnumW
#define ITTSNotifySink ITTSNotifySinkW
#define IID_ITTSNotifySink IID_ITTSNotifySinkW
#define TTSMODEINFO TTSMODEINFOW
#define PTTSMODEINFO PTTSMODEINFOW
#define LANGUAGE LANGUAGEW

// The SAPI 5 speech platform: voices, object tokens and categories, events.
// Implemented in platform/sapi5 (liborafon_sapi5.so, an in-process server that
// the COM runtime loads for the classes below) over espeak-ng.
//
// Interfaces keep their published function-table order and identifiers, so
// code written against the platform's sapi.h compiles and behaves the same.
#pragma once

#include <orafon/win/objidl.h>
#include <orafon/win/unknwn.h>
#include <orafon/win/wintypes.h>

// ---- Classes ------------------------------------------------------------------

DEFINE_GUID(CLSID_SpVoice, 0x96749377, 0x3391, 0x11D2, 0x9E, 0xE3, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96);
DEFINE_GUID(CLSID_SpObjectTokenCategory, 0xA910187F, 0x0C7A, 0x45AC, 0x92, 0xCC, 0x59, 0xED, 0xAF, 0xB7, 0x7B, 0x53);
DEFINE_GUID(CLSID_SpObjectToken, 0xEF411752, 0x3736, 0x4CB4, 0x9C, 0x8C, 0x8E, 0xF4, 0xCC, 0xB5, 0x8E, 0xFE);

// The stream format ids: a format described by a WAVEFORMATEX, and text.
DEFINE_GUID(SPDFID_WaveFormatEx, 0xC31ADBAE, 0x527F, 0x4FF5, 0xA2, 0x30, 0xF6, 0x2B, 0xB6, 0x1F, 0xF7, 0x0C);
DEFINE_GUID(SPDFID_Text, 0x7CEEF9F9, 0x3D13, 0x11D2, 0x9E, 0xE7, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96);

// ---- Interface ids --------------------------------------------------------------

DEFINE_GUID(IID_ISpDataKey, 0x14056581, 0xE16C, 0x11D2, 0xBB, 0x90, 0x00, 0xC0, 0x4F, 0x8E, 0xE6, 0xC0);
DEFINE_GUID(IID_ISpObjectTokenCategory, 0x2D3D3845, 0x39AF, 0x4850, 0xBB, 0xF9, 0x40, 0xB4, 0x97, 0x80, 0x01, 0x1D);
DEFINE_GUID(IID_ISpObjectToken, 0x14056589, 0xE16C, 0x11D2, 0xBB, 0x90, 0x00, 0xC0, 0x4F, 0x8E, 0xE6, 0xC0);
DEFINE_GUID(IID_IEnumSpObjectTokens, 0x06B64F9E, 0x7FDA, 0x11D2, 0xB4, 0xF2, 0x00, 0xC0, 0x4F, 0x79, 0x73, 0x96);
DEFINE_GUID(IID_ISpNotifySink, 0x259684DC, 0x37C3, 0x11D2, 0x96, 0x03, 0x00, 0xC0, 0x4F, 0x8E, 0xE6, 0x28);
DEFINE_GUID(IID_ISpNotifySource, 0x5EFF4AEF, 0x8487, 0x11D2, 0x96, 0x1C, 0x00, 0xC0, 0x4F, 0x8E, 0xE6, 0x28);
DEFINE_GUID(IID_ISpEventSource, 0xBE7A9CCE, 0x5F9E, 0x11D2, 0x96, 0x0F, 0x00, 0xC0, 0x4F, 0x8E, 0xE6, 0x28);
DEFINE_GUID(IID_ISpStreamFormat, 0xBED530BE, 0x2606, 0x4F4D, 0xA1, 0xC0, 0x54, 0xC5, 0xCD, 0xA5, 0x56, 0x6F);
DEFINE_GUID(IID_ISpVoice, 0x6C44DF74, 0x72B9, 0x4992, 0xA1, 0xEC, 0xEF, 0x99, 0x6E, 0x04, 0x22, 0xD4);

// ---- Category ids ---------------------------------------------------------------

#define SPCAT_VOICES u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices"
#define SPCAT_AUDIOOUT u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\AudioOutput"

// ---- Events -----------------------------------------------------------------------

typedef enum SPEVENTENUM {
    SPEI_UNDEFINED = 0,
    SPEI_START_INPUT_STREAM = 1,
    SPEI_END_INPUT_STREAM = 2,
    SPEI_VOICE_CHANGE = 3,
    SPEI_TTS_BOOKMARK = 4,
    SPEI_WORD_BOUNDARY = 5,
    SPEI_PHONEME = 6,
    SPEI_SENTENCE_BOUNDARY = 7,
    SPEI_VISEME = 8,
    SPEI_TTS_AUDIO_LEVEL = 9,
    SPEI_TTS_PRIVATE = 15,
    SPEI_MIN_TTS = 1,
    SPEI_MAX_TTS = 15,
    SPEI_RESERVED1 = 30,
    SPEI_RESERVED2 = 33,
    SPEI_RESERVED3 = 63
} SPEVENTENUM;

typedef enum SPEVENTLPARAMTYPE {
    SPET_LPARAM_IS_UNDEFINED = 0,
    SPET_LPARAM_IS_TOKEN = 1,
    SPET_LPARAM_IS_OBJECT = 2,
    SPET_LPARAM_IS_POINTER = 3,
    SPET_LPARAM_IS_STRING = 4
} SPEVENTLPARAMTYPE;

// One queued event. Word and sentence boundaries carry the position of the
// word or sentence in the text given to Speak (UTF-16 units, markup included)
// in lParam and its length in wParam. A bookmark carries its name as a string
// in lParam (task memory, freed by whoever takes the event) and the name's
// number in wParam.
typedef struct SPEVENT {
    WORD eEventId;    // SPEVENTENUM
    WORD elParamType; // SPEVENTLPARAMTYPE
    ULONG ulStreamNum;
    ULONGLONG ullAudioStreamOffset;
    WPARAM wParam;
    LPARAM lParam;
} SPEVENT;

typedef struct SPEVENTSOURCEINFO {
    ULONGLONG ullEventInterest;
    ULONGLONG ullQueuedInterest;
    ULONG ulCount;
} SPEVENTSOURCEINFO;

#define SPFEI_FLAGCHECK ((1ULL << SPEI_RESERVED1) | (1ULL << SPEI_RESERVED2))
#define SPFEI_ALL_TTS_EVENTS (0x000000000000FFFEULL | SPFEI_FLAGCHECK)
#define SPFEI_ALL_EVENTS 0xEFFFFFFFFFFFFFFFULL
#define SPFEI(SPEI_ord) ((1ULL << (SPEI_ord)) | SPFEI_FLAGCHECK)

// ---- Speaking -------------------------------------------------------------------

typedef enum SPEAKFLAGS {
    SPF_DEFAULT = 0,
    SPF_ASYNC = (1L << 0),
    SPF_PURGEBEFORESPEAK = (1L << 1),
    SPF_IS_FILENAME = (1L << 2),
    SPF_IS_XML = (1L << 3),
    SPF_IS_NOT_XML = (1L << 4),
    SPF_PERSIST_XML = (1L << 5),
    SPF_NLP_SPEAK_PUNC = (1L << 6),
    SPF_PARSE_SAPI = (1L << 7),
    SPF_PARSE_SSML = (1L << 8),
    SPF_PARSE_AUTODETECT = 0,
    SPF_NLP_MASK = SPF_NLP_SPEAK_PUNC,
    SPF_PARSE_MASK = (SPF_PARSE_SAPI | SPF_PARSE_SSML),
    SPF_VOICE_MASK = (SPF_ASYNC | SPF_PURGEBEFORESPEAK | SPF_IS_FILENAME | SPF_IS_XML | SPF_IS_NOT_XML | SPF_NLP_MASK |
                      SPF_PERSIST_XML | SPF_PARSE_MASK),
    SPF_UNUSED_FLAGS = ~SPF_VOICE_MASK
} SPEAKFLAGS;

typedef enum SPVPRIORITY { SPVPRI_NORMAL = 0, SPVPRI_ALERT = 1, SPVPRI_OVER = 2 } SPVPRIORITY;

typedef enum SPRUNSTATE { SPRS_DONE = (1L << 0), SPRS_IS_SPEAKING = (1L << 1) } SPRUNSTATE;

typedef enum SPVISEMES { SP_VISEME_0 = 0 } SPVISEMES;
typedef unsigned short SPPHONEID;

typedef struct SPVOICESTATUS {
    ULONG ulCurrentStream;
    ULONG ulLastStreamQueued;
    HRESULT hrLastResult;
    DWORD dwRunningState;
    ULONG ulInputWordPos;
    ULONG ulInputWordLen;
    ULONG ulInputSentPos;
    ULONG ulInputSentLen;
    LONG lBookmarkId;
    SPPHONEID PhonemeId;
    SPVISEMES VisemeId;
    DWORD dwReserved1;
    DWORD dwReserved2;
} SPVOICESTATUS;

typedef enum SPDATAKEYLOCATION {
    SPDKL_DefaultLocation = 0,
    SPDKL_CurrentUser = 1,
    SPDKL_LocalMachine = 2,
    SPDKL_CurrentConfig = 5
} SPDATAKEYLOCATION;

// The speech platform result codes (SPERR_*) are in wintypes.h.

// ---- Notification interfaces ----------------------------------------------------

// Not a COM interface: a plain callback the client implements.
struct ISpNotifyCallback {
    virtual HRESULT STDMETHODCALLTYPE NotifyCallback(WPARAM wParam, LPARAM lParam) = 0;

protected:
    ~ISpNotifyCallback() = default;
};

typedef void STDMETHODCALLTYPE SPNOTIFYCALLBACK(WPARAM wParam, LPARAM lParam);

struct ISpNotifySink : public IUnknown {
    STDMETHOD(Notify)() PURE;
};
ORAFON_DECLARE_IID(ISpNotifySink, IID_ISpNotifySink);

struct ISpNotifySource : public IUnknown {
    STDMETHOD(SetNotifySink)(ISpNotifySink *pNotifySink) PURE;
    STDMETHOD(SetNotifyWindowMessage)(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) PURE;
    STDMETHOD(SetNotifyCallbackFunction)(SPNOTIFYCALLBACK *pfnCallback, WPARAM wParam, LPARAM lParam) PURE;
    STDMETHOD(SetNotifyCallbackInterface)(ISpNotifyCallback *pSpCallback, WPARAM wParam, LPARAM lParam) PURE;
    STDMETHOD(SetNotifyWin32Event)() PURE;
    STDMETHOD(WaitForNotifyEvent)(DWORD dwMilliseconds) PURE;
    STDMETHOD_(HANDLE, GetNotifyEventHandle)() PURE;
};
ORAFON_DECLARE_IID(ISpNotifySource, IID_ISpNotifySource);

struct ISpEventSource : public ISpNotifySource {
    STDMETHOD(SetInterest)(ULONGLONG ullEventInterest, ULONGLONG ullQueuedInterest) PURE;
    STDMETHOD(GetEvents)(ULONG ulCount, SPEVENT *pEventArray, ULONG *pulFetched) PURE;
    STDMETHOD(GetInfo)(SPEVENTSOURCEINFO *pInfo) PURE;
};
ORAFON_DECLARE_IID(ISpEventSource, IID_ISpEventSource);

// ---- Data keys and object tokens ------------------------------------------------

struct IEnumSpObjectTokens;
struct ISpObjectTokenCategory;

struct ISpDataKey : public IUnknown {
    STDMETHOD(SetData)(LPCWSTR pszValueName, ULONG cbData, const BYTE *pData) PURE;
    STDMETHOD(GetData)(LPCWSTR pszValueName, ULONG *pcbData, BYTE *pData) PURE;
    STDMETHOD(SetStringValue)(LPCWSTR pszValueName, LPCWSTR pszValue) PURE;
    // The string is task memory (CoTaskMemFree). A missing value: SPERR_NOT_FOUND.
    STDMETHOD(GetStringValue)(LPCWSTR pszValueName, LPWSTR *ppszValue) PURE;
    STDMETHOD(SetDWORD)(LPCWSTR pszValueName, DWORD dwValue) PURE;
    STDMETHOD(GetDWORD)(LPCWSTR pszValueName, DWORD *pdwValue) PURE;
    // A missing sub-key: SPERR_NOT_FOUND.
    STDMETHOD(OpenKey)(LPCWSTR pszSubKeyName, ISpDataKey **ppSubKey) PURE;
    STDMETHOD(CreateKey)(LPCWSTR pszSubKey, ISpDataKey **ppSubKey) PURE;
    STDMETHOD(DeleteKey)(LPCWSTR pszSubKey) PURE;
    STDMETHOD(DeleteValue)(LPCWSTR pszValueName) PURE;
    STDMETHOD(EnumKeys)(ULONG Index, LPWSTR *ppszSubKeyName) PURE;
    STDMETHOD(EnumValues)(ULONG Index, LPWSTR *ppszValueName) PURE;
};
ORAFON_DECLARE_IID(ISpDataKey, IID_ISpDataKey);

struct ISpObjectTokenCategory : public ISpDataKey {
    STDMETHOD(SetId)(LPCWSTR pszCategoryId, BOOL fCreateIfNotExist) PURE;
    STDMETHOD(GetId)(LPWSTR *ppszCoMemCategoryId) PURE;
    STDMETHOD(GetDataKey)(SPDATAKEYLOCATION spdkl, ISpDataKey **ppDataKey) PURE;
    // Attributes: "Name=Value;Name!=Value;Name", all of the required ones must
    // match; tokens matching more optional ones come first.
    STDMETHOD(EnumTokens)(LPCWSTR pszReqAttribs, LPCWSTR pszOptAttribs, IEnumSpObjectTokens **ppEnum) PURE;
    STDMETHOD(SetDefaultTokenId)(LPCWSTR pszTokenId) PURE;
    STDMETHOD(GetDefaultTokenId)(LPWSTR *ppszCoMemTokenId) PURE;
};
ORAFON_DECLARE_IID(ISpObjectTokenCategory, IID_ISpObjectTokenCategory);

struct ISpObjectToken : public ISpDataKey {
    STDMETHOD(SetId)(LPCWSTR pszCategoryId, LPCWSTR pszTokenId, BOOL fCreateIfNotExist) PURE;
    STDMETHOD(GetId)(LPWSTR *ppszCoMemTokenId) PURE;
    STDMETHOD(GetCategory)(ISpObjectTokenCategory **ppTokenCategory) PURE;
    STDMETHOD(CreateInstance)(IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid, void **ppvObject) PURE;
    STDMETHOD(GetStorageFileName)
    (REFCLSID clsidCaller, LPCWSTR pszValueName, LPCWSTR pszFileNameSpecifier, ULONG nFolder,
     LPWSTR *ppszFilePath) PURE;
    STDMETHOD(RemoveStorageFileName)(REFCLSID clsidCaller, LPCWSTR pszKeyName, BOOL fDeleteFile) PURE;
    STDMETHOD(Remove)(const CLSID *pclsidCaller) PURE;
    STDMETHOD(IsUISupported)
    (LPCWSTR pszTypeOfUI, void *pvExtraData, ULONG cbExtraData, IUnknown *punkObject, BOOL *pfSupported) PURE;
    STDMETHOD(DisplayUI)
    (HWND hwndParent, LPCWSTR pszTitle, LPCWSTR pszTypeOfUI, void *pvExtraData, ULONG cbExtraData,
     IUnknown *punkObject) PURE;
    STDMETHOD(MatchesAttributes)(LPCWSTR pszAttributes, BOOL *pfMatches) PURE;
};
ORAFON_DECLARE_IID(ISpObjectToken, IID_ISpObjectToken);

struct IEnumSpObjectTokens : public IUnknown {
    // S_OK when celt tokens were fetched, S_FALSE when fewer.
    STDMETHOD(Next)(ULONG celt, ISpObjectToken **pelt, ULONG *pceltFetched) PURE;
    STDMETHOD(Skip)(ULONG celt) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumSpObjectTokens **ppEnum) PURE;
    STDMETHOD(Item)(ULONG Index, ISpObjectToken **ppToken) PURE;
    STDMETHOD(GetCount)(ULONG *pCount) PURE;
};
ORAFON_DECLARE_IID(IEnumSpObjectTokens, IID_IEnumSpObjectTokens);

// ---- Streams --------------------------------------------------------------------

struct ISpStreamFormat : public IStream {
    // The format id and, for SPDFID_WaveFormatEx, a WAVEFORMATEX in task memory.
    STDMETHOD(GetFormat)(GUID *pguidFormatId, WAVEFORMATEX **ppCoMemWaveFormatEx) PURE;
};
ORAFON_DECLARE_IID(ISpStreamFormat, IID_ISpStreamFormat);

// ---- The voice ------------------------------------------------------------------

struct ISpVoice : public ISpEventSource {
    // pUnkOutput null: the default audio device; else an ISpStreamFormat that
    // receives the PCM through Write, in the format its GetFormat reports.
    STDMETHOD(SetOutput)(IUnknown *pUnkOutput, BOOL fAllowFormatChanges) PURE;
    STDMETHOD(GetOutputObjectToken)(ISpObjectToken **ppObjectToken) PURE;
    STDMETHOD(GetOutputStream)(ISpStreamFormat **ppStream) PURE;
    STDMETHOD(Pause)() PURE;
    STDMETHOD(Resume)() PURE;
    STDMETHOD(SetVoice)(ISpObjectToken *pToken) PURE;
    STDMETHOD(GetVoice)(ISpObjectToken **ppToken) PURE;
    STDMETHOD(Speak)(LPCWSTR pwcs, DWORD dwFlags, ULONG *pulStreamNumber) PURE;
    STDMETHOD(SpeakStream)(IStream *pStream, DWORD dwFlags, ULONG *pulStreamNumber) PURE;
    STDMETHOD(GetStatus)(SPVOICESTATUS *pStatus, LPWSTR *ppszLastBookmark) PURE;
    STDMETHOD(Skip)(LPCWSTR pItemType, LONG lNumItems, ULONG *pulNumSkipped) PURE;
    STDMETHOD(SetPriority)(SPVPRIORITY ePriority) PURE;
    STDMETHOD(GetPriority)(SPVPRIORITY *pePriority) PURE;
    STDMETHOD(SetAlertBoundary)(SPEVENTENUM eBoundary) PURE;
    STDMETHOD(GetAlertBoundary)(SPEVENTENUM *peBoundary) PURE;
    STDMETHOD(SetRate)(LONG RateAdjust) PURE;
    STDMETHOD(GetRate)(LONG *pRateAdjust) PURE;
    STDMETHOD(SetVolume)(USHORT usVolume) PURE;
    STDMETHOD(GetVolume)(USHORT *pusVolume) PURE;
    // S_OK when done, S_FALSE when the time ran out first.
    STDMETHOD(WaitUntilDone)(ULONG msTimeout) PURE;
    STDMETHOD(SetSyncSpeakTimeout)(ULONG msTimeout) PURE;
    STDMETHOD(GetSyncSpeakTimeout)(ULONG *pmsTimeout) PURE;
    STDMETHOD_(HANDLE, SpeakCompleteEvent)() PURE;
    STDMETHOD(IsUISupported)(LPCWSTR pszTypeOfUI, void *pvExtraData, ULONG cbExtraData, BOOL *pfSupported) PURE;
    STDMETHOD(DisplayUI)
    (HWND hwndParent, LPCWSTR pszTitle, LPCWSTR pszTypeOfUI, void *pvExtraData, ULONG cbExtraData) PURE;
};
ORAFON_DECLARE_IID(ISpVoice, IID_ISpVoice);

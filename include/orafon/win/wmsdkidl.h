// The Windows Media Format runtime: profiles, codec lists, the writer and the
// metadata editor. Implemented by platform/wmvcore (wmvcore.so, loaded at run
// time; the component resolves the four factories by name) over FFmpeg's
// wmav2 encoder and ASF muxer.
//
// Interfaces keep their published function-table order and identifiers.
// Methods the runtime does not serve answer E_NOTIMPL.
#pragma once

#include <orafon/win/unknwn.h>
#include <orafon/win/wintypes.h>
#include <orafon/win/wmsbuffer.h>

// ---- Types ----------------------------------------------------------------------

// A media type. pbFormat points at cbFormat bytes of format block (a
// WAVEFORMATEX and its extra bytes for audio); in a block returned by
// GetMediaType it points into that same block, just after the structure.
typedef struct _WMMediaType {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown *pUnk;
    ULONG cbFormat;
    BYTE *pbFormat;
} WM_MEDIA_TYPE;

typedef enum WMT_ATTR_DATATYPE {
    WMT_TYPE_DWORD = 0,
    WMT_TYPE_STRING = 1,
    WMT_TYPE_BINARY = 2,
    WMT_TYPE_BOOL = 3,
    WMT_TYPE_QWORD = 4,
    WMT_TYPE_WORD = 5,
    WMT_TYPE_GUID = 6,
} WMT_ATTR_DATATYPE;

typedef enum WMT_VERSION {
    WMT_VER_4_0 = 0x00040000,
    WMT_VER_7_0 = 0x00070000,
    WMT_VER_8_0 = 0x00080000,
    WMT_VER_9_0 = 0x00090000,
} WMT_VERSION;

typedef struct _WMWriterStatistics {
    QWORD qwSampleCount;
    QWORD qwByteCount;
    QWORD qwDroppedSampleCount;
    QWORD qwDroppedByteCount;
    DWORD dwCurrentBitrate;
    DWORD dwAverageBitrate;
    DWORD dwExpectedBitrate;
    DWORD dwCurrentSampleRate;
    DWORD dwAverageSampleRate;
    DWORD dwExpectedSampleRate;
} WM_WRITER_STATISTICS;

// The attribute of the file's play duration (WMT_TYPE_QWORD, 100-ns units).
#define g_wszWMDuration u"Duration"

// ---- Media types ------------------------------------------------------------------

DEFINE_GUID(WMMEDIATYPE_Audio, 0x73647561, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
DEFINE_GUID(WMMEDIATYPE_Video, 0x73646976, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
DEFINE_GUID(WMMEDIASUBTYPE_PCM, 0x00000001, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
// Windows Media Audio 2 to 8 (format tag 0x161).
DEFINE_GUID(WMMEDIASUBTYPE_WMAudioV8, 0x00000161, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
#define WMMEDIASUBTYPE_WMAudioV7 WMMEDIASUBTYPE_WMAudioV8
#define WMMEDIASUBTYPE_WMAudioV2 WMMEDIASUBTYPE_WMAudioV8
DEFINE_GUID(WMFORMAT_WaveFormatEx, 0x05589F81, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);

#define WAVE_FORMAT_WMAUDIO2 0x0161

// ---- Interface ids ------------------------------------------------------------------

DEFINE_GUID(IID_IWMMediaProps, 0x96406BCE, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
DEFINE_GUID(IID_IWMInputMediaProps, 0x96406BD5, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
DEFINE_GUID(IID_IWMStreamConfig, 0x96406BDC, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
DEFINE_GUID(IID_IWMProfile, 0x96406BDB, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
DEFINE_GUID(IID_IWMProfileManager, 0xD16679F2, 0x6CA0, 0x472D, 0x8D, 0x31, 0x2F, 0x5D, 0x55, 0xAE, 0xE1, 0x55);
DEFINE_GUID(IID_IWMCodecInfo, 0xA970F41E, 0x34DE, 0x4A98, 0xB3, 0xBA, 0xE4, 0xB3, 0xCA, 0x75, 0x28, 0xF0);
DEFINE_GUID(IID_IWMCodecInfo2, 0xAA65E273, 0xB686, 0x4056, 0x91, 0xEC, 0xDD, 0x76, 0x8D, 0x4D, 0xF7, 0x10);
DEFINE_GUID(IID_IWMCodecInfo3, 0x7E51F487, 0x4D93, 0x4F98, 0x8A, 0xB4, 0x27, 0xD0, 0x56, 0x5A, 0xDC, 0x51);
DEFINE_GUID(IID_IWMWriter, 0x96406BD4, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
DEFINE_GUID(IID_IWMWriterAdvanced, 0x96406BE3, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
DEFINE_GUID(IID_IWMMetadataEditor, 0x96406BD9, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
DEFINE_GUID(IID_IWMHeaderInfo, 0x96406BDA, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
DEFINE_GUID(IID_IWMSyncReader, 0x9397F121, 0x7705, 0x4DC9, 0xB0, 0x49, 0x98, 0xB6, 0x98, 0x18, 0x84, 0x14);

// Interfaces named in signatures that this runtime does not implement.
struct IWMMutualExclusion;
struct IWMWriterSink;
struct IWMSyncReader;

// ---- Media properties -------------------------------------------------------------

struct IWMMediaProps : public IUnknown {
    STDMETHOD(GetType)(GUID *pguidType) PURE;
    // pType null: *pcbType gets the size of the whole block (the structure
    // and its format bytes). Otherwise the block is copied into pType when
    // *pcbType is large enough (E_INVALIDARG when it is not).
    STDMETHOD(GetMediaType)(WM_MEDIA_TYPE *pType, DWORD *pcbType) PURE;
    STDMETHOD(SetMediaType)(WM_MEDIA_TYPE *pType) PURE;
};
ORAFON_DECLARE_IID(IWMMediaProps, IID_IWMMediaProps);

struct IWMInputMediaProps : public IWMMediaProps {
    STDMETHOD(GetConnectionName)(WCHAR *pwszName, WORD *pcchName) PURE;
    STDMETHOD(GetGroupName)(WCHAR *pwszName, WORD *pcchName) PURE;
};
ORAFON_DECLARE_IID(IWMInputMediaProps, IID_IWMInputMediaProps);

// ---- Profiles -------------------------------------------------------------------------

struct IWMStreamConfig : public IUnknown {
    STDMETHOD(GetStreamType)(GUID *pguidStreamType) PURE;
    STDMETHOD(GetStreamNumber)(WORD *pwStreamNum) PURE;
    // 1..63; E_INVALIDARG otherwise.
    STDMETHOD(SetStreamNumber)(WORD wStreamNum) PURE;
    STDMETHOD(GetStreamName)(WCHAR *pwszStreamName, WORD *pcchStreamName) PURE;
    STDMETHOD(SetStreamName)(LPCWSTR pwszStreamName) PURE;
    STDMETHOD(GetConnectionName)(WCHAR *pwszInputName, WORD *pcchInputName) PURE;
    STDMETHOD(SetConnectionName)(LPCWSTR pwszInputName) PURE;
    STDMETHOD(GetBitrate)(DWORD *pdwBitrate) PURE;
    STDMETHOD(SetBitrate)(DWORD pdwBitrate) PURE;
    STDMETHOD(GetBufferWindow)(DWORD *pmsBufferWindow) PURE;
    STDMETHOD(SetBufferWindow)(DWORD msBufferWindow) PURE;
};
ORAFON_DECLARE_IID(IWMStreamConfig, IID_IWMStreamConfig);

struct IWMProfile : public IUnknown {
    STDMETHOD(GetVersion)(WMT_VERSION *pdwVersion) PURE;
    STDMETHOD(GetName)(WCHAR *pwszName, DWORD *pcchName) PURE;
    STDMETHOD(SetName)(const WCHAR *pwszName) PURE;
    STDMETHOD(GetDescription)(WCHAR *pwszDescription, DWORD *pcchDescription) PURE;
    STDMETHOD(SetDescription)(const WCHAR *pwszDescription) PURE;
    STDMETHOD(GetStreamCount)(DWORD *pcStreams) PURE;
    STDMETHOD(GetStream)(DWORD dwStreamIndex, IWMStreamConfig **ppConfig) PURE;
    STDMETHOD(GetStreamByNumber)(WORD wStreamNum, IWMStreamConfig **ppConfig) PURE;
    STDMETHOD(RemoveStream)(IWMStreamConfig *pConfig) PURE;
    STDMETHOD(RemoveStreamByNumber)(WORD wStreamNum) PURE;
    // Adds a copy of the configuration; its stream number must be set and unused.
    STDMETHOD(AddStream)(IWMStreamConfig *pConfig) PURE;
    STDMETHOD(ReconfigStream)(IWMStreamConfig *pConfig) PURE;
    STDMETHOD(CreateNewStream)(REFGUID guidStreamType, IWMStreamConfig **ppConfig) PURE;
    STDMETHOD(GetMutualExclusionCount)(DWORD *pcME) PURE;
    STDMETHOD(GetMutualExclusion)(DWORD dwMEIndex, IWMMutualExclusion **ppME) PURE;
    STDMETHOD(RemoveMutualExclusion)(IWMMutualExclusion *pME) PURE;
    STDMETHOD(AddMutualExclusion)(IWMMutualExclusion *pME) PURE;
    STDMETHOD(CreateNewMutualExclusion)(IWMMutualExclusion **ppME) PURE;
};
ORAFON_DECLARE_IID(IWMProfile, IID_IWMProfile);

struct IWMProfileManager : public IUnknown {
    STDMETHOD(CreateEmptyProfile)(WMT_VERSION dwVersion, IWMProfile **ppProfile) PURE;
    STDMETHOD(LoadProfileByID)(REFGUID guidProfile, IWMProfile **ppProfile) PURE;
    STDMETHOD(LoadProfileByData)(const WCHAR *pwszProfile, IWMProfile **ppProfile) PURE;
    STDMETHOD(SaveProfile)(IWMProfile *pIWMProfile, WCHAR *pwszProfile, DWORD *pdwLength) PURE;
    STDMETHOD(GetSystemProfileCount)(DWORD *pcProfiles) PURE;
    STDMETHOD(LoadSystemProfile)(DWORD dwProfileIndex, IWMProfile **ppProfile) PURE;
};
ORAFON_DECLARE_IID(IWMProfileManager, IID_IWMProfileManager);

// The codecs of a media type and the stream configurations (formats) each offers.
struct IWMCodecInfo : public IUnknown {
    STDMETHOD(GetCodecInfoCount)(REFGUID guidType, DWORD *pcCodecs) PURE;
    STDMETHOD(GetCodecFormatCount)(REFGUID guidType, DWORD dwCodecIndex, DWORD *pcFormat) PURE;
    // A new configuration, not yet numbered; E_INVALIDARG for an index beyond the lists.
    STDMETHOD(GetCodecFormat)
    (REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex, IWMStreamConfig **ppIStreamConfig) PURE;
};
ORAFON_DECLARE_IID(IWMCodecInfo, IID_IWMCodecInfo);

struct IWMCodecInfo2 : public IWMCodecInfo {
    STDMETHOD(GetCodecName)(REFGUID guidType, DWORD dwCodecIndex, WCHAR *wszName, DWORD *pcchName) PURE;
    STDMETHOD(GetCodecFormatDesc)
    (REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex, IWMStreamConfig **ppIStreamConfig, WCHAR *wszDesc,
     DWORD *pcchDesc) PURE;
};
ORAFON_DECLARE_IID(IWMCodecInfo2, IID_IWMCodecInfo2);

struct IWMCodecInfo3 : public IWMCodecInfo2 {
    STDMETHOD(GetCodecFormatProp)
    (REFGUID guidType, DWORD dwCodecIndex, DWORD dwFormatIndex, const WCHAR *pszName, WMT_ATTR_DATATYPE *pType,
     BYTE *pValue, DWORD *pdwSize) PURE;
    STDMETHOD(GetCodecProp)
    (REFGUID guidType, DWORD dwCodecIndex, const WCHAR *pszName, WMT_ATTR_DATATYPE *pType, BYTE *pValue,
     DWORD *pdwSize) PURE;
    STDMETHOD(SetCodecEnumerationSetting)
    (REFGUID guidType, DWORD dwCodecIndex, const WCHAR *pszName, WMT_ATTR_DATATYPE Type, const BYTE *pValue,
     DWORD dwSize) PURE;
    STDMETHOD(GetCodecEnumerationSetting)
    (REFGUID guidType, DWORD dwCodecIndex, const WCHAR *pszName, WMT_ATTR_DATATYPE *pType, BYTE *pValue,
     DWORD *pdwSize) PURE;
};
ORAFON_DECLARE_IID(IWMCodecInfo3, IID_IWMCodecInfo3);

// ---- Writing --------------------------------------------------------------------------

// Call order: SetProfile and SetOutputFilename (any order), input properties,
// BeginWriting, AllocateSample / WriteSample for each sample, EndWriting.
struct IWMWriter : public IUnknown {
    STDMETHOD(SetProfileByID)(REFGUID guidProfile) PURE;
    STDMETHOD(SetProfile)(IWMProfile *pProfile) PURE;
    STDMETHOD(SetOutputFilename)(const WCHAR *pwszFilename) PURE;
    STDMETHOD(GetInputCount)(DWORD *pcInputs) PURE;
    STDMETHOD(GetInputProps)(DWORD dwInputNum, IWMInputMediaProps **ppInput) PURE;
    STDMETHOD(SetInputProps)(DWORD dwInputNum, IWMInputMediaProps *pInput) PURE;
    STDMETHOD(GetInputFormatCount)(DWORD dwInputNumber, DWORD *pcFormats) PURE;
    STDMETHOD(GetInputFormat)(DWORD dwInputNumber, DWORD dwFormatNumber, IWMInputMediaProps **pProps) PURE;
    STDMETHOD(BeginWriting)() PURE;
    STDMETHOD(EndWriting)() PURE;
    STDMETHOD(AllocateSample)(DWORD dwSampleSize, INSSBuffer **ppSample) PURE;
    // cnsSampleTime: the presentation time of the sample's first byte, 100-ns units.
    STDMETHOD(WriteSample)(DWORD dwInputNum, QWORD cnsSampleTime, DWORD dwFlags, INSSBuffer *pSample) PURE;
    STDMETHOD(Flush)() PURE;
};
ORAFON_DECLARE_IID(IWMWriter, IID_IWMWriter);

struct IWMWriterAdvanced : public IUnknown {
    STDMETHOD(GetSinkCount)(DWORD *pcSinks) PURE;
    STDMETHOD(GetSink)(DWORD dwSinkNum, IWMWriterSink **ppSink) PURE;
    STDMETHOD(AddSink)(IWMWriterSink *pSink) PURE;
    STDMETHOD(RemoveSink)(IWMWriterSink *pSink) PURE;
    STDMETHOD(WriteStreamSample)
    (WORD wStreamNum, QWORD cnsSampleTime, DWORD msSampleSendTime, QWORD cnsSampleDuration, DWORD dwFlags,
     INSSBuffer *pSample) PURE;
    STDMETHOD(SetLiveSource)(BOOL fIsLiveSource) PURE;
    STDMETHOD(IsRealTime)(BOOL *pfRealTime) PURE;
    STDMETHOD(GetWriterTime)(QWORD *pCurrentTime) PURE;
    STDMETHOD(GetStatistics)(WORD wStreamNum, WM_WRITER_STATISTICS *pStats) PURE;
    STDMETHOD(SetSyncTolerance)(DWORD msWindow) PURE;
    STDMETHOD(GetSyncTolerance)(DWORD *pmsWindow) PURE;
};
ORAFON_DECLARE_IID(IWMWriterAdvanced, IID_IWMWriterAdvanced);

// ---- Metadata -------------------------------------------------------------------------

// Open a file, change attributes through IWMHeaderInfo, Flush to save them
// (which closes the file) or Close to drop them.
struct IWMMetadataEditor : public IUnknown {
    STDMETHOD(Open)(const WCHAR *pwszFilename) PURE;
    STDMETHOD(Close)() PURE;
    STDMETHOD(Flush)() PURE;
};
ORAFON_DECLARE_IID(IWMMetadataEditor, IID_IWMMetadataEditor);

struct IWMHeaderInfo : public IUnknown {
    STDMETHOD(GetAttributeCount)(WORD wStreamNum, WORD *pcAttributes) PURE;
    STDMETHOD(GetAttributeByIndex)
    (WORD wIndex, WORD *pwStreamNum, WCHAR *pwszName, WORD *pcchNameLen, WMT_ATTR_DATATYPE *pType, BYTE *pValue,
     WORD *pcbLength) PURE;
    STDMETHOD(GetAttributeByName)
    (WORD *pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE *pType, BYTE *pValue, WORD *pcbLength) PURE;
    STDMETHOD(SetAttribute)
    (WORD wStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE Type, const BYTE *pValue, WORD cbLength) PURE;
    STDMETHOD(GetMarkerCount)(WORD *pcMarkers) PURE;
    STDMETHOD(GetMarker)(WORD wIndex, WCHAR *pwszMarkerName, WORD *pcchMarkerNameLen, QWORD *pcnsMarkerTime) PURE;
    STDMETHOD(AddMarker)(LPCWSTR pwszMarkerName, QWORD cnsMarkerTime) PURE;
    STDMETHOD(RemoveMarker)(WORD wIndex) PURE;
    STDMETHOD(GetScriptCount)(WORD *pcScripts) PURE;
    STDMETHOD(GetScript)
    (WORD wIndex, WCHAR *pwszType, WORD *pcchTypeLen, WCHAR *pwszCommand, WORD *pcchCommandLen,
     QWORD *pcnsScriptTime) PURE;
    STDMETHOD(AddScript)(LPCWSTR pwszType, LPCWSTR pwszCommand, QWORD cnsScriptTime) PURE;
    STDMETHOD(RemoveScript)(WORD wIndex) PURE;
};
ORAFON_DECLARE_IID(IWMHeaderInfo, IID_IWMHeaderInfo);

// ---- Factories (exported by the runtime library) ----------------------------------------

typedef HRESULT(STDAPICALLTYPE *PFNWMCREATEWRITER)(IUnknown *pUnkCert, IWMWriter **ppWriter);
typedef HRESULT(STDAPICALLTYPE *PFNWMCREATEPROFILEMANAGER)(IWMProfileManager **ppProfileManager);
typedef HRESULT(STDAPICALLTYPE *PFNWMCREATEEDITOR)(IWMMetadataEditor **ppEditor);
typedef HRESULT(STDAPICALLTYPE *PFNWMCREATESYNCREADER)(IUnknown *pUnkCert, DWORD dwRights,
                                                       IWMSyncReader **ppSyncReader);

#define TEXT_WMCREATEWRITER "WMCreateWriter"
#define TEXT_WMCREATEPROFILEMANAGER "WMCreateProfileManager"
#define TEXT_WMCREATEEDITOR "WMCreateEditor"
#define TEXT_WMCREATESYNCREADER "WMCreateSyncReader"

STDAPI WMCreateWriter(IUnknown *pUnkCert, IWMWriter **ppWriter);
STDAPI WMCreateProfileManager(IWMProfileManager **ppProfileManager);
STDAPI WMCreateEditor(IWMMetadataEditor **ppEditor);
STDAPI WMCreateSyncReader(IUnknown *pUnkCert, DWORD dwRights, IWMSyncReader **ppSyncReader);

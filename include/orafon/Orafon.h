// The Orafon automation interfaces for C++ clients: the dual interface
// ITextToSpeech with its function-table order, the event dispinterface
// _ITextToSpeechEvents, and (through OrafonIds.h) the library's identifiers and
// enumerations.
#pragma once

#include <orafon/OrafonIds.h>
#include <orafon/win/windows.h>

// Dual interface of CTextToSpeech. The slot order after the seven IDispatch
// entries is fixed: clients built against it call through the table, so
// members are never reordered or inserted. Getters take an [out, retval]
// pointer; a property's get precedes its put.
struct ITextToSpeech : public IDispatch {
    STDMETHOD(get_VoiceCount)(LONG *pVal) PURE;                             // DISPID 1
    STDMETHOD(get_VoiceIdx)(LONG *pVal) PURE;                               // DISPID 2
    STDMETHOD(put_VoiceIdx)(LONG newVal) PURE;                              // DISPID 2
    STDMETHOD(get_VoiceName)(BSTR *pVal) PURE;                              // DISPID 3
    STDMETHOD(get_VoiceGender)(BSTR *pVal) PURE;                            // DISPID 4
    STDMETHOD(get_VoiceLanguage)(BSTR *pVal) PURE;                          // DISPID 5
    STDMETHOD(Speak)(BSTR strText, TTSFLAG nFlag) PURE;                     // DISPID 6
    STDMETHOD(SpeakToFile)(BSTR strText, BSTR strFile, TTSFLAG nFlag) PURE; // DISPID 7
    STDMETHOD(StopTTS)() PURE;                                              // DISPID 8
    STDMETHOD(Pause)() PURE;                                                // DISPID 9
    STDMETHOD(Resume)() PURE;                                               // DISPID 10
    STDMETHOD(get_Rate)(LONG *pVal) PURE;                                   // DISPID 11
    STDMETHOD(put_Rate)(LONG newVal) PURE;                                  // DISPID 11
    STDMETHOD(get_Volume)(LONG *pVal) PURE;                                 // DISPID 12
    STDMETHOD(put_Volume)(LONG newVal) PURE;                                // DISPID 12
    STDMETHOD(get_Pitch)(LONG *pVal) PURE;                                  // DISPID 13
    STDMETHOD(put_Pitch)(LONG newVal) PURE;                                 // DISPID 13
    STDMETHOD(get_WaveFormatCount)(LONG *pVal) PURE;                        // DISPID 14
    STDMETHOD(get_WaveFormatIdx)(LONG *pVal) PURE;                          // DISPID 15
    STDMETHOD(put_WaveFormatIdx)(LONG newVal) PURE;                         // DISPID 15
    STDMETHOD(get_WaveFormatName)(BSTR *pVal) PURE;                         // DISPID 16
    STDMETHOD(get_FileFormat)(FILEFORMAT *pVal) PURE;                       // DISPID 17
    STDMETHOD(put_FileFormat)(FILEFORMAT newVal) PURE;                      // DISPID 17
    STDMETHOD(GetVoiceName)(LONG nIndex, BSTR *strName) PURE;               // DISPID 18
    STDMETHOD(Mp3ToSWF)(BSTR strMp3, BSTR strSWF, VARIANT_BOOL bLoop) PURE; // DISPID 20
    STDMETHOD(get_SWFFrameRate)(LONG *pVal) PURE;                           // DISPID 21
    STDMETHOD(put_SWFFrameRate)(LONG newVal) PURE;                          // DISPID 21
    STDMETHOD(get_SAPIVersion)(LONG *pVal) PURE;                            // DISPID 22
};
typedef ITextToSpeech *LPTEXTTOSPEECH;
ORAFON_DECLARE_IID(ITextToSpeech, IID_ITextToSpeech);

// The event dispinterface: a sink implements IDispatch and answers
// QueryInterface for DIID__ITextToSpeechEvents. Events arrive through Invoke
// with DISPATCH_METHOD and 32-bit integer arguments in reverse order.
struct _ITextToSpeechEvents : public IDispatch {};
ORAFON_DECLARE_IID(_ITextToSpeechEvents, DIID__ITextToSpeechEvents);

// The coclass's identifier under the name the type library's coclass gives it.
inline constexpr const CLSID &CLSID_CTextToSpeech = CLSID_TextToSpeech;

// DISPIDs of the events.
#define DISPID_TTS_ONTTSSTART 1
#define DISPID_TTS_ONTTSEND 2
#define DISPID_TTS_ONTTSWORD 3
#define DISPID_TTS_ONTTSSENTENCE 4
#define DISPID_TTS_ONTTSPROGRESS 5

#include "OrafonTypeLib.h"

#include <orafon/OrafonIds.h>

namespace orafon::module {

using typelib::In;
using typelib::RetVal;
using typelib::Ty;
using typelib::TypeBuilder;
using typelib::TypeLibBuilder;

namespace {

void DescribeEnums(TypeLibBuilder &b)
{
    b.Enum(u"TTSFLAG")
        .Doc(u"Speak Flag")
        .Constant(u"TF_DEFAULT", TF_DEFAULT)
        .Constant(u"TF_ASYNC", TF_ASYNC)
        .Constant(u"TF_WITHTAG", TF_WITHTAG);
    b.Enum(u"FILEFORMAT")
        .Doc(u"Output File Format")
        .Constant(u"FF_WAVE", FF_WAVE)
        .Constant(u"FF_MP3", FF_MP3)
        .Constant(u"FF_WMA", FF_WMA)
        .Constant(u"FF_OGG", FF_OGG)
        .Constant(u"FF_VOX", FF_VOX)
        .Constant(u"FF_AU", FF_AU)
        .Constant(u"FF_AIFF", FF_AIFF)
        .Constant(u"FF_MP4", FF_MP4)
        .Constant(u"FF_FLAC", FF_FLAC);
}

void DescribeEvents(TypeLibBuilder &b)
{
    const Ty lng = Ty::Long();
    b.DispInterface(u"_ITextToSpeechEvents", DIID__ITextToSpeechEvents)
        .Doc(u"_ITextToSpeechEvents Interface")
        .Method(1, u"OnTTSStart", {}, u"TTS Start Event")
        .Method(2, u"OnTTSEnd", {}, u"TTS End Event")
        .Method(3, u"OnTTSWord", {In(u"nStart", lng), In(u"nLength", lng)}, u"TTS Word Event")
        .Method(4, u"OnTTSSentence", {In(u"nStart", lng), In(u"nLength", lng)},
                u"TTS Sentence Event, Only Support by SAPI5 voices")
        .Method(5, u"OnTTSProgress", {In(u"nPercent", lng)}, u"TTS Progress");
}

void DescribeClass(TypeLibBuilder &b)
{
    b.CoClass(u"CTextToSpeech", CLSID_TextToSpeech)
        .Version(1, 0)
        .Implements(u"ITextToSpeech", IMPLTYPEFLAG_FDEFAULT)
        .Implements(u"_ITextToSpeechEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
}

// Function-table order: each row of the member table, a property's get
// before its put.
void DescribeInterface(TypeLibBuilder &b)
{
    const Ty lng = Ty::Long();
    const Ty str = Ty::Bstr();
    const Ty flag = Ty::Named(u"TTSFLAG");
    TypeBuilder &t = b.DualInterface(u"ITextToSpeech", IID_ITextToSpeech).Doc(u"ITextToSpeech Interface");
    t.PropertyGet(1, u"VoiceCount", lng, u"property VoiceCount")
        .Property(2, u"VoiceIdx", lng, u"property VoiceIdx")
        .PropertyGet(3, u"VoiceName", str, u"property VoiceName")
        .PropertyGet(4, u"VoiceGender", str, u"property VoiceGender")
        .PropertyGet(5, u"VoiceLanguage", str, u"property VoiceLanguage")
        .Method(6, u"Speak", {In(u"strText", str), In(u"nFlag", flag)}, u"Speak Text")
        .Method(7, u"SpeakToFile", {In(u"strText", str), In(u"strFile", str), In(u"nFlag", flag)}, u"Speak To File")
        .Method(8, u"StopTTS", {}, u"StopTTS")
        .Method(9, u"Pause", {}, u"Pause")
        .Method(10, u"Resume", {}, u"Resume")
        .Property(11, u"Rate", lng, u"property Rate")
        .Property(12, u"Volume", lng, u"property Volume")
        .Property(13, u"Pitch", lng, u"property Pitch")
        .PropertyGet(14, u"WaveFormatCount", lng, u"property WaveFormatCount")
        .Property(15, u"WaveFormatIdx", lng, u"property WaveFormatIdx")
        .PropertyGet(16, u"WaveFormatName", str, u"property WaveFormatName")
        .Property(17, u"FileFormat", Ty::Named(u"FILEFORMAT"), u"property FileFormat")
        .Method(18, u"GetVoiceName", {In(u"nIndex", lng), RetVal(u"strName", str.Ptr())}, u"GetVoiceName")
        .Method(20, u"Mp3ToSWF", {In(u"strMp3", str), In(u"strSWF", str), In(u"bLoop", Ty::Bool())},
                u"Convert Mp3 to SWF")
        .Property(21, u"SWFFrameRate", lng, u"property SWFFrameRate")
        .PropertyGet(22, u"SAPIVersion", lng, u"property SAPIVersion");
}

} // namespace

void DescribeOrafonTypeLib(TypeLibBuilder &b)
{
    b.Doc(u"Orafon 1.0 Type Library").Lcid(0x0409).SysKind(SYS_WIN32);
    DescribeEnums(b);
    DescribeEvents(b);
    DescribeClass(b);
    DescribeInterface(b);
}

} // namespace orafon::module

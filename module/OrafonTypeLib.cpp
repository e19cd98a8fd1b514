#include "OrafonTypeLib.h"

#include <component/TextToSpeechMembers.h>
#include <orafon/OrafonIds.h>

#include <utility>
#include <vector>

namespace orafon::module {

using typelib::In;
using typelib::ParamDef;
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

Ty TypeOf(const members::ValueType &type)
{
    return type.enumName ? Ty::Named(type.enumName) : Ty::Base(type.vt);
}

void DescribeMethod(TypeBuilder &t, const members::Member &m)
{
    std::vector<ParamDef> params;
    const members::Accessor &call = m.get;
    for (UINT i = 0; i < call.paramCount; ++i)
        params.push_back(In(m.paramNames[i], TypeOf(call.paramTypes[i])));
    if (call.result.vt != VT_EMPTY)
        params.push_back(RetVal(m.paramNames[call.paramCount], TypeOf(call.result).Ptr()));
    t.Method(m.id, m.name, std::move(params), m.help);
}

void DescribeMember(TypeBuilder &t, const members::Member &m)
{
    switch (m.kind) {
    case members::MemberKind::Method:
        DescribeMethod(t, m);
        break;
    case members::MemberKind::PropertyGet:
        t.PropertyGet(m.id, m.name, TypeOf(m.get.result), m.help);
        break;
    case members::MemberKind::Property:
        t.Property(m.id, m.name, TypeOf(m.get.result), m.help);
        break;
    }
}

// Function-table order: each row of the member table, a property's get
// before its put.
void DescribeInterface(TypeLibBuilder &b)
{
    TypeBuilder &t = b.DualInterface(u"ITextToSpeech", IID_ITextToSpeech).Doc(u"ITextToSpeech Interface");
    for (const members::Member &m : members::kTextToSpeechMembers)
        DescribeMember(t, m);
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

// wmvcore.so's exported names: the runtime's factories and its test controls.
#include "Codecs.h"
#include "Editor.h"
#include "Profile.h"
#include "WmScript.h"
#include "Writer.h"

#include <atomic>
#include <new>

namespace orafon::wmvcore {

namespace {
std::atomic<LONG> g_live{0};
std::atomic<LONG> g_made{0};
} // namespace

void ObjectMade()
{
    ++g_live;
    ++g_made;
}

void ObjectGone()
{
    --g_live;
}

namespace {

template <typename T, typename I> HRESULT Make(I **pp)
{
    if (!pp)
        return E_POINTER;
    *pp = nullptr;
    CComPtr<T> object;
    const HRESULT hr = T::Create(object);
    return FAILED(hr) ? hr : HandOut(object, pp);
}

MediaType ScriptedType(REFGUID subtype, const OrafonWmScriptedFormat &f)
{
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = subtype.Data1 <= 0xFFFF ? static_cast<WORD>(subtype.Data1) : 0;
    wfx.nChannels = f.nChannels;
    wfx.nSamplesPerSec = f.nSamplesPerSec;
    wfx.nAvgBytesPerSec = f.nAvgBytesPerSec;
    wfx.nBlockAlign = static_cast<WORD>(f.nChannels * f.wBitsPerSample / 8);
    wfx.wBitsPerSample = f.wBitsPerSample;
    MediaType full = MediaType::Audio(subtype, wfx, nullptr, 0);
    if (f.cbFormat == 0 || f.cbFormat >= sizeof(WAVEFORMATEX))
        return full;
    WM_MEDIA_TYPE cut = full.Header();
    cut.cbFormat = f.cbFormat;
    cut.pbFormat = const_cast<BYTE *>(full.Format().data());
    MediaType shortType;
    shortType.Assign(&cut);
    return shortType;
}

} // namespace

} // namespace orafon::wmvcore

using namespace orafon::wmvcore;

extern "C" {

ORAFON_EXPORT HRESULT STDAPICALLTYPE WMCreateWriter(IUnknown *, IWMWriter **ppWriter)
{
    return Make<Writer>(ppWriter);
}

ORAFON_EXPORT HRESULT STDAPICALLTYPE WMCreateProfileManager(IWMProfileManager **ppProfileManager)
{
    return Make<ProfileManager>(ppProfileManager);
}

#ifndef ORAFON_WMVCORE_WITHOUT_EDITOR
ORAFON_EXPORT HRESULT STDAPICALLTYPE WMCreateEditor(IWMMetadataEditor **ppEditor)
{
    return Make<Editor>(ppEditor);
}
#endif

// Reading is not offered: files are only written here.
ORAFON_EXPORT HRESULT STDAPICALLTYPE WMCreateSyncReader(IUnknown *, DWORD, IWMSyncReader **ppSyncReader)
{
    if (ppSyncReader)
        *ppSyncReader = nullptr;
    return E_NOTIMPL;
}

ORAFON_EXPORT void OrafonWm_SetScriptedAudioCodecs(const OrafonWmScriptedCodec *codecs, DWORD count)
{
    if (!codecs || count == 0) {
        SetAudioCodecs(nullptr);
        return;
    }
    try {
        auto list = std::make_shared<CodecList>();
        for (DWORD i = 0; i < count; ++i) {
            Codec codec;
            codec.name = u"Scripted codec";
            codec.subtype = codecs[i].subtype;
            for (DWORD k = 0; k < codecs[i].formatCount; ++k) {
                const OrafonWmScriptedFormat &f = codecs[i].formats[k];
                codec.formats.push_back({ScriptedType(codec.subtype, f), f.nAvgBytesPerSec * 8});
            }
            list->push_back(std::move(codec));
        }
        SetAudioCodecs(std::move(list));
    } catch (const std::bad_alloc &) {
        SetAudioCodecs(nullptr);
    }
}

ORAFON_EXPORT LONG OrafonWm_LiveObjects(void)
{
    return g_live.load();
}

ORAFON_EXPORT LONG OrafonWm_ObjectsMade(void)
{
    return g_made.load();
}

ORAFON_EXPORT void OrafonWm_StartSampleLog(void)
{
    StartSampleLog();
}

ORAFON_EXPORT DWORD OrafonWm_SampleLogCount(void)
{
    return SampleLogCount();
}

ORAFON_EXPORT BOOL OrafonWm_SampleLogEntry(DWORD index, DWORD *pcb, QWORD *pcnsTime)
{
    return SampleLogEntry(index, pcb, pcnsTime) ? TRUE : FALSE;
}

ORAFON_EXPORT void OrafonWm_FailAllocations(BOOL fail)
{
    FailAllocations(fail != FALSE);
}

} // extern "C"

// Keeps the exported signatures in step with the declarations the component resolves them by.
static_assert(std::is_same_v<decltype(&WMCreateWriter), PFNWMCREATEWRITER>);
static_assert(std::is_same_v<decltype(&WMCreateProfileManager), PFNWMCREATEPROFILEMANAGER>);
static_assert(std::is_same_v<decltype(&WMCreateSyncReader), PFNWMCREATESYNCREADER>);
static_assert(std::is_same_v<decltype(&OrafonWm_SetScriptedAudioCodecs), PFNORAFONWMSETSCRIPTEDCODECS>);
static_assert(std::is_same_v<decltype(&OrafonWm_SampleLogEntry), PFNORAFONWMSAMPLELOGENTRY>);

// The Windows Media runtime's hooks for tests, and the controls that drive
// them (WmScript.h), exported by the test build of the runtime next to its
// factories.
#include "WmScript.h"

#include <wmvcore/Codecs.h>
#include <wmvcore/Hooks.h>
#include <wmvcore/MediaType.h>

#include <orafon/CatchAtEdge.h>

#include <atomic>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace orafon::wmvcore {

namespace {

std::atomic<LONG> g_live{0};
std::atomic<LONG> g_made{0};
std::atomic<bool> g_failAllocations{false};

std::mutex g_codecLock;
std::shared_ptr<const CodecList> g_codecs;

struct SampleLog {
    std::mutex lock;
    bool on = false;
    std::vector<std::pair<DWORD, QWORD>> entries;
};

SampleLog &Log()
{
    static SampleLog log;
    return log;
}

// A format of a scripted codec; a cbFormat shorter than a WAVEFORMATEX cuts
// the format block short.
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
    if (FAILED(shortType.Assign(&cut)))
        throw std::bad_alloc();
    return shortType;
}

std::shared_ptr<const CodecList> ScriptedCodecs(const OrafonWmScriptedCodec *codecs, DWORD count)
{
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
    return list;
}

void ReplaceAudioCodecs(std::shared_ptr<const CodecList> codecs)
{
    std::lock_guard lock(g_codecLock);
    g_codecs = std::move(codecs);
}

} // namespace

void ObjectMade() noexcept
{
    ++g_live;
    ++g_made;
}

void ObjectGone() noexcept
{
    --g_live;
}

std::shared_ptr<const CodecList> ReplacedAudioCodecs() noexcept
{
    std::lock_guard lock(g_codecLock);
    return g_codecs;
}

void SampleGiven(DWORD cb, QWORD cnsTime) noexcept
{
    SampleLog &log = Log();
    std::lock_guard guard(log.lock);
    if (!log.on)
        return;
    // A log that lost an entry shows as a count the test does not expect.
    static_cast<void>(orafon::CatchAtEdge([&] { log.entries.emplace_back(cb, cnsTime); }));
}

bool SampleAllocationFails() noexcept
{
    return g_failAllocations;
}

} // namespace orafon::wmvcore

using namespace orafon::wmvcore;

extern "C" {

ORAFON_EXPORT void OrafonWm_SetScriptedAudioCodecs(const OrafonWmScriptedCodec *codecs, DWORD count)
{
    if (!codecs || count == 0) {
        ReplaceAudioCodecs(nullptr);
        return;
    }
    if (FAILED(orafon::CatchAtEdge([&] { ReplaceAudioCodecs(ScriptedCodecs(codecs, count)); })))
        ReplaceAudioCodecs(nullptr);
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
    SampleLog &log = Log();
    std::lock_guard guard(log.lock);
    log.on = true;
    log.entries.clear();
}

ORAFON_EXPORT DWORD OrafonWm_SampleLogCount(void)
{
    SampleLog &log = Log();
    std::lock_guard guard(log.lock);
    return static_cast<DWORD>(log.entries.size());
}

ORAFON_EXPORT BOOL OrafonWm_SampleLogEntry(DWORD index, DWORD *pcb, QWORD *pcnsTime)
{
    SampleLog &log = Log();
    std::lock_guard guard(log.lock);
    if (index >= log.entries.size() || !pcb || !pcnsTime)
        return FALSE;
    *pcb = log.entries[index].first;
    *pcnsTime = log.entries[index].second;
    return TRUE;
}

ORAFON_EXPORT void OrafonWm_FailAllocations(BOOL fail)
{
    g_failAllocations = fail != FALSE;
}

} // extern "C"

// Keeps the exported signatures in step with the declarations tests resolve them by.
static_assert(std::is_same_v<decltype(&OrafonWm_SetScriptedAudioCodecs), PFNORAFONWMSETSCRIPTEDCODECS>);
static_assert(std::is_same_v<decltype(&OrafonWm_LiveObjects), PFNORAFONWMOBJECTCOUNT>);
static_assert(std::is_same_v<decltype(&OrafonWm_StartSampleLog), PFNORAFONWMSTARTSAMPLELOG>);
static_assert(std::is_same_v<decltype(&OrafonWm_SampleLogCount), PFNORAFONWMSAMPLELOGCOUNT>);
static_assert(std::is_same_v<decltype(&OrafonWm_SampleLogEntry), PFNORAFONWMSAMPLELOGENTRY>);
static_assert(std::is_same_v<decltype(&OrafonWm_FailAllocations), PFNORAFONWMFAILALLOCATIONS>);

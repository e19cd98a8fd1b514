// TTSEnumerator: the list of engine modes and the way to select one.
#include "ClassObjects.h"
#include "ComSupport.h"
#include "Engine.h"
#include "EngineMode.h"
#include <orafon/CatchAtEdge.h>

#include <algorithm>

namespace orafon::sapi4 {
namespace {

class TtsEnumerator final : public orafon::ComObject<TtsEnumerator, ITTSEnumW>, private ModuleObject {
public:
    TtsEnumerator() : modes_(AllModes()) {}
    // A clone: the same modes, at the same place.
    TtsEnumerator(std::vector<std::shared_ptr<EngineMode>> modes, size_t next) : modes_(std::move(modes)), next_(next)
    {
    }

    STDMETHODIMP Next(ULONG count, PTTSMODEINFOW infos, ULONG *fetched) override
    {
        if (!infos || (!fetched && count != 1))
            return E_INVALIDARG;
        ULONG n = 0;
        for (; n < count && next_ < modes_.size(); ++n, ++next_)
            infos[n] = modes_[next_]->Info();
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }

    STDMETHODIMP Skip(ULONG count) override
    {
        const size_t left = modes_.size() - next_;
        next_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }

    STDMETHODIMP Reset() override
    {
        next_ = 0;
        return S_OK;
    }

    STDMETHODIMP Clone(ITTSEnumW **clone) override
    {
        return orafon::CatchAtEdge([&]() -> HRESULT {
            if (!clone)
                return E_INVALIDARG;
            *clone = nullptr;
            CComPtr<TtsEnumerator> copy;
            if (HRESULT hr = Create(copy, modes_, next_); FAILED(hr))
                return hr;
            *clone = copy.Detach();
            return S_OK;
        });
    }

    STDMETHODIMP Select(GUID modeId, PITTSCENTRALW *central, LPUNKNOWN audio) override
    {
        return orafon::CatchAtEdge([&]() -> HRESULT {
            if (!central)
                return E_INVALIDARG;
            *central = nullptr;
            // Each engine gets a mode object of its own; a scripted mode added
            // after this list was made can be selected too.
            std::shared_ptr<EngineMode> mode = FindMode(modeId);
            if (!mode) {
                auto listed = std::find_if(modes_.begin(), modes_.end(),
                                           [&](const auto &m) { return m->Info().gModeID == modeId; });
                if (listed == modes_.end())
                    return TTSERR_INVALIDMODE;
                mode = *listed;
            }
            return CreateEngine(mode, audio, central);
        });
    }

private:
    std::vector<std::shared_ptr<EngineMode>> modes_;
    size_t next_ = 0;
};

} // namespace

[[nodiscard]] HRESULT CreateTtsEnumerator(REFIID riid, void **ppv)
{
    return TtsEnumerator::CreateInterface(riid, ppv);
}

} // namespace orafon::sapi4

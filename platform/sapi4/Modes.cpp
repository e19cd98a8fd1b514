// The mode catalogue: the flite voices and the modes a process adds.
#include "EngineMode.h"

#include <algorithm>
#include <mutex>

namespace orafon::sapi4 {

namespace {

std::mutex gProvidersMutex;
std::vector<ModeProvider> gProviders;

} // namespace

void AddModeProvider(ModeProvider provider)
{
    if (!provider)
        return;
    std::lock_guard lock(gProvidersMutex);
    if (std::find(gProviders.begin(), gProviders.end(), provider) == gProviders.end())
        gProviders.push_back(provider);
}

std::vector<std::shared_ptr<EngineMode>> AllModes()
{
    std::vector<std::shared_ptr<EngineMode>> modes = FliteModes();
    std::vector<ModeProvider> providers;
    {
        std::lock_guard lock(gProvidersMutex);
        providers = gProviders;
    }
    for (ModeProvider provider : providers)
        for (auto &mode : provider())
            modes.push_back(std::move(mode));
    return modes;
}

std::shared_ptr<EngineMode> FindMode(const GUID &modeId)
{
    for (auto &mode : AllModes())
        if (mode->Info().gModeID == modeId)
            return mode;
    return nullptr;
}

} // namespace orafon::sapi4

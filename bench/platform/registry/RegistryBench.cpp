// What the speech platform does at every object creation: walk ~140 voice
// tokens, reading a few values of each and of its Attributes key.
#include <orafon/Holders.h>
#include <orafon/win/winreg.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

const char *const kVoices = "SOFTWARE\\OrafonBench\\Voices\\Tokens";
constexpr int kTokens = 140;

void SetText(HKEY key, const char *name, const std::string &text)
{
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}

// A scratch registry filled once per process.
void Populate()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    std::string dir = (std::filesystem::temp_directory_path() / "orafon-bench-XXXXXX").string();
    if (!mkdtemp(dir.data()))
        std::abort();
    setenv("ORAFON_REGISTRY", (dir + "/registry.db").c_str(), 1);
    static const std::string scratch = dir;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(scratch, ec);
    });
    for (int i = 0; i < kTokens; ++i) {
        const std::string token = std::string(kVoices) + "\\Voice" + std::to_string(i);
        orafon::CRegKey key;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, token.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Out(), nullptr);
        SetText(key.Get(), nullptr, "Voice " + std::to_string(i));
        SetText(key.Get(), "409", "Voice " + std::to_string(i));
        SetText(key.Get(), "CLSID", "{00000000-0000-0000-0000-000000000000}");
        orafon::CRegKey attributes;
        RegCreateKeyExA(key.Get(), "Attributes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, attributes.Out(), nullptr);
        for (const char *name : {"Gender", "Language", "Name", "Vendor", "Age"})
            SetText(attributes.Get(), name, name);
    }
}

std::string ReadText(HKEY key, const char *name)
{
    char buf[256];
    DWORD size = sizeof(buf);
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size) != ERROR_SUCCESS)
        return {};
    return buf;
}

void BM_EnumerateVoiceTokens(benchmark::State &state)
{
    Populate();
    for (auto _ : state) {
        orafon::CRegKey voices;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVoices, 0, KEY_READ, voices.Out());
        int found = 0;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD cch = sizeof(name);
            if (RegEnumKeyExA(voices.Get(), i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            orafon::CRegKey token;
            RegOpenKeyExA(voices.Get(), name, 0, KEY_READ, token.Out());
            benchmark::DoNotOptimize(ReadText(token.Get(), nullptr));
            benchmark::DoNotOptimize(ReadText(token.Get(), "CLSID"));
            orafon::CRegKey attributes;
            RegOpenKeyExA(token.Get(), "Attributes", 0, KEY_READ, attributes.Out());
            for (const char *value : {"Gender", "Language", "Name", "Vendor"})
                benchmark::DoNotOptimize(ReadText(attributes.Get(), value));
            ++found;
        }
        voices.Reset();
        if (found != kTokens)
            state.SkipWithError("tokens missing");
    }
    state.SetItemsProcessed(state.iterations() * kTokens);
}
BENCHMARK(BM_EnumerateVoiceTokens)->Unit(benchmark::kMillisecond);

void BM_SetValue(benchmark::State &state)
{
    Populate();
    orafon::CRegKey key;
    RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\OrafonBench\\Writes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    key.Out(), nullptr);
    DWORD i = 0;
    for (auto _ : state) {
        ++i;
        RegSetValueExA(key.Get(), "Counter", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&i), sizeof(i));
    }
}
BENCHMARK(BM_SetValue)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

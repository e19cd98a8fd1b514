// What hosts and the component pay for type information: loading the Orafon
// library from the module file (the component's GetTypeInfo loads it on
// every call) or from its bytes, and looking names up.
#include "TypeLibObjects.h"

#include <orafon/OrafonIds.h>

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::u16string Wide(const char *s)
{
    return std::u16string(s, s + std::char_traits<char>::length(s));
}

void LoadFromModuleFile(benchmark::State &state)
{
    const std::u16string path = Wide(ORAFON_MODULE);
    for (auto _ : state) {
        CComPtr<ITypeLib> lib;
        if (FAILED(LoadTypeLib(path.c_str(), &lib)))
            state.SkipWithError("LoadTypeLib failed");
        CComPtr<ITypeInfo> info;
        lib->GetTypeInfoOfGuid(IID_ITextToSpeech, &info);
        benchmark::DoNotOptimize(info.get());
    }
}
BENCHMARK(LoadFromModuleFile);

void LoadFromBytes(benchmark::State &state)
{
    std::ifstream in(ORAFON_TLB, std::ios::binary);
    const std::vector<BYTE> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (auto _ : state) {
        CComPtr<ITypeLib> lib;
        if (FAILED(orafon::typelib::CreateTypeLibFromBytes(bytes, &lib)))
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(lib.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(LoadFromBytes);

void IdsOfNames(benchmark::State &state)
{
    CComPtr<ITypeLib> lib;
    const std::u16string path = Wide(ORAFON_TLB);
    CComPtr<ITypeInfo> info;
    if (FAILED(LoadTypeLib(path.c_str(), &lib)) || FAILED(lib->GetTypeInfoOfGuid(IID_ITextToSpeech, &info))) {
        state.SkipWithError("cannot load the library");
        return;
    }
    std::u16string name = u"sapiversion"; // the last member
    LPOLESTR names[] = {name.data()};
    for (auto _ : state) {
        MEMBERID id = 0;
        info->GetIDsOfNames(names, 1, &id);
        benchmark::DoNotOptimize(id);
    }
}
BENCHMARK(IdsOfNames);

} // namespace

BENCHMARK_MAIN();

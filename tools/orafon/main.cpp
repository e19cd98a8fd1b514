#include "Commands.h"
#include "Options.h"

#include <orafon/CatchAtEdge.h>

#include <cstdio>

using namespace orafon_cli;

namespace {

[[nodiscard]] int Run(int argc, char **argv)
{
    InstallInterruptWatcher();

    Options options;
    UsageError error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "orafon: %s\n%s", error.message.c_str(), HelpText(options.command).c_str());
        return kExitUsage;
    }
    if (options.version) {
        std::printf("orafon 1.0.0\n");
        return kExitOk;
    }
    if (options.help) {
        std::fputs(HelpText(options.command).c_str(), stdout);
        return kExitOk;
    }
    if (options.command.empty()) {
        std::fputs(HelpText("").c_str(), stderr);
        return kExitUsage;
    }
    return RunCommand(options);
}

} // namespace

int main(int argc, char **argv)
{
    // Running out of memory ends a command like any other failure, with a
    // message and the failure status, not with an abort.
    int status = kExitFailure;
    const HRESULT hr = orafon::CatchAtEdge([&] { status = Run(argc, argv); });
    if (FAILED(hr)) {
        std::fprintf(stderr, "orafon: %s\n", hr == E_OUTOFMEMORY ? "out of memory" : "an unexpected failure");
        return kExitFailure;
    }
    return status;
}

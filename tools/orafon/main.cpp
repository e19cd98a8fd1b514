#include "Commands.h"
#include "Options.h"

#include <cstdio>

using namespace orafon_cli;

int main(int argc, char **argv)
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

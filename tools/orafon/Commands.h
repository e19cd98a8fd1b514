// The subcommands of orafon. Each returns the process exit status:
// 0 success, 1 failure, 2 usage error, 130 interrupted.
#pragma once

#include "Options.h"

namespace orafon_cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

[[nodiscard]] int RunCommand(const Options &options);

class DispatchObject;
// Prints the object's members as its type information describes them.
[[nodiscard]] int CommandDescribe(DispatchObject &tts);

// Blocks SIGINT and SIGTERM in every thread and hands them to a watcher, so
// Ctrl-C stops speech through the component instead of killing the process
// with a half-written file. Call first thing in main, before any thread starts.
void InstallInterruptWatcher();

} // namespace orafon_cli

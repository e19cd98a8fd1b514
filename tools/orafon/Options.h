// The command line of orafon.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orafon_cli {

struct Options {
    std::string command;
    std::vector<std::string> positional;
    std::optional<std::string> textFile; // -f FILE ("-" for standard input)
    std::string output;                  // -o OUT
    std::string type;                    // --type T
    std::optional<long> format;          // --format N
    std::optional<std::string> voice;    // --voice N|NAME
    std::optional<long> rate, volume, pitch, fps;
    bool tagged = false;
    bool words = false;
    bool eventsJson = false;
    bool loop = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    // The options given, by their long name ("--voice", "--output"...), in order.
    std::vector<std::string> given;
};

struct UsageError {
    std::string message;
};

// Parses argv; on a usage error returns false with error set.
[[nodiscard]] bool ParseOptions(int argc, char **argv, Options &options, UsageError &error);

// A usage problem when an option given does not belong to options.command,
// or a value is out of its range; empty when all is well.
[[nodiscard]] std::string CheckOptionsFit(const Options &options);

// Help for the whole command, or for one subcommand.
[[nodiscard]] std::string HelpText(const std::string &command);

} // namespace orafon_cli

#include "Options.h"

#include <FileType.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>

namespace orafon_cli {

namespace {

const std::map<std::string, std::string> kHelp = {
    {"", "usage: orafon [--help] [--version] COMMAND [ARGS]\n"
         "\n"
         "Commands:\n"
         "  voices                       list the installed voices\n"
         "  formats [TYPE]               list the file types, or the wave formats of one type\n"
         "  say [TEXT | -f FILE | -]     speak text aloud\n"
         "  save [TEXT | -f FILE | -] -o OUT\n"
         "                               speak text into an audio file\n"
         "  mp3-to-swf IN.mp3 OUT.swf    wrap an MP3 file into a streaming SWF movie\n"
         "  register [MODULE]            register the component (as regsvr32 does)\n"
         "  unregister [MODULE]          remove the component's registration\n"
         "  describe                     show the members, events and enums of the type library\n"
         "\n"
         "Run 'orafon COMMAND --help' for the options of a command.\n"
         "\n"
         "Exit status: 0 success, 1 failure, 2 usage error, 130 interrupted by Ctrl-C (143 by SIGTERM).\n"
         "\n"
         "Environment:\n"
         "  ORAFON_REGISTRY=FILE      the registry database (default: $XDG_DATA_HOME/orafon/registry.db,\n"
         "                            else ~/.local/share/orafon/registry.db)\n"
         "  ORAFON_AUDIO_DEVICE=D     speak only through D: pulse, alsa (ALSA's default device, even\n"
         "                            with no sound card) or silent; unset, PulseAudio, then ALSA\n"
         "  ORAFON_AUDIO_CAPTURE=F    write what would be heard into the WAV file F instead\n"
         "  ORAFON_AUDIO_FAST=1       the silent and capture outputs do not keep the real pace\n"
         "  PULSE_SERVER, XDG_RUNTIME_DIR\n"
         "                            where the PulseAudio server is found\n"
         "  ALSA_CONFIG_PATH          ALSA's own configuration file\n"
         "  LC_ALL, LC_MESSAGES, LC_NUMERIC, LANG\n"
         "                            the user's language: its voices are listed first\n"
         "  TMPDIR                    where output for standard output or a device is made first\n"},
    {"voices", "usage: orafon voices\n\n"
               "Lists index, name, gender, language (its id and its tag, such as en-US) and engine generation\n"
               "of every voice.\n"},
    {"formats", "usage: orafon formats [TYPE]\n\n"
                "Without TYPE, lists the file types. With TYPE, lists that type's wave formats with the index\n"
                "to give to 'save --format'.\n"},
    {"say", "usage: orafon say [TEXT | -f FILE | -] [OPTIONS]\n\n"
            "Speaks TEXT, the UTF-8 text of FILE, or standard input aloud.\n\n"
            "Options:\n"
            "  --voice V        an index, a name, a part of a name that only one voice has, or a\n"
            "                   language tag (en, en-GB, fr) for the first voice of that language\n"
            "  --rate N         -10..10      --volume N   0..100      --pitch N   -10..10\n"
            "  --tagged         the text carries the engine's markup\n"
            "  --words          print each word as it is spoken\n"
            "  --events json    print one JSON object per event on standard output\n"
            "  -q, --quiet      no progress bar\n"},
    {"save", "usage: orafon save [TEXT | -f FILE | -] -o OUT [--type T] [--format N] [OPTIONS]\n\n"
             "Speaks the text into OUT. The file type follows the extension unless --type names it;\n"
             "--format picks an entry of 'orafon formats T' (without it, the first entry; for wma, the\n"
             "first one the Windows Media encoder makes). OUT - writes to standard output (WAV unless\n"
             "--type names another type). An existing OUT is replaced only when the whole file was\n"
             "written. Takes the voice options of 'say'.\n"},
    {"mp3-to-swf", "usage: orafon mp3-to-swf IN.mp3 OUT.swf [--loop] [--fps N]\n\n"
                   "Wraps the MP3 frames of IN.mp3, unchanged, into a SWF movie that streams them.\n"
                   "  --loop    the movie starts again at its end\n"
                   "  --fps N   movie frames per second, 1..255 (default 15); a movie holds at most\n"
                   "            65535 frames\n"
                   "An existing OUT.swf is replaced only when the whole movie was written.\n"},
    {"register", "usage: orafon register [MODULE]\n\n"
                 "Registers the component module (default: Orafon.so beside this command).\n"},
    {"unregister", "usage: orafon unregister [MODULE]\n\n"
                   "Removes the registration of the component module (default: Orafon.so beside this command).\n"},
    {"describe", "usage: orafon describe\n\nPrints the members, events and enums read from the type library.\n"},
};

// The file types with the extensions that select them, one line each.
[[nodiscard]] std::string FileTypeList()
{
    std::string list = "\nFile types (TYPE, then the extensions that select it):\n";
    for (const FileTypeDescriptor &type : AllFileTypes()) {
        std::string line = "  " + std::string(type.label);
        line.resize(std::max<size_t>(line.size() + 1, 9), ' ');
        for (std::string_view name : type.names)
            line += " ." + std::string(name);
        list += line + "\n";
    }
    return list;
}

[[nodiscard]] bool ParseLong(const std::string &text, long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

// The long spelling of an option, the name the command tables use.
[[nodiscard]] std::string LongName(const std::string &arg)
{
    if (arg == "-f")
        return "--file";
    if (arg == "-o")
        return "--output";
    if (arg == "-q")
        return "--quiet";
    return arg;
}

} // namespace

[[nodiscard]] std::string HelpText(const std::string &command)
{
    auto found = kHelp.find(command);
    if (found == kHelp.end())
        return kHelp.at("");
    if (command == "formats" || command == "save")
        return found->second + FileTypeList();
    return found->second;
}

[[nodiscard]] bool ParseOptions(int argc, char **argv, Options &options, UsageError &error)
{
    auto needValue = [&](int &i, const std::string &name, std::string &value) {
        if (i + 1 >= argc) {
            error.message = "option " + name + " needs a value";
            return false;
        }
        value = argv[++i];
        return true;
    };
    auto needNumber = [&](int &i, const std::string &name, std::optional<long> &target) {
        std::string text;
        if (!needValue(i, name, text))
            return false;
        long value;
        if (!ParseLong(text, value)) {
            error.message = "option " + name + " needs a whole number, not '" + text + "'";
            return false;
        }
        target = value;
        return true;
    };

    bool onlyPositional = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (onlyPositional || arg == "-" || arg.empty() || arg[0] != '-') {
            if (options.command.empty())
                options.command = arg;
            else
                options.positional.push_back(arg);
            continue;
        }
        std::string value;
        const size_t before = options.given.size();
        if (arg == "--") {
            onlyPositional = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "-f" || arg == "--file") {
            if (!needValue(i, arg, value))
                return false;
            options.textFile = value;
        } else if (arg == "-o" || arg == "--output") {
            if (!needValue(i, arg, options.output))
                return false;
        } else if (arg == "--type") {
            if (!needValue(i, arg, options.type))
                return false;
        } else if (arg == "--format") {
            if (!needNumber(i, arg, options.format))
                return false;
        } else if (arg == "--voice") {
            if (!needValue(i, arg, value))
                return false;
            options.voice = value;
        } else if (arg == "--rate") {
            if (!needNumber(i, arg, options.rate))
                return false;
        } else if (arg == "--volume") {
            if (!needNumber(i, arg, options.volume))
                return false;
        } else if (arg == "--pitch") {
            if (!needNumber(i, arg, options.pitch))
                return false;
        } else if (arg == "--fps") {
            if (!needNumber(i, arg, options.fps))
                return false;
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--tagged") {
            options.tagged = true;
        } else if (arg == "--words") {
            options.words = true;
        } else if (arg == "--loop") {
            options.loop = true;
        } else if (arg == "--events") {
            if (!needValue(i, arg, value))
                return false;
            if (value != "json") {
                error.message = "--events takes 'json'";
                return false;
            }
            options.eventsJson = true;
        } else {
            error.message = "unknown option " + arg;
            return false;
        }
        if (options.given.size() == before && arg != "--" && arg != "-h" && arg != "--help" && arg != "--version")
            options.given.push_back(LongName(arg));
    }
    return true;
}

[[nodiscard]] std::string CheckOptionsFit(const Options &options)
{
    struct Fit {
        const char *command;
        std::vector<std::string> options;
        size_t minArgs, maxArgs;
    };
    const std::vector<std::string> voiceOptions = {"--file",   "--voice", "--rate",   "--volume", "--pitch",
                                                   "--tagged", "--words", "--events", "--quiet"};
    std::vector<std::string> saveOptions = voiceOptions;
    saveOptions.insert(saveOptions.end(), {"--output", "--type", "--format"});
    const size_t any = SIZE_MAX;
    const Fit fits[] = {
        {"voices", {}, 0, 0},
        {"formats", {}, 0, 1},
        {"say", voiceOptions, 0, any},
        {"save", saveOptions, 0, any},
        {"mp3-to-swf", {"--loop", "--fps"}, 2, 2},
        {"register", {}, 0, 1},
        {"unregister", {}, 0, 1},
        {"describe", {}, 0, 0},
    };
    for (const Fit &fit : fits) {
        if (options.command != fit.command)
            continue;
        for (const std::string &name : options.given)
            if (std::find(fit.options.begin(), fit.options.end(), name) == fit.options.end())
                return "option " + name + " does not belong to " + options.command;
        if (options.positional.size() > fit.maxArgs) {
            const std::string &extra = options.positional[fit.maxArgs];
            if (fit.maxArgs == 0)
                return options.command + " takes no arguments ('" + extra + "')";
            if (options.command == "formats")
                return "formats takes at most one file type ('" + extra + "' is one too many)";
            if (options.command == "mp3-to-swf")
                return "mp3-to-swf needs IN.mp3 and OUT.swf ('" + extra + "' is one too many)";
            return options.command + " takes at most one module path ('" + extra + "' is one too many)";
        }
        if (options.positional.size() < fit.minArgs)
            return "mp3-to-swf needs IN.mp3 and OUT.swf";
    }
    struct Range {
        const char *name;
        const std::optional<long> &value;
        long low, high;
    };
    for (const Range &r : {Range{"--rate", options.rate, -10, 10}, Range{"--volume", options.volume, 0, 100},
                           Range{"--pitch", options.pitch, -10, 10}, Range{"--fps", options.fps, 1, 255}}) {
        if (r.value && (*r.value < r.low || *r.value > r.high))
            return std::string(r.name) + " must be " + std::to_string(r.low) + ".." + std::to_string(r.high) +
                   ", not " + std::to_string(*r.value);
    }
    if (options.format && *options.format < 0)
        return "--format must be 0 or more, not " + std::to_string(*options.format);
    return {};
}

} // namespace orafon_cli

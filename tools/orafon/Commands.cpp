#include "Commands.h"

#include "Automation.h"
#include "EventSink.h"
#include "Messages.h"
#include "OutputFile.h"
#include "Text.h"
#include "Voices.h"

#include <FileType.h>
#include <orafon/Orafon.h>
#include <orafon/win/mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orafon_cli {

namespace {

constexpr UINT WM_ORAFON_STOP = WM_APP + 1;

std::atomic<bool> g_interrupted{false};
std::atomic<int> g_signal{0}; // the first interrupting signal
std::atomic<HWND> g_stopWindow{nullptr};
// An interrupt ends the process at once (removing an output not yet in
// place) except while speech runs, which it stops through the component so
// that the file being written is closed: nothing else here can be stopped
// from outside (a conversion, opening a pipe with no reader yet).
std::atomic<bool> g_exitAtOnce{true};

// 128 + the signal, as a shell reports it: 130 for Ctrl-C, 143 for SIGTERM.
int InterruptedStatus()
{
    const int signal = g_signal.load();
    return signal ? 128 + signal : kExitInterrupted;
}

int Fail(const std::string &message)
{
    std::fprintf(stderr, "orafon: %s\n", message.c_str());
    return kExitFailure;
}

int Usage(const std::string &message, const std::string &command)
{
    std::fprintf(stderr, "orafon: %s\n%s", message.c_str(), HelpText(command).c_str());
    return kExitUsage;
}

std::string DefaultModulePath()
{
    char self[4096];
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self)
        return "Orafon.so";
    return (std::filesystem::path(std::string(self, length)).parent_path() / "Orafon.so").string();
}

HRESULT CallModuleEntry(const std::string &path, const char *entry)
{
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module)
        return CO_E_DLLNOTFOUND;
    auto function = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, entry));
    HRESULT hr = function ? function() : CO_E_ERRORINDLL;
    FreeLibrary(module);
    return hr;
}

// CoInitialize for the life of a command.
class ComApartment {
public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }
    HRESULT status() const { return hr_; }

private:
    HRESULT hr_;
};

// Whether creating failed for want of a usable registered module: keys left
// by an older build can name a module that moved or was deleted (the
// loader's ERROR_MOD_NOT_FOUND), or a file that is no server.
bool RegisteredModuleUnusable(HRESULT hr)
{
    return hr == REGDB_E_CLASSNOTREG || hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) || hr == CO_E_DLLNOTFOUND ||
           hr == CO_E_ERRORINDLL;
}

// The text-to-speech object, created from its ProgID as a script would.
// The first use registers the module by itself, and so does a use that finds
// the registered module unusable.
HRESULT CreateTextToSpeech(CComPtr<IDispatch> &object)
{
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(u"Orafon.TextToSpeech", &clsid);
    if (FAILED(hr)) {
        hr = CallModuleEntry(DefaultModulePath(), "DllRegisterServer");
        if (FAILED(hr))
            return hr;
        hr = CLSIDFromProgID(u"Orafon.TextToSpeech", &clsid);
        if (FAILED(hr))
            return hr;
    }
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void **>(&object));
    if (RegisteredModuleUnusable(hr)) {
        if (SUCCEEDED(CallModuleEntry(DefaultModulePath(), "DllRegisterServer")))
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void **>(&object));
    }
    return hr;
}

std::string JsonEscape(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += (char)c;
            }
        }
    }
    return out;
}

// Shows how speaking goes: a progress bar on a terminal, the words with
// --words, or one JSON object per event with --events json.
class SpeechReporter final : public SpeechListener {
public:
    SpeechReporter(const std::u16string &text, const Options &options)
        : text_(text), words_(options.words), json_(options.eventsJson),
          bar_(isatty(STDERR_FILENO) && !json_ && !options.quiet)
    {
    }
    ~SpeechReporter() { FinishBar(); }

    bool ended() const { return ended_; }
    // Ends the bar's line, so that what is printed next starts on a line of its own.
    void Finish() { FinishBar(); }
    bool started() const { return started_; }

    void OnStart() override
    {
        started_ = true;
        if (json_)
            Emit("{\"event\":\"start\"}");
    }
    void OnEnd() override
    {
        ended_ = true;
        if (json_)
            Emit("{\"event\":\"end\"}");
        if (words_ && wroteWord_) {
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
        FinishBar();
    }
    void OnWord(LONG start, LONG length) override
    {
        std::string word = Slice(start, length);
        if (json_)
            Emit("{\"event\":\"word\",\"start\":" + std::to_string(start) + ",\"length\":" + std::to_string(length) +
                 ",\"text\":\"" + JsonEscape(word) + "\"}");
        if (words_ && !json_) {
            ClearBar();
            std::printf("%s%s", wroteWord_ ? " " : "", word.c_str());
            std::fflush(stdout);
            wroteWord_ = true;
            DrawBar();
        }
    }
    void OnSentence(LONG start, LONG length) override
    {
        if (json_)
            Emit("{\"event\":\"sentence\",\"start\":" + std::to_string(start) +
                 ",\"length\":" + std::to_string(length) + ",\"text\":\"" + JsonEscape(Slice(start, length)) + "\"}");
    }
    void OnProgress(LONG percent) override
    {
        percent_ = percent;
        if (json_)
            Emit("{\"event\":\"progress\",\"percent\":" + std::to_string(percent) + "}");
        DrawBar();
    }

private:
    std::string Slice(LONG start, LONG length) const
    {
        if (start < 0 || length < 0 || (size_t)start > text_.size())
            return {};
        size_t count = std::min(text_.size() - (size_t)start, (size_t)length);
        return Utf16ToUtf8(text_.data() + start, count);
    }
    static void Emit(const std::string &line)
    {
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    void DrawBar()
    {
        if (!bar_ || words_)
            return;
        constexpr int kWidth = 40;
        int filled = std::clamp<int>(percent_, 0, 100) * kWidth / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, ' ').c_str(), std::clamp<int>(percent_, 0, 100));
        std::fflush(stderr);
        barShown_ = true;
    }
    void ClearBar()
    {
        if (barShown_) {
            std::fputs("\r\033[K", stderr);
            barShown_ = false;
        }
    }
    void FinishBar()
    {
        if (barShown_) {
            std::fputc('\n', stderr);
            barShown_ = false;
        }
    }

    const std::u16string &text_;
    bool words_, json_, bar_;
    bool barShown_ = false, wroteWord_ = false;
    bool started_ = false, ended_ = false;
    LONG percent_ = 0;
};

LRESULT CALLBACK StopWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ORAFON_STOP) {
        auto *object = reinterpret_cast<DispatchObject *>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (object)
            object->Call(u"StopTTS", {});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A message-only window of the speaking thread: the interrupt watcher posts
// to it, and the stop runs on this thread, inside whatever message pump is
// active (the component's own while a synchronous request waits).
class StopWindow {
public:
    explicit StopWindow(DispatchObject &object)
    {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = StopWindowProc;
        wc.lpszClassName = "OrafonStopWindow";
        RegisterClassExA(&wc);
        window_ = CreateWindowExA(0, "OrafonStopWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        if (window_) {
            SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&object));
            g_stopWindow = window_;
            g_exitAtOnce = false;
            if (g_interrupted)
                PostMessageA(window_, WM_ORAFON_STOP, 0, 0);
        }
    }
    ~StopWindow()
    {
        g_exitAtOnce = true;
        g_stopWindow = nullptr;
        if (window_)
            DestroyWindow(window_);
    }

private:
    HWND window_ = nullptr;
};

// Processes messages until the end of speech, or an interrupt, or WM_QUIT.
void PumpUntilEnd(const SpeechReporter &reporter)
{
    MSG message;
    while (!reporter.ended() && GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Reads the text to speak; returns kExitOk, or the exit status with problem set.
int LoadText(const Options &options, std::u16string &text, std::string &problem)
{
    std::string utf8;
    std::string source;
    if (options.textFile) {
        if (!options.positional.empty()) {
            problem = "give the text either as an argument or with -f, not both";
            return kExitUsage;
        }
        source = *options.textFile;
    } else if (options.positional.size() == 1 && options.positional[0] == "-") {
        source = "-";
    } else if (options.positional.empty()) {
        problem = "no text given";
        return kExitUsage;
    }
    if (!source.empty()) {
        int error = 0;
        if (!ReadWholeFile(source, utf8, error)) {
            problem = "cannot read " + (source == "-" ? std::string("standard input") : source) + ": " +
                      (error == ENOENT ? "no such file" : DescribeErrno(error));
            return kExitFailure;
        }
    } else {
        for (size_t i = 0; i < options.positional.size(); ++i)
            utf8 += (i ? " " : "") + options.positional[i];
    }
    if (utf8.find_first_not_of(" \t\r\n\v\f") == std::string::npos) {
        problem = "the text is empty";
        return kExitUsage;
    }
    // The engines would end the text at a NUL; say so rather than drop the rest.
    const size_t nul = utf8.find('\0');
    if (nul != std::string::npos) {
        problem = "the text holds a NUL byte at byte " + std::to_string(nul) + " (counting from 0)";
        return kExitFailure;
    }
    text = Utf8ToUtf16(utf8);
    if (text.empty()) {
        problem = "the text is not valid UTF-8";
        return kExitFailure;
    }
    return kExitOk;
}

// Reports a LoadText problem with the right exit status.
int TextProblem(int status, const std::string &problem, const std::string &command)
{
    return status == kExitUsage ? Usage(problem, command) : Fail(problem);
}

// Applies --voice, --rate, --volume, --pitch; returns kExitOk, or the exit
// status with problem set.
int ApplyVoiceOptions(DispatchObject &tts, const Options &options, std::string &problem)
{
    if (options.voice) {
        VoiceChoice choice = FindVoice(tts, *options.voice);
        if (choice.index < 0) {
            problem = choice.problem;
            return kExitUsage;
        }
        HRESULT hr = tts.PutLong(u"VoiceIdx", choice.index);
        if (FAILED(hr)) {
            problem = DescribeFailure(Activity::Speak, hr);
            return kExitFailure;
        }
    }
    struct Setting {
        const char16_t *name;
        const std::optional<long> &value;
    };
    for (const Setting &s :
         {Setting{u"Rate", options.rate}, Setting{u"Volume", options.volume}, Setting{u"Pitch", options.pitch}}) {
        if (!s.value)
            continue;
        // The ranges were checked with the other options.
        HRESULT hr = tts.PutLong(s.name, (LONG)*s.value);
        if (FAILED(hr)) {
            problem = DescribeFailure(Activity::Speak, hr);
            return kExitFailure;
        }
    }
    return kExitOk;
}

bool TypeFromName(const std::string &name, LONG &type)
{
    const FileTypeDescriptor *found = FindFileTypeByName(name);
    if (!found)
        return false;
    type = found->nFileFormat;
    return true;
}

// Runs one speaking request and waits for its end; returns the exit status.
// saveFailure, when not empty, is the line a failed save prints.
int Speak(DispatchObject &tts, const std::u16string &text, const Options &options, OutputFile *file,
          const std::string &saveFailure = {})
{
    SpeechReporter reporter(text, options);
    auto *sink = new EventSink(reporter);
    EventConnection connection;
    HRESULT hr = connection.Connect(tts.get(), sink);
    sink->Release();
    if (FAILED(hr))
        return Fail("cannot receive the component's events (" + std::to_string(hr) + ")");

    StopWindow stop(tts);
    LONG flags = options.tagged ? TF_WITHTAG : TF_DEFAULT;
    CVariant textArg(text), flagArg(flags);
    if (file) {
        CVariant fileArg(Utf8ToUtf16(file->WorkPath()));
        hr = tts.Call(u"SpeakToFile", {&textArg, &fileArg, &flagArg});
    } else {
        hr = tts.Call(u"Speak", {&textArg, &flagArg});
    }
    if (SUCCEEDED(hr) && !g_interrupted)
        PumpUntilEnd(reporter);
    connection.Disconnect();
    reporter.Finish();
    if (g_interrupted)
        return InterruptedStatus();
    if (FAILED(hr) && file && !saveFailure.empty())
        return Fail(saveFailure);
    if (FAILED(hr) && file) {
        const std::string cause = file->LikelyWriteFailure();
        return Fail(cause.empty() ? DescribeFailure(Activity::Save, hr, options.output)
                                  : "cannot write " + options.output + ": " + cause);
    }
    if (FAILED(hr))
        return Fail(DescribeFailure(Activity::Speak, hr));
    std::string problem;
    if (file && !file->Commit(problem))
        return Fail(problem);
    return kExitOk;
}

// The bits per sample of a catalogue entry, from its name: "16Bit" in it, or
// for lossless types whose names give the bit rate, kBPS over samples per second.
std::string BitsPerSample(const std::string &name)
{
    const size_t bit = name.find("Bit,");
    if (bit != std::string::npos) {
        size_t start = bit;
        while (start > 0 && std::isdigit((unsigned char)name[start - 1]))
            --start;
        return name.substr(start, bit - start);
    }
    unsigned kbps = 0, khz = 0;
    char channels[16] = {};
    if (std::sscanf(name.c_str(), "%ukBPS, %ukHz, %15s", &kbps, &khz, channels) != 3 || khz == 0)
        return {};
    // The names round the sample rate down: 11 is 11025, 22 is 22050, 44 is 44100.
    const double hz = khz == 11 ? 11025 : khz == 22 ? 22050 : khz == 44 ? 44100 : khz * 1000.0;
    const int count = std::string(channels) == "Stereo" ? 2 : 1;
    return std::to_string((int)(kbps * 1000.0 / (hz * count) + 0.5));
}

int CommandFormats(DispatchObject &tts, const Options &options)
{
    if (options.positional.empty()) {
        std::printf("%5s  %-5s  %s\n", "value", "type", "wave formats");
        for (const FileTypeDescriptor &type : AllFileTypes()) {
            LONG count = 0;
            if (FAILED(tts.PutLong(u"FileFormat", type.nFileFormat)) || FAILED(tts.GetLong(u"WaveFormatCount", count)))
                count = 0;
            std::printf("%5d  %-5.*s  %d%s\n", type.nFileFormat, static_cast<int>(type.label.size()), type.label.data(),
                        count, count ? "" : " (not available)");
        }
        return kExitOk;
    }
    LONG type;
    if (!TypeFromName(options.positional[0], type))
        return Usage("unknown file type " + options.positional[0], "formats");
    HRESULT hr = tts.PutLong(u"FileFormat", type);
    LONG count = 0;
    if (FAILED(hr) || FAILED(tts.GetLong(u"WaveFormatCount", count)) || count == 0)
        return Fail("no wave format is available for " + options.positional[0] + " files on this machine");
    // Lossless types: the bits per sample tell apart entries of the same rate.
    const bool showBits = type == FF_WAVE || type == FF_FLAC;
    if (showBits)
        std::printf("%5s  %4s  %s\n", "index", "bits", "format");
    else
        std::printf("%5s  %s\n", "index", "format");
    for (LONG i = 0; i < count; ++i) {
        std::string name;
        if (FAILED(tts.PutLong(u"WaveFormatIdx", i)) || FAILED(tts.GetText(u"WaveFormatName", name)))
            continue;
        if (showBits) {
            const std::string bits = BitsPerSample(name);
            std::printf("%5d  %4s  %s\n", i, bits.empty() ? "-" : bits.c_str(), name.c_str());
        } else {
            std::printf("%5d  %s\n", i, name.c_str());
        }
    }
    return kExitOk;
}

int CommandSay(DispatchObject &tts, const Options &options)
{
    std::u16string text;
    std::string problem;
    if (int status = LoadText(options, text, problem))
        return TextProblem(status, problem, "say");
    if (int status = ApplyVoiceOptions(tts, options, problem))
        return TextProblem(status, problem, "say");
    // The platform speaks on through a silent stand-in when there is no
    // output at all; the user should know why nothing is heard.
    if (waveOutGetNumDevs() == 0)
        std::fputs("orafon: no audio device was found; the speech is not heard\n", stderr);
    return Speak(tts, text, options, nullptr);
}

// The file type of save's output: --type, or the extension; "-o -" is WAV
// unless --type says otherwise.
bool ChooseType(const Options &options, LONG &type, std::string &typeName, std::string &problem)
{
    typeName = options.type;
    if (typeName.empty() && options.output == "-")
        typeName = "wav";
    if (typeName.empty()) {
        typeName = std::filesystem::path(options.output).extension().string();
        if (!typeName.empty())
            typeName.erase(0, 1);
    }
    if (TypeFromName(typeName, type))
        return true;
    problem = typeName.empty() ? "cannot tell the file type from " + options.output + "; give --type"
                               : "unknown file type " + typeName;
    return false;
}

// The Windows Media runtime's encoder makes nothing below 24 kbit/s, though
// the catalogue lists such formats (its first entries among them).
constexpr long kWmaLowestKbps = 24;

long SelectedKbps(DispatchObject &tts, std::string &name)
{
    return SUCCEEDED(tts.GetText(u"WaveFormatName", name)) ? std::atol(name.c_str()) : -1;
}

// Without --format, a WMA file gets the first entry the encoder makes.
void SelectFirstWmaEntryOfTheEncoder(DispatchObject &tts)
{
    LONG count = 0;
    tts.GetLong(u"WaveFormatCount", count);
    std::string name;
    for (LONG i = 0; i < count; ++i)
        if (SUCCEEDED(tts.PutLong(u"WaveFormatIdx", i)) && SelectedKbps(tts, name) >= kWmaLowestKbps)
            return;
    tts.PutLong(u"WaveFormatIdx", 0);
}

// A save into an entry the encoder does not make is explained in one line.
std::string WmaFailure(DispatchObject &tts, const std::string &file)
{
    std::string name;
    if (SelectedKbps(tts, name) >= kWmaLowestKbps)
        return {};
    return "cannot write " + file + ": the Windows Media encoder has no format at " + name + " (it encodes " +
           std::to_string(kWmaLowestKbps) + " kBPS and more; see 'orafon formats wma')";
}

int CommandSave(DispatchObject &tts, const Options &options)
{
    if (options.output.empty())
        return Usage("save needs an output file: -o OUT", "save");
    std::u16string text;
    std::string problem;
    if (int status = LoadText(options, text, problem))
        return TextProblem(status, problem, "save");
    LONG type;
    std::string typeName;
    if (!ChooseType(options, type, typeName, problem))
        return Usage(problem, "save");
    if (int status = ApplyVoiceOptions(tts, options, problem))
        return TextProblem(status, problem, "save");
    HRESULT hr = tts.PutLong(u"FileFormat", type);
    if (FAILED(hr))
        return Fail("cannot write " + typeName + " files: no wave format is available for this type here");
    if (options.format) {
        LONG count = 0;
        tts.GetLong(u"WaveFormatCount", count);
        if (*options.format >= count)
            return Usage("--format " + std::to_string(*options.format) + " is out of range: the " + typeName +
                             " formats are 0.." + std::to_string(count - 1) + " (see 'orafon formats " + typeName +
                             "')",
                         "save");
        tts.PutLong(u"WaveFormatIdx", (LONG)*options.format);
    } else if (type == FF_WMA) {
        SelectFirstWmaEntryOfTheEncoder(tts);
    }
    OutputFile output;
    std::vector<std::string> inputs;
    if (options.textFile && *options.textFile != "-")
        inputs.push_back(*options.textFile);
    if (!output.Prepare(options.output, inputs, problem))
        return Fail(problem);
    return Speak(tts, text, options, &output, type == FF_WMA ? WmaFailure(tts, options.output) : "");
}

// The component's own words for a failed call, when it left an error object.
std::string ErrorDescription()
{
    CComPtr<IErrorInfo> error;
    if (GetErrorInfo(0, &error) != S_OK || !error)
        return {};
    orafon::CBstr description;
    std::string text;
    if (SUCCEEDED(error->GetDescription(description.Out())) && description.Get())
        text = BstrToUtf8(description.Get());
    return text;
}

int CommandMp3ToSwf(DispatchObject &tts, const Options &options)
{
    const std::string &in = options.positional[0], &out = options.positional[1];
    const int input = open(in.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0)
        return Fail("cannot read " + in + ": " + (errno == ENOENT ? "no such file" : DescribeErrno(errno)));
    struct stat info {};
    const bool directory = fstat(input, &info) == 0 && S_ISDIR(info.st_mode);
    close(input);
    if (directory)
        return Fail("cannot read " + in + ": " + DescribeErrno(EISDIR));
    if (options.fps && FAILED(tts.PutLong(u"SWFFrameRate", (LONG)*options.fps)))
        return Usage("--fps must be 1..255", "mp3-to-swf");
    OutputFile output;
    std::string problem;
    if (!output.Prepare(out, {in}, problem))
        return Fail(problem);
    CVariant inArg(Utf8ToUtf16(in)), outArg(Utf8ToUtf16(output.WorkPath())), loopArg(options.loop);
    SetErrorInfo(0, nullptr);
    HRESULT hr = tts.Call(u"Mp3ToSWF", {&inArg, &outArg, &loopArg});
    if (g_interrupted)
        return InterruptedStatus();
    if (FAILED(hr)) {
        const std::string why = ErrorDescription();
        if (why.rfind("too many movie frames", 0) == 0)
            return Usage("cannot convert " + in + ": " + why, "mp3-to-swf");
        const std::string cause = output.LikelyWriteFailure();
        if (!cause.empty())
            return Fail("cannot write " + out + ": " + cause);
        return Fail(why.empty() ? DescribeFailure(Activity::Convert, hr, in) : "cannot convert " + in + ": " + why);
    }
    if (!output.Commit(problem))
        return Fail(problem);
    return kExitOk;
}

// Where the platform keeps its registry, as it decides it.
std::string RegistryPath()
{
    if (const char *named = std::getenv("ORAFON_REGISTRY"); named && *named)
        return named;
    const char *data = std::getenv("XDG_DATA_HOME");
    const char *home = std::getenv("HOME");
    const std::string base =
        data && data[0] == '/' ? std::string(data) : std::string(home && *home ? home : "/tmp") + "/.local/share";
    return base + "/orafon/registry.db";
}

// The registry's part in a failure, named with its path; empty when the
// failure is not the registry's.
std::string RegistryProblem(HRESULT hr)
{
    const std::string path = RegistryPath();
    const std::string folder = std::filesystem::path(path).parent_path().string();
    struct stat info {};
    switch (hr) {
    case HRESULT_FROM_WIN32(ERROR_CANTOPEN):
    case HRESULT_FROM_WIN32(ERROR_CANTREAD):
        if (!folder.empty() && stat(folder.c_str(), &info) != 0)
            return "cannot open the registry " + path + ": the folder " + folder + " does not exist" +
                   (std::getenv("ORAFON_REGISTRY") ? " (the registry is named by ORAFON_REGISTRY)" : "");
        if (access(path.c_str(), R_OK) != 0 && errno != ENOENT)
            return "cannot open the registry " + path + ": " + DescribeErrno(errno);
        return "cannot open the registry " + path + ": it is not a registry database, or it cannot be read";
    case HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED):
    case HRESULT_FROM_WIN32(ERROR_CANTWRITE):
        return "the registry " + path +
               " is read-only, and registering the component writes to it; run "
               "'orafon register' once where it may be written";
    case HRESULT_FROM_WIN32(ERROR_DISK_FULL):
        return "cannot write the registry " + path + ": " + DescribeErrno(ENOSPC);
    case HRESULT_FROM_WIN32(ERROR_BADDB):
        return "the registry " + path + " is not a registry database";
    default:
        return {};
    }
}

int CommandRegister(const Options &options, bool unregister)
{
    std::string path = options.positional.empty() ? DefaultModulePath() : options.positional[0];
    std::error_code ec;
    std::string absolute = std::filesystem::absolute(path, ec).string();
    HRESULT hr = CallModuleEntry(ec ? path : absolute, unregister ? "DllUnregisterServer" : "DllRegisterServer");
    if (FAILED(hr)) {
        const std::string registry = RegistryProblem(hr);
        return Fail(registry.empty() ? DescribeFailure(Activity::Register, hr, path) : registry);
    }
    std::printf("%s %s\n", unregister ? "unregistered" : "registered", (ec ? path : absolute).c_str());
    return kExitOk;
}

} // namespace

void InstallInterruptWatcher()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        for (;;) {
            int received = 0;
            if (sigwait(&signals, &received) != 0)
                continue;
            int none = 0;
            g_signal.compare_exchange_strong(none, received);
            // A second Ctrl-C does not wait for the engine, and a call that
            // cannot be stopped is not waited for either.
            if (g_interrupted.exchange(true) || g_exitAtOnce) {
                if (AbandonOutputForInterrupt())
                    _exit(InterruptedStatus());
                continue;
            }
            if (HWND window = g_stopWindow.load())
                PostMessageA(window, WM_ORAFON_STOP, 0, 0);
        }
    }).detach();
}

int RunCommand(const Options &options)
{
    const std::string &command = options.command;
    static const char *const kCommands[] = {"voices",     "formats",  "say",        "save",
                                            "mp3-to-swf", "register", "unregister", "describe"};
    if (std::find(std::begin(kCommands), std::end(kCommands), command) == std::end(kCommands))
        return Usage("unknown command " + command, "");
    const std::string misfit = CheckOptionsFit(options);
    if (!misfit.empty())
        return Usage(misfit, command);

    ComApartment apartment;
    if (FAILED(apartment.status()))
        return Fail("cannot initialise COM (" + std::to_string(apartment.status()) + ")");
    if (command == "register" || command == "unregister")
        return CommandRegister(options, command == "unregister");

    CComPtr<IDispatch> object;
    HRESULT hr = CreateTextToSpeech(object);
    if (FAILED(hr)) {
        const std::string registry = RegistryProblem(hr);
        return Fail(registry.empty() ? DescribeFailure(Activity::Create, hr) : registry);
    }
    DispatchObject tts(object);
    object = nullptr;

    if (command == "voices")
        return ListVoices(tts);
    if (command == "formats")
        return CommandFormats(tts, options);
    if (command == "say")
        return CommandSay(tts, options);
    if (command == "save")
        return CommandSave(tts, options);
    if (command == "mp3-to-swf")
        return CommandMp3ToSwf(tts, options);
    return CommandDescribe(tts);
}

} // namespace orafon_cli

// Runs the orafon command as a user would, in a child process with a
// registry of its own, and checks its output, files and exit status.
#include <FileType.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;

namespace {

// The command under test: the one built with these tests, or another build
// named by ORAFON_CLI_UNDER_TEST (to see a test fail on an older build).
std::string Command()
{
    const char *other = std::getenv("ORAFON_CLI_UNDER_TEST");
    return other && *other ? other : ORAFON_CLI;
}

struct Result {
    int status = -1;
    std::string out, err;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orafon-cli-XXXXXX";
        dir_ = mkdtemp(pattern);
        registry_ = dir_ / "registry.db";
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::vector<std::string> Environment() const
    {
        std::vector<std::string> env;
        for (char **e = environ; *e; ++e)
            if (std::strncmp(*e, "ORAFON_REGISTRY=", 16) != 0)
                env.emplace_back(*e);
        env.push_back("ORAFON_REGISTRY=" + registry_.string());
        return env;
    }

    pid_t Spawn(const std::vector<std::string> &args, int &outFd, int &errFd, int &inFd) const
    {
        int out[2], err[2], in[2];
        EXPECT_EQ(pipe(out), 0);
        EXPECT_EQ(pipe(err), 0);
        EXPECT_EQ(pipe(in), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]})
            posix_spawn_file_actions_addclose(&actions, fd);
        std::vector<std::string> argv = {Command()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char *> cargv;
        for (auto &a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        std::vector<std::string> env = Environment();
        std::vector<char *> cenv;
        for (auto &e : env)
            cenv.push_back(e.data());
        cenv.push_back(nullptr);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, cargv.data(), cenv.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        close(in[0]);
        outFd = out[0];
        errFd = err[0];
        inFd = in[1];
        return pid;
    }

    static void Drain(int outFd, int errFd, Result &result)
    {
        std::vector<pollfd> fds = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
        char buffer[65536];
        while (fds[0].fd >= 0 || fds[1].fd >= 0) {
            if (poll(fds.data(), fds.size(), -1) < 0)
                break;
            for (size_t i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                    continue;
                ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                } else {
                    (i == 0 ? result.out : result.err).append(buffer, (size_t)n);
                }
            }
        }
    }

    Result Run(const std::vector<std::string> &args, const std::string &input = {}) const
    {
        int outFd, errFd, inFd;
        pid_t pid = Spawn(args, outFd, errFd, inFd);
        if (!input.empty()) {
            EXPECT_EQ(write(inFd, input.data(), input.size()), (ssize_t)input.size());
        }
        close(inFd);
        Result result;
        Drain(outFd, errFd, result);
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return result;
    }

    static std::string Probe(const fs::path &file, const std::string &entries)
    {
        std::string command = "ffprobe -v error -show_entries " + entries + " -of default=nw=1 '" + file.string() + "'";
        std::string out;
        if (FILE *p = popen(command.c_str(), "r")) {
            char line[512];
            while (fgets(line, sizeof line, p))
                out += line;
            pclose(p);
        }
        return out;
    }

    bool HasVoices() const { return Run({"voices"}).out.find("SAPI") != std::string::npos; }

    fs::path dir_;
    fs::path registry_;
};

TEST_F(CliTest, VersionHelpAndUsageErrors)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *stream; // "out" or "err"
        const char *contains;
    } cases[] = {
        {{"--version"}, 0, "out", "orafon 1."},
        {{"--help"}, 0, "out", "mp3-to-swf"},
        {{"save", "--help"}, 0, "out", "--format"},
        {{}, 2, "err", "usage: orafon"},
        {{"dance"}, 2, "err", "unknown command dance"},
        {{"say", "--speed", "3", "hi"}, 2, "err", "unknown option --speed"},
        {{"say", "--rate", "fast", "hi"}, 2, "err", "needs a whole number"},
        {{"say", "--rate"}, 2, "err", "needs a value"},
        {{"save", "hello"}, 2, "err", "-o OUT"},
        {{"save", "hello", "-o", (std::string) "x.xyz"}, 2, "err", "unknown file type xyz"},
        {{"formats", "mp3", "wav"}, 2, "err", "at most one"},
        {{"formats", "midi"}, 2, "err", "unknown file type midi"},
        {{"mp3-to-swf", "only-one.mp3"}, 2, "err", "needs IN.mp3 and OUT.swf"},
        {{"say", "--events", "xml", "hi"}, 2, "err", "--events takes 'json'"},
    };
    for (const Case &c : cases) {
        Result r = Run(c.args);
        std::string joined;
        for (auto &a : c.args)
            joined += a + " ";
        EXPECT_EQ(r.status, c.status) << joined << "\n" << r.err;
        const std::string &stream = std::string(c.stream) == "out" ? r.out : r.err;
        EXPECT_NE(stream.find(c.contains), std::string::npos) << joined << "\nout: " << r.out << "\nerr: " << r.err;
    }
}

TEST_F(CliTest, FirstUseRegistersTheModuleByItself)
{
    ASSERT_FALSE(fs::exists(registry_));
    Result r = Run({"formats"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("mp3"), std::string::npos);
    Result again = Run({"unregister"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("unregistered"), std::string::npos);
    // Unregistered: the next use registers again.
    EXPECT_EQ(Run({"formats"}).status, 0);
    EXPECT_EQ(Run({"register"}).status, 0);
    Result missing = Run({"register", (dir_ / "nowhere" / "Orafon.so").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("could not be loaded"), std::string::npos) << missing.err;
}

// A build folder deleted after its module was registered: the registry names
// a module that is no longer there, and the command registers the one beside
// it instead of failing.
TEST_F(CliTest, ARegisteredModuleThatIsGoneIsReplacedByTheOneBesideTheCommand)
{
    const fs::path oldBuild = dir_ / "old-build";
    fs::create_directories(oldBuild);
    fs::copy_file(fs::path(Command()).parent_path() / "Orafon.so", oldBuild / "Orafon.so");
    const Result registered = Run({"register", (oldBuild / "Orafon.so").string()});
    ASSERT_EQ(registered.status, 0) << registered.err;
    ASSERT_NE(registered.out.find((oldBuild / "Orafon.so").string()), std::string::npos) << registered.out;
    fs::remove_all(oldBuild);

    const Result voices = Run({"voices"});
    EXPECT_EQ(voices.status, 0) << voices.err;
    EXPECT_EQ(voices.err.find("orafon register"), std::string::npos) << voices.err;
    EXPECT_FALSE(voices.out.empty());
}

TEST_F(CliTest, FormatsListTheCatalogue)
{
    Result types = Run({"formats"});
    ASSERT_EQ(types.status, 0) << types.err;
    for (const char *t : {"wav", "mp3", "wma", "ogg", "vox", "au", "aiff", "mp4", "flac"})
        EXPECT_NE(types.out.find(std::string(" ") + t + " "), std::string::npos) << t << "\n" << types.out;
    Result mp3 = Run({"formats", "MP3"});
    ASSERT_EQ(mp3.status, 0) << mp3.err;
    EXPECT_NE(mp3.out.find("    0  16kBPS, 11kHz, Mono"), std::string::npos) << mp3.out;
    EXPECT_NE(mp3.out.find("   21  "), std::string::npos) << mp3.out;
    EXPECT_EQ(mp3.out.find("   22  "), std::string::npos) << mp3.out;
}

TEST_F(CliTest, Mp3ToSwfReportsMissingInput)
{
    Result r = Run({"mp3-to-swf", (dir_ / "missing.mp3").string(), (dir_ / "out.swf").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no such file"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "out.swf"));
}

TEST_F(CliTest, Mp3ToSwfWrapsAnEncodedFile)
{
    fs::path mp3 = dir_ / "tone.mp3", swf = dir_ / "tone.swf";
    std::string make = "ffmpeg -v error -f lavfi -i sine=frequency=440:duration=2 -ar 22050 -ac 1 -c:a libmp3lame "
                       "-b:a 64k '" +
                       mp3.string() + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    Result r = Run({"mp3-to-swf", mp3.string(), swf.string(), "--loop", "--fps", "12"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Probe(swf, "stream=codec_name").find("codec_name=mp3"), std::string::npos);
    Result bad = Run({"mp3-to-swf", mp3.string(), swf.string(), "--fps", "-1"});
    EXPECT_EQ(bad.status, 2) << bad.err;
    std::ofstream(dir_ / "junk.mp3") << "this is not an mp3 file at all";
    Result junk = Run({"mp3-to-swf", (dir_ / "junk.mp3").string(), (dir_ / "junk.swf").string()});
    EXPECT_EQ(junk.status, 1);
    EXPECT_NE(junk.err.find("not an MP3 file"), std::string::npos) << junk.err;
    EXPECT_FALSE(fs::exists(dir_ / "junk.swf"));
}

TEST_F(CliTest, Mp3ToSwfNamesWhyAFileCannotBeWrapped)
{
    const fs::path wav = dir_ / "tone.wav", free = dir_ / "free.mp3", layer2 = dir_ / "layer2.mp3",
                   renamed = dir_ / "renamed.mp3", longMp3 = dir_ / "long.mp3";
    const std::string make = "ffmpeg -v error -f lavfi -i sine=frequency=440:duration=2 -ar 22050 -ac 1 '" +
                             wav.string() + "' && lame --quiet --freeformat -b 40 '" + wav.string() + "' '" +
                             free.string() + "' && ffmpeg -v error -i '" + wav.string() + "' -c:a mp2 -f mp2 '" +
                             layer2.string() + "' && cp '" + wav.string() + "' '" + renamed.string() +
                             "' && ffmpeg -v error -f lavfi -i sine=duration=300 -ar 8000 -ac 1 -c:a libmp3lame "
                             "-b:a 8k '" +
                             longMp3.string() + "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    struct Case {
        fs::path input;
        std::vector<std::string> extra;
        int status;
        const char *message;
    } cases[] = {
        {free, {}, 1, "free-format"},
        {layer2, {}, 1, "not an MP3 file"},
        {renamed, {}, 1, "not an MP3 file"},
        {longMp3, {"--fps", "255"}, 2, "at most 65535"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = {"mp3-to-swf", c.input.string(), (dir_ / "out.swf").string()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        Result r = Run(args);
        EXPECT_EQ(r.status, c.status) << c.input << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir_ / "out.swf"));
    }
    Result fits = Run({"mp3-to-swf", longMp3.string(), (dir_ / "out.swf").string(), "--fps", "12"});
    EXPECT_EQ(fits.status, 0) << fits.err;
}

TEST_F(CliTest, VoicesListBothGenerations)
{
    Result r = Run({"voices"});
    ASSERT_EQ(r.status, 0) << r.err;
    if (r.out.find("SAPI") == std::string::npos)
        GTEST_SKIP() << "no voice installed";
    EXPECT_NE(r.out.find("SAPI 5"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SAPI 4"), std::string::npos) << r.out;
}

TEST_F(CliTest, SaveWritesEveryAvailableType)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    Result types = Run({"formats"});
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {"wav", "pcm_"},  {"mp3", "mp3"},   {"ogg", "vorbis"}, {"au", "pcm_"},
        {"aiff", "pcm_"}, {"flac", "flac"}, {"m4a", "aac"},    {"wma", "wmav2"},
    };
    int written = 0;
    for (const auto &[ext, codec] : kinds) {
        fs::path out = dir_ / ("speech." + ext);
        Result r = Run({"save", "Hello world. This is a test.", "-o", out.string()});
        if (r.status == 1 && r.err.find("cannot write") != std::string::npos && !fs::exists(out))
            continue; // that type's writer is not available on this machine
        ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
        std::string probe = Probe(out, "stream=codec_name:format=duration");
        EXPECT_NE(probe.find("codec_name=" + codec), std::string::npos) << ext << "\n" << probe;
        ++written;
    }
    EXPECT_GE(written, 2); // WAV and MP3 at the least
}

TEST_F(CliTest, SaveWritesMp4ByExtensionAndByType)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    const struct {
        std::string name;
        std::vector<std::string> extra;
    } cases[] = {{"speech.m4a", {}}, {"speech.bin", {"--type", "mp4"}}, {"best.mp4", {"--format", "2"}}};
    for (const auto &c : cases) {
        fs::path out = dir_ / c.name;
        std::vector<std::string> args = {"save", "Hello world. This is a test.", "-o", out.string()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        Result r = Run(args);
        ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
        std::string probe = Probe(out, "stream=codec_name,profile,sample_rate,channels");
        EXPECT_NE(probe.find("codec_name=aac"), std::string::npos) << c.name << "\n" << probe;
        EXPECT_NE(probe.find("profile=LC"), std::string::npos) << c.name << "\n" << probe;
        EXPECT_NE(probe.find("sample_rate=44100"), std::string::npos) << c.name << "\n" << probe;
        EXPECT_NE(probe.find("channels=2"), std::string::npos) << c.name << "\n" << probe;
    }
    Result missing = Run({"save", "Hello", "-o", (dir_ / "no" / "folder.m4a").string()});
    EXPECT_EQ(missing.status, 1) << missing.err;
    EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(CliTest, SaveWritesWmaAndExplainsAFormatTheEncoderLacks)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    Result types = Run({"formats"});
    ASSERT_NE(types.out.find(" wma    71\n"), std::string::npos) << types.out;
    fs::path out = dir_ / "x.wma";
    Result r = Run({"save", "Hello world. This is a test.", "-o", out.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    // Without --format, the first entry the encoder makes: 22.05 kHz stereo at 32024 bit/s.
    const std::string probe = Probe(out, "stream=codec_name,sample_rate,channels,bit_rate:format=duration");
    EXPECT_NE(probe.find("codec_name=wmav2"), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=22050"), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=2"), std::string::npos) << probe;
    EXPECT_NE(probe.find("bit_rate=32024"), std::string::npos) << probe;
    // Entry 32 is 44.1 kHz stereo at 31984 bit/s.
    fs::path low = dir_ / "low.wma", lowest = dir_ / "lowest.wma";
    ASSERT_EQ(Run({"save", "Hello.", "-o", low.string(), "--format", "32"}).status, 0);
    EXPECT_NE(Probe(low, "stream=bit_rate").find("bit_rate=31984"), std::string::npos);
    Result refused = Run({"save", "Hello.", "-o", lowest.string(), "--format", "0"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("no format at 8kBPS, 8kHz, Mono (it encodes 24 kBPS and more"), std::string::npos)
        << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    EXPECT_FALSE(fs::exists(lowest));
}

TEST_F(CliTest, JsonEventsComeInOrderAndSliceTheText)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    const std::string text = "Hello world. Ça va très bien.";
    fs::path out = dir_ / "events.wav";
    Result r = Run({"save", "-", "-o", out.string(), "--events", "json"}, text);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    std::string line;
    for (std::istringstream in(r.out); std::getline(in, line);)
        lines.push_back(line);
    ASSERT_GE(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines.front(), "{\"event\":\"start\"}");
    EXPECT_EQ(lines.back(), "{\"event\":\"end\"}");
    std::regex word(R"re(\{"event":"word","start":(\d+),"length":(\d+),"text":"([^"]*)"\})re");
    std::vector<std::string> words;
    int lastProgress = -1;
    for (const std::string &l : lines) {
        std::smatch m;
        if (std::regex_match(l, m, word))
            words.push_back(m[3]);
        std::smatch p;
        if (std::regex_match(l, p, std::regex(R"re(\{"event":"progress","percent":(\d+)\})re"))) {
            int percent = std::stoi(p[1]);
            EXPECT_GE(percent, lastProgress);
            lastProgress = percent;
        }
    }
    EXPECT_EQ(words, (std::vector<std::string>{"Hello", "world", "Ça", "va", "très", "bien"})) << r.out;
    EXPECT_EQ(lastProgress, 100);
}

TEST_F(CliTest, BadInputsFailWithOneClearLine)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *message;
    } cases[] = {
        {{"say", "-f", (dir_ / "missing.txt").string()}, 1, "cannot read"},
        {{"save", "hi", "-o", (dir_ / "no" / "such" / "folder.wav").string()}, 1, "does not exist"},
        {{"say", "-f", dir_.string()}, 1, "is a directory"},
        {{"save", "hi", "-o", dir_.string(), "--type", "wav"}, 1, "is a directory"},
    };
    for (const Case &c : cases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1] << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    struct UsageCase {
        std::vector<std::string> args;
        const char *message;
    } usageCases[] = {
        {{"say", "--voice", "no-such-voice-anywhere", "hi"}, "no such voice"},
        {{"say", "--voice", "99999", "hi"}, "the voices are 0.."},
        {{"save", "hi", "-o", (dir_ / "x.wav").string(), "--format", "999"}, "the wav formats are 0.."},
    };
    for (const UsageCase &c : usageCases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.status, 2) << c.args[0] << " " << c.args[2] << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "x.wav"));
}

TEST_F(CliTest, EmptyAndLongTexts)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    fs::path empty = dir_ / "empty.wav";
    Result r = Run({"save", "-", "-o", empty.string()}, "");
    EXPECT_EQ(r.status, 2) << r.err; // nothing on standard input is no text
    std::string longText;
    while (longText.size() < 20000)
        longText += "The quick brown fox jumps over the lazy dog. ";
    fs::path textFile = dir_ / "long.txt";
    std::ofstream(textFile) << longText;
    fs::path out = dir_ / "long.mp3";
    Result big = Run({"save", "-f", textFile.string(), "-o", out.string(), "--rate", "10"});
    ASSERT_EQ(big.status, 0) << big.err;
    EXPECT_GT(fs::file_size(out), 20000u);
}

TEST_F(CliTest, InterruptStopsSpeechAndClosesTheFile)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "This sentence is long enough to keep the engine busy for a while. ";
    fs::path out = dir_ / "interrupted.wav";
    int outFd, errFd, inFd;
    pid_t pid = Spawn({"say", "-", "--events", "json"}, outFd, errFd, inFd);
    ASSERT_EQ(write(inFd, text.data(), text.size()), (ssize_t)text.size());
    close(inFd);
    // Wait for the first word, then press Ctrl-C.
    std::string seen;
    char buffer[4096];
    while (seen.find("\"word\"") == std::string::npos) {
        ssize_t n = read(outFd, buffer, sizeof buffer);
        ASSERT_GT(n, 0) << seen;
        seen.append(buffer, (size_t)n);
    }
    kill(pid, SIGINT);
    Result rest;
    Drain(outFd, errFd, rest);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE((seen + rest.out).find("{\"event\":\"end\"}"), std::string::npos);
}

std::string ReadAll(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Files left in a folder whose names say they are someone's temporary.
std::vector<std::string> Leftovers(const fs::path &folder)
{
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".tmp") != std::string::npos)
            found.push_back(entry.path().filename().string());
    return found;
}

// A character device of the test's own (1,3 is null, 1,7 is full), so that a
// faulty build can only ever replace this node, never the system's.
bool MakeDevice(const fs::path &node, unsigned minor)
{
    return mknod(node.c_str(), S_IFCHR | 0666, makedev(1, minor)) == 0;
}

// Reads a FIFO on a thread of its own. It is open before the command runs,
// so the command's open does not wait, and a command that replaced the FIFO
// instead of writing it cannot leave the reader blocked.
class FifoReader {
public:
    explicit FifoReader(const fs::path &fifo) : fd_(open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
        thread_ = std::thread([this] { Read(); });
    }
    // Call once the writer has exited: returns everything it wrote.
    std::string Take()
    {
        writerDone_ = true;
        thread_.join();
        if (fd_ >= 0)
            close(fd_);
        return data_;
    }

private:
    void Read()
    {
        char buffer[65536];
        while (fd_ >= 0) {
            pollfd p = {fd_, POLLIN, 0};
            poll(&p, 1, 20);
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                data_.append(buffer, (size_t)n);
                continue;
            }
            if (writerDone_)
                break;
            if (n == 0)
                usleep(5000); // no writer yet, or between writers
        }
    }

    int fd_;
    std::atomic<bool> writerDone_{false};
    std::string data_;
    std::thread thread_;
};

bool MakeMp3(const fs::path &mp3, double seconds = 2)
{
    const std::string make = "ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=" + std::to_string(seconds) +
                             " -ar 22050 -ac 1 -c:a libmp3lame -b:a 64k '" + mp3.string() + "'";
    return std::system(make.c_str()) == 0;
}

TEST_F(CliTest, OptionsOutsideTheirCommandAndOutOfRangeAreUsageErrors)
{
    struct Case {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"say", "-o", "x.wav", "hi"}, "option --output does not belong to say"},
        {{"voices", "--voice", "1"}, "option --voice does not belong to voices"},
        {{"mp3-to-swf", "--rate", "3", "a.mp3", "b.swf"}, "option --rate does not belong to mp3-to-swf"},
        {{"formats", "--loop"}, "option --loop does not belong to formats"},
        {{"voices", "extra"}, "voices takes no arguments"},
        {{"describe", "extra"}, "describe takes no arguments"},
        {{"mp3-to-swf", "a.mp3", "b.swf", "c.swf"}, "one too many"},
        {{"say", "--rate", "11", "hi"}, "--rate must be -10..10, not 11"},
        {{"say", "--volume", "101", "hi"}, "--volume must be 0..100"},
        {{"say", "--volume", "-1", "hi"}, "--volume must be 0..100"},
        {{"say", "--pitch", "-11", "hi"}, "--pitch must be -10..10"},
        {{"save", "hi", "-o", "x.wav", "--format", "-1"}, "--format must be 0 or more"},
        {{"mp3-to-swf", "a.mp3", "b.swf", "--fps", "0"}, "--fps must be 1..255"},
        {{"mp3-to-swf", "a.mp3", "b.swf", "--fps", "256"}, "--fps must be 1..255"},
        {{"say", " \t\n "}, "the text is empty"},
    };
    for (const Case &c : cases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.status, 2) << c.args[0] << " " << c.args[1] << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

TEST_F(CliTest, TextWithANulIsRefusedNamingWhere)
{
    const fs::path text = dir_ / "nul.txt";
    std::ofstream(text, std::ios::binary) << std::string("Hello\0world", 11);
    Result r = Run({"save", "-f", text.string(), "-o", (dir_ / "out.wav").string()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("NUL byte at byte 5"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "out.wav"));
    Result piped = Run({"say", "-"}, std::string("ab\0", 3));
    EXPECT_EQ(piped.status, 1) << piped.err;
    EXPECT_NE(piped.err.find("NUL byte at byte 2"), std::string::npos) << piped.err;
}

TEST_F(CliTest, TextFileThatCannotBeReadIsOneClearLine)
{
    const fs::path locked = dir_ / "locked.txt";
    std::ofstream(locked) << "secret";
    fs::permissions(locked, fs::perms::none);
    struct Case {
        std::string file;
        const char *message;
        bool needsNonRoot;
    } cases[] = {
        {dir_.string(), "is a directory", false},
        {(dir_ / "missing.txt").string(), "no such file", false},
        {locked.string(), "permission denied", true},
    };
    for (const Case &c : cases) {
        if (c.needsNonRoot && geteuid() == 0)
            continue; // root reads any file
        Result r = Run({"save", "-f", c.file, "-o", (dir_ / "out.wav").string()});
        EXPECT_EQ(r.status, 1) << c.file << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

TEST_F(CliTest, SaveRefusesToOverwriteItsOwnInput)
{
    const fs::path text = dir_ / "story.txt";
    std::ofstream(text) << "Once upon a time.";
    fs::create_symlink(text, dir_ / "alias.wav");
    for (const fs::path &out : {text, dir_ / "alias.wav"}) {
        Result r = Run({"save", "-f", text.string(), "-o", out.string(), "--type", "wav"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("it is the input file"), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(text), "Once upon a time.");
    }
}

TEST_F(CliTest, Mp3ToSwfWritesDevicesAndLinksWithoutReplacingThem)
{
    const fs::path mp3 = dir_ / "tone.mp3";
    ASSERT_TRUE(MakeMp3(mp3));

    // A device or a pipe is written, not replaced by a regular file.
    const fs::path null = dir_ / "null", full = dir_ / "full", pipe = dir_ / "pipe";
    if (MakeDevice(null, 3) && MakeDevice(full, 7)) {
        Result toNull = Run({"mp3-to-swf", mp3.string(), null.string()});
        EXPECT_EQ(toNull.status, 0) << toNull.err;
        EXPECT_TRUE(fs::is_character_file(null));
        Result toFull = Run({"mp3-to-swf", mp3.string(), full.string()});
        EXPECT_EQ(toFull.status, 1) << toFull.err;
        EXPECT_NE(toFull.err.find("no space left"), std::string::npos) << toFull.err;
        EXPECT_TRUE(fs::is_character_file(full));
    }
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    FifoReader reader(pipe);
    Result toPipe = Run({"mp3-to-swf", mp3.string(), pipe.string()});
    const std::string piped = reader.Take();
    EXPECT_EQ(toPipe.status, 0) << toPipe.err;
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(piped.substr(0, 3), "FWS");

    // A symbolic link stays a link; its target gets the movie and keeps its mode.
    const fs::path target = dir_ / "target.swf", link = dir_ / "link.swf";
    std::ofstream(target) << "old";
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(target, link);
    Result viaLink = Run({"mp3-to-swf", mp3.string(), link.string()});
    ASSERT_EQ(viaLink.status, 0) << viaLink.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadAll(target).substr(0, 3), "FWS");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A hard link stays one file under both names.
    const fs::path second = dir_ / "second.swf";
    fs::create_hard_link(target, second);
    std::ofstream(target) << "old again";
    Result viaHardLink = Run({"mp3-to-swf", mp3.string(), second.string()});
    ASSERT_EQ(viaHardLink.status, 0) << viaHardLink.err;
    EXPECT_TRUE(fs::equivalent(target, second));
    EXPECT_EQ(ReadAll(target).substr(0, 3), "FWS");

    // Standard output.
    Result out = Run({"mp3-to-swf", mp3.string(), "-"});
    ASSERT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.out, ReadAll(target));

    // Refused: a directory, the input itself.
    Result directory = Run({"mp3-to-swf", mp3.string(), dir_.string()});
    EXPECT_EQ(directory.status, 1);
    EXPECT_NE(directory.err.find("is a directory"), std::string::npos) << directory.err;
    Result same = Run({"mp3-to-swf", mp3.string(), mp3.string()});
    EXPECT_EQ(same.status, 1);
    EXPECT_NE(same.err.find("it is the input file"), std::string::npos) << same.err;
    EXPECT_TRUE(Leftovers(dir_).empty());
}

TEST_F(CliTest, ReadOnlyOutputIsRefusedAsCpRefusesIt)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write any file, as cp does";
    const fs::path mp3 = dir_ / "tone.mp3", out = dir_ / "ro.swf";
    ASSERT_TRUE(MakeMp3(mp3));
    std::ofstream(out) << "keep";
    fs::permissions(out, fs::perms::owner_read);
    Result r = Run({"mp3-to-swf", mp3.string(), out.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("permission denied"), std::string::npos) << r.err;
    EXPECT_EQ(ReadAll(out), "keep");
}

TEST_F(CliTest, SaveToDevicesLinksAndStandardOutput)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    const fs::path pipe = dir_ / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    FifoReader reader(pipe);
    Result toPipe = Run({"save", "Hello.", "-o", pipe.string(), "--type", "wav"});
    const std::string piped = reader.Take();
    EXPECT_EQ(toPipe.status, 0) << toPipe.err;
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(piped.substr(0, 4), "RIFF");

    const fs::path target = dir_ / "speech.wav", link = dir_ / "link.wav";
    std::ofstream(target) << "old";
    fs::create_symlink(target, link);
    Result viaLink = Run({"save", "Hello.", "-o", link.string()});
    ASSERT_EQ(viaLink.status, 0) << viaLink.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(Probe(target, "stream=codec_name").find("pcm_"), std::string::npos);

    Result out = Run({"save", "Hello.", "-o", "-"});
    ASSERT_EQ(out.status, 0) << out.err;
    ASSERT_GT(out.out.size(), 44u);
    EXPECT_EQ(out.out.substr(0, 4), "RIFF");
    std::ofstream(dir_ / "stdout.wav", std::ios::binary) << out.out;
    EXPECT_NE(Probe(dir_ / "stdout.wav", "stream=codec_name").find("pcm_"), std::string::npos);
    Result typed = Run({"save", "Hello.", "-o", "-", "--type", "mp3"});
    ASSERT_EQ(typed.status, 0) << typed.err;
    std::ofstream(dir_ / "stdout.mp3", std::ios::binary) << typed.out;
    EXPECT_NE(Probe(dir_ / "stdout.mp3", "stream=codec_name").find("codec_name=mp3"), std::string::npos);
    EXPECT_TRUE(Leftovers(dir_).empty());
}

// A small file system of the test's own, to fill up and to make read-only.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const fs::path &where, const char *size = "256k") : where_(where)
    {
        fs::create_directories(where);
        const std::string mount =
            "mount -t tmpfs -o size=" + std::string(size) + " tmpfs '" + where.string() + "' 2>/dev/null";
        mounted_ = geteuid() == 0 && std::system(mount.c_str()) == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted_)
            std::system(("umount '" + where_.string() + "'").c_str());
    }
    bool mounted() const { return mounted_; }
    bool MakeReadOnly() const { return std::system(("mount -o remount,ro '" + where_.string() + "'").c_str()) == 0; }

private:
    fs::path where_;
    bool mounted_ = false;
};

TEST_F(CliTest, FullDiskLeavesTheExistingFileAlone)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    SmallFileSystem small(dir_ / "small");
    if (!small.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root and mount permission)";
    const fs::path out = dir_ / "small" / "speech.wav";
    std::ofstream(out) << "the old file";
    std::string text;
    while (text.size() < 3000)
        text += "This text makes far more audio than the small file system holds. ";
    for (const char *type : {"wav", "mp3"}) {
        Result r = Run({"save", "-", "-o", out.string(), "--type", type}, text);
        EXPECT_EQ(r.status, 1) << type << ": " << r.err;
        EXPECT_NE(r.err.find("no space left on the device"), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(out), "the old file") << type;
        EXPECT_TRUE(Leftovers(dir_ / "small").empty());
    }
    ASSERT_TRUE(small.MakeReadOnly());
    Result readOnly = Run({"save", "Hello.", "-o", out.string()});
    EXPECT_EQ(readOnly.status, 1);
    EXPECT_NE(readOnly.err.find("read-only file system"), std::string::npos) << readOnly.err;
    Result newFile = Run({"save", "Hello.", "-o", (dir_ / "small" / "new.wav").string()});
    EXPECT_EQ(newFile.status, 1);
    EXPECT_NE(newFile.err.find("read-only file system"), std::string::npos) << newFile.err;
}

TEST_F(CliTest, VoicesByLanguageTagAndUniquePartOfTheName)
{
    Result list = Run({"voices"});
    ASSERT_EQ(list.status, 0) << list.err;
    if (list.out.find("eSpeak NG English") == std::string::npos)
        GTEST_SKIP() << "no espeak-ng English voice installed";
    EXPECT_NE(list.out.find(" en-US "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find(" en-GB "), std::string::npos) << list.out;
    // Every row's tag column starts where the header's does, whatever the name.
    std::istringstream lines(list.out);
    std::string header, line;
    std::getline(lines, header);
    const size_t tagColumn = header.find("tag");
    ASSERT_NE(tagColumn, std::string::npos) << header;
    while (std::getline(lines, line)) {
        // Columns are counted in characters, not bytes.
        size_t column = 0, bytes = 0;
        while (bytes < line.size() && column < tagColumn) {
            if ((static_cast<unsigned char>(line[bytes]) & 0xC0) != 0x80)
                ++column;
            ++bytes;
        }
        while (bytes < line.size() && (static_cast<unsigned char>(line[bytes]) & 0xC0) == 0x80)
            ++bytes;
        ASSERT_LT(bytes, line.size()) << line;
        EXPECT_EQ(line[bytes - 1], ' ') << line;
        EXPECT_NE(line[bytes], ' ') << line;
    }
    struct Case {
        std::string voice;
        int status;
    } cases[] = {
        {"en", 0}, {"EN-gb", 0}, {"fr", 0}, {"Great Britain", 0}, {"xx-YY", 2}, {"eSpeak NG English", 2},
    };
    for (const Case &c : cases) {
        Result r = Run({"save", "Hi.", "-o", (dir_ / "voice.wav").string(), "--voice", c.voice});
        EXPECT_EQ(r.status, c.status) << c.voice << ": " << r.err;
    }
}

TEST_F(CliTest, NonAsciiVoiceNamesArriveWhole)
{
    Result list = Run({"voices"});
    ASSERT_EQ(list.status, 0) << list.err;
    if (list.out.find("eSpeak NG Norwegian") == std::string::npos)
        GTEST_SKIP() << "no espeak-ng Norwegian voice installed";
    EXPECT_NE(list.out.find("eSpeak NG Norwegian Bokm\xC3\xA5l "), std::string::npos) << list.out;
    Result r = Run({"save", "Hei.", "-o", (dir_ / "nb.wav").string(), "--voice", "eSpeak NG Norwegian Bokm\xC3\xA5l"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(CliTest, LosslessFormatsShowTheirBitsPerSample)
{
    struct Case {
        const char *type;
        const char *line;
    } cases[] = {
        {"wav", "    1     8  8kHz, 8Bit, Mono"},
        {"wav", "    3    16  8kHz, 16Bit, Mono"},
        {"flac", "    0     8  64kBPS, 8kHz, Mono"},
        {"flac", "    2    16  128kBPS, 8kHz, Mono"},
    };
    for (const Case &c : cases) {
        Result r = Run({"formats", c.type});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(c.line), std::string::npos) << c.type << "\n" << r.out;
    }
}

// What a saved file of each library-backed type must be, by the type's own tools.
struct SavedType {
    const char *label;
    const char *ffprobeCodec; // null: headerless, checked by decoding with sox
};

const SavedType kSavedTypes[] = {
    {"ogg", "vorbis"}, {"flac", "flac"}, {"vox", nullptr}, {"au", "pcm_s16be"}, {"aiff", "pcm_s16be"},
};

TEST_F(CliTest, SaveEveryTypeByEachExtensionAndByName)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    for (const SavedType &t : kSavedTypes) {
        const FileTypeDescriptor *type = FindFileTypeByName(t.label);
        ASSERT_NE(type, nullptr) << t.label;
        std::vector<std::vector<std::string>> saves;
        for (std::string_view name : type->names)
            saves.push_back({"-o", (dir_ / ("speech." + std::string(name))).string()});
        saves.push_back({"-o", (dir_ / (std::string(t.label) + ".bin")).string(), "--type", t.label});
        for (const std::vector<std::string> &how : saves) {
            std::vector<std::string> args = {"save", "Hello there."};
            args.insert(args.end(), how.begin(), how.end());
            const fs::path out = how[1];
            SCOPED_TRACE(out.filename().string());
            Result r = Run(args);
            ASSERT_EQ(r.status, 0) << r.err;
            if (t.ffprobeCodec) {
                EXPECT_NE(Probe(out, "stream=codec_name").find(std::string("codec_name=") + t.ffprobeCodec),
                          std::string::npos);
            } else {
                // The first VOX entry: 6 kHz; the speech decodes to sound, not silence.
                std::string stat;
                if (FILE *p = popen(("sox -t vox -r 6000 -c 1 '" + out.string() + "' -n stat 2>&1").c_str(), "r")) {
                    char line[256];
                    while (fgets(line, sizeof line, p))
                        stat += line;
                    pclose(p);
                }
                const size_t at = stat.find("RMS     amplitude:");
                ASSERT_NE(at, std::string::npos) << stat;
                EXPECT_GT(std::atof(stat.c_str() + at + 18), 0.01) << stat;
            }
        }
    }
}

TEST_F(CliTest, FormatsListEveryRowOfTheFileTypeTable)
{
    Result r = Run({"formats"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const FileTypeDescriptor &type : AllFileTypes()) {
        // WAV lists the voice's own format first.
        const size_t count = IsFileTypeAvailable(type) ? type.formats.size() + (type.nFileFormat == 0) : 0;
        const std::regex line("(^|\n) *" + std::to_string(type.nFileFormat) + " +" + std::string(type.label) + " +" +
                              std::to_string(count) + "( |\n)");
        EXPECT_TRUE(std::regex_search(r.out, line)) << type.label << "\n" << r.out;
        Result one = Run({"formats", std::string(type.names.front())});
        if (count == 0) {
            EXPECT_EQ(one.status, 1) << type.label;
            continue;
        }
        ASSERT_EQ(one.status, 0) << type.label << ": " << one.err;
        EXPECT_NE(one.out.find("\n" + std::string(5 - std::to_string(count - 1).size(), ' ') +
                               std::to_string(count - 1) + "  "),
                  std::string::npos)
            << one.out;
    }
    Result help = Run({"save", "--help"});
    for (const FileTypeDescriptor &type : AllFileTypes())
        for (std::string_view name : type.names)
            EXPECT_NE(help.out.find(" ." + std::string(name)), std::string::npos) << name << "\n" << help.out;
}

TEST_F(CliTest, RegistryInAMissingFolderIsAnError)
{
    registry_ = dir_ / "no" / "such" / "registry.db";
    Result r = Run({"formats"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the folder " + (dir_ / "no" / "such").string() + " does not exist"), std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "no"));
}

TEST_F(CliTest, ReadOnlyRegistryIsStillRead)
{
    SmallFileSystem small(dir_ / "ro", "32m");
    const bool mounted = small.mounted();
    registry_ = dir_ / "ro" / "registry.db";
    if (!mounted && geteuid() == 0)
        GTEST_SKIP() << "root writes any file; a read-only mount is needed and cannot be made here";
    ASSERT_EQ(Run({"register"}).status, 0);
    const Result before = Run({"voices"});
    ASSERT_EQ(before.status, 0) << before.err;
    if (mounted) {
        ASSERT_TRUE(small.MakeReadOnly());
    } else {
        fs::permissions(registry_, fs::perms::owner_read);
        fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    }
    Result voices = Run({"voices"});
    EXPECT_EQ(voices.status, 0) << voices.err;
    EXPECT_EQ(voices.out, before.out);
    Result formats = Run({"formats", "wav"});
    EXPECT_EQ(formats.status, 0) << formats.err;
    Result reg = Run({"register"});
    EXPECT_EQ(reg.status, 1);
    EXPECT_NE(reg.err.find("is read-only"), std::string::npos) << reg.err;
    if (!mounted)
        fs::permissions(dir_ / "ro", fs::perms::owner_all);
}

// Runs the command on a terminal of its own (through script) and returns all
// it printed there, standard error included.
std::string RunOnTerminal(const fs::path &registry, const std::string &arguments)
{
    const std::string command = "ORAFON_REGISTRY='" + registry.string() + "' script -qec \"'" + Command() + "' " +
                                arguments + "\" /dev/null 2>&1";
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        pclose(p);
    }
    return out;
}

TEST_F(CliTest, ProgressBarEndsItsLineAndQuietHidesIt)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    if (std::system("command -v script >/dev/null") != 0)
        GTEST_SKIP() << "script (util-linux) is not installed";
    const std::string shown = RunOnTerminal(registry_, "save 'Hello there.' -o '" + (dir_ / "a.wav").string() + "'");
    ASSERT_NE(shown.find("100%"), std::string::npos) << shown;
    EXPECT_EQ(shown.back(), '\n') << shown;
    const std::string quiet =
        RunOnTerminal(registry_, "save 'Hello there.' -o '" + (dir_ / "b.wav").string() + "' --quiet");
    EXPECT_EQ(quiet.find('%'), std::string::npos) << quiet;
    EXPECT_TRUE(fs::exists(dir_ / "b.wav"));

    // A failure found after the bar was drawn starts a line of its own.
    SmallFileSystem small(dir_ / "small");
    if (!small.mounted())
        return;
    std::string text;
    while (text.size() < 3000)
        text += "This text makes far more audio than the small file system holds. ";
    std::ofstream(dir_ / "long.txt") << text;
    const std::string failed = RunOnTerminal(registry_, "save -f '" + (dir_ / "long.txt").string() + "' -o '" +
                                                            (dir_ / "small" / "c.wav").string() + "'");
    const size_t message = failed.find("orafon: cannot write");
    ASSERT_NE(message, std::string::npos) << failed;
    if (failed.find('%') < message) { // the bar was drawn before the disk filled
        EXPECT_EQ(failed[message - 1], '\n') << failed;
    }
}

TEST_F(CliTest, StandardOutputClosedEarlyIsAFailureThatLeavesNothing)
{
    if (!HasVoices())
        GTEST_SKIP() << "no voice installed";
    // Some seconds of audio: far more than a pipe holds once its reader is gone.
    const std::string command = "TMPDIR='" + dir_.string() + "' ORAFON_REGISTRY='" + registry_.string() + "' '" +
                                Command() + "' save -o - 'One two three four five six seven eight nine ten. " +
                                "One two three four five six seven eight nine ten.' 2>/dev/null | head -c 4 " +
                                ">/dev/null; echo ${PIPESTATUS[0]}";
    const fs::path script = dir_ / "closed-early.sh";
    std::ofstream(script) << command << "\n";
    std::string status;
    if (FILE *p = popen(("bash '" + script.string() + "'").c_str(), "r")) {
        char line[64];
        while (fgets(line, sizeof line, p))
            status += line;
        pclose(p);
    }
    EXPECT_EQ(status, "1\n");
    fs::remove(script);
    EXPECT_TRUE(Leftovers(dir_).empty());
}

TEST_F(CliTest, ConcurrentRegistrationsLeaveEachOtherAlone)
{
    // Four registrations at once on one registry, round after round: none
    // may delete keys another one is writing (0x800703FA before), and the
    // component stays usable after them.
    ASSERT_EQ(Run({"register"}).status, 0);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        struct Running {
            pid_t pid;
            int out, err, in;
        };
        std::vector<Running> running(4);
        for (Running &r : running) {
            r.pid = Spawn({"register"}, r.out, r.err, r.in);
            close(r.in);
        }
        for (Running &r : running) {
            Result result;
            Drain(r.out, r.err, result);
            int status = 0;
            waitpid(r.pid, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << result.err;
        }
    }
    Result formats = Run({"formats", "wav"});
    EXPECT_EQ(formats.status, 0) << formats.err;
    Result unreg = Run({"unregister"});
    EXPECT_EQ(unreg.status, 0) << unreg.err;
}

} // namespace

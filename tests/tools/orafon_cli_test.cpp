// Runs the orafon command as a user would, in a child process with a
// registry of its own, and checks its output, files and exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;

namespace {

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
        std::vector<std::string> argv = {ORAFON_CLI};
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
        EXPECT_EQ(posix_spawn(&pid, ORAFON_CLI, &actions, nullptr, cargv.data(), cenv.data()), 0);
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
    EXPECT_NE(junk.err.find("not a readable MP3"), std::string::npos) << junk.err;
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
        {{"say", "--voice", "no-such-voice-anywhere", "hi"}, 1, "no such voice"},
        {{"say", "--voice", "99999", "hi"}, 1, "no such voice"},
        {{"save", "hi", "-o", "/dev/full", "--type", "wav"}, 1, "cannot write"},
        {{"save", "hi", "-o", (dir_ / "x.wav").string(), "--format", "999"}, 1, "no wave format 999"},
    };
    for (const Case &c : cases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args[1] << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
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

} // namespace

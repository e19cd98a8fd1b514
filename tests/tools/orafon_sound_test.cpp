// The orafon command interrupted at any moment, and speaking aloud through a
// real sound server: `say` with a voice of each generation through
// PulseAudio, and through ALSA to the same server.
#include "support/SoundServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

namespace fs = std::filesystem;
using orafon::test::Loudness;
using orafon::test::MonitorRecording;
using orafon::test::SoundServer;
using Clock = std::chrono::steady_clock;

// Waits for a command's end are a guard against a hang, not a speed limit.
constexpr auto kGuard = std::chrono::seconds(90);

// The folder, registry and inputs every test of this process shares.
const fs::path &Work()
{
    static const fs::path dir = [] {
        char pattern[] = "/tmp/orafon-sound-cli-XXXXXX";
        const char *made = ::mkdtemp(pattern);
        return fs::path(made ? made : "/tmp");
    }();
    return dir;
}

std::string ReadText(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Capture(const std::string &command)
{
    std::string out;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

struct Ended {
    bool hung = false;
    bool exited = false;
    int status = -1; // the exit status, or 128 + the signal that ended it
};

class Child {
public:
    // Starts orafon with args. With signalsHeld, SIGINT and SIGTERM start
    // blocked, as the command blocks them first thing anyway: a signal sent
    // at once then waits for the command's own handling instead of hitting
    // the program loader.
    Child(const std::vector<std::string> &args, const std::vector<std::string> &env, bool signalsHeld)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        const std::string out = (Work() / "child.out").string(), err = (Work() / "child.err").string();
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        if (signalsHeld) {
            sigset_t held;
            sigemptyset(&held);
            sigaddset(&held, SIGINT);
            sigaddset(&held, SIGTERM);
            posix_spawnattr_setsigmask(&attr, &held);
            posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
        }
        std::vector<std::string> argv = {ORAFON_CLI};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char *> cargv, cenv;
        for (auto &a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        std::vector<std::string> environment;
        for (char **e = environ; *e; ++e)
            environment.emplace_back(*e);
        environment.insert(environment.end(), env.begin(), env.end()); // later entries win
        for (auto &e : environment)
            cenv.push_back(e.data());
        cenv.push_back(nullptr);
        if (posix_spawn(&pid_, ORAFON_CLI, &actions, &attr, cargv.data(), cenv.data()) != 0)
            pid_ = -1;
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        started_ = Clock::now();
    }
    ~Child()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool Running() const { return pid_ > 0; }
    // Sleeps until ms after the start; true when the command still runs then.
    bool RunningAt(std::chrono::milliseconds ms)
    {
        std::this_thread::sleep_until(started_ + ms);
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_)
            return true;
        Record(status);
        return false;
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    Ended Wait()
    {
        const auto until = Clock::now() + kGuard;
        while (pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                Record(status);
                break;
            }
            if (Clock::now() > until) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                pid_ = -1;
                ended_.hung = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return ended_;
    }
    static std::string Errors() { return ReadText(Work() / "child.err"); }

private:
    void Record(int status)
    {
        ended_.exited = WIFEXITED(status);
        ended_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
    }
    pid_t pid_ = -1;
    Clock::time_point started_;
    Ended ended_;
};

// Temporary files of an output being made, anywhere a command may put them.
std::vector<std::string> Leftovers(const fs::path &folder)
{
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().find(".orafon-") != std::string::npos)
            found.push_back(entry.path().string());
    return found;
}

const fs::path &LongTextFile()
{
    static const fs::path path = [] {
        fs::path p = Work() / "long.txt";
        std::ofstream out(p);
        for (int i = 0; i < 400; ++i)
            out << "This sentence is long enough to keep the engine busy for a while. ";
        return p;
    }();
    return path;
}

// Some minutes of MP3, made once with lame.
const fs::path &LongMp3()
{
    static const fs::path path = [] {
        const fs::path wav = Work() / "tone.wav", mp3 = Work() / "long.mp3";
        Capture("sox -n -r 22050 -c 1 -b 16 '" + wav.string() +
                "' synth 240 sine 300-3000 2>&1 && lame --quiet -b 32 '" + wav.string() + "' '" + mp3.string() +
                "' 2>&1");
        return mp3;
    }();
    return path;
}

class OrafonInterrupt : public testing::Test {
protected:
    void SetUp() override
    {
        outputs_ = Work() / ("case-" + std::to_string(++cases_));
        fs::create_directories(outputs_);
        env_ = {"ORAFON_REGISTRY=" + (Work() / "registry.db").string(), "ORAFON_AUDIO_DEVICE=silent",
                "ORAFON_AUDIO_FAST=0", "TMPDIR=" + outputs_.string()};
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(outputs_, ec);
    }

    // Interrupts the command at the moment given and checks how it ended:
    // interrupted (the status of the signal, the existing output as it was,
    // no temporary file anywhere), or, when it had finished by then, a
    // success with a complete output.
    void InterruptAt(const std::vector<std::string> &args, const fs::path &output, std::chrono::milliseconds at,
                     int signal = SIGINT)
    {
        SCOPED_TRACE(args[0] + " interrupted at " + std::to_string(at.count()) + " ms");
        const bool regularOutput = !output.empty() && !fs::exists(output);
        if (regularOutput)
            std::ofstream(output) << "the user's own file";
        Child child(args, env_, true);
        ASSERT_TRUE(child.Running());
        const bool interrupted = at.count() == 0 || child.RunningAt(at);
        if (interrupted)
            child.Signal(signal);
        const Ended ended = child.Wait();
        ASSERT_FALSE(ended.hung) << "the command did not end after the interrupt; " << Child::Errors();
        if (interrupted && ended.status == 0 && regularOutput) {
            // The signal came as the command was ending, after its output
            // was in place: that output must then be whole.
            std::vector<std::string> again = args;
            const fs::path reference = outputs_ / ("reference" + output.extension().string());
            std::replace(again.begin(), again.end(), output.string(), reference.string());
            Child whole(again, env_, false);
            EXPECT_EQ(0, whole.Wait().status) << Child::Errors();
            EXPECT_TRUE(ReadText(reference) == ReadText(output)) << "an output claimed as done is not whole";
            fs::remove(reference);
        } else if (interrupted) {
            EXPECT_TRUE(ended.exited) << "ended by signal " << ended.status - 128;
            EXPECT_EQ(128 + signal, ended.status) << Child::Errors();
            if (regularOutput) {
                EXPECT_EQ("the user's own file", ReadText(output));
            }
        } else {
            EXPECT_EQ(0, ended.status) << Child::Errors();
            if (regularOutput) {
                EXPECT_NE("", Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + output.string() +
                                      "'"));
            }
        }
        EXPECT_EQ(std::vector<std::string>{}, Leftovers(outputs_));
        if (!output.empty() && output.parent_path() != outputs_) {
            EXPECT_EQ(std::vector<std::string>{}, Leftovers(output.parent_path()));
        }
    }

    fs::path outputs_;
    std::vector<std::string> env_;
    static inline int cases_ = 0;
};

const std::chrono::milliseconds kMoments[] = {std::chrono::milliseconds(0), std::chrono::milliseconds(10),
                                              std::chrono::milliseconds(50), std::chrono::milliseconds(150),
                                              std::chrono::milliseconds(500)};

TEST_F(OrafonInterrupt, SayEndsWith130WheneverItComes)
{
    for (const auto at : kMoments)
        InterruptAt({"say", "-f", LongTextFile().string()}, {}, at);
}

TEST_F(OrafonInterrupt, SaveEndsWith130AndLeavesTheExistingFile)
{
    for (const auto at : kMoments) {
        const fs::path out = outputs_ / ("story-" + std::to_string(at.count()) + ".wav");
        InterruptAt({"save", "-f", LongTextFile().string(), "-o", out.string()}, out, at);
    }
}

TEST_F(OrafonInterrupt, SaveWithAFliteVoiceEndsWith130)
{
    for (const auto at : {std::chrono::milliseconds(10), std::chrono::milliseconds(150)}) {
        const fs::path out = outputs_ / ("flite-" + std::to_string(at.count()) + ".wav");
        InterruptAt({"save", "-f", LongTextFile().string(), "-o", out.string(), "--voice", "Flite kal16"}, out, at);
    }
}

TEST_F(OrafonInterrupt, Mp3ToSwfEndsWith130AndLeavesTheExistingFile)
{
    ASSERT_TRUE(fs::exists(LongMp3()));
    for (const auto at : kMoments) {
        const fs::path out = outputs_ / ("movie-" + std::to_string(at.count()) + ".swf");
        InterruptAt({"mp3-to-swf", LongMp3().string(), out.string()}, out, at);
    }
}

// A pipe whose reader takes nothing keeps the command writing: the
// interrupt must still end it.
TEST_F(OrafonInterrupt, Mp3ToSwfIntoAStalledPipeEndsWith130)
{
    ASSERT_TRUE(fs::exists(LongMp3()));
    for (const auto at : kMoments) {
        const fs::path fifo = outputs_ / ("pipe-" + std::to_string(at.count()));
        ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        InterruptAt({"mp3-to-swf", LongMp3().string(), fifo.string()}, fifo,
                    std::max(at, std::chrono::milliseconds(1)));
        ::close(reader);
    }
}

TEST_F(OrafonInterrupt, SigtermEndsWith143)
{
    const fs::path wav = outputs_ / "term.wav", swf = outputs_ / "term.swf";
    InterruptAt({"say", "-f", LongTextFile().string()}, {}, std::chrono::milliseconds(150), SIGTERM);
    InterruptAt({"save", "-f", LongTextFile().string(), "-o", wav.string()}, wav, std::chrono::milliseconds(150),
                SIGTERM);
    InterruptAt({"mp3-to-swf", LongMp3().string(), swf.string()}, swf, std::chrono::milliseconds(10), SIGTERM);
}

// ---- say through a real sound server ---------------------------------------------

struct Output {
    const char *device;
    const char *voice;
};

class OrafonSayAloud : public testing::TestWithParam<Output> {
protected:
    void SetUp() override
    {
        server_ = &SoundServer::Shared();
        ASSERT_TRUE(server_->ok()) << server_->error();
        env_ = {"ORAFON_REGISTRY=" + (Work() / "registry.db").string(),
                std::string("ORAFON_AUDIO_DEVICE=") + GetParam().device};
        if (std::string(GetParam().device) == "alsa")
            env_.push_back("ALSA_CONFIG_PATH=" + server_->AlsaConfiguration((Work() / "alsa-copy.raw").string()));
    }

    // Seconds of loud audio in what `orafon save` writes for the text.
    double ReferenceSeconds(const std::string &text)
    {
        const fs::path wav = Work() / "reference.wav", raw = Work() / "reference.raw";
        Child save({"save", text, "-o", wav.string(), "--voice", GetParam().voice}, env_, false);
        EXPECT_EQ(0, save.Wait().status) << Child::Errors();
        Capture("sox '" + wav.string() + "' -t raw -r " + std::to_string(SoundServer::kRate) +
                " -c 1 -b 16 -e signed '" + raw.string() + "'");
        return Loudness(orafon::test::ReadPcm16(raw.string()), SoundServer::kRate).LoudSeconds();
    }

    SoundServer *server_ = nullptr;
    std::vector<std::string> env_;
};

TEST_P(OrafonSayAloud, SayEndsOnceAllIsHeard)
{
    const std::string text = "Hi there. This is spoken aloud through the sound server.";
    const double expected = ReferenceSeconds(text);
    ASSERT_GT(expected, 1.0);
    MonitorRecording recording(*server_);
    ASSERT_TRUE(recording.ok());
    Child say({"say", text, "--voice", GetParam().voice}, env_, false);
    const Ended ended = say.Wait();
    ASSERT_FALSE(ended.hung) << "say did not end";
    EXPECT_EQ(0, ended.status) << Child::Errors();
    EXPECT_EQ(std::string::npos, Child::Errors().find("no audio device")) << Child::Errors();
    // A further half second of recording after the command's end.
    const size_t target = recording.Bytes() + SoundServer::kRate;
    const auto until = Clock::now() + kGuard;
    while (recording.Bytes() < target && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const Loudness heard(recording.Samples(), SoundServer::kRate);
    EXPECT_NEAR(expected, heard.LoudSeconds(), 0.15 + expected * 0.1);
}

const fs::path &EmptyAlsaConfiguration()
{
    static const fs::path path = [] {
        fs::path p = Work() / "empty-alsa.conf";
        std::ofstream(p) << "# no PCM is defined here\n";
        return p;
    }();
    return path;
}

// With no output the platform speaks through a silent stand-in: say tells
// the user once, and still runs its course.
TEST(OrafonNoSoundDevice, SaySaysOnceThatNothingIsHeard)
{
    const std::string message = "no audio device was found; the speech is not heard";
    const std::string registry = "ORAFON_REGISTRY=" + (Work() / "registry.db").string();
    struct Row {
        std::vector<std::string> env;
        size_t notes;
    };
    const Row rows[] = {
        {{"ORAFON_AUDIO_DEVICE=pulse", "PULSE_SERVER=unix:" + (Work() / "no-such-socket").string()}, 1},
        // ALSA with a configuration that defines no PCM fails as it would
        // without a card, whatever this machine has.
        {{"ORAFON_AUDIO_DEVICE=", "PULSE_SERVER=unix:" + (Work() / "no-such-socket").string(),
          "ALSA_CONFIG_PATH=" + EmptyAlsaConfiguration().string()},
         1},
        {{"ORAFON_AUDIO_DEVICE=silent"}, 0},
        {{"ORAFON_AUDIO_CAPTURE=" + (Work() / "capture.wav").string()}, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.env[0]);
        std::vector<std::string> env = row.env;
        env.push_back(registry);
        env.push_back("ORAFON_AUDIO_FAST=1");
        Child say({"say", "Hello there"}, env, false);
        const Ended ended = say.Wait();
        ASSERT_FALSE(ended.hung);
        EXPECT_EQ(0, ended.status) << Child::Errors();
        const std::string errors = Child::Errors();
        size_t count = 0;
        for (size_t at = errors.find(message); at != std::string::npos; at = errors.find(message, at + 1))
            ++count;
        EXPECT_EQ(row.notes, count) << errors;
    }
}

TEST_P(OrafonSayAloud, InterruptedSayEndsWith130AndFallsSilent)
{
    MonitorRecording recording(*server_);
    ASSERT_TRUE(recording.ok());
    Child say({"say", "-f", LongTextFile().string(), "--voice", GetParam().voice}, env_, true);
    // Interrupt once the speech is heard.
    const auto until = Clock::now() + kGuard;
    while (Loudness(recording.Samples(), SoundServer::kRate).LoudSeconds() < 0.3 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    say.Signal(SIGINT);
    const Ended ended = say.Wait();
    ASSERT_FALSE(ended.hung) << "say did not end after Ctrl-C";
    EXPECT_EQ(130, ended.status) << Child::Errors();
    const size_t endedAt = recording.SampleNow();
    const size_t target = recording.Bytes() + SoundServer::kRate;
    while (recording.Bytes() < target && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const Loudness heard(recording.Samples(), SoundServer::kRate);
    EXPECT_LT(heard.LoudSeconds(endedAt), 0.1);
}

INSTANTIATE_TEST_SUITE_P(Outputs, OrafonSayAloud,
                         testing::Values(Output{"pulse", "eSpeak NG English (America)"}, Output{"pulse", "Flite kal16"},
                                         Output{"alsa", "eSpeak NG English (America)"}, Output{"alsa", "Flite kal16"}),
                         [](const testing::TestParamInfo<Output> &row) {
                             return std::string(row.param.device) + (row.param.voice[0] == 'e' ? "_espeak" : "_flite");
                         });

class WorkCleanup : public testing::Environment {
public:
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(Work(), ec);
    }
};
const auto *const kCleanup = testing::AddGlobalTestEnvironment(new WorkCleanup);

} // namespace

// Test helpers for speaking through a real sound server: a PulseAudio server
// of the test's own (a null sink in a private runtime folder, stopped at the
// end), a recording of that sink's monitor, an ALSA configuration whose
// default device copies what it plays into a file on its way to that server,
// and measures of where a recording is loud.
//
// Every helper works when the tests run as root: the server is started as a
// per-user server whose runtime folder, home and socket are the test's own.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace orafon::test {

namespace sound_detail {

inline pid_t Spawn(const std::vector<std::string> &args, const std::string &outPath, const std::string &errPath,
                   const std::vector<std::pair<std::string, std::string>> &extraEnv = {},
                   const std::string &inPath = "/dev/null")
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const auto &[name, value] : extraEnv)
            replaced = replaced || entry.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            env.push_back(entry);
    }
    for (const auto &[name, value] : extraEnv)
        env.push_back(name + "=" + value);
    // The child dies with this process, however that ends (a test that
    // aborts must not leave a server running for ever).
    std::vector<std::string> withDeathSignal = {"setpriv", "--pdeathsig", "KILL", "--"};
    withDeathSignal.insert(withDeathSignal.end(), args.begin(), args.end());
    std::vector<char *> argv, envp;
    for (const std::string &a : withDeathSignal)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string &e : env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Ends a child: a polite signal first, then a kill after the grace.
inline void Stop(pid_t pid, int signal, std::chrono::milliseconds grace)
{
    if (pid <= 0)
        return;
    ::kill(pid, signal);
    const auto until = std::chrono::steady_clock::now() + grace;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

inline int RunQuietly(const std::vector<std::string> &args)
{
    const pid_t pid = Spawn(args, "/dev/null", "/dev/null");
    if (pid <= 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Sets a variable for the holder's lifetime and puts back what was there.
class EnvOverride {
public:
    EnvOverride(std::string name, const std::string &value) : name_(std::move(name))
    {
        if (const char *old = std::getenv(name_.c_str()))
            old_ = old;
        ::setenv(name_.c_str(), value.c_str(), 1);
    }
    ~EnvOverride()
    {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    EnvOverride(const EnvOverride &) = delete;
    EnvOverride &operator=(const EnvOverride &) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace sound_detail

// A PulseAudio server with one null sink, "orafon_test", at 22050 Hz mono.
// While it lives, this process (and the children it starts) reach it and
// only it: the variables a client reads point at its socket.
class SoundServer {
public:
    static constexpr unsigned kRate = 22050;

    SoundServer()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orafon-pulse-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            error_ = "cannot make a folder for the sound server";
            return;
        }
        dir_ = pattern;
        std::filesystem::create_directories(dir_ + "/pulse");
        std::ofstream(dir_ + "/client.conf") << "autospawn = no\n";
        socket_ = dir_ + "/pulse/native";
        const std::vector<std::pair<std::string, std::string>> serverEnv = {{"HOME", dir_},
                                                                            {"XDG_RUNTIME_DIR", dir_},
                                                                            {"PULSE_RUNTIME_PATH", dir_ + "/pulse"},
                                                                            {"XDG_CONFIG_HOME", dir_ + "/config"},
                                                                            {"PULSE_STATE_PATH", dir_ + "/state"}};
        pid_ = sound_detail::Spawn({"pulseaudio", "--daemonize=no", "--system=no", "--use-pid-file=no",
                                    "--exit-idle-time=-1", "--realtime=no", "--high-priority=no", "-n",
                                    "--log-target=stderr", "--log-level=error",
                                    "--load=module-null-sink sink_name=orafon_test rate=22050 channels=1",
                                    "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket_},
                                   "/dev/null", dir_ + "/server.log", serverEnv);
        if (pid_ <= 0) {
            error_ = "cannot start pulseaudio (is it installed?)";
            return;
        }
        env_.emplace_back("XDG_RUNTIME_DIR", dir_);
        env_.emplace_back("PULSE_RUNTIME_PATH", dir_ + "/pulse");
        env_.emplace_back("PULSE_SERVER", "unix:" + socket_);
        env_.emplace_back("PULSE_CLIENTCONFIG", dir_ + "/client.conf");
        for (const auto &[name, value] : env_)
            overrides_.push_back(std::make_unique<sound_detail::EnvOverride>(name, value));
        if (!WaitUntilReady()) {
            error_ = "the sound server did not come up: " + Log();
            return;
        }
        // An idle sink renders in blocks of two seconds, and a recording
        // would get nothing for that long: a stream of silence keeps it at a
        // short latency for good.
        keeper_ = sound_detail::Spawn({"pacat", "--server=" + server(), "--raw", "--format=s16le",
                                       "--rate=" + std::to_string(kRate), "--channels=1", "--latency-msec=20"},
                                      "/dev/null", dir_ + "/keeper.log", {}, "/dev/zero");
        if (keeper_ <= 0)
            error_ = "cannot start pacat (is pulseaudio-utils installed?)";
    }

    ~SoundServer()
    {
        overrides_.clear();
        sound_detail::Stop(keeper_, SIGTERM, std::chrono::seconds(5));
        sound_detail::Stop(pid_, SIGTERM, std::chrono::seconds(5));
        std::error_code ec;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ec);
    }
    SoundServer(const SoundServer &) = delete;
    SoundServer &operator=(const SoundServer &) = delete;

    // One server for the whole test process, started at first use and
    // stopped at exit: a new server's sink takes two seconds to start
    // rendering, so tests share it (each records only its own stretch).
    static SoundServer &Shared()
    {
        static SoundServer server;
        return server;
    }

    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }
    const std::string &dir() const { return dir_; }
    std::string server() const { return "unix:" + socket_; }
    static std::string Monitor() { return "orafon_test.monitor"; }
    std::string Log() const
    {
        std::ifstream in(dir_ + "/server.log");
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Writes an ALSA configuration whose default device copies the raw PCM
    // it plays into copyPath and plays it on this server; returns its path,
    // for ALSA_CONFIG_PATH.
    std::string AlsaConfiguration(const std::string &copyPath) const
    {
        const std::string path = dir_ + "/asound.conf";
        std::ofstream(path) << "pcm.!default {\n"
                               "    type file\n"
                               "    file \""
                            << copyPath
                            << "\"\n"
                               "    format \"raw\"\n"
                               "    slave.pcm { type pulse server \""
                            << server()
                            << "\" }\n"
                               "}\n";
        return path;
    }

private:
    bool WaitUntilReady()
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < until) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            if (std::filesystem::exists(socket_) &&
                sound_detail::RunQuietly({"pactl", "--server=" + server(), "info"}) == 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    std::string dir_;
    std::string socket_;
    std::string error_;
    pid_t pid_ = -1;
    pid_t keeper_ = -1;
    std::vector<std::pair<std::string, std::string>> env_;
    std::vector<std::unique_ptr<sound_detail::EnvOverride>> overrides_;
};

// Raw 16-bit mono samples from a file (a recording, or an ALSA copy).
inline std::vector<int16_t> ReadPcm16(const std::string &path, size_t skipBytes = 0)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> samples;
    for (size_t i = skipBytes; i + 1 < bytes.size(); i += 2)
        samples.push_back(
            static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return samples;
}

// What the server's sink plays, from when the recording starts until Stop,
// as raw 16-bit mono samples at the sink's rate.
class MonitorRecording {
public:
    explicit MonitorRecording(const SoundServer &server)
        : path_(server.dir() + "/monitor-" + std::to_string(++Counter()) + ".raw")
    {
        pid_ = sound_detail::Spawn({"parec", "--server=" + server.server(), "--device=" + SoundServer::Monitor(),
                                    "--format=s16le", "--rate=" + std::to_string(SoundServer::kRate), "--channels=1",
                                    "--latency-msec=10", "--process-time-msec=5", "--raw"},
                                   path_, server.dir() + "/parec.log");
        // The recording runs once its first bytes (the sink's silence) arrive.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (pid_ > 0 && Bytes() == 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~MonitorRecording() { Stop(); }
    MonitorRecording(const MonitorRecording &) = delete;
    MonitorRecording &operator=(const MonitorRecording &) = delete;

    bool ok() const { return pid_ > 0 && Bytes() > 0; }
    size_t Bytes() const
    {
        std::error_code ec;
        const auto size = std::filesystem::file_size(path_, ec);
        const size_t bytes = ec ? 0 : static_cast<size_t>(size);
        Observe(bytes);
        return bytes;
    }
    // The recording's sample that the sink played at that moment. The sink
    // runs on the system clock, so sample k plays at start + k / rate; the
    // start is judged from the least delayed of all the sizes seen so far,
    // as a busy machine only ever makes the recording arrive late. Finding
    // moments this way, not by the size at that moment, keeps a recorder
    // that lags from making the sound seem to go on for longer.
    size_t SampleAt(std::chrono::steady_clock::time_point moment) const
    {
        Bytes();
        const double seconds = std::chrono::duration<double>(moment - start_).count();
        return seconds <= 0 ? 0 : static_cast<size_t>(seconds * SoundServer::kRate);
    }
    size_t SampleNow() const { return SampleAt(std::chrono::steady_clock::now()); }
    // The samples recorded so far.
    std::vector<int16_t> Samples() const { return ReadPcm16(path_); }
    void Stop()
    {
        sound_detail::Stop(pid_, SIGINT, std::chrono::seconds(5));
        pid_ = -1;
    }

private:
    void Observe(size_t bytes) const
    {
        if (bytes == 0)
            return;
        const auto now = std::chrono::steady_clock::now();
        const auto start = now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     std::chrono::duration<double>(bytes / 2.0 / SoundServer::kRate));
        if (!started_ || start < start_) {
            start_ = start;
            started_ = true;
        }
    }
    static int &Counter()
    {
        static int counter = 0;
        return counter;
    }
    std::string path_;
    pid_t pid_ = -1;
    mutable bool started_ = false;
    mutable std::chrono::steady_clock::time_point start_;
};

// Where a recording is loud, in windows of 10 ms: speech has energy in most
// windows, a silent sink exactly none.
class Loudness {
public:
    Loudness(const std::vector<int16_t> &samples, unsigned rate, double threshold = 200.0)
        : window_(std::max(1u, rate / 100)), rate_(rate)
    {
        for (size_t at = 0; at + window_ <= samples.size(); at += window_) {
            double sum = 0;
            for (size_t i = at; i < at + window_; ++i)
                sum += static_cast<double>(samples[i]) * samples[i];
            loud_.push_back(std::sqrt(sum / window_) > threshold);
        }
    }
    // Seconds of loud windows in [from, to) samples (to 0: the end).
    double LoudSeconds(size_t fromSample = 0, size_t toSample = 0) const
    {
        size_t count = 0;
        const size_t last = toSample ? std::min(loud_.size(), toSample / window_) : loud_.size();
        for (size_t w = fromSample / window_; w < last; ++w)
            count += loud_[w];
        return static_cast<double>(count) * window_ / rate_;
    }
    // The first and one past the last loud sample; nullopt when all is quiet.
    std::optional<std::pair<size_t, size_t>> Span() const
    {
        size_t first = loud_.size(), last = 0;
        for (size_t w = 0; w < loud_.size(); ++w)
            if (loud_[w]) {
                first = std::min(first, w);
                last = w + 1;
            }
        if (first >= last)
            return std::nullopt;
        return std::make_pair(first * window_, last * window_);
    }
    double Seconds(size_t samples) const { return static_cast<double>(samples) / rate_; }

private:
    size_t window_;
    unsigned rate_;
    std::vector<bool> loud_;
};

} // namespace orafon::test

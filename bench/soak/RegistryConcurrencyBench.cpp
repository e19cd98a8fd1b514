// Four processes share one registry file for a while (60 s unless told):
// each registers and unregisters the component, creates objects and reads
// the voice catalogue, in an order of its own. Every result besides the
// documented ones (S_OK, and REGDB_E_CLASSNOTREG for an object created while
// another process has the class unregistered, TYPE_E_REGISTRYACCESS for an
// unregistration that finds the type library unregistered already) is
// counted as an error. At the
// end every process must have exited in time, the database must pass its
// integrity check, and one more registration must leave the entries whole
// with the voice catalogue as long as before.
//   registry_concurrency_bench [--seconds=N] [--processes=N] [benchmark options]
#include <orafon/Holders.h>
#include <orafon/Orafon.h>
#include <orafon/OrafonIds.h>
#include <orafon/win/objbase.h>
#include <orafon/win/oleauto.h>
#include <orafon/win/winreg.h>

#include <benchmark/benchmark.h>
#include <orafon/SqliteHolders.h>
#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int g_seconds = 60;
int g_processes = 4;
std::string g_self;

using ServerCall = HRESULT (*)();

std::string ModulePath()
{
    const size_t cut = g_self.find_last_of('/');
    return (cut == std::string::npos ? std::string(".") : g_self.substr(0, cut)) + "/Orafon.so";
}

struct Module {
    void *handle = dlopen(ModulePath().c_str(), RTLD_NOW);
    ~Module()
    {
        if (handle)
            dlclose(handle);
    }
    HRESULT Call(const char *name) const
    {
        auto call = handle ? reinterpret_cast<ServerCall>(dlsym(handle, name)) : nullptr;
        return call ? call() : E_FAIL;
    }
};

// The voice count and every name read through a new object.
HRESULT ReadCatalogue(LONG &count)
{
    CComPtr<ITextToSpeech> tts;
    HRESULT hr = CoCreateInstance(CLSID_TextToSpeech, nullptr, CLSCTX_INPROC_SERVER, IID_ITextToSpeech,
                                  reinterpret_cast<void **>(&tts));
    if (FAILED(hr))
        return hr;
    count = 0;
    hr = tts->get_VoiceCount(&count);
    for (LONG i = 0; SUCCEEDED(hr) && i < count; ++i) {
        BSTR name = nullptr;
        hr = tts->GetVoiceName(i, &name);
        SysFreeString(name);
    }
    return hr;
}

// One process's share: operations until the time is up, then one line per
// operation and result: "<operation> <hresult> <count>".
int Worker(int seconds)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::map<std::pair<std::string, HRESULT>, long> tally;
    {
        Module module;
        std::mt19937 rng(static_cast<unsigned>(getpid()));
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < until) {
            const unsigned pick = rng() % 10;
            if (pick < 3) {
                ++tally[{"register", module.Call("DllRegisterServer")}];
            } else if (pick < 5) {
                ++tally[{"unregister", module.Call("DllUnregisterServer")}];
            } else {
                LONG count = 0;
                ++tally[{"catalogue", ReadCatalogue(count)}];
            }
        }
    }
    for (const auto &[key, count] : tally)
        std::printf("%s %08X %ld\n", key.first.c_str(), static_cast<unsigned>(key.second), count);
    CoUninitialize();
    return 0;
}

struct Child {
    pid_t pid;
    orafon::CStdioFile out;
};

Child StartWorker()
{
    int fds[2];
    if (pipe(fds) != 0)
        return {-1, orafon::CStdioFile()};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        const std::string arg = "--worker=" + std::to_string(g_seconds);
        execl(g_self.c_str(), g_self.c_str(), arg.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    return {pid, orafon::CStdioFile(fdopen(fds[0], "r"))};
}

// Waits for the child until the deadline; false when it had to be killed.
bool Reap(pid_t pid, std::chrono::steady_clock::time_point deadline, int &status)
{
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return false;
}

std::string Value(HKEY root, const std::string &path, const char *name)
{
    orafon::CRegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS)
        return "<missing key>";
    char data[1024] = {};
    DWORD size = sizeof data - 1, type = 0;
    const LSTATUS st = RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE *>(data), &size);
    return st == ERROR_SUCCESS && type == REG_SZ ? std::string(data) : "<missing value>";
}

// The entries a registration writes, read back; the names of those wrong.
std::vector<std::string> WrongEntries()
{
    const std::string clsid = "CLSID\\{A5584957-EF07-419C-BACD-9931F1256D92}";
    const struct {
        std::string path;
        const char *name;
        std::string expected;
    } entries[] = {
        {"Orafon.TextToSpeech.1\\CLSID", nullptr, "{A5584957-EF07-419C-BACD-9931F1256D92}"},
        {"Orafon.TextToSpeech\\CurVer", nullptr, "Orafon.TextToSpeech.1"},
        {clsid, nullptr, "CTextToSpeech Object"},
        {clsid + "\\ProgID", nullptr, "Orafon.TextToSpeech.1"},
        {clsid + "\\InprocServer32", nullptr, ModulePath()},
        {clsid + "\\InprocServer32", "ThreadingModel", "apartment"},
        {clsid + "\\TypeLib", nullptr, "{F29A07DB-9775-46B7-A7DD-94C440145B52}"},
    };
    std::vector<std::string> wrong;
    for (const auto &e : entries) {
        const std::string got = Value(HKEY_CLASSES_ROOT, e.path, e.name);
        if (got != e.expected)
            wrong.push_back(e.path + (e.name ? std::string(":") + e.name : "") + " = " + got);
    }
    return wrong;
}

bool IntegrityOk(const std::string &path)
{
    orafon::CSqliteDb db;
    bool ok = false;
    if (sqlite3_open_v2(path.c_str(), db.Out(), SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        orafon::CSqliteStmt st;
        if (sqlite3_prepare_v2(db.Get(), "PRAGMA integrity_check", -1, st.Out(), nullptr) == SQLITE_OK &&
            sqlite3_step(st.Get()) == SQLITE_ROW)
            ok = std::strcmp(reinterpret_cast<const char *>(sqlite3_column_text(st.Get(), 0)), "ok") == 0;
    }
    return ok;
}

void BM_FourProcessesOneRegistry(benchmark::State &state)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    LONG voicesBefore = -1;
    {
        Module module;
        if (FAILED(module.Call("DllRegisterServer")) || FAILED(ReadCatalogue(voicesBefore))) {
            state.SkipWithError("the component could not be registered and created");
            CoUninitialize();
            return;
        }
    }
    std::map<std::pair<std::string, std::string>, long> tally;
    long stuck = 0, failedExits = 0, undocumented = 0;
    for (auto _ : state) {
        std::vector<Child> children;
        for (int i = 0; i < g_processes; ++i)
            children.push_back(StartWorker());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(g_seconds + 60);
        for (Child &c : children) {
            char op[64], hr[16];
            long count = 0;
            while (c.out && std::fscanf(c.out.Get(), "%63s %15s %ld", op, hr, &count) == 3) {
                tally[{op, hr}] += count;
                const bool documented = std::strcmp(hr, "00000000") == 0 ||
                                        (std::strcmp(op, "catalogue") == 0 && std::strcmp(hr, "80040154") == 0) ||
                                        (std::strcmp(op, "unregister") == 0 && std::strcmp(hr, "8002801C") == 0);
                if (!documented)
                    undocumented += count;
            }
            c.out.Reset();
            int status = 0;
            if (!Reap(c.pid, deadline, status))
                ++stuck;
            else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                ++failedExits;
        }
    }
    LONG voicesAfter = -1;
    std::vector<std::string> wrong;
    {
        Module module;
        module.Call("DllRegisterServer");
        wrong = WrongEntries();
        ReadCatalogue(voicesAfter);
    }
    const char *registry = std::getenv("ORAFON_REGISTRY");
    const bool intact = registry && IntegrityOk(registry);
    for (const auto &[key, count] : tally)
        std::fprintf(stderr, "%-10s 0x%s %ld\n", key.first.c_str(), key.second.c_str(), count);
    for (const std::string &w : wrong)
        std::fprintf(stderr, "wrong entry after the run: %s\n", w.c_str());
    long operations = 0;
    for (const auto &[key, count] : tally)
        operations += count;
    state.counters["operations"] = static_cast<double>(operations);
    state.counters["undocumented_errors"] = static_cast<double>(undocumented);
    state.counters["stuck_processes"] = static_cast<double>(stuck);
    state.counters["failed_exits"] = static_cast<double>(failedExits);
    state.counters["wrong_entries"] = static_cast<double>(wrong.size());
    state.counters["voices_lost"] = static_cast<double>(voicesBefore - voicesAfter);
    state.counters["db_intact"] = intact ? 1 : 0;
    CoUninitialize();
}

BENCHMARK(BM_FourProcessesOneRegistry)->Iterations(1)->Unit(benchmark::kSecond);

std::string SelfPath()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

} // namespace

int main(int argc, char **argv)
{
    g_self = SelfPath();
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--worker=", 9) == 0)
            return Worker(std::atoi(argv[i] + 9));
        if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            g_seconds = std::max(1, std::atoi(argv[i] + 10));
        else if (std::strncmp(argv[i], "--processes=", 12) == 0)
            g_processes = std::max(1, std::atoi(argv[i] + 12));
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    std::string temp;
    if (!std::getenv("ORAFON_REGISTRY")) {
        char pattern[] = "/tmp/orafon-registry-bench-XXXXXX";
        temp = mkdtemp(pattern);
        ::setenv("ORAFON_REGISTRY", (temp + "/registry.db").c_str(), 1);
    }
    ::setenv("ORAFON_AUDIO_DEVICE", "silent", 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!temp.empty())
        std::system(("rm -rf '" + temp + "'").c_str());
    return 0;
}

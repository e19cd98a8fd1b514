// Runs a helper program as a separate process.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char **environ;

namespace orafon::test {

struct ProcessResult {
    int exitCode = -1;
    std::string output;
};

class Process {
public:
    // Starts program with args; its standard output is kept.
    Process(const std::string &program, const std::vector<std::string> &args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~Process() { Wait(); }
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    ProcessResult Wait()
    {
        if (out_ >= 0) {
            char buf[4096];
            ssize_t n;
            while ((n = read(out_, buf, sizeof(buf))) > 0)
                result_.output.append(buf, static_cast<size_t>(n));
            close(out_);
            out_ = -1;
        }
        if (pid_ > 0) {
            int status = 0;
            if (waitpid(pid_, &status, 0) == pid_)
                result_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
        }
        return result_;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    ProcessResult result_;
};

inline ProcessResult RunProgram(const std::string &program, const std::vector<std::string> &args)
{
    Process p(program, args);
    return p.Wait();
}

} // namespace orafon::test

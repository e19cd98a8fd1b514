#include "OutputFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace orafon_cli {

namespace {

// The temporary file of the output being made, for AbandonOutputForInterrupt.
// A fixed buffer: the remover must not allocate.
char g_pendingPath[PATH_MAX + 1];
// Its folder, and the prefix of the files the component makes beside it
// while writing into it (".<name>.<pid>-<n>.tmp").
char g_pendingFolder[PATH_MAX + 1];
char g_pendingPrefix[NAME_MAX + 2];
std::atomic<bool> g_pending{false};
// Putting an output in place and ending for an interrupt exclude each other:
// an interrupt either comes first (the user's file stays as it was) or finds
// the output in place (the command has done its work and ends as it would).
std::mutex g_commitLock;
bool g_committed = false; // the output being made is in place; guarded by g_commitLock

void SetPending(const std::string &path)
{
    {
        const std::lock_guard<std::mutex> lock(g_commitLock);
        g_committed = false;
    }
    g_pending = false;
    const std::filesystem::path p(path);
    const std::string folder = p.parent_path().empty() ? "." : p.parent_path().string();
    const std::string prefix = "." + p.filename().string() + ".";
    std::strncpy(g_pendingPath, path.c_str(), PATH_MAX);
    g_pendingPath[PATH_MAX] = '\0';
    std::strncpy(g_pendingFolder, folder.c_str(), PATH_MAX);
    g_pendingFolder[PATH_MAX] = '\0';
    std::strncpy(g_pendingPrefix, prefix.c_str(), NAME_MAX + 1);
    g_pendingPrefix[NAME_MAX + 1] = '\0';
    g_pending = path.size() <= PATH_MAX && prefix.size() <= NAME_MAX + 1;
}

// An interrupt may end the process in the middle of the component's call,
// before the component removes the temporary file of its own.
void RemoveComponentLeftovers()
{
    DIR *folder = opendir(g_pendingFolder);
    if (!folder)
        return;
    const size_t length = std::strlen(g_pendingPrefix);
    while (const dirent *entry = readdir(folder))
        if (std::strncmp(entry->d_name, g_pendingPrefix, length) == 0)
            unlinkat(dirfd(folder), entry->d_name, 0);
    closedir(folder);
}

[[nodiscard]] std::string TemporaryFolder()
{
    const char *folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

[[nodiscard]] std::string FolderOf(const std::string &path)
{
    std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

// Follows symbolic links to the file they name, which need not exist yet.
[[nodiscard]] bool ResolveLinks(const std::string &path, std::string &resolved, int &error)
{
    resolved = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info {};
        if (lstat(resolved.c_str(), &info) != 0) {
            error = errno;
            return error == ENOENT;
        }
        if (!S_ISLNK(info.st_mode))
            return true;
        char target[PATH_MAX + 1];
        const ssize_t length = readlink(resolved.c_str(), target, PATH_MAX);
        if (length < 0) {
            error = errno;
            return false;
        }
        const std::filesystem::path next(std::string(target, (size_t)length));
        resolved = next.is_absolute() ? next.string() : (std::filesystem::path(FolderOf(resolved)) / next).string();
    }
    error = ELOOP;
    return false;
}

[[nodiscard]] bool SameFile(const struct stat &a, const std::string &path)
{
    struct stat other {};
    return stat(path.c_str(), &other) == 0 && other.st_dev == a.st_dev && other.st_ino == a.st_ino;
}

[[nodiscard]] bool WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        size -= (size_t)n;
    }
    return true;
}

} // namespace

[[nodiscard]] std::string DescribeErrno(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return "no space left on the device";
    case EACCES:
    case EPERM:
        return "permission denied";
    case ENOENT:
    case ENOTDIR:
        return "no such folder";
    case EISDIR:
        return "it is a directory";
    case EROFS:
        return "read-only file system";
    case EFBIG:
        return "the file is too large";
    case EPIPE:
        return "the reader of the output went away";
    default:
        return std::strerror(error);
    }
}

[[nodiscard]] bool AbandonOutputForInterrupt()
{
    g_commitLock.lock();
    if (g_committed) {
        g_commitLock.unlock();
        return false;
    }
    // Held until the process ends, so nothing can be put in place any more.
    if (g_pending.exchange(false)) {
        unlink(g_pendingPath);
        RemoveComponentLeftovers();
    }
    return true;
}

bool OutputFile::Prepare(const std::string &target, const std::vector<std::string> &inputs, std::string &problem)
{
    target_ = target;
    const std::string prefix = "cannot write " + target + ": ";
    if (target == "-") {
        placement_ = Placement::StandardOutput;
        return CreateTemporary(TemporaryFolder(), "stdout", problem);
    }
    int error = 0;
    if (!ResolveLinks(target, final_, error)) {
        problem = prefix + DescribeErrno(error);
        return false;
    }
    const std::string folder = FolderOf(final_);
    const std::string name = std::filesystem::path(final_).filename().string();
    struct stat info {};
    if (stat(final_.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            problem = prefix + DescribeErrno(errno);
            return false;
        }
        // A new file.
        struct stat folderInfo {};
        if (stat(folder.c_str(), &folderInfo) != 0) {
            problem = prefix + (errno == ENOENT ? "the folder " + folder + " does not exist" : DescribeErrno(errno));
            return false;
        }
        if (!S_ISDIR(folderInfo.st_mode)) {
            problem = prefix + folder + " is not a folder";
            return false;
        }
        placement_ = Placement::Rename;
        return CreateTemporary(folder, name, problem);
    }
    if (S_ISDIR(info.st_mode)) {
        problem = prefix + DescribeErrno(EISDIR);
        return false;
    }
    for (const std::string &input : inputs) {
        if (SameFile(info, input)) {
            problem = prefix + "it is the input file " + input;
            return false;
        }
    }
    if (!S_ISREG(info.st_mode)) {
        // Devices and pipes are written, never replaced.
        placement_ = Placement::InPlace;
        return CreateTemporary(TemporaryFolder(), "device", problem);
    }
    if (access(final_.c_str(), W_OK) != 0) {
        problem = prefix + DescribeErrno(errno);
        return false;
    }
    keepMode_ = true;
    mode_ = info.st_mode & 07777;
    // A file with other hard links stays the same file for all its names.
    placement_ = info.st_nlink > 1 ? Placement::InPlace : Placement::Rename;
    if (CreateTemporary(folder, name, problem))
        return true;
    // A folder we may not write: the file itself still may be, as cp does.
    placement_ = Placement::InPlace;
    return CreateTemporary(TemporaryFolder(), name, problem);
}

bool OutputFile::CreateTemporary(const std::string &folder, const std::string &name, std::string &problem)
{
    static unsigned counter = 0;
    // The name is cut so that a long output name cannot push it past the limit.
    const std::string stem = "." + name.substr(0, 200) + ".orafon-" + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = (std::filesystem::path(folder) / (stem + std::to_string(counter++) + ".tmp")).string();
        // Pending before it exists: an interrupt right after the file is
        // made must still find it to remove.
        SetPending(path);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            work_ = path;
            done_ = false;
            return true;
        }
        g_pending = false;
        if (errno != EEXIST) {
            problem = "cannot write " + target_ + ": " + DescribeErrno(errno);
            return false;
        }
    }
    problem = "cannot write " + target_ + ": no temporary file name is free in " + folder;
    return false;
}

void OutputFile::Abort()
{
    if (work_.empty() || done_)
        return;
    g_pending = false;
    unlink(work_.c_str());
    done_ = true;
}

std::string OutputFile::LikelyWriteFailure() const
{
    struct statvfs info {};
    if (work_.empty() || statvfs(FolderOf(work_).c_str(), &info) != 0)
        return {};
    // The last write that failed needed at least a buffer's worth.
    constexpr unsigned long long kNearlyFull = 1 << 20;
    if ((unsigned long long)info.f_bavail * info.f_frsize < kNearlyFull)
        return DescribeErrno(ENOSPC);
    return {};
}

bool OutputFile::Commit(std::string &problem)
{
    if (work_.empty() || done_) {
        problem = "cannot write " + target_ + ": nothing was written";
        return false;
    }
    bool ok = false;
    if (placement_ == Placement::Rename)
        ok = RenameIntoPlace(problem);
    else if (placement_ == Placement::InPlace)
        ok = WriteInPlace(problem);
    else
        ok = CopyInto(STDOUT_FILENO, problem);
    Abort();
    return ok;
}

bool OutputFile::RenameIntoPlace(std::string &problem)
{
    const int fd = open(work_.c_str(), O_RDONLY | O_CLOEXEC);
    // On disk before it takes the name, so a crash cannot leave an empty file there.
    const bool synced = fd >= 0 && fsync(fd) == 0;
    const int syncError = errno;
    if (fd >= 0) {
        if (keepMode_)
            fchmod(fd, mode_);
        close(fd);
    }
    if (!synced) {
        problem = "cannot write " + target_ + ": " + DescribeErrno(syncError);
        return false;
    }
    const std::lock_guard<std::mutex> lock(g_commitLock);
    if (rename(work_.c_str(), final_.c_str()) != 0) {
        problem = "cannot write " + target_ + ": " + DescribeErrno(errno);
        return false;
    }
    done_ = true;
    g_pending = false;
    g_committed = true;
    return true;
}

bool OutputFile::WriteInPlace(std::string &problem)
{
    struct stat info {};
    const bool regular = stat(final_.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    const int fd = open(final_.c_str(), O_WRONLY | O_CLOEXEC | (regular ? O_TRUNC : 0));
    if (fd < 0) {
        problem = "cannot write " + target_ + ": " + DescribeErrno(errno);
        return false;
    }
    bool ok = CopyInto(fd, problem);
    if (close(fd) != 0 && ok) {
        problem = "cannot write " + target_ + ": " + DescribeErrno(errno);
        ok = false;
    }
    return ok;
}

bool OutputFile::CopyInto(int fd, std::string &problem) const
{
    // A reader that goes away (orafon save ... -o - | head) is a failed write
    // to report, not a signal that ends the process with the temporary left.
    signal(SIGPIPE, SIG_IGN);
    const int in = open(work_.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        problem = "cannot write " + target_ + ": " + DescribeErrno(errno);
        return false;
    }
    char buffer[1 << 16];
    bool ok = true;
    for (;;) {
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            break;
        if (n < 0 || !WriteAll(fd, buffer, (size_t)n)) {
            problem = "cannot write " + target_ + ": " + DescribeErrno(errno);
            ok = false;
            break;
        }
    }
    close(in);
    return ok;
}

} // namespace orafon_cli

// A folder of a test's own under the temporary directory, removed with
// everything in it when its holder goes.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace orafon::test {

class ScratchDir {
public:
    // prefix names the folder: "<tmp>/<prefix>XXXXXX".
    explicit ScratchDir(const char *prefix)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    // A child of fork leaves its parent's folder alone.
    ~ScratchDir()
    {
        if (path_.empty() || getpid() != owner_)
            return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    // Empty when the folder could not be made.
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
    pid_t owner_ = getpid();
};

} // namespace orafon::test

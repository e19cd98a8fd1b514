#include "Mp3ToSwf.h"

#include "FlashActions.h"
#include "FlashTags.h"
#include "FlashTypes.h"
#include "Mp3SoundStream.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint8_t kSwfVersion = 5;
constexpr int32_t kStageTwips = 200;   // 10 x 10 pixels
constexpr int32_t kMaxFrameRate = 255; // the 8.8 rate field holds no more
constexpr int64_t kMaxMovieFrames = 0xFFFF;

// Buffered writes to a file descriptor that remember the first failure, so a full
// disk or an I/O error cannot pass for success.
class FdOutBuf : public std::streambuf {
public:
    explicit FdOutBuf(int fd) : fd_(fd), buffer_(size_t{1} << 20)
    {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    FdOutBuf(const FdOutBuf &) = delete;
    FdOutBuf &operator=(const FdOutBuf &) = delete;

    bool Failed() const { return failed_; }
    uint64_t BytesWritten() const { return flushed_ + static_cast<uint64_t>(pptr() - pbase()); }

protected:
    int_type overflow(int_type ch) override
    {
        if (!Drain()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }

    std::streamsize xsputn(const char *s, std::streamsize n) override
    {
        if (n >= static_cast<std::streamsize>(buffer_.size())) {
            // Large blocks go straight out rather than through the buffer.
            if (!Drain() || !WriteAll(s, static_cast<size_t>(n))) {
                return 0;
            }
            return n;
        }
        return std::streambuf::xsputn(s, n);
    }

    int sync() override { return Drain() ? 0 : -1; }

private:
    bool Drain()
    {
        const size_t pending = static_cast<size_t>(pptr() - pbase());
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        return WriteAll(buffer_.data(), pending);
    }

    bool WriteAll(const char *data, size_t size)
    {
        while (!failed_ && size > 0) {
            const ssize_t done = ::write(fd_, data, size);
            if (done < 0 && errno == EINTR) {
                continue;
            }
            if (done <= 0) {
                failed_ = true;
                break;
            }
            data += done;
            size -= static_cast<size_t>(done);
            flushed_ += static_cast<uint64_t>(done);
        }
        return !failed_;
    }

    int fd_;
    std::vector<char> buffer_;
    uint64_t flushed_ = 0;
    bool failed_ = false;
};

// Follows symbolic links to the file they name, which need not exist yet.
[[nodiscard]] std::string ResolveLinks(const std::string &path)
{
    std::string resolved = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info {};
        if (::lstat(resolved.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return resolved;
        }
        std::vector<char> target(4096);
        const ssize_t length = ::readlink(resolved.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<size_t>(length) >= target.size()) {
            return resolved;
        }
        const std::filesystem::path next(std::string(target.data(), static_cast<size_t>(length)));
        resolved = next.is_absolute() ? next.string() : (std::filesystem::path(resolved).parent_path() / next).string();
    }
    return resolved;
}

// Where the movie is written until it is complete. A regular output file gets
// a new file beside it that takes its name (and its mode) only when committed,
// so a failed conversion leaves the output path as it was. A device, a pipe or
// a file with other hard links is written in place instead, from a copy held
// in memory, so it stays what it was. A symbolic link leads to its target.
class TempOutput {
public:
    explicit TempOutput(const std::string &target) : target_(ResolveLinks(target))
    {
        struct stat info {};
        if (::stat(target_.c_str(), &info) == 0) {
            if (S_ISDIR(info.st_mode) || (S_ISREG(info.st_mode) && ::access(target_.c_str(), W_OK) != 0)) {
                return; // refused, as cp refuses a file it may not write
            }
            if (!S_ISREG(info.st_mode) || info.st_nlink > 1) {
                inPlace_ = true;
                fd_ = ::memfd_create("swf", MFD_CLOEXEC);
                return;
            }
            keepMode_ = true;
            mode_ = info.st_mode & 07777;
        }
        static std::atomic<unsigned> counter{0};
        // Same folder, so the rename is atomic; the name is cut so that a long output
        // name cannot push the temporary one past the file system's limit.
        const std::filesystem::path path(target_);
        const std::string name = path.filename().string().substr(0, 200);
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            const std::string tempName =
                "." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
            path_ = (path.parent_path() / tempName).string();
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST) {
                break;
            }
        }
    }
    ~TempOutput()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!inPlace_ && created() && !committed_) {
            ::unlink(path_.c_str());
        }
    }
    TempOutput(const TempOutput &) = delete;
    TempOutput &operator=(const TempOutput &) = delete;

    int Fd() const { return fd_; }
    bool created() const { return fd_ >= 0 || closedOk_; }

    bool WriteAt(uint64_t offset, const std::vector<uint8_t> &bytes)
    {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Puts the movie in place: renamed over the output (a failed close may be a
    // lost delayed write), or copied into it.
    bool Commit()
    {
        if (inPlace_) {
            committed_ = CopyIntoTarget();
            return committed_;
        }
        const int fd = fd_;
        fd_ = -1;
        closedOk_ = true;
        if (keepMode_) {
            ::fchmod(fd, mode_);
        }
        if (::close(fd) != 0) {
            return false;
        }
        if (std::rename(path_.c_str(), target_.c_str()) != 0) {
            return false;
        }
        committed_ = true;
        return true;
    }

private:
    bool CopyIntoTarget() const
    {
        struct stat info {};
        const bool regular = ::stat(target_.c_str(), &info) == 0 && S_ISREG(info.st_mode);
        const int out = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | (regular ? O_TRUNC : 0));
        if (out < 0) {
            return false;
        }
        std::vector<char> buffer(size_t{1} << 16);
        bool ok = true;
        for (off_t offset = 0; ok;) {
            const ssize_t n = ::pread(fd_, buffer.data(), buffer.size(), offset);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            offset += n;
            for (ssize_t done = 0; ok && done < n;) {
                const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
                if (w < 0 && errno == EINTR) {
                    continue;
                }
                ok = w > 0;
                done += w > 0 ? w : 0;
            }
        }
        return ::close(out) == 0 && ok;
    }

    std::string target_;
    std::string path_;
    int fd_ = -1;
    bool inPlace_ = false;
    bool keepMode_ = false;
    mode_t mode_ = 0;
    bool closedOk_ = false;
    bool committed_ = false;
};

[[nodiscard]] bool SameFile(const char *a, const char *b)
{
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

// Writes the movie body after a header placeholder; returns the movie frame
// count, or -1 when the movie would need more frames than the header can count.
int64_t WriteMovieBody(std::ostream &out, Mp3SoundStream &stream, int64_t plannedFrames, bool loop)
{
    out << FlashTagBackgroundColor(255, 255, 255);
    stream.WriteStreamHead(out);
    int64_t frames = 0;
    // The planned count carries every frame; keep going should rounding ever leave one behind.
    while (frames < plannedFrames || !stream.Finished()) {
        if (frames == kMaxMovieFrames) {
            return -1;
        }
        stream.WriteStreamBlock(out);
        out << FlashTagShowFrame();
        ++frames;
    }
    out << FlashTagStartSound(0, FlashSoundInfo(0));
    if (loop) {
        if (frames == kMaxMovieFrames) {
            return -1;
        }
        ++frames;
        out << FlashTagShowFrame();
        FlashActionGotoFrame gotoFirst(0);
        FlashActionPlay play;
        FlashTagDoAction action;
        action.Add(&gotoFirst);
        action.Add(&play);
        out << action;
    }
    out << FlashTagEnd();
    return frames;
}

[[nodiscard]] std::vector<uint8_t> EncodeHeader(uint32_t bodyLength, int32_t frameRate, int64_t frames)
{
    std::vector<uint8_t> bytes;
    struct Sink : std::streambuf {
        std::vector<uint8_t> *bytes;
        int_type overflow(int_type ch) override
        {
            bytes->push_back(static_cast<uint8_t>(ch));
            return ch;
        }
    } sink;
    sink.bytes = &bytes;
    std::ostream out(&sink);
    out << FlashHeader(kSwfVersion, bodyLength, kStageTwips, kStageTwips, frameRate, static_cast<uint16_t>(frames));
    return bytes;
}

[[nodiscard]] Mp3ToSwfFailure Convert(const char *mp3Path, const char *swfPath, bool loop, int32_t frameRate)
{
    if (mp3Path == nullptr || swfPath == nullptr || *swfPath == '\0' || frameRate < 1 || frameRate > kMaxFrameRate) {
        return Mp3ToSwfFailure::BadArguments;
    }
    if (SameFile(mp3Path, swfPath)) {
        return Mp3ToSwfFailure::SameFile;
    }
    Mp3SoundStream stream(mp3Path, frameRate);
    if (stream.ReadFailed()) {
        return Mp3ToSwfFailure::CannotRead;
    }
    if (stream.FrameCount() == 0) {
        return stream.FreeFormat() ? Mp3ToSwfFailure::FreeFormat : Mp3ToSwfFailure::NoFrames;
    }
    const int64_t planned = stream.MovieFramesNeeded();
    if (planned <= 0) {
        return Mp3ToSwfFailure::NoFrames;
    }
    if (planned + (loop ? 1 : 0) > kMaxMovieFrames) {
        return Mp3ToSwfFailure::TooManyFrames;
    }

    TempOutput output(swfPath);
    if (output.Fd() < 0) {
        return Mp3ToSwfFailure::CannotWrite;
    }
    FdOutBuf buffer(output.Fd());
    std::ostream out(&buffer);
    const std::vector<uint8_t> placeholder = EncodeHeader(0, frameRate, 0);
    out.write(reinterpret_cast<const char *>(placeholder.data()), static_cast<std::streamsize>(placeholder.size()));
    const int64_t frames = WriteMovieBody(out, stream, planned, loop);
    out.flush();
    if (frames < 0) {
        return Mp3ToSwfFailure::TooManyFrames;
    }
    if (!out || buffer.Failed()) {
        return Mp3ToSwfFailure::CannotWrite;
    }
    const uint64_t bodyLength = buffer.BytesWritten() - placeholder.size();
    if (bodyLength > std::numeric_limits<uint32_t>::max() - placeholder.size()) {
        return Mp3ToSwfFailure::CannotWrite; // the header's file length could not hold it
    }
    if (!output.WriteAt(0, EncodeHeader(static_cast<uint32_t>(bodyLength), frameRate, frames))) {
        return Mp3ToSwfFailure::CannotWrite;
    }
    return output.Commit() ? Mp3ToSwfFailure::None : Mp3ToSwfFailure::CannotWrite;
}

} // namespace

[[nodiscard]] int ConvertMp3ToSwf(const char *mp3Path, const char *swfPath, bool loop, int32_t frameRate,
                                  Mp3ToSwfFailure *why)
{
    Mp3ToSwfFailure failure = Mp3ToSwfFailure::OutOfMemory;
    try {
        failure = Convert(mp3Path, swfPath, loop, frameRate);
    } catch (...) {
        // Allocation failure or any other exception: nothing was renamed into
        // place. This library stands on the standard library alone, so it
        // answers its own status here rather than through orafon::CatchAtEdge.
    }
    if (why != nullptr) {
        *why = failure;
    }
    return failure == Mp3ToSwfFailure::None ? 0 : -1;
}

const char *DescribeMp3ToSwfFailure(Mp3ToSwfFailure why)
{
    switch (why) {
    case Mp3ToSwfFailure::None:
        return "the movie was written";
    case Mp3ToSwfFailure::BadArguments:
        return "a path is missing or the frame rate is not 1..255";
    case Mp3ToSwfFailure::SameFile:
        return "the input and the output are the same file";
    case Mp3ToSwfFailure::CannotRead:
        return "the MP3 file could not be read";
    case Mp3ToSwfFailure::NoFrames:
        return "not an MP3 file: no run of MPEG audio Layer III frames was found in it";
    case Mp3ToSwfFailure::FreeFormat:
        return "a free-format MP3 stream (no bit rate in its frame headers) cannot be wrapped; re-encode it at a "
               "fixed or variable bit rate";
    case Mp3ToSwfFailure::TooManyFrames:
        return "too many movie frames: a movie holds at most 65535, and this MP3 file needs more at this frame "
               "rate; choose a lower one";
    case Mp3ToSwfFailure::CannotWrite:
        return "the SWF file could not be written";
    case Mp3ToSwfFailure::OutOfMemory:
        return "out of memory";
    }
    return "the conversion failed";
}

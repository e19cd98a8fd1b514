// Where a command's output file is written, so that a failure or an interrupt
// never leaves the user's file half-written or replaced.
//
//   OutputFile out;
//   if (!out.Prepare("story.wav", {"story.txt"}, problem)) ... // refused
//   hr = component writes out.WorkPath();
//   if (SUCCEEDED(hr) && !out.Commit(problem)) ...              // now in place
//   // leaving scope without Commit removes the temporary file
//
// The component always writes a new file of our own. Commit then puts it in
// place: a regular file the user may write is replaced atomically by renaming
// (through a symbolic link to its target, keeping the target's mode); a device,
// a pipe, a hard-linked file or a file in a folder we may not write is written
// in place; "-" is standard output. A read-only existing file is refused, as cp
// refuses it.
#pragma once

#include <string>
#include <vector>

namespace orafon_cli {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() { Abort(); }

    // Checks target and creates the temporary file. inputs are files the
    // command reads; naming one of them as the output is refused. False with
    // problem set ("cannot write OUT: <cause>") when the output cannot be made.
    [[nodiscard]] bool Prepare(const std::string &target, const std::vector<std::string> &inputs, std::string &problem);

    // The new file the component writes into.
    const std::string &WorkPath() const { return work_; }

    // Puts the finished file in place. False with problem set; the temporary
    // file is gone either way.
    [[nodiscard]] bool Commit(std::string &problem);

    // Removes the temporary file unless committed. Safe to call more than once.
    void Abort();

    // Why the component's write most likely failed, judged from the file
    // system the temporary lives on ("no space left on the device"), or empty.
    [[nodiscard]] std::string LikelyWriteFailure() const;

private:
    enum class Placement { Rename, InPlace, StandardOutput };

    [[nodiscard]] bool CreateTemporary(const std::string &folder, const std::string &name, std::string &problem);
    [[nodiscard]] bool CopyInto(int fd, std::string &problem) const;
    [[nodiscard]] bool RenameIntoPlace(std::string &problem);
    [[nodiscard]] bool WriteInPlace(std::string &problem);

    std::string target_; // what the user named
    std::string final_;  // the file actually written (a symbolic link's target)
    std::string work_;
    Placement placement_ = Placement::Rename;
    bool keepMode_ = false;
    unsigned mode_ = 0;
    bool done_ = false;
};

// For the interrupt watcher thread, right before _exit, while the main thread
// may be anywhere: removes the temporary file of an output not yet committed,
// if any, and what the component made beside it, and returns true; from then
// on no output can be committed. Returns false when an output was already
// renamed into place: the command has done its work and should end as it
// would have, not report an interrupt with the user's file replaced.
[[nodiscard]] bool AbandonOutputForInterrupt();

// "no space left on the device", "permission denied", ... for an errno value.
[[nodiscard]] std::string DescribeErrno(int error);

} // namespace orafon_cli

// Where a program's output goes, as Linux users expect of a file argument.
//
//   "-"                   standard output
//   a FIFO, a device      written straight into (nothing is renamed or removed)
//   a symbolic link       its target is the file meant; the link stays
//   a regular file, or    a new file is written beside it and renamed over it
//   a name not yet taken  only once complete (commit), so a failed or
//                         interrupted run leaves an earlier file intact and
//                         no partial file behind
//
// Failures carry the system's own text and the path ("cannot create
// /x/y.png: No such file or directory"). The file is created with the mode
// given (0666 or 0600 for secrets, less the umask); a file renamed over keeps
// no trace of the old one's contents. An interrupted program (SIGINT,
// SIGTERM, SIGHUP) removes its partial files on the way out when it calls
// removePartialFilesOnSignals() first.
#pragma once

#include "result.h"

#include <cstdint>
#include <span>
#include <string>
#include <sys/types.h>

namespace lumarc::platform {

class OutputFile {
public:
    // Opens the output before any work is done, so that a wrong path is
    // reported before a unit is asked for anything.
    static Result<OutputFile> open(const std::string& path, mode_t mode = 0666);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Without commit, a partial file is removed (a special file or standard
    // output keeps what was written).
    ~OutputFile();

    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; } // as the user named it
    bool isStandardOutput() const { return m_path == "-"; }

    Status write(std::span<const uint8_t> bytes);
    // Makes the output final: the partial file takes the name (after its
    // data reached the disk), a special file is flushed and closed.
    Status commit();

private:
    OutputFile(std::string path, std::string target, std::string partial, int fd, bool owned);

    std::string m_path;    // the argument
    std::string m_target;  // the file renamed over (empty: written in place)
    std::string m_partial; // the new file beside it (empty: written in place)
    int m_fd = -1;
    bool m_owned = false;  // the descriptor is ours to close
    bool m_committed = false;
};

// Installs handlers for SIGINT, SIGTERM and SIGHUP that remove every partial
// file still open, then end the program as the signal would. Call once,
// early, in programs that write files and are not interrupted otherwise.
void removePartialFilesOnSignals();

} // namespace lumarc::platform

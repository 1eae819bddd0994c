// What the tool takes from the operating system, for POSIX and Windows
// alike: descriptors, scratch files, renames, the terminal test, and the
// interrupt (Ctrl-C) that asks the tool to stop cleanly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace voktool {

// The text of an errno value; unlike strerror, safe in any thread.
std::string errorText(int error);

// Writes n bytes at data to fd (short writes retried); false on failure,
// with errno set.
bool writeFd(int fd, const char* data, std::size_t n);
// Reads up to n bytes; the count, 0 at the end, -1 on failure.
long long readFd(int fd, char* data, std::size_t n);
// Back to the first byte; false on failure.
bool rewindFd(int fd);
bool closeFd(int fd);
// Creates or truncates a file for writing; -1 on failure (errno set).
int createFileFd(const std::string& path);
// A new file that nobody else sees and that disappears when closed (or when
// the process ends); binary.  Throws std::runtime_error.
int scratchFile();
// Moves from onto to, replacing to.  False on failure (errno set).
bool replaceFile(const std::string& from, const std::string& to);
bool removeFileQuietly(const std::string& path);

// Whether standard error is a terminal.
bool stderrIsTerminal();

// Keeps the library's direct standard-output lines out of the tool's own
// output: the real standard output is moved to a new descriptor (binary on
// Windows), which is returned, and descriptor 1 is pointed at the null
// device.  For the whole process, so for every thread.
int claimStandardOutput();

// ---- interrupts ----

// Raised where work notices an interrupt; the tool then removes what it had
// half written and exits with kExitInterrupted.
class Interrupted : public std::runtime_error {
public:
    Interrupted() : std::runtime_error("interrupted") {}
};

// Installs the Ctrl-C handler (SIGINT and SIGTERM, or the console control
// handler on Windows).  A second Ctrl-C ends the process at once.
void installInterruptHandler();
bool interrupted();
// Throws Interrupted when an interrupt has come.
inline void checkInterrupted() {
    if (interrupted()) throw Interrupted();
}

}  // namespace voktool

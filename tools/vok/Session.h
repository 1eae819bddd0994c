// The tool's side of the library: open options, the captured diagnostics,
// and a handle that closes itself.  Only the public C API is used.
//
// The library keeps process-wide state (the log callback, the extra message
// file name, the resolution override pair and the text encoding flag), so
// recordings are opened one after the other within a process; parallel work
// runs in separate worker processes (Batch.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "vokapi.h"

namespace voktool {

struct OpenOptions {
    int consistency = 1;          // 0..3
    bool tolerant = false;        // read errors end the records instead of failing
    bool noFixup = false;         // time offset fixup off
    bool messageOffsets = false;  // a leading number in a message is a time offset
    bool noEvents = false;        // keep only sample-block boundaries of the events
    bool noSamples = false;       // keep no samples
    bool extraMessages = false;   // merge the extra message file
    std::string extraMessageFile; // empty: the library's default name beside the recording

    int consistencyArgument() const;
    int loadEvents() const;
    int loadSamples() const;
};

// The library's diagnostics, collected through its log callback.
class Diagnostics {
public:
    // Installs the callback (once per process).
    static void install();
    // Forgets what was collected so far.
    static void clear();
    // Every text since the last clear(), trailing line ends and blanks taken
    // off; texts that are empty after that are left out.
    static const std::vector<std::string>& lines();
    static std::vector<std::string> take();
};

// Keeps the library's direct standard-output lines out of the tool's own
// output: the real standard output is moved to a new descriptor, which is
// returned, and descriptor 1 is pointed at /dev/null.
int claimStandardOutput();

class Recording {
public:
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Opens a recording.  The diagnostics of the open are collected (see
    // Diagnostics) and returned in `diagnostics`.  On failure returns null
    // and sets `reason` to a one-line explanation.
    static std::unique_ptr<Recording> open(const std::string& path, const OpenOptions& options,
                                           std::string& reason, std::vector<std::string>& diagnostics);

    VOKFile* handle() const { return file_; }

private:
    explicit Recording(VOKFile* file) : file_(file) {}
    VOKFile* file_;
};

// Whether the path can be opened for reading as a regular file; else sets
// reason (e.g. "No such file or directory").
bool readableFile(const std::string& path, std::string& reason);

// The one-line reason for a failed open, from the diagnostics it logged.
std::string describeOpenFailure(const std::vector<std::string>& diagnostics);

// Text of a message event (its stored length, bounded by the library's NUL).
std::string_view messageText(const Event& event);

// A message from the extra message file, as the text after its time: the
// blank that separates the two and the line end are left out.
std::string_view extraMessageText(std::string_view text);

}  // namespace voktool

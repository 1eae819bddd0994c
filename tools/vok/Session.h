// The tool's side of the library: open options, the captured diagnostics,
// and a handle that closes itself.  Only the public C API is used.
//
// Distinct handles may be used in distinct threads.  The library's log
// function is process-wide: the callback hands each text to the calling
// thread's own collection, so every thread sees the diagnostics of its own
// recording.
#pragma once

#include <memory>
#include <string>
#include <string_view>
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

// The library's diagnostics, collected through its log callback, per thread.
class Diagnostics {
public:
    // Installs the callback (once per process).
    static void install();
    // Forgets what this thread collected so far.
    static void clear();
    // Every text since the last clear(), trailing line ends and blanks taken
    // off; texts that are empty after that are left out.
    static const std::vector<std::string>& lines();
    static std::vector<std::string> take();
    // Frees this thread's collection (a worker thread calls it before it ends).
    static void releaseThread();
};

// Where a thread's error lines go: a batch worker thread keeps them for its
// recording, to be shown in the order of the inputs; others write them to
// standard error at once.
struct ThreadReports {
    std::string errors;
};
// Sets the calling thread's collection (nullptr: standard error again).
void setThreadReports(ThreadReports* reports);
ThreadReports* threadReports();
// Writes one report (with its line end) to the thread's collection or to
// standard error.
void reportLine(std::string_view text);

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

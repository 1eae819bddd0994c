// Runs a command over many recordings: folder arguments expand to the .vok
// files inside them, and with -j N up to N recordings are handled at once
// in worker threads, each on its own library handle.  Whatever the number
// of workers, the output comes in the order of the inputs and is the same
// as when they are handled one by one; a recording that fails does not stop
// the others.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Output.h"

namespace voktool {

// Expands folder arguments to the *.vok files directly inside them, sorted
// by name; other arguments are kept as they are.  An unreadable folder or
// one without recordings is reported on standard error and counted in
// `failures`.
std::vector<std::string> expandInputs(const std::vector<std::string>& args, int& failures);

struct BatchJoin {
    std::string prefix, separator, suffix;  // around and between the recordings' outputs
    bool dropRepeatedHeader = false;        // CSV/TSV: keep only the first output's header line
};

// Handles one recording, writing to `out`; returns its exit status.  The
// bool tells whether an earlier recording already wrote a header.  With
// more than one job the task runs in a worker thread: it must not touch
// state shared with other recordings, and its error lines should go through
// reportLine() (Session.h), which keeps them with the recording.
using RecordingTask = std::function<int(const std::string& path, Output& out, bool headerWritten)>;

// Runs the task over every path with up to `jobs` worker threads (1: in
// this thread, streaming straight to `out`).  Returns the worst status.
// After an interrupt (Ctrl-C) no further recording is started, the outputs
// of those finished before it are written, and Interrupted is thrown once
// every worker has stopped.
int runBatch(const std::vector<std::string>& paths, int jobs, Output& out, const BatchJoin& join,
             const RecordingTask& task, bool progress);

}  // namespace voktool

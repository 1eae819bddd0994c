// The three commands of `vok`, each run on one recording at a time (in any
// thread: a batch runs several at once).  They write their results to the
// given output, their errors as one line on standard error, and return the
// process exit status for that recording.
#pragma once

#include <string>
#include <vector>

#include "Output.h"
#include "Session.h"
#include "Tables.h"

namespace voktool {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a recording could not be read, or (check) is damaged
inline constexpr int kExitUsage = 2;   // bad command line
inline constexpr int kExitInterrupted = 130;  // Ctrl-C, as a shell reports a SIGINT

// Prints "vok: PATH: reason" on standard error (through reportLine, so a
// batch worker thread keeps it with its recording).
void reportError(const std::string& path, const std::string& reason);

// ---- export ----------------------------------------------------------------

struct ExportOptions {
    OpenOptions open;
    Format format = Format::Csv;
    std::vector<Table> tables;          // the tables to write
    std::vector<std::string> columns;   // --columns (one table only)
    std::string outDir;                 // empty: standard output
    bool folderPerRecording = false;    // several recordings: outDir/<name>/<table>.<ext>
    std::string missing;                // text of a missing value (CSV, TSV)
    bool velocities = false;
    bool trials = false;                // trial column on every row
    std::string trialStart, trialEnd;   // identifiers; both empty: one trial per block
    bool progress = true;
};

// Standard output shared by the recordings of one run: the header goes out
// once, and with several recordings every row starts with the recording's
// path.
struct StreamTarget {
    Output* out = nullptr;
    bool headerWritten = false;
    bool recordingColumn = false;
};

std::string_view formatExtension(Format format);
int exportRecording(const std::string& path, const ExportOptions& options, StreamTarget* stream);

// ---- info ------------------------------------------------------------------

struct InfoOptions {
    OpenOptions open;
    bool json = false;
    std::string trialStart, trialEnd;
    bool progress = true;
};

// Writes the text report, or one JSON object (no line end) with --json.
int infoRecording(const std::string& path, const InfoOptions& options, Output& out);

// ---- check -----------------------------------------------------------------

struct CheckOptions {
    int verbosity = 1;  // 0 -q, 1 one line per recording, 2 -v every problem
    bool json = false;  // JSON Lines, one object per recording
    bool progress = true;
};

int checkRecording(const std::string& path, const CheckOptions& options, Output& out);

}  // namespace voktool

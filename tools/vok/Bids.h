// vok bids: recordings into a BIDS dataset of eye-tracking recordings.
//
// Each recording becomes one task run of a subject (optionally a session):
// its trials as the task's events, and per recorded eye a physiological
// recording of the samples on their rate's regular grid with its events and
// messages.  The pieces: naming the recordings (BidsNames.cpp), the display
// description (BidsSetup.cpp), the conversion of one recording
// (BidsWrite.cpp), the dataset-level files (BidsDataset.cpp) and the
// command line (BidsCommand.cpp, in the vok program).
#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Output.h"
#include "Session.h"

namespace voktool {

// A mistake in what the user asked for (mapping, display, names): the whole
// command stops before anything is written.
class BidsUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The cells of one line of a tab-separated table (a CR before the line end
// taken off).
std::vector<std::string> splitTsvLine(std::string line);

// ---- names ------------------------------------------------------------------

struct BidsName {
    std::string sub, ses, task, run;  // ses and run may be empty

    // "sub-01[_ses-1]_task-T[_run-1]"
    std::string prefix() const;
    // "sub-01[/ses-1]/beh"
    std::string folder() const;
    bool operator<(const BidsName& o) const;
    bool operator==(const BidsName& o) const;
};

struct BidsMapping {
    std::string mapFile;  // TSV with columns path, sub and optionally ses, task, run
    std::string pattern;  // e.g. "{sub}_{task}_{run}.vok"
    std::string task;     // --task: the task when the map or pattern gives none
    std::string session;  // --session: likewise for the session
};

// A label as BIDS allows it: the letters and digits of the text.
std::string bidsLabel(std::string_view text);

// Names every recording; throws BidsUsageError naming the recordings that
// cannot be named, and naming both of two recordings that would get the
// same name.
std::vector<BidsName> nameRecordings(const std::vector<std::string>& paths, const BidsMapping& mapping);

// ---- display ------------------------------------------------------------------

// The four StimulusPresentation values, each known or not.
struct BidsDisplay {
    std::optional<std::array<double, 2>> screenSize;         // metres
    std::optional<double> screenDistance;                    // metres
    std::optional<std::array<std::string, 2>> screenOrigin;  // e.g. top, left
    std::optional<std::array<int, 2>> screenResolution;      // pixels

    // Reads a JSON object with any of ScreenSize, ScreenDistance,
    // ScreenOrigin, ScreenResolution; throws BidsUsageError.
    static BidsDisplay fromJsonFile(const std::string& path);
    // Values of `over` replace those of this one.
    void override(const BidsDisplay& over);
};

// Reads option values ("W,H" pairs, a positive number); throws BidsUsageError.
double parsePositive(const std::string& option, const std::string& text);
std::array<double, 2> parseSize(const std::string& option, const std::string& text);
std::array<int, 2> parseResolution(const std::string& option, const std::string& text);
std::array<std::string, 2> parseOrigin(const std::string& option, const std::string& text);

// ---- conversion ---------------------------------------------------------------

struct BidsOptions {
    OpenOptions open;
    std::string dataset;
    BidsDisplay display;             // the user's values (file and options merged)
    bool customCoordinates = false;  // unknown display: SampleCoordinateSystem "custom"
    bool velocities = false;         // x_velocity, y_velocity columns
    bool resolution = false;         // x_resolution, y_resolution columns
    std::string trialStart, trialEnd;
    bool overwrite = false;
    int gzipLevel = 1;
    bool progress = true;
};

// The display values that neither the user nor a recording can give
// (ScreenResolution can come from the recording's messages), as the text of
// an error that says how to give them; empty when nothing is missing.
std::string missingDisplayMessage(const BidsDisplay& display);

// Converts one recording into its files in the dataset; reports failures
// and warnings on standard error, one line on what it wrote to `out`, and
// returns the exit status.
int bidsRecording(const std::string& path, const BidsName& name, const BidsOptions& options, Output& out);

// Writes dataset_description.json when the dataset has none, and merges
// participants.tsv with the subject folders the dataset holds.  Throws
// OutputError.
void finishDataset(const BidsOptions& options);

}  // namespace voktool

// vok: inspect, export and check .vok eye-tracker recordings from a shell.
// Built on the library's public C API only.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <set>
#include <thread>

#include <fmt/format.h>

#include "Batch.h"
#include "BidsCommand.h"
#include "Commands.h"
#include "System.h"

using namespace voktool;

namespace {

constexpr const char* kOpenFooter = R"VOK(
READING OPTIONS
  The recording is indexed by the library when it is opened.  --consistency
  sets its checks: 0 none; 1 (default) order events that fall between blocks,
  drop samples outside blocks and report unpaired blinks, without changing
  any value; 2 also repairs (fills gaps with placeholder samples whose values
  are missing, pairs and joins blinks, marks samples in blinks missing); 3 is
  the same as 1.  --tolerant reads the records before a damaged or cut-off
  part instead of failing.  --no-fixup keeps the tracker's times even when
  the library would shift very large times to start near 0.
)VOK";

constexpr const char* kBatchFooter = R"VOK(
SEVERAL RECORDINGS
  Give several files, or folders (every *.vok file directly inside, sorted by
  name).  -j N handles N recordings at once in worker threads; the output is
  the same, in the same order, as with -j 1.  A recording that fails is
  reported and the others go on.  A progress line is shown on a terminal
  (not when standard error is redirected, nor with --no-progress).  Ctrl-C
  stops the run: files of -o DIR appear only when complete (they are
  written under a temporary name first), so an interrupted run leaves none
  half written; the exit status is then 130.
)VOK";

constexpr const char* kInfoFooter = R"VOK(
DESCRIPTION
  Prints what a recording holds: its preamble, the recording software and
  tracker revisions, each recording block (start, end, duration, sample
  rate, eyes, what it records, filter and mode) with its counts of samples,
  fixations, saccades, blinks, messages, buttons and inputs, the totals, the
  trials, and the diagnostics the library logged while opening and reading.
  Fixations, saccades and blinks are counted by their end records, one per
  eye.  Trials are the recording blocks unless --trial-start / --trial-end
  name texts of the messages that begin and end them.

  --json prints one JSON object per recording (an array of them when several
  recordings are given).  A recording that cannot be opened gives an object
  with an "error" member.

EXAMPLES
  vok info session.vok
  vok info --json --trial-start TRIAL_START --trial-end TRIAL_END session.vok
  vok info -j 2 data/

EXIT STATUS
  0  every recording was read
  1  a recording could not be opened or read
  2  the command line is wrong
)VOK";

constexpr const char* kExportFooter = R"VOK(
DESCRIPTION
  Writes the recording as tidy tables:
    samples     one row per sample (both eyes side by side)
    events      one row per fixation, saccade or blink and eye: the start and
                end records joined, with the end record's averages and peak
                velocity; rows follow the order in which the events end
    messages    one row per message
    buttons     one row per button event
    inputs      one row per input-port event
    recordings  one row per recording block, with its item counts
    trials      one row per trial
  To standard output one table is written (--table, default samples); with
  -o DIR every table (or those named with --table) goes to DIR/<table>.<ext>,
  and with several recordings to DIR/<recording name>/<table>.<ext>.  With
  several recordings on standard output the header comes once and every row
  starts with a "recording" column.

  Missing values (the library's 1e8, -32768 and 0x8000 markers, and fields a
  record does not carry) are empty fields, or --missing TEXT; in JSON Lines
  they are null.  The second sample of a millisecond (2000 Hz) has a time
  ending in ".5".  Text fields that hold the separator, a quote, a line end
  or surrounding blanks are quoted, with quotes doubled.

  --list-columns shows every column of the table(s) and when it is shown;
  --columns a,b,c picks columns and their order (one table only).
  --velocities adds the sample velocities (deg/s) with the derived gaze
  speeds, and the events' amplitudes.  --trials (implied by --trial-start,
  --trial-end and the trials table) adds a trial column to every table.

EXAMPLES
  vok export session.vok > samples.csv
  vok export --table events --format tsv session.vok
  vok export -o out/ --velocities --trial-start TRIAL_START session.vok
  vok export --columns time,left_gaze_x,left_gaze_y --missing NA session.vok
  vok export -l --table events
  vok export -j 2 -o out/ data/

EXIT STATUS
  0  every table was written
  1  a recording could not be opened or read, or an output could not be written
  2  the command line is wrong
  130  interrupted (Ctrl-C); no half-written file is left
)VOK";

constexpr const char* kCheckFooter = R"VOK(
DESCRIPTION
  Tells sound recordings from damaged ones.  The recording is opened
  strictly and, when that fails, tolerantly, to tell a bad first line, a
  header without its end, a cut-off copy and a damaged record apart; then
  the library's consistency checks run at levels 1 and 2 and their
  diagnostics are sorted into kinds: samples and eye events outside
  recording blocks, blink starts or ends without their partner, gaps in the
  samples, sample times that do not fit the rate, blocks without an end.

  Prints "PATH: ok" or "PATH: damaged (kinds)" per recording; -v lists every
  problem (the first ten messages of each kind), -q prints nothing, --json
  prints an object per recording (an array for several).

EXAMPLES
  vok check session.vok
  vok check -v data/
  vok check -q session.vok || echo "damaged"

EXIT STATUS
  0  every recording is sound
  1  a recording is damaged, has problems or cannot be read
  2  the command line is wrong
)VOK";

constexpr const char* kBidsFooter = R"VOK(
DESCRIPTION
  Writes the recordings into the BIDS dataset DATASET: per recording the
  task's events (one row per trial) and, per recorded eye, the samples on
  the regular grid of the block's rate (_physio.tsv.gz, n/a where no sample
  is) and the eye's fixations, saccades and blinks with every message,
  button and input (_physioevents.tsv.gz), each with its JSON sidecar; and
  dataset_description.json and participants.tsv.  Eye 1 is the left eye,
  eye 2 the right.  A recording whose blocks change rate (or whose grid
  breaks) is split into parts: recording-eye1, recording-eye1seg2, ...

  Each recording's subject, session, task and run come from --map TABLE
  (tab-separated, a header line naming path, sub and any of ses, task, run),
  or --pattern '{sub}_{task}_{run}.vok' matched against the file name, or
  else the subject is the file's stem with everything but letters and
  digits removed; --task and --session fill in what is not given.  Two
  recordings with the same name are an error before anything is written.

  The display (ScreenSize, ScreenDistance in metres, ScreenOrigin) must be
  given, by options or --display FILE.json (options win); ScreenResolution
  comes from the options, else from the recording's DISPLAY_COORDS
  messages.  Without them the command fails, unless --custom-coordinates
  writes SampleCoordinateSystem "custom".

  Files are written under temporary names and renamed when the recording is
  complete.  A recording already in the dataset is replaced only with
  --overwrite; other files in the dataset are left alone.

EXAMPLES
  vok bids --task reading --screen-size 0.53,0.30 --screen-distance 0.6       --screen-origin top,left -o dataset/ data/
  vok bids --pattern '{sub}_{ses}_{task}.vok' --display display.json -o ds/ data/
  vok bids --map subjects.tsv --display display.json -j 2 -o ds/ data/

EXIT STATUS
  0  every recording was converted
  1  a recording could not be read or written (the others are converted)
  2  the command line, the naming or the display is wrong (nothing written)
)VOK";

void addOpenOptions(CLI::App* cmd, OpenOptions& o) {
    cmd->add_option("--consistency", o.consistency, "Consistency checks: 0 none, 1 check, 2 check and repair, 3 as 1")
        ->check(CLI::Range(0, 3))
        ->capture_default_str()
        ->group("Reading");
    cmd->add_flag("--tolerant", o.tolerant, "Read the records before damage instead of failing")->group("Reading");
    cmd->add_flag("--no-fixup", o.noFixup, "Keep large tracker times as they are (no time offset fixup)")->group("Reading");
    cmd->add_flag("--message-offsets", o.messageOffsets, "A number that begins a message is a time offset")->group("Reading");
    cmd->add_flag("--no-events", o.noEvents, "Load no events besides sample-block boundaries")->group("Reading");
    cmd->add_flag("--no-samples", o.noSamples, "Load no samples")->group("Reading");
    cmd->add_flag("--extra-messages{\x01}", o.extraMessageFile,
                  "Merge the extra message log (mb_messages.log beside the recording, or --extra-messages=FILE)")
        ->group("Reading");
}

void finishOpenOptions(OpenOptions& o, CLI::App* cmd) {
    if (cmd->count("--extra-messages") != 0) {
        o.extraMessages = true;
        if (o.extraMessageFile == "\x01") o.extraMessageFile.clear();
    }
}

int resolveJobs(int jobs) {
    if (jobs > 0) return jobs;
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

void listColumns(Output& out, const std::vector<Table>& tables) {
    fmt::memory_buffer b;
    for (Table t : tables) {
        fmt::format_to(fmt::appender(b), "{}:\n", tableName(t));
        for (const Column& c : tableColumns(t)) {
            std::string_view when = c.group == ColumnGroup::Default    ? ""
                                    : c.group == ColumnGroup::Trial    ? " [with trials]"
                                    : c.group == ColumnGroup::Velocity ? " [--velocities]"
                                                                       : " [on request]";
            fmt::format_to(fmt::appender(b), "  {:<26}{}{}\n", c.name, c.description, when);
        }
    }
    out.append(std::string_view(b.data(), b.size()));
    out.flush();
}

int usage(const std::string& message) {
    fmt::print(stderr, "vok: {}\n", message);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vok - inspect, export and check .vok eye-tracker recordings"};
    app.require_subcommand(1);
    // A path such as "/data/rec" is an argument, not a Windows-style "/option".
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("vok, library ") + vok_get_version());
    app.footer("Run 'vok COMMAND --help' for a command's options, examples and exit status.");

    std::vector<std::string> inputs;
    int jobs = 1;
    bool noProgress = false;
    auto addBatch = [&](CLI::App* cmd) {
        cmd->add_option("recordings", inputs, "Recording files or folders of them");
        cmd->add_option("-j,--jobs", jobs, "Recordings handled at once, in worker threads (0: one per core)")
            ->check(CLI::NonNegativeNumber)
            ->capture_default_str();
        cmd->add_flag("--no-progress", noProgress, "No progress line on a terminal");
    };

    // ---- info ----
    InfoOptions info;
    CLI::App* infoCmd = app.add_subcommand("info", "Show what recordings hold: blocks, counts, trials, diagnostics");
    addBatch(infoCmd);
    infoCmd->add_flag("--json", info.json, "One JSON document");
    infoCmd->add_option("--trial-start", info.trialStart, "Text of the messages that begin a trial");
    infoCmd->add_option("--trial-end", info.trialEnd, "Text of the messages that end a trial");
    addOpenOptions(infoCmd, info.open);
    infoCmd->footer(std::string(kInfoFooter) + kOpenFooter + kBatchFooter);

    // ---- export ----
    ExportOptions ex;
    std::vector<std::string> tableNames;
    std::string format = "csv";
    bool list = false;
    CLI::App* exportCmd = app.add_subcommand("export", "Write recordings as tidy CSV, TSV or JSON Lines tables");
    addBatch(exportCmd);
    exportCmd->add_option("-t,--table", tableNames, "Table(s): samples, events, messages, buttons, inputs, recordings, trials")
        ->delimiter(',')
        ->allow_extra_args(false);
    exportCmd->add_option("-f,--format", format, "csv, tsv or jsonl")
        ->check(CLI::IsMember({"csv", "tsv", "jsonl"}))
        ->capture_default_str();
    exportCmd->add_option("-o,--output", ex.outDir, "Folder for one file per table (default: standard output)");
    exportCmd->add_flag("-l,--list-columns", list, "List the columns of the table(s) and stop");
    exportCmd->add_option("--columns", ex.columns, "Columns to write, in this order (a,b,c)")
        ->delimiter(',')
        ->allow_extra_args(false);
    exportCmd->add_flag("--velocities", ex.velocities, "Add velocities and derived columns");
    exportCmd->add_option("--missing", ex.missing, "Text of a missing value (default: empty)");
    exportCmd->add_flag("--trials", ex.trials, "Add a trial column (trials are blocks unless identifiers are given)");
    exportCmd->add_option("--trial-start", ex.trialStart, "Text of the messages that begin a trial");
    exportCmd->add_option("--trial-end", ex.trialEnd, "Text of the messages that end a trial");
    addOpenOptions(exportCmd, ex.open);
    exportCmd->footer(std::string(kExportFooter) + kOpenFooter + kBatchFooter);

    // ---- check ----
    CheckOptions check;
    bool verbose = false, quiet = false;
    CLI::App* checkCmd = app.add_subcommand("check", "Tell sound recordings from damaged ones (exit status 0 or 1)");
    addBatch(checkCmd);
    checkCmd->add_flag("-v,--verbose", verbose, "List every problem");
    auto* q = checkCmd->add_flag("-q,--quiet", quiet, "Print nothing; only the exit status tells");
    checkCmd->add_flag("--json", check.json, "One JSON document")->excludes(q);
    checkCmd->footer(std::string(kCheckFooter) + kBatchFooter);

    // ---- bids ----
    BidsCommandLine bids;
    CLI::App* bidsCmd = app.add_subcommand("bids", "Write recordings as a BIDS dataset of eye-tracking data");
    addBatch(bidsCmd);
    addBidsOptions(bidsCmd, bids);
    addOpenOptions(bidsCmd, bids.options.open);
    bidsCmd->footer(std::string(kBidsFooter) + kOpenFooter + kBatchFooter);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }

    Diagnostics::install();
    installInterruptHandler();
    Output out(claimStandardOutput());
    const bool progress = !noProgress;
    jobs = resolveJobs(jobs);

    try {
        if (*bidsCmd) {
            finishOpenOptions(bids.options.open, bidsCmd);
            return runBids(bids, inputs, jobs, progress, out);
        }
        if (*exportCmd) {
            ex.format = format == "tsv" ? Format::Tsv : format == "jsonl" ? Format::Jsonl : Format::Csv;
            ex.progress = progress;
            finishOpenOptions(ex.open, exportCmd);
            for (const std::string& name : tableNames) {
                Table t;
                if (!tableFromName(name, t)) return usage(fmt::format("no table named '{}'", name));
                if (std::find(ex.tables.begin(), ex.tables.end(), t) == ex.tables.end()) ex.tables.push_back(t);
            }
            if (!ex.trialStart.empty() || !ex.trialEnd.empty()) ex.trials = true;
            if (std::find(ex.columns.begin(), ex.columns.end(), "trial") != ex.columns.end()) ex.trials = true;
            if (std::find(ex.tables.begin(), ex.tables.end(), Table::Trials) != ex.tables.end()) ex.trials = true;
            if (list) {
                std::vector<Table> shown = ex.tables;
                if (shown.empty()) shown.assign(std::begin(kAllTables), std::end(kAllTables));
                listColumns(out, shown);
                return kExitOk;
            }
            if (ex.tables.empty()) {
                if (ex.outDir.empty()) {
                    ex.tables.push_back(Table::Samples);
                } else {
                    for (Table t : kAllTables)
                        if (t != Table::Trials || ex.trials) ex.tables.push_back(t);
                }
            }
            if (ex.outDir.empty() && ex.tables.size() != 1)
                return usage("standard output takes one table; use -o DIR for several");
            if (!ex.columns.empty() && ex.tables.size() != 1) return usage("--columns needs a single --table");
            for (Table t : ex.tables) {
                try {
                    selectColumns(t, ex.columns, ex.trials, ex.velocities);
                } catch (const std::invalid_argument& e) {
                    return usage(e.what());
                }
            }
            if (inputs.empty()) return usage("export: no recording given");
            int failures = 0;
            const std::vector<std::string> paths = expandInputs(inputs, failures);
            StreamTarget stream;
            stream.out = &out;
            stream.recordingColumn = paths.size() > 1;
            if (!ex.outDir.empty() && paths.size() > 1) {
                ex.folderPerRecording = true;
                std::set<std::string> names;
                for (const std::string& p : paths)
                    if (!names.insert(std::filesystem::path(p).stem().string()).second)
                        return usage(fmt::format("two recordings are named '{}'; export them separately",
                                                 std::filesystem::path(p).stem().string()));
            }
            BatchJoin join;
            join.dropRepeatedHeader = ex.outDir.empty() && ex.format != Format::Jsonl;
            const int status = runBatch(
                paths, jobs, out, join,
                [&](const std::string& path, Output& o, bool headerWritten) {
                    if (!ex.outDir.empty()) return exportRecording(path, ex, nullptr);
                    StreamTarget s = stream;
                    s.out = &o;
                    s.headerWritten = headerWritten;
                    return exportRecording(path, ex, &s);
                },
                progress);
            return std::max(status, failures != 0 ? kExitFailed : kExitOk);
        }

        if (inputs.empty()) return usage("no recording given");
        int failures = 0;
        const std::vector<std::string> paths = expandInputs(inputs, failures);
        const bool array = paths.size() > 1 || inputs.size() > 1 ||
                           std::any_of(inputs.begin(), inputs.end(),
                                       [](const std::string& p) { return std::filesystem::is_directory(p); });
        int status = kExitOk;
        if (*infoCmd) {
            info.progress = progress;
            finishOpenOptions(info.open, infoCmd);
            BatchJoin join;
            if (info.json) {
                join = array ? BatchJoin{"[\n", ",\n", "\n]\n", false} : BatchJoin{"", "", "\n", false};
            } else {
                join.separator = "\n";
            }
            status = runBatch(paths, jobs, out, join,
                              [&](const std::string& path, Output& o, bool) { return infoRecording(path, info, o); },
                              progress);
        } else if (*checkCmd) {
            check.progress = progress;
            check.verbosity = quiet ? 0 : verbose ? 2 : 1;
            BatchJoin join;
            if (check.json) join = array ? BatchJoin{"[\n", ",\n", "\n]\n", false} : BatchJoin{"", "", "\n", false};
            status = runBatch(paths, jobs, out, join,
                              [&](const std::string& path, Output& o, bool) { return checkRecording(path, check, o); },
                              progress);
        }
        return std::max(status, failures != 0 ? kExitFailed : kExitOk);
    } catch (const Interrupted&) {
        try {
            out.flush();
        } catch (const OutputError&) {
        }
        fmt::print(stderr, "vok: interrupted\n");
        return kExitInterrupted;
    } catch (const std::exception& e) {
        fmt::print(stderr, "vok: {}\n", e.what());
        return kExitFailed;
    }
}

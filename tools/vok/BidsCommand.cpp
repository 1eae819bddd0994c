#include "BidsCommand.h"

#include <fmt/format.h>

#include <map>

#include "Batch.h"
#include "Commands.h"

namespace voktool {

void addBidsOptions(CLI::App* cmd, BidsCommandLine& c) {
    cmd->add_option("-o,--output", c.options.dataset, "The dataset's folder (created when missing)")
        ->required();
    auto* map = cmd->add_option("--map", c.mapping.mapFile,
                                "Table (TSV) naming each recording: path, sub, ses, task, run")
                    ->group("Naming");
    cmd->add_option("--pattern", c.mapping.pattern, "File-name pattern, e.g. '{sub}_{task}_{run}.vok'")
        ->excludes(map)
        ->group("Naming");
    cmd->add_option("--task", c.mapping.task, "Task label where the map or pattern gives none")
        ->group("Naming");
    cmd->add_option("--session", c.mapping.session, "Session label where the map or pattern gives none")
        ->group("Naming");
    cmd->add_option("--display", c.displayFile,
                    "JSON object of ScreenSize, ScreenDistance, ScreenOrigin, ScreenResolution")
        ->group("Display");
    cmd->add_option("--screen-size", c.screenSize, "Screen width,height in metres")->group("Display");
    cmd->add_option("--screen-distance", c.screenDistance, "Eye to screen distance in metres")
        ->group("Display");
    cmd->add_option("--screen-origin", c.screenOrigin, "Where pixel 0,0 is, e.g. top,left")->group("Display");
    cmd->add_option("--screen-resolution", c.screenResolution,
                    "Screen width,height in pixels (default: the recording's DISPLAY_COORDS)")
        ->group("Display");
    cmd->add_flag("--custom-coordinates", c.options.customCoordinates,
                  "Display unknown: write SampleCoordinateSystem \"custom\" instead of failing")
        ->group("Display");
    cmd->add_flag("--velocities", c.options.velocities, "Add x_velocity, y_velocity (deg/s) to the samples");
    cmd->add_flag("--resolution", c.options.resolution, "Add x_resolution, y_resolution (pixels per degree)");
    cmd->add_option("--trial-start", c.options.trialStart, "Text of the messages that begin a trial");
    cmd->add_option("--trial-end", c.options.trialEnd, "Text of the messages that end a trial");
    cmd->add_flag("--overwrite", c.options.overwrite, "Replace recordings already in the dataset");
    cmd->add_option("--gzip-level", c.options.gzipLevel,
                    "Compression of the .tsv.gz files, 1 fastest to 9 smallest")
        ->check(CLI::Range(1, 9))
        ->capture_default_str();
}

int runBids(BidsCommandLine& c, const std::vector<std::string>& inputs, int jobs, bool progress,
            Output& out) {
    auto usage = [](const std::string& text) {
        fmt::print(stderr, "vok bids: {}\n", text);
        return kExitUsage;
    };
    if (inputs.empty()) return usage("no recording given");
    c.options.progress = progress;
    std::vector<BidsName> names;
    int failures = 0;
    const std::vector<std::string> paths = expandInputs(inputs, failures);
    try {
        names = nameRecordings(paths, c.mapping);
        BidsDisplay display;
        if (!c.displayFile.empty()) display = BidsDisplay::fromJsonFile(c.displayFile);
        BidsDisplay given;
        if (!c.screenSize.empty()) given.screenSize = parseSize("--screen-size", c.screenSize);
        if (!c.screenDistance.empty())
            given.screenDistance = parsePositive("--screen-distance", c.screenDistance);
        if (!c.screenOrigin.empty()) given.screenOrigin = parseOrigin("--screen-origin", c.screenOrigin);
        if (!c.screenResolution.empty())
            given.screenResolution = parseResolution("--screen-resolution", c.screenResolution);
        display.override(given);
        c.options.display = display;
        if (!c.options.customCoordinates) {
            const std::string missing = missingDisplayMessage(display);
            if (!missing.empty()) return usage(missing);
        }
    } catch (const BidsUsageError& e) {
        return usage(e.what());
    }
    std::map<std::string, BidsName> byPath;
    for (std::size_t k = 0; k < paths.size(); ++k) byPath[paths[k]] = names[k];
    int status = runBatch(
        paths, jobs, out, BatchJoin{},
        [&](const std::string& path, Output& o, bool) {
            return bidsRecording(path, byPath.at(path), c.options, o);
        },
        progress);
    try {
        finishDataset(c.options);
    } catch (const std::exception& e) {
        fmt::print(stderr, "vok: {}: {}\n", c.options.dataset, e.what());
        status = kExitFailed;
    }
    return std::max(status, failures != 0 ? kExitFailed : kExitOk);
}

}  // namespace voktool

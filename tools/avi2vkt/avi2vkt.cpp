// avi2vkt BASE COUNT: makes the video frame lookup tables of a recording.
//
// Run in the recording's directory.  For each video number n below COUNT
// whose table BASE<n>.vkt is missing, reads the frame period and frame count
// of BASE<n>.avi, finds in BASE.vok when recording block n started (the
// n-th recording start, counted from 0), and writes the table: frame i is
// shown at the block start + round(i * period).
//
// The video COUNT - 1 is the one asked for: the exit status is 0 when its
// table is there at the end, 1 otherwise.  Tables of the videos below it are
// made on the way; a block without a video file is skipped, and a failure
// there is reported without changing the exit status.  Diagnostics go to
// standard error.
#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "AviHeader.h"
#include "FrameTable.h"
#include "vokapi.h"

namespace {

void logToStderr(const char* text) { std::fprintf(stderr, "avi2vkt: %s", text); }

void report(const std::string& text) { std::fprintf(stderr, "avi2vkt: %s\n", text.c_str()); }

// The start times (ms, recording clock) of the recording's blocks, in
// order, read through the library.
bool readBlockStarts(const std::string& recording, std::vector<std::uint32_t>& starts, std::string& error) {
    starts.clear();
    int status = 0;
    // Times as recorded: no offset fixup, no consistency changes.
    VOKFile* file = vok_open_file(recording.c_str(), VOK_NO_TIME_FIXUP, 1, 1, &status);
    if (file == nullptr) {
        error = "cannot open the recording " + recording;
        return false;
    }
    for (int code = vok_get_next_data(file); code != 0; code = vok_get_next_data(file)) {
        if (code != RECORDING_INFO) continue;
        RecordingInfo* info = vok_get_recording(vok_get_float_data(file));
        if (info != nullptr && info->state != 0) starts.push_back(info->time);
    }
    vok_close_file(file);
    return true;
}

class Converter {
public:
    Converter(std::string base, bool verbose) : base_(std::move(base)), verbose_(verbose) {}

    // Makes the table of video n from its video file; false with a reason.
    bool convert(std::uint32_t n, const std::string& video, const std::string& table, std::string& error) {
        avi2vkt::AviHeader header;
        if (!avi2vkt::readAviHeader(video, header, error)) return false;
        // Every frame has at least a chunk header in the file; a larger
        // count is a damaged header, not a video.
        if (header.totalFrames > header.fileSize / 8) {
            error = video + ": the header claims " + std::to_string(header.totalFrames) +
                    " frames, more than the file can hold";
            return false;
        }
        if (!starts_) {
            std::vector<std::uint32_t> starts;
            if (!readBlockStarts(base_ + ".vok", starts, error)) return false;
            starts_ = std::move(starts);
        }
        if (n >= starts_->size()) {
            error = "the recording " + base_ + ".vok has no recording block " + std::to_string(n) +
                    " (it has " + std::to_string(starts_->size()) + ")";
            return false;
        }
        const std::uint32_t start = (*starts_)[n];
        std::vector<avi2vkt::FrameRecord> records;
        if (!avi2vkt::frameRecords(start, header.microSecPerFrame, header.totalFrames, records, error)) {
            error = video + ": " + error;
            return false;
        }
        if (!avi2vkt::writeTable(table, records, error)) return false;
        if (verbose_) {
            report(table + ": " + std::to_string(records.size()) + " frames of " +
                   std::to_string(header.microSecPerFrame) + " us from " + std::to_string(start) + " ms");
        }
        return true;
    }

private:
    std::string base_;
    bool verbose_;
    std::optional<std::vector<std::uint32_t>> starts_;  // read once, when first needed
};

int run(const std::string& base, std::uint32_t count, bool verbose) {
    Converter converter(base, verbose);
    int status = 0;
    for (std::uint32_t n = 0; n < count; ++n) {
        const bool asked = n == count - 1;
        const std::string stem = base + std::to_string(n);
        const std::string table = stem + ".vkt";
        const std::string video = stem + ".avi";
        std::error_code ec;
        if (std::filesystem::exists(table, ec)) continue;
        if (!std::filesystem::exists(video, ec)) {
            if (asked) {
                report("missing video file " + video);
                status = 1;
            } else if (verbose) {
                report("no video file " + video + ": no table for block " + std::to_string(n));
            }
            continue;
        }
        std::string error;
        if (!converter.convert(n, video, table, error)) {
            report(error);
            if (asked) status = 1;
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Makes the video frame lookup tables BASE<n>.vkt of the recording BASE.vok from its "
        "videos BASE<n>.avi, for the videos n below COUNT whose table is missing. The exit "
        "status is 0 when the table of video COUNT - 1 is there at the end."};
    // A path such as "/data/rec" is an argument, not a Windows-style "/option".
    app.allow_windows_style_options(false);
    std::string base;
    std::uint32_t count = 0;
    bool verbose = false;
    app.add_option("BASE", base, "recording name without \".vok\"")->required();
    app.add_option("COUNT", count, "number of videos: tables 0 to COUNT - 1")
        ->required()
        ->check(CLI::Range(1u, 1000000u));
    app.add_flag("-v,--verbose", verbose, "report each table made and each block skipped");
    CLI11_PARSE(app, argc, argv);

    vok_set_log_function(logToStderr);
    try {
        return run(base, count, verbose);
    } catch (const std::exception& e) {
        report(e.what());
        return 1;
    }
}

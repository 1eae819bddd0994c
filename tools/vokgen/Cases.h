// Small realistic recordings, one per peculiarity that the consistency
// checks and the handling of damaged files exist for, plus one sound
// recording to compare them with.
//
// Every case is the same two-block session (500 Hz, both eyes, gaze scale
// 10): blocks at 1000-3000 ms and 4000-6000 ms, each with fixations, two
// saccades with a blink inside, and a trial message pair.  Each case changes
// that session in one way only (the experiment case marks it up as an
// experiment program would); its description says how and where.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vokgen {

struct RecordingCase {
    std::string name;         // file name, e.g. "events-after-block-end.vok"
    std::string description;  // one line: what is peculiar, and where
    std::vector<std::uint8_t> bytes;
};

// Names and descriptions of all cases, in a fixed order; bytes left empty.
std::vector<RecordingCase> recordingCaseList();

// All cases with their bytes, in the order of recordingCaseList().  The same
// bytes on every run and platform.
std::vector<RecordingCase> recordingCases();

// Writes every case into dir (created when missing) under its name; returns
// the paths written.  std::runtime_error when a file cannot be written.
std::vector<std::filesystem::path> writeRecordingCases(const std::filesystem::path& dir);

}  // namespace vokgen

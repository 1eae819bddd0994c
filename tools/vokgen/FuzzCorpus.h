// Seed inputs for the fuzz targets, and the layouts the targets read their
// input in.  `vokgen fuzz-corpus DIR` writes them into DIR/<target name>/;
// the damage tests reuse the recordings.
//
// Input layouts (all targets treat a short input as zeros):
//   open_walk_fuzz       [options][recording]
//   nav_fuzz             [options][script length n][n script bytes][recording]
//   measures_fuzz        [options][10 floats, 40 bytes, host order: the
//                        physical setup][recording]
//   extra_messages_fuzz  [options][extra message log text]; the recording
//                        is a fixed one of the writer's
//   video_lookup_fuzz    [a lookup table file]
// Options byte: bits 0-1 consistency level, bit 2 tolerant reading, bit 3
// no time fixup, bit 4 message time offsets, bit 5 no events, bit 6 no
// samples, bit 7 compress the record stream before opening (a plain
// recording becomes a compressed one with the same records).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vokgen {

inline constexpr std::uint8_t kFuzzCompress = 0x80;

// The operations of a nav_fuzz script; each takes the bytes listed.
enum class NavOp : std::uint8_t {
    SetIdentifiers = 0,  // start text, end text: each a length byte and bytes
    JumpToTrial,         // i8 trial
    NextTrial,
    PreviousTrial,
    TrialWithStartTime,  // u32 time (big-endian); 0xFFFFFFFF: the current trial's start
    TrialWithEndTime,    // u32 time, as above
    TrialHeader,
    SetBookmark,
    FreeBookmark,  // u8: 0 the last bookmark set, else that id - 1
    GotoBookmark,  // u8, as above
    NextBookmark,
    PreviousBookmark,
    Step,          // u8 count: steps, fetching every record
    SampleAtTime,  // u32 time; 0xFFFFFFFF: the current sample's time
    Count          // number of operations; bytes at or above wrap
};

struct FuzzSeed {
    std::string target;  // "open_walk_fuzz", ...
    std::string name;    // file name inside the target's folder
    std::vector<std::uint8_t> bytes;
};

// Small recordings of the writer (plain; each a few KiB at most): a
// hand-built one, generated ones at every rate with gaps, one eye, head
// data, trials, and a compressed one.
std::vector<std::vector<std::uint8_t>> fuzzRecordings();

// The fixed recording of the extra message target: one block from 1000 to
// 1100 ms with a synchronisation message.
std::vector<std::uint8_t> extraMessageRecording();

// The recording with its record stream (after "ENDP:\n") compressed into
// one zlib stream and the magic line of compressed recordings; unchanged
// when it has no magic line or no end of preamble, or is compressed already.
std::vector<std::uint8_t> compressRecordStream(const std::vector<std::uint8_t>& recording);

// Recordings made to cost the reader as much as their size allows, each
// about targetBytes long: samples with a long gap after every one (the
// repair fills gaps with placeholders), recording blocks only, messages
// only (trial boundaries), blink starts and ends only, and a compressed one
// whose body inflates to targetBytes * 1000 bytes of end markers.
struct HeavyRecording {
    std::string name;
    std::vector<std::uint8_t> bytes;
};
std::vector<HeavyRecording> heavyRecordings(std::size_t targetBytes);

// Every seed of every target.
std::vector<FuzzSeed> fuzzCorpus();

// Writes fuzzCorpus() below dir; returns the number of files written.
// std::runtime_error when a file cannot be written.
std::size_t writeFuzzCorpus(const std::filesystem::path& dir);

}  // namespace vokgen

// What the fuzz targets share: reading numbers and texts off the front of
// the input, a scratch file per process for the bytes the library opens by
// name (extra message logs, lookup tables), opening recordings from memory
// with the options byte of the corpus layouts
// (tools/vokgen/FuzzCorpus.h), and a walk that checks it ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vokapi.h"

namespace vokfuzz {

// The input, consumed from the front; reads past its end give zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t u32();
    // A length byte and that many bytes (fewer at the end of the input).
    std::string text();
    // n bytes into out (zeros past the end).
    void bytes(void* out, std::size_t n);
    // What is left; the input is then used up.
    std::vector<std::uint8_t> rest();

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Sends the library's log texts nowhere (standard output is left alone; run
// libFuzzer with -close_fd_mask=1 to drop the progress lines).
void quiet();

// A file name in TMPDIR (or /tmp) unique to this process, ending in suffix.
std::string scratchPath(const std::string& suffix);

// Writes bytes to path; aborts when that fails (the fuzzer cannot go on).
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Opens recording bytes from memory with the options byte of the corpus
// layouts (the load-events argument is ored with extraEvents); null when the
// library refuses them.  With the compress bit, recording is replaced by its
// compressed form first.  The handle reads recording: keep it until the
// handle is closed.
VOKFile* openRecording(std::vector<std::uint8_t>& recording, std::uint8_t options, int extraEvents = 0);

// Steps to the end, fetching every item's record and checking the record
// matches the type the step returned.  Aborts when the walk does not end
// within the element count.  Returns the steps taken.
std::size_t walk(VOKFile* file);

// Runs a nav_fuzz script (operations of vokgen::NavOp with their bytes) on
// an open file; aborts when a trial header or a found sample contradicts
// itself.
void runNavigationScript(VOKFile* file, Input& script);

// Every derived measure of both eyes (and invalid ones) on one sample.
void measureSample(VOKFile* file, Sample* sample);

}  // namespace vokfuzz

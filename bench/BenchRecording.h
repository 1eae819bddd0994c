// The recordings the benchmarks read, written once by the project's writer
// and kept beside the benchmark binary between runs.
#pragma once

#include <string>

namespace vokbench {

// A one-hour 1000 Hz binocular recording (about 3.6 million samples plus
// events); compressed selects the compressed form of the same recording.
const std::string& hourRecording(bool compressed = false);

// Bytes of a file, and the time of the fastest of a few plain reads of it
// (the floor every figure is compared with), in seconds.
std::string readWhole(const std::string& path);
double plainReadSeconds(const std::string& path);

// Peak resident memory of the process so far, in bytes.
long peakRssBytes();

}  // namespace vokbench

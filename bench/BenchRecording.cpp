#include "BenchRecording.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "VokWriter.h"

namespace vokbench {

namespace {
std::string makeRecording(bool compressed) {
    const std::string path = compressed ? "bench_hour_1000hz_compressed.vok" : "bench_hour_1000hz.vok";
    if (std::filesystem::exists(path)) return path;
    vokgen::GenOptions options;
    options.seed = 2026;
    options.durationMs = 3'600'000;
    options.sampleRate = 1000;
    options.blocks = 12;
    options.eyes = vokgen::Eye::Both;
    options.compressed = compressed;
    options.expectation = vokgen::Expectation::None;
    std::fprintf(stderr, "writing %s ...\n", path.c_str());
    vokgen::GenResult result = vokgen::generateRecording(options);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(result.bytes.data()), static_cast<std::streamsize>(result.bytes.size()));
    return path;
}
}  // namespace

const std::string& hourRecording(bool compressed) {
    static const std::string plain = makeRecording(false);
    if (!compressed) return plain;
    static const std::string packed = makeRecording(true);
    return packed;
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

double plainReadSeconds(const std::string& path) {
    std::vector<char> buffer(1 << 20);
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) return 0.0;
        std::size_t total = 0, n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) total += n;
        std::fclose(f);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (total > 0 && s < best) best = s;
    }
    return best;
}

long peakRssBytes() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss * 1024L;
}

}  // namespace vokbench

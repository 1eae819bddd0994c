// The costliest inputs per byte: opening, walking and splitting into trials
// the writer's heavy recordings (long gaps after every sample, recording
// blocks only, messages only, blinks only, a compressed body of end
// markers), 1 MiB each.  Each figure carries s_per_MB, seconds per megabyte
// of the record stream as read (inflated for the compressed one); the
// library promises less than 1.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "FuzzCorpus.h"
#include "nav/VOKFile.h"
#include "vokapi.h"

namespace {

void quiet(const char*) {}

struct Heavy {
    std::string name;
    std::string path;
};

const std::vector<Heavy>& heavyFiles() {
    static const std::vector<Heavy> files = [] {
        std::vector<Heavy> out;
        int k = 0;
        for (const vokgen::HeavyRecording& h : vokgen::heavyRecordings(1u << 20)) {
            const std::string path = "vokapi_heavy_" + std::to_string(k++) + ".vok";
            std::FILE* f = std::fopen(path.c_str(), "wb");
            if (f == nullptr) continue;
            std::fwrite(h.bytes.data(), 1, h.bytes.size(), f);
            std::fclose(f);
            out.push_back({h.name, path});
        }
        return out;
    }();
    return files;
}

void BM_Heavy(benchmark::State& state) {
    const Heavy& heavy = heavyFiles().at(static_cast<std::size_t>(state.range(0)));
    const int consistency = static_cast<int>(state.range(1));
    state.SetLabel(heavy.name + ", consistency " + std::to_string(consistency));
    vok_set_log_function(quiet);
    double seconds = 0.0;
    double megabytes = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        int err = 0;
        VOKFile* file = vok_open_file(heavy.path.c_str(), consistency, 1, 1, &err);
        if (file == nullptr) {
            state.SkipWithError("the heavy recording does not open");
            break;
        }
        while (vok_get_next_data(file) != 0) vok_get_float_data(file);
        vok_set_trial_identifier(file, "TRIAL_START", "TRIAL_END");
        for (int t = 0; t < vok_get_trial_count(file); ++t) vok_jump_to_trial(file, t);
        megabytes = static_cast<double>(file->recording.bodySize) / 1e6;
        vok_close_file(file);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (state.iterations() > 0 && megabytes > 0.0)
        state.counters["s_per_MB"] = seconds / static_cast<double>(state.iterations()) / megabytes;
    vok_set_log_function(nullptr);
}
BENCHMARK(BM_Heavy)->ArgsProduct({{0, 1, 2, 3, 4}, {0, 2}})->Unit(benchmark::kMillisecond)->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();

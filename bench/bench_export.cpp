// Export benchmarks: the samples of a one-hour 1000 Hz binocular recording
// written as CSV by `vok export`, with and without velocities.  Rows per
// second are the items_per_second figure; x_floor compares each run with
// walking the same samples through the C API without writing anything
// (the library's own share of the work), measured in the same run.  Times
// are processor time of the process, so that the figures are per core and
// hold on a busy machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <cstdio>
#include <string>

#include "BenchRecording.h"
#include "Commands.h"
#include "Output.h"
#include "Session.h"
#include "vokapi.h"

namespace {

// Processor time used by the process so far, in seconds.
double cpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The library writes a progress line to standard output on every open; keep
// it out of the benchmark's report.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_;
};

struct Walk {
    double seconds = 0;
    std::int64_t samples = 0;
};

// Opens the recording and reads every sample record.
Walk walkSamples(const std::string& path) {
    QuietStdout quiet;
    const double start = cpuSeconds();
    int err = 0;
    VOKFile* f = vok_open_file(path.c_str(), 1, 1, 1, &err);
    Walk w;
    if (f == nullptr) return w;
    for (int code; (code = vok_get_next_data(f)) != 0;) {
        if (code != SAMPLE_TYPE) continue;
        const FloatData* d = vok_get_float_data(f);
        benchmark::DoNotOptimize(d);
        ++w.samples;
    }
    vok_close_file(f);
    w.seconds = cpuSeconds() - start;
    return w;
}

const Walk& floorWalk() {
    static const Walk best = [] {
        Walk a = walkSamples(vokbench::hourRecording());
        const Walk b = walkSamples(vokbench::hourRecording());
        if (b.seconds < a.seconds) a = b;
        return a;
    }();
    return best;
}

void BM_WalkSamples(benchmark::State& state) {
    const Walk& floor = floorWalk();
    std::int64_t rows = 0;
    double total = 0;
    for (auto _ : state) {
        const Walk w = walkSamples(vokbench::hourRecording());
        rows += w.samples;
        total += w.seconds;
    }
    state.SetItemsProcessed(rows);
    state.counters["x_floor"] = total / static_cast<double>(state.iterations()) / floor.seconds;
}

void exportSamples(benchmark::State& state, bool velocities) {
    voktool::Diagnostics::install();
    const Walk& floor = floorWalk();
    voktool::ExportOptions options;
    options.tables = {voktool::Table::Samples};
    options.velocities = velocities;
    options.progress = false;
    const int null = ::open("/dev/null", O_WRONLY);
    double total = 0;
    for (auto _ : state) {
        QuietStdout quiet;
        voktool::Output out(null);
        voktool::StreamTarget stream;
        stream.out = &out;
        const double start = cpuSeconds();
        if (voktool::exportRecording(vokbench::hourRecording(), options, &stream) != 0)
            state.SkipWithError("export failed");
        total += cpuSeconds() - start;
    }
    ::close(null);
    state.SetItemsProcessed(floor.samples * state.iterations());
    state.counters["x_floor"] = total / static_cast<double>(state.iterations()) / floor.seconds;
}

void BM_ExportSamplesCsv(benchmark::State& state) { exportSamples(state, false); }
void BM_ExportSamplesCsvVelocities(benchmark::State& state) { exportSamples(state, true); }

BENCHMARK(BM_WalkSamples)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ExportSamplesCsv)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExportSamplesCsvVelocities)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

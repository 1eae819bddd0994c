// BIDS conversion of the one-hour 1000 Hz binocular recording (3.6 million
// samples, both eyes: two gzip-compressed physio files and their events),
// against `vok export` of the same samples as CSV in the same run.  Samples
// per second of processor time are the items_per_second figure; x_export
// is the conversion's time over the export's.  peak_rss_mib is the process's
// peak resident memory after the conversions.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "BenchRecording.h"
#include "Bids.h"
#include "Commands.h"
#include "Output.h"
#include "Session.h"
#include "vokapi.h"

namespace {

double cpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The library prints a progress line on every open.
struct QuietStdout {
    QuietStdout() {
        std::fflush(stdout);
        saved = ::dup(STDOUT_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
    }
    int saved;
};

std::int64_t sampleCount(const std::string& path) {
    QuietStdout quiet;
    int err = 0;
    VOKFile* f = vok_open_file(path.c_str(), 1, 1, 1, &err);
    std::int64_t n = 0;
    for (int code; f != nullptr && (code = vok_get_next_data(f)) != 0;) n += code == SAMPLE_TYPE;
    vok_close_file(f);
    return n;
}

double exportSeconds() {
    voktool::ExportOptions options;
    options.tables = {voktool::Table::Samples};
    options.progress = false;
    const int null = ::open("/dev/null", O_WRONLY);
    QuietStdout quiet;
    voktool::Output out(null);
    voktool::StreamTarget stream;
    stream.out = &out;
    const double start = cpuSeconds();
    voktool::exportRecording(vokbench::hourRecording(), options, &stream);
    const double s = cpuSeconds() - start;
    ::close(null);
    return s;
}

void BM_BidsHour(benchmark::State& state) {
    voktool::Diagnostics::install();
    const std::string& path = vokbench::hourRecording();
    const std::int64_t samples = sampleCount(path);
    voktool::BidsOptions options;
    options.dataset = "bench_bids_dataset";
    options.overwrite = true;
    options.progress = false;
    options.gzipLevel = static_cast<int>(state.range(0));
    options.display.screenResolution = std::array<int, 2>{1920, 1080};
    voktool::BidsName name{"hour", "", "bench", ""};
    double bids = 0, exported = 0;
    for (auto _ : state) {
        exported += exportSeconds();
        QuietStdout quiet;
        voktool::Output out(::open("/dev/null", O_WRONLY), true);
        const double start = cpuSeconds();
        if (voktool::bidsRecording(path, name, options, out) != 0) state.SkipWithError("conversion failed");
        bids += cpuSeconds() - start;
    }
    state.SetItemsProcessed(samples * state.iterations());
    state.counters["x_export"] = bids / exported;
    state.counters["samples_per_cpu_s"] = static_cast<double>(samples * state.iterations()) / bids;
    state.counters["peak_rss_mib"] = static_cast<double>(vokbench::peakRssBytes()) / (1024.0 * 1024.0);
    std::error_code ec;
    std::filesystem::remove_all(options.dataset, ec);
}

BENCHMARK(BM_BidsHour)->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

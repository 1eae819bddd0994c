// Reading benchmarks on a one-hour 1000 Hz binocular recording.  Every
// figure carries x_floor: its time over the floor measured in the same run
// (a plain read of the file; for the compressed file, zlib inflating its body
// alone plus opening the plain file).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <zlib.h>

#include "BenchRecording.h"
#include "format/Inflate.h"
#include "format/InputStream.h"
#include "format/RecordDecoder.h"
#include "load/ItemIndex.h"
#include "nav/VOKFile.h"
#include "vokapi.h"
#include "vokapi_ext.h"

namespace {

using Clock = std::chrono::steady_clock;

void quiet(const char*) {}

double g_plainRead = 0.0;

double plainRead() {
    if (g_plainRead == 0.0) g_plainRead = vokbench::plainReadSeconds(vokbench::hourRecording());
    return g_plainRead;
}

// Runs body once per iteration, timing it, and reports the mean time against
// the floor.
template <class Body>
void timed(benchmark::State& state, double floor, Body&& body) {
    double total = 0.0;
    std::int64_t n = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        body();
        total += std::chrono::duration<double>(Clock::now() - start).count();
        ++n;
    }
    if (n > 0 && floor > 0.0) state.counters["x_floor"] = (total / static_cast<double>(n)) / floor;
}

std::size_t fileSize(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return 0;
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fclose(f);
    return size < 0 ? 0 : static_cast<std::size_t>(size);
}

void BM_PlainRead(benchmark::State& state) {
    const std::string& path = vokbench::hourRecording();
    std::unique_ptr<char[]> buffer(new char[1 << 20]);
    timed(state, plainRead(), [&] {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        std::size_t n;
        while ((n = std::fread(buffer.get(), 1, 1 << 20, f)) > 0) benchmark::DoNotOptimize(buffer[0]);
        std::fclose(f);
    });
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileSize(path)));
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// The least any index can cost: decode every record from memory and append
// a 16-byte entry, with none of the loader's bookkeeping.
void BM_MinimalDecodeLoop(benchmark::State& state) {
    const std::string bytes = vokbench::readWhole(vokbench::hourRecording());
    const std::size_t body = bytes.find("ENDP:\n") + 6;
    std::size_t items = 0;
    vok::RecordReader reader;
    reader.stream = std::make_unique<vok::MemoryInputStream>(bytes.data() + body, bytes.size() - body);
    reader.endOfPreamble = true;
    reader.revision = 4;
    timed(state, plainRead(), [&] {
        reader.stream->seek(0);
        reader.pendingTag = 0;
        vok::ItemIndex index;
        Sample s{};
        Event e{};
        for (;;) {
            const int tag = vok::readTag(reader, nullptr);
            if (tag == vok::kTagEnd) break;
            const auto position = static_cast<std::uint32_t>(reader.stream->position());
            vok::ItemEntry entry{};
            entry.position = position;
            if (tag == vok::kTagSample) {
                vok::decodeSample(reader, s, 0);
                entry.code = SAMPLE_TYPE;
                entry.timeHalfMs = 2ull * s.time;
            } else {
                e = Event{};
                vok::decodeEvent(reader, e);
                entry.code = static_cast<std::uint16_t>(e.type);
                entry.timeHalfMs = 2ull * e.startTime;
            }
            index.push_back(entry);
        }
        items = index.size();
        benchmark::DoNotOptimize(index.data());
    });
    state.counters["items"] = static_cast<double>(items);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (bytes.size() - body)));
}
BENCHMARK(BM_MinimalDecodeLoop)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Opening at the consistency level given by the benchmark's argument.
void BM_Open(benchmark::State& state) {
    vok_set_log_function(quiet);
    const std::string& path = vokbench::hourRecording();
    const int consistency = static_cast<int>(state.range(0));
    const long rssBefore = vokbench::peakRssBytes();
    std::size_t items = 0, indexBytes = 0;
    timed(state, plainRead(), [&] {
        int err = 0;
        VOKFile* f = vok_open_file(path.c_str(), consistency, 1, 1, &err);
        items = f->recording.items.index.size();
        indexBytes = f->recording.items.index.capacity() * sizeof(vok::ItemEntry);
        vok_close_file(f);
    });
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fileSize(path)));
    state.counters["items"] = static_cast<double>(items);
    state.counters["index_bytes_per_item"] = static_cast<double>(indexBytes) / static_cast<double>(items);
    state.counters["peak_rss_growth_MB"] =
        static_cast<double>(vokbench::peakRssBytes() - rssBefore) / (1024.0 * 1024.0);
}
BENCHMARK(BM_Open)->ArgName("consistency")->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void walk(benchmark::State& state, bool velocities) {
    vok_set_log_function(quiet);
    int err = 0;
    VOKFile* f = vok_open_file(vokbench::hourRecording().c_str(), 0, 1, 1, &err);
    f->decoder.setComputeVelocities(velocities);
    std::size_t items = 0, samples = 0;
    timed(state, plainRead(), [&] {
        vokext_rewind(f);
        items = samples = 0;
        int type;
        while ((type = vok_get_next_data(f)) != 0) {
            FloatData* d = vok_get_float_data(f);
            benchmark::DoNotOptimize(d);
            ++items;
            samples += type == SAMPLE_TYPE;
        }
    });
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * items));
    state.counters["samples_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * samples), benchmark::Counter::kIsRate);
    vok_close_file(f);
}
void BM_WalkWithoutVelocities(benchmark::State& state) { walk(state, false); }
void BM_WalkWithVelocities(benchmark::State& state) { walk(state, true); }
BENCHMARK(BM_WalkWithoutVelocities)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WalkWithVelocities)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The floor of a compressed open: zlib inflating the body into a file, plus
// opening the plain recording.
double g_compressedFloor = 0.0;

double inflateAlone() {
    const std::string& path = vokbench::hourRecording(true);
    const std::string bytes = vokbench::readWhole(path);
    const std::size_t body = bytes.find("ENDP:\n") + 6;
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        std::FILE* in = std::fopen(path.c_str(), "rb");
        std::fseek(in, static_cast<long>(body), SEEK_SET);
        std::FILE* out = std::tmpfile();
        const auto start = Clock::now();
        vok::inflateBody(in, out);
        std::fflush(out);
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
        std::fclose(in);
        std::fclose(out);
    }
    return best;
}

void BM_InflateAlone(benchmark::State& state) {
    const std::string& path = vokbench::hourRecording(true);
    const std::string bytes = vokbench::readWhole(path);
    const std::size_t body = bytes.find("ENDP:\n") + 6;
    timed(state, 0.0, [&] {
        std::FILE* in = std::fopen(path.c_str(), "rb");
        std::fseek(in, static_cast<long>(body), SEEK_SET);
        std::FILE* out = std::tmpfile();
        vok::inflateBody(in, out);
        std::fflush(out);
        std::fclose(in);
        std::fclose(out);
    });
}
BENCHMARK(BM_InflateAlone)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_OpenCompressed(benchmark::State& state) {
    vok_set_log_function(quiet);
    if (g_compressedFloor == 0.0) {
        // Floor: inflating alone plus the fastest plain open.
        double open = 1e9;
        for (int round = 0; round < 3; ++round) {
            const auto start = Clock::now();
            int err = 0;
            vok_close_file(vok_open_file(vokbench::hourRecording().c_str(), 0, 1, 1, &err));
            open = std::min(open, std::chrono::duration<double>(Clock::now() - start).count());
        }
        g_compressedFloor = inflateAlone() + open;
    }
    const std::string& path = vokbench::hourRecording(true);
    timed(state, g_compressedFloor, [&] {
        int err = 0;
        vok_close_file(vok_open_file(path.c_str(), 0, 1, 1, &err));
    });
}
BENCHMARK(BM_OpenCompressed)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

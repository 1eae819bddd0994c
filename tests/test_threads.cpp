// Distinct handles in distinct threads: eight threads open recordings
// (different files and the same file, plain and compressed, every
// consistency level, with and without an extra message log), walk them,
// split them into trials, measure them and close them, all at once and
// several rounds over; every record must equal the one a sequential walk of
// the same file gives.  The ThreadSanitizer build runs this program to find
// the data races that results alone would not show.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ExtraLogWriter.h"
#include "VokWriter.h"
#include "load/Recording.h"
#include "support/TestSupport.h"
#include "vokapi.h"

namespace {

using vok::test::TempDir;

struct Job {
    std::string path;
    int consistency;
    int loadEvents;
};

void appendBytes(std::string& out, const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); }

// Every item's record as bytes (without pointers, with message texts), the
// trials, and the measures taken on the samples.
std::string walk(const Job& job) {
    int err = 0;
    VOKFile* f = vok_open_file(job.path.c_str(), job.consistency, job.loadEvents, 1, &err);
    if (f == nullptr) return "open failed";
    std::string out;
    char preamble[4096];
    vok_get_preamble_text(f, preamble, sizeof preamble);
    out += preamble;
    std::uint64_t samples = 0;
    for (int type; (type = vok_get_next_data(f)) != 0;) {
        out += std::to_string(type);
        const FloatData* d = vok_get_float_data(f);
        if (d == nullptr) {
            out += "null";
            continue;
        }
        if (type == SAMPLE_TYPE) {
            const Sample& s = d->sample;
            appendBytes(out, &s, offsetof(Sample, errors) + sizeof s.errors);
            appendBytes(out, &s.timeHalfMs, sizeof s.timeHalfMs);
            if (++samples % 97 == 0) {
                Sample copy = s;
                float raw[2] = {0, 0};
                vok_get_uncorrected_raw_pupil(f, &copy, 0, raw);
                appendBytes(out, raw, sizeof raw);
                out += std::to_string(vok_get_uncorrected_pupil_area(f, &copy, 1));
            }
        } else if (type == RECORDING_INFO) {
            const RecordingInfo& r = d->recording;
            out += std::to_string(r.time) + ' ' + std::to_string(r.sampleRate) + ' ' + std::to_string(r.state) +
                   ' ' + std::to_string(r.eye) + ' ' + std::to_string(r.timeHalfMs);
        } else {
            const Event& e = d->event;
            appendBytes(out, &e, offsetof(Event, parsedBy) + sizeof e.parsedBy);
            if (e.message != nullptr) out.append(e.message->c, std::strlen(e.message->c));
        }
    }
    const int trials = vok_get_trial_count(f);
    out += "trials " + std::to_string(trials);
    for (int t = 0; t < trials; ++t) {
        Trial header{};
        if (vok_jump_to_trial(f, t) != 0 || vok_get_trial_header(f, &header) != 0) {
            out += "trial failed";
            continue;
        }
        out += ' ' + std::to_string(header.startTime) + '-' + std::to_string(header.endTime);
        if (vok_get_next_data(f) != 0) out += std::to_string(vok_get_element_count(f));
    }
    vok_close_file(f);
    return out;
}

// A folder of recordings: several generated sessions, their compressed
// twins, and one session with an extra message log in a folder of its own.
std::vector<std::string> writeRecordings(const TempDir& dir) {
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i) {
        vokgen::GenOptions o;
        o.seed = 100 + static_cast<std::uint64_t>(i);
        o.durationMs = 20000;
        o.blocks = 1 + i % 2;
        o.sampleRate = i == 3 ? 2000 : i == 2 ? 250 : 500;
        o.gaps = i == 1;
        o.compressed = i % 2 == 1;
        const vokgen::GenResult r = vokgen::generateRecording(o);
        paths.push_back(dir.write("rec" + std::to_string(i) + ".vok",
                                  std::string(r.bytes.begin(), r.bytes.end())));
    }
    std::filesystem::create_directories(dir.path() / "logged");
    vokgen::GenOptions o;
    o.seed = 7;
    o.durationMs = 2000;
    const vokgen::GenResult r = vokgen::generateRecording(o);
    // Joined by the platform's separator: the log is looked for after the
    // last one (on Windows the backslash only).
    const std::string logged = dir.write((std::filesystem::path("logged") / "with-log.vok").string(),
                                         std::string(r.bytes.begin(), r.bytes.end()));
    vokgen::ExtraLogWriter log;
    log.sync(500.0, 1000100.0).message(510.5, "marker one").message(900.0, "marker two").quit(1200.0);
    log.writeFile((dir.path() / "logged" / "mb_messages.log").string());
    paths.push_back(logged);
    return paths;
}

std::atomic<int> g_logged{0};
void countLog(const char*) { g_logged.fetch_add(1, std::memory_order_relaxed); }

TEST(Threads, DistinctHandlesInEightThreadsGiveTheSequentialRecords) {
    TempDir dir;
    const std::vector<std::string> paths = writeRecordings(dir);
    // Every consistency level, with tolerant reading on some; the same file
    // is opened by several threads at once.
    std::vector<Job> jobs;
    const int consistencies[] = {0, 1, 2, 3, 1 | VOK_TOLERANT_READING, 2 | VOK_TOLERANT_READING};
    for (std::size_t i = 0; i < 16; ++i) {
        const std::string& path = paths[i % paths.size()];
        const bool logged = path.find("with-log") != std::string::npos;
        jobs.push_back({path, consistencies[i % 6], logged && i % 2 == 0 ? 3 : 1});
    }
    // Library-wide settings as a program would set them: a callback (the
    // stdout lines of the extra message loading still appear) and a
    // physical setup that a measuring thread keeps using.
    vok_set_log_function(countLog);
    vok_compute_physical_setup(600.0f, 1e8f, -200.0f, 150.0f, 200.0f, -150.0f, 0.0f, 0.0f, 1279.0f, 1023.0f);

    std::vector<std::string> expected;
    for (const Job& job : jobs) expected.push_back(walk(job));
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        ASSERT_NE(expected[i], "open failed") << jobs[i].path;
        EXPECT_GT(expected[i].size(), 100000u) << jobs[i].path << ": a walk of thousands of items";
        if (jobs[i].loadEvents == 3) {
            EXPECT_NE(expected[i].find("marker one"), std::string::npos) << "the extra message log is merged";
        }
    }

    constexpr int kThreads = 8;
    constexpr int kRounds = 2;
    std::vector<std::vector<std::size_t>> mismatches(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                for (std::size_t i = static_cast<std::size_t>(t); i < jobs.size(); i += kThreads) {
                    const std::size_t k = (i + static_cast<std::size_t>(round) * 3) % jobs.size();
                    if (walk(jobs[k]) != expected[k]) mismatches[static_cast<std::size_t>(t)].push_back(k);
                }
                // Library-wide setters called while others open and walk.
                if (t == 0) vok_set_log_function(countLog);
                if (t == 1) vok_set_extra_message_file(nullptr);
                if (t == 2) {
                    Sample s{};
                    s.flags = VOK_SAMPLE_GAZE | VOK_SAMPLE_HEADREF;
                    s.gazeX[0] = 640.0f;
                    s.gazeY[0] = 512.0f;
                    double x = 0, y = 0;
                    vok_calculate_ppd(1279.0f, 1023.0f, &s, 0, &x, &y);
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();
    vok_set_log_function(nullptr);
    for (int t = 0; t < kThreads; ++t) {
        for (std::size_t k : mismatches[static_cast<std::size_t>(t)])
            ADD_FAILURE() << "thread " << t << ": " << jobs[k].path << " at consistency " << jobs[k].consistency
                          << " differs from the sequential walk";
    }
    EXPECT_GT(g_logged.load(), 0) << "the generated sessions log their consistency findings";
}

TEST(Threads, ResolutionOverridePairIsReadWhole) {
    // One thread keeps opening with pairs (i, i + 0.5); another keeps
    // reading the shared pair as the velocity computation does and must
    // never see the x of one open with the y of another.
    TempDir dir;
    const std::string path = dir.write("r.vok", vok::test::minimalRecording());
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 300; ++i) {
            const float pair[2] = {static_cast<float>(i), static_cast<float>(i) + 0.5f};
            int err = 0;
            vok_close_file(vok_open_file_ex(path.c_str(), 0, 1, 1, pair, &err));
        }
        done = true;
    });
    long reads = 0, torn = 0;
    while (!done.load()) {
        const vok::ResolutionOverride r = vok::sharedResolutionOverride();
        if (r.y != r.x + 0.5f && !(r.x == 1e8f && r.y == 1e8f)) ++torn;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_EQ(vok::sharedResolutionOverride().x, 299.0f);
    vok_close_file(vok_open_file(path.c_str(), 0, 1, 1, nullptr));
}

}  // namespace

// Fault injection: the Nth allocation, read of the recording, creation or
// write of the temporary file fails, for N = 1, 2, ... until the calls no
// longer reach an Nth one.  Every step must give the documented failure (a
// null handle with -1 and a logged reason, a 0 step, a null record, a -1
// trial call), leave no byte allocated after closing and no temporary file
// behind, and let no exception out (one would end the test program).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "FuzzCorpus.h"
#include "VokWriter.h"
#include "platform/FaultInjection.h"
#include "support/AllocationHook.h"
#include "support/TestSupport.h"

namespace vok::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A log callback that never allocates: it keeps the last text.
char g_lastLog[512];
unsigned g_logCount = 0;
void keepLog(const char* text) {
    std::snprintf(g_lastLog, sizeof g_lastLog, "%s", text);
    ++g_logCount;
}

// The temporary directory pointed at a fresh folder, so that temporary
// files can be counted.
class TempFolder {
public:
    TempFolder() : tmp_(makeFolder(dir_)) {}

    std::size_t temporaryFiles() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_.path() / "tmp")) ++n;
        return n;
    }
    std::string write(const std::string& name, const Bytes& bytes) const {
        return dir_.write(name, std::string(bytes.begin(), bytes.end()));
    }

private:
    static fs::path makeFolder(const TempDir& dir) {
        fs::create_directories(dir.path() / "tmp");
        return dir.path() / "tmp";
    }
    TempDir dir_;
    TempDirectoryOverride tmp_;
};

// What one run of the calls below did.
struct CallsResult {
    bool opened = false;
    int err = 99;
    unsigned logsAtOpenFailure = 0;
    unsigned steps = 0;
    unsigned records = 0;
    int trials = 0;
};

// Opens, walks fetching every record, builds the trial list and jumps to
// each trial, closes.  Allocates nothing itself while the calls run.
CallsResult openWalkClose(const std::string& path, int consistency) {
    CallsResult r;
    g_logCount = 0;
    VOKFile* file = vok_open_file(path.c_str(), consistency, 1, 1, &r.err);
    r.opened = file != nullptr;
    if (file == nullptr) {
        r.logsAtOpenFailure = g_logCount;
        return r;
    }
    while (vok_get_next_data(file) != 0 && r.steps < 100000) {
        ++r.steps;
        if (vok_get_float_data(file) != nullptr) ++r.records;
    }
    r.trials = vok_get_trial_count(file);
    for (int t = 0; t < r.trials; ++t) vok_jump_to_trial(file, t);
    vok_close_file(file);
    return r;
}

class FaultInjection : public testing::Test {
protected:
    void SetUp() override {
        vok_set_log_function(keepLog);
        const Bytes plain = vokgen::fuzzRecordings().at(1);  // two blocks, gaps, trials
        plain_ = folder_.write("plain.vok", plain);
        compressed_ = folder_.write("compressed.vok", vokgen::compressRecordStream(plain));
        // The full result, to compare the runs with.
        reference_ = openWalkClose(plain_, 2);
        ASSERT_TRUE(reference_.opened);
        ASSERT_GT(reference_.steps, 100u);
        ASSERT_GT(reference_.trials, 0);
    }
    void TearDown() override {
        fault::disarm();
        allocation::disarm();
        vok_set_log_function(nullptr);
    }

    // The checks every step shares: a failed open is -1 with a logged
    // reason; nothing stays allocated or on disk.
    void checkStep(const CallsResult& r, std::size_t liveBefore) {
        if (!r.opened) {
            EXPECT_EQ(r.err, -1);
            EXPECT_GT(r.logsAtOpenFailure, 0u) << "a failed open logs its reason";
        } else {
            EXPECT_EQ(r.err, 0);
        }
        EXPECT_EQ(allocation::liveBytes(), liveBefore) << "bytes left allocated";
        EXPECT_EQ(folder_.temporaryFiles(), 0u) << "temporary file left behind";
    }

    TempFolder folder_;
    std::string plain_;
    std::string compressed_;
    CallsResult reference_;
};

TEST_F(FaultInjection, EveryAllocationFailsOnceWithoutLeakOrEscape) {
    for (const std::string* path : {&plain_, &compressed_}) {
        std::uint64_t n = 1;
        for (;; ++n) {
            SCOPED_TRACE(*path + ": allocation " + std::to_string(n) + " fails");
            const std::size_t before = allocation::liveBytes();
            allocation::failNth(n);
            const CallsResult r = openWalkClose(*path, 2);
            allocation::disarm();
            checkStep(r, before);
            if (!allocation::fired()) {
                // The calls made fewer than n allocations: the full result.
                EXPECT_TRUE(r.opened);
                EXPECT_EQ(r.steps, reference_.steps);
                EXPECT_EQ(r.trials, reference_.trials);
                break;
            }
            if (HasFailure()) return;
        }
        EXPECT_GT(n, 20u) << "the calls allocate";
        std::printf("%s: %llu allocations failed one at a time\n", path->c_str(),
                    static_cast<unsigned long long>(n - 1));
    }
}

TEST_F(FaultInjection, EveryReadOfTheRecordingFailsOnce) {
    for (const std::string* path : {&plain_, &compressed_}) {
        for (int consistency : {0, 2 | VOK_TOLERANT_READING}) {
            std::uint64_t n = 1;
            for (;; ++n) {
                SCOPED_TRACE(*path + ": read " + std::to_string(n) + " fails, consistency " +
                             std::to_string(consistency));
                const std::size_t before = allocation::liveBytes();
                fault::arm(fault::Point::Read, n);
                const CallsResult r = openWalkClose(*path, consistency);
                const bool fired = fault::fired(fault::Point::Read);
                fault::disarm();
                checkStep(r, before);
                if (!fired) {
                    EXPECT_TRUE(r.opened);
                    break;
                }
                // Strict reading of a plain file fails whenever a read while
                // opening fails; later reads lose single records only.
                if (r.opened) {
                    EXPECT_LE(r.steps, reference_.steps);
                }
                if (HasFailure()) return;
            }
            EXPECT_GT(n, 1u);
        }
    }
}

TEST_F(FaultInjection, ReadsFailingFromSomePointOnNeverHang) {
    for (const std::string* path : {&plain_, &compressed_}) {
        for (std::uint64_t n = 1; n <= 6; ++n) {
            SCOPED_TRACE(*path + ": reads from " + std::to_string(n) + " on fail");
            const std::size_t before = allocation::liveBytes();
            fault::arm(fault::Point::Read, n, true);
            const CallsResult r = openWalkClose(*path, VOK_TOLERANT_READING);
            fault::disarm();
            checkStep(r, before);
        }
    }
}

TEST_F(FaultInjection, StrictOpenFailsWhenTheFirstReadFails) {
    fault::arm(fault::Point::Read, 1);
    const CallsResult r = openWalkClose(plain_, 0);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.err, -1);
}

TEST_F(FaultInjection, NoTemporaryFileFailsTheCompressedOpen) {
    const std::size_t before = allocation::liveBytes();
    fault::arm(fault::Point::TempCreate, 1);
    const CallsResult r = openWalkClose(compressed_, 0);
    EXPECT_FALSE(r.opened);
    EXPECT_STREQ(g_lastLog, "Failed to create temp file \n\n");
    checkStep(r, before);
}

TEST_F(FaultInjection, EveryWriteOfTheTemporaryFileFailsOnce) {
    const CallsResult whole = openWalkClose(compressed_, 0);
    ASSERT_TRUE(whole.opened);
    std::uint64_t n = 1;
    for (;; ++n) {
        SCOPED_TRACE("temporary file write " + std::to_string(n) + " fails");
        const std::size_t before = allocation::liveBytes();
        fault::arm(fault::Point::TempWrite, n);
        const CallsResult r = openWalkClose(compressed_, 0);
        const bool fired = fault::fired(fault::Point::TempWrite);
        fault::disarm();
        checkStep(r, before);
        if (!fired) {
            EXPECT_TRUE(r.opened);
            EXPECT_EQ(r.steps, whole.steps);
            break;
        }
        EXPECT_FALSE(r.opened) << "a lost write of the inflated body fails the open";
        EXPECT_NE(std::strstr(g_lastLog, "temp file"), nullptr) << g_lastLog;
        if (HasFailure()) return;
    }
    EXPECT_GE(n, 2u) << "the body and the flush are written";
}

}  // namespace
}  // namespace vok::test

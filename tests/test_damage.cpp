// Damage sweeps: every truncation of the small writer-made recordings (and
// every 4 KiB of a larger one), plain and compressed, strict and tolerant,
// and random damage to 1% of their bytes.  Whatever the damage, opening
// either fails with -1 and a logged reason or gives a handle that walks to
// its end; tolerant reading of a cut file keeps every record before the
// cut.  VOKAPI_SWEEP_SCALE=n multiplies the seeds and the larger
// recording's length for a long local run.  Every input is opened from
// memory: nothing is written to disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "FuzzCorpus.h"
#include "VokWriter.h"
#include "support/TestSupport.h"
#include "vokapi_ext.h"

namespace vok::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

unsigned sweepScale() {
    const char* s = std::getenv("VOKAPI_SWEEP_SCALE");
    const long n = s != nullptr ? std::strtol(s, nullptr, 10) : 1;
    return n >= 1 && n <= 10000 ? static_cast<unsigned>(n) : 1u;
}

// What is being opened, for the report of a crash: a failed expectation
// prints it through the trace, a crash through the signal handler.
char g_case[160] = "";
void reportCase(int signal) {
    const char prefix[] = "\ndamage case at the crash: ";
    ssize_t ignored = write(2, prefix, sizeof prefix - 1);
    ignored = write(2, g_case, std::strlen(g_case));
    ignored = write(2, "\n", 1);
    (void)ignored;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class CrashReport {
public:
    CrashReport() {
        previousAbort_ = std::signal(SIGABRT, reportCase);
        previousSegv_ = std::signal(SIGSEGV, reportCase);
    }
    ~CrashReport() {
        std::signal(SIGABRT, previousAbort_);
        std::signal(SIGSEGV, previousSegv_);
        g_case[0] = '\0';
    }
    CrashReport(const CrashReport&) = delete;
    CrashReport& operator=(const CrashReport&) = delete;

private:
    void (*previousAbort_)(int);
    void (*previousSegv_)(int);
};

unsigned g_logged = 0;
void countLog(const char*) { ++g_logged; }

struct Outcome {
    bool opened = false;
    unsigned elements = 0;
};

// Opens the first length bytes; a failure must come with -1 and a logged
// reason, a handle must walk to its end within its element count, every
// step's record fetched.
Outcome openAndWalk(const Bytes& bytes, std::size_t length, int consistency) {
    g_logged = 0;
    vok_set_log_function(countLog);
    int err = 99;
    VOKFile* file = vokext_open_memory(bytes.data(), length, consistency, 1, 1, &err);
    Outcome o;
    if (file == nullptr) {
        EXPECT_EQ(err, -1);
        EXPECT_GT(g_logged, 0u) << "a failed open logs its reason";
        vok_set_log_function(nullptr);
        return o;
    }
    EXPECT_EQ(err, 0);
    o.opened = true;
    o.elements = vok_get_element_count(file);
    unsigned steps = 0;
    while (vok_get_next_data(file) != 0 && steps <= o.elements) {
        vok_get_float_data(file);
        ++steps;
    }
    EXPECT_LE(steps, o.elements) << "the walk ends";
    EXPECT_EQ(vok_get_next_data(file), 0);
    vok_close_file(file);
    vok_set_log_function(nullptr);
    return o;
}

// The small recordings in both forms: name, bytes.
std::vector<std::pair<std::string, Bytes>> smallRecordings() {
    std::vector<std::pair<std::string, Bytes>> all;
    const std::vector<Bytes> plain = vokgen::fuzzRecordings();
    for (std::size_t i = 0; i < plain.size(); ++i) {
        all.emplace_back("recording " + std::to_string(i), plain[i]);
        const Bytes packed = vokgen::compressRecordStream(plain[i]);
        if (packed != plain[i]) all.emplace_back("recording " + std::to_string(i) + " compressed", packed);
    }
    return all;
}

// Cuts the recording at every step bytes and opens each cut strict and
// tolerant at a consistency level that changes from cut to cut.  Tolerant
// reading at level 0 must keep at least as many items as at any shorter cut.
void sweepTruncations(const std::string& name, const Bytes& bytes, std::size_t step) {
    CrashReport report;
    unsigned previousTolerant = 0;
    unsigned fullStrict = 0;
    const Outcome full = openAndWalk(bytes, bytes.size(), 0);
    ASSERT_TRUE(full.opened) << name << " opens whole";
    fullStrict = full.elements;
    for (std::size_t cut = 0; cut <= bytes.size();
         cut = cut == bytes.size() ? cut + 1 : std::min(cut + step, bytes.size())) {
        std::snprintf(g_case, sizeof g_case, "%s cut at %zu of %zu bytes", name.c_str(), cut, bytes.size());
        SCOPED_TRACE(g_case);
        const int level = static_cast<int>((cut / step) % 4);
        const Outcome strict = openAndWalk(bytes, cut, level);
        if (strict.opened && level == 0) {
            EXPECT_LE(strict.elements, fullStrict);
        }
        const Outcome tolerant = openAndWalk(bytes, cut, VOK_TOLERANT_READING);
        if (tolerant.opened) {
            EXPECT_GE(tolerant.elements, previousTolerant) << "a longer cut loses no item a shorter one had";
            previousTolerant = tolerant.elements;
        }
        openAndWalk(bytes, cut, VOK_TOLERANT_READING | (3 - level));
        if (testing::Test::HasFailure()) return;
    }
    EXPECT_EQ(previousTolerant, fullStrict) << "the whole file loads the same tolerant and strict";
}

TEST(DamageSweep, EveryTruncationOfTheSmallRecordingsOpensOrFailsCleanly) {
    for (const auto& [name, bytes] : smallRecordings()) sweepTruncations(name, bytes, 1);
}

TEST(DamageSweep, EveryFourKibibytesOfALargerRecording) {
    vokgen::GenOptions o;
    o.seed = 11;
    o.durationMs = 8000 * sweepScale();
    o.blocks = 3;
    o.gaps = true;
    o.sampleGroups |= VOK_SAMPLE_HEADDATA | VOK_SAMPLE_ERRORS;
    o.expectation = vokgen::Expectation::None;
    const Bytes plain = vokgen::generateRecording(o).bytes;
    sweepTruncations("larger recording", plain, 4096);
    sweepTruncations("larger recording compressed", vokgen::compressRecordStream(plain), 4096);
}

// Flips random bits in 1% of the bytes (at least one byte), the seed
// printed on failure; the consistency argument follows from the seed too.
TEST(DamageSweep, RandomDamageToOnePercentOfTheBytes) {
    CrashReport report;
    const unsigned seeds = 1000 * sweepScale();
    for (const auto& [name, bytes] : smallRecordings()) {
        const std::size_t damaged = std::max<std::size_t>(1, bytes.size() / 100);
        for (unsigned seed = 1; seed <= seeds; ++seed) {
            std::snprintf(g_case, sizeof g_case, "%s damaged with seed %u", name.c_str(), seed);
            SCOPED_TRACE(g_case);
            std::mt19937 rng(seed);
            Bytes copy = bytes;
            for (std::size_t k = 0; k < damaged; ++k) {
                const std::size_t at = rng() % copy.size();
                copy[at] = static_cast<std::uint8_t>(copy[at] ^ (1u + rng() % 255u));
            }
            const int consistency =
                static_cast<int>(seed % 4) | ((seed / 4) % 2 != 0 ? VOK_TOLERANT_READING : 0);
            openAndWalk(copy, copy.size(), consistency);
            if (testing::Test::HasFailure()) return;
        }
    }
}

}  // namespace
}  // namespace vok::test

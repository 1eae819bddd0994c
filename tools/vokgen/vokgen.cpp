// vokgen: writes synthetic recordings for demos, tests and benchmarks, and
// the small recordings of the peculiarities that the reader checks, repairs
// or rejects.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "Cases.h"
#include "FuzzCorpus.h"
#include "VokWriter.h"

namespace {

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot create " + path);
    std::size_t n = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
    bool ok = n == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
}

std::uint64_t freshSeed() {
    std::random_device device;
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return ((static_cast<std::uint64_t>(device()) << 32) ^ device() ^ now) & 0xFFFFFFFFFFFFull;
}

void printSummary(const std::string& path, const vokgen::GenResult& r) {
    std::printf("wrote %s: %zu bytes%s, %llu samples, %llu events, %zu blocks\n", path.c_str(),
                r.bytes.size(), r.compressed ? " (compressed)" : "",
                static_cast<unsigned long long>(r.sampleCount), static_cast<unsigned long long>(r.eventCount),
                r.blocks.size());
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vokgen - write synthetic .vok recordings"};
    app.require_subcommand(1);
    // A path such as "/data/rec" is an argument, not a Windows-style "/option".
    app.allow_windows_style_options(false);

    std::string demoPath;
    auto* demo =
        app.add_subcommand("demo", "Write the small built-in demo recording (2 blocks, 500 Hz, both eyes)");
    demo->add_option("output", demoPath, "File to write")->required();

    vokgen::GenOptions o;
    o.expectation = vokgen::Expectation::None;
    std::string outPath;
    std::uint64_t seed = 0;
    std::uint64_t cut = 0;
    std::string eyes = "both";
    bool noEvents = false, noBlinks = false, noMessages = false, near2pow31 = false;
    bool headData = false, errors = false, skipBlocks = false;
    auto* gen =
        app.add_subcommand("generate", "Write a random but realistic recording; prints the seed used");
    gen->add_option("output", outPath, "File to write")->required();
    gen->add_option("--seed", seed, "Seed of the random choices (default: a fresh one, printed)");
    auto* duration = gen->add_option("--duration-ms", o.durationMs, "Recorded time over all blocks, ms")
                         ->capture_default_str();
    gen->add_option("--samples", o.sampleCount,
                    "Number of samples over all blocks (instead of --duration-ms)")
        ->excludes(duration);
    gen->add_option("--rate", o.sampleRate, "Sample rate in Hz")
        ->check(CLI::IsMember({250, 500, 1000, 2000}))
        ->capture_default_str();
    gen->add_option("--eyes", eyes, "Eyes recorded")
        ->check(CLI::IsMember({"left", "right", "both"}))
        ->capture_default_str();
    gen->add_option("--blocks", o.blocks, "Number of recording blocks")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    gen->add_option("--pause-ms", o.pauseMs, "Pause between blocks, ms (0: 500 to 3000 at random)")
        ->capture_default_str();
    gen->add_option("--trials-per-block", o.trialsPerBlock, "TRIAL_START / TRIAL_END message pairs per block")
        ->check(CLI::Range(0, 100000))
        ->capture_default_str();
    gen->add_option("--buttons", o.buttonPresses, "Button presses over all blocks (-1: about one per 5 s)")
        ->capture_default_str();
    gen->add_option("--inputs", o.inputChanges, "Input changes over all blocks (-1: about one per 5 s)")
        ->capture_default_str();
    gen->add_flag("--no-events", noEvents,
                  "Samples only: no fixations, saccades, blinks, messages, buttons, inputs or event blocks");
    gen->add_flag("--no-blinks", noBlinks, "No blinks");
    gen->add_flag("--no-messages", noMessages, "No messages besides the trial messages");
    gen->add_flag("--gaps", o.gaps, "Leave out runs of samples now and then");
    gen->add_flag("--head-data", headData, "Write the head data group in samples");
    gen->add_flag("--errors", errors, "Write the error word in samples");
    gen->add_flag("--skip-blocks", skipBlocks, "Write both skippable blocks in samples");
    gen->add_option("--start-time", o.startTime, "Time of the first block start, ms")->capture_default_str();
    gen->add_flag("--near-2-31", near2pow31, "Put the middle of the recording at 2^31 ms");
    gen->add_option("--full-time-every", o.fullTimeEvery,
                    "Write a full time stamp every n samples (0: block starts and long gaps only)")
        ->capture_default_str();
    gen->add_option("--gaze-scale", o.gazeScale, "Gaze scale of the block starts")->capture_default_str();
    gen->add_option("--velocity-scale", o.velocityScale, "Velocity scale of the block starts")
        ->capture_default_str();
    gen->add_flag("--compressed", o.compressed, "Compress the record stream (zlib)");
    gen->add_flag("--crlf", o.crlf, "End the magic line with CR LF");
    gen->add_option("--tracker-revision", o.trackerRevision,
                    "Tracker revision of the source line (2, 3; other: none)")
        ->capture_default_str();
    gen->add_option("--revision", o.revision, "Revision of the version line (0: none)")
        ->capture_default_str();
    gen->add_option("--cut", cut, "Cut the file after this many bytes");

    std::string casesDir;
    std::string caseHelp = "Cases:\n";
    for (const vokgen::RecordingCase& c : vokgen::recordingCaseList())
        caseHelp += "  " + c.name + "\n      " + c.description + "\n";
    auto* cases = app.add_subcommand(
        "cases",
        "Write one small recording per peculiarity the reader checks, repairs or rejects, and a sound one");
    cases->add_option("dir", casesDir, "Folder to write into (created when missing)")->required();
    cases->footer(caseHelp);

    std::string corpusDir;
    auto* corpus = app.add_subcommand(
        "fuzz-corpus", "Write the seed inputs of the fuzz targets into DIR/<target name>/");
    corpus->add_option("dir", corpusDir, "Folder to write into (created when missing)")->required();

    CLI11_PARSE(app, argc, argv);

    try {
        if (*demo) {
            vokgen::GenOptions d = vokgen::demoOptions();
            d.expectation = vokgen::Expectation::None;
            vokgen::GenResult r = vokgen::generateRecording(d);
            writeBytes(demoPath, r.bytes);
            printSummary(demoPath, r);
        }
        if (*gen) {
            o.seed = gen->count("--seed") != 0 ? seed : freshSeed();
            o.eyes = eyes == "left"    ? vokgen::Eye::Left
                     : eyes == "right" ? vokgen::Eye::Right
                                       : vokgen::Eye::Both;
            if (noEvents) {
                o.eyeEvents = o.messages = o.eventBlocks = false;
                o.trialsPerBlock = o.buttonPresses = o.inputChanges = 0;
            }
            if (noBlinks) o.blinks = false;
            if (noMessages) o.messages = false;
            if (headData) o.sampleGroups |= VOK_SAMPLE_HEADDATA;
            if (errors) o.sampleGroups |= VOK_SAMPLE_ERRORS;
            if (skipBlocks) o.sampleGroups |= VOK_SAMPLE_SKIP1 | VOK_SAMPLE_SKIP2;
            if (near2pow31) o.startTime = vokgen::startTimeNear2pow31(o);
            std::printf("seed %llu\n", static_cast<unsigned long long>(o.seed));
            std::fflush(stdout);
            vokgen::GenResult r = vokgen::generateRecording(o);
            if (gen->count("--cut") != 0 && cut < r.bytes.size())
                r.bytes.resize(static_cast<std::size_t>(cut));
            writeBytes(outPath, r.bytes);
            printSummary(outPath, r);
        }
        if (*corpus) {
            const std::size_t n = vokgen::writeFuzzCorpus(corpusDir);
            std::printf("wrote %zu fuzz seeds below %s\n", n, corpusDir.c_str());
        }
        if (*cases) {
            for (const std::filesystem::path& p : vokgen::writeRecordingCases(casesDir))
                std::printf("wrote %s\n", p.string().c_str());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vokgen: %s\n", e.what());
        return 1;
    }
    return 0;
}

// Recordings for the BIDS tests that the random generator does not make:
// blocks at two rates, one eye per block, display messages, and message
// texts that need quoting.  Usage: bids_fixtures DIR
#include <cstdio>
#include <filesystem>
#include <string>

#include "VokWriter.h"

namespace fs = std::filesystem;
using namespace vokgen;

namespace {

void samples(VokWriter& w, std::uint32_t from, std::uint32_t to, std::uint32_t stepMs, std::uint16_t eyes) {
    for (std::uint32_t t = from; t <= to; t += stepMs) {
        SampleSpec s;
        s.flags = static_cast<std::uint16_t>(eyes | VOK_SAMPLE_GAZE | VOK_SAMPLE_PUPILSIZE);
        s.time = t;
        s.timeForm = TimeForm::Full;
        for (int e = 0; e < 2; ++e) {
            s.gazeX[e] = w.storedGaze(100.0 + (t % 700) + e);
            s.gazeY[e] = w.storedGaze(50.5 + (t % 300));
            s.pupilSize[e] = static_cast<std::int16_t>(900 + t % 50);
        }
        // Every 97th sample has lost the gaze: a missing value, not 0.
        if (t % 97 == 0) s.gazeX[0] = s.gazeY[0] = -32768;
        w.sample(s);
    }
}

void block(VokWriter& w, std::uint32_t start, double rate, Eye eye, std::uint16_t pupilFlag) {
    BlockStartSpec b;
    b.time = start;
    b.sampleRate = rate;
    b.eye = eye;
    b.flags = VOK_SAMPLE_GAZE | VOK_SAMPLE_PUPILSIZE;
    b.buttons = pupilFlag;
    w.startSamples(b);
    w.startEvents(b);
}

void fixation(VokWriter& w, std::uint32_t start, std::uint32_t end, Eye eye) {
    EyeEventSpec f;
    f.startTime = start;
    f.endTime = end;
    f.eye = eye;
    f.avgGaze = Point{400, 300};
    w.fixationStart(f);
    w.fixationEnd(f);
}

// 500 Hz both eyes, then 1000 Hz left eye, then 1000 Hz right eye: two
// parts (the rate changes), the second with n/a rows for the eye a block
// does not record and for the time between its blocks.
void multiRate(const fs::path& path) {
    VokWriter w;
    w.magic().standardPreamble(3, 5).endPreamble();
    w.message(900, "DISPLAY_COORDS 0 0 1279 1023");
    block(w, 1000, 500.0, Eye::Both, 1);
    samples(w, 1000, 1998, 2, VOK_SAMPLE_LEFT | VOK_SAMPLE_RIGHT);
    fixation(w, 1100, 1300, Eye::Left);
    fixation(w, 1100, 1302, Eye::Right);
    w.message(1400, "TRIAL_START 1");
    w.message(1500, "text with\ta tab and \"quotes\"");
    w.message(1600, "n/a");
    w.button(1700, 0x0101);
    w.message(1990, "TRIAL_END 1");
    w.endSamples(1998);
    w.endEvents(1998);
    block(w, 3000, 1000.0, Eye::Left, 0);
    samples(w, 3000, 3999, 1, VOK_SAMPLE_LEFT);
    w.message(3100, "TRIAL_START 2");
    w.input(3200, 7);
    fixation(w, 3300, 3500, Eye::Left);
    w.message(3900, "TRIAL_END 2");
    w.endSamples(3999);
    w.endEvents(3999);
    block(w, 5000, 1000.0, Eye::Right, 0);
    samples(w, 5000, 5499, 1, VOK_SAMPLE_RIGHT);
    fixation(w, 5100, 5200, Eye::Right);
    w.endSamples(5499);
    w.endEvents(5499);
    w.endOfRecords();
    w.writeFile(path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bids_fixtures DIR\n");
        return 2;
    }
    const fs::path dir(argv[1]);
    fs::create_directories(dir);
    multiRate(dir / "multirate.vok");
    return 0;
}

// The case recordings: one two-block session, changed in one way per case.
#include "Cases.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <utility>

#include "VokWriter.h"

namespace vokgen {

namespace {

constexpr std::uint32_t kPeriodMs = 2;  // 500 Hz
constexpr double kRate = 500.0;
constexpr std::uint32_t kBlockLengthMs = 2000;
constexpr std::uint32_t kBlock1 = 1000;  // block 1: 1000-3000 ms
constexpr std::uint32_t kBlock2 = 4000;  // block 2: 4000-6000 ms
constexpr std::uint16_t kSampleGroups =
    VOK_SAMPLE_PUPILXY | VOK_SAMPLE_GAZE | VOK_SAMPLE_RESOLUTION | VOK_SAMPLE_PUPILSIZE | VOK_SAMPLE_BUTTONS;
constexpr double kPixelsPerDegree = 37.6;
// The right eye's gaze lies a little beside the left eye's.
constexpr Point kEyeOffset[2] = {{0.0, 0.0}, {14.0, -6.0}};
constexpr double kPupilSize[2] = {1010.0, 985.0};

struct BlinkPlan {
    std::uint32_t first = 0;  // times of its first and last sample, ms
    std::uint32_t last = 0;
    bool leftStartLost = false;  // the left eye's SBLINK record is not written
    bool leftEndLost = false;    // the left eye's EBLINK record is not written
    bool eyes[2] = {true, true};  // the eyes that blink (left, right)
};

// A fixation (from == to) or a saccade, for both eyes.
struct PhasePlan {
    bool saccade = false;
    std::uint32_t first = 0;  // times of its first and last sample, ms
    std::uint32_t last = 0;
    Point from, to;  // the left eye's gaze, pixels
    std::vector<BlinkPlan> blinks;
    bool writeStart = true;  // the start records of both eyes are written in the block
    bool writeEnd = true;    // the end records of both eyes are written in the block
};

struct BlockPlan {
    std::uint32_t start = 0;  // block start records and first sample
    std::uint32_t end = 0;    // block end records; the last sample is one period before
    int trial = 1;
    std::vector<PhasePlan> phases;  // cover start .. end - period without holes
    // Samples left out, inclusive; none when missingFirst > missingLast.
    std::uint32_t missingFirst = 1;
    std::uint32_t missingLast = 0;
    std::uint16_t sampleGroups = kSampleGroups;  // of the block start and its samples
    // The trial messages (empty: "TRIAL_START <trial>" at the block start and
    // "TRIAL_END 0" at the last sample) and further messages.
    std::string trialStart, trialEnd;
    std::vector<std::pair<std::uint32_t, std::string>> messages;
};

// Fixations and saccades of one block; the saccades at +800 and +1600 hold
// a blink.
BlockPlan standardBlock(std::uint32_t start, int trial) {
    const double shift = 30.0 * (trial - 1);
    const Point p[5] = {
        {640 + shift, 420}, {1210, 530 - shift}, {760 - shift, 700}, {1300, 380 + shift}, {900 + shift, 560}};
    BlockPlan b;
    b.start = start;
    b.end = start + kBlockLengthMs;
    b.trial = trial;
    auto fix = [&](std::uint32_t first, std::uint32_t last, Point at) {
        PhasePlan ph;
        ph.first = start + first;
        ph.last = start + last;
        ph.from = ph.to = at;
        b.phases.push_back(ph);
    };
    auto sacc = [&](std::uint32_t first, std::uint32_t last, Point from, Point to) {
        PhasePlan ph;
        ph.saccade = true;
        ph.first = start + first;
        ph.last = start + last;
        ph.from = from;
        ph.to = to;
        b.phases.push_back(ph);
    };
    fix(0, 398, p[0]);
    sacc(400, 438, p[0], p[1]);
    fix(440, 798, p[1]);
    sacc(800, 998, p[1], p[2]);
    b.phases.back().blinks.push_back({start + 820, start + 958});
    fix(1000, 1298, p[2]);
    sacc(1300, 1338, p[2], p[3]);
    fix(1340, 1598, p[3]);
    sacc(1600, 1758, p[3], p[4]);
    b.phases.back().blinks.push_back({start + 1614, start + 1738});
    fix(1760, 1998, p[4]);
    return b;
}

Point plus(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }

Eye eyeOf(int e) { return e == 0 ? Eye::Left : Eye::Right; }

// The writer with the session's records: block boundaries, samples that
// follow the planned gaze, and the eye events and messages interleaved with
// the samples as a tracker writes them.
class CaseWriter : public VokWriter {
public:
    explicit CaseWriter(Magic m = Magic::Plain7700) {
        setExpectation(Expectation::ItemsOnly);
        magic(m);
        standardPreamble();
        preambleLine("** RECORDED BY vokgen cases");
        endPreamble();
    }

    // Start records, samples with their events, end records.
    void block(const BlockPlan& b) {
        openBlock(b.start, b.sampleGroups);
        struct Pending {
            std::uint32_t at;  // written after the sample of this time
            std::function<void()> write;
        };
        std::vector<Pending> pending;
        const std::uint32_t lastSample = b.end - kPeriodMs;
        if (b.trialStart.empty())
            pending.push_back({b.start, [this, &b] { message(b.start, "TRIAL_START " + std::to_string(b.trial)); }});
        for (const auto& [at, text] : b.messages)
            pending.push_back({at, [this, at = at, &text = text] { message(at, text); }});
        for (const PhasePlan& ph : b.phases) {
            // The parser reports a start a few samples after it happened.
            if (ph.writeStart)
                pending.push_back(
                    {std::min(ph.first + 3 * kPeriodMs, ph.last), [this, &ph] { phaseStart(ph); }});
            for (const BlinkPlan& bl : ph.blinks) {
                pending.push_back(
                    {std::min(bl.first + 2 * kPeriodMs, bl.last), [this, &bl] { blinkStartRecords(bl); }});
                pending.push_back({bl.last, [this, &bl] { blinkEndRecords(bl); }});
            }
            if (ph.writeEnd) pending.push_back({ph.last, [this, &ph] { phaseEnd(ph, ph.last); }});
        }
        if (b.trialEnd.empty())
            pending.push_back({lastSample, [this, lastSample] { message(lastSample, "TRIAL_END 0"); }});
        else
            pending.push_back({lastSample, [this, lastSample, &b] { message(lastSample, b.trialEnd); }});
        std::stable_sort(pending.begin(), pending.end(),
                         [](const Pending& x, const Pending& y) { return x.at < y.at; });

        std::size_t next = 0;
        for (std::uint32_t t = b.start; t <= lastSample; t += kPeriodMs) {
            if (t < b.missingFirst || t > b.missingLast) sampleAt(b, t);
            while (next < pending.size() && pending[next].at <= t) pending[next++].write();
        }
        while (next < pending.size()) pending[next++].write();
        closeBlock(b.end);
    }

    void openBlock(std::uint32_t time, std::uint16_t groups = kSampleGroups) {
        BlockStartSpec s;
        s.time = time;
        s.sampleRate = kRate;
        s.gazeScale = 10;
        s.velocityScale = 10;
        s.recordingMode = 1;
        s.filter = 2;
        s.flags = groups;
        s.eye = Eye::Both;
        startSamples(s);
        s.flags = 0x0E00;
        startEvents(s);
        fullTimeNext_ = true;
    }

    void closeBlock(std::uint32_t time) {
        endSamples(time);
        endEvents(time);
    }

    // A sample of time t with the gaze the plan gives (beyond the plan's
    // last phase: that phase's gaze).
    void sampleAt(const BlockPlan& b, std::uint32_t t) {
        const PhasePlan* ph = &b.phases.back();
        for (const PhasePlan& p : b.phases) {
            if (t >= p.first && t <= p.last) {
                ph = &p;
                break;
            }
        }
        bool blinks[2] = {false, false};
        for (const BlinkPlan& bl : ph->blinks) {
            for (int e = 0; e < 2; ++e) blinks[e] = blinks[e] || (bl.eyes[e] && t >= bl.first && t <= bl.last);
        }
        Point gaze = ph->to;
        if (ph->saccade && t <= ph->last) {
            const double f = static_cast<double>(t - ph->first) / static_cast<double>(ph->last - ph->first);
            gaze = {ph->from.x + (ph->to.x - ph->from.x) * f, ph->from.y + (ph->to.y - ph->from.y) * f};
        }

        SampleSpec s;
        s.flags = static_cast<std::uint16_t>(VOK_SAMPLE_LEFT | VOK_SAMPLE_RIGHT | b.sampleGroups);
        s.time = t;
        s.timeForm = fullTimeNext_ ? TimeForm::Full : TimeForm::Increment;
        fullTimeNext_ = false;
        for (int e = 0; e < 2; ++e) {
            const bool blink = blinks[e];
            // A little tremor around the planned point.
            const double jx = 0.4 * (static_cast<int>((t * 37u + 11u * static_cast<unsigned>(e)) % 7u) - 3);
            const double jy = 0.4 * (static_cast<int>((t * 53u + 5u * static_cast<unsigned>(e)) % 5u) - 2);
            const Point g = plus(plus(gaze, kEyeOffset[e]), {jx, jy});
            s.gazeX[e] = storedGaze(blink ? kMissing : g.x);
            s.gazeY[e] = storedGaze(blink ? kMissing : g.y);
            s.pupilX[e] = toStoredPlain(blink ? kMissing : g.x * 3.0 - 2900.0);
            s.pupilY[e] = toStoredPlain(blink ? kMissing : g.y * 3.0 - 1600.0);
            s.pupilSize[e] = toStoredPlain(blink ? 0.0 : kPupilSize[e] + static_cast<double>((t / 8u) % 30u));
            // Head-referenced: the direction of the gaze point on a display
            // 530 x 300 mm at 600 mm (1920 x 1080 pixels), in units of
            // 15000 / 600 per mm.
            s.headRefX[e] = toStoredPlain(blink ? kMissing : (g.x * 530.0 / 1919.0 - 265.0) * 25.0);
            s.headRefY[e] = toStoredPlain(blink ? kMissing : (g.y * 300.0 / 1079.0 - 150.0) * 25.0);
        }
        s.resolutionX = storedGaze(kPixelsPerDegree);
        s.resolutionY = storedGaze(kPixelsPerDegree - 0.4);
        sample(s);
    }

    void phaseStart(const PhasePlan& ph) {
        for (int e = 0; e < 2; ++e) {
            EyeEventSpec s;
            s.startTime = ph.first;
            s.eye = eyeOf(e);
            s.startGaze = plus(ph.from, kEyeOffset[e]);
            eyeEvent(ph.saccade ? SSACC : SFIX, s);
        }
    }

    void phaseEnd(const PhasePlan& ph, std::uint32_t endTime) {
        const double dx = ph.to.x - ph.from.x, dy = ph.to.y - ph.from.y;
        const double amplitude = std::sqrt(dx * dx + dy * dy) / kPixelsPerDegree;
        const double peak = ph.saccade ? std::min(850.0, 40.0 + 28.0 * amplitude) : 24.0;
        for (int e = 0; e < 2; ++e) {
            EyeEventSpec s;
            s.startTime = ph.first;
            s.endTime = endTime;
            s.eye = eyeOf(e);
            s.startGaze = plus(ph.from, kEyeOffset[e]);
            s.endGaze = plus(ph.to, kEyeOffset[e]);
            if (!ph.saccade) {
                s.avgGaze = plus(ph.to, kEyeOffset[e]);
                s.avgPupil = kPupilSize[e] + 15.0;
            }
            s.startResolution = s.endResolution = Point{kPixelsPerDegree, kPixelsPerDegree - 0.4};
            s.avgVelocity = ph.saccade ? peak * 0.55 : 3.5;
            s.peakVelocity = peak;
            eyeEvent(ph.saccade ? ESACC : EFIX, s);
        }
    }

    void blinkStartRecords(const BlinkPlan& bl) {
        for (int e = 0; e < 2; ++e) {
            if ((e == 0 && bl.leftStartLost) || !bl.eyes[e]) continue;
            EyeEventSpec s;
            s.startTime = bl.first;
            s.eye = eyeOf(e);
            eyeEvent(SBLINK, s);
        }
    }

    void blinkEndRecords(const BlinkPlan& bl) {
        for (int e = 0; e < 2; ++e) {
            if ((e == 0 && bl.leftEndLost) || !bl.eyes[e]) continue;
            EyeEventSpec s;
            s.startTime = bl.first;
            s.endTime = bl.last;
            s.eye = eyeOf(e);
            eyeEvent(EBLINK, s);
        }
    }

    // Offset in bytes() of the body of the sample of time t.
    std::size_t sampleOffset(std::uint32_t t) const {
        for (const ExpectedItem& item : items()) {
            if (item.kind == ItemKind::Sample && item.timeHalfMs == 2ull * t) return item.offset;
        }
        throw std::logic_error("no sample at " + std::to_string(t));
    }

private:
    bool fullTimeNext_ = true;
};

// The session without peculiarities.
CaseWriter& writeSound(CaseWriter& w) {
    w.block(standardBlock(kBlock1, 1));
    w.block(standardBlock(kBlock2, 2));
    w.endOfRecords();
    return w;
}

std::vector<std::uint8_t> sound() {
    CaseWriter w;
    return writeSound(w).fileBytes();
}

std::vector<std::uint8_t> eventsAfterBlockEnd() {
    BlockPlan b1 = standardBlock(kBlock1, 1);
    BlockPlan b2 = standardBlock(kBlock2, 2);
    // The fixation running when block 1 ends is reported ended at 3004; the
    // next one starts at 3010 and goes on in block 2.
    b1.phases.back().writeEnd = false;
    b2.phases.front().writeStart = false;
    b2.phases.front().first = kBlock1 + kBlockLengthMs + 10;
    CaseWriter w;
    w.block(b1);
    w.phaseEnd(b1.phases.back(), kBlock1 + kBlockLengthMs + 4);
    w.phaseStart(b2.phases.front());
    w.block(b2);
    w.endOfRecords();
    return w.fileBytes();
}

std::vector<std::uint8_t> blockEndStartSameMs() {
    CaseWriter w;
    w.block(standardBlock(kBlock1, 1));
    w.block(standardBlock(kBlock1 + kBlockLengthMs, 2));
    w.endOfRecords();
    return w.fileBytes();
}

std::vector<std::uint8_t> orphanBlinkEnd() {
    BlockPlan b1 = standardBlock(kBlock1, 1);
    BlockPlan b2 = standardBlock(kBlock2, 2);
    b1.phases[3].blinks[0].leftStartLost = true;
    b1.phases[7].blinks[0].leftStartLost = true;
    b2.phases[3].blinks[0].leftStartLost = true;
    CaseWriter w;
    w.block(b1);
    w.block(b2);
    w.endOfRecords();
    return w.fileBytes();
}

std::vector<std::uint8_t> sblinkWithoutEblink() {
    BlockPlan b1 = standardBlock(kBlock1, 1);
    b1.phases[3].blinks[0].leftEndLost = true;
    CaseWriter w;
    w.block(b1);
    w.block(standardBlock(kBlock2, 2));
    w.endOfRecords();
    return w.fileBytes();
}

std::vector<std::uint8_t> twoBlinksInSaccade() {
    BlockPlan b1 = standardBlock(kBlock1, 1);
    b1.phases[3].blinks = {{kBlock1 + 820, kBlock1 + 878}, {kBlock1 + 900, kBlock1 + 958}};
    CaseWriter w;
    w.block(b1);
    w.block(standardBlock(kBlock2, 2));
    w.endOfRecords();
    return w.fileBytes();
}

std::vector<std::uint8_t> samplesBetweenBlocks() {
    const BlockPlan b1 = standardBlock(kBlock1, 1);
    CaseWriter w;
    w.block(b1);
    w.sampleAt(b1, b1.end + 2);
    w.sampleAt(b1, b1.end + 4);
    w.block(standardBlock(kBlock2, 2));
    w.endOfRecords();
    return w.fileBytes();
}

std::vector<std::uint8_t> gapInBlock() {
    BlockPlan b1 = standardBlock(kBlock1, 1);
    b1.missingFirst = kBlock1 + 1100;
    b1.missingLast = kBlock1 + 1138;
    CaseWriter w;
    w.block(b1);
    w.block(standardBlock(kBlock2, 2));
    w.endOfRecords();
    return w.fileBytes();
}

// An experiment's session: trials marked by neutral messages that carry the
// trial's variables, the display's pixel rectangle, head-referenced positions
// in block 1, one blink of the right eye alone, and block 2 without the
// resolution group.
std::vector<std::uint8_t> experimentMessages() {
    BlockPlan b1 = standardBlock(kBlock1, 1);
    BlockPlan b2 = standardBlock(kBlock2, 2);
    b1.sampleGroups = kSampleGroups | VOK_SAMPLE_HEADREF;
    b2.sampleGroups = kSampleGroups & ~VOK_SAMPLE_RESOLUTION;
    b1.phases[7].blinks[0].eyes[0] = false;
    b1.trialStart = b2.trialStart = "TRIAL_START";
    b1.trialEnd = "TRIAL_END 1";
    b2.trialEnd = "TRIAL_END 2";
    b1.messages = {{kBlock1, "DISPLAY_COORDS 0 0 1919 1079"},
                   {kBlock1 + 20, "TRIAL_START 1"},
                   {kBlock1 + 30, "VAR condition 3 side left"},
                   {kBlock1 + 500, "VAR delay 12.5"},
                   {kBlock1 + 1200, "RESPONSE"}};
    b2.messages = {{kBlock2 + 20, "TRIAL_START 2"},
                   {kBlock2 + 30, "VAR condition 5"},
                   {kBlock2 + 40, "VAR side right delay n/a practice 1"}};
    CaseWriter w;
    w.block(b1);
    w.block(b2);
    w.endOfRecords();
    return w.fileBytes();
}

std::vector<std::uint8_t> truncatedTail() {
    CaseWriter w;
    writeSound(w);
    return w.cutAt(w.sampleOffset(kBlock2 + 1000) + 5);
}

// The compressed session, deflated in two parts: the record stream up to the
// middle of the sample at 5000 ms, flushed to a byte boundary, then the rest.
// The first block header of the second part is damaged (reserved block
// type), so the body inflates exactly up to that point and then fails.
std::vector<std::uint8_t> damagedCompressedBody() {
    CaseWriter w(Magic::Compressed);
    writeSound(w);
    std::vector<std::uint8_t> plain = w.bytes();
    const std::size_t body = w.bodyOffset();
    const std::size_t intactEnd = w.sampleOffset(kBlock2 + 1000) + 5;

    z_stream z{};
    if (deflateInit(&z, 6) != Z_OK) throw std::runtime_error("deflateInit failed");
    std::vector<std::uint8_t> out(body + deflateBound(&z, static_cast<uLong>(plain.size() - body)) + 1024);
    std::copy(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(body), out.begin());
    z.next_out = out.data() + body;
    z.avail_out = static_cast<uInt>(out.size() - body);
    auto run = [&](std::size_t from, std::size_t to, int flush, int expected) {
        z.next_in = plain.data() + from;
        z.avail_in = static_cast<uInt>(to - from);
        const int r = deflate(&z, flush);
        if (r != expected || z.avail_in != 0) {
            deflateEnd(&z);
            throw std::runtime_error("deflate failed");
        }
    };
    run(body, intactEnd, Z_FULL_FLUSH, Z_OK);
    const std::size_t damaged = body + z.total_out;
    run(intactEnd, plain.size(), Z_FINISH, Z_STREAM_END);
    out.resize(body + z.total_out);
    deflateEnd(&z);
    if (damaged >= out.size()) throw std::logic_error("nothing follows the flush point");
    out[damaged] |= 0x06;
    return out;
}

std::vector<std::uint8_t> badMagic() {
    CaseWriter w;
    writeSound(w);
    w.patch(12, '8');  // "ZK_MORAVELT_7700FILE" -> "ZK_MORAVELT_8700FILE"
    return w.fileBytes();
}

struct CaseEntry {
    const char* name;
    const char* description;
    std::vector<std::uint8_t> (*build)();
};

// clang-format off
const CaseEntry kCases[] = {
    {"sound.vok",
     "no peculiarity: blocks at 1000-3000 and 4000-6000 ms, 500 Hz, both eyes, blinks at 1820 and 2614 in block 1",
     sound},
    {"events-after-block-end.vok",
     "block 1 ends at 3000; its last fixation is stamped ended at 3004 and the next one started at 3010, in the gap",
     eventsAfterBlockEnd},
    {"block-end-start-same-ms.vok",
     "block 1 ends and block 2 starts in the same millisecond, 3000 (block 2: 3000-5000 ms)",
     blockEndStartSameMs},
    {"orphan-blink-end.vok",
     "left-eye EBLINKs without SBLINK: both blinks of block 1 (ends 1958, 2738) and the first of block 2 (end 4958)",
     orphanBlinkEnd},
    {"sblink-without-eblink.vok",
     "the left-eye blink from 1820 has no EBLINK; the next left blink starts at 2614",
     sblinkWithoutEblink},
    {"two-blinks-in-saccade.vok",
     "the saccade of 1800-1998 holds two blinks of each eye, 1820-1878 and 1900-1958",
     twoBlinksInSaccade},
    {"samples-between-blocks.vok",
     "two samples, at 3002 and 3004, after block 1 ends at 3000",
     samplesBetweenBlocks},
    {"gap-in-block.vok",
     "the 20 samples of 2100-2138 are missing from block 1",
     gapInBlock},
    {"experiment-messages.vok",
     "trials TRIAL_START n .. TRIAL_END n with VAR messages, DISPLAY_COORDS 0 0 1919 1079 at 1000, head-referenced "
     "positions in block 1 only, the blink of 2614-2738 of the right eye only, block 2 without resolution",
     experimentMessages},
    {"truncated-tail.vok",
     "the file ends in the middle of the sample at 5000",
     truncatedTail},
    {"damaged-compressed-body.vok",
     "compressed; the body is damaged after the records up to the middle of the sample at 5000",
     damagedCompressedBody},
    {"bad-magic.vok",
     "the first line reads ZK_MORAVELT_8700FILE",
     badMagic},
};
// clang-format on

}  // namespace

std::vector<RecordingCase> recordingCaseList() {
    std::vector<RecordingCase> out;
    for (const CaseEntry& c : kCases) out.push_back({c.name, c.description, {}});
    return out;
}

std::vector<RecordingCase> recordingCases() {
    std::vector<RecordingCase> out;
    for (const CaseEntry& c : kCases) out.push_back({c.name, c.description, c.build()});
    return out;
}

std::vector<std::filesystem::path> writeRecordingCases(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::runtime_error("cannot create " + dir.string() + ": " + ec.message());
    std::vector<std::filesystem::path> written;
    for (const RecordingCase& c : recordingCases()) {
        const std::filesystem::path path = dir / c.name;
        std::FILE* f = std::fopen(path.string().c_str(), "wb");
        if (f == nullptr) throw std::runtime_error("cannot create " + path.string());
        const std::size_t n = c.bytes.empty() ? 0 : std::fwrite(c.bytes.data(), 1, c.bytes.size(), f);
        bool ok = n == c.bytes.size();
        ok = std::fclose(f) == 0 && ok;
        if (!ok) throw std::runtime_error("cannot write " + path.string());
        written.push_back(path);
    }
    return written;
}

}  // namespace vokgen

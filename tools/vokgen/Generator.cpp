// Realistic synthetic recordings: blocks of samples with fixations,
// saccades and blinks, trial messages, button presses and input changes.
//
// Everything random comes from one std::mt19937_64 (whose output the C++
// standard fixes) through our own integer and real mappings, and values are
// computed with plain arithmetic only, so a seed gives the same file on
// every platform.
#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "VokWriter.h"

namespace vokgen {

namespace {

class Rng {
public:
    explicit Rng(std::uint64_t seed) : engine_(seed) {}
    std::uint64_t next() { return engine_(); }
    // 0 .. n-1 (0 for n == 0).  The modulo bias is far below anything a
    // test could notice.
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : next() % n; }
    // lo .. hi inclusive.
    std::int64_t range(std::int64_t lo, std::int64_t hi) {
        if (hi <= lo) return lo;
        return lo + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(hi - lo) + 1));
    }
    // [0, 1) with 53 random bits.
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
    bool chance(double p) { return unit() < p; }

private:
    std::mt19937_64 engine_;
};

constexpr double kScreenWidth = 1920.0;
constexpr double kScreenHeight = 1080.0;
constexpr double kPixelsPerDegree = 37.6;
// The right eye's gaze lies a little beside the left eye's.
constexpr Point kEyeOffset[2] = {{0.0, 0.0}, {14.0, -6.0}};

struct Phase {
    enum Kind { Fixation, Saccade, Blink } kind = Fixation;
    std::uint32_t start = 0;  // times of its first and last sample, ms
    std::uint32_t end = 0;
    Point from, to;
    bool hasBlink = false;  // a saccade with a blink inside
    std::uint32_t blinkStart = 0, blinkEnd = 0;
    double pupilStart[2] = {0, 0}, pupilEnd[2] = {0, 0};
    double peakVelocity = 0, avgVelocity = 0;
};

struct Pending {
    std::uint32_t writeAt = 0;  // written after the last sample at or before this time
    std::uint32_t seq = 0;
    enum Kind { EyeEvent, Message, Button, Input } kind = EyeEvent;
    ItemType type = SFIX;
    EyeEventSpec spec;
    std::string text;
    std::uint16_t word = 0;
};

struct StateChange {
    std::uint32_t time = 0;
    bool button = false;
    std::uint16_t value = 0;  // new button state or input word
};

// The writer with access to its results, so they can be moved out.
class RecordingBuilder : public VokWriter {
public:
    void moveInto(GenResult& r) {
        r.bodyOffset = bodyOffset_;
        r.compressed = compressed_;
        if (compressed_) {
            r.bytes = fileBytes();
            r.plain = std::move(bytes_);
        } else {
            r.bytes = std::move(bytes_);
        }
        r.items = std::move(items_);
        r.samples = std::move(samples_);
        r.events = std::move(events_);
        r.messages = std::move(messages_);
    }
    void reserveExpected(std::size_t items, std::size_t samples) {
        items_.reserve(items);
        samples_.reserve(samples);
    }
};

std::size_t sampleBytes(std::uint16_t flags, std::uint8_t headDataType) {
    const int eyes = ((flags & VOK_SAMPLE_LEFT) ? 1 : 0) + ((flags & VOK_SAMPLE_RIGHT) ? 1 : 0);
    std::size_t n = 2 + 1;
    if (flags & VOK_SAMPLE_PUPILXY) n += 4u * eyes;
    if (flags & VOK_SAMPLE_HEADREF) n += 4u * eyes;
    if (flags & VOK_SAMPLE_GAZE) n += 4u * eyes;
    if (flags & VOK_SAMPLE_RESOLUTION) n += 4;
    if (flags & VOK_SAMPLE_PUPILSIZE) n += 2u * eyes;
    if (flags & VOK_SAMPLE_ERRORS) n += 2;
    if (flags & VOK_SAMPLE_INPUT) n += 2;
    if (flags & VOK_SAMPLE_BUTTONS) n += 2;
    if (flags & VOK_SAMPLE_HEADDATA) n += 1 + 2u * std::min(headDataType & 15, 8);
    if (flags & VOK_SAMPLE_SKIP1) n += 5;
    if (flags & VOK_SAMPLE_SKIP2) n += 6;
    return n;
}

std::uint32_t roundUpTo(std::uint32_t v, std::uint32_t grid) { return (v + grid - 1) / grid * grid; }

Point randomPoint(Rng& rng) {
    return {rng.uniform(120.0, kScreenWidth - 120.0), rng.uniform(100.0, kScreenHeight - 100.0)};
}

double nextPupil(Rng& rng, double p) { return std::clamp(p + rng.uniform(-40.0, 40.0), 750.0, 1500.0); }

// The behaviour of the eyes over [first, last]: fixations and saccades, some
// saccades with a blink inside and now and then a blink on its own.
std::vector<Phase> makePhases(Rng& rng, const GenOptions& o, std::uint32_t first, std::uint32_t last,
                              std::uint32_t gridMs, Point& point, double pupil[2]) {
    std::vector<Phase> phases;
    std::uint64_t t = first;
    Phase::Kind kind = Phase::Fixation;
    while (t <= last) {
        Phase ph;
        ph.kind = kind;
        ph.start = static_cast<std::uint32_t>(t);
        ph.from = point;
        std::uint32_t dur = 0;
        if (kind == Phase::Fixation) {
            dur = static_cast<std::uint32_t>(rng.range(150, 600));
            ph.to = point;
            ph.avgVelocity = rng.uniform(1.0, 6.0);
            ph.peakVelocity = ph.avgVelocity + rng.uniform(8.0, 30.0);
        } else if (kind == Phase::Saccade) {
            ph.to = randomPoint(rng);
            const double dx = ph.to.x - ph.from.x, dy = ph.to.y - ph.from.y;
            // Amplitude in degrees, with a cheap deterministic distance (no
            // library mathematics).
            const double adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
            const double amplitude = (std::max(adx, ady) + 0.4 * std::min(adx, ady)) / kPixelsPerDegree;
            dur = static_cast<std::uint32_t>(18.0 + 2.2 * amplitude);
            ph.peakVelocity = std::min(850.0, 40.0 + 28.0 * amplitude);
            ph.avgVelocity = ph.peakVelocity * rng.uniform(0.45, 0.6);
            if (o.blinks && rng.chance(0.12)) {
                const std::uint32_t lead = roundUpTo(static_cast<std::uint32_t>(rng.range(2, 10)), gridMs);
                const std::uint32_t blink = roundUpTo(static_cast<std::uint32_t>(rng.range(60, 250)), gridMs);
                const std::uint32_t tail = roundUpTo(static_cast<std::uint32_t>(rng.range(4, 20)), gridMs);
                ph.hasBlink = true;
                ph.blinkStart = ph.start + lead;
                ph.blinkEnd = ph.blinkStart + blink - gridMs;
                dur = lead + blink + tail;
            }
            point = ph.to;
        } else {
            dur = static_cast<std::uint32_t>(rng.range(60, 250));
            ph.to = point;
        }
        dur = std::max(roundUpTo(dur, gridMs), gridMs);
        std::uint64_t end = t + dur - gridMs;
        if (end > last) end = last;
        ph.end = static_cast<std::uint32_t>(end);
        if (ph.hasBlink && ph.blinkStart > ph.end) ph.hasBlink = false;
        if (ph.hasBlink && ph.blinkEnd > ph.end) ph.blinkEnd = ph.end;
        for (int e = 0; e < 2; ++e) {
            ph.pupilStart[e] = pupil[e];
            pupil[e] = nextPupil(rng, pupil[e]);
            ph.pupilEnd[e] = pupil[e];
        }
        phases.push_back(ph);
        t = end + gridMs;
        if (kind == Phase::Fixation)
            kind = o.blinks && rng.chance(0.05) ? Phase::Blink : Phase::Saccade;
        else
            kind = Phase::Fixation;
    }
    return phases;
}

Point plus(Point p, Point q) { return {p.x + q.x, p.y + q.y}; }

// Start and end records of one phase for one eye.
void addPhaseEvents(std::vector<Pending>& out, std::uint32_t& seq, Rng& rng, const Phase& ph, int eye,
                    std::uint32_t gridMs) {
    const Point off = kEyeOffset[eye];
    const Eye which = eye == 0 ? Eye::Left : Eye::Right;
    auto delayed = [&](std::uint32_t start, std::uint32_t end) {
        // Trackers report a start a few samples after it happened.
        std::uint32_t at = start + gridMs * static_cast<std::uint32_t>(rng.range(2, 6));
        return std::min(at, end);
    };
    auto add = [&](ItemType type, std::uint32_t writeAt, const EyeEventSpec& spec) {
        Pending p;
        p.writeAt = writeAt;
        p.seq = seq++;
        p.kind = Pending::EyeEvent;
        p.type = type;
        p.spec = spec;
        out.push_back(std::move(p));
    };
    const Point res{kPixelsPerDegree, kPixelsPerDegree - 0.5};
    if (ph.kind == Phase::Blink) {
        EyeEventSpec s;
        s.eye = which;
        s.startTime = ph.start;
        s.endTime = ph.end;
        add(SBLINK, delayed(ph.start, ph.end), s);
        add(EBLINK, ph.end, s);
        return;
    }
    const ItemType startType = ph.kind == Phase::Fixation ? SFIX : SSACC;
    const ItemType endType = ph.kind == Phase::Fixation ? EFIX : ESACC;
    EyeEventSpec s;
    s.eye = which;
    s.startTime = ph.start;
    s.endTime = ph.end;
    s.startGaze = plus(ph.from, off);
    s.startPupil = ph.pupilStart[eye];
    s.startResolution = res;
    add(startType, delayed(ph.start, ph.end), s);
    if (ph.hasBlink) {
        EyeEventSpec b;
        b.eye = which;
        b.startTime = ph.blinkStart;
        b.endTime = ph.blinkEnd;
        add(SBLINK, delayed(ph.blinkStart, ph.blinkEnd), b);
        add(EBLINK, ph.blinkEnd, b);
    }
    s.endGaze = plus(ph.to, off);
    s.endPupil = ph.pupilEnd[eye];
    s.endResolution = res;
    if (ph.kind == Phase::Fixation) {
        s.avgGaze = plus(ph.from, off);
        s.avgPupil = (ph.pupilStart[eye] + ph.pupilEnd[eye]) / 2.0;
        s.startVelocity = ph.avgVelocity * 0.8;
        s.endVelocity = ph.avgVelocity * 1.3;
    }
    s.avgVelocity = ph.avgVelocity;
    s.peakVelocity = ph.peakVelocity;
    add(endType, ph.end, s);
}

const char* const kMessageWords[] = {"STIMULUS_ON", "DISPLAY ON", "FIXATION_CROSS", "RESPONSE_WINDOW"};

std::string formatted(const char* fmt, long long v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

int share(int total, int blocks, int b) { return total / blocks + (b < total % blocks ? 1 : 0); }

}  // namespace

std::uint32_t startTimeNear2pow31(const GenOptions& o) {
    std::uint64_t span = o.durationMs;
    if (o.sampleCount != 0)
        span = o.sampleCount * 1000u / static_cast<std::uint64_t>(std::max(o.sampleRate, 1));
    span += static_cast<std::uint64_t>(std::max(o.blocks - 1, 0)) * (o.pauseMs != 0 ? o.pauseMs : 1750u);
    const std::uint64_t mid = 2147483648ull;
    return static_cast<std::uint32_t>(mid - std::min<std::uint64_t>(span / 2, mid));
}

GenOptions demoOptions() {
    GenOptions o;
    o.seed = 7;
    o.durationMs = 6000;
    o.blocks = 2;
    o.pauseMs = 1500;
    o.sampleRate = 500;
    o.eyes = Eye::Both;
    o.trialsPerBlock = 1;
    o.buttonPresses = 1;
    o.inputChanges = 1;
    o.startTime = 600000;
    return o;
}

GenResult generateRecording(const GenOptions& o) {
    if (o.sampleRate != 250 && o.sampleRate != 500 && o.sampleRate != 1000 && o.sampleRate != 2000)
        throw std::invalid_argument("the sample rate is 250, 500, 1000 or 2000");
    if (o.blocks < 1) throw std::invalid_argument("a recording has at least one block");
    if (o.trialsPerBlock < 0) throw std::invalid_argument("trials per block cannot be negative");

    Rng rng(o.seed);
    // Sample spacing in half milliseconds (8, 4, 2, 1) and the millisecond
    // grid that event times follow.
    const std::uint32_t stepHalf = static_cast<std::uint32_t>(2000 / o.sampleRate);
    const std::uint32_t gridMs = std::max<std::uint32_t>(stepHalf / 2, 1);

    std::vector<std::uint64_t> blockSamples(static_cast<std::size_t>(o.blocks));
    const std::uint64_t total =
        o.sampleCount != 0 ? o.sampleCount : static_cast<std::uint64_t>(o.durationMs) * o.sampleRate / 1000u;
    for (int b = 0; b < o.blocks; ++b)
        blockSamples[static_cast<std::size_t>(b)] =
            total / static_cast<std::uint64_t>(o.blocks) +
            (static_cast<std::uint64_t>(b) < total % static_cast<std::uint64_t>(o.blocks) ? 1 : 0);

    std::uint16_t eyeFlags = o.eyes == Eye::Left ? VOK_SAMPLE_LEFT
                             : o.eyes == Eye::Right
                                 ? VOK_SAMPLE_RIGHT
                                 : static_cast<std::uint16_t>(VOK_SAMPLE_LEFT | VOK_SAMPLE_RIGHT);
    const std::uint16_t groups = static_cast<std::uint16_t>(o.sampleGroups & 0x1FFC);
    const std::uint16_t sampleFlags = static_cast<std::uint16_t>(eyeFlags | groups | VOK_SAMPLE_IS_SAMPLE);
    std::vector<int> eyes;
    if (eyeFlags & VOK_SAMPLE_LEFT) eyes.push_back(0);
    if (eyeFlags & VOK_SAMPLE_RIGHT) eyes.push_back(1);

    RecordingBuilder w;
    w.setExpectation(o.expectation);
    w.setCompressionLevel(6);
    const std::size_t perSample = sampleBytes(sampleFlags, o.headDataType);
    w.reserve(static_cast<std::size_t>(total) * perSample + static_cast<std::size_t>(total / 8) + 65536);
    if (o.expectation != Expectation::None)
        w.reserveExpected(static_cast<std::size_t>(total + total / 20 + 64),
                          o.expectation == Expectation::Full ? static_cast<std::size_t>(total) : 0);

    const Magic magic = o.compressed ? (o.crlf ? Magic::CompressedCrlf : Magic::Compressed)
                                     : (o.crlf ? Magic::Plain7700Crlf : Magic::Plain7700);
    w.magic(magic).standardPreamble(o.trackerRevision, o.revision);
    w.preambleLine("RECORDED BY vokgen");
    w.preambleLine(formatted("SEED: %lld", static_cast<long long>(o.seed)));
    w.endPreamble();

    GenResult result;
    Point point = randomPoint(rng);
    double pupil[2] = {1100.0, 1045.0};
    // Button and input state: as scheduled, and as the samples show it.
    std::uint16_t buttonState = 0;
    std::uint16_t inputWord = 0;
    std::uint16_t curButtons = 0;
    std::uint16_t curInput = 0;
    int trialNumber = 0;
    std::uint64_t blockStart = o.startTime;

    SampleSpec spec;
    spec.headDataType = o.headDataType;
    if (groups & VOK_SAMPLE_SKIP1) spec.skip1.push_back(SkipChunk{0x5A, {0, 0}});
    if (groups & VOK_SAMPLE_SKIP2) spec.skip2.push_back(SkipChunk{0xA5, {0, 0, 0}});

    for (int b = 0; b < o.blocks; ++b) {
        const std::uint64_t n = blockSamples[static_cast<std::size_t>(b)];
        const std::uint64_t firstHalf = 2 * blockStart;
        const std::uint64_t lastHalf = n == 0 ? firstHalf : firstHalf + (n - 1) * stepHalf;
        const std::uint64_t last64 = lastHalf / 2;
        if (last64 + 1 > 0xFFFFFFFFull)
            throw std::invalid_argument("the recording runs past the 32-bit clock");
        const std::uint32_t first = static_cast<std::uint32_t>(blockStart);
        const std::uint32_t last = static_cast<std::uint32_t>(last64);
        const std::uint32_t span = last - first + 1;

        // ---- what happens in this block ----
        std::vector<Pending> pending;
        std::vector<StateChange> changes;
        std::uint32_t seq = 0;
        std::vector<Phase> phases;
        if (o.eyeEvents && n != 0) {
            phases = makePhases(rng, o, first, last, gridMs, point, pupil);
            for (const Phase& ph : phases)
                for (int e : eyes) addPhaseEvents(pending, seq, rng, ph, e, gridMs);
        }
        auto addMessage = [&](std::uint32_t time, std::string text) {
            Pending p;
            p.writeAt = time;
            p.seq = seq++;
            p.kind = Pending::Message;
            p.text = std::move(text);
            pending.push_back(std::move(p));
        };
        for (int t = 0; t < o.trialsPerBlock; ++t) {
            const std::uint32_t a =
                first + static_cast<std::uint32_t>(static_cast<std::uint64_t>(span) * t / o.trialsPerBlock);
            const std::uint32_t z =
                first +
                static_cast<std::uint32_t>(static_cast<std::uint64_t>(span) * (t + 1) / o.trialsPerBlock) - 1;
            const std::uint32_t margin = std::min<std::uint32_t>(20, (z - a) / 4);
            ++trialNumber;
            addMessage(a + margin, formatted("TRIAL_START %lld", trialNumber));
            addMessage(z - margin, formatted("TRIAL_END %lld", trialNumber));
        }
        if (o.messages) {
            const std::uint32_t count = span / 2000 + (span >= 500 ? 1 : 0);
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t at = first + static_cast<std::uint32_t>(rng.below(span));
                const std::uint64_t pick = rng.below(6);
                std::string text;
                if (pick < 4)
                    text = kMessageWords[pick];
                else if (pick == 4)
                    text = formatted("VAR condition %lld", rng.range(1, 8));
                else
                    text = formatted("%lld DELAYED_ONSET", rng.range(1, 99));  // a leading time offset
                addMessage(at, std::move(text));
            }
        }
        const int presses =
            o.buttonPresses < 0 ? static_cast<int>(span / 5000) : share(o.buttonPresses, o.blocks, b);
        std::vector<std::pair<std::uint32_t, std::uint16_t>> buttonEdges;  // time, bit | 0x8000 for a press
        for (int i = 0; i < presses; ++i) {
            const std::uint32_t room = span > 600 ? span - 600 : 1;
            const std::uint32_t down = first + static_cast<std::uint32_t>(rng.below(room));
            const std::uint32_t up = std::min(last, down + static_cast<std::uint32_t>(rng.range(100, 400)));
            const std::uint16_t bit = static_cast<std::uint16_t>(1u << rng.below(4));
            buttonEdges.push_back({down, static_cast<std::uint16_t>(bit | 0x8000)});
            buttonEdges.push_back({up, bit});
        }
        std::stable_sort(buttonEdges.begin(), buttonEdges.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        for (const auto& [time, edge] : buttonEdges) {
            const std::uint16_t bit = static_cast<std::uint16_t>(edge & 0xFF);
            if (edge & 0x8000)
                buttonState = static_cast<std::uint16_t>(buttonState | bit);
            else
                buttonState = static_cast<std::uint16_t>(buttonState & ~bit);
            Pending p;
            p.writeAt = time;
            p.seq = seq++;
            p.kind = Pending::Button;
            // High byte: the button that changed; low byte: the buttons now down.
            p.word = static_cast<std::uint16_t>(bit << 8 | buttonState);
            pending.push_back(std::move(p));
            changes.push_back({time, true, buttonState});
        }
        const int inputsHere =
            o.inputChanges < 0 ? static_cast<int>(span / 5000) : share(o.inputChanges, o.blocks, b);
        std::vector<std::uint32_t> inputTimes;
        for (int i = 0; i < inputsHere; ++i)
            inputTimes.push_back(first + static_cast<std::uint32_t>(rng.below(span)));
        std::sort(inputTimes.begin(), inputTimes.end());
        for (std::uint32_t time : inputTimes) {
            std::uint16_t v = static_cast<std::uint16_t>(rng.range(1, 255));
            if (v == inputWord) v = static_cast<std::uint16_t>(v ^ 0x80);
            inputWord = v;
            Pending p;
            p.writeAt = time;
            p.seq = seq++;
            p.kind = Pending::Input;
            p.word = v;
            pending.push_back(std::move(p));
            changes.push_back({time, false, v});
        }
        std::stable_sort(changes.begin(), changes.end(),
                         [](const StateChange& x, const StateChange& y) { return x.time < y.time; });
        std::sort(pending.begin(), pending.end(), [](const Pending& x, const Pending& y) {
            return x.writeAt != y.writeAt ? x.writeAt < y.writeAt : x.seq < y.seq;
        });

        // Runs of missing samples: [begin, end) sample indices.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> gaps;
        if (o.gaps && n >= 100) {
            const std::uint64_t count = std::max<std::uint64_t>(1, n / 4000);
            for (std::uint64_t i = 0; i < count; ++i) {
                std::uint64_t begin =
                    static_cast<std::uint64_t>(rng.range(20, static_cast<std::int64_t>(n) - 40));
                std::uint64_t length =
                    rng.chance(0.25) ? static_cast<std::uint64_t>(rng.range(260, 600)) * o.sampleRate / 1000
                                     : static_cast<std::uint64_t>(rng.range(2, 40));
                if (stepHalf == 1) {  // whole milliseconds at 2000 Hz
                    begin &= ~1ull;
                    length = (length + 1) & ~1ull;
                }
                length = std::min(length, n - 5 - begin);
                gaps.push_back({begin, begin + length});
            }
            std::sort(gaps.begin(), gaps.end());
        }

        // ---- the records ----
        BlockStartSpec bs;
        bs.time = first;
        bs.sampleRate = static_cast<double>(o.sampleRate);
        bs.gazeScale = o.gazeScale;
        bs.velocityScale = o.velocityScale;
        bs.recordingMode = 1;
        bs.filter = 2;
        bs.eye = o.eyes;
        bs.flags = groups;
        w.startSamples(bs);
        if (o.eventBlocks) {
            bs.flags = static_cast<std::uint16_t>(o.eyeEvents ? 0x0E00 : 0);
            w.startEvents(bs);
        }
        std::size_t phaseAt = 0, pendingAt = 0, changeAt = 0, gapAt = 0;
        std::uint64_t written = 0, sinceFull = 0;
        result.blocks.push_back({});
        BlockSummary& summary = result.blocks.back();
        summary.startTime = first;
        summary.sampleFlags = static_cast<std::uint16_t>(groups | eyeFlags);
        summary.sampleRate = static_cast<float>(o.sampleRate);
        summary.eye = o.eyes;

        auto flushUntil = [&](std::uint64_t beforeTime) {
            while (pendingAt < pending.size() && pending[pendingAt].writeAt < beforeTime) {
                const Pending& p = pending[pendingAt++];
                switch (p.kind) {
                    case Pending::EyeEvent:
                        w.eyeEvent(p.type, p.spec);
                        break;
                    case Pending::Message:
                        w.message(p.writeAt, p.text);
                        break;
                    case Pending::Button:
                        w.button(p.writeAt, p.word);
                        break;
                    case Pending::Input:
                        w.input(p.writeAt, p.word);
                        break;
                }
                ++result.eventCount;
            }
        };

        for (std::uint64_t i = 0; i < n; ++i) {
            const std::uint64_t half = firstHalf + i * stepHalf;
            const std::uint32_t t = static_cast<std::uint32_t>(half / 2);
            const double frac = (half & 1) ? 0.5 : 0.0;
            while (changeAt < changes.size() && changes[changeAt].time <= t) {
                if (changes[changeAt].button)
                    curButtons = changes[changeAt].value;
                else
                    curInput = changes[changeAt].value;
                ++changeAt;
            }
            while (gapAt < gaps.size() && gaps[gapAt].second <= i) ++gapAt;
            const bool missingSample = gapAt < gaps.size() && gaps[gapAt].first <= i;

            // Where the eyes are.
            while (phaseAt + 1 < phases.size() && phases[phaseAt].end < t) ++phaseAt;
            Point gaze = point;
            double pupilNow[2] = {pupil[0], pupil[1]};
            bool closed = false;
            if (!phases.empty()) {
                const Phase& ph = phases[phaseAt];
                const double length = static_cast<double>(ph.end - ph.start) + gridMs;
                double u = (static_cast<double>(t - ph.start) + frac) / length;
                u = std::clamp(u, 0.0, 1.0);
                if (ph.kind == Phase::Saccade) {
                    const double s = u * u * (3.0 - 2.0 * u);
                    gaze = {ph.from.x + (ph.to.x - ph.from.x) * s, ph.from.y + (ph.to.y - ph.from.y) * s};
                } else {
                    gaze = ph.from;
                }
                for (int e = 0; e < 2; ++e)
                    pupilNow[e] = ph.pupilStart[e] + (ph.pupilEnd[e] - ph.pupilStart[e]) * u;
                closed = ph.kind == Phase::Blink || (ph.hasBlink && t >= ph.blinkStart && t <= ph.blinkEnd);
            }

            if (!missingSample) {
                spec.flags = sampleFlags;
                spec.time = t;
                const bool full = written == 0 || (o.fullTimeEvery != 0 && sinceFull >= o.fullTimeEvery) ||
                                  t - w.runningTime() > 255;
                spec.timeForm = full ? TimeForm::Full : TimeForm::Increment;
                sinceFull = full ? 1 : sinceFull + 1;
                for (int e : eyes) {
                    if (closed) {
                        spec.gazeX[e] = spec.gazeY[e] = -32768;
                        spec.headRefX[e] = spec.headRefY[e] = -32768;
                        spec.pupilX[e] = spec.pupilY[e] = -32768;
                        spec.pupilSize[e] = 0;
                        continue;
                    }
                    const double gx = gaze.x + kEyeOffset[e].x + rng.uniform(-0.6, 0.6);
                    const double gy = gaze.y + kEyeOffset[e].y + rng.uniform(-0.6, 0.6);
                    spec.gazeX[e] = w.storedGaze(gx);
                    spec.gazeY[e] = w.storedGaze(gy);
                    spec.headRefX[e] = toStoredPlain((gx - kScreenWidth / 2) * 6.0);
                    spec.headRefY[e] = toStoredPlain((gy - kScreenHeight / 2) * 6.0);
                    spec.pupilX[e] = toStoredPlain(gx * 0.25 + 250.0 + 80.0 * e);
                    spec.pupilY[e] = toStoredPlain(gy * 0.25 + 300.0);
                    spec.pupilSize[e] = toStoredPlain(pupilNow[e] + rng.uniform(-3.0, 3.0));
                }
                spec.resolutionX = w.storedGaze(kPixelsPerDegree + (gaze.x - kScreenWidth / 2) * 0.0005);
                spec.resolutionY =
                    w.storedGaze(kPixelsPerDegree - 0.5 + (gaze.y - kScreenHeight / 2) * 0.0005);
                spec.errors = closed ? 1 : 0;
                spec.input = curInput;
                spec.buttons = curButtons;
                const int words = std::min(o.headDataType & 15, 8);
                for (int k = 0; k < words; ++k)
                    spec.headData[k] = static_cast<std::uint16_t>(100 * (k + 1) + static_cast<int>(t % 7));
                if (!spec.skip1.empty()) spec.skip1[0].data[0] = static_cast<std::uint8_t>(t);
                if (!spec.skip2.empty()) spec.skip2[0].data[0] = static_cast<std::uint8_t>(t >> 8);
                w.sample(spec);
                if (written == 0) summary.firstSampleTime = t;
                summary.lastSampleTime = t;
                ++written;
            }
            // Events whose time has passed follow the last sample of their millisecond.
            const std::uint64_t nextTime = i + 1 < n ? (half + stepHalf) / 2 : 0xFFFFFFFFFFFFull;
            flushUntil(nextTime);
        }
        flushUntil(0xFFFFFFFFFFFFull);

        const std::uint32_t endTime = last + 1;
        w.endSamples(endTime);
        if (o.eventBlocks) w.endEvents(endTime);
        summary.endTime = endTime;
        summary.samples = written;
        result.sampleCount += written;

        blockStart = static_cast<std::uint64_t>(endTime) +
                     (o.pauseMs != 0 ? o.pauseMs : static_cast<std::uint32_t>(rng.range(500, 3000)));
    }
    w.endOfRecords();
    w.moveInto(result);
    return result;
}

}  // namespace vokgen

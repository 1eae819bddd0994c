// vok export: a single walk over the items writes every requested table.
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>

#include <fmt/format.h>

#include "Commands.h"
#include "System.h"
#include "Walk.h"
#include "vokapi_ext.h"

namespace voktool {

namespace {

constexpr float kMissing = RowWriter::VOK_MISSING;

// ---- which values an event record carries ----------------------------------
//
// The `read` bits name groups, and several fields share a bit (the start
// time and a start pupil size both set 0x0001), so for the pupil sizes,
// velocities and resolutions a value of exactly 0 (what a record that does
// not carry the field holds) also counts as absent.

bool startGaze(const Event& e) { return (e.read & VOK_READ_START_POS) && (e.read & (VOK_READ_GAZE_POS | VOK_READ_PLAIN_POS)); }
bool endGaze(const Event& e) { return (e.read & VOK_READ_END_POS) && (e.read & (VOK_READ_GAZE_POS | VOK_READ_PLAIN_POS)); }
bool avgGaze(const Event& e) { return (e.read & VOK_READ_AVG_POS) && (e.read & (VOK_READ_GAZE_POS | VOK_READ_PLAIN_POS)); }
bool startHeadRef(const Event& e) { return (e.read & VOK_READ_START_POS) && (e.read & (VOK_READ_HEADREF_POS | VOK_READ_PLAIN_POS)); }
bool endHeadRef(const Event& e) { return (e.read & VOK_READ_END_POS) && (e.read & (VOK_READ_HEADREF_POS | VOK_READ_PLAIN_POS)); }
bool avgHeadRef(const Event& e) { return (e.read & VOK_READ_AVG_POS) && (e.read & (VOK_READ_HEADREF_POS | VOK_READ_PLAIN_POS)); }

bool carried(const Event& e, std::uint16_t group, std::uint16_t which, float value) {
    return (e.read & group) && (e.read & which) && value != 0.0f;
}

// The value of a field from the end record when it carries it, else from the
// start record; kMissing when neither does.
template <typename Has, typename Get>
float joined(const Event* start, const Event* end, Has has, Get get) {
    if (end != nullptr && has(*end)) return get(*end);
    if (start != nullptr && has(*start)) return get(*start);
    return kMissing;
}

int eyeIndex(const Event& e) { return e.eye == 1 ? 1 : 0; }

int kindIndex(int code) {
    switch (code) {
        case SFIX: case EFIX: return 0;
        case SSACC: case ESACC: return 1;
        default: return 2;  // SBLINK, EBLINK
    }
}

constexpr std::string_view kKindNames[3] = {"fixation", "saccade", "blink"};

struct OpenStart {
    bool open = false;
    Event event{};
    int trial = -1;
    int block = 0;
};

class Exporter {
public:
    Exporter(VOKFile* file, TrialPlan* plan) : file_(file), plan_(plan) {}

    RowWriter* writers[7] = {};  // by Table

    RowWriter* writer(Table t) const { return writers[static_cast<int>(t)]; }

    // Walks every item; returns the number of items that could not be read.
    std::uint64_t run(Progress& progress, bool trackCursor);

private:
    void sampleRow(const Sample& s, int trial, int block);
    void eventRow(int kind, int eye, const Event* start, const Event* end, int trial, int block);
    void pointRow(Table table, const Event& e, int trial, int block, bool extra);
    void recordingRow(const Block& b);
    void trialRows();
    void flushOpenStarts();

    VOKFile* file_;
    TrialPlan* plan_;
    BlockTracker blocks_;
    OpenStart open_[2][3];
};

void trialField(RowWriter& w, int trial) {
    if (trial >= 0) w.integer(trial + 1); else w.missing();
}

void blockField(RowWriter& w, int block) {
    if (block > 0) w.integer(block); else w.missing();
}

void Exporter::sampleRow(const Sample& s, int trial, int block) {
    RowWriter& w = *writer(Table::Samples);
    const std::uint16_t f = s.flags;
    const bool eye[2] = {(f & VOK_SAMPLE_LEFT) != 0, (f & VOK_SAMPLE_RIGHT) != 0};
    auto group = [&](int e, std::uint16_t bit, float v) {
        if (eye[e] && (f & bit)) w.measured(v); else w.missing();
    };
    auto velocity = [&](float v) { w.computed(v); };
    auto speed = [&](float vx, float vy) {
        if (vx == kMissing || vy == kMissing || vx != vx || vy != vy)
            w.missing();
        else
            w.computed(static_cast<float>(std::sqrt(static_cast<double>(vx) * vx + static_cast<double>(vy) * vy)));
    };
    w.begin();
    for (const Column* c : w.columns()) {
        switch (c->id) {
            case col::STrial: trialField(w, trial); break;
            case col::SBlock: blockField(w, block); break;
            case col::STime: w.time(s.time, (f & VOK_SAMPLE_HALFMS) != 0); break;
            case col::SLeftGazeX: group(0, VOK_SAMPLE_GAZE, s.gazeX[0]); break;
            case col::SLeftGazeY: group(0, VOK_SAMPLE_GAZE, s.gazeY[0]); break;
            case col::SRightGazeX: group(1, VOK_SAMPLE_GAZE, s.gazeX[1]); break;
            case col::SRightGazeY: group(1, VOK_SAMPLE_GAZE, s.gazeY[1]); break;
            case col::SLeftPupilSize: group(0, VOK_SAMPLE_PUPILSIZE, s.pupilSize[0]); break;
            case col::SRightPupilSize: group(1, VOK_SAMPLE_PUPILSIZE, s.pupilSize[1]); break;
            case col::SResolutionX: if (f & VOK_SAMPLE_RESOLUTION) w.measured(s.resolutionX); else w.missing(); break;
            case col::SResolutionY: if (f & VOK_SAMPLE_RESOLUTION) w.measured(s.resolutionY); else w.missing(); break;
            case col::SLeftPupilX: group(0, VOK_SAMPLE_PUPILXY, s.pupilX[0]); break;
            case col::SLeftPupilY: group(0, VOK_SAMPLE_PUPILXY, s.pupilY[0]); break;
            case col::SRightPupilX: group(1, VOK_SAMPLE_PUPILXY, s.pupilX[1]); break;
            case col::SRightPupilY: group(1, VOK_SAMPLE_PUPILXY, s.pupilY[1]); break;
            case col::SLeftHeadRefX: group(0, VOK_SAMPLE_HEADREF, s.headRefX[0]); break;
            case col::SLeftHeadRefY: group(0, VOK_SAMPLE_HEADREF, s.headRefY[0]); break;
            case col::SRightHeadRefX: group(1, VOK_SAMPLE_HEADREF, s.headRefX[1]); break;
            case col::SRightHeadRefY: group(1, VOK_SAMPLE_HEADREF, s.headRefY[1]); break;
            case col::SInput:
                if ((f & VOK_SAMPLE_INPUT) && s.input != VOK_ABSENT_WORD) w.integer(s.input); else w.missing();
                break;
            case col::SButtons: if (f & VOK_SAMPLE_BUTTONS) w.integer(s.buttons); else w.missing(); break;
            case col::SErrors:
                if ((f & VOK_SAMPLE_ERRORS) && s.errors != VOK_ABSENT_WORD) w.integer(s.errors); else w.missing();
                break;
            case col::SFlags: w.integer(f); break;
            case col::SHeadDataType:
                if ((f & VOK_SAMPLE_HEADDATA) && s.headDataType != -32768) w.integer(s.headDataType); else w.missing();
                break;
            case col::SHeadData0: case col::SHeadData1: case col::SHeadData2: case col::SHeadData3:
            case col::SHeadData4: case col::SHeadData5: case col::SHeadData6: case col::SHeadData7: {
                const int k = c->id - col::SHeadData0;
                const int words = s.headDataType < 0 ? 0 : (s.headDataType & 15);
                if ((f & VOK_SAMPLE_HEADDATA) && k < words) w.integer(s.headData[k]); else w.missing();
                break;
            }
            case col::SLeftGazeVelX: velocity(s.gazeVelX[0]); break;
            case col::SLeftGazeVelY: velocity(s.gazeVelY[0]); break;
            case col::SRightGazeVelX: velocity(s.gazeVelX[1]); break;
            case col::SRightGazeVelY: velocity(s.gazeVelY[1]); break;
            case col::SLeftGazeSpeed: speed(s.gazeVelX[0], s.gazeVelY[0]); break;
            case col::SRightGazeSpeed: speed(s.gazeVelX[1], s.gazeVelY[1]); break;
            case col::SLeftHeadRefVelX: velocity(s.headRefVelX[0]); break;
            case col::SLeftHeadRefVelY: velocity(s.headRefVelY[0]); break;
            case col::SRightHeadRefVelX: velocity(s.headRefVelX[1]); break;
            case col::SRightHeadRefVelY: velocity(s.headRefVelY[1]); break;
            case col::SLeftPupilVelX: velocity(s.pupilVelX[0]); break;
            case col::SLeftPupilVelY: velocity(s.pupilVelY[0]); break;
            case col::SRightPupilVelX: velocity(s.pupilVelX[1]); break;
            case col::SRightPupilVelY: velocity(s.pupilVelY[1]); break;
            case col::SLeftFastGazeVelX: velocity(s.fastGazeVelX[0]); break;
            case col::SLeftFastGazeVelY: velocity(s.fastGazeVelY[0]); break;
            case col::SRightFastGazeVelX: velocity(s.fastGazeVelX[1]); break;
            case col::SRightFastGazeVelY: velocity(s.fastGazeVelY[1]); break;
            case col::SLeftFastHeadRefVelX: velocity(s.fastHeadRefVelX[0]); break;
            case col::SLeftFastHeadRefVelY: velocity(s.fastHeadRefVelY[0]); break;
            case col::SRightFastHeadRefVelX: velocity(s.fastHeadRefVelX[1]); break;
            case col::SRightFastHeadRefVelY: velocity(s.fastHeadRefVelY[1]); break;
            case col::SLeftFastPupilVelX: velocity(s.fastPupilVelX[0]); break;
            case col::SLeftFastPupilVelY: velocity(s.fastPupilVelY[0]); break;
            case col::SRightFastPupilVelX: velocity(s.fastPupilVelX[1]); break;
            case col::SRightFastPupilVelY: velocity(s.fastPupilVelY[1]); break;
            default: w.missing(); break;
        }
    }
    w.end();
}

void Exporter::eventRow(int kind, int eye, const Event* start, const Event* end, int trial, int block) {
    RowWriter& w = *writer(Table::Events);
    const Event& any = end != nullptr ? *end : *start;
    const std::uint32_t startTime =
        (end != nullptr && (end->read & VOK_READ_START_TIME)) || start == nullptr ? any.startTime : start->startTime;
    const bool hasEnd = end != nullptr;
    auto value = [&](auto has, auto get) { w.measured(joined(start, end, has, get)); };
    auto startResX = [&]() {
        return joined(start, end, [](const Event& e) { return carried(e, VOK_READ_RESOLUTION, VOK_READ_START_TIME, e.startResolutionX); },
                      [](const Event& e) { return e.startResolutionX; });
    };
    auto startResY = [&]() {
        return joined(start, end, [](const Event& e) { return carried(e, VOK_READ_RESOLUTION, VOK_READ_START_TIME, e.startResolutionY); },
                      [](const Event& e) { return e.startResolutionY; });
    };
    auto endResX = [&]() {
        return joined(start, end, [](const Event& e) { return carried(e, VOK_READ_RESOLUTION, VOK_READ_END_VALUES, e.endResolutionX); },
                      [](const Event& e) { return e.endResolutionX; });
    };
    auto endResY = [&]() {
        return joined(start, end, [](const Event& e) { return carried(e, VOK_READ_RESOLUTION, VOK_READ_END_VALUES, e.endResolutionY); },
                      [](const Event& e) { return e.endResolutionY; });
    };
    w.begin();
    for (const Column* c : w.columns()) {
        switch (c->id) {
            case col::ETrial: trialField(w, trial); break;
            case col::EBlock: blockField(w, block); break;
            case col::EType: w.word(kKindNames[kind]); break;
            case col::EEye: w.word(eye == 0 ? "left" : "right"); break;
            case col::EStartTime: w.integer(startTime); break;
            case col::EEndTime: if (hasEnd) w.integer(end->endTime); else w.missing(); break;
            case col::EDuration:
                if (hasEnd) w.integer(static_cast<std::int64_t>(end->endTime) - startTime); else w.missing();
                break;
            case col::EStartGazeX: value(startGaze, [](const Event& e) { return e.startGazeX; }); break;
            case col::EStartGazeY: value(startGaze, [](const Event& e) { return e.startGazeY; }); break;
            case col::EEndGazeX: value(endGaze, [](const Event& e) { return e.endGazeX; }); break;
            case col::EEndGazeY: value(endGaze, [](const Event& e) { return e.endGazeY; }); break;
            case col::EAvgGazeX: value(avgGaze, [](const Event& e) { return e.avgGazeX; }); break;
            case col::EAvgGazeY: value(avgGaze, [](const Event& e) { return e.avgGazeY; }); break;
            case col::EStartHeadRefX: value(startHeadRef, [](const Event& e) { return e.startHeadRefX; }); break;
            case col::EStartHeadRefY: value(startHeadRef, [](const Event& e) { return e.startHeadRefY; }); break;
            case col::EEndHeadRefX: value(endHeadRef, [](const Event& e) { return e.endHeadRefX; }); break;
            case col::EEndHeadRefY: value(endHeadRef, [](const Event& e) { return e.endHeadRefY; }); break;
            case col::EAvgHeadRefX: value(avgHeadRef, [](const Event& e) { return e.avgHeadRefX; }); break;
            case col::EAvgHeadRefY: value(avgHeadRef, [](const Event& e) { return e.avgHeadRefY; }); break;
            case col::EStartPupilSize:
                value([](const Event& e) { return carried(e, VOK_READ_PUPILSIZE, VOK_READ_START_TIME, e.startPupilSize); },
                      [](const Event& e) { return e.startPupilSize; });
                break;
            case col::EEndPupilSize:
                value([](const Event& e) { return carried(e, VOK_READ_PUPILSIZE, VOK_READ_END_VALUES, e.endPupilSize); },
                      [](const Event& e) { return e.endPupilSize; });
                break;
            case col::EAvgPupilSize:
                value([](const Event& e) { return carried(e, VOK_READ_PUPILSIZE, VOK_READ_AVG_VALUES, e.avgPupilSize); },
                      [](const Event& e) { return e.avgPupilSize; });
                break;
            case col::EAvgVelocity:
                value([](const Event& e) { return carried(e, VOK_READ_VELOCITY, VOK_READ_AVG_VALUES, e.avgVelocity); },
                      [](const Event& e) { return e.avgVelocity; });
                break;
            case col::EPeakVelocity:
                value([](const Event& e) { return carried(e, VOK_READ_VELOCITY, VOK_READ_AVG_VALUES, e.peakVelocity); },
                      [](const Event& e) { return e.peakVelocity; });
                break;
            case col::EStartVelocity:
                value([](const Event& e) { return carried(e, VOK_READ_VELOCITY, VOK_READ_START_TIME, e.startVelocity); },
                      [](const Event& e) { return e.startVelocity; });
                break;
            case col::EEndVelocity:
                value([](const Event& e) { return carried(e, VOK_READ_VELOCITY, VOK_READ_END_VALUES, e.endVelocity); },
                      [](const Event& e) { return e.endVelocity; });
                break;
            case col::EStartResolutionX: w.measured(startResX()); break;
            case col::EStartResolutionY: w.measured(startResY()); break;
            case col::EEndResolutionX: w.measured(endResX()); break;
            case col::EEndResolutionY: w.measured(endResY()); break;
            case col::EPair: w.word(start != nullptr && end != nullptr ? "complete" : start != nullptr ? "start-only" : "end-only"); break;
            case col::EParsedBy: w.integer(any.parsedBy); break;
            case col::EFlags: w.integer(any.flags); break;
            case col::EAmplitude: {
                const float sx = joined(start, end, startGaze, [](const Event& e) { return e.startGazeX; });
                const float sy = joined(start, end, startGaze, [](const Event& e) { return e.startGazeY; });
                const float ex = joined(start, end, endGaze, [](const Event& e) { return e.endGazeX; });
                const float ey = joined(start, end, endGaze, [](const Event& e) { return e.endGazeY; });
                const float rx0 = startResX(), rx1 = endResX(), ry0 = startResY(), ry1 = endResY();
                const float v[] = {sx, sy, ex, ey, rx0, rx1, ry0, ry1};
                bool ok = true;
                for (float x : v) ok = ok && x != kMissing && x != RowWriter::VOK_ABSENT && x == x;
                const double rx = (static_cast<double>(rx0) + rx1) / 2.0, ry = (static_cast<double>(ry0) + ry1) / 2.0;
                if (!ok || rx <= 0.0 || ry <= 0.0) {
                    w.missing();
                } else {
                    const double dx = (static_cast<double>(ex) - sx) / rx, dy = (static_cast<double>(ey) - sy) / ry;
                    w.number(static_cast<float>(std::sqrt(dx * dx + dy * dy)));
                }
                break;
            }
            default: w.missing(); break;
        }
    }
    w.end();
}

void Exporter::pointRow(Table table, const Event& e, int trial, int block, bool extra) {
    RowWriter& w = *writer(table);
    w.begin();
    for (const Column* c : w.columns()) {
        // The messages, buttons and inputs tables share their column codes.
        switch (c->id) {
            case col::MTrial: trialField(w, trial); break;
            case col::MBlock: blockField(w, block); break;
            case col::MTime: w.integer(e.startTime); break;
            case col::MText:
                if (table == Table::Messages)
                    w.text(extra ? extraMessageText(messageText(e)) : messageText(e));
                else if (table == Table::Buttons)
                    w.integer(e.buttons);
                else
                    w.integer(e.input);
                break;
            default: w.missing(); break;
        }
    }
    w.end();
}

void Exporter::recordingRow(const Block& b) {
    RowWriter& w = *writer(Table::Recordings);
    const RecordingInfo& r = b.start;
    w.begin();
    for (const Column* c : w.columns()) {
        switch (c->id) {
            case col::RBlock: w.integer(b.number); break;
            case col::RStartTime: w.integer(r.time); break;
            case col::REndTime: if (b.end) w.integer(b.end->time); else w.missing(); break;
            case col::RDuration:
                if (b.end) w.integer(static_cast<std::int64_t>(b.end->time) - r.time); else w.missing();
                break;
            case col::RSampleRate: w.number(r.sampleRate); break;
            case col::REyes: w.word(eyesName(r.eye)); break;
            case col::RRecords: w.word(recordsName(r.recordType)); break;
            case col::RFilter: w.integer(r.filterType); break;
            case col::RMode: w.integer(r.recordingMode); break;
            case col::RPupilType: w.integer(r.pupilType); break;
            case col::RPositionType: w.integer(r.positionType); break;
            case col::RSampleFlags: w.integer(r.sampleFlags); break;
            case col::REventFlags: w.integer(r.eventFlags); break;
            case col::RMerged: w.integer(r.merged); break;
            case col::RSamples: w.integer(static_cast<std::int64_t>(b.counts.samples)); break;
            case col::RFixations: w.integer(static_cast<std::int64_t>(b.counts.fixations)); break;
            case col::RSaccades: w.integer(static_cast<std::int64_t>(b.counts.saccades)); break;
            case col::RBlinks: w.integer(static_cast<std::int64_t>(b.counts.blinks)); break;
            case col::RMessages: w.integer(static_cast<std::int64_t>(b.counts.messages)); break;
            case col::RButtons: w.integer(static_cast<std::int64_t>(b.counts.buttons)); break;
            case col::RInputs: w.integer(static_cast<std::int64_t>(b.counts.inputs)); break;
            default: w.missing(); break;
        }
    }
    w.end();
}

void Exporter::trialRows() {
    RowWriter* w = writer(Table::Trials);
    if (w == nullptr || plan_ == nullptr) return;
    int number = 0;
    for (const TrialEntry& t : plan_->trials()) {
        ++number;
        w->begin();
        for (const Column* c : w->columns()) {
            switch (c->id) {
                case col::TTrial: w->integer(number); break;
                case col::TBlock: blockField(*w, t.block); break;
                case col::TStartTime: w->integer(plan_->served(t.header.startTime)); break;
                case col::TEndTime: w->integer(plan_->served(t.header.endTime)); break;
                case col::TDuration: w->integer(t.header.duration); break;
                case col::TStartMessage: if (t.startMessage.empty()) w->missing(); else w->text(t.startMessage); break;
                case col::TEndMessage: if (t.endMessage.empty()) w->missing(); else w->text(t.endMessage); break;
                default: w->missing(); break;
            }
        }
        w->end();
    }
}

void Exporter::flushOpenStarts() {
    if (writer(Table::Events) == nullptr) return;
    for (int eye = 0; eye < 2; ++eye) {
        for (int kind = 0; kind < 3; ++kind) {
            OpenStart& o = open_[eye][kind];
            if (!o.open) continue;
            eventRow(kind, eye, &o.event, nullptr, o.trial, o.block);
            o.open = false;
        }
    }
}

std::uint64_t Exporter::run(Progress& progress, bool trackCursor) {
    RowWriter* samples = writer(Table::Samples);
    RowWriter* events = writer(Table::Events);
    RowWriter* messages = writer(Table::Messages);
    RowWriter* buttons = writer(Table::Buttons);
    RowWriter* inputs = writer(Table::Inputs);
    RowWriter* recordings = writer(Table::Recordings);
    const bool trials = plan_ != nullptr;
    std::uint64_t unreadable = 0;
    std::uint64_t steps = 0;
    std::uint32_t position = 0;       // of the list item just stepped to
    constexpr std::uint32_t kAtEnd = 0xFFFFFFFFu;
    std::uint32_t lastCursor = 0;
    bool first = true;

    for (;;) {
        const int code = vok_get_next_data(file_);
        if (code == 0) break;
        progress.step(++steps);
        bool listItem = true;  // false for a merged extra message
        if (trackCursor) {
            // Merged extra messages do not move the cursor; at the end of
            // the items the cursor cannot be marked, and the item is the one
            // the cursor stood at.
            const std::optional<std::uint32_t> cursor = cursorPosition(file_);
            const std::uint32_t now = cursor ? *cursor : kAtEnd;
            if (now == lastCursor)
                listItem = false;
            else
                position = cursor ? now - 1 : lastCursor;
            lastCursor = now;
        } else if (trials) {
            position = first ? 0 : position + 1;
            first = false;
        }
        if (trials && listItem) plan_->enter(position);
        const bool trialStartsHere = trials && listItem && plan_->startedHere();
        // The trial of an item with this tracker time (-1 without trials).
        auto trialAt = [&](std::uint32_t rawTime) { return trials ? plan_->at(rawTime) : -1; };

        if (code == RECORDING_INFO) {
            const FloatData* d = vok_get_float_data(file_);
            if (d == nullptr) {
                ++unreadable;
                continue;
            }
            const auto raw = static_cast<std::uint32_t>(d->recording.timeHalfMs >> 1);
            if (trials) plan_->learnShift(d->recording);
            trialAt(raw);
            const std::optional<Block> done = blocks_.record(d->recording);
            if (d->recording.state != 0) flushOpenStarts();
            if (done && recordings != nullptr) recordingRow(*done);
            if (trialStartsHere) plan_->trials()[static_cast<std::size_t>(plan_->current())].block = blocks_.number();
            if (trials && listItem) plan_->leave(code, d, raw);
            continue;
        }
        blocks_.count(code);
        const int block = blocks_.number();
        if (trialStartsHere) plan_->trials()[static_cast<std::size_t>(plan_->current())].block = block;

        switch (code) {
            case SAMPLE_TYPE: {
                if (samples == nullptr) break;
                const FloatData* d = vok_get_float_data(file_);
                if (d == nullptr) {
                    ++unreadable;
                    break;
                }
                int trial = -1;
                if (trials) {
                    plan_->learnShift(d->sample);
                    trial = trialAt(static_cast<std::uint32_t>(d->sample.timeHalfMs >> 1));
                }
                sampleRow(d->sample, trial, block);
                break;
            }
            case SFIX: case SSACC: case SBLINK: case EFIX: case ESACC: case EBLINK: {
                if (events == nullptr) break;
                const FloatData* d = vok_get_float_data(file_);
                if (d == nullptr) {
                    ++unreadable;
                    break;
                }
                const Event& e = d->event;
                const bool isStart = code == SFIX || code == SSACC || code == SBLINK;
                const int trial = trials ? trialAt(plan_->tracker(isStart ? e.startTime : e.endTime)) : -1;
                const int eye = eyeIndex(e), kind = kindIndex(code);
                OpenStart& o = open_[eye][kind];
                if (isStart) {
                    if (o.open) eventRow(kind, eye, &o.event, nullptr, o.trial, o.block);
                    o.open = true;
                    o.event = e;
                    o.event.message = nullptr;
                    o.trial = trial;
                    o.block = block;
                } else if (o.open) {
                    eventRow(kind, eye, &o.event, &e, o.trial, o.block);
                    o.open = false;
                } else {
                    eventRow(kind, eye, nullptr, &e, trial, block);
                }
                break;
            }
            case MESSAGEEVENT: case BUTTONEVENT: case INPUTEVENT: {
                RowWriter* w = code == MESSAGEEVENT ? messages : code == BUTTONEVENT ? buttons : inputs;
                if (w == nullptr && !trials) break;
                const FloatData* d = vok_get_float_data(file_);
                if (d == nullptr) {
                    ++unreadable;
                    break;
                }
                const std::uint32_t raw = trials ? plan_->tracker(d->event.startTime) : 0;
                const int trial = trialAt(raw);
                if (w != nullptr)
                    pointRow(code == MESSAGEEVENT ? Table::Messages : code == BUTTONEVENT ? Table::Buttons : Table::Inputs,
                             d->event, trial, block, !listItem);
                if (trials && listItem) {
                    if (trialStartsHere && code == MESSAGEEVENT)
                        plan_->trials()[static_cast<std::size_t>(plan_->current())].startMessage =
                            std::string(messageText(d->event));
                    plan_->leave(code, d, raw);
                }
                break;
            }
            default: break;
        }
    }
    flushOpenStarts();
    if (const std::optional<Block> last = blocks_.finish(); last && recordings != nullptr) recordingRow(*last);
    trialRows();
    progress.clear();
    return unreadable;
}

}  // namespace

std::string_view formatExtension(Format format) {
    switch (format) {
        case Format::Csv: return "csv";
        case Format::Tsv: return "tsv";
        case Format::Jsonl: return "jsonl";
    }
    return "txt";
}

void reportError(const std::string& path, const std::string& reason) {
    reportLine(fmt::format("vok: {}: {}\n", path, reason));
}

int exportRecording(const std::string& path, const ExportOptions& options, StreamTarget* stream) {
    std::string reason;
    std::vector<std::string> diagnostics;
    const std::unique_ptr<Recording> rec = Recording::open(path, options.open, reason, diagnostics);
    if (!rec) {
        reportError(path, reason);
        return kExitFailed;
    }
    VOKFile* file = rec->handle();

    bool wantTrials = options.trials;
    for (Table t : options.tables) wantTrials = wantTrials || t == Table::Trials;
    std::optional<TrialPlan> plan;
    if (wantTrials) {
        plan.emplace();
        if (!plan->build(file, options.trialStart, options.trialEnd, reason)) {
            reportError(path, reason);
            return kExitFailed;
        }
    }

    try {
        Exporter exporter(file, plan ? &*plan : nullptr);
        std::vector<std::unique_ptr<Output>> files;
        std::vector<std::unique_ptr<RowWriter>> writers;
        std::filesystem::path dir;
        if (stream == nullptr) {
            dir = options.outDir;
            if (options.folderPerRecording) dir /= std::filesystem::path(path).stem();
            std::error_code ec;
            std::filesystem::create_directories(dir, ec);
            if (ec) throw OutputError(fmt::format("cannot create the folder {}: {}", dir.string(), ec.message()));
        }
        for (Table t : options.tables) {
            std::vector<const Column*> columns = selectColumns(t, options.columns, options.trials, options.velocities);
            Output* out = nullptr;
            if (stream != nullptr) {
                out = stream->out;
            } else {
                const std::string name = fmt::format("{}.{}", tableName(t), formatExtension(options.format));
                files.push_back(Output::createFile((dir / name).string()));
                out = files.back().get();
            }
            const bool lead = stream != nullptr && stream->recordingColumn;
            writers.push_back(std::make_unique<RowWriter>(*out, options.format, options.missing, std::move(columns),
                                                          lead ? "recording" : "", lead ? path : ""));
            if (stream == nullptr || !stream->headerWritten) writers.back()->header();
            if (stream != nullptr) stream->headerWritten = true;
            exporter.writers[static_cast<int>(t)] = writers.back().get();
        }
        // The walk computes sample velocities only for a table that shows them.
        bool showsVelocities = false;
        if (const RowWriter* samples = exporter.writers[static_cast<int>(Table::Samples)]) {
            for (const Column* c : samples->columns()) showsVelocities = showsVelocities || c->group == ColumnGroup::Velocity;
        }
        vokext_set_velocities(file, showsVelocities ? 1 : 0);
        Progress progress(path, vok_get_element_count(file), options.progress);
        const std::uint64_t unreadable = exporter.run(progress, options.open.extraMessages);
        for (auto& f : files) f->close();
        if (stream != nullptr) stream->out->flush();
        if (unreadable != 0) {
            reportError(path, fmt::format("{} item(s) could not be read and were left out", unreadable));
            return kExitFailed;
        }
    } catch (const OutputError& e) {
        reportError(path, e.what());
        return kExitFailed;
    } catch (const Interrupted&) {
        throw;
    } catch (const std::exception& e) {
        reportError(path, e.what());
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace voktool

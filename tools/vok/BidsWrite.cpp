// One recording into its BIDS files: the trials as the task's events and,
// per part of the recording that is one regular time grid and per recorded
// eye, the samples (physio) and the eye's events and messages
// (physioevents).  The grid is the library's (vokext_grid_plan): blocks at
// one rate share a part, with n/a rows for the time between them.
//
// Every file is written under a temporary name beside its final one and the
// recording's files are renamed together once all are complete.  Rows are
// streamed: nothing grows with the recording's length but the trial list.
#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <queue>
#include <random>
#include <regex>
#include <set>

#include "Bids.h"
#include "Commands.h"
#include "Gzip.h"
#include "Walk.h"
#include "vokapi_ext.h"

namespace voktool {

namespace fs = std::filesystem;
using ojson = nlohmann::ordered_json;

namespace {

constexpr std::string_view kNA = "n/a";

// ---- files renamed together ----------------------------------------------------

std::string randomToken() {
    std::random_device rd;
    const std::uint64_t v =
        (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return fmt::format("{:016x}", v);
}

class FileSet {
public:
    explicit FileSet(fs::path dir) : dir_(std::move(dir)), token_(randomToken()) {}
    ~FileSet() {
        for (const auto& f : files_) {
            std::error_code ec;
            if (!committed_) fs::remove(f.first, ec);
        }
    }
    FileSet(const FileSet&) = delete;
    FileSet& operator=(const FileSet&) = delete;

    // The temporary name under which the file `name` is written.
    std::string add(const std::string& name) {
        fs::path temp = dir_ / fmt::format(".{}.{}.partial", name, token_);
        files_.emplace_back(temp, dir_ / name);
        return temp.string();
    }
    void commit() {
        for (const auto& [temp, final] : files_) {
            std::error_code ec;
            fs::rename(temp, final, ec);
            if (ec)
                throw OutputError(
                    fmt::format("cannot rename {} to {}: {}", temp.string(), final.string(), ec.message()));
        }
        committed_ = true;
    }
    std::set<std::string> names() const {
        std::set<std::string> n;
        for (const auto& f : files_) n.insert(f.second.filename().string());
        return n;
    }

private:
    fs::path dir_;
    std::string token_;
    std::vector<std::pair<fs::path, fs::path>> files_;
    bool committed_ = false;
};

void writeJson(const std::string& path, const ojson& j) {
    Output out(Output::openFile(path), true);
    out.append(j.dump(2));
    out.append("\n");
    out.close();
}

// The files of a recording already in the dataset: NAME_events.tsv/.json and
// NAME_recording-LABEL_physio[events].tsv.gz/.json.
std::vector<std::string> existingFiles(const fs::path& dir, const std::string& prefix) {
    static const std::regex own(
        R"((events\.(tsv|json))|(recording-[A-Za-z0-9]+_physio(events)?\.(tsv\.gz|json)))");
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > prefix.size() + 1 && name.compare(0, prefix.size(), prefix) == 0 &&
            name[prefix.size()] == '_' && std::regex_match(name.substr(prefix.size() + 1), own))
            found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// ---- field writers ----------------------------------------------------------------

char* putNA(char* p) {
    std::memcpy(p, "n/a", 3);
    return p + 3;
}

char* putValue(char* p, float v) { return v != v ? putNA(p) : writeFloat(p, v); }

// A time in ms: whole and half milliseconds exactly, other steps as the
// shortest decimal.
char* putTime(char* p, double ms) {
    const double twice = ms * 2.0;
    if (twice >= 0 && twice < 9e15 && twice == std::floor(twice)) {
        const auto half = static_cast<std::uint64_t>(twice);
        p = writeUInt(p, half >> 1);
        if (half & 1) {
            std::memcpy(p, ".5", 2);
            p += 2;
        }
        return p;
    }
    return writeDouble(p, ms);
}

// A message text as one field: inside double quotes, with inner quotes
// doubled, when it holds a tab, a quote or a line end, or could be taken for
// n/a or an empty field.
std::string quotedText(std::string_view text) {
    const bool quote =
        text.empty() || text == kNA || text.find_first_of("\t\"\r\n") != std::string_view::npos;
    if (!quote) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// "DISPLAY_COORDS left top right bottom": the display's pixel rectangle.
std::optional<std::array<int, 2>> displayCoords(std::string_view text) {
    static constexpr std::string_view kKey = "DISPLAY_COORDS";
    const std::size_t at = text.find(kKey);
    if (at == std::string_view::npos) return std::nullopt;
    const char* p = text.data() + at + kKey.size();
    const char* end = text.data() + text.size();
    long long v[4];
    for (long long& x : v) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        auto r = std::from_chars(p, end, x);
        if (r.ec != std::errc()) return std::nullopt;
        p = r.ptr;
    }
    const long long w = v[2] - v[0] + 1, h = v[3] - v[1] + 1;
    if (w <= 0 || h <= 0 || w > 1000000 || h > 1000000) return std::nullopt;
    return std::array<int, 2>{static_cast<int>(w), static_cast<int>(h)};
}

// ---- the preamble's facts ----------------------------------------------------------------

struct DeviceFacts {
    std::string manufacturer, model, software;
};

DeviceFacts deviceFacts(VOKFile* file) {
    DeviceFacts d;
    const int length = vok_get_preamble_text_length(file);
    if (length <= 1) return d;
    std::string text(static_cast<std::size_t>(length), '\0');
    vok_get_preamble_text(file, text.data(), length);
    text.resize(std::strlen(text.c_str()));
    auto value = [](std::string_view line, std::string_view key) -> std::optional<std::string> {
        if (line.substr(0, key.size()) != key) return std::nullopt;
        line.remove_prefix(key.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t'))
            line.remove_suffix(1);
        if (line.empty()) return std::nullopt;
        return std::string(line);
    };
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        std::string_view line(text.data() + start, nl - start);
        start = nl + 1;
        if (line.substr(0, 3) == "** ") line.remove_prefix(3);
        if (auto source = value(line, "SOURCE:"); source && d.manufacturer.empty()) {
            // The maker's name is the first word; the whole line names the model.
            const std::size_t blank = source->find(' ');
            d.manufacturer = source->substr(0, blank);
            if (blank != std::string::npos) d.model = *source;
        } else if (auto version = value(line, "VERSION:"); version && d.software.empty()) {
            d.software = *version;
        }
    }
    return d;
}

// ---- parts --------------------------------------------------------------------------

enum EyeBit { kLeft = 1, kRight = 2 };

struct Part {
    VOKEXT_GridSegment grid{};
    int eyes = 0;                  // EyeBit mask
    std::set<int> pupilTypes;      // of its blocks
    bool pupilGroup = false;       // a block records pupil sizes
    std::uint32_t eventsFrom = 0;  // first item position whose events belong here
    double startTimeS = 0;         // relative to the first part's first sample

    std::string label(int eye, std::size_t index) const {
        return index == 0 ? fmt::format("eye{}", eye + 1) : fmt::format("eye{}seg{}", eye + 1, index + 1);
    }
};

struct PendingRow {
    double onset;
    std::uint64_t seq;
    std::string line;
    bool operator>(const PendingRow& o) const { return onset != o.onset ? onset > o.onset : seq > o.seq; }
};

struct OpenEvent {
    bool open = false;
    std::uint32_t startTime = 0;
};

// The two files of one eye in the part being written, with the event rows
// that wait until no earlier onset can come (rows are in onset order).
struct EyeOut {
    std::unique_ptr<GzipWriter> physio, events;
    std::priority_queue<PendingRow, std::vector<PendingRow>, std::greater<>> pending;
    OpenEvent open[3];  // fixation, saccade, blink
};

int kindOf(int code) {
    switch (code) {
        case SFIX:
        case EFIX:
            return 0;
        case SSACC:
        case ESACC:
            return 1;
        default:
            return 2;
    }
}
constexpr std::string_view kKinds[3] = {"fixation", "saccade", "blink"};

// ---- the conversion ---------------------------------------------------------------------

class Converter {
public:
    Converter(VOKFile* file, const std::string& path, const BidsName& name, const BidsOptions& o)
        : file_(file),
          path_(path),
          name_(name),
          o_(o),
          dir_(fs::path(o.dataset) / name.folder()),
          files_(dir_) {}

    int run();
    // What was written: "2 parts, eyes left and right".
    std::string summary() const {
        int eyes = 0;
        for (const Part& p : parts_) eyes |= p.eyes;
        return fmt::format("{} part{}, {}", parts_.size(), parts_.size() == 1 ? "" : "s",
                           eyes == 3   ? "both eyes"
                           : eyes == 1 ? "left eye"
                                       : "right eye");
    }

private:
    void planParts();
    void readTrials();
    void walk();
    void openPart(std::size_t k);
    void closePart();
    void toPart(std::size_t k) {
        while (current_ < static_cast<long>(k)) {
            if (current_ >= 0) closePart();
            openPart(static_cast<std::size_t>(++current_));
        }
    }
    std::size_t partOfEvent(std::uint32_t position);
    void sample(std::size_t i, std::int64_t row);
    void event(const Event& e, std::uint32_t position, bool extra, std::string_view text);
    void queue(int eye, double onset, std::string line);
    void flushOpenEvents(int eye);
    void release(int eye, double watermark);
    std::string eventLine(std::uint32_t onset, std::optional<std::int64_t> duration, std::string_view type,
                          std::string_view message, std::optional<std::uint32_t> value) const;
    void writeTaskEvents();
    ojson physioSidecar(const Part& p, int eye) const;
    ojson eventsSidecar() const;
    void warn(const std::string& text) { reportLine(fmt::format("vok: {}: warning: {}\n", path_, text)); }

    VOKFile* file_;
    const std::string& path_;
    const BidsName& name_;
    const BidsOptions& o_;
    fs::path dir_;
    FileSet files_;
    DeviceFacts device_;
    std::vector<Part> parts_;
    long current_ = -1;
    EyeOut eyes_[2];
    std::uint64_t nextRow_ = 0;  // next local row of the current part
    std::string naTail_;         // "\tn/a..." for an empty row
    std::uint64_t seq_ = 0;
    bool shifted_ = false;  // times served less the first record's time

    // batch columns
    static constexpr std::uint32_t kSamples = 4096, kEvents = 256;
    std::vector<std::uint32_t> position_ = std::vector<std::uint32_t>(kSamples);
    std::vector<float> gx_[2], gy_[2], pupil_[2], vx_[2], vy_[2], rx_, ry_;

    struct TrialRow {
        std::uint32_t first = 0, end = 0;
        Trial header{};
        std::string message;
        bool hasMessage = false;
    };
    std::vector<TrialRow> trials_;
    std::size_t nextTrial_ = 0;
    std::string trialStart_, trialEnd_;

    std::vector<std::uint32_t> blockStarts_;  // item positions of block starts
    std::size_t nextBlock_ = 0;
    std::optional<std::array<int, 2>> recordedResolution_;
    bool resolutionsDiffer_ = false;
    std::uint64_t unplaced_ = 0, eyeless_ = 0;
};

void Converter::planParts() {
    const std::int64_t count = vokext_grid_plan(file_, VOKEXT_GRID_CONTINUOUS, nullptr, 0);
    if (count < 0) throw std::runtime_error("the library could not plan the time grid");
    std::vector<VOKEXT_GridSegment> segments(static_cast<std::size_t>(count));
    if (count > 0 && vokext_grid_plan(file_, VOKEXT_GRID_CONTINUOUS, segments.data(),
                                      static_cast<std::uint32_t>(count)) != count)
        throw std::runtime_error("the library could not plan the time grid");
    for (const VOKEXT_GridSegment& s : segments) {
        Part p;
        p.grid = s;
        p.startTimeS = static_cast<double>(s.firstKey - segments.front().firstKey) / 2000.0;
        parts_.push_back(std::move(p));
    }
    if (parts_.empty()) return;
    // Where the events of each part begin: at its first block's start, unless
    // that lies inside the part before (a part split within one block).
    for (std::size_t k = 0; k < parts_.size(); ++k) {
        const VOKEXT_GridSegment& s = parts_[k].grid;
        parts_[k].eventsFrom = k == 0                                                   ? 0
                               : s.firstBlockPosition >= parts_[k - 1].grid.endPosition ? s.firstBlockPosition
                                                                                        : s.firstPosition;
    }
    shifted_ =
        std::fabs(static_cast<double>(segments.front().firstKey) / 2.0 - segments.front().firstTimeMs) > 0.25;

    // The blocks: which eyes and pupil measure each part records.  Only the
    // block records are read; samples and events are stepped past.
    VOKEXT_Batch b{};
    b.kinds = VOKEXT_RECORDINGS;
    std::vector<RecordingInfo> infos(64);
    std::vector<std::uint32_t> positions(64);
    b.recordingCapacity = 64;
    b.recordings = infos.data();
    b.recordingPosition = positions.data();
    for (int rc = 1; rc == 1;) {
        b.recordingCount = 0;
        rc = vokext_read_batch(file_, &b);
        if (rc < 0) throw std::runtime_error("the library could not walk the recording blocks");
        for (std::uint32_t i = 0; i < b.recordingCount; ++i) {
            const RecordingInfo& r = infos[i];
            if (r.state != 0) blockStarts_.push_back(positions[i]);
            if (r.state == 0 || (r.recordType & 1) == 0) continue;
            for (Part& p : parts_) {
                if (positions[i] < p.grid.firstBlockPosition || positions[i] >= p.grid.endPosition) continue;
                p.eyes |= (r.eye & 1 ? kLeft : 0) | (r.eye & 2 ? kRight : 0);
                p.pupilTypes.insert(r.pupilType);
                if (r.sampleFlags & VOK_SAMPLE_PUPILSIZE) p.pupilGroup = true;
            }
        }
    }
    vokext_rewind(file_);
    for (Part& p : parts_) {
        if (p.eyes == 0) p.eyes = kLeft | kRight;  // samples outside any block: as they come
        if (p.pupilTypes.empty()) p.pupilGroup = true;
    }
}

void Converter::readTrials() {
    trialStart_ = o_.trialStart;
    trialEnd_ = o_.trialEnd;
    if (!trialStart_.empty() || !trialEnd_.empty())
        vok_set_trial_identifier(file_, trialStart_.empty() ? nullptr : trialStart_.c_str(),
                                 trialEnd_.empty() ? nullptr : trialEnd_.c_str());
    const int count = vok_get_trial_count(file_);
    for (int k = 0; k < count; ++k) {
        TrialRow t;
        if (vok_jump_to_trial(file_, k) != 0 || vok_get_trial_header(file_, &t.header) != 0 ||
            vokext_get_trial_range(file_, k, &t.first, &t.end) != 0)
            break;
        trials_.push_back(std::move(t));
    }
    vokext_rewind(file_);
}

std::size_t Converter::partOfEvent(std::uint32_t position) {
    std::size_t k = current_ < 0 ? 0 : static_cast<std::size_t>(current_);
    while (k + 1 < parts_.size() && parts_[k + 1].eventsFrom <= position) ++k;
    return k;
}

void Converter::openPart(std::size_t k) {
    const Part& p = parts_[k];
    nextRow_ = 0;
    naTail_ = "\tn/a\tn/a";
    if (p.pupilGroup) naTail_ += "\tn/a";
    if (o_.velocities) naTail_ += "\tn/a\tn/a";
    if (o_.resolution) naTail_ += "\tn/a\tn/a";
    naTail_ += "\n";
    for (int eye = 0; eye < 2; ++eye) {
        EyeOut& out = eyes_[eye];
        out = EyeOut{};
        if ((p.eyes & (1 << eye)) == 0) continue;
        const std::string base = name_.prefix() + "_recording-" + p.label(eye, k);
        out.physio = std::make_unique<GzipWriter>(files_.add(base + "_physio.tsv.gz"), o_.gzipLevel);
        out.events = std::make_unique<GzipWriter>(files_.add(base + "_physioevents.tsv.gz"), o_.gzipLevel);
    }
}

void Converter::closePart() {
    const std::size_t k = static_cast<std::size_t>(current_);
    const Part& p = parts_[k];
    for (int eye = 0; eye < 2; ++eye) {
        if (!eyes_[eye].physio) continue;
        flushOpenEvents(eye);
        release(eye, INFINITY);
    }
    // Rows to the part's end (its last sample is its last row).
    for (; nextRow_ < p.grid.rows; ++nextRow_) {
        const double t = p.grid.firstTimeMs + static_cast<double>(nextRow_) * p.grid.stepMs;
        for (EyeOut& out : eyes_) {
            if (!out.physio) continue;
            char* q = putTime(out.physio->reserve(64), t);
            std::memcpy(q, naTail_.data(), naTail_.size());
            out.physio->commit(q + naTail_.size());
        }
    }
    for (int eye = 0; eye < 2; ++eye) {
        EyeOut& out = eyes_[eye];
        if (!out.physio) continue;
        out.physio->finish();
        out.events->finish();
        out.physio.reset();
        out.events.reset();
        const std::string base = name_.prefix() + "_recording-" + p.label(eye, k);
        writeJson(files_.add(base + "_physio.json"), physioSidecar(p, eye));
        writeJson(files_.add(base + "_physioevents.json"), eventsSidecar());
    }
}

void Converter::sample(std::size_t i, std::int64_t row) {
    if (row < 0) {
        ++unplaced_;
        return;
    }
    const auto r = static_cast<std::uint64_t>(row);
    std::size_t k = current_ < 0 ? 0 : static_cast<std::size_t>(current_);
    while (k + 1 < parts_.size() && parts_[k + 1].grid.firstRow <= r) ++k;
    toPart(k);
    const Part& p = parts_[k];
    const std::uint64_t local = r - p.grid.firstRow;
    const bool pupil = p.pupilGroup;
    for (; nextRow_ <= local; ++nextRow_) {
        const double t = p.grid.firstTimeMs + static_cast<double>(nextRow_) * p.grid.stepMs;
        const bool here = nextRow_ == local;
        for (int eye = 0; eye < 2; ++eye) {
            GzipWriter* w = eyes_[eye].physio.get();
            if (w == nullptr) continue;
            char* q = putTime(w->reserve(256), t);
            if (!here) {
                std::memcpy(q, naTail_.data(), naTail_.size());
                w->commit(q + naTail_.size());
                continue;
            }
            *q++ = '\t';
            q = putValue(q, gx_[eye][i]);
            *q++ = '\t';
            q = putValue(q, gy_[eye][i]);
            if (pupil) {
                *q++ = '\t';
                q = putValue(q, pupil_[eye][i]);
            }
            if (o_.velocities) {
                *q++ = '\t';
                q = vx_[eye][i] != vx_[eye][i] ? putNA(q) : writeComputedFloat(q, vx_[eye][i]);
                *q++ = '\t';
                q = vy_[eye][i] != vy_[eye][i] ? putNA(q) : writeComputedFloat(q, vy_[eye][i]);
            }
            if (o_.resolution) {
                *q++ = '\t';
                q = putValue(q, rx_[i]);
                *q++ = '\t';
                q = putValue(q, ry_[i]);
            }
            *q++ = '\n';
            w->commit(q);
        }
    }
}

std::string Converter::eventLine(std::uint32_t onset, std::optional<std::int64_t> duration,
                                 std::string_view type, std::string_view message,
                                 std::optional<std::uint32_t> value) const {
    std::string line = fmt::format("{}\t", onset);
    line += duration ? fmt::format("{}", *duration) : std::string(kNA);
    line += '\t';
    line += type;
    line += '\t';
    line += message.data() == nullptr ? std::string(kNA) : quotedText(message);
    line += '\t';
    line += value ? fmt::format("{}", *value) : std::string(kNA);
    line += '\n';
    return line;
}

// Starts whose end never came: rows without a duration.
void Converter::flushOpenEvents(int eye) {
    EyeOut& out = eyes_[eye];
    for (int kind = 0; kind < 3; ++kind) {
        OpenEvent& e = out.open[kind];
        if (e.open) queue(eye, e.startTime, eventLine(e.startTime, std::nullopt, kKinds[kind], {}, {}));
        e.open = false;
    }
}

void Converter::queue(int eye, double onset, std::string line) {
    eyes_[eye].pending.push(PendingRow{onset, seq_++, std::move(line)});
}

void Converter::release(int eye, double watermark) {
    EyeOut& out = eyes_[eye];
    for (const OpenEvent& e : out.open)
        if (e.open) watermark = std::min(watermark, static_cast<double>(e.startTime));
    while (!out.pending.empty() && out.pending.top().onset <= watermark) {
        out.events->append(out.pending.top().line);
        out.pending.pop();
    }
}

void Converter::event(const Event& e, std::uint32_t position, bool extra, std::string_view text) {
    const int code = e.type;
    const bool eyeEvent =
        code == SFIX || code == EFIX || code == SSACC || code == ESACC || code == SBLINK || code == EBLINK;
    if (!eyeEvent && code != MESSAGEEVENT && code != BUTTONEVENT && code != INPUTEVENT) return;

    if (code == MESSAGEEVENT) {
        if (!extra && nextTrial_ < trials_.size()) {
            while (nextTrial_ < trials_.size() && trials_[nextTrial_].first < position) ++nextTrial_;
            if (nextTrial_ < trials_.size() && trials_[nextTrial_].first == position) {
                trials_[nextTrial_].message = std::string(text);
                trials_[nextTrial_].hasMessage = true;
            }
        }
        if (const auto res = displayCoords(text)) {
            if (!recordedResolution_)
                recordedResolution_ = res;
            else if (*recordedResolution_ != *res)
                resolutionsDiffer_ = true;
        }
    }

    // A block start ends the events that are still open, as every table of
    // the tool pairs them.
    for (; nextBlock_ < blockStarts_.size() && blockStarts_[nextBlock_] < position; ++nextBlock_)
        for (int eye = 0; eye < 2; ++eye)
            if (eyes_[eye].events) flushOpenEvents(eye);
    toPart(
        std::max<std::size_t>(partOfEvent(position), current_ < 0 ? 0 : static_cast<std::size_t>(current_)));
    const double now = e.startTime;
    if (eyeEvent) {
        const int eye = e.eye == 1 ? 1 : 0;
        EyeOut& out = eyes_[eye];
        if (!out.events) {
            ++eyeless_;
            return;
        }
        const int kind = kindOf(code);
        OpenEvent& open = out.open[kind];
        const bool isStart = code == SFIX || code == SSACC || code == SBLINK;
        if (isStart) {
            if (open.open)
                queue(eye, open.startTime, eventLine(open.startTime, std::nullopt, kKinds[kind], {}, {}));
            open.open = true;
            open.startTime = e.startTime;
        } else {
            // The end record carries the start time; a start record seen
            // before it stands for the same event.
            const std::uint32_t start =
                (e.read & VOK_READ_START_TIME) || !open.open ? e.startTime : open.startTime;
            open.open = false;
            queue(eye, start,
                  eventLine(start, static_cast<std::int64_t>(e.endTime) - static_cast<std::int64_t>(start),
                            kKinds[kind], {}, {}));
        }
        release(eye, isStart ? e.startTime : e.endTime);
        return;
    }
    std::string line;
    if (code == MESSAGEEVENT)
        line = eventLine(e.startTime, 0, "message", extra ? extraMessageText(text) : text, {});
    else if (code == BUTTONEVENT)
        line = eventLine(e.startTime, 0, "button", {}, e.buttons);
    else
        line = eventLine(e.startTime, 0, "input", {}, e.input);
    for (int eye = 0; eye < 2; ++eye) {
        if (!eyes_[eye].events) continue;
        queue(eye, now, line);
        release(eye, now);
    }
}

void Converter::walk() {
    for (int eye = 0; eye < 2; ++eye) {
        gx_[eye].resize(kSamples);
        gy_[eye].resize(kSamples);
        pupil_[eye].resize(kSamples);
        if (o_.velocities) {
            vx_[eye].resize(kSamples);
            vy_[eye].resize(kSamples);
        }
    }
    if (o_.resolution) {
        rx_.resize(kSamples);
        ry_.resize(kSamples);
    }
    std::vector<std::int64_t> rows(kSamples);
    std::vector<Event> events(kEvents);
    std::vector<std::uint32_t> eventPosition(kEvents), eventText(kEvents);
    std::vector<std::uint8_t> eventExtra(kEvents);
    std::vector<char> text(64 * 1024);

    VOKEXT_Batch b{};
    b.kinds = VOKEXT_SAMPLES | VOKEXT_EVENTS;
    b.options = VOKEXT_MISSING_AS_NAN;
    b.sampleCapacity = kSamples;
    b.samples.position = position_.data();
    for (int eye = 0; eye < 2; ++eye) {
        b.samples.gazeX[eye] = gx_[eye].data();
        b.samples.gazeY[eye] = gy_[eye].data();
        b.samples.pupilSize[eye] = pupil_[eye].data();
        if (o_.velocities) {
            b.samples.gazeVelX[eye] = vx_[eye].data();
            b.samples.gazeVelY[eye] = vy_[eye].data();
        }
    }
    if (o_.resolution) {
        b.samples.resolutionX = rx_.data();
        b.samples.resolutionY = ry_.data();
    }
    b.eventCapacity = kEvents;
    b.events = events.data();
    b.eventPosition = eventPosition.data();
    b.eventExtra = eventExtra.data();
    b.eventText = eventText.data();
    b.text = text.data();
    b.textCapacity = static_cast<std::uint32_t>(text.size());

    VOKEXT_GridCursor cursor{};
    std::vector<VOKEXT_GridSegment> grid;
    for (const Part& p : parts_) grid.push_back(p.grid);
    Progress progress(path_, vok_get_element_count(file_), o_.progress);
    std::uint32_t shown = 0;
    for (int rc = 1; rc == 1;) {
        b.sampleCount = b.eventCount = b.textUsed = 0;
        rc = vokext_read_batch(file_, &b);
        if (rc < 0) throw std::runtime_error("the library could not walk the recording");
        if (vokext_grid_rows(file_, grid.data(), static_cast<std::uint32_t>(grid.size()), &cursor,
                             position_.data(), b.sampleCount, rows.data()) != 0)
            throw std::runtime_error("the library could not place the samples on the time grid");
        std::uint32_t i = 0, j = 0;
        while (i < b.sampleCount || j < b.eventCount) {
            // In walk order; a merged extra message comes before the list
            // item whose position it carries.
            if (j < b.eventCount && (i >= b.sampleCount || eventPosition[j] <= position_[i])) {
                std::string_view t;
                if (eventText[j] != 0xFFFFFFFFu && eventText[j] < b.textUsed)
                    t = std::string_view(text.data() + eventText[j]);
                else
                    t = std::string_view();
                event(events[j], eventPosition[j], eventExtra[j] != 0, t);
                ++j;
            } else {
                sample(i, rows[i]);
                ++i;
            }
        }
        const std::uint32_t at = b.sampleCount  ? position_[b.sampleCount - 1]
                                 : b.eventCount ? eventPosition[b.eventCount - 1]
                                                : 0;
        if ((at >> 16) != (shown >> 16)) progress.step(static_cast<std::uint64_t>(at) & ~0xFFFFull);
        shown = at;
    }
    progress.clear();
    toPart(parts_.size() - 1);
    closePart();
    if (b.unreadable != 0)
        throw std::runtime_error(fmt::format("{} item(s) could not be read", b.unreadable));
}

ojson Converter::physioSidecar(const Part& p, int eye) const {
    ojson j;
    j["SamplingFrequency"] = p.grid.rate;
    j["StartTime"] = p.startTimeS;
    ojson columns = ojson::array({"timestamp", "x_coordinate", "y_coordinate"});
    if (p.pupilGroup) columns.push_back("pupil_size");
    if (o_.velocities) {
        columns.push_back("x_velocity");
        columns.push_back("y_velocity");
    }
    if (o_.resolution) {
        columns.push_back("x_resolution");
        columns.push_back("y_resolution");
    }
    j["Columns"] = columns;
    j["PhysioType"] = "eyetrack";
    j["RecordedEye"] = eye == 0 ? "left" : "right";
    j["SampleCoordinateSystem"] = o_.customCoordinates ? "custom" : "gaze-on-screen";
    if (!device_.manufacturer.empty()) j["Manufacturer"] = device_.manufacturer;
    if (!device_.model.empty()) j["ManufacturersModelName"] = device_.model;
    if (!device_.software.empty()) j["SoftwareVersions"] = device_.software;
    j["timestamp"] = {
        {"Description",
         "Time of the sample on the eye tracker's clock; rows follow at 1000 / SamplingFrequency ms"},
        {"Units", "ms"},
        {"Origin", shifted_ ? "the eye tracker's clock less the time of the recording's first record"
                            : "the eye tracker's clock"}};
    j["x_coordinate"] = {{"Description", "Horizontal gaze position on the display"}, {"Units", "pixel"}};
    j["y_coordinate"] = {{"Description", "Vertical gaze position on the display"}, {"Units", "pixel"}};
    if (p.pupilGroup) {
        std::string what;
        if (p.pupilTypes.size() > 1)
            what = "Pupil area or diameter (the recording's blocks differ)";
        else
            what = *p.pupilTypes.begin() == 0 ? "Pupil area" : "Pupil diameter";
        j["pupil_size"] = {{"Description", what + ", in the eye tracker's arbitrary units"},
                           {"Units", "arbitrary"}};
    }
    if (o_.velocities) {
        j["x_velocity"] = {{"Description", "Horizontal gaze velocity"}, {"Units", "deg/s"}};
        j["y_velocity"] = {{"Description", "Vertical gaze velocity"}, {"Units", "deg/s"}};
    }
    if (o_.resolution) {
        j["x_resolution"] = {{"Description", "Horizontal angular resolution at the gaze position"},
                             {"Units", "pixel/deg"}};
        j["y_resolution"] = {{"Description", "Vertical angular resolution at the gaze position"},
                             {"Units", "pixel/deg"}};
    }
    return j;
}

ojson Converter::eventsSidecar() const {
    ojson j;
    j["Columns"] = {"onset", "duration", "trial_type", "message", "value"};
    j["OnsetSource"] = "timestamp";
    j["Description"] =
        "Fixations, saccades and blinks of this eye as the eye tracker detected them, and every message, "
        "button "
        "and input event of the recording";
    j["onset"] = {{"Description", "Start on the clock of the physio file's timestamp column"},
                  {"Units", "ms"}};
    j["duration"] = {{"Description",
                      "Length of the event; 0 for messages, buttons and inputs; n/a when its end "
                      "was not recorded"},
                     {"Units", "ms"}};
    j["trial_type"] = {{"Description", "Kind of event"},
                       {"Levels",
                        {{"fixation", "a fixation"},
                         {"saccade", "a saccade"},
                         {"blink", "a blink"},
                         {"message", "a message of the recording, its text in the message column"},
                         {"button", "a button event, its button word in the value column"},
                         {"input", "an input port change, its input word in the value column"}}}};
    j["message"] = {{"Description", "Text of a message"}};
    j["value"] = {{"Description", "Button word (button) or input port word (input)"}};
    return j;
}

void Converter::writeTaskEvents() {
    const std::string base = name_.prefix();
    Output out(Output::openFile(files_.add(base + "_events.tsv")), true);
    out.append("onset\tduration\ttrial\tmessage\n");
    const std::uint64_t zero = parts_.front().grid.firstKey;
    int number = 0;
    for (const TrialRow& t : trials_) {
        ++number;
        const double onset = (2.0 * t.header.startTime - static_cast<double>(zero)) / 2000.0;
        std::string line = fmt::format("{}\t{}\t{}\t", onset, t.header.duration / 1000.0, number);
        line += t.hasMessage ? quotedText(t.message) : std::string(kNA);
        line += '\n';
        out.append(line);
    }
    out.close();

    ojson j;
    j["TaskName"] = name_.task;
    ojson sp = ojson::object();
    const BidsDisplay& d = o_.display;
    std::optional<std::array<int, 2>> resolution =
        d.screenResolution ? d.screenResolution : recordedResolution_;
    if (d.screenDistance) sp["ScreenDistance"] = *d.screenDistance;
    if (d.screenOrigin) sp["ScreenOrigin"] = *d.screenOrigin;
    if (resolution) sp["ScreenResolution"] = *resolution;
    if (d.screenSize) sp["ScreenSize"] = *d.screenSize;
    if (!sp.empty()) j["StimulusPresentation"] = sp;
    j["onset"] = {{"Description", "Start of the trial, from the recording's first sample"}, {"Units", "s"}};
    j["duration"] = {{"Description", "Length of the trial"}, {"Units", "s"}};
    j["trial"] = {{"Description", "Number of the trial in the recording, from 1"}};
    j["message"] = {
        {"Description", "Text of the message that began the trial; n/a when a recording block began it"}};
    writeJson(files_.add(base + "_events.json"), j);
}

int Converter::run() {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) throw OutputError(fmt::format("cannot create the folder {}: {}", dir_.string(), ec.message()));
    const std::vector<std::string> before = existingFiles(dir_, name_.prefix());
    if (!before.empty() && !o_.overwrite) {
        reportError(path_, fmt::format("{} is already in the dataset ({}); --overwrite replaces it",
                                       name_.prefix(), (dir_ / before.front()).string()));
        return kExitFailed;
    }
    device_ = deviceFacts(file_);
    planParts();
    if (parts_.empty()) {
        reportError(path_, "holds no samples on a recording block's time grid; nothing to convert");
        return kExitFailed;
    }
    readTrials();
    walk();
    if (!o_.display.screenResolution && !recordedResolution_ && !o_.customCoordinates) {
        reportError(
            path_,
            "the display's ScreenResolution is unknown: the recording has no DISPLAY_COORDS message; give "
            "--screen-resolution W,H (pixels) or ScreenResolution in --display FILE.json, or write "
            "SampleCoordinateSystem \"custom\" with --custom-coordinates");
        return kExitFailed;
    }
    if (o_.display.screenResolution && recordedResolution_ &&
        *o_.display.screenResolution != *recordedResolution_)
        warn(fmt::format("the recording's DISPLAY_COORDS give {}x{} pixels; writing the {}x{} given",
                         (*recordedResolution_)[0], (*recordedResolution_)[1],
                         (*o_.display.screenResolution)[0], (*o_.display.screenResolution)[1]));
    else if (resolutionsDiffer_ && !o_.display.screenResolution)
        warn(fmt::format("the DISPLAY_COORDS messages disagree; writing the first, {}x{} pixels",
                         (*recordedResolution_)[0], (*recordedResolution_)[1]));
    writeTaskEvents();
    files_.commit();
    // Files of an earlier conversion of this recording that this one did not
    // write again (it had more parts).
    const std::set<std::string> written = files_.names();
    for (const std::string& old : before) {
        if (written.count(old) != 0) continue;
        fs::remove(dir_ / old, ec);
    }
    if (unplaced_ != 0)
        warn(fmt::format(
            "{} sample(s) on no grid row (a second sample at a row's time, or outside every recording "
            "block) were left out",
            unplaced_));
    if (eyeless_ != 0)
        warn(fmt::format("{} event(s) of an eye the block does not record were left out", eyeless_));
    return kExitOk;
}

}  // namespace

int bidsRecording(const std::string& path, const BidsName& name, const BidsOptions& options, Output& out) {
    std::string reason;
    std::vector<std::string> diagnostics;
    const std::unique_ptr<Recording> rec = Recording::open(path, options.open, reason, diagnostics);
    if (!rec) {
        reportError(path, reason);
        return kExitFailed;
    }
    try {
        Converter c(rec->handle(), path, name, options);
        const int status = c.run();
        if (status == kExitOk)
            out.append(fmt::format("{}: {}/{} ({})\n", path, name.folder(), name.prefix(), c.summary()));
        return status;
    } catch (const std::exception& e) {
        reportError(path, e.what());
        return kExitFailed;
    }
}

}  // namespace voktool

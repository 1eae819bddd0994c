#include "Walk.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

#include "Session.h"
#include "System.h"

namespace voktool {

void ItemCounts::count(int code) {
    switch (code) {
        case SAMPLE_TYPE: ++samples; break;
        case EFIX: ++fixations; break;
        case ESACC: ++saccades; break;
        case EBLINK: ++blinks; break;
        case MESSAGEEVENT: ++messages; break;
        case BUTTONEVENT: ++buttons; break;
        case INPUTEVENT: ++inputs; break;
        default: break;
    }
}

void ItemCounts::add(const ItemCounts& o) {
    samples += o.samples;
    fixations += o.fixations;
    saccades += o.saccades;
    blinks += o.blinks;
    messages += o.messages;
    buttons += o.buttons;
    inputs += o.inputs;
}

std::optional<Block> BlockTracker::record(const RecordingInfo& info) {
    std::optional<Block> done;
    if (info.state != 0) {
        // The samples and events starts of one block come as two records
        // when the library did not merge them: one block.
        if (open_ && (current_.start.recordType & info.recordType & 3) == 0) {
            current_.start.recordType = static_cast<std::uint8_t>(current_.start.recordType | info.recordType);
            return done;
        }
        if (open_) done = current_;
        current_ = Block{};
        current_.number = ++seen_;
        current_.start = info;
        open_ = true;
    } else if (open_) {
        current_.end = info;
        done = current_;
        open_ = false;
    }
    return done;
}

std::optional<Block> BlockTracker::finish() {
    if (!open_) return std::nullopt;
    open_ = false;
    return current_;
}

bool TrialPlan::build(VOKFile* file, const std::string& start, const std::string& end, std::string& reason) {
    start_ = start;
    end_ = end;
    identifiers_ = !start_.empty() || !end_.empty();
    BookMark origin{};
    const bool haveOrigin = vok_set_bookmark(file, &origin) == 0;
    if (identifiers_)
        vok_set_trial_identifier(file, start_.empty() ? nullptr : start_.c_str(),
                                 end_.empty() ? nullptr : end_.c_str());
    // Input values take the place of messages when the start identifier
    // carries the library's input prefix; the values are its digits.
    static constexpr std::string_view kInputPrefix = "inPut_type_";
    if (start_.find(kInputPrefix) != std::string::npos) {
        inputSplit_ = true;
        auto value = [](std::string_view text) -> std::uint16_t {
            if (text.empty() || text.size() > 3) return 0;
            return static_cast<std::uint16_t>(std::atoi(std::string(text).c_str()));
        };
        // The library keeps the text after the first 11 characters.
        startInput_ = value(start_.size() > 11 ? std::string_view(start_).substr(11) : std::string_view());
        endInput_ = value(end_);
    }
    const int count = vok_get_trial_count(file);
    trials_.clear();
    for (int k = 0; k < count; ++k) {
        if (vok_jump_to_trial(file, k) != 0) break;
        TrialEntry entry;
        BookMark here{};
        if (vok_set_bookmark(file, &here) != 0) break;
        entry.startIndex = here.id;
        if (!haveOrigin || here.id != origin.id) vok_free_bookmark(file, &here);
        vok_get_trial_header(file, &entry.header);
        trials_.push_back(std::move(entry));
    }
    if (haveOrigin) {
        if (vok_goto_bookmark(file, &origin) != 0) {
            reason = "cannot return to the first item after building the trials";
            return false;
        }
        vok_free_bookmark(file, &origin);
    } else if (!trials_.empty()) {
        reason = "cannot mark the first item";
        return false;
    }
    next_ = 0;
    current_ = -1;
    return true;
}

void TrialPlan::leave(int code, const FloatData* data, std::uint32_t rawTime) {
    if (current_ < 0 || data == nullptr) return;
    TrialEntry& t = trials_[static_cast<std::size_t>(current_)];
    // The item that ended a trial has the trial's end time: a block end, an
    // end message or an end input value.
    if (rawTime != t.header.endTime) return;
    bool ends = false;
    if (code == RECORDING_INFO) {
        ends = data->recording.state == 0;
    } else if (code == MESSAGEEVENT && identifiers_ && !inputSplit_ && !end_.empty()) {
        const std::string_view text = messageText(data->event);
        const bool isStart = !start_.empty() && text.find(start_) != std::string_view::npos;
        ends = !isStart && text.find(end_) != std::string_view::npos && text.find("!V") == std::string_view::npos;
        if (ends) t.endMessage = std::string(text);
    } else if (code == INPUTEVENT && inputSplit_) {
        ends = data->event.input == endInput_ && data->event.input != startInput_;
    }
    if (ends) close();
}

std::optional<std::uint32_t> cursorPosition(VOKFile* file) {
    BookMark mark{};
    if (vok_set_bookmark(file, &mark) != 0) return std::nullopt;
    vok_free_bookmark(file, &mark);
    return mark.id;
}

Progress::Progress(std::string label, std::uint64_t total, bool enabled)
    : label_(std::move(label)), total_(total), enabled_(enabled && terminal()) {
    start_ = last_ = std::chrono::steady_clock::now();
}

Progress::~Progress() { clear(); }

bool Progress::terminal() { return threadReports() == nullptr && stderrIsTerminal(); }

void Progress::tick(std::uint64_t done) {
    checkInterrupted();
    if (enabled_) show(done);
}

void Progress::show(std::uint64_t done) {
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::milliseconds(500) || now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    const double pct = total_ == 0 ? 0.0 : 100.0 * static_cast<double>(done) / static_cast<double>(total_);
    std::fprintf(stderr, "\r\x1b[K%s %5.1f%%", label_.c_str(), pct > 100.0 ? 100.0 : pct);
    std::fflush(stderr);
    shown_ = true;
}

void Progress::clear() {
    if (!shown_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}

std::string_view eyesName(int eye) {
    switch (eye) {
        case 1: return "left";
        case 2: return "right";
        case 3: return "both";
        default: return "none";
    }
}

std::string_view recordsName(int type) {
    switch (type) {
        case 1: return "samples";
        case 2: return "events";
        case 3: return "both";
        default: return "none";
    }
}

}  // namespace voktool

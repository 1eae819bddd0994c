// vok info: what a recording holds, as text or as one JSON object.
#include <memory>
#include <optional>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Walk.h"

namespace voktool {

namespace {

using nlohmann::ordered_json;

struct TrialSummary {
    int block = 0;
    Trial header{};
};

struct Summary {
    int revision = 0;
    int trackerRevision = 0;
    std::vector<std::string> preamble;
    unsigned items = 0;
    std::vector<Block> blocks;
    ItemCounts totals, outside;
    std::vector<TrialSummary> trials;
    std::vector<std::string> openDiagnostics, readDiagnostics;
    std::uint64_t unreadable = 0;
};

std::vector<std::string> preambleLines(VOKFile* file) {
    std::vector<std::string> lines;
    const int length = vok_get_preamble_text_length(file);
    if (length <= 0) return lines;
    std::string text(static_cast<std::size_t>(length), '\0');
    vok_get_preamble_text(file, text.data(), length);
    text.resize(std::char_traits<char>::length(text.c_str()));
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + at, end - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.substr(0, 3) == "** ") line.remove_prefix(3);
        lines.emplace_back(line);
        at = end + 1;
    }
    return lines;
}

ordered_json countsJson(const ItemCounts& c) {
    return ordered_json{{"samples", c.samples},   {"fixations", c.fixations}, {"saccades", c.saccades},
                        {"blinks", c.blinks},     {"messages", c.messages},   {"buttons", c.buttons},
                        {"inputs", c.inputs}};
}

std::string countsText(const ItemCounts& c) {
    return fmt::format("{} samples, {} fixations, {} saccades, {} blinks, {} messages, {} buttons, {} inputs",
                       c.samples, c.fixations, c.saccades, c.blinks, c.messages, c.buttons, c.inputs);
}

// Text that is safe inside JSON: invalid UTF-8 is replaced.
std::string jsonSafe(std::string_view text) {
    return ordered_json::parse(jsonQuoted(text)).get<std::string>();
}

void writeJson(Output& out, const std::string& path, const InfoOptions& options, const Summary& s) {
    ordered_json j;
    j["path"] = jsonSafe(path);
    j["library_version"] = vok_get_version();
    j["revision"] = s.revision;
    j["tracker_revision"] = s.trackerRevision;
    ordered_json pre = ordered_json::array();
    for (const std::string& line : s.preamble) pre.push_back(jsonSafe(line));
    j["preamble"] = pre;
    j["items"] = s.items;
    ordered_json blocks = ordered_json::array();
    for (const Block& b : s.blocks) {
        ordered_json o;
        o["block"] = b.number;
        o["start_time"] = b.start.time;
        o["end_time"] = b.end ? ordered_json(b.end->time) : ordered_json(nullptr);
        o["duration"] = b.end ? ordered_json(static_cast<std::int64_t>(b.end->time) - b.start.time) : ordered_json(nullptr);
        o["sample_rate"] = b.start.sampleRate;
        o["eyes"] = eyesName(b.start.eye);
        o["records"] = recordsName(b.start.recordType);
        o["filter"] = b.start.filterType;
        o["mode"] = b.start.recordingMode;
        o["pupil_type"] = b.start.pupilType;
        o["position_type"] = b.start.positionType;
        o["sample_flags"] = b.start.sampleFlags;
        o["event_flags"] = b.start.eventFlags;
        o["counts"] = countsJson(b.counts);
        blocks.push_back(std::move(o));
    }
    j["blocks"] = blocks;
    j["totals"] = countsJson(s.totals);
    j["outside_blocks"] = countsJson(s.outside);
    ordered_json trials;
    const bool byBlock = options.trialStart.empty() && options.trialEnd.empty();
    trials["by"] = byBlock ? "block" : "messages";
    trials["start_identifier"] = options.trialStart.empty() ? ordered_json(nullptr) : ordered_json(jsonSafe(options.trialStart));
    trials["end_identifier"] = options.trialEnd.empty() ? ordered_json(nullptr) : ordered_json(jsonSafe(options.trialEnd));
    trials["count"] = s.trials.size();
    ordered_json list = ordered_json::array();
    int number = 0;
    for (const TrialSummary& t : s.trials) {
        list.push_back(ordered_json{{"trial", ++number},
                                    {"block", t.block > 0 ? ordered_json(t.block) : ordered_json(nullptr)},
                                    {"start_time", t.header.startTime},
                                    {"end_time", t.header.endTime},
                                    {"duration", t.header.duration}});
    }
    trials["list"] = list;
    j["trials"] = trials;
    ordered_json diag = ordered_json::array();
    for (const std::string& d : s.openDiagnostics) diag.push_back(jsonSafe(d));
    j["diagnostics"] = diag;
    ordered_json readDiag = ordered_json::array();
    for (const std::string& d : s.readDiagnostics) readDiag.push_back(jsonSafe(d));
    j["read_diagnostics"] = readDiag;
    j["unreadable_items"] = s.unreadable;
    out.append(j.dump(2));
}

void writeText(Output& out, const std::string& path, const InfoOptions& options, const Summary& s) {
    fmt::memory_buffer b;
    auto line = [&](std::string_view label, std::string_view value) {
        fmt::format_to(fmt::appender(b), "  {:<17}{}\n", label, value);
    };
    fmt::format_to(fmt::appender(b), "{}\n", path);
    line("revision", fmt::format("{}", s.revision));
    line("tracker revision", fmt::format("{}", s.trackerRevision));
    line("items", fmt::format("{}", s.items));
    fmt::format_to(fmt::appender(b), "  preamble\n");
    for (const std::string& p : s.preamble) fmt::format_to(fmt::appender(b), "    {}\n", p);
    line("blocks", fmt::format("{}", s.blocks.size()));
    for (const Block& k : s.blocks) {
        const RecordingInfo& r = k.start;
        std::string span = k.end ? fmt::format("{} - {} ms ({} ms)", r.time, k.end->time,
                                               static_cast<std::int64_t>(k.end->time) - r.time)
                                 : fmt::format("{} ms - (no end record)", r.time);
        line(fmt::format("block {}", k.number), span);
        line("", fmt::format("{} Hz, {} eye{}, records {}, filter {}, mode {}", r.sampleRate, eyesName(r.eye),
                             r.eye == 3 ? "s" : "", recordsName(r.recordType), r.filterType, r.recordingMode));
        line("", countsText(k.counts));
    }
    line("total", countsText(s.totals));
    const ItemCounts& o = s.outside;
    if (o.samples + o.fixations + o.saccades + o.blinks + o.messages + o.buttons + o.inputs != 0)
        line("outside blocks", countsText(o));
    const bool byBlock = options.trialStart.empty() && options.trialEnd.empty();
    line("trials", byBlock ? fmt::format("{} (one per block)", s.trials.size())
                           : fmt::format("{} (start \"{}\", end \"{}\")", s.trials.size(), options.trialStart,
                                         options.trialEnd));
    int number = 0;
    for (const TrialSummary& t : s.trials) {
        line(fmt::format("trial {}", ++number),
             fmt::format("{} - {} ms ({} ms){}", t.header.startTime, t.header.endTime, t.header.duration,
                         t.block > 0 ? fmt::format(", block {}", t.block) : std::string()));
    }
    if (s.openDiagnostics.empty() && s.readDiagnostics.empty()) {
        line("diagnostics", "none");
    } else {
        line("diagnostics", fmt::format("{}", s.openDiagnostics.size() + s.readDiagnostics.size()));
        for (const std::string& d : s.openDiagnostics) fmt::format_to(fmt::appender(b), "    {}\n", d);
        for (const std::string& d : s.readDiagnostics) fmt::format_to(fmt::appender(b), "    {}\n", d);
    }
    if (s.unreadable != 0) line("unreadable items", fmt::format("{}", s.unreadable));
    out.append(std::string_view(b.data(), b.size()));
}

}  // namespace

int infoRecording(const std::string& path, const InfoOptions& options, Output& out) {
    std::string reason;
    Summary s;
    const std::unique_ptr<Recording> rec = Recording::open(path, options.open, reason, s.openDiagnostics);
    if (!rec) {
        if (options.json) {
            ordered_json j{{"path", jsonSafe(path)}, {"error", jsonSafe(reason)}};
            ordered_json diag = ordered_json::array();
            for (const std::string& d : s.openDiagnostics) diag.push_back(jsonSafe(d));
            j["diagnostics"] = diag;
            out.append(j.dump(2));
        }
        reportError(path, reason);
        return kExitFailed;
    }
    VOKFile* file = rec->handle();
    s.revision = vok_get_revision(file);
    s.trackerRevision = vok_get_tarnvik_revision(file);
    s.preamble = preambleLines(file);
    s.items = vok_get_element_count(file);

    TrialPlan plan;
    if (!plan.build(file, options.trialStart, options.trialEnd, reason)) {
        reportError(path, reason);
        return kExitFailed;
    }
    Diagnostics::clear();
    BlockTracker blocks;
    {
        Progress progress(path, s.items, options.progress);
        std::uint64_t steps = 0;
        for (int code; (code = vok_get_next_data(file)) != 0;) {
            progress.step(++steps);
            if (code != RECORDING_INFO) {
                blocks.count(code);
                continue;
            }
            const FloatData* d = vok_get_float_data(file);
            if (d == nullptr) {
                ++s.unreadable;
                continue;
            }
            plan.learnShift(d->recording);
            if (std::optional<Block> done = blocks.record(d->recording)) s.blocks.push_back(*done);
        }
        if (std::optional<Block> last = blocks.finish()) s.blocks.push_back(*last);
    }
    s.readDiagnostics = Diagnostics::take();
    s.totals = blocks.totals();
    s.outside = blocks.outside();
    for (const TrialEntry& t : plan.trials()) {
        TrialSummary ts;
        ts.header = t.header;
        ts.header.startTime = plan.served(t.header.startTime);
        ts.header.endTime = plan.served(t.header.endTime);
        // The block whose start record the trial refers to.
        if (t.header.recording != nullptr)
            for (const Block& b : s.blocks)
                if (b.start.timeHalfMs == t.header.recording->timeHalfMs) ts.block = b.number;
        s.trials.push_back(ts);
    }
    if (options.json)
        writeJson(out, path, options, s);
    else
        writeText(out, path, options, s);
    out.flush();
    return s.unreadable != 0 ? kExitFailed : kExitOk;
}

}  // namespace voktool

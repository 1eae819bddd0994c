// vok check: is a recording sound?  The recording is opened strictly and,
// when that fails, tolerantly, to tell a cut-off copy from a damaged record;
// then the consistency checks of the library run at levels 1 and 2 and
// their diagnostics are sorted into kinds of problem.  A walk of the
// unchecked item order finds eye events outside recording blocks, which the
// checks move silently.
#include <map>
#include <memory>
#include <optional>
#include <set>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "Commands.h"
#include "Walk.h"

namespace voktool {

namespace {

enum class Severity { Error, Warning };

struct ProblemKind {
    std::string_view name;
    Severity severity;
    std::string_view summary;
};

// In the order a report lists them.
constexpr ProblemKind kKinds[] = {
    {"unreadable", Severity::Error, "the file cannot be read"},
    {"bad-magic", Severity::Error, "not a .vok recording (unknown first line)"},
    {"truncated-header", Severity::Error, "the file ends inside its header"},
    {"truncated", Severity::Error, "the records are cut off at the end"},
    {"damaged-record", Severity::Error, "a damaged record stops the reading"},
    {"unreadable-item", Severity::Error, "items that cannot be read back"},
    {"unclosed-block", Severity::Warning, "a recording block without its end record"},
    {"event-outside-block", Severity::Warning, "eye events outside every recording block"},
    {"sample-outside-block", Severity::Warning, "samples outside every recording block"},
    {"orphan-blink-start", Severity::Warning, "blink starts without their end"},
    {"orphan-blink-end", Severity::Warning, "blink ends without their start"},
    {"gap", Severity::Warning, "runs of missing samples"},
    {"period-mismatch", Severity::Warning, "sample times that do not match the block's rate"},
    {"zero-time", Severity::Warning, "events with time stamp 0"},
    {"unknown-event", Severity::Warning, "events of unknown type"},
    {"other", Severity::Warning, "other diagnostics of the library"},
};

constexpr std::size_t kListed = 10;  // messages listed per kind with -v

struct Problem {
    std::size_t count = 0;
    std::vector<std::string> messages;  // the first kListed
};

class Findings {
public:
    void add(std::string_view kind, std::string message) {
        Problem& p = problems_[std::string(kind)];
        ++p.count;
        if (p.messages.size() < kListed) p.messages.push_back(std::move(message));
    }
    void addMany(std::string_view kind, std::size_t count, std::string message) {
        Problem& p = problems_[std::string(kind)];
        p.count += count;
        if (p.messages.size() < kListed) p.messages.push_back(std::move(message));
    }
    bool empty() const { return problems_.empty(); }
    bool has(std::string_view kind) const { return problems_.count(std::string(kind)) != 0; }
    const std::map<std::string, Problem>& all() const { return problems_; }

    // Adds the diagnostics of an open that were not seen before (the same
    // check runs at both levels), sorted into kinds.
    void classify(const std::vector<std::string>& lines);

private:
    std::map<std::string, Problem> problems_;
    std::set<std::string> seen_;
};

bool contains(const std::string& text, std::string_view needle) { return text.find(needle) != std::string::npos; }

void Findings::classify(const std::vector<std::string>& lines) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (contains(line, "Missing (")) continue;  // the detail line of a gap, taken with it below
        if (contains(line, "Enabling time offset fixup")) continue;
        // Read failures under tolerant reading: reported as truncated or
        // damaged from the strict open already.
        if (contains(line, "error reading vok file") || contains(line, "simulating end reached") ||
            contains(line, "Error reading items") || line.rfind("Error ", 0) == 0)
            continue;
        // A gap is reported as a count followed by the times around it.
        std::string text = line;
        if (contains(line, "Missing ") && contains(line, "Inserting dummy samples") && i + 1 < lines.size() &&
            contains(lines[i + 1], "Missing (")) {
            unsigned long long from = 0, to = 0;
            int count = 0;
            if (std::sscanf(line.c_str(), "Missing %d", &count) == 1 &&
                std::sscanf(lines[i + 1].c_str(), "Missing (%llu-%llu)", &from, &to) == 2)
                text = fmt::format("{} sample(s) missing after {} ms, before {} ms", count > 0 ? count - 1 : 0, from, to);
        }
        if (!seen_.insert(text).second) continue;
        std::string_view kind = "other";
        if (contains(line, "without start recording"))
            kind = "sample-outside-block";
        else if (contains(line, "No matching EBLINK"))
            kind = "orphan-blink-start";
        else if (contains(line, "EBLINK  with no SBLINK") || contains(line, "EBLINK with no SBLINK"))
            kind = "orphan-blink-end";
        else if (contains(line, "Missing ") || contains(line, "Missing samples are over"))
            kind = "gap";
        else if (contains(line, "Intersample period"))
            kind = "period-mismatch";
        else if (contains(line, "time stamp 0"))
            kind = "zero-time";
        else if (contains(line, "event type") || contains(line, "UNKNOWN EVENT"))
            kind = "unknown-event";
        add(kind, std::move(text));
    }
}

std::string_view itemName(int code) {
    switch (code) {
        case SFIX: return "fixation start";
        case EFIX: return "fixation end";
        case SSACC: return "saccade start";
        case ESACC: return "saccade end";
        case SBLINK: return "blink start";
        case EBLINK: return "blink end";
        default: return "event";
    }
}

// Walks the unchecked item order: eye events while no block is open,
// blocks without an end record, items that cannot be read.  Samples and
// events blocks are followed apart, as their start and end records come
// apart when the library does not merge them.
void walk(VOKFile* file, Findings& findings, bool progressOn, const std::string& path) {
    std::uint32_t openSince[2] = {0, 0};
    bool open[2] = {false, false};  // samples, events
    std::size_t outside = 0;
    std::string firstOutside;
    Progress progress(path, vok_get_element_count(file), progressOn);
    std::uint64_t steps = 0;
    auto unclosed = [&](int kind) {
        findings.add("unclosed-block", fmt::format("the {} block that starts at {} ms has no end record",
                                                   kind == 0 ? "samples" : "events", openSince[kind]));
    };
    for (int code; (code = vok_get_next_data(file)) != 0;) {
        progress.step(++steps);
        if (code == RECORDING_INFO) {
            const FloatData* d = vok_get_float_data(file);
            if (d == nullptr) {
                findings.add("unreadable-item", "a recording block record cannot be read");
                continue;
            }
            for (int kind = 0; kind < 2; ++kind) {
                if ((d->recording.recordType & (1 << kind)) == 0) continue;
                if (d->recording.state != 0) {
                    if (open[kind]) unclosed(kind);
                    open[kind] = true;
                    openSince[kind] = d->recording.time;
                } else {
                    open[kind] = false;
                }
            }
            continue;
        }
        if (code >= SBLINK && code <= EFIX && !open[0] && !open[1]) {
            const FloatData* d = vok_get_float_data(file);
            if (d == nullptr) {
                findings.add("unreadable-item", fmt::format("a {} cannot be read", itemName(code)));
                continue;
            }
            const std::uint32_t t = (code == EFIX || code == ESACC || code == EBLINK) ? d->event.endTime : d->event.startTime;
            if (outside++ == 0) firstOutside = fmt::format("{} at {} ms", itemName(code), t);
        }
    }
    if (open[0] && open[1] && openSince[0] == openSince[1])
        findings.add("unclosed-block", fmt::format("the block that starts at {} ms has no end record", openSince[0]));
    else
        for (int kind = 0; kind < 2; ++kind)
            if (open[kind]) unclosed(kind);
    if (outside != 0)
        findings.addMany("event-outside-block", outside,
                         fmt::format("{} eye event(s) outside every recording block, the first a {}", outside,
                                     firstOutside));
}

// The kind of a failed strict open, from what a tolerant open logged.
void classifyRecordFailure(const std::vector<std::string>& tolerantLog, const std::string& strictReason,
                           unsigned itemsRead, Findings& findings) {
    bool endOfFile = false;
    std::string where;
    for (const std::string& line : tolerantLog) {
        if (contains(line, "End of file")) endOfFile = true;
        if (contains(line, "simulating end reached") || contains(line, "Error reading items")) where = line;
    }
    const std::string detail = fmt::format("{} item(s) before it are readable with --tolerant{}", itemsRead,
                                           where.empty() ? std::string() : " (" + where + ")");
    if (endOfFile)
        findings.add("truncated", fmt::format("the records stop in the middle; {}", detail));
    else
        findings.add("damaged-record", fmt::format("{}; {}", strictReason, detail));
}

void listProblems(fmt::memory_buffer& b, const Findings& f);

void writeReport(Output& out, const std::string& path, const CheckOptions& options, const Findings& f) {
    fmt::memory_buffer b;
    if (options.json) {
        nlohmann::ordered_json j;
        j["path"] = nlohmann::ordered_json::parse(jsonQuoted(path));
        j["sound"] = f.empty();
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const ProblemKind& k : kKinds) {
            auto it = f.all().find(std::string(k.name));
            if (it == f.all().end()) continue;
            nlohmann::ordered_json messages = nlohmann::ordered_json::array();
            for (const std::string& m : it->second.messages) {
                messages.push_back(nlohmann::ordered_json::parse(jsonQuoted(m)));
            }
            list.push_back({{"kind", k.name},
                            {"severity", k.severity == Severity::Error ? "error" : "warning"},
                            {"count", it->second.count},
                            {"messages", messages}});
        }
        j["problems"] = list;
        out.append(j.dump(2));
        return;
    }
    if (options.verbosity == 0) return;
    if (f.empty()) {
        fmt::format_to(fmt::appender(b), "{}: ok\n", path);
        out.append(std::string_view(b.data(), b.size()));
        return;
    }
    std::string kinds;
    for (const ProblemKind& k : kKinds) {
        if (!f.has(k.name)) continue;
        if (!kinds.empty()) kinds += ", ";
        kinds += k.name;
    }
    fmt::format_to(fmt::appender(b), "{}: damaged ({})\n", path, kinds);
    if (options.verbosity >= 2) listProblems(b, f);
    out.append(std::string_view(b.data(), b.size()));
}

void listProblems(fmt::memory_buffer& b, const Findings& f) {
    for (const ProblemKind& k : kKinds) {
        auto it = f.all().find(std::string(k.name));
        if (it == f.all().end()) continue;
        const Problem& p = it->second;
        fmt::format_to(fmt::appender(b), "  {} {}: {} ({})\n", k.severity == Severity::Error ? "error  " : "warning",
                       k.name, k.summary, p.count);
        for (const std::string& m : p.messages) fmt::format_to(fmt::appender(b), "      {}\n", m);
        if (p.count > p.messages.size() && p.messages.size() == kListed)
            fmt::format_to(fmt::appender(b), "      ... and {} more\n", p.count - p.messages.size());
    }
}

}  // namespace

int checkRecording(const std::string& path, const CheckOptions& options, Output& out) {
    Findings findings;
    std::string reason;
    std::vector<std::string> log;
    OpenOptions strict;
    strict.consistency = 0;
    std::unique_ptr<Recording> rec = Recording::open(path, strict, reason, log);
    bool tolerant = false;
    if (!rec) {
        if (log.empty()) {
            findings.add("unreadable", reason);
        } else if (contains(log.back(), "Bad magic")) {
            findings.add("bad-magic", "the first line is not one of the known magic lines");
        } else if (contains(log.back(), "File Could not be opened")) {
            findings.add("unreadable", reason);
        } else {
            bool inHeader = false;
            for (const std::string& line : log) inHeader = inHeader || contains(line, "error reading vok file 6");
            if (inHeader) {
                findings.add("truncated-header", "the file ends before the end of its header (ENDP: line)");
            } else {
                OpenOptions loose = strict;
                loose.tolerant = true;
                std::vector<std::string> looseLog;
                std::string looseReason;
                rec = Recording::open(path, loose, looseReason, looseLog);
                if (rec) {
                    tolerant = true;
                    classifyRecordFailure(looseLog, log.back(), vok_get_element_count(rec->handle()), findings);
                } else {
                    findings.add("damaged-record", log.back());
                }
            }
        }
    } else {
        findings.classify(log);
    }
    if (rec) {
        walk(rec->handle(), findings, options.progress, path);
        findings.classify(Diagnostics::take());
        rec.reset();
        for (int level : {1, 2}) {
            OpenOptions checked;
            checked.consistency = level;
            checked.tolerant = tolerant;
            std::unique_ptr<Recording> r = Recording::open(path, checked, reason, log);
            findings.classify(log);
        }
    }
    writeReport(out, path, options, findings);
    out.flush();
    return findings.empty() ? kExitOk : kExitFailed;
}

}  // namespace voktool

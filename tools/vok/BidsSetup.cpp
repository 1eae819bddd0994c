// What a conversion needs to know before it writes: the BIDS name of every
// recording (map table, file-name pattern or file stem) and the display.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "Bids.h"

namespace voktool {

namespace fs = std::filesystem;

std::string BidsName::prefix() const {
    std::string p = "sub-" + sub;
    if (!ses.empty()) p += "_ses-" + ses;
    p += "_task-" + task;
    if (!run.empty()) p += "_run-" + run;
    return p;
}

std::string BidsName::folder() const {
    std::string f = "sub-" + sub;
    if (!ses.empty()) f += "/ses-" + ses;
    return f + "/beh";
}

bool BidsName::operator<(const BidsName& o) const {
    return std::tie(sub, ses, task, run) < std::tie(o.sub, o.ses, o.task, o.run);
}
bool BidsName::operator==(const BidsName& o) const {
    return std::tie(sub, ses, task, run) == std::tie(o.sub, o.ses, o.task, o.run);
}

std::vector<std::string> splitTsvLine(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

std::string bidsLabel(std::string_view text) {
    std::string out;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80) out += c;
    return out;
}

namespace {

struct Fields {
    std::string sub, ses, task, run;
};

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ')) s.pop_back();
    std::size_t b = 0;
    while (b < s.size() && s[b] == ' ') ++b;
    return s.substr(b);
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> out = splitTsvLine(line);
    for (std::string& cell : out) cell = trimmed(cell);
    return out;
}

std::string canonicalKey(const fs::path& p) {
    std::error_code ec;
    fs::path c = fs::weakly_canonical(fs::absolute(p, ec), ec);
    return (ec ? p : c).lexically_normal().generic_string();
}

// The map table: path -> fields, by canonical path and by bare file name.
class MapTable {
public:
    explicit MapTable(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        if (!in) throw BidsUsageError(fmt::format("--map {}: cannot be read", file));
        const fs::path base = fs::path(file).parent_path();
        std::string line;
        std::vector<std::string> header;
        int lineNo = 0;
        while (std::getline(in, line)) {
            ++lineNo;
            if (trimmed(line).empty()) continue;
            std::vector<std::string> cells = splitTabs(line);
            if (header.empty()) {
                header = cells;
                if (std::find(header.begin(), header.end(), "path") == header.end() ||
                    std::find(header.begin(), header.end(), "sub") == header.end())
                    throw BidsUsageError(fmt::format(
                        "--map {}: the first line must name the columns, tab-separated: path, sub and any of "
                        "ses, task, run",
                        file));
                continue;
            }
            Fields f;
            std::string path;
            for (std::size_t k = 0; k < header.size() && k < cells.size(); ++k) {
                std::string v = cells[k] == "n/a" ? std::string() : cells[k];
                if (header[k] == "path")
                    path = v;
                else if (header[k] == "sub")
                    f.sub = v;
                else if (header[k] == "ses")
                    f.ses = v;
                else if (header[k] == "task")
                    f.task = v;
                else if (header[k] == "run")
                    f.run = v;
            }
            if (path.empty())
                throw BidsUsageError(fmt::format("--map {}: line {} has no path", file, lineNo));
            fs::path p(path);
            if (p.is_relative()) p = base / p;
            byPath_[canonicalKey(p)] = f;
            if (!fs::path(path).has_parent_path()) byName_[path].push_back(f);
        }
    }

    std::optional<Fields> find(const std::string& recording) const {
        if (auto it = byPath_.find(canonicalKey(recording)); it != byPath_.end()) return it->second;
        const std::string name = fs::path(recording).filename().string();
        if (auto it = byName_.find(name); it != byName_.end() && it->second.size() == 1)
            return it->second.front();
        return std::nullopt;
    }

private:
    std::map<std::string, Fields> byPath_;
    std::map<std::string, std::vector<Fields>> byName_;
};

// A file-name pattern: literal text with {sub}, {ses}, {task}, {run} (and
// {any} for text to skip), matched against the file name, or against the
// last folders and the file name when the pattern holds slashes.
class Pattern {
public:
    explicit Pattern(const std::string& pattern) : text_(pattern) {
        std::string re;
        std::size_t i = 0;
        bool hasSub = false;
        while (i < pattern.size()) {
            if (pattern[i] == '{') {
                const std::size_t close = pattern.find('}', i);
                if (close == std::string::npos)
                    throw BidsUsageError(fmt::format("--pattern {}: a '{{' without '}}'", pattern));
                const std::string field = pattern.substr(i + 1, close - i - 1);
                if (field == "run") {
                    re += "([0-9]+)";
                } else if (field == "sub" || field == "ses" || field == "task" || field == "any") {
                    re += "([^/]+?)";
                } else {
                    throw BidsUsageError(fmt::format(
                        "--pattern {}: unknown field {{{}}} (sub, ses, task, run, any)", pattern, field));
                }
                hasSub = hasSub || field == "sub";
                fields_.push_back(field);
                i = close + 1;
                continue;
            }
            const char c = pattern[i++];
            if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) re += '\\';
            re += c;
        }
        if (!hasSub) throw BidsUsageError(fmt::format("--pattern {}: it needs a {{sub}} field", pattern));
        depth_ = static_cast<int>(std::count(pattern.begin(), pattern.end(), '/'));
        re_ = std::regex(re);
    }

    std::optional<Fields> match(const std::string& recording) const {
        const fs::path p = fs::path(recording).lexically_normal();
        std::vector<std::string> parts;
        for (const auto& part : p) parts.push_back(part.string());
        if (parts.size() < static_cast<std::size_t>(depth_) + 1) return std::nullopt;
        std::string subject;
        for (std::size_t k = parts.size() - static_cast<std::size_t>(depth_) - 1; k < parts.size(); ++k)
            subject += (subject.empty() ? "" : "/") + parts[k];
        std::smatch m;
        // The pattern may leave out the extension.
        std::string stemmed = subject;
        if (stemmed.size() > 4) stemmed = fs::path(subject).replace_extension().generic_string();
        if (!std::regex_match(subject, m, re_) && !std::regex_match(stemmed, m, re_)) return std::nullopt;
        Fields f;
        for (std::size_t k = 0; k < fields_.size(); ++k) {
            const std::string v = m[static_cast<int>(k) + 1].str();
            if (fields_[k] == "sub")
                f.sub = v;
            else if (fields_[k] == "ses")
                f.ses = v;
            else if (fields_[k] == "task")
                f.task = v;
            else if (fields_[k] == "run")
                f.run = v;
        }
        return f;
    }

private:
    std::string text_;
    std::vector<std::string> fields_;
    std::regex re_;
    int depth_ = 0;
};

}  // namespace

std::vector<BidsName> nameRecordings(const std::vector<std::string>& paths, const BidsMapping& mapping) {
    std::optional<MapTable> table;
    std::optional<Pattern> pattern;
    if (!mapping.mapFile.empty()) table.emplace(mapping.mapFile);
    if (!mapping.pattern.empty()) pattern.emplace(mapping.pattern);
    std::vector<BidsName> names;
    std::vector<std::string> problems;
    for (const std::string& path : paths) {
        Fields f;
        if (table) {
            std::optional<Fields> found = table->find(path);
            if (!found) {
                problems.push_back(fmt::format("{}: not in the --map table", path));
                names.emplace_back();
                continue;
            }
            f = *found;
        } else if (pattern) {
            std::optional<Fields> found = pattern->match(path);
            if (!found) {
                problems.push_back(
                    fmt::format("{}: the name does not match --pattern {}", path, mapping.pattern));
                names.emplace_back();
                continue;
            }
            f = *found;
        } else {
            f.sub = fs::path(path).stem().string();
        }
        if (f.task.empty()) f.task = mapping.task;
        if (f.ses.empty()) f.ses = mapping.session;
        BidsName n{bidsLabel(f.sub), bidsLabel(f.ses), bidsLabel(f.task), f.run};
        if (n.sub.empty())
            problems.push_back(fmt::format("{}: no letters or digits for the subject label", path));
        if (n.task.empty())
            problems.push_back(
                fmt::format("{}: no task (give --task NAME, or a task in --map / --pattern)", path));
        if (!f.ses.empty() && n.ses.empty())
            problems.push_back(fmt::format("{}: the session '{}' has no letters or digits", path, f.ses));
        if (!n.run.empty() &&
            !std::all_of(n.run.begin(), n.run.end(), [](char c) { return c >= '0' && c <= '9'; }))
            problems.push_back(fmt::format("{}: the run '{}' is not a number", path, n.run));
        names.push_back(std::move(n));
    }
    if (problems.empty()) {
        std::map<BidsName, std::size_t> seen;
        for (std::size_t k = 0; k < paths.size(); ++k) {
            auto [it, fresh] = seen.emplace(names[k], k);
            if (!fresh)
                problems.push_back(fmt::format("{} and {} would both be {}", paths[it->second], paths[k],
                                               names[k].prefix()));
        }
    }
    if (!problems.empty()) {
        std::string text = "cannot name every recording:";
        for (const std::string& p : problems) text += "\n  " + p;
        throw BidsUsageError(text);
    }
    return names;
}

// ---- display ------------------------------------------------------------------

namespace {}  // namespace

double parsePositive(const std::string& option, const std::string& text) {
    double v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    while (b < e && *b == ' ') ++b;
    auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr != e || !std::isfinite(v) || v <= 0)
        throw BidsUsageError(fmt::format("{}: '{}' is not a positive number", option, text));
    return v;
}

namespace {

std::vector<std::string> splitComma(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) parts.push_back(trimmed(part));
    return parts;
}

bool validOrigin(const std::array<std::string, 2>& o) {
    auto vertical = [](const std::string& s) { return s == "top" || s == "bottom" || s == "center"; };
    auto horizontal = [](const std::string& s) { return s == "left" || s == "right" || s == "center"; };
    return vertical(o[0]) && horizontal(o[1]);
}

}  // namespace

std::array<double, 2> parseSize(const std::string& option, const std::string& text) {
    const std::vector<std::string> p = splitComma(text);
    if (p.size() != 2) throw BidsUsageError(fmt::format("{}: give WIDTH,HEIGHT, not '{}'", option, text));
    return {parsePositive(option, p[0]), parsePositive(option, p[1])};
}

std::array<int, 2> parseResolution(const std::string& option, const std::string& text) {
    const std::array<double, 2> v = parseSize(option, text);
    if (v[0] != std::floor(v[0]) || v[1] != std::floor(v[1]) || v[0] > 1e6 || v[1] > 1e6)
        throw BidsUsageError(fmt::format("{}: give whole pixels WIDTH,HEIGHT, not '{}'", option, text));
    return {static_cast<int>(v[0]), static_cast<int>(v[1])};
}

std::array<std::string, 2> parseOrigin(const std::string& option, const std::string& text) {
    const std::vector<std::string> p = splitComma(text);
    std::array<std::string, 2> o;
    if (p.size() == 2) o = {p[0], p[1]};
    if (p.size() != 2 || !validOrigin(o))
        throw BidsUsageError(fmt::format(
            "{}: give VERTICAL,HORIZONTAL (top, bottom or center, then left, right or center), not '{}'",
            option, text));
    return o;
}

BidsDisplay BidsDisplay::fromJsonFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw BidsUsageError(fmt::format("--display {}: cannot be read", path));
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(in);
    } catch (const std::exception& e) {
        throw BidsUsageError(fmt::format("--display {}: not JSON ({})", path, e.what()));
    }
    if (!j.is_object()) throw BidsUsageError(fmt::format("--display {}: not a JSON object", path));
    BidsDisplay d;
    const std::string where = "--display " + path;
    auto pair = [&](const char* key) -> std::array<double, 2> {
        const nlohmann::json& v = j[key];
        if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number() ||
            !(v[0].get<double>() > 0) || !(v[1].get<double>() > 0))
            throw BidsUsageError(fmt::format("{}: {} must be two positive numbers", where, key));
        return {v[0].get<double>(), v[1].get<double>()};
    };
    for (const auto& [key, value] : j.items()) {
        if (key == "ScreenSize") {
            d.screenSize = pair("ScreenSize");
        } else if (key == "ScreenResolution") {
            const std::array<double, 2> r = pair("ScreenResolution");
            if (r[0] != std::floor(r[0]) || r[1] != std::floor(r[1]) || r[0] > 1e6 || r[1] > 1e6)
                throw BidsUsageError(fmt::format("{}: ScreenResolution must be whole pixels", where));
            d.screenResolution = std::array<int, 2>{static_cast<int>(r[0]), static_cast<int>(r[1])};
        } else if (key == "ScreenDistance") {
            if (!value.is_number() || !(value.get<double>() > 0))
                throw BidsUsageError(fmt::format("{}: ScreenDistance must be a positive number", where));
            d.screenDistance = value.get<double>();
        } else if (key == "ScreenOrigin") {
            std::array<std::string, 2> o;
            if (value.is_array() && value.size() == 2 && value[0].is_string() && value[1].is_string())
                o = {value[0].get<std::string>(), value[1].get<std::string>()};
            if (!validOrigin(o))
                throw BidsUsageError(fmt::format(
                    "{}: ScreenOrigin must be [vertical, horizontal], e.g. [\"top\", \"left\"]", where));
            d.screenOrigin = o;
        } else {
            throw BidsUsageError(fmt::format(
                "{}: unknown member {} (ScreenSize, ScreenDistance, ScreenOrigin, ScreenResolution)", where,
                key));
        }
    }
    return d;
}

void BidsDisplay::override(const BidsDisplay& over) {
    if (over.screenSize) screenSize = over.screenSize;
    if (over.screenDistance) screenDistance = over.screenDistance;
    if (over.screenOrigin) screenOrigin = over.screenOrigin;
    if (over.screenResolution) screenResolution = over.screenResolution;
}

std::string missingDisplayMessage(const BidsDisplay& d) {
    std::vector<std::string> missing;
    if (!d.screenSize) missing.push_back("ScreenSize (--screen-size W,H in metres)");
    if (!d.screenDistance)
        missing.push_back("ScreenDistance (--screen-distance M, metres from eye to screen)");
    if (!d.screenOrigin) missing.push_back("ScreenOrigin (--screen-origin top,left: where pixel 0,0 is)");
    if (missing.empty()) return {};
    std::string text = "the display is not fully known; missing:";
    for (const std::string& m : missing) text += "\n  " + m;
    text +=
        "\ngive them as options or in --display FILE.json (e.g. {\"ScreenSize\": [0.53, 0.30], "
        "\"ScreenDistance\": 0.6, \"ScreenOrigin\": [\"top\", \"left\"]}), or write SampleCoordinateSystem "
        "\"custom\" with --custom-coordinates";
    return text;
}

}  // namespace voktool

// The vok command-line tool, run as a subprocess on recordings made by the
// writer: its tables field by field against the values the writer expects,
// the three formats, column choice, missing values, info and check, and
// batches of recordings.
#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "VokWriter.h"
#include "support/TestSupport.h"

namespace {

using vok::test::TempDir;
using vokgen::Eye;
using vokgen::EyeEventSpec;
using vokgen::GenOptions;
using vokgen::GenResult;
using vokgen::SampleSpec;
using vokgen::VokWriter;
using Json = nlohmann::json;
using Table = std::vector<std::vector<std::string>>;

struct ToolRun {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

#if defined(_WIN32)
// One argument as the child's runtime splits its command line back up.
std::string commandLineArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, '\\');
    out.push_back('"');
    return out;
}
#endif

// Starts the built tool with the arguments; standard output and error go
// to the files, standard input is empty.  Returns its process (POSIX) or
// its exit status (Windows, where it is waited for).
long long startTool(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath) {
    std::vector<std::string> all{VOK_TOOL};
    all.insert(all.end(), args.begin(), args.end());
#if defined(_WIN32)
    for (std::string& a : all) a = commandLineArgument(a);
    std::vector<const char*> argv;
    for (const std::string& a : all) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::_dup(1), savedErr = ::_dup(2), savedIn = ::_dup(0);
    const int out = ::_open(outPath.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    const int err = ::_open(errPath.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    const int in = ::_open("NUL", _O_RDONLY);
    ::_dup2(out, 1);
    ::_dup2(err, 2);
    ::_dup2(in, 0);
    const intptr_t status = ::_spawnv(_P_WAIT, VOK_TOOL, argv.data());
    ::_dup2(savedOut, 1);
    ::_dup2(savedErr, 2);
    ::_dup2(savedIn, 0);
    for (int fd : {out, err, in, savedOut, savedErr, savedIn}) ::_close(fd);
    return static_cast<long long>(status);
#else
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::dup2(in, 0);
        ::execv(VOK_TOOL, argv.data());
        ::_exit(127);
    }
    return pid;
#endif
}

#if !defined(_WIN32)
int waitTool(long long pid) {
    int status = 0;
    ::waitpid(static_cast<pid_t>(pid), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

// Runs the built tool with the arguments; standard output and error go to
// files in the folder.
ToolRun vok(const TempDir& dir, const std::vector<std::string>& args) {
    const std::string outPath = (dir.path() / "stdout.txt").string();
    const std::string errPath = (dir.path() / "stderr.txt").string();
    ToolRun r;
#if defined(_WIN32)
    r.status = static_cast<int>(startTool(args, outPath, errPath));
#else
    r.status = waitTool(startTool(args, outPath, errPath));
#endif
    r.out = slurp(outPath);
    r.err = slurp(errPath);
    return r;
}

// RFC 4180 reading with any separator: quoted fields may hold separators,
// doubled quotes and line ends.  Fails the test on a malformed quote.
Table parseDelimited(const std::string& text, char sep) {
    Table rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, wasQuoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field.push_back('"');
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field.push_back(c);
            }
        } else if (c == '"') {
            EXPECT_TRUE(field.empty() && !wasQuoted) << "quote inside a field";
            quoted = wasQuoted = true;
        } else if (c == sep) {
            row.push_back(field);
            field.clear();
            wasQuoted = false;
        } else if (c == '\n') {
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
            wasQuoted = false;
        } else {
            EXPECT_FALSE(wasQuoted) << "text after a closing quote";
            field.push_back(c);
        }
    }
    EXPECT_FALSE(quoted) << "unterminated quote";
    EXPECT_TRUE(field.empty() && row.empty()) << "last line without a line end";
    return rows;
}

// A table as maps from column name to field, checking that every row has
// as many fields as the header.
std::vector<std::map<std::string, std::string>> records(const Table& t) {
    std::vector<std::map<std::string, std::string>> out;
    if (t.empty()) return out;
    for (std::size_t r = 1; r < t.size(); ++r) {
        EXPECT_EQ(t[r].size(), t[0].size()) << "row " << r;
        std::map<std::string, std::string> m;
        for (std::size_t c = 0; c < t[0].size() && c < t[r].size(); ++c) m[t[0][c]] = t[r][c];
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<Json> jsonLines(const std::string& text) {
    std::vector<Json> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(Json::parse(line));
    return out;
}

// The exact float a field stands for.
float asFloat(const std::string& field) {
    char* end = nullptr;
    const float v = std::strtof(field.c_str(), &end);
    EXPECT_EQ(*end, '\0') << "not a number: " << field;
    return v;
}

bool isMarker(float v) { return v == 1e8f || v == -32768.0f; }

// Checks a field against the library's value of a measured float: empty for
// the missing and absent markers, else that exact number.
void expectMeasured(const std::string& field, float expected, bool present, const std::string& what) {
    if (!present || isMarker(expected)) {
        EXPECT_EQ(field, "") << what;
    } else {
        ASSERT_FALSE(field.empty()) << what;
        EXPECT_EQ(asFloat(field), expected) << what << " = " << field;
    }
}

GenOptions smallRecording(std::uint64_t seed) {
    GenOptions o;
    o.seed = seed;
    o.durationMs = 4000;
    o.blocks = 2;
    o.pauseMs = 700;
    o.sampleRate = 500;
    o.trialsPerBlock = 2;
    o.startTime = 50000;
    return o;
}

std::string writeGenerated(const TempDir& dir, const std::string& name, const GenResult& r) {
    const std::string path = (dir.path() / name).string();
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(r.bytes.data()), static_cast<std::streamsize>(r.bytes.size()));
    return path;
}

std::vector<const vokgen::ExpectedItem*> sampleItems(const GenResult& r) {
    std::vector<const vokgen::ExpectedItem*> out;
    for (const auto& item : r.items)
        if (item.kind == vokgen::ItemKind::Sample) out.push_back(&item);
    return out;
}

// ---------------------------------------------------------------------------

class SamplesTable : public ::testing::TestWithParam<std::tuple<int, Eye>> {};

TEST_P(SamplesTable, EveryFieldMatchesTheWriter) {
    const auto [rate, eyes] = GetParam();
    TempDir dir;
    GenOptions o = smallRecording(11);
    o.sampleRate = rate;
    o.eyes = eyes;
    o.sampleGroups |= VOK_SAMPLE_ERRORS;
    const GenResult r = vokgen::generateRecording(o);
    const std::string path = writeGenerated(dir, "rec.vok", r);

    const ToolRun run = vok(dir, {"export", "--columns",
                              "time,left_gaze_x,left_gaze_y,right_gaze_x,right_gaze_y,left_pupil_size,"
                              "right_pupil_size,resolution_x,resolution_y,left_pupil_x,right_pupil_y,"
                              "left_headref_x,right_headref_y,input,buttons,errors,flags",
                              path});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto rows = records(parseDelimited(run.out, ','));
    const auto items = sampleItems(r);
    ASSERT_EQ(rows.size(), items.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        const Sample& s = r.samples[items[i]->index];
        const std::string at = "sample " + std::to_string(i);
        const bool half = (items[i]->timeHalfMs & 1) != 0;
        EXPECT_EQ(row.at("time"), std::to_string(s.time) + (half ? ".5" : "")) << at;
        const bool left = s.flags & VOK_SAMPLE_LEFT, right = s.flags & VOK_SAMPLE_RIGHT;
        expectMeasured(row.at("left_gaze_x"), s.gazeX[0], left, at + " left_gaze_x");
        expectMeasured(row.at("left_gaze_y"), s.gazeY[0], left, at + " left_gaze_y");
        expectMeasured(row.at("right_gaze_x"), s.gazeX[1], right, at + " right_gaze_x");
        expectMeasured(row.at("right_gaze_y"), s.gazeY[1], right, at + " right_gaze_y");
        expectMeasured(row.at("left_pupil_size"), s.pupilSize[0], left, at + " left_pupil_size");
        expectMeasured(row.at("right_pupil_size"), s.pupilSize[1], right, at + " right_pupil_size");
        expectMeasured(row.at("resolution_x"), s.resolutionX, true, at + " resolution_x");
        expectMeasured(row.at("resolution_y"), s.resolutionY, true, at + " resolution_y");
        expectMeasured(row.at("left_pupil_x"), s.pupilX[0], left, at + " left_pupil_x");
        expectMeasured(row.at("right_pupil_y"), s.pupilY[1], right, at + " right_pupil_y");
        expectMeasured(row.at("left_headref_x"), s.headRefX[0], left, at + " left_headref_x");
        expectMeasured(row.at("right_headref_y"), s.headRefY[1], right, at + " right_headref_y");
        EXPECT_EQ(row.at("input"), std::to_string(s.input)) << at;
        EXPECT_EQ(row.at("buttons"), std::to_string(s.buttons)) << at;
        EXPECT_EQ(row.at("errors"), std::to_string(s.errors)) << at;
        EXPECT_EQ(row.at("flags"), std::to_string(s.flags | (half ? VOK_SAMPLE_HALFMS : 0))) << at;
    }
}

INSTANTIATE_TEST_SUITE_P(RatesAndEyes, SamplesTable,
                         ::testing::Values(std::make_tuple(500, Eye::Both), std::make_tuple(1000, Eye::Left),
                                           std::make_tuple(2000, Eye::Right), std::make_tuple(2000, Eye::Both)),
                         [](const auto& param) {
                             const Eye eye = std::get<1>(param.param);
                             return std::to_string(std::get<0>(param.param)) + "Hz_" +
                                    (eye == Eye::Left ? "left" : eye == Eye::Right ? "right" : "both");
                         });

TEST(SamplesTable, HalfMillisecondSamplesShowHalfTimes) {
    TempDir dir;
    GenOptions o = smallRecording(3);
    o.sampleRate = 2000;
    o.durationMs = 200;
    o.blocks = 1;
    const std::string path = writeGenerated(dir, "r.vok", vokgen::generateRecording(o));
    const ToolRun run = vok(dir, {"export", "--columns", "time", path});
    ASSERT_EQ(run.status, 0) << run.err;
    const Table t = parseDelimited(run.out, ',');
    ASSERT_GE(t.size(), 5u);
    EXPECT_EQ(t[1][0], "50000");
    EXPECT_EQ(t[2][0], "50000.5");
    EXPECT_EQ(t[3][0], "50001");
    EXPECT_EQ(t[4][0], "50001.5");
}

// A recording whose values exercise every missing rule.
VokWriter markerRecording() {
    VokWriter w;
    w.magic().standardPreamble(2, 4).preambleLine("NOTE: markers").endPreamble();
    vokgen::BlockStartSpec b;
    b.time = 1000;
    b.eye = Eye::Left;
    b.flags = VOK_SAMPLE_GAZE | VOK_SAMPLE_PUPILSIZE | VOK_SAMPLE_HEADREF;
    w.startSamples(b).startEvents(b);
    for (std::uint32_t t = 1000; t < 1006; ++t) {
        SampleSpec s;
        s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE | VOK_SAMPLE_PUPILSIZE | VOK_SAMPLE_HEADREF;
        s.time = t;
        s.timeForm = vokgen::TimeForm::Full;
        s.gazeX[0] = w.storedGaze(100.5 + t - 1000);
        s.gazeY[0] = t == 1002 ? -32768 : w.storedGaze(50.0);  // missing in the file
        s.headRefX[0] = -32768;                                  // a plain field holding the marker
        s.headRefY[0] = 7;
        s.pupilSize[0] = 900;
        w.sample(s);
    }
    w.endSamples(1006).endEvents(1006).endOfRecords();
    return w;
}

TEST(MissingValues, MarkersNeverReachTheOutputInAnyFormat) {
    TempDir dir;
    const std::string path = dir.write("m.vok", markerRecording());
    for (const std::string format : {"csv", "tsv", "jsonl"}) {
        for (const std::string table : {"samples", "events", "recordings"}) {
            const ToolRun run = vok(dir, {"export", "--velocities", "-f", format, "-t", table, path});
            ASSERT_EQ(run.status, 0) << format << " " << table << ": " << run.err;
            for (const char* marker : {"100000000", "1e+08", "1e8", "-32768", "32768"})
                EXPECT_EQ(run.out.find(marker), std::string::npos) << format << " " << table << ": " << marker;
        }
    }
    const ToolRun run = vok(dir, {"export", "--columns", "time,left_gaze_x,left_gaze_y,right_gaze_x,left_headref_x,"
                                                     "left_headref_y,resolution_x,input,buttons,left_pupil_size",
                              path});
    ASSERT_EQ(run.status, 0) << run.err;
    const Table t = parseDelimited(run.out, ',');
    ASSERT_EQ(t.size(), 7u);
    // Resolution, input and buttons were not recorded; the right eye is absent.
    EXPECT_EQ(t[1], (std::vector<std::string>{"1000", "100.5", "50", "", "", "7", "", "", "", "900"}));
    EXPECT_EQ(t[3], (std::vector<std::string>{"1002", "102.5", "", "", "", "7", "", "", "", "900"}));

    const ToolRun na = vok(dir, {"export", "--missing", "NA", "--columns", "time,right_gaze_x,left_gaze_y", path});
    EXPECT_NE(na.out.find("1002,NA,NA\n"), std::string::npos) << na.out;
    const ToolRun json = vok(dir, {"export", "-f", "jsonl", "--columns", "time,left_gaze_y", path});
    const auto lines = jsonLines(json.out);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_TRUE(lines[2]["left_gaze_y"].is_null());
    EXPECT_EQ(lines[1]["left_gaze_y"].get<double>(), 50.0);
}

// ---------------------------------------------------------------------------

TEST(EventsTable, StartAndEndJoinedPerEyeAndType) {
    TempDir dir;
    VokWriter w;
    w.magic().standardPreamble(2, 4).endPreamble();
    vokgen::BlockStartSpec b;
    b.time = 2000;
    w.startSamples(b).startEvents(b);
    EyeEventSpec fix;
    fix.startTime = 2000;
    fix.endTime = 2100;
    fix.eye = Eye::Right;
    fix.startGaze = vokgen::Point{300, 400};
    fix.startPupil = 800;
    w.fixationStart(fix);
    EyeEventSpec sac;  // an end without its start
    sac.startTime = 2010;
    sac.endTime = 2040;
    sac.eye = Eye::Left;
    sac.startGaze = vokgen::Point{10, 20};
    sac.endGaze = vokgen::Point{210, 20};
    sac.startResolution = sac.endResolution = vokgen::Point{40, 40};
    sac.avgVelocity = 150;
    sac.peakVelocity = 380.5;
    w.saccadeEnd(sac);
    EyeEventSpec fixEnd = fix;
    fixEnd.endGaze = vokgen::Point{301, 401};
    fixEnd.avgGaze = vokgen::Point{300.5, 400.5};
    fixEnd.endPupil = 820;
    fixEnd.avgPupil = 810;
    fixEnd.avgVelocity = 3.5;
    fixEnd.peakVelocity = 20;
    w.fixationEnd(fixEnd);
    EyeEventSpec blink;  // a start without its end
    blink.startTime = 2150;
    blink.eye = Eye::Left;
    w.blinkStart(blink);
    w.endSamples(2200).endEvents(2200).endOfRecords();
    const std::string path = dir.write("e.vok", w);

    const ToolRun run = vok(dir, {"export", "-t", "events", "--velocities", "--columns",
                              "type,eye,start_time,end_time,duration,start_gaze_x,start_gaze_y,end_gaze_x,avg_gaze_y,"
                              "start_pupil_size,end_pupil_size,avg_pupil_size,avg_velocity,peak_velocity,"
                              "start_velocity,end_resolution_x,pair,amplitude",
                              path});
    ASSERT_EQ(run.status, 0) << run.err;
    const Table t = parseDelimited(run.out, ',');
    ASSERT_EQ(t.size(), 4u) << run.out;
    EXPECT_EQ(t[1], (std::vector<std::string>{"saccade", "left", "2010", "2040", "30", "10", "20", "210", "", "", "",
                                              "", "150", "380.5", "", "40", "end-only", "5"}));
    EXPECT_EQ(t[2], (std::vector<std::string>{"fixation", "right", "2000", "2100", "100", "300", "400", "301",
                                              "400.5", "800", "820", "810", "3.5", "20", "", "", "complete", ""}));
    EXPECT_EQ(t[3], (std::vector<std::string>{"blink", "left", "2150", "", "", "", "", "", "", "", "", "", "", "",
                                              "", "", "start-only", ""}));
}

TEST(EventsTable, GeneratedEventsMatchTheirEndRecords) {
    TempDir dir;
    const GenResult r = vokgen::generateRecording(smallRecording(21));
    const std::string path = writeGenerated(dir, "g.vok", r);
    const ToolRun run = vok(dir, {"export", "-t", "events", "-f", "jsonl", "--columns",
                              "type,eye,start_time,end_time,start_gaze_x,end_gaze_y,avg_gaze_x,avg_pupil_size,"
                              "avg_velocity,peak_velocity,end_resolution_y,pair",
                              path});
    ASSERT_EQ(run.status, 0) << run.err;
    std::map<std::tuple<std::string, std::string, std::uint32_t, std::uint32_t>, Json> rows;
    for (const Json& j : jsonLines(run.out)) {
        EXPECT_EQ(j["pair"], "complete");
        rows[{j["type"].get<std::string>(), j["eye"].get<std::string>(), j["start_time"].get<std::uint32_t>(),
              j["end_time"].get<std::uint32_t>()}] = j;
    }
    std::size_t ends = 0;
    for (const Event& e : r.events) {
        if (e.type != EFIX && e.type != ESACC && e.type != EBLINK) continue;
        ++ends;
        const std::string type = e.type == EFIX ? "fixation" : e.type == ESACC ? "saccade" : "blink";
        const auto it = rows.find({type, e.eye == 1 ? "right" : "left", e.startTime, e.endTime});
        ASSERT_NE(it, rows.end()) << type << " " << e.startTime;
        const Json& j = it->second;
        auto check = [&](const char* name, float v, bool carried) {
            if (!carried || v == 0.0f) {
                EXPECT_TRUE(j[name].is_null()) << name << " of " << type << " " << e.startTime;
            } else {
                ASSERT_TRUE(j[name].is_number()) << name;
                EXPECT_EQ(j[name].get<float>(), v) << name;
            }
        };
        const bool gaze = e.read & VOK_READ_GAZE_POS;
        check("start_gaze_x", e.startGazeX, gaze && (e.read & VOK_READ_START_POS));
        check("end_gaze_y", e.endGazeY, gaze && (e.read & VOK_READ_END_POS));
        check("avg_gaze_x", e.avgGazeX, gaze && (e.read & VOK_READ_AVG_POS));
        check("avg_pupil_size", e.avgPupilSize, e.read & VOK_READ_PUPILSIZE);
        check("avg_velocity", e.avgVelocity, e.read & VOK_READ_VELOCITY);
        check("peak_velocity", e.peakVelocity, e.read & VOK_READ_VELOCITY);
        check("end_resolution_y", e.endResolutionY, e.read & VOK_READ_RESOLUTION);
    }
    EXPECT_GT(ends, 20u);
    EXPECT_EQ(rows.size(), ends);
}

// ---------------------------------------------------------------------------

TEST(MessagesTable, TextsSurviveEveryFormat) {
    TempDir dir;
    VokWriter w;
    w.magic().standardPreamble(2, 4).endPreamble();
    vokgen::BlockStartSpec b;
    b.time = 500;
    w.startSamples(b).startEvents(b);
    const std::vector<std::string> texts = {"plain",          "comma, inside", "say \"hi\"", "two\nlines",
                                            "tab\there",      " padded ",      "",          "caf\xC3\xA9",
                                            "bad \xFF byte"};
    for (std::size_t i = 0; i < texts.size(); ++i) w.message(static_cast<std::uint32_t>(501 + i), texts[i]);
    w.endSamples(600).endEvents(600).endOfRecords();
    const std::string path = dir.write("msg.vok", w);

    for (const auto& [format, sep] : {std::pair<std::string, char>{"csv", ','}, {"tsv", '\t'}}) {
        const ToolRun run = vok(dir, {"export", "-t", "messages", "-f", format, path});
        ASSERT_EQ(run.status, 0) << run.err;
        const Table t = parseDelimited(run.out, sep);
        ASSERT_EQ(t.size(), texts.size() + 1) << format;
        EXPECT_EQ(t[0], (std::vector<std::string>{"time", "text"}));
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(t[i + 1][0], std::to_string(501 + i));
            EXPECT_EQ(t[i + 1][1], texts[i]) << format;
        }
    }
    const ToolRun run = vok(dir, {"export", "-t", "messages", "-f", "jsonl", path});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), texts.size());
    for (std::size_t i = 0; i + 1 < texts.size(); ++i) EXPECT_EQ(lines[i]["text"], texts[i]);
    EXPECT_EQ(lines.back()["text"], "bad \xEF\xBF\xBD byte");  // invalid UTF-8 replaced
}

TEST(RecordingsTable, BlocksWithTheirCounts) {
    TempDir dir;
    GenOptions o = smallRecording(5);
    o.blocks = 3;
    const GenResult r = vokgen::generateRecording(o);
    const std::string path = writeGenerated(dir, "b.vok", r);
    const ToolRun run = vok(dir, {"export", "-t", "recordings", path});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto rows = records(parseDelimited(run.out, ','));
    ASSERT_EQ(rows.size(), 3u);
    std::uint64_t messages = 0;
    for (const std::string& m : r.messages) messages += m.empty() ? 0 : 1;
    std::uint64_t counted = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const vokgen::BlockSummary& s = r.blocks[i];
        EXPECT_EQ(rows[i].at("block"), std::to_string(i + 1));
        EXPECT_EQ(rows[i].at("start_time"), std::to_string(s.startTime));
        EXPECT_EQ(rows[i].at("end_time"), std::to_string(s.endTime));
        EXPECT_EQ(rows[i].at("duration"), std::to_string(s.endTime - s.startTime));
        EXPECT_EQ(rows[i].at("sample_rate"), "500");
        EXPECT_EQ(rows[i].at("eyes"), "both");
        EXPECT_EQ(rows[i].at("records"), "both");
        EXPECT_EQ(rows[i].at("samples"), std::to_string(s.samples));
        counted += std::stoull(rows[i].at("messages"));
    }
    EXPECT_EQ(counted, messages);
}

// ---------------------------------------------------------------------------

TEST(Columns, ListingSelectionAndUnknownNames) {
    TempDir dir;
    const ToolRun list = vok(dir, {"export", "-l", "-t", "samples"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("left_gaze_x"), std::string::npos);
    EXPECT_NE(list.out.find("left_gaze_vel_x"), std::string::npos);
    EXPECT_NE(list.out.find("[--velocities]"), std::string::npos);
    EXPECT_EQ(list.out.find("start_time"), std::string::npos);  // an events column

    const std::string path = dir.write("m.vok", markerRecording());
    const ToolRun picked = vok(dir, {"export", "--columns", "left_pupil_size,time", path});
    ASSERT_EQ(picked.status, 0);
    EXPECT_EQ(picked.out.substr(0, picked.out.find('\n')), "left_pupil_size,time");
    EXPECT_NE(picked.out.find("\n900,1000\n"), std::string::npos);

    const ToolRun plain = vok(dir, {"export", path});
    EXPECT_EQ(plain.out.find("vel"), std::string::npos);
    const ToolRun fast = vok(dir, {"export", "--velocities", path});
    EXPECT_NE(fast.out.find("left_gaze_vel_x"), std::string::npos);
    // A velocity column named without --velocities still gets computed values.
    const std::string generated = writeGenerated(dir, "g.vok", vokgen::generateRecording(smallRecording(8)));
    const ToolRun named = vok(dir, {"export", "--columns", "time,left_gaze_vel_x", generated});
    const Table velocities = parseDelimited(named.out, ',');
    std::size_t computed = 0;
    for (std::size_t i = 1; i < velocities.size(); ++i) computed += velocities[i].size() == 2 && !velocities[i][1].empty();
    EXPECT_GT(computed, velocities.size() / 2) << named.out.substr(0, 200);

    const ToolRun bad = vok(dir, {"export", "--columns", "time,nonsense", path});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("nonsense"), std::string::npos);
    const ToolRun twoTables = vok(dir, {"export", "-t", "samples,events", path});
    EXPECT_EQ(twoTables.status, 2);
}

TEST(OutputFolder, OneFilePerTableSameAsStandardOutput) {
    TempDir dir;
    const std::string path = writeGenerated(dir, "g.vok", vokgen::generateRecording(smallRecording(8)));
    const std::string out = (dir.path() / "tables").string();
    const ToolRun run = vok(dir, {"export", "-f", "tsv", "-o", out, path});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string table : {"samples", "events", "messages", "buttons", "inputs", "recordings"}) {
        const std::string file = out + "/" + table + ".tsv";
        ASSERT_TRUE(std::filesystem::exists(file)) << file;
        const ToolRun single = vok(dir, {"export", "-f", "tsv", "-t", table, path});
        EXPECT_EQ(slurp(file), single.out) << table;
    }
    EXPECT_FALSE(std::filesystem::exists(out + "/trials.tsv"));
}

// ---------------------------------------------------------------------------

TEST(Info, TextAndJsonDescribeTheRecording) {
    TempDir dir;
    const GenResult r = vokgen::generateRecording(smallRecording(4));
    const std::string path = writeGenerated(dir, "i.vok", r);
    const ToolRun text = vok(dir, {"info", path});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("RECORDED BY vokgen"), std::string::npos);
    EXPECT_NE(text.out.find("block 2"), std::string::npos);
    EXPECT_NE(text.out.find(std::to_string(r.sampleCount) + " samples"), std::string::npos);

    const ToolRun json = vok(dir, {"info", "--json", path});
    ASSERT_EQ(json.status, 0) << json.err;
    const Json j = Json::parse(json.out);
    EXPECT_EQ(j["revision"], 4);
    EXPECT_EQ(j["tracker_revision"], 2);
    ASSERT_EQ(j["blocks"].size(), 2u);
    EXPECT_EQ(j["blocks"][0]["start_time"], r.blocks[0].startTime);
    EXPECT_EQ(j["blocks"][1]["end_time"], r.blocks[1].endTime);
    EXPECT_EQ(j["blocks"][1]["counts"]["samples"], r.blocks[1].samples);
    EXPECT_EQ(j["totals"]["samples"], r.sampleCount);
    EXPECT_EQ(j["totals"]["messages"], r.messages.size());
    EXPECT_TRUE(j["diagnostics"].empty());
    const auto& pre = j["preamble"];
    EXPECT_NE(std::find(pre.begin(), pre.end(), Json("RECORDED BY vokgen")), pre.end());
}

TEST(Info, DiagnosticsOfTheOpenAreShown) {
    TempDir dir;
    GenOptions o = smallRecording(9);
    const GenResult r = vokgen::generateRecording(o);
    VokWriter w;  // cut inside the last block: only a tolerant open reads it
    std::string bytes(r.bytes.begin(), r.bytes.end() - 300);
    const std::string path = dir.write("cut.vok", bytes);
    const ToolRun strict = vok(dir, {"info", path});
    EXPECT_EQ(strict.status, 1);
    EXPECT_EQ(std::count(strict.err.begin(), strict.err.end(), '\n'), 1) << strict.err;
    EXPECT_NE(strict.err.find(path), std::string::npos);
    EXPECT_NE(strict.err.find("--tolerant"), std::string::npos);
    const ToolRun loose = vok(dir, {"info", "--json", "--tolerant", path});
    ASSERT_EQ(loose.status, 0) << loose.err;
    const Json j = Json::parse(loose.out);
    EXPECT_FALSE(j["diagnostics"].empty());
    EXPECT_TRUE(j["blocks"][1]["end_time"].is_null());
}

// ---------------------------------------------------------------------------

struct CheckCase {
    std::string name;
    std::string kind;  // expected problem kind; empty for a sound recording
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class Check : public ::testing::TestWithParam<CheckCase> {};

std::string checkSubject(const TempDir& dir, const std::string& name) {
    GenOptions o = smallRecording(13);
    if (name == "gaps") o.gaps = true, o.durationMs = 20000;
    const GenResult r = vokgen::generateRecording(o);
    std::string bytes(r.bytes.begin(), r.bytes.end());
    if (name == "truncated") bytes.resize(bytes.size() / 2);
    if (name == "bad-magic") bytes.replace(0, 4, "ZX_M");
    if (name == "header") bytes.resize(40);
    if (name == "missing") return (dir.path() / "nowhere.vok").string();
    if (name == "orphan-blink" || name == "damaged") {
        VokWriter w;
        w.magic().standardPreamble(2, 4).endPreamble();
        vokgen::BlockStartSpec b;
        b.time = 100;
        w.startSamples(b).startEvents(b);
        EyeEventSpec blink;
        for (std::uint32_t t : {110u, 160u}) {  // two blink ends, no start
            blink.startTime = t;
            blink.endTime = t + 30;
            w.blinkEnd(blink);
            if (name == "damaged") w.event({MESSAGEEVENT, 0, 0, {vokgen::EventField::u32(33, t + 31),
                                                                 vokgen::EventField::textWithLength(900, "x")}});
        }
        w.endSamples(200).endEvents(200).endOfRecords();
        return dir.write("o.vok", w);
    }
    return dir.write(name + ".vok", bytes);
}

TEST_P(Check, ExitStatusAndProblemKinds) {
    const CheckCase& c = GetParam();
    TempDir dir;
    const std::string path = checkSubject(dir, c.name);
    const ToolRun plain = vok(dir, {"check", path});
    const ToolRun verbose = vok(dir, {"check", "-v", path});
    const ToolRun quiet = vok(dir, {"check", "-q", path});
    EXPECT_EQ(quiet.out, "");
    if (c.kind.empty()) {
        EXPECT_EQ(plain.status, 0) << verbose.out;
        EXPECT_EQ(plain.out, path + ": ok\n");
        EXPECT_EQ(quiet.status, 0);
        return;
    }
    EXPECT_EQ(plain.status, 1) << plain.out;
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(plain.out.rfind(path + ": damaged (", 0), 0u) << plain.out;
    EXPECT_NE(plain.out.find(c.kind), std::string::npos) << plain.out;
    EXPECT_NE(verbose.out.find(c.kind + ":"), std::string::npos) << verbose.out;
    EXPECT_GT(std::count(verbose.out.begin(), verbose.out.end(), '\n'), 2) << verbose.out;
    const ToolRun json = vok(dir, {"check", "--json", path});
    const Json j = Json::parse(json.out);
    EXPECT_FALSE(j["sound"].get<bool>());
    bool found = false;
    for (const Json& p : j["problems"]) found = found || p["kind"] == c.kind;
    EXPECT_TRUE(found) << json.out;
}

INSTANTIATE_TEST_SUITE_P(Recordings, Check,
                         ::testing::Values(CheckCase{"sound", ""}, CheckCase{"truncated", "truncated"},
                                           CheckCase{"bad-magic", "bad-magic"},
                                           CheckCase{"header", "truncated-header"},
                                           CheckCase{"damaged", "damaged-record"}, CheckCase{"gaps", "gap"},
                                           CheckCase{"orphan-blink", "orphan-blink-end"},
                                           CheckCase{"missing", "unreadable"}),
                         [](const auto& param) {
                             std::string n = param.param.name;
                             std::replace(n.begin(), n.end(), '-', '_');
                             return n;
                         });

TEST(CheckKinds, ItemsOutsideBlocksAndABlockWithoutItsEnd) {
    TempDir dir;
    VokWriter w;
    w.magic().standardPreamble(2, 4).endPreamble();
    vokgen::BlockStartSpec b;
    auto samples = [&](std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t t = from; t < to; ++t) {
            SampleSpec s;
            s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_RIGHT | VOK_SAMPLE_GAZE;
            s.time = t;
            s.timeForm = vokgen::TimeForm::Full;
            w.sample(s);
        }
    };
    b.time = 10100;
    w.startSamples(b).startEvents(b);
    samples(10100, 10110);
    w.endSamples(10110).endEvents(10110);
    EyeEventSpec fix;  // between the blocks
    fix.startTime = 10150;
    fix.endTime = 10170;
    w.fixationStart(fix).fixationEnd(fix);
    samples(10180, 10181);  // a sample between the blocks
    b.time = 10300;
    w.startSamples(b).startEvents(b);
    samples(10300, 10320);
    w.endOfRecords();  // the second block never ends
    const std::string path = dir.write("outside.vok", w);
    const ToolRun run = vok(dir, {"check", "--json", path});
    EXPECT_EQ(run.status, 1);
    const Json j = Json::parse(run.out);
    std::map<std::string, std::size_t> kinds;
    for (const Json& p : j["problems"]) kinds[p["kind"]] = p["count"];
    EXPECT_EQ(kinds["event-outside-block"], 2u) << run.out;
    EXPECT_EQ(kinds["sample-outside-block"], 1u) << run.out;
    EXPECT_EQ(kinds["unclosed-block"], 1u) << run.out;
    EXPECT_EQ(kinds.size(), 3u) << run.out;
}

// ---------------------------------------------------------------------------

TEST(Batch, OneBadFileDoesNotStopTheOthers) {
    TempDir dir;
    const std::string a = writeGenerated(dir, "a.vok", vokgen::generateRecording(smallRecording(1)));
    const std::string bad = dir.write("b.vok", std::string("NOT A RECORDING\n"));
    const std::string c = writeGenerated(dir, "c.vok", vokgen::generateRecording(smallRecording(2)));
    for (const std::string jobs : {"1", "2"}) {
        const ToolRun run = vok(dir, {"info", "-j", jobs, a, bad, c});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find(a + "\n"), std::string::npos);
        EXPECT_NE(run.out.find(c + "\n"), std::string::npos);
        EXPECT_EQ(run.err, "vok: " + bad + ": not a .vok recording (unknown first line)\n");
        const ToolRun json = vok(dir, {"info", "--json", "-j", jobs, a, bad, c});
        const Json j = Json::parse(json.out);
        ASSERT_EQ(j.size(), 3u);
        EXPECT_TRUE(j[1].contains("error"));
        EXPECT_EQ(j[2]["path"], c);
    }
}

TEST(Batch, ParallelWorkersGiveTheSameOutputAsOne) {
    TempDir dir;
    const std::string folder = (dir.path() / "data").string();
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 4; ++i) {
        GenOptions o = smallRecording(100 + static_cast<std::uint64_t>(i));
        o.gaps = i == 2;
        const GenResult r = vokgen::generateRecording(o);
        std::string bytes(r.bytes.begin(), r.bytes.end());
        if (i == 3) bytes.resize(bytes.size() - 500);
        std::ofstream(folder + "/rec" + std::to_string(i) + ".vok", std::ios::binary) << bytes;
    }
    std::ofstream(folder + "/notes.txt") << "not a recording";
    const std::vector<std::vector<std::string>> commands = {
        {"export", "-t", "events"}, {"export", "-f", "jsonl", "-t", "messages"}, {"check", "-v"}, {"info", "--json"}};
    for (const auto& command : commands) {
        std::vector<std::string> one = command, two = command;
        one.insert(one.end(), {"-j", "1", folder});
        two.insert(two.end(), {"-j", "2", folder});
        const ToolRun a = vok(dir, one), b = vok(dir, two);
        EXPECT_EQ(a.status, b.status) << command[0];
        EXPECT_EQ(a.out, b.out) << command[0];
        EXPECT_EQ(a.err, b.err) << command[0];
        EXPECT_FALSE(a.out.empty());
    }
    // Several recordings on standard output: one header, a recording column.
    const ToolRun csv = vok(dir, {"export", "-t", "recordings", "-j", "2", folder});
    const Table t = parseDelimited(csv.out, ',');
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t[0][0], "recording");
    EXPECT_EQ(std::count_if(t.begin(), t.end(), [](const auto& row) { return row[0] == "recording"; }), 1);
    EXPECT_EQ(csv.status, 1);  // the cut-off recording
    // Folders with -o: one folder per recording.
    const std::string out = (dir.path() / "out").string();
    const ToolRun many = vok(dir, {"export", "-j", "2", "-o", out, folder});
    EXPECT_TRUE(std::filesystem::exists(out + "/rec0/samples.csv"));
    EXPECT_TRUE(std::filesystem::exists(out + "/rec2/events.csv"));
}

// Files of a folder tree, relative path to contents.
std::map<std::string, std::string> folderContents(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) files[std::filesystem::relative(e.path(), root).generic_string()] = slurp(e.path().string());
    }
    return files;
}

TEST(Batch, OutputFilesAppearWholeAndTheSameForAnyNumberOfWorkers) {
    TempDir dir;
    const std::string folder = (dir.path() / "data").string();
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 5; ++i) {
        const GenResult r = vokgen::generateRecording(smallRecording(40 + static_cast<std::uint64_t>(i)));
        writeGenerated(dir, "data/r" + std::to_string(i) + ".vok", r);
    }
    const std::string one = (dir.path() / "one").string(), three = (dir.path() / "three").string();
    ASSERT_EQ(vok(dir, {"export", "-j", "1", "--velocities", "-o", one, folder}).status, 0);
    // An older, longer file of the same name is replaced whole.
    std::filesystem::create_directories(three + "/r0");
    std::ofstream(three + "/r0/samples.csv") << std::string(1 << 20, 'x');
    const ToolRun run = vok(dir, {"export", "-j", "3", "--velocities", "-o", three, folder});
    EXPECT_EQ(run.status, 0) << run.err;
    const auto a = folderContents(one), b = folderContents(three);
    EXPECT_EQ(a.size(), 5u * 6u) << "six tables per recording";
    EXPECT_TRUE(a == b) << "the files written with three workers, temporaries included, differ";
}

#if !defined(_WIN32)
TEST(Batch, InterruptLeavesNoHalfWrittenFile) {
    TempDir dir;
    const std::string folder = (dir.path() / "data").string();
    std::filesystem::create_directories(folder);
    GenOptions o = smallRecording(9);
    o.durationMs = 120000;
    o.sampleRate = 1000;
    const GenResult r = vokgen::generateRecording(o);
    for (int i = 0; i < 6; ++i) writeGenerated(dir, "data/r" + std::to_string(i) + ".vok", r);
    const std::string reference = (dir.path() / "reference").string();
    ASSERT_EQ(vok(dir, {"export", "-o", reference, "--velocities", folder + "/r0.vok"}).status, 0);
    const std::string whole = slurp(reference + "/samples.csv");
    const std::string out = (dir.path() / "out").string();
    const std::string outPath = (dir.path() / "stdout.txt").string(), errPath = (dir.path() / "stderr.txt").string();
    const long long pid = startTool({"export", "-j", "2", "--velocities", "-o", out, folder}, outPath, errPath);
    // Once the first files have appeared, or after a while at the latest.
    for (int i = 0; i < 300 && !std::filesystem::exists(out + "/r0"); ++i) ::usleep(10000);
    ::usleep(100000);
    ::kill(static_cast<pid_t>(pid), SIGINT);
    const int status = waitTool(pid);
    ASSERT_TRUE(status == 130 || status == 0) << slurp(errPath);
    if (status == 130) {
        EXPECT_EQ(slurp(errPath).find("vok: interrupted\n") != std::string::npos, true) << slurp(errPath);
    }
    int complete = 0;
    if (std::filesystem::exists(out)) {
        for (const auto& [name, text] : folderContents(out)) {
            EXPECT_EQ(name.find(".part"), std::string::npos) << name << " left behind";
            if (name.ends_with("/samples.csv")) {
                EXPECT_EQ(text.size(), whole.size()) << name << " is not complete";
                ++complete;
            }
        }
    }
    if (status == 0) {
        EXPECT_EQ(complete, 6);
    }
}
#endif

// ---------------------------------------------------------------------------

struct LibraryTrial {
    std::uint32_t start = 0, end = 0, duration = 0;
};

// The trials as the library builds them, read in this process.
std::vector<LibraryTrial> libraryTrials(const std::string& path, const char* start, const char* end) {
    int err = 0;
    VOKFile* f = vok_open_file(path.c_str(), 1, 1, 1, &err);
    EXPECT_NE(f, nullptr);
    std::vector<LibraryTrial> out;
    if (f == nullptr) return out;
    if (start != nullptr || end != nullptr) vok_set_trial_identifier(f, start, end);
    const int n = vok_get_trial_count(f);
    for (int k = 0; k < n; ++k) {
        Trial t{};
        EXPECT_EQ(vok_jump_to_trial(f, k), 0);
        EXPECT_EQ(vok_get_trial_header(f, &t), 0);
        out.push_back({t.startTime, t.endTime, t.duration});
    }
    vok_close_file(f);
    return out;
}

TEST(Trials, TableAndTrialColumnsFollowTheLibrary) {
    TempDir dir;
    GenOptions o = smallRecording(31);
    o.sampleRate = 250;
    const GenResult r = vokgen::generateRecording(o);
    const std::string path = writeGenerated(dir, "t.vok", r);
    for (const bool byMessages : {false, true}) {
        const std::vector<LibraryTrial> expected =
            byMessages ? libraryTrials(path, "TRIAL_START", "TRIAL_END") : libraryTrials(path, nullptr, nullptr);
        ASSERT_GE(expected.size(), 2u);
        std::vector<std::string> ids;
        if (byMessages) ids = {"--trial-start", "TRIAL_START", "--trial-end", "TRIAL_END"};
        auto args = [&](std::vector<std::string> a) {
            a.insert(a.end(), ids.begin(), ids.end());
            a.push_back(path);
            return a;
        };
        const ToolRun table = vok(dir, args({"export", "-t", "trials"}));
        ASSERT_EQ(table.status, 0) << table.err;
        const auto rows = records(parseDelimited(table.out, ','));
        ASSERT_EQ(rows.size(), expected.size());
        for (std::size_t k = 0; k < rows.size(); ++k) {
            EXPECT_EQ(rows[k].at("trial"), std::to_string(k + 1));
            EXPECT_EQ(rows[k].at("start_time"), std::to_string(expected[k].start));
            EXPECT_EQ(rows[k].at("end_time"), std::to_string(expected[k].end));
            EXPECT_EQ(rows[k].at("duration"), std::to_string(expected[k].duration));
            if (!byMessages) {
                EXPECT_EQ(rows[k].at("block"), std::to_string(k + 1));
            }
        }
        // Every row of every table lies within the trial it names, and a row
        // named in no trial lies strictly inside none.
        for (const std::string t : {"samples", "messages", "events"}) {
            const std::string timeColumn = t == "events" ? "start_time" : "time";
            const ToolRun run = vok(dir, args({"export", "--trials", "-t", t}));
            ASSERT_EQ(run.status, 0) << run.err;
            std::size_t inTrials = 0;
            for (const auto& row : records(parseDelimited(run.out, ','))) {
                const double time = std::stod(row.at(timeColumn));
                if (row.at("trial").empty()) {
                    for (const LibraryTrial& e : expected)
                        EXPECT_FALSE(time > e.start && time < e.end) << t << " at " << time;
                    continue;
                }
                ++inTrials;
                const LibraryTrial& e = expected.at(std::stoul(row.at("trial")) - 1);
                EXPECT_GE(time, e.start) << t;
                EXPECT_LE(time, e.end) << t;
            }
            EXPECT_GT(inTrials, 0u) << t;
        }
    }
    const ToolRun info = vok(dir, {"info", "--json", "--trial-start", "TRIAL_START", "--trial-end", "TRIAL_END", path});
    const Json j = Json::parse(info.out);
    const auto expected = libraryTrials(path, "TRIAL_START", "TRIAL_END");
    ASSERT_EQ(j["trials"]["list"].size(), expected.size());
    EXPECT_EQ(j["trials"]["by"], "messages");
    EXPECT_EQ(j["trials"]["list"][1]["end_time"], expected[1].end);
}

TEST(ExtraMessages, MergedByTimeWithTheirText) {
    TempDir dir;
    GenOptions o = smallRecording(41);
    o.blocks = 1;
    const GenResult r = vokgen::generateRecording(o);
    const std::string path = writeGenerated(dir, "x.vok", r);
    const std::string log = (dir.path() / "extra.log").string();
    std::ofstream(log) << "1000.0 MSG 0 51000.0 TRACKER_TIME\n1010.5 hello, extra\n1500 second\nQuit logger\n";
    const ToolRun run = vok(dir, {"export", "-t", "messages", "--extra-messages=" + log, path});
    ASSERT_EQ(run.status, 0) << run.err;
    const Table t = parseDelimited(run.out, ',');
    std::vector<std::string> found;
    for (const auto& row : t)
        if (row[1] == "hello, extra" || row[1] == "second") found.push_back(row[0] + " " + row[1]);
    EXPECT_EQ(found, (std::vector<std::string>{"51011 hello, extra", "51500 second"}));
    EXPECT_EQ(t.size(), r.messages.size() + 1 + found.size());
    // Without the option the log is not read.
    const ToolRun plain = vok(dir, {"export", "-t", "messages", path});
    EXPECT_EQ(plain.out.find("hello"), std::string::npos);
}

TEST(Usage, HelpAndErrors) {
    TempDir dir;
    for (const std::string cmd : {"info", "export", "check"}) {
        const ToolRun help = vok(dir, {cmd, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find("EXIT STATUS"), std::string::npos) << cmd;
        EXPECT_NE(help.out.find("EXAMPLES"), std::string::npos) << cmd;
    }
    EXPECT_EQ(vok(dir, {}).status, 2);
    EXPECT_EQ(vok(dir, {"export", "--format", "xml", "x.vok"}).status, 2);
    EXPECT_EQ(vok(dir, {"info", "--consistency", "7", "x.vok"}).status, 2);
    const ToolRun missing = vok(dir, {"export", (dir.path() / "none.vok").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "vok: " + (dir.path() / "none.vok").string() + ": No such file or directory\n");
    EXPECT_EQ(missing.out, "");
}

}  // namespace

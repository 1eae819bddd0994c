// vokmex: the MEX gateway of the MATLAB / Octave functions (vokread, vokinfo,
// voktrials).  It calls the vokapi C library and its bulk-reading extension
// only; every value it hands out is one the library served.  Built by
// mkoctfile --mex for Octave and by MATLAB's mex; plain C++11.
//
//   [h, info] = vokmex('open', path, options)   opens; counts the samples
//   [cols, done] = vokmex('read', h, names, maxRows)
//   [rows, done] = vokmex('fill', h, cols)      (Octave only)
//   ev = vokmex('events', h)
//   tr = vokmex('trials', h, startText, endText, withEvents)
//   vokmex('close', h)
//   [names, classes] = vokmex('columns')
//   counts = vokmex('lowerbound', positions, queries)
//
// A handle stays open between calls.  The sample columns are made once at
// their final size and the library writes into them: in MATLAB 'read'
// creates and returns them; Octave copies every array a MEX function
// returns, so there the caller makes them and 'fill' has the library write
// into them in place.  'read' with a smaller maxRows serves chunks.
//
// Errors: MATLAB errors with the identifiers vokapi:open, vokapi:argument and
// vokapi:read.  They are raised only at the top of mexFunction, after every
// C++ object of the call is gone, so nothing leaks whatever way the
// interpreter unwinds.
#include <mex.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "vokapi.h"
#include "vokapi_ext.h"

namespace {

// ---------------------------------------------------------------------------
// Failures inside a call

struct Failure {
    const char* id;
    std::string message;
};

void fail(const char* id, const std::string& message) { throw Failure{id, message}; }

// ---------------------------------------------------------------------------
// The library's diagnostics: collected through its log callback while a call
// of this file runs, and the callback taken away again afterwards (the
// library keeps the pointer, and this module may be unloaded by "clear mex").

std::vector<std::string>* g_lines = nullptr;

extern "C" void collectLine(const char* text) {
    if (g_lines == nullptr || text == nullptr) return;
    try {
        std::string line(text);
        while (!line.empty() && std::strchr("\r\n\t ", line.back()) != nullptr) line.pop_back();
        std::size_t lead = 0;
        while (lead < line.size() && (line[lead] == ' ' || line[lead] == '\n')) ++lead;
        if (lead < line.size()) g_lines->push_back(line.substr(lead));
    } catch (...) {
        // Never let an exception unwind into the library.
    }
}

class LogCapture {
public:
    explicit LogCapture(std::vector<std::string>& lines) {
        g_lines = &lines;
        vok_set_log_function(collectLine);
    }
    ~LogCapture() {
        vok_set_log_function(nullptr);
        g_lines = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
};

// The progress lines the library prints to standard output on opening and
// when it builds trials are kept out of the session's output: descriptor 1
// points at the null device meanwhile.  (Windows: left alone; the library's
// C runtime need not be this module's.)
class QuietStdout {
public:
    QuietStdout() {
#if !defined(_WIN32)
        std::fflush(stdout);
        saved_ = ::dup(1);
        const int null = ::open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0) ::dup2(null, 1);
        if (null >= 0) ::close(null);
#endif
    }
    ~QuietStdout() {
#if !defined(_WIN32)
        std::fflush(stdout);
        if (saved_ >= 0) {
            ::dup2(saved_, 1);
            ::close(saved_);
        }
#endif
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_ = -1;
};

// ---------------------------------------------------------------------------
// Texts: UTF-8 as stored when the bytes are valid UTF-8, else read as
// Windows-1252 (as the Python package decodes them).

bool validUtf8(const std::string& s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t len;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Windows-1252 0x80..0x9F; 0xFFFD where the code page defines no character.
const std::uint16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string decodedText(const char* bytes, std::size_t n) {
    std::string s(bytes, n);
    if (validUtf8(s)) return s;
    std::string out;
    out.reserve(n * 2);
    for (char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        appendUtf8(out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
    }
    return out;
}

// A char row vector of UTF-8 text.  Octave's char arrays hold UTF-8 bytes;
// MATLAB's hold UTF-16 code units.
mxArray* makeString(const std::string& utf8) {
#if defined(HAVE_OCTAVE)
    return mxCreateString(utf8.c_str());
#else
    std::vector<mxChar> units;
    units.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = c;
        std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (i + len > utf8.size()) len = utf8.size() - i;
        if (len > 1) {
            cp = c & (0xFF >> (len + 1));
            for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units.push_back(static_cast<mxChar>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<mxChar>(0xDC00 + (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<mxChar>(cp));
        }
    }
    const mwSize dims[2] = {1, static_cast<mwSize>(units.size())};
    mxArray* a = mxCreateCharArray(2, dims);
    if (!units.empty()) std::memcpy(mxGetData(a), units.data(), units.size() * sizeof(mxChar));
    return a;
#endif
}

mxArray* makeCellColumn(const std::vector<std::string>& texts) {
    mxArray* c = mxCreateCellMatrix(texts.size(), 1);
    for (std::size_t i = 0; i < texts.size(); ++i) mxSetCell(c, i, makeString(texts[i]));
    return c;
}

// ---------------------------------------------------------------------------
// Arguments

std::string stringArgument(const mxArray* a, const char* what) {
    if (a == nullptr || !mxIsChar(a) || (mxGetM(a) > 1 && mxGetNumberOfElements(a) > 0))
        fail("vokapi:argument", std::string(what) + " must be a text (a char row vector)");
    if (mxGetNumberOfElements(a) == 0) return std::string();
#if defined(HAVE_OCTAVE)
    char* text = mxArrayToString(a);
#else
    char* text = mxArrayToUTF8String(a);
#endif
    if (text == nullptr) fail("vokapi:argument", std::string(what) + " cannot be converted to text");
    std::string s(text);
    mxFree(text);
    return s;
}

double scalarArgument(const mxArray* a, const char* what) {
    if (a == nullptr || (!mxIsNumeric(a) && !mxIsLogical(a)) || mxIsComplex(a) || mxGetNumberOfElements(a) != 1)
        fail("vokapi:argument", std::string(what) + " must be a real scalar");
    return mxGetScalar(a);
}

const mxArray* field(const mxArray* options, const char* name) {
    const mxArray* f = mxGetField(options, 0, name);
    if (f == nullptr) fail("vokapi:argument", std::string("the options lack the field ") + name);
    return f;
}

// ---------------------------------------------------------------------------
// Sample columns, by the names the Python package gives them.

enum class Kind { Time, Float, Flags, Position, Word, HeadDataType, HeadData };

typedef void (*Bind)(VOKEXT_SampleColumns&, void*);

struct ColumnSpec {
    const char* name;
    Kind kind;
    Bind bind;
    int word;  // head data word index, or -1
};

#define VOK_COL(name, kind, member, type) \
    {name, kind, [](VOKEXT_SampleColumns& c, void* p) { c.member = static_cast<type*>(p); }, -1}
#define VOK_EYES(group, member)                                               \
    VOK_COL("left_" group "_x", Kind::Float, member##X[0], float),            \
        VOK_COL("left_" group "_y", Kind::Float, member##Y[0], float),        \
        VOK_COL("right_" group "_x", Kind::Float, member##X[1], float),       \
        VOK_COL("right_" group "_y", Kind::Float, member##Y[1], float)
#define VOK_HEAD(k) {"head_data_" #k, Kind::HeadData, [](VOKEXT_SampleColumns& c, void* p) { \
        c.headData[k] = static_cast<int16_t*>(p); }, k}

const ColumnSpec kColumns[] = {
    VOK_COL("time", Kind::Time, timeMs, double),
    VOK_COL("flags", Kind::Flags, flags, uint16_t),
    VOK_COL("position", Kind::Position, position, uint32_t),
    VOK_EYES("gaze", gaze),
    VOK_EYES("pupil", pupil),
    VOK_EYES("headref", headRef),
    VOK_COL("left_pupil_size", Kind::Float, pupilSize[0], float),
    VOK_COL("right_pupil_size", Kind::Float, pupilSize[1], float),
    VOK_COL("resolution_x", Kind::Float, resolutionX, float),
    VOK_COL("resolution_y", Kind::Float, resolutionY, float),
    VOK_EYES("gaze_vel", gazeVel),
    VOK_EYES("headref_vel", headRefVel),
    VOK_EYES("pupil_vel", pupilVel),
    VOK_EYES("fast_gaze_vel", fastGazeVel),
    VOK_EYES("fast_headref_vel", fastHeadRefVel),
    VOK_EYES("fast_pupil_vel", fastPupilVel),
    VOK_COL("input", Kind::Word, input, uint16_t),
    VOK_COL("buttons", Kind::Word, buttons, uint16_t),
    VOK_COL("errors", Kind::Word, errors, uint16_t),
    VOK_COL("head_data_type", Kind::HeadDataType, headDataType, int16_t),
    VOK_HEAD(0), VOK_HEAD(1), VOK_HEAD(2), VOK_HEAD(3), VOK_HEAD(4), VOK_HEAD(5), VOK_HEAD(6), VOK_HEAD(7),
};
#undef VOK_COL
#undef VOK_EYES
#undef VOK_HEAD

const std::size_t kColumnCount = sizeof kColumns / sizeof kColumns[0];

// Rows of one call of the bulk walk; the word columns pass through scratch
// arrays of this many rows on their way to NaN-marked singles.
const std::uint32_t kBatchRows = 65536;
const std::uint32_t kEventRows = 4096;
const std::uint32_t kRecordingRows = 256;
const std::uint32_t kTextBytes = kEventRows * 64 + VOKEXT_TEXT_ROOM;

// Whether a word of a sample holds a value (NaN where it does not): the
// sample bit that carries the word, and the word's own absent marker.
struct WordRule {
    std::uint16_t bit;
    std::int32_t absent;  // or 0x10000: none
    int headWord;         // head data word index, or -1
};

WordRule wordRule(const ColumnSpec& c) {
    if (std::strcmp(c.name, "input") == 0) return WordRule{VOK_SAMPLE_INPUT, VOK_ABSENT_WORD, -1};
    if (std::strcmp(c.name, "errors") == 0) return WordRule{VOK_SAMPLE_ERRORS, VOK_ABSENT_WORD, -1};
    if (std::strcmp(c.name, "buttons") == 0) return WordRule{VOK_SAMPLE_BUTTONS, 0x10000, -1};
    if (c.kind == Kind::HeadDataType) return WordRule{VOK_SAMPLE_HEADDATA, -32768, -1};
    return WordRule{VOK_SAMPLE_HEADDATA, 0x10000, c.word};
}

inline bool wordCarried(const WordRule& w, std::uint16_t flags, std::int32_t value, std::int16_t headDataType) {
    if ((flags & w.bit) == 0 || value == w.absent) return false;
    // A head data word lies within the type's word count.
    return w.headWord < 0 || w.headWord < (headDataType < 0 ? 0 : (headDataType & 15));
}

// ---------------------------------------------------------------------------
// An open recording and what its walk collected.

struct Session {
    VOKFile* file = nullptr;
    std::uint32_t samplesLeft = 0;  // samples the counting pass found, less those read
    bool walkStarted = false, walkDone = false;
    // Event items in stream order, with their item positions and texts.
    std::vector<Event> events;
    std::vector<std::uint32_t> eventPosition;
    std::vector<std::uint8_t> eventExtra;
    std::vector<std::string> eventText;
    std::vector<std::uint8_t> eventHasText;
    std::vector<RecordingInfo> recordings;
    std::vector<std::uint32_t> recordingPosition;
    std::uint32_t unreadable = 0;
    std::vector<std::string> readLog;
    // The library holds trial identifiers by pointer.
    std::string trialStart, trialEnd;
    // Buffers of the bulk walk.
    std::vector<Event> eventBuffer;
    std::vector<std::uint32_t> positionBuffer, textAtBuffer, recordingPositionBuffer;
    std::vector<std::uint8_t> extraBuffer;
    std::vector<char> textBuffer;
    std::vector<RecordingInfo> recordingBuffer;

    ~Session() {
        if (file != nullptr) vok_close_file(file);
    }
};

std::map<std::uint32_t, std::unique_ptr<Session>> g_sessions;
std::uint32_t g_nextHandle = 1;

void closeAll() {
    g_sessions.clear();
    vok_set_log_function(nullptr);
}

Session& sessionOf(const mxArray* a) {
    const double h = scalarArgument(a, "the handle");
    auto it = h >= 1 && h <= 4294967295.0 && h == std::floor(h) ? g_sessions.find(static_cast<std::uint32_t>(h))
                                                                 : g_sessions.end();
    if (it == g_sessions.end()) fail("vokapi:argument", "not an open recording handle");
    return *it->second;
}

// ---------------------------------------------------------------------------
// open

mxArray* preambleCell(VOKFile* file) {
    std::vector<std::string> lines;
    const int length = vok_get_preamble_text_length(file);
    if (length > 0) {
        std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
        vok_get_preamble_text(file, text.data(), length);
        const std::string all(text.data());
        std::size_t at = 0;
        while (at < all.size()) {
            std::size_t end = all.find('\n', at);
            if (end == std::string::npos) end = all.size();
            std::string line = all.substr(at, end - at);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.compare(0, 3, "** ") == 0) line.erase(0, 3);
            lines.push_back(decodedText(line.data(), line.size()));
            at = end + 1;
        }
    }
    return makeCellColumn(lines);
}

std::string describe(const std::vector<std::string>& lines, const char* fallback) {
    return lines.empty() ? std::string(fallback) : lines.back();
}

void openRecording(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 3 || !mxIsStruct(prhs[2])) fail("vokapi:argument", "usage: vokmex('open', path, options)");
    const std::string path = stringArgument(prhs[1], "the path");
    if (path.empty()) fail("vokapi:argument", "the path is empty");
    const mxArray* o = prhs[2];
    const double flags = scalarArgument(field(o, "flags"), "options.flags");
    const double loadEvents = scalarArgument(field(o, "load_events"), "options.load_events");
    const double loadSamples = scalarArgument(field(o, "load_samples"), "options.load_samples");
    if (flags < 0 || flags > 31 || flags != std::floor(flags) || loadEvents < 0 || loadEvents > 3 ||
        loadSamples < 0 || loadSamples > 1)
        fail("vokapi:argument", "options out of range");
    const mxArray* extra = field(o, "extra_messages");
    const mxArray* res = field(o, "resolution");
    // Without a resolution the shared override pair is reset, as
    // vok_open_file() does, so that no earlier open's pair stays in force.
    float resolution[2] = {VOK_MISSING_VALUE, VOK_MISSING_VALUE};
    if (!mxIsEmpty(res)) {
        if (!mxIsDouble(res) || mxIsComplex(res) || mxGetNumberOfElements(res) != 2)
            fail("vokapi:argument", "options.resolution must be [] or [x y]");
        const double* r = mxGetPr(res);
        resolution[0] = static_cast<float>(r[0]);
        resolution[1] = static_cast<float>(r[1]);
    }

    std::unique_ptr<Session> s(new Session);
    std::vector<std::string> lines;
    {
        LogCapture capture(lines);
        QuietStdout quiet;
        if (static_cast<int>(loadEvents) & 2) {
            const std::string name = stringArgument(extra, "options.extra_messages");
            vok_set_extra_message_file(name.empty() ? nullptr : name.c_str());
        }
        int err = 0;
        s->file = vok_open_file_ex(path.c_str(), static_cast<int>(flags), static_cast<int>(loadEvents),
                                   static_cast<int>(loadSamples), resolution, &err);
    }
    if (s->file == nullptr) {
        std::string message = "cannot open '" + path + "': " + describe(lines, "the library could not open it");
        if (lines.size() > 1) {
            message += "\nthe library logged:";
            for (const std::string& l : lines) message += "\n  " + l;
        }
        fail("vokapi:open", message);
    }

    // Counting pass over the index: the number of samples, so that the
    // columns can be made at their final size before the walk, and the item
    // counts of each stretch between two recording-block records (for
    // vokinfo; the k-th stretch follows the k-th RECORDING_INFO item).
    enum { kSamples, kFixations, kSaccades, kBlinks, kMessages, kButtons, kInputs, kCounts };
    std::vector<std::vector<double>> segmentCounts(1, std::vector<double>(kCounts, 0.0));
    std::vector<std::string> stepLines;
    {
        LogCapture capture(stepLines);
        for (int code; (code = vok_get_next_data(s->file)) != 0;) {
            std::vector<double>& c = segmentCounts.back();
            switch (code) {
                case SAMPLE_TYPE: ++s->samplesLeft; ++c[kSamples]; break;
                case EFIX: ++c[kFixations]; break;
                case ESACC: ++c[kSaccades]; break;
                case EBLINK: ++c[kBlinks]; break;
                case MESSAGEEVENT: ++c[kMessages]; break;
                case BUTTONEVENT: ++c[kButtons]; break;
                case INPUTEVENT: ++c[kInputs]; break;
                case RECORDING_INFO:
                    // Read as a plain walk reads block records, so that what
                    // the library logs meanwhile is what such a walk logs.
                    vok_get_float_data(s->file);
                    segmentCounts.push_back(std::vector<double>(kCounts, 0.0));
                    break;
                default: break;
            }
        }
        vokext_rewind(s->file);
    }
    const double sampleItems = s->samplesLeft;

    const std::uint32_t handle = g_nextHandle++;
    VOKFile* file = s->file;
    g_sessions[handle] = std::move(s);
    plhs[0] = mxCreateDoubleScalar(handle);
    if (nlhs < 2) return;
    static const char* names[] = {"preamble", "revision", "tracker_revision", "items", "sample_items",
                                  "diagnostics", "step_diagnostics", "segment_counts"};
    mxArray* info = mxCreateStructMatrix(1, 1, 8, names);
    mxSetField(info, 0, "preamble", preambleCell(file));
    mxSetField(info, 0, "revision", mxCreateDoubleScalar(vok_get_revision(file)));
    mxSetField(info, 0, "tracker_revision", mxCreateDoubleScalar(vok_get_tarnvik_revision(file)));
    mxSetField(info, 0, "items", mxCreateDoubleScalar(vok_get_element_count(file)));
    mxSetField(info, 0, "sample_items", mxCreateDoubleScalar(sampleItems));
    mxSetField(info, 0, "diagnostics", makeCellColumn(lines));
    mxSetField(info, 0, "step_diagnostics", makeCellColumn(stepLines));
    mxArray* counts = mxCreateDoubleMatrix(segmentCounts.size(), kCounts, mxREAL);
    double* out = mxGetPr(counts);
    for (std::size_t r = 0; r < segmentCounts.size(); ++r)
        for (int k = 0; k < kCounts; ++k) out[static_cast<std::size_t>(k) * segmentCounts.size() + r] = segmentCounts[r][k];
    mxSetField(info, 0, "segment_counts", counts);
    plhs[1] = info;
}

// ---------------------------------------------------------------------------
// read: the one walk over the items.  Sample columns go into the output
// arrays (words through scratch arrays), event and recording-block records
// into the session.

struct OutputColumn {
    const ColumnSpec* spec;
    mxArray* array = nullptr;
    std::vector<std::uint16_t> scratch;  // words; int16 columns reinterpret it
};

mxClassID classOf(Kind k) {
    switch (k) {
        case Kind::Time: return mxDOUBLE_CLASS;
        case Kind::Flags: return mxUINT16_CLASS;
        case Kind::Position: return mxUINT32_CLASS;
        default: return mxSINGLE_CLASS;
    }
}

std::size_t sizeOf(Kind k) {
    switch (k) {
        case Kind::Time: return 8;
        case Kind::Flags: return 2;
        case Kind::Position: return 4;
        default: return 4;
    }
}

// A column the walk fills completely (rows it does not reach are cut off):
// no need to clear it first where the API can leave it uninitialised.
mxArray* newColumn(std::uint32_t rows, mxClassID id) {
#if defined(HAVE_OCTAVE)
    return mxCreateUninitNumericMatrix(rows, 1, id, mxREAL);
#else
    return mxCreateNumericMatrix(rows, 1, id, mxREAL);
#endif
}

void prepareBuffers(Session& s) {
    if (!s.eventBuffer.empty()) return;
    s.eventBuffer.resize(kEventRows);
    s.positionBuffer.resize(kEventRows);
    s.textAtBuffer.resize(kEventRows);
    s.extraBuffer.resize(kEventRows);
    s.textBuffer.resize(kTextBytes);
    s.recordingBuffer.resize(kRecordingRows);
    s.recordingPositionBuffer.resize(kRecordingRows);
}

// Moves the event and recording rows of one batch into the session.
void takeItems(Session& s, VOKEXT_Batch& b) {
    for (std::uint32_t i = 0; i < b.eventCount; ++i) {
        s.events.push_back(s.eventBuffer[i]);
        s.eventPosition.push_back(s.positionBuffer[i]);
        s.eventExtra.push_back(s.extraBuffer[i]);
        const std::uint32_t at = s.textAtBuffer[i];
        if (at != 0xFFFFFFFFu && at < b.textUsed) {
            const char* t = s.textBuffer.data() + at;
            s.eventText.push_back(decodedText(t, ::strnlen(t, b.textUsed - at)));
            s.eventHasText.push_back(1);
        } else {
            s.eventText.push_back(std::string());
            s.eventHasText.push_back(0);
        }
    }
    for (std::uint32_t i = 0; i < b.recordingCount; ++i) {
        s.recordings.push_back(s.recordingBuffer[i]);
        s.recordingPosition.push_back(s.recordingPositionBuffer[i]);
    }
    b.eventCount = b.recordingCount = b.textUsed = 0;
}

// Walks on until `rows` more samples are written into `columns` (from row
// `first`) or the items end.  Returns the rows written.
std::uint32_t walk(Session& s, std::vector<OutputColumn>& columns, std::uint32_t rows) {
    prepareBuffers(s);
    if (!s.walkStarted) {
        vokext_rewind(s.file);
        s.walkStarted = true;
    }
    const bool samples = !columns.empty();
    std::uint32_t done = 0;
    LogCapture capture(s.readLog);
    while (!s.walkDone && (!samples || done < rows)) {
        VOKEXT_Batch b;
        std::memset(&b, 0, sizeof b);
        b.kinds = VOKEXT_EVENTS | VOKEXT_RECORDINGS | (samples ? VOKEXT_SAMPLES : 0u);
        b.options = VOKEXT_MISSING_AS_NAN;
        b.sampleCapacity = samples ? std::min(rows - done, kBatchRows) : 0;
        std::uint16_t* flags = nullptr;
        const std::int16_t* headDataType = nullptr;
        for (OutputColumn& c : columns) {
            char* base = static_cast<char*>(mxGetData(c.array)) + static_cast<std::size_t>(done) * sizeOf(c.spec->kind);
            if (c.spec->kind == Kind::Word || c.spec->kind == Kind::HeadDataType || c.spec->kind == Kind::HeadData) {
                c.spec->bind(b.samples, c.scratch.data());
                if (c.spec->kind == Kind::HeadDataType) headDataType = reinterpret_cast<const std::int16_t*>(c.scratch.data());
            } else {
                c.spec->bind(b.samples, base);
                if (c.spec->kind == Kind::Flags) flags = reinterpret_cast<std::uint16_t*>(base);
            }
        }
        std::vector<std::uint16_t> flagScratch;
        if (flags == nullptr) {
            flagScratch.resize(b.sampleCapacity);
            flags = flagScratch.data();
            b.samples.flags = flags;
        }
        b.eventCapacity = kEventRows;
        b.events = s.eventBuffer.data();
        b.eventPosition = s.positionBuffer.data();
        b.eventExtra = s.extraBuffer.data();
        b.eventText = s.textAtBuffer.data();
        b.text = s.textBuffer.data();
        b.textCapacity = kTextBytes;
        b.recordingCapacity = kRecordingRows;
        b.recordings = s.recordingBuffer.data();
        b.recordingPosition = s.recordingPositionBuffer.data();
        const int result = vokext_read_batch(s.file, &b);
        if (result < 0) fail("vokapi:read", "the library refused the bulk read: " + describe(s.readLog, "no reason given"));
        // Words become singles, NaN where the sample does not carry them.
        for (OutputColumn& c : columns) {
            const Kind k = c.spec->kind;
            if (k != Kind::Word && k != Kind::HeadDataType && k != Kind::HeadData) continue;
            float* out = static_cast<float*>(mxGetData(c.array)) + done;
            const WordRule rule = wordRule(*c.spec);
            const bool isSigned = k != Kind::Word;
            for (std::uint32_t r = 0; r < b.sampleCount; ++r) {
                const std::int32_t v = isSigned ? static_cast<std::int32_t>(static_cast<std::int16_t>(c.scratch[r]))
                                                : static_cast<std::int32_t>(c.scratch[r]);
                const std::int16_t type = headDataType != nullptr ? headDataType[r] : static_cast<std::int16_t>(-1);
                out[r] = wordCarried(rule, flags[r], v, type) ? static_cast<float>(v)
                                                             : std::numeric_limits<float>::quiet_NaN();
            }
        }
        done += b.sampleCount;
        s.unreadable += b.unreadable;
        takeItems(s, b);
        if (result == 0) s.walkDone = true;
    }
    return done;
}

std::vector<const ColumnSpec*> columnNames(const mxArray* names) {
    if (!mxIsCell(names)) fail("vokapi:argument", "the column names must be a cell array of texts");
    std::vector<const ColumnSpec*> out;
    const std::size_t n = mxGetNumberOfElements(names);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string name = stringArgument(mxGetCell(names, i), "a column name");
        const ColumnSpec* found = nullptr;
        for (const ColumnSpec& c : kColumns)
            if (name == c.name) found = &c;
        if (found == nullptr) fail("vokapi:argument", "unknown sample column '" + name + "'");
        if (std::find(out.begin(), out.end(), found) != out.end())
            fail("vokapi:argument", "the sample column '" + name + "' is named twice");
        out.push_back(found);
    }
    return out;
}

#if defined(HAVE_OCTAVE)
// fill (Octave): the walk writes the samples straight into the columns of
// the struct argument, which the caller made at their final size and holds
// alone.  Octave hands a MEX function the storage of its arguments, and
// copies every array it returns: this way the columns exist once.
void fillColumns(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 3 || !mxIsStruct(prhs[2]) || mxGetNumberOfElements(prhs[2]) != 1)
        fail("vokapi:argument", "usage: vokmex('fill', h, columns)");
    Session& s = sessionOf(prhs[1]);
    const mxArray* in = prhs[2];
    const int count = mxGetNumberOfFields(in);
    std::vector<OutputColumn> columns(static_cast<std::size_t>(count));
    std::size_t rows = 0;
    for (int i = 0; i < count; ++i) {
        const std::string name = mxGetFieldNameByNumber(in, i);
        const ColumnSpec* spec = nullptr;
        for (const ColumnSpec& c : kColumns)
            if (name == c.name) spec = &c;
        mxArray* a = mxGetFieldByNumber(in, 0, i);
        if (spec == nullptr || a == nullptr || mxGetClassID(a) != classOf(spec->kind) || mxIsComplex(a) ||
            mxIsSparse(a) || mxGetN(a) != 1 || (i > 0 && mxGetM(a) != rows))
            fail("vokapi:argument", "fill: '" + name + "' is not a column of the expected class and length");
        rows = mxGetM(a);
        columns[static_cast<std::size_t>(i)].spec = spec;
        columns[static_cast<std::size_t>(i)].array = a;
        const Kind k = spec->kind;
        if (k == Kind::Word || k == Kind::HeadDataType || k == Kind::HeadData)
            columns[static_cast<std::size_t>(i)].scratch.resize(std::min<std::size_t>(rows, kBatchRows));
    }
    if (count == 0 || rows == 0 || rows > 0xFFFFFFFFu) fail("vokapi:argument", "fill: no columns to fill");
    const std::uint32_t got = s.walkDone ? 0 : walk(s, columns, static_cast<std::uint32_t>(rows));
    s.samplesLeft = got <= s.samplesLeft ? s.samplesLeft - got : 0;
    plhs[0] = mxCreateDoubleScalar(got);
    if (nlhs > 1) plhs[1] = mxCreateLogicalScalar(s.walkDone);
}
#endif

void readColumns(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 4) fail("vokapi:argument", "usage: vokmex('read', h, names, maxRows)");
    Session& s = sessionOf(prhs[1]);
    const std::vector<const ColumnSpec*> specs = columnNames(prhs[2]);
    const double maxRows = scalarArgument(prhs[3], "maxRows");
    if (!(maxRows >= 1)) fail("vokapi:argument", "maxRows must be at least 1");
    // Rows of this chunk: the samples the counting pass found that are not
    // yet read (a damaged file may give fewer), at most maxRows.
    const std::uint32_t expected = s.samplesLeft;
    std::uint32_t rows = static_cast<std::uint32_t>(std::min<double>(maxRows, 4294967295.0));
    std::vector<OutputColumn> columns;
    if (!specs.empty()) {
        rows = std::min(rows, expected);
        if (rows == 0) rows = std::min<std::uint32_t>(static_cast<std::uint32_t>(std::min<double>(maxRows, 4096.0)), 4096);
    }
    columns.resize(specs.size());
    for (std::size_t i = 0; i < specs.size(); ++i) {
        columns[i].spec = specs[i];
        columns[i].array = newColumn(s.walkDone ? 0 : rows, classOf(specs[i]->kind));
        const Kind k = specs[i]->kind;
        if (k == Kind::Word || k == Kind::HeadDataType || k == Kind::HeadData)
            columns[i].scratch.resize(std::min(rows, kBatchRows));
    }
    std::uint32_t got = 0;
    if (!s.walkDone) {
        got = walk(s, columns, rows);
        s.samplesLeft = got <= s.samplesLeft ? s.samplesLeft - got : 0;
    }
    std::vector<const char*> names;
    for (const ColumnSpec* c : specs) names.push_back(c->name);
    mxArray* out = mxCreateStructMatrix(1, 1, static_cast<int>(names.size()), names.empty() ? nullptr : names.data());
    for (OutputColumn& c : columns) {
        if (got < mxGetM(c.array)) mxSetM(c.array, got);
        mxSetField(out, 0, c.spec->name, c.array);
    }
    plhs[0] = out;
    if (nlhs > 1) plhs[1] = mxCreateLogicalScalar(s.walkDone);
}

// ---------------------------------------------------------------------------
// events: start and end records of fixations, saccades and blinks joined per
// eye and kind, with messages, buttons and inputs, in the order rows
// complete; the same rows and values as the Python package's events().

struct Row {
    std::int64_t start, end, point;
};

int kindOrder(int type) {  // the row kinds in the order of their names
    switch (type) {
        case SBLINK: case EBLINK: return 0;
        case SFIX: case EFIX: return 1;
        case SSACC: case ESACC: return 2;
        default: return -1;
    }
}
// Row kinds as codes: 1 fixation, 2 saccade, 3 blink, 4 message, 5 button, 6 input.
std::uint8_t kindCode(int type) {
    switch (type) {
        case SFIX: case EFIX: return 1;
        case SSACC: case ESACC: return 2;
        case SBLINK: case EBLINK: return 3;
        case MESSAGEEVENT: return 4;
        case BUTTONEVENT: return 5;
        case INPUTEVENT: return 6;
        default: return 0;
    }
}
bool isStart(int type) { return type == SFIX || type == SSACC || type == SBLINK; }
bool isPoint(int type) { return type == MESSAGEEVENT || type == BUTTONEVENT || type == INPUTEVENT; }

// Rows of the events e0..e1-1 and the recording records r0..r1-1 of the session.
std::vector<Row> joinRows(const Session& s, std::size_t e0, std::size_t e1, std::size_t r0, std::size_t r1) {
    std::vector<Row> rows;
    std::map<std::pair<int, int>, std::size_t> open;
    auto flush = [&]() {
        for (const auto& o : open) rows.push_back(Row{static_cast<std::int64_t>(o.second), -1, -1});
        open.clear();
    };
    std::size_t b = r0;
    for (std::size_t i = e0; i < e1; ++i) {
        const std::uint64_t key = static_cast<std::uint64_t>(s.eventPosition[i]) * 2 + (s.eventExtra[i] ? 0 : 1);
        while (b < r1 && static_cast<std::uint64_t>(s.recordingPosition[b]) * 2 + 1 < key) {
            if (s.recordings[b].state != 0) flush();
            ++b;
        }
        const int t = s.events[i].type;
        const int order = kindOrder(t);
        if (order >= 0) {
            const std::pair<int, int> k(s.events[i].eye == 1 ? 1 : 0, order);
            auto it = open.find(k);
            if (isStart(t)) {
                if (it != open.end()) rows.push_back(Row{static_cast<std::int64_t>(it->second), -1, -1});
                open[k] = i;
            } else if (it != open.end()) {
                rows.push_back(Row{static_cast<std::int64_t>(it->second), static_cast<std::int64_t>(i), -1});
                open.erase(it);
            } else {
                rows.push_back(Row{-1, static_cast<std::int64_t>(i), -1});
            }
        } else if (isPoint(t)) {
            rows.push_back(Row{-1, -1, static_cast<std::int64_t>(i)});
        }
    }
    flush();
    return rows;
}

// A value column: the record member, and the read bits that say a record
// carries it ("pos": place and group bits; "carried": group and place bits,
// and a value other than 0).
struct EventValue {
    const char* name;
    float Event::*member;
    bool position;
    std::uint16_t bitA, bitB;
};

const std::uint16_t kGazeOrPlain = VOK_READ_GAZE_POS | VOK_READ_PLAIN_POS;
const std::uint16_t kHeadRefOrPlain = VOK_READ_HEADREF_POS | VOK_READ_PLAIN_POS;
const EventValue kEventValues[] = {
    {"start_gaze_x", &Event::startGazeX, true, VOK_READ_START_POS, kGazeOrPlain},
    {"start_gaze_y", &Event::startGazeY, true, VOK_READ_START_POS, kGazeOrPlain},
    {"start_headref_x", &Event::startHeadRefX, true, VOK_READ_START_POS, kHeadRefOrPlain},
    {"start_headref_y", &Event::startHeadRefY, true, VOK_READ_START_POS, kHeadRefOrPlain},
    {"end_gaze_x", &Event::endGazeX, true, VOK_READ_END_POS, kGazeOrPlain},
    {"end_gaze_y", &Event::endGazeY, true, VOK_READ_END_POS, kGazeOrPlain},
    {"end_headref_x", &Event::endHeadRefX, true, VOK_READ_END_POS, kHeadRefOrPlain},
    {"end_headref_y", &Event::endHeadRefY, true, VOK_READ_END_POS, kHeadRefOrPlain},
    {"avg_gaze_x", &Event::avgGazeX, true, VOK_READ_AVG_POS, kGazeOrPlain},
    {"avg_gaze_y", &Event::avgGazeY, true, VOK_READ_AVG_POS, kGazeOrPlain},
    {"avg_headref_x", &Event::avgHeadRefX, true, VOK_READ_AVG_POS, kHeadRefOrPlain},
    {"avg_headref_y", &Event::avgHeadRefY, true, VOK_READ_AVG_POS, kHeadRefOrPlain},
    {"start_pupil_size", &Event::startPupilSize, false, VOK_READ_PUPILSIZE, VOK_READ_START_TIME},
    {"end_pupil_size", &Event::endPupilSize, false, VOK_READ_PUPILSIZE, VOK_READ_END_VALUES},
    {"avg_pupil_size", &Event::avgPupilSize, false, VOK_READ_PUPILSIZE, VOK_READ_AVG_VALUES},
    {"avg_velocity", &Event::avgVelocity, false, VOK_READ_VELOCITY, VOK_READ_AVG_VALUES},
    {"peak_velocity", &Event::peakVelocity, false, VOK_READ_VELOCITY, VOK_READ_AVG_VALUES},
    {"start_velocity", &Event::startVelocity, false, VOK_READ_VELOCITY, VOK_READ_START_TIME},
    {"end_velocity", &Event::endVelocity, false, VOK_READ_VELOCITY, VOK_READ_END_VALUES},
    {"start_resolution_x", &Event::startResolutionX, false, VOK_READ_RESOLUTION, VOK_READ_START_TIME},
    {"start_resolution_y", &Event::startResolutionY, false, VOK_READ_RESOLUTION, VOK_READ_START_TIME},
    {"end_resolution_x", &Event::endResolutionX, false, VOK_READ_RESOLUTION, VOK_READ_END_VALUES},
    {"end_resolution_y", &Event::endResolutionY, false, VOK_READ_RESOLUTION, VOK_READ_END_VALUES},
};

template <typename T>
T* column(mxArray* out, const char* name, std::size_t n, mxClassID id) {
    mxArray* a = mxCreateNumericMatrix(n, 1, id, mxREAL);
    mxSetField(out, 0, name, a);
    return static_cast<T*>(mxGetData(a));
}

mxArray* eventTable(const Session& s, const std::vector<Row>& rows) {
    std::vector<const char*> names = {"type", "eye", "start_time", "end_time", "duration"};
    for (const EventValue& v : kEventValues) names.push_back(v.name);
    for (const char* n : {"pair", "parsed_by", "text", "buttons", "input", "position", "extra", "text_rows"})
        names.push_back(n);
    mxArray* out = mxCreateStructMatrix(1, 1, static_cast<int>(names.size()), names.data());
    const std::size_t n = rows.size();
    // The text columns come as codes (and the message texts alone), which
    // the .m side turns into cells: one array per row costs far more.
    std::uint8_t* type = column<std::uint8_t>(out, "type", n, mxUINT8_CLASS);
    std::uint8_t* eye = column<std::uint8_t>(out, "eye", n, mxUINT8_CLASS);
    std::uint8_t* pair = column<std::uint8_t>(out, "pair", n, mxUINT8_CLASS);
    std::vector<std::string> texts;
    std::vector<double> textRows;
    double* startTime = column<double>(out, "start_time", n, mxDOUBLE_CLASS);
    double* endTime = column<double>(out, "end_time", n, mxDOUBLE_CLASS);
    double* duration = column<double>(out, "duration", n, mxDOUBLE_CLASS);
    std::vector<float*> values;
    for (const EventValue& v : kEventValues) values.push_back(column<float>(out, v.name, n, mxSINGLE_CLASS));
    std::uint16_t* parsedBy = column<std::uint16_t>(out, "parsed_by", n, mxUINT16_CLASS);
    std::int32_t* buttons = column<std::int32_t>(out, "buttons", n, mxINT32_CLASS);
    std::int32_t* input = column<std::int32_t>(out, "input", n, mxINT32_CLASS);
    std::uint32_t* position = column<std::uint32_t>(out, "position", n, mxUINT32_CLASS);
    mxArray* extraArray = mxCreateLogicalMatrix(n, 1);
    mxSetField(out, 0, "extra", extraArray);
    mxLogical* extra = mxGetLogicals(extraArray);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t k = 0; k < n; ++k) {
        const Row& r = rows[k];
        const bool hasStart = r.start >= 0, hasEnd = r.end >= 0, point = r.point >= 0;
        const std::size_t first = static_cast<std::size_t>(hasEnd ? r.end : hasStart ? r.start : r.point);
        const Event& f = s.events[first];
        const Event* st = hasStart ? &s.events[static_cast<std::size_t>(r.start)] : nullptr;
        const Event* en = hasEnd ? &s.events[static_cast<std::size_t>(r.end)] : nullptr;
        type[k] = kindCode(f.type);
        eye[k] = point ? 0 : f.eye == 1 ? 2 : 1;
        pair[k] = point ? 0 : hasStart && hasEnd ? 1 : hasStart ? 2 : 3;
        if (point && s.eventHasText[first]) {
            texts.push_back(s.eventText[first]);
            textRows.push_back(static_cast<double>(k + 1));
        }
        // The start time from the end record when it carries one.
        const bool endHasStartTime = en != nullptr && (en->read & VOK_READ_START_TIME) != 0;
        startTime[k] = static_cast<double>(st != nullptr && !endHasStartTime ? st->startTime : f.startTime);
        endTime[k] = en != nullptr ? static_cast<double>(en->endTime) : nan;
        duration[k] = endTime[k] - startTime[k];
        for (std::size_t v = 0; v < sizeof kEventValues / sizeof kEventValues[0]; ++v) {
            const EventValue& ev = kEventValues[v];
            auto carried = [&](const Event* e) {
                if (e == nullptr) return false;
                const bool bits = (e->read & ev.bitA) != 0 && (e->read & ev.bitB) != 0;
                return ev.position ? bits : bits && e->*ev.member != 0.0f;
            };
            float chosen = carried(en) ? en->*ev.member : carried(st) ? st->*ev.member : VOK_MISSING_VALUE;
            if (chosen == VOK_MISSING_VALUE || chosen == VOK_ABSENT_VALUE) chosen = std::numeric_limits<float>::quiet_NaN();
            values[v][k] = chosen;
        }
        parsedBy[k] = f.parsedBy;
        buttons[k] = f.type == BUTTONEVENT ? static_cast<std::int32_t>(f.buttons) : -1;
        input[k] = f.type == INPUTEVENT ? static_cast<std::int32_t>(f.input) : -1;
        position[k] = s.eventPosition[first];
        extra[k] = s.eventExtra[first] != 0;
    }
    mxSetField(out, 0, "text", makeCellColumn(texts));
    mxArray* rowsArray = mxCreateDoubleMatrix(textRows.size(), 1, mxREAL);
    std::copy(textRows.begin(), textRows.end(), mxGetPr(rowsArray));
    mxSetField(out, 0, "text_rows", rowsArray);
    return out;
}

mxArray* recordingTable(const Session& s) {
    static const char* names[] = {"time", "sample_rate", "event_flags", "sample_flags", "state", "record_type",
                                  "pupil_type", "recording_mode", "filter_type", "position_type", "eye",
                                  "time_half_ms", "position"};
    const std::size_t n = s.recordings.size();
    mxArray* out = mxCreateStructMatrix(1, 1, 13, names);
    std::vector<double*> c;
    for (const char* name : names) c.push_back(column<double>(out, name, n, mxDOUBLE_CLASS));
    for (std::size_t i = 0; i < n; ++i) {
        const RecordingInfo& r = s.recordings[i];
        const double v[13] = {static_cast<double>(r.time), r.sampleRate, static_cast<double>(r.eventFlags),
                              static_cast<double>(r.sampleFlags), static_cast<double>(r.state),
                              static_cast<double>(r.recordType), static_cast<double>(r.pupilType),
                              static_cast<double>(r.recordingMode), static_cast<double>(r.filterType),
                              static_cast<double>(r.positionType), static_cast<double>(r.eye),
                              static_cast<double>(r.timeHalfMs), static_cast<double>(s.recordingPosition[i])};
        for (int k = 0; k < 13; ++k) c[static_cast<std::size_t>(k)][i] = v[k];
    }
    return out;
}

void finishWalk(Session& s) {
    std::vector<OutputColumn> none;
    if (!s.walkDone) walk(s, none, 0);
}

void readEvents(int /*nlhs*/, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 2) fail("vokapi:argument", "usage: vokmex('events', h)");
    Session& s = sessionOf(prhs[1]);
    finishWalk(s);
    static const char* names[] = {"events", "recordings", "unreadable", "diagnostics"};
    mxArray* out = mxCreateStructMatrix(1, 1, 4, names);
    mxSetField(out, 0, "events", eventTable(s, joinRows(s, 0, s.events.size(), 0, s.recordings.size())));
    mxSetField(out, 0, "recordings", recordingTable(s));
    mxSetField(out, 0, "unreadable", mxCreateDoubleScalar(s.unreadable));
    mxSetField(out, 0, "diagnostics", makeCellColumn(s.readLog));
    plhs[0] = out;
}

// ---------------------------------------------------------------------------
// trials: the library's trial list, with the item positions of each trial,
// the text of the message that began it, and (withEvents) its events joined
// within the trial.

void readTrials(int /*nlhs*/, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 5) fail("vokapi:argument", "usage: vokmex('trials', h, startText, endText, withEvents)");
    Session& s = sessionOf(prhs[1]);
    const std::string start = stringArgument(prhs[2], "the trial start text");
    const std::string end = stringArgument(prhs[3], "the trial end text");
    const bool withEvents = scalarArgument(prhs[4], "withEvents") != 0;
    finishWalk(s);
    struct Entry {
        Trial header;
        std::uint32_t first, end;
    };
    std::vector<Entry> trials;
    std::vector<std::string> lines;
    {
        LogCapture capture(lines);
        QuietStdout quiet;
        if (!start.empty() || !end.empty()) {
            s.trialStart = start;
            s.trialEnd = end;
            vok_set_trial_identifier(s.file, s.trialStart.empty() ? nullptr : s.trialStart.c_str(),
                                     s.trialEnd.empty() ? nullptr : s.trialEnd.c_str());
        }
        const int count = vok_get_trial_count(s.file);
        for (int k = 0; k < count; ++k) {
            Entry e;
            std::memset(&e, 0, sizeof e);
            if (vok_jump_to_trial(s.file, k) != 0 || vok_get_trial_header(s.file, &e.header) != 0 ||
                vokext_get_trial_range(s.file, k, &e.first, &e.end) != 0)
                break;
            trials.push_back(e);
        }
    }
    s.readLog.insert(s.readLog.end(), lines.begin(), lines.end());
    static const char* names[] = {"start_time", "end_time", "duration", "start_position", "end_position",
                                  "recording_time_half_ms", "identifier", "events"};
    mxArray* out = mxCreateStructMatrix(1, 1, 8, names);
    const std::size_t n = trials.size();
    double* startTime = column<double>(out, "start_time", n, mxDOUBLE_CLASS);
    double* endTime = column<double>(out, "end_time", n, mxDOUBLE_CLASS);
    double* duration = column<double>(out, "duration", n, mxDOUBLE_CLASS);
    std::uint32_t* first = column<std::uint32_t>(out, "start_position", n, mxUINT32_CLASS);
    std::uint32_t* last = column<std::uint32_t>(out, "end_position", n, mxUINT32_CLASS);
    double* block = column<double>(out, "recording_time_half_ms", n, mxDOUBLE_CLASS);
    mxArray* identifier = mxCreateCellMatrix(n, 1);
    mxSetField(out, 0, "identifier", identifier);
    mxArray* events = mxCreateCellMatrix(withEvents ? n : 0, 1);
    mxSetField(out, 0, "events", events);
    for (std::size_t k = 0; k < n; ++k) {
        const Entry& e = trials[k];
        startTime[k] = e.header.startTime;
        endTime[k] = e.header.endTime;
        duration[k] = e.header.duration;
        first[k] = e.first;
        last[k] = e.end;
        block[k] = e.header.recording != nullptr ? static_cast<double>(e.header.recording->timeHalfMs)
                                                 : std::numeric_limits<double>::quiet_NaN();
        // Event and recording rows of the stretch (positions ascend in stream order).
        const std::size_t e0 = static_cast<std::size_t>(
            std::lower_bound(s.eventPosition.begin(), s.eventPosition.end(), e.first) - s.eventPosition.begin());
        const std::size_t e1 = static_cast<std::size_t>(
            std::lower_bound(s.eventPosition.begin(), s.eventPosition.end(), e.end) - s.eventPosition.begin());
        std::string id;
        for (std::size_t i = e0; i < e1 && s.eventPosition[i] == e.first; ++i)
            if (!s.eventExtra[i] && s.events[i].type == MESSAGEEVENT) id = s.eventText[i];
        mxSetCell(identifier, k, makeString(id));
        if (withEvents) {
            const std::size_t r0 = static_cast<std::size_t>(
                std::lower_bound(s.recordingPosition.begin(), s.recordingPosition.end(), e.first) -
                s.recordingPosition.begin());
            const std::size_t r1 = static_cast<std::size_t>(
                std::lower_bound(s.recordingPosition.begin(), s.recordingPosition.end(), e.end) -
                s.recordingPosition.begin());
            mxSetCell(events, k, eventTable(s, joinRows(s, e0, e1, r0, r1)));
        }
    }
    plhs[0] = out;
}

void closeRecording(int nrhs, const mxArray* prhs[]) {
    if (nrhs != 2) fail("vokapi:argument", "usage: vokmex('close', h)");
    const double h = scalarArgument(prhs[1], "the handle");
    if (h >= 1 && h <= 4294967295.0) g_sessions.erase(static_cast<std::uint32_t>(h));
}

// For each query q, the number of positions below q (positions ascending):
// the rows of a trial are lowerbound(end) - lowerbound(first) rows from
// lowerbound(first) + 1.
void lowerBound(mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (nrhs != 3 || !mxIsUint32(prhs[1]) || !mxIsDouble(prhs[2]) || mxIsComplex(prhs[2]))
        fail("vokapi:argument", "usage: vokmex('lowerbound', positions (uint32), queries (double))");
    const std::uint32_t* p = static_cast<const std::uint32_t*>(mxGetData(prhs[1]));
    const std::size_t n = mxGetNumberOfElements(prhs[1]);
    const double* q = mxGetPr(prhs[2]);
    const std::size_t m = mxGetNumberOfElements(prhs[2]);
    mxArray* out = mxCreateDoubleMatrix(m, 1, mxREAL);
    double* o = mxGetPr(out);
    for (std::size_t i = 0; i < m; ++i)
        o[i] = static_cast<double>(std::lower_bound(p, p + n, q[i], [](std::uint32_t a, double b) { return a < b; }) - p);
    plhs[0] = out;
}

bool g_atExit = false;

void dispatch(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    if (!g_atExit) {
        mexAtExit(closeAll);
        g_atExit = true;
    }
    if (nrhs < 1) fail("vokapi:argument", "vokmex needs a command");
    const std::string command = stringArgument(prhs[0], "the command");
    if (command == "open") {
        openRecording(nlhs, plhs, nrhs, prhs);
    } else if (command == "read") {
        readColumns(nlhs, plhs, nrhs, prhs);
    } else if (command == "events") {
        readEvents(nlhs, plhs, nrhs, prhs);
    } else if (command == "trials") {
        readTrials(nlhs, plhs, nrhs, prhs);
    } else if (command == "close") {
        closeRecording(nrhs, prhs);
    } else if (command == "lowerbound") {
        lowerBound(plhs, nrhs, prhs);
#if defined(HAVE_OCTAVE)
    } else if (command == "fill") {
        fillColumns(nlhs, plhs, nrhs, prhs);
#endif
    } else if (command == "columns") {
        std::vector<std::string> names, classes;
        for (const ColumnSpec& c : kColumns) {
            names.push_back(c.name);
            const mxClassID id = classOf(c.kind);
            classes.push_back(id == mxDOUBLE_CLASS ? "double" : id == mxUINT16_CLASS ? "uint16"
                              : id == mxUINT32_CLASS ? "uint32" : "single");
        }
        plhs[0] = makeCellColumn(names);
        if (nlhs > 1) plhs[1] = makeCellColumn(classes);
    } else {
        fail("vokapi:argument", "unknown command '" + command + "'");
    }
}

// The text of the error raised after the call's objects are gone.
char g_errorId[64];
char g_errorText[4096];

}  // namespace

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    bool failed = false;
    try {
        dispatch(nlhs, plhs, nrhs, prhs);
    } catch (const Failure& f) {
        std::snprintf(g_errorId, sizeof g_errorId, "%s", f.id);
        std::snprintf(g_errorText, sizeof g_errorText, "%s", f.message.c_str());
        failed = true;
    } catch (const std::bad_alloc&) {
        std::snprintf(g_errorId, sizeof g_errorId, "%s", "vokapi:memory");
        std::snprintf(g_errorText, sizeof g_errorText, "%s", "out of memory");
        failed = true;
    }
    if (failed) mexErrMsgIdAndTxt(g_errorId, "%s", g_errorText);
}

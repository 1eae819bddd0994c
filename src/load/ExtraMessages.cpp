#include "load/ExtraMessages.h"

#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>

#include "core/ApiBoundary.h"
#include "core/Log.h"
#include "load/ItemAssembly.h"
#include "platform/Platform.h"

namespace vok {

namespace {

// The name set by vok_set_extra_message_file, read by opens in any thread.
std::mutex g_fileNameLock;
std::string g_fileName;
bool g_fileNameSet = false;

constexpr const char* kDefaultName = "mb_messages.log";
constexpr const char* kSyncWord = "TRACKER_TIME";
constexpr const char* kQuitWord = "Quit logger";

// The width in "%4095s" below must match the examined line length.
static_assert(ExtraMessages::kMaxLine == 4095, "sync-line word width");
constexpr const char* kSyncPattern = "%lf %4095s %d %lf";

// Reads one line, its line end included, keeping at most kMaxLine characters
// of it; the rest of a longer line is read and dropped so that it is not
// taken for a line of its own.  False at end of file with nothing read.
bool readLogLine(std::FILE* f, std::string& line) {
    line.clear();
    bool any = false;
    for (int c; (c = std::getc(f)) != EOF;) {
        any = true;
        if (line.size() < ExtraMessages::kMaxLine) line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    platform::endTextLine(line);
    return any;
}

bool contains(const std::string& line, const char* word) { return line.find(word) != std::string::npos; }

// Reads the leading number of a line as a single-precision value; consumed
// receives the characters read (leading blanks included).
bool leadingNumber(const std::string& line, float& value, int& consumed) {
    consumed = 0;
    return std::sscanf(line.c_str(), "%f%n", &value, &consumed) >= 1 && consumed > 0;
}

// A time in tracker milliseconds when x is one (0 to 2^32 - 1 after rounding
// down); false for negative, too large or not-a-number values.
bool toTrackerTime(double x, std::uint64_t& time) {
    const double v = std::floor(x);
    if (!(v >= 0.0 && v <= 4294967295.0)) return false;
    time = static_cast<std::uint64_t>(v);
    return true;
}

// Reads the rest of entry k's line (from just after its leading number).
bool readRest(ExtraMessages& extra, std::uint32_t k, std::string& rest) {
    rest.clear();
    if (k >= extra.entries.size() || !extra.file) return false;
    const std::int64_t offset = extra.entries[k].offset;
    if (offset < 0 || platform::seek(extra.file.get(), static_cast<std::uint64_t>(offset)) != 0) return false;
    return readLogLine(extra.file.get(), rest);
}

}  // namespace

std::optional<std::string> extraMessageFileName() {
    const std::lock_guard<std::mutex> lock(g_fileNameLock);
    if (!g_fileNameSet) return std::nullopt;
    return g_fileName;
}

void setExtraMessageFileName(const char* name) {
    const std::lock_guard<std::mutex> lock(g_fileNameLock);
    if (name == nullptr) {
        g_fileName.clear();
        g_fileNameSet = false;
        return;
    }
    std::string copy(name);
    g_fileName.swap(copy);
    g_fileNameSet = true;
}

std::string chooseExtraMessageFile(const char* path) {
    if (std::optional<std::string> name = extraMessageFileName()) return *name;
    const std::string recording = path != nullptr ? path : "";
    const std::size_t cut = recording.find_last_of(platform::folderSeparators());
    if (cut == std::string::npos) return kDefaultName;
    return recording.substr(0, cut + 1) + kDefaultName;
}

int loadExtraMessages(ExtraMessages& extra, const std::string& name) {
    extra.syncPoints.clear();
    extra.entries.clear();
    extra.count = -1;
    extra.present = false;
    extra.file.reset(platform::openTextForReading(name.c_str()));
    if (!extra.file) return -1;
    std::FILE* f = extra.file.get();

    std::string line;
    line.reserve(ExtraMessages::kMaxLine + 1);
    std::string word(ExtraMessages::kMaxLine + 1, '\0');
    bool taking = false;  // a synchronisation line was seen
    bool quit = false;
    // Entry counts stay within the signed 32-bit count.
    constexpr std::size_t kMaxEntries = 0x7FFFFFFE;
    while (extra.entries.size() < kMaxEntries) {
        const long start = std::ftell(f);
        if (start < 0 || !readLogLine(f, line)) break;
        float ignored;
        int consumed;
        if (contains(line, kSyncWord)) {
            taking = true;
            double local = 0.0, tracker = 0.0;
            int third = 0;
            const int fields = std::sscanf(line.c_str(), kSyncPattern, &local, word.data(), &third, &tracker);
            // The tracker time is truncated to a 32-bit integer for every line
            // that follows, so it has to lie in that range.
            const bool usable = fields >= 4 && std::isfinite(local) && std::isfinite(tracker) &&
                                tracker > -2147483649.0 && tracker < 2147483648.0;
            if (!usable) {
                printDirect("TRACKER_TIME format not right \n");
                continue;
            }
            extra.syncPoints.push_back(
                {static_cast<std::uint32_t>(extra.entries.size()), third, tracker, local});
            std::uint64_t time;
            if (leadingNumber(line, ignored, consumed) && toTrackerTime(tracker + 0.5, time)) {
                extra.entries.push_back({time, static_cast<std::int64_t>(start) + consumed});
            }
            continue;
        }
        if (!taking) continue;
        if (contains(line, kQuitWord)) {
            quit = true;
            break;
        }
        if (extra.syncPoints.empty()) continue;  // the synchronisation lines so far were malformed
        float t;
        // A line without a leading number, or whose time would fall outside
        // the tracker clock, has no time: it is left out.
        if (!leadingNumber(line, t, consumed)) continue;
        const ExtraSyncPoint& sync = extra.syncPoints.back();
        const double x = static_cast<double>(t) - sync.localTime +
                         static_cast<double>(static_cast<std::int32_t>(sync.trackerTime)) + 0.5;
        std::uint64_t time;
        if (!toTrackerTime(x, time)) continue;
        extra.entries.push_back({time, static_cast<std::int64_t>(start) + consumed});
    }
    extra.count = static_cast<std::int32_t>(extra.entries.size());
    if (quit && !extra.syncPoints.empty()) {
        extra.present = true;
    } else {
        std::rewind(f);
    }
    return extra.count;
}

void openExtraMessages(ExtraMessages& extra, const char* recordingPath) {
    extra.fileName = chooseExtraMessageFile(recordingPath);
    printDirect("Log file name %s \n", extra.fileName.c_str());
    if (extra.fileName.empty()) return;
    loadExtraMessages(extra, extra.fileName);
}

bool readExtraText(ExtraMessages& extra, std::uint32_t k) {
    extra.text.clear();
    if (k >= extra.entries.size()) return false;
    extra.text = std::to_string(extra.entries[k].time);
    std::string rest;
    if (!readRest(extra, k, rest)) return false;
    extra.text += rest;
    return true;
}

FloatData* buildExtraRecord(ExtraMessages& extra, std::uint32_t k) {
    std::string rest;
    if (!readRest(extra, k, rest)) return nullptr;
    const ExtraEntry& entry = extra.entries[k];
    extra.text = std::to_string(entry.time);
    extra.text += rest;

    // The record carries the first characters of the text, and its length
    // says how many it carries.
    const std::size_t length = rest.size() < ExtraMessages::kMaxRecordText
                                   ? rest.size()
                                   : static_cast<std::size_t>(ExtraMessages::kMaxRecordText);
    MessageBuffer& m = extra.message;
    std::memset(m.text, 0, sizeof m.text);
    std::memcpy(m.text, rest.data(), length);
    m.length = static_cast<std::int16_t>(length);

    FloatData& out = extra.record;
    std::memset(&out, 0, sizeof out);
    out.event.type = MESSAGEEVENT;
    out.event.startTime = static_cast<std::uint32_t>(entry.time);
    out.event.message = m.asLString();
    setRecordTag(out, kTagIsEvent);
    return &out;
}

}  // namespace vok

extern "C" VOKAPI_EXPORT int vok_set_extra_message_file(const char* name) {
    return vok::apiCall(-1, [&] {
        vok::setExtraMessageFileName(name);
        return 0;
    });
}

#include "Session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "System.h"

namespace voktool {

namespace {

// The library calls its log function in the thread that works on the
// handle, so each thread collects the diagnostics of its own recording.
// A plain pointer per thread: thread_local objects with destructors are not
// reliable in every Windows toolchain, so a thread's collection is made on
// first use and released by Diagnostics::releaseThread().
thread_local std::vector<std::string>* g_lines = nullptr;

std::vector<std::string>& threadLines() {
    if (g_lines == nullptr) g_lines = new std::vector<std::string>();
    return *g_lines;
}
thread_local ThreadReports* g_reports = nullptr;

void collect(const char* text) {
    if (text == nullptr) return;
    std::string_view t(text);
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r' || t.back() == ' ' || t.back() == '\t'))
        t.remove_suffix(1);
    while (!t.empty() && (t.front() == ' ' || t.front() == '\n')) t.remove_prefix(1);
    if (!t.empty()) threadLines().emplace_back(t);
}

bool contains(const std::string& text, std::string_view needle) {
    return text.find(needle) != std::string::npos;
}

}  // namespace

int OpenOptions::consistencyArgument() const {
    int c = consistency & VOK_CONSISTENCY_LEVEL_MASK;
    if (tolerant) c |= VOK_TOLERANT_READING;
    if (noFixup) c |= VOK_NO_TIME_FIXUP;
    if (messageOffsets) c |= VOK_MESSAGE_TIME_OFFSETS;
    return c;
}

int OpenOptions::loadEvents() const { return (noEvents ? 0 : 1) | (extraMessages ? 2 : 0); }

int OpenOptions::loadSamples() const { return noSamples ? 0 : 1; }

void Diagnostics::install() { vok_set_log_function(collect); }
void Diagnostics::clear() { threadLines().clear(); }
const std::vector<std::string>& Diagnostics::lines() { return threadLines(); }
void Diagnostics::releaseThread() {
    delete g_lines;
    g_lines = nullptr;
}
std::vector<std::string> Diagnostics::take() {
    std::vector<std::string> out;
    out.swap(threadLines());
    return out;
}

void setThreadReports(ThreadReports* reports) { g_reports = reports; }
ThreadReports* threadReports() { return g_reports; }

void reportLine(std::string_view text) {
    if (g_reports != nullptr) {
        g_reports->errors.append(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

Recording::~Recording() { vok_close_file(file_); }

std::unique_ptr<Recording> Recording::open(const std::string& path, const OpenOptions& options,
                                           std::string& reason, std::vector<std::string>& diagnostics) {
    diagnostics.clear();
    if (!readableFile(path, reason)) return nullptr;
    Diagnostics::clear();
    if (options.extraMessages)
        vok_set_extra_message_file(options.extraMessageFile.empty() ? nullptr : options.extraMessageFile.c_str());
    int err = 0;
    VOKFile* file = vok_open_file(path.c_str(), options.consistencyArgument(), options.loadEvents(),
                                  options.loadSamples(), &err);
    diagnostics = Diagnostics::take();
    if (file == nullptr) {
        reason = describeOpenFailure(diagnostics);
        return nullptr;
    }
    return std::unique_ptr<Recording>(new Recording(file));
}

bool readableFile(const std::string& path, std::string& reason) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        reason = "is a folder";
        return false;
    }
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        reason = errorText(errno != 0 ? errno : ENOENT);
        return false;
    }
    std::fclose(f);
    return true;
}

std::string describeOpenFailure(const std::vector<std::string>& diagnostics) {
    if (diagnostics.empty()) return "the library could not open it";
    const std::string& last = diagnostics.back();
    bool inHeader = false;
    for (const std::string& line : diagnostics)
        if (contains(line, "error reading vok file 6")) inHeader = true;
    if (contains(last, "Bad magic")) return "not a .vok recording (unknown first line)";
    if (contains(last, "File Could not be opened")) return "cannot be opened";
    if (inHeader && contains(last, "End of file")) return "the file ends inside its header (no ENDP: line)";
    if (contains(last, "Error reading") || contains(last, "End of file") || contains(last, "unknown data type"))
        return "damaged or cut-off records (" + last + "); --tolerant reads the records before the damage";
    return last;
}

std::string_view messageText(const Event& event) {
    if (event.message == nullptr || event.message->length <= 0) return {};
    const char* text = event.message->c;
    const auto declared = static_cast<std::size_t>(event.message->length);
    return std::string_view(text, ::strnlen(text, declared));
}

std::string_view extraMessageText(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    return text;
}

}  // namespace voktool

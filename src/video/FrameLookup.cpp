#include "video/FrameLookup.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "core/Log.h"
#include "platform/Platform.h"

namespace vok::video {

namespace {

struct LookupState {
    std::unique_ptr<AVIVOKTimeLookupTime> table;
    const LookupRecord* current = nullptr;
    bool searchPathExtended = false;
};

// One table for the whole process, as every VOK object shares it; the lock
// keeps it whole when VOK objects are used in several threads.
std::recursive_mutex g_lock;

LookupState& state() {
    static LookupState s;
    return s;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// A name split at its last '\\' or '/': the part before (without the
// separator) and the part after.
struct SplitName {
    std::string directory;
    std::string base;
    char separator = '\0';
};

SplitName splitAtLastSeparator(const std::string& stem) {
    SplitName s;
    const std::size_t at = stem.find_last_of("\\/");
    if (at == std::string::npos) {
        s.base = stem;
    } else {
        s.directory = stem.substr(0, at);
        s.base = stem.substr(at + 1);
        s.separator = stem[at];
    }
    return s;
}

bool endsWithVok(const char* name, std::size_t length) {
    const char* tail = name + length - 3;
    return std::tolower(static_cast<unsigned char>(tail[0])) == 'v' &&
           std::tolower(static_cast<unsigned char>(tail[1])) == 'o' &&
           std::tolower(static_cast<unsigned char>(tail[2])) == 'k';
}

// Appends the host program's directory to the search path, so that a
// converter installed next to it is found.
void extendSearchPath() {
    const std::string exe = platform::executablePath();
    const std::size_t at = exe.find_last_of("/\\");
    const std::string directory = at == std::string::npos ? std::string() : exe.substr(0, at);
    const char* path = std::getenv("PATH");
    if (!directory.empty() && path != nullptr &&
        std::strlen(path) + directory.size() + 10 < kNameBufferSize &&
        platform::appendToSearchPath(directory.c_str())) {
        return;
    }
    printDirect("Failed to set the path. Using current path. \n");
}

std::FILE* openTableFile(const char* name) {
    std::FILE* f = platform::openForReading(name);
    if (f == nullptr) f = platform::openForReadingUtf8(name);
    return f;
}

int loadTableOnce(const char* name, std::uint32_t n, bool createAllowed) {
    const std::size_t length = std::strlen(name);
    if (length <= 4 || !endsWithVok(name, length)) {
        printDirect("given vok file is not valid %s \n", name);
        return -1;
    }
    const std::string stem(name, length - 4);
    char tableName[kNameBufferSize];
    const int written =
        std::snprintf(tableName, sizeof tableName, "%s%lu.vkt", stem.c_str(), static_cast<unsigned long>(n));
    const SplitName split = splitAtLastSeparator(stem);
    if (stem.size() >= kNameBufferSize || written < 0 ||
        static_cast<std::size_t>(written) >= sizeof tableName ||
        split.base.size() >= AVIVOKTimeLookupTime::kBaseNameSize) {
        printDirect("vok file name too long for a video lookup table %s \n", name);
        return -1;
    }
    printDirect("Loading vkt file %s \n", tableName);

    std::unique_ptr<std::FILE, FileCloser> file(openTableFile(tableName));
    if (!file) {
        if (!createAllowed) {
            printDirect("Cannot read file %s\n", tableName);
            return -1;
        }
        const std::string count = std::to_string(static_cast<unsigned long long>(n) + 1);
        // The command text is what the messages show; the converter itself
        // gets its arguments one by one, never through a command interpreter.
        char command[kNameBufferSize];
        std::snprintf(command, sizeof command, "%s %s %s", kConverterProgram, split.base.c_str(),
                      count.c_str());
        printDirect("creating lookup table file %s \n", command);
        // "/name.vok" lies in the root directory, not in the current one.
        const std::string directory = split.directory.empty() && split.separator != '\0'
                                          ? std::string(1, split.separator)
                                          : split.directory;
        if (runInDirectory(directory, {kConverterProgram, split.base, count}) != 0) {
            printDirect("failed to create lookup table. %s \n", command);
            return -1;
        }
        return loadTableOnce(name, n, false);
    }

    LookupState& s = state();
    dropTable();
    s.table = std::make_unique<AVIVOKTimeLookupTime>(n);
    if (!s.table->read(file.get())) {
        dropTable();
        return -1;
    }
    s.table->setLocation(split.directory.c_str(), split.base.c_str(), split.separator);
    printDirect("Done Loading vkt file %s \n", tableName);
    return 0;
}

}  // namespace

int loadTable(const char* name, std::uint32_t n, bool createAllowed) {
    const std::lock_guard<std::recursive_mutex> lock(g_lock);
    const int result = loadTableOnce(name, n, createAllowed);
    // A failed load leaves no table behind, not even an older one: frame
    // lookups must not answer from another recording's or video's table.
    if (result != 0) dropTable();
    return result;
}

std::uint32_t nextFrameTime() {
    const std::lock_guard<std::recursive_mutex> lock(g_lock);
    LookupState& s = state();
    s.current = nullptr;
    if (!s.table) return kNoTime;
    const LookupRecord* r1 = s.table->nextRecord();
    const LookupRecord* r2 = s.table->nextRecord();
    if (r1 == nullptr && r2 == nullptr) return kNoTime;
    if (r1 == nullptr || r2 == nullptr) {
        s.current = r1 != nullptr ? r1 : r2;
    } else if (r1->frameNumber() == r2->frameNumber()) {
        // One frame in two records: both are consumed, the earlier counts.
        s.current = r2->time() < r1->time() ? r2 : r1;
    } else {
        s.table->stepBack();
        s.current = r1;
    }
    return s.current->time();
}

int currentFrameNumber() {
    const std::lock_guard<std::recursive_mutex> lock(g_lock);
    const LookupRecord* r = state().current;
    return r != nullptr ? r->frameNumber() : -1;
}

const char* currentBaseName() {
    const std::lock_guard<std::recursive_mutex> lock(g_lock);
    const LookupState& s = state();
    return s.table ? s.table->baseName() : "";
}

const AVIVOKTimeLookupTime* currentTable() {
    const std::lock_guard<std::recursive_mutex> lock(g_lock);
    return state().table.get();
}

std::unique_lock<std::recursive_mutex> lockLookup() { return std::unique_lock<std::recursive_mutex>(g_lock); }

int frameForTime(std::uint32_t t) {
    const std::lock_guard<std::recursive_mutex> lock(g_lock);
    const LookupState& s = state();
    return s.table ? s.table->frameForTime(t) : -1;
}

std::string recordingNameOf(const AVIVOKTimeLookupTime& table) {
    std::string name = table.directory();
    if (table.separator() != '\0') name += table.separator();
    name += table.baseName();
    name += ".vok";
    return name;
}

int findFrameForRecordingTime(std::uint32_t n, std::uint32_t t) {
    const std::lock_guard<std::recursive_mutex> lock(g_lock);
    LookupState& s = state();
    if (!s.table) return -1;
    if (s.table->videoNumber() != n) {
        const std::string name = recordingNameOf(*s.table);
        if (loadTable(name.c_str(), n, false) != 0) return -1;
    }
    return s.table->frameForTime(t);
}

void dropTable() {
    const std::lock_guard<std::recursive_mutex> lock(g_lock);
    LookupState& s = state();
    s.current = nullptr;
    s.table.reset();
}

int runInDirectory(const std::string& directory, const std::vector<std::string>& arguments) {
    const std::lock_guard<std::recursive_mutex> lock(g_lock);
    LookupState& s = state();
    if (!s.searchPathExtended) {
        extendSearchPath();
        s.searchPathExtended = true;
    }
    if (directory.empty()) return platform::runProgram(arguments);
    std::error_code ec;
    if (!std::filesystem::is_directory(directory, ec)) {
        printDirect("Cannot change to directory %s\n", directory.c_str());
        return -1;
    }
    // The converter starts in the directory; the process stays where it is,
    // so that other threads' relative names keep their meaning.
    return platform::runProgramIn(directory, arguments);
}

}  // namespace vok::video

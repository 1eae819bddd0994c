// POSIX implementation of the platform layer.  File names are byte strings
// here, so a UTF-8 name opens as it is and needs no second, wide try.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Platform.h"

namespace vok::platform {

std::FILE* openForReading(const char* path) { return std::fopen(path, "rb"); }

std::FILE* openForReadingUtf8(const char*) { return nullptr; }

int seek(std::FILE* file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return -1;
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
}

std::int64_t fileSize(std::FILE* file) {
    struct stat st {};
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

namespace {
std::string tempDirectory() {
    const char* dir = std::getenv("TMPDIR");
    if (dir != nullptr && dir[0] != '\0') return dir;
#ifdef P_tmpdir
    return P_tmpdir;
#else
    return "/tmp";
#endif
}
}  // namespace

std::FILE* createTempFile(const char* prefix, std::string& name) {
    std::string pattern = tempDirectory();
    if (pattern.back() != '/') pattern += '/';
    pattern += prefix;
    pattern += "XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "w+b");
    if (file == nullptr) {
        close(fd);
        unlink(pattern.c_str());
        return nullptr;
    }
    name = pattern;
    return file;
}

bool removeFile(const char* path) { return std::remove(path) == 0; }

}  // namespace vok::platform

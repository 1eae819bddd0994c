// POSIX implementation of the platform layer.  File names are byte strings
// here, so a UTF-8 name opens as it is and needs no second, wide try.
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"

extern char** environ;

namespace vok::platform {

std::FILE* openForReading(const char* path) { return std::fopen(path, "rb"); }

std::FILE* openForReadingUtf8(const char*) { return nullptr; }

std::FILE* openTextForReading(const char* path) { return std::fopen(path, "r"); }

void endTextLine(std::string&) {}

const char* folderSeparators() { return "\\/"; }

int seek(std::FILE* file, std::uint64_t offset) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return -1;
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
}

std::int64_t fileSize(std::FILE* file) {
    struct stat st {};
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

const char* temporaryDirectoryVariable() { return "TMPDIR"; }

namespace {
std::string tempDirectory() {
    const char* dir = std::getenv(temporaryDirectoryVariable());
    if (dir != nullptr && dir[0] != '\0') return dir;
#ifdef P_tmpdir
    return P_tmpdir;
#else
    return "/tmp";
#endif
}
}  // namespace

std::FILE* createTempFile(const char* prefix, std::string& name, TempFileFailure&) {
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
    // Handing the name over allocates nothing, so the file cannot be left
    // behind unnamed when memory runs out.
    name = std::move(pattern);
    return file;
}

void adviseLargePages(void* data, std::size_t size) {
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHugePage - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

bool removeFile(const char* path) { return std::remove(path) == 0; }

std::string executablePath() {
#if defined(__APPLE__)
    std::uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::string path(size, '\0');
    if (size == 0 || _NSGetExecutablePath(path.data(), &size) != 0) return {};
    path.resize(std::strlen(path.c_str()));
    return path;
#else
    // The link names the executable the kernel started; it does not change
    // when the current directory does.
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        }
        if (buffer.size() >= 65536) return {};
        buffer.resize(buffer.size() * 2);
    }
#endif
}

char searchPathSeparator() { return ':'; }

bool setEnvironment(const char* name, const char* value) {
    return (value != nullptr ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

std::string currentDirectory() {
    std::vector<char> buffer(1024);
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
        if (errno != ERANGE || buffer.size() >= 65536) return {};
        buffer.resize(buffer.size() * 2);
    }
}

bool changeDirectory(const char* path) { return chdir(path) == 0; }

int runProgram(const std::vector<std::string>& arguments) { return runProgramIn(std::string(), arguments); }

int runProgramIn(const std::string& directory, const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments[0].empty()) return -1;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    // posix_spawnp searches PATH as the shell does, but no shell parses
    // the arguments.
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    // The child changes directory, the process does not.
    if (!directory.empty() && posix_spawn_file_actions_addchdir_np(&actions, directory.c_str()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, 0);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vok::platform

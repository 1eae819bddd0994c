#include "System.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace voktool {

std::string errorText(int error) { return std::generic_category().message(error); }

#if defined(_WIN32)

namespace {
long long writeSome(int fd, const char* data, std::size_t n) {
    return ::_write(fd, data, n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n));
}
}  // namespace

long long readFd(int fd, char* data, std::size_t n) {
    const unsigned chunk = n > (1u << 30) ? (1u << 30) : static_cast<unsigned>(n);
    return ::_read(fd, data, chunk);
}

bool rewindFd(int fd) { return ::_lseeki64(fd, 0, SEEK_SET) == 0; }
bool closeFd(int fd) { return ::_close(fd) == 0; }

int createFileFd(const std::string& path) {
    return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

int scratchFile() {
    char dir[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > sizeof dir || GetTempFileNameA(dir, "vok", 0, name) == 0)
        throw std::runtime_error("cannot create a temporary file");
    // Deleted by the system when closed, even when the process is killed.
    const int fd = ::_open(name, _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY | _O_TEMPORARY | _O_NOINHERIT,
                           _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        const int e = errno;
        DeleteFileA(name);
        throw std::runtime_error("cannot create a temporary file: " + errorText(e));
    }
    return fd;
}

bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    errno = EACCES;
    return false;
}

bool stderrIsTerminal() { return ::_isatty(2) != 0; }

int claimStandardOutput() {
    std::fflush(stdout);
    const int out = ::_dup(1);
    if (out < 0) return 1;
    ::_setmode(out, _O_BINARY);
    const int null = ::_open("NUL", _O_WRONLY);
    if (null >= 0) {
        ::_dup2(null, 1);
        ::_close(null);
    }
    return out;
}

#else

namespace {
long long writeSome(int fd, const char* data, std::size_t n) { return ::write(fd, data, n); }
}  // namespace

long long readFd(int fd, char* data, std::size_t n) {
    for (;;) {
        const ssize_t r = ::read(fd, data, n);
        if (r < 0 && errno == EINTR) continue;
        return r;
    }
}

bool rewindFd(int fd) { return ::lseek(fd, 0, SEEK_SET) == 0; }
bool closeFd(int fd) { return ::close(fd) == 0; }

int createFileFd(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

int scratchFile() {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = "/tmp";
    std::string name = (dir / "vok-XXXXXX").string();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot create a temporary file: " + errorText(errno));
    ::unlink(name.c_str());
    return fd;
}

bool replaceFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int claimStandardOutput() {
    std::fflush(stdout);
    const int out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (out < 0) return STDOUT_FILENO;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    return out;
}

#endif

bool writeFd(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        const long long w = writeSome(fd, data, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool removeFileQuietly(const std::string& path) {
    std::error_code ec;
    return std::filesystem::remove(path, ec);
}

// ---- interrupts -------------------------------------------------------------

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

#if defined(_WIN32)
BOOL WINAPI onConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    // The second one is left to the system, which ends the process.
    if (g_interrupted.exchange(true)) return FALSE;
    return TRUE;
}
#else
extern "C" void onSignal(int) { g_interrupted.store(true); }
#endif

}  // namespace

void installInterruptHandler() {
#if defined(_WIN32)
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // The next one ends the process as usual.
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#endif
}

bool interrupted() { return g_interrupted.load(std::memory_order_relaxed); }

}  // namespace voktool

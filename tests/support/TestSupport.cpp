#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/Platform.h"

namespace vok::test {

namespace {
std::vector<std::string> g_lines;
void collect(const char* text) { g_lines.emplace_back(text); }
}  // namespace

LogCapture::LogCapture() {
    g_lines.clear();
    vok_set_log_function(collect);
}
LogCapture::~LogCapture() { vok_set_log_function(nullptr); }
const std::vector<std::string>& LogCapture::lines() const { return g_lines; }
std::string LogCapture::text() const {
    std::string all;
    for (const auto& l : g_lines) all += l;
    return all;
}
bool LogCapture::contains(const std::string& needle) const {
    return text().find(needle) != std::string::npos;
}
void LogCapture::clear() { g_lines.clear(); }

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const char* base = std::getenv("VOKAPI_TEST_TMP");
    std::filesystem::path root = base != nullptr ? base : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(root);
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = root / ("t" + std::to_string(stamp) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const vokgen::VokWriter& writer) const {
    std::string p = (path_ / name).string();
    writer.writeFile(p);
    return p;
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
    std::string p = (path_ / name).string();
    std::ofstream out(p, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + p);
    return p;
}

OpenedRecording openWritten(const TempDir& dir, const vokgen::VokWriter& writer, int consistency) {
    static int counter = 0;
    const std::string path = dir.write("opened" + std::to_string(counter++) + ".vok", writer);
    LogCapture capture;
    int err = 99;
    OpenedRecording o;
    o.file.reset(vok_open_file(path.c_str(), consistency, 1, 1, &err));
    EXPECT_EQ(err, 0) << capture.text();
    o.log = capture.text();
    return o;
}

StderrToFile::StderrToFile(const std::string& path) {
    std::fflush(stderr);
#if defined(_WIN32)
    // _dup2 onto descriptor 2 also makes the file the process's standard
    // error handle, which CreateProcess hands on.
    saved_ = _dup(2);
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
        _dup2(fd, 2);
        _close(fd);
    }
#else
    saved_ = dup(2);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        dup2(fd, 2);
        close(fd);
    }
#endif
}

StderrToFile::~StderrToFile() {
    std::fflush(stderr);
    if (saved_ < 0) return;
#if defined(_WIN32)
    _dup2(saved_, 2);
    _close(saved_);
#else
    dup2(saved_, 2);
    close(saved_);
#endif
}

std::FILE* pipeStream(const std::string& bytes) {
    int ends[2];
#if defined(_WIN32)
    if (_pipe(ends, static_cast<unsigned>(bytes.size()) + 4096, _O_BINARY) != 0) return nullptr;
    const bool written = _write(ends[1], bytes.data(), static_cast<unsigned>(bytes.size())) ==
                         static_cast<int>(bytes.size());
    _close(ends[1]);
    std::FILE* f = written ? _fdopen(ends[0], "rb") : nullptr;
    if (f == nullptr) _close(ends[0]);
#else
    // The bytes must fit into the pipe's buffer (64 KiB on Linux).
    if (bytes.size() > 65536 || pipe(ends) != 0) return nullptr;
    const bool written = write(ends[1], bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(ends[1]);
    std::FILE* f = written ? fdopen(ends[0], "rb") : nullptr;
    if (f == nullptr) close(ends[0]);
#endif
    return f;
}

vokgen::VokWriter minimalRecording() {
    vokgen::VokWriter w;
    w.magic().standardPreamble(2, 4).endPreamble();
    w.u16(0);
    return w;
}

TempDirectoryOverride::TempDirectoryOverride(const std::filesystem::path& dir) {
    const char* variable = platform::temporaryDirectoryVariable();
    const char* old = std::getenv(variable);
    hadValue_ = old != nullptr;
    if (hadValue_) saved_ = old;
    platform::setEnvironment(variable, dir.string().c_str());
}

TempDirectoryOverride::~TempDirectoryOverride() {
    platform::setEnvironment(platform::temporaryDirectoryVariable(), hadValue_ ? saved_.c_str() : nullptr);
}

}  // namespace vok::test

// Helpers shared by the tests: a log capture, a temporary folder for
// recordings made by the writer, and shortcuts for opening them.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "VokWriter.h"
#include "vokapi.h"

namespace vok::test {

// The few expectations that differ by platform.
#if defined(_WIN32)
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// Sends the process's standard error (and so that of the programs it
// starts) to a new file while it lives.
class StderrToFile {
public:
    explicit StderrToFile(const std::string& path);
    ~StderrToFile();
    StderrToFile(const StderrToFile&) = delete;
    StderrToFile& operator=(const StderrToFile&) = delete;

private:
    int saved_ = -1;
};

// A read-only stream over bytes that is not a regular file (a pipe): its
// size cannot be told in advance.  nullptr when it cannot be made.
std::FILE* pipeStream(const std::string& bytes);

// Installs a log callback for its lifetime and collects every text.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::string>& lines() const;
    std::string text() const;  // all texts joined
    bool contains(const std::string& needle) const;
    void clear();
};

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes the writer's bytes to name inside the folder; returns the path.
    std::string write(const std::string& name, const vokgen::VokWriter& writer) const;
    std::string write(const std::string& name, const std::string& bytes) const;

private:
    std::filesystem::path path_;
};

// A recording with the usual head and an empty record stream.
vokgen::VokWriter minimalRecording();

// Closes a handle at the end of a scope.
struct FileCloser {
    void operator()(VOKFile* f) const { vok_close_file(f); }
};

// A recording opened from a writer's bytes, with what the library logged
// while opening it.
struct OpenedRecording {
    std::unique_ptr<VOKFile, FileCloser> file;
    std::string log;
};

// Writes the writer's bytes to a new file in dir and opens it with the given
// consistency argument; a failed open is reported as a test failure.
OpenedRecording openWritten(const TempDir& dir, const vokgen::VokWriter& writer, int consistency);

// Points the platform's temporary directory (TMPDIR, or TMP on Windows)
// somewhere else for a scope.
class TempDirectoryOverride {
public:
    explicit TempDirectoryOverride(const std::filesystem::path& dir);
    ~TempDirectoryOverride();
    TempDirectoryOverride(const TempDirectoryOverride&) = delete;
    TempDirectoryOverride& operator=(const TempDirectoryOverride&) = delete;

private:
    bool hadValue_ = false;
    std::string saved_;
};

}  // namespace vok::test

// Windows implementation of the platform layer: names in the system code
// page first, then UTF-8 through the wide-character open; temporary files in
// the directory GetTempPathA reports.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace vok::platform {

std::FILE* openForReading(const char* path) { return std::fopen(path, "rb"); }

std::FILE* openForReadingUtf8(const char* path) {
    if (!isValidUtf8(path)) return nullptr;
    std::size_t length = std::strlen(path);
    // Zero-filled, with room to spare, so the wide name stays terminated.
    std::vector<wchar_t> wide(length + 10, L'\0');
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, static_cast<int>(length),
                                wide.data(), static_cast<int>(wide.size() - 1));
    if (n <= 0) return nullptr;
    return _wfopen(wide.data(), L"rb");
}

std::FILE* openTextForReading(const char* path) { return std::fopen(path, "rb"); }

void endTextLine(std::string& line) {
    const std::size_t n = line.size();
    if (n >= 2 && line[n - 2] == '\r' && line[n - 1] == '\n') {
        line.erase(n - 2, 1);
    }
}

const char* folderSeparators() { return "\\"; }

int seek(std::FILE* file, std::uint64_t offset) {
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET);
}

std::int64_t fileSize(std::FILE* file) {
    // Only a file on disk has a size; pipes and devices do not.
    const int fd = _fileno(file);
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK) return -1;
    __int64 size = _filelengthi64(fd);
    return size < 0 ? -1 : static_cast<std::int64_t>(size);
}

// GetTempPathA looks at TMP, then TEMP, then the user's profile.
const char* temporaryDirectoryVariable() { return "TMP"; }

std::FILE* createTempFile(const char* prefix, std::string& name, TempFileFailure& failure) {
    char dir[2048];
    DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > sizeof dir) {
        failure.noDirectory = true;
        failure.systemError = static_cast<int>(GetLastError());
        return nullptr;
    }
    // GetTempFileNameA creates a new empty file with a unique number in its
    // name, but keeps only three characters of a prefix.  The file it made
    // is renamed to the whole prefix and the same unique part; the rename
    // fails rather than replace a file of that name, so the name stays
    // unique.
    // A number whose long name is taken keeps its short file until the end,
    // so that the next GetTempFileNameA moves on to another number.
    // Nothing below allocates once a file exists, so that running out of
    // memory cannot leave a file behind: names are built in fixed buffers
    // and the caller's name has its room before the first file is made.
    const std::size_t prefixLength = std::strlen(prefix);
    const std::size_t shortLength = std::min<std::size_t>(prefixLength, 3);
    char shortPrefix[4] = {};
    std::memcpy(shortPrefix, prefix, shortLength);
    constexpr int kAttempts = 100;
    std::vector<std::array<char, MAX_PATH>> taken;
    taken.reserve(kAttempts);
    name.reserve(n + prefixLength + MAX_PATH);
    auto release = [&taken] {
        for (const auto& t : taken) DeleteFileA(t.data());
    };
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::array<char, MAX_PATH> unique{};
        if (GetTempFileNameA(dir, shortPrefix, 0, unique.data()) == 0) break;
        const char* file = std::strrchr(unique.data(), '\\');
        file = file != nullptr ? file + 1 : unique.data();
        char candidate[sizeof dir + MAX_PATH];
        const int length = std::snprintf(candidate, sizeof candidate, "%.*s%s%s",
                                         static_cast<int>(file - unique.data()), unique.data(), prefix,
                                         file + std::min(std::strlen(file), shortLength));
        if (std::strlen(file) < shortLength || length < 0 || static_cast<std::size_t>(length) >= sizeof candidate) {
            DeleteFileA(unique.data());
            break;
        }
        if (!MoveFileA(unique.data(), candidate)) {
            const DWORD error = GetLastError();
            taken.push_back(unique);
            if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) continue;
            break;
        }
        release();
        // Open for reading and writing, truncated; shared like any file the
        // runtime opens, so that others may read it while it is open.
        std::FILE* f = std::fopen(candidate, "w+b");
        if (f == nullptr) {
            DeleteFileA(candidate);
            return nullptr;
        }
        name.assign(candidate, static_cast<std::size_t>(length));
        return f;
    }
    release();
    return nullptr;
}

void adviseLargePages(void*, std::size_t) {}

bool removeFile(const char* path) { return std::remove(path) == 0; }

std::string executablePath() {
    // The module handle of the main executable, not of this library.
    HMODULE self = GetModuleHandleA(nullptr);
    std::vector<char> buffer(MAX_PATH + 1);
    for (;;) {
        DWORD n = GetModuleFileNameA(self, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size() - 1) return std::string(buffer.data(), n);
        // A full buffer means the name was cut.
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

char searchPathSeparator() { return ';'; }

bool setEnvironment(const char* name, const char* value) {
    // The runtime's copy of the environment (getenv) and the process
    // environment block (CreateProcess, GetEnvironmentVariable) are both
    // updated; an empty value given to _putenv_s removes the variable.
    if (_putenv_s(name, value != nullptr ? value : "") != 0) return false;
    return SetEnvironmentVariableA(name, value) != 0;
}

std::string currentDirectory() {
    DWORD needed = GetCurrentDirectoryA(0, nullptr);
    if (needed == 0) return {};
    std::vector<char> buffer(needed + 1);
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0 || n >= buffer.size()) return {};
    return std::string(buffer.data(), n);
}

bool changeDirectory(const char* path) { return SetCurrentDirectoryA(path) != 0; }

namespace {

// Quotes one argument so that the child's runtime (CommandLineToArgvW
// rules) hands it over unchanged: backslashes are literal except before a
// quote, where each one is doubled.
std::string quoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string out = "\"";
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < arg.size() && arg[i] == '\\') {
            ++i;
            ++backslashes;
        }
        if (i == arg.size()) {
            out.append(backslashes * 2, '\\');
            break;
        }
        if (arg[i] == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        out.push_back(arg[i]);
    }
    out.push_back('"');
    return out;
}

}  // namespace

int runProgram(const std::vector<std::string>& arguments) { return runProgramIn(std::string(), arguments); }

int runProgramIn(const std::string& directory, const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments[0].empty()) return -1;
    // The program name is split off by CreateProcess itself, which knows
    // only quotes; a name cannot contain a quote.
    const std::string& program = arguments[0];
    if (program.find('"') != std::string::npos) return -1;
    std::string commandLine = "\"" + program + "\"";
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        commandLine += ' ';
        commandLine += quoteArgument(arguments[i]);
    }
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    // No application name: CreateProcess looks the program up (with ".exe"
    // added) in the host program's directory, the current directory, the
    // system directories and PATH.  No command interpreter runs.
    // The child starts in directory; the process keeps its own.
    if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    BOOL known = GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!known) return -1;
    return static_cast<int>(exitCode);
}

}  // namespace vok::platform

// What the library takes from the operating system, behind one small
// interface: file opening by UTF-8 name, 64-bit seeks and sizes, temporary
// files, deletion.  One implementation per platform (POSIX, Windows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vok::platform {

// Opens a file for binary reading by its name as given (the system code
// page); nullptr when that fails.
std::FILE* openForReading(const char* path);

// Second try for names that are UTF-8: opens through the platform's
// wide-character call.  nullptr when the name is not valid UTF-8, when the
// platform has no separate wide open (POSIX names are bytes), or when the
// open fails.
std::FILE* openForReadingUtf8(const char* path);

// Opens a text file for reading line by line.  It is opened in binary mode,
// so that the offsets of its lines (ftell) can be sought back to exactly:
// in the Windows text mode they cannot, for files whose lines end in a bare
// line feed.  endTextLine then ends each line read as the platform's text
// mode would.
std::FILE* openTextForReading(const char* path);

// Windows: a line that ends in carriage return and line feed ends in the
// line feed alone, as the text mode reads it.  POSIX: unchanged.
void endTextLine(std::string& line);

// The characters after which the folder part of a file name ends, where the
// library looks for files beside a recording: the backslash on Windows;
// the slash and, for names written on Windows, the backslash elsewhere.
const char* folderSeparators();

// Absolute seek; 0 on success.
int seek(std::FILE* file, std::uint64_t offset);

// Size of an open file in bytes, or -1 when it cannot be told.
std::int64_t fileSize(std::FILE* file);

// The environment variable the temporary directory is taken from first:
// TMP on Windows, TMPDIR elsewhere.
const char* temporaryDirectoryVariable();

// Creates a new, empty, uniquely named file whose name starts with prefix in
// the system temporary directory, open for reading and writing in binary
// mode.  On success returns the handle and stores the name; on failure
// returns nullptr and, when the system could not name its temporary
// directory, says so in failure (the caller reports it).
struct TempFileFailure {
    bool noDirectory = false;
    int systemError = 0;  // the system's error code for that
};
std::FILE* createTempFile(const char* prefix, std::string& name, TempFileFailure& failure);

// Tells the system that the bytes [data, data + size) of a large array
// that is about to be filled are best backed by huge pages, which cost one
// page fault for 2 MiB rather than one per 4 KiB.  Only advice: a system
// without them (or Windows, which needs a privilege for them) ignores it.
void adviseLargePages(void* data, std::size_t size);

// Deletes a file; true on success.
bool removeFile(const char* path);

// True when text is well-formed UTF-8.
bool isValidUtf8(const char* text);

// ---- processes: finding and running helper programs ----

// Full path of the process's main executable (not of this library); empty
// when the system cannot tell it.
std::string executablePath();

// The character that separates the entries of the program search path:
// ';' on Windows, ':' elsewhere.
char searchPathSeparator();

// Sets the environment variable name to value for this process and the
// programs it starts; a null value removes it.  True on success.
bool setEnvironment(const char* name, const char* value);

// Appends directory as the last entry of the PATH environment variable;
// false when PATH is unset or cannot be changed.
bool appendToSearchPath(const char* directory);

// The current working directory; empty when it cannot be read.
std::string currentDirectory();

// Changes the current working directory; true on success.
bool changeDirectory(const char* path);

// Runs a program with the given arguments and waits for it.  arguments[0]
// names the program, which is looked up on the search path as a command
// interpreter would; no command interpreter is involved, so spaces and
// shell characters in the arguments reach the program unchanged.  Standard
// input, output and error are inherited.  Returns the program's exit status,
// or -1 when it could not be started or did not end normally.
int runProgram(const std::vector<std::string>& arguments);

// The same, with the program started in directory (the current directory
// when empty).  The process's own current directory is not changed, so
// other threads' relative names keep their meaning.
int runProgramIn(const std::string& directory, const std::vector<std::string>& arguments);

}  // namespace vok::platform

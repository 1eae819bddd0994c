// Buffered output to a file descriptor, and the field encodings of the
// table formats (CSV, TSV, JSON Lines).
//
// Rows are formatted straight into one large buffer and written in big
// chunks, so a table costs a few system calls per megabyte rather than one
// stdio call per field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace voktool {

// A write to the output failed (disk full, closed pipe, ...).
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Output {
public:
    // Writes to fd; the descriptor is closed by close() or the destructor only
    // when `owned` is set.
    explicit Output(int fd, bool owned = false);
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Opens (creates or truncates) a file for writing; throws OutputError.
    static int openFile(const std::string& path);
    // A file that appears under path only when complete: it is written
    // under a temporary name beside it and renamed by close().  Destroyed
    // without close() (a failure, an interrupt), it leaves nothing behind,
    // and an older file of that name stays as it was.  Throws OutputError.
    static std::unique_ptr<Output> createFile(const std::string& path);

    // Room for at least n more bytes (flushing first when needed); returns
    // where to write them.  Hand the end of what was written to commit().
    char* reserve(std::size_t n) {
        if (static_cast<std::size_t>(end_ - pos_) < n) makeRoom(n);
        return pos_;
    }
    void commit(char* end) { pos_ = end; }

    void append(std::string_view text);
    // Writes everything buffered; throws OutputError.
    void flush();
    // Flushes and closes an owned descriptor, reporting a failed close.
    void close();
    // Bytes handed to the output so far, written or buffered.
    std::uint64_t total() const { return written_ + static_cast<std::uint64_t>(pos_ - data_.get()); }

private:
    static constexpr std::size_t kChunk = 1 << 20;
    void makeRoom(std::size_t n);

    int fd_;
    bool owned_;
    std::string partPath_, finalPath_;  // createFile: the temporary and the final name
    std::uint64_t written_ = 0;
    std::unique_ptr<char[]> data_;
    std::size_t capacity_ = 0;
    char* pos_ = nullptr;
    char* end_ = nullptr;
};

// Writes all of `data` to fd, retrying short writes; false on failure.
bool writeAll(int fd, const char* data, std::size_t size);

enum class Format { Csv, Tsv, Jsonl };

// ---- field encoders: each writes at p and returns the end ------------------

// Room a text of n bytes may need in any format.
constexpr std::size_t textRoom(std::size_t n) { return 6 * n + 8; }

// Text as one CSV/TSV field: quoted (with inner quotes doubled) when it holds
// the separator, a quote, a line end, or a leading or trailing blank that a
// reader might trim; as it is otherwise.
char* writeDelimitedText(char* p, std::string_view text, char separator);

// Text as a JSON string with its quotes.  Bytes that are not valid UTF-8 are
// replaced by U+FFFD so that the output stays valid JSON.
char* writeJsonString(char* p, std::string_view text);
std::string jsonQuoted(std::string_view text);

char* writeUInt(char* p, std::uint64_t value);
inline char* writeInt(char* p, std::int64_t value) {
    if (value < 0) {
        *p++ = '-';
        return writeUInt(p, static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(value));
    }
    return writeUInt(p, static_cast<std::uint64_t>(value));
}

// The shortest decimal that reads back as exactly `value` (at most 16
// characters).  Plain notation from 1e-5 to 1e16, exponent notation beyond.
char* writeFloat(char* p, float value);
// The same, without first trying whole numbers and tenths: for computed
// values (velocities), which seldom are either.
char* writeComputedFloat(char* p, float value);
char* writeDouble(char* p, double value);

}  // namespace voktool

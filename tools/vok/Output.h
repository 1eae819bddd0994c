// Buffered output to a file descriptor, and the field encodings of the
// table formats (CSV, TSV, JSON Lines).
//
// Rows are formatted into one growing buffer with fmt and written in large
// chunks, so a table costs a few system calls per megabyte rather than one
// stdio call per field.
#pragma once

#include <fmt/format.h>

#include <cstddef>
#include <cstdint>
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
    // Writes to fd; the descriptor is closed by the destructor only when
    // `owned` is set.
    explicit Output(int fd, bool owned = false) : fd_(fd), owned_(owned) {}
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Opens (creates or truncates) a file for writing.
    static int openFile(const std::string& path);

    fmt::memory_buffer& buffer() { return buffer_; }
    // Writes the buffer out once it holds a large chunk.
    void maybeFlush() {
        if (buffer_.size() >= kChunk) flush();
    }
    void append(std::string_view text) { buffer_.append(text.data(), text.data() + text.size()); }
    // Writes everything buffered; throws OutputError.
    void flush();
    // Flushes and closes an owned descriptor, reporting a failed close.
    void close();
    std::uint64_t bytesWritten() const { return written_; }

private:
    static constexpr std::size_t kChunk = 1 << 18;
    int fd_;
    bool owned_;
    std::uint64_t written_ = 0;
    fmt::memory_buffer buffer_;
};

// Writes all of `data` to fd, retrying short writes; false on failure.
bool writeAll(int fd, const char* data, std::size_t size);

enum class Format { Csv, Tsv, Jsonl };

// Appends text as one CSV/TSV field: quoted (with inner quotes doubled) when
// it holds the separator, a quote, a line end, or leading or trailing blanks
// that a reader might trim; as it is otherwise.
void appendDelimitedText(fmt::memory_buffer& out, std::string_view text, char separator);

// Appends text as a JSON string with its quotes.  Bytes that are not valid
// UTF-8 are replaced by U+FFFD so that the output stays valid JSON.
void appendJsonString(fmt::memory_buffer& out, std::string_view text);

// Appends the shortest decimal that reads back as exactly `value`.
inline void appendFloat(fmt::memory_buffer& out, float value) {
    fmt::format_to(fmt::appender(out), "{}", value);
}
inline void appendDouble(fmt::memory_buffer& out, double value) {
    fmt::format_to(fmt::appender(out), "{}", value);
}
inline void appendInt(fmt::memory_buffer& out, std::int64_t value) {
    const fmt::format_int f(value);
    out.append(f.data(), f.data() + f.size());
}
inline void appendUInt(fmt::memory_buffer& out, std::uint64_t value) {
    const fmt::format_int f(value);
    out.append(f.data(), f.data() + f.size());
}

}  // namespace voktool

// Byte streams under the record decoders.
//
// An InputStream keeps a window of the underlying bytes in a buffer and
// counts the bytes it has delivered, so the reading loop can note where each
// record starts and re-read it later.  The strict reads (byte, u16, u32,
// n bytes, line) are inline and touch the underlying source only when the
// buffer runs dry; they deliver exactly what they promise or log the read's
// message and raise "End of file Exception".  Multi-byte numbers are
// big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/Compiler.h"

namespace vok {

class InputStream {
public:
    virtual ~InputStream() = default;
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    // True once a read came up short because the source ended (cleared by a
    // successful seek), like the end-of-file flag of a C stream.
    bool atEnd() const { return eof_; }

    // Offset of the next unread byte from the start of the source.
    std::uint64_t position() const {
        return bufferOffset_ + static_cast<std::uint64_t>(cur_ - begin_);
    }

    // Reads up to count bytes; returns how many arrived.
    std::size_t read(void* buffer, std::size_t count) {
        if (VOK_LIKELY(static_cast<std::size_t>(end_ - cur_) >= count)) {
            copyOut(buffer, count);
            return count;
        }
        return readSlow(static_cast<std::uint8_t*>(buffer), count);
    }

    // Size of the source in bytes, -1 when unknown.
    virtual std::int64_t size() const { return -1; }

    // Moves to an absolute offset; the position becomes offset whatever the
    // source answers.  Returns 0 on success.
    int seek(std::uint64_t offset);

    // Reads one line of at most size - 1 bytes, keeping its line end, and
    // NUL-terminates it.  Returns the number of bytes consumed (which can
    // exceed the string length when the line holds NUL bytes), or -1 when
    // nothing could be read.
    long readLine(char* buffer, std::size_t size);

    // ---- strict reads ----
    std::uint8_t readByte() {
        if (VOK_LIKELY(cur_ < end_)) return *cur_++;
        return readByteSlow();
    }
    std::uint16_t readU16() {
        if (VOK_LIKELY(end_ - cur_ >= 2)) {
            std::uint16_t v = static_cast<std::uint16_t>((cur_[0] << 8) | cur_[1]);
            cur_ += 2;
            return v;
        }
        return readU16Slow();
    }
    std::int16_t readI16() { return static_cast<std::int16_t>(readU16()); }
    std::uint32_t readU32() {
        if (VOK_LIKELY(end_ - cur_ >= 4)) {
            std::uint32_t v = (static_cast<std::uint32_t>(cur_[0]) << 24) |
                              (static_cast<std::uint32_t>(cur_[1]) << 16) |
                              (static_cast<std::uint32_t>(cur_[2]) << 8) |
                              static_cast<std::uint32_t>(cur_[3]);
            cur_ += 4;
            return v;
        }
        return readU32Slow();
    }
    void readBytes(void* buffer, std::size_t count);
    // Skips count bytes with the one-byte read's failure message.
    void skipBytes(std::size_t count) {
        if (VOK_LIKELY(static_cast<std::size_t>(end_ - cur_) >= count)) {
            cur_ += count;
            return;
        }
        skipSlow(count);
    }
    std::size_t readLineStrict(char* buffer, std::size_t size);

    // Direct access to the bytes already in the buffer, for decoders that
    // check a whole record's size once and then read it without checks.
    std::size_t buffered() const { return static_cast<std::size_t>(end_ - cur_); }
    const std::uint8_t* bufferedBytes() const { return cur_; }
    void consumeBuffered(std::size_t count) { cur_ += count; }

protected:
    InputStream() = default;

    // Moves the source to offset and leaves an empty window there (or a
    // window holding offset); returns the source's answer, 0 on success.
    virtual int seekSource(std::uint64_t offset) = 0;

    // The window onto the source: [begin_, end_) holds the bytes starting at
    // bufferOffset_; cur_ is the next unread one.
    const std::uint8_t* begin_ = nullptr;
    const std::uint8_t* cur_ = nullptr;
    const std::uint8_t* end_ = nullptr;
    std::uint64_t bufferOffset_ = 0;
    bool eof_ = false;

    // Loads the bytes that follow the window into it, once the window is used
    // up; false when nothing arrived.
    virtual bool refill() = 0;

private:
    void copyOut(void* buffer, std::size_t count);
    std::size_t readSlow(std::uint8_t* buffer, std::size_t count);
    std::uint8_t readByteSlow();
    std::uint16_t readU16Slow();
    std::uint32_t readU32Slow();
    void skipSlow(std::size_t count);
};

// A stream that reads a C file through a private buffer (the C stream's own
// buffering is switched off), so the hot reads above never call into the C
// library.  It owns the file and closes it.
class BufferedFileStream : public InputStream {
public:
    static constexpr std::size_t kBufferSize = 64 * 1024;

    ~BufferedFileStream() override;

protected:
    BufferedFileStream() = default;

    // Takes over file, switches its buffering off and leaves an empty window
    // at offset 0.
    void attach(std::FILE* file);
    std::FILE* file() const { return file_; }

    // The read fault: when armed, logs the read error at offset and answers
    // true, and the stream then ends there like a cut file.
    static bool readFaultAt(std::uint64_t offset);

    // Reads up to count bytes from the file's offset into the window, which
    // then starts at offset; logs a read error when none arrived because of
    // one.  False when nothing arrived.
    bool fillWindow(std::uint64_t offset, std::size_t count);

    int seekSource(std::uint64_t offset) override;

private:
    std::FILE* file_ = nullptr;
    std::unique_ptr<std::uint8_t[]> buffer_;
};

// A stream over a recording's file.
class FileInputStream final : public BufferedFileStream {
public:
    // Opens path for binary reading: first as given, then (for UTF-8 names,
    // where the platform has a separate wide open) as UTF-8.  Logs
    // "fname = %s \n" before the second try and, when both fail,
    // "The file %s could not be opened\n", then raises
    // "File Could not be opened!".
    explicit FileInputStream(const char* path);
    // Takes over an open handle and moves it to the start of the file.
    explicit FileInputStream(std::FILE* file);

    std::FILE* handle() const { return file(); }
    std::int64_t size() const override;

protected:
    bool refill() override;
};

// A stream over bytes in memory that stay the caller's: nothing is copied,
// so they must outlive the stream.  The whole source is the window, so every
// read is a hot read and a seek costs nothing.
class MemoryViewStream : public InputStream {
public:
    MemoryViewStream(const void* data, std::size_t size) { view(static_cast<const std::uint8_t*>(data), size); }
    std::int64_t size() const override { return static_cast<std::int64_t>(size_); }

protected:
    MemoryViewStream() = default;
    void view(const std::uint8_t* data, std::size_t size);
    int seekSource(std::uint64_t offset) override;
    bool refill() override;

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// A stream over bytes in memory that it owns: a copy of the caller's
// buffer, or a body inflated into memory.
class MemoryInputStream final : public MemoryViewStream {
public:
    MemoryInputStream(const void* data, std::size_t size);
    explicit MemoryInputStream(std::vector<std::uint8_t>&& bytes);

private:
    std::vector<std::uint8_t> data_;
};

}  // namespace vok

#include "format/InputStream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/Log.h"
#include "core/VOKException.h"
#include "platform/FaultInjection.h"
#include "platform/Platform.h"

namespace vok {

namespace {
[[noreturn]] void endOfFile() { throw VOKException("End of file Exception"); }
}  // namespace

void InputStream::copyOut(void* buffer, std::size_t count) {
    if (count != 0) std::memcpy(buffer, cur_, count);
    cur_ += count;
}

std::size_t InputStream::readSlow(std::uint8_t* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        if (cur_ == end_ && !refill()) {
            eof_ = true;
            break;
        }
        std::size_t n = std::min(count - done, static_cast<std::size_t>(end_ - cur_));
        copyOut(buffer + done, n);
        done += n;
    }
    return done;
}

int InputStream::seek(std::uint64_t offset) {
    eof_ = false;
    std::uint64_t windowLength = static_cast<std::uint64_t>(end_ - begin_);
    if (begin_ != nullptr && offset >= bufferOffset_ && offset - bufferOffset_ <= windowLength) {
        cur_ = begin_ + (offset - bufferOffset_);
        return 0;
    }
    return seekSource(offset);
}

long InputStream::readLine(char* buffer, std::size_t size) {
    if (size == 0) return -1;
    std::size_t length = 0;
    bool sawAny = false;
    while (length + 1 < size) {
        if (cur_ == end_ && !refill()) {
            eof_ = true;
            break;
        }
        sawAny = true;
        std::size_t room = size - 1 - length;
        std::size_t avail = std::min(room, static_cast<std::size_t>(end_ - cur_));
        const void* nl = std::memchr(cur_, '\n', avail);
        std::size_t n = nl != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nl) - cur_) + 1
                                      : avail;
        std::memcpy(buffer + length, cur_, n);
        cur_ += n;
        length += n;
        if (nl != nullptr) break;
    }
    buffer[length] = '\0';
    if (!sawAny && length == 0 && size > 1) return -1;
    return static_cast<long>(length);
}

std::uint8_t InputStream::readByteSlow() {
    std::uint8_t b;
    if (readSlow(&b, 1) < 1) {
        log("error reading vok file 11\n");
        endOfFile();
    }
    return b;
}

std::uint16_t InputStream::readU16Slow() {
    std::uint8_t b[2];
    std::size_t r = readSlow(b, 2);
    if (r < 2) {
        log("error reading vok file 7a r = %d \n", static_cast<int>(r));
        endOfFile();
    }
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint32_t InputStream::readU32Slow() {
    std::uint8_t b[4];
    if (readSlow(b, 4) < 4) {
        log("error reading vok file 9\n");
        endOfFile();
    }
    return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
           (static_cast<std::uint32_t>(b[2]) << 8) | static_cast<std::uint32_t>(b[3]);
}

void InputStream::readBytes(void* buffer, std::size_t count) {
    if (read(buffer, count) < count) {
        log("error reading vok file 12\n");
        endOfFile();
    }
}

void InputStream::skipSlow(std::size_t count) {
    while (count > 0) {
        if (cur_ == end_ && !refill()) {
            eof_ = true;
            log("error reading vok file 11\n");
            endOfFile();
        }
        std::size_t n = std::min(count, static_cast<std::size_t>(end_ - cur_));
        cur_ += n;
        count -= n;
    }
}

std::size_t InputStream::readLineStrict(char* buffer, std::size_t size) {
    long n = readLine(buffer, size);
    if (n < 0) {
        log("error reading vok file 6\n");
        endOfFile();
    }
    return static_cast<std::size_t>(n);
}

// ---------------------------------------------------------------------------

BufferedFileStream::~BufferedFileStream() {
    if (file_ != nullptr) std::fclose(file_);
}

void BufferedFileStream::attach(std::FILE* file) {
    file_ = file;
    std::setvbuf(file_, nullptr, _IONBF, 0);
    buffer_.reset(new std::uint8_t[kBufferSize]);
    begin_ = cur_ = end_ = buffer_.get();
}

bool BufferedFileStream::readFaultAt(std::uint64_t offset) {
    // A failed read ends the stream where it failed, like a cut file: strict
    // reading then fails, tolerant reading keeps the records before it.
    if (VOK_LIKELY(!fault::shouldFail(fault::Point::Read))) return false;
    log("Read error in the recording at byte %llu\n", static_cast<unsigned long long>(offset));
    return true;
}

bool BufferedFileStream::fillWindow(std::uint64_t offset, std::size_t count) {
    std::size_t n = 0;
    if (count != 0) {
        n = std::fread(buffer_.get(), 1, count, file_);
        if (VOK_UNLIKELY(n == 0 && std::ferror(file_) != 0)) {
            log("Read error in the recording at byte %llu\n", static_cast<unsigned long long>(offset));
        }
    }
    bufferOffset_ = offset;
    begin_ = cur_ = buffer_.get();
    end_ = begin_ + n;
    return n > 0;
}

int BufferedFileStream::seekSource(std::uint64_t offset) {
    std::clearerr(file_);
    int result = platform::seek(file_, offset);
    bufferOffset_ = offset;
    begin_ = cur_ = end_ = buffer_.get();
    return result;
}

FileInputStream::FileInputStream(const char* path) {
    std::FILE* file = platform::openForReading(path);
    if (file == nullptr) {
        log("fname = %s \n", path);
        std::fflush(nullptr);
        file = platform::openForReadingUtf8(path);
    }
    if (file == nullptr) {
        log("The file %s could not be opened\n", path);
        throw VOKException("File Could not be opened!");
    }
    attach(file);
}

FileInputStream::FileInputStream(std::FILE* file) {
    platform::seek(file, 0);
    attach(file);
}

std::int64_t FileInputStream::size() const { return platform::fileSize(file()); }

bool FileInputStream::refill() {
    const std::uint64_t offset = position();
    if (VOK_UNLIKELY(readFaultAt(offset))) return false;
    return fillWindow(offset, kBufferSize);
}

// ---------------------------------------------------------------------------

void MemoryViewStream::view(const std::uint8_t* data, std::size_t size) {
    data_ = data;
    size_ = size;
    bufferOffset_ = 0;
    begin_ = cur_ = data_;
    end_ = data_ + size_;
}

bool MemoryViewStream::refill() {
    // The whole source is the window; nothing follows it.
    return false;
}

int MemoryViewStream::seekSource(std::uint64_t offset) {
    if (offset <= size_) {
        bufferOffset_ = 0;
        begin_ = data_;
        cur_ = begin_ + offset;
        end_ = begin_ + size_;
        return 0;
    }
    // Past the end: an empty window that remembers the requested position.
    bufferOffset_ = offset;
    begin_ = cur_ = end_ = data_ + size_;
    return 0;
}

MemoryInputStream::MemoryInputStream(const void* data, std::size_t size)
    : data_(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size) {
    view(data_.data(), data_.size());
}

MemoryInputStream::MemoryInputStream(std::vector<std::uint8_t>&& bytes) : data_(std::move(bytes)) {
    view(data_.data(), data_.size());
}

}  // namespace vok

#include "format/Inflate.h"

#include <zlib.h>

#include <atomic>
#include <system_error>
#include <utility>
#include <vector>

#include "core/Log.h"
#include "core/VOKException.h"
#include "platform/FaultInjection.h"
#include "platform/Platform.h"

namespace vok {

namespace {
constexpr std::size_t kChunk = 16384;
constexpr std::size_t kTempNameRoom = 4096;

std::atomic<std::uint64_t> g_inflatedSizeLimit{kMaxInflatedSize};  // lowered by tests

// Owns an initialised inflate stream and its two buffers.
class Inflater {
public:
    Inflater() : in_(new unsigned char[kChunk]), out_(new unsigned char[kChunk]) {}
    ~Inflater() {
        if (initialised_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    int init() {
        int result = inflateInit(&stream_);
        initialised_ = result == Z_OK;
        return result;
    }

    // Inflates what read() delivers (a count, 0 at the end of the input, or
    // kInflateIoError) into write() (false when it failed), at most limit
    // bytes.
    template <class Read, class Write>
    int run(Read&& read, Write&& write, std::uint64_t limit) {
        std::uint64_t total = 0;  // stays below limit, or 0 when limit is 0
        for (;;) {
            const long got = read(in_.get(), kChunk);
            if (got < 0) return kInflateIoError;
            if (got == 0) return Z_DATA_ERROR;  // input used up before the stream's end
            stream_.next_in = in_.get();
            stream_.avail_in = static_cast<uInt>(got);
            do {
                stream_.next_out = out_.get();
                stream_.avail_out = static_cast<uInt>(kChunk);
                int result = inflate(&stream_, Z_NO_FLUSH);
                // What was produced before a failure is written too: it
                // precedes the damage.
                std::size_t have = kChunk - stream_.avail_out;
                if (have != 0) {
                    if (have >= limit - total) return kInflateTooLarge;
                    if (!write(out_.get(), have)) return kInflateIoError;
                    total += have;
                }
                switch (result) {
                    case Z_STREAM_END: return kInflateOk;
                    case Z_NEED_DICT: return Z_DATA_ERROR;
                    case Z_OK:
                    case Z_BUF_ERROR: break;
                    default: return result;
                }
            } while (stream_.avail_out == 0);
        }
    }

private:
    z_stream stream_{};
    bool initialised_ = false;
    std::unique_ptr<unsigned char[]> in_;
    std::unique_ptr<unsigned char[]> out_;
};
}  // namespace

namespace {
// Inflates in into out; published(total) follows every piece written and
// answers false to stop the inflater.
template <class Published>
int inflateFile(std::FILE* in, std::FILE* out, std::uint64_t limit, Published&& published) {
    Inflater inflater;
    int result = inflater.init();
    if (result != Z_OK) return result;
    const auto read = [in](unsigned char* buffer, std::size_t count) -> long {
        if (fault::shouldFail(fault::Point::Read)) return kInflateIoError;
        const std::size_t got = std::fread(buffer, 1, count, in);
        // A short read is the end of the file or an error; a runtime that
        // flags neither (Wine's, reading a stream opened for writing)
        // failed to read.
        if (std::ferror(in) || (got < count && !std::feof(in))) return kInflateIoError;
        return static_cast<long>(got);
    };
    std::uint64_t total = 0;
    const auto write = [out, &total, &published](const unsigned char* buffer, std::size_t count) {
        if (fault::shouldFail(fault::Point::TempWrite)) return false;
        if (std::fwrite(buffer, 1, count, out) != count) return false;
        total += count;
        return published(total);
    };
    return inflater.run(read, write, limit);
}
}  // namespace

int inflateBody(std::FILE* in, std::FILE* out, std::uint64_t limit) {
    return inflateFile(in, out, limit, [](std::uint64_t) { return true; });
}

std::uint64_t inflatedSizeLimit() { return g_inflatedSizeLimit.load(std::memory_order_relaxed); }

std::uint64_t setInflatedSizeLimit(std::uint64_t limit) {
    const std::uint64_t previous = g_inflatedSizeLimit.exchange(limit, std::memory_order_relaxed);
    return previous;
}

std::unique_ptr<InputStream> inflateToMemory(InputStream& recording) {
    Inflater inflater;
    int result = inflater.init();
    std::vector<std::uint8_t> body;
    if (result == Z_OK) {
        const auto read = [&recording](unsigned char* buffer, std::size_t count) -> long {
            return static_cast<long>(recording.read(buffer, count));
        };
        const auto write = [&body](const unsigned char* buffer, std::size_t count) {
            body.insert(body.end(), buffer, buffer + count);
            return true;
        };
        result = inflater.run(read, write, g_inflatedSizeLimit);
    }
    VOK_CHECK(result != kInflateTooLarge, "Decompressed recording is larger than 4 GiB \n");
    VOK_CHECK(result == kInflateOk || result == Z_DATA_ERROR, "Failed to decompress the recording: zlib error %d \n",
              result);
    body.shrink_to_fit();
    return std::make_unique<MemoryInputStream>(std::move(body));
}

InflatingFileStream::InflatingFileStream(std::unique_ptr<FileInputStream> recording, std::string& tempFileName)
    : recording_(std::move(recording)) {
    tempFileName.reserve(kTempNameRoom);
    platform::TempFileFailure failure;
    out_.reset(fault::shouldFail(fault::Point::TempCreate) ? nullptr
                                                           : platform::createTempFile("vokapi_", tempFileName, failure));
    if (failure.noDirectory) log("GetTempPath failed (%d)\n", failure.systemError);
    VOK_CHECK(out_ != nullptr, "Failed to create temp file \n");
    std::setvbuf(out_.get(), nullptr, _IONBF, 0);
    // A second handle for reading, with its own offset: the inflater's
    // writes reach the file unbuffered, so what it has published can be
    // read through this one.
    std::FILE* in = platform::openForReading(tempFileName.c_str());
    VOK_CHECK(in != nullptr, "Failed to create temp file \n");
    attach(in);

    std::FILE* body = recording_->handle();
    std::clearerr(body);
    VOK_CHECK(platform::seek(body, recording_->position()) == 0, "Failed to read compressed recording \n");
    try {
        thread_ = std::thread([this] { inflate(); });
    } catch (const std::system_error&) {
        inflate();  // no second thread to be had: inflate first, then read
    }
}

InflatingFileStream::~InflatingFileStream() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        cancelled_ = true;
    }
    if (thread_.joinable()) thread_.join();
}

void InflatingFileStream::inflate() {
    int result;
    try {
        result = inflateFile(recording_->handle(), out_.get(), inflatedSizeLimit(), [this](std::uint64_t total) {
            std::lock_guard<std::mutex> hold(lock_);
            written_ = total;
            if (wanted_ != 0 && written_ >= wanted_) changed_.notify_one();
            return !cancelled_;
        });
        if ((result == kInflateOk || result == Z_DATA_ERROR) &&
            (fault::shouldFail(fault::Point::TempWrite) || std::fflush(out_.get()) != 0)) {
            result = kInflateIoError;
        }
    } catch (...) {
        result = Z_MEM_ERROR;  // the inflater's buffers could not be had
    }
    out_.reset();
    std::lock_guard<std::mutex> hold(lock_);
    done_ = true;
    result_ = result;
    changed_.notify_all();
}

void InflatingFileStream::finish() {
    int result;
    {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [this] { return done_; });
        result = result_;
    }
    if (thread_.joinable()) thread_.join();
    // A damaged or truncated body is not a failure: what was inflated before
    // the damage is loaded.  A body too large to index fails, and so does
    // anything that would load less than the body holds: a failed read of
    // the recording, a failed write of the temporary file, zlib without
    // memory.
    VOK_CHECK(result != kInflateTooLarge, "Decompressed recording is larger than 4 GiB \n");
    VOK_CHECK(result != kInflateIoError, "Failed to decompress the recording into a temp file \n");
    VOK_CHECK(result == kInflateOk || result == Z_DATA_ERROR, "Failed to decompress the recording: zlib error %d \n",
              result);
}

std::int64_t InflatingFileStream::size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return done_ ? platform::fileSize(file()) : -1;
}

bool InflatingFileStream::refill() {
    const std::uint64_t offset = position();
    if (VOK_UNLIKELY(readFaultAt(offset))) return false;
    std::uint64_t available;
    {
        // A whole buffer's worth, or what there is once the inflater ended.
        std::unique_lock<std::mutex> hold(lock_);
        wanted_ = offset + kBufferSize;
        changed_.wait(hold, [this] { return done_ || written_ >= wanted_; });
        wanted_ = 0;
        if (done_ && result_ != kInflateOk && result_ != Z_DATA_ERROR) throw InflateFailure{};
        available = written_ > offset ? written_ - offset : 0;
    }
    // The file grows while it is read: forget an end met before.
    if (available != 0) std::clearerr(file());
    return fillWindow(offset, available < kBufferSize ? static_cast<std::size_t>(available) : kBufferSize);
}

std::unique_ptr<InputStream> inflateRecordStream(std::unique_ptr<InputStream> recording, std::string& tempFileName) {
    if (auto* file = dynamic_cast<FileInputStream*>(recording.get())) {
        recording.release();
        return std::make_unique<InflatingFileStream>(std::unique_ptr<FileInputStream>(file), tempFileName);
    }
    return inflateToMemory(*recording);
}

}  // namespace vok

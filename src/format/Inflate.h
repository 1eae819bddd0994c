// The compressed variant of a recording: its magic line and preamble are
// plain text, everything after "ENDP:\n" is one zlib stream (zlib format,
// not gzip, not raw deflate) whose inflated content is the ordinary record
// stream.  Opening inflates it once, into a temporary file for a recording
// read from a file (in a second thread, while the reading loop indexes what
// is already there), into memory for one read from memory, and from then on
// reads the result like a plain recording, with seeks and re-reads.
#pragma once

#include <cstdint>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "format/InputStream.h"

namespace vok {

// Results of inflateBody besides zlib's own negative codes (Z_DATA_ERROR,
// Z_MEM_ERROR, Z_VERSION_ERROR, Z_STREAM_ERROR).
constexpr int kInflateOk = 0;
constexpr int kInflateIoError = -1;
constexpr int kInflateTooLarge = -100;

// Item positions are 32-bit with the all-ones value reserved, so an inflated
// body must stay below this many bytes.
constexpr std::uint64_t kMaxInflatedSize = 0xFFFFFFFFull;

// Inflates one zlib stream read from in, starting at in's current offset,
// and appends the result to out at its current offset, 16 KiB at a time.
// Returns:
//   kInflateOk        the stream ended properly (bytes after its end are
//                     ignored);
//   Z_DATA_ERROR      the stream is damaged, truncated, empty, or asks for a
//                     preset dictionary;
//   other zlib codes  zlib could not start or ran out of memory;
//   kInflateIoError   reading in or writing out failed;
//   kInflateTooLarge  the output would reach limit bytes.
// Whatever the result, out holds exactly the bytes inflated before the
// failure was found, except for kInflateTooLarge, where the piece that would
// reach the limit is not written.
int inflateBody(std::FILE* in, std::FILE* out, std::uint64_t limit = kMaxInflatedSize);

// The bound opening applies to an inflated body (kMaxInflatedSize unless
// changed).  Library-wide; tests lower it to reach the size failure without
// writing 4 GiB.  The setter returns the previous bound.
std::uint64_t inflatedSizeLimit();
std::uint64_t setInflatedSizeLimit(std::uint64_t limit);

// A stream over the temporary file "vokapi_..." in the system temporary
// directory that a second thread is inflating the body into: the reading
// loop indexes the bytes already written while the rest is inflated.  Reads wait for the inflater; they end where the
// inflated body ends (at its damage, for a damaged body).  When the inflater
// fails, a read that reaches the end of what it wrote raises InflateFailure,
// which is no VOKException, so that no reading policy takes it for damage;
// finish() then reports the failure.
class InflatingFileStream final : public BufferedFileStream {
public:
    // Unwinds the reading loop when the inflater failed; finish() tells why.
    struct InflateFailure {};

    // Creates the temporary file (its name stored in tempFileName as soon as
    // it exists) and starts inflating the body of recording, which stands
    // just after the preamble, into it.  Raises "Failed to create temp file
    // \n" or "Failed to read compressed recording \n".
    InflatingFileStream(std::unique_ptr<FileInputStream> recording, std::string& tempFileName);
    // Stops the inflater if it still runs, and closes both files.
    ~InflatingFileStream() override;

    // Waits for the inflater to end.  Raises "Decompressed recording is
    // larger than 4 GiB \n" when the body exceeds inflatedSizeLimit(),
    // "Failed to decompress the recording into a temp file \n" when a read
    // of the recording or a write of the file failed, and "Failed to
    // decompress the recording: zlib error %d \n" when zlib could not work.
    // A damaged or truncated body is no failure: the file holds what came
    // before the damage.
    void finish();

    // The file's size once finish() returned, -1 before.
    std::int64_t size() const override;

protected:
    bool refill() override;

private:
    void inflate();

    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    using File = std::unique_ptr<std::FILE, FileCloser>;

    std::unique_ptr<FileInputStream> recording_;  // read by the inflater only
    File out_;  // the inflater's handle, closed when it ends; file() reads

    // Shared with the inflater, under lock_.
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::uint64_t written_ = 0;   // bytes of the file written whole
    std::uint64_t wanted_ = 0;    // what a waiting read waits for; 0 none
    bool done_ = false;
    bool cancelled_ = false;
    int result_ = kInflateOk;  // the inflater's result once done
    std::thread thread_;
};

// The same for a recording in memory (or any other source): the body is
// inflated into memory, with the same bound and the same treatment of a
// damaged or truncated body.  Raises "Decompressed recording is larger than
// 4 GiB \n" beyond the bound and "Failed to decompress the recording: zlib
// error %d \n" when zlib cannot work.
std::unique_ptr<InputStream> inflateToMemory(InputStream& recording);

// The step of opening: a file's body goes to a temporary file that a second
// thread fills while the stream returned reads it (InflatingFileStream),
// any other source's into memory (inflateToMemory).
std::unique_ptr<InputStream> inflateRecordStream(std::unique_ptr<InputStream> recording, std::string& tempFileName);

}  // namespace vok

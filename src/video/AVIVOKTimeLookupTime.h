// The video frame lookup table: which frame of a recorded video was shown at
// which time of the recording clock.  A table file (".vkt") holds a record
// count, a magic number and 12-byte records, all little-endian:
//
//   offset 0   i32  record count (below 1: an empty table)
//   offset 4   u32  magic 0xAE5A1000 (bytes 00 10 5A AE)
//   offset 8   12-byte records in ascending time order:
//              u32 frame word (bits 0-30 the frame number, bit 31 ignored)
//              u32 base time (ms)
//              u16 correction word (bits 0-12 the correction d in ms;
//                  bit 13 set: subtract d, else add it; bits 14-15 ignored)
//              u16 padding
//
// A frame may occupy two consecutive records.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace vok::video {

inline constexpr std::uint32_t kLookupMagic = 0xAE5A1000u;
// "No time": the end of a table, or a time not known yet.
inline constexpr std::uint32_t kNoTime = 0xFFFFFFFFu;
inline constexpr std::size_t kLookupHeaderSize = 8;
inline constexpr std::size_t kLookupRecordSize = 12;

struct LookupRecord {
    std::uint32_t frameWord = 0;
    std::uint32_t baseTime = 0;
    std::uint16_t correction = 0;
    std::uint16_t padding = 0;

    static constexpr std::uint16_t kCorrectionMask = 0x1FFF;
    static constexpr std::uint16_t kSubtract = 0x2000;

    int frameNumber() const { return static_cast<int>(frameWord & 0x7FFFFFFFu); }
    // The base time corrected by d, in 32-bit arithmetic.
    std::uint32_t time() const {
        std::uint32_t d = correction & kCorrectionMask;
        return (correction & kSubtract) != 0 ? baseTime - d : baseTime + d;
    }
};
static_assert(sizeof(LookupRecord) == kLookupRecordSize, "a lookup record is 12 bytes");

// Decodes one record from its 12 file bytes (little-endian).
LookupRecord decodeLookupRecord(const unsigned char* bytes);
// Encodes one record into 12 file bytes (little-endian).
void encodeLookupRecord(const LookupRecord& record, unsigned char* bytes);

// The in-memory table of one video.  Besides the records it keeps where the
// recording is (directory and base name, split from the recording file name
// when the table was loaded) so that the table of another video of the same
// recording can be found again.
class AVIVOKTimeLookupTime {
public:
    static constexpr std::size_t kBaseNameSize = 20;  // 19 characters and the NUL
    static constexpr std::size_t kDirectorySize = 1024;

    explicit AVIVOKTimeLookupTime(std::uint32_t videoNumber);
    virtual ~AVIVOKTimeLookupTime();
    AVIVOKTimeLookupTime(const AVIVOKTimeLookupTime&) = delete;
    AVIVOKTimeLookupTime& operator=(const AVIVOKTimeLookupTime&) = delete;

    // Reads a whole table file from its start.  Writes the reason of a
    // failure to standard output and returns false; the records are then
    // unspecified and the table must not be used.  A count that the file
    // cannot hold fails as a short record without allocating for it.
    bool read(std::FILE* file);

    // The frame number of a record within 30 ms of t, found by bisection
    // over the whole table, or -1: no records, t outside the table's first
    // and last times, or no record near enough on the bisection's path.
    // Times are compared in 64 bits, so t +- 30 never wraps.  Does not touch
    // the iteration state.
    int frameForTime(std::uint32_t t) const;

    // Frame iteration: the record at the read position, which then
    // advances; nullptr at the end.
    const LookupRecord* nextRecord();
    // Moves the read position back by one record (not below 0).
    void stepBack();

    std::uint32_t recordCount() const { return static_cast<std::uint32_t>(records_.size()); }
    const std::vector<LookupRecord>& records() const { return records_; }
    std::int32_t readPosition() const { return readPosition_; }
    std::uint32_t videoNumber() const { return videoNumber_; }

    // Where the recording is: set after a successful read.
    const char* baseName() const { return baseName_; }
    const char* directory() const { return directory_; }
    // The separator found between directory and base name ('\0' when the
    // name had none), used again when a recording name is rebuilt.
    char separator() const { return separator_; }
    // Stores the split name; false (nothing stored) when a part does not
    // fit its buffer.
    bool setLocation(const char* directory, const char* baseName, char separator);

private:
    std::int32_t readPosition_ = 0;
    std::vector<LookupRecord> records_;
    char baseName_[kBaseNameSize] = {};
    std::uint32_t videoNumber_ = 0;
    char directory_[kDirectorySize] = {};
    char separator_ = '\0';
};

}  // namespace vok::video

// The lookup table that maps recording times to the frames of a video, and
// its file (".vkt"), little-endian:
//
//   i32 record count, u32 magic 0xAE5A1000, then per record:
//   u32 frame word, u32 base time (ms), u16 correction word, u16 padding
//
// A record's time is its base time plus the correction d (bits 0-12 of the
// correction word), or minus d when bit 13 is set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace avi2vkt {

inline constexpr std::uint32_t kTableMagic = 0xAE5A1000u;
inline constexpr std::uint16_t kCorrectionMask = 0x1FFF;
inline constexpr std::uint16_t kSubtract = 0x2000;

struct FrameRecord {
    std::uint32_t frameWord = 0;
    std::uint32_t baseTime = 0;
    std::uint16_t correction = 0;

    std::uint32_t time() const {
        const std::uint32_t d = correction & kCorrectionMask;
        return (correction & kSubtract) != 0 ? baseTime - d : baseTime + d;
    }
};

// A record for frame at time, with the given base time: the difference goes
// into the correction word (subtracting when time lies below the base).
// False when the difference is above 8191 ms.
bool makeRecord(std::uint32_t frame, std::uint32_t baseTime, std::uint32_t time, FrameRecord& record);

// The records of a video of frameCount frames, microSecPerFrame apart,
// whose first frame is shown at blockStart (ms).  Frame i is shown at
// blockStart + round(i * period), the period in ms being
// microSecPerFrame / 1000: its base time is blockStart + floor(i * period)
// and its correction the rounded sub-millisecond rest (0 or 1 ms), so the
// table keeps the exact frame rate without drift.  False with a reason
// when the period is 0 or the last frame would lie beyond the 32-bit
// recording clock.
bool frameRecords(std::uint32_t blockStart, std::uint32_t microSecPerFrame, std::uint32_t frameCount,
                  std::vector<FrameRecord>& records, std::string& error);

// The table file's bytes.
std::vector<unsigned char> tableBytes(const std::vector<FrameRecord>& records);

// Writes the table to path through a temporary file beside it, renamed into
// place at the end, so that no partial table is ever seen under the name.
bool writeTable(const std::string& path, const std::vector<FrameRecord>& records, std::string& error);

}  // namespace avi2vkt

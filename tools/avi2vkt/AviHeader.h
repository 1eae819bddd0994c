// Reads the main header of an AVI file: the RIFF form "AVI " whose first
// list, 'hdrl', holds the 'avih' main header (microseconds per frame, total
// frames).  Files over the first RIFF's size limit carry the full frame
// count in an OpenDML 'dmlh' header inside 'hdrl', which is preferred then.
// All numbers are little-endian; every chunk size is checked against its
// enclosing chunk and the file.
#pragma once

#include <cstdint>
#include <string>

namespace avi2vkt {

struct AviHeader {
    std::uint32_t microSecPerFrame = 0;
    std::uint32_t totalFrames = 0;       // the count used: 'dmlh' when larger
    std::uint32_t mainHeaderFrames = 0;  // 'avih' count (first RIFF only)
    std::uint32_t streams = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint64_t fileSize = 0;
};

// Size of the 'avih' chunk as the format defines it.
inline constexpr std::uint32_t kMainHeaderSize = 56;
// Largest 'hdrl' list read into memory.
inline constexpr std::uint32_t kMaxHeaderListSize = 64u << 20;

// Reads the header of the AVI file at path.  On failure returns false with
// a one-line reason in error.
bool readAviHeader(const std::string& path, AviHeader& header, std::string& error);

}  // namespace avi2vkt

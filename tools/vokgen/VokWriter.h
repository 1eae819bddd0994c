// Writes recordings byte for byte in the recording format, for tests,
// benchmarks, fuzzing seeds and demos.  Every test recording is made with
// this writer; none is checked in as a binary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vokgen {

// The accepted first lines of a recording.
enum class Magic {
    Plain7700,          // "ZK_MORAVELT_7700FILE\n"
    Plain7700Crlf,      // "ZK_MORAVELT_7700FILE\r\n"
    Combined,           // "ZK_MORAVELT_COMBFILE\n"
    CombinedCrlf,       // "ZK_MORAVELT_COMBFILE\r\n"
    Compressed,         // "ZK_MORAVELT_7700FILE ZIP\n"
    CompressedCrlf,     // "ZK_MORAVELT_7700FILE ZIP\r\n"
};

const char* magicLine(Magic magic);

class VokWriter {
public:
    // ---- text head ----
    VokWriter& magic(Magic m = Magic::Plain7700);
    // Appends one preamble line; a line end is added unless the text ends
    // with one.
    VokWriter& preambleLine(std::string_view text);
    // The usual head lines: a source line for the tracker revision (2 "MK",
    // 3 "RX", anything else none) and a version line for the revision (0
    // none).
    VokWriter& standardPreamble(int trackerRevision = 2, int revision = 4);
    VokWriter& endPreamble();  // "ENDP:\n"

    // ---- raw bytes, big-endian numbers ----
    VokWriter& raw(std::string_view bytes);
    VokWriter& u8(std::uint8_t v);
    VokWriter& u16(std::uint16_t v);
    VokWriter& i16(std::int16_t v) { return u16(static_cast<std::uint16_t>(v)); }
    VokWriter& u32(std::uint32_t v);

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    // Offset where the record stream starts (just after "ENDP:\n"); 0 before.
    std::size_t bodyOffset() const { return bodyOffset_; }

    // Writes the bytes to path; throws std::runtime_error on failure.
    void writeFile(const std::string& path) const;

protected:
    std::vector<std::uint8_t> bytes_;
    std::size_t bodyOffset_ = 0;
};

}  // namespace vokgen

#include "VokWriter.h"

#include <cstdio>
#include <stdexcept>

namespace vokgen {

const char* magicLine(Magic magic) {
    switch (magic) {
        case Magic::Plain7700: return "ZK_MORAVELT_7700FILE\n";
        case Magic::Plain7700Crlf: return "ZK_MORAVELT_7700FILE\r\n";
        case Magic::Combined: return "ZK_MORAVELT_COMBFILE\n";
        case Magic::CombinedCrlf: return "ZK_MORAVELT_COMBFILE\r\n";
        case Magic::Compressed: return "ZK_MORAVELT_7700FILE ZIP\n";
        case Magic::CompressedCrlf: return "ZK_MORAVELT_7700FILE ZIP\r\n";
    }
    return "";
}

VokWriter& VokWriter::magic(Magic m) { return raw(magicLine(m)); }

VokWriter& VokWriter::preambleLine(std::string_view text) {
    raw(text);
    if (text.empty() || text.back() != '\n') u8('\n');
    return *this;
}

VokWriter& VokWriter::standardPreamble(int trackerRevision, int revision) {
    if (trackerRevision == 2) preambleLine("SOURCE: TARNVIK MK II");
    if (trackerRevision == 3) preambleLine("SOURCE: TARNVIK RX");
    if (revision != 0) preambleLine("VERSION: TARNVIK MK " + std::to_string(revision) + ".0");
    preambleLine("DATE: Mon Dec  7 10:00:00 2026");
    return *this;
}

VokWriter& VokWriter::endPreamble() {
    raw("ENDP:\n");
    bodyOffset_ = bytes_.size();
    return *this;
}

VokWriter& VokWriter::raw(std::string_view bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

VokWriter& VokWriter::u8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
}

VokWriter& VokWriter::u16(std::uint16_t v) {
    bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
    bytes_.push_back(static_cast<std::uint8_t>(v));
    return *this;
}

VokWriter& VokWriter::u32(std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<std::uint8_t>(v >> shift));
    return *this;
}

void VokWriter::writeFile(const std::string& path) const {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot create " + path);
    std::size_t n = bytes_.empty() ? 0 : std::fwrite(bytes_.data(), 1, bytes_.size(), f);
    bool ok = n == bytes_.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
}

}  // namespace vokgen

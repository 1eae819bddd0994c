#include "FrameTable.h"

#include <cstdio>
#include <filesystem>
#include <limits>

namespace avi2vkt {

namespace {

void put32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void put16(std::vector<unsigned char>& out, std::uint16_t v) {
    out.push_back(static_cast<unsigned char>(v));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

}  // namespace

bool makeRecord(std::uint32_t frame, std::uint32_t baseTime, std::uint32_t time, FrameRecord& record) {
    const bool below = time < baseTime;
    const std::uint32_t d = below ? baseTime - time : time - baseTime;
    if (d > kCorrectionMask) return false;
    record.frameWord = frame & 0x7FFFFFFFu;
    record.baseTime = baseTime;
    record.correction = static_cast<std::uint16_t>(d | (below ? kSubtract : 0u));
    return true;
}

bool frameRecords(std::uint32_t blockStart, std::uint32_t microSecPerFrame, std::uint32_t frameCount,
                  std::vector<FrameRecord>& records, std::string& error) {
    records.clear();
    if (microSecPerFrame == 0) {
        error = "the video gives no frame period (0 microseconds per frame)";
        return false;
    }
    if (frameCount > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
        error = "too many frames for a lookup table: " + std::to_string(frameCount);
        return false;
    }
    if (frameCount == 0) return true;
    // i * microSecPerFrame < 2^31 * 2^32: no overflow in 64 bits.
    const std::uint64_t lastOffset =
        (static_cast<std::uint64_t>(frameCount - 1) * microSecPerFrame + 500) / 1000;
    if (blockStart + lastOffset > std::numeric_limits<std::uint32_t>::max()) {
        error = "the video runs past the end of the recording clock";
        return false;
    }
    records.resize(frameCount);
    for (std::uint32_t i = 0; i < frameCount; ++i) {
        const std::uint64_t micro = static_cast<std::uint64_t>(i) * microSecPerFrame;
        const auto base = static_cast<std::uint32_t>(blockStart + micro / 1000);
        const auto time = static_cast<std::uint32_t>(blockStart + (micro + 500) / 1000);
        makeRecord(i, base, time, records[i]);  // the difference is 0 or 1
    }
    return true;
}

std::vector<unsigned char> tableBytes(const std::vector<FrameRecord>& records) {
    std::vector<unsigned char> out;
    out.reserve(8 + 12 * records.size());
    put32(out, static_cast<std::uint32_t>(records.size()));
    put32(out, kTableMagic);
    for (const FrameRecord& r : records) {
        put32(out, r.frameWord);
        put32(out, r.baseTime);
        put16(out, r.correction);
        put16(out, 0);
    }
    return out;
}

bool writeTable(const std::string& path, const std::vector<FrameRecord>& records, std::string& error) {
    const std::vector<unsigned char> bytes = tableBytes(records);
    const std::string temp = path + ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot create " + temp;
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    std::error_code ec;
    if (!written || !closed) {
        std::filesystem::remove(temp, ec);
        error = "cannot write " + temp;
        return false;
    }
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        error = "cannot rename " + temp + " to " + path;
        return false;
    }
    return true;
}

}  // namespace avi2vkt

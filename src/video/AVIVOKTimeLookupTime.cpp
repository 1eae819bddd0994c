#include "video/AVIVOKTimeLookupTime.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/Log.h"
#include "platform/Platform.h"

namespace vok::video {

namespace {

std::uint32_t readU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t readU16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

void writeU32(std::uint32_t v, unsigned char* p) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void writeU16(std::uint16_t v, unsigned char* p) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

// Records are read in batches; a short batch tells which record was cut.
constexpr std::size_t kBatchRecords = 4096;

}  // namespace

LookupRecord decodeLookupRecord(const unsigned char* bytes) {
    LookupRecord r;
    r.frameWord = readU32(bytes);
    r.baseTime = readU32(bytes + 4);
    r.correction = readU16(bytes + 8);
    r.padding = readU16(bytes + 10);
    return r;
}

void encodeLookupRecord(const LookupRecord& record, unsigned char* bytes) {
    writeU32(record.frameWord, bytes);
    writeU32(record.baseTime, bytes + 4);
    writeU16(record.correction, bytes + 8);
    writeU16(record.padding, bytes + 10);
}

AVIVOKTimeLookupTime::AVIVOKTimeLookupTime(std::uint32_t videoNumber) : videoNumber_(videoNumber) {}

AVIVOKTimeLookupTime::~AVIVOKTimeLookupTime() = default;

bool AVIVOKTimeLookupTime::read(std::FILE* file) {
    records_.clear();
    readPosition_ = 0;
    unsigned char head[kLookupHeaderSize];
    if (std::fread(head, 1, 4, file) != 4) {
        printDirect("Read Error. Cannot read the number of records\n");
        return false;
    }
    if (std::fread(head + 4, 1, 4, file) != 4 || readU32(head + 4) != kLookupMagic) {
        printDirect("Bad magic! aborting read!!! \n");
        return false;
    }
    const auto count = static_cast<std::int32_t>(readU32(head));
    if (count < 1) return true;

    // The file must hold every record the count announces; a count beyond
    // that fails where reading would have failed, before anything is
    // allocated for it.
    std::size_t wanted = static_cast<std::size_t>(count);
    const std::int64_t size = platform::fileSize(file);
    if (size >= 0) {
        const std::int64_t body = size - static_cast<std::int64_t>(kLookupHeaderSize);
        const std::size_t available = body > 0 ? static_cast<std::size_t>(body) / kLookupRecordSize : 0;
        if (available < wanted) {
            printDirect("Read Error. Cannot read record %d! Aborting....\n", static_cast<int>(available));
            return false;
        }
    }
    try {
        // Of unknown size (not a regular file), the array grows as records
        // arrive.
        records_.reserve(size >= 0 ? wanted : std::min(wanted, kBatchRecords));
        std::vector<unsigned char> batch(kBatchRecords * kLookupRecordSize);
        std::size_t done = 0;
        while (done < wanted) {
            const std::size_t n = std::min(kBatchRecords, wanted - done);
            const std::size_t got = std::fread(batch.data(), 1, n * kLookupRecordSize, file);
            const std::size_t whole = got / kLookupRecordSize;
            for (std::size_t i = 0; i < whole; ++i) {
                records_.push_back(decodeLookupRecord(batch.data() + i * kLookupRecordSize));
            }
            done += whole;
            if (whole < n) {
                printDirect("Read Error. Cannot read record %d! Aborting....\n", static_cast<int>(done));
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        printDirect("Cannot allocate %d lookup records. Aborting....\n", count);
        records_.clear();
        return false;
    }
    return true;
}

int AVIVOKTimeLookupTime::frameForTime(std::uint32_t t) const {
    if (records_.empty()) return -1;
    const std::int64_t target = t;
    if (target > static_cast<std::int64_t>(records_.back().time()) ||
        target < static_cast<std::int64_t>(records_.front().time())) {
        return -1;
    }
    const auto count = static_cast<std::int64_t>(records_.size());
    // The upper end starts one past the last record; in a table out of
    // order a probe there ends the search.
    std::int64_t lo = 0;
    std::int64_t hi = count;
    while (lo <= hi) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        if (mid >= count) return -1;
        const LookupRecord& r = records_[static_cast<std::size_t>(mid)];
        const std::int64_t time = r.time();
        if (time >= target - 30 && time <= target + 30) return r.frameNumber();
        if (time <= target) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    return -1;
}

const LookupRecord* AVIVOKTimeLookupTime::nextRecord() {
    if (readPosition_ < 0 || static_cast<std::size_t>(readPosition_) >= records_.size()) {
        return nullptr;
    }
    return &records_[static_cast<std::size_t>(readPosition_++)];
}

void AVIVOKTimeLookupTime::stepBack() {
    if (readPosition_ > 0) --readPosition_;
}

bool AVIVOKTimeLookupTime::setLocation(const char* directory, const char* baseName, char separator) {
    if (std::strlen(directory) >= kDirectorySize || std::strlen(baseName) >= kBaseNameSize) {
        return false;
    }
    std::strcpy(directory_, directory);
    std::strcpy(baseName_, baseName);
    separator_ = separator;
    return true;
}

}  // namespace vok::video

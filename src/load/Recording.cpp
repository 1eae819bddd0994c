#include "load/Recording.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <memory>

#include "core/Log.h"
#include "core/VOKException.h"
#include "format/Inflate.h"
#include "format/Preamble.h"
#include "load/Consistency.h"
#include "load/PreScan.h"
#include "platform/Platform.h"

namespace vok {

namespace {
// Both values in one word, so that a reader never sees the x of one open
// and the y of another.
constexpr std::uint64_t packResolution(float x, float y) {
    return (static_cast<std::uint64_t>(std::bit_cast<std::uint32_t>(y)) << 32) | std::bit_cast<std::uint32_t>(x);
}
std::atomic<std::uint64_t> g_resolutionOverride{packResolution(1e8f, 1e8f)};

// Item positions are 32-bit with the all-ones value reserved, so a record
// stream must end before 4 GiB - 1.
constexpr std::uint64_t kMaxRecordingSize = 0xFFFFFFFFull;

struct Magic {
    const char* line;
    MagicVariant variant;
};
constexpr Magic kMagicLines[] = {
    {"ZK_MORAVELT_7700FILE ZIP\n", MagicVariant::Compressed},
    {"ZK_MORAVELT_7700FILE ZIP\r\n", MagicVariant::Compressed},
    {"ZK_MORAVELT_COMBFILE\n", MagicVariant::Plain},
    {"ZK_MORAVELT_COMBFILE\r\n", MagicVariant::Plain},
    {"ZK_MORAVELT_7700FILE\n", MagicVariant::Plain},
    {"ZK_MORAVELT_7700FILE\r\n", MagicVariant::Plain},
};
}  // namespace

ResolutionOverride sharedResolutionOverride() {
    const std::uint64_t word = g_resolutionOverride.load(std::memory_order_relaxed);
    return {std::bit_cast<float>(static_cast<std::uint32_t>(word)), std::bit_cast<float>(static_cast<std::uint32_t>(word >> 32))};
}

bool matchMagic(const char* line, MagicVariant& variant) {
    for (const Magic& magic : kMagicLines) {
        if (std::strcmp(line, magic.line) == 0) {
            variant = magic.variant;
            return true;
        }
    }
    return false;
}

Recording::~Recording() {
    // Close the stream before deleting its file.
    reader.stream.reset();
    if (!tempFileName.empty()) platform::removeFile(tempFileName.c_str());
}

void openRecording(Recording& recording, const char* path, const OpenOptions& options, const float* resolution) {
    printDirect("loadEvents = %x\n", static_cast<unsigned>(options.loadEvents));
    VOK_CHECK(path != nullptr, "File Could not be opened!");
    openRecording(recording, std::make_unique<FileInputStream>(path), path, options, resolution);
}

void openRecordingInMemory(Recording& recording, const void* data, std::size_t size, const OpenOptions& options) {
    printDirect("loadEvents = %x\n", static_cast<unsigned>(options.loadEvents));
    VOK_CHECK(data != nullptr || size == 0, "No recording bytes given \n");
    const float none[2] = {1e8f, 1e8f};
    openRecording(recording, std::make_unique<MemoryViewStream>(data, size), nullptr, options, none);
}

void openRecording(Recording& recording, std::unique_ptr<InputStream> source, const char* extraPath,
                   const OpenOptions& options, const float* resolution) {
    recording.options = options;
    if (resolution != nullptr)
        g_resolutionOverride.store(packResolution(resolution[0], resolution[1]), std::memory_order_relaxed);
    RecordReader& reader = recording.reader;
    reader.messageTimeOffsets = options.messageTimeOffsets();

    const std::int64_t size = source->size();
    VOK_CHECK(size < 0 || static_cast<std::uint64_t>(size) < kMaxRecordingSize,
              "File is too large: %lld bytes; recordings must be smaller than 4 GiB \n",
              static_cast<long long>(size));
    reader.stream = std::move(source);

    // The recording opened: now its extra message file, which stands beside it.
    if (options.extraMessages() && (extraPath != nullptr || extraMessageFileName().has_value())) {
        openExtraMessages(recording.extra, extraPath);
    }

    char magic[35];
    if (reader.stream->readLine(magic, sizeof magic) < 0) {
        log("error reading vok file 6\n");
        throw VOKException("End of file Exception");
    }
    MagicVariant variant;
    VOK_CHECK(matchMagic(magic, variant), "Bad magic.  Corrupt vok file. \n");

    recording.preambleText = readPreamble(reader);
    if (variant == MagicVariant::Compressed) {
        reader.stream = inflateRecordStream(std::move(reader.stream), recording.tempFileName);
    }
    // A body being inflated is indexed as it arrives: its size is known
    // once the inflater has ended.
    auto* inflating = dynamic_cast<InflatingFileStream*>(reader.stream.get());
    const auto noteBodySize = [&] {
        const std::int64_t total = reader.stream->size();
        const std::uint64_t at = inflating != nullptr ? 0 : reader.stream->position();
        recording.bodySize = total > 0 && static_cast<std::uint64_t>(total) > at ? static_cast<std::uint64_t>(total) - at : 0;
    };
    noteBodySize();
    ScanOptions scan;
    scan.loadEvents = options.loadEvents;
    scan.loadSamples = options.loadSamples;
    scan.repair = options.repair();
    scan.tolerant = options.tolerant();
    scan.bodySize = recording.bodySize;
    if (inflating == nullptr) {
        recording.items = preScan(reader, scan);
    } else {
        // A failure of the inflater fails the open whatever the reading loop
        // made of the body, as it would with the body inflated first.
        try {
            recording.items = preScan(reader, scan);
        } catch (...) {
            inflating->finish();
            throw;
        }
        inflating->finish();
        noteBodySize();
    }
    if (options.level() != 0) checkConsistency(recording.items.index, recording.items.recordings, options.level());
}

}  // namespace vok

#include "load/VOKFile.h"

#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "core/Log.h"
#include "core/VOKException.h"
#include "format/Inflate.h"
#include "format/InputStream.h"
#include "format/Preamble.h"
#include "load/Consistency.h"
#include "load/ExtraMessages.h"
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

}  // namespace vok

VOKFile::VOKFile() { std::memset(startTimeMemory, 0xFF, sizeof startTimeMemory); }

VOKFile::~VOKFile() {
    // Close the stream before deleting its file.
    reader.stream.reset();
    reader.open = false;
    if (!tempFileName.empty()) vok::platform::removeFile(tempFileName.c_str());
}

namespace vok {

VOKFile* openRecording(const char* path, const OpenOptions& options, const float* resolution) {
    auto file = std::make_unique<VOKFile>();
    file->options = options;
    if (resolution != nullptr)
        g_resolutionOverride.store(packResolution(resolution[0], resolution[1]), std::memory_order_relaxed);
    file->reader.messageTimeOffsets = (options.consistency & VOK_MESSAGE_TIME_OFFSETS) != 0;

    printDirect("loadEvents = %x\n", static_cast<unsigned>(options.loadEvents));
    if (options.loadEvents & 2) openExtraMessages(file->extra, path);

    if (options.level() != 0) file->repair = options.level() == 2;

    VOK_CHECK(path != nullptr, "File Could not be opened!");
    auto stream = std::make_unique<FileInputStream>(path);
    std::int64_t size = stream->size();
    VOK_CHECK(size < 0 || static_cast<std::uint64_t>(size) < kMaxRecordingSize,
              "File is too large: %lld bytes; recordings must be smaller than 4 GiB \n",
              static_cast<long long>(size));
    RecordReader& reader = file->reader;
    reader.stream = std::move(stream);
    reader.good = reader.open = true;

    char magic[35];
    if (reader.stream->readLine(magic, sizeof magic) < 0) {
        log("error reading vok file 6\n");
        throw VOKException("End of file Exception");
    }
    MagicVariant variant;
    VOK_CHECK(matchMagic(magic, variant), "Bad magic.  Corrupt vok file. \n");

    file->preambleText = readPreamble(reader);
    if (variant == MagicVariant::Compressed) {
        reader.stream = inflateToTempFile(static_cast<FileInputStream&>(*reader.stream),
                                          file->tempFileName);
    }
    file->fixupDisabled = (options.consistency & VOK_NO_TIME_FIXUP) != 0;
    {
        const std::int64_t total = static_cast<FileInputStream&>(*reader.stream).size();
        const std::uint64_t at = reader.stream->position();
        file->bodySize = total > 0 && static_cast<std::uint64_t>(total) > at ? static_cast<std::uint64_t>(total) - at : 0;
    }
    preScan(*file, options.tolerant());
    if (options.level() != 0) checkConsistency(*file);
    return file.release();
}

}  // namespace vok

// ---------------------------------------------------------------------------
// Exported boundary: no exception leaves these functions.

extern "C" VOKAPI_EXPORT VOKFile* vok_open_file_ex(const char* path, int consistency,
                                                   int loadEvents, int loadSamples,
                                                   const float* resolution, int* errval) {
    if (errval != nullptr) *errval = 0;
    try {
        vok::OpenOptions options;
        options.consistency = consistency;
        options.loadEvents = loadEvents;
        options.loadSamples = loadSamples;
        return vok::openRecording(path, options, resolution);
    } catch (const vok::VOKException& e) {
        vok::log("%s\n", e.what());
    } catch (const std::exception& e) {
        vok::log("%s\n", e.what());
    } catch (...) {
        vok::log("%s\n", "Unknown error while opening the file");
    }
    if (errval != nullptr) *errval = -1;
    return nullptr;
}

extern "C" VOKAPI_EXPORT VOKFile* vok_open_file(const char* path, int consistency, int loadEvents,
                                                int loadSamples, int* errval) {
    const float none[2] = {1e8f, 1e8f};
    return vok_open_file_ex(path, consistency, loadEvents, loadSamples, none, errval);
}

extern "C" VOKAPI_EXPORT int vok_close_file(VOKFile* file) {
    delete file;
    return 0;
}

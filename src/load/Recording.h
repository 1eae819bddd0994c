// A recording as opening loads it: its record stream, its preamble, the
// items the reading loop indexed, and its extra message file.  Opening does
// all the loading work at once; afterwards only single records are read
// again from the stream.  The file object (nav/VOKFile.h) holds it beside
// the item decoder and the navigation state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "format/InputStream.h"
#include "format/RecordReader.h"
#include "load/ExtraMessages.h"
#include "load/ItemIndex.h"
#include "vokapi.h"

namespace vok {

// The resolution override pair shared by every open file; (1e8, 1e8) means
// no override.  vok_open_file resets it, vok_open_file_ex may set it.  Read
// and written whole, without a lock, from any thread.
struct ResolutionOverride {
    float x, y;
};
ResolutionOverride sharedResolutionOverride();

struct OpenOptions {
    int consistency = 0;
    int loadEvents = 1;
    int loadSamples = 1;

    int level() const { return consistency & VOK_CONSISTENCY_LEVEL_MASK; }
    // Level 2 checks and repairs: gap filling, mended event start times.
    bool repair() const { return level() == 2; }
    bool tolerant() const { return (consistency & VOK_TOLERANT_READING) != 0; }
    bool timeFixupOff() const { return (consistency & VOK_NO_TIME_FIXUP) != 0; }
    bool messageTimeOffsets() const { return (consistency & VOK_MESSAGE_TIME_OFFSETS) != 0; }
    bool extraMessages() const { return (loadEvents & 2) != 0; }
};

enum class MagicVariant { Plain, Compressed };

// Recognises a magic line (line end and terminating NUL included).
// Returns false for anything but the six accepted lines.
bool matchMagic(const char* line, MagicVariant& variant);

struct Recording {
    Recording() = default;
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    // Closes the stream, then deletes the temporary file it read.
    ~Recording();

    OpenOptions options;
    std::string tempFileName;  // set for a compressed recording read from a file
    RecordReader reader;
    std::string preambleText;
    std::uint64_t bodySize = 0;  // bytes of the record stream, when known
    Items items;
    ExtraMessages extra;
};

// Loads the recording at path into recording; raises VOKException on
// failure.  The extra message file, when asked for, is chosen beside path
// (or by vok_set_extra_message_file) once the recording itself has opened.
void openRecording(Recording& recording, const char* path, const OpenOptions& options, const float* resolution);

// Loads a recording from size bytes at data, which stay the caller's and
// must outlive recording (nothing is copied but an inflated body).  The
// extra message file, when asked for, is only one named by
// vok_set_extra_message_file: there is no folder to look in.
void openRecordingInMemory(Recording& recording, const void* data, std::size_t size, const OpenOptions& options);

// Loads a recording from any byte source.  extraPath stands for the
// recording's file name when choosing the extra message file; null means
// there is none to stand beside, so only a name set by
// vok_set_extra_message_file is read.  A compressed body is inflated into a
// temporary file when source is a file, into memory otherwise.
void openRecording(Recording& recording, std::unique_ptr<InputStream> source, const char* extraPath,
                   const OpenOptions& options, const float* resolution);

}  // namespace vok

// The compressed variant of a recording: its magic line and preamble are
// plain text, everything after "ENDP:\n" is one zlib stream (zlib format,
// not gzip, not raw deflate) whose inflated content is the ordinary record
// stream.  Opening inflates it once, into a temporary file for a recording
// read from a file, into memory for one read from memory, and from then on
// reads the result like a plain recording, with seeks and re-reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "format/InputStream.h"

namespace vok {

// Results of inflateBody besides zlib's own negative codes (Z_DATA_ERROR,
// Z_MEM_ERROR, Z_VERSION_ERROR, Z_STREAM_ERROR).
constexpr int kInflateOk = 0;
constexpr int kInflateIoError = -1;
constexpr int kInflateTooLarge = -100;

// Item positions are 32-bit with the all-ones value reserved, so an inflated
// body must stay below this many bytes.
constexpr std::uint64_t kMaxInflatedSize = 0xFFFFFFFFull;

// Inflates one zlib stream read from in, starting at in's current offset,
// and appends the result to out at its current offset, 16 KiB at a time.
// Returns:
//   kInflateOk        the stream ended properly (bytes after its end are
//                     ignored);
//   Z_DATA_ERROR      the stream is damaged, truncated, empty, or asks for a
//                     preset dictionary;
//   other zlib codes  zlib could not start or ran out of memory;
//   kInflateIoError   reading in or writing out failed;
//   kInflateTooLarge  the output would reach limit bytes.
// Whatever the result, out holds exactly the bytes inflated before the
// failure was found, except for kInflateTooLarge, where the piece that would
// reach the limit is not written.
int inflateBody(std::FILE* in, std::FILE* out, std::uint64_t limit = kMaxInflatedSize);

// The bound opening applies to an inflated body (kMaxInflatedSize unless
// changed).  Library-wide; tests lower it to reach the size failure without
// writing 4 GiB.  The setter returns the previous bound.
std::uint64_t inflatedSizeLimit();
std::uint64_t setInflatedSizeLimit(std::uint64_t limit);

// Inflates the compressed body of a recording whose stream stands just after
// the preamble into a new temporary file "vokapi_..." in the system
// temporary directory, and returns a stream over that file at offset 0.  The
// name is stored in tempFileName as soon as the file exists, so that the
// owner deletes it even when this raises.  A damaged or truncated body
// yields what was inflated before the damage.  Raises "Failed to create temp
// file \n" when no temporary file can be made and "Decompressed recording is
// larger than 4 GiB \n" when the body exceeds inflatedSizeLimit().  The
// recording's stream is left for the caller to close.
std::unique_ptr<FileInputStream> inflateToTempFile(FileInputStream& recording,
                                                   std::string& tempFileName);

// The same for a recording in memory (or any other source): the body is
// inflated into memory, with the same bound and the same treatment of a
// damaged or truncated body.  Raises "Decompressed recording is larger than
// 4 GiB \n" beyond the bound and "Failed to decompress the recording: zlib
// error %d \n" when zlib cannot work.
std::unique_ptr<InputStream> inflateToMemory(InputStream& recording);

// The step of opening: a file's body goes to a temporary file
// (inflateToTempFile), any other source's into memory (inflateToMemory).
std::unique_ptr<InputStream> inflateRecordStream(InputStream& recording, std::string& tempFileName);

}  // namespace vok

// The process-wide video frame lookup: one current table (or none) serves
// every open recording, with the record that the frame iteration handed out
// last.  Tables are loaded from "<stem><n>.vkt" beside the recording, where
// the stem is the recording file name without its last four characters; a
// missing table is made by running the converter program "avi2vkt" in the
// recording's directory.
//
// Loading writes its progress and failures to standard output, not to the
// log function.  Every call takes the lookup's lock, so VOK objects in
// several threads may use it; they still share the one table and its frame
// iteration, so frame messages are meaningful for one VOK object at a time.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "java/VideoPort.h"
#include "video/AVIVOKTimeLookupTime.h"

namespace vok::video {

// Name of the converter program, looked up on the search path.
inline constexpr const char* kConverterProgram = "avi2vkt";
// Buffers the lookup holds names in: the stem, the table file name, the
// directory and the converter command take at most this many bytes with
// their NUL; the base name AVIVOKTimeLookupTime::kBaseNameSize.
inline constexpr std::size_t kNameBufferSize = 1024;

// Loads the table of video n of the recording named name (suffix "vok" in
// any letter case) and makes it the current table, with the read position
// at its first record.  When the table file cannot be opened and
// createAllowed is set, runs "avi2vkt <base> <n + 1>" in the recording's
// directory once and tries again.
// Returns 0, or -1 with the reason on standard output.  After a failure no
// table is current: the previous table is dropped too.  Names that do not
// fit the name buffers are refused.
int loadTable(const char* name, std::uint32_t n, bool createAllowed);

// Frame iteration over the current table: the time of the next frame, or
// kNoTime at the end or without a table.  A frame's two consecutive
// records are both consumed and the earlier time counts.  Sets the current
// record (none at the end).
std::uint32_t nextFrameTime();

// Frame number of the current record, or -1 when there is none.
int currentFrameNumber();

// The current table's base name; "" without a table.
const char* currentBaseName();

// The current table, or nullptr.
const AVIVOKTimeLookupTime* currentTable();

// Frame of the current table within 30 ms of t, or -1 (see
// AVIVOKTimeLookupTime::frameForTime); -1 without a table.
int frameForTime(std::uint32_t t);

// findFrameForRecordingTime and dropTable: java/VideoPort.h.

// Holds the lookup's lock across several calls (the lock is recursive).
std::unique_lock<std::recursive_mutex> lockLookup();

// Recording file name rebuilt from a table's directory, separator and base
// name, with the suffix ".vok".
std::string recordingNameOf(const AVIVOKTimeLookupTime& table);

// Runs a program (arguments[0], found on the search path) in directory, or
// in the current directory when directory is empty, without a command
// interpreter; the process's current directory is not changed.  On the first
// call the directory of the host program is appended to the search path.
// Returns the program's exit status, or -1 when it could not be run.
int runInDirectory(const std::string& directory, const std::vector<std::string>& arguments);

}  // namespace vok::video

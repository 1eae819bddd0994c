// The extra message file: a plain-text log written by another program on its
// own clock, with synchronisation lines ("TRACKER_TIME") that tie that clock
// to the tracker's.  Opening reads it into an index of line times and
// offsets; the cursor merges the lines into the item stream as messages and
// reads their text back from the file when a client asks for it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/RecordReader.h"
#include "vokapi.h"

namespace vok {

// One well-formed synchronisation line.
struct ExtraSyncPoint {
    std::uint32_t messageIndex;  // size of the message index when the line was read
    std::int32_t third;          // the line's integer third field (kept, not used)
    double trackerTime;          // fourth field
    double localTime;            // first field
};

// One line taken into the message index.
struct ExtraEntry {
    std::uint64_t time;   // tracker milliseconds
    std::int64_t offset;  // byte offset in the text file just after the line's leading number
};

struct StdioFileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};

// Everything one file object keeps of its extra message file.
struct ExtraMessages {
    // Characters of a log line that are examined; the rest of a longer line is
    // read past and dropped, never taken for a line of its own.
    static constexpr std::size_t kMaxLine = 4095;
    // Characters of a line's text that a message record carries.
    static constexpr int kMaxRecordText = 260;

    std::string fileName;  // the file in use; empty when none
    std::unique_ptr<std::FILE, StdioFileCloser> file;
    std::vector<ExtraSyncPoint> syncPoints;
    std::vector<ExtraEntry> entries;
    std::int32_t count = -1;  // number of entries; -1 when no file was read

    // The lines are merged into the item stream (the log ended with "Quit
    // logger" after a synchronisation line); the cursor keeps where the
    // merge stands.
    bool present = false;

    std::string text;       // time and text of the entry examined last
    MessageBuffer message;  // the LString of the record below
    FloatData record{};     // message record of the entry returned last
};

// A copy of the process-wide name set by vok_set_extra_message_file; none
// when no name is set (the default name beside the recording applies then).
// Guarded: the name may be set while other threads open recordings.
std::optional<std::string> extraMessageFileName();
void setExtraMessageFileName(const char* name);

// The file to read for the recording at path: the process-wide name when one
// is set, else "mb_messages.log" in the recording's folder.
std::string chooseExtraMessageFile(const char* path);

// Reads the log into the message index.  Returns the number of entries, or
// -1 when the file cannot be opened (then nothing is loaded).
int loadExtraMessages(ExtraMessages& extra, const std::string& name);

// Step of opening: chooses the file, reports its name on standard output and
// loads it.
void openExtraMessages(ExtraMessages& extra, const char* recordingPath);

// Fills extra.text with entry k's time in decimal followed by the rest of its
// line.  Returns false (text holding only the time) when the line cannot be
// read.
bool readExtraText(ExtraMessages& extra, std::uint32_t k);

// Builds the message record of entry k into extra.record.  Null when k is
// not an entry or its line cannot be read.
FloatData* buildExtraRecord(ExtraMessages& extra, std::uint32_t k);

}  // namespace vok

// The item cursor over a recording's index and the data calls on the
// current item.
#pragma once

#include <cstdint>

#include "vokapi.h"

struct VOKFile;

namespace vok {

// The time offset fixup, decided on the first record handed out.
struct TimeFixup {
    std::uint32_t base = 0;  // 0: not decided yet
    bool disabled = false;
};

// Where the merge of extra messages into the item stream stands.
struct ExtraMerge {
    std::int32_t next = -1;     // next extra message not yet returned; -1 when none is merged
    bool pending = false;       // the last step returned one whose record is not built yet
    std::int32_t decoded = -1;  // position + 1 of the one whose record is built; -1 none
};

struct Cursor {
    std::uint32_t position = 0;  // of the next item a step returns; the current item is position - 1
    const RecordingInfo* currentRecording = nullptr;  // the block the cursor is in
    TimeFixup fixup;
    ExtraMerge merge;
};

// Puts the cursor where opening leaves it: before the first item, no
// current block, the fixup undecided, the merge at the first extra message,
// no remembered event start times.
void resetCursor(VOKFile& file);

// One step over the index: returns the item's type code, 0 at the end.
int stepPlain(VOKFile& file);

// One step when extra messages are merged into the stream: returns
// MESSAGEEVENT for an extra message (the cursor stays), else as stepPlain.
int stepMerged(VOKFile& file);

// The step of vok_get_next_data: stepMerged when extra messages are merged,
// else stepPlain.
int stepCursor(VOKFile& file);

// True when the last step returned an extra message rather than a list item.
bool currentIsExtraMessage(const VOKFile& file);

// Moves the cursor to an item position (the next step returns that item) and
// forgets a returned extra message, so the data calls read the list item
// before the cursor.  Trials are not touched.
void moveCursor(VOKFile& file, std::uint32_t position);

// The record of the current item (or extra message) with the fixup
// applied; null when there is none or it cannot be read.
FloatData* currentData(VOKFile& file);

// Applies the time offset fixup to a record about to be handed out; typeCode
// chooses the rule (the code of the current index item).
void applyFixup(VOKFile& file, FloatData& data, int typeCode);

// Type code of the index item before the cursor, or 0 when there is none.
int currentItemType(const VOKFile& file);

// Operations the Java binding reaches.
std::uint64_t keyAtCursor(const VOKFile& file);  // all bits set at the end
int peakItemIndex(const VOKFile& file);
int getInputType(const VOKFile& file);
void gotoIndex(VOKFile& file, int position);

}  // namespace vok

// The item cursor over a recording's index and the data calls on the
// current item.
#pragma once

#include <cstdint>

#include "vokapi.h"

struct VOKFile;

namespace vok {

// One step over the index: returns the item's type code, 0 at the end.
int stepPlain(VOKFile& file);

// One step when extra messages are merged into the stream: returns
// MESSAGEEVENT for an extra message (the cursor stays), else as stepPlain.
int stepMerged(VOKFile& file);

// True when the last step returned an extra message rather than a list item.
bool currentIsExtraMessage(const VOKFile& file);

// Moves the cursor to an item position (the next step returns that item) and
// forgets a returned extra message, so the data calls read the list item
// before the cursor.  Trials are not touched.
void moveCursor(VOKFile& file, std::uint32_t position);

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

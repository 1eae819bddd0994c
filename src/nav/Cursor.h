// The item cursor over a recording's index and the data calls on the
// current item.
#pragma once

#include <cstdint>

#include "vokapi.h"

struct VOKFile;

namespace vok {

// One step over the index: returns the item's type code, 0 at the end.
int stepPlain(VOKFile& file);

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

// The display area of the Java binding: recordings announce the display
// size ("DISPLAY_COORDS a b c d") and the area of it the stimulus used
// ("DISPLAY_AREA_COORDS a b c d") in messages; gaze positions handed to Java
// are then mapped from display pixels onto that area widened by 1/0.95 - 1
// of its size on either side.
//
// The area is process-wide, shared by every open Java VOK object, and reset
// by every successful open; 1e8 marks a value not known, and while any of
// the six is unknown positions pass unchanged.  Safe to use from several
// threads (a lock guards it); which announcement a conversion sees is then
// a matter of timing, as it is for one thread with several VOK objects.
#pragma once

namespace vok::java {

struct DisplayArea {
    float left, top, right, bottom;  // from the last "DISPLAY_AREA_COORDS"
    float width, height;             // from the last "DISPLAY_COORDS"
};

// A copy of the process-wide area.
DisplayArea displayArea();

// Sets all six values to 1e8 (unknown).
void resetDisplayArea();

// Maps a gaze x (y) position onto the display area.  1e8 (missing) and
// -32768 (eye or group absent) pass unchanged, as does every value while
// the area is not completely known.
float displayX(float value);
float displayY(float value);
// The same with an area copied once, for the fields of one record.
float displayX(const DisplayArea& area, float value);
float displayY(const DisplayArea& area, float value);

// Notes a message that announces the display size or area.  Text that
// contains "DISPLAY_COORDS" is read for four integers from its 15th
// character on (directly behind the keyword when the text begins with
// it); width := c - a, height := d - b.  Otherwise, text that contains
// "DISPLAY_AREA_COORDS" is read from its 20th character on for left, top,
// right, bottom.  When the four numbers cannot be read, the values that
// message would set become unknown.  Other texts change nothing.
void noteDisplayMessage(const char* text);

// Reads four whitespace-separated decimal integers as " %d %d %d %d"
// does, but refuses numbers outside the int range.  True when all four
// were read.
bool readFourIntegers(const char* text, long long (&values)[4]);

}  // namespace vok::java

// Consistency checks: after the reading loop, puts the item index into time
// order and mends or reports what does not fit.  A recording is written in
// the order in which the tracker produced its records, which is not always
// the order in time: events stamped after their block has ended, a block end
// and the next block start in one millisecond, a lost blink start.
//
// Levels (consistency argument & 3): 0 no pass; 1 and 3 ordering, gap
// mending, samples outside recordings and the blink pairing report; 2 also
// moves the start of an orphan blink end, joins blinks within one saccade
// and marks the samples inside blinks.
//
// The pass changes the index (order, keys, marks, removed entries) and the
// merged flags of the recording records, nothing else.  It never fails: what
// does not fit is mended or logged, and a sample outside every recording
// block is dropped.  It runs in time linear in the index size plus the sorts.
#pragma once

#include "load/ItemIndex.h"

namespace vok {

// The pass at the given level (masked with 3) over an index and the
// recording records its entries point to.
void checkConsistency(ItemIndex& index, RecordingList& recordings, int level);

// ---- the steps, in the order the pass runs them ----

// Sets merged on both records of every pair of neighbours in creation order
// whose keys differ by less than 6 half milliseconds (as a signed 32-bit
// difference), so that an end sorts before a start of the same millisecond.
void markMergedNeighbours(RecordingList& recordings);

// Moves the start events (blink, saccade, fixation) stamped between a
// recording end and the next start forward to that start, and their end
// events back to the recording end; marks moved events kMarkA, and with
// kMarkB the blink end that follows a moved blink start.  Leaves the index
// unsorted.
void mendGapEvents(ItemIndex& index);

// One walk: drops samples outside every recording block (logging each),
// unless the block end before them shares its key with the start before
// that, in which case the end is moved in front of that start; and reports
// blink starts and ends without a partner.  With repair set, a blink start
// that follows an orphan blink end takes the orphan's key (kMarkA).
// Returns true when a recording end was moved.
bool placeSamplesAndPairBlinks(ItemIndex& index, bool repair);

// Joins the blinks of one eye within one saccade into one: the first blink
// start and the last blink end stay, the latter marked kMarkB.
void joinBlinksInSaccades(ItemIndex& index);

// Marks samples inside a blink: kMarkA for the left eye, kMarkB for the right.
void markSamplesInBlinks(ItemIndex& index);

}  // namespace vok

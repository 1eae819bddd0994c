// The step of the cursor when the lines of an extra message file are merged
// into the item stream by time.
#include <cstring>

#include "nav/Cursor.h"
#include "nav/VOKFile.h"

namespace vok {

namespace {

constexpr const char* kSyncWord = "TRACKER_TIME";

// A plain step inside the merge: the data call that follows reads the list
// item.
int plainStep(VOKFile& file) {
    file.cursor.merge.pending = false;
    return stepPlain(file);
}

// True when the list item at the cursor is a message carrying a
// synchronisation line.  Only message items are decoded: no other item can
// be one, and decoding, say, an end event here would use up the start time
// that the repair level keeps for it.
bool listItemIsSyncLine(VOKFile& file) {
    const ItemIndex& index = file.recording.items.index;
    const std::uint32_t at = file.cursor.position;
    if (at >= index.size() || itemType(index[at]) != MESSAGEEVENT) return false;
    const FloatData* data = file.decoder.readItemAt(at, file.cursor.currentRecording, ItemDecoder::Into::Lookup);
    if (data == nullptr) return false;
    const LString* m = data->event.message;
    return m != nullptr && m->length > 0 && std::strstr(m->c, kSyncWord) != nullptr;
}

}  // namespace

int stepMerged(VOKFile& file) {
    ExtraMessages& extra = file.recording.extra;
    ExtraMerge& merge = file.cursor.merge;
    for (;;) {
        const std::int32_t p = merge.next;
        if (p < 0 || static_cast<std::size_t>(p) >= extra.entries.size()) return plainStep(file);
        // At the end of the index this is the largest key shifted right, so
        // every remaining extra message comes first.
        const std::uint64_t tItem = keyAtCursor(file) >> 1;
        const std::uint64_t tExtra = extra.entries[static_cast<std::size_t>(p)].time;
        if (tExtra > tItem + 2) return plainStep(file);
        if (tExtra + 2 < tItem) {
            merge.next = p + 1;
            merge.pending = true;
            return MESSAGEEVENT;
        }
        // Within 2 ms of each other: a synchronisation line that both
        // streams carry is shown by neither.
        const bool itemSync = listItemIsSyncLine(file);
        readExtraText(extra, static_cast<std::uint32_t>(p));
        const bool extraSync = extra.text.find(kSyncWord) != std::string::npos;
        const bool extraFirst = tExtra <= tItem;
        if (!itemSync && !extraSync) {
            if (!extraFirst) return plainStep(file);
            merge.next = p + 1;
            merge.pending = true;
            return MESSAGEEVENT;
        }
        if (extraSync && !itemSync) {
            if (!extraFirst) return plainStep(file);
            merge.next = p + 1;  // dropped
            continue;
        }
        if (itemSync && !extraSync) {
            if (extraFirst) {
                merge.next = p + 1;
                merge.pending = true;
                return MESSAGEEVENT;
            }
            ++file.cursor.position;  // the list item is dropped
            continue;
        }
        merge.next = p + 1;  // both dropped
        ++file.cursor.position;
    }
}

}  // namespace vok

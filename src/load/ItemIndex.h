// The item index: one 16-byte entry per item of a recording, in time order.
// Samples and events stay in the file; an entry says where to find them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "vokapi.h"

namespace vok {

struct ItemEntry {
    // Stream position just after the record's tag word; kPlaceholder for a
    // sample that exists only in memory (gap filling); 0 for a recording.
    std::uint32_t position;
    // Low byte: item type.  High byte bits 0-3: eye slot (1 left, 2 right,
    // 0 none).  Bits 12 and 13: marks set by the consistency checks.
    std::uint16_t code;
    // The record's tag word, handed back to the decoder after a seek.
    std::uint16_t tag;
    union {
        std::uint64_t timeHalfMs;  // time key in half milliseconds
        RecordingInfo* recording;  // for RECORDING_INFO entries
    };
};
static_assert(sizeof(ItemEntry) == 16, "ItemEntry must stay 16 bytes");

constexpr std::uint32_t kPlaceholder = 0xFFFFFFFFu;
constexpr std::uint16_t kMarkA = 0x1000;  // event key moved / left eye in a blink
constexpr std::uint16_t kMarkB = 0x2000;  // blink start moved or joined / right eye in a blink

using ItemIndex = std::vector<ItemEntry>;
// Recording blocks' start and end records, in the order they were created.
using RecordingList = std::vector<std::unique_ptr<RecordingInfo>>;

// What the reading loop builds and keeps: the item index, the recording
// block records its entries point to, and what it saw on the way.
struct Items {
    ItemIndex index;
    RecordingList recordings;
    std::uint32_t firstRecordTime = 0;  // time of the first record read
    std::uint32_t largestTime = 0;      // largest record time read
    std::uint32_t inputType = 0;        // 1: input events; 2: samples with input words
};

enum ItemKind : int { kKindEvent = 0, kKindSample = 1, kKindRecording = 30, kKindUnknown = 255 };

inline int itemType(const ItemEntry& e) { return e.code & 0xFF; }
inline int eyeSlot(const ItemEntry& e) { return (e.code >> 8) & 0xF; }

int itemKindOfType(int type);
inline int itemKind(const ItemEntry& e) { return itemKindOfType(itemType(e)); }

std::uint64_t sortKey(const ItemEntry& e);

// True when entry a goes before entry b.  The rules do not form a strict
// weak ordering in every combination, so only sortItemIndex may sort with it.
bool itemLess(const ItemEntry& a, const ItemEntry& b);

// Sorts the index: whole up to 20000 entries, above that in overlapping
// windows of 13500 entries that start 3000 entries before the previous
// window's end.  The sort never leaves the range whatever itemLess answers.
void sortItemIndex(ItemIndex& index);

// Sorts [first, last) with itemLess; stable, adaptive to nearly sorted input.
void sortRange(ItemEntry* first, ItemEntry* last);

}  // namespace vok

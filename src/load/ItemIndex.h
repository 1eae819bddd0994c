// The item index: one 16-byte entry per item of a recording, in time order.
// Samples and events stay in the file; an entry says where to find them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/Compiler.h"
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

namespace detail {
// Kind of each item type code (the low byte of ItemEntry::code).
constexpr std::array<std::uint8_t, 256> makeKindTable() {
    std::array<std::uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        if ((i >= 1 && i <= 10) || (i >= 15 && i <= 18) || i == 24 || i == 25 || i == 28) {
            t[i] = kKindEvent;
        } else if (i == RECORDING_INFO) {
            t[i] = kKindRecording;
        } else if (i == SAMPLE_TYPE) {
            t[i] = kKindSample;
        } else {
            t[i] = kKindUnknown;
        }
    }
    return t;
}
inline constexpr std::array<std::uint8_t, 256> kKinds = makeKindTable();

std::uint64_t recordingSortKey(const ItemEntry& e);
bool itemLessSameKey(const ItemEntry& a, const ItemEntry& b);
}  // namespace detail

inline int itemKindOfType(int type) { return detail::kKinds[static_cast<std::uint8_t>(type)]; }
inline int itemKind(const ItemEntry& e) { return itemKindOfType(itemType(e)); }

// The entry's time key; a recording's, from its record.  Inline because the
// sorts and the consistency walks ask for it several times per entry.
inline std::uint64_t sortKey(const ItemEntry& e) {
    if (VOK_LIKELY(itemType(e) != RECORDING_INFO)) return e.timeHalfMs;
    return detail::recordingSortKey(e);
}

// True when entry a goes before entry b.  The rules do not form a strict
// weak ordering in every combination, so only sortItemIndex may sort with it.
inline bool itemLess(const ItemEntry& a, const ItemEntry& b) {
    const std::uint64_t ka = sortKey(a);
    const std::uint64_t kb = sortKey(b);
    if (VOK_LIKELY(ka != kb)) return ka < kb;
    return detail::itemLessSameKey(a, b);
}

// Sorts the index: whole up to 20000 entries, above that in overlapping
// windows of 13500 entries that start 3000 entries before the previous
// window's end.  The sort never leaves the range whatever itemLess answers.
void sortItemIndex(ItemIndex& index);

// Sorts [first, last) with itemLess; stable, adaptive to nearly sorted input.
void sortRange(ItemEntry* first, ItemEntry* last);

}  // namespace vok

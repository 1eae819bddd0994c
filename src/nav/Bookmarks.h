// Bookmarks: saved cursor positions, kept per file in the order they were
// set, with a current bookmark for walking them forwards and backwards.
#pragma once

#include <cstdint>
#include <vector>

struct VOKFile;

namespace vok {

// The bookmarks of one file.
struct BookmarkList {
    std::vector<std::uint32_t> ids;  // cursor positions, in the order set
    std::uint32_t current = 0;       // may wrap to all ones
};

// Saves the cursor (the position of the next item a step returns) unless it
// is saved already.  False when the cursor is at or past the end of the items.
bool setBookmark(VOKFile& file, std::uint32_t& id);

// Removes the first bookmark equal to id; the current bookmark keeps naming
// the same bookmark, or the one before the freed one when that was current.
bool freeBookmark(VOKFile& file, std::uint32_t id);

// Goes to the bookmark id / the next / the previous bookmark of the list.
// False (nothing changed) when there is none.
bool gotoBookmark(VOKFile& file, std::uint32_t id);
bool gotoNextBookmark(VOKFile& file);
bool gotoPreviousBookmark(VOKFile& file);

}  // namespace vok

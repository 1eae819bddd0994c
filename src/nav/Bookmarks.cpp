#include "nav/Bookmarks.h"

#include <algorithm>

#include "core/ApiBoundary.h"
#include "nav/Cursor.h"
#include "nav/VOKFile.h"

namespace vok {

namespace {

// The current bookmark after the bookmark at index 0 was freed while
// current: the position before the first bookmark, from which "next" goes
// to the new first one.
constexpr std::uint32_t kBeforeFirst = 0xFFFFFFFFu;

// Index of the first bookmark equal to id, or the list length.
std::size_t find(const std::vector<std::uint32_t>& list, std::uint32_t id) {
    return static_cast<std::size_t>(std::find(list.begin(), list.end(), id) - list.begin());
}

}  // namespace

bool setBookmark(VOKFile& file, std::uint32_t& id) {
    const std::uint32_t cursor = file.cursor.position;
    if (cursor >= file.recording.items.index.size()) return false;
    std::vector<std::uint32_t>& ids = file.bookmarks.ids;
    if (find(ids, cursor) == ids.size()) ids.push_back(cursor);
    id = cursor;
    return true;
}

bool freeBookmark(VOKFile& file, std::uint32_t id) {
    BookmarkList& list = file.bookmarks;
    const std::size_t k = find(list.ids, id);
    if (k == list.ids.size()) return false;
    list.ids.erase(list.ids.begin() + static_cast<std::ptrdiff_t>(k));
    // Before the first bookmark stays before the first one.
    if (list.current != kBeforeFirst && list.current >= k) --list.current;
    return true;
}

bool gotoBookmark(VOKFile& file, std::uint32_t id) {
    BookmarkList& list = file.bookmarks;
    const std::size_t k = find(list.ids, id);
    if (k == list.ids.size()) return false;
    list.current = static_cast<std::uint32_t>(k);
    moveCursor(file, id);
    return true;
}

bool gotoNextBookmark(VOKFile& file) {
    BookmarkList& list = file.bookmarks;
    const std::uint32_t next = list.current + 1;  // from before the first: 0
    if (next >= list.ids.size()) return false;
    list.current = next;
    moveCursor(file, list.ids[next]);
    return true;
}

bool gotoPreviousBookmark(VOKFile& file) {
    BookmarkList& list = file.bookmarks;
    if (list.current < 1) return false;
    const std::uint32_t previous = list.current - 1;
    if (previous >= list.ids.size()) return false;
    list.current = previous;
    moveCursor(file, list.ids[previous]);
    return true;
}

}  // namespace vok

// ---------------------------------------------------------------------------
// Exported boundary: no exception leaves these functions.

using namespace vok;

namespace {

template <typename Operation>
int bookmarkCall(VOKFile* file, Operation operation) {
    if (file == nullptr) return -1;
    return apiCall(-1, [&] { return operation(*file) ? 0 : -1; });
}

}  // namespace

extern "C" {

VOKAPI_EXPORT int vok_set_bookmark(VOKFile* file, BookMark* bookmark) {
    return bookmarkCall(
        file, [bookmark](VOKFile& f) { return bookmark != nullptr && setBookmark(f, bookmark->id); });
}

VOKAPI_EXPORT int vok_free_bookmark(VOKFile* file, BookMark* bookmark) {
    return bookmarkCall(
        file, [bookmark](VOKFile& f) { return bookmark != nullptr && freeBookmark(f, bookmark->id); });
}

VOKAPI_EXPORT int vok_goto_bookmark(VOKFile* file, BookMark* bookmark) {
    return bookmarkCall(
        file, [bookmark](VOKFile& f) { return bookmark != nullptr && gotoBookmark(f, bookmark->id); });
}

VOKAPI_EXPORT int vok_goto_next_bookmark(VOKFile* file) {
    return bookmarkCall(file, [](VOKFile& f) { return gotoNextBookmark(f); });
}

VOKAPI_EXPORT int vok_goto_previous_bookmark(VOKFile* file) {
    return bookmarkCall(file, [](VOKFile& f) { return gotoPreviousBookmark(f); });
}

}  // extern "C"

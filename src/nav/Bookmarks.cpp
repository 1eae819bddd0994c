#include "nav/Bookmarks.h"

#include <algorithm>
#include <exception>

#include "core/Log.h"
#include "nav/Cursor.h"

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
    if (file.cursor >= file.index.size()) return false;
    if (find(file.bookmarks, file.cursor) == file.bookmarks.size()) file.bookmarks.push_back(file.cursor);
    id = file.cursor;
    return true;
}

bool freeBookmark(VOKFile& file, std::uint32_t id) {
    std::vector<std::uint32_t>& list = file.bookmarks;
    const std::size_t k = find(list, id);
    if (k == list.size()) return false;
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(k));
    // Before the first bookmark stays before the first one.
    if (file.currentBookmark != kBeforeFirst && file.currentBookmark >= k) --file.currentBookmark;
    return true;
}

bool gotoBookmark(VOKFile& file, std::uint32_t id) {
    const std::size_t k = find(file.bookmarks, id);
    if (k == file.bookmarks.size()) return false;
    file.currentBookmark = static_cast<std::uint32_t>(k);
    moveCursor(file, id);
    return true;
}

bool gotoNextBookmark(VOKFile& file) {
    const std::uint32_t next = file.currentBookmark + 1;  // from before the first: 0
    if (next >= file.bookmarks.size()) return false;
    file.currentBookmark = next;
    moveCursor(file, file.bookmarks[next]);
    return true;
}

bool gotoPreviousBookmark(VOKFile& file) {
    if (file.currentBookmark < 1) return false;
    const std::uint32_t previous = file.currentBookmark - 1;
    if (previous >= file.bookmarks.size()) return false;
    file.currentBookmark = previous;
    moveCursor(file, file.bookmarks[previous]);
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
    try {
        return operation(*file) ? 0 : -1;
    } catch (const std::exception& e) {
        log("%s\n", e.what());
    } catch (...) {
    }
    return -1;
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

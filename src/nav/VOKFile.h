// The file object: what a client holds between vok_open_file and
// vok_close_file.  It is only the aggregate of its parts, each owned by its
// layer and reached through its own interface:
//   recording  (load)  stream and block values, preamble, the item index and
//                      recording blocks the reading loop built, extra messages
//   decoder    (load)  sample window and item decoding (readItemAt)
//   cursor     (nav)   position, current block, time offset fixup, merge of
//                      extra messages
//   trials, bookmarks (nav)
#pragma once

#include "load/ItemAssembly.h"
#include "load/Recording.h"
#include "nav/Bookmarks.h"
#include "nav/Cursor.h"
#include "nav/Trials.h"

// The exported header declares the handle type at global scope.
struct VOKFile {
    VOKFile() : decoder(recording) {}
    VOKFile(const VOKFile&) = delete;
    VOKFile& operator=(const VOKFile&) = delete;

    vok::Recording recording;
    vok::ItemDecoder decoder;  // reads recording: declared after it
    vok::Cursor cursor;
    vok::TrialList trials;
    vok::BookmarkList bookmarks;
};

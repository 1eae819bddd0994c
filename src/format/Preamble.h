// The text preamble between the magic line and the record stream.
#pragma once

#include <string>

#include "format/RecordReader.h"

namespace vok {

// Longest preamble text kept, in characters; the rest of a longer preamble
// is cut.
constexpr std::size_t kPreambleTextCapacity = 1999;

// Reads one preamble line and notes what it says: -1 when the stream cannot
// be read, 1 when the end line "ENDP:\n" has been seen (now or before), 0 for
// any other line, which is left in line (at most 199 characters).  A file
// that ends inside the preamble raises "End of file Exception".
int readPreambleLine(RecordReader& reader, char (&line)[200], std::size_t& length);

// Reads the whole preamble and returns its text: every line prefixed with
// "** ", line ends kept.  Sets the revisions and the library-wide text
// encoding flag.
std::string readPreamble(RecordReader& reader);

// Sets the text encoding flag from a preamble text, or leaves it.
void deriveTextEncoding(const std::string& text);

// Library-wide: nonzero when message texts are UTF-8, 0 when they are in the
// system code page.  Set by the last preamble read.
int textEncodingFlag();
void setTextEncodingFlag(int flag);

}  // namespace vok

// Record framing and the two record decoders.
//
// After the preamble a recording is a stream of records, each opened by a
// big-endian tag word: 0 ends the stream, an odd word is a sample (the word
// is its flags), an even word is an event (high byte: eye bits and type).
#pragma once

#include <cstdint>

#include "format/RecordReader.h"
#include "vokapi.h"

namespace vok {

// Tag reader results.
enum TagResult : int {
    kTagEnd = -1,        // stream unusable, or the word read is 0
    kTagEvent = 0,       // an even word; out receives its high byte
    kTagSample = 1,      // an odd word (out receives it), or the stream is at its end
    kTagNoPreamble = 2,  // the preamble has not been read to its end
};

// Reads the next tag word into reader.pendingTag.  Raises "End of file
// Exception" when fewer than two bytes remain.
int readTag(RecordReader& reader, std::uint16_t* out);

// The decoders fail one way: a record they cannot decode raises RecordError
// (core/VOKException.h) with its status, a short read raises the stream's
// "End of file Exception".  What a failure means (fail the open, end the
// records, an unreadable item) is the caller's policy.

// Decodes the pending (or next) sample record into sample.  expectedTime,
// when not 0, re-bases the running time so that a record re-read after a
// seek gets the time its item had.  RecordError kOtherClass when the pending
// record is an event (it stays pending).
void decodeSample(RecordReader& reader, Sample& sample, std::uint32_t expectedTime);

// Reads the pending (or next) sample record as decodeSample does, with the
// same running time, stream position, failures and messages, but sets only
// the sample's flags, time, input word and head-data type: what indexing a
// record needs.  The other fields keep whatever they held, or receive the
// record's values when the record is not whole in the stream's buffer.
void skimSample(RecordReader& reader, Sample& sample);

// Decodes the pending (or next) event record into event.  Fields the record
// does not carry keep their value.  A message's text goes into text, or into
// the reader's own buffer when text is null; event.message points at it.
// Block starts also set the reader's sample rate, scales, recording-mode and
// filter words.  RecordError kOtherClass when the pending record is a
// sample.
void decodeEvent(RecordReader& reader, Event& event, MessageBuffer* text = nullptr);

// True for the item codes the library treats as events.
constexpr bool isEventType(int type) {
    return (type >= 1 && type <= 10) || (type >= 15 && type <= 18) || type == 24 || type == 25 ||
           type == 28;
}

}  // namespace vok

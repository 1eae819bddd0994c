#include "format/RecordDecoder.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/Log.h"
#include "core/VOKException.h"

namespace vok {

namespace {

constexpr float kMissing = 1e8f;
constexpr float kAbsent = -32768.0f;

// A stored -32768 marks a missing value; others are divided by the scale
// when the scale is usable.
inline float scaled(std::int16_t v, float scale) {
    if (v == -32768) return kMissing;
    const float f = static_cast<float>(v);
    return static_cast<double>(scale) > 0.1 ? f / scale : f;
}

inline float marked(std::int16_t v) { return v == -32768 ? kMissing : static_cast<float>(v); }

void skipSkippableBlock(InputStream& s) {
    for (;;) {
        std::uint8_t length = s.readByte();
        if (length == 0) return;
        s.readByte();  // one byte that carries nothing for us
        s.skipBytes(length);
    }
}

std::uint8_t eyeOfTag(std::uint16_t tag) { return ((tag >> 8) & 0xC0) == 0x40 ? 1 : 0; }

// Converts a float that is known to come from a 16-bit field to an int;
// anything else (a caller that left garbage) counts as 0.
int truncToInt(float v) {
    if (!(v > -2147483648.0f && v < 2147483648.0f)) return 0;
    return static_cast<int>(v);
}

void rateStep(RecordReader& r, Event& e) {
    if (r.revision == 0) {
        r.sampleRate = 250.0f;
        e.avgVelocity = 250.0f;
        r.recordingModeWord = 9;
        r.filterWord = 1;
        e.endTime = e.startTime;
        return;
    }
    if (e.endTime != 0) {
        // 16.16 fixed point.
        float rate = static_cast<float>(static_cast<double>(static_cast<float>(e.endTime)) * 1.52587890625e-5);
        r.sampleRate = rate;
        e.avgVelocity = rate;
    } else if (r.sampleRate != 500.0f) {
        if (r.sampleRate > 500.0f) {
            log("Possible miss handle! sample per second is %f resetting to 250 \n",
                static_cast<double>(r.sampleRate));
        }
        r.sampleRate = 250.0f;
        e.avgVelocity = 250.0f;
    }
    int w = truncToInt(e.endResolutionX);
    r.recordingModeWord = static_cast<std::uint16_t>((w >> 8) & 0xFF);
    r.filterWord = static_cast<std::uint16_t>((w >> 4) & 0xF);
    e.endTime = e.startTime;
}

// A message may open with a signed offset in milliseconds that is subtracted
// from its time; the token is taken off the text.
void offsetStep(MessageBuffer& m, Event& e) {
    char* text = m.text;
    std::size_t end = strnlen(text, MessageBuffer::kCapacity);
    std::size_t at = 0;
    for (int spaces = 0; spaces < 20 && at < end && text[at] == ' '; ++spaces) ++at;
    std::size_t tokenStart = at;
    std::size_t tokenLength = 0;
    char token[8] = {};
    while (tokenLength < 7 && at < end && text[at] != ' ') token[tokenLength++] = text[at++];
    int n = std::atoi(token);
    if (n == 0 || n >= 1000 || n <= -1000) return;
    if (static_cast<int>(tokenLength) >= m.length - 1) return;
    e.startTime -= static_cast<std::uint32_t>(n);
    m.length = static_cast<std::int16_t>(m.length - static_cast<std::int16_t>(tokenLength));
    std::size_t rest = tokenStart + tokenLength;
    std::memmove(text, text + rest, end - rest);
    text[end - rest] = '\0';
}

}  // namespace

int readTag(RecordReader& reader, std::uint16_t* out) {
    if (!reader.stream) return kTagEnd;
    if (reader.stream->atEnd()) return kTagSample;
    if (!reader.endOfPreamble) return kTagNoPreamble;
    std::uint16_t word = reader.stream->readU16();
    reader.pendingTag = word;
    if (word == 0) return kTagEnd;
    if (word & 1) {
        if (out != nullptr) *out = word;
        return kTagSample;
    }
    if (out != nullptr) *out = static_cast<std::uint16_t>(word >> 8);
    return kTagEvent;
}

namespace {

// Unchecked big-endian reads over bytes whose count was checked before.
struct RawBytes {
    const std::uint8_t* p;
    std::uint8_t readByte() { return *p++; }
    std::uint16_t readU16() {
        const std::uint16_t v = static_cast<std::uint16_t>((p[0] << 8) | p[1]);
        p += 2;
        return v;
    }
    std::int16_t readI16() { return static_cast<std::int16_t>(readU16()); }
    std::uint32_t readU32() {
        const std::uint32_t v = (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
                                (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
        p += 4;
        return v;
    }
};

// Bytes of the part of a sample record whose size the flags fix: the time
// and every group up to the button word.
inline std::size_t fixedSampleSize(std::uint16_t flags) {
    // Counted without branches: the reading loop asks for every record.
    const unsigned f = flags;
    const unsigned eyes = ((f >> 15) & 1) + ((f >> 14) & 1);
    const unsigned pairs = ((f >> 12) & 1) + ((f >> 11) & 1) + ((f >> 10) & 1);  // pupil, head-ref, gaze
    const unsigned words = ((f >> 7) & 1) + ((f >> 6) & 1) + ((f >> 5) & 1);     // errors, input, buttons
    return 1 + 3 * ((f >> 13) & 1) + 4 * eyes * pairs + 4 * ((f >> 9) & 1) + 2 * eyes * ((f >> 8) & 1) + 2 * words;
}

// Decodes the fixed-size part of a sample record, from the time to the
// button word, with either checked stream reads or unchecked raw reads.
template <class In>
inline void decodeFixedSampleFields(In& s, RecordReader& reader, Sample& x, std::uint16_t flags,
                                    std::uint32_t expectedTime) {
    if (flags & VOK_SAMPLE_FULLTIME) {
        reader.runningTime = s.readU32();
    } else {
        std::uint32_t d = s.readByte();
        if (expectedTime != 0 && expectedTime != reader.runningTime + d) reader.runningTime = expectedTime - d;
        reader.runningTime += d;
    }
    x.time = reader.runningTime;

    const bool left = (flags & VOK_SAMPLE_LEFT) != 0;
    const bool right = (flags & VOK_SAMPLE_RIGHT) != 0;
    x.pupilX[0] = x.pupilX[1] = x.pupilY[0] = x.pupilY[1] = kAbsent;
    x.headRefX[0] = x.headRefX[1] = x.headRefY[0] = x.headRefY[1] = kAbsent;
    if (flags & VOK_SAMPLE_PUPILXY) {
        if (left) {
            x.pupilX[0] = static_cast<float>(s.readI16());
            x.pupilY[0] = static_cast<float>(s.readI16());
        }
        if (right) {
            x.pupilX[1] = static_cast<float>(s.readI16());
            x.pupilY[1] = static_cast<float>(s.readI16());
        }
    }
    if (flags & VOK_SAMPLE_HEADREF) {
        if (left) {
            x.headRefX[0] = static_cast<float>(s.readI16());
            x.headRefY[0] = static_cast<float>(s.readI16());
        }
        if (right) {
            x.headRefX[1] = static_cast<float>(s.readI16());
            x.headRefY[1] = static_cast<float>(s.readI16());
        }
    }
    const float scale = reader.gazeScale;
    x.gazeX[0] = x.gazeX[1] = x.gazeY[0] = x.gazeY[1] = kAbsent;
    if (flags & VOK_SAMPLE_GAZE) {
        if (left) {
            x.gazeX[0] = scaled(s.readI16(), scale);
            x.gazeY[0] = scaled(s.readI16(), scale);
        }
        if (right) {
            x.gazeX[1] = scaled(s.readI16(), scale);
            x.gazeY[1] = scaled(s.readI16(), scale);
        }
    }
    if (flags & VOK_SAMPLE_RESOLUTION) {
        x.resolutionX = scaled(s.readI16(), scale);
        x.resolutionY = scaled(s.readI16(), scale);
    } else {
        x.resolutionX = x.resolutionY = kMissing;
    }
    if (flags & VOK_SAMPLE_PUPILSIZE) {
        x.pupilSize[0] = left ? static_cast<float>(s.readI16()) : kAbsent;
        x.pupilSize[1] = right ? static_cast<float>(s.readI16()) : kAbsent;
    }
    x.errors = (flags & VOK_SAMPLE_ERRORS) ? s.readU16() : VOK_ABSENT_WORD;
    x.input = (flags & VOK_SAMPLE_INPUT) ? s.readU16() : VOK_ABSENT_WORD;
    x.buttons = (flags & VOK_SAMPLE_BUTTONS) ? s.readU16() : 0;
}

}  // namespace

void decodeSample(RecordReader& reader, Sample& x, std::uint32_t expectedTime) {
    if (!reader.stream || reader.stream->atEnd() || !reader.endOfPreamble) throw RecordError(RecordError::kUnreadable);
    if (reader.pendingTag == 0 && readTag(reader, nullptr) == kTagEnd) throw RecordError(RecordError::kUnreadable);
    const std::uint16_t flags = reader.pendingTag;
    if ((flags & 1) == 0) throw RecordError(RecordError::kOtherClass);
    reader.pendingTag = 0;
    InputStream& s = *reader.stream;
    x.flags = flags;

    // Nearly every record lies whole in the stream's buffer: check its size
    // once and read it without per-field checks.
    const std::size_t fixed = fixedSampleSize(flags);
    if (VOK_LIKELY(s.buffered() >= fixed)) {
        RawBytes raw{s.bufferedBytes()};
        decodeFixedSampleFields(raw, reader, x, flags, expectedTime);
        s.consumeBuffered(fixed);
    } else {
        decodeFixedSampleFields(s, reader, x, flags, expectedTime);
    }

    if (flags & VOK_SAMPLE_HEADDATA) {
        std::uint8_t type = s.readByte();
        x.headDataType = type;
        std::memset(x.headData, 0, sizeof x.headData);
        int words = type & 15;
        if (words > 8) words = 8;
        for (int i = 0; i < words; ++i) x.headData[i] = s.readI16();
    } else {
        x.headDataType = static_cast<std::int16_t>(VOK_ABSENT_WORD);
    }
    if (flags & VOK_SAMPLE_SKIP1) skipSkippableBlock(s);
    if (flags & VOK_SAMPLE_SKIP2) skipSkippableBlock(s);
}

void skimSample(RecordReader& reader, Sample& x) {
    InputStream* stream = reader.stream.get();
    const std::uint16_t flags = reader.pendingTag;
    // Only a pending sample whose fixed part lies whole in the buffer is
    // skimmed; anything else (no record pending, the end of the stream, a
    // record cut by the buffer's end) takes the decoder's own way, with its
    // failures and messages.
    if (VOK_UNLIKELY(stream == nullptr || stream->atEnd() || !reader.endOfPreamble || (flags & 1) == 0)) {
        decodeSample(reader, x, 0);
        return;
    }
    const std::size_t fixed = fixedSampleSize(flags);
    if (VOK_UNLIKELY(stream->buffered() < fixed)) {
        decodeSample(reader, x, 0);
        return;
    }
    InputStream& s = *stream;
    reader.pendingTag = 0;
    x.flags = flags;
    RawBytes raw{s.bufferedBytes()};
    if (flags & VOK_SAMPLE_FULLTIME) {
        reader.runningTime = raw.readU32();
    } else {
        reader.runningTime += raw.readByte();
    }
    x.time = reader.runningTime;
    // The input word comes last in the fixed part but for the button word.
    if (flags & VOK_SAMPLE_INPUT) {
        RawBytes input{s.bufferedBytes() + fixed - ((flags & VOK_SAMPLE_BUTTONS) ? 4 : 2)};
        x.input = input.readU16();
    } else {
        x.input = VOK_ABSENT_WORD;
    }
    s.consumeBuffered(fixed);

    if (flags & VOK_SAMPLE_HEADDATA) {
        const std::uint8_t type = s.readByte();
        x.headDataType = type;
        int words = type & 15;
        if (words > 8) words = 8;
        const std::size_t bytes = 2 * static_cast<std::size_t>(words);
        if (VOK_LIKELY(s.buffered() >= bytes)) {
            s.consumeBuffered(bytes);
        } else {
            // Word by word, so that a cut record fails as the decoder's does.
            for (int i = 0; i < words; ++i) s.readU16();
        }
    } else {
        x.headDataType = static_cast<std::int16_t>(VOK_ABSENT_WORD);
    }
    if (flags & VOK_SAMPLE_SKIP1) skipSkippableBlock(s);
    if (flags & VOK_SAMPLE_SKIP2) skipSkippableBlock(s);
}

void decodeEvent(RecordReader& reader, Event& e, MessageBuffer* text) {
    if (!reader.stream) {
        log(" bad status  %d\n", -1);
        throw RecordError(RecordError::kUnreadable);
    }
    if (reader.stream->atEnd()) {
        log(" bad status  %d\n", 1);
        throw RecordError(RecordError::kUnreadable);
    }
    if (!reader.endOfPreamble) {
        log(" bad status  %d\n", 2);
        throw RecordError(RecordError::kUnreadable);
    }
    if (reader.pendingTag == 0 && readTag(reader, nullptr) == kTagEnd) throw RecordError(RecordError::kUnreadable);
    const std::uint16_t tag = reader.pendingTag;
    if (tag & 1) throw RecordError(RecordError::kOtherClass);
    reader.pendingTag = 0;

    InputStream& s = *reader.stream;
    MessageBuffer& m = text != nullptr ? *text : reader.message;
    e.eye = eyeOfTag(tag);
    e.parsedBy = static_cast<std::uint16_t>(tag & 0xFE);
    const int type = (tag >> 8) & 63;
    const bool blockStart = type == STARTSAMPLES || type == STARTEVENTS;
    const float gs = reader.gazeScale;
    const float vs = reader.velocityScale;
    std::uint16_t read = 0;
    bool sawButtons = false;
    bool sawPeak = false;

    for (;;) {
        const std::uint8_t field = s.readByte();
        if (field == 0) break;
        switch (field) {
            case 33: e.startTime = s.readU32(); read |= 0x0001; break;
            case 65: e.endTime = s.readU32(); read |= 0x0040; break;
            case 40: {
                float x = s.readI16(), y = s.readI16();
                e.startHeadRefX = e.startGazeX = x;
                e.startHeadRefY = e.startGazeY = y;
                read |= 0x0408;
                break;
            }
            case 72: {
                float x = s.readI16(), y = s.readI16();
                e.endHeadRefX = e.endGazeX = x;
                e.endHeadRefY = e.endGazeY = y;
                read |= 0x0410;
                break;
            }
            case 104: {
                float x = s.readI16(), y = s.readI16();
                e.avgHeadRefX = e.avgGazeX = x;
                e.avgHeadRefY = e.avgGazeY = y;
                read |= 0x0420;
                break;
            }
            case 41: e.startHeadRefX = marked(s.readI16()); e.startHeadRefY = marked(s.readI16()); read |= 0x0808; break;
            case 73: e.endHeadRefX = marked(s.readI16()); e.endHeadRefY = marked(s.readI16()); read |= 0x0810; break;
            case 105: e.avgHeadRefX = marked(s.readI16()); e.avgHeadRefY = marked(s.readI16()); read |= 0x0820; break;
            case 42: e.startGazeX = scaled(s.readI16(), gs); e.startGazeY = scaled(s.readI16(), gs); read |= 0x1008; break;
            case 74: e.endGazeX = scaled(s.readI16(), gs); e.endGazeY = scaled(s.readI16(), gs); read |= 0x1010; break;
            case 106: e.avgGazeX = scaled(s.readI16(), gs); e.avgGazeY = scaled(s.readI16(), gs); read |= 0x1020; break;
            case 48: e.startPupilSize = s.readI16(); read |= 0x0081; break;
            case 81: e.endPupilSize = s.readI16(); read |= 0x0082; break;
            case 114: e.avgPupilSize = s.readI16(); read |= 0x0084; break;
            case 43: e.startResolutionX = scaled(s.readI16(), gs); e.startResolutionY = scaled(s.readI16(), gs); read |= 0x0201; break;
            case 75:
                if (blockStart) {
                    e.endResolutionX = s.readI16();
                    e.endResolutionY = s.readI16();
                } else {
                    e.endResolutionX = scaled(s.readI16(), gs);
                    e.endResolutionY = scaled(s.readI16(), gs);
                }
                read |= 0x0202;
                break;
            case 51: e.startVelocity = scaled(s.readI16(), vs); read |= 0x0101; break;
            case 83: e.endVelocity = scaled(s.readI16(), vs); read |= 0x0102; break;
            case 115: e.avgVelocity = scaled(s.readI16(), vs); read |= 0x0104; break;
            case 147:
                if (blockStart) {
                    s.readI16();  // carried by block starts, not kept
                } else {
                    e.peakVelocity = scaled(s.readI16(), vs);
                    read |= 0x0104;
                }
                sawPeak = true;
                break;
            case 85: e.input = s.readU16(); break;
            case 86: e.buttons = s.readU16(); sawButtons = true; break;
            case 94: {
                std::int16_t length = s.readI16();
                if (length < 0 || length > 498) throw RecordError(RecordError::kUnreadable);
                std::memset(m.text, 0, sizeof m.text);
                m.length = length;
                s.readBytes(m.text, static_cast<std::size_t>(length));
                e.message = m.asLString();
                break;
            }
            case 180: e.flags = s.readU16(); read |= 0x2000; break;
            default: break;  // tags without a payload
        }
    }

    if ((read & 0x0001) == 0) {
        if (read & 0x0040) {
            e.startTime = e.endTime;
        } else {
            e.endTime = 0;
        }
    }
    e.read = read;
    e.type = static_cast<std::int16_t>(type);

    if (blockStart) {
        reader.gazeScale = e.startPupilSize;
        reader.velocityScale = e.endPupilSize;
        if (!sawButtons) e.buttons = 1;
        if (!sawPeak) e.peakVelocity = 1.0f;
        rateStep(reader, e);
    } else if (type == MESSAGEEVENT && reader.messageTimeOffsets && e.message != nullptr) {
        offsetStep(m, e);
    }
}

}  // namespace vok

#include "VokWriter.h"

#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace vokgen {

namespace {

constexpr float kMissingValue = 100000000.0f;
constexpr float kAbsentValue = -32768.0f;

// Appends a big-endian u16 / u32 to a byte buffer.
inline std::uint8_t* put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
    return p + 2;
}
inline std::uint8_t* put16(std::uint8_t* p, std::int16_t v) {
    return put16(p, static_cast<std::uint16_t>(v));
}
inline std::uint8_t* put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
    return p + 4;
}

float plain(std::int16_t v) { return static_cast<float>(v); }
float marked(std::int16_t v) { return v == -32768 ? kMissingValue : static_cast<float>(v); }

std::int16_t roundClamp(double v) {
    if (std::isnan(v)) return -32768;
    if (v >= 32767.0) return 32767;
    if (v <= -32767.0) return -32767;
    return static_cast<std::int16_t>(std::lround(v));
}

bool isBlockStart(int type) { return type == STARTSAMPLES || type == STARTEVENTS; }
bool isBlockBoundary(int type) { return type >= STARTSAMPLES && type <= ENDEVENTS; }

std::uint8_t eyeBitsOf(Eye eye) {
    switch (eye) {
        case Eye::Left:
            return kEyeLeftBits;
        case Eye::Right:
            return kEyeRightBits;
        case Eye::Both:
            return kEyeBothBits;
    }
    return 0;
}

}  // namespace

const char* magicLine(Magic magic) {
    switch (magic) {
        case Magic::Plain7700:
            return "ZK_MORAVELT_7700FILE\n";
        case Magic::Plain7700Crlf:
            return "ZK_MORAVELT_7700FILE\r\n";
        case Magic::Combined:
            return "ZK_MORAVELT_COMBFILE\n";
        case Magic::CombinedCrlf:
            return "ZK_MORAVELT_COMBFILE\r\n";
        case Magic::Compressed:
            return "ZK_MORAVELT_7700FILE ZIP\n";
        case Magic::CompressedCrlf:
            return "ZK_MORAVELT_7700FILE ZIP\r\n";
    }
    return "";
}

bool isCompressedMagic(Magic magic) { return magic == Magic::Compressed || magic == Magic::CompressedCrlf; }

std::int16_t toStored(double value, double scale) {
    if (std::isnan(value)) return -32768;
    return roundClamp(scale > 0.1 ? value * scale : value);
}

std::int16_t toStoredPlain(double value) { return roundClamp(value); }

float decodeScaled(std::int16_t stored, float scale) {
    if (stored == -32768) return kMissingValue;
    float v = static_cast<float>(stored);
    if (static_cast<double>(scale) > 0.1) v /= scale;
    return v;
}

FieldPayload fieldPayload(std::uint8_t tag) {
    switch (tag) {
        case 33:
        case 65:
            return FieldPayload::U32;
        case 40:
        case 41:
        case 42:
        case 43:
        case 72:
        case 73:
        case 74:
        case 75:
        case 104:
        case 105:
        case 106:
            return FieldPayload::Pair;
        case 48:
        case 51:
        case 81:
        case 83:
        case 114:
        case 115:
        case 147:
            return FieldPayload::I16;
        case 85:
        case 86:
        case 180:
            return FieldPayload::U16;
        case 94:
            return FieldPayload::Text;
        default:
            return FieldPayload::None;
    }
}

// ---- EventField factories ----

EventField EventField::u32(std::uint8_t tag, std::uint32_t v) {
    EventField f;
    f.kind = Kind::U32;
    f.tag = tag;
    f.a = v;
    return f;
}
EventField EventField::pair(std::uint8_t tag, std::int16_t x, std::int16_t y) {
    EventField f;
    f.kind = Kind::Pair;
    f.tag = tag;
    f.a = static_cast<std::uint16_t>(x);
    f.b = static_cast<std::uint16_t>(y);
    return f;
}
EventField EventField::i16(std::uint8_t tag, std::int16_t v) {
    EventField f;
    f.kind = Kind::I16;
    f.tag = tag;
    f.a = static_cast<std::uint16_t>(v);
    return f;
}
EventField EventField::u16(std::uint8_t tag, std::uint16_t v) {
    EventField f;
    f.kind = Kind::U16;
    f.tag = tag;
    f.a = v;
    return f;
}
EventField EventField::text(std::string_view text) {
    EventField f;
    f.kind = Kind::Text;
    f.tag = 94;
    f.bytes = std::string(text);
    return f;
}
EventField EventField::textWithLength(std::int16_t declaredLength, std::string_view bytes) {
    EventField f = text(bytes);
    f.textLength = declaredLength;
    return f;
}
EventField EventField::bare(std::uint8_t tag) {
    EventField f;
    f.kind = Kind::Bare;
    f.tag = tag;
    return f;
}
EventField EventField::raw(std::uint8_t tag, std::string_view payload) {
    EventField f;
    f.kind = Kind::Raw;
    f.tag = tag;
    f.bytes = std::string(payload);
    return f;
}

// ---- head ----

VokWriter& VokWriter::magic(Magic m) {
    compressed_ = isCompressedMagic(m);
    return raw(magicLine(m));
}

VokWriter& VokWriter::preambleLine(std::string_view text) {
    raw(text);
    if (text.empty() || text.back() != '\n') u8('\n');
    return *this;
}

VokWriter& VokWriter::standardPreamble(int trackerRevision, int revision) {
    if (trackerRevision == 2) preambleLine("SOURCE: TARNVIK MK II");
    if (trackerRevision == 3) preambleLine("SOURCE: TARNVIK RX");
    if (revision != 0) preambleLine("VERSION: TARNVIK MK " + std::to_string(revision) + ".0");
    preambleLine("DATE: Mon Dec  7 10:00:00 2026");
    return *this;
}

VokWriter& VokWriter::endPreamble() {
    // The revision as a reader takes it: the number after the last version
    // line's prefix, 0 stored as 1; no version line leaves 0.
    static constexpr std::string_view kVersion = "VERSION: TARNVIK MK ";
    std::size_t lineStart = 0;
    while (lineStart < bytes_.size()) {
        std::size_t end = lineStart;
        while (end < bytes_.size() && bytes_[end] != '\n') ++end;
        std::string line(bytes_.begin() + static_cast<std::ptrdiff_t>(lineStart),
                         bytes_.begin() + static_cast<std::ptrdiff_t>(end));
        if (line.compare(0, kVersion.size(), kVersion) == 0) {
            int r = std::atoi(line.c_str() + kVersion.size());
            revision_ = static_cast<std::uint16_t>(r) == 0 ? 1 : static_cast<std::uint16_t>(r);
        }
        lineStart = end + 1;
    }
    raw("ENDP:\n");
    bodyOffset_ = bytes_.size();
    return *this;
}

// ---- raw bytes ----

VokWriter& VokWriter::raw(std::string_view bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

VokWriter& VokWriter::u8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
}

VokWriter& VokWriter::u16(std::uint16_t v) {
    std::uint8_t b[2];
    put16(b, v);
    bytes_.insert(bytes_.end(), b, b + 2);
    return *this;
}

VokWriter& VokWriter::u32(std::uint32_t v) {
    std::uint8_t b[4];
    put32(b, v);
    bytes_.insert(bytes_.end(), b, b + 4);
    return *this;
}

VokWriter& VokWriter::patch(std::size_t offset, std::uint8_t v) {
    bytes_.at(offset) = v;
    return *this;
}

void VokWriter::noteItem(ExpectedItem item) {
    item.streamPosition = compressed_ && item.offset >= bodyOffset_ ? item.offset - bodyOffset_ : item.offset;
    items_.push_back(item);
}

// ---- samples ----

namespace {

void writeSkipBlock(std::vector<std::uint8_t>& out, const std::vector<SkipChunk>& chunks) {
    for (const SkipChunk& c : chunks) {
        if (c.data.empty() || c.data.size() > 255)
            throw std::invalid_argument("a skippable chunk holds 1 to 255 bytes");
        out.push_back(static_cast<std::uint8_t>(c.data.size()));
        out.push_back(c.ignored);
        out.insert(out.end(), c.data.begin(), c.data.end());
    }
    out.push_back(0);
}

}  // namespace

VokWriter& VokWriter::sample(const SampleSpec& s) {
    std::uint16_t flags = static_cast<std::uint16_t>(s.flags | VOK_SAMPLE_IS_SAMPLE);
    if (s.timeForm == TimeForm::Full) flags |= VOK_SAMPLE_FULLTIME;
    if (s.timeForm == TimeForm::Increment) flags &= static_cast<std::uint16_t>(~VOK_SAMPLE_FULLTIME);

    const bool left = (flags & VOK_SAMPLE_LEFT) != 0;
    const bool right = (flags & VOK_SAMPLE_RIGHT) != 0;
    const bool eyes[2] = {left, right};

    // The fixed-size part goes through a local buffer and one append.
    std::uint8_t buf[80];
    std::uint8_t* p = put16(buf, flags);
    const std::size_t offset = bytes_.size() + 2;

    std::uint32_t time = 0;
    if (flags & VOK_SAMPLE_FULLTIME) {
        p = put32(p, s.time);
        time = s.time;
    } else {
        std::uint32_t increment = 0;
        if (s.rawIncrement) {
            increment = *s.rawIncrement;
        } else {
            std::int64_t d = static_cast<std::int64_t>(s.time) - static_cast<std::int64_t>(runningTime_);
            if (d < 0 || d > 255)
                throw std::invalid_argument("sample time " + std::to_string(s.time) +
                                            " is no one-byte increment from the running time " +
                                            std::to_string(runningTime_));
            increment = static_cast<std::uint32_t>(d);
        }
        *p++ = static_cast<std::uint8_t>(increment);
        time = runningTime_ + increment;
    }
    runningTime_ = time;

    for (int e = 0; e < 2; ++e)
        if ((flags & VOK_SAMPLE_PUPILXY) && eyes[e]) p = put16(put16(p, s.pupilX[e]), s.pupilY[e]);
    for (int e = 0; e < 2; ++e)
        if ((flags & VOK_SAMPLE_HEADREF) && eyes[e]) p = put16(put16(p, s.headRefX[e]), s.headRefY[e]);
    for (int e = 0; e < 2; ++e)
        if ((flags & VOK_SAMPLE_GAZE) && eyes[e]) p = put16(put16(p, s.gazeX[e]), s.gazeY[e]);
    if (flags & VOK_SAMPLE_RESOLUTION) p = put16(put16(p, s.resolutionX), s.resolutionY);
    for (int e = 0; e < 2; ++e)
        if ((flags & VOK_SAMPLE_PUPILSIZE) && eyes[e]) p = put16(p, s.pupilSize[e]);
    if (flags & VOK_SAMPLE_ERRORS) p = put16(p, s.errors);
    if (flags & VOK_SAMPLE_INPUT) p = put16(p, s.input);
    if (flags & VOK_SAMPLE_BUTTONS) p = put16(p, s.buttons);
    int headWords = 0;
    if (flags & VOK_SAMPLE_HEADDATA) {
        *p++ = s.headDataType;
        headWords = s.headDataType & 15;
        if (headWords > 8) headWords = 8;
        for (int i = 0; i < headWords; ++i) p = put16(p, s.headData[i]);
    }
    bytes_.insert(bytes_.end(), buf, p);
    if (flags & VOK_SAMPLE_SKIP1) writeSkipBlock(bytes_, s.skip1);
    if (flags & VOK_SAMPLE_SKIP2) writeSkipBlock(bytes_, s.skip2);

    // Time key: the second sample of a millisecond sits half a millisecond later.
    const std::uint64_t key = 2ull * time + (static_cast<std::int64_t>(time) == lastSampleTime_ ? 1 : 0);
    lastSampleTime_ = time;

    if (expectation_ == Expectation::None) return *this;
    ExpectedItem item;
    item.kind = ItemKind::Sample;
    item.type = SAMPLE_TYPE;
    item.tag = flags;
    item.offset = offset;
    item.timeHalfMs = key;
    if (expectation_ == Expectation::Full) {
        Sample d{};
        d.time = time;
        d.flags = flags;
        for (int e = 0; e < 2; ++e) {
            const bool pupil = (flags & VOK_SAMPLE_PUPILXY) && eyes[e];
            const bool href = (flags & VOK_SAMPLE_HEADREF) && eyes[e];
            const bool gaze = (flags & VOK_SAMPLE_GAZE) && eyes[e];
            d.pupilX[e] = pupil ? plain(s.pupilX[e]) : kAbsentValue;
            d.pupilY[e] = pupil ? plain(s.pupilY[e]) : kAbsentValue;
            d.headRefX[e] = href ? plain(s.headRefX[e]) : kAbsentValue;
            d.headRefY[e] = href ? plain(s.headRefY[e]) : kAbsentValue;
            d.gazeX[e] = gaze ? decodeScaled(s.gazeX[e], gazeScale_) : kAbsentValue;
            d.gazeY[e] = gaze ? decodeScaled(s.gazeY[e], gazeScale_) : kAbsentValue;
            if (flags & VOK_SAMPLE_PUPILSIZE) d.pupilSize[e] = eyes[e] ? plain(s.pupilSize[e]) : kAbsentValue;
        }
        if (flags & VOK_SAMPLE_RESOLUTION) {
            d.resolutionX = decodeScaled(s.resolutionX, gazeScale_);
            d.resolutionY = decodeScaled(s.resolutionY, gazeScale_);
        } else {
            d.resolutionX = d.resolutionY = kMissingValue;
        }
        d.errors = (flags & VOK_SAMPLE_ERRORS) ? s.errors : VOK_ABSENT_WORD;
        d.input = (flags & VOK_SAMPLE_INPUT) ? s.input : VOK_ABSENT_WORD;
        d.buttons = (flags & VOK_SAMPLE_BUTTONS) ? s.buttons : 0;
        if (flags & VOK_SAMPLE_HEADDATA) {
            d.headDataType = s.headDataType;
            for (int i = 0; i < headWords; ++i) d.headData[i] = static_cast<std::int16_t>(s.headData[i]);
        } else {
            d.headDataType = static_cast<std::int16_t>(-32768);
        }
        d.timeHalfMs = key;
        item.index = static_cast<std::uint32_t>(samples_.size());
        samples_.push_back(d);
    }
    noteItem(item);
    return *this;
}

// ---- events ----

VokWriter& VokWriter::beginEvent(std::uint8_t type, std::uint8_t eyeBits, std::uint8_t lowByte) {
    if (open_.open) throw std::logic_error("an event record is still open");
    if (type > 63) throw std::invalid_argument("event type codes are 0..63");
    const std::uint16_t tag = static_cast<std::uint16_t>(((eyeBits & 0xC0) | type) << 8 | (lowByte & 0xFE));
    u16(tag);
    open_ = OpenEvent{};
    open_.open = true;
    open_.tag = tag;
    open_.offset = bytes_.size();
    open_.blockStart = isBlockStart(type);
    open_.gazeScale = gazeScale_;
    open_.velocityScale = velocityScale_;
    open_.ev.type = static_cast<std::int16_t>(type);
    open_.ev.eye = (eyeBits & 0xC0) == 0x40 ? 1 : 0;
    open_.ev.parsedBy = static_cast<std::uint16_t>(lowByte & 0xFE);
    return *this;
}

void VokWriter::requireOpenEvent(std::uint8_t tag, FieldPayload payload) {
    if (!open_.open) throw std::logic_error("no event record is open");
    if (fieldPayload(tag) != payload)
        throw std::invalid_argument("field tag " + std::to_string(tag) + " carries another payload");
}

VokWriter& VokWriter::fieldU32(std::uint8_t tag, std::uint32_t v) {
    requireOpenEvent(tag, FieldPayload::U32);
    u8(tag).u32(v);
    Event& e = open_.ev;
    if (tag == 33) {
        e.startTime = v;
        e.read |= VOK_READ_START_TIME;
    } else {
        e.endTime = v;
        e.read |= VOK_READ_END_TIME;
    }
    return *this;
}

VokWriter& VokWriter::fieldPair(std::uint8_t tag, std::int16_t x, std::int16_t y) {
    requireOpenEvent(tag, FieldPayload::Pair);
    u8(tag).i16(x).i16(y);
    Event& e = open_.ev;
    const float gs = open_.gazeScale;
    switch (tag) {
        case 40:
            e.startHeadRefX = e.startGazeX = plain(x);
            e.startHeadRefY = e.startGazeY = plain(y);
            e.read |= 0x0408;
            break;
        case 72:
            e.endHeadRefX = e.endGazeX = plain(x);
            e.endHeadRefY = e.endGazeY = plain(y);
            e.read |= 0x0410;
            break;
        case 104:
            e.avgHeadRefX = e.avgGazeX = plain(x);
            e.avgHeadRefY = e.avgGazeY = plain(y);
            e.read |= 0x0420;
            break;
        case 41:
            e.startHeadRefX = marked(x);
            e.startHeadRefY = marked(y);
            e.read |= 0x0808;
            break;
        case 73:
            e.endHeadRefX = marked(x);
            e.endHeadRefY = marked(y);
            e.read |= 0x0810;
            break;
        case 105:
            e.avgHeadRefX = marked(x);
            e.avgHeadRefY = marked(y);
            e.read |= 0x0820;
            break;
        case 42:
            e.startGazeX = decodeScaled(x, gs);
            e.startGazeY = decodeScaled(y, gs);
            e.read |= 0x1008;
            break;
        case 74:
            e.endGazeX = decodeScaled(x, gs);
            e.endGazeY = decodeScaled(y, gs);
            e.read |= 0x1010;
            break;
        case 106:
            e.avgGazeX = decodeScaled(x, gs);
            e.avgGazeY = decodeScaled(y, gs);
            e.read |= 0x1020;
            break;
        case 43:
            e.startResolutionX = decodeScaled(x, gs);
            e.startResolutionY = decodeScaled(y, gs);
            e.read |= 0x0201;
            break;
        case 75:
            if (open_.blockStart) {
                e.endResolutionX = plain(x);
                e.endResolutionY = plain(y);
            } else {
                e.endResolutionX = decodeScaled(x, gs);
                e.endResolutionY = decodeScaled(y, gs);
            }
            e.read |= 0x0202;
            break;
        default:
            break;
    }
    return *this;
}

VokWriter& VokWriter::fieldI16(std::uint8_t tag, std::int16_t v) {
    requireOpenEvent(tag, FieldPayload::I16);
    u8(tag).i16(v);
    Event& e = open_.ev;
    const float vs = open_.velocityScale;
    switch (tag) {
        case 48:
            e.startPupilSize = plain(v);
            e.read |= 0x0081;
            break;
        case 81:
            e.endPupilSize = plain(v);
            e.read |= 0x0082;
            break;
        case 114:
            e.avgPupilSize = plain(v);
            e.read |= 0x0084;
            break;
        case 51:
            e.startVelocity = decodeScaled(v, vs);
            e.read |= 0x0101;
            break;
        case 83:
            e.endVelocity = decodeScaled(v, vs);
            e.read |= 0x0102;
            break;
        case 115:
            e.avgVelocity = decodeScaled(v, vs);
            e.read |= 0x0104;
            break;
        case 147:
            // A block start reads its peak-velocity field and drops it.
            open_.has147 = true;
            if (!open_.blockStart) {
                e.peakVelocity = decodeScaled(v, vs);
                e.read |= 0x0104;
            }
            break;
        default:
            break;
    }
    return *this;
}

VokWriter& VokWriter::fieldU16(std::uint8_t tag, std::uint16_t v) {
    requireOpenEvent(tag, FieldPayload::U16);
    u8(tag).u16(v);
    Event& e = open_.ev;
    if (tag == 85) e.input = v;
    if (tag == 86) {
        e.buttons = v;
        open_.has86 = true;
    }
    if (tag == 180) {
        e.flags = v;
        e.read |= VOK_READ_FLAGS;
    }
    return *this;
}

VokWriter& VokWriter::fieldText(std::string_view text) {
    if (text.size() > 32767) throw std::invalid_argument("a text field holds at most 32767 bytes");
    return fieldTextWithLength(static_cast<std::int16_t>(text.size()), text);
}

VokWriter& VokWriter::fieldTextWithLength(std::int16_t declaredLength, std::string_view bytes) {
    requireOpenEvent(94, FieldPayload::Text);
    u8(94).i16(declaredLength);
    raw(bytes);
    if (declaredLength < 0 || declaredLength > 498) open_.decodable = false;
    if (declaredLength < 0 || static_cast<std::size_t>(declaredLength) != bytes.size())
        open_.modelled = false;
    open_.hasText = true;
    open_.text = std::string(bytes);
    return *this;
}

VokWriter& VokWriter::fieldBare(std::uint8_t tag) {
    requireOpenEvent(tag, FieldPayload::None);
    u8(tag);
    // A 0 tag inside the list ends the record for the reader: what follows
    // is no longer this record.
    if (tag == 0) open_.modelled = false;
    return *this;
}

VokWriter& VokWriter::fieldRaw(std::uint8_t tag, std::string_view payload) {
    if (!open_.open) throw std::logic_error("no event record is open");
    u8(tag);
    raw(payload);
    open_.modelled = false;
    return *this;
}

VokWriter& VokWriter::endEvent(bool terminate) {
    if (!open_.open) throw std::logic_error("no event record is open");
    if (terminate) u8(0);
    finishEvent();
    return *this;
}

void VokWriter::finishEvent() {
    OpenEvent& o = open_;
    Event& e = o.ev;
    const int type = e.type;
    if (o.decodable) {
        if (!(e.read & VOK_READ_START_TIME)) {
            if (e.read & VOK_READ_END_TIME)
                e.startTime = e.endTime;
            else
                e.endTime = 0;
        }
        if (isBlockStart(type)) {
            gazeScale_ = e.startPupilSize;
            velocityScale_ = e.endPupilSize;
            if (!o.has86) e.buttons = 1;
            if (!o.has147) e.peakVelocity = 1.0f;
            // The rate step.
            if (revision_ == 0) {
                sampleRate_ = 250.0f;
                e.avgVelocity = 250.0f;
            } else if (e.endTime != 0) {
                const float rate =
                    static_cast<float>(static_cast<double>(static_cast<float>(e.endTime)) * 1.52587890625e-5);
                sampleRate_ = rate;
                e.avgVelocity = rate;
            } else if (sampleRate_ != 500.0f) {
                sampleRate_ = 250.0f;
                e.avgVelocity = 250.0f;
            }
            e.endTime = e.startTime;
        }
    }
    if (isBlockBoundary(type)) blockBoundary();
    o.open = false;

    if (expectation_ == Expectation::None) return;
    ExpectedItem item;
    item.kind = ItemKind::Event;
    item.type = static_cast<std::int16_t>(type);
    item.tag = o.tag;
    item.decodable = o.decodable;
    item.modelled = o.modelled;
    item.offset = o.offset;
    const bool endKeyed =
        type == EBLINK || type == ESACC || type == EFIX || type == ENDSAMPLES || type == ENDEVENTS;
    item.timeHalfMs = 2ull * (endKeyed ? e.endTime : e.startTime);
    if (expectation_ == Expectation::Full) {
        item.index = static_cast<std::uint32_t>(events_.size());
        events_.push_back(e);
        if (o.hasText) {
            item.textIndex = static_cast<std::uint32_t>(messages_.size());
            messages_.push_back(std::move(o.text));
        }
    }
    noteItem(item);
}

VokWriter& VokWriter::event(const EventSpec& spec) {
    beginEvent(spec.type, spec.eyeBits, spec.lowByte);
    for (const EventField& f : spec.fields) {
        switch (f.kind) {
            case EventField::Kind::U32:
                fieldU32(f.tag, f.a);
                break;
            case EventField::Kind::Pair:
                fieldPair(f.tag, static_cast<std::int16_t>(static_cast<std::uint16_t>(f.a)),
                          static_cast<std::int16_t>(static_cast<std::uint16_t>(f.b)));
                break;
            case EventField::Kind::I16:
                fieldI16(f.tag, static_cast<std::int16_t>(static_cast<std::uint16_t>(f.a)));
                break;
            case EventField::Kind::U16:
                fieldU16(f.tag, static_cast<std::uint16_t>(f.a));
                break;
            case EventField::Kind::Text:
                if (f.textLength < 0)
                    fieldText(f.bytes);
                else
                    fieldTextWithLength(static_cast<std::int16_t>(f.textLength), f.bytes);
                break;
            case EventField::Kind::Bare:
                fieldBare(f.tag);
                break;
            case EventField::Kind::Raw:
                fieldRaw(f.tag, f.bytes);
                break;
        }
    }
    return endEvent(spec.terminate);
}

// ---- convenience event writers ----

VokWriter& VokWriter::eyeEvent(ItemType type, const EyeEventSpec& s) {
    const bool endType = type == EBLINK || type == ESACC || type == EFIX;
    const std::uint8_t eyeBits = s.eye == Eye::Right  ? kEyeRightBits
                                 : s.eye == Eye::Both ? kEyeBothBits
                                                      : kEyeLeftBits;
    beginEvent(static_cast<std::uint8_t>(type), eyeBits, s.parsedBy);
    fieldU32(33, s.startTime);
    if (s.writeEndTime.value_or(endType)) fieldU32(65, s.endTime);
    auto gaze = [&](std::uint8_t tag, const std::optional<Point>& p) {
        if (p) fieldPair(tag, storedGaze(p->x), storedGaze(p->y));
    };
    auto href = [&](std::uint8_t tag, const std::optional<Point>& p) {
        if (p) fieldPair(tag, toStoredPlain(p->x), toStoredPlain(p->y));
    };
    auto pupil = [&](std::uint8_t tag, const std::optional<double>& v) {
        if (v) fieldI16(tag, toStoredPlain(*v));
    };
    auto velocity = [&](std::uint8_t tag, const std::optional<double>& v) {
        if (v) fieldI16(tag, storedVelocity(*v));
    };
    gaze(42, s.startGaze);
    gaze(74, s.endGaze);
    gaze(106, s.avgGaze);
    href(41, s.startHeadRef);
    href(73, s.endHeadRef);
    href(105, s.avgHeadRef);
    pupil(48, s.startPupil);
    pupil(81, s.endPupil);
    pupil(114, s.avgPupil);
    gaze(43, s.startResolution);
    gaze(75, s.endResolution);
    velocity(51, s.startVelocity);
    velocity(83, s.endVelocity);
    velocity(115, s.avgVelocity);
    velocity(147, s.peakVelocity);
    return endEvent();
}

VokWriter& VokWriter::message(std::uint32_t time, std::string_view text) {
    return beginEvent(MESSAGEEVENT).fieldU32(33, time).fieldText(text).endEvent();
}

VokWriter& VokWriter::button(std::uint32_t time, std::uint16_t buttons) {
    return beginEvent(BUTTONEVENT).fieldU32(33, time).fieldU16(86, buttons).endEvent();
}

VokWriter& VokWriter::input(std::uint32_t time, std::uint16_t inputWord) {
    return beginEvent(INPUTEVENT).fieldU32(33, time).fieldU16(85, inputWord).endEvent();
}

VokWriter& VokWriter::mark(ItemType type, std::uint32_t time) {
    if (type != MARKA && type != MARKB) throw std::invalid_argument("mark() writes MARKA or MARKB");
    return beginEvent(static_cast<std::uint8_t>(type)).fieldU32(33, time).endEvent();
}

VokWriter& VokWriter::blockStart(ItemType type, const BlockStartSpec& b) {
    beginEvent(static_cast<std::uint8_t>(type), b.tagEyeBits, b.parsedBy);
    fieldU32(33, b.time);
    if (b.sampleRate) {
        const double fixed = *b.sampleRate * 65536.0;
        if (!(fixed >= 0.0 && fixed <= 4294967295.0)) throw std::invalid_argument("sample rate out of range");
        fieldU32(65, static_cast<std::uint32_t>(std::llround(fixed)));
    }
    if (b.gazeScale) fieldI16(48, *b.gazeScale);
    if (b.velocityScale) fieldI16(81, *b.velocityScale);
    if (b.recordingMode)
        fieldPair(75, static_cast<std::int16_t>(*b.recordingMode << 8 | (b.filter & 15) << 4), 0);
    const std::uint16_t eyeWord = static_cast<std::uint16_t>(eyeBitsOf(b.eye)) << 8;
    if (type == STARTSAMPLES) {
        fieldU16(180, static_cast<std::uint16_t>(b.flags | eyeWord));
    } else {
        fieldU16(180, b.flags);
        // The events start names the eyes with the bits the other way round.
        std::uint16_t input = 0;
        if (eyeWord & 0x8000) input |= 0x4000;
        if (eyeWord & 0x4000) input |= 0x8000;
        fieldU16(85, input);
    }
    if (b.buttons) fieldU16(86, *b.buttons);
    return endEvent();
}

VokWriter& VokWriter::startSamples(const BlockStartSpec& b) { return blockStart(STARTSAMPLES, b); }
VokWriter& VokWriter::startEvents(const BlockStartSpec& b) { return blockStart(STARTEVENTS, b); }

VokWriter& VokWriter::endSamples(std::uint32_t endTime, std::uint8_t tagEyeBits) {
    return beginEvent(ENDSAMPLES, tagEyeBits).fieldU32(65, endTime).endEvent();
}

VokWriter& VokWriter::endEvents(std::uint32_t endTime, std::uint8_t tagEyeBits) {
    return beginEvent(ENDEVENTS, tagEyeBits).fieldU32(65, endTime).endEvent();
}

// ---- output ----

std::vector<std::uint8_t> VokWriter::fileBytes() const {
    if (!compressed_ || bodyOffset_ == 0) return bytes_;
    const std::size_t bodySize = bytes_.size() - bodyOffset_;
    uLongf bound = compressBound(static_cast<uLong>(bodySize));
    std::vector<std::uint8_t> out(bodyOffset_ + bound);
    std::memcpy(out.data(), bytes_.data(), bodyOffset_);
    const Bytef* src = bodySize == 0 ? reinterpret_cast<const Bytef*>("") : bytes_.data() + bodyOffset_;
    int rc =
        compress2(out.data() + bodyOffset_, &bound, src, static_cast<uLong>(bodySize), compressionLevel_);
    if (rc != Z_OK)
        throw std::runtime_error("compressing the record stream failed (" + std::to_string(rc) + ")");
    out.resize(bodyOffset_ + bound);
    return out;
}

std::vector<std::uint8_t> VokWriter::cutAt(std::size_t length) const {
    std::vector<std::uint8_t> out = fileBytes();
    if (length < out.size()) out.resize(length);
    return out;
}

std::string VokWriter::fileString(std::size_t length) const {
    std::vector<std::uint8_t> b = cutAt(length);
    return std::string(b.begin(), b.end());
}

std::vector<std::uint8_t> VokWriter::damagedFileBytes(std::size_t bodyIndex, std::uint8_t mask) const {
    std::vector<std::uint8_t> out = fileBytes();
    const std::size_t at = bodyOffset_ + bodyIndex;
    if (at >= out.size()) throw std::out_of_range("damage past the end of the file");
    out[at] ^= mask;
    return out;
}

void VokWriter::writeFile(const std::string& path, std::size_t length) const {
    std::vector<std::uint8_t> b = cutAt(length);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot create " + path);
    std::size_t n = b.empty() ? 0 : std::fwrite(b.data(), 1, b.size(), f);
    bool ok = n == b.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
}

}  // namespace vokgen

// Writes recordings byte for byte in the recording format, for tests,
// benchmarks, fuzzing seeds and demos.  Every test recording is made with
// this writer; none is checked in as a binary.
//
// Besides the bytes, the writer keeps a list of what it wrote, in file
// order: for every sample and event record its byte offset just after the
// tag word, its tag word, its half-millisecond time key and the `Sample` or
// `Event` values a correct reader decodes from it.  The expected values are
// those of the record decoders (velocities are not computed, message time
// offsets are taken as off); see ExpectedItem.
//
// All multi-byte numbers are written big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vokapi.h"

namespace vokgen {

// The accepted first lines of a recording.
enum class Magic {
    Plain7700,       // "ZK_MORAVELT_7700FILE\n"
    Plain7700Crlf,   // "ZK_MORAVELT_7700FILE\r\n"
    Combined,        // "ZK_MORAVELT_COMBFILE\n"
    CombinedCrlf,    // "ZK_MORAVELT_COMBFILE\r\n"
    Compressed,      // "ZK_MORAVELT_7700FILE ZIP\n"
    CompressedCrlf,  // "ZK_MORAVELT_7700FILE ZIP\r\n"
};

const char* magicLine(Magic magic);
bool isCompressedMagic(Magic magic);

// Physical value that is written as the stored "missing" value -32768.
inline constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

// Converts a physical value to its stored i16: multiplied by the scale when
// the scale is above 0.1 (the reader divides only then), rounded to the
// nearest integer (halves away from zero) and clamped to -32767..32767.
// kMissing (any NaN) gives -32768.
std::int16_t toStored(double value, double scale);
// A plain (unscaled) value: rounded and clamped the same way.
std::int16_t toStoredPlain(double value);

// The reader's scaled conversion of a stored i16: -32768 gives 1e8; else the
// value divided by the scale when the scale is above 0.1.
float decodeScaled(std::int16_t stored, float scale);

// ---------------------------------------------------------------------------
// Sample records

enum class TimeForm {
    ByFlags,    // full time when the tag has 0x2000, else an increment
    Full,       // sets 0x2000 and writes the time as u32
    Increment,  // clears 0x2000 and writes time - running time as one byte
};

// One chunk of a skippable block: a length byte L, one ignored byte, L bytes.
struct SkipChunk {
    std::uint8_t ignored = 0;
    std::vector<std::uint8_t> data;  // at most 255 bytes
};

// A sample record in stored form.  Only groups whose flag bits are set are
// written; the values of the others are ignored.  Index 0 is the left eye.
struct SampleSpec {
    std::uint16_t flags = VOK_SAMPLE_IS_SAMPLE;  // bit 0 is always set by the writer
    std::uint32_t time = 0;                      // ms
    TimeForm timeForm = TimeForm::ByFlags;
    // When set, this byte is written as the increment whatever `time` is
    // (for records whose time the reader must re-base); the writer's running
    // time advances by it.  Ignored for full-time records.
    std::optional<std::uint8_t> rawIncrement;
    std::int16_t pupilX[2] = {0, 0}, pupilY[2] = {0, 0};
    std::int16_t headRefX[2] = {0, 0}, headRefY[2] = {0, 0};
    std::int16_t gazeX[2] = {0, 0}, gazeY[2] = {0, 0};  // stored (scaled) values
    std::int16_t resolutionX = 0, resolutionY = 0;      // stored (scaled) values
    std::int16_t pupilSize[2] = {0, 0};
    std::uint16_t errors = 0, input = 0, buttons = 0;
    std::uint8_t headDataType = 0;  // min(type & 15, 8) words are written
    std::uint16_t headData[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<SkipChunk> skip1, skip2;  // bits 0x0008, 0x0004; each ends with a zero length
};

// ---------------------------------------------------------------------------
// Event records

// Eye bits of an event tag word (its high byte, bits 6 and 7).
inline constexpr std::uint8_t kEyeLeftBits = 0x80;
inline constexpr std::uint8_t kEyeRightBits = 0x40;
inline constexpr std::uint8_t kEyeBothBits = 0xC0;

// The payload form of each field tag: 33, 65 u32; 40-43, 72-75, 104-106
// a pair of i16; 48, 51, 81, 83, 114, 115, 147 one i16; 85, 86, 180 one
// u16; 94 a text; every other tag none.
enum class FieldPayload { None, U32, Pair, I16, U16, Text };
FieldPayload fieldPayload(std::uint8_t tag);

// One field of an event's field list, written in list order.
struct EventField {
    enum class Kind { U32, Pair, I16, U16, Text, Bare, Raw };
    Kind kind = Kind::Bare;
    std::uint8_t tag = 0;
    std::uint32_t a = 0;           // U32 value, or x / the i16 / the u16
    std::uint32_t b = 0;           // y of a pair
    std::string bytes;             // text bytes, or a raw payload
    std::int32_t textLength = -1;  // declared text length; -1: the byte count

    static EventField u32(std::uint8_t tag, std::uint32_t v);
    static EventField pair(std::uint8_t tag, std::int16_t x, std::int16_t y);
    static EventField i16(std::uint8_t tag, std::int16_t v);
    static EventField u16(std::uint8_t tag, std::uint16_t v);
    // Field 94: i16 length, then the bytes.
    static EventField text(std::string_view text);
    // Field 94 with any declared length (even one outside 0..498) followed by
    // the given bytes.
    static EventField textWithLength(std::int16_t declaredLength, std::string_view bytes);
    // A tag alone, without payload (unknown tags, 181..255, or the 0 tag).
    static EventField bare(std::uint8_t tag);
    // A tag followed by arbitrary bytes; the expected values ignore it.
    static EventField raw(std::uint8_t tag, std::string_view payload);
};

// A generic event record: tag word ((eyeBits & 0xC0) | type) << 8 |
// (lowByte & 0xFE), the fields in order, then the 0 tag unless `terminate`
// is false (for cut records).
struct EventSpec {
    std::uint8_t type = 0;     // 0..63
    std::uint8_t eyeBits = 0;  // 0x40 right; 0x00, 0x80, 0xC0 left
    std::uint8_t lowByte = 0;  // parsedBy; bit 0 is cleared
    std::vector<EventField> fields;
    bool terminate = true;
};

// A position in physical units.
struct Point {
    double x = 0;
    double y = 0;
};

enum class Eye { Left, Right, Both };

// Fixations, saccades and blinks.  Field 33 is always written; field 65 when
// `writeEndTime` (the end writers set it by default).  Every other value is
// written when set, in this order: 42, 74, 106 (gaze, pixels, scaled by the
// gaze scale), 41, 73, 105 (head-referenced, plain integers, kMissing
// allowed), 48, 81, 114 (pupil sizes, plain), 43, 75 (resolution, pixels per
// degree, gaze-scaled), 51, 83, 115, 147 (velocities, deg/s, scaled by the
// velocity scale).
struct EyeEventSpec {
    std::uint32_t startTime = 0;
    std::uint32_t endTime = 0;
    Eye eye = Eye::Left;  // Left writes 0x80, Right 0x40
    std::uint8_t parsedBy = 0;
    std::optional<bool> writeEndTime;  // default: true for end records
    std::optional<Point> startGaze, endGaze, avgGaze;
    std::optional<Point> startHeadRef, endHeadRef, avgHeadRef;
    std::optional<double> startPupil, endPupil, avgPupil;
    std::optional<Point> startResolution, endResolution;
    std::optional<double> startVelocity, endVelocity, avgVelocity, peakVelocity;
};

// A block start (15 samples, 17 events).
struct BlockStartSpec {
    std::uint32_t time = 0;                          // field 33
    std::optional<double> sampleRate = 1000.0;       // field 65, 16.16 fixed point; nullopt omits it
    std::optional<std::int16_t> gazeScale = 10;      // field 48
    std::optional<std::int16_t> velocityScale = 10;  // field 81
    // Field 75: x = recordingMode << 8 | filter << 4, y = 0.  nullopt omits it.
    std::optional<std::uint8_t> recordingMode = 1;
    std::uint8_t filter = 1;
    // Field 180.  For 15 the sample flags of the block: the eye bits are
    // added from `eye`.  For 17 the events flags word.
    std::uint16_t flags = 0;
    Eye eye = Eye::Both;  // 15: bits of field 180; 17: field 85 with 0x4000 left, 0x8000 right
    std::optional<std::uint16_t> buttons;  // field 86 (1: pupil type 0)
    std::uint8_t tagEyeBits = 0;           // eye bits of the tag word
    std::uint8_t parsedBy = 0;
};

// ---------------------------------------------------------------------------
// What the writer wrote

enum class ItemKind : std::uint8_t { Sample, Event };

// Which expected items the writer keeps.
enum class Expectation {
    Full,       // items, with the decoded Sample and Event values
    ItemsOnly,  // items without values (index is kNoValue)
    None,       // nothing
};

inline constexpr std::uint32_t kNoValue = 0xFFFFFFFFu;

// One record as written, in file order.
//
// The expected `Sample` is what the sample decoder makes of the record on a
// cleared record: `flags` is the tag word as written (the reader adds
// 0x0002 on a half-millisecond sample only when it serves it), absent eyes
// and groups hold -32768.0, a stored -32768 in a scaled field and an absent
// resolution 1e8, absent `input` / `errors` 0x8000, absent `buttons` 0,
// absent head data `headDataType` -32768 and `headData` 0.  Without the
// pupil-size group `pupilSize` is left 0 (the decoder does not write it; the
// reader's sample cache fills in remembered sizes).  Velocities are 0 (they
// are computed from neighbours); `timeHalfMs` is the item key.
//
// The expected `Event` is what the event decoder makes of the record on a
// cleared record, with message time offsets off: `time` and `status` 0,
// `message` null (the text is in messages()), block starts with their
// scales, rate and end time as the decoder leaves them.  Scaled values use
// the scales in force where the record lies in the file.
struct ExpectedItem {
    ItemKind kind = ItemKind::Sample;
    std::int16_t type = SAMPLE_TYPE;  // 200 for samples, the event type code otherwise
    std::uint16_t tag = 0;            // the tag word
    // The reader decodes the record without failure (false e.g. for a text
    // length outside 0..498).
    bool decodable = true;
    // The expected values describe the record (false when raw payloads or a
    // declared text length that differs from the bytes were written).
    bool modelled = true;
    std::uint64_t offset = 0;  // in bytes(): just after the tag word
    // The reader's stream position of that point: the same as offset for a
    // plain file, offset - bodyOffset() for a compressed one (whose record
    // stream is read from the inflated body).
    std::uint64_t streamPosition = 0;
    // 2 x time for samples, +1 when the time equals that of the previous
    // sample of the block; for events 2 x endTime for types 4, 6, 8, 16,
    // 18 and 2 x startTime for all others (times as decoded).
    std::uint64_t timeHalfMs = 0;
    std::uint32_t index = kNoValue;      // into samples() or events()
    std::uint32_t textIndex = kNoValue;  // into messages(), for records with field 94
};

// ---------------------------------------------------------------------------

class VokWriter {
public:
    // ---- text head ----
    // Writes the magic line; a compressed magic makes fileBytes() compress
    // the record stream.
    VokWriter& magic(Magic m = Magic::Plain7700);
    // Appends one preamble line; a line end is added unless the text ends
    // with one.
    VokWriter& preambleLine(std::string_view text);
    // The usual head lines: a source line for the tracker revision (2 "MK",
    // 3 "RX", anything else none) and a version line for the revision (0
    // none).
    VokWriter& standardPreamble(int trackerRevision = 2, int revision = 4);
    // "ENDP:\n".  The revision of the head's version line is noted (as the
    // reader takes it) for the rate step of block starts.
    VokWriter& endPreamble();

    // ---- raw bytes, big-endian numbers ----
    VokWriter& raw(std::string_view bytes);
    VokWriter& u8(std::uint8_t v);
    VokWriter& u16(std::uint16_t v);
    VokWriter& i16(std::int16_t v) { return u16(static_cast<std::uint16_t>(v)); }
    VokWriter& u32(std::uint32_t v);
    // Overwrites one byte already written.
    VokWriter& patch(std::size_t offset, std::uint8_t v);
    void reserve(std::size_t bytes) { bytes_.reserve(bytes); }

    // ---- records ----
    VokWriter& sample(const SampleSpec& s);
    VokWriter& event(const EventSpec& e);
    // The zero tag word that ends the record stream.
    VokWriter& endOfRecords() { return u16(0); }

    // Streaming form of event(): beginEvent, any fields, endEvent.  The field
    // writers check that the tag carries that payload (std::invalid_argument).
    VokWriter& beginEvent(std::uint8_t type, std::uint8_t eyeBits = 0, std::uint8_t lowByte = 0);
    VokWriter& fieldU32(std::uint8_t tag, std::uint32_t v);
    VokWriter& fieldPair(std::uint8_t tag, std::int16_t x, std::int16_t y);
    VokWriter& fieldI16(std::uint8_t tag, std::int16_t v);
    VokWriter& fieldU16(std::uint8_t tag, std::uint16_t v);
    VokWriter& fieldText(std::string_view text);
    VokWriter& fieldTextWithLength(std::int16_t declaredLength, std::string_view bytes);
    VokWriter& fieldBare(std::uint8_t tag);
    VokWriter& fieldRaw(std::uint8_t tag, std::string_view payload);
    // Writes the 0 tag unless terminate is false, and notes the record.
    VokWriter& endEvent(bool terminate = true);

    // ---- convenience event writers (physical values) ----
    VokWriter& fixationStart(const EyeEventSpec& e) { return eyeEvent(SFIX, e); }
    VokWriter& fixationEnd(const EyeEventSpec& e) { return eyeEvent(EFIX, e); }
    VokWriter& saccadeStart(const EyeEventSpec& e) { return eyeEvent(SSACC, e); }
    VokWriter& saccadeEnd(const EyeEventSpec& e) { return eyeEvent(ESACC, e); }
    VokWriter& blinkStart(const EyeEventSpec& e) { return eyeEvent(SBLINK, e); }
    VokWriter& blinkEnd(const EyeEventSpec& e) { return eyeEvent(EBLINK, e); }
    // Any type with the eye-event field set (end types write field 65).
    VokWriter& eyeEvent(ItemType type, const EyeEventSpec& e);
    // 24: fields 33, 94.
    VokWriter& message(std::uint32_t time, std::string_view text);
    // 25: fields 33, 86.
    VokWriter& button(std::uint32_t time, std::uint16_t buttons);
    // 28: fields 33, 85.
    VokWriter& input(std::uint32_t time, std::uint16_t input);
    // 9 or 10: field 33.
    VokWriter& mark(ItemType type, std::uint32_t time);
    // 15 / 17: fields 33, 65, 48, 81, 75, 180, (17: 85), 86 as set.
    VokWriter& startSamples(const BlockStartSpec& b);
    VokWriter& startEvents(const BlockStartSpec& b);
    // 16 / 18: field 65 only.
    VokWriter& endSamples(std::uint32_t endTime, std::uint8_t tagEyeBits = 0);
    VokWriter& endEvents(std::uint32_t endTime, std::uint8_t tagEyeBits = 0);

    // ---- scales and running state, as a reader sees them ----
    float gazeScale() const { return gazeScale_; }
    float velocityScale() const { return velocityScale_; }
    float sampleRate() const { return sampleRate_; }
    std::uint32_t runningTime() const { return runningTime_; }
    int revision() const { return revision_; }
    // Overrides a scale (e.g. for records written without a block start).
    VokWriter& setGazeScale(float s) {
        gazeScale_ = s;
        return *this;
    }
    VokWriter& setVelocityScale(float s) {
        velocityScale_ = s;
        return *this;
    }
    // Physical value -> stored i16 with the current scales.
    std::int16_t storedGaze(double pixels) const { return toStored(pixels, gazeScale_); }
    std::int16_t storedVelocity(double v) const { return toStored(v, velocityScale_); }

    // ---- output ----
    // The bytes as laid out: head and uncompressed record stream.  Item
    // offsets refer to these bytes.
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    // Offset where the record stream starts (just after "ENDP:\n"); 0 before.
    std::size_t bodyOffset() const { return bodyOffset_; }

    // Whether fileBytes() compresses the record stream (set by magic()).
    bool compressed() const { return compressed_; }
    VokWriter& setCompressed(bool on) {
        compressed_ = on;
        return *this;
    }
    VokWriter& setCompressionLevel(int level) {
        compressionLevel_ = level;
        return *this;
    }

    // The bytes of the file: for a compressed recording the head followed by
    // the record stream as one zlib stream; otherwise bytes().
    std::vector<std::uint8_t> fileBytes() const;
    // fileBytes() cut after `length` bytes (the whole file when shorter).
    std::vector<std::uint8_t> cutAt(std::size_t length) const;
    std::string fileString(std::size_t length = std::string::npos) const;
    // fileBytes() with the byte at `bodyIndex` of the (compressed) body
    // xor-ed with mask; std::out_of_range past the end.
    std::vector<std::uint8_t> damagedFileBytes(std::size_t bodyIndex, std::uint8_t mask) const;

    // Writes fileBytes() (cut after `length` bytes) to path; throws
    // std::runtime_error on failure.
    void writeFile(const std::string& path, std::size_t length = std::string::npos) const;

    // ---- what was written ----
    VokWriter& setExpectation(Expectation e) {
        expectation_ = e;
        return *this;
    }
    const std::vector<ExpectedItem>& items() const { return items_; }
    const std::vector<Sample>& samples() const { return samples_; }
    const std::vector<Event>& events() const { return events_; }
    const std::vector<std::string>& messages() const { return messages_; }
    const Sample& sampleOf(const ExpectedItem& item) const { return samples_.at(item.index); }
    const Event& eventOf(const ExpectedItem& item) const { return events_.at(item.index); }

protected:
    void noteItem(ExpectedItem item);
    void blockBoundary() { lastSampleTime_ = -1; }

    std::vector<std::uint8_t> bytes_;
    std::size_t bodyOffset_ = 0;
    bool compressed_ = false;
    int compressionLevel_ = 6;
    int revision_ = 0;

    // Reader state the records change.
    float gazeScale_ = 1.0f;
    float velocityScale_ = 10.0f;
    float sampleRate_ = 250.0f;
    std::uint32_t runningTime_ = 0;
    std::int64_t lastSampleTime_ = -1;

    Expectation expectation_ = Expectation::Full;
    std::vector<ExpectedItem> items_;
    std::vector<Sample> samples_;
    std::vector<Event> events_;
    std::vector<std::string> messages_;

private:
    // The event being written by the streaming form.
    struct OpenEvent {
        bool open = false;
        std::uint16_t tag = 0;
        std::size_t offset = 0;
        Event ev{};
        bool decodable = true;
        bool modelled = true;
        bool blockStart = false;
        bool has86 = false;
        bool has147 = false;
        bool hasText = false;
        std::string text;
        float gazeScale = 1.0f;  // scales in effect when the record began
        float velocityScale = 10.0f;
    };
    void requireOpenEvent(std::uint8_t tag, FieldPayload payload);
    void finishEvent();
    VokWriter& blockStart(ItemType type, const BlockStartSpec& b);

    OpenEvent open_;
};

// ---------------------------------------------------------------------------
// Realistic recordings

struct GenOptions {
    std::uint64_t seed = 1;
    std::uint32_t durationMs = 10000;  // recorded time over all blocks
    std::uint64_t sampleCount = 0;     // when nonzero: samples over all blocks (overrides durationMs)
    int blocks = 1;
    std::uint32_t pauseMs = 0;  // between blocks; 0: 500..3000 ms at random
    int sampleRate = 1000;      // 250, 500, 1000 or 2000
    Eye eyes = Eye::Both;
    // Sample groups besides the eye bits (VOK_SAMPLE_* of 0x1000..0x0004).
    std::uint16_t sampleGroups = VOK_SAMPLE_PUPILXY | VOK_SAMPLE_HEADREF | VOK_SAMPLE_GAZE |
                                 VOK_SAMPLE_RESOLUTION | VOK_SAMPLE_PUPILSIZE | VOK_SAMPLE_INPUT |
                                 VOK_SAMPLE_BUTTONS;
    std::uint8_t headDataType = 0x04;  // with VOK_SAMPLE_HEADDATA
    bool eyeEvents = true;             // fixations, saccades, blinks
    bool blinks = true;
    bool eventBlocks = true;            // STARTEVENTS / ENDEVENTS beside the sample blocks
    bool messages = true;               // messages at random times
    int trialsPerBlock = 1;             // "TRIAL_START n" / "TRIAL_END n" pairs; 0 none
    int buttonPresses = -1;             // press+release pairs; -1: about one per 5 s
    int inputChanges = -1;              // input events; -1: about one per 5 s
    bool gaps = false;                  // leave out runs of samples now and then
    std::uint32_t startTime = 1000000;  // time of the first block start
    std::uint32_t fullTimeEvery = 0;    // full time every n samples (0: block starts and long gaps only)
    std::int16_t gazeScale = 10;
    std::int16_t velocityScale = 10;
    bool compressed = false;
    bool crlf = false;  // magic line with "\r\n"
    int trackerRevision = 2;
    int revision = 4;
    Expectation expectation = Expectation::Full;
};

// Time of the first block start that puts the middle of the recording at
// 2^31 ms.
std::uint32_t startTimeNear2pow31(const GenOptions& o);

struct BlockSummary {
    std::uint32_t startTime = 0;
    std::uint32_t endTime = 0;  // time of the block end records
    std::uint32_t firstSampleTime = 0;
    std::uint32_t lastSampleTime = 0;
    std::uint64_t samples = 0;
    std::uint16_t sampleFlags = 0;  // field 180 of the samples start
    float sampleRate = 0;
    Eye eye = Eye::Both;
};

struct GenResult {
    std::vector<std::uint8_t> bytes;  // the file (compressed body when asked)
    // For a compressed file: head and uncompressed record stream, to which
    // the item offsets refer.  Empty otherwise; layout() gives either.
    std::vector<std::uint8_t> plain;
    std::size_t bodyOffset = 0;
    bool compressed = false;
    std::vector<ExpectedItem> items;  // every record, in file order
    std::vector<Sample> samples;      // values, by ExpectedItem::index
    std::vector<Event> events;
    std::vector<std::string> messages;
    std::vector<BlockSummary> blocks;
    std::uint64_t sampleCount = 0;  // samples written
    std::uint64_t eventCount = 0;   // events besides block starts and ends

    const std::vector<std::uint8_t>& layout() const { return compressed ? plain : bytes; }
};

// Writes a recording as a tracker would.  Each block: STARTSAMPLES and
// (with eventBlocks) STARTEVENTS at the block start time, the samples
// (full time on the first sample of the block, after a gap of more than
// 255 ms and every fullTimeEvery samples; one-byte increments otherwise; at
// 2000 Hz two samples per millisecond with increments 1 and 0), the events
// interleaved with them, then ENDSAMPLES and ENDEVENTS one millisecond after
// the last sample time; the stream ends with a zero tag word.  Fixations
// alternate with saccades; some saccades hold a blink, now and then a blink
// stands alone.  Start records follow a few samples after their start time,
// end records follow the last sample of the event; messages, buttons and
// inputs follow the last sample of their millisecond.  With both eyes each
// eye gets its own event records (left first).  The same options and seed
// give the same bytes on every platform.  std::invalid_argument for a rate
// other than 250, 500, 1000, 2000, no blocks, or times past 2^32 - 1 ms.
GenResult generateRecording(const GenOptions& options);

// The small realistic recording of `vokgen demo`: 2 blocks of 3 s at 500 Hz,
// both eyes, fixations, saccades, blinks, trial messages, a button press and
// an input change.
GenOptions demoOptions();

}  // namespace vokgen

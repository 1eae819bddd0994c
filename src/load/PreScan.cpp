#include "load/PreScan.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "core/Log.h"
#include "core/VOKException.h"
#include "format/RecordDecoder.h"
#include "platform/Platform.h"

namespace vok {

namespace {

// Gap filling may add this many placeholders in all, and then as many per
// real sample as the constant below.
constexpr std::uint64_t kPlaceholderAllowance = 10000;
constexpr std::uint64_t kPlaceholdersPerSample = 4;

// Eye of a block start: samples blocks carry it in their flags word, events
// blocks in their input word, with the two bits read in opposite senses.
std::uint8_t eyeFromSampleFlags(std::uint16_t w) {
    const bool l = (w & 0x8000) != 0, r = (w & 0x4000) != 0;
    return l && r ? 3 : l ? 1 : r ? 2 : 0;
}
std::uint8_t eyeFromEventInput(std::uint16_t w) {
    const bool a = (w & 0x8000) != 0, b = (w & 0x4000) != 0;
    return a && b ? 3 : a ? 2 : b ? 1 : 0;
}

// A start (or end) pair: the samples-block and events-block records of one
// block boundary, merged into one RecordingInfo when their times agree.
struct BoundaryPair {
    std::uint64_t samplesKey = 0;
    RecordingInfo* samplesRecord = nullptr;
    std::uint64_t eventsKey = 0;
    RecordingInfo* eventsRecord = nullptr;
    int firstKind = 0;  // 0 none, 1 events record came first, 2 samples record came first

    void clear() { *this = BoundaryPair{}; }
};

class Scanner {
public:
    Scanner(RecordReader& reader, const ScanOptions& options, Items& items)
        : items_(items), r_(reader), options_(options), tolerant_(options.tolerant),
          bodyStart_(reader.stream ? reader.stream->position() : 0) {}

    void run() {
        for (;;) {
            std::uint16_t ignored = 0;
            int result;
            if (tolerant_) {
                try {
                    result = readTag(r_, &ignored);
                    // A single zero word is stepped over.
                    if (result == kTagEnd) result = readTag(r_, &ignored);
                } catch (const VOKException& e) {
                    log("Error reading items %s \n", e.what());
                    break;
                }
            } else {
                result = readTag(r_, &ignored);
            }
            if (result == kTagEnd) break;
            if (result == kTagNoPreamble) {
                log("error reading vok file 3\n");
                throw VOKException("Error reading vok file unknown data type");
            }
            const bool more = result == kTagEvent ? eventRecord() : sampleRecord();
            if (!more) break;
        }
        sortItemIndex(items_.index);
    }

private:
    // Runs one decoder; false when the record cannot be decoded.  A short
    // read goes through in strict mode; tolerant, it is logged and counts as
    // a record that cannot be decoded.
    template <class Decode>
    bool decoded(Decode&& decode) {
        try {
            decode();
            return true;
        } catch (const RecordError&) {
            return false;
        } catch (const VOKException& e) {
            if (!tolerant_) throw;
            log("Error %s \n", e.what());
            return false;
        }
    }

    std::uint32_t notePosition() {
        std::uint64_t p = r_.stream->position();
        VOK_CHECK(p < kPlaceholder, "Recording is larger than 4 GiB: record at byte %llu \n",
                  static_cast<unsigned long long>(p));
        return static_cast<std::uint32_t>(p);
    }

    void noteTimes(std::uint32_t a, std::uint32_t b) {
        if (count_ == 1) items_.firstRecordTime = a;
        const std::uint32_t larger = a > b ? a : b;
        if (larger > items_.largestTime) items_.largestTime = larger;
    }

    void append(std::uint32_t position, std::uint16_t code, std::uint16_t tag, std::uint64_t key) {
        ItemEntry e;
        e.position = position;
        e.code = code;
        e.tag = tag;
        e.timeHalfMs = key;
        if (VOK_UNLIKELY(items_.index.size() == items_.index.capacity())) grow();
        items_.index.push_back(e);
    }

    // Makes room in a full index for what the rest of the body will likely
    // add, judged by the items per byte so far, so that the index of a long
    // recording is copied once or twice rather than at every doubling, and
    // ends with little slack.  Without a known body size it doubles; it never
    // grows more than sixteenfold at once, so that a dense start of an
    // otherwise sparse (or damaged) body cannot reserve much more than the
    // items warrant.
    void grow() {
        ItemIndex& index = items_.index;
        const std::uint64_t n = index.size();
        const std::uint64_t read = r_.stream->position() - bodyStart_;
        std::uint64_t target = 2 * n + 1024;
        if (options_.bodySize > read && read > 0) {
            const double rest = static_cast<double>(options_.bodySize - read) / static_cast<double>(read);
            const double expected = static_cast<double>(n) * (1.0 + rest * 1.0625) + 1024.0;
            target = expected < static_cast<double>(16 * n + 1024) ? static_cast<std::uint64_t>(expected) : 16 * n + 1024;
            if (target < n + n / 8 + 1024) target = n + n / 8 + 1024;
        }
        if (target > index.max_size()) target = index.max_size();
        index.reserve(static_cast<std::size_t>(target));
        platform::adviseLargePages(index.data() + n, (index.capacity() - n) * sizeof(ItemEntry));
    }

    void appendRecording(std::unique_ptr<RecordingInfo> record) {
        ItemEntry e;
        e.position = 0;
        e.code = RECORDING_INFO;
        e.tag = 0;
        e.recording = record.get();
        items_.recordings.push_back(std::move(record));
        if (VOK_UNLIKELY(items_.index.size() == items_.index.capacity())) grow();
        items_.index.push_back(e);
    }

    // ---- events ----

    bool eventRecord() {
        const std::uint16_t tag = r_.pendingTag;
        const std::uint32_t position = notePosition();
        ++count_;
        Event ev{};
        const bool ok = decoded([&] { decodeEvent(r_, ev); });
        noteTimes(ev.startTime, ev.endTime);
        if (ok && (ev.type == STARTSAMPLES || ev.type == STARTEVENTS)) r_.noteBlockValues();
        if (!ok) {
            log("error reading vok file 1\n");
            if (!tolerant_) throw VOKException("Error reading event - type(preScan)");
            log("Unexpected file read error while reading event; simulating end reached. \n");
            return false;
        }
        const int type = ev.type;
        if (tolerant_ && type == 0) {
            log("Unexpected event type tag 0. Skipping event \n");
            return true;
        }
        if (options_.loadEvents == 0 && (type < STARTSAMPLES || type > ENDEVENTS)) return true;

        const std::uint16_t slot = ev.eye == 0 ? 1 : 2;
        const auto code = [&](bool withEye) {
            return static_cast<std::uint16_t>(type | (withEye ? slot << 8 : 0));
        };
        const std::uint64_t startKey = 2ull * ev.startTime;
        const std::uint64_t endKey = 2ull * ev.endTime;
        switch (type) {
            case 0:
            case EMARK:
                return true;
            case SMARK:
                if (tolerant_ && ev.startTime == 0) log("Unexpected time stamp 0. Skipping event \n");
                return true;
            case SBLINK:
            case SSACC:
            case SFIX:
                if (tolerant_ && ev.startTime == 0) {
                    log("Unexpected time stamp 0. Skipping event \n");
                    return true;
                }
                append(position, code(true), tag, startKey);
                return true;
            case EBLINK:
            case ESACC:
            case EFIX:
                append(position, code(true), tag, endKey);
                return true;
            case STARTSAMPLES:
            case STARTEVENTS:
                blockStart(ev, position, tag, code(true));
                return true;
            case ENDSAMPLES:
            case ENDEVENTS:
                blockEnd(ev, position, tag, code(true));
                return true;
            case RECORDING_INFO:
                // A file event of this code would be taken for a recording
                // entry, whose key field is a record pointer: never keep it.
                log("Unexpected event type %d. Skipping event \n", type);
                return true;
            case INPUTEVENT:
                items_.inputType |= 1;
                append(position, code(false), tag, startKey);
                return true;
            default:
                append(position, code(false), tag, startKey);
                return true;
        }
    }

    std::unique_ptr<RecordingInfo> newRecording(const Event& ev, std::uint8_t state, std::uint32_t time,
                                                std::uint8_t recordType) {
        auto rec = std::make_unique<RecordingInfo>();
        rec->time = time;
        rec->sampleRate = r_.sampleRate;
        rec->state = state;
        rec->recordType = recordType;
        rec->pupilType = ev.buttons == 1 ? 0 : 1;
        rec->recordingMode = r_.recordingModeWord != 0 ? 1 : 0;
        rec->filterType = static_cast<std::uint8_t>(r_.filterWord & 0xFF);
        rec->positionType = static_cast<std::uint8_t>(ev.parsedBy & 0xFF);
        rec->timeHalfMs = 2ull * time;
        rec->rawScale = 0.0f;
        rec->windowHeight = 190;
        rec->windowWidth = 176;
        rec->merged = 0;
        return rec;
    }

    // The tolerance for merging the two records of a block boundary, in
    // half milliseconds: two sample periods.
    std::uint64_t tolerance() const {
        const float t = r_.sampleRate * 2.0f;
        if (!(t >= 0.0f && t < 2147483648.0f)) return 0;
        return static_cast<std::uint64_t>(static_cast<std::int32_t>(t));
    }

    static bool withinTolerance(std::uint64_t s, std::uint64_t e, std::uint64_t t) {
        const std::uint64_t diff = s > e ? s - e : e - s;
        return diff <= t && (s >= t || e >= t);
    }

    // Merges the record just built into the pair's other record when the
    // two keys agree; returns false when they do not (or there is no other
    // record to merge into) and the new record has to stand on its own.
    static bool mergeInto(RecordingInfo* other, const RecordingInfo& added, std::uint64_t key) {
        if (other == nullptr) return false;
        other->recordType = 3;
        other->timeHalfMs = key;
        other->time = static_cast<std::uint32_t>(key >> 1);
        if (other->positionType == 0) other->positionType = added.positionType;
        return true;
    }

    void blockStart(const Event& ev, std::uint32_t position, std::uint16_t tag, std::uint16_t code) {
        lastSampleTime_ = prevSampleTime_ = -1;
        samplePeriod_ = -1;
        const bool samples = ev.type == STARTSAMPLES;
        if (samples && options_.loadSamples == 0) return;
        if (!samples && options_.loadEvents == 0) return;

        auto rec = newRecording(ev, 1, ev.startTime, samples ? 1 : 2);
        const std::uint64_t key = rec->timeHalfMs;
        RecordingInfo* other;
        if (samples) {
            rec->eye = eyeFromSampleFlags(ev.flags);
            rec->sampleFlags = ev.flags;
            rec->rawScale = ev.startPupilSize;
            starts_.samplesKey = key;
            starts_.samplesRecord = rec.get();
            if (starts_.firstKind == 0) starts_.firstKind = 2;
            other = starts_.eventsRecord;
        } else {
            rec->eye = eyeFromEventInput(ev.input);
            rec->eventFlags = ev.flags;
            starts_.eventsKey = key;
            starts_.eventsRecord = rec.get();
            if (starts_.firstKind == 0) starts_.firstKind = 1;
            other = starts_.samplesRecord;
        }
        const std::uint64_t s = starts_.samplesKey, e = starts_.eventsKey;
        // The new record merges into the other record of the pair, which is
        // already in the list; the record just built is then not kept.
        if (withinTolerance(s, e, tolerance()) && mergeInto(other, *rec, s < e ? s : e)) {
            starts_.clear();
        } else {
            appendRecording(std::move(rec));
        }
        append(position, code, tag, 2ull * ev.startTime);
    }

    void blockEnd(const Event& ev, std::uint32_t position, std::uint16_t tag, std::uint16_t code) {
        lastSampleTime_ = prevSampleTime_ = -1;
        const bool samples = ev.type == ENDSAMPLES;
        if (samples && options_.loadSamples == 0) return;
        if (!samples && options_.loadEvents == 0) return;

        auto rec = newRecording(ev, 0, ev.endTime, samples ? 1 : 2);
        // An end that comes before any start has no eye to copy: none.
        rec->eye = items_.recordings.empty() ? 0 : items_.recordings.back()->eye;
        const std::uint64_t key = rec->timeHalfMs;
        RecordingInfo* other;
        if (samples) {
            ends_.samplesKey = key;
            ends_.samplesRecord = rec.get();
            if (ends_.firstKind == 0) ends_.firstKind = 2;
            other = ends_.eventsRecord;
        } else {
            ends_.eventsKey = key;
            ends_.eventsRecord = rec.get();
            if (ends_.firstKind == 0) ends_.firstKind = 1;
            other = ends_.samplesRecord;
        }
        // Head-tracker samples of one kind do not count as head data of the block.
        if (options_.loadSamples != 0 && !items_.recordings.empty()) {
            RecordingInfo& last = *items_.recordings.back();
            if (last.state != 0 && (lastSample_.flags & VOK_SAMPLE_HEADDATA) != 0 &&
                (static_cast<std::uint16_t>(lastSample_.headDataType) & 0xFFF0) == 0x00F0 &&
                last.sampleFlags != 0) {
                last.sampleFlags = static_cast<std::uint16_t>(last.sampleFlags & ~VOK_SAMPLE_HEADDATA);
            }
        }
        const std::uint64_t s = ends_.samplesKey, e = ends_.eventsKey;
        if (withinTolerance(s, e, tolerance()) && mergeInto(other, *rec, s > e ? s : e)) {
            ends_.clear();
        } else {
            appendRecording(std::move(rec));
        }
        append(position, code, tag, 2ull * ev.endTime);
    }

    // ---- samples ----

    bool sampleRecord() {
        const std::uint16_t tag = r_.pendingTag;
        const std::uint32_t position = notePosition();
        ++count_;
        Sample& x = lastSample_;
        const bool ok = decoded([&] { skimSample(r_, x); });
        noteTimes(x.time, x.time);
        if (!ok) {
            log("error reading vok file 2\n");
            if (!tolerant_) throw VOKException("Error reading Sample - type");
            log("Unexpected file read error while reading sample; simulating end reached. \n");
            return false;
        }
        if (options_.loadSamples == 0) return true;
        if (x.input != VOK_ABSENT_WORD) items_.inputType |= 2;

        const std::int64_t time = x.time;
        const std::uint64_t key = 2ull * x.time + (time == lastSampleTime_ ? 1 : 0);
        if (options_.repair && lastSampleTime_ > 0 && prevSampleTime_ > 0) fillGap(key);
        append(position, SAMPLE_TYPE, tag, key);
        ++samples_;
        prevSampleTime_ = lastSampleTime_;
        lastSampleTime_ = time;
        return true;
    }

    // Inserts placeholder entries for samples missing between the previous
    // sample and the one with key K.
    void fillGap(std::uint64_t K) {
        const std::uint64_t P =
            2ull * static_cast<std::uint64_t>(lastSampleTime_) + (lastSampleTime_ == prevSampleTime_ ? 1 : 0);
        if (samplePeriod_ < 1 || samplePeriod_ > 8) {
            const std::int32_t d = static_cast<std::int32_t>(static_cast<std::uint32_t>(K - P));
            samplePeriod_ = d <= 8 ? d : -1;
            if (samplePeriod_ < 1) return;
            // A measured period that disagrees with the block's rate gives
            // way to the rate.
            const double r = 2000.0 / static_cast<double>(r_.sampleRate);
            const int R = r >= 1.0 && r < 9.0 ? static_cast<int>(r) : -1;
            if (R >= 1 && R <= 8 && R != samplePeriod_) {
                log("Intersample period does not match with the sample rate given by the start recording "
                    "event! Using start recording sample rate. %d %d %d %d \n",
                    R, samplePeriod_, static_cast<std::int32_t>(static_cast<std::uint32_t>(P)),
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(K)));
                samplePeriod_ = R;
            }
        }
        const std::uint64_t p = static_cast<std::uint64_t>(samplePeriod_);
        if (K - P <= p) return;
        // Counted from the previous key, so that after a half-millisecond
        // sample no placeholder lands on the next real sample's key.
        const std::uint64_t n = (K - P) / p;
        log("Missing %d samples. Inserting dummy samples \n", static_cast<int>(n));
        log("Missing (%llu-%llu) samples. Calculating speriod \n",
            static_cast<unsigned long long>(lastSampleTime_), static_cast<unsigned long long>(K >> 1));
        std::fflush(nullptr);
        if (n > 10000) {
            log("Missing samples are over 10000, skip it without addimg missing samples\n ");
            return;
        }
        // Placeholders never outnumber the real samples by more than
        // kPlaceholdersPerSample to one (beyond a first allowance), so that
        // a few bytes of records cannot make the index grow by megabytes.
        const std::uint64_t allowance = kPlaceholderAllowance + kPlaceholdersPerSample * samples_;
        if (placeholders_ + (n - 1) > allowance) {
            log("Too many missing samples in the recording: gap of %d samples left unfilled \n",
                static_cast<int>(n - 1));
            return;
        }
        placeholders_ += n - 1;
        for (std::uint64_t i = 1; i < n; ++i) append(kPlaceholder, SAMPLE_TYPE, 0, P + i * p);
    }

    Items& items_;
    RecordReader& r_;
    const ScanOptions& options_;
    const bool tolerant_;
    const std::uint64_t bodyStart_;  // stream position of the first record
    std::uint64_t count_ = 0;
    std::int64_t lastSampleTime_ = -1;
    std::int64_t prevSampleTime_ = -1;
    std::int32_t samplePeriod_ = -1;
    std::uint64_t samples_ = 0;       // real samples in the index
    std::uint64_t placeholders_ = 0;  // placeholder samples in the index
    BoundaryPair starts_;
    BoundaryPair ends_;
    Sample lastSample_{};
};

}  // namespace

Items preScan(RecordReader& reader, const ScanOptions& options) {
    // Room for the items a body of this size usually holds (a binocular
    // sample record takes some 20 to 40 bytes), so that the index rarely has
    // to grow and copy itself while the file is read.
    constexpr std::uint64_t kBytesPerItemEstimate = 24;
    // The size says nothing about how many records the body holds (a
    // compressed body can inflate to gigabytes of end markers), so the
    // reservation stays small (512 KiB); a larger index grows as it fills,
    // by what the body read so far promises (Scanner::grow).
    constexpr std::uint64_t kMaxReserved = std::uint64_t{1} << 15;
    Items items;
    const std::uint64_t expected = options.bodySize / kBytesPerItemEstimate + 1024;
    items.index.reserve(static_cast<std::size_t>(expected < kMaxReserved ? expected : kMaxReserved));
    Scanner(reader, options, items).run();
    // The index lives as long as the file: give back a large slack.
    if (items.index.capacity() - items.index.size() > items.index.size() / 4) items.index.shrink_to_fit();
    return items;
}

}  // namespace vok

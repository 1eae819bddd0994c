#include "FuzzHarness.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "FuzzCorpus.h"
#include "vokapi_ext.h"

namespace vokfuzz {

std::uint32_t Input::u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | u8();
    return v;
}

std::string Input::text() {
    const std::size_t n = std::min<std::size_t>(u8(), size_ - std::min(at_, size_));
    if (n == 0) return {};
    std::string s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
}

void Input::bytes(void* out, std::size_t n) {
    if (n == 0) return;
    const std::size_t have = std::min(n, size_ - std::min(at_, size_));
    std::memset(out, 0, n);
    if (have != 0) std::memcpy(out, data_ + at_, have);
    at_ += have;
}

std::vector<std::uint8_t> Input::rest() {
    std::vector<std::uint8_t> out;
    if (at_ < size_) out.assign(data_ + at_, data_ + size_);
    at_ = size_;
    return out;
}

namespace {
void dropLog(const char*) {}
}  // namespace

void quiet() { vok_set_log_function(dropLog); }

std::string scratchPath(const std::string& suffix) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
    return path + "/vokapi_fuzz_" + std::to_string(getpid()) + suffix;
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) std::abort();
}

VOKFile* openRecording(std::vector<std::uint8_t>& recording, std::uint8_t options, int extraEvents) {
    if ((options & vokgen::kFuzzCompress) != 0) recording = vokgen::compressRecordStream(recording);
    const int consistency = options & 0x1F;
    const int loadEvents = ((options & 0x20) != 0 ? 0 : 1) | extraEvents;
    const int loadSamples = (options & 0x40) != 0 ? 0 : 1;
    int err = 7;
    VOKFile* file = vokext_open_memory(recording.data(), recording.size(), consistency, loadEvents, loadSamples, &err);
    if ((file == nullptr) != (err == -1) || (file != nullptr && err != 0)) std::abort();
    return file;
}

std::size_t walk(VOKFile* file) {
    if (file == nullptr) return 0;
    const std::size_t limit = static_cast<std::size_t>(vok_get_element_count(file)) + 2;
    std::size_t steps = 0;
    for (int type; (type = vok_get_next_data(file)) != 0;) {
        if (++steps > limit) std::abort();  // the walk does not end
        FloatData* d = vok_get_float_data(file);
        if (d == nullptr) continue;
        const bool sample = vok_get_sample(d) != nullptr;
        const bool recording = vok_get_recording(d) != nullptr;
        if ((type == SAMPLE_TYPE) != sample || (type == RECORDING_INFO) != recording) std::abort();
        if (type == MESSAGEEVENT && d->event.message != nullptr) {
            // The text must be readable to its NUL.
            volatile std::size_t n = std::strlen(d->event.message->c);
            (void)n;
        }
    }
    if (vok_get_next_data(file) != 0) std::abort();  // the end repeats
    return steps;
}

namespace {
// The current item's time, for times the script leaves to the recording.
std::uint32_t timeOrCurrent(VOKFile* file, std::uint32_t t) {
    if (t != 0xFFFFFFFFu) return t;
    FloatData* d = vok_get_float_data(file);
    return d == nullptr ? 0 : vok_get_sample(d) != nullptr ? d->sample.time : d->event.startTime;
}

}  // namespace

void runNavigationScript(VOKFile* file, Input& script) {
    using vokgen::NavOp;
    std::deque<std::string> identifiers;  // held by the file by pointer
    BookMark last{0};
    Trial header{};
    while (!script.empty()) {
        switch (static_cast<NavOp>(script.u8() % static_cast<int>(NavOp::Count))) {
            case NavOp::SetIdentifiers: {
                const std::string& start = identifiers.emplace_back(script.text());
                const std::string& end = identifiers.emplace_back(script.text());
                vok_set_trial_identifier(file, start.empty() ? nullptr : start.c_str(), end.c_str());
                break;
            }
            case NavOp::JumpToTrial:
                vok_jump_to_trial(file, static_cast<std::int8_t>(script.u8()));
                break;
            case NavOp::NextTrial:
                vok_goto_next_trial(file);
                break;
            case NavOp::PreviousTrial:
                vok_goto_previous_trial(file);
                break;
            case NavOp::TrialWithStartTime: {
                const std::uint32_t t = script.u32();
                vok_goto_trial_with_start_time(
                    file,
                    t == 0xFFFFFFFFu && vok_get_trial_header(file, &header) == 0 ? header.startTime : t);
                break;
            }
            case NavOp::TrialWithEndTime: {
                const std::uint32_t t = script.u32();
                vok_goto_trial_with_end_time(
                    file, t == 0xFFFFFFFFu && vok_get_trial_header(file, &header) == 0 ? header.endTime : t);
                break;
            }
            case NavOp::TrialHeader:
                if (vok_get_trial_header(file, &header) == 0 &&
                    header.startTime + header.duration != header.endTime)
                    std::abort();
                break;
            case NavOp::SetBookmark:
                vok_set_bookmark(file, &last);
                break;
            case NavOp::FreeBookmark: {
                const std::uint8_t id = script.u8();
                BookMark b{id == 0 ? last.id : id - 1u};
                vok_free_bookmark(file, &b);
                break;
            }
            case NavOp::GotoBookmark: {
                const std::uint8_t id = script.u8();
                BookMark b{id == 0 ? last.id : id - 1u};
                vok_goto_bookmark(file, &b);
                break;
            }
            case NavOp::NextBookmark:
                vok_goto_next_bookmark(file);
                break;
            case NavOp::PreviousBookmark:
                vok_goto_previous_bookmark(file);
                break;
            case NavOp::Step:
                for (int n = script.u8(); n > 0 && vok_get_next_data(file) != 0; --n)
                    vok_get_float_data(file);
                break;
            case NavOp::SampleAtTime: {
                const Sample* s = vok_get_sample_close_to_time(file, timeOrCurrent(file, script.u32()));
                if (s != nullptr && (s->flags & VOK_SAMPLE_IS_SAMPLE) == 0 && s->flags != 0xC000)
                    std::abort();
                break;
            }
            case NavOp::Count:
                break;
        }
    }
}

void measureSample(VOKFile* file, Sample* s) {
    float xy[2];
    int wh[2];
    double ppd[2];
    for (int eye = -1; eye <= 2; ++eye) {
        vok_calculate_ppd(1279.0f, 1023.0f, s, eye, &ppd[0], &ppd[1]);
        vok_get_uncorrected_pupil_area(file, s, eye);
        vok_get_uncorrected_raw_pupil(file, s, eye, xy);
        vok_get_uncorrected_cr_area(file, s, eye);
        vok_get_uncorrected_raw_cr(file, s, eye, xy);
        vok_get_pupil_dimension(file, s, eye, wh);
        vok_get_pupil_cr(file, s, eye, xy);
        vok_get_uncorrected_cr2_area(file, s, eye);
        vok_get_uncorrected_raw_cr2(file, s, eye, xy);
    }
    vok_get_cr_dimension(file, s, wh);
    vok_get_window_position(file, s, wh);
}

}  // namespace vokfuzz

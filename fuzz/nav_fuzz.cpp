// Runs a script of trial, bookmark and sample-by-time calls, with
// identifiers, trial numbers and times from the input, on the recording
// that follows it, then walks what is left.
#include <deque>

#include "FuzzCorpus.h"
#include "FuzzHarness.h"

namespace {
// The current item's time, for times the script leaves to the recording.
std::uint32_t timeOrCurrent(VOKFile* file, std::uint32_t t) {
    if (t != 0xFFFFFFFFu) return t;
    FloatData* d = vok_get_float_data(file);
    return d == nullptr ? 0 : vok_get_sample(d) != nullptr ? d->sample.time : d->event.startTime;
}

void run(VOKFile* file, vokfuzz::Input& script) {
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
            case NavOp::JumpToTrial: vok_jump_to_trial(file, static_cast<std::int8_t>(script.u8())); break;
            case NavOp::NextTrial: vok_goto_next_trial(file); break;
            case NavOp::PreviousTrial: vok_goto_previous_trial(file); break;
            case NavOp::TrialWithStartTime: {
                const std::uint32_t t = script.u32();
                vok_goto_trial_with_start_time(file, t == 0xFFFFFFFFu && vok_get_trial_header(file, &header) == 0 ? header.startTime : t);
                break;
            }
            case NavOp::TrialWithEndTime: {
                const std::uint32_t t = script.u32();
                vok_goto_trial_with_end_time(file, t == 0xFFFFFFFFu && vok_get_trial_header(file, &header) == 0 ? header.endTime : t);
                break;
            }
            case NavOp::TrialHeader:
                if (vok_get_trial_header(file, &header) == 0 && header.startTime + header.duration != header.endTime) std::abort();
                break;
            case NavOp::SetBookmark: vok_set_bookmark(file, &last); break;
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
            case NavOp::NextBookmark: vok_goto_next_bookmark(file); break;
            case NavOp::PreviousBookmark: vok_goto_previous_bookmark(file); break;
            case NavOp::Step:
                for (int n = script.u8(); n > 0 && vok_get_next_data(file) != 0; --n) vok_get_float_data(file);
                break;
            case NavOp::SampleAtTime: {
                const Sample* s = vok_get_sample_close_to_time(file, timeOrCurrent(file, script.u32()));
                if (s != nullptr && (s->flags & VOK_SAMPLE_IS_SAMPLE) == 0 && s->flags != 0xC000) std::abort();
                break;
            }
            case NavOp::Count: break;
        }
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vokfuzz::quiet();
    vokfuzz::Input in(data, size);
    const std::uint8_t options = in.u8();
    std::vector<std::uint8_t> scriptBytes(in.u8());
    in.bytes(scriptBytes.data(), scriptBytes.size());
    VOKFile* file = vokfuzz::openRecording(in.rest(), options);
    if (file == nullptr) return 0;
    vokfuzz::Input script(scriptBytes.data(), scriptBytes.size());
    run(file, script);
    vokfuzz::walk(file);
    vok_close_file(file);
    return 0;
}

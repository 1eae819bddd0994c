// A small recording builder shared by the trial and extra-message tests:
// blocks of 1000 Hz left-eye gaze samples, messages and input items, written
// with the recording writer.
#pragma once

#include <cstdint>
#include <string_view>

#include "VokWriter.h"

namespace vok::test {

class BlockRecording {
public:
    BlockRecording() { w_.magic().standardPreamble(2, 4).endPreamble(); }
    BlockRecording& blockStart(std::uint32_t t) {
        vokgen::BlockStartSpec b;
        b.time = t;
        b.eye = vokgen::Eye::Left;
        w_.startSamples(b);
        return *this;
    }
    BlockRecording& blockEnd(std::uint32_t t) {
        w_.endSamples(t);
        return *this;
    }
    BlockRecording& sample(std::uint32_t t) {
        vokgen::SampleSpec s;
        s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_GAZE;
        s.timeForm = vokgen::TimeForm::Full;
        s.time = t;
        s.gazeX[0] = 1000;
        s.gazeY[0] = 2000;
        w_.sample(s);
        return *this;
    }
    BlockRecording& samples(std::uint32_t from, std::uint32_t to, std::uint32_t step) {
        for (std::uint32_t t = from; t <= to; t += step) sample(t);
        return *this;
    }
    BlockRecording& message(std::uint32_t t, std::string_view text) {
        w_.message(t, text);
        return *this;
    }
    BlockRecording& input(std::uint32_t t, std::uint16_t value) {
        w_.input(t, value);
        return *this;
    }
    const vokgen::VokWriter& done() {
        if (!ended_) w_.endOfRecords();
        ended_ = true;
        return w_;
    }

private:
    vokgen::VokWriter w_;
    bool ended_ = false;
};

}  // namespace vok::test

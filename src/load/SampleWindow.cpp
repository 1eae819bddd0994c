#include "load/SampleWindow.h"

#include <algorithm>
#include <cstring>

namespace vok {

namespace {
constexpr float kMissing = 1e8f;
// headData words and headDataType of a stand-in sample.
constexpr std::int16_t kPlaceholderHeadWord = static_cast<std::int16_t>(0xE100);
}  // namespace

// The slots form a ring: logical slot i lives at (head_ + i) mod 512, so
// dropping the oldest 128 samples moves no sample.  Only slots below count_
// hold samples; the others are never read.
SampleWindow::SampleWindow() : slots_(new Sample[kCapacity]()) {}

void SampleWindow::reset() {
    ++generation_;
    count_ = 0;
    head_ = 0;
    evenStep_ = 0;
    rememberedPupilSize_[0] = kDefaultPupilSize;
    rememberedPupilSize_[1] = kDefaultPupilSize;
}

void SampleWindow::shiftOut128() {
    ++generation_;
    const int dropped = std::min(count_, kShiftCount);
    head_ = (head_ + dropped) & (kCapacity - 1);
    count_ -= dropped;
    recheckSpacing();
}

namespace {
int log2OfEvenStep(std::uint64_t step) {
    switch (step) {
        case 1: return 0;
        case 2: return 1;
        case 4: return 2;
        case 8: return 3;
        default: return -1;
    }
}
}  // namespace

void SampleWindow::recheckSpacing() {
    evenStep_ = 0;
    if (count_ < 3) return;
    const std::uint64_t step = key(1) - key(0);
    const int shift = log2OfEvenStep(step);
    if (shift < 0) return;
    for (int i = 2; i < count_; ++i) {
        if (key(i) - key(i - 1) != step) return;
    }
    evenStep_ = step;
    evenShift_ = shift;
}

void SampleWindow::append(const Sample& sample, std::uint64_t k) {
    if (count_ >= kCapacity) return;
    nextSlot() = sample;
    appendInPlace(k);
}

void SampleWindow::appendInPlace(std::uint64_t k) {
    if (count_ >= kCapacity) return;
    if (count_ > 0 && key(count_ - 1) >= k) return;
    ++generation_;
    Sample& stored = slot(count_);
    if ((stored.flags & VOK_SAMPLE_PUPILSIZE) != 0) {
        rememberedPupilSize_[0] = stored.pupilSize[0];
        rememberedPupilSize_[1] = stored.pupilSize[1];
    } else {
        stored.pupilSize[0] = rememberedPupilSize_[0];
        stored.pupilSize[1] = rememberedPupilSize_[1];
    }
    stored.timeHalfMs = k;
    ++count_;
    if (count_ == 3) {
        recheckSpacing();
    } else if (evenStep_ != 0 && k - key(count_ - 2) != evenStep_) {
        evenStep_ = 0;
    }
}

std::uint64_t SampleWindow::step() const {
    if (count_ < 2) return 0;
    const std::uint64_t head = key(1) - key(0);
    if (head <= 8) return head;
    return key(count_ - 1) - key(count_ - 2);
}

int SampleWindow::findUneven(std::uint64_t k) const {
    if (count_ == 0) return -1;
    const int lastSlot = count_ - 1;
    const std::uint64_t first = key(0);
    const std::uint64_t last = key(lastSlot);
    if (k == first) return 0;
    if (k == last) return lastSlot;
    if (k < first || k > last || count_ < 3) return -1;
    const std::uint64_t spacing = step();
    if (spacing != 1 && spacing != 2 && spacing != 4 && spacing != 8) return -1;

    // Counted from the front with the step.
    const std::uint64_t fromFront = (k - first) / spacing;
    if (fromFront < static_cast<std::uint64_t>(count_) && key(static_cast<int>(fromFront)) == k) {
        return static_cast<int>(fromFront);
    }
    // Counted back from the end, with the step and then with the spacing of
    // the last two keys (which differ when the first two are irregular).
    const std::uint64_t lastSpacing = last - key(lastSlot - 1);  // > 0: keys increase
    for (const std::uint64_t spacingBack : {spacing, lastSpacing}) {
        const std::uint64_t fromBack = (last - k) / spacingBack;
        if (fromBack <= static_cast<std::uint64_t>(lastSlot)) {
            const int slotIndex = lastSlot - static_cast<int>(fromBack);
            if (key(slotIndex) == k) return slotIndex;
        }
    }
    return -1;
}

int SampleWindow::findLinear(std::uint64_t k) const {
    for (int i = 0; i < count_; ++i) {
        const std::uint64_t slotKey = key(i);
        if (slotKey == k) return i;
        if (slotKey > k) break;  // keys increase: no later slot can match
    }
    return -1;
}

bool SampleWindow::reachesBeyond(std::uint64_t k) const {
    if (count_ == 0) return false;
    if (k < key(0)) return true;
    const std::uint64_t last = key(count_ - 1);
    if (k <= last) return false;
    if (count_ < 3) return true;
    // k > last + step, written so that it cannot wrap near the top.
    return k - last > step();
}

Sample placeholderSample(std::uint32_t time) {
    Sample s{};
    s.time = time;
    float* const floats[] = {
        s.pupilX,          s.pupilY,          s.headRefX,        s.headRefY,
        s.pupilSize,       s.gazeX,           s.gazeY,           s.gazeVelX,
        s.gazeVelY,        s.headRefVelX,     s.headRefVelY,     s.pupilVelX,
        s.pupilVelY,       s.fastGazeVelX,    s.fastGazeVelY,    s.fastHeadRefVelX,
        s.fastHeadRefVelY, s.fastPupilVelX,   s.fastPupilVelY,
    };
    for (float* pair : floats) {
        pair[0] = kMissing;
        pair[1] = kMissing;
    }
    s.resolutionX = kMissing;
    s.resolutionY = kMissing;
    for (std::int16_t& word : s.headData) word = kPlaceholderHeadWord;
    s.headDataType = kPlaceholderHeadWord;
    s.flags = VOK_SAMPLE_LEFT | VOK_SAMPLE_RIGHT;
    s.input = 0;
    s.buttons = 0;
    s.errors = 0;
    return s;
}

}  // namespace vok

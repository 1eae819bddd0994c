// The sample window: a cache of up to 512 decoded samples in strictly
// increasing key order, refilled by reading the recording forward.  The
// velocity computation finds a sample's neighbours here by key.
#pragma once

#include <cstdint>
#include <memory>

#include "vokapi.h"

namespace vok {

class SampleWindow {
public:
    static constexpr int kCapacity = 512;
    // Number of oldest samples that shiftOut128 drops.
    static constexpr int kShiftCount = 128;
    // Pupil size given to samples without one until a sample carries one.
    static constexpr float kDefaultPupilSize = 1000.0f;

    // Allocates the 512 slots once; the window starts empty.
    SampleWindow();
    SampleWindow(const SampleWindow&) = delete;
    SampleWindow& operator=(const SampleWindow&) = delete;

    int count() const { return count_; }
    bool full() const { return count_ >= kCapacity; }
    bool empty() const { return count_ == 0; }

    // 0 <= i < count().  A slot's timeHalfMs is its key.
    const Sample& slot(int i) const { return slots_[(head_ + i) & (kCapacity - 1)]; }
    Sample& slot(int i) { return slots_[(head_ + i) & (kCapacity - 1)]; }
    std::uint64_t key(int i) const { return slot(i).timeHalfMs; }

    // Empties the window and forgets the pupil sizes (back to 1000.0).
    void reset();

    // Drops the oldest 128 samples (all of them when there are fewer); the
    // rest become slots 0 onwards, in order.
    void shiftOut128();

    // Stores a copy of sample in the next slot with timeHalfMs = key.  Does
    // nothing when key is not above the last key or the window is full.  A
    // sample with pupil sizes (flags 0x0100) has them remembered; one
    // without gets the remembered pair.
    void append(const Sample& sample, std::uint64_t key);

    // The slot the next append fills, for decoding a sample straight into
    // it; appendInPlace(key) then stores it as append(that sample, key)
    // would.  Only while the window is not full.
    Sample& nextSlot() { return slot(count_); }
    void appendInPlace(std::uint64_t key);

    // Slot holding key, or -1.  Constant time: the slot is estimated from
    // the key spacing (1, 2, 4 or 8 half-milliseconds), so keys that are not
    // evenly spaced may not be found here; findLinear finds them.
    int find(std::uint64_t k) const {
        // A window of evenly spaced keys holds key at the slot its distance
        // from the first key counts to, or nowhere.
        if (evenStep_ != 0) {
            const std::uint64_t first = key(0);
            if (k < first) return -1;
            const std::uint64_t distance = k - first;
            const std::uint64_t n = distance >> evenShift_;
            if ((n << evenShift_) != distance || n >= static_cast<std::uint64_t>(count_)) return -1;
            return static_cast<int>(n);
        }
        return findUneven(k);
    }

    // Slot holding key, or -1, whatever the spacing of the keys.
    int findLinear(std::uint64_t key) const;

    // True when a request for key cannot be served by reading on from the
    // window's end: key lies before the first key, or more than one step
    // past the last (always, for a window of fewer than 3 samples and a key
    // past its end).  False for an empty window.
    bool reachesBeyond(std::uint64_t key) const;

    // Key spacing: key[1] - key[0] when at most 8, else the spacing of the
    // last two keys.  0 for a window of fewer than 2 samples.
    std::uint64_t step() const;

    // The spacing of the keys when every two neighbouring keys lie 1, 2, 4
    // or 8 apart alike (and the window holds at least 3), else 0.
    std::uint64_t evenStep() const { return evenStep_; }

    // Changes whenever the window's contents change (reset, shift, append):
    // what was worked out from the window holds while it stays the same.
    std::uint64_t generation() const { return generation_; }

private:
    int findUneven(std::uint64_t key) const;
    // Works out evenStep_ afresh from the keys held.
    void recheckSpacing();

    std::unique_ptr<Sample[]> slots_;
    int count_ = 0;
    int head_ = 0;  // physical index of logical slot 0
    // The spacing of the keys when the window holds at least 3 samples and
    // every two neighbouring keys lie 1, 2, 4 or 8 apart alike, else 0;
    // evenShift_ is its base-2 logarithm.
    std::uint64_t evenStep_ = 0;
    int evenShift_ = 0;
    std::uint64_t generation_ = 0;
    float rememberedPupilSize_[2] = {kDefaultPupilSize, kDefaultPupilSize};
};

// Stand-in for a sample the recording lacks, at time t: every float 1e8,
// the headData words and headDataType 0xE100, flags 0xC000 (both eyes,
// nothing else), input, buttons and errors 0, timeHalfMs 0 (append sets
// the key).
Sample placeholderSample(std::uint32_t time);

}  // namespace vok

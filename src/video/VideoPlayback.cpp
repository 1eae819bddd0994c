#include "java/VideoPort.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "video/FrameLookup.h"

namespace vok::video {

static_assert(kNoPlaybackTime == kNoTime, "the playback's no-time is the lookup's");

std::uint32_t samplePeriodFor(float sampleRate, bool& valid) {
    valid = false;
    if (!std::isfinite(sampleRate) || !(sampleRate > 0.0f)) return 0;
    const double period = std::trunc(1000.0 / static_cast<double>(sampleRate));
    if (!(period < 4294967296.0)) return 0;
    valid = true;
    return static_cast<std::uint32_t>(period);
}

void startVideoLookup(VideoPlayback& playback, float sampleRate) {
    const auto lock = lockLookup();
    bool valid = false;
    const std::uint32_t period = samplePeriodFor(sampleRate, valid);
    if (!valid) {
        // Without a period the frame times cannot be placed: no lookup for
        // this block, and no table left from another one.
        dropTable();
        vok::log("no video frame lookup for a recording with sample rate %f\n",
                 static_cast<double>(sampleRate));
    } else if (loadTable(playback.fileName.c_str(), playback.videoNumber, true) != 0) {
        vok::log(
            "could not open or create lookup table file. The avi files may not be found or "
            "renamed or DirectX 9 is not installed!\n");
    }
    playback.lastItemTime = kNoTime;
    playback.nextFrameTime = kNoTime;
    playback.dropPendingFrameMessage();
    playback.samplePeriod = period;
}

namespace {

void buildFrameMessage(VideoPlayback& playback, std::uint32_t time) {
    Event& e = playback.frameMessage;
    e = Event{};
    e.type = MESSAGEEVENT;
    e.time = time;
    e.startTime = time;
    e.endTime = time;
    FrameMessageText& text = playback.frameMessageText;
    std::memset(text.text, 0, sizeof text.text);
    int n = std::snprintf(text.text, sizeof text.text, "!V VFRAME %d %s%lu.avi", currentFrameNumber(),
                          currentBaseName(), static_cast<unsigned long>(playback.videoNumber));
    if (n < 0) n = 0;
    if (n > FrameMessageText::kCapacity - 1) n = FrameMessageText::kCapacity - 1;
    text.length = static_cast<std::int16_t>(n + 1);
    e.message = text.asLString();
    playback.pendingFrameMessage = &e;
    playback.serveFrameMessage = false;
    playback.frameMessageDelivered = false;
    playback.frameMessageBuilt = 1;
}

}  // namespace

void frameStep(VideoPlayback& playback, std::uint32_t itemTime) {
    if (!playback.videoOption) {
        playback.lastItemTime = itemTime;
        return;
    }
    const auto lock = lockLookup();
    const std::uint32_t period = playback.samplePeriod;
    std::uint32_t& next = playback.nextFrameTime;
    const std::uint32_t last = playback.lastItemTime;
    // The frame whose time was reached since the last item gets its message.
    if (next != kNoTime && last != kNoTime && last <= next && next <= itemTime &&
        playback.frameMessageBuilt == 0) {
        buildFrameMessage(playback, next + period);
    }
    if (next != kNoTime && itemTime <= next) {
        playback.lastItemTime = itemTime;
        return;
    }
    // Move to the first frame after the item.  At the end of the table the
    // next time is kNoTime less the period, later than any item time but
    // one in the last period before the clock wraps: the loop also ends
    // when the table has no more frames.
    std::uint32_t frame = nextFrameTime();
    next = frame - period;
    while (itemTime > next) {
        if (next == kNoTime || frame == kNoTime) break;
        frame = nextFrameTime();
        next = frame - period;
    }
    playback.frameMessageBuilt = 0;
    playback.lastItemTime = itemTime;
}

}  // namespace vok::video

// What the Java binding takes from the video frame lookup, declared here on
// the binding's side and implemented by the video layer (src/video), which
// builds on it: the binding never includes the video layer.
//
// The video state of one open recording in the Java binding: as playback
// passes the frames of the recorded video, a frame message
// "!V VFRAME <frame> <base><video>.avi" is prepared for insertion into the
// item stream.  The frames come from the process-wide lookup table
// (FrameLookup.h), loaded for the recording block when playback passes its
// start.
//
// The binding drives it: startVideoLookup() at each recording start it
// hands out (with the video option on), frameStep() with the time of every
// item it hands out.  Whether and when the pending message is served is the
// binding's business; it reads and clears the fields below for that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/LStringBuffer.h"
#include "vokapi.h"

namespace vok::video {

// The frame message's text buffer: room for 497 characters and the NUL.
using FrameMessageText = LStringBuffer<498>;

// A time the playback has not seen yet (the lookup's kNoTime).
inline constexpr std::uint32_t kNoPlaybackTime = 0xFFFFFFFFu;

struct VideoPlayback {
    VideoPlayback() = default;
    // The pending message points into the object itself.
    VideoPlayback(const VideoPlayback&) = delete;
    VideoPlayback& operator=(const VideoPlayback&) = delete;

    std::string fileName;      // the recording's file name, for its tables
    bool videoOption = false;  // frame messages wanted
    // The frame message waiting to be served, or null: &frameMessage.
    Event* pendingFrameMessage = nullptr;
    Event frameMessage{};
    FrameMessageText frameMessageText;
    bool frameMessageDelivered = true;
    bool serveFrameMessage = false;
    std::uint32_t frameMessageBuilt = 0;
    std::uint32_t lastItemTime = kNoPlaybackTime;   // ms; none yet
    std::uint32_t samplePeriod = 0;         // ms
    std::uint32_t nextFrameTime = kNoPlaybackTime;  // ms, less the sample period
    std::uint32_t videoNumber = 0;          // recording block being played

    // Forgets the pending message (a jump, or a message already delivered).
    void dropPendingFrameMessage() {
        pendingFrameMessage = nullptr;
        serveFrameMessage = false;
        frameMessageDelivered = true;
    }
};

// The sample period in whole ms for a sample rate: trunc(1000 / rate) in
// double precision; 0 (no period) for a rate that is not a positive number
// or whose period does not fit 32 bits.  Sets valid accordingly.
std::uint32_t samplePeriodFor(float sampleRate, bool& valid);

// At a recording start: loads the table of the block's video (making it
// with the converter when missing) and resets the frame state.  A failed
// load is logged ("could not open or create lookup table file. ..."), and
// then no frames are found.  A sample rate that is not a positive number
// gives no video lookup for this block: no table, a logged note.
void startVideoLookup(VideoPlayback& playback, float sampleRate);

// For every item handed out, with its time: builds the frame message when
// the next frame's time has been reached since the last item, and moves to
// the frame that follows the item.
void frameStep(VideoPlayback& playback, std::uint32_t itemTime);

// Frame of video n at time t: when the current table is of another video,
// first loads video n's table beside the same recording, without running
// the converter.  -1 without a current table, when that load fails, or when
// no frame is near t.
int findFrameForRecordingTime(std::uint32_t n, std::uint32_t t);

// Destroys the current table; no table and no current record remain.
void dropTable();

}  // namespace vok::video

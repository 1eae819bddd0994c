// The native peer of a Java VOK object: the open recording and the
// binding's own state.  The Java object keeps the address of its VOKX in
// its long field vokID.
//
// What the native methods do apart from moving values into and out of Java
// objects lives here, so that it runs the same with or without a Java
// virtual machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "java/VideoPort.h"
#include "vokapi.h"

namespace vok::java {

// Values of the binding option of an open: display coordinates for 1 and
// 3, video frame messages for 2 and 3.
inline constexpr int kBindingDisplay = 1;
inline constexpr int kBindingVideo = 2;
inline constexpr int kBindingDisplayAndVideo = 3;

// Holds a recording handle; destroying it closes the recording.
class VOK {
public:
    explicit VOK(VOKFile* file = nullptr) : file_(file) {}
    virtual ~VOK();
    VOK(const VOK&) = delete;
    VOK& operator=(const VOK&) = delete;

    // The handle; null when the open failed.
    VOKFile* file() const { return file_; }

protected:
    VOKFile* file_;
};

// What getFloatData hands to Java for the current item.
struct ItemForJava {
    enum Kind { None, EventItem, SampleItem, RecordingItem };
    Kind kind = None;
    Event* event = nullptr;  // mutable: the message text is trimmed in place
    const Sample* sample = nullptr;
    const RecordingInfo* recording = nullptr;
};

class VOKX final : public VOK {
public:
    // Longest file name accepted, in bytes (UTF-8), without the NUL.
    static constexpr std::size_t kMaxFileNameLength = 2047;

    // Opens the recording with vok_open_file_ex (no resolution override)
    // and keeps the handle.  A name longer than kMaxFileNameLength bytes is
    // refused with a logged message.  *error receives 0, or -1 when the
    // recording is not open (file() is then null).
    VOKX(const char* fileName, int consistency, int loadEvents, int loadSamples, int bindingOption,
         int* error);
    ~VOKX() override = default;

    const char* fileName() const { return fileName_; }
    bool displayOption() const { return displayOption_; }
    video::VideoPlayback& playback() { return playback_; }
    const video::VideoPlayback& playback() const { return playback_; }

    // getNextData0: a frame message whose time the stream has reached is
    // returned as MESSAGEEVENT before the next item; otherwise one step.
    int nextData();

    // getFloatData's work for the type that nextData() returned: finds the
    // record to hand out (the frame message, or the current item when it is
    // of the kind the type names), notes display messages, and advances the
    // video frames.  None when there is nothing to fill; a current item of
    // another kind than the type logs "Types not matched \n".
    ItemForJava prepareItem(int type);

    // Keeps the trial identifier texts that the recording holds by pointer
    // until they are replaced or the recording is closed.
    void keepTrialIdentifiers(std::unique_ptr<char[]> start, std::unique_ptr<char[]> end);

private:
    char fileName_[kMaxFileNameLength + 1] = {};
    bool displayOption_ = false;
    video::VideoPlayback playback_;
    // A copy of the frame message being handed out: the frame step that
    // follows may build the next message in the playback's record.
    Event servedFrameMessage_{};
    video::FrameMessageText servedFrameText_;
    std::unique_ptr<char[]> startIdentifier_;
    std::unique_ptr<char[]> endIdentifier_;
};

// True for the codes the library counts as events.
bool isEventCode(int type);

// The time an event passes to the video frames: its start for starts and
// point events, its end for ends.
std::uint32_t eventItemTime(const Event& e, int type);

}  // namespace vok::java

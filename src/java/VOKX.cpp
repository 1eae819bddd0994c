#include "java/VOKX.h"

#include <cstring>

#include "core/Log.h"
#include "java/DisplayArea.h"
#include "nav/VOKFile.h"
#include "nav/Cursor.h"

namespace vok::java {

VOK::~VOK() {
    if (file_ != nullptr) vok_close_file(file_);
}

VOKX::VOKX(const char* fileName, int consistency, int loadEvents, int loadSamples, int bindingOption,
           int* error)
    : displayOption_(bindingOption == kBindingDisplay || bindingOption == kBindingDisplayAndVideo) {
    int status = -1;
    const std::size_t length = fileName != nullptr ? std::strlen(fileName) : 0;
    if (fileName == nullptr) {
        vok::log("No file name given\n");
    } else if (length > kMaxFileNameLength) {
        vok::log("The file name is too long: %lu bytes, at most %lu are accepted\n",
                 static_cast<unsigned long>(length), static_cast<unsigned long>(kMaxFileNameLength));
    } else {
        std::memcpy(fileName_, fileName, length + 1);
        playback_.fileName = fileName_;
        playback_.videoOption = bindingOption == kBindingVideo || bindingOption == kBindingDisplayAndVideo;
        file_ = vok_open_file_ex(fileName_, consistency, loadEvents, loadSamples, nullptr, &status);
        if (file_ == nullptr) status = -1;
    }
    if (error != nullptr) *error = status;
}

int VOKX::nextData() {
    if (file_ == nullptr) return 0;
    const Event* pending = playback_.pendingFrameMessage;
    if (pending != nullptr) {
        // The message goes before the first item at or after its time.  The
        // item's key counts half milliseconds; its time is the key halved.
        const std::uint64_t key = keyAtCursor(*file_);
        const std::uint64_t keyMs = key == ~0ull ? ~0ull : key >> 1;
        if (pending->startTime <= keyMs) {
            if (!playback_.frameMessageDelivered) {
                playback_.serveFrameMessage = true;
                return MESSAGEEVENT;
            }
            playback_.dropPendingFrameMessage();
        }
    }
    return vok_get_next_data(file_);
}

bool isEventCode(int type) {
    return (type >= SMARK && type <= MARKB) || (type >= STARTSAMPLES && type <= ENDEVENTS) ||
           type == MESSAGEEVENT || type == BUTTONEVENT || type == INPUTEVENT;
}

std::uint32_t eventItemTime(const Event& e, int type) {
    switch (type) {
        case EMARK:
        case EBLINK:
        case ESACC:
        case EFIX:
        case ENDSAMPLES:
        case ENDEVENTS:
            return e.endTime;
        // MARKA and MARKB are point events like messages: their time is
        // startTime (their `time` field is never filled from the file).
        default:
            return e.startTime;
    }
}

ItemForJava VOKX::prepareItem(int type) {
    ItemForJava item;
    if (file_ == nullptr) return item;
    if (isEventCode(type)) {
        if (playback_.serveFrameMessage && type == MESSAGEEVENT && playback_.pendingFrameMessage != nullptr) {
            servedFrameMessage_ = *playback_.pendingFrameMessage;
            servedFrameText_ = playback_.frameMessageText;
            servedFrameMessage_.message = servedFrameText_.asLString();
            playback_.frameMessageDelivered = true;
            video::frameStep(playback_, servedFrameMessage_.startTime);
            item.kind = ItemForJava::EventItem;
            item.event = &servedFrameMessage_;
            return item;
        }
        FloatData* data = vok_get_float_data(file_);
        if (data == nullptr) return item;
        Event* e = vok_get_event(data);
        if (e == nullptr) {
            vok::log("Types not matched \n");
            return item;
        }
        if (displayOption_ && type == MESSAGEEVENT && e->message != nullptr)
            noteDisplayMessage(e->message->c);
        video::frameStep(playback_, eventItemTime(*e, type));
        item.kind = ItemForJava::EventItem;
        item.event = e;
    } else if (type == RECORDING_INFO) {
        FloatData* data = vok_get_float_data(file_);
        if (data == nullptr) return item;
        const RecordingInfo* r = vok_get_recording(data);
        if (r == nullptr) {
            vok::log("Types not matched \n");
            return item;
        }
        if (playback_.videoOption && r->state != 0) {
            video::startVideoLookup(playback_, r->sampleRate);
        } else {
            ++playback_.videoNumber;
        }
        item.kind = ItemForJava::RecordingItem;
        item.recording = r;
    } else if (type == SAMPLE_TYPE) {
        FloatData* data = vok_get_float_data(file_);
        if (data == nullptr) return item;
        const Sample* s = vok_get_sample(data);
        if (s == nullptr) {
            vok::log("Types not matched \n");
            return item;
        }
        video::frameStep(playback_, s->time);
        item.kind = ItemForJava::SampleItem;
        item.sample = s;
    }
    return item;
}

void VOKX::keepTrialIdentifiers(std::unique_ptr<char[]> start, std::unique_ptr<char[]> end) {
    startIdentifier_ = std::move(start);
    endIdentifier_ = std::move(end);
}

}  // namespace vok::java

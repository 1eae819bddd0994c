// Loads the input as the video frame lookup table of a recording and looks
// frames up: by iteration, at every record's time and near it.
#include <cstdlib>

#include "FuzzHarness.h"
#include "video/FrameLookup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace video = vok::video;
    static const std::string recording = vokfuzz::scratchPath(".vok");
    static const std::string table = recording.substr(0, recording.size() - 4) + "0.vkt";
    vokfuzz::writeFile(table, std::vector<std::uint8_t>(data, data + size));
    if (video::loadTable(recording.c_str(), 0, false) == 0) {
        const std::size_t records = video::currentTable()->recordCount();
        std::size_t frames = 0;
        while (video::nextFrameTime() != video::kNoTime) {
            if (++frames > records || video::currentFrameNumber() < 0) std::abort();
        }
        for (const video::LookupRecord& r : video::currentTable()->records()) {
            for (std::uint32_t t : {r.time(), r.time() - 31, r.time() + 29, r.baseTime})
                video::frameForTime(t);
        }
        video::findFrameForRecordingTime(0, size > 0 ? data[0] * 1000u : 0u);
    }
    video::dropTable();
    std::remove(table.c_str());
    return 0;
}

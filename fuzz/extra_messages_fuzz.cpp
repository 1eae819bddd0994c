// Merges the input, as an extra message log, into a fixed recording of the
// writer and walks the merged stream.
#include "FuzzCorpus.h"
#include "FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> plain = vokgen::extraMessageRecording();
    static const std::string logPath = vokfuzz::scratchPath(".log");
    vokfuzz::quiet();
    vokfuzz::Input in(data, size);
    const std::uint8_t options = in.u8() & 0x1F;  // the recording loads everything
    vokfuzz::writeFile(logPath, in.rest());
    vok_set_extra_message_file(logPath.c_str());
    std::vector<std::uint8_t> recording = plain;
    VOKFile* file = vokfuzz::openRecording(recording, options, 2);
    vokfuzz::walk(file);
    if (file != nullptr && vok_jump_to_trial(file, 0) == 0) vokfuzz::walk(file);
    vok_close_file(file);
    vok_set_extra_message_file(nullptr);
    std::remove(logPath.c_str());
    return 0;
}

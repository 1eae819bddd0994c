// Opens the input as a recording (options byte first: consistency level,
// tolerant reading, load flags, compressed or plain) and walks it.
#include "FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vokfuzz::quiet();
    vokfuzz::Input in(data, size);
    const std::uint8_t options = in.u8();
    std::vector<std::uint8_t> recording = in.rest();
    VOKFile* file = vokfuzz::openRecording(recording, options);
    vokfuzz::walk(file);
    vok_close_file(file);
    return 0;
}

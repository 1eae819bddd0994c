// Runs a script of trial, bookmark and sample-by-time calls, with
// identifiers, trial numbers and times from the input, on the recording
// that follows it, then walks what is left.
#include "FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vokfuzz::quiet();
    vokfuzz::Input in(data, size);
    const std::uint8_t options = in.u8();
    std::vector<std::uint8_t> scriptBytes(in.u8());
    in.bytes(scriptBytes.data(), scriptBytes.size());
    std::vector<std::uint8_t> recording = in.rest();
    VOKFile* file = vokfuzz::openRecording(recording, options);
    vokfuzz::Input script(scriptBytes.data(), scriptBytes.size());
    if (file != nullptr) vokfuzz::runNavigationScript(file, script);
    vokfuzz::walk(file);
    vok_close_file(file);
    return 0;
}

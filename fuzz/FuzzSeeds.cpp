#include "FuzzSeeds.h"

#include "VokWriter.h"

namespace vokfuzz {

std::vector<std::vector<std::uint8_t>> seedRecordings() {
    std::vector<std::vector<std::uint8_t>> seeds;
    {
        vokgen::VokWriter w;
        w.magic().standardPreamble(2, 4).endPreamble();
        // A samples block at 1000 Hz with both eyes, a fixation, a message.
        w.u16(15 << 8).u8(33).u32(1000).u8(65).u32(1000u << 16).u8(48).i16(10).u8(81).i16(10).u8(180).u16(0xC401).u8(0);
        for (int i = 0; i < 40; ++i) {
            if (i == 0) {
                w.u16(0xE401).u32(1000);
            } else {
                w.u16(0xC401).u8(i == 20 ? 3 : 1);
            }
            w.i16(static_cast<std::int16_t>(5000 + i)).i16(3000).i16(5100).i16(3100);
            if (i == 10) w.u16(7 << 8).u8(33).u32(1005).u8(0);
            if (i == 30) w.u16(8 << 8).u8(33).u32(1005).u8(65).u32(1029).u8(0);
            if (i == 15) w.u16(24 << 8).u8(33).u32(1015).u8(94).i16(5).raw("hello").u8(0);
        }
        w.u16(16 << 8).u8(65).u32(1045).u8(0);
        w.u16(0);
        seeds.push_back(w.bytes());
    }
    return seeds;
}

}  // namespace vokfuzz

// Runs the fuzz target without a fuzzer: on the files named on the command
// line, or, without arguments, on recordings made by the project's writer
// and deterministic mutations of them (every truncation, byte flips,
// inserted and deleted bytes).  Prints the seed of the mutations.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "FuzzSeeds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
void run(const std::vector<std::uint8_t>& bytes) { LLVMFuzzerTestOneInput(bytes.data(), bytes.size()); }
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            run(bytes);
        }
        return 0;
    }
    const std::uint32_t seed = 20261207;
    std::printf("fuzz replay: mutation seed %u\n", seed);
    std::mt19937 rng(seed);
    std::size_t runs = 0;
    for (const std::vector<std::uint8_t>& base : vokfuzz::seedRecordings()) {
        for (std::uint8_t options : {0x00, 0x02, 0x04, 0x06, 0x08, 0x11, 0x26, 0x45}) {
            std::vector<std::uint8_t> input;
            input.push_back(options);
            input.insert(input.end(), base.begin(), base.end());
            run(input);
            ++runs;
            // Every truncation of small seeds, a sample of cuts of big ones.
            const std::size_t step = input.size() < 3000 ? 1 : input.size() / 500;
            for (std::size_t cut = 1; cut < input.size(); cut += step) {
                run(std::vector<std::uint8_t>(input.begin(), input.begin() + static_cast<long>(cut)));
                ++runs;
            }
            for (int m = 0; m < 200; ++m) {
                std::vector<std::uint8_t> mutated = input;
                const int edits = 1 + static_cast<int>(rng() % 4);
                for (int e = 0; e < edits && mutated.size() > 2; ++e) {
                    const std::size_t at = 1 + rng() % (mutated.size() - 1);
                    switch (rng() % 3) {
                        case 0: mutated[at] = static_cast<std::uint8_t>(rng()); break;
                        case 1: mutated.insert(mutated.begin() + static_cast<long>(at), static_cast<std::uint8_t>(rng())); break;
                        default: mutated.erase(mutated.begin() + static_cast<long>(at)); break;
                    }
                }
                run(mutated);
                ++runs;
            }
        }
    }
    std::printf("fuzz replay: %zu inputs, no crash\n", runs);
    return 0;
}

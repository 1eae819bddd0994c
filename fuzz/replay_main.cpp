// Runs a fuzz target without a fuzzer on the files named on the command
// line and on every file inside the folders named there (a corpus, the
// inputs of past findings).  Folders that do not exist are passed over;
// fails when no input at all was found, so a lost corpus is noticed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
void runFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::printf("replay %s (%zu bytes)\n", path.string().c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}
}  // namespace

int main(int argc, char** argv) {
    std::size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
                if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
                runFile(entry.path());
                ++runs;
            }
        } else if (std::filesystem::is_regular_file(arg)) {
            runFile(arg);
            ++runs;
        }
    }
    std::printf("replayed %zu inputs without a crash\n", runs);
    return runs > 0 ? 0 : 1;
}

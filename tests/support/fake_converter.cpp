// A stand-in for the video converter that the library runs, for the tests:
// appends its working directory and its arguments (one per line, in
// brackets) to the file named by FAKE_LOG, copies the file named by
// FAKE_TABLE to the table the library asked for ("<stem><n - 1>.vkt" from
// the arguments stem and n) when that is set, and exits with the status in
// FAKE_STATUS (0 when unset).
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    try {
        namespace fs = std::filesystem;
        if (const char* log = std::getenv("FAKE_LOG")) {
            std::ofstream out(log, std::ios::app | std::ios::binary);
            out << fs::canonical(fs::current_path()).string() << '\n';
            for (int i = 1; i < argc; ++i) out << '[' << argv[i] << "]\n";
        }
        const char* table = std::getenv("FAKE_TABLE");
        if (table != nullptr && *table != '\0' && argc >= 3) {
            const std::string target = std::string(argv[1]) + std::to_string(std::atoi(argv[2]) - 1) + ".vkt";
            fs::copy_file(table, target, fs::copy_options::overwrite_existing);
        }
        const char* status = std::getenv("FAKE_STATUS");
        return status != nullptr ? std::atoi(status) : 0;
    } catch (const std::exception&) {
        return 99;
    }
}

// vokgen: writes synthetic recordings for demos, tests and benchmarks.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>

#include "VokWriter.h"

int main(int argc, char** argv) {
    CLI::App app{"vokgen - write synthetic .vok recordings"};
    app.require_subcommand(1);

    std::string demoPath;
    auto* demo = app.add_subcommand("demo", "Write the small built-in demo recording");
    demo->add_option("output", demoPath, "File to write")->required();

    CLI11_PARSE(app, argc, argv);

    try {
        if (*demo) {
            vokgen::VokWriter w;
            w.magic().standardPreamble(2, 4).preambleLine("** DEMO RECORDING").endPreamble();
            w.u16(0);  // end of the record stream
            w.writeFile(demoPath);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vokgen: %s\n", e.what());
        return 1;
    }
    return 0;
}

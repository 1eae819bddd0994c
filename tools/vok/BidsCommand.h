// The command line of `vok bids`.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "Bids.h"

namespace voktool {

struct BidsCommandLine {
    BidsOptions options;
    BidsMapping mapping;
    std::string displayFile, screenSize, screenDistance, screenOrigin, screenResolution;
};

void addBidsOptions(CLI::App* cmd, BidsCommandLine& c);

// Names the recordings and checks the display (a mistake: exit status 2,
// nothing written), converts them, then writes the dataset-level files.
int runBids(BidsCommandLine& c, const std::vector<std::string>& inputs, int jobs, bool progress, Output& out);

}  // namespace voktool

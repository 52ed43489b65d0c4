#pragma once
// The command line of runEnsemble.

#include <cstdint>
#include <string>
#include <vector>

// A discharge level whose exceedance the products count: one value for every
// cell, or a grid of the study area read from `path`.
struct ThresholdOption {
    std::string name;  // labels the products: exceedance_probability_NAME, ...
    bool isGrid = false;
    float value = 0.0f;  // m3/s, when not a grid
    std::string path;    // the ESRI ASCII grid, when a grid
};

struct EnsembleOptions {
    int threads = 1;
    bool threadsGiven = false;
    std::string initialState;  // empty: the event starts from the cells' set-up state
    std::vector<ThresholdOption> thresholds;
    std::vector<std::pair<int32_t, int32_t>> points;  // (column from 1 at the west, row from 1 at the south)
    bool memberFiles = false;
    bool help = false;
    bool version = false;
};

// Parses the arguments (without the program name). Throws InputError with a
// one-line message that points to --help for anything it cannot take: an
// unknown option, a missing value, a threshold that is not NAME=VALUE or
// NAME=GRID with a name of letters, digits and underscores (a letter first,
// each name once) and a value of zero or more, a point that is not two whole
// numbers of at least 1.
EnsembleOptions parseEnsembleOptions(const std::vector<std::string>& args);

// What "runEnsemble --help" prints.
std::string ensembleUsage();

#pragma once
// What the viewer page shows of an ensemble: output/ensemble.nc of
// runEnsemble, read through netCDF-C. Per threshold the number of members
// that exceed it at each cell (the probability is that over the members
// counted); per kept cell (point, dam, reservoir) every member's hourly mean
// discharge and their hourly quantiles.

#include "runResults.h"

#include <cstdint>
#include <string>
#include <vector>

inline const char* const kEnsembleFile = "output/ensemble.nc";

struct ViewerEnsemble {
    bool present = false;  // false: the project has no output/ensemble.nc
    int32_t members = 0;
    int32_t counted = 0;                // members that finished
    std::vector<int32_t> finished;      // per member, 1 or 0
    std::vector<double> quantileLevels;
    struct Threshold {
        std::string name;
        std::string about;           // "the threshold 300 m3/s", "the threshold grid FILE"
        std::vector<int32_t> count;  // per grid index (row 0 north); -1 where it has no value
    };
    std::vector<Threshold> thresholds;
    struct Point {
        std::string name, kind;
        int32_t columnNumber = 0;  // from 1 at the west
        int32_t rowNumber = 0;     // from 1 at the south
        std::vector<float> members;    // member x hour; -9999 for a member that stopped
        std::vector<float> quantiles;  // quantile level x hour
    };
    std::vector<Point> points;
};

// Reads output/ensemble.nc of the project when it exists (present stays false
// otherwise). Throws InputError for a file that netCDF cannot read, lacks a
// variable, or does not match the run's grid and hours.
ViewerEnsemble readViewerEnsemble(const Project& project, const GridGeometry& grid, int64_t hours);

#pragma once
// The rainfall over the area draining to a cell: the cells upstream of it on
// the eight-direction network, and their area-weighted mean intensity for every
// rainfall observation of the run, each cell taking its nearest rainfall point
// as runoffSim does.

#include "grid.h"
#include "nearestRainPoint.h"
#include "rainfall.h"
#include "runResults.h"

#include <cstdint>
#include <vector>

// The cells whose flow reaches cell `target` (row-major index, row 0 north),
// the target included, leaving out the outer ring, which is never computed.
// `flowDir` is north-up.
std::vector<int32_t> upstreamCells(const std::vector<int32_t>& flowDir, int32_t nrows, int32_t ncols, int32_t target);

// The rainfall grid of a run with its series read from the project's rainfall
// file (text or binary, as the parameter file says).
RainGrid readRunRainfall(const Project& project, const ModelParams& params);

// The rainfall point of any cell of a run, as runoffSim chose it: from the
// project's "temp/setROFCell.dat" when that fits the run, else the nearest one.
struct CellRainPoints {
    CellRainPoints(const Project& project, const ModelParams& params, const RainGrid& rain);
    // Point index (i * rainCols + j) of `cell` (row-major, row 0 north); throws
    // InputError when no point lies near it (absurd coordinates).
    std::size_t pointOf(int32_t cell) const;
    // The cell's area in m2 (dx x dy in float32, as the simulation sizes it).
    double areaOf(int32_t cell) const;

    const ModelParams& params;
    const RainGrid& rain;
    bool cached = false;
    std::vector<int32_t> cache;
    RainPointIndex index;
    CellGrid shape;  // the grid's size alone, for cell positions and names
};

// Mean intensity in mm/h over `cells`, weighted by cell area, for every
// observation in time order (days x 24 x obsPerHour values). Reads the
// project's rainfall file and takes the rainfall points from its
// "temp/setROFCell.dat" when that fits the run, else finds them.
std::vector<double> upstreamMeanRain(const Project& project, const ModelParams& params,
                                     const std::vector<int32_t>& cells);

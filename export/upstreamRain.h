#pragma once
// The rainfall over the area draining to a cell: the cells upstream of it on
// the eight-direction network, and their area-weighted mean intensity for every
// rainfall observation of the run, each cell taking its nearest rainfall point
// as runoffSim does.

#include "runResults.h"

#include <cstdint>
#include <vector>

// The cells whose flow reaches cell `target` (row-major index, row 0 north),
// the target included, leaving out the outer ring, which is never computed.
// `flowDir` is north-up.
std::vector<int32_t> upstreamCells(const std::vector<int32_t>& flowDir, int32_t nrows, int32_t ncols, int32_t target);

// Mean intensity in mm/h over `cells`, weighted by cell area, for every
// observation in time order (days x 24 x obsPerHour values). Reads the
// project's rainfall file and takes the rainfall points from its
// "temp/setROFCell.dat" when that fits the run, else finds them.
std::vector<double> upstreamMeanRain(const Project& project, const ModelParams& params,
                                     const std::vector<int32_t>& cells);

#pragma once
// From a product's grid to the rainfall grid of a project: the smallest part
// of the product that covers the study area plus one rainfall cell all round.
//
// A regular longitude/latitude grid is cut without resampling. A projected or
// curvilinear grid is warped (GDAL, area-weighted average, which keeps the
// area mean) to a regular longitude/latitude grid of about the source's
// resolution in whole arc-seconds, aligned on the study area's south-west
// corner.

#include "paramSection.h"
#include "rainProduct.h"

#include <memory>
#include <string>
#include <vector>

struct WarpState;  // GDAL datasets and the warp operation, private to the cut

struct RainCut {
    RainGridSpec out;          // the project's rainfall grid
    int32_t row0 = 0, rows = 0, col0 = 0, cols = 0;  // the part of the source read per frame (rows north first)
    bool warped = false;
    std::shared_ptr<WarpState> warp;
};

// Plans the cut of `grid` for the study area. Throws InputError naming
// `source` when the product does not cover the study area (and, for a warped
// grid, the one cell around it).
RainCut planCut(const SourceGrid& grid, const ProjectArea& area, const std::string& source);

// One frame of the rainfall grid (rows south first, columns west to east)
// from the source part read for it (readFrame with the cut's rows and
// columns). A warped cell whose sources hold a missing value is NaN.
std::vector<float> cutFrame(const RainCut& cut, const std::vector<double>& part);

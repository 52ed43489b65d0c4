#pragma once
// Writing a parameter file "param-hsx-event-ver400.dat": the 26 values in
// reading order, one section per group of lines, without labels (the reader
// takes numbers only). Section 1 comes from the DEM grid; the other sections
// get starting values that suit a flood event on a basin of a few thousand
// cells, to be adjusted by the hydrologist.

#include "demGrid.h"
#include "paramFile.h"

#include <iosfwd>
#include <string>

// Section 1 from the grid: scale in arc-seconds, ncols, nrows, the
// south-west corner in degrees.
void setStudyArea(ModelParams& params, const DemGrid& grid);

// A complete set of values for `grid`: section 1 from the grid, rainfall as
// text every 10 minutes at one point in the middle of the study area, one day
// in steps of 60 s, and forest-basin kinematic-wave values; the channel
// threshold is the number of cells of about 2 km2.
ModelParams starterParams(const DemGrid& grid);

// The text of the parameter file. The scale is written with 9 significant
// digits (exact for a float32), every other real with at most 15, so the
// simulation's caches read the corner values back unchanged.
std::string paramFileText(const ModelParams& params);

// The section-1 values for the console, one labelled line each.
void printStudyArea(std::ostream& out, const ModelParams& params);

#pragma once
// The topography inputs of "./topoData/": the river list and the four rasters
// (elevation, flow codes, accumulation, river numbers), checked and turned
// into the cells and drainage network of the grid, or of a share of it.

#include "grid.h"

#include <cstdint>
#include <iosfwd>
#include <vector>

struct ModelParams;

// The four topography rasters as read, per grid index (row 0 north).
struct TopographyRasters {
    std::vector<float> elevation;
    std::vector<int32_t> flowDir, flowAcc, riverNum;
};
// "./topoData/riverNumList.dat": the first number of each line. Prints the count.
std::vector<int32_t> readRiverList(std::ostream& out);
std::vector<int32_t> readRiverList(std::istream& countPass, std::istream& readPass, std::ostream& out);

// The four rasters of "./topoData/": geometry, flow codes, accumulation, river
// numbers, then the links. Requires a grid of params.nrows x params.ncols.
void readTopography(CellGrid& grid, const ModelParams& params);

// Reads the four rasters of "./topoData/" and checks them as readTopography
// does (the same messages, in the same order), without building a grid.
TopographyRasters readTopographyRasters(const ModelParams& params);

// The cells a share holds (ascending grid indices) and, for each, the process
// that computes it; chosen from the checked rasters and the downstream link of
// every cell (kNoCell where there is none).
struct HeldCells {
    std::vector<int32_t> cells;
    std::vector<int32_t> owners;
};

// Makes `grid` the share `held` of process `rank`: every held cell gets what
// readTopography gives it, links included (upstream slots count every cell
// draining into it, held or not); the share keeps the rasters for the rest.
void shareTopography(CellGrid& grid, TopographyRasters&& rasters, const HeldCells& held, int32_t rank,
                     const ModelParams& params);

// Per grid index, the cell it drains into, as the links of the grid would be.
std::vector<int32_t> downstreamLinks(const TopographyRasters& rasters, int nrows, int ncols);

// Builds the links of the held cells from the flow codes already stored (a
// share's upstream slots count every cell draining in, held or not); rejects
// an invalid flow code on a held, simulated, non-border cell.
void buildNetwork(CellGrid& grid);

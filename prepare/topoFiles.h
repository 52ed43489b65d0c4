#pragma once
// The topography inputs of the simulation, made from a DEM and written into a
// project's "topoData/" directory: four headerless rasters of little-endian
// 4-byte values stored south row first, west to east ("modDem.bin" float32,
// "flowDir.bin", "flowAcc.bin", "riverNum.bin" int32) and the river list
// "riverNumList.dat".
//
// riverNumList.dat has one line per selected basin, largest first, with eight
// numbers: the river number, five integers (the mouth's column number from 1
// at the west, its row number from 1 at the south, the basin's cell count,
// the cells on its longest flow path, its Strahler order at the mouth) and
// two reals (the longitude and latitude of the mouth's centre, degrees).

#include "demGrid.h"
#include "drainage.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct TopoData {
    int32_t nrows = 0;
    int32_t ncols = 0;
    std::vector<float> modDem;      // conditioned elevations, row 0 north; -9999 where the DEM has no data
    std::vector<int32_t> flowDir;   // 0..8; 0 at mouths, on the outer ring and without data
    std::vector<int32_t> flowAcc;   // 0 on the outer ring and without data
    std::vector<int32_t> riverNum;  // basin number of selected basins, -1 elsewhere
    std::vector<BasinSummary> basins;
    int64_t raisedCells = 0;        // cells the depression filling raised
    int64_t mouthCount = 0;         // river mouths of all basins, selected or not
};

// Conditions the DEM, traces the network and selects the basins of at least
// `minCells` cells (at most `maxBasins` when positive). Throws InputError when
// no basin is that large.
TopoData prepareTopoData(const DemGrid& grid, int32_t minCells, int32_t maxBasins);

// The text of "riverNumList.dat" for the selected basins.
std::string riverListText(const DemGrid& grid, const std::vector<BasinSummary>& basins);

// Raster bytes in file order (south row first, west to east), little-endian.
std::string rasterBytes(const std::vector<float>& values, int32_t nrows, int32_t ncols);
std::string rasterBytes(const std::vector<int32_t>& values, int32_t nrows, int32_t ncols);

// Writes the five files into `projectDir`/topoData/ (created if missing),
// announcing each with "Write " and the path. All five are first written
// under temporary names and renamed only when every one is complete, so a
// failure leaves the earlier files as they were. Throws InputError on failure.
void writeTopoData(const std::string& projectDir, const DemGrid& grid, const TopoData& topo, std::ostream& out);

// Creates `dir` and its parents if missing; throws InputError if it cannot.
void createDirectory(const std::filesystem::path& dir);

// Writes `text` to a new file at `path`; throws InputError if it cannot be
// written in full (and removes what it wrote).
void writeWhole(const std::filesystem::path& path, const std::string& text);

// `path` with ".part" appended: where a file is written before it is renamed
// over the original.
std::filesystem::path temporaryPath(const std::filesystem::path& path);

// Writes `text` to `path` through a temporary file renamed over it.
void writeFileAtomically(const std::string& path, const std::string& text);

#pragma once
// The numbers behind the results viewer page: how each cell is drawn (its
// kind, flow code and basin outline), the shaded relief, the logarithmic
// colour levels of discharge, slopes gathered into blocks, and the plan that
// keeps a page of a large grid within its size.

#include "runResults.h"

#include <cstdint>
#include <string>
#include <vector>

// Kinds of a cell on the page (the low three bits of its info word).
enum ViewerKind : uint16_t { kViewerNone = 0, kViewerSlope = 1, kViewerChannel = 2, kViewerDam = 3, kViewerReservoir = 4 };

// One 16-bit word per cell, row-major from the north-west: bits 0-2 the
// kind, bits 3-6 the flow code (15 for a code outside 0..8), bit 7 a basin
// outline along the cell's east side, bit 8 along its south side. An outline
// separates two cells of different simulated basins (river numbers), or a
// computed cell from one that is not.
std::vector<uint16_t> cellInfo(const std::vector<uint8_t>& kinds, const std::vector<int32_t>& flowDir,
                               const std::vector<int32_t>& riverNum, int32_t nrows, int32_t ncols);

// Grey levels 1..255 of a hillshade (sun from the north-west, 45 degrees
// high) of the north-up elevations, cell sizes in metres from `grid`; 0 where
// the elevation or a neighbour's is not finite or below -1000 (no data).
std::vector<uint8_t> hillshade(const std::vector<float>& elevation, const GridGeometry& grid);

// Discharge on a logarithmic scale of 254 levels from qMin to qMax: level 0
// is no data (-9999), 1 is qMin or less (zero included), 2..255 split the
// logarithm of (qMin, qMax] evenly; values above qMax take 255. The page's
// script computes the same levels from the same two numbers.
struct LogScale {
    double qMin = 1e-5;
    double qMax = 1.0;
    uint8_t level(double q) const;
};

// qMax: the largest value (at least 1e-3); qMin five decades below it.
LogScale logScaleUpTo(double largest);

// The cells (row-major, row 0 north) of each k x k block, blocks row-major
// from the north-west over ceil(nrows / k) x ceil(ncols / k).
struct BlockGrid {
    int32_t factor = 1;
    int32_t rows = 0;
    int32_t cols = 0;
    std::vector<int32_t> blockOf;  // per cell
    std::vector<int32_t> blocks;   // the blocks that hold a slope cell, ascending
    std::vector<int32_t> slotOf;   // per block: its place in `blocks`, -1 when it holds none
    BlockGrid(int32_t factor, const std::vector<uint8_t>& kinds, int32_t nrows, int32_t ncols);
};

// Levels of one frame over the blocks that hold slope cells: the mean of the
// block's computed slope cells (in double, cell order), quantised.
std::vector<uint8_t> blockLevels(const BlockGrid& blocks, const std::vector<uint8_t>& kinds, const float* frame,
                                 const LogScale& scale);

// What the page holds, chosen so that its data stay within `budget` bytes
// of base64: hourly maps of the slopes at the finest block size that fits in
// 70 % of it; the 10-minute series of channel, dam and reservoir cells exact
// (float32) when they fit in 85 %, else as levels; 10-minute maps, an extra
// on request, at the finest block size (no finer than the hourly one, at most
// 16) that fits in the whole and takes at most twice the room of the hourly
// maps, else none.
struct ViewerPlan {
    int32_t hourlyFactor = 1;
    bool tenMinuteExact = true;
    int32_t tenMinuteFactor = 1;  // 0: no 10-minute maps
    uint64_t estimatedBytes = 0;  // base64 of all data
};

struct ViewerSizes {
    uint64_t fixedBytes = 0;                 // everything not chosen below (raw bytes)
    uint64_t exactCells = 0;                 // channel, dam, reservoir and gauge cells
    int64_t hours = 0;
    std::vector<uint64_t> slopeBlocks;  // [k - 1]: blocks of k x k cells holding a slope cell, k = 1..16
};

ViewerPlan planViewer(const ViewerSizes& sizes, uint64_t budget);

#pragma once
// The drainage network of a conditioned DEM, in the simulation's terms: an
// eight-direction flow code for every computed cell, the flow accumulation,
// and the basins that end at river mouths.
//
// Computed cells are the cells with data off the outer ring of the grid; the
// simulation never computes the ring. Water leaves the computed area at a
// river mouth (code 0): a computed cell whose steepest descent leads onto the
// outer ring, or a cell next to missing data with no lower neighbour. Every
// other computed cell drains into a strictly lower computed cell, so every
// path ends at a mouth and the accumulation strictly increases downstream.

#include "demGrid.h"
#include "flowCodes.h"

#include <cstdint>
#include <vector>

struct Drainage {
    int32_t nrows = 0;
    int32_t ncols = 0;
    std::vector<uint8_t> computed;  // 1: a cell with data off the outer ring
    std::vector<int32_t> flowDir;   // 0..8 on computed cells (0 at a mouth); 0 elsewhere
    std::vector<int32_t> flowAcc;   // computed cells draining through the cell, itself included; 0 elsewhere
    std::vector<int32_t> order;     // the computed cells, each before the cell it drains into
    std::vector<int32_t> pathLength;   // cells on the longest flow path ending at the cell, itself included
    std::vector<int32_t> streamOrder;  // Strahler order of the cell in the network (1 at a source)
    std::vector<int32_t> mouthOf;      // index of the mouth each computed cell drains to; -1 elsewhere

    // The cell that computed cell i drains into, or -1 at a mouth.
    int32_t downstreamOf(int32_t i) const;
};

// Flow codes by steepest descent on the conditioned elevations, with metric
// distances (east-west spacing shrunk by the cosine of the latitude). Ties go
// to the lower code. Requires `filled` from fillDepressions on `grid`.
std::vector<int32_t> flowDirections(const DemGrid& grid, const std::vector<float>& filled);

// The whole network of a conditioned DEM: codes, then accumulation, order,
// path lengths, Strahler orders and basins in one pass down the network.
Drainage traceDrainage(const DemGrid& grid, const std::vector<float>& filled);

struct BasinSummary {
    int32_t number = 0;       // the river number given to the basin's cells
    int32_t mouth = 0;        // cell index of the mouth
    int32_t cellCount = 0;    // computed cells of the basin (the mouth's accumulation)
    int32_t longestPath = 0;  // cells on the longest flow path to the mouth
    int32_t streamOrder = 0;  // Strahler order at the mouth
};

// The basins of at least `minCells` cells, largest first (ties: the mouth that
// comes first in row-major order), at most `maxBasins` of them when it is
// positive; numbered 0, 1, ... in that order.
std::vector<BasinSummary> selectBasins(const Drainage& drainage, int32_t minCells, int32_t maxBasins);

// River number of every cell: the number of its selected basin, -1 for every
// other cell (unselected basins, the outer ring, cells without data).
std::vector<int32_t> riverNumbers(const Drainage& drainage, const std::vector<BasinSummary>& basins);

#pragma once
// The calculation order: every cell with a positive flow accumulation, in
// ascending order of accumulation, so each cell comes after all cells that
// drain into it. Cached in "./temp/numOfBasin.dat" and "./temp/orderedCell.dat".

#include "grid.h"

#include <cstdint>
#include <iosfwd>
#include <utility>
#include <vector>

struct ModelParams;

struct CalcOrder {
    int32_t groupCount = 0;              // distinct positive accumulations
    std::vector<int32_t> groupSizes;     // cells per accumulation, ascending
    int32_t cellCount = 0;               // sum of groupSizes
    std::vector<std::pair<int32_t, int32_t>> entries;  // (row, column) in calculation order
};

// Orders the cells by flow accumulation.
CalcOrder orderCells(const CellGrid& grid);

// Reuses the cache when it fits the grid, else orders the cells and rewrites
// the cache. Prints the stage line and the summary lines. Without `mayWrite`
// the cache is only read (another process writes it): an order that does not
// fit is computed anew, not written.
CalcOrder prepareCalcOrder(const CellGrid& grid, const ModelParams& params, std::ostream& out, bool mayWrite = true);

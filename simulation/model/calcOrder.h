#pragma once
// The calculation order: every cell with a positive flow accumulation, in
// ascending order of accumulation, so each cell comes after all cells that
// drain into it. Its cache in "./temp/" is read and written by orderCache.h.

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

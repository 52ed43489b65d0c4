#pragma once
// The cache of the calculation order, "./temp/numOfBasin.dat" and
// "./temp/orderedCell.dat", reused while it fits the grid.

#include "calcOrder.h"

#include <iosfwd>

struct ModelParams;

// Reuses the cache when it fits the grid, else orders the cells and rewrites
// the cache. Prints the stage line and the summary lines. Without `mayWrite`
// the cache is only read (another process writes it): an order that does not
// fit is computed anew, not written.
CalcOrder prepareCalcOrder(const CellGrid& grid, const ModelParams& params, std::ostream& out, bool mayWrite = true);

// Throws the InputError that asks to rebuild the cache when `order` names a
// cell outside the grid or its group sizes do not add up within its entries
// (a cache made for another topography).
void requireOrderFitsGrid(const CalcOrder& order, const CellGrid& grid);

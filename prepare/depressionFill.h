#pragma once
// Depression filling: raises the cells of every closed depression and flat so
// that each cell with data can drain, one strictly lower neighbour after
// another, to the edge of the data (the grid edge or a cell without data).
//
// The method is Priority-Flood+epsilon (Barnes, Lehman and Mulla, Computers &
// Geosciences 62, 2014): a flood from the edge of the data, lowest cell first,
// gives each newly reached cell at least the next float32 value above the cell
// it was reached from. O(n log n) for n cells.

#include "demGrid.h"

#include <cstdint>
#include <vector>

// Cells where the flood starts: cells with data on the grid edge or next to a
// cell without data (eight neighbours). They keep their elevation.
std::vector<uint8_t> floodSeeds(const DemGrid& grid);

// Returns the conditioned elevations (NaN where the grid has no data).
// Guarantees: every value is at least the original one; seeds are unchanged;
// every other cell with data has a neighbour with data that is strictly lower
// in float32. Ties in the flood are taken in the order the cells were reached,
// so the result does not depend on the heap.
std::vector<float> fillDepressions(const DemGrid& grid);

#pragma once
// Which cells a process of a distributed run holds: the cells of its part of
// the partition, the cells draining into them (whose series it receives, and
// whose geometry a river mouth copies) and the cells they drain into (whose
// elevation gives the slope, and whose tasks read its series).

#include "driver.h"
#include "grid.h"
#include "partition.h"
#include "topography.h"

#include <cstdint>
#include <vector>

struct ModelParams;

// The cells named by the dam and reservoir lists, as far as the lists can be
// read (the lists are checked, with their messages, when they are read for
// the run itself). Cells outside the grid are left out.
std::vector<int32_t> structureSites(int32_t nrows, int32_t ncols);

// The work of each cell's event (per grid index): positive for every cell the
// time loop may compute (off the border, in a listed river), by its kind;
// a cell without positive accumulation gets the least work, 1.
std::vector<int64_t> cellWorks(const TopographyRasters& rasters, const ModelParams& params,
                               const std::vector<int32_t>& riverNumList, const std::vector<int32_t>& structures,
                               const CellWeights& weights = CellWeights{});

// The cells process `rank` holds, and the part of each (-1: nobody computes it).
HeldCells heldCells(const TopographyRasters& rasters, const std::vector<int32_t>& downstream,
                    const Partition& partition, int32_t rank, int32_t nrows, int32_t ncols);

// The share of process `rank` of `ranks`: the partition of the cells' work
// into `ranks` parts, and the cells that part needs.
HeldCells chooseShare(const TopographyRasters& rasters, const std::vector<int32_t>& riverNumList,
                      const ModelParams& params, int32_t rank, int32_t ranks);

// What process `peers.rank` of a distributed run brings to the main sequence:
// its peers, and chooseShare for its rank as the share.
RunShare processShare(Peers& peers);

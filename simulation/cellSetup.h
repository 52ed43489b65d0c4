#pragma once
// Set-up of the simulated cells: the seven distributed parameters (uniform or
// per-cell maps in "./paramData/"), flow geometry, coefficients, node arrays,
// series and the steady initial state; then the river mouths.

#include "grid.h"

#include <iosfwd>

struct ModelParams;

// The cell loop of "Set parameter data." (after its checks): every cell with
// riverNum >= 0 that is not on the border becomes a slope or channel cell.
void setupCells(CellGrid& grid, const ModelParams& params, std::ostream& out);

// "Set parameter data at the river mouthes.": every cell with flow code 0.
void setupMouths(CellGrid& grid);

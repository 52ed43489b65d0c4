#pragma once
// The seven distributed parameters ("Ns", "Ka", "Da", "Dm", "Beta", "Nr",
// "ROFinitial"): a negative parameter-file value reads the per-cell map
// "./paramData/param_dist_KEY.dat" (an ASCII grid of the study area) instead.

#include "cellSetup.h"
#include "grid.h"

#include <array>
#include <cstdint>
#include <iosfwd>
#include <vector>

struct ModelParams;

// The cell loop of "Set parameter data." (after its checks): every cell with
// riverNum >= 0 that is not on the border becomes a slope or channel cell.
// Prints one line per map read; throws InputError on a missing or malformed
// map, a negative map value, or a cell whose parameters cannot be used.
// With `kept`, the values each set-up cell took are kept there, per grid index
// (the parameter file's or the map's; zeros for the cells not set up).
// With `digests`, the digests of those values (below) are computed.
using ValueDigests = std::array<uint64_t, kParamCount>;
void setupCells(CellGrid& grid, const ModelParams& params, std::ostream& out, std::vector<CellValues>* kept = nullptr,
                ValueDigests* digests = nullptr);

// Per parameter, the FNV-1a digest of the values that the set-up cells take
// (every cell with riverNum >= 0 off the border, in grid order): whether two
// runs set their cells up alike, whatever share of the grid each one holds.
// This is the same digest from the values an in-process event keeps.
ValueDigests valueDigests(const CellGrid& grid, const std::vector<CellValues>& kept);


#pragma once
// The discharge grid files written after the time loop, and the per-cell
// statistics they are made of.

#include "dam.h"
#include "grid.h"
#include "rainfall.h"
#include "reservoir.h"

#include <iosfwd>
#include <vector>

struct ModelParams;

// Writes the three discharge files, the rainfall totals and the dam and
// reservoir tables, in this order. Returns false when a discharge file could
// not be written (the rest is still written).
bool writeOutputs(const CellGrid& grid, const std::vector<int32_t>& riverNumList, const RainGrid& rain,
                  const ModelParams& params, const std::vector<Dam>& dams, const std::vector<Reservoir>& reservoirs,
                  std::ostream& out);

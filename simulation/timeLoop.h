#pragma once
// The time loop: cells in calculation order, each through the whole event
// (day, hour, step) before the next; upstream series are final when read.

#include "calcOrder.h"
#include "dam.h"
#include "grid.h"
#include "rainfall.h"
#include "reservoir.h"

#include <iosfwd>
#include <vector>

struct ModelParams;

void runTimeLoop(CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList,
                 const RainGrid& rain, const ModelParams& params, std::vector<Dam>& dams,
                 std::vector<Reservoir>& reservoirs, std::ostream& out);

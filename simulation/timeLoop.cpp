#include "timeLoop.h"

#include "paramFile.h"

#include <ostream>

void runTimeLoop(CellGrid&, const CalcOrder&, const std::vector<int32_t>&, const RainGrid&, const ModelParams&,
                 std::vector<Dam>&, std::vector<Reservoir>&, std::ostream&) {}

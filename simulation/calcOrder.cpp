#include "calcOrder.h"

#include "paramFile.h"

#include <ostream>

CalcOrder orderCells(const CellGrid&) { return CalcOrder{}; }

CalcOrder prepareCalcOrder(const CellGrid& grid, const ModelParams&, std::ostream& out) {
    out << "Set simulation order of grid cells\n";
    return orderCells(grid);
}

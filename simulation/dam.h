#pragma once
// Dams: read from "./input/dam.dat", each replaces the computation of its cell
// by an operation rule and keeps a storage balance.

#include "grid.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct ModelParams;

struct Dam {
    int32_t kind = 0;         // operation: 0 recorded, 1 constant between limits, 2 capped
    int32_t columnIndex = 0;  // 0 = west
    int32_t rowIndex = 0;     // in-memory row, 0 = north
    int32_t number = 0;
    std::string name;
};

// One calculation step of the dam on its cell: takes the cell's inflow, decides
// the release and stores it in the cell's dischargeSeries[day][hour][step].
// Called by the time loop after setRainfall on the dam cell.
void operate(Dam& dam, CellGrid& grid, int day, int hour, int step);

// Prints the dam block and reads "./input/dam.dat" (optional).
std::vector<Dam> readDams(CellGrid& grid, const ModelParams& params, std::ostream& out);

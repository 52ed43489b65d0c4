#pragma once
// Reservoirs: read from "./input/reservoir.dat", each routes its cell's inflow
// through a linear storage.

#include "grid.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct ModelParams;

struct Reservoir {
    int32_t columnIndex = 0;
    int32_t rowIndex = 0;
    int32_t number = 0;
    int32_t k = 0;  // storage constant, s
    std::string name;
};

// One calculation step of the reservoir on its cell: routes the cell's inflow
// and stores the outflow in the cell's dischargeSeries[day][hour][step].
// Called by the time loop after setRainfall on the reservoir cell.
void route(Reservoir& reservoir, CellGrid& grid, int day, int hour, int step);

// Prints the reservoir block and reads "./input/reservoir.dat" (optional).
std::vector<Reservoir> readReservoirs(CellGrid& grid, const ModelParams& params, std::ostream& out);

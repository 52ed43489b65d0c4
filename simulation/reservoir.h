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

// Prints the reservoir block and reads "./input/reservoir.dat" (optional).
std::vector<Reservoir> readReservoirs(CellGrid& grid, const ModelParams& params, std::ostream& out);

// Prints "Write ./output/resData/resIQ.dat" and writes one hourly table per reservoir.
void writeReservoirTables(const std::vector<Reservoir>& reservoirs, const CellGrid& grid, const ModelParams& params,
                          std::ostream& out);

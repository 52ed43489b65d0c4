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

// Prints the dam block and reads "./input/dam.dat" (optional).
std::vector<Dam> readDams(CellGrid& grid, const ModelParams& params, std::ostream& out);

// Prints "Write ./output/damData/damIQS.dat" and writes one hourly table per dam.
void writeDamTables(const std::vector<Dam>& dams, const CellGrid& grid, const ModelParams& params, std::ostream& out);

#pragma once
// Reservoirs: read from "./input/reservoir.dat"; each routes its cell's inflow
// through a linear storage S = k * O, integrated with the trapezoidal rule.

#include "grid.h"
#include "kinematicWave.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct ModelParams;

struct Reservoir {
    int32_t columnIndex = 0;  // 0 = west
    int32_t rowIndex = 0;     // in-memory row, 0 = north
    int32_t number = 0;       // from the list, kept for reference
    int32_t k = 0;            // storage constant, s
    std::string name;         // at most 19 characters
    int32_t cell = kNoCell;   // index of the reservoir cell
    double c1 = 0.0;          // (2k - dt) / (2k + dt)
    double c2 = 0.0;          // dt / (2k + dt)
    double prevInflow = 0.0;  // inflow of the previous step, m3/s
    double outflow = 0.0;     // outflow of the last step, m3/s
};

// Prints the reservoir block and reads "./input/reservoir.dat" (optional);
// marks each reservoir cell as kind 100. A reservoir outside the grid, on a
// cell that is never computed, or with a negative k is an input error.
std::vector<Reservoir> readReservoirs(CellGrid& grid, const std::vector<int32_t>& riverNumList,
                                      const ModelParams& params, std::ostream& out);

// Sets k and the routing coefficients for a step of dt seconds.
void setStorageConstant(Reservoir& reservoir, int32_t k, int32_t dt);

// One calculation step on the reservoir's cell; writes the cell's inflow and outflow.
void route(Reservoir& reservoir, Cell& cell, const UpstreamSeries& upstream, int day, int hour, int step,
           int stepsPerHour);

// Prints "Write ./output/resData/resIQ.dat" and writes one hourly table per
// reservoir; a table that cannot be created is skipped.
void writeReservoirTables(const std::vector<Reservoir>& reservoirs, const CellGrid& grid, const ModelParams& params,
                          std::ostream& out);

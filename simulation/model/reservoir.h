#pragma once
// Reservoirs (listed in "./input/reservoir.dat"): each routes its cell's inflow
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


// Sets k and the routing coefficients for a step of dt seconds.
void setStorageConstant(Reservoir& reservoir, int32_t k, int32_t dt);

// One calculation step on the reservoir's cell; writes the cell's inflow and outflow.
void route(Reservoir& reservoir, Cell& cell, const UpstreamSeries& upstream, int day, int hour, int step,
           int stepsPerHour);

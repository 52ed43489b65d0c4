#pragma once
// Dams (listed in "./input/dam.dat"): each replaces the computation of its cell
// by an operation rule and keeps a storage balance. The release becomes the
// cell's outflow, so the cells below receive the regulated flow.

#include "grid.h"
#include "kinematicWave.h"

#include <cstdint>
#include <string>
#include <vector>

struct ModelParams;

struct Dam {
    int32_t kind = 0;         // operation: 0 recorded release, 1 constant between limits, 2 capped
    int32_t columnIndex = 0;  // 0 = west
    int32_t rowIndex = 0;     // in-memory row, 0 = north
    int32_t number = 0;       // from the dam list, kept for reference
    std::string name;         // at most 19 characters
    std::string outflowPath;  // recorded releases of a kind 0 dam
    int32_t cell = kNoCell;   // index of the dam cell
    std::string place;        // the cell as messages name it ("column C, row R")
    double storage = 0.0;     // relative to initialStorage, m3
    double regulatedOutflow = 0.0;  // m3/s
    double initialStorage = 0.0;    // m3
    double s1 = 0.0;                // lower limit - initialStorage, m3
    double s2 = 0.0;                // upper limit - initialStorage, m3
    // Release of every hour of the run (kind 0), read in full at set-up so
    // that the time loop does no file reading.
    std::vector<double> recordedOutflow;
    std::vector<float> storageSeries;  // storage after every step, indexed by seriesIndex()
};


// Inflow of a dam or reservoir cell at series position `at`: the upstream
// outflows, in slot order, plus twice the rain on the cell's slope. Requires
// every upstream series to be complete.
double localInflow(const Cell& cell, const UpstreamSeries& upstream, std::size_t at);

// One calculation step of the dam on its cell; writes the cell's outflow,
// inflow and the storage. Throws InputError for an unknown operation kind and
// for a storage that is no longer finite.
void operate(Dam& dam, Cell& cell, const UpstreamSeries& upstream, int day, int hour, int step, int stepsPerHour);

// Float32 mean storage of an hour, plus the initial storage.
float hourlyMeanStorage(const Dam& dam, int day, int hour, int stepsPerHour);


// Whether the time loop computes the cell: not on the border, a listed river,
// a positive accumulation. Dams and reservoirs must sit on such a cell.
bool isComputedCell(const Cell& cell, const std::vector<int32_t>& riverNumList);
// The same for grid cell i, held or not.
bool isComputedAt(const CellGrid& grid, int32_t i, const std::vector<int32_t>& riverNumList);

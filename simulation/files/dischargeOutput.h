#pragma once
// The discharge grid files written after the time loop, and the per-cell
// statistics they are made of.
//
// A discharge file is a headerless sequence of frames of nrows x ncols
// little-endian float32 values, south row first, west to east; -9999.0 marks
// border cells and cells of rivers that are not simulated.

#include "dam.h"
#include "grid.h"
#include "rainfall.h"
#include "reservoir.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <iosfwd>
#include <vector>

struct ModelParams;

inline constexpr float kNoData = -9999.0f;

// Means are float32 sums in step order divided by the count as float32.
float hourlyMeanDischarge(const Cell& cell, int day, int hour, int stepsPerHour);
float meanDischarge10min(const Cell& cell, int day, int hour, int s, int stepsPer10min);
float snapshotDischarge10min(const Cell& cell, int day, int hour, int s, int stepsPer10min);
float hourlyMeanInflow(const Cell& cell, int day, int hour, int stepsPerHour);
// Frees the cell's series and node arrays.
void releaseSeries(Cell& cell);

// Writes the hourly table of a dam or reservoir cell to `path`: per hour of the
// run, the hour number from 1, the mean inflow and the mean outflow, then what
// `moreColumns(table, day, hour)` appends, tab-separated, one line each. A
// table that cannot be created is skipped without a message.
template <typename MoreColumns>
void writeHourlyTable(const std::string& path, const Cell& cell, int days, int stepsPerHour,
                      MoreColumns moreColumns) {
    std::ofstream table(path);
    if (!table) return;
    int64_t counter = 0;  // up to days x 24, which may pass the int32 range
    for (int day = 0; day < days; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            const float inflow = hourlyMeanInflow(cell, day, hour, stepsPerHour);
            const float outflow = hourlyMeanDischarge(cell, day, hour, stepsPerHour);
            ++counter;
            table << counter << '\t' << inflow << '\t' << outflow;
            moreColumns(table, day, hour);
            table << '\n';
        }
    }
}

// Whether structure k of a dam or reservoir list writes its table: it must
// sit on a cell this process computes, and no later structure of the list may
// have its name (that one's table takes the same path and replaces it, so of
// several processes only the last one's owner writes it, whatever the timing).
template <typename Structure>
bool writesTable(const std::vector<Structure>& list, std::size_t k, const CellGrid& grid) {
    if (!grid.owns(list[k].cell)) return false;
    for (std::size_t later = k + 1; later < list.size(); ++later)
        if (list[later].name == list[k].name) return false;
    return true;
}

// How the steps of an hour make up its six 10-minute intervals. A step that
// divides 600 s gives whole runs of steps; any other step length is weighted
// by the time it overlaps each interval, and the snapshot is the step in
// progress just before the interval ends.
struct TenMinuteLayout {
    struct Piece {
        int32_t step;     // step within the hour
        int32_t seconds;  // overlap with the interval
    };
    bool aligned = true;   // stepSeconds divides 600
    int32_t stepsPer10min = 0;
    std::vector<std::vector<Piece>> pieces;  // [s]: steps overlapping interval s
    std::vector<int32_t> snapshotStep;       // [s]

    explicit TenMinuteLayout(int stepSeconds);
    // Mean and snapshot of 10-minute interval s of an hour whose per-step
    // values start at `hourValues`.
    float mean(const float* hourValues, int s) const;
    float snapshot(const float* hourValues, int s) const;
};

struct DischargeFiles;

// After the time loop: gives the three discharge files (filled during the
// loop) their names, writes the rainfall totals and the dam and reservoir
// tables, in this order, each announced by its "Write" line, then releases the
// series. Returns false (after one message line per file) when a discharge
// file could not be created or written; everything else is still written.
bool writeOutputs(DischargeFiles& files, CellGrid& grid, const RainGrid& rain, const ModelParams& params,
                  const std::vector<Dam>& dams, const std::vector<Reservoir>& reservoirs, std::ostream& out);

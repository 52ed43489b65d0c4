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
#include <sstream>
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

// A dam's or reservoir's hourly table: the path it takes and its bytes.
struct TableFile {
    std::string path;
    std::string text;
};

// Tables as one text, for process 0 of a distributed run, which writes them
// all; and back, from position `at` of `bytes` (moved past them), appended to `tables`.
std::string packTables(const std::vector<TableFile>& tables);
void unpackTables(const std::string& bytes, std::size_t& at, std::vector<TableFile>& tables);

// The hourly table of a dam or reservoir cell: per hour of the run, the hour
// number from 1, the mean inflow and the mean outflow, then what
// `moreColumns(table, day, hour)` appends, tab-separated, one line each.
template <typename MoreColumns>
std::string hourlyTableText(const Cell& cell, int days, int stepsPerHour, MoreColumns moreColumns) {
    std::ostringstream table;
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
    return table.str();
}

// Whether structure k of a dam or reservoir list has its table made: it must
// sit on a cell this process computes, and no later structure of the list may
// have its name (that one's table takes the same path and replaces it, so of
// several processes only the last one's owner makes it).
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

// Before the time loop: "./output/" takes files, and so do "./output/damData/"
// when `dams` and "./output/resData/" when `reservoirs` have tables to write.
// Otherwise an InputError names the directory and the system's reason.
void requireResultDirectories(bool dams, bool reservoirs);

// Before the time loop: the discharge files were created at full size, or an
// InputError names the first that failed and the system's reason.
void requireDischargeFiles(const DischargeFiles& files);

// After the time loop: completes the three discharge files (filled during the
// loop), writes the rainfall totals and the dam and reservoir tables (their
// texts made by the processes that computed them) under temporary names, each
// announced by its "Write" line in this order, and releases the series. Only
// when every file is complete do they all take their names together. Returns
// false, after one line naming the first file that failed and the system's
// reason, when any could not be written: then "./output/" is as it was.
bool writeOutputs(DischargeFiles& files, CellGrid& grid, const RainGrid& rain, const ModelParams& params,
                  const std::vector<TableFile>& damTables, const std::vector<TableFile>& reservoirTables,
                  std::ostream& out);

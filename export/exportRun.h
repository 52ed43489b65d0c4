#pragma once
// Everything one export of a run needs, read and checked before any output
// file is written, and the per-cell peak of the hourly means.

#include "eventTime.h"
#include "runResults.h"

#include <cstdint>
#include <string>
#include <vector>

struct ExportRun {
    Project project;
    ModelParams params;
    GridGeometry grid;
    EventStart start;
    int64_t hours = 0;  // frames of the hourly file: days x 24
    std::vector<StructureSite> dams;
    std::vector<StructureSite> reservoirs;
    // Per structure, the value columns of its hourly table (I, Q and, for dams, S).
    std::vector<std::vector<std::vector<float>>> damTables;
    std::vector<std::vector<std::vector<float>>> reservoirTables;
    std::vector<float> rainTotals;  // mm, north-up
    std::vector<int32_t> flowDir;   // north-up
    std::vector<int32_t> flowAcc;   // north-up
    DischargeFile hourly;
    DischargeFile mean10min;
    DischargeFile snapshot10min;
};

// Reads the parameter file, opens the three discharge files (sizes checked),
// and reads the rainfall total, the flow rasters, the structure lists and
// their tables. `startOption` is the --start text (may be empty). Throws
// InputError on the first problem.
void loadExportRun(ExportRun& run, const Project& project, const std::string& startOption);

// The highest hourly mean of every cell and the end of its hour in minutes
// from the start (the first such hour on a tie); kFillValue where the cell
// has no data.
struct PeakFields {
    std::vector<float> discharge;
    std::vector<float> minutes;
    explicit PeakFields(std::size_t cells) : discharge(cells, kFillValue), minutes(cells, kFillValue) {}
};

// Takes `frames` consecutive north-up hourly frames starting at hour index
// `firstHour` (0 = the hour ending at minute 60) into the peaks.
void addToPeaks(PeakFields& peaks, const std::vector<float>& frames, int64_t firstHour, int64_t count);

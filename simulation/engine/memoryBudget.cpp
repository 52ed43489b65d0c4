#include "memoryBudget.h"

#include "dischargeFiles.h"
#include "inputError.h"
#include "paramFile.h"
#include "rainfall.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// What the time loop keeps per computed cell beside its record: the task, its
// place in the scheduler and its console buffer.
constexpr double kTaskBytes = 160.0;

// A generous bound on the series alive at once in a depth-first run.
constexpr double kLiveSeries = 4096.0;

// The rainfall points with their series.
double rainGridBytes(const ModelParams& p) {
    const double points = static_cast<double>(p.rainCols) * static_cast<double>(p.rainRows);
    const double observations = static_cast<double>(p.days) * 24.0 * static_cast<double>(p.obsPerHour);
    return points * (static_cast<double>(sizeof(RainPoint)) + observations * 4.0);
}

double stepsOfRun(const ModelParams& p) {
    return static_cast<double>(p.days) * 24.0 * static_cast<double>(p.stepsPerHour);
}

}  // namespace

double availableMemoryBytes() {
    std::ifstream info("/proc/meminfo");
    std::string key;
    double kib = 0.0, total = 0.0;
    bool found = false;
    std::string unit;
    while (info >> key >> kib) {
        std::getline(info, unit);
        if (key == "MemAvailable:" || key == "SwapFree:") {
            total += kib * 1024.0;
            found = true;
        }
    }
    return found ? total : 0.0;
}

double gridMemoryBytes(const ModelParams& p) {
    const double cells = static_cast<double>(p.ncols) * static_cast<double>(p.nrows);
    // Cell records, the four rasters read at once, and the ordering's work arrays.
    const double perCell = static_cast<double>(sizeof(Cell)) + 16.0 + 48.0;
    return cells * perCell + rainGridBytes(p);
}

double shareMemoryBytes(const ModelParams& p) {
    const double cells = static_cast<double>(p.ncols) * static_cast<double>(p.nrows);
    // Rasters, slots and rainfall points kept; the partition's work arrays.
    return cells * (24.0 + 64.0) + rainGridBytes(p);
}

double modelMemoryBytes(const CellGrid& grid, const ModelParams& p) {
    const double steps = stepsOfRun(p);
    const double nodes = static_cast<double>(p.spaceSteps) + 1.0;
    const double cells = static_cast<double>(grid.cellCount());
    const double hours = static_cast<double>(p.days) * 24.0;
    double setUp = 0.0, bytes = 0.0;
    for (const Cell& cell : grid.cells) {
        if (cell.riverNum < 0 || cell.isEdge) continue;
        const bool channel = cell.flowAcc > p.channelThreshold;
        setUp += 1.0;
        bytes += nodes * 8.0 * (channel ? 6.0 : 2.0) + kTaskBytes;  // node arrays, the cell's task
    }
    // Series of unfinished work: the time loop walks the drainage tree depth
    // first, so only a few finished series wait for their readers at a time.
    bytes += std::min(setUp, kLiveSeries) * steps * 4.0;
    // The discharge files: a batch of finished cells' values, a frame to
    // start them and a frame span to patch.
    bytes += std::min(static_cast<double>(dischargeBatchBytes(grid.cellCount())), setUp * hours * kValuesPerHour * 4.0);
    bytes += 2.0 * cells * 4.0;
    return bytes;
}

void requireMemory(double needed, double available) {
    if (available <= 0.0 || needed <= available) return;
    char text[200];
    std::snprintf(text, sizeof text,
                  "Error: this run needs about %.1f GB of memory, but only %.1f GB are available.\n", needed / 1e9,
                  available / 1e9);
    throw InputError(text);
}

// A structure cell's console lines (one a step, at most 36 bytes) wait in
// memory until every earlier cell of the calculation order has finished.
constexpr double kStepLineBytes = 36.0;

double damMemoryBytes(const ModelParams& p) {
    return stepsOfRun(p) * (12.0 + kStepLineBytes) + static_cast<double>(p.days) * 24.0 * 8.0;
}

double reservoirMemoryBytes(const ModelParams& p) { return stepsOfRun(p) * (8.0 + kStepLineBytes); }

double outputBytes(const ModelParams& p, std::size_t structures) {
    const double cells = static_cast<double>(p.ncols) * static_cast<double>(p.nrows);
    const double hours = static_cast<double>(p.days) * 24.0;
    // Per hour one hourly frame and six frames in each 10-minute file; a total
    // is at most 13 characters and a blank; a table line at most about 64.
    return cells * 4.0 * hours * 13.0 + cells * 14.0 + static_cast<double>(structures) * hours * 64.0;
}

double writableBytes(const char* dir) {
    std::error_code ec;
    const std::filesystem::space_info space = std::filesystem::space(dir, ec);
    return ec ? -1.0 : static_cast<double>(space.available);
}

void requireDiskSpace(double needed, double available, const char* dir) {
    if (available < 0.0 || needed <= available) return;
    char text[240];
    std::snprintf(text, sizeof text,
                  "Error: this run writes about %.1f GB into %s, but only %.1f GB can be written there.\n",
                  needed / 1e9, dir, available / 1e9);
    throw InputError(text);
}

void requireGridSize(const ModelParams& p) {
    if (static_cast<int64_t>(p.ncols) * static_cast<int64_t>(p.nrows) > INT32_MAX) {
        throw InputError("Error: a grid of " + std::to_string(p.ncols) + " x " + std::to_string(p.nrows) +
                         " cells is too large (at most 2147483647 cells).\n");
    }
}

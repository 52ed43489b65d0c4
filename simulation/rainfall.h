#pragma once
// Gridded rainfall: the rainfall grid and its points, the nearest-point mapping
// of the study-area cells (cached in "./temp/setROFCell.dat"), the text and
// binary readers, the rainfall of a calculation step and the event totals.

#include "grid.h"

#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <string>
#include <vector>

struct ModelParams;

struct RainPoint {
    float latitude = 0.0f;   // degrees
    float longitude = 0.0f;  // degrees, points east of 180 stored as negative
    int32_t columnNumber = 0;  // j + 1
    int32_t rowNumber = 0;     // i + 1
    // Intensity in mm/h, [day][hour][observation] at (day * 24 + hour) * obsPerHour + observation.
    std::vector<float> rainSeries;
};

// rainRows x rainCols points; row i = 0 is the southernmost row.
struct RainGrid {
    int32_t rainRows = 0;
    int32_t rainCols = 0;
    int32_t days = 0;
    int32_t obsPerHour = 0;
    std::vector<RainPoint> points;  // index i * rainCols + j

    RainPoint& at(int i, int j) { return points[static_cast<std::size_t>(i) * static_cast<std::size_t>(rainCols) + static_cast<std::size_t>(j)]; }
    const RainPoint& at(int i, int j) const { return points[static_cast<std::size_t>(i) * static_cast<std::size_t>(rainCols) + static_cast<std::size_t>(j)]; }
};

// Builds the rainfall grid with zeroed series.
RainGrid makeRainGrid(const ModelParams& params);

// Prints "Connect rainfall data to grid cell" and gives every cell its rainfall
// point, from "./temp/setROFCell.dat" when it fits, else by the nearest-point
// search (and rewrites the cache).
void connectRainfall(CellGrid& grid, const RainGrid& rain, const ModelParams& params, std::ostream& out);

// Reads the rainfall series: text for rainFormat 1, binary otherwise.
void readRainfall(RainGrid& rain, const ModelParams& params, std::ostream& out);

// Observation of the hour that calculation step `step` uses.
inline int rainStep(int step, int stepSeconds, int rainInterval) { return step * stepSeconds / (60 * rainInterval); }

// Rain of the cell's point at (day, hour, rainStep), mm/h.
inline float rainfallAt(const RainGrid& rain, const Cell& cell, int day, int hour, int obs) {
    const RainPoint& point = rain.points[static_cast<std::size_t>(cell.rainPoint)];
    return point.rainSeries[(static_cast<std::size_t>(day) * 24 + static_cast<std::size_t>(hour)) *
                                static_cast<std::size_t>(rain.obsPerHour) +
                            static_cast<std::size_t>(obs)];
}

// Event rainfall in mm of every grid cell, row-major (row 0 north).
std::vector<double> rainTotals(const CellGrid& grid, const RainGrid& rain);
// The totals grid file is created when the discharge writer starts and filled
// after the discharge files are closed; a file that cannot be created is
// skipped silently.
struct RainTotalsFile {
    std::ofstream stream;
};
RainTotalsFile openRainTotals(const std::string& path);
// Writes the totals as an ESRI ASCII grid.
void writeRainTotals(RainTotalsFile& file, const std::vector<double>& totals, const ModelParams& params);

#pragma once
// Gridded rainfall: the rainfall grid and its points, the nearest-point mapping
// of the study-area cells, the rainfall of a calculation step and the event
// totals. The files (the mapping cache, the text and binary readers, the
// totals grid) are in rainFiles.h.
//
// Every value is an intensity in mm/h. The rainfall grid has its own origin,
// spacing and size; its row 0 is the southernmost row (the study-area grid
// keeps row 0 in the north).

#include "grid.h"

#include <cstdint>
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

    std::size_t indexOf(int i, int j) const {
        return static_cast<std::size_t>(i) * static_cast<std::size_t>(rainCols) + static_cast<std::size_t>(j);
    }
    RainPoint& at(int i, int j) { return points[indexOf(i, j)]; }
    const RainPoint& at(int i, int j) const { return points[indexOf(i, j)]; }
};

// A point of column j and row i at the given float32 coordinates; a longitude
// above 180 is stored as float32(longitude - 360), subtracted in double.
// The series is allocated for the whole event and zeroed.
RainPoint makeRainPoint(float latitude, float longitude, int j, int i, int days, int obsPerHour);

// Builds the rainfall grid with zeroed series: point (i, j) lies at latitude
// float32(i * rainDy + rainLat0) and longitude float32(j * rainDx + rainLon0),
// each computed in double and rounded once. A grid of more points than an
// int32 index can name is an InputError.
RainGrid makeRainGrid(const ModelParams& params);

// ---- Mapping cells to rainfall points ------------------------------------
// The point index (i * rainCols + j) of every cell, row-major over the study
// area (row 0 north). Throws InputError naming the first cell with no point
// nearer than 1e29 (absurd coordinates). Cells are independent of each other.
std::vector<int32_t> mapRainPoints(const CellGrid& grid, const RainGrid& rain);

// The same for a share of the grid (CellGrid::slots): cells that are not held
// are placed by their geometry as readTopography would give it.
std::vector<int32_t> mapShareRainPoints(const CellGrid& grid, const RainGrid& rain, const ModelParams& params);

// Observation of the hour that calculation step `step` uses.
inline int rainStep(int step, int stepSeconds, int rainInterval) { return step * stepSeconds / (60 * rainInterval); }

// Rain of the cell's point at (day, hour, rainStep), mm/h. Requires the cell's point (connectRainfall).
inline float rainfallAt(const RainGrid& rain, const Cell& cell, int day, int hour, int obs) {
    const RainPoint& point = rain.points[static_cast<std::size_t>(cell.rainPoint)];
    return point.rainSeries[(static_cast<std::size_t>(day) * 24 + static_cast<std::size_t>(hour)) *
                                static_cast<std::size_t>(rain.obsPerHour) +
                            static_cast<std::size_t>(obs)];
}
// ---- Event totals -----------------------------------------------------------

// Event rainfall in mm of every cell, edges included, row-major (row 0 north):
// value / obsPerHour (double) added for every observation in time order, which
// for 10-minute rainfall is the sum of value / 6.0 over the six intervals of
// each hour. A cell without a rainfall point totals 0.
std::vector<double> rainTotals(const CellGrid& grid, const RainGrid& rain);

#pragma once
// In-memory study areas for the model tests: parameters, a grid built from a
// Topography (no files), and rainfall of one point feeding every cell.

#include "grid.h"
#include "paramFile.h"
#include "rainfall.h"
#include "testProject.h"
#include "topography.h"

#include <vector>

// The values of ParamText that the model uses, as the reader returns them.
inline ModelParams modelParams() {
    ModelParams p;
    p.scale = 30.0f;
    p.ncols = 5;
    p.nrows = 4;
    p.xllcorner = 135.0;
    p.yllcorner = 35.0;
    p.rainInterval = 10;
    p.obsPerHour = 6;
    p.days = 1;
    p.stepSeconds = 60;
    p.spaceSteps = 4;
    p.fdWeight = 0.6;
    p.stepsPerHour = 60;
    p.Ns = 0.3;
    p.Ka = 0.001;
    p.Da = 1.0;
    p.Dm = 0.5;
    p.Beta = 4.0;
    p.Nr = 0.03;
    p.channelThreshold = 3;
    p.slopeLength = 100.0;
    p.ROFinitial = 0.1;
    return p;
}

// The grid of `p` with the geometry of every cell only (flat, no flow links).
inline CellGrid geometryGrid(const ModelParams& p) {
    CellGrid grid(p.nrows, p.ncols);
    for (int r = 0; r < p.nrows; ++r)
        for (int c = 0; c < p.ncols; ++c) {
            grid.at(r, c).setGeometry(r, c, p.nrows, p.ncols, p.yllcorner, p.xllcorner, 0.0f, p.scale);
        }
    return grid;
}

// Geometry, flow codes and links of `t`, as the topography reader builds them.
inline CellGrid gridFrom(const Topography& t, const ModelParams& p) {
    CellGrid grid(t.nrows, t.ncols);
    for (int r = 0; r < t.nrows; ++r) {
        for (int c = 0; c < t.ncols; ++c) {
            Cell& cell = grid.at(r, c);
            cell.setGeometry(r, c, t.nrows, t.ncols, p.yllcorner, p.xllcorner, t.dem[t.at(r, c)], p.scale);
            cell.resetLinks();
            cell.flowDir = t.flowDir[t.at(r, c)];
            cell.flowAcc = t.flowAcc[t.at(r, c)];
            cell.riverNum = t.riverNum[t.at(r, c)];
            cell.rainPoint = 0;
        }
    }
    buildNetwork(grid);
    return grid;
}

// Gives every set-up cell a zeroed series of the whole event, as the time loop
// does when a cell's event starts; for tests that step cells directly.
inline void allocateSeries(CellGrid& grid, const ModelParams& p) {
    for (Cell& cell : grid.cells)
        if (!cell.slopeQ.empty()) cell.dischargeSeries.assign(seriesLength(p.days, p.stepsPerHour), 0.0f);
}

// One rainfall point for the whole grid; `mmPerHour` gives the intensity of
// the first hours of the event, the rest is dry.
inline RainGrid hourlyRain(const ModelParams& p, const std::vector<float>& mmPerHour) {
    RainGrid rain;
    rain.days = p.days;
    rain.obsPerHour = p.obsPerHour;
    rain.points.resize(1);
    rain.points[0].rainSeries.assign(static_cast<std::size_t>(p.days * 24 * p.obsPerHour), 0.0f);
    for (std::size_t k = 0; k < mmPerHour.size() * static_cast<std::size_t>(p.obsPerHour); ++k)
        rain.points[0].rainSeries[k] = mmPerHour[k / static_cast<std::size_t>(p.obsPerHour)];
    return rain;
}

#pragma once
// Set-up of the simulated cells: the parameters, flow geometry, coefficients,
// node arrays and the steady initial state; then the river mouths. The
// parameters come uniform or from the per-cell maps of paramMaps.h.
//
// Memory: each set-up cell gets, once and here, its node arrays (spaceSteps +
// 1 doubles each; the four channel arrays for channel cells only), each in one
// contiguous block. Its per-step series are not allocated here: the time loop
// gives a cell its `dischargeSeries` when the cell's event starts and frees it
// once the cells below have read it, so only the series of unfinished work sit
// in memory. A dam or reservoir cell, whose tables are written after the loop,
// gets both series at the set-up of its structure (allocateStructureSeries)
// and keeps them to the end. A time step allocates nothing.

#include "grid.h"

#include <cstdint>
#include <iosfwd>

struct ModelParams;

// The six per-cell model parameters after the choice between the uniform value
// and the map value.
struct CellParameters {
    double nr = 0.0;    // Manning coefficient of the channel
    double ns = 0.0;    // Manning coefficient of the slope
    double ka = 0.0;    // hydraulic conductivity, m/s
    double da = 0.0;    // depth of both soil layers, m
    double dm = 0.0;    // depth of the capillary layer, m
    double beta = 0.0;  // exponent of the capillary relation
};

// Fills the parameters, flow geometry, coefficients, series and node arrays of
// a cell whose topography and links are set; `downstream` is its downstream
// cell or null. Leaves `kind`, the initial node values and `lateralInflow`.
void setupCell(Cell& cell, const Cell* downstream, const CellParameters& values, const ModelParams& params);

// Sets every node to the steady state under a constant runoff of `q0` mm/h
// over the cell's upstream area. Requires setupCell.
void setInitialState(Cell& cell, double q0);

// A river mouth (cell i) takes the flow geometry of its last qualifying
// upstream cell: any upstream cell with non-negative accumulation for a slope
// mouth, upstream channel cells of positive accumulation only for a channel
// mouth (a slope cell, or a channel of no upstream area, has no usable channel
// coefficient to give). A channel mouth without such a cell keeps its own values.
void setMouthParams(CellGrid& grid, int32_t i);

// "Set parameter data at the river mouthes.": every cell with flow code 0.
void setupMouths(CellGrid& grid);

// Gives a cell claimed by a dam or reservoir its zeroed `inflowSeries` and
// `dischargeSeries`, kept to the end of the run; a second claim keeps them.
void allocateStructureSeries(Cell& cell, int days, int stepsPerHour);

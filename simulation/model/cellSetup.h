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

#include <array>

#include <cstdint>
#include <iosfwd>

struct ModelParams;

// The seven parameters a cell is set up with, in the order of the parameter
// file; each is uniform (the file's value) or per cell (a map), see paramMaps.h.
enum ParamKey { kNs, kKa, kDa, kDm, kBeta, kNr, kROFinitial, kParamCount };
inline constexpr const char* kParamKeys[kParamCount] = {"Ns", "Ka", "Da", "Dm", "Beta", "Nr", "ROFinitial"};

// A cell's value of each of the seven, after the choice between the uniform
// value and the map value.
using CellValues = std::array<double, kParamCount>;

// The parameter file's value of each key (negative where it selects a map).
CellValues paramFileValues(const ModelParams& params);
// Sets the parameter file's value of `key`.
void setParamFileValue(ModelParams& params, ParamKey key, double value);

// Throws the InputError of the first value of cell i that the model cannot
// use: a zero or too small slope roughness, a zero channel roughness where
// the cell has a channel, a zero Beta under a capillary layer, an initial
// runoff beyond any rain. A capillary layer deeper than both layers together
// is accepted, as its relation still gives finite values.
void checkCellValues(const CellGrid& grid, int32_t i, const CellValues& values, bool channel);

// The six per-cell model parameters of the kinematic wave.
struct CellParameters {
    double nr = 0.0;    // Manning coefficient of the channel
    double ns = 0.0;    // Manning coefficient of the slope
    double ka = 0.0;    // hydraulic conductivity, m/s
    double da = 0.0;    // depth of both soil layers, m
    double dm = 0.0;    // depth of the capillary layer, m
    double beta = 0.0;  // exponent of the capillary relation
};
CellParameters cellParameters(const CellValues& values);

// Fills the parameters, flow geometry, coefficients, series and node arrays of
// a cell whose topography and links are set; `downstream` is its downstream
// cell or null. Leaves `kind`, the initial node values and `lateralInflow`.
void setupCell(Cell& cell, const Cell* downstream, const CellParameters& values, const ModelParams& params);

// Sets every node to the steady state under a constant runoff of `q0` mm/h
// over the cell's upstream area. Requires setupCell.
void setInitialState(Cell& cell, double q0);

// A simulated cell (riverNum >= 0, off the border) set up from its values:
// setupCell, its kind (1 slope or 2 channel by its accumulation), and its
// initial state under the initial runoff.
void setupCellFromValues(Cell& cell, const Cell* downstream, const CellValues& values, const ModelParams& params);

// A river mouth (cell i) takes the flow geometry of its last qualifying
// upstream cell: any upstream cell with non-negative accumulation for a slope
// mouth, upstream channel cells of positive accumulation only for a channel
// mouth (a slope cell, or a channel of no upstream area, has no usable channel
// coefficient to give). A channel mouth without such a cell keeps its own values.
void setMouthParams(CellGrid& grid, int32_t i);
// One upstream cell's part of that rule: `up` gives `mouth` its geometry if it qualifies.
void takeMouthGeometry(Cell& mouth, const Cell& up);

// "Set parameter data at the river mouthes.": every cell with flow code 0.
void setupMouths(CellGrid& grid);

// Gives a cell claimed by a dam or reservoir its zeroed `inflowSeries` and
// `dischargeSeries`, kept to the end of the run; a second claim keeps them.
void allocateStructureSeries(Cell& cell, int days, int stepsPerHour);

#pragma once
// The state of an event: what its cells, dams and reservoirs carry from one
// calculation step to the next, beyond the inputs that each step reads anew.
//
//   - a slope cell: its slope node discharges `slopeQ` (node 0 included: the
//     next step reads the old inflow there);
//   - a channel cell: `slopeQ` of its slope part, `chanQ` and `chanA` of its
//     channel;
//   - a dam: its `storage` (the rule of kind 1 reads it, and the tables show
//     it for kinds 1 and 2);
//   - a reservoir: the previous step's inflow and outflow.
// The *New node arrays and `lateralInflow` are not part of it: a step sets
// them before it reads them. A dam or reservoir cell's own node values never
// change, so only its structures carry state.
//
// A state taken at the end of hour H of a run, given to a run of the same
// cells whose inputs are those of the first run from hour H + 1 on, makes that
// run compute bit for bit what the first computes from hour H + 1 on.

#include "dam.h"
#include "grid.h"
#include "reservoir.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A dam's or reservoir's part of a state.
struct StructureState {
    int32_t cell = kNoCell;   // grid index of its cell
    int32_t kind = 0;         // a dam's operation kind; 0 for a reservoir
    double storage = 0.0;     // dam: storage relative to its initial storage, m3
    double prevInflow = 0.0;  // reservoir: inflow of the last step, m3/s
    double outflow = 0.0;     // reservoir: outflow of the last step, m3/s
};

struct ModelState {
    int32_t hour = 0;  // taken at the end of this hour of the run that saved it (1 = its first hour)
    int32_t spaceSteps = 0;
    // Slope and channel cells, in ascending grid index; cell k's values are
    // values[offsets[k] .. offsets[k + 1]): slopeQ, then chanQ and chanA of a
    // channel cell, spaceSteps + 1 each.
    std::vector<int32_t> cells;
    std::vector<int32_t> kinds;  // kSlopeCell or kChannelCell
    std::vector<int64_t> offsets{0};
    std::vector<double> values;
    std::vector<StructureState> dams;        // one per dam of the list, in list order
    std::vector<StructureState> reservoirs;  // one per reservoir of the list, in list order
};

// Node values a cell of `kind` carries with `spaceSteps` segments.
inline int64_t nodeValueCount(int32_t kind, int32_t spaceSteps) {
    return (kind == kChannelCell ? 3 : 1) * (static_cast<int64_t>(spaceSteps) + 1);
}

// Appends a cell's record (values zeroed); cells must come in ascending order.
void addCellRecord(ModelState& state, int32_t cell, int32_t kind);

// The record of grid cell i, or -1.
int64_t findCellRecord(const ModelState& state, int32_t i);

// The structures' parts of a state, as the lists stand now.
std::vector<StructureState> structureStates(const std::vector<Dam>& dams);
std::vector<StructureState> structureStates(const std::vector<Reservoir>& reservoirs);

// Where an event leaves its state at the end of hour `hour` of the run (1 =
// the first hour; 0 takes nothing): a slope or channel cell's node values, or
// the state of each structure of the list, by list position.
struct HourCapture {
    int hour = 0;
    double* cellValues = nullptr;
    StructureState* structures = nullptr;
};

// Whether the hour ending with (day, hour) is the one to capture.
inline bool capturesAfter(const HourCapture& capture, int day, int hour) {
    return capture.hour == day * 24 + hour + 1;
}

// The capture of cell i's event into `state` at the end of hour state.hour:
// its record's values for a slope or channel cell, the structure states for
// a dam or reservoir cell. Nothing when the hour is 0 or the cell has no record.
HourCapture captureInto(ModelState& state, int32_t i, int32_t kind);

// Copies the node values of a slope or channel cell to `values`, and back.
void captureCell(const Cell& cell, double* values);
void restoreCell(Cell& cell, const double* values);

// A structure's state to its record, and back.
void captureStructure(const Dam& dam, StructureState& state);
void captureStructure(const Reservoir& reservoir, StructureState& state);
void restoreStructure(Dam& dam, const StructureState& state);
void restoreStructure(Reservoir& reservoir, const StructureState& state);

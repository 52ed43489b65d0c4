#include "modelState.h"

#include <algorithm>

void addCellRecord(ModelState& state, int32_t cell, int32_t kind) {
    state.cells.push_back(cell);
    state.kinds.push_back(kind);
    const int64_t end = state.offsets.back() + nodeValueCount(kind, state.spaceSteps);
    state.offsets.push_back(end);
    state.values.resize(static_cast<std::size_t>(end), 0.0);
}

int64_t findCellRecord(const ModelState& state, int32_t i) {
    const auto at = std::lower_bound(state.cells.begin(), state.cells.end(), i);
    return at != state.cells.end() && *at == i ? at - state.cells.begin() : -1;
}

std::vector<StructureState> structureStates(const std::vector<Dam>& dams) {
    std::vector<StructureState> states(dams.size());
    for (std::size_t k = 0; k < dams.size(); ++k) {
        states[k].cell = dams[k].cell;
        states[k].kind = dams[k].kind;
        captureStructure(dams[k], states[k]);
    }
    return states;
}

std::vector<StructureState> structureStates(const std::vector<Reservoir>& reservoirs) {
    std::vector<StructureState> states(reservoirs.size());
    for (std::size_t k = 0; k < reservoirs.size(); ++k) {
        states[k].cell = reservoirs[k].cell;
        captureStructure(reservoirs[k], states[k]);
    }
    return states;
}

HourCapture captureInto(ModelState& state, int32_t i, int32_t kind) {
    HourCapture capture;
    if (state.hour == 0) return capture;
    if (kind == kDamCell) {
        capture.structures = state.dams.data();
    } else if (kind == kReservoirCell) {
        capture.structures = state.reservoirs.data();
    } else {
        const int64_t record = findCellRecord(state, i);
        if (record < 0) return capture;
        capture.cellValues = state.values.data() + state.offsets[static_cast<std::size_t>(record)];
    }
    capture.hour = state.hour;
    return capture;
}

void captureCell(const Cell& cell, double* values) {
    values = std::copy(cell.slopeQ.begin(), cell.slopeQ.end(), values);
    if (cell.kind != kChannelCell) return;
    values = std::copy(cell.chanQ.begin(), cell.chanQ.end(), values);
    std::copy(cell.chanA.begin(), cell.chanA.end(), values);
}

void restoreCell(Cell& cell, const double* values) {
    std::copy(values, values + cell.slopeQ.size(), cell.slopeQ.begin());
    if (cell.kind != kChannelCell) return;
    values += cell.slopeQ.size();
    std::copy(values, values + cell.chanQ.size(), cell.chanQ.begin());
    values += cell.chanQ.size();
    std::copy(values, values + cell.chanA.size(), cell.chanA.begin());
}

void captureStructure(const Dam& dam, StructureState& state) { state.storage = dam.storage; }

void captureStructure(const Reservoir& reservoir, StructureState& state) {
    state.prevInflow = reservoir.prevInflow;
    state.outflow = reservoir.outflow;
}

void restoreStructure(Dam& dam, const StructureState& state) { dam.storage = state.storage; }

void restoreStructure(Reservoir& reservoir, const StructureState& state) {
    reservoir.prevInflow = state.prevInflow;
    reservoir.outflow = state.outflow;
}

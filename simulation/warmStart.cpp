#include "warmStart.h"

#include "cellSetup.h"
#include "eventPlan.h"
#include "inputError.h"
#include "paramFile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <thread>

namespace {

// Two reals as the console shows them; with all their digits if that shows them alike.
std::pair<std::string, std::string> twoReals(double a, double b) {
    std::ostringstream x, y;
    x << a;
    y << b;
    if (x.str() == y.str()) {
        x.str("");
        y.str("");
        x << std::setprecision(17) << a;
        y << std::setprecision(17) << b;
    }
    return {x.str(), y.str()};
}

InputError refusal(const std::string& path, const std::string& what) {
    return InputError("Error: " + path + " " + what + ".\n");
}

// A real value saved and here: the refusal when they differ (bit for bit: the
// cells are set up from the exact double).
void requireSameReal(double saved, double here, const std::string& path, const std::string& what) {
    if (saved == here) return;
    const auto [a, b] = twoReals(saved, here);
    throw refusal(path, "was saved with " + what + " " + a + "; this project has " + what + " " + b);
}

void requireSameParam(const StateHeader& saved, const StateHeader& here, int k, const std::string& path) {
    const std::size_t at = static_cast<std::size_t>(k);
    const std::string key = kParamKeys[k];
    const std::string map = std::string("./paramData/param_dist_") + key + ".dat";
    const double a = saved.values[at], b = here.values[at];
    if (a >= 0.0 && b >= 0.0) {
        requireSameReal(a, b, path, key + " =");
    } else if (a < 0.0 && b >= 0.0) {
        throw refusal(path, "was saved with " + key + " from its map; this project has " + key + " = " + twoReals(b, b).first);
    } else if (a >= 0.0) {
        throw refusal(path, "was saved with " + key + " = " + twoReals(a, a).first + "; this project takes " + key +
                                " from " + map);
    } else if (saved.digests[at] != here.digests[at]) {
        throw refusal(path, "was saved with other values of " + key + " than " + map + " gives this project's cells");
    }
}

// Whether structure list position k of a state and of the project agree; the refusal if not.
template <typename Structure>
void requireSameStructure(const StructureState& saved, const Structure& here, std::size_t k, const CellGrid& grid,
                          const std::string& what, const std::string& path) {
    if (saved.cell != here.cell) {
        throw refusal(path, "holds " + what + " " + std::to_string(k + 1) + " at " + cellName(grid, saved.cell) +
                                "; this project's " + what + " " + std::to_string(k + 1) + " (" + here.name +
                                ") lies at " + cellName(grid, here.cell));
    }
}

// The cells that the calculation order computes, per grid index.
std::vector<char> computedCells(const CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList) {
    std::vector<char> computed(grid.cellCount(), 0);
    std::size_t entries = 0;
    for (const int32_t size : order.groupSizes) entries += static_cast<std::size_t>(size);
    entries = std::min(entries, order.entries.size());
    for (std::size_t e = 0; e < entries; ++e) {
        const int32_t i = grid.index(order.entries[e].first, order.entries[e].second);
        if (computesAt(grid, i, riverNumList)) computed[static_cast<std::size_t>(i)] = 1;
    }
    return computed;
}

int32_t kindOf(const CellGrid& grid, int32_t i, const ModelParams& params) {
    return grid.flowAccAt(i) > params.channelThreshold ? kChannelCell : kSlopeCell;
}

const char* kindName(int32_t kind) { return kind == kChannelCell ? "a channel cell" : "a slope cell"; }

}  // namespace

std::vector<int32_t> stateCells(const CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList,
                                const std::vector<Dam>& dams, const std::vector<Reservoir>& reservoirs) {
    std::vector<char> computed = computedCells(grid, order, riverNumList);
    for (const Dam& dam : dams) computed[static_cast<std::size_t>(dam.cell)] = 0;
    for (const Reservoir& reservoir : reservoirs) computed[static_cast<std::size_t>(reservoir.cell)] = 0;
    std::vector<int32_t> cells;
    for (std::size_t i = 0; i < computed.size(); ++i)
        if (computed[i]) cells.push_back(static_cast<int32_t>(i));
    return cells;
}

void requireSameSetUp(const StateHeader& saved, const StateHeader& here, const std::string& path) {
    if (saved.nrows != here.nrows || saved.ncols != here.ncols) {
        throw refusal(path, "was saved on a grid of " + std::to_string(saved.nrows) + " rows and " +
                                std::to_string(saved.ncols) + " columns; this project's grid has " +
                                std::to_string(here.nrows) + " rows and " + std::to_string(here.ncols) + " columns");
    }
    if (saved.xllcorner != here.xllcorner || saved.yllcorner != here.yllcorner) {
        const auto [x, x2] = twoReals(saved.xllcorner, here.xllcorner);
        const auto [y, y2] = twoReals(saved.yllcorner, here.yllcorner);
        throw refusal(path, "was saved on a grid whose south-west corner lies at " + x + ", " + y +
                                "; this project's lies at " + x2 + ", " + y2);
    }
    requireSameReal(saved.scale, here.scale, path, "the topography scale");
    if (saved.spaceSteps != here.spaceSteps) {
        throw refusal(path, "was saved with " + std::to_string(saved.spaceSteps) +
                                " finite difference space steps; this project has " + std::to_string(here.spaceSteps));
    }
    if (saved.stepSeconds != here.stepSeconds) {
        throw refusal(path, "was saved with a time step of " + std::to_string(saved.stepSeconds) +
                                " s; this project's time step is " + std::to_string(here.stepSeconds) + " s");
    }
    for (int k = 0; k < kShapingParams; ++k) requireSameParam(saved, here, k, path);
    requireSameReal(saved.fdWeight, here.fdWeight, path, "the finite difference weight");
    if (saved.channelThreshold != here.channelThreshold) {
        throw refusal(path, "was saved with " + std::to_string(saved.channelThreshold) +
                                " as the area to classify slope and channel; this project has " +
                                std::to_string(here.channelThreshold));
    }
    requireSameReal(saved.slopeLength, here.slopeLength, path, "the slope length");
}

void requireSameStructures(const ModelState& state, const CellGrid& grid, const std::vector<Dam>& dams,
                           const std::vector<Reservoir>& reservoirs, const std::string& path) {
    if (state.dams.size() != dams.size()) {
        throw refusal(path, "holds " + std::to_string(state.dams.size()) + " dams; this project has " +
                                std::to_string(dams.size()));
    }
    for (std::size_t k = 0; k < dams.size(); ++k) {
        requireSameStructure(state.dams[k], dams[k], k, grid, "dam", path);
        if (state.dams[k].kind != dams[k].kind) {
            throw refusal(path, "holds dam " + std::to_string(k + 1) + " of kind " + std::to_string(state.dams[k].kind) +
                                    "; this project's dam " + std::to_string(k + 1) + " (" + dams[k].name +
                                    ") is of kind " + std::to_string(dams[k].kind));
        }
    }
    if (state.reservoirs.size() != reservoirs.size()) {
        throw refusal(path, "holds " + std::to_string(state.reservoirs.size()) + " reservoirs; this project has " +
                                std::to_string(reservoirs.size()));
    }
    for (std::size_t k = 0; k < reservoirs.size(); ++k)
        requireSameStructure(state.reservoirs[k], reservoirs[k], k, grid, "reservoir", path);
}

void requireCellRecords(const ModelState& state, const CellGrid& grid, const std::vector<int32_t>& cells,
                        const ModelParams& params, const std::string& path) {
    std::size_t record = 0;
    for (const int32_t i : cells) {
        while (record < state.cells.size() && state.cells[record] < i) ++record;
        if (record == state.cells.size() || state.cells[record] != i) {
            throw refusal(path, "holds no state of the cell at " + cellName(grid, i) + ", which this run computes");
        }
        const int32_t kind = kindOf(grid, i, params);
        if (state.kinds[record] != kind) {
            throw refusal(path, "holds the state of " + std::string(kindName(state.kinds[record])) + " at " +
                                    cellName(grid, i) + ", where this project has " + kindName(kind));
        }
    }
}

void applyState(const ModelState& state, CellGrid& grid, const std::vector<int32_t>& cells, std::vector<Dam>& dams,
                std::vector<Reservoir>& reservoirs) {
    std::size_t record = 0;
    for (const int32_t i : cells) {
        while (state.cells[record] < i) ++record;
        if (!grid.owns(i)) continue;
        restoreCell(grid.cell(i), state.values.data() + state.offsets[record]);
    }
    for (std::size_t k = 0; k < dams.size(); ++k) restoreStructure(dams[k], state.dams[k]);
    for (std::size_t k = 0; k < reservoirs.size(); ++k) restoreStructure(reservoirs[k], state.reservoirs[k]);
}

ModelState stateRoom(const CellGrid& grid, const std::vector<int32_t>& cells, const ModelParams& params,
                     const std::vector<Dam>& dams, const std::vector<Reservoir>& reservoirs, int hour) {
    ModelState state;
    state.hour = hour;
    state.spaceSteps = params.spaceSteps;
    for (const int32_t i : cells)
        if (grid.owns(i)) addCellRecord(state, i, kindOf(grid, i, params));
    state.dams = structureStates(dams);
    state.reservoirs = structureStates(reservoirs);
    return state;
}

void gatherState(Peers& peers, const CellGrid& grid, ModelState& state) {
    if (peers.rank != 0) {
        std::vector<char> bytes(1, static_cast<char>(PeerMessage::kState));
        putValue(bytes, static_cast<int64_t>(state.cells.size()));
        for (std::size_t k = 0; k < state.cells.size(); ++k) {
            putValue(bytes, state.cells[k]);
            putValue(bytes, state.kinds[k]);
            const double* v = state.values.data() + state.offsets[k];
            const char* p = reinterpret_cast<const char*>(v);
            bytes.insert(bytes.end(), p, p + (state.offsets[k + 1] - state.offsets[k]) * static_cast<int64_t>(sizeof(double)));
        }
        const auto putOwned = [&](const std::vector<StructureState>& list) {
            int32_t owned = 0;
            for (const StructureState& s : list) owned += grid.owns(s.cell) ? 1 : 0;
            putValue(bytes, owned);
            for (std::size_t k = 0; k < list.size(); ++k) {
                if (!grid.owns(list[k].cell)) continue;
                putValue(bytes, static_cast<int32_t>(k));
                putValue(bytes, list[k]);
            }
        };
        putOwned(state.dams);
        putOwned(state.reservoirs);
        peers.send(0, std::move(bytes));
        peers.flush();
        return;
    }
    // Process 0: every part, then the cells of all in ascending order.
    std::vector<std::vector<char>> parts;
    while (static_cast<int>(parts.size()) < peers.ranks - 1) {
        peers.poll([&](int, std::vector<char>& bytes) {
            if (!bytes.empty() && bytes[0] == static_cast<char>(PeerMessage::kState)) parts.push_back(std::move(bytes));
        });
        if (static_cast<int>(parts.size()) < peers.ranks - 1) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    struct Record {
        int32_t cell;
        int32_t kind;
        const char* values;  // the bytes of its doubles (unaligned in a part)
    };
    std::vector<Record> records;
    for (std::size_t k = 0; k < state.cells.size(); ++k)
        records.push_back({state.cells[k], state.kinds[k],
                           reinterpret_cast<const char*>(state.values.data() + state.offsets[k])});
    for (const std::vector<char>& part : parts) {
        std::size_t at = 1;
        const int64_t count = takeValue<int64_t>(part, at);
        for (int64_t k = 0; k < count; ++k) {
            const int32_t cell = takeValue<int32_t>(part, at);
            const int32_t kind = takeValue<int32_t>(part, at);
            records.push_back({cell, kind, part.data() + at});
            at += static_cast<std::size_t>(nodeValueCount(kind, state.spaceSteps)) * sizeof(double);
        }
        for (std::vector<StructureState>* list : {&state.dams, &state.reservoirs}) {
            const int32_t owned = takeValue<int32_t>(part, at);
            for (int32_t k = 0; k < owned; ++k) {
                const int32_t position = takeValue<int32_t>(part, at);
                (*list)[static_cast<std::size_t>(position)] = takeValue<StructureState>(part, at);
            }
        }
    }
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) { return a.cell < b.cell; });
    ModelState merged;
    merged.hour = state.hour;
    merged.spaceSteps = state.spaceSteps;
    merged.cells.reserve(records.size());
    merged.kinds.reserve(records.size());
    merged.offsets.reserve(records.size() + 1);
    int64_t total = 0;
    for (const Record& r : records) total += nodeValueCount(r.kind, state.spaceSteps);
    merged.values.reserve(static_cast<std::size_t>(total));
    for (const Record& r : records) {
        addCellRecord(merged, r.cell, r.kind);
        const std::size_t from = static_cast<std::size_t>(merged.offsets[merged.offsets.size() - 2]);
        std::memcpy(merged.values.data() + from, r.values,
                    static_cast<std::size_t>(nodeValueCount(r.kind, state.spaceSteps)) * sizeof(double));
    }
    merged.dams = std::move(state.dams);
    merged.reservoirs = std::move(state.reservoirs);
    state = std::move(merged);
}

void startFromState(Event& event, const std::string& path) {
    const StateFile file = readStateFile(path);
    requireSameSetUp(file.header, projectHeader(event.params, valueDigests(event.grid, event.cellValues)), path);
    requireSameStructures(file.state, event.grid, event.dams, event.reservoirs, path);
    const std::vector<int32_t> cells = stateCells(event.grid, event.order, event.riverNumList, event.dams, event.reservoirs);
    requireCellRecords(file.state, event.grid, cells, event.params, path);
    applyState(file.state, event.grid, cells, event.dams, event.reservoirs);
    event.fromState = true;
}

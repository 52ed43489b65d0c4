#include "event.h"

#include "cellEvent.h"
#include "eventPlan.h"
#include "inputError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

WorkingDirectory::WorkingDirectory(const std::string& directory) {
    std::vector<char> here(4096);
    while (getcwd(here.data(), here.size()) == nullptr) {
        if (errno != ERANGE) throw InputError("Error: the working directory cannot be told: " + std::string(std::strerror(errno)) + ".\n");
        here.resize(here.size() * 2);
    }
    previous = here.data();
    if (chdir(directory.c_str()) != 0) {
        throw InputError("Error: the project directory " + directory + " cannot be entered: " +
                         std::string(std::strerror(errno)) + ".\n");
    }
}

WorkingDirectory::~WorkingDirectory() {
    // Nothing sensible is left to do if the old directory has gone meanwhile.
    if (chdir(previous.c_str()) != 0) return;
}

ModelParams changedParams(const Event& event, const ParamChange& change) {
    ModelParams params = event.params;
    const CellValues file = paramFileValues(event.params);
    for (int k = 0; k < kParamCount; ++k) {
        if (change.given[k] && file[k] >= 0.0) setParamFileValue(params, static_cast<ParamKey>(k), change.value[k]);
    }
    return params;
}

CellValues changedValues(const Event& event, int32_t i, const ParamChange& change) {
    const CellValues file = paramFileValues(event.params);
    CellValues values = event.cellValues[static_cast<std::size_t>(i)];
    for (int k = 0; k < kParamCount; ++k) {
        if (!change.given[k]) continue;
        // A map value times the factor, in double, as a map holding the product would give it.
        values[k] = file[k] < 0.0 ? values[k] * change.value[k] : change.value[k];
    }
    return values;
}

namespace {

// Whether the run sets up cell i (every simulated cell off the border is).
bool isSetUp(const CellGrid& grid, int32_t i) { return grid.riverNumAt(i) >= 0 && !grid.isEdgeAt(i); }

// The entries of the order on the cells of `closure` that compute, in calculation order.
std::vector<int32_t> closureEntries(const Event& event, const std::vector<char>& closure) {
    std::vector<int32_t> cells;
    std::size_t entries = 0;
    for (int32_t g = 0; g < event.order.groupCount; ++g) entries += static_cast<std::size_t>(event.order.groupSizes[static_cast<std::size_t>(g)]);
    for (std::size_t e = 0; e < entries; ++e) {
        const int32_t i = event.grid.index(event.order.entries[e].first, event.order.entries[e].second);
        if (closure[static_cast<std::size_t>(i)] && computesCell(event.grid.cell(i), event.riverNumList)) cells.push_back(i);
    }
    return cells;
}

// Whether running `cells` (the closure's entries in calculation order) depth
// first gives the same values: every cell appears once and after every
// computed upstream cell of the closure that has an entry. A cached order
// that repeats a cell, or one that disagrees with the network, keeps its own
// sequence instead.
bool reorderable(const Event& event, const std::vector<int32_t>& cells, const std::vector<int32_t>& entryOf) {
    for (std::size_t e = 0; e < cells.size(); ++e) {
        const int32_t i = cells[e];
        if (entryOf[static_cast<std::size_t>(i)] != static_cast<int32_t>(e)) return false;  // a repeated cell
        const Cell& cell = event.grid.cell(i);
        for (int k = 0; k < cell.numUpstream; ++k) {
            const int32_t u = entryOf[static_cast<std::size_t>(cell.upstream[static_cast<std::size_t>(k)])];
            if (u > static_cast<int32_t>(e)) return false;
        }
    }
    return true;
}

// The cells in depth-first post-order from the targets, the upstream cell with
// the larger accumulation first, so that few finished series wait at a time.
std::vector<int32_t> depthFirst(const Event& event, const std::vector<int32_t>& targets,
                                const std::vector<int32_t>& entryOf) {
    const CellGrid& grid = event.grid;
    std::vector<int32_t> sequence;
    std::vector<char> seen(grid.cellCount(), 0);
    std::vector<std::pair<int32_t, std::vector<int32_t>>> path;  // cell, upstream cells still to visit
    auto enter = [&](int32_t i) {
        seen[static_cast<std::size_t>(i)] = 1;
        const Cell& cell = grid.cell(i);
        std::vector<int32_t> ups;
        for (int k = 0; k < cell.numUpstream; ++k) {
            const int32_t u = cell.upstream[static_cast<std::size_t>(k)];
            if (entryOf[static_cast<std::size_t>(u)] >= 0 && !seen[static_cast<std::size_t>(u)]) ups.push_back(u);
        }
        // Visited from the back: the largest accumulation last in the list.
        std::sort(ups.begin(), ups.end(), [&](int32_t a, int32_t b) {
            const int32_t fa = grid.cell(a).flowAcc, fb = grid.cell(b).flowAcc;
            return fa != fb ? fa < fb : a > b;
        });
        path.emplace_back(i, std::move(ups));
    };
    for (const int32_t t : targets) {
        if (seen[static_cast<std::size_t>(t)]) continue;
        enter(t);
        while (!path.empty()) {
            auto& [cell, ups] = path.back();
            if (ups.empty()) {
                sequence.push_back(cell);
                path.pop_back();
                continue;
            }
            const int32_t u = ups.back();
            ups.pop_back();
            if (!seen[static_cast<std::size_t>(u)]) enter(u);
        }
    }
    return sequence;
}

}  // namespace

CellSelection selectUpstream(const Event& event, const std::vector<int32_t>& targets) {
    const CellGrid& grid = event.grid;
    CellSelection selection;
    selection.targets = targets;

    // The closure: the targets and every cell draining into them.
    std::vector<char> closure(grid.cellCount(), 0);
    std::vector<int32_t> stack;
    for (const int32_t t : targets) {
        if (t < 0 || static_cast<std::size_t>(t) >= grid.cellCount() || !computesCell(grid.cell(t), event.riverNumList)) {
            throw InputError("Error: " + (t < 0 || static_cast<std::size_t>(t) >= grid.cellCount() ? std::string("a cell outside the grid")
                                                                                       : cellName(grid, t)) +
                             " is not computed by the event.\n");
        }
        if (!closure[static_cast<std::size_t>(t)]) stack.push_back(t);
        closure[static_cast<std::size_t>(t)] = 1;
    }
    while (!stack.empty()) {
        const Cell& cell = grid.cell(stack.back());
        stack.pop_back();
        for (int k = 0; k < cell.numUpstream; ++k) {
            const int32_t u = cell.upstream[static_cast<std::size_t>(k)];
            if (!closure[static_cast<std::size_t>(u)]) {
                closure[static_cast<std::size_t>(u)] = 1;
                stack.push_back(u);
            }
        }
    }

    std::vector<int32_t> sequence = closureEntries(event, closure);
    std::vector<int32_t> entryOf(grid.cellCount(), -1);  // the last entry of each cell
    for (std::size_t e = 0; e < sequence.size(); ++e) entryOf[static_cast<std::size_t>(sequence[e])] = static_cast<int32_t>(e);
    for (const int32_t t : targets) {
        if (entryOf[static_cast<std::size_t>(t)] < 0)
            throw InputError("Error: " + cellName(grid, t) + " is not in the calculation order of the event.\n");
    }
    if (reorderable(event, sequence, entryOf)) sequence = depthFirst(event, targets, entryOf);

    // Places: the computed cells, then the other upstream cells of mouths, whose
    // set-up a mouth copies.
    std::vector<int32_t> placeOf(grid.cellCount(), -1);
    auto place = [&](int32_t i, bool computed) {
        if (placeOf[static_cast<std::size_t>(i)] < 0) {
            placeOf[static_cast<std::size_t>(i)] = static_cast<int32_t>(selection.cells.size());
            selection.cells.push_back(i);
            selection.computed.push_back(computed ? 1 : 0);
        }
        return placeOf[static_cast<std::size_t>(i)];
    };
    for (const int32_t i : sequence) place(i, true);
    const std::size_t computedPlaces = selection.cells.size();
    for (std::size_t p = 0; p < computedPlaces; ++p) {
        const Cell& cell = grid.cell(selection.cells[p]);
        if (cell.flowDir != 0) continue;
        for (int k = 0; k < cell.numUpstream; ++k) place(cell.upstream[static_cast<std::size_t>(k)], false);
    }

    // Entries, what they read (an upstream cell's series as it stands when the
    // entry runs), and the last entry that uses each place's series.
    std::vector<char> done(selection.cells.size(), 0);
    std::vector<int32_t> lastUse(selection.cells.size(), -1);
    for (std::size_t e = 0; e < sequence.size(); ++e) {
        CellSelection::Entry entry;
        const int32_t i = sequence[e];
        entry.slot = placeOf[static_cast<std::size_t>(i)];
        const Cell& cell = grid.cell(i);
        for (int k = 0; k < cell.numUpstream; ++k) {
            const int32_t p = placeOf[static_cast<std::size_t>(cell.upstream[static_cast<std::size_t>(k)])];
            if (p >= 0 && selection.computed[static_cast<std::size_t>(p)] && done[static_cast<std::size_t>(p)]) {
                entry.reads[static_cast<std::size_t>(k)] = p;
                lastUse[static_cast<std::size_t>(p)] = static_cast<int32_t>(e);
            }
        }
        done[static_cast<std::size_t>(entry.slot)] = 1;
        lastUse[static_cast<std::size_t>(entry.slot)] = std::max(lastUse[static_cast<std::size_t>(entry.slot)], static_cast<int32_t>(e));
        const auto target = std::find(targets.begin(), targets.end(), i);
        if (target != targets.end()) entry.target = static_cast<int32_t>(target - targets.begin());
        selection.entries.push_back(std::move(entry));
    }
    for (std::size_t p = 0; p < computedPlaces; ++p) {
        if (lastUse[p] >= 0) selection.entries[static_cast<std::size_t>(lastUse[p])].release.push_back(static_cast<int32_t>(p));
    }
    return selection;
}

namespace {

// A cell set up anew starts from the node values of the event's cell.
void takeNodeValues(Cell& cell, const Cell& from) {
    cell.slopeQ = from.slopeQ;
    cell.chanQ = from.chanQ;
    cell.chanA = from.chanA;
}

// Private records of the selection's cells, set up with the changed values
// exactly as the cell loop and the river mouths of runoffSim set them up.
std::vector<Cell> setUpSelection(const Event& event, const CellSelection& selection, const ParamChange& change,
                                 const ModelParams& params) {
    const CellGrid& grid = event.grid;
    std::vector<Cell> cells(selection.cells.size());
    for (std::size_t p = 0; p < cells.size(); ++p) {
        const int32_t i = selection.cells[p];
        cells[p] = grid.cell(i);
        if (!isSetUp(grid, i)) continue;
        const CellValues values = changedValues(event, i, change);
        checkCellValues(grid, i, values, cells[p].flowAcc > params.channelThreshold);
        const Cell* downstream = cells[p].downstream != kNoCell ? &grid.cell(cells[p].downstream) : nullptr;
        setupCellFromValues(cells[p], downstream, values, params);
        if (event.fromState) takeNodeValues(cells[p], grid.cell(i));
    }
    // The mouths, from their upstream cells as set up here; a mouth's upstream
    // cells are all places of the selection.
    std::vector<int32_t> placeOf;
    for (std::size_t p = 0; p < cells.size(); ++p) {
        if (!selection.computed[p] || cells[p].flowDir != 0) continue;
        Cell& mouth = cells[p];
        for (int k = 0; k < mouth.numUpstream; ++k) {
            const int32_t u = mouth.upstream[static_cast<std::size_t>(k)];
            const auto at = std::find(selection.cells.begin(), selection.cells.end(), u);
            takeMouthGeometry(mouth, cells[static_cast<std::size_t>(at - selection.cells.begin())]);
        }
    }
    // Dams and reservoirs take their cells after the set-up.
    for (std::size_t p = 0; p < cells.size(); ++p) {
        const int32_t kind = grid.cell(selection.cells[p]).kind;
        if (kind == kDamCell || kind == kReservoirCell) cells[p].kind = kind;
    }
    return cells;
}

// The structures on the computed cells of the selection, in list order.
template <typename Structure>
std::vector<Structure> structuresOf(const std::vector<Structure>& all, const CellSelection& selection) {
    std::vector<Structure> kept;
    for (const Structure& s : all) {
        const auto at = std::find(selection.cells.begin(), selection.cells.end(), s.cell);
        if (at != selection.cells.end() && selection.computed[static_cast<std::size_t>(at - selection.cells.begin())]) kept.push_back(s);
    }
    return kept;
}

}  // namespace

SelectionRun runSelection(const Event& event, const CellSelection& selection, const ParamChange& change) {
    SelectionRun result;
    result.hourlyMeans.assign(selection.targets.size(), {});
    const ModelParams params = changedParams(event, change);
    const std::size_t steps = seriesLength(params.days, params.stepsPerHour);
    try {
        checkModelParams(params);
        std::vector<Cell> cells = setUpSelection(event, selection, change, params);
        std::vector<Dam> dams = structuresOf(event.dams, selection);
        std::vector<Reservoir> reservoirs = structuresOf(event.reservoirs, selection);
        const std::vector<float> zeros(steps, 0.0f);
        std::vector<std::vector<float>> spare;  // released series, reused
        std::string log;                        // iteration-limit messages: not shown
        for (const CellSelection::Entry& entry : selection.entries) {
            const std::size_t p = static_cast<std::size_t>(entry.slot);
            const int32_t i = selection.cells[p];
            Cell& cell = cells[p];
            if (cell.dischargeSeries.empty()) {
                if (spare.empty()) {
                    cell.dischargeSeries.assign(steps, 0.0f);
                } else {
                    cell.dischargeSeries = std::move(spare.back());
                    spare.pop_back();
                }
            }
            UpstreamSeries upstream;
            upstream.count = cell.numUpstream;
            for (int k = 0; k < cell.numUpstream; ++k) {
                const int32_t from = entry.reads[static_cast<std::size_t>(k)];
                upstream.series[static_cast<std::size_t>(k)] =
                    from < 0 ? zeros.data() : cells[static_cast<std::size_t>(from)].dischargeSeries.data();
            }
            log.clear();
            if (cell.kind == kSlopeCell || cell.kind == kChannelCell) {
                const EventStop stop = runCellEvent(cell, upstream, event.rain, params, log);
                if (stop.stopped) {
                    result.stopped = true;
                    result.message = nonFiniteMessage(event.grid, i, stop);
                    return result;
                }
            } else if (cell.kind == kDamCell) {
                runDamsEvent(event.grid, i, cell, dams, upstream, event.rain, params, nullptr);
            } else {
                runReservoirsEvent(event.grid, i, cell, reservoirs, upstream, event.rain, params, nullptr);
            }
            if (entry.target >= 0) {
                std::vector<float>& means = result.hourlyMeans[static_cast<std::size_t>(entry.target)];
                means.resize(static_cast<std::size_t>(params.days) * 24);
                for (std::size_t h = 0; h < means.size(); ++h)
                    means[h] = meanInOrder(cell.dischargeSeries.data() + h * static_cast<std::size_t>(params.stepsPerHour),
                                           params.stepsPerHour);
            }
            for (const int32_t released : entry.release) {
                Cell& done = cells[static_cast<std::size_t>(released)];
                if (done.kind == kDamCell || done.kind == kReservoirCell) continue;  // their series stay with them
                spare.push_back(std::move(done.dischargeSeries));
                done.dischargeSeries = {};
            }
        }
    } catch (const InputError& error) {
        result.stopped = true;
        result.message = error.message;
    }
    return result;
}

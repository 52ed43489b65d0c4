#include "ensembleRun.h"

#include "cellEvent.h"
#include "dischargeOutput.h"
#include "eventPlan.h"
#include "inputError.h"
#include "memberLanes.h"
#include "paramFile.h"
#include "powLanes.h"
#include "taskScheduler.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <mutex>
#include <new>
#include <stdexcept>
#include <unordered_map>

namespace {

// The members a task runs: [first, first + count).
struct MemberBlock {
    int32_t first = 0;
    int32_t count = 0;
};

// The per-member state of a cell that the calculation order computes more
// than once (a cached order may repeat cells): each later event continues
// from the node state the earlier one left, as in runoffSim.
struct CarriedCell {
    std::vector<Cell> cells;    // per member
    std::vector<char> started;  // per member: the first event has copied the loaded cell
};

// Four members in lanes run a cell's event in about the time that 3.4 take
// one after the other (fewer in lanes gain nothing): blocks of four then,
// the rest in a last block, each a task per cell that any thread may take.
// Without lanes, one block per thread.
std::vector<MemberBlock> memberBlocks(int32_t members, int threads) {
    std::vector<MemberBlock> blocks;
    if (vectorPowAvailable()) {
        for (int32_t first = 0; first < members; first += kMemberLanes)
            blocks.push_back({first, std::min(kMemberLanes, members - first)});
        return blocks;
    }
    const int32_t count = std::max(1, std::min(members, threads));
    for (int32_t b = 0; b < count; ++b) {
        const int32_t first = static_cast<int32_t>(static_cast<int64_t>(members) * b / count);
        const int32_t next = static_cast<int32_t>(static_cast<int64_t>(members) * (b + 1) / count);
        blocks.push_back({first, next - first});
    }
    return blocks;
}

struct EnsembleRun {
    const Event& event;
    const std::vector<RainGrid>& rain;
    const EnsembleSetup& setup;
    MemberResults& results;
    const int32_t members;
    const EventPlan plan;
    const std::vector<MemberBlock> blockMembers;
    const int32_t blocks;
    TaskGraph graph;  // task id = plan task x blocks + block
    const std::vector<float> zeros;
    const TenMinuteLayout layout;
    // Per task id: the series of its block's members (empty: not computed).
    std::vector<std::vector<std::vector<float>>> series;
    std::vector<std::atomic<int32_t>> unreadBy;  // per task id: readers still to finish
    std::unordered_map<int32_t, CarriedCell> carried;
    // Per member: its own structures, which keep their state from event to event.
    std::vector<std::vector<Dam>> dams;
    std::vector<std::vector<Reservoir>> reservoirs;
    std::vector<std::atomic<int32_t>> stopEntry;  // per member: its first failed entry so far, or INT32_MAX
    std::mutex stopMutex;                         // guards results.stops
    std::atomic<bool> outOfMemory{false};

    EnsembleRun(const Event& e, const std::vector<RainGrid>& r, const EnsembleSetup& s, MemberResults& res)
        : event(e), rain(r), setup(s), results(res), members(static_cast<int32_t>(r.size())),
          plan(planEvent(e.grid, e.order, e.riverNumList)),
          blockMembers(memberBlocks(members, s.threads)), blocks(static_cast<int32_t>(blockMembers.size())),
          zeros(seriesLength(e.params.days, e.params.stepsPerHour), 0.0f), layout(e.params.stepSeconds),
          series(plan.tasks.size() * static_cast<std::size_t>(blocks)),
          unreadBy(plan.tasks.size() * static_cast<std::size_t>(blocks)),
          dams(static_cast<std::size_t>(members), e.dams), reservoirs(static_cast<std::size_t>(members), e.reservoirs),
          stopEntry(static_cast<std::size_t>(members)) {
        for (auto& s : stopEntry) s.store(INT32_MAX);
        buildGraph();
        std::unordered_map<int32_t, int32_t> tasksOfCell;
        for (const CellTask& task : plan.tasks) ++tasksOfCell[task.cell];
        for (const auto& [cell, count] : tasksOfCell) {
            if (count > 1) {
                CarriedCell& c = carried[cell];
                c.cells.resize(static_cast<std::size_t>(members));
                c.started.assign(static_cast<std::size_t>(members), 0);
            }
        }
    }

    // The plan's graph once per block of members: a task waits for the same
    // block's tasks that the plan's task waits for. Among ready tasks the
    // plan's depth-first order comes first, then the block.
    void buildGraph() {
        const TaskGraph& g = plan.graph;
        const std::size_t n = plan.tasks.size(), B = static_cast<std::size_t>(blocks);
        graph.dependencyCount.resize(n * B);
        graph.priority.resize(n * B);
        graph.dependentStart.assign(n * B + 1, 0);
        for (std::size_t t = 0; t < n; ++t) {
            for (std::size_t b = 0; b < B; ++b) {
                const std::size_t id = t * B + b;
                unreadBy[id].store(plan.tasks[t].readers);
                graph.dependencyCount[id] = g.dependencyCount[t];
                graph.priority[id] = g.priority[t] * blocks + static_cast<int64_t>(b);
                for (int32_t k = g.dependentStart[t]; k < g.dependentStart[t + 1]; ++k)
                    graph.dependents.push_back(g.dependents[static_cast<std::size_t>(k)] * blocks + static_cast<int32_t>(b));
                graph.dependentStart[id + 1] = static_cast<int32_t>(graph.dependents.size());
            }
        }
    }

    void stop(int32_t member, int32_t entry, std::string message) {
        std::lock_guard<std::mutex> lock(stopMutex);
        MemberResults::Stop& s = results.stops[static_cast<std::size_t>(member)];
        if (s.stopped && s.entry <= entry) return;
        s = {true, entry, std::move(message)};
        stopEntry[static_cast<std::size_t>(member)].store(entry);
    }
};

// A member's event in progress: its cell, upstream series and messages
// (iteration-limit messages: runEnsemble does not show them).
struct MemberCell {
    Cell* cell = nullptr;
    UpstreamSeries upstream;
    std::string log;
};

// Per worker thread: the cells members' events run on, and reduction buffers.
struct Scratch {
    Cell cells[kMemberLanes];
    MemberCell jobs[kMemberLanes];
    std::vector<float> hourly;
    std::vector<float> values;
};

// What a finished member series of cell i gives the products and the files.
void reduce(EnsembleRun& run, int32_t member, int32_t i, const std::vector<float>& values, Scratch& scratch) {
    const ModelParams& p = run.event.params;
    MemberResults& r = run.results;
    const std::size_t m = static_cast<std::size_t>(member), cell = static_cast<std::size_t>(i);
    std::vector<float>& hourly = scratch.hourly;
    hourly.resize(static_cast<std::size_t>(r.hours));
    for (std::size_t h = 0; h < hourly.size(); ++h)
        hourly[h] = meanInOrder(values.data() + h * static_cast<std::size_t>(p.stepsPerHour), p.stepsPerHour);
    float peak = hourly[0];
    for (const float q : hourly) peak = q > peak ? q : peak;
    r.peaks[m * r.cells + cell] = peak;
    for (std::size_t t = 0; t < run.setup.thresholds.size(); ++t) {
        const float level = (*run.setup.thresholds[t])[cell];
        int32_t first = -1;
        for (std::size_t h = 0; !std::isnan(level) && h < hourly.size(); ++h) {
            if (hourly[h] > level) {
                first = static_cast<int32_t>(h);
                break;
            }
        }
        r.firstExceedance[(t * static_cast<std::size_t>(r.members) + m) * r.cells + cell] = first;
    }
    for (std::size_t s = 0; s < run.setup.seriesCells.size(); ++s)
        if (run.setup.seriesCells[s] == i) r.series[s * static_cast<std::size_t>(r.members) + m] = hourly;
    if (run.setup.memberFiles != nullptr && !run.setup.memberFiles->empty()) {
        scratch.values.resize(static_cast<std::size_t>(r.hours) * kValuesPerHour);
        cellStatistics(values, run.layout, p.days, p.stepsPerHour, scratch.values.data());
        addCellValues(*(*run.setup.memberFiles)[m], i, scratch.values.data());
    }
}

// Member `member`'s part of task t: its upstream series and its copy of the
// cell as set up, or as its earlier event left it. False when the member is
// skipped (it stopped earlier in the order or above this cell).
bool prepareMember(EnsembleRun& run, int32_t t, int32_t block, int32_t member, Cell& own, MemberCell& out) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    const Cell& loaded = run.event.grid.cell(task.cell);
    const std::size_t m = static_cast<std::size_t>(member);
    const int32_t j = member - run.blockMembers[static_cast<std::size_t>(block)].first;
    if (task.entry > run.stopEntry[m].load()) return false;
    out.upstream.count = loaded.numUpstream;
    for (int k = 0; k < loaded.numUpstream; ++k) {
        const int32_t producer = task.reads[static_cast<std::size_t>(k)];
        const float* values = run.zeros.data();
        if (producer != kNoTask) {
            const auto& made = run.series[static_cast<std::size_t>(producer) * static_cast<std::size_t>(run.blocks) +
                                          static_cast<std::size_t>(block)];
            if (made.empty() || made[static_cast<std::size_t>(j)].empty()) return false;  // stopped above
            values = made[static_cast<std::size_t>(j)].data();
        }
        out.upstream.series[static_cast<std::size_t>(k)] = values;
    }
    out.cell = &own;
    const auto carried = run.carried.find(task.cell);
    if (carried == run.carried.end()) {
        own = loaded;
    } else {
        out.cell = &carried->second.cells[m];
        if (!carried->second.started[m]) *out.cell = loaded;
        carried->second.started[m] = 1;
    }
    out.cell->dischargeSeries.assign(run.zeros.size(), 0.0f);
    out.log.clear();
    return true;
}

// After the member's event: its stop, or its series into `out` and the products.
bool concludeMember(EnsembleRun& run, int32_t t, int32_t member, MemberCell& job, const EventStop& stop,
                    std::vector<float>& out, Scratch& scratch) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    if (stop.stopped) {
        run.stop(member, task.entry, nonFiniteMessage(run.event.grid, task.cell, stop));
        return false;
    }
    out = std::move(job.cell->dischargeSeries);
    job.cell->dischargeSeries = {};
    reduce(run, member, task.cell, out, scratch);
    return true;
}

// Member `member` through the event of task t's cell, into `out`. Returns
// false when the member is skipped (it stopped earlier in the order) or stops here.
bool runMember(EnsembleRun& run, int32_t t, int32_t block, int32_t member, std::vector<float>& out,
               Scratch& scratch) {
    MemberCell& job = scratch.jobs[0];
    if (!prepareMember(run, t, block, member, scratch.cells[0], job)) return false;
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    Cell& cell = *job.cell;
    const RainGrid& rain = run.rain[static_cast<std::size_t>(member)];
    const ModelParams& params = run.event.params;
    EventStop stop;
    try {
        if (cell.kind == kSlopeCell || cell.kind == kChannelCell) {
            stop = runCellEvent(cell, job.upstream, rain, params, job.log);
        } else if (cell.kind == kDamCell) {
            runDamsEvent(run.event.grid, task.cell, cell, run.dams[static_cast<std::size_t>(member)], job.upstream,
                         rain, params, nullptr);
        } else {
            runReservoirsEvent(run.event.grid, task.cell, cell, run.reservoirs[static_cast<std::size_t>(member)],
                               job.upstream, rain, params, nullptr);
        }
    } catch (const InputError& error) {
        run.stop(member, task.entry, error.message);
        return false;
    }
    return concludeMember(run, t, member, job, stop, out, scratch);
}

// A block of four members of a slope or channel cell side by side
// (runMemberEvents), each with exactly the bits of its own run, into `out`
// (emptied for a member that is skipped or stops).
void runMemberGroup(EnsembleRun& run, int32_t t, int32_t block, int32_t first, std::vector<std::vector<float>>& out,
                    Scratch& scratch) {
    LaneEvent events[kMemberLanes];
    int used = 0;
    int32_t who[kMemberLanes] = {};
    for (int32_t k = 0; k < kMemberLanes; ++k) {
        MemberCell& job = scratch.jobs[k];
        if (!prepareMember(run, t, block, first + k, scratch.cells[k], job)) {
            std::vector<float>().swap(out[static_cast<std::size_t>(k)]);
            continue;
        }
        events[used].cell = job.cell;
        events[used].upstream = job.upstream;
        events[used].rain = &run.rain[static_cast<std::size_t>(first + k)];
        events[used].log = &job.log;
        who[used++] = k;
    }
    if (used > 0) runMemberEvents(events, used, run.event.params);
    for (int u = 0; u < used; ++u) {
        const int32_t k = who[u];
        std::vector<float>& series = out[static_cast<std::size_t>(k)];
        if (!concludeMember(run, t, first + k, scratch.jobs[k], events[u].stop, series, scratch))
            std::vector<float>().swap(series);
    }
}

void runTask(EnsembleRun& run, int32_t id) {
    thread_local Scratch scratch;
    const int32_t t = id / run.blocks, block = id % run.blocks;
    const MemberBlock members = run.blockMembers[static_cast<std::size_t>(block)];
    std::vector<std::vector<float>>& out = run.series[static_cast<std::size_t>(id)];
    out.resize(static_cast<std::size_t>(members.count));
    if (!run.outOfMemory.load()) {
        try {
            const Cell& cell = run.event.grid.cell(run.plan.tasks[static_cast<std::size_t>(t)].cell);
            const bool lanes = (cell.kind == kSlopeCell || cell.kind == kChannelCell) && cell.spaceSteps > 0 &&
                               vectorPowAvailable();
            if (lanes && members.count == kMemberLanes) {
                runMemberGroup(run, t, block, members.first, out, scratch);
            } else {
                for (int32_t j = 0; j < members.count; ++j) {
                    if (!runMember(run, t, block, members.first + j, out[static_cast<std::size_t>(j)], scratch))
                        std::vector<float>().swap(out[static_cast<std::size_t>(j)]);
                }
            }
        } catch (const std::bad_alloc&) {
            run.outOfMemory.store(true);
        } catch (const std::length_error&) {
            run.outOfMemory.store(true);
        }
    }
    // A finished reader frees what nobody else reads; a series nobody reads goes at once.
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    const Cell& cell = run.event.grid.cell(task.cell);
    for (int k = 0; k < cell.numUpstream; ++k) {
        const int32_t producer = task.reads[static_cast<std::size_t>(k)];
        if (producer == kNoTask) continue;
        const std::size_t from = static_cast<std::size_t>(producer) * static_cast<std::size_t>(run.blocks) +
                                 static_cast<std::size_t>(block);
        if (run.unreadBy[from].fetch_sub(1) == 1) std::vector<std::vector<float>>().swap(run.series[from]);
    }
    if (task.readers == 0) std::vector<std::vector<float>>().swap(out);
}

}  // namespace

MemberResults runMembers(const Event& event, const std::vector<RainGrid>& members, const EnsembleSetup& setup) {
    MemberResults results;
    results.members = static_cast<int32_t>(members.size());
    results.cells = event.grid.cellCount();
    results.hours = static_cast<int64_t>(event.params.days) * 24;
    results.peaks.assign(members.size() * results.cells, 0.0f);
    results.firstExceedance.assign(setup.thresholds.size() * members.size() * results.cells, -1);
    results.series.assign(setup.seriesCells.size() * members.size(),
                          std::vector<float>(static_cast<std::size_t>(results.hours), 0.0f));
    results.stops.resize(members.size());
    EnsembleRun run(event, members, setup, results);
    runTaskGraph(run.graph, setup.threads, [&](int32_t id) { runTask(run, id); });
    if (run.outOfMemory.load()) throw std::bad_alloc();
    return results;
}

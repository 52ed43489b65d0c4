#include "timeLoop.h"

#include "eventPlan.h"
#include "inputError.h"
#include "paramFile.h"
#include "progressLine.h"
#include "taskScheduler.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cmath>
#include <mutex>
#include <new>
#include <ostream>

bool hourSumsFinite(const std::vector<float>& series, int day, int hour, int stepsPerHour, int stepsPer10min) {
    if (series.empty()) return true;
    const float* values = series.data() + seriesIndex(day, hour, 0, stepsPerHour);
    if (!std::isfinite(sumInOrder(values, stepsPerHour))) return false;
    for (int s = 0; stepsPer10min > 0 && s < 6; ++s) {
        if (!std::isfinite(sumInOrder(values + s * stepsPer10min, stepsPer10min))) return false;
    }
    return true;
}

namespace {

// Steps in 10 minutes when the step divides them, else 0 (the writer then
// averages by time in double precision, which cannot overflow).
int alignedStepsPer10min(const ModelParams& params) {
    return 600 % params.stepSeconds == 0 ? 600 / params.stepSeconds : 0;
}

std::string overflowMessage(const CellGrid& grid, int32_t i, int day, int hour) {
    return "Error: the flow at " + cellName(grid, i) + " is too large to be averaged over day " +
           std::to_string(day) + ", hour " + std::to_string(hour) +
           " (counted from 0); check this cell's parameters and inputs. Simulation ends\n";
}

// The hourly mean storage of a dam is a float32 sum too; a reservoir keeps no storage series.
bool storageHourFinite(const Dam& dam, int day, int hour, int stepsPerHour) {
    return hourSumsFinite(dam.storageSeries, day, hour, stepsPerHour, 0);
}
bool storageHourFinite(const Reservoir&, int, int, int) { return true; }

// A cached order made for another topography can name cells the grid lacks.
void checkOrderFitsGrid(const CalcOrder& order, const CellGrid& grid) {
    bool fits = order.groupCount >= 0 && order.groupSizes.size() >= static_cast<std::size_t>(order.groupCount);
    std::size_t total = 0;
    for (int32_t g = 0; fits && g < order.groupCount; ++g) {
        const int32_t size = order.groupSizes[static_cast<std::size_t>(g)];
        fits = size >= 0;
        total += fits ? static_cast<std::size_t>(size) : 0;
    }
    fits = fits && total <= order.entries.size();
    for (const auto& entry : order.entries) {
        fits = fits && entry.first >= 0 && entry.first < grid.nrows && entry.second >= 0 && entry.second < grid.ncols;
    }
    if (!fits) {
        throw InputError("Error: the calculation order in ./temp/ does not fit the grid; delete "
                         "./temp/numOfBasin.dat to rebuild it. Simulation ends\n");
    }
}

// The outflow and inflow a dam or reservoir stored must be finite like any other.
void checkStoredOutflow(const CellGrid& grid, int32_t i, int day, int hour, int step, int stepsPerHour) {
    const Cell& cell = grid.cells[static_cast<std::size_t>(i)];
    const std::size_t at = seriesIndex(day, hour, step, stepsPerHour);
    const bool outflowFinite = at >= cell.dischargeSeries.size() || std::isfinite(cell.dischargeSeries[at]);
    const bool inflowFinite = at >= cell.inflowSeries.size() || std::isfinite(cell.inflowSeries[at]);
    if (!outflowFinite || !inflowFinite) {
        throw InputError(nonFiniteMessage(grid, i, EventStop{true, day, hour, step}));
    }
}

// Dam (kind 99) or reservoir (kind 100) cell i: every structure at the cell,
// in file order, runs the whole event with a console line per step, appended
// to `log`. Throws InputError where the run stops.
template <typename Structure, typename Step>
void runStructures(CellGrid& grid, int32_t i, std::vector<Structure>& structures, Step stepOne,
                   const UpstreamSeries& upstream, const RainGrid& rain, const ModelParams& params,
                   std::string& log) {
    const int row = grid.rowOf(i), column = grid.colOf(i);
    Cell& cell = grid.cells[static_cast<std::size_t>(i)];
    const int tenMinutes = alignedStepsPer10min(params);
    // One line a step, "ihour = H dt = S imin = O": room for all of them at once.
    std::size_t lines = 0;
    for (const Structure& s : structures) lines += s.rowIndex == row && s.columnIndex == column ? 1 : 0;
    log.reserve(log.size() + lines * seriesLength(params.days, params.stepsPerHour) * 40);
    char line[64];
    for (Structure& s : structures) {
        if (s.rowIndex != row || s.columnIndex != column) continue;
        for (int day = 0; day < params.days; ++day) {
            for (int hour = 0; hour < 24; ++hour) {
                for (int step = 0; step < params.stepsPerHour; ++step) {
                    const int obs = rainStep(step, params.stepSeconds, params.rainInterval);
                    log.append(line, static_cast<std::size_t>(std::snprintf(line, sizeof line, "ihour = %d dt = %d imin = %d\n",
                                                                            hour, step, obs)));
                    setRainfall(cell, rain, day, hour, obs);
                    stepOne(s, cell, upstream, day, hour, step, params.stepsPerHour);
                    checkStoredOutflow(grid, i, day, hour, step, params.stepsPerHour);
                }
                if (!hourSumsFinite(cell.dischargeSeries, day, hour, params.stepsPerHour, tenMinutes) ||
                    !hourSumsFinite(cell.inflowSeries, day, hour, params.stepsPerHour, 0) ||
                    !storageHourFinite(s, day, hour, params.stepsPerHour)) {
                    throw InputError(overflowMessage(grid, i, day, hour));
                }
            }
        }
    }
}

// How a task ended.
enum class TaskEnd : uint8_t { kRunning, kDone, kFailed, kOutOfMemory };

// Everything the tasks of one run share: the read-only inputs, the plan, and
// the per-task results that the console printer collects in calculation order.
struct LoopRun {
    CellGrid& grid;
    const CalcOrder& order;
    const RainGrid& rain;
    const ModelParams& params;
    std::vector<Dam>& dams;
    std::vector<Reservoir>& reservoirs;
    const CellFinished& cellFinished;
    std::ostream& out;
    ProgressLine* progress;
    EventPlan plan;
    std::vector<float> zeros;         // the series of a cell that is not computed
    std::vector<char> keepsSeries;    // per cell: a dam or reservoir cell, whose series the tables need
    std::vector<std::atomic<int32_t>> unreadBy;  // per task: readers still to finish
    std::atomic<int32_t> firstFailedEntry{INT32_MAX};

    // Guarded by printMutex.
    std::mutex printMutex;
    std::vector<std::string> logs;  // per task
    std::vector<TaskEnd> ends;      // per task
    std::vector<std::pair<int32_t, std::string>> failures;  // (task, message)
    bool printing = false;
    std::size_t nextEntry = 0;  // first entry not yet printed
    std::size_t nextGroup = 0;  // first group whose line is not yet printed
    int32_t stoppedAt = kNoTask;  // the failed task the console ends with
    int64_t finished = 0;

    LoopRun(CellGrid& g, const CalcOrder& o, const RainGrid& r, const ModelParams& p, std::vector<Dam>& d,
            std::vector<Reservoir>& res, const CellFinished& f, std::ostream& os, ProgressLine* pl,
            const std::vector<int32_t>& riverNumList)
        : grid(g), order(o), rain(r), params(p), dams(d), reservoirs(res), cellFinished(f), out(os), progress(pl),
          plan(planEvent(g, o, riverNumList)),
          zeros(seriesLength(p.days, p.stepsPerHour), 0.0f), keepsSeries(g.cells.size(), 0),
          unreadBy(plan.tasks.size()), logs(plan.tasks.size()), ends(plan.tasks.size(), TaskEnd::kRunning) {
        for (const Dam& dam : dams) keepsSeries[static_cast<std::size_t>(dam.cell)] = 1;
        for (const Reservoir& reservoir : reservoirs) keepsSeries[static_cast<std::size_t>(reservoir.cell)] = 1;
        for (std::size_t t = 0; t < plan.tasks.size(); ++t) unreadBy[t].store(plan.tasks[t].readers);
    }
};

// The upstream series task t reads: its producers' series, zeros elsewhere.
UpstreamSeries inputsOf(const LoopRun& run, const CellTask& task) {
    const Cell& cell = run.grid.cells[static_cast<std::size_t>(task.cell)];
    UpstreamSeries upstream;
    upstream.count = cell.numUpstream;
    for (int k = 0; k < cell.numUpstream; ++k) {
        const int32_t producer = task.reads[static_cast<std::size_t>(k)];
        upstream.series[static_cast<std::size_t>(k)] =
            producer == kNoTask
                ? run.zeros.data()
                : run.grid.cells[static_cast<std::size_t>(run.plan.tasks[static_cast<std::size_t>(producer)].cell)]
                      .dischargeSeries.data();
    }
    return upstream;
}

// Frees the series of task t's cell once nobody is left to read it.
void releaseIfUnread(LoopRun& run, int32_t t) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    if (run.keepsSeries[static_cast<std::size_t>(task.cell)]) return;
    std::vector<float>().swap(run.grid.cells[static_cast<std::size_t>(task.cell)].dischargeSeries);
}

// The whole event of task t's cell, handed on when it succeeds. Returns the
// message that stops the run, or an empty string.
std::string computeTask(LoopRun& run, int32_t t, std::string& log) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    Cell& cell = run.grid.cells[static_cast<std::size_t>(task.cell)];
    if (cell.dischargeSeries.empty()) cell.dischargeSeries.assign(run.zeros.size(), 0.0f);
    const UpstreamSeries upstream = inputsOf(run, task);
    try {
        if (cell.kind == kSlopeCell || cell.kind == kChannelCell) {
            const EventStop stop = runCellEvent(cell, upstream, run.rain, run.params, log);
            if (stop.stopped) return nonFiniteMessage(run.grid, task.cell, stop);
        } else if (cell.kind == kDamCell) {
            runStructures(run.grid, task.cell, run.dams, operate, upstream, run.rain, run.params, log);
        } else {
            runStructures(run.grid, task.cell, run.reservoirs, route, upstream, run.rain, run.params, log);
        }
    } catch (const InputError& error) {
        return error.message;
    }
    run.cellFinished(task.cell, cell.dischargeSeries);
    return {};
}

// Prints, in calculation order, every group line and finished cell's messages
// that all earlier entries allow; stops for good at the first failed cell.
// One thread prints at a time; a cell finishing meanwhile is picked up by it.
void printFinishedPrefix(LoopRun& run) {
    std::unique_lock<std::mutex> lock(run.printMutex);
    if (run.printing) return;
    run.printing = true;
    const std::size_t entries = run.plan.taskOfEntry.size();
    for (;;) {
        std::string text;
        bool groupLine = false;
        while (run.stoppedAt == kNoTask) {
            while (run.nextGroup < run.plan.groupStart.size() && run.plan.groupStart[run.nextGroup] == run.nextEntry) {
                text += "  " + std::to_string(run.nextEntry + 1) + "/" + std::to_string(run.order.cellCount) +
                        " ends.\n";
                ++run.nextGroup;
                groupLine = true;
            }
            if (run.nextEntry == entries) break;
            const int32_t t = run.plan.taskOfEntry[run.nextEntry];
            if (t != kNoTask) {
                const TaskEnd end = run.ends[static_cast<std::size_t>(t)];
                if (end == TaskEnd::kRunning) break;
                text += run.logs[static_cast<std::size_t>(t)];
                std::string().swap(run.logs[static_cast<std::size_t>(t)]);
                if (end != TaskEnd::kDone) run.stoppedAt = t;
            }
            ++run.nextEntry;
        }
        if (run.progress != nullptr) showProgress(*run.progress, run.finished, static_cast<int64_t>(run.plan.tasks.size()));
        if (text.empty()) break;
        lock.unlock();
        if (run.progress != nullptr) clearBeforeOutput(*run.progress);
        run.out << text;
        if (groupLine || run.progress != nullptr) run.out.flush();
        lock.lock();
    }
    run.printing = false;
}

// The body of task t on a worker thread.
void runTask(LoopRun& run, int32_t t) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    TaskEnd end = TaskEnd::kDone;
    std::string log, failure;
    // After a failure only the cells before it in calculation order still matter.
    if (task.entry < run.firstFailedEntry.load()) {
        try {
            failure = computeTask(run, t, log);
            if (!failure.empty()) end = TaskEnd::kFailed;
        } catch (const std::bad_alloc&) {
            end = TaskEnd::kOutOfMemory;
        } catch (const std::length_error&) {
            end = TaskEnd::kOutOfMemory;
        }
        if (end != TaskEnd::kDone) {
            int32_t seen = run.firstFailedEntry.load();
            while (task.entry < seen && !run.firstFailedEntry.compare_exchange_weak(seen, task.entry)) {
            }
        }
    }
    // A finished reader may free what it read; a series nobody reads goes at once.
    const Cell& cell = run.grid.cells[static_cast<std::size_t>(task.cell)];
    for (int k = 0; k < cell.numUpstream; ++k) {
        const int32_t producer = task.reads[static_cast<std::size_t>(k)];
        if (producer != kNoTask && run.unreadBy[static_cast<std::size_t>(producer)].fetch_sub(1) == 1)
            releaseIfUnread(run, producer);
    }
    if (task.readers == 0) releaseIfUnread(run, t);
    {
        std::lock_guard<std::mutex> lock(run.printMutex);
        run.logs[static_cast<std::size_t>(t)] = std::move(log);
        run.ends[static_cast<std::size_t>(t)] = end;
        if (end == TaskEnd::kFailed) run.failures.emplace_back(t, std::move(failure));
        ++run.finished;
    }
    printFinishedPrefix(run);
}

}  // namespace

EventStop runCellEvent(Cell& cell, const UpstreamSeries& upstream, const RainGrid& rain, const ModelParams& params,
                       std::string& log) {
    const WaveConstants k = waveConstants(cell);
    const bool channel = cell.kind == kChannelCell;
    const int tenMinutes = alignedStepsPer10min(params);
    std::size_t at = 0;
    for (int day = 0; day < params.days; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            for (int step = 0; step < params.stepsPerHour; ++step, ++at) {
                setRainfall(cell, rain, day, hour, rainStep(step, params.stepSeconds, params.rainInterval));
                const bool finite = channel ? stepChannel(cell, k, upstream, at, log)
                                            : stepSlope(cell, k, upstream, at, log);
                if (!finite) return EventStop{true, day, hour, step};
            }
            if (!hourSumsFinite(cell.dischargeSeries, day, hour, params.stepsPerHour, tenMinutes)) {
                return EventStop{true, day, hour, params.stepsPerHour - 1, true};
            }
        }
    }
    return EventStop{};
}

std::string nonFiniteMessage(const CellGrid& grid, int32_t i, const EventStop& stop) {
    if (stop.hourSum) return overflowMessage(grid, i, stop.day, stop.hour);
    return "Error: the flow at " + cellName(grid, i) + " is no longer a finite number at day " +
           std::to_string(stop.day) + ", hour " + std::to_string(stop.hour) + ", step " +
           std::to_string(stop.step) + " (counted from 0); check this cell's parameters and inputs. "
           "Simulation ends\n";
}

void runTimeLoop(CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList,
                 const RainGrid& rain, const ModelParams& params, std::vector<Dam>& dams,
                 std::vector<Reservoir>& reservoirs, const CellFinished& finished, int threads, std::ostream& out,
                 ProgressLine* progress) {
    checkOrderFitsGrid(order, grid);
    LoopRun run(grid, order, rain, params, dams, reservoirs, finished, out, progress, riverNumList);
    runTaskGraph(run.plan.graph, threads, [&](int32_t t) { runTask(run, t); });
    printFinishedPrefix(run);  // the trailing group lines of an order without tasks
    if (progress != nullptr) clearProgress(*progress);
    out.flush();
    if (run.stoppedAt == kNoTask) return;
    if (run.ends[static_cast<std::size_t>(run.stoppedAt)] == TaskEnd::kOutOfMemory) throw std::bad_alloc();
    for (auto& [task, message] : run.failures)
        if (task == run.stoppedAt) throw InputError(std::move(message));
}

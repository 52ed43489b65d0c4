#include "timeLoop.h"

#include "cellLanes.h"
#include "eventPlan.h"
#include "nodeWavefront.h"
#include "inputError.h"
#include "orderCache.h"
#include "paramFile.h"
#include "progressLine.h"
#include "taskScheduler.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cmath>
#include <functional>
#include <mutex>
#include <new>
#include <ostream>
#include <thread>
#include <unordered_map>
#include <utility>


namespace {







// How a task ended.
enum class TaskEnd : uint8_t { kRunning, kDone, kFailed, kOutOfMemory };

// The console text of a finished entry and, if it failed, its message.
struct EntryText {
    std::string log;
    std::string failure;
};

// Everything the tasks of one run share: the read-only inputs, the plan, and
// the per-entry results that the console printer collects in calculation order.
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
    LoopPeers* peers;  // null: one process
    ModelState* capture;  // null: no state is taken
    EventPlan plan;
    std::vector<float> zeros;         // the series of a cell that is not computed
    std::vector<char> keepsSeries;    // per cell: a dam or reservoir cell, whose series the tables need
    std::vector<std::atomic<int32_t>> unreadBy;  // per task: readers still to finish
    std::atomic<int32_t> firstFailedEntry{INT32_MAX};
    int64_t taskCount = 0;  // entries computed by any process

    // Series that arrived from other processes, per remote task; guarded by receivedMutex.
    std::mutex receivedMutex;
    std::unordered_map<int32_t, std::vector<float>> received;

    // Guarded by printMutex. The printing process: how each computed entry
    // ended, here or elsewhere (kRunning: not known yet), and the text of
    // those that have any, until printed.
    std::mutex printMutex;
    std::vector<TaskEnd> ends;                     // per entry
    std::unordered_map<int32_t, EntryText> texts;  // by entry
    bool printing = false;
    std::size_t nextEntry = 0;  // first entry not yet printed
    std::size_t nextGroup = 0;  // first group whose line is not yet printed
    bool stopped = false;       // the console has reached the failed entry it ends with
    TaskEnd stopEnd = TaskEnd::kDone;
    std::string stopMessage;
    int64_t finished = 0;

    // Other processes' end records on their way to process 0; guarded by endsMutex.
    std::mutex endsMutex;
    std::vector<char> endsBatch;
    std::chrono::steady_clock::time_point endsSent = std::chrono::steady_clock::now();
    int finishedPeers = 0;  // touched by the poller only

    LoopRun(CellGrid& g, const CalcOrder& o, const RainGrid& r, const ModelParams& p, std::vector<Dam>& d,
            std::vector<Reservoir>& res, const CellFinished& f, std::ostream& os, ProgressLine* pl,
            const std::vector<int32_t>& riverNumList, LoopPeers* lp, ModelState* c)
        : grid(g), order(o), rain(r), params(p), dams(d), reservoirs(res), cellFinished(f), out(os), progress(pl),
          peers(lp), capture(c), plan(planEvent(g, o, riverNumList)),
          zeros(seriesLength(p.days, p.stepsPerHour), 0.0f), keepsSeries(g.cellCount(), 0),
          unreadBy(plan.tasks.size()) {
        for (const Dam& dam : dams) keepsSeries[static_cast<std::size_t>(dam.cell)] = 1;
        for (const Reservoir& reservoir : reservoirs) keepsSeries[static_cast<std::size_t>(reservoir.cell)] = 1;
        for (std::size_t t = 0; t < plan.tasks.size(); ++t) unreadBy[t].store(plan.tasks[t].readers);
        for (const char computes : plan.entryComputes) taskCount += computes;
        if (prints()) ends.assign(plan.entryComputes.size(), TaskEnd::kRunning);
    }

    bool prints() const { return peers == nullptr || peers->peers.rank == 0; }
};

// The upstream series task t reads: its producers' series, zeros elsewhere.
UpstreamSeries inputsOf(LoopRun& run, const CellTask& task) {
    const Cell& cell = run.grid.cell(task.cell);
    UpstreamSeries upstream;
    upstream.count = cell.numUpstream;
    for (int k = 0; k < cell.numUpstream; ++k) {
        const int32_t producer = task.reads[static_cast<std::size_t>(k)];
        const float* series = run.zeros.data();
        if (producer != kNoTask) {
            const CellTask& from = run.plan.tasks[static_cast<std::size_t>(producer)];
            if (!from.remote) {
                series = run.grid.cell(from.cell).dischargeSeries.data();
            } else {
                std::lock_guard<std::mutex> lock(run.receivedMutex);
                const auto it = run.received.find(producer);
                if (it != run.received.end() && it->second.size() == run.zeros.size()) series = it->second.data();
            }
        }
        upstream.series[static_cast<std::size_t>(k)] = series;
    }
    return upstream;
}

// Frees the series of task t's cell once nobody is left to read it.
void releaseIfUnread(LoopRun& run, int32_t t) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    if (task.remote) {
        std::lock_guard<std::mutex> lock(run.receivedMutex);
        run.received.erase(t);
        return;
    }
    if (run.keepsSeries[static_cast<std::size_t>(task.cell)]) return;
    std::vector<float>().swap(run.grid.cell(task.cell).dischargeSeries);
}

// The whole event of task t's cell, handed on when it succeeds. Returns the
// message that stops the run, or an empty string.
std::string computeTask(LoopRun& run, int32_t t, std::string& log) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    Cell& cell = run.grid.cell(task.cell);
    if (cell.dischargeSeries.empty()) cell.dischargeSeries.assign(run.zeros.size(), 0.0f);
    const UpstreamSeries upstream = inputsOf(run, task);
    const HourCapture capture = run.capture != nullptr ? captureInto(*run.capture, task.cell, cell.kind) : HourCapture{};
    try {
        if (cell.kind == kSlopeCell || cell.kind == kChannelCell) {
            const EventStop stop = runCellEvent(cell, upstream, run.rain, run.params, log, capture);
            if (stop.stopped) return nonFiniteMessage(run.grid, task.cell, stop);
        } else if (cell.kind == kDamCell) {
            runDamsEvent(run.grid, task.cell, cell, run.dams, upstream, run.rain, run.params, &log, capture);
        } else {
            runReservoirsEvent(run.grid, task.cell, cell, run.reservoirs, upstream, run.rain, run.params, &log,
                               capture);
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
// Only process 0 of a distributed run prints.
void printFinishedPrefix(LoopRun& run) {
    if (!run.prints()) return;
    std::unique_lock<std::mutex> lock(run.printMutex);
    if (run.printing) return;
    run.printing = true;
    const std::size_t entries = run.plan.taskOfEntry.size();
    for (;;) {
        std::string text;
        bool groupLine = false;
        while (!run.stopped) {
            while (run.nextGroup < run.plan.groupStart.size() && run.plan.groupStart[run.nextGroup] == run.nextEntry) {
                text += "  " + std::to_string(run.nextEntry + 1) + "/" + std::to_string(run.order.cellCount) +
                        " ends.\n";
                ++run.nextGroup;
                groupLine = true;
            }
            if (run.nextEntry == entries) break;
            if (run.plan.entryComputes[run.nextEntry]) {
                const TaskEnd end = run.ends[run.nextEntry];
                if (end == TaskEnd::kRunning) break;
                const auto it = run.texts.find(static_cast<int32_t>(run.nextEntry));
                if (it != run.texts.end()) {
                    text += it->second.log;
                    if (end != TaskEnd::kDone) run.stopMessage = std::move(it->second.failure);
                    run.texts.erase(it);
                }
                if (end != TaskEnd::kDone) {
                    run.stopped = true;
                    run.stopEnd = end;
                }
            }
            ++run.nextEntry;
        }
        if (run.progress != nullptr) showProgress(*run.progress, run.finished, run.taskCount);
        if (text.empty()) break;
        lock.unlock();
        if (run.progress != nullptr) clearBeforeOutput(*run.progress);
        run.out << text;
        if (groupLine || run.progress != nullptr) run.out.flush();
        lock.lock();
    }
    run.printing = false;
}

// Lowers the first failing entry known here; true if it was lowered.
bool lowerFirstFailed(LoopRun& run, int32_t entry) {
    int32_t seen = run.firstFailedEntry.load();
    while (entry < seen) {
        if (run.firstFailedEntry.compare_exchange_weak(seen, entry)) return true;
    }
    return false;
}

std::vector<char> message(PeerMessage kind) { return std::vector<char>(1, static_cast<char>(kind)); }

// Sends the end records collected for process 0.
void sendEnds(LoopRun& run) {
    std::vector<char> batch;
    {
        std::lock_guard<std::mutex> lock(run.endsMutex);
        if (run.endsBatch.size() <= 1) return;
        batch.swap(run.endsBatch);
        run.endsSent = std::chrono::steady_clock::now();
    }
    run.peers->peers.send(0, std::move(batch));
}

// The end of own task t in a distributed run: its series (or the news that
// there is none) to the processes that read it, a failure to everybody, and
// its record to process 0.
void shareTaskEnd(LoopRun& run, int32_t t, TaskEnd end, bool lowered, const std::string& log,
                  const std::string& failure) {
    Peers& peers = run.peers->peers;
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    for (int32_t k = run.plan.readerStart[static_cast<std::size_t>(t)]; k < run.plan.readerStart[static_cast<std::size_t>(t) + 1]; ++k) {
        std::vector<char> bytes = message(end == TaskEnd::kDone ? PeerMessage::kSeries : PeerMessage::kSkipped);
        putValue(bytes, task.entry);
        if (end == TaskEnd::kDone) {
            const std::vector<float>& series = run.grid.cell(task.cell).dischargeSeries;
            const char* p = reinterpret_cast<const char*>(series.data());
            bytes.insert(bytes.end(), p, p + series.size() * sizeof(float));
        } else {
            putValue(bytes, run.firstFailedEntry.load());
        }
        peers.send(run.plan.readerRanks[static_cast<std::size_t>(k)], std::move(bytes));
    }
    if (lowered) {
        for (int to = 0; to < peers.ranks; ++to) {
            if (to == peers.rank) continue;
            std::vector<char> bytes = message(PeerMessage::kStop);
            putValue(bytes, task.entry);
            peers.send(to, std::move(bytes));
        }
    }
    if (peers.rank == 0) return;
    bool now = end == TaskEnd::kFailed || end == TaskEnd::kOutOfMemory;
    {
        std::lock_guard<std::mutex> lock(run.endsMutex);
        if (run.endsBatch.empty()) run.endsBatch = message(PeerMessage::kEnds);
        putValue(run.endsBatch, task.entry);
        putValue(run.endsBatch, static_cast<uint8_t>(end));
        putValue(run.endsBatch, static_cast<uint32_t>(log.size()));
        run.endsBatch.insert(run.endsBatch.end(), log.begin(), log.end());
        putValue(run.endsBatch, static_cast<uint32_t>(failure.size()));
        run.endsBatch.insert(run.endsBatch.end(), failure.begin(), failure.end());
        // Batches keep the messages few; process 0 waits for them to print, so they do not wait long.
        now = now || run.endsBatch.size() >= (std::size_t{1} << 16) ||
              std::chrono::steady_clock::now() - run.endsSent > std::chrono::milliseconds(200);
    }
    if (now) sendEnds(run);
}

// What follows task t's computation (`compute` returns the message that stops
// the run, or nothing): its end, and whether its failure is the first known.
TaskEnd computedEnd(LoopRun& run, int32_t t, const std::function<std::string()>& compute, std::string& failure,
                    bool& lowered) {
    TaskEnd end = TaskEnd::kDone;
    try {
        failure = compute();
        if (!failure.empty()) end = TaskEnd::kFailed;
    } catch (const std::bad_alloc&) {
        end = TaskEnd::kOutOfMemory;
    } catch (const std::length_error&) {
        end = TaskEnd::kOutOfMemory;
    }
    if (end != TaskEnd::kDone) lowered = lowerFirstFailed(run, run.plan.tasks[static_cast<std::size_t>(t)].entry);
    return end;
}

// Task t has ended (`lowered`: its failure is the first known so far): its
// series to other processes, the series it read released, its text printed.
void endTask(LoopRun& run, int32_t t, TaskEnd end, bool lowered, std::string& log, std::string& failure) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    if (run.peers != nullptr) shareTaskEnd(run, t, end, lowered, log, failure);
    // A finished reader may free what it read; a series nobody reads goes at once.
    const Cell& cell = run.grid.cell(task.cell);
    for (int k = 0; k < cell.numUpstream; ++k) {
        const int32_t producer = task.reads[static_cast<std::size_t>(k)];
        if (producer != kNoTask && run.unreadBy[static_cast<std::size_t>(producer)].fetch_sub(1) == 1)
            releaseIfUnread(run, producer);
    }
    if (task.readers == 0) releaseIfUnread(run, t);
    {
        std::lock_guard<std::mutex> lock(run.printMutex);
        if (run.prints()) {  // the others have sent theirs
            run.ends[static_cast<std::size_t>(task.entry)] = end;
            if (!log.empty() || !failure.empty()) run.texts[task.entry] = EntryText{std::move(log), std::move(failure)};
        }
        ++run.finished;
    }
    printFinishedPrefix(run);
}

// The body of task t on a worker thread.
void runTask(LoopRun& run, int32_t t) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    if (task.remote) return;  // its series has arrived (or the news that none will)
    TaskEnd end = TaskEnd::kFailed;  // skipped: never printed, as the console stops before it
    bool lowered = false;
    std::string log, failure;
    // After a failure only the cells before it in calculation order still matter.
    if (task.entry < run.firstFailedEntry.load())
        end = computedEnd(run, t, [&] { return computeTask(run, t, log); }, failure, lowered);
    endTask(run, t, end, lowered, log, failure);
}

// Whether task t's event can share a worker's event lanes: a slope or channel
// cell of this process, before any failure, with the vector power, in a run
// that captures no state.
bool runsInLanes(LoopRun& run, int32_t t) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    if (task.remote || run.capture != nullptr || task.entry >= run.firstFailedEntry.load()) return false;
    const Cell& cell = run.grid.cell(task.cell);
    return (cell.kind == kSlopeCell || cell.kind == kChannelCell) && cell.spaceSteps > 0 && eightEventLanes();
}

// Puts task t's event into a free lane, its log in `logs`. False if its
// series cannot be allocated (runTask then reports that).
bool startInLanes(LoopRun& run, CellLanes& lanes, int32_t t, std::string* logs) {
    const CellTask& task = run.plan.tasks[static_cast<std::size_t>(t)];
    Cell& cell = run.grid.cell(task.cell);
    try {
        if (cell.dischargeSeries.empty()) cell.dischargeSeries.assign(run.zeros.size(), 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    const int free = freeLane(lanes);
    logs[free].clear();
    LaneEvent event;
    event.cell = &cell;
    event.upstream = inputsOf(run, task);
    event.rain = &run.rain;
    event.log = &logs[free];
    event.id = t;
    addEvent(lanes, event);
    return true;
}

// Task `first` and, while there are more ready tasks, others beside it in the
// worker's event lanes; each is ended and reported to `queue` as soon as its
// event ends. The lanes pay only when they are nearly all busy, so they start
// only when many tasks are ready; otherwise the task runs by itself (its
// nodes side by side, nodeWavefront.h), as do tasks that cannot go into lanes.
void runTasks(LoopRun& run, int32_t first, const TaskQueue& queue) {
    const int32_t second = runsInLanes(run, first) ? queue.takeReady(2 * kEventLanes) : -1;
    if (second < 0) {
        runTask(run, first);
        queue.finish(first);
        return;
    }
    CellLanes lanes = makeCellLanes(run.params, kEventLanes);
    std::string logs[kEventLanes];
    std::vector<LaneEvent> ended;
    int32_t after = second;  // the task the first fill takes up after `first`
    for (int32_t t = first;; t = queue.takeReady(1)) {
        for (; t >= 0; t = after >= 0 ? std::exchange(after, -1) : hasFreeLane(lanes) ? queue.takeReady(1) : -1) {
            if (!runsInLanes(run, t) || !startInLanes(run, lanes, t, logs)) {
                runTask(run, t);
                queue.finish(t);
            }
        }
        if (isEmpty(lanes)) return;
        // Lanes mostly idle cost more than each event's nodes side by side:
        // with nothing more to take, the events go on by themselves.
        if (busyLanes(lanes) <= kEventLanes / 2) handOverAll(lanes);
        ended.clear();
        runLanes(lanes, ended);
        for (const LaneEvent& e : ended) {
            const int32_t done = static_cast<int32_t>(e.id);
            const CellTask& task = run.plan.tasks[static_cast<std::size_t>(done)];
            std::string log = std::move(*e.log), failure;
            bool lowered = false;
            const TaskEnd end = computedEnd(run, done, [&] {
                EventStop stop = e.stop;
                if (e.resumeAt >= 0)
                    stop = runCellEventWavefront(*e.cell, e.upstream, run.rain, run.params, log, {}, e.resumeAt);
                if (stop.stopped) return nonFiniteMessage(run.grid, task.cell, stop);
                run.cellFinished(task.cell, run.grid.cell(task.cell).dischargeSeries);
                return std::string();
            }, failure, lowered);
            endTask(run, done, end, lowered, log, failure);
            queue.finish(done);
        }
    }
}

// Process 0: the end records of another process.
void takeEnds(LoopRun& run, const std::vector<char>& bytes) {
    std::size_t at = 1;
    {
        std::lock_guard<std::mutex> lock(run.printMutex);
        while (at < bytes.size()) {
            const int32_t entry = takeValue<int32_t>(bytes, at);
            run.ends[static_cast<std::size_t>(entry)] = static_cast<TaskEnd>(takeValue<uint8_t>(bytes, at));
            EntryText record;
            const uint32_t logSize = takeValue<uint32_t>(bytes, at);
            record.log.assign(bytes.data() + at, logSize);
            at += logSize;
            const uint32_t failureSize = takeValue<uint32_t>(bytes, at);
            record.failure.assign(bytes.data() + at, failureSize);
            at += failureSize;
            // Most cells have nothing to say; only text is kept by entry.
            if (!record.log.empty() || !record.failure.empty()) run.texts[entry] = std::move(record);
            ++run.finished;
        }
    }
    printFinishedPrefix(run);
}

// Takes every message that has arrived from the other processes.
void pollPeers(LoopRun& run, const ReleaseTask& release) {
    run.peers->peers.poll([&](int, std::vector<char>& bytes) {
        if (bytes.empty()) return;
        std::size_t at = 1;
        switch (static_cast<PeerMessage>(bytes[0])) {
            case PeerMessage::kSeries:
            case PeerMessage::kSkipped: {
                const int32_t entry = takeValue<int32_t>(bytes, at);
                const int32_t t = run.plan.taskOfEntry[static_cast<std::size_t>(entry)];
                if (static_cast<PeerMessage>(bytes[0]) == PeerMessage::kSeries) {
                    std::vector<float> series(run.zeros.size());
                    const std::size_t size = std::min(bytes.size() - at, series.size() * sizeof(float));
                    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                              bytes.begin() + static_cast<std::ptrdiff_t>(at + size), reinterpret_cast<char*>(series.data()));
                    std::lock_guard<std::mutex> lock(run.receivedMutex);
                    run.received[t] = std::move(series);
                } else {
                    lowerFirstFailed(run, takeValue<int32_t>(bytes, at));
                }
                if (release) release(t);
                break;
            }
            case PeerMessage::kEnds:
                takeEnds(run, bytes);
                break;
            case PeerMessage::kStop:
                lowerFirstFailed(run, takeValue<int32_t>(bytes, at));
                break;
            case PeerMessage::kFinished:
                ++run.finishedPeers;
                break;
            default:
                run.peers->otherMessage(bytes);
                break;
        }
    });
}

// After the last own task: tells every other process, and takes messages
// until every other process has said the same, so nothing of the loop is
// left on its way anywhere.
void finishWithPeers(LoopRun& run) {
    Peers& peers = run.peers->peers;
    if (run.peers->finishing) run.peers->finishing();
    sendEnds(run);
    for (int to = 0; to < peers.ranks; ++to)
        if (to != peers.rank) peers.send(to, message(PeerMessage::kFinished));
    while (run.finishedPeers < peers.ranks - 1) {
        pollPeers(run, {});
        if (run.finishedPeers < peers.ranks - 1) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    peers.flush();
}

}  // namespace



void runTimeLoop(CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList,
                 const RainGrid& rain, const ModelParams& params, std::vector<Dam>& dams,
                 std::vector<Reservoir>& reservoirs, const CellFinished& finished, int threads, std::ostream& out,
                 ProgressLine* progress, LoopPeers* peers, ModelState* capture) {
    requireOrderFitsGrid(order, grid);
    LoopRun run(grid, order, rain, params, dams, reservoirs, finished, out, progress, riverNumList, peers, capture);
    PollWork poll;
    if (peers != nullptr) {
        poll = [&](bool idle, const ReleaseTask& release) {
            pollPeers(run, release);
            if (idle && peers->peers.rank != 0) sendEnds(run);
        };
    }
    runTaskGraph(run.plan.graph, threads, [&](int32_t t, const TaskQueue& queue) { runTasks(run, t, queue); }, poll);
    if (peers != nullptr) finishWithPeers(run);
    printFinishedPrefix(run);  // the trailing group lines of an order without tasks
    if (progress != nullptr) clearProgress(*progress);
    out.flush();
    if (peers != nullptr) {
        // Every process learns whether the run stops; process 0 alone says why.
        const int64_t first = peers->peers.minimum(run.firstFailedEntry.load());
        if (first != INT32_MAX && peers->peers.rank != 0) throw InputError("");
    }
    if (!run.stopped) return;
    if (run.stopEnd == TaskEnd::kOutOfMemory) throw std::bad_alloc();
    throw InputError(std::move(run.stopMessage));
}

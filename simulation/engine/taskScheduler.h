#pragma once
// A pool of worker threads that runs a graph of tasks: a task becomes ready
// when every task it depends on has finished, and the ready task of lowest
// priority value runs next. This is the only shared state of a parallel run;
// the tasks own their data, so the scheduler decides when a task runs, never
// what it computes.

#include <cstdint>
#include <functional>
#include <vector>

struct TaskGraph {
    // Per task: the number of tasks it waits for.
    std::vector<int32_t> dependencyCount;
    // Per task t: the tasks waiting for it are dependents[dependentStart[t] ..
    // dependentStart[t + 1]) (one more entry than tasks).
    std::vector<int32_t> dependentStart;
    std::vector<int32_t> dependents;
    // Per task: among ready tasks, the lowest value runs first.
    std::vector<int64_t> priority;

    int32_t size() const { return static_cast<int32_t>(dependencyCount.size()); }
};

// Builds the dependents lists of `graph` from (task, dependent) pairs, and the
// dependency counts from them; `priority` is left as it is.
void setDependencies(TaskGraph& graph, int32_t tasks, const std::vector<std::pair<int32_t, int32_t>>& edges);

// Releases task t from one dependency that is not a task of the graph (for
// example a series arriving from another process).
using ReleaseTask = std::function<void(int32_t t)>;

// Called by one worker at a time after each task it has run and, while no task
// is ready, every few hundred microseconds (`idle` true); it may release tasks.
using PollWork = std::function<void(bool idle, const ReleaseTask& release)>;

// Runs every task of `graph` once, `run(t)` on one of `threads` worker
// threads, each only after all tasks it depends on have returned. Requires an
// acyclic graph and a `run` that does not throw. Returns when all have run.
// A task whose dependency count exceeds its tasks of the graph waits for as
// many releases by `poll`, which must come.
void runTaskGraph(const TaskGraph& graph, int threads, const std::function<void(int32_t)>& run,
                  const PollWork& poll = {});

// What a worker that runs several tasks at once asks of the scheduler.
struct TaskQueue {
    // Another ready task, or -1 unless at least `atLeast` are ready beyond
    // those that idle workers are waiting for (work goes to idle workers first).
    std::function<int32_t(int atLeast)> takeReady;
    // A task that the worker was given or took has returned.
    std::function<void(int32_t t)> finish;
};

// Runs task `first` and any tasks it takes with queue.takeReady, and reports
// each of them, `first` included, with queue.finish as soon as it has returned.
using RunTasks = std::function<void(int32_t first, const TaskQueue& queue)>;

// runTaskGraph with workers that may hold several tasks at a time.
void runTaskGraph(const TaskGraph& graph, int threads, const RunTasks& run, const PollWork& poll = {});

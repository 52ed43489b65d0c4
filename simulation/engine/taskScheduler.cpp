#include "taskScheduler.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <queue>
#include <system_error>
#include <thread>
#include <utility>

void setDependencies(TaskGraph& graph, int32_t tasks, const std::vector<std::pair<int32_t, int32_t>>& edges) {
    graph.dependencyCount.assign(static_cast<std::size_t>(tasks), 0);
    graph.dependentStart.assign(static_cast<std::size_t>(tasks) + 1, 0);
    for (const auto& [task, dependent] : edges) {
        ++graph.dependentStart[static_cast<std::size_t>(task) + 1];
        ++graph.dependencyCount[static_cast<std::size_t>(dependent)];
    }
    for (std::size_t t = 0; t < static_cast<std::size_t>(tasks); ++t)
        graph.dependentStart[t + 1] += graph.dependentStart[t];
    graph.dependents.assign(edges.size(), 0);
    std::vector<int32_t> next(graph.dependentStart.begin(), graph.dependentStart.end() - 1);
    for (const auto& [task, dependent] : edges) graph.dependents[static_cast<std::size_t>(next[static_cast<std::size_t>(task)]++)] = dependent;
}

namespace {

// The ready queue and the dependency counters, behind one mutex.
struct SchedulerState {
    const TaskGraph& graph;
    std::mutex mutex;
    std::condition_variable readyOrDone;
    std::vector<int32_t> waitingFor;
    int32_t unfinished;
    int idle = 0;  // workers waiting in take()
    // (priority, task), smallest on top.
    std::priority_queue<std::pair<int64_t, int32_t>, std::vector<std::pair<int64_t, int32_t>>, std::greater<>> ready;

    explicit SchedulerState(const TaskGraph& g) : graph(g), waitingFor(g.dependencyCount), unfinished(g.size()) {
        for (int32_t t = 0; t < g.size(); ++t)
            if (waitingFor[static_cast<std::size_t>(t)] == 0) ready.emplace(g.priority[static_cast<std::size_t>(t)], t);
    }

    // Takes the next ready task, waiting for one; -1 once every task has
    // finished. With `pollAfter`, gives up after that long with -2.
    int32_t take(bool timed, std::chrono::microseconds pollAfter) {
        std::unique_lock<std::mutex> lock(mutex);
        const auto readyNow = [&] { return !ready.empty() || unfinished == 0; };
        ++idle;
        bool woken = true;
        if (!timed) {
            readyOrDone.wait(lock, readyNow);
        } else {
            woken = readyOrDone.wait_for(lock, pollAfter, readyNow);
        }
        --idle;
        if (!woken) return -2;
        if (ready.empty()) return -1;
        const int32_t t = ready.top().second;
        ready.pop();
        return t;
    }

    // A ready task for a worker that already holds some, when at least
    // `atLeast` are ready beyond those that idle workers are waiting for; -1
    // otherwise.
    int32_t takeMore(int atLeast) {
        std::lock_guard<std::mutex> lock(mutex);
        if (static_cast<int>(ready.size()) - idle < atLeast) return -1;
        const int32_t t = ready.top().second;
        ready.pop();
        return t;
    }

    // One dependency of task t is met from outside the graph.
    void release(int32_t t) {
        std::lock_guard<std::mutex> lock(mutex);
        if (--waitingFor[static_cast<std::size_t>(t)] == 0) {
            ready.emplace(graph.priority[static_cast<std::size_t>(t)], t);
            readyOrDone.notify_one();
        }
    }

    // Records that task t has returned and releases the tasks that waited only for it.
    void finish(int32_t t) {
        std::lock_guard<std::mutex> lock(mutex);
        const std::size_t begin = static_cast<std::size_t>(graph.dependentStart[static_cast<std::size_t>(t)]);
        const std::size_t end = static_cast<std::size_t>(graph.dependentStart[static_cast<std::size_t>(t) + 1]);
        for (std::size_t k = begin; k < end; ++k) {
            const int32_t d = graph.dependents[k];
            if (--waitingFor[static_cast<std::size_t>(d)] == 0) {
                ready.emplace(graph.priority[static_cast<std::size_t>(d)], d);
                readyOrDone.notify_one();
            }
        }
        if (--unfinished == 0) readyOrDone.notify_all();
    }
};

}  // namespace

void runTaskGraph(const TaskGraph& graph, int threads, const std::function<void(int32_t)>& run,
                  const PollWork& poll) {
    runTaskGraph(graph, threads, [&](int32_t t, const TaskQueue& queue) {
        run(t);
        queue.finish(t);
    }, poll);
}

void runTaskGraph(const TaskGraph& graph, int threads, const RunTasks& run, const PollWork& poll) {
    SchedulerState state(graph);
    std::mutex polling;  // one poller at a time
    const ReleaseTask release = [&](int32_t t) { state.release(t); };
    const auto pollOnce = [&](bool idle) {
        std::unique_lock<std::mutex> lock(polling, std::try_to_lock);
        if (lock.owns_lock()) poll(idle, release);
    };
    const bool timed = static_cast<bool>(poll);
    const TaskQueue queue{[&](int atLeast) { return state.takeMore(atLeast); },
                          [&](int32_t t) {
                              state.finish(t);
                              if (timed) pollOnce(false);
                          }};
    auto work = [&] {
        for (;;) {
            const int32_t t = state.take(timed, std::chrono::microseconds(200));
            if (t == -1) break;
            if (t >= 0) {
                run(t, queue);
            } else {
                pollOnce(true);
            }
        }
    };
    std::vector<std::thread> workers;
    for (int k = 1; k < threads; ++k) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // the system gives no more threads: run on those there are
        }
    }
    work();  // the calling thread is one of the workers
    for (std::thread& worker : workers) worker.join();
}

#include "eventPlan.h"

#include <algorithm>
#include <utility>

bool computesCell(const Cell& cell, const std::vector<int32_t>& riverNumList) {
    const bool computedKind = cell.kind == kSlopeCell || cell.kind == kChannelCell || cell.kind == kDamCell ||
                              cell.kind == kReservoirCell;
    return computedKind && isListedRiver(riverNumList, cell.riverNum);
}

namespace {

// Priorities that make one worker finish a subtree of the drainage network
// before it starts the next, larger subtrees first: the post-order rank of a
// depth-first walk from the tasks nobody waits for, over the tasks each one
// waits for. A finished series then waits only for the few siblings on the
// current path of the walk, not for a whole accumulation level. In a share,
// the tasks whose series other processes wait for (`urgent`) start the walk,
// so that those processes wait as little as possible.
void setDepthFirstPriorities(TaskGraph& graph, const std::vector<std::pair<int32_t, int32_t>>& edges,
                             const std::vector<char>& urgent) {
    const std::size_t n = static_cast<std::size_t>(graph.size());
    // What each task waits for, as lists.
    std::vector<int32_t> start(n + 1, 0), waitsFor(edges.size());
    for (const auto& edge : edges) ++start[static_cast<std::size_t>(edge.second) + 1];
    for (std::size_t t = 0; t < n; ++t) start[t + 1] += start[t];
    std::vector<int32_t> fill(start.begin(), start.end() - 1);
    for (const auto& [task, dependent] : edges) waitsFor[static_cast<std::size_t>(fill[static_cast<std::size_t>(dependent)]++)] = task;

    // Size of each task's subtree; a task only waits for earlier tasks.
    std::vector<int64_t> size(n, 1);
    for (std::size_t t = 0; t < n; ++t)
        for (int32_t k = start[t]; k < start[t + 1]; ++k) size[t] += size[static_cast<std::size_t>(waitsFor[static_cast<std::size_t>(k)])];
    const auto larger = [&](int32_t a, int32_t b) {
        const int64_t sa = size[static_cast<std::size_t>(a)], sb = size[static_cast<std::size_t>(b)];
        return sa != sb ? sa > sb : a < b;
    };
    for (std::size_t t = 0; t < n; ++t) std::sort(waitsFor.begin() + start[t], waitsFor.begin() + start[t + 1], larger);

    std::vector<int32_t> roots;
    for (std::size_t t = 0; t < n; ++t)
        if (graph.dependentStart[t] == graph.dependentStart[t + 1]) roots.push_back(static_cast<int32_t>(t));
    std::sort(roots.begin(), roots.end(), [&](int32_t a, int32_t b) {
        const bool ua = !urgent.empty() && urgent[static_cast<std::size_t>(a)];
        const bool ub = !urgent.empty() && urgent[static_cast<std::size_t>(b)];
        return ua != ub ? ua : larger(a, b);
    });

    graph.priority.assign(n, 0);
    std::vector<char> seen(n, 0);
    std::vector<std::pair<int32_t, int32_t>> path;  // (task, next of its list to visit)
    int64_t rank = 0;
    for (const int32_t root : roots) {
        seen[static_cast<std::size_t>(root)] = 1;
        path.emplace_back(root, start[static_cast<std::size_t>(root)]);
        while (!path.empty()) {
            auto& [task, next] = path.back();
            if (next < start[static_cast<std::size_t>(task) + 1]) {
                const int32_t child = waitsFor[static_cast<std::size_t>(next++)];
                if (!seen[static_cast<std::size_t>(child)]) {
                    seen[static_cast<std::size_t>(child)] = 1;
                    path.emplace_back(child, start[static_cast<std::size_t>(child)]);
                }
            } else {
                graph.priority[static_cast<std::size_t>(task)] = rank++;
                path.pop_back();
            }
        }
    }
}

}  // namespace

namespace {

// Share only: per entry, whether an own task reads the series of that entry of
// another process (it reads the latest earlier entry of each upstream cell).
std::vector<char> entriesReadHere(const CellGrid& grid, const CalcOrder& order,
                                  const std::vector<int32_t>& riverNumList, std::size_t entries) {
    std::vector<int32_t> lastEntry(grid.cellCount(), -1);
    std::vector<char> read(entries, 0);
    for (std::size_t e = 0; e < entries; ++e) {
        const int32_t i = grid.index(order.entries[e].first, order.entries[e].second);
        if (!computesAt(grid, i, riverNumList)) continue;
        if (grid.owns(i)) {
            const Cell& cell = grid.cell(i);
            for (int k = 0; k < cell.numUpstream; ++k) {
                const int32_t u = cell.upstream[static_cast<std::size_t>(k)];
                if (!grid.owns(u) && lastEntry[static_cast<std::size_t>(u)] >= 0)
                    read[static_cast<std::size_t>(lastEntry[static_cast<std::size_t>(u)])] = 1;
            }
        }
        lastEntry[static_cast<std::size_t>(i)] = static_cast<int32_t>(e);
    }
    return read;
}

}  // namespace

bool computesAt(const CellGrid& grid, int32_t i, const std::vector<int32_t>& riverNumList) {
    if (grid.holds(i)) return computesCell(grid.cell(i), riverNumList);
    // A cell that is not held is a slope, channel, dam or reservoir cell unless on the border.
    return !grid.isEdgeAt(i) && isListedRiver(riverNumList, grid.riverNumAt(i));
}

EventPlan planEvent(const CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList) {
    EventPlan plan;
    std::size_t entries = 0;
    for (int32_t g = 0; g < order.groupCount; ++g) {
        plan.groupStart.push_back(entries);
        entries += static_cast<std::size_t>(order.groupSizes[static_cast<std::size_t>(g)]);
    }
    plan.taskOfEntry.assign(entries, kNoTask);
    plan.entryComputes.assign(entries, 0);
    const bool share = grid.isShare();
    const std::vector<char> readHere = share ? entriesReadHere(grid, order, riverNumList, entries) : std::vector<char>();

    std::vector<int32_t> lastTask(grid.cellCount(), kNoTask);  // per cell: its latest task so far
    // Readers of each task's series, as linked lists through `readLinks`.
    std::vector<int32_t> firstReader;
    std::vector<std::pair<int32_t, int32_t>> readLinks;  // (reader, next link)
    std::vector<std::pair<int32_t, int32_t>> edges;      // (task, task that waits for it)
    std::vector<std::pair<int32_t, int32_t>> sends;      // share: (own task, process reading it)

    for (std::size_t e = 0; e < entries; ++e) {
        const int32_t i = grid.index(order.entries[e].first, order.entries[e].second);
        if (!computesAt(grid, i, riverNumList)) continue;
        plan.entryComputes[e] = 1;
        const int32_t t = static_cast<int32_t>(plan.tasks.size());
        CellTask task;
        task.cell = i;
        task.entry = static_cast<int32_t>(e);
        if (!grid.owns(i)) {
            // Another process computes this entry: note which own series it
            // reads, and keep a task for its series if an own task reads it.
            if (grid.holds(i)) {
                const Cell& cell = grid.cell(i);
                for (int k = 0; k < cell.numUpstream; ++k) {
                    const int32_t u = cell.upstream[static_cast<std::size_t>(k)];
                    const int32_t producer = lastTask[static_cast<std::size_t>(u)];
                    if (grid.owns(u) && producer != kNoTask) sends.emplace_back(producer, grid.ownerOf(i));
                }
            }
            lastTask[static_cast<std::size_t>(i)] = kNoTask;
            if (!readHere[e]) continue;
            task.remote = true;
            lastTask[static_cast<std::size_t>(i)] = t;
            plan.taskOfEntry[e] = t;
            plan.tasks.push_back(task);
            firstReader.push_back(-1);
            continue;
        }
        const Cell& cell = grid.cell(i);
        for (int k = 0; k < cell.numUpstream; ++k) {
            const int32_t producer = lastTask[static_cast<std::size_t>(cell.upstream[static_cast<std::size_t>(k)])];
            task.reads[static_cast<std::size_t>(k)] = producer;
            if (producer == kNoTask) continue;
            edges.emplace_back(producer, t);
            ++plan.tasks[static_cast<std::size_t>(producer)].readers;
            readLinks.emplace_back(t, firstReader[static_cast<std::size_t>(producer)]);
            firstReader[static_cast<std::size_t>(producer)] = static_cast<int32_t>(readLinks.size() - 1);
        }
        const int32_t previous = lastTask[static_cast<std::size_t>(i)];
        if (previous != kNoTask) {
            edges.emplace_back(previous, t);
            for (int32_t link = firstReader[static_cast<std::size_t>(previous)]; link >= 0;
                 link = readLinks[static_cast<std::size_t>(link)].second)
                edges.emplace_back(readLinks[static_cast<std::size_t>(link)].first, t);
        }
        lastTask[static_cast<std::size_t>(i)] = t;
        plan.taskOfEntry[e] = t;
        plan.tasks.push_back(task);
        firstReader.push_back(-1);
    }
    const int32_t count = static_cast<int32_t>(plan.tasks.size());
    setDependencies(plan.graph, count, edges);
    std::vector<char> urgent;
    if (share) {
        urgent.assign(static_cast<std::size_t>(count), 0);
        for (const auto& send : sends) urgent[static_cast<std::size_t>(send.first)] = 1;
    }
    setDepthFirstPriorities(plan.graph, edges, urgent);
    if (share) {
        // A series from elsewhere is one more thing its task waits for.
        for (int32_t t = 0; t < count; ++t)
            if (plan.tasks[static_cast<std::size_t>(t)].remote) ++plan.graph.dependencyCount[static_cast<std::size_t>(t)];
        std::sort(sends.begin(), sends.end());
        sends.erase(std::unique(sends.begin(), sends.end()), sends.end());
        plan.readerStart.assign(static_cast<std::size_t>(count) + 1, 0);
        for (const auto& send : sends) ++plan.readerStart[static_cast<std::size_t>(send.first) + 1];
        for (std::size_t t = 0; t < static_cast<std::size_t>(count); ++t) plan.readerStart[t + 1] += plan.readerStart[t];
        for (const auto& send : sends) plan.readerRanks.push_back(send.second);
    }
    return plan;
}

// The task graph of a run: the dependents lists, the edges that keep a
// recomputed cell from overwriting a series still being read, and the
// depth-first priorities on smallBasin().

#include "eventPlan.h"
#include "modelCells.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Entries = std::vector<std::pair<int32_t, int32_t>>;

// smallBasin() with its interior cells computed, planned in `entries` (one group).
EventPlan planOf(const Entries& entries) {
    const CellGrid grid = [] {
        CellGrid g = gridFrom(smallBasin(), modelParams());
        for (Cell& cell : g.cells)
            if (cell.flowAcc > 0) cell.kind = kSlopeCell;
        return g;
    }();
    CalcOrder order;
    order.groupCount = 1;
    order.groupSizes = {static_cast<int32_t>(entries.size())};
    order.cellCount = order.groupSizes[0];
    order.entries = entries;
    return planEvent(grid, order, {0});
}

// The tasks t waits for.
std::vector<int32_t> waitsFor(const TaskGraph& g, int32_t t) {
    std::vector<int32_t> tasks;
    for (int32_t u = 0; u < g.size(); ++u)
        for (int32_t k = g.dependentStart[static_cast<std::size_t>(u)]; k < g.dependentStart[static_cast<std::size_t>(u) + 1]; ++k)
            if (g.dependents[static_cast<std::size_t>(k)] == t) tasks.push_back(u);
    return tasks;
}

TEST(TaskGraph, DependentsListsAndCounts) {
    TaskGraph g;
    setDependencies(g, 4, {{2, 3}, {0, 1}, {0, 3}, {1, 3}, {0, 2}});
    EXPECT_EQ(g.dependentStart, (std::vector<int32_t>{0, 3, 4, 5, 5}));  // tasks + 1 entries, the last the edge count
    EXPECT_EQ(g.dependents, (std::vector<int32_t>{1, 3, 2, 3, 3}));
    EXPECT_EQ(g.dependencyCount, (std::vector<int32_t>{0, 1, 1, 3}));
}

TEST(EventPlan, RecomputingACellWaitsForTheReadersOfItsSeries) {
    // (1, 1) drains into (2, 1): A, then B reading A, then A again, which
    // continues A's state and overwrites the series B reads.
    const EventPlan plan = planOf({{1, 1}, {2, 1}, {1, 1}});
    ASSERT_EQ(plan.tasks.size(), 3u);
    EXPECT_EQ(plan.tasks[1].reads[0], 0);
    EXPECT_EQ(plan.tasks[0].readers, 1);
    EXPECT_EQ(waitsFor(plan.graph, 1), (std::vector<int32_t>{0}));
    EXPECT_EQ(waitsFor(plan.graph, 2), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(plan.graph.dependencyCount, (std::vector<int32_t>{0, 1, 2}));
}

TEST(EventPlan, PrioritiesFinishEachSubtreeBeforeTheNextLargerFirst) {
    // The mouth (2, 3) gathers (2, 2), whose subtree is (1, 2) and (2, 1) <- (1, 1), and (1, 3).
    const Entries entries = {{1, 1}, {1, 2}, {1, 3}, {2, 1}, {2, 2}, {2, 3}};
    const EventPlan plan = planOf(entries);
    ASSERT_EQ(plan.tasks.size(), entries.size());
    std::vector<Entries::value_type> byPriority(entries.size());
    for (std::size_t t = 0; t < entries.size(); ++t) {
        const int64_t p = plan.graph.priority[t];
        ASSERT_TRUE(p >= 0 && p < static_cast<int64_t>(entries.size()));
        byPriority[static_cast<std::size_t>(p)] = entries[t];
    }
    EXPECT_EQ(byPriority, (Entries{{1, 1}, {2, 1}, {1, 2}, {2, 2}, {1, 3}, {2, 3}}));
}

}  // namespace

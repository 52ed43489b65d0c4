#pragma once
// The computed cells of a run as a graph of tasks: which entries of the
// calculation order compute a cell, which finished series each of them reads,
// what each must wait for, and the order that keeps few series alive.
//
// An entry reads, for each upstream slot, the series of that upstream cell's
// last task earlier in the order, or zeros when there is none (the cell is not
// computed, or comes later). It waits for those tasks, for its own cell's
// previous task (whose node state it continues), and, when it recomputes a
// cell, for every task that reads that cell's previous series (which it is
// about to overwrite). Every edge runs from an earlier entry to a later one,
// so the graph is acyclic and any schedule gives the serial run's values.
//
// In a share of the grid (a process of a distributed run) the plan holds the
// entries of the cells this process computes, and one task for each entry of
// another process whose series they read: that task waits for the series to
// arrive (one dependency from outside the graph) and keeps it in a buffer of
// its own, so no edge guards it. Each own task lists the processes that read
// its series; they get a copy as soon as it is finished.

#include "calcOrder.h"
#include "grid.h"
#include "taskScheduler.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int32_t kNoTask = -1;

struct CellTask {
    int32_t cell = kNoCell;  // grid index
    int32_t entry = 0;       // position in the calculation order
    // Per upstream slot (numUpstream of them): the task whose series the cell
    // reads, or kNoTask for zeros.
    std::array<int32_t, kMaxUpstream> reads{kNoTask, kNoTask, kNoTask, kNoTask, kNoTask, kNoTask, kNoTask};
    int32_t readers = 0;  // tasks of this plan that read this task's series
    bool remote = false;  // computed by another process; its series arrives
};

struct EventPlan {
    std::vector<CellTask> tasks;          // in calculation order
    std::vector<int32_t> taskOfEntry;     // per entry: its task, or kNoTask
    std::vector<char> entryComputes;      // per entry: whether any process computes it
    std::vector<std::size_t> groupStart;  // per accumulation group: its first entry
    TaskGraph graph;                      // priorities: depth-first, larger subtrees first
    // Share only: the processes that read own task t's series are
    // readerRanks[readerStart[t] .. readerStart[t + 1]); empty without a share.
    std::vector<int32_t> readerStart;
    std::vector<int32_t> readerRanks;
};

// Whether an entry on this cell computes anything: a slope, channel, dam or
// reservoir cell of a listed river.
bool computesCell(const Cell& cell, const std::vector<int32_t>& riverNumList);
// The same for grid cell i, held or not.
bool computesAt(const CellGrid& grid, int32_t i, const std::vector<int32_t>& riverNumList);

// The plan of the groups' entries of `order` (which must name cells of the grid).
EventPlan planEvent(const CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList);

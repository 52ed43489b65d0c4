#pragma once
// Splitting the computed cells of a grid into parts of about equal work, one
// part per process of a distributed run.
//
// The drainage network is a forest: each basin is a tree whose root is its
// mouth. A basin that fits in a part stays whole. A larger basin is cut into
// connected sub-basins (subtrees) at confluences, each at most a fraction of
// a part, so that only a few tributaries' finished series cross between parts.
// The pieces are then dealt out largest first, each to the part with the
// least work so far. Everything is integer arithmetic on the inputs alone, so
// every process computes the same partition without asking the others.

#include <cstdint>
#include <vector>

// Work of one cell's event by kind, in relative units, as measured on the
// sample landscape at 200 x 200 on an idle machine (one day, 60 s steps, four
// segments): 1.05 ms for a slope cell, whose soil layers need the most
// iterations, 0.90 ms for a channel cell and 0.19 ms for a dam or reservoir,
// whose rule is simple but which writes a console line per step.
struct CellWeights {
    int64_t slope = 20;
    int64_t channel = 17;
    int64_t structure = 4;
};

struct Partition {
    int32_t parts = 1;
    std::vector<int32_t> partOf;  // per cell: its part, or -1 for a cell without work
    int64_t pieces = 0;           // whole basins and sub-basins dealt out
    std::vector<int32_t> pieceOf; // per cell: its piece, or -1
};

// Splits the cells of positive `weight` (per grid index) into `parts` parts;
// `downstream` gives each cell's downstream cell or -1 (from the flow codes).
// A cell whose downstream cell has no weight is the mouth of its basin. Flow
// codes that go round in a circle are cut open (such a cell becomes a mouth).
Partition partitionCells(const std::vector<int32_t>& downstream, const std::vector<int64_t>& weight, int32_t parts);

// What a partition costs a run.
struct PartitionFigures {
    double largestOverMean = 0.0;  // the largest part's work over the mean part's
    int64_t cutLinks = 0;          // cells whose downstream cell lies in another part
    // The critical path of the run in cells: the length of a simulated run in
    // which each part computes one cell at a time, ready cells in depth-first
    // order, and a finished series reaches the next part at once; its work
    // over the mean work of a cell. At least the largest part and the longest
    // flow path; near the mean part when waiting for other parts costs little.
    int64_t criticalPathCells = 0;
    int64_t longestFlowPath = 0;  // cells on the longest flow path (the bound for any partition)
};

PartitionFigures partitionFigures(const std::vector<int32_t>& downstream, const std::vector<int64_t>& weight,
                                  const Partition& partition);

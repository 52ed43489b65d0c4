#include "partition.h"

#include <algorithm>
#include <queue>
#include <utility>

namespace {

// The cells with work as a forest: each cell's parent is its downstream cell
// when that cell has work too, and `order` lists the cells upstream first.
struct Forest {
    std::vector<int32_t> parent;      // per cell, -1 for a mouth (and for cells without work)
    std::vector<int32_t> order;       // cells with work, every cell after all cells draining into it
    std::vector<int32_t> childStart;  // children of cell i: children[childStart[i] .. childStart[i + 1])
    std::vector<int32_t> children;
    std::vector<int64_t> upstreamWork;  // per cell: its work and that of every cell draining into it
    std::vector<int32_t> mouth;         // per cell with work: the mouth of its basin
};

Forest makeForest(const std::vector<int32_t>& downstream, const std::vector<int64_t>& weight) {
    const std::size_t n = weight.size();
    Forest f;
    f.parent.assign(n, -1);
    std::vector<int32_t> waiting(n, 0);  // children not yet ordered
    std::size_t active = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (weight[i] <= 0) continue;
        ++active;
        const int32_t d = downstream[i];
        if (d >= 0 && static_cast<std::size_t>(d) < n && weight[static_cast<std::size_t>(d)] > 0 &&
            static_cast<std::size_t>(d) != i) {
            f.parent[i] = d;
            ++waiting[static_cast<std::size_t>(d)];
        }
    }
    std::vector<char> ordered(n, 0);
    std::vector<int32_t> ready;
    for (std::size_t i = 0; i < n; ++i)
        if (weight[i] > 0 && waiting[i] == 0) ready.push_back(static_cast<int32_t>(i));
    f.order.reserve(active);
    std::size_t nextUnordered = 0;
    std::vector<int32_t> visited;  // per cell: the last walk that met it
    int32_t walk = 0;
    while (f.order.size() < active) {
        while (!ready.empty()) {
            const int32_t i = ready.back();
            ready.pop_back();
            ordered[static_cast<std::size_t>(i)] = 1;
            f.order.push_back(i);
            const int32_t p = f.parent[static_cast<std::size_t>(i)];
            if (p >= 0 && --waiting[static_cast<std::size_t>(p)] == 0) ready.push_back(p);
        }
        if (f.order.size() == active) break;
        // The rest lies on or below a circle of flow codes: walk down from the
        // first such cell until a cell repeats, and cut the circle there.
        while (ordered[nextUnordered] || weight[nextUnordered] <= 0) ++nextUnordered;
        if (visited.empty()) visited.assign(n, 0);
        ++walk;
        int32_t c = static_cast<int32_t>(nextUnordered);
        while (visited[static_cast<std::size_t>(c)] != walk) {
            visited[static_cast<std::size_t>(c)] = walk;
            c = f.parent[static_cast<std::size_t>(c)];
        }
        const int32_t p = f.parent[static_cast<std::size_t>(c)];
        f.parent[static_cast<std::size_t>(c)] = -1;
        if (--waiting[static_cast<std::size_t>(p)] == 0) ready.push_back(p);
    }
    f.childStart.assign(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        if (f.parent[i] >= 0) ++f.childStart[static_cast<std::size_t>(f.parent[i]) + 1];
    for (std::size_t i = 0; i < n; ++i) f.childStart[i + 1] += f.childStart[i];
    f.children.resize(static_cast<std::size_t>(f.childStart[n]));
    std::vector<int32_t> fill(f.childStart.begin(), f.childStart.end() - 1);
    for (std::size_t i = 0; i < n; ++i)
        if (f.parent[i] >= 0) f.children[static_cast<std::size_t>(fill[static_cast<std::size_t>(f.parent[i])]++)] = static_cast<int32_t>(i);
    f.upstreamWork.assign(n, 0);
    for (const int32_t i : f.order) {
        f.upstreamWork[static_cast<std::size_t>(i)] += weight[static_cast<std::size_t>(i)];
        const int32_t p = f.parent[static_cast<std::size_t>(i)];
        if (p >= 0) f.upstreamWork[static_cast<std::size_t>(p)] += f.upstreamWork[static_cast<std::size_t>(i)];
    }
    f.mouth.assign(n, -1);
    for (auto it = f.order.rbegin(); it != f.order.rend(); ++it) {
        const int32_t p = f.parent[static_cast<std::size_t>(*it)];
        f.mouth[static_cast<std::size_t>(*it)] = p < 0 ? *it : f.mouth[static_cast<std::size_t>(p)];
    }
    return f;
}

// Cuts the forest into pieces: basins of at most `fits` stay whole, larger
// ones are cut into subtrees of at most `limit` where a cell allows it (at a
// cell whose uncut upstream work is too large, the largest tributaries go
// first). Returns per cell its piece (numbered by piece mouth, upstream
// first) and per piece its work.
std::pair<std::vector<int32_t>, std::vector<int64_t>> cutPieces(const Forest& f, const std::vector<int64_t>& weight,
                                                                int64_t fits, int64_t limit) {
    const std::size_t n = weight.size();
    std::vector<int64_t> uncut(n, 0);  // upstream work not yet in a piece of its own
    std::vector<char> pieceMouth(n, 0);
    std::vector<std::pair<int64_t, int32_t>> tributaries;
    for (const int32_t i : f.order) {
        const std::size_t k = static_cast<std::size_t>(i);
        int64_t work = weight[k];
        tributaries.clear();
        for (int32_t c = f.childStart[k]; c < f.childStart[k + 1]; ++c) {
            const int32_t child = f.children[static_cast<std::size_t>(c)];
            work += uncut[static_cast<std::size_t>(child)];
            tributaries.emplace_back(uncut[static_cast<std::size_t>(child)], child);
        }
        if (f.upstreamWork[static_cast<std::size_t>(f.mouth[k])] > fits && work > limit) {
            std::sort(tributaries.begin(), tributaries.end(),
                      [](const auto& a, const auto& b) { return a.first != b.first ? a.first > b.first : a.second < b.second; });
            for (const auto& [childWork, child] : tributaries) {
                if (work <= limit) break;
                pieceMouth[static_cast<std::size_t>(child)] = 1;
                work -= childWork;
            }
        }
        uncut[k] = work;
        if (f.parent[k] < 0) pieceMouth[k] = 1;
    }
    std::vector<int32_t> pieceOf(n, -1);
    std::vector<int64_t> pieceWork;
    std::vector<int32_t> idOfMouth(n, -1);
    for (const int32_t i : f.order) {
        if (!pieceMouth[static_cast<std::size_t>(i)]) continue;
        idOfMouth[static_cast<std::size_t>(i)] = static_cast<int32_t>(pieceWork.size());
        pieceWork.push_back(uncut[static_cast<std::size_t>(i)]);
    }
    for (auto it = f.order.rbegin(); it != f.order.rend(); ++it) {
        const std::size_t k = static_cast<std::size_t>(*it);
        pieceOf[k] = pieceMouth[k] ? idOfMouth[k] : pieceOf[static_cast<std::size_t>(f.parent[k])];
    }
    return {std::move(pieceOf), std::move(pieceWork)};
}

// Deals the pieces out, largest first (ties: the piece listed first), each to
// the part with the least work so far (ties: the lower part). Returns the
// part of each piece and the largest part's work.
std::pair<std::vector<int32_t>, int64_t> dealPieces(const std::vector<int64_t>& pieceWork, int32_t parts) {
    std::vector<int32_t> byWork(pieceWork.size());
    for (std::size_t p = 0; p < byWork.size(); ++p) byWork[p] = static_cast<int32_t>(p);
    std::stable_sort(byWork.begin(), byWork.end(), [&](int32_t a, int32_t b) {
        return pieceWork[static_cast<std::size_t>(a)] > pieceWork[static_cast<std::size_t>(b)];
    });
    std::priority_queue<std::pair<int64_t, int32_t>, std::vector<std::pair<int64_t, int32_t>>, std::greater<>> loads;
    for (int32_t part = 0; part < parts; ++part) loads.emplace(0, part);
    std::vector<int32_t> partOfPiece(pieceWork.size(), 0);
    for (const int32_t piece : byWork) {
        auto [load, part] = loads.top();
        loads.pop();
        partOfPiece[static_cast<std::size_t>(piece)] = part;
        loads.emplace(load + pieceWork[static_cast<std::size_t>(piece)], part);
    }
    int64_t largest = 0;
    while (!loads.empty()) {
        largest = std::max(largest, loads.top().first);
        loads.pop();
    }
    return {std::move(partOfPiece), largest};
}

}  // namespace

Partition partitionCells(const std::vector<int32_t>& downstream, const std::vector<int64_t>& weight, int32_t parts) {
    Partition result;
    result.parts = std::max<int32_t>(1, parts);
    const Forest forest = makeForest(downstream, weight);
    int64_t work = 0;
    for (const int32_t i : forest.order) work += weight[static_cast<std::size_t>(i)];
    const int64_t target = (work + result.parts - 1) / result.parts;  // a part's share of the work

    // Finer pieces balance better but cut more links: take the coarsest cut
    // that brings the largest part within 2 % of the mean, else the best seen.
    std::vector<int32_t> bestPieceOf, bestPartOfPiece;
    int64_t bestLargest = -1;
    for (int64_t split = 4; split <= 256; split *= 2) {
        auto [pieceOf, pieceWork] = cutPieces(forest, weight, target, std::max<int64_t>(1, target / split));
        auto [partOfPiece, largest] = dealPieces(pieceWork, result.parts);
        if (bestLargest < 0 || largest < bestLargest) {
            bestLargest = largest;
            bestPieceOf = std::move(pieceOf);
            bestPartOfPiece = std::move(partOfPiece);
        }
        if (result.parts == 1 || static_cast<double>(largest) * result.parts <= 1.02 * static_cast<double>(work)) break;
    }
    result.partOf.assign(weight.size(), -1);
    for (const int32_t i : forest.order) {
        const int32_t piece = bestPieceOf[static_cast<std::size_t>(i)];
        result.partOf[static_cast<std::size_t>(i)] = bestPartOfPiece[static_cast<std::size_t>(piece)];
    }
    result.pieces = static_cast<int64_t>(bestPartOfPiece.size());
    result.pieceOf = std::move(bestPieceOf);
    return result;
}

namespace {

// Per cell with work, its place in a depth-first walk of the forest from the
// mouths, larger subtrees first, each cell after the cells draining into it.
std::vector<int64_t> depthFirstRanks(const Forest& f, const std::vector<int64_t>& weight) {
    std::vector<int64_t> rank(weight.size(), -1);
    const std::vector<int64_t>& size = f.upstreamWork;
    const auto larger = [&](int32_t a, int32_t b) {
        return size[static_cast<std::size_t>(a)] != size[static_cast<std::size_t>(b)]
                   ? size[static_cast<std::size_t>(a)] > size[static_cast<std::size_t>(b)]
                   : a < b;
    };
    std::vector<int32_t> roots;
    for (const int32_t i : f.order)
        if (f.parent[static_cast<std::size_t>(i)] < 0) roots.push_back(i);
    std::sort(roots.begin(), roots.end(), larger);
    std::vector<int32_t> kids;
    std::vector<std::pair<int32_t, std::vector<int32_t>>> path;  // (cell, its children still to visit, reversed)
    int64_t next = 0;
    for (const int32_t root : roots) {
        path.emplace_back(root, std::vector<int32_t>());
        for (;;) {
            if (path.empty()) break;
            auto& [cell, todo] = path.back();
            if (rank[static_cast<std::size_t>(cell)] == -1) {  // first visit: list the children
                rank[static_cast<std::size_t>(cell)] = -2;
                kids.assign(f.children.begin() + f.childStart[static_cast<std::size_t>(cell)],
                            f.children.begin() + f.childStart[static_cast<std::size_t>(cell) + 1]);
                std::sort(kids.begin(), kids.end(), [&](int32_t a, int32_t b) { return larger(b, a); });
                todo = kids;
            }
            if (!todo.empty()) {
                const int32_t child = todo.back();
                todo.pop_back();
                path.emplace_back(child, std::vector<int32_t>());
            } else {
                rank[static_cast<std::size_t>(cell)] = next++;
                path.pop_back();
            }
        }
    }
    return rank;
}

// The length of the simulated run (see PartitionFigures::criticalPathCells), in work.
int64_t simulatedRun(const Forest& f, const std::vector<int64_t>& weight, const Partition& partition) {
    const std::size_t n = weight.size();
    const std::vector<int64_t> rank = depthFirstRanks(f, weight);
    std::vector<int32_t> waiting(n, 0);
    for (const int32_t i : f.order)
        if (f.parent[static_cast<std::size_t>(i)] >= 0) ++waiting[static_cast<std::size_t>(f.parent[static_cast<std::size_t>(i)])];
    using Ready = std::priority_queue<std::pair<int64_t, int32_t>, std::vector<std::pair<int64_t, int32_t>>, std::greater<>>;
    std::vector<Ready> ready(static_cast<std::size_t>(partition.parts));
    std::vector<char> busy(static_cast<std::size_t>(partition.parts), 0);
    // Events: (time, cell finishing on its part).
    std::priority_queue<std::pair<int64_t, int32_t>, std::vector<std::pair<int64_t, int32_t>>, std::greater<>> events;
    const auto start = [&](int32_t part, int64_t now) {
        Ready& queue = ready[static_cast<std::size_t>(part)];
        busy[static_cast<std::size_t>(part)] = !queue.empty();
        if (queue.empty()) return;
        const int32_t cell = queue.top().second;
        queue.pop();
        events.emplace(now + weight[static_cast<std::size_t>(cell)], cell);
    };
    for (const int32_t i : f.order)
        if (waiting[static_cast<std::size_t>(i)] == 0)
            ready[static_cast<std::size_t>(partition.partOf[static_cast<std::size_t>(i)])].emplace(rank[static_cast<std::size_t>(i)], i);
    for (int32_t part = 0; part < partition.parts; ++part) start(part, 0);
    int64_t end = 0;
    while (!events.empty()) {
        const auto [now, cell] = events.top();
        events.pop();
        end = now;
        const int32_t p = f.parent[static_cast<std::size_t>(cell)];
        if (p >= 0 && --waiting[static_cast<std::size_t>(p)] == 0) {
            const int32_t part = partition.partOf[static_cast<std::size_t>(p)];
            ready[static_cast<std::size_t>(part)].emplace(rank[static_cast<std::size_t>(p)], p);
            if (!busy[static_cast<std::size_t>(part)]) start(part, now);
        }
        start(partition.partOf[static_cast<std::size_t>(cell)], now);
    }
    return end;
}

}  // namespace

PartitionFigures partitionFigures(const std::vector<int32_t>& downstream, const std::vector<int64_t>& weight,
                                  const Partition& partition) {
    PartitionFigures figures;
    const Forest forest = makeForest(downstream, weight);
    std::vector<int64_t> load(static_cast<std::size_t>(partition.parts), 0);
    int64_t work = 0;
    std::vector<int64_t> depth(weight.size(), 0);  // cells on the longest flow path ending here
    for (const int32_t i : forest.order) {
        const std::size_t k = static_cast<std::size_t>(i);
        load[static_cast<std::size_t>(partition.partOf[k])] += weight[k];
        work += weight[k];
        depth[k] += 1;
        figures.longestFlowPath = std::max(figures.longestFlowPath, depth[k]);
        const int32_t p = forest.parent[k];
        if (p < 0) continue;
        depth[static_cast<std::size_t>(p)] = std::max(depth[static_cast<std::size_t>(p)], depth[k]);
        if (partition.partOf[static_cast<std::size_t>(p)] != partition.partOf[k]) ++figures.cutLinks;
    }
    const int64_t largest = load.empty() ? 0 : *std::max_element(load.begin(), load.end());
    figures.largestOverMean = work == 0 ? 1.0 : static_cast<double>(largest) * partition.parts / static_cast<double>(work);
    const double cellWork = forest.order.empty() ? 1.0 : static_cast<double>(work) / static_cast<double>(forest.order.size());
    figures.criticalPathCells =
        static_cast<int64_t>(static_cast<double>(simulatedRun(forest, weight, partition)) / cellWork + 0.5);
    return figures;
}

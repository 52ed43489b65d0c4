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
    std::vector<int64_t> total(n, 0);  // whole upstream work
    for (const int32_t i : f.order) {
        total[static_cast<std::size_t>(i)] += weight[static_cast<std::size_t>(i)];
        const int32_t p = f.parent[static_cast<std::size_t>(i)];
        if (p >= 0) total[static_cast<std::size_t>(p)] += total[static_cast<std::size_t>(i)];
    }
    std::vector<int32_t> basin(n, -1);  // per cell: its mouth
    for (auto it = f.order.rbegin(); it != f.order.rend(); ++it) {
        const int32_t p = f.parent[static_cast<std::size_t>(*it)];
        basin[static_cast<std::size_t>(*it)] = p < 0 ? *it : basin[static_cast<std::size_t>(p)];
    }
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
        if (total[static_cast<std::size_t>(basin[k])] > fits && work > limit) {
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

PartitionFigures partitionFigures(const std::vector<int32_t>& downstream, const std::vector<int64_t>& weight,
                                  const Partition& partition) {
    PartitionFigures figures;
    const Forest forest = makeForest(downstream, weight);
    std::vector<int64_t> load(static_cast<std::size_t>(partition.parts), 0);
    int64_t work = 0;
    std::vector<int64_t> depth(weight.size(), 0);       // cells on the longest flow path ending here
    std::vector<int64_t> pieceCells(static_cast<std::size_t>(partition.pieces), 0);
    std::vector<int64_t> chain(static_cast<std::size_t>(partition.pieces), 0);  // heaviest chain of pieces above
    for (const int32_t i : forest.order) {
        const std::size_t k = static_cast<std::size_t>(i);
        load[static_cast<std::size_t>(partition.partOf[k])] += weight[k];
        work += weight[k];
        ++pieceCells[static_cast<std::size_t>(partition.pieceOf[k])];
    }
    for (const int32_t i : forest.order) {
        const std::size_t k = static_cast<std::size_t>(i);
        depth[k] += 1;
        figures.longestFlowPath = std::max(figures.longestFlowPath, depth[k]);
        const int32_t p = forest.parent[k];
        const std::size_t piece = static_cast<std::size_t>(partition.pieceOf[k]);
        if (p < 0) continue;
        depth[static_cast<std::size_t>(p)] = std::max(depth[static_cast<std::size_t>(p)], depth[k]);
        if (partition.partOf[static_cast<std::size_t>(p)] != partition.partOf[k]) ++figures.cutLinks;
        const std::size_t below = static_cast<std::size_t>(partition.pieceOf[static_cast<std::size_t>(p)]);
        // Cells come upstream first, so a piece's chain is complete when its mouth passes it on.
        if (below != piece) chain[below] = std::max(chain[below], chain[piece] + pieceCells[piece]);
    }
    for (std::size_t piece = 0; piece < chain.size(); ++piece)
        figures.criticalPathCells = std::max(figures.criticalPathCells, chain[piece] + pieceCells[piece]);
    const int64_t largest = load.empty() ? 0 : *std::max_element(load.begin(), load.end());
    figures.largestOverMean = work == 0 ? 1.0 : static_cast<double>(largest) * partition.parts / static_cast<double>(work);
    return figures;
}

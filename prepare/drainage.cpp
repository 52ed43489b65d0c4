#include "drainage.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

int32_t Drainage::downstreamOf(int32_t i) const {
    const int32_t code = flowDir[static_cast<std::size_t>(i)];
    if (code == 0) return -1;
    const int32_t r = i / ncols, c = i % ncols;
    return (r + kFlowRowStep[code]) * ncols + c + kFlowColStep[code];
}

namespace {

std::vector<uint8_t> computedCells(const DemGrid& grid) {
    std::vector<uint8_t> computed(grid.size(), 0);
    for (int r = 1; r + 1 < grid.nrows; ++r) {
        for (int c = 1; c + 1 < grid.ncols; ++c) {
            const std::size_t i = static_cast<std::size_t>(grid.index(r, c));
            computed[i] = grid.hasData(i) ? 1 : 0;
        }
    }
    return computed;
}

// Steepest-descent code of computed cell (r, c), 0 when its water leaves the
// computed area here. `distance` holds the spacing of codes 1..8 for this row.
int32_t steepestCode(const DemGrid& grid, const std::vector<float>& filled, int r, int c, const double* distance) {
    const double here = filled[static_cast<std::size_t>(grid.index(r, c))];
    int32_t best = 0;
    double bestSlope = 0.0;
    for (int code = 1; code <= 8; ++code) {
        const std::size_t n = static_cast<std::size_t>(grid.index(r + kFlowRowStep[code], c + kFlowColStep[code]));
        if (!grid.hasData(n)) continue;
        const double drop = here - static_cast<double>(filled[n]);  // exact: a difference of two float32 values
        if (drop <= 0.0) continue;
        const double slope = drop / distance[code];
        if (slope > bestSlope) {
            bestSlope = slope;
            best = code;
        }
    }
    if (best != 0 && grid.isBorder(r + kFlowRowStep[best], c + kFlowColStep[best])) return 0;  // leaves over the ring
    return best;
}

}  // namespace

std::vector<int32_t> flowDirections(const DemGrid& grid, const std::vector<float>& filled) {
    std::vector<int32_t> flowDir(grid.size(), 0);
    const double pi = std::acos(-1.0);
    for (int r = 1; r + 1 < grid.nrows; ++r) {
        // Spacing in units of the north-south cell height; kept away from zero near the poles.
        const double ew = std::max(std::cos(grid.rowLatitude(r) * pi / 180.0), 1e-6);
        const double diagonal = std::sqrt(1.0 + ew * ew);
        const double distance[9] = {0.0, 1.0, diagonal, ew, diagonal, 1.0, diagonal, ew, diagonal};
        for (int c = 1; c + 1 < grid.ncols; ++c) {
            if (grid.hasData(static_cast<std::size_t>(grid.index(r, c)))) {  // inside the ring: computed
                flowDir[static_cast<std::size_t>(grid.index(r, c))] = steepestCode(grid, filled, r, c, distance);
            }
        }
    }
    return flowDir;
}

namespace {

// Accumulation, path length and Strahler order in topological order (Kahn):
// a cell is taken once every cell draining into it has been taken.
void accumulate(Drainage& d) {
    const std::size_t n = d.flowDir.size();
    std::vector<int32_t> donors(n, 0), longestIn(n, 0), highestIn(n, 0), highestCount(n, 0);
    std::size_t computedCount = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!d.computed[i]) continue;
        ++computedCount;
        const int32_t down = d.downstreamOf(static_cast<int32_t>(i));
        if (down >= 0) ++donors[static_cast<std::size_t>(down)];
    }
    d.order.clear();
    d.order.reserve(computedCount);
    for (std::size_t i = 0; i < n; ++i) {
        if (d.computed[i] && donors[i] == 0) d.order.push_back(static_cast<int32_t>(i));
    }
    for (std::size_t k = 0; k < d.order.size(); ++k) {
        const int32_t i = d.order[k];
        const std::size_t u = static_cast<std::size_t>(i);
        d.flowAcc[u] += 1;  // donors have already added theirs
        d.pathLength[u] = longestIn[u] + 1;
        d.streamOrder[u] = highestIn[u] == 0 ? 1 : highestIn[u] + (highestCount[u] >= 2 ? 1 : 0);
        const int32_t down = d.downstreamOf(i);
        if (down < 0) continue;
        const std::size_t v = static_cast<std::size_t>(down);
        d.flowAcc[v] += d.flowAcc[u];
        longestIn[v] = std::max(longestIn[v], d.pathLength[u]);
        if (d.streamOrder[u] > highestIn[v]) {
            highestIn[v] = d.streamOrder[u];
            highestCount[v] = 1;
        } else if (d.streamOrder[u] == highestIn[v]) {
            ++highestCount[v];
        }
        if (--donors[v] == 0) d.order.push_back(down);
    }
    // Every code points strictly downhill, so the network has no cycle.
    if (d.order.size() != computedCount) throw std::logic_error("flow network has a cycle");
}

}  // namespace

Drainage traceDrainage(const DemGrid& grid, const std::vector<float>& filled) {
    Drainage d;
    d.nrows = grid.nrows;
    d.ncols = grid.ncols;
    d.computed = computedCells(grid);
    d.flowDir = flowDirections(grid, filled);
    d.flowAcc.assign(grid.size(), 0);
    d.pathLength.assign(grid.size(), 0);
    d.streamOrder.assign(grid.size(), 0);
    accumulate(d);
    // Downstream cells come later in the order: walk it backwards to label basins by their mouth.
    d.mouthOf.assign(grid.size(), -1);
    for (auto it = d.order.rbegin(); it != d.order.rend(); ++it) {
        const int32_t down = d.downstreamOf(*it);
        d.mouthOf[static_cast<std::size_t>(*it)] = down < 0 ? *it : d.mouthOf[static_cast<std::size_t>(down)];
    }
    return d;
}

std::vector<BasinSummary> selectBasins(const Drainage& drainage, int32_t minCells, int32_t maxBasins) {
    std::vector<BasinSummary> basins;
    for (std::size_t i = 0; i < drainage.flowDir.size(); ++i) {
        if (!drainage.computed[i] || drainage.flowDir[i] != 0 || drainage.flowAcc[i] < minCells) continue;
        BasinSummary b;
        b.mouth = static_cast<int32_t>(i);
        b.cellCount = drainage.flowAcc[i];
        b.longestPath = drainage.pathLength[i];
        b.streamOrder = drainage.streamOrder[i];
        basins.push_back(b);
    }
    std::stable_sort(basins.begin(), basins.end(),
                     [](const BasinSummary& a, const BasinSummary& b) { return a.cellCount > b.cellCount; });
    if (maxBasins > 0 && basins.size() > static_cast<std::size_t>(maxBasins)) {
        basins.resize(static_cast<std::size_t>(maxBasins));
    }
    for (std::size_t k = 0; k < basins.size(); ++k) basins[k].number = static_cast<int32_t>(k);
    return basins;
}

std::vector<int32_t> riverNumbers(const Drainage& drainage, const std::vector<BasinSummary>& basins) {
    std::vector<int32_t> numberOfMouth(drainage.flowDir.size(), -1);
    for (const BasinSummary& b : basins) numberOfMouth[static_cast<std::size_t>(b.mouth)] = b.number;
    std::vector<int32_t> riverNum(drainage.flowDir.size(), -1);
    for (std::size_t i = 0; i < riverNum.size(); ++i) {
        if (drainage.computed[i]) riverNum[i] = numberOfMouth[static_cast<std::size_t>(drainage.mouthOf[i])];
    }
    return riverNum;
}

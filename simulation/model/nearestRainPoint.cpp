#include "nearestRainPoint.h"

#include "rainfall.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// Greatest distance that can still be chosen (the search starts from it and
// takes only a strictly smaller distance).
constexpr double kNoPointDistance = 1e29;

// The squared degree difference of one dimension, each step rounded to double.
inline double term(double x, double p) {
    const double d = x - p;
    return d * d;
}

// Sorted position of the coordinate whose term is least (the nearest one).
std::size_t nearestPosition(const RainAxis& axis, double x) {
    const std::size_t n = axis.sorted.size();
    const std::size_t k =
        static_cast<std::size_t>(std::lower_bound(axis.sorted.begin(), axis.sorted.end(), x) - axis.sorted.begin());
    if (k == 0) return 0;
    if (k == n) return n - 1;
    return term(x, axis.sorted[k - 1]) < term(x, axis.sorted[k]) ? k - 1 : k;
}

// The run of sorted positions around `start` where `reaches` holds. Requires
// `reaches(start)` and a predicate that, along the sorted coordinates, holds on
// one contiguous run (the distance falls towards the nearest coordinate and
// rises after it). Gallops outwards, then bisects: O(1) when the run is short.
template <typename Pred>
std::pair<std::size_t, std::size_t> reachRun(std::size_t start, std::size_t n, Pred reaches) {
    // Left end: the least lo <= start with reaches(lo).
    std::size_t lo = start, step = 1;
    std::size_t fails = start;  // a position known to fail, or `start` when none is known
    bool leftFails = false;
    while (lo > 0) {
        const std::size_t probe = lo >= step ? lo - step : 0;
        if (!reaches(probe)) {
            fails = probe;
            leftFails = true;
            break;
        }
        lo = probe;
        step *= 2;
    }
    if (leftFails) {  // reaches(lo) holds, reaches(fails) does not, fails < lo
        while (lo - fails > 1) {
            const std::size_t mid = fails + (lo - fails) / 2;
            if (reaches(mid)) lo = mid; else fails = mid;
        }
    }
    // Right end: the greatest hi >= start with reaches(hi).
    std::size_t hi = start;
    step = 1;
    bool rightFails = false;
    while (hi + 1 < n) {
        const std::size_t probe = n - 1 - hi >= step ? hi + step : n - 1;
        if (!reaches(probe)) {
            fails = probe;
            rightFails = true;
            break;
        }
        hi = probe;
        step *= 2;
    }
    if (rightFails) {
        while (fails - hi > 1) {
            const std::size_t mid = hi + (fails - hi) / 2;
            if (reaches(mid)) hi = mid; else fails = mid;
        }
    }
    return {lo, hi};
}

}  // namespace

int32_t RainAxis::firstIn(std::size_t lo, std::size_t hi) const {
    std::size_t level = 0;
    while ((std::size_t{2} << level) <= hi - lo + 1) ++level;
    const std::vector<int32_t>& row = firstIndex[level];
    return std::min(row[lo], row[hi + 1 - (std::size_t{1} << level)]);
}

RainAxis makeRainAxis(const std::vector<float>& coordinates) {
    RainAxis axis;
    const std::size_t n = coordinates.size();
    axis.byIndex.assign(coordinates.begin(), coordinates.end());
    axis.original.resize(n);
    std::iota(axis.original.begin(), axis.original.end(), 0);
    std::stable_sort(axis.original.begin(), axis.original.end(),
                     [&](int32_t a, int32_t b) { return axis.byIndex[static_cast<std::size_t>(a)] <
                                                        axis.byIndex[static_cast<std::size_t>(b)]; });
    axis.sorted.resize(n);
    for (std::size_t s = 0; s < n; ++s) axis.sorted[s] = axis.byIndex[static_cast<std::size_t>(axis.original[s])];
    // Sparse table of least indices: level k covers runs of 2^k positions.
    axis.firstIndex.push_back(axis.original);
    for (std::size_t width = 2; width <= n; width *= 2) {
        const std::vector<int32_t>& prev = axis.firstIndex.back();
        std::vector<int32_t> next(n - width + 1);
        for (std::size_t s = 0; s + width <= n; ++s) next[s] = std::min(prev[s], prev[s + width / 2]);
        axis.firstIndex.push_back(std::move(next));
    }
    return axis;
}

RainPointIndex makeRainPointIndex(const RainGrid& rain) {
    std::vector<float> latitudes(static_cast<std::size_t>(rain.rainRows));
    std::vector<float> longitudes(static_cast<std::size_t>(rain.rainCols));
    for (int i = 0; i < rain.rainRows; ++i) latitudes[static_cast<std::size_t>(i)] = rain.at(i, 0).latitude;
    for (int j = 0; j < rain.rainCols; ++j) longitudes[static_cast<std::size_t>(j)] = rain.at(0, j).longitude;
    return {makeRainAxis(latitudes), makeRainAxis(longitudes)};
}

RainPointChoice nearestRainPoint(const RainPointIndex& index, float latSec, float lonSec) {
    const double lat = static_cast<double>(latSec) / 3600.0;
    const double lon = static_cast<double>(lonSec) / 3600.0;
    const RainAxis& rows = index.rows;
    const RainAxis& cols = index.columns;
    if (!std::isfinite(lat) || !std::isfinite(lon) || rows.sorted.empty() || cols.sorted.empty()) return {};

    const std::size_t nearRow = nearestPosition(rows, lat);
    const std::size_t nearCol = nearestPosition(cols, lon);
    const double colTerm = term(lon, cols.sorted[nearCol]);
    // The least distance of all points, summed in the order of the distance formula.
    const double best = std::sqrt(term(lat, rows.sorted[nearRow]) + colTerm);
    if (!(best < kNoPointDistance)) return {};

    // Rows that reach `best` with a nearest column; the full search meets the least index first.
    const auto rowRun = reachRun(nearRow, rows.sorted.size(), [&](std::size_t s) {
        return std::sqrt(term(lat, rows.sorted[s]) + colTerm) <= best;
    });
    RainPointChoice choice;
    choice.i = rows.firstIn(rowRun.first, rowRun.second);
    const double rowTerm = term(lat, rows.byIndex[static_cast<std::size_t>(choice.i)]);
    // Columns that reach `best` in that row.
    const auto colRun = reachRun(nearCol, cols.sorted.size(), [&](std::size_t s) {
        return std::sqrt(rowTerm + term(lon, cols.sorted[s])) <= best;
    });
    choice.j = cols.firstIn(colRun.first, colRun.second);
    return choice;
}

RainPointChoice nearestRainPointBrute(const RainGrid& rain, float latSec, float lonSec) {
    const double lat = static_cast<double>(latSec) / 3600.0;
    const double lon = static_cast<double>(lonSec) / 3600.0;
    double best = kNoPointDistance;
    RainPointChoice choice;
    for (int i = 0; i < rain.rainRows; ++i) {
        for (int j = 0; j < rain.rainCols; ++j) {
            const RainPoint& p = rain.at(i, j);
            const double dLat = lat - static_cast<double>(p.latitude);
            const double dLon = lon - static_cast<double>(p.longitude);
            const double d = std::sqrt(dLat * dLat + dLon * dLon);
            if (best > d) {  // strict: a tie keeps the point found first
                choice.i = i;
                choice.j = j;
                best = d;
            }
        }
    }
    return choice;
}

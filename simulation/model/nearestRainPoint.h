#pragma once
// The rainfall point nearest to a study-area cell.
//
// The rule: with lat = latSec / 3600.0 and lon = lonSec / 3600.0 (double), the
// distance to point (i, j) is sqrt((lat - plat)^2 + (lon - plon)^2) in double,
// plain degrees, against the point's float32 coordinates; the first point in
// the order i = 0.. (south first), j = 0.. (west first) whose distance is below
// 1e29 and below that of every point before it is chosen. `nearestRainPointBrute`
// is that rule written out; `nearestRainPoint` gives the same (i, j) for every
// input in logarithmic time.
//
// Why the fast search is exact: the rainfall grid is separable (a row has one
// latitude, a column one longitude), and every step of the distance (x - p
// rounded, its square rounded, the sum rounded, sqrt) is monotone in the
// absolute difference of its own dimension. So the least distance is reached
// at the rows whose latitude term is least and the columns whose longitude term
// is least. With each dimension's coordinates sorted, the rows that reach the
// least distance together with a best column form one contiguous run around the
// nearest row; the first row the full search meets is the smallest index in
// that run, and the same then holds for the columns of that row. Sorting makes
// wrapped longitudes, negative or zero spacing and repeated coordinates need
// no special case.

#include <cstdint>
#include <vector>

struct RainGrid;

// The chosen point (row i from the south, column j from the west); i = -1 when
// no point is nearer than 1e29 (only absurd coordinates, or a non-finite cell).
struct RainPointChoice {
    int32_t i = -1;
    int32_t j = -1;
    bool found() const { return i >= 0; }
};

// One dimension of the rainfall grid, its coordinates in ascending order.
struct RainAxis {
    std::vector<double> sorted;         // coordinates (float32 values widened), ascending
    std::vector<int32_t> original;      // grid index of sorted[s]
    std::vector<double> byIndex;        // coordinate of grid index k
    std::vector<std::vector<int32_t>> firstIndex;  // [level][s]: least index in sorted[s .. s + 2^level)

    // Least grid index among sorted positions lo..hi (inclusive).
    int32_t firstIn(std::size_t lo, std::size_t hi) const;
};

// Requires coordinates with no NaN (infinities are allowed).
RainAxis makeRainAxis(const std::vector<float>& coordinates);

struct RainPointIndex {
    RainAxis rows;     // latitudes of the rows i
    RainAxis columns;  // longitudes of the columns j
};

// Built once per rainfall grid; read-only afterwards, so cells can be mapped in any order or in parallel.
RainPointIndex makeRainPointIndex(const RainGrid& rain);

// The nearest point of a cell centre given in arc-seconds.
RainPointChoice nearestRainPoint(const RainPointIndex& index, float latSec, float lonSec);

// The same by comparing the cell with every point: the reference for tests.
RainPointChoice nearestRainPointBrute(const RainGrid& rain, float latSec, float lonSec);

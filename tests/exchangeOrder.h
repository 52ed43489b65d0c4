#pragma once
// The calculation order by the plain exchange procedure, O(n^2), and
// accumulation grids shaped like drainage networks: the reference and the
// inputs against which the tests and the benchmark hold the fast ordering.

#include "calcOrder.h"
#include "grid.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

// The exchange procedure exactly as defined, with the index array moved alongside.
inline CalcOrder exchangeOrder(const CellGrid& grid) {
    const std::size_t n = grid.cells.size();
    std::vector<int32_t> a(n), idx(n);
    for (std::size_t q = 0; q < n; ++q) {
        a[q] = grid.cells[q].flowAcc;
        idx[q] = static_cast<int32_t>(q);
    }
    for (std::size_t p = 0; p < n; ++p)
        for (std::size_t q = p + 1; q < n; ++q)
            if (a[p] > a[q]) {
                std::swap(a[p], a[q]);
                std::swap(idx[p], idx[q]);
            }
    CalcOrder order;
    bool any = false;
    int32_t previous = 0;
    for (std::size_t p = 0; p < n; ++p) {
        if (a[p] <= 0) continue;
        if (!any || a[p] != previous) {
            order.groupSizes.push_back(0);
            any = true;
        }
        ++order.groupSizes.back();
        previous = a[p];
        order.entries.emplace_back(grid.rowOf(idx[p]), grid.colOf(idx[p]));
    }
    order.groupCount = static_cast<int32_t>(order.groupSizes.size());
    order.cellCount = static_cast<int32_t>(order.entries.size());
    return order;
}

// Accumulations of a random tree network (each cell drains to one of the three
// cells below it, a Scheidegger network): long chains of distinct values, as in
// real basins.
inline std::vector<int32_t> networkAccumulation(int rows, int cols, std::mt19937& g) {
    const std::size_t width = static_cast<std::size_t>(cols);
    std::vector<int32_t> acc(static_cast<std::size_t>(rows) * width, 1);
    for (int r = 0; r + 1 < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const int to = std::min(cols - 1, std::max(0, c + static_cast<int>(g() % 3) - 1));
            acc[static_cast<std::size_t>(r + 1) * width + static_cast<std::size_t>(to)] +=
                acc[static_cast<std::size_t>(r) * width + static_cast<std::size_t>(c)];
        }
    for (int c = 0; c < cols; ++c)
        if (g() % 4 == 0) acc[static_cast<std::size_t>(c)] = 0;  // cells outside the basin
    return acc;
}

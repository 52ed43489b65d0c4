// Times the calculation order on drainage-network accumulation grids of
// 250 000 and 1 000 000 cells, next to a plain run of the exchange procedure.
//
// Usage: calcOrderBench [--direct]   (--direct also times the plain procedure,
// which takes minutes on the larger grid)

#include "calcOrder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Accumulation of a random tree network in which every cell drains into one
// of the three cells of the next row (a Scheidegger network), with a band of
// cells outside the basin (accumulation 0) and a sea of -9999 along one edge.
CellGrid networkGrid(int rows, int cols, unsigned seed) {
    std::mt19937 g(seed);
    CellGrid grid(rows, cols);
    std::vector<int32_t> acc(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), 1);
    for (int r = 0; r + 1 < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const int to = std::min(cols - 1, std::max(0, c + static_cast<int>(g() % 3) - 1));
            acc[static_cast<std::size_t>(r + 1) * cols + to] += acc[static_cast<std::size_t>(r) * cols + c];
        }
    for (std::size_t i = 0; i < acc.size(); ++i) {
        const int c = static_cast<int>(i % static_cast<std::size_t>(cols));
        grid.cells[i].flowAcc = c < cols / 20 ? -9999 : c < cols / 10 ? 0 : acc[i];
    }
    return grid;
}

// The exchange procedure as defined, with the index array moved alongside.
std::vector<int32_t> directOrder(const CellGrid& grid) {
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
    std::vector<int32_t> order;
    for (std::size_t p = 0; p < n; ++p)
        if (a[p] > 0) order.push_back(idx[p]);
    return order;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const bool direct = argc > 1 && std::strcmp(argv[1], "--direct") == 0;
    for (int side : {500, 1000}) {
        const CellGrid grid = networkGrid(side, side, 12345u);
        auto start = std::chrono::steady_clock::now();
        const CalcOrder order = orderCells(grid);
        const double fast = secondsSince(start);
        std::printf("%d cells: %d groups, %d ordered cells, orderCells %.3f s", side * side, order.groupCount,
                    order.cellCount, fast);
        if (direct) {
            start = std::chrono::steady_clock::now();
            const std::vector<int32_t> reference = directOrder(grid);
            const double slow = secondsSince(start);
            bool same = reference.size() == order.entries.size();
            for (std::size_t i = 0; same && i < reference.size(); ++i)
                same = grid.rowOf(reference[i]) == order.entries[i].first &&
                       grid.colOf(reference[i]) == order.entries[i].second;
            std::printf(", exchange procedure %.1f s, %s", slow, same ? "identical" : "DIFFERENT");
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

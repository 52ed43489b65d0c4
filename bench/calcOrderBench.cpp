// Times the calculation order on drainage-network accumulation grids of
// 250 000 and 1 000 000 cells, next to a plain run of the exchange procedure.
//
// Usage: calcOrderBench [--direct]   (--direct also times the plain procedure,
// which takes minutes on the larger grid)

#include "calcOrder.h"
#include "exchangeOrder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

// A random drainage network with a band of cells outside the basin
// (accumulation 0) and a sea of -9999 along the west edge.
CellGrid networkGrid(int rows, int cols, unsigned seed) {
    std::mt19937 g(seed);
    CellGrid grid(rows, cols);
    const std::vector<int32_t> acc = networkAccumulation(rows, cols, g);
    for (std::size_t i = 0; i < acc.size(); ++i) {
        const int c = static_cast<int>(i % static_cast<std::size_t>(cols));
        grid.cells[i].flowAcc = c < cols / 20 ? -9999 : c < cols / 10 ? 0 : acc[i];
    }
    return grid;
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
            const CalcOrder reference = exchangeOrder(grid);
            const double slow = secondsSince(start);
            const bool same = reference.groupSizes == order.groupSizes && reference.entries == order.entries;
            std::printf(", exchange procedure %.1f s, %s", slow, same ? "identical" : "DIFFERENT");
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}

// The calculation order: the fast ordering against a direct transcription of
// the exchange procedure, and the cache files.

#include "calcOrder.h"
#include "exchangeOrder.h"
#include "paramFile.h"
#include "testProject.h"
#include "orderCache.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace {

CellGrid gridOf(int rows, int cols, const std::vector<int32_t>& acc) {
    CellGrid grid(rows, cols);
    for (std::size_t i = 0; i < acc.size(); ++i) grid.cells[i].flowAcc = acc[i];
    return grid;
}

void expectSameOrder(const CalcOrder& got, const CalcOrder& want, const std::string& context) {
    EXPECT_EQ(got.groupCount, want.groupCount) << context;
    EXPECT_EQ(got.cellCount, want.cellCount) << context;
    EXPECT_EQ(got.groupSizes, want.groupSizes) << context;
    EXPECT_EQ(got.entries, want.entries) << context;
}

TEST(OrderCells, EqualValuesAreNotKeptInGridOrder) {
    const CalcOrder order = orderCells(gridOf(1, 3, {2, 2, 1}));
    EXPECT_EQ(order.entries, (std::vector<std::pair<int32_t, int32_t>>{{0, 2}, {0, 1}, {0, 0}}));
    EXPECT_EQ(order.groupSizes, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(order.cellCount, 3);
}

TEST(OrderCells, NonPositiveAccumulationsAreLeftOut) {
    const CalcOrder order = orderCells(gridOf(1, 4, {3, 0, -9999, 1}));
    EXPECT_EQ(order.entries, (std::vector<std::pair<int32_t, int32_t>>{{0, 3}, {0, 0}}));
    EXPECT_EQ(order.cellCount, 2);
    EXPECT_EQ(order.groupCount, 2);
    const CalcOrder none = orderCells(gridOf(2, 2, {0, -1, 0, -5}));
    EXPECT_EQ(none.groupCount, 0);
    EXPECT_EQ(none.cellCount, 0);
    EXPECT_TRUE(none.entries.empty());
}

TEST(OrderCells, MatchesTheExchangeProcedureOnRandomGrids) {
    std::mt19937 rng(20261207);
    for (int trial = 0; trial < 400; ++trial) {
        const unsigned seed = rng();
        std::mt19937 g(seed);
        const int rows = 1 + static_cast<int>(g() % 12), cols = 1 + static_cast<int>(g() % 12);
        const int spread = 1 + static_cast<int>(g() % 8);  // few distinct values: many ties
        std::vector<int32_t> acc(static_cast<std::size_t>(rows * cols));
        for (int32_t& v : acc) {
            const unsigned pick = g() % 10;
            v = pick == 0 ? -9999 : pick == 1 ? 0 : static_cast<int32_t>(g() % static_cast<unsigned>(spread)) - 1;
        }
        const CellGrid grid = gridOf(rows, cols, acc);
        expectSameOrder(orderCells(grid), exchangeOrder(grid), "seed " + std::to_string(seed));
        if (HasFailure()) return;
    }
}

TEST(OrderCells, MatchesTheExchangeProcedureOnNetworks) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 30; ++trial) {
        const unsigned seed = rng();
        std::mt19937 g(seed);
        const int rows = 5 + static_cast<int>(g() % 40), cols = 5 + static_cast<int>(g() % 40);
        const CellGrid grid = gridOf(rows, cols, networkAccumulation(rows, cols, g));
        expectSameOrder(orderCells(grid), exchangeOrder(grid), "seed " + std::to_string(seed));
        if (HasFailure()) return;
    }
}

// A project grid of 4 rows x 5 columns with the given accumulations.
struct OrderProject {
    ScratchDir dir;
    ModelParams params;
    CellGrid grid;
    explicit OrderProject(const std::vector<int32_t>& acc) : grid(gridOf(4, 5, acc)) {
        params.ncols = 5;
        params.nrows = 4;
        params.xllcorner = 135.123456789012345;
        params.yllcorner = 35.0;
        params.days = 2;
    }
    RunResult prepare(CalcOrder* result = nullptr) {
        return runCaptured([&](std::ostream& out) {
            const CalcOrder order = prepareCalcOrder(grid, params, out);
            if (result) *result = order;
            return 0;
        });
    }
};

const std::vector<int32_t> kAcc = {1, 1, 0, 2, 2, 5, 1, -9999, 2, 1, 1, 7, 1, 2, 0, 3, 9, 1, 1, 12};

TEST(CalcOrderCache, WritesBothFilesThenReusesThem) {
    OrderProject project(kAcc);
    CalcOrder first;
    RunResult r = project.prepare(&first);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "Set simulation order of grid cells\n"
              "Make basinList data ./temp/numOfBasin.dat\n"
              "Make calculation order data ./temp/orderedCell.dat\n"
              "*** Number of different kind of cell accumulattion number : 7\n"
              "Number of calculation cell number : 17\n"
              "Total simulation time is 2 days.\n\n");
    EXPECT_EQ(readFile("temp/numOfBasin.dat"), "5\n4\n135.123456789012\n35\n7\n17\n8\n4\n1\n1\n1\n1\n1\n");
    const CalcOrder direct = exchangeOrder(project.grid);
    expectSameOrder(first, direct, "first run");
    std::string expectedCells;
    for (const auto& [row, col] : direct.entries)
        expectedCells += std::to_string(project.grid.at(row, col).flowAcc) + " " + std::to_string(row) + " " +
                         std::to_string(col) + "\n";
    EXPECT_EQ(readFile("temp/orderedCell.dat"), expectedCells);

    // The corner was written with 15 digits and no longer matches: rebuilt on every run.
    r = project.prepare();
    EXPECT_NE(r.output.find("Make basinList data"), std::string::npos);

    project.params.xllcorner = 135.5;
    project.prepare();
    CalcOrder second;
    r = project.prepare(&second);
    EXPECT_EQ(r.output,
              "Set simulation order of grid cells\n"
              "Read basinList data from ./temp/numOfBasin.dat\n"
              "Read calculation order data from ./temp/orderedCell.dat\n\n"
              "*** Number of different kind of cell accumulattion number : 7\n"
              "Number of calculation cell number : 17\n"
              "Total simulation time is 2 days.\n\n");
    expectSameOrder(second, direct, "cached");
}

TEST(CalcOrderCache, EmptyOrder) {
    OrderProject project(std::vector<int32_t>(20, 0));
    project.params.xllcorner = 135.0;
    EXPECT_EQ(project.prepare().status, 0);
    EXPECT_EQ(readFile("temp/numOfBasin.dat"), "5\n4\n135\n35\n0\n0\n");
    EXPECT_EQ(readFile("temp/orderedCell.dat"), "");
    const RunResult r = project.prepare();
    EXPECT_NE(r.output.find("Read basinList data from ./temp/numOfBasin.dat\n"), std::string::npos);
}

TEST(CalcOrderCache, ChangedAccumulationIsNoticed) {
    OrderProject project(kAcc);
    project.params.xllcorner = 135.0;
    project.prepare();
    project.grid.cells[0].flowAcc = 4;  // same grid, new accumulation raster
    CalcOrder order;
    const RunResult r = project.prepare(&order);
    EXPECT_NE(r.output.find("Make basinList data ./temp/numOfBasin.dat\n"), std::string::npos);
    expectSameOrder(order, exchangeOrder(project.grid), "rebuilt");
    EXPECT_NE(project.prepare().output.find("Read basinList"), std::string::npos);
}

TEST(CalcOrderCache, DamagedCacheIsRebuilt) {
    OrderProject project(kAcc);
    project.params.xllcorner = 135.0;
    project.prepare();
    const std::string basin = readFile("temp/numOfBasin.dat");
    const std::string cells = readFile("temp/orderedCell.dat");
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"5\n4\n135\n35\n7\n17\n8\n4\n1\n1\n1\n1\n", cells},               // a group size missing
        {"5\n4\n135\n35\n7\n17\n2147483647\n4\n1\n1\n1\n1\n1\n", cells},   // absurd size
        {"5\n4\n135\n35\n-1\n17\n", cells},                                 // negative count
        {"5\n4\n135\n35\n7\n17\n8\n4\nx\n1\n1\n1\n1\n", cells},             // not a number
        {"5\n4\n135\n35\n8\n17\n5\n3\n4\n1\n1\n1\n1\n1\n", cells},        // a group split in two
        {basin, cells.substr(0, cells.size() / 2)},                         // short order file
        {basin, "9" + cells},                                               // wrong accumulation
        {basin, cells.substr(0, cells.find('\n') + 1) + cells},             // an entry twice
        {basin, "1 0 99\n" + cells.substr(cells.find('\n') + 1)},           // outside the grid
    };
    for (const auto& [b, c] : damaged) {
        writeText("temp/numOfBasin.dat", b);
        writeText("temp/orderedCell.dat", c);
        CalcOrder order;
        const RunResult r = project.prepare(&order);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.output.find("Make basinList data"), std::string::npos) << b << "\n---\n" << c;
        expectSameOrder(order, exchangeOrder(project.grid), "rebuilt");
        EXPECT_EQ(readFile("temp/numOfBasin.dat"), basin);
        EXPECT_EQ(readFile("temp/orderedCell.dat"), cells);
    }
}

TEST(CalcOrderCache, Failures) {
    OrderProject project(kAcc);
    project.params.xllcorner = 135.0;
    project.prepare();
    std::filesystem::remove("temp/orderedCell.dat");
    RunResult r = project.prepare();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "Set simulation order of grid cells\n"
              "Read basinList data from ./temp/numOfBasin.dat\n"
              "./temp/orderedCell.dat cannot open.\n");

    std::filesystem::remove_all("temp");
    r = project.prepare();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "Set simulation order of grid cells\n"
              "Make basinList data ./temp/numOfBasin.dat\n"
              "./temp/numOfBasin.dat cannot open. Simulation ends\n");
}

}  // namespace

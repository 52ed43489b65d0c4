// The time loop on small basins: order, skips and console lines, the stop on a
// flow that is no longer finite, and the physics of the whole scheme (steady
// state, the rising limb on a plane, the water balance).

#include "cellSetup.h"
#include "kinematicWave.h"
#include "modelCells.h"
#include "timeLoop.h"
#include "paramMaps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <mutex>
#include <sstream>

namespace {

using Group = std::vector<std::pair<int32_t, int32_t>>;

// A set-up basin with its calculation order given by hand, one group per list.
struct Basin {
    ModelParams p = modelParams();
    CellGrid grid;
    CalcOrder order;
    std::vector<Dam> dams;
    std::vector<Reservoir> reservoirs;
    std::map<int32_t, std::vector<float>> series;  // of every cell that finished its event

    void setUp(const Topography& t, const std::vector<Group>& groups) {
        p.nrows = t.nrows;
        p.ncols = t.ncols;
        grid = gridFrom(t, p);
        std::ostringstream out;
        setupCells(grid, p, out);
        setupMouths(grid);
        for (const Group& g : groups) {
            order.groupSizes.push_back(static_cast<int32_t>(g.size()));
            order.entries.insert(order.entries.end(), g.begin(), g.end());
        }
        order.groupCount = static_cast<int32_t>(groups.size());
        order.cellCount = static_cast<int32_t>(order.entries.size());
    }
    // The loop on two threads; every finished series is kept.
    RunResult run(const RainGrid& rain) {
        std::mutex seriesMutex;
        const CellFinished keep = [&](int32_t cell, const std::vector<float>& s) {
            std::lock_guard<std::mutex> lock(seriesMutex);
            series[cell] = s;
        };
        return runCaptured([&](std::ostream& out) {
            return runTimeLoop(grid, order, {0}, rain, p, dams, reservoirs, keep, 2, out), 0;
        });
    }
    const std::vector<float>& seriesAt(int r, int c) { return series.at(grid.index(r, c)); }
};

// smallBasin() in calculation order, with the border cell (0, 0) in the first group.
const std::vector<Group> kSmallBasinOrder = {{{0, 0}, {1, 1}, {1, 2}, {1, 3}}, {{2, 1}}, {{2, 2}}, {{2, 3}}};

TEST(TimeLoop, GroupsSkipsAndStructureLines) {
    Basin b;
    Topography t = smallBasin();
    t.flowAcc[t.at(0, 0)] = 1;
    t.riverNum[t.at(1, 2)] = 7;  // a river that is not simulated
    b.setUp(t, kSmallBasinOrder);
    b.grid.at(2, 1).kind = kDamCell;
    b.dams.resize(2);  // two dams on one cell: each runs the whole event
    for (Dam& d : b.dams) {
        d.rowIndex = 2;
        d.columnIndex = 1;
        d.cell = b.grid.index(2, 1);
        d.kind = 2;
        d.regulatedOutflow = 1e9;  // passes its inflow on
        d.storageSeries.assign(24 * 60, 0.0f);
    }
    allocateStructureSeries(b.grid.at(2, 1), 1, 60);
    const RunResult r = b.run(hourlyRain(b.p, {10.0f, 10.0f}));
    std::string steps;
    for (int n = 0; n < 2; ++n)
        for (int h = 0; h < 24; ++h)
            for (int s = 0; s < 60; ++s)
                steps += "ihour = " + std::to_string(h) + " dt = " + std::to_string(s) + " imin = " +
                         std::to_string(s / 10) + "\n";
    EXPECT_EQ(r.output, "  1/7 ends.\n  5/7 ends.\n" + steps + "  6/7 ends.\n  7/7 ends.\n");
    EXPECT_GT(b.seriesAt(1, 1)[59], 0.0f);
    EXPECT_EQ(b.series.count(b.grid.index(1, 2)), 0u);  // never computed
    EXPECT_GT(b.seriesAt(2, 3)[119], b.seriesAt(2, 2)[119]);
    // Only the dam cell keeps its series after the loop; the others were freed once read.
    EXPECT_EQ(b.grid.at(2, 1).dischargeSeries, b.seriesAt(2, 1));
    EXPECT_TRUE(b.grid.at(2, 2).dischargeSeries.empty() && b.grid.at(2, 3).dischargeSeries.empty());

    Basin empty;
    empty.setUp(smallBasin(), {});
    EXPECT_EQ(empty.run(hourlyRain(empty.p, {})).output, "");
}

TEST(TimeLoop, BadFlowsAndOrdersStopTheRun) {
    Basin b;
    b.setUp(smallBasin(), kSmallBasinOrder);
    const RunResult r = b.run(hourlyRain(b.p, {5.0f, 5.0f, INFINITY}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "  1/7 ends.\n" + nonFiniteMessage(b.grid, b.grid.index(1, 1), EventStop{true, 0, 2, 0}));
    EXPECT_NE(r.output.find("column 2, row 3"), std::string::npos);
    EXPECT_NE(r.output.find("day 0, hour 2, step 0"), std::string::npos);

    Basin outside;
    outside.setUp(smallBasin(), {{{1, 1}, {4, 0}}});  // an order made for another grid
    EXPECT_EQ(outside.run(hourlyRain(outside.p, {})).status, 1);
}

// Cells (row, column, flow code, accumulation, elevation) of a bare basin
// (Da = Dm = 0) that starts nearly dry, run in the given order.
Basin bareBasin(int rows, int cols, const std::vector<std::vector<int>>& cells, const std::vector<Group>& order,
                int days, int threshold) {
    Topography t(rows, cols);
    for (const auto& c : cells) {
        t.riverNum[t.at(c[0], c[1])] = 0;
        t.flowDir[t.at(c[0], c[1])] = c[2];
        t.flowAcc[t.at(c[0], c[1])] = c[3];
        t.dem[t.at(c[0], c[1])] = static_cast<float>(c[4]);
    }
    Basin b;
    b.p.days = days;
    b.p.Da = b.p.Dm = 0.0;
    b.p.channelThreshold = threshold;
    b.p.ROFinitial = 1e-9;
    b.setUp(t, order);
    return b;
}

TEST(Physics, PlaneRisesLikeTheKinematicWaveAndSettlesAtRainTimesArea) {
    // Five slope cells in a row, the last a mouth: a plane of width dy and
    // length 5 dx (the mouth copies its neighbour's geometry), under 36 mm/h.
    Basin b = bareBasin(3, 7, {{1, 1, 3, 1, 90}, {1, 2, 3, 2, 80}, {1, 3, 3, 3, 70}, {1, 4, 3, 4, 60}, {1, 5, 0, 5, 50}},
                        {{{1, 1}}, {{1, 2}}, {{1, 3}}, {{1, 4}}, {{1, 5}}}, 1, 100);
    ASSERT_EQ(b.run(hourlyRain(b.p, std::vector<float>(24, 36.0f))).status, 0);
    const Cell& mouth = b.grid.at(1, 5);
    const std::vector<float>& q = b.seriesAt(1, 5);
    const double i = 1e-5, w = mouth.slopeWidth, alpha = mouth.slopeAlpha, m = mouth.kinExponent;
    // Rising limb: Q(L, t) = W alpha (i t)^m until tc, when the whole plane contributes.
    const double tc = std::pow(5 * mouth.slopeLength / (alpha * std::pow(i, m - 1)), 1 / m);
    for (double part : {0.3, 0.5, 0.8}) {
        const int k = static_cast<int>(part * tc / 60);  // step k ends at (k + 1) minutes
        const double exact = w * alpha * std::pow(i * (k + 1) * 60.0, m);
        EXPECT_NEAR(q[static_cast<std::size_t>(k)], exact, 0.05 * exact) << part;  // 2.6 % seen
    }
    double area = 0.0;
    for (int c = 1; c <= 5; ++c) area += static_cast<double>(b.grid.at(1, c).dy * b.grid.at(1, c).dx);
    EXPECT_NEAR(q.back(), i * area, 1e-6 * i * area);
}

TEST(Physics, WaterLeavesTheBasinAsItCameIn) {
    // Six cells draining into a channel mouth at (2, 3); its last upstream cell
    // (2, 2) is a slope cell, its channel (1, 2) comes in diagonally, so the
    // copied flow length matches the mouth's own segments. Three hours of
    // rain, then a dry tail of nearly three days.
    const std::vector<std::vector<int>> cells = {{1, 1, 3, 1, 95}, {2, 1, 2, 1, 90}, {1, 3, 5, 1, 75},
                                                 {2, 2, 3, 1, 80}, {1, 2, 4, 3, 85}, {2, 3, 0, 6, 70}};
    Basin b = bareBasin(4, 5, cells, {{{1, 1}, {1, 3}, {2, 1}, {2, 2}}, {{1, 2}}, {{2, 3}}}, 3, 2);
    ASSERT_EQ(b.grid.at(2, 3).channelAlpha, b.grid.at(1, 2).channelAlpha);
    ASSERT_EQ(b.run(hourlyRain(b.p, {20.0f, 20.0f, 20.0f})).status, 0);
    double area = 0.0, out = 0.0;
    for (const auto& c : cells) area += static_cast<double>(b.grid.at(c[0], c[1]).dy) * b.grid.at(c[0], c[1]).dx;
    for (float q : b.seriesAt(2, 3)) out += static_cast<double>(q) * 60;
    // 0.12 % seen: the celerity form of the scheme is not exactly conservative.
    EXPECT_NEAR(out / (20.0 * 0.001 * 3 * area), 1.0, 0.005);
}

}  // namespace

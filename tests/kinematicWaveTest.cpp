// One cell, one step: the slope relation and its celerity regimes, the node
// sweeps of the slope and the channel, the iteration limits and the stop on a
// value that is no longer finite.

#include "cellSetup.h"
#include "kinematicWave.h"
#include "modelCells.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A 100 m x 100 m cell dropping 1 m east to its downstream cell, set up with
// the given soil; N = 4 segments of 25 m, steps of 60 s.
Cell slopeCell(double da, double dm, double beta, double ka = 0.01, int flowAcc = 1) {
    Cell lower;
    lower.elevation = 10.0f;
    Cell cell;
    cell.flowDir = 3;
    cell.flowAcc = flowAcc;
    cell.dx = cell.dy = 100.0f;
    cell.elevation = 11.0f;
    CellParameters v;
    v.nr = 0.03;
    v.ns = 0.3;
    v.ka = ka;
    v.da = da;
    v.dm = dm;
    v.beta = beta;
    setupCell(cell, &lower, v, modelParams());
    cell.rainPoint = 0;
    return cell;
}

double qsatOf(const Cell& c) { return (c.da - c.dm) * c.va + c.vcdc; }

TEST(SlopeRelation, RegimeBoundariesAndCelerity) {
    const Cell cell = slopeCell(1.0, 0.5, 4.0);
    std::string log;
    const double tol = 1e-10;
    EXPECT_EQ(slopeCelerity(cell, cell.vcdc, tol, log), cell.va);  // full capillary layer: non-capillary regime
    EXPECT_EQ(slopeCelerity(cell, qsatOf(cell), tol, log), cell.va);  // Newton meets the tolerance at h = da
    // Capillary: q = vcdc (h/dm)^beta, so dq/dh = va (q/vcdc)^((beta-1)/beta).
    const double q = cell.vcdc * 0.3;
    EXPECT_NEAR(slopeCelerity(cell, q, tol, log), cell.va * std::pow(0.3, 0.75), 1e-15);
    // Surface: the depth behind the returned celerity gives back q.
    const double qs = qsatOf(cell) + 0.002;
    const double c = slopeCelerity(cell, qs, tol, log);
    const double m = cell.kinExponent;
    const double h = cell.da + std::pow((c - cell.va) / (cell.slopeAlpha * m), 1 / (m - 1));
    EXPECT_NEAR(slopeDischargeOfDepth(cell, h), qs, 1e-9);
    EXPECT_EQ(log, "");

    // No soil layers: pure surface flow, where Newton's start is the exact depth.
    const Cell bare = slopeCell(0.0, 0.0, 4.0);
    const double hb = std::pow(0.01 / bare.slopeAlpha, 1 / m);
    EXPECT_NEAR(slopeCelerity(bare, 0.01, tol, log), bare.slopeAlpha * m * std::pow(hb, m - 1), 1e-15);
    // ... and at q = 0 the derivative is zero: no division, celerity 0.
    EXPECT_EQ(slopeCelerity(bare, 0.0, tol, log), 0.0);
    EXPECT_EQ(log, "");
}

TEST(SlopeRelation, FiniteCelerityForBetaBelowOne) {
    const Cell cell = slopeCell(1.0, 0.5, 0.5);
    std::string log;
    EXPECT_EQ(slopeCelerity(cell, 0.0, 1e-10, log), cell.va);
    const double tiny = slopeCelerity(cell, cell.vcdc * 1e-12, 1e-10, log);
    EXPECT_TRUE(std::isfinite(tiny));
    EXPECT_GT(tiny, cell.va);
}

TEST(SlopeRelation, NewtonLimitIsReportedOnce) {
    const Cell cell = slopeCell(1.0, 0.5, 4.0);
    std::string log;
    const double c = slopeCelerity(cell, qsatOf(cell) + 0.5, 0.0, log);  // a zero tolerance is never met
    EXPECT_EQ(log, kNewtonLimitMessage);
    EXPECT_TRUE(std::isfinite(c));
}

TEST(SlopeStep, DryCellsStayDry) {
    // Capillary (c = 0 clamped to 1e-6), bare soil (zero Newton derivative), beta < 1.
    for (const Cell& dry : {slopeCell(1.0, 0.5, 4.0), slopeCell(0.0, 0.0, 4.0), slopeCell(1.0, 0.5, 0.5)}) {
        Cell cell = dry;
        std::string log;
        EXPECT_EQ(solveSlope(cell, 0.0, 0.0, log), 0.0);
        EXPECT_EQ(cell.slopeQ, std::vector<double>(5, 0.0));
        EXPECT_EQ(log, "");
    }
}

TEST(SlopeStep, MinimumCelerityLetsRainStartOnADrySlope) {
    // The capillary celerity at q = 0 is 0; without the minimum the rain would never move.
    Cell cell = slopeCell(1.0, 0.5, 4.0);
    std::string log;
    EXPECT_GT(solveSlope(cell, 0.0, 1e-5, log), 0.0);
    EXPECT_GT(cell.slopeQ[1], 0.0);
}

TEST(SlopeStep, FastWaveReachesTheSteadyBalance) {
    // theta = 1 and c dt / dx = 2.4e6: each node is the one above plus r dx.
    Cell cell = slopeCell(1e6, 0.0, 4.0, 1e8);
    cell.fdWeight = 1.0;
    std::string log;
    const double r = 1e-4;
    solveSlope(cell, 0.5, r, log);
    for (int j = 1; j <= 4; ++j) EXPECT_NEAR(cell.slopeQ[j], cell.slopeQ[j - 1] + r * 25.0, 1e-6);
    EXPECT_EQ(cell.slopeQ[0], 0.5);
}

TEST(SlopeStep, CelerityLimitIsReportedAndTheSweepGoesOn) {
    // Explicit scheme: the soil celerity empties node 1, the dry celerity refills
    // it, and the estimate never settles.
    Cell cell = slopeCell(1e6, 0.5, 4.0, 100.0);
    cell.fdWeight = 0.0;
    cell.slopeQ = {0.0, 100.0, 0.0, 0.0, 0.0};
    std::string log;
    const double out = solveSlope(cell, 0.0, 0.0, log);
    EXPECT_EQ(log.rfind(kSlopeLimitMessage, 0), 0u);
    EXPECT_TRUE(std::isfinite(out));
}

TEST(ChannelStep, ZeroInflowAndTheCelerityLimit) {
    Cell cell = slopeCell(1.0, 0.5, 4.0, 0.01, 10);
    ASSERT_TRUE(isChannelCell(cell));
    CellGrid grid(1, 1);
    std::string log;
    ASSERT_TRUE(stepChannel(cell, grid, 0, 0, 0, log));
    EXPECT_EQ(cell.chanQ, std::vector<double>(5, 0.0));
    EXPECT_EQ(cell.chanA, std::vector<double>(5, 0.0));
    EXPECT_EQ(cell.dischargeSeries[0], 0.0f);
    EXPECT_EQ(log, "");

    cell.fdWeight = 0.0;
    cell.channelAlpha = 1.0;
    cell.chanQ = {0.0, 100.0, 0.0, 0.0, 0.0};
    ASSERT_TRUE(stepChannel(cell, grid, 0, 0, 1, log));
    EXPECT_EQ(log.rfind(kChannelLimitMessage, 0), 0u);
    EXPECT_EQ(cell.chanA[1], std::pow(cell.chanQ[1], 1 / cell.kinExponent));
}

TEST(CellStep, RainAndUpstreamInflow) {
    ModelParams p = modelParams();
    const RainGrid rain = hourlyRain(p, {36.0f});  // 1e-5 m/s
    Cell slope = slopeCell(1.0, 0.5, 4.0);
    setRainfall(slope, rain, 0, 0, 0);
    EXPECT_NEAR(slope.lateralInflow, 1e-5 * 100.0 * 100.0 / 100.0, 1e-18);
    Cell channel = slopeCell(1.0, 0.5, 4.0, 0.01, 10);
    setRainfall(channel, rain, 0, 0, 0);
    EXPECT_NEAR(channel.lateralInflow, 1e-5 * channel.slopeWidth, 1e-18);

    CellGrid grid(1, 3);
    grid.cells[1].dischargeSeries = {0.1f, 0.0f};
    grid.cells[2].dischargeSeries = {0.2f, 0.0f};
    Cell& cell = grid.cells[0];
    cell.upstream = {2, 1, kNoCell, kNoCell, kNoCell, kNoCell, kNoCell};
    cell.numUpstream = 2;
    EXPECT_EQ(upstreamInflow(grid, cell, 0), static_cast<double>(0.2f) + static_cast<double>(0.1f));
    cell.numUpstream = 0;
    EXPECT_EQ(upstreamInflow(grid, cell, 0), 0.0);
}

TEST(CellStep, NonFiniteFlowStopsAtOnce) {
    CellGrid grid(1, 1);
    for (Cell cell : {slopeCell(1.0, 0.5, 4.0), slopeCell(1.0, 0.5, 4.0, 0.01, 10)}) {
        cell.dischargeSeries[3] = 7.0f;
        cell.lateralInflow = std::nan("");
        std::string log;
        const bool finite = isChannelCell(cell) ? stepChannel(cell, grid, 0, 0, 3, log)
                                                : stepSlope(cell, grid, 0, 0, 3, log);
        EXPECT_FALSE(finite);
        EXPECT_EQ(cell.dischargeSeries[3], 7.0f);  // nothing stored
        EXPECT_EQ(log, "");                        // no iteration to the limits
    }
}

// Pins the bits of two short events (an hour of heavy rain, then an hour dry):
// a slope cell with both soil layers, and a channel cell fed by an upstream
// hydrograph. Any change in a formula, an evaluation order or an iteration
// rule shows here.
TEST(CellStep, EventSeriesArePinned) {
    ModelParams p = modelParams();
    const RainGrid rain = hourlyRain(p, {80.0f});
    CellGrid grid(1, 3);
    grid.cells[0] = slopeCell(0.01, 0.005, 4.0, 0.05);
    grid.cells[1] = slopeCell(0.01, 0.005, 4.0, 0.05, 10);
    grid.cells[2].dischargeSeries.assign(24 * 60, 0.0f);
    for (int k = 0; k < 120; ++k) grid.cells[2].dischargeSeries[k] = 0.05f * static_cast<float>(k < 60 ? k : 120 - k);
    grid.cells[1].upstream[0] = 2;
    grid.cells[1].numUpstream = 1;
    setInitialState(grid.cells[0], 0.1);
    setInitialState(grid.cells[1], 0.1);
    std::string log;
    for (int k = 0; k < 120; ++k) {
        for (int i = 0; i < 2; ++i) {
            Cell& cell = grid.cells[i];
            setRainfall(cell, rain, 0, k / 60, (k % 60) / 10);
            ASSERT_TRUE(i == 0 ? stepSlope(cell, grid, 0, k / 60, k % 60, log)
                               : stepChannel(cell, grid, 0, k / 60, k % 60, log));
        }
    }
    EXPECT_EQ(log, "");
    const struct {
        int step;
        float slope, channel;
    } pinned[] = {
        {0, 0x1.8df156p-10f, 0x1.971168p-9f},  {9, 0x1.d664cap-6f, 0x1.d88dfp-2f},
        {59, 0x1.b7755ap-3f, 0x1.9401a4p+1f},  {60, 0x1.a52f5ep-3f, 0x1.98c394p+1f},
        {61, 0x1.937c88p-3f, 0x1.94836p+1f},   {119, 0x1.71c26ep-6f, 0x1.b84024p-4f},
    };
    for (const auto& v : pinned) {
        EXPECT_EQ(grid.cells[0].dischargeSeries[v.step], v.slope) << v.step;
        EXPECT_EQ(grid.cells[1].dischargeSeries[v.step], v.channel) << v.step;
    }
}

}  // namespace

// One cell, one step: the slope relation and its celerity regimes, the node
// sweeps of the slope and the channel, the iteration limits and the stop on a
// value that is no longer finite.

#include "cellSetup.h"
#include "kinematicWave.h"
#include "modelCells.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

// A 100 m x 100 m cell dropping 1 m to the east, N = 4 segments of 25 m, 60 s steps.
Cell slopeCell(double da, double dm, double beta, double ka = 0.01, int flowAcc = 1) {
    Cell lower;
    lower.elevation = 10.0f;
    Cell cell;
    cell.flowDir = 3;
    cell.flowAcc = flowAcc;
    cell.dx = cell.dy = 100.0f;
    cell.elevation = 11.0f;
    cell.rainPoint = 0;
    setupCell(cell, &lower, CellParameters{0.03, 0.3, ka, da, dm, beta}, modelParams());
    cell.dischargeSeries.assign(24 * 60, 0.0f);
    return cell;
}

// The slope celerity with the Newton tolerance `tolerance`.
double celerityAt(const Cell& cell, double q, double tolerance, std::string& log) {
    WaveConstants k = waveConstants(cell);
    k.slopeTolerance = tolerance;
    return slopeCelerity(cell, k, q, log);
}

double solveSlope(Cell& cell, double qUp, double r, std::string& log) {
    return solveSlope(cell, waveConstants(cell), qUp, r, log);
}

bool stepCell(Cell& cell, const CellGrid& grid, std::size_t at, std::string& log) {
    const WaveConstants k = waveConstants(cell);
    const UpstreamSeries upstream = upstreamSeriesOf(grid, cell);
    return isChannelCell(cell) ? stepChannel(cell, k, upstream, at, log) : stepSlope(cell, k, upstream, at, log);
}

double qsatOf(const Cell& c) { return (c.da - c.dm) * c.va + c.vcdc; }

TEST(SlopeRelation, RegimesAndTheirBoundaries) {
    const Cell cell = slopeCell(1.0, 0.5, 4.0);
    std::string log;
    EXPECT_EQ(celerityAt(cell, cell.vcdc, 1e-10, log), cell.va);    // full capillary layer
    EXPECT_EQ(celerityAt(cell, qsatOf(cell), 1e-10, log), cell.va);  // both full: Newton stops at h = da
    // Capillary: q = vcdc (h/dm)^beta, so dq/dh = va (q/vcdc)^((beta-1)/beta).
    EXPECT_NEAR(celerityAt(cell, cell.vcdc * 0.3, 1e-10, log), cell.va * std::pow(0.3, 0.75), 1e-15);
    // Surface: the depth behind the returned celerity gives back q.
    const double q = qsatOf(cell) + 0.002, m = cell.kinExponent;
    const double c = celerityAt(cell, q, 1e-10, log);
    EXPECT_NEAR(slopeDischargeOfDepth(cell, cell.da + std::pow((c - cell.va) / (cell.slopeAlpha * m), 1 / (m - 1))),
                q, 1e-9);
    // No soil: Newton starts at the exact depth; at q = 0 its derivative is 0 and is not divided by.
    const Cell bare = slopeCell(0.0, 0.0, 4.0);
    const double h = std::pow(0.01 / bare.slopeAlpha, 1 / m);
    EXPECT_NEAR(celerityAt(bare, 0.01, 1e-10, log), bare.slopeAlpha * m * std::pow(h, m - 1), 1e-15);
    EXPECT_EQ(celerityAt(bare, 0.0, 1e-10, log), 0.0);
    // beta < 1: unbounded at q = 0, taken as va there; large but finite just above.
    const Cell concave = slopeCell(1.0, 0.5, 0.5);
    EXPECT_EQ(celerityAt(concave, 0.0, 1e-10, log), concave.va);
    EXPECT_TRUE(std::isfinite(celerityAt(concave, concave.vcdc * 1e-12, 1e-10, log)));
    EXPECT_EQ(log, "");
    // A zero tolerance is never met: one message, a finite celerity.
    EXPECT_TRUE(std::isfinite(celerityAt(cell, qsatOf(cell) + 0.5, 0.0, log)));
    EXPECT_EQ(log, kNewtonLimitMessage);
}

TEST(SlopeStep, DryStaysDryAndRainStartsFlow) {
    for (const Cell& dry : {slopeCell(1.0, 0.5, 4.0), slopeCell(0.0, 0.0, 4.0), slopeCell(1.0, 0.5, 0.5)}) {
        Cell cell = dry;
        std::string log;
        EXPECT_EQ(solveSlope(cell, 0.0, 0.0, log), 0.0);
        EXPECT_EQ(cell.slopeQ, std::vector<double>(5, 0.0));
        EXPECT_EQ(log, "");
        // The capillary celerity of a dry node is 0: only the minimum lets rain move.
        EXPECT_GT(solveSlope(cell, 0.0, 1e-5, log), 0.0);
    }
}

TEST(SlopeStep, FastWaveReachesTheSteadyBalance) {
    Cell cell = slopeCell(1e6, 0.0, 4.0, 1e8);  // theta = 1, c dt / dx = 2.4e6
    cell.fdWeight = 1.0;
    std::string log;
    solveSlope(cell, 0.5, 1e-4, log);
    for (int j = 1; j <= 4; ++j) EXPECT_NEAR(cell.slopeQ[j], cell.slopeQ[j - 1] + 1e-4 * 25.0, 1e-6);
}

TEST(CellStep, ZeroInflowChannelAndTheCelerityLimits) {
    Cell channel = slopeCell(1.0, 0.5, 4.0, 0.01, 10);
    CellGrid grid(1, 1);
    std::string log;
    ASSERT_TRUE(stepCell(channel, grid, 0, log));
    EXPECT_EQ(channel.chanQ, std::vector<double>(5, 0.0));
    EXPECT_EQ(channel.chanA, std::vector<double>(5, 0.0));
    EXPECT_EQ(log, "");

    // Explicit scheme with a fast celerity: node 1 empties, the slow celerity of
    // the empty node refills it, and the estimate never settles.
    Cell slope = slopeCell(1e6, 0.5, 4.0, 100.0);
    slope.fdWeight = channel.fdWeight = 0.0;
    slope.slopeQ = channel.chanQ = {0.0, 100.0, 0.0, 0.0, 0.0};
    EXPECT_TRUE(std::isfinite(solveSlope(slope, 0.0, 0.0, log)));
    EXPECT_EQ(log.rfind(kSlopeLimitMessage, 0), 0u);
    log.clear();
    channel.channelAlpha = 1.0;
    ASSERT_TRUE(stepCell(channel, grid, 1, log));
    EXPECT_EQ(log.rfind(kChannelLimitMessage, 0), 0u);
}

TEST(CellStep, NonFiniteFlowStopsAtOnce) {
    CellGrid grid(1, 1);
    for (Cell cell : {slopeCell(1.0, 0.5, 4.0), slopeCell(1.0, 0.5, 4.0, 0.01, 10)}) {
        cell.dischargeSeries[3] = 7.0f;
        cell.lateralInflow = std::nan("");
        std::string log;
        EXPECT_FALSE(stepCell(cell, grid, 3, log));
        EXPECT_EQ(cell.dischargeSeries[3], 7.0f);  // nothing stored
        EXPECT_EQ(log, "");                        // no iteration to the limits
    }
}

// Regression: a k = 0 reservoir released -2e-16 m3/s once its inflow fell back
// to zero, and the channel below took a fractional power of it: NaN.
TEST(CellStep, ChannelTakesASlightlyNegativeInflow) {
    Cell upstream;
    upstream.dischargeSeries = {-2.2e-16f};
    Cell channel = slopeCell(1.0, 0.5, 4.0, 0.01, 10);
    CellGrid grid(1, 2);
    grid.cells[0] = upstream;
    channel.upstream[0] = 0;
    channel.numUpstream = 1;
    std::string log;
    ASSERT_TRUE(stepCell(channel, grid, 0, log));
    EXPECT_EQ(channel.chanQ[0], static_cast<double>(-2.2e-16f));
    EXPECT_EQ(channel.chanA[0], 0.0);
    EXPECT_EQ(channel.dischargeSeries[0], 0.0f);
}

// Pins the bits of two short events (an hour of heavy rain, then an hour dry):
// a slope cell whose soil fills up, and a channel cell fed by an upstream
// hydrograph. Any change in a formula, an evaluation order or an iteration
// rule shows here: in the float32 series, and in the double node values after
// every step, which carry a change in their last bits that the series round
// away (on a large grid such a change does reach the series now and then).
TEST(CellStep, EventSeriesArePinned) {
    const RainGrid rain = hourlyRain(modelParams(), {80.0f});
    CellGrid grid(1, 3);
    grid.cells[0] = slopeCell(0.01, 0.005, 4.0, 0.05);
    grid.cells[1] = slopeCell(0.01, 0.005, 4.0, 0.05, 10);
    grid.cells[1].upstream[0] = 2;
    grid.cells[1].numUpstream = 1;
    grid.cells[2].dischargeSeries.assign(24 * 60, 0.0f);
    for (int k = 0; k < 120; ++k) grid.cells[2].dischargeSeries[k] = 0.05f * static_cast<float>(k < 60 ? k : 120 - k);
    std::string log;
    uint64_t nodeBits = 0;  // a hash of the bits of every node value after every step
    const auto fold = [&](const std::vector<double>& nodes) {
        for (double v : nodes) {
            uint64_t bits = 0;
            std::memcpy(&bits, &v, sizeof bits);
            nodeBits = (nodeBits ^ bits) * 0x100000001b3u;
        }
    };
    for (int i = 0; i < 2; ++i) {
        Cell& cell = grid.cells[i];
        setInitialState(cell, 0.1);
        for (int k = 0; k < 120; ++k) {
            setRainfall(cell, rain, 0, k / 60, (k % 60) / 10);
            ASSERT_TRUE(stepCell(cell, grid, static_cast<std::size_t>(k), log));
            fold(cell.slopeQ);
            fold(cell.chanQ);
            fold(cell.chanA);
        }
    }
    EXPECT_EQ(log, "");
    EXPECT_EQ(nodeBits, 0xa30429d5ebc264f5u) << std::hex << nodeBits;
    const struct {
        int step;
        float slope, channel;
    } pinned[] = {
        {0, 0x1.8df156p-10f, 0x1.971168p-9f}, {9, 0x1.d664cap-6f, 0x1.d88dfp-2f},
        {59, 0x1.b7755ap-3f, 0x1.9401a4p+1f}, {60, 0x1.a52f5ep-3f, 0x1.98c394p+1f},
        {61, 0x1.937c88p-3f, 0x1.94836p+1f},  {119, 0x1.71c26ep-6f, 0x1.b84024p-4f},
    };
    for (const auto& v : pinned) {
        EXPECT_EQ(grid.cells[0].dischargeSeries[v.step], v.slope) << v.step;
        EXPECT_EQ(grid.cells[1].dischargeSeries[v.step], v.channel) << v.step;
    }
}

}  // namespace

// Cell set-up: geometry and coefficients, the initial state, river mouths and
// the per-cell parameter maps.

#include "cellSetup.h"
#include "kinematicWave.h"
#include "modelCells.h"
#include "paramMaps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

// A 100 m x 100 m cell at elevation 11 set up over `downstream`.
Cell setUpCell(int flowDir, const Cell* downstream, double da = 1.0, double dm = 0.5, int flowAcc = 1,
               float dy = 100.0f) {
    Cell cell;
    cell.flowDir = flowDir;
    cell.flowAcc = flowAcc;
    cell.scale = 30.0f;
    cell.dx = 100.0f;
    cell.dy = dy;
    cell.elevation = 11.0f;
    setupCell(cell, downstream, CellParameters{0.03, 0.3, 0.01, da, dm, 4.0}, modelParams());
    return cell;
}

TEST(CellSetup, GeometryAndCoefficients) {
    Cell lower, higher;
    lower.elevation = 10.0f;
    higher.elevation = 12.0f;
    EXPECT_NEAR(setUpCell(3, &lower).slopeSine, std::sin(0.01), 1e-16);  // 1 m over 100 m
    EXPECT_EQ(setUpCell(3, &higher).slopeSine, std::sin(std::atan(1e-5)));
    EXPECT_EQ(setUpCell(3, nullptr).slopeSine, std::sin(std::atan(9.999999747378752e-06)));  // float32 1e-5
    EXPECT_EQ(setUpCell(5, &lower).flowLength, 30.0 * 30.9);
    EXPECT_EQ(setUpCell(2, &lower, 1.0, 0.5, 1, 100.0f).flowLength, std::sqrt(20000.0));
    // East and west run along dx, the diagonals over both sides.
    EXPECT_EQ(setUpCell(3, &lower, 1.0, 0.5, 1, 50.0f).flowLength, 100.0);
    EXPECT_EQ(setUpCell(7, &lower, 1.0, 0.5, 1, 50.0f).flowLength, 100.0);
    EXPECT_EQ(setUpCell(8, &lower, 1.0, 0.5, 1, 50.0f).flowLength, std::sqrt(12500.0));

    const Cell cell = setUpCell(3, &lower);
    EXPECT_EQ(cell.kinExponent, 1.666667);  // not 5/3
    EXPECT_EQ(cell.va, 0.01 * cell.slopeSine);
    EXPECT_EQ(cell.vcdc, cell.va / 4.0 * 0.5);
    const Cell noSoil = setUpCell(3, &lower, 0.0, 0.5);
    EXPECT_EQ(noSoil.va + noSoil.vcdc, 0.0);
    const Cell noCapillary = setUpCell(3, &lower, 1.0, 0.0);
    EXPECT_GT(noCapillary.va, 0.0);
    EXPECT_EQ(noCapillary.vcdc, 0.0);
}

TEST(CellSetup, ChannelThresholdArraysAndInitialState) {
    const Cell slope = setUpCell(3, nullptr, 1.0, 0.5, 3);  // flowAcc = channelThreshold
    EXPECT_FALSE(isChannelCell(slope));
    EXPECT_EQ(slope.slopeWidth, 100.0);
    EXPECT_EQ(slope.slopeQ.size(), 5u);
    EXPECT_TRUE(slope.chanQ.empty() && slope.inflowSeries.empty());
    EXPECT_TRUE(slope.dischargeSeries.empty());  // given when the cell's event starts

    // float32(16777217) is 16777216: the area is 16777216 x 3 m, not 16777217 x 3.
    Cell channel = setUpCell(3, nullptr, 1.0, 0.5, 16777217, 3.0f);
    EXPECT_TRUE(isChannelCell(channel));
    EXPECT_EQ(channel.channelWidth, 1.061722301 * std::pow(50331648.0 / 1000 * 100.0 / 1000, 0.685081138));
    EXPECT_EQ(channel.slopeDx, 25.0);
    EXPECT_EQ(channel.chanANew.size(), 5u);
    allocateStructureSeries(channel, 2, 6);
    EXPECT_EQ(channel.inflowSeries.size(), 2u * 24 * 6);
    EXPECT_EQ(channel.dischargeSeries.size(), 2u * 24 * 6);

    const double r0 = 1e-5;  // 36 mm/h
    Cell head = setUpCell(3, nullptr);
    setInitialState(head, 36.0);
    EXPECT_EQ(head.slopeQ[0], 0.0);  // a headwater cell: nothing from above
    EXPECT_DOUBLE_EQ(head.slopeQ[4], r0 * 100 * 100);
    Cell eight = setUpCell(3, nullptr, 1.0, 0.5, 8);
    setInitialState(eight, 36.0);
    EXPECT_DOUBLE_EQ(eight.chanQ[0], r0 * 7 * 100 * 100);
    EXPECT_DOUBLE_EQ(eight.chanQ[2], r0 * 7.5 * 100 * 100);
    EXPECT_NEAR(eight.channelAlpha * std::pow(eight.chanA[4], eight.kinExponent), eight.chanQ[4], 1e-12);
    EXPECT_EQ(eight.slopeQ[0], 0.0);
    EXPECT_DOUBLE_EQ(eight.slopeQ[4], r0 * 100 * 100);
}

// A 4 x 4 grid whose mouth (1, 2) has the upstream cells (1, 1), from the
// west, then the steeper (2, 2), from the south (slots fill row by row).
struct MouthBasin {
    ModelParams p = modelParams();
    CellGrid grid;
    MouthBasin(int westAcc, int southAcc, int mouthAcc) {
        p.nrows = p.ncols = 4;
        p.channelThreshold = 5;
        Topography t(4, 4);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) t.dem[t.at(r, c)] = static_cast<float>(50 - c + r + (r == 2 && c == 2) * 9);
        const int cells[3][4] = {{1, 1, 3, westAcc}, {2, 2, 1, southAcc}, {1, 2, 0, mouthAcc}};
        for (const auto& c : cells) {
            t.riverNum[t.at(c[0], c[1])] = 0;
            t.flowDir[t.at(c[0], c[1])] = c[2];
            t.flowAcc[t.at(c[0], c[1])] = c[3];
        }
        grid = gridFrom(t, p);
        std::ostringstream out;
        setupCells(grid, p, out);
    }
};

TEST(RiverMouth, ChannelMouthIgnoresALastSlopeCell) {
    // Regression: the mouth copied channelAlpha 0 from the slope cell (2, 2); its
    // channel step divided by zero and flooded the console with kcount lines.
    MouthBasin b(10, 1, 12);
    setupMouths(b.grid);
    const Cell& west = b.grid.at(1, 1);
    Cell& mouth = b.grid.at(1, 2);
    EXPECT_EQ(mouth.channelAlpha, west.channelAlpha);
    EXPECT_EQ(mouth.slopeSine, west.slopeSine);
    const RainGrid rain = hourlyRain(b.p, {20.0f});
    allocateSeries(b.grid, b.p);
    const WaveConstants k = waveConstants(mouth);
    const UpstreamSeries upstream = upstreamSeriesOf(b.grid, mouth);
    std::string log;
    for (int step = 0; step < 60; ++step) {
        setRainfall(mouth, rain, 0, 0, step / 10);
        ASSERT_TRUE(stepChannel(mouth, k, upstream, static_cast<std::size_t>(step), log));
    }
    EXPECT_EQ(log, "");
    EXPECT_GT(mouth.dischargeSeries[59], 0.0f);
}

TEST(RiverMouth, OtherMouths) {
    MouthBasin noChannel(1, 1, 12);  // channel mouth without upstream channel: keeps its own values
    const Cell own = noChannel.grid.at(1, 2);
    setupMouths(noChannel.grid);
    EXPECT_EQ(noChannel.grid.at(1, 2).channelAlpha, own.channelAlpha);
    EXPECT_EQ(noChannel.grid.at(1, 2).slopeSine, own.slopeSine);

    MouthBasin slopeMouth(1, 2, 4);  // slope mouth: the last upstream cell wins, vcdc is not copied
    const double ownVcdc = slopeMouth.grid.at(1, 2).vcdc;
    setupMouths(slopeMouth.grid);
    EXPECT_EQ(slopeMouth.grid.at(1, 2).slopeSine, slopeMouth.grid.at(2, 2).slopeSine);
    EXPECT_NE(slopeMouth.grid.at(1, 2).slopeSine, slopeMouth.grid.at(1, 1).slopeSine);
    EXPECT_EQ(slopeMouth.grid.at(1, 2).vcdc, ownVcdc);
}

const char* const kHeader = "ncols 5 nrows 4 xllcorner 135.0 yllcorner 35.0 cellsize 30 NODATA_value -9999\n";

// 20 map values base + step x k, the one at (row, col) replaced by `at`.
std::string mapValues(double base, double step = 0.0, int row = -1, int col = -1, const std::string& at = "") {
    std::string text;
    for (int k = 0; k < 20; ++k) text += (k == row * 5 + col ? at : std::to_string(base + step * k)) + " ";
    return text;
}

// setupCells on the small basin with the given parameter-file values negative
// (their maps already written).
RunResult setUpWithMaps(const std::vector<double ModelParams::*>& mapped, CellGrid* result = nullptr) {
    ModelParams p = modelParams();
    for (double ModelParams::*field : mapped) p.*field = -1.0;
    CellGrid grid = gridFrom(smallBasin(), p);
    const RunResult r = runCaptured([&](std::ostream& out) { return setupCells(grid, p, out), 0; });
    if (result != nullptr) *result = grid;
    return r;
}

TEST(ParameterMaps, ValuesFollowTheGridAndAdvanceTogether) {
    ScratchDir dir;
    writeText("paramData/param_dist_Ka.dat", kHeader + mapValues(0.0, 0.001));
    writeText("paramData/param_dist_Dm.dat", kHeader + mapValues(0.0, 0.01));
    CellGrid grid;
    const RunResult r = setUpWithMaps({&ModelParams::Dm, &ModelParams::Ka}, &grid);
    EXPECT_EQ(r.output, "  Read data from ./paramData/param_dist_Ka.dat\n"
                        "  Read data from ./paramData/param_dist_Dm.dat\n");
    EXPECT_DOUBLE_EQ(grid.at(2, 3).ka, 0.013);  // row by row from the north, border cells included
    EXPECT_DOUBLE_EQ(grid.at(2, 3).dm, 0.13);
    EXPECT_EQ(grid.at(2, 3).da, 1.0);
}

TEST(ParameterMaps, BadMapsStopWithTheMapMessage) {
    const std::string read = "  Read data from ./paramData/param_dist_Ka.dat\n";
    const std::string wrong = "./paramData/param_dist_Ka.dat looks wrong! Simulation ends\n";
    const std::pair<std::string, std::string> cases[] = {
        {"ncols 5 nrows 4 xllcorner 135.0 yllcorner 35.0 cellsize ? NODATA_value ?\n" + mapValues(0.1), read},
        {"ncols 5 nrows 4 xllcorner 135.00000000000003 yllcorner 35.0 cellsize 30 NODATA_value 0\n" + mapValues(0.1),
         wrong},
        {kHeader + std::string("0.1 0.1 0.1\n"), read + wrong},  // ends early
        {kHeader + mapValues(0.1, 0.0, 3, 4, "nan"), read + wrong},
        {kHeader + mapValues(0.1, 0.0, 2, 2, "1e999"), read + wrong},
        {kHeader + mapValues(0.1, 0.0, 0, 0, "-9999"),  // negative, even on the border
         read + "\nError: paramater value must be larger than zero\n" + wrong},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        writeText("paramData/param_dist_Ka.dat", c.first);
        const RunResult r = setUpWithMaps({&ModelParams::Ka});
        EXPECT_EQ(r.status, c.second == read ? 0 : 1) << c.first;
        EXPECT_EQ(r.output, c.second) << c.first;
    }
    ScratchDir dir;
    EXPECT_EQ(setUpWithMaps({&ModelParams::Beta}).output,
              "Error: ./paramData/param_dist_Beta.dat cannot open! Beta file must be prepared.\n");
}

TEST(ParameterMaps, CellValuesThatBreakTheModelNameTheCell) {
    const struct {
        const char* key;
        double ModelParams::*field;
        std::string values, message;  // no message: accepted
    } cases[] = {
        {"Ns", &ModelParams::Ns, mapValues(0.3, 0.0, 0, 2, "0"), ""},  // border cell: never set up
        {"Ns", &ModelParams::Ns, mapValues(0.3, 0.0, 1, 1, "0"),
         "Manning roughmess coefficient for slope must be larger than zero at column 2, row 3"},
        {"Nr", &ModelParams::Nr, mapValues(0.03, 0.0, 1, 1, "0"), ""},  // a slope cell has no channel
        {"Nr", &ModelParams::Nr, mapValues(0.03, 0.0, 2, 3, "0"),
         "Manning roughmess coefficient for channel must be larger than zero at column 4, row 2"},
        {"Beta", &ModelParams::Beta, mapValues(4.0, 0.0, 2, 1, "0"),
         "Exponent constant of unsaturated hydraulic conductivity must be larger than zero at column 2, row 2"},
        // Deeper than both layers: physically odd, but the relation stays finite; maps reject only negatives.
        {"Dm", &ModelParams::Dm, mapValues(0.5, 0.0, 1, 3, "1.5"), ""},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        writeText(std::string("paramData/param_dist_") + c.key + ".dat", kHeader + c.values);
        const RunResult r = setUpWithMaps({c.field});
        const std::string read = std::string("  Read data from ./paramData/param_dist_") + c.key + ".dat\n";
        EXPECT_EQ(r.output, read + (c.message.empty() ? "" : "\nError: " + c.message + "\n\n")) << c.key;
        EXPECT_EQ(r.status, c.message.empty() ? 0 : 1) << c.key;
    }
}

}  // namespace

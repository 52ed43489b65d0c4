// Cell set-up: geometry and coefficients, the initial state, river mouths and
// the per-cell parameter maps.

#include "cellSetup.h"
#include "inputError.h"
#include "kinematicWave.h"
#include "modelCells.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

// A cell of 100 m x 100 m flowing east, with its elevation.
Cell squareCell(int flowDir, float elevation, int flowAcc = 1) {
    Cell cell;
    cell.flowDir = flowDir;
    cell.flowAcc = flowAcc;
    cell.scale = 30.0f;
    cell.dx = 100.0f;
    cell.dy = 100.0f;
    cell.elevation = elevation;
    return cell;
}

CellParameters soil(double da, double dm) {
    CellParameters v;
    v.nr = 0.03;
    v.ns = 0.3;
    v.ka = 0.01;
    v.da = da;
    v.dm = dm;
    v.beta = 4.0;
    return v;
}

TEST(CellSetup, FlowLengthAndSlopeSine) {
    const ModelParams p = modelParams();
    Cell lower = squareCell(0, 10.0f);
    Cell cell = squareCell(3, 11.0f);
    setupCell(cell, &lower, soil(1.0, 0.5), p);
    EXPECT_EQ(cell.flowLength, 100.0);
    EXPECT_NEAR(cell.slopeSine, std::sin(0.01), 1e-16);  // 1 m over 100 m

    Cell higher = squareCell(0, 12.0f);
    setupCell(cell, &higher, soil(1.0, 0.5), p);
    EXPECT_EQ(cell.slopeSine, std::sin(std::atan(1e-5)));
    setupCell(cell, nullptr, soil(1.0, 0.5), p);  // no downstream cell: the float32 floor
    EXPECT_EQ(cell.slopeSine, std::sin(std::atan(9.999999747378752e-06)));
    EXPECT_NE(cell.slopeSine, std::sin(std::atan(1e-5)));

    Cell north = squareCell(5, 11.0f);
    setupCell(north, &lower, soil(1.0, 0.5), p);
    EXPECT_EQ(north.flowLength, 30.0 * 30.9);
    Cell diagonal = squareCell(2, 11.0f);
    diagonal.dx = 3.0f;
    diagonal.dy = 4.0f;
    setupCell(diagonal, &lower, soil(1.0, 0.5), p);
    EXPECT_EQ(diagonal.flowLength, 5.0);
    EXPECT_EQ(diagonal.channelDx, 5.0 / 4);
}

TEST(CellSetup, ExponentAndSoilLayers) {
    const ModelParams p = modelParams();
    Cell cell = squareCell(3, 11.0f);
    setupCell(cell, nullptr, soil(1.0, 0.5), p);
    EXPECT_EQ(cell.kinExponent, 1.666667);
    EXPECT_NE(cell.kinExponent, 5.0 / 3.0);
    EXPECT_EQ(cell.va, 0.01 * cell.slopeSine);
    EXPECT_EQ(cell.vcdc, cell.va / 4.0 * 0.5);

    setupCell(cell, nullptr, soil(0.0, 0.5), p);  // no soil: no soil flow at all
    EXPECT_EQ(cell.va, 0.0);
    EXPECT_EQ(cell.vcdc, 0.0);
    setupCell(cell, nullptr, soil(1.0, 0.0), p);  // no capillary layer
    EXPECT_GT(cell.va, 0.0);
    EXPECT_EQ(cell.vcdc, 0.0);
}

TEST(CellSetup, ThresholdDecidesTheChannelAndItsArrays) {
    ModelParams p = modelParams();
    p.channelThreshold = 5;
    Cell slope = squareCell(3, 11.0f, 5);
    setupCell(slope, nullptr, soil(1.0, 0.5), p);
    EXPECT_FALSE(isChannelCell(slope));
    EXPECT_EQ(slope.slopeLength, slope.flowLength);
    EXPECT_EQ(slope.slopeWidth, 100.0);
    EXPECT_EQ(slope.slopeQ.size(), 5u);
    EXPECT_TRUE(slope.chanQ.empty() && slope.chanA.empty());
    EXPECT_EQ(slope.dischargeSeries, std::vector<float>(24 * 60, 0.0f));
    EXPECT_TRUE(slope.inflowSeries.empty());  // only a dam or reservoir allocates it

    // 16777217 cells: float32(flowAcc) is 16777216, so the area uses 16777216 x 3.
    p.channelThreshold = 5;
    Cell channel = squareCell(3, 11.0f, 16777217);
    channel.dy = 3.0f;
    setupCell(channel, nullptr, soil(1.0, 0.5), p);
    EXPECT_TRUE(isChannelCell(channel));
    EXPECT_EQ(channel.channelWidth, 1.061722301 * std::pow(50331648.0 / 1000 * 100.0 / 1000, 0.685081138));
    EXPECT_EQ(channel.slopeLength, 100.0);
    EXPECT_EQ(channel.slopeDx, 25.0);
    EXPECT_EQ(channel.chanQ.size(), 5u);
    EXPECT_EQ(channel.chanANew.size(), 5u);

    allocateInflowSeries(channel, 2, 6);
    EXPECT_EQ(channel.inflowSeries.size(), 2u * 24 * 6);
}

TEST(InitialState, SteadyRunoffFromTheUpstreamArea) {
    const ModelParams p = modelParams();
    const double r0 = 36.0 * 0.001 / 3600;  // 36 mm/h = 1e-5 m/s
    Cell head = squareCell(3, 11.0f, 1);
    setupCell(head, nullptr, soil(1.0, 0.5), p);
    setInitialState(head, 36.0);
    EXPECT_EQ(head.slopeQ[0], 0.0);  // a headwater cell has no inflow at its top
    EXPECT_DOUBLE_EQ(head.slopeQ[4], r0 * 100 * 100);
    EXPECT_DOUBLE_EQ(head.slopeQ[2], r0 * 100 * 100 / 2);

    Cell channel = squareCell(3, 11.0f, 8);
    setupCell(channel, nullptr, soil(1.0, 0.5), p);
    setInitialState(channel, 36.0);
    EXPECT_DOUBLE_EQ(channel.chanQ[0], r0 * 7 * 100 * 100);
    EXPECT_DOUBLE_EQ(channel.chanQ[4], r0 * 8 * 100 * 100);
    for (int j = 0; j <= 4; ++j) {
        EXPECT_NEAR(channel.channelAlpha * std::pow(channel.chanA[j], channel.kinExponent), channel.chanQ[j],
                    1e-12);
    }
    EXPECT_EQ(channel.slopeQ[0], 0.0);
    EXPECT_DOUBLE_EQ(channel.slopeQ[4], r0 * 100.0 * 100.0);  // slope length x width = cell area
}

// A 4 x 4 grid whose mouth (1, 2) takes (1, 1) from the west first and (2, 2)
// from the south last (slots fill in row-major order).
struct MouthBasin {
    ModelParams p = modelParams();
    CellGrid grid;
    MouthBasin(int westAcc, int southAcc, int mouthAcc, int threshold) {
        p.nrows = 4;
        p.ncols = 4;
        p.channelThreshold = threshold;
        Topography t(4, 4);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) t.dem[t.at(r, c)] = 50.0f - static_cast<float>(c) + static_cast<float>(r);
        t.dem[t.at(2, 2)] = 60.0f;  // the southern cell is much steeper
        t.riverNum[t.at(1, 1)] = t.riverNum[t.at(1, 2)] = t.riverNum[t.at(2, 2)] = 0;
        t.flowDir[t.at(1, 1)] = 3;
        t.flowDir[t.at(2, 2)] = 1;
        t.flowAcc[t.at(1, 1)] = westAcc;
        t.flowAcc[t.at(2, 2)] = southAcc;
        t.flowAcc[t.at(1, 2)] = mouthAcc;
        grid = gridFrom(t, p);
        std::ostringstream out;
        setupCells(grid, p, out);
    }
    Cell& mouth() { return grid.at(1, 2); }
    Cell& west() { return grid.at(1, 1); }
    Cell& south() { return grid.at(2, 2); }
};

TEST(RiverMouth, ChannelMouthIgnoresALastSlopeCell) {
    // Regression: the mouth copied channelAlpha 0 from the slope cell (2, 2) and
    // its channel step divided by zero, flooding the console with kcount lines.
    MouthBasin b(10, 1, 12, 5);
    ASSERT_EQ(b.west().kind, kChannelCell);
    ASSERT_EQ(b.south().kind, kSlopeCell);
    setupMouths(b.grid);
    EXPECT_EQ(b.mouth().channelAlpha, b.west().channelAlpha);
    EXPECT_EQ(b.mouth().slopeSine, b.west().slopeSine);
    EXPECT_EQ(b.mouth().slopeWidth, b.west().slopeWidth);

    RainGrid rain = hourlyRain(b.p, {20.0f});
    std::string log;
    for (int step = 0; step < 60; ++step) {
        setRainfall(b.mouth(), rain, 0, 0, step / 10);
        ASSERT_TRUE(stepChannel(b.mouth(), b.grid, 0, 0, step, log));
    }
    EXPECT_EQ(log, "");
    EXPECT_GT(b.mouth().dischargeSeries[59], 0.0f);
}

TEST(RiverMouth, WhatEachMouthCopies) {
    MouthBasin onlySlopes(1, 1, 12, 5);  // channel mouth, no upstream channel: keeps its own values
    const Cell own = onlySlopes.mouth();
    setupMouths(onlySlopes.grid);
    EXPECT_EQ(onlySlopes.mouth().channelAlpha, own.channelAlpha);
    EXPECT_EQ(onlySlopes.mouth().slopeSine, own.slopeSine);

    MouthBasin slopeMouth(1, 2, 4, 5);  // slope mouth: the later upstream cell (2, 2) wins
    const double ownVcdc = slopeMouth.mouth().vcdc;
    setupMouths(slopeMouth.grid);
    EXPECT_EQ(slopeMouth.mouth().slopeSine, slopeMouth.south().slopeSine);
    EXPECT_NE(slopeMouth.mouth().slopeSine, slopeMouth.west().slopeSine);
    EXPECT_EQ(slopeMouth.mouth().va, slopeMouth.south().va);
    EXPECT_EQ(slopeMouth.mouth().vcdc, ownVcdc);  // not among the copied fields
}

// The small basin of testProject.h with per-cell maps of the given keys.
struct MapProject {
    ScratchDir dir;
    ModelParams p = modelParams();
    CellGrid grid = gridFrom(smallBasin(), p);

    static void writeMap(const std::string& key, const std::string& values,
                         const std::string& header = "ncols 5 nrows 4 xllcorner 135.0 yllcorner 35.0 "
                                                     "cellsize 30 NODATA_value -9999\n") {
        writeText("paramData/param_dist_" + key + ".dat", header + values);
    }
    // 20 values, the k-th equal to base + step * k, with `at` (row, column) overridden.
    static std::string values(double base, double step, int row = -1, int col = -1, const std::string& at = "") {
        std::string text;
        for (int k = 0; k < 20; ++k) {
            text += (k == row * 5 + col ? at : std::to_string(base + step * k)) + (k % 5 == 4 ? "\n" : " ");
        }
        return text;
    }
    RunResult run() {
        return runCaptured([&](std::ostream& out) {
            setupCells(grid, p, out);
            return 0;
        });
    }
};

TEST(ParameterMaps, ValuesFollowTheGridAndAdvanceTogether) {
    MapProject m;
    m.p.Ka = -1;
    m.p.Dm = -1;
    MapProject::writeMap("Ka", MapProject::values(0.0, 0.001));
    MapProject::writeMap("Dm", MapProject::values(0.0, 0.01));
    const RunResult r = m.run();
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "  Read data from ./paramData/param_dist_Ka.dat\n"
                        "  Read data from ./paramData/param_dist_Dm.dat\n");
    EXPECT_DOUBLE_EQ(m.grid.at(2, 3).ka, 0.013);  // row-major from the north row, edge cells included
    EXPECT_DOUBLE_EQ(m.grid.at(2, 3).dm, 0.13);
    EXPECT_DOUBLE_EQ(m.grid.at(1, 1).ka, 0.006);
    EXPECT_EQ(m.grid.at(1, 1).da, 1.0);  // uniform
}

TEST(ParameterMaps, BadMapsStopWithTheMapMessage) {
    const std::string read = "  Read data from ./paramData/param_dist_Ka.dat\n";
    const std::string wrong = "./paramData/param_dist_Ka.dat looks wrong! Simulation ends\n";
    const std::string header = "ncols 5 nrows 4 xllcorner 135.0 yllcorner 35.0 cellsize 30 NODATA_value -9999\n";
    const struct {
        std::string text;
        std::string output;
    } cases[] = {
        {"ncols 5 nrows 4 xllcorner 135.0 yllcorner 35.0 cellsize ? NODATA_value ?\n" +
             MapProject::values(0.1, 0.0),
         read},  // the last two header entries are not used
        {"ncols 6 nrows 4 xllcorner 135.0 yllcorner 35.0 cellsize 30 NODATA_value -9999\n" +
             MapProject::values(0.1, 0.0),
         wrong},
        {"ncols 5 nrows 4 xllcorner 135.00000000000003 yllcorner 35.0 cellsize 30 NODATA_value -9999\n" +
             MapProject::values(0.1, 0.0),
         wrong},
        {header + "0.1 0.1 0.1\n", read + wrong},                              // ends early
        {header + MapProject::values(0.1, 0.0, 3, 4, "nan"), read + wrong},    // not a number
        {header + MapProject::values(0.1, 0.0, 2, 2, "1e999"), read + wrong},  // not finite
        {header + MapProject::values(0.1, 0.0, 0, 0, "-9999"),                 // negative, even on the border
         read + "\nError: paramater value must be larger than zero\n" + wrong},
    };
    for (const auto& c : cases) {
        MapProject m;
        m.p.Ka = -0.5;
        writeText("paramData/param_dist_Ka.dat", c.text);
        const RunResult r = m.run();
        EXPECT_EQ(r.status, c.output == read ? 0 : 1) << c.text;
        EXPECT_EQ(r.output, c.output) << c.text;
    }
    MapProject missing;
    missing.p.Beta = -1;
    EXPECT_EQ(missing.run().output,
              "Error: ./paramData/param_dist_Beta.dat cannot open! Beta file must be prepared.\n");
}

TEST(ParameterMaps, CellValuesThatBreakTheModelNameTheCell) {
    const struct {
        const char* key;
        std::string values;
        std::string message;  // empty: accepted
    } cases[] = {
        {"Ns", MapProject::values(0.3, 0.0, 0, 2, "0"), ""},  // border cell: never set up
        {"Ns", MapProject::values(0.3, 0.0, 1, 1, "0"),
         "\nError: Manning roughmess coefficient for slope must be larger than zero at column 2, row 3\n\n"},
        {"Nr", MapProject::values(0.03, 0.0, 1, 1, "0"), ""},  // a slope cell has no channel
        {"Nr", MapProject::values(0.03, 0.0, 2, 3, "0"),
         "\nError: Manning roughmess coefficient for channel must be larger than zero at column 4, row 2\n\n"},
        {"Beta", MapProject::values(4.0, 0.0, 2, 1, "0"),
         "\nError: Exponent constant of unsaturated hydraulic conductivity must be larger than zero at column 2, "
         "row 2\n\n"},
        {"Dm", MapProject::values(0.5, 0.0, 1, 3, "1.5"),
         "\nError: Depth of capillary soil layer must be larger than that of non-capillary soil layer at column 4, "
         "row 3\n\n"},
    };
    for (const auto& c : cases) {
        MapProject m;
        const std::string key = c.key;
        (key == "Ns" ? m.p.Ns : key == "Nr" ? m.p.Nr : key == "Beta" ? m.p.Beta : m.p.Dm) = -1;
        MapProject::writeMap(key, c.values);
        const RunResult r = m.run();
        const std::string read = "  Read data from ./paramData/param_dist_" + key + ".dat\n";
        EXPECT_EQ(r.status, c.message.empty() ? 0 : 1) << key;
        EXPECT_EQ(r.output, read + c.message) << key;
    }
}

}  // namespace

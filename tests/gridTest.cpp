// Grid geometry, the drainage network and the topography readers.

#include "grid.h"
#include "paramFile.h"
#include "testProject.h"
#include "topography.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace {

TEST(Geometry, CellCentresAndMetricSizes) {
    Cell cell;
    cell.setGeometry(99, 5, 100, 10, 35.0, 135.0, 12.5f, 30.0f);
    EXPECT_EQ(cell.latSec, 35.0f * 3600.0f + 15.0f);
    EXPECT_EQ(cell.lonSec, 135.0f * 3600.0f + 165.0f);
    EXPECT_EQ(cell.dy, 927.0f);
    EXPECT_NEAR(cell.dx, 927.0 * std::cos(35.0041666667 / 180.0 * 3.14), 1e-3);
    EXPECT_EQ(cell.elevation, 12.5f);
    EXPECT_EQ(cell.scale, 30.0f);
    EXPECT_TRUE(cell.isEdge);
    EXPECT_EQ(cell.kind, kBorderCell);

    cell.setGeometry(0, 0, 1, 1, 35.0, 135.0, 0.0f, 30.0f);  // one-cell grid: its own border
    EXPECT_TRUE(cell.isEdge);
    cell.setGeometry(1, 1, 3, 3, 35.0, 135.0, 0.0f, 30.0f);
    EXPECT_FALSE(cell.isEdge);
    EXPECT_EQ(cell.kind, kSlopeCell);
}

TEST(Geometry, CornerAndWholeCellsAreSummedInFloat32) {
    // 135.1 is not exact in float32; the float32 sum keeps its error, a double sum would not.
    Cell cell;
    cell.setGeometry(0, 3, 2, 5, 35.0, 135.1, 0.0f, 30.0f);
    EXPECT_EQ(cell.lonSec, 486465.03125f);
    // The half cell is added in double: 0.1 arc-second cells keep their half exactly.
    cell.setGeometry(1, 0, 2, 1, 0.0, 0.0, 0.0f, 0.1f);
    EXPECT_EQ(cell.latSec, static_cast<float>(static_cast<double>(0.1f) * 0.5));
}

TEST(Network, EightDirectionsClockwiseFromNorth) {
    const int expected[9][2] = {{-1, -1}, {4, 5}, {4, 6}, {5, 6}, {6, 6}, {6, 5}, {6, 4}, {5, 4}, {4, 4}};
    for (int code = 0; code <= 8; ++code) {
        CellGrid grid(11, 11);
        grid.at(5, 5).flowDir = code;
        linkDownstream(grid, 5, 5);
        const int32_t d = grid.at(5, 5).downstream;
        if (code == 0) {
            EXPECT_EQ(d, kNoCell);
        } else {
            EXPECT_EQ(grid.rowOf(d), expected[code][0]) << code;
            EXPECT_EQ(grid.colOf(d), expected[code][1]) << code;
        }
    }
    CellGrid grid(3, 3);
    grid.at(0, 2).flowDir = 2;  // border cell pointing out of the grid
    linkDownstream(grid, 0, 2);
    EXPECT_EQ(grid.at(0, 2).downstream, kNoCell);
    grid.at(0, 2).flowDir = 9;
    linkDownstream(grid, 0, 2);
    EXPECT_EQ(grid.at(0, 2).downstream, kNoCell);
}

CellGrid readSmall(Topography t, const std::string& paramsText = ParamText().text()) {
    t.write();
    writeText(kModelParamPath, paramsText);
    std::ostringstream sink;
    const ModelParams params = readParamFile(sink);
    CellGrid grid(params.nrows, params.ncols);
    readTopography(grid, params);
    return grid;
}

TEST(Network, UpstreamSlotsFillInRowMajorOrder) {
    ScratchDir dir;
    Topography t = smallBasin();
    const CellGrid grid = readSmall(t);
    const Cell& mid = grid.at(2, 2);
    EXPECT_EQ(mid.downstream, grid.index(2, 3));
    ASSERT_EQ(mid.numUpstream, 2);
    EXPECT_EQ(mid.upstream[0], grid.index(1, 2));  // row 1 comes before row 2
    EXPECT_EQ(mid.upstream[1], grid.index(2, 1));
    const Cell& mouth = grid.at(2, 3);
    EXPECT_EQ(mouth.downstream, kNoCell);
    ASSERT_EQ(mouth.numUpstream, 2);
    EXPECT_EQ(mouth.upstream[0], grid.index(1, 3));
    EXPECT_EQ(mouth.upstream[1], grid.index(2, 2));
    EXPECT_EQ(grid.at(1, 1).numUpstream, 0);
}

TEST(Network, StarOfEightNeighboursFillsSevenSlots) {
    ScratchDir dir;
    const int codes[3][3] = {{4, 5, 6}, {3, 0, 7}, {2, 1, 8}};
    // Put the star's centre inside a bigger grid so that all neighbours are non-border.
    Topography big(7, 7);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c) {
            big.riverNum[big.at(r + 1, c + 1)] = 0;
            big.flowDir[big.at(r + 1, c + 1)] = codes[r - 1][c - 1];
        }
    const CellGrid grid = readSmall(big, [] {
        ParamText p;
        p[ParamText::kNcols] = "7";
        p[ParamText::kNrows] = "7";
        return p.text();
    }());
    const Cell& centre = grid.at(3, 3);
    EXPECT_EQ(centre.numUpstream, 7);
    EXPECT_EQ(centre.upstream[0], grid.index(2, 2));
    EXPECT_EQ(centre.upstream[6], grid.index(4, 3));  // (4, 4) finds no free slot
}

TEST(Network, CellsOutsideTheRiversAndBorderCells) {
    ScratchDir dir;
    Topography t = smallBasin();
    t.riverNum[t.at(1, 2)] = -1;  // drains into (2, 2) but is outside the simulated area
    t.riverNum[t.at(3, 2)] = 0;
    t.flowDir[t.at(3, 2)] = 1;  // border cell draining north into (2, 2)
    const CellGrid grid = readSmall(t);
    EXPECT_EQ(grid.at(1, 2).downstream, kNoCell);
    EXPECT_EQ(grid.at(3, 2).downstream, grid.index(2, 2));  // border cells still link downstream
    EXPECT_EQ(grid.at(2, 2).numUpstream, 1);                // but never register upstream
    EXPECT_EQ(grid.at(2, 2).upstream[0], grid.index(2, 1));
}

TEST(Topography, FirstValueIsTheSouthWestCell) {
    ScratchDir dir;
    Topography t = smallBasin();
    t.dem[t.at(3, 0)] = -7.0f;
    t.dem[t.at(0, 4)] = 999.0f;
    t.write();
    const std::vector<float> file = readBinary<float>("topoData/modDem.bin");
    EXPECT_EQ(file.front(), -7.0f);
    EXPECT_EQ(file.back(), 999.0f);
    const CellGrid grid = readSmall(t);
    EXPECT_EQ(grid.at(3, 0).elevation, -7.0f);
    EXPECT_EQ(grid.at(0, 4).elevation, 999.0f);
}

RunResult readTopoCaptured() {
    return runCaptured([](std::ostream& out) {
        const ModelParams params = readParamFile(out);
        CellGrid grid(params.nrows, params.ncols);
        readTopography(grid, params);
        return 0;
    });
}

TEST(Topography, MissingAndShortFiles) {
    ScratchDir dir;
    smallBasin().write();
    writeText(kModelParamPath, ParamText().text());
    const char* names[] = {"modDem.bin", "flowDir.bin", "flowAcc.bin", "riverNum.bin"};
    for (const char* name : names) {
        const std::string path = std::string("topoData/") + name;
        const std::string saved = readFile(path);
        std::filesystem::remove(path);
        RunResult r = readTopoCaptured();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output.substr(r.output.rfind('\n', r.output.size() - 2) + 1), std::string(name) + " cannot open.\n");
        writeText(path, saved.substr(0, saved.size() - 4));
        r = readTopoCaptured();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("Error: ./" + path + " is too short: it holds 19 values, the grid needs 20.\n"),
                  std::string::npos)
            << r.output;
        writeText(path, saved);
    }
    EXPECT_EQ(readTopoCaptured().status, 0);
}

TEST(Topography, InvalidFlowCodeOnASimulatedCellIsNamed) {
    ScratchDir dir;
    Topography t = smallBasin();
    t.flowDir[t.at(1, 2)] = 9;
    t.write();
    writeText(kModelParamPath, ParamText().text());
    RunResult r = readTopoCaptured();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("invalid flow direction 9 at column 3, row 3"), std::string::npos) << r.output;

    t.flowDir[t.at(1, 2)] = 5;
    t.flowDir[t.at(0, 2)] = -4;  // border cells and cells outside the rivers are not checked
    t.flowDir[t.at(1, 0)] = 12;
    t.riverNum[t.at(2, 1)] = -1;
    t.flowDir[t.at(2, 1)] = 77;
    t.write();
    EXPECT_EQ(readTopoCaptured().status, 0);
}

TEST(Topography, NonFiniteElevationOfASimulatedCellIsNamed) {
    ScratchDir dir;
    writeText(kModelParamPath, ParamText().text());
    Topography t = smallBasin();
    t.dem[t.at(0, 0)] = std::nanf("");  // outside the network: never used
    t.write();
    EXPECT_EQ(readTopoCaptured().status, 0);
    t.dem[t.at(2, 3)] = std::numeric_limits<float>::infinity();  // the mouth, downstream of (2, 2)
    t.write();
    const RunResult r = readTopoCaptured();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("modDem.bin holds a value that is not a finite number at column 4, row 2."),
              std::string::npos)
        << r.output;
}

TEST(RiverList, CountsLinesAndKeepsTheFirstNumber) {
    std::istringstream count("3 1 2 3 4 5 0.1 0.2\n7 1 2 3 4 5 0.1 0.2\n\n  \n"), read(count.str());
    std::ostringstream out;
    const std::vector<int32_t> rivers = readRiverList(count, read, out);
    EXPECT_EQ(rivers, (std::vector<int32_t>{3, 7}));
    EXPECT_EQ(out.str(), "Number of rivers for simulation : 2\n\n");
}

TEST(RiverList, Failures) {
    auto run = [](const std::string& text) {
        std::istringstream count(text), read(text);
        return runCaptured([&](std::ostream& out) {
            readRiverList(count, read, out);
            return 0;
        });
    };
    RunResult r = run("3 1 2 3 4 5 0.1 0.2\n-2 1 2 3 4 5 0.1 0.2\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("negative river number -2"), std::string::npos);
    r = run("3 1 2 3 4 5 0.1\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("cannot read line 1"), std::string::npos);
    r = run("3 1 2 x 4 5 0.1 0.2\n");
    EXPECT_EQ(r.status, 1);

    ScratchDir dir;
    r = runCaptured([](std::ostream& out) {
        readRiverList(out);
        return 0;
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "riverNumList.dat cannot open.\n");
}

}  // namespace

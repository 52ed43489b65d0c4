// Topography preparation: the DEM reader, depression filling, the drainage
// network and its basins, the files the simulation reads, and the sample.

#include "calcOrder.h"
#include "dam.h"
#include "demGrid.h"
#include "depressionFill.h"
#include "drainage.h"
#include "grid.h"
#include "inputError.h"
#include "paramFile.h"
#include "paramWriter.h"
#include "prepareCommand.h"
#include "reservoir.h"
#include "sampleBasin.h"
#include "testProject.h"
#include "topoFiles.h"
#include "structureLists.h"
#include "topography.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>

namespace {

const float kNoData = std::numeric_limits<float>::quiet_NaN();

// A grid of 30 arc-second cells at 135 E, 35 N from rows given north first.
DemGrid gridOf(const std::vector<std::vector<float>>& rows) {
    DemGrid g;
    g.nrows = static_cast<int32_t>(rows.size());
    g.ncols = static_cast<int32_t>(rows[0].size());
    g.xllcorner = 135.0;
    g.yllcorner = 35.0;
    g.cellsize = 30.0 / 3600.0;
    for (const auto& row : rows) g.elevation.insert(g.elevation.end(), row.begin(), row.end());
    return g;
}

// Random elevations on a coarse integer scale (many ties, so flats and pits),
// with blobs of missing data.
DemGrid randomGrid(std::mt19937& rng) {
    std::uniform_int_distribution<int> size(3, 24), level(0, 6), coin(0, 99);
    std::vector<std::vector<float>> rows(static_cast<std::size_t>(size(rng)),
                                         std::vector<float>(static_cast<std::size_t>(size(rng))));
    for (auto& row : rows)
        for (float& v : row) v = coin(rng) < 8 ? kNoData : static_cast<float>(level(rng) * 10 + coin(rng) % 3);
    return gridOf(rows);
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const InputError& e) {
        return e.message;
    }
    return "(no error)";
}

// ---------------------------------------------------------------- DEM reader

TEST(DemGridReader, HeaderVariantsReadTheSameGrid) {
    const DemGrid g = parseDemGrid("NCOLS 3\nnRows 3\nXLLCENTER 135.005\nyllcorner 35\nCellSize 0.01\n"
                                   "1 2 3\n4 nan 6\n-9999 +8 9.5\n",
                                   "dem.asc");
    EXPECT_EQ(g.ncols, 3);
    EXPECT_EQ(g.nrows, 3);
    EXPECT_DOUBLE_EQ(g.xllcorner, 135.0);  // the centre of the first cell, half a cell in
    EXPECT_DOUBLE_EQ(g.yllcorner, 35.0);
    EXPECT_EQ(g.elevation[2], 3.0f);  // first line is the northern row
    EXPECT_FALSE(g.hasData(4));       // nan
    EXPECT_FALSE(g.hasData(6));       // -9999 is the default NODATA value
    EXPECT_EQ(g.elevation[7], 8.0f);
    EXPECT_EQ(g.elevation[8], 9.5f);

    const DemGrid d = parseDemGrid("ncols 3 nrows 3 xllcorner 135 yllcenter 35.005 dx 0.01 dy 0.01 "
                                   "NODATA_value 0 0 1 1 1 1 1 1 1 -9999",
                                   "d.asc");
    EXPECT_DOUBLE_EQ(d.yllcorner, 35.0);
    EXPECT_FALSE(d.hasData(0));  // the header's own NODATA value
    EXPECT_TRUE(d.hasData(8));   // -9999 is an elevation when the header names another NODATA
}

TEST(DemGridReader, MalformedGridsAreOneLineErrors) {
    const std::string ok = "ncols 3\nnrows 3\nxllcorner 135\nyllcorner 35\ncellsize 0.01\n";
    const std::string nine = "1 2 3 4 5 6 7 8 9\n";
    const std::pair<std::string, std::string> cases[] = {
        {"nrows 3\nxllcorner 135\nyllcorner 35\ncellsize 0.01\n" + nine, "the header has no ncols."},
        {ok + "bands 1\n" + nine, "unknown header key \"bands\"."},
        {"ncols 3x\n" + ok.substr(8) + nine, "the header value of ncols is not a number: \"3x\"."},
        {"ncols 2.5\n" + ok.substr(8) + nine, "ncols must be a positive whole number."},
        {ok + "1 2 3 4 5 6 7 8\n", "the grid holds 8 values; the header announces 9 (3 rows of 3)."},
        {ok + nine + "10\n", "the grid holds more values than the header announces (9)."},
        {ok + "1 2 3 4 five 6 7 8 9\n", "value 5 is not a number: \"five\"."},
        {ok + "1 2 3 4 1e39 6 7 8 9\n", "value 5 is too large for an elevation: \"1e39\"."},
        {"ncols 3 nrows 3 xllcorner 135 yllcorner 35 dx 0.01 dy 0.02 " + nine, "the cells are not square"},
        {"ncols 2 nrows 3 xllcorner 135 yllcorner 35 cellsize 0.01 1 2 3 4 5 6", "at least 3 of each are needed"},
        {"ncols 3 nrows 3 xllcorner 500000 yllcorner 3900000 cellsize 30 " + nine, "not in geographic coordinates"},
        {"ncols 3 nrows 3 xllcorner 135 yllcorner 35 cellsize 0 " + nine, "cellsize must be larger than zero."},
        {ok + "ncols 3\n" + nine, "the header names ncols twice."},
        {ok + "xllcenter 135\n" + nine, "the header names both xllcorner and xllcenter."},
    };
    for (const auto& [text, expected] : cases) {
        const std::string message = errorOf([&] { parseDemGrid(text, "dem.asc"); });
        EXPECT_EQ(message.rfind("Error: dem.asc: ", 0), 0u) << message;
        EXPECT_NE(message.find(expected), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), message.size() - 1) << message;  // one line
    }
    EXPECT_EQ(errorOf([] { readDemGrid("missing.asc"); }), "Error: missing.asc cannot be opened.\n");
}

// --------------------------------------------------------- depression filling

// The lowest level each cell can drain at (no epsilon): repeated relaxation
// from the seeds until nothing changes.
std::vector<double> spillLevels(const DemGrid& g) {
    const std::vector<uint8_t> seed = floodSeeds(g);
    std::vector<double> w(g.size(), std::numeric_limits<double>::infinity());
    for (std::size_t i = 0; i < g.size(); ++i)
        if (seed[i]) w[i] = g.elevation[i];
    for (bool changed = true; changed;) {
        changed = false;
        for (int r = 1; r + 1 < g.nrows; ++r)
            for (int c = 1; c + 1 < g.ncols; ++c) {
                const std::size_t i = static_cast<std::size_t>(g.index(r, c));
                if (!g.hasData(i) || seed[i]) continue;
                double lowest = std::numeric_limits<double>::infinity();
                for (int code = 1; code <= 8; ++code)
                    lowest = std::min(lowest, w[static_cast<std::size_t>(
                                                  g.index(r + kFlowRowStep[code], c + kFlowColStep[code]))]);
                const double level = std::max(static_cast<double>(g.elevation[i]), lowest);
                if (level < w[i]) w[i] = level, changed = true;
            }
    }
    return w;
}

TEST(DepressionFill, MatchesSpillLevelsAndLeavesNoPitOnRandomGrids) {
    for (unsigned seed = 1; seed <= 200; ++seed) {
        std::mt19937 rng(seed);
        const DemGrid g = randomGrid(rng);
        const std::vector<float> filled = fillDepressions(g);
        const std::vector<double> spill = spillLevels(g);
        const std::vector<uint8_t> seeds = floodSeeds(g);
        for (int r = 0; r < g.nrows; ++r)
            for (int c = 0; c < g.ncols; ++c) {
                const std::size_t i = static_cast<std::size_t>(g.index(r, c));
                if (!g.hasData(i)) {
                    ASSERT_TRUE(std::isnan(filled[i])) << "seed " << seed;
                    continue;
                }
                if (seeds[i]) {
                    ASSERT_EQ(filled[i], g.elevation[i]) << "seed " << seed;
                    continue;
                }
                // Above the spill level by at most one float32 step per cell of the grid.
                ASSERT_GE(filled[i], spill[i]) << "seed " << seed;
                ASSERT_LE(filled[i], spill[i] + 1e-5 * static_cast<double>(g.size())) << "seed " << seed;
                bool lower = false;
                for (int code = 1; code <= 8; ++code) {
                    const std::size_t n = static_cast<std::size_t>(g.index(r + kFlowRowStep[code], c + kFlowColStep[code]));
                    lower = lower || (g.hasData(n) && filled[n] < filled[i]);
                }
                ASSERT_TRUE(lower) << "seed " << seed << ": a pit is left at row " << r << ", column " << c;
            }
    }
}

TEST(DepressionFill, PitRisesOneStepAboveItsRimAndFlatsRiseStepByStep) {
    const float up = std::numeric_limits<float>::infinity();
    const std::vector<float> pit = fillDepressions(gridOf({{5, 5, 5, 5, 5},
                                                           {5, 10, 10, 10, 5},
                                                           {5, 10, 1, 10, 5},
                                                           {5, 10, 10, 10, 5},
                                                           {5, 5, 5, 5, 5}}));
    EXPECT_EQ(pit[12], std::nextafter(10.0f, up));
    EXPECT_EQ(pit[6], 10.0f);

    const std::vector<float> flat = fillDepressions(gridOf(std::vector<std::vector<float>>(6, std::vector<float>(6, 50))));
    EXPECT_EQ(flat[0], 50.0f);
    EXPECT_EQ(flat[7], std::nextafter(50.0f, up));                        // first ring inside
    EXPECT_EQ(flat[14], std::nextafter(std::nextafter(50.0f, up), up));  // second ring
}

// ------------------------------------------------------------ drainage network

TEST(Drainage, HandMadeGrids) {
    // A plane falling to the east: the last computed column drains over the ring.
    const DemGrid plane = gridOf({{50, 40, 30, 20, 10}, {50, 40, 30, 20, 10}, {50, 40, 30, 20, 10}, {50, 40, 30, 20, 10}});
    const Drainage d = traceDrainage(plane, fillDepressions(plane));
    for (int r : {1, 2}) {
        EXPECT_EQ(d.flowDir[static_cast<std::size_t>(plane.index(r, 1))], 3);
        EXPECT_EQ(d.flowDir[static_cast<std::size_t>(plane.index(r, 2))], 3);
        EXPECT_EQ(d.flowDir[static_cast<std::size_t>(plane.index(r, 3))], 0);
        EXPECT_EQ(d.flowAcc[static_cast<std::size_t>(plane.index(r, 3))], 3);
    }
    EXPECT_EQ(d.flowAcc[static_cast<std::size_t>(plane.index(0, 4))], 0);  // the ring is not computed

    // A low centre next to missing data collects the seven other computed cells
    // from all directions and is the mouth.
    const DemGrid star = gridOf({{10, 10, 10, 10, 10},
                                 {10, 10, kNoData, 10, 10},
                                 {10, 10, 1, 10, 10},
                                 {10, 10, 10, 10, 10},
                                 {10, 10, 10, 10, 10}});
    const Drainage s = traceDrainage(star, fillDepressions(star));
    const int expected[5][5] = {{0, 0, 0, 0, 0}, {0, 4, 0, 6, 0}, {0, 3, 0, 7, 0}, {0, 2, 1, 8, 0}, {0, 0, 0, 0, 0}};
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) EXPECT_EQ(s.flowDir[static_cast<std::size_t>(star.index(r, c))], expected[r][c]);
    EXPECT_EQ(s.flowAcc[12], 8);
    EXPECT_EQ(s.streamOrder[12], 2);
    EXPECT_EQ(s.pathLength[12], 2);
}

// Checks every promise of the network against walks down the codes.
void checkNetwork(const DemGrid& g, const Drainage& d, unsigned seed) {
    const std::size_t n = g.size();
    std::vector<int32_t> acc(n, 0), longest(n, 0), donors(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const int r = static_cast<int>(i) / g.ncols, c = static_cast<int>(i) % g.ncols;
        ASSERT_EQ(d.computed[i], g.hasData(i) && !g.isBorder(r, c)) << "seed " << seed;
        if (!d.computed[i]) {
            ASSERT_EQ(d.flowDir[i], 0);
            ASSERT_EQ(d.flowAcc[i], 0);
            continue;
        }
        ASSERT_GE(d.flowDir[i], 0);
        ASSERT_LE(d.flowDir[i], 8);
        int32_t at = static_cast<int32_t>(i);
        for (int32_t steps = 1;; ++steps) {
            ASSERT_LE(steps, static_cast<int32_t>(n)) << "seed " << seed << ": a cycle";
            ++acc[static_cast<std::size_t>(at)];
            longest[static_cast<std::size_t>(at)] = std::max(longest[static_cast<std::size_t>(at)], steps);
            const int32_t down = d.downstreamOf(at);
            if (down < 0) break;
            ASSERT_TRUE(d.computed[static_cast<std::size_t>(down)]) << "seed " << seed << ": water routed off";
            if (steps == 1) ++donors[static_cast<std::size_t>(down)];
            at = down;
        }
        ASSERT_EQ(d.mouthOf[i], at) << "seed " << seed;
        // A mouth is where water leaves: it touches the ring or missing data.
        if (d.flowDir[i] == 0) {
            bool leaves = false;
            for (int code = 1; code <= 8; ++code) {
                const int rr = r + kFlowRowStep[code], cc = c + kFlowColStep[code];
                leaves = leaves || g.isBorder(rr, cc) || !g.hasData(static_cast<std::size_t>(g.index(rr, cc)));
            }
            ASSERT_TRUE(leaves) << "seed " << seed << ": mouth inside the computed area";
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (!d.computed[i]) continue;
        ASSERT_EQ(d.flowAcc[i], acc[i]) << "seed " << seed;
        ASSERT_EQ(d.pathLength[i], longest[i]) << "seed " << seed;
        ASSERT_LE(donors[i], 7) << "seed " << seed;  // the simulation keeps seven upstream links
        const int32_t down = d.downstreamOf(static_cast<int32_t>(i));
        if (down >= 0) {
            ASSERT_GT(d.flowAcc[static_cast<std::size_t>(down)], d.flowAcc[i]) << "seed " << seed;
        }
    }
}

TEST(Drainage, EveryCellReachesAMouthWithAccumulationRisingOnRandomGrids) {
    for (unsigned seed = 1; seed <= 200; ++seed) {
        std::mt19937 rng(seed);
        const DemGrid g = randomGrid(rng);
        checkNetwork(g, traceDrainage(g, fillDepressions(g)), seed);
    }
}

TEST(Drainage, BasinsAreSelectedLargestFirstAndNumberedInOrder) {
    // Three rows of three cells falling east: three basins of three cells.
    const DemGrid g = gridOf({{60, 60, 60, 60, 60},
                              {50, 40, 30, 20, 10},
                              {50, 40, 30, 20, 10},
                              {50, 40, 30, 20, 10},
                              {60, 60, 60, 60, 60}});
    const Drainage d = traceDrainage(g, fillDepressions(g));
    const auto basins = selectBasins(d, 3, 0);
    ASSERT_EQ(basins.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(basins[static_cast<std::size_t>(k)].number, k);
        EXPECT_EQ(basins[static_cast<std::size_t>(k)].mouth, g.index(k + 1, 3));  // equal sizes: row-major order
    }
    const auto two = selectBasins(d, 1, 2);
    const std::vector<int32_t> riverNum = riverNumbers(d, two);
    EXPECT_EQ(riverNum[static_cast<std::size_t>(g.index(1, 1))], 0);
    EXPECT_EQ(riverNum[static_cast<std::size_t>(g.index(2, 2))], 1);
    EXPECT_EQ(riverNum[static_cast<std::size_t>(g.index(3, 3))], -1);  // third basin not selected
    EXPECT_EQ(riverNum[static_cast<std::size_t>(g.index(1, 4))], -1);  // ring
    EXPECT_EQ(errorOf([&] { prepareTopoData(g, 4, 0); }),
              "Error: no basin has 4 cells or more; the largest has 3. Lower --min-cells.\n");
}

// ------------------------------------------------------------------- files

TEST(TopoFiles, RastersAreSouthRowFirstLittleEndian) {
    const std::string ints = rasterBytes(std::vector<int32_t>{1, 2, 3, 4, 5, -1}, 2, 3);
    EXPECT_EQ(ints, std::string("\x04\0\0\0\x05\0\0\0\xff\xff\xff\xff\x01\0\0\0\x02\0\0\0\x03\0\0\0", 24));
    EXPECT_EQ(rasterBytes(std::vector<float>{-9999.0f}, 1, 1), std::string("\x00\x3c\x1c\xc6", 4));

    const DemGrid g = gridOf({{1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}});
    BasinSummary b;
    b.number = 0;
    b.mouth = g.index(1, 2);
    b.cellCount = 2;
    b.longestPath = 2;
    b.streamOrder = 1;
    EXPECT_EQ(riverListText(g, {b}), "0 3 2 2 2 1 135.020833 35.012500\n");
}

TEST(TopoFiles, FailedWriteLeavesEarlierFilesAsTheyWere) {
    ScratchDir dir({"topoData"});
    writeText("topoData/modDem.bin", "old");
    std::filesystem::create_directories("topoData/flowAcc.bin.part");  // cannot be created as a file
    const DemGrid g = gridOf({{9, 9, 9, 9}, {9, 5, 4, 9}, {9, 9, 9, 9}});
    std::ostringstream out;
    const std::string message = errorOf([&] { writeTopoData(".", g, prepareTopoData(g, 1, 0), out); });
    EXPECT_EQ(message.rfind("Error: ./topoData/flowAcc.bin.part cannot be written", 0), 0u) << message;
    EXPECT_EQ(readFile("topoData/modDem.bin"), "old");
    EXPECT_FALSE(std::filesystem::exists("topoData/modDem.bin.part"));
    EXPECT_FALSE(std::filesystem::exists("topoData/flowDir.bin"));
    EXPECT_EQ(out.str(), "");
}

TEST(ParamWriter, TheSimulationReadsBackTheSameValues) {
    DemGrid g = gridOf({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}});
    g.xllcorner = 134.99986111111111;  // more digits than the file keeps
    g.cellsize = 3.0 / 3600.0;
    const ModelParams written = starterParams(g);
    const std::string text = paramFileText(written);
    std::istringstream in(text);
    std::ostringstream echo;
    ModelParams read;
    readParamFile(in, kModelParamPath, echo, read);
    checkModelParams(read);
    EXPECT_EQ(read.scale, 3.0f);
    EXPECT_EQ(read.ncols, 3);
    EXPECT_NEAR(read.xllcorner, g.xllcorner, 1e-12);
    EXPECT_EQ(read.rainFormat, 1);
    EXPECT_EQ(read.stepsPerHour, 60);
    EXPECT_EQ(read.channelThreshold, written.channelThreshold);
    EXPECT_GT(read.channelThreshold, 100);  // about 2 km2 of 3 arc-second cells
    // Written again, the values read back give the same file: the caches' corners stay put.
    EXPECT_EQ(paramFileText(read), text);
}

// ------------------------------------------------------- the command and a run

TEST(PrepareCommand, Options) {
    const PrepareOptions o = parsePrepareOptions({"-o", "proj", "--min-cells=20", "--max-basins", "3", "-p", "d.asc"});
    EXPECT_EQ(o.projectDir, "proj");
    EXPECT_EQ(o.minCells, 20);
    EXPECT_EQ(o.maxBasins, 3);
    EXPECT_TRUE(o.writeParamFile);
    EXPECT_EQ(o.demPath, "d.asc");
    EXPECT_TRUE(parsePrepareOptions({"--help"}).help);
    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{}, "Error: no DEM file given. Try prepareTopography --help.\n"},
        {{"a.asc", "b.asc"}, "Error: only one DEM can be prepared at a time. Try prepareTopography --help.\n"},
        {{"-x", "a.asc"}, "Error: unknown option -x. Try prepareTopography --help.\n"},
        {{"a.asc", "-m"}, "Error: -m needs a value. Try prepareTopography --help.\n"},
        {{"a.asc", "-m", "0"}, "Error: -m needs a whole number of at least 1, not \"0\". Try prepareTopography --help.\n"},
        {{"a.asc", "--max-basins=2x"},
         "Error: --max-basins needs a whole number of at least 1, not \"2x\". Try prepareTopography --help.\n"},
    };
    for (const auto& [args, message] : bad) EXPECT_EQ(errorOf([&] { parsePrepareOptions(args); }), message);
}

// A small valley with a pit and missing data, prepared by the command;
// the simulation's own readers then build the same network from the files.
TEST(PrepareCommand, TheSimulationReadsThePreparedNetwork) {
    ScratchDir dir({"proj/temp"});
    writeText("proj/temp/numOfBasin.dat", "stale");
    writeText("dem.asc",
              "ncols 7\nnrows 6\nxllcorner 135\nyllcorner 35\ncellsize 0.008333333333333333\nNODATA_value -1\n"
              "90 90 90 90 90 90 90\n"
              "90 60 50 50 50 -1 90\n"
              "90 55 40 25 40 45 90\n"
              "90 50 30 35 35 40 90\n"
              "90 45 5 28 30 50 90\n"
              "90 90 0 90 90 90 90\n");
    PrepareOptions options;
    options.demPath = "dem.asc";
    options.projectDir = "proj";
    options.minCells = 5;
    options.writeParamFile = true;
    const RunResult run = runCaptured([&](std::ostream& out) { return runPrepare(options, out); });
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Write proj/topoData/riverNumList.dat\n"), std::string::npos);
    EXPECT_NE(run.output.find("Remove the calculation order made for earlier topography: proj/temp/numOfBasin.dat\n"),
              std::string::npos);
    EXPECT_NE(run.output.find("  ncols nrows : 7 6\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory("proj/output/resData"));

    std::filesystem::current_path("proj");
    std::ostringstream echo;
    const ModelParams params = readParamFile(echo);
    const std::vector<int32_t> rivers = readRiverList(echo);
    ASSERT_EQ(rivers, std::vector<int32_t>{0});
    CellGrid grid(params.nrows, params.ncols);
    readTopography(grid, params);
    int simulated = 0;
    for (std::size_t i = 0; i < grid.cells.size(); ++i) {
        const Cell& cell = grid.cells[i];
        if (cell.isEdge) {
            EXPECT_LT(cell.riverNum, 0);
        }
        if (cell.riverNum < 0 || cell.isEdge) continue;
        ++simulated;
        if (cell.flowDir == 0) continue;
        ASSERT_NE(cell.downstream, kNoCell);
        const Cell& below = grid.cells[static_cast<std::size_t>(cell.downstream)];
        EXPECT_FALSE(below.isEdge);
        EXPECT_EQ(below.riverNum, cell.riverNum);
        EXPECT_GT(below.flowAcc, cell.flowAcc);
        EXPECT_LT(below.elevation, cell.elevation);
    }
    EXPECT_EQ(simulated, 19);  // every computed cell drains to the mouth at column 3, row 2
    EXPECT_EQ(grid.at(4, 2).flowDir, 0);
    EXPECT_GT(grid.at(2, 3).elevation, 30.0f);  // the pit, filled to its outlet
    // Ascending accumulation puts every upstream cell first.
    const CalcOrder order = orderCells(grid);
    std::vector<int> position(grid.cells.size(), -1);
    for (std::size_t k = 0; k < order.entries.size(); ++k)
        position[static_cast<std::size_t>(grid.index(order.entries[k].first, order.entries[k].second))] =
            static_cast<int>(k);
    for (std::size_t i = 0; i < grid.cells.size(); ++i) {
        if (grid.cells[i].riverNum >= 0 && grid.cells[i].downstream != kNoCell) {
            EXPECT_LT(position[i], position[static_cast<std::size_t>(grid.cells[i].downstream)]);
        }
    }
}

TEST(PrepareCommand, AnExistingParameterFileIsKept) {
    ScratchDir dir({"proj"});
    writeText("proj/param-hsx-event-ver400.dat", "mine");
    writeText("dem.asc", "ncols 3 nrows 3 xllcorner 135 yllcorner 35 cellsize 0.01 9 9 9 9 5 9 9 9 9");
    PrepareOptions options;
    options.demPath = "dem.asc";
    options.projectDir = "proj";
    options.minCells = 1;
    options.writeParamFile = true;
    const RunResult run = runCaptured([&](std::ostream& out) { return runPrepare(options, out); });
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Keep the existing proj/param-hsx-event-ver400.dat\n"), std::string::npos);
    EXPECT_EQ(readFile("proj/param-hsx-event-ver400.dat"), "mine");
}

// ------------------------------------------------------------------ the sample

TEST(SampleBasin, AMainRiverToTheCoastWithItsDamAboveItsLake) {
    ScratchDir dir({"s"});
    const DemGrid dem = makeSampleDem();
    std::ostringstream text;
    writeDemGrid(text, dem, 2);
    writeText("s/sample.asc", text.str());
    PrepareOptions options;
    options.demPath = "s/sample.asc";
    options.projectDir = "s";
    ASSERT_EQ(runCaptured([&](std::ostream& out) { return runPrepare(options, out); }).status, 0);
    std::ostringstream out;
    writeSampleInputs("s", 120, 100, out);

    std::filesystem::current_path("s");
    std::ostringstream echo;
    const ModelParams params = readParamFile(echo);
    EXPECT_EQ(params.days, 2);
    EXPECT_EQ(params.rainInterval, 10);
    const std::vector<int32_t> rivers = readRiverList(echo);
    CellGrid grid(params.nrows, params.ncols);
    readTopography(grid, params);
    std::istringstream first(readFile("topoData/riverNumList.dat"));
    int32_t number = 0, column = 0, row = 0, cells = 0;
    first >> number >> column >> row >> cells;
    EXPECT_GE(cells, 3000);
    EXPECT_LE(cells, 30000);
    EXPECT_LT(row, 15);  // the mouth is on the southern coast

    const std::vector<Dam> dams = readDams(grid, rivers, params, echo);
    const std::vector<Reservoir> lakes = readReservoirs(grid, rivers, params, echo);
    ASSERT_EQ(dams.size(), 1u);
    ASSERT_EQ(lakes.size(), 1u);
    // Down the river from the dam: the lake, then the mouth.
    int32_t at = grid.index(dams[0].rowIndex, dams[0].columnIndex);
    bool passesLake = false;
    while (grid.cells[static_cast<std::size_t>(at)].downstream != kNoCell) {
        at = grid.cells[static_cast<std::size_t>(at)].downstream;
        passesLake = passesLake || at == grid.index(lakes[0].rowIndex, lakes[0].columnIndex);
    }
    EXPECT_TRUE(passesLake);
    EXPECT_EQ(at, grid.index(params.nrows - row, column - 1));

    // The storm moves east: it peaks later at the eastern edge than at the western.
    double westPeak = 0, eastPeak = 0, westAt = 0, eastAt = 0;
    for (double h = 0; h < 48; h += 0.25) {
        if (sampleRain(0.1, 0.5, h) > westPeak) westPeak = sampleRain(0.1, 0.5, h), westAt = h;
        if (sampleRain(0.9, 0.5, h) > eastPeak) eastPeak = sampleRain(0.9, 0.5, h), eastAt = h;
    }
    EXPECT_LT(westAt + 3, eastAt);
    EXPECT_GT(sampleRain(0.5, 0.5, 10.0), 40.0);  // the middle of the track at the height of the storm
}

}  // namespace

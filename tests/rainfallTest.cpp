// Rainfall: the grid, the cell mapping and its cache, the readers, the totals.

#include "driver.h"
#include "inputError.h"
#include "paramFile.h"
#include "rainfall.h"
#include "modelCells.h"
#include "testProject.h"
#include "rainFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace {

int runSerial(std::ostream& out) { return runSimulation(out, RunOptions{}); }

// A 3 x 2 study area of 30" cells at (135, 35) and a 2 x 2 rainfall grid of 0.0125 degrees.
ModelParams smallParams() {
    ModelParams p;
    p.scale = 30.0f;
    p.ncols = 3;
    p.nrows = 2;
    p.xllcorner = 135.0;
    p.yllcorner = 35.0;
    p.rainFormat = 1;
    p.rainInterval = 10;
    p.rainCols = 2;
    p.rainRows = 2;
    p.rainDx = 0.0125;
    p.rainDy = 0.0125;
    p.rainLon0 = 135.0;
    p.rainLat0 = 35.0;
    p.obsPerHour = 6;
    p.days = 1;
    return p;
}

std::string connect(CellGrid& grid, const RainGrid& rain, const ModelParams& p) {
    std::ostringstream out;
    connectRainfall(grid, rain, p, out);
    return out.str();
}

const char* const kConnectLine = "Connect rainfall data to grid cell\n";
const std::string kMade = std::string(kConnectLine) + "Make ROF data ./temp/setROFCell.dat\n";
const std::string kReused = std::string(kConnectLine) + "Read ROF data from ./temp/setROFCell.dat\n";

// Header, then r c i j: north row (r 0) takes rainfall row 1, the east columns column 1.
const std::string kSmallCache =
    "2\n2\n0.0125\n0.0125\n135\n35\n3\n2\n135\n35\n"
    "0 0 1 0\n0 1 1 1\n0 2 1 1\n1 0 0 0\n1 1 0 1\n1 2 0 1\n";

TEST(RainGrid, PointsRoundOnceAndWrapEastOf180) {
    ModelParams p = smallParams();
    p.rainCols = 3;
    p.rainLat0 = 0.1;
    p.rainDy = 0.2;
    p.rainLon0 = 179.95;
    p.rainDx = 0.05;
    const RainGrid rain = makeRainGrid(p);
    EXPECT_EQ(rain.at(1, 0).latitude, static_cast<float>(1 * 0.2 + 0.1));  // one rounding, from double
    EXPECT_EQ(rain.at(0, 1).longitude, 180.0f);
    const float east = static_cast<float>(2 * 0.05 + 179.95);
    EXPECT_EQ(rain.at(1, 2).longitude, static_cast<float>(static_cast<double>(east) - 360.0));
    EXPECT_EQ(rain.at(1, 2).columnNumber, 3);
    EXPECT_EQ(rain.at(1, 2).rowNumber, 2);
    EXPECT_EQ(rain.at(1, 2).rainSeries, std::vector<float>(24 * 6, 0.0f));

    p.rainCols = 70000;
    p.rainRows = 70000;  // 4.9e9 points: more than a cell's int32 reference can name
    EXPECT_THROW(makeRainGrid(p), InputError);
}

TEST(RainCache, WrittenOnceThenReused) {
    ScratchDir dir;
    ModelParams p = smallParams();
    CellGrid grid = geometryGrid(p);
    RainGrid rain = makeRainGrid(p);
    EXPECT_EQ(connect(grid, rain, p), kMade);
    EXPECT_EQ(readFile(kRainCachePath), kSmallCache);
    EXPECT_EQ(grid.at(0, 2).rainPoint, 1 * 2 + 1);
    EXPECT_EQ(grid.at(1, 0).rainPoint, 0);

    for (Cell& cell : grid.cells) cell.rainPoint = kNoCell;
    EXPECT_EQ(connect(grid, rain, p), kReused);
    EXPECT_EQ(grid.at(0, 2).rainPoint, 3);
    EXPECT_EQ(grid.at(1, 1).rainPoint, 1);

    // Any value of at most 15 significant digits reads back equal.
    p.rainDx = 0.0123456789012345;
    p.xllcorner = -0.000123456789012345;
    EXPECT_EQ(connect(grid, rain, p), kMade);
    EXPECT_EQ(connect(grid, rain, p), kReused);
    EXPECT_NE(readFile(kRainCachePath).find("\n-0.000123456789012345\n"), std::string::npos);
}

TEST(RainCache, RecordsAreTrustedOnlyWhenCompleteAndInsideTheGrid) {
    ScratchDir dir;
    const ModelParams p = smallParams();
    CellGrid grid = geometryGrid(p);
    const RainGrid rain = makeRainGrid(p);
    const std::string header = kSmallCache.substr(0, kSmallCache.find("0 0 1 0"));
    // r and c are not compared with the cell order: only i and j matter.
    writeText(kRainCachePath, header + "9 9 0 0\n0 1 0 0\n0 2 0 0\n1 0 0 0\n1 1 0 0\n-5 7 0 1\n");
    EXPECT_EQ(connect(grid, rain, p), kReused);
    EXPECT_EQ(grid.at(0, 0).rainPoint, 0);
    EXPECT_EQ(grid.at(1, 2).rainPoint, 1);

    const std::string broken[] = {
        header + "0 0 1 0\n0 1 1 1\n0 2 1 1\n1 0 0 0\n1 1 0 1\n1 2 0",             // last record cut
        header + "0 0 1 0\n0 1 1 1\n0 2 2 1\n1 0 0 0\n1 1 0 1\n1 2 0 1\n",         // i outside the grid
        header + "0 0 1 0\n0 1 x 1\n0 2 1 1\n1 0 0 0\n1 1 0 1\n1 2 0 1\n",         // malformed
        header + "0 0 1 0\n0 1 1 1\n0 2 1 99999999999\n1 0 0 0\n1 1 0 1\n1 2 0 1\n",
        "-2\n2\n0.0125\n0.0125\n135\n35\n3\n2\n135\n35\n",                       // negative count
        "2\n2\n0.0125\n1e999\n135\n35\n3\n2\n135\n35\n",                          // real out of range
    };
    for (const std::string& text : broken) {
        writeText(kRainCachePath, text);
        EXPECT_EQ(connect(grid, rain, p), kMade) << text;
        EXPECT_EQ(readFile(kRainCachePath), kSmallCache) << text;
    }
}

TEST(RainCache, FailuresStopWithAMessage) {
    ScratchDir dir;
    ModelParams p = smallParams();
    CellGrid grid = geometryGrid(p);
    std::filesystem::remove("temp");
    RainGrid rain = makeRainGrid(p);
    RunResult r = runCaptured([&](std::ostream& out) { connectRainfall(grid, rain, p, out); return 0; });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, kMade + "./temp/setROFCell.dat cannot open.\n");

    std::filesystem::create_directory("temp");
    p.rainLat0 = 1e30;  // no point nearer than 1e29 degrees
    rain = makeRainGrid(p);
    r = runCaptured([&](std::ostream& out) { connectRainfall(grid, rain, p, out); return 0; });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, kMade + "Error: no rainfall point lies within reach of the cell at column 1, row 2; "
                                "check the corner of the study area and the rainfall grid.\n");
}

// Two observations an hour on a 3 x 2 rainfall grid; value(k, i, j) is exact in decimal and float32.
ModelParams seriesParams() {
    ModelParams p = smallParams();
    p.rainCols = 3;
    p.rainInterval = 30;
    p.obsPerHour = 2;
    return p;
}
float seriesValue(std::size_t k, int i, int j) {
    return static_cast<float>(k % 17) * 0.25f + static_cast<float>(i * 3 + j);
}

std::string rainText(const ModelParams& p, std::size_t records) {
    std::ostringstream text;
    for (std::size_t k = 0; k < records; ++k) {
        text << "2026 7 1 " << k / 2 << " " << (k % 2) * 30 << " 0 0\n";
        for (int i = p.rainRows - 1; i >= 0; --i) {
            for (int j = 0; j < p.rainCols; ++j) text << seriesValue(k, i, j) << (j + 1 < p.rainCols ? " " : "\n");
        }
    }
    return text.str();
}

std::vector<float> rainFrames(const ModelParams& p, std::size_t frames) {
    std::vector<float> values;
    for (std::size_t k = 0; k < frames; ++k)
        for (int i = 0; i < p.rainRows; ++i)
            for (int j = 0; j < p.rainCols; ++j) values.push_back(seriesValue(k, i, j));
    return values;
}

TEST(RainReaders, TextNorthFirstAndBinarySouthFirstFillTheSameSeries) {
    const ModelParams p = seriesParams();
    RainGrid fromText = makeRainGrid(p), fromBinary = makeRainGrid(p);
    std::istringstream text(rainText(p, 48));
    readRainText(fromText, text, "t");
    const std::vector<float> frames = rainFrames(p, 48);
    std::istringstream binary(std::string(reinterpret_cast<const char*>(frames.data()), frames.size() * 4));
    readRainBinary(fromBinary, binary, "b");
    for (std::size_t n = 0; n < fromText.points.size(); ++n) {
        EXPECT_EQ(fromText.points[n].rainSeries, fromBinary.points[n].rainSeries) << n;
    }
    EXPECT_EQ(fromText.at(1, 2).rainSeries[5], seriesValue(5, 1, 2));
    // Observation 1 of hour 3 is what a step in the second half of that hour reads.
    Cell cell;
    cell.rainPoint = 4;  // i 1, j 1
    EXPECT_EQ(rainfallAt(fromText, cell, 0, 3, rainStep(40, 60, 30)), seriesValue(7, 1, 1));
    EXPECT_EQ(rainStep(29, 60, 30), 0);
}

TEST(RainReaders, ShortFilesLeaveTheRestZero) {
    const ModelParams p = seriesParams();
    RainGrid rain = makeRainGrid(p);
    std::istringstream text(rainText(p, 2) + "2026 7 1 1 0 0 0\n1.5 2");
    EXPECT_EQ(readRainText(rain, text, "t"), 2u);  // complete records
    EXPECT_EQ(rain.at(1, 0).rainSeries[2], 1.5f);  // record 3 starts with the north row
    EXPECT_EQ(rain.at(1, 1).rainSeries[2], 2.0f);
    EXPECT_EQ(rain.at(1, 2).rainSeries[2], 0.0f);
    EXPECT_EQ(rain.at(0, 0).rainSeries[3], 0.0f);

    rain = makeRainGrid(p);
    std::vector<float> frames = rainFrames(p, 2);
    frames.resize(frames.size() - 4);  // the second frame loses its last four values, and half of one more byte
    std::string bytes(reinterpret_cast<const char*>(frames.data()), frames.size() * 4);
    bytes += "\x01\x02";
    std::istringstream binary(bytes);
    EXPECT_EQ(readRainBinary(rain, binary, "b"), 1u);
    EXPECT_EQ(rain.at(0, 1).rainSeries[1], seriesValue(1, 0, 1));
    EXPECT_EQ(rain.at(0, 2).rainSeries[1], 0.0f);
    EXPECT_EQ(rain.at(1, 2).rainSeries[1], 0.0f);
    EXPECT_EQ(rain.at(0, 0).rainSeries[2], 0.0f);

    // A cut-off download ran as if the rest were dry, without a word: it is
    // still read so, and said once on the warnings stream, never on the console.
    ScratchDir dir;
    writeText(kRainTextPath, rainText(p, 47));
    writeBinary(kRainBinaryPath, rainFrames(p, 48));
    const auto warning = [&](int format) {
        ModelParams q = p;
        q.rainFormat = format;
        std::ostringstream console, warnings;
        RainGrid read = makeRainGrid(q);
        readRainfall(read, q, console, &warnings);
        EXPECT_EQ(console.str(), "Read " + std::string(format == 1 ? kRainTextPath : kRainBinaryPath) + "\n");
        return warnings.str();
    };
    EXPECT_EQ(warning(1), "Warning: ./input/rain10min.dat holds 47 of the 48 records the event needs; the rest "
                          "of the event is taken as dry.\n");
    EXPECT_EQ(warning(2), "");
    writeBinary(kRainBinaryPath, rainFrames(p, 0));
    EXPECT_EQ(warning(2), "Warning: ./input/rain.bin holds 0 of the 48 frames the event needs; the rest of the "
                          "event is taken as dry.\n");
}

TEST(RainReaders, BadValuesStopWithTheRecordAndThePoint) {
    const ModelParams p = seriesParams();
    const std::string head = rainText(p, 1) + "2026 7 1 0 30 0 0\n1 2 3\n";
    const std::pair<std::string, std::string> cases[] = {
        {head + "4 abc 6\n", "Error: t record 2, rainfall point column 2, row 1: \"abc\" is not a finite number.\n"},
        {head + "4 1e400 6\n",
         "Error: t record 2, rainfall point column 2, row 1: \"1e400\" is not a finite number.\n"},
        {head + "nan 5 6\n", "Error: t record 2, rainfall point column 1, row 1: \"nan\" is not a finite number.\n"},
        {rainText(p, 1) + "2026 7 x 0 30 0 0\n",
         "Error: t record 2: \"x\" is not an integer (a record starts with seven integers).\n"},
    };
    for (const auto& [text, message] : cases) {
        RainGrid rain = makeRainGrid(p);
        std::istringstream in(text);
        try {
            readRainText(rain, in, "t");
            ADD_FAILURE() << "accepted " << text;
        } catch (const InputError& e) {
            EXPECT_EQ(e.message, message);
        }
    }
    for (const float bad : {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()}) {
        std::vector<float> frames = rainFrames(p, 3);
        frames[2 * 6 + 4] = bad;  // frame 3, i 1, j 1
        std::istringstream in(std::string(reinterpret_cast<const char*>(frames.data()), frames.size() * 4));
        RainGrid rain = makeRainGrid(p);
        try {
            readRainBinary(rain, in, "b");
            ADD_FAILURE() << "accepted " << bad;
        } catch (const InputError& e) {
            EXPECT_EQ(e.message.rfind("Error: b frame 3, rainfall point column 2, row 2: ", 0), 0u) << e.message;
        }
    }
}

TEST(RainTotals, TenMinuteSumsAndTheAsciiGrid) {
    ScratchDir dir;
    ModelParams p = smallParams();
    CellGrid grid = geometryGrid(p);
    RainGrid rain = makeRainGrid(p);
    connect(grid, rain, p);
    for (RainPoint& point : rain.points) point.rainSeries.assign(point.rainSeries.size(), 6.0f);
    rain.at(1, 1).rainSeries[0] = 0.0775f;  // one 10-minute value differs, at the point of (0, 1) and (0, 2)
    writeText(kRainTotalsPath, "old content");
    EXPECT_EQ(writeRainTotalsFile(kRainTotalsPath, rainTotals(grid, rain), p), 0);
    // Every cell, edges included, gets its total; row 0 (north) first.
    EXPECT_EQ(readFile(kRainTotalsPath),
              "ncols 3\nnrows 2\nxllcorner 135\nyllcorner 35\ncellsize 0.00833333\nNODATA_value -9999\n"
              "144 143.013 143.013 \n144 144 144 \n");
}

TEST(RainTotals, EveryObservationWeightedByItsLength) {
    ModelParams p = smallParams();
    CellGrid grid = geometryGrid(p);
    for (Cell& cell : grid.cells) cell.rainPoint = 0;
    RainGrid rain = makeRainGrid(p);
    std::vector<float>& series = rain.points[0].rainSeries;
    for (std::size_t k = 0; k < series.size(); ++k) series[k] = static_cast<float>(k % 7) * 1.1f + 0.3f;
    double expected = 0.0;  // the ten-minute sum: value / 6.0 in day, hour, interval order
    for (std::size_t k = 0; k < series.size(); ++k) expected += static_cast<double>(series[k]) / 6.0;
    EXPECT_EQ(rainTotals(grid, rain)[4], expected);

    p.rainInterval = 30;  // two observations an hour: each counts half an hour
    p.obsPerHour = 2;
    rain = makeRainGrid(p);
    rain.points[0].rainSeries.assign(48, 4.0f);
    EXPECT_EQ(rainTotals(grid, rain)[0], 96.0);

    std::ostringstream out;
    p.ncols = 1;
    p.nrows = 2;
    p.xllcorner = 130.01251;
    p.yllcorner = -0.000012345;
    writeRainTotals(out, {130.01251, 0.000012345}, p);
    EXPECT_EQ(out.str(), "ncols 1\nnrows 2\nxllcorner 130.013\nyllcorner -1.2345e-05\ncellsize 0.00833333\n"
                         "NODATA_value -9999\n130.013 \n1.2345e-05 \n");
}

TEST(RainfallInTheRun, CacheKeptForTheSameGeometryWhateverTheRainfall) {
    ScratchDir dir;
    smallBasin().write();
    ParamText params;
    writeText(kModelParamPath, params.text());
    std::string rain;
    for (int k = 0; k < 144; ++k) rain += "2026 1 1 0 0 0 0\n1.5 2.5\n0.5 0\n";
    writeText(kRainTextPath, rain);
    auto run = [] { return runCaptured(runSerial); };
    const std::string made = "Make ROF data ./temp/setROFCell.dat\n";
    const std::string reused = "Read ROF data from ./temp/setROFCell.dat\n";
    RunResult r = run();
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(made), std::string::npos);
    EXPECT_NE(r.output.find("Set simulation order of grid cells\n"), std::string::npos);
    writeText(kRainTextPath, "2026 1 1 0 0 0 0\n3 3 3 3\n");  // other rainfall, same grids
    r = run();
    EXPECT_NE(r.output.find(reused), std::string::npos);
    params[ParamText::kRainLat0] = "35.01";
    writeText(kModelParamPath, params.text());
    r = run();
    EXPECT_NE(r.output.find(made), std::string::npos);

    params[ParamText::kRainFormat] = "2";  // no ./input/rain.bin
    writeText(kModelParamPath, params.text());
    r = run();
    EXPECT_EQ(r.status, 1);
    const std::string end = "Read ./input/rain.bin\nROF file cannot open.\n";
    EXPECT_EQ(r.output.substr(r.output.size() - end.size()), end);
}

}  // namespace

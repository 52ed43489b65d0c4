// The whole chain from real-data formats: a GeoTIFF DEM and a CF-NetCDF
// rainfall product give the same discharge files as the ESRI ASCII grid and
// the text rainfall carrying the same values.

#include "cfRainFile.h"
#include "demGrid.h"
#include "driver.h"
#include "geoTiffFile.h"
#include "paramFile.h"
#include "prepareCommand.h"
#include "rainfallCommand.h"
#include "sampleBasin.h"
#include "testProject.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

RunResult prepareTopography(const std::string& dem, const std::string& project) {
    PrepareOptions options;
    options.demPath = dem;
    options.projectDir = project;
    options.minCells = 20;
    options.writeParamFile = true;
    return runCaptured([&](std::ostream& out) { return runPrepare(options, out); });
}

TEST(RealDataChain, GeoTiffAndNetCdfGiveTheDischargeOfAsciiAndText) {
    ScratchDir dir(std::vector<std::string>{});
    // The sample landscape on a small grid (30 x 25 cells of 2 arc-minutes) for one day.
    std::ostringstream ascii;
    writeDemGrid(ascii, makeSampleDem(30, 25), 2);
    writeText("dem.asc", ascii.str());
    const DemGrid dem = parseDemGrid(ascii.str(), "dem.asc");
    ASSERT_NO_FATAL_FAILURE(writeGeoTiff("dem.tif", dem, 4326));

    // The sample storm every 10 minutes on a 0.05-degree grid wider than the study area,
    // from an hour before the event to its end.
    CfRain rain;
    for (int k = 0; k < 150; ++k) rain.times.push_back(10.0 * k);
    rain.timeUnits = "minutes since 2020-08-31 23:00:00";
    for (int j = 0; j < 30; ++j) rain.x.push_back(134.8 + 0.05 * j);
    for (int i = 0; i < 25; ++i) rain.y.push_back(34.7 + 0.05 * i);
    const double width = dem.ncols * dem.cellsize, height = dem.nrows * dem.cellsize;
    for (int k = 0; k < 150; ++k)
        for (double lat : rain.y)
            for (double lon : rain.x)
                rain.values.push_back(static_cast<float>(sampleRain((lon - dem.xllcorner) / width,
                                                                    (lat - dem.yllcorner) / height, (k - 6 + 0.5) / 6.0)));
    writeCfRain("rain.nc", rain);

    ASSERT_EQ(prepareTopography("dem.tif", "real").status, 0);
    const RunResult rainRun = runCaptured([](std::ostream& out) {
        return runPrepareRainfall(parseRainfallOptions({"rain.nc", "-o", "real", "--start", "2020-09-01T00:00"}), out);
    });
    ASSERT_EQ(rainRun.status, 0) << rainRun.output;

    // The ASCII/text project: the same section 2 with text rainfall, records north row first.
    ASSERT_EQ(prepareTopography("dem.asc", "text").status, 0);
    std::vector<std::string> values = wordsOf("real/param-hsx-event-ver400.dat");
    values[5] = "1";
    std::string text;
    for (const std::string& v : values) text += v + "\n";
    writeText("text/param-hsx-event-ver400.dat", text);
    const int cols = std::stoi(values[7]), rows = std::stoi(values[8]);
    const std::vector<float> frames = readBinary<float>("real/input/rain.bin");
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(144 * cols * rows));
    std::string records;
    char number[32];
    for (int k = 0; k < 144; ++k) {
        records += "2020 9 1 0 0 0 " + std::to_string(k + 1) + "\n";
        for (int i = rows - 1; i >= 0; --i) {
            for (int j = 0; j < cols; ++j) {
                std::snprintf(number, sizeof number, "%.9g ", frames[static_cast<std::size_t>((k * rows + i) * cols + j)]);
                records += number;
            }
            records += "\n";
        }
    }
    writeText("text/input/rain10min.dat", records);

    for (const char* project : {"real", "text"}) {
        const RunResult sim = runCapturedIn(project, [](std::ostream& out) { return runSimulation(out, RunOptions{}); });
        ASSERT_EQ(sim.status, 0) << project << ": " << sim.output.substr(sim.output.size() > 2000 ? sim.output.size() - 2000 : 0);
    }
    for (const char* f : {"discharge10minSnapshot.bin", "discharge10minMean.bin", "dischargeHourlyMean.bin",
                          "totalRainDistribution.asc"}) {
        const std::string real = readFile(std::string("real/output/") + f);
        EXPECT_FALSE(real.empty()) << f;
        EXPECT_TRUE(real == readFile(std::string("text/output/") + f)) << f;
    }
    const std::vector<float> hourly = readBinary<float>("real/output/dischargeHourlyMean.bin");
    EXPECT_GT(*std::max_element(hourly.begin(), hourly.end()), 1.0f);  // the storm made a flood
}

}  // namespace

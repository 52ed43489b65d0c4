// exportResults: discharge.nc read back through netCDF-C (dimensions,
// coordinates, attributes, every value against the grid files, north-up on a
// grid wider than high, fill values, station series), the GeoTIFF maps read
// back through GDAL, the event start, the failures that must leave the
// previous results as they were, and the viewer page in headless Chromium.

#include "exportCommand.h"
#include "plotCommand.h"
#include "resultsProject.h"
#include "viewerData.h"

#include <gtest/gtest.h>
#include <netcdf.h>
#if FLOOD_HAVE_GDAL
#include <gdal_priv.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

RunResult runExportHere(ExportOptions options = {}) {
    return runCaptured([&](std::ostream& out) { return runExport(options, out); });
}

// discharge.nc opened for reading; closed at the end of the test.
struct NcReader {
    int id = -1;
    explicit NcReader(const std::string& path) { EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &id), NC_NOERR); }
    ~NcReader() {
        if (id >= 0) nc_close(id);
    }
    int group(const char* name) const {
        int g = -1;
        EXPECT_EQ(nc_inq_grp_ncid(id, name, &g), NC_NOERR) << name;
        return g;
    }
    static int var(int g, const char* name) {
        int v = -1;
        EXPECT_EQ(nc_inq_varid(g, name, &v), NC_NOERR) << name;
        return v;
    }
    static std::size_t dim(int g, const char* name) {
        int d = -1;
        std::size_t length = 0;
        EXPECT_EQ(nc_inq_dimid(g, name, &d), NC_NOERR) << name;
        nc_inq_dimlen(g, d, &length);
        return length;
    }
    static std::string text(int g, const char* var, const char* att) {
        const int v = var ? NcReader::var(g, var) : NC_GLOBAL;
        std::size_t length = 0;
        if (nc_inq_attlen(g, v, att, &length) != NC_NOERR) return "(missing)";
        std::string s(length, '\0');
        nc_get_att_text(g, v, att, s.data());
        return s;
    }
    template <typename T>
    static std::vector<T> values(int g, const char* name, std::size_t count) {
        std::vector<T> out(count);
        int status = NC_NOERR;
        if constexpr (std::is_same_v<T, float>) {
            status = nc_get_var_float(g, var(g, name), out.data());
        } else if constexpr (std::is_same_v<T, double>) {
            status = nc_get_var_double(g, var(g, name), out.data());
        } else {
            status = nc_get_var_int(g, var(g, name), out.data());
        }
        EXPECT_EQ(status, NC_NOERR) << name;
        return out;
    }
};

constexpr int kCols = ResultsProject::kCols, kRows = ResultsProject::kRows;

// The bits of v; -9999 stays -9999, so fill values compare like any other.
uint32_t bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

TEST(ExportResults, GridsNorthUpAndEqualToTheFramesBitForBit) {
    ResultsProject project;
    const RunResult r = runExportHere();
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "Event start: 2024-09-01T06:30:00 (the date of the first record of input/rain10min.dat)\n"
                        "Write output/discharge.nc\n");
    NcReader nc("output/discharge.nc");
    EXPECT_EQ(NcReader::dim(nc.id, "time"), 24u);
    EXPECT_EQ(NcReader::dim(nc.id, "time_10min"), 144u);
    EXPECT_EQ(NcReader::dim(nc.id, "lat"), static_cast<std::size_t>(kRows));
    EXPECT_EQ(NcReader::dim(nc.id, "lon"), static_cast<std::size_t>(kCols));
    EXPECT_EQ(NcReader::text(nc.id, nullptr, "Conventions"), "CF-1.8");
    EXPECT_EQ(NcReader::text(nc.id, nullptr, "model_version"), FLOOD_PROJECT_VERSION);
    EXPECT_EQ(NcReader::text(nc.id, "time", "units"), "minutes since 2024-09-01 06:30:00");
    EXPECT_EQ(NcReader::text(nc.id, "lat", "units"), "degrees_north");
    EXPECT_EQ(NcReader::text(nc.id, "crs", "grid_mapping_name"), "latitude_longitude");

    // Cell centres, the first row in the north; 30 arc-seconds from 135 E, 35 N.
    const double cell = 30.0 / 3600.0;
    const std::vector<double> lat = NcReader::values<double>(nc.id, "lat", kRows);
    const std::vector<double> lon = NcReader::values<double>(nc.id, "lon", kCols);
    EXPECT_DOUBLE_EQ(lat[0], 35.0 + 3.5 * cell);
    EXPECT_DOUBLE_EQ(lat[3], 35.0 + 0.5 * cell);
    EXPECT_DOUBLE_EQ(lon[0], 135.0 + 0.5 * cell);
    EXPECT_DOUBLE_EQ(lon[5], 135.0 + 5.5 * cell);
    EXPECT_EQ(NcReader::values<double>(nc.id, "time", 24)[0], 60.0);
    EXPECT_EQ(NcReader::values<double>(nc.id, "time_10min_bnds", 288)[3], 20.0);

    const struct {
        const char* var;
        const char* file;
        const char* cellMethods;
        std::size_t frames;
    } grids[] = {{"discharge_hourly", "output/dischargeHourlyMean.bin", "time: mean", 24},
                 {"discharge_10min", "output/discharge10minMean.bin", "time: mean", 144},
                 {"discharge_10min_snapshot", "output/discharge10minSnapshot.bin", "time: point", 144}};
    for (const auto& g : grids) {
        SCOPED_TRACE(g.var);
        EXPECT_EQ(NcReader::text(nc.id, g.var, "standard_name"), "water_volume_transport_in_river_channel");
        EXPECT_EQ(NcReader::text(nc.id, g.var, "units"), "m3 s-1");
        EXPECT_EQ(NcReader::text(nc.id, g.var, "cell_methods"), g.cellMethods);
        float fill = 0.0f;
        EXPECT_EQ(nc_get_att_float(nc.id, NcReader::var(nc.id, g.var), "_FillValue", &fill), NC_NOERR);
        EXPECT_EQ(fill, -9999.0f);
        const std::vector<float> file = readBinary<float>(g.file);
        const std::vector<float> nc4 = NcReader::values<float>(nc.id, g.var, g.frames * kRows * kCols);
        ASSERT_EQ(file.size(), nc4.size());
        int mismatches = 0;
        for (std::size_t f = 0; f < g.frames; ++f)
            for (int y = 1; y <= kRows; ++y)  // file row y from the south is netCDF row kRows - y
                for (int x = 1; x <= kCols; ++x)
                    mismatches += bits(file[(f * kRows + (y - 1)) * kCols + (x - 1)]) !=
                                  bits(nc4[(f * kRows + (kRows - y)) * kCols + (x - 1)]);
        EXPECT_EQ(mismatches, 0);
        // The ring and the cell of the river that is not simulated hold the fill value.
        EXPECT_EQ(nc4[0], -9999.0f);
        EXPECT_EQ(nc4[1 * kCols + 1], -9999.0f);  // column 2, row 3
        EXPECT_NE(nc4[2 * kCols + 1], -9999.0f);  // column 2, row 2
    }

    // Peak of column 4, row 2 in hour 6 (ends at minute 360); elsewhere the last hour.
    const std::vector<float> peak = NcReader::values<float>(nc.id, "peak_discharge", kRows * kCols);
    const std::vector<double> peakTime = NcReader::values<double>(nc.id, "peak_time", kRows * kCols);
    EXPECT_EQ(peak[2 * kCols + 3], 1e6f);
    EXPECT_EQ(peakTime[2 * kCols + 3], 360.0);
    EXPECT_EQ(peak[1 * kCols + 4], ResultsProject::value(23, 5, 3, 0.0f));
    EXPECT_EQ(peakTime[1 * kCols + 4], 1440.0);
    EXPECT_EQ(peak[0], -9999.0f);
    EXPECT_EQ(peakTime[0], -9999.0);
    // Not a date: a date reader would choke on the fill value of the cells without a peak.
    EXPECT_EQ(NcReader::text(nc.id, "peak_time", "units"), "min");
    const std::vector<float> rain = NcReader::values<float>(nc.id, "rainfall_total", kRows * kCols);
    EXPECT_EQ(rain[0], 41.5f);  // column 1, row 4: the north-west corner
    EXPECT_EQ(rain[3 * kCols + 5], 16.5f);
    const std::vector<int> flowDir = NcReader::values<int>(nc.id, "flow_direction", kRows * kCols);
    EXPECT_EQ(flowDir[1 * kCols + 1], 3);
    EXPECT_EQ(flowDir[1 * kCols + 4], 0);
}

TEST(ExportResults, DamsAndReservoirsAsStationSeries) {
    ResultsProject project;
    ASSERT_EQ(runExportHere().status, 0);
    NcReader nc("output/discharge.nc");
    const int dams = nc.group("dams"), lakes = nc.group("reservoirs");
    EXPECT_EQ(NcReader::text(dams, nullptr, "featureType"), "timeSeries");
    EXPECT_EQ(NcReader::text(dams, "station_name", "cf_role"), "timeseries_id");
    EXPECT_EQ(NcReader::text(dams, "storage", "coordinates"), "lat lon station_name");
    EXPECT_EQ(NcReader::dim(dams, "station"), 1u);
    char* name = nullptr;
    ASSERT_EQ(nc_get_var_string(dams, NcReader::var(dams, "station_name"), &name), NC_NOERR);
    EXPECT_STREQ(name, "Upper");
    nc_free_string(1, &name);
    EXPECT_DOUBLE_EQ(NcReader::values<double>(dams, "lat", 1)[0], 35.0 + 1.5 * 30.0 / 3600.0);
    EXPECT_EQ(NcReader::values<float>(dams, "inflow", 24)[23], 24.5f);
    EXPECT_EQ(NcReader::values<float>(dams, "storage", 24)[0], 1000.25f);
    EXPECT_EQ(NcReader::values<float>(lakes, "outflow", 24)[1], 2.75f);
    EXPECT_EQ(NcReader::values<int>(lakes, "column_number", 1)[0], 5);
}

TEST(ExportResults, EventStartFromOptionFileOrNeither) {
    ResultsProject project;
    ExportOptions options;
    options.start = "2020-02-29 23:00";
    ASSERT_EQ(runExportHere(options).status, 0);
    EXPECT_EQ(NcReader::text(NcReader("output/discharge.nc").id, "time", "units"), "minutes since 2020-02-29 23:00:00");

    project.writeRain("2024 13 1 0 0 0 1");  // no valid date: minutes since the start, said twice
    const RunResult r = runExportHere();
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Event start: unknown: times count minutes"), std::string::npos) << r.output;
    NcReader nc("output/discharge.nc");
    EXPECT_EQ(NcReader::text(nc.id, "time", "units"), "minutes");
    EXPECT_EQ(NcReader::text(nc.id, "time", "standard_name"), "(missing)");
    EXPECT_NE(NcReader::text(nc.id, nullptr, "time_origin").find("unknown"), std::string::npos);

    options.start = "2021-02-29";
    EXPECT_EQ(runExportHere(options).output,
              "Error: --start needs a date and time such as 2024-09-01T00:00, not \"2021-02-29\".\n");
}

// The start that prepareRainfall recorded beside binary rainfall dates both
// programs' results when --start is not given; --start still wins.
TEST(ExportResults, StartRecordedWithTheRainfallDatesExportAndPlot) {
    ResultsProject project;
    project.params[ParamText::kRainFormat] = "2";
    writeText("param-hsx-event-ver400.dat", project.params.text());
    writeBinary("input/rain.bin", std::vector<float>(144 * 4, 6.0f));
    writeText("input/event.txt", "# Written by prepareRainfall.\n\nstart = 2018-09-14T06:00:00Z\ninterval_minutes = 10\n"
                                 "source = /data/radar.nc\nvariable = precip\n");
    const RunResult exported = runExportHere();
    ASSERT_EQ(exported.status, 0) << exported.output;
    EXPECT_NE(exported.output.find("Event start: 2018-09-14T06:00:00 (recorded in input/event.txt)"),
              std::string::npos) << exported.output;
    EXPECT_EQ(NcReader::text(NcReader("output/discharge.nc").id, "time", "units"), "minutes since 2018-09-14 06:00:00");
    const RunResult plotted =
        runCaptured([](std::ostream& out) { return runPlot(parsePlotOptions({"--cell", "4", "2"}), out); });
    ASSERT_EQ(plotted.status, 0) << plotted.output;
    EXPECT_NE(readFile("output/hydrograph-4-2.svg").find("hour ending 2018-09-14 12:00"), std::string::npos);

    writeText("input/event.txt", "start = 2018-09-14 06:00\n");
    EXPECT_EQ(runExportHere().output, "Error: input/event.txt, line 1: start must be a UTC time such as "
                                      "2018-09-14T00:00:00Z, not \"2018-09-14 06:00\".\n");
    ExportOptions options;
    options.start = "2020-01-01";
    ASSERT_EQ(runExportHere(options).status, 0);
    EXPECT_EQ(NcReader::text(NcReader("output/discharge.nc").id, "time", "units"), "minutes since 2020-01-01 00:00:00");
}

TEST(ExportResults, TwoExportsOfOneRunAreIdentical) {
    ResultsProject project;
    ExportOptions options;
    options.geotiff = geotiffAvailable();
    ASSERT_EQ(runExportHere(options).status, 0);
    const std::string first = readFile("output/discharge.nc"), firstMap = readFile("output/peakTime.tif");
    ASSERT_EQ(runExportHere(options).status, 0);
    EXPECT_TRUE(first == readFile("output/discharge.nc"));
    EXPECT_TRUE(firstMap == readFile("output/peakTime.tif"));
}

TEST(ExportResults, BadResultsStopBeforeAnythingIsReplaced) {
    ResultsProject project;
    writeText("output/discharge.nc", "previous results");
    const struct {
        const char* file;
        std::string content;
        std::string message;
    } cases[] = {
        {"output/discharge10minMean.bin", std::string(4 * 24 * 143 + 8, '\0'),
         "Error: output/discharge10minMean.bin holds 143 whole frames and a part, the parameter file gives 144 "
         "frames of 24 cells: the file is short.\n"},
        {"output/dischargeHourlyMean.bin", std::string(4 * 24 * 25, '\0'),
         "Error: output/dischargeHourlyMean.bin holds 25 frames, the parameter file gives 24 frames of 24 cells: "
         "was the parameter file changed after the run?\n"},
        {"output/resData/LakeIQ.dat", "1\t2\t3\n2\t2\t3\n",
         "Error: output/resData/LakeIQ.dat is short: it ends after 2 of 24 hours.\n"},
        {"output/totalRainDistribution.asc", "ncols 6\nnrows 5\n",
         "Error: output/totalRainDistribution.asc does not start with the six lines of an ESRI ASCII grid header.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string good = readFile(c.file);
        writeText(c.file, c.content);
        const RunResult r = runExportHere();
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, c.message);
        EXPECT_EQ(readFile("output/discharge.nc"), "previous results");
        writeText(c.file, good);
    }
    std::filesystem::remove("output/damData/UpperIQS.dat");
    EXPECT_EQ(runExportHere().output,
              "Error: output/damData/UpperIQS.dat cannot open: run runoffSim in this project first.\n");
    // A write that fails at the end (the target is a directory) leaves no part behind.
    std::filesystem::remove("output/discharge.nc");
    std::filesystem::create_directory("output/discharge.nc");
    writeText("output/damData/UpperIQS.dat", readFile("output/resData/LakeIQ.dat"));
    EXPECT_EQ(runExportHere().status, 1);
    EXPECT_FALSE(std::filesystem::exists("output/discharge.nc.part"));
}

// The viewer page of the hand-made run: the gauge scored as plotHydrograph
// scores it, gauges that cannot be drawn, and the page itself opened in
// headless Chromium by tests/viewerBrowser.js (colours against the legend, the
// slider, a channel cell's hydrograph against the file's bits, the dam's table).
TEST(ExportResults, ViewerPageInTheBrowser) {
    ResultsProject project;
    std::vector<float> dem;
    for (int y = 1; y <= kRows; ++y)
        for (int x = 1; x <= kCols; ++x) dem.push_back(100.0f + 3.0f * static_cast<float>(x) + 7.0f * static_cast<float>(y));
    writeBinary("topoData/modDem.bin", dem);
    writeBinary("topoData/riverNum.bin", std::vector<int32_t>(kCols * kRows, 0));
    // The channel cell at column 5, row 2 holds 100 h + 25.125 in the hour ending at minute 60 (h + 1).
    writeText("gauge.csv", "minutes,q\n120,120\n180,230\n240,330\n300,420\n");
    ExportOptions options;
    options.html = true;
    options.gauges = {{5, 2, "gauge.csv"}};
    const RunResult result = runExportHere(options);
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("Write output/viewer.html\n"), std::string::npos);
    const std::string page = readFile("output/viewer.html");

    const RunResult plot = runCaptured([](std::ostream& out) {
        return runPlot(parsePlotOptions({"--cell", "5", "2", "--observed", "gauge.csv"}), out);
    });
    ASSERT_EQ(plot.status, 0) << plot.output;
    std::string csv;  // as the page's JSON holds it, line ends escaped
    for (char c : readFile("output/hydrograph-5-2-skill.csv")) csv += c == '\n' ? std::string("\\u000a") : std::string(1, c);
    EXPECT_NE(page.find("\"skillCsv\":\"" + csv + "\""), std::string::npos) << csv;

    options.gauges = {{2, 3, "gauge.csv"}};
    EXPECT_EQ(runExportHere(options).output,
              "Error: the gauge at column 2, row 3 is on a cell that is not computed: "
              "output/dischargeHourlyMean.bin holds no discharge there.\n");
    options.gauges = {{7, 1, "gauge.csv"}};
    EXPECT_EQ(runExportHere(options).output, "Error: the gauge at column 7, row 1 is outside the grid of 6 x 4 cells.\n");
    EXPECT_TRUE(readFile("output/viewer.html") == page);
    EXPECT_THROW(parseExportOptions({"--observed", "5", "2", "gauge.csv"}), InputError);

    const char* chromium = std::getenv("CHROMIUM") ? std::getenv("CHROMIUM") : "/usr/bin/chromium";
    if (!std::filesystem::exists(chromium) || std::system("node --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "the browser check needs chromium (" << chromium << ") and node: apt-get install chromium nodejs";
    }
    const int status = std::system((std::string("node ") + FLOOD_VIEWER_BROWSER + " check output/viewer.html . 5 2 Upper 3 3 "
                                    "> browser.log 2>&1").c_str());
    EXPECT_EQ(status, 0) << readFile("browser.log");
}

// The viewer's plan: a small run keeps everything at full resolution and exact;
// a large one coarsens the slopes' maps first, within the budget.
TEST(ExportResults, ViewerPlanKeepsThePageWithinItsBudget) {
    auto sizes = [](uint64_t cells, uint64_t exactCells, int64_t hours) {
        ViewerSizes s;
        s.hours = hours;
        s.exactCells = exactCells;
        s.fixedBytes = cells * 16 + exactCells * (4 + 4 * static_cast<uint64_t>(hours));
        for (uint64_t k = 1; k <= 16; ++k) s.slopeBlocks.push_back((cells - exactCells) / (k * k));
        return s;
    };
    const ViewerPlan small = planViewer(sizes(12000, 4000, 48), kViewerBudgetBytes);
    EXPECT_EQ(small.hourlyFactor, 1);
    EXPECT_EQ(small.tenMinuteFactor, 2);  // at most twice the room of the hourly maps
    EXPECT_TRUE(small.tenMinuteExact);
    const ViewerPlan large = planViewer(sizes(1000000, 60000, 24), kViewerBudgetBytes);
    EXPECT_GT(large.hourlyFactor, 1);
    EXPECT_FALSE(large.tenMinuteExact);
    EXPECT_GE(large.tenMinuteFactor, large.hourlyFactor);
    EXPECT_LE(large.estimatedBytes, kViewerBudgetBytes);
    // Levels: no data, zero, the ends of the scale.
    const LogScale scale = logScaleUpTo(1000.0);
    EXPECT_EQ(scale.level(-9999.0), 0);
    EXPECT_EQ(scale.level(0.0), 1);
    EXPECT_EQ(scale.level(scale.qMin * 1.0001), 2);
    EXPECT_EQ(scale.level(1000.0), 255);
    EXPECT_EQ(scale.level(1e9), 255);
}

#if FLOOD_HAVE_GDAL
// The last map could not take its name, and the files renamed before it kept
// the new results while the export failed. Now all keep what they held.
TEST(ExportResults, AFailedRenameLeavesEveryPreviousFile) {
    ResultsProject project;
    writeText("output/discharge.nc", "previous results");
    writeText("output/peakDischarge.tif", "previous map");
    std::filesystem::create_directories("output/totalRain.tif/kept");
    ExportOptions maps;
    maps.geotiff = true;
    const RunResult r = runExportHere(maps);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Error: output/totalRain.tif cannot be written: Is a directory.\n"), std::string::npos)
        << r.output;
    EXPECT_EQ(readFile("output/discharge.nc"), "previous results");
    EXPECT_EQ(readFile("output/peakDischarge.tif"), "previous map");
    for (const auto& entry : std::filesystem::directory_iterator("output"))
        EXPECT_TRUE(entry.is_directory() || entry.path().extension() == ".bin" || entry.path().extension() == ".asc" ||
                    entry.path().filename() == "discharge.nc" || entry.path().filename() == "peakDischarge.tif")
            << entry.path();
}
#endif

#if FLOOD_HAVE_GDAL
TEST(ExportResults, GeoTiffMapsNorthUpInWgs84) {
    ResultsProject project;
    ExportOptions options;
    options.geotiff = true;
    ASSERT_EQ(runExportHere(options).status, 0);
    GDALAllRegister();
    const struct {
        const char* name;
        std::size_t cell;  // north-up
        float value;
        bool hasNoData;
    } maps[] = {{"output/peakDischarge.tif", 2 * kCols + 3, 1e6f, true},
                {"output/peakTime.tif", 2 * kCols + 3, 360.0f, true},
                {"output/totalRain.tif", 0, 41.5f, false}};
    for (const auto& m : maps) {
        const char* name = m.name;
        SCOPED_TRACE(name);
        GDALDatasetUniquePtr map(GDALDataset::Open(name, GDAL_OF_RASTER | GDAL_OF_READONLY));
        ASSERT_TRUE(map);
        double t[6];
        ASSERT_EQ(map->GetGeoTransform(t), CE_None);
        EXPECT_DOUBLE_EQ(t[0], 135.0);
        EXPECT_DOUBLE_EQ(t[3], 35.0 + 4 * 30.0 / 3600.0);
        EXPECT_DOUBLE_EQ(t[1], 30.0 / 3600.0);
        EXPECT_DOUBLE_EQ(t[5], -30.0 / 3600.0);
        EXPECT_STREQ(map->GetSpatialRef()->GetAuthorityCode(nullptr), "4326");
        EXPECT_STREQ(map->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE");
        std::vector<float> v(kCols * kRows);
        ASSERT_EQ(map->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, kCols, kRows, v.data(), kCols, kRows, GDT_Float32, 0, 0),
                  CE_None);
        EXPECT_EQ(v[m.cell], m.value);
        int hasNoData = 0;
        map->GetRasterBand(1)->GetNoDataValue(&hasNoData);
        EXPECT_EQ(hasNoData != 0, m.hasNoData);
    }
}
#endif

}  // namespace

// prepareRainfall: gridded products (CF-NetCDF made here with netCDF-C) and
// gauge tables to input/rain.bin and section 2 of the parameter file.

#include "cfRainFile.h"
#include "productTime.h"
#include "geoTiffFile.h"
#include "paramFile.h"
#include "rainUnits.h"
#include "rainfallCommand.h"
#include "testProject.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

namespace {

// Section 1 (a 5 x 4 study area of 30" cells at 135 E, 35 N), section 2 as
// placeholders, and the rest, in a hand-made layout that must survive.
const std::string kBefore = "30\n5  4\n135.0\t35.0\n";
const std::string kAfter = "\n1\n60 4 0.6\n0.3 0.001 1.0 0.5 4.0 0.03\n3 100.0\n0.1\n";
const std::string kParam = kBefore + "1\n10\n2 2\n0.05 0.05\n135.0 35.0" + kAfter;

RunResult prepare(std::vector<std::string> args) {
    return runCaptured([&](std::ostream& out) { return runPrepareRainfall(parseRainfallOptions(args), out); });
}

// Writes the parameter file and `r` as rain.nc, then prepares rain.nc with the options `extra`.
RunResult prepareProduct(const CfRain& r, std::vector<std::string> extra = {}) {
    writeText(kModelParamPath, kParam);
    writeCfRain("rain.nc", r);
    extra.insert(extra.begin(), "rain.nc");
    return prepare(extra);
}

// A longitude/latitude product of 0.05 degrees from 134.8 E, 34.8 N (latitudes
// stored south first), `frames` times `step` minutes apart, value f(lon, lat, k).
CfRain lonLatProduct(int frames, double step, double (*f)(double, double, int)) {
    CfRain r;
    for (int k = 0; k < frames; ++k) r.times.push_back(step * k);
    for (int j = 0; j < 11; ++j) r.x.push_back(134.8 + 0.05 * j);
    for (int i = 0; i < 11; ++i) r.y.push_back(34.8 + 0.05 * i);
    for (int k = 0; k < frames; ++k)
        for (double lat : r.y)
            for (double lon : r.x) r.values.push_back(static_cast<float>(f(lon, lat, k)));
    return r;
}

double lonField(double lon, double lat, int k) { return 10.0 * (lon - 134.0) + (lat - 34.0) + 0.001 * k; }
double half(double, double, int) { return 0.5; }

std::vector<float> rainBin() { return readBinary<float>("input/rain.bin"); }

TEST(PrepareRainfall, ALongitudeFieldSurvivesTheCutExactlyInTheMiddleOfALongerProduct) {
    ScratchDir dir;
    const CfRain r = lonLatProduct(288, 10.0, lonField);  // two days; the event is one
    const RunResult run = prepareProduct(r, {"--start", "2020-09-01T12:00"});
    ASSERT_EQ(run.status, 0) << run.output;
    // The study area 135..135.0417 E, 35..35.0333 N lies in cells 4..5 both ways; one more all round.
    EXPECT_EQ(readFile(kModelParamPath), kBefore + "2\n10\n4 4\n0.05 0.05\n134.95 34.95" + kAfter);
    const std::vector<float> rain = rainBin();
    ASSERT_EQ(rain.size(), 144u * 16u);
    for (int m = 0; m < 144; ++m)
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                ASSERT_EQ(rain[static_cast<std::size_t>(m * 16 + i * 4 + j)],
                          static_cast<float>(lonField(r.x[static_cast<std::size_t>(3 + j)],
                                                      r.y[static_cast<std::size_t>(3 + i)], 72 + m)))
                    << m << ' ' << i << ' ' << j;
    EXPECT_NE(run.output.find("from 2020-09-01 12:00 to 2020-09-02 12:00 UTC (source frames 73 to 216 of 288)"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("without resampling"), std::string::npos);
    EXPECT_EQ(readFile("input/event.txt"),
              "# Written by prepareRainfall: the calendar of this project's rainfall.\nstart = 2020-09-01T12:00:00Z\n"
              "interval_minutes = 10\nsource = " + (std::filesystem::current_path() / "rain.nc").string() +
                  "\nvariable = precip\n");
}

TEST(PrepareRainfall, EveryKindOfUnitsBecomesMillimetresPerHour) {
    struct Case {
        std::string units, cellMethods, option;
        float expected;
    };
    // Hourly frames of 0.5 in the product's units.
    const Case cases[] = {
        {"mm h-1", "", "", 0.5f},
        {"mm/h", "time: mean", "", 0.5f},
        {"kg m-2 s-1", "", "", 1800.0f},
        {"mm", "time: sum", "", 0.5f},
        {"kg m-2", "", "", 0.5f},
        {"m", "time: sum", "", 500.0f},  // reanalysis accumulations in metres
        {"mm", "time: sum (interval: 10 minutes)", "", 3.0f},
        {"", "", "mm/h", 0.5f},            // no units: --units
        {"furlongs", "", "kg m-2", 0.5f},  // wrong units: --units
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        CfRain r = lonLatProduct(24, 60.0, half);
        r.units = c.units;
        r.cellMethods = c.cellMethods;
        r.standardName = "";
        const RunResult run = prepareProduct(r, c.option.empty() ? std::vector<std::string>{}
                                                                 : std::vector<std::string>{"--units", c.option});
        ASSERT_EQ(run.status, 0) << c.units << ": " << run.output;
        const std::vector<float> rain = rainBin();
        ASSERT_EQ(rain.size(), 24u * 16u) << c.units;
        EXPECT_EQ(rain.front(), c.expected) << c.units;
        EXPECT_EQ(rain.back(), c.expected) << c.units;
        // Amounts and period means are stamped at the end of their hour, instantaneous rates at its start.
        const bool endStamped = c.units == "mm" || c.units == "kg m-2" || c.units == "m" || c.option == "kg m-2" ||
                                !c.cellMethods.empty();
        EXPECT_NE(run.output.find(endStamped ? "from 2020-08-31 23:00" : "from 2020-09-01 00:00"), std::string::npos)
            << c.units << run.output;
    }
    // Time bounds place each interval, whatever the stamps: here the middle of the hour.
    ScratchDir dir;
    CfRain r = lonLatProduct(24, 60.0, half);
    r.units = "mm";
    for (int k = 0; k < 24; ++k) {
        r.times[static_cast<std::size_t>(k)] += 30.0;
        r.timeBounds.insert(r.timeBounds.end(), {60.0 * k, 60.0 * (k + 1)});
    }
    const RunResult run = prepareProduct(r);
    EXPECT_NE(run.output.find("from 2020-09-01 00:00 to 2020-09-02 00:00 UTC"), std::string::npos) << run.output;
}

TEST(PrepareRainfall, UnitSpellingsAndTimes) {
    const std::pair<const char*, double> rates[] = {
        {"mm hr-1", 1.0},    {"mm.h-1", 1.0},          {"mm s-1", 3600.0},     {"kg m**-2 s**-1", 3600.0},
        {"kg/m2/s", 3600.0}, {"kg m^-2 s^-1", 3600.0}, {"[kg/(m^2)]", 1.0},    {"0.1 mm", 0.1},
        {"mm/(10 min)", 6.0}, {"millimetres per hour", 1.0}};
    for (const auto& [text, factor] : rates) {
        RainUnits u;
        ASSERT_TRUE(parseRainUnits(text, u)) << text;
        EXPECT_DOUBLE_EQ(u.factor, factor) << text;
    }
    RainUnits u;
    for (const char* bad : {"K", "m2", "kg", "mm h-2", "", "mm/", "degrees"}) EXPECT_FALSE(parseRainUnits(bad, u)) << bad;

    int64_t t = 0;
    ASSERT_TRUE(parseIsoTime("2020-09-01T12:30", t));
    EXPECT_EQ(t, 1598963400);
    ASSERT_TRUE(parseIsoTime("2020-9-1 14:30:00+02:00", t));
    EXPECT_EQ(t, 1598963400);
    EXPECT_EQ(formatIsoTime(1598963400 + 86400 * 181), "2021-03-01 12:30");  // across February
    for (const char* bad : {"2020-02-30", "2020-09-01 25:00", "yesterday", "2020-09-01T12"})
        EXPECT_FALSE(parseIsoTime(bad, t)) << bad;
    TimeUnits units;
    ASSERT_TRUE(parseTimeUnits("hours since 1900-01-01 00:00:0.0", units));
    EXPECT_EQ(units.epoch, -2208988800);
    EXPECT_EQ(units.secondsPerUnit, 3600.0);
}

// Easting in km east of 490 km, plus one: the analytic field of the projected tests.
double eastingField(double x) { return 1.0 + (x - 490000.0) / 1000.0; }

TEST(PrepareRainfall, AProjectedGridIsWarpedKeepingTheAreaMean) {
    ScratchDir dir;
    CfRain r;
    r.projectedEpsg = 32653;  // UTM zone 53 N, whose central meridian is 135 E
    for (int k = 0; k < 144; ++k) r.times.push_back(10.0 * k);
    for (int j = 0; j <= 40; ++j) r.x.push_back(490000.0 + 500.0 * j);
    for (int i = 0; i <= 40; ++i) r.y.push_back(3885000.0 - 500.0 * i);
    for (std::size_t k = 0; k < r.times.size(); ++k)
        for (std::size_t i = 0; i < r.y.size(); ++i)
            for (double x : r.x) r.values.push_back(static_cast<float>(eastingField(x)));
    const RunResult run = prepareProduct(r);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("warped from WGS 84 / UTM zone 53N"), std::string::npos) << run.output;
    // 500 m cells: 16" of latitude and 20" of longitude at 35 N, the south-west point half a cell outside.
    EXPECT_EQ(readFile(kModelParamPath),
              kBefore + "2\n10\n10 10\n0.00555555555555556 0.00444444444444444\n134.997222222222 34.9977777777778" +
                  kAfter);
    const auto toUtm = transformBetween(4326, 32653);
    const std::vector<float> rain = rainBin();
    ASSERT_EQ(rain.size(), 144u * 100u);
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j < 10; ++j) {
            double x = 134.997222222222 + j * 20.0 / 3600.0, y = 34.9977777777778 + i * 16.0 / 3600.0;
            ASSERT_TRUE(toUtm->Transform(1, &x, &y));
            // The mean of a linear field over a cell is its value at the centre, to within the source cells cut.
            EXPECT_NEAR(rain[static_cast<std::size_t>(i * 10 + j)], eastingField(x), 0.15) << i << ' ' << j;
            EXPECT_EQ(rain[static_cast<std::size_t>(143 * 100 + i * 10 + j)], rain[static_cast<std::size_t>(i * 10 + j)]);
        }
}

TEST(PrepareRainfall, ACurvilinearGridIsWarpedToLongitudeAndLatitude) {
    ScratchDir dir;
    CfRain r;
    for (int k = 0; k < 24; ++k) r.times.push_back(60.0 * k);
    for (int j = 0; j < 30; ++j) r.x.push_back(j);
    for (int i = 0; i < 30; ++i) r.y.push_back(i);
    // A grid turned by about 11 degrees, as a radar or model grid on its own projection.
    for (int i = 0; i < 30; ++i)
        for (int j = 0; j < 30; ++j) {
            r.lat2d.push_back(34.88 + 0.01 * i + 0.002 * j);
            r.lon2d.push_back(134.9 + 0.01 * j - 0.002 * i);
        }
    for (int k = 0; k < 24; ++k)
        for (double lon : r.lon2d) r.values.push_back(static_cast<float>(3.0 + 10.0 * (lon - 135.0)));
    const RunResult run = prepareProduct(r);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("warped from two-dimensional latitude and longitude"), std::string::npos) << run.output;
    const std::vector<std::string> tokens = wordsOf(kModelParamPath);
    const int cols = std::stoi(tokens[7]), rows = std::stoi(tokens[8]);
    const double dx = std::stod(tokens[9]), lon0 = std::stod(tokens[11]);
    const std::vector<float> rain = rainBin();
    ASSERT_EQ(rain.size(), 24u * static_cast<std::size_t>(cols * rows));
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            EXPECT_NEAR(rain[static_cast<std::size_t>(i * cols + j)], 3.0 + 10.0 * (lon0 + j * dx - 135.0), 0.05)
                << i << ' ' << j;
}

TEST(PrepareRainfall, RastersWithoutTimesAreFramesAtTheGivenInterval) {
    ScratchDir dir;
    writeText(kModelParamPath, kParam);
    // One GeoTIFF per hour, north row first, in a CRS-less longitude/latitude grid of 0.05 degrees.
    std::vector<std::string> args;
    for (int k = 0; k < 24; ++k) {
        args.push_back("hour" + std::to_string(k) + ".tif");
        writeGeoTiff(args.back(), 11, 11, std::vector<float>(121, static_cast<float>(k)), 134.775, 35.325, 0.05, 0.05, 0);
    }
    EXPECT_NE(prepare(args).output.find("give their interval with --interval MINUTES"), std::string::npos);
    args.insert(args.end(), {"--interval", "60", "--units", "mm", "--start", "2020-09-01T00:00"});
    RunResult run = prepare(args);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(readFile(kModelParamPath), kBefore + "2\n60\n4 4\n0.05 0.05\n134.95 34.95" + kAfter);
    const std::vector<float> rain = rainBin();
    ASSERT_EQ(rain.size(), 24u * 16u);
    for (int k = 0; k < 24; ++k) EXPECT_EQ(rain[static_cast<std::size_t>(k * 16 + 5)], static_cast<float>(k));
    args.erase(args.begin());  // 23 hours for a day
    run = prepare(args);
    EXPECT_NE(run.output.find("23 frames; the event of 1 days in intervals of 60 minutes needs 24 (1 missing)"),
              std::string::npos)
        << run.output;
}

// Every one of these products is rejected with its message, and the project stays as it was.
TEST(PrepareRainfall, BadProductsLeaveTheProjectUnchanged) {
    struct Case {
        const char* what;
        std::function<void(CfRain&)> spoil;
        std::vector<std::string> extra;
        std::string message;
    };
    const Case cases[] = {
        {"misses the study area", [](CfRain& r) { for (double& x : r.x) x += 1.0; }, {},
         "does not cover the study area (135..135.042 E, 35..35.0333 N)"},
        {"fill value inside the cut",
         [](CfRain& r) {
             r.hasFill = true;
             r.values[static_cast<std::size_t>(5 * 121 + 4 * 11 + 4)] = r.fill;
             r.values[static_cast<std::size_t>(5 * 121 + 5 * 11 + 5)] = NAN;
         },
         {}, "the interval from 2020-09-01 00:50 to 2020-09-01 01:00 has 2 missing values (fill value or NaN)"},
        {"fill value outside the cut",
         [](CfRain& r) {
             r.hasFill = true;
             r.values[0] = r.fill;
         },
         {}, ""},
        {"negative rain", [](CfRain& r) { r.values[static_cast<std::size_t>(7 * 121 + 60)] = -0.5f; }, {},
         "the interval from 2020-09-01 01:10 to 2020-09-01 01:20 has 1 negative values inside the cut"},
        {"irregular time axis", [](CfRain& r) { r.times[100] += 1.0; }, {}, "the time axis is not regular"},
        {"unknown units", [](CfRain& r) { r.units = "K"; }, {}, "the units \"K\" of precip are not a rainfall"},
        {"missing frames", [](CfRain& r) { r.times.pop_back(); r.values.resize(r.values.size() - 121); }, {},
         "ends at 2020-09-01 23:50; the event of 1 days from 2020-09-01 00:00 to 2020-09-02 00:00 needs 1 more"},
        {"window outside", [](CfRain&) {}, {"--start", "2020-09-02T00:00"}, "the event starting at 2020-09-02 00:00 is outside it"},
        {"window off the intervals", [](CfRain&) {}, {"--start", "2020-09-01T00:05"}, "is not the start of an interval"},
        {"coarse product", [](CfRain& r) { for (double& t : r.times) t *= 9.0; }, {},
         "has an interval of 5400 s; runoffSim needs whole minutes that divide 60 minutes"},
        {"ambiguous variable", [](CfRain& r) { r.standardName = ""; r.name = "field"; }, {}, ""},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        CfRain r = lonLatProduct(144, 10.0, half);
        c.spoil(r);
        const RunResult run = prepareProduct(r, c.extra);
        if (c.message.empty()) {  // accepted
            EXPECT_EQ(run.status, 0) << c.what << ": " << run.output;
            continue;
        }
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.what << ": " << run.output;
        EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << c.what << ": " << run.output;  // one line
        EXPECT_EQ(readFile(kModelParamPath), kParam) << c.what;
        EXPECT_FALSE(std::filesystem::exists("input/rain.bin")) << c.what;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator("input"), {}), 0) << c.what;
    }
}

TEST(PrepareRainfall, GaugesAreInterpolatedByInverseDistanceOrNearestGauge) {
    ScratchDir dir;
    writeText(kModelParamPath, kParam);
    // Three gauges, 10-minute totals stamped at the end of each interval; the grid has a point on gauge A.
    std::string csv = "station,lon,lat,time,rain_mm\n";
    const struct {
        const char* id;
        double lon, lat, mm;
    } gauges[] = {{"A", 135.0, 35.0, 1.0}, {"B", 135.05, 35.0, 2.0}, {"C", 135.02, 35.04, 4.0}};
    for (int k = 1; k <= 144; ++k)
        for (const auto& g : gauges) {
            int64_t end = 1598918400 + 600 * k;  // 2020-09-01 00:00 + k intervals
            csv += std::string(g.id) + ',' + std::to_string(g.lon) + ',' + std::to_string(g.lat) + ',' +
                   formatIsoTime(end) + ',' + std::to_string(g.mm) + '\n';
        }
    writeText("gauges.csv", csv);
    RunResult run = prepare({"--gauges", "gauges.csv", "--spacing", "0.01"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(readFile(kModelParamPath), kBefore + "2\n10\n7 6\n0.01 0.01\n134.995 34.995" + kAfter);
    std::vector<float> rain = rainBin();
    ASSERT_EQ(rain.size(), 144u * 42u);
    // Point (i, j) = (0, 0) is at 134.995, 34.995; gauge A sits nowhere on the grid, so every value lies between.
    for (float v : rain) EXPECT_TRUE(v > 6.0f && v < 24.0f) << v;
    EXPECT_NE(run.output.find("3 gauges, 432 records"), std::string::npos) << run.output;
    EXPECT_NE(readFile("input/event.txt").find("/gauges.csv\nvariable =\n"), std::string::npos);

    run = prepare({"--gauges", "gauges.csv", "--spacing", "0.01", "--nearest"});
    ASSERT_EQ(run.status, 0) << run.output;
    rain = rainBin();
    EXPECT_EQ(rain[0], 6.0f);              // 134.995, 34.995: gauge A, 1 mm in 10 minutes
    EXPECT_EQ(rain[6], 12.0f);             // 135.055, 34.995: gauge B
    EXPECT_EQ(rain[5 * 7 + 2], 24.0f);     // 135.015, 35.045: gauge C

    // A missing interval is named.
    writeText("gauges.csv", csv.substr(0, csv.find("A,135.000000,35.000000,2020-09-01 01:00")) +
                                csv.substr(csv.find("A,135.000000,35.000000,2020-09-01 01:10")));
    run = prepare({"--gauges", "gauges.csv"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("no gauge has a record for the interval from 2020-09-01 00:50 to 2020-09-01 01:00"),
              std::string::npos)
        << run.output;
}

}  // namespace

namespace {

// Regression: GDAL offers the 2-D longitudes and latitudes of a radar product
// (float32, only units and _CoordinateAxisType) as the axes of x and y; read
// as 1-D axes they made a small wrong grid, and every study area inside the
// product was refused as not covered. The product here: the hourly Stage IV
// names and attributes on a polar-stereographic grid of 4762.5 m whose
// standard longitude lies 37 degrees west, 87 x 118 points from (-80.6, 33.8),
// y south to north, the rainfall linear in the grid's x and y.
TEST(PrepareRainfall, ARotatedRadarGridIsWarpedKeepingTheAreaMean) {
    OGRSpatialReference stere, wgs84;
    stere.importFromProj4("+proj=stere +lat_0=90 +lat_ts=60 +lon_0=-115 +R=6371200 +units=m");
    wgs84.SetWellKnownGeogCS("WGS84");
    stere.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    const std::unique_ptr<OGRCoordinateTransformation> toGrid(OGRCreateCoordinateTransformation(&wgs84, &stere));
    const std::unique_ptr<OGRCoordinateTransformation> toLonLat(OGRCreateCoordinateTransformation(&stere, &wgs84));
    double x0 = -80.6, y0 = 33.8;
    toGrid->Transform(1, &x0, &y0);
    auto field = [&](double x, double y) { return 2.0 + (x - x0) / 1.0e5 + 0.5 * (y - y0) / 1.0e5; };
    CfRain r;
    r.radarLonLat = r.hasFill = r.fillAlsoMissing = true;
    r.fill = NAN;
    r.name = "Total_precipitation_surface_1_Hour_Accumulation";
    r.units = "kg m^-2";
    r.standardName = "precipitation_amount";
    r.cellMethods = "time: sum (interval: 1 hr)";
    r.timeUnits = "Hour since 2001-12-31T23:00:00Z";
    r.calendar = "proleptic_gregorian";
    for (int k = 1; k <= 24; ++k) r.times.push_back(146857.0 + k);  // the ends of the hours of 2018-10-03
    for (int j = 0; j < 87; ++j) r.x.push_back(j);
    for (int i = 0; i < 118; ++i) r.y.push_back(i);
    for (int i = 0; i < 118; ++i)
        for (int j = 0; j < 87; ++j) {
            double x = x0 + 4762.5 * j, y = y0 + 4762.5 * i;
            r.values.push_back(static_cast<float>(field(x, y)));
            toLonLat->Transform(1, &x, &y);
            r.lon2d.push_back(x);
            r.lat2d.push_back(y);
        }
    const std::vector<float> frame = r.values;
    for (int k = 1; k < 24; ++k) r.values.insert(r.values.end(), frame.begin(), frame.end());

    // 120 x 100 cells of 30" well inside, and one whose western part leaves the grid.
    for (const auto& [west, south] : {std::pair{-78.5, 34.6}, {-78.2, 34.7}, {-78.0, 34.9}, {-77.9, 35.0}, {-79.4, 35.3}}) {
        SCOPED_TRACE(std::to_string(west) + " " + std::to_string(south));
        ScratchDir dir;
        const std::string param = "30\n120 100\n" + std::to_string(west) + " " + std::to_string(south) +
                                  "\n1\n10\n2 2\n0.05 0.05\n135.0 35.0" + kAfter;
        writeText(kModelParamPath, param);
        writeCfRain("st4.nc", r);
        const RunResult run = prepare({"st4.nc"});
        if (west == -79.4) {
            EXPECT_EQ(run.output, "Error: st4.nc does not cover the study area (-79.4..-78.4 E, 35.3..36.1333 N) "
                                  "and one rainfall cell around it.\n");
            EXPECT_EQ(readFile(kModelParamPath), param);
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_NE(run.output.find("from 2018-10-03 00:00 to 2018-10-04 00:00 UTC"), std::string::npos) << run.output;
        const std::vector<std::string> tokens = wordsOf(kModelParamPath);
        const int cols = std::stoi(tokens[7]), rows = std::stoi(tokens[8]);
        const double dx = std::stod(tokens[9]), dy = std::stod(tokens[10]);
        const std::vector<float> rain = rainBin();
        ASSERT_EQ(rain.size(), 24u * static_cast<std::size_t>(cols * rows));
        // The mean of a linear field over a cell is its value at the centre.
        double warped = 0.0, exact = 0.0;
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j) {
                double x = std::stod(tokens[11]) + j * dx, y = std::stod(tokens[12]) + i * dy;
                toGrid->Transform(1, &x, &y);
                const float v = rain[static_cast<std::size_t>(23 * rows * cols + i * cols + j)];
                EXPECT_NEAR(v, field(x, y), 0.02) << i << ' ' << j;
                warped += v;
                exact += field(x, y);
            }
        EXPECT_NEAR(warped / (rows * cols), exact / (rows * cols), 1e-4);
    }
}

// Every file under the working directory with its content.
std::map<std::string, std::string> projectFiles() {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("."))
        if (entry.is_regular_file()) files[entry.path().string()] = readFile(entry.path().string());
    return files;
}

// `r` made an ensemble of three members along `dimension`: member m adds m to every value.
CfRain withMembers(CfRain r, const std::string& dimension, bool standardName) {
    r.members = 3;
    r.memberDim = dimension;
    r.memberStandardName = standardName;
    const std::vector<float> one = r.values;
    r.values.clear();
    for (int m = 0; m < 3; ++m)
        for (float v : one) r.values.push_back(v + static_cast<float>(m));
    return r;
}

TEST(PrepareRainfall, EnsembleMembersAreEachTheRainfallOfTheirMemberAndRefusalsChangeNothing) {
    ScratchDir dir;
    writeText(kModelParamPath, kParam);
    writeCfRain("rain.nc", withMembers(lonLatProduct(144, 10.0, lonField), "ens", true));
    std::filesystem::create_directories("input/ensemble");
    writeText("input/ensemble/rain.007.bin", "an earlier ensemble");
    ASSERT_EQ(prepare({"rain.nc", "--ensemble"}).status, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("input/ensemble"), {}), 3);  // the earlier one gone
    const std::string param = readFile(kModelParamPath);
    EXPECT_EQ(param, kBefore + "2\n10\n4 4\n0.05 0.05\n134.95 34.95" + kAfter);
    for (int m = 0; m < 3; ++m) {
        const std::string file = readFile("input/ensemble/rain.00" + std::to_string(m) + ".bin");
        ASSERT_EQ(prepare({"rain.nc", "--member", std::to_string(m)}).status, 0);
        EXPECT_TRUE(readFile("input/rain.bin") == file) << m;
        EXPECT_EQ(readFile(kModelParamPath), param);
        EXPECT_EQ(rainBin()[0], static_cast<float>(lonField(134.95, 34.95, 0)) + static_cast<float>(m));
    }
    ASSERT_EQ(prepare({"rain.nc", "--ensemble"}).status, 0);

    // Each refusal: one line, and not a byte of the project changed.
    CfRain spoilt = withMembers(lonLatProduct(144, 10.0, lonField), "ens", true);
    spoilt.values[2 * 144 * 121 + 50 * 121 + 60] = NAN;  // member 2, inside the cut
    writeCfRain("spoilt.nc", spoilt);
    writeCfRain("numbered.nc", withMembers(lonLatProduct(144, 10.0, lonField), "number", false));
    writeCfRain("single.nc", lonLatProduct(144, 10.0, lonField));
    const std::map<std::string, std::string> before = projectFiles();
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refusals[] = {
        {{"numbered.nc"},
         "Error: numbered.nc has 3 members along its dimension number; give --ensemble to write them all or "
         "--member K (from 0) for one.\n"},
        {{"rain.nc", "--member", "3"},
         "Error: --member 3: rain.nc has 3 members along its dimension ens, numbered from 0.\n"},
        {{"single.nc", "--ensemble"},
         "Error: single.nc has no member dimension (a coordinate with standard_name realization, or a dimension "
         "named realization, member, ensemble or number), so --ensemble cannot be used.\n"},
        {{"spoilt.nc", "--ensemble"},
         "Error: spoilt.nc: the interval from 2020-09-01 08:20 to 2020-09-01 08:30 of member 2 has 1 missing "
         "values (fill value or NaN) inside the cut.\n"},
    };
    for (const auto& refusal : refusals) {
        const RunResult refused = prepare(refusal.args);
        EXPECT_EQ(refused.status, 1);
        EXPECT_EQ(refused.output, refusal.message);
        EXPECT_TRUE(projectFiles() == before) << refusal.message;
    }
}

}  // namespace

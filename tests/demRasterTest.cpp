// prepareTopography's GDAL input: rasters in geographic coordinates used as
// they are, projected ones warped to longitude/latitude.

#include "demGrid.h"
#include "demRaster.h"
#include "geoTiffFile.h"
#include "testProject.h"
#include "topoFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

bool sameBits(const DemGrid& a, const DemGrid& b) {
    return a.ncols == b.ncols && a.nrows == b.nrows && a.xllcorner == b.xllcorner && a.yllcorner == b.yllcorner &&
           a.cellsize == b.cellsize &&
           std::memcmp(a.elevation.data(), b.elevation.data(), a.elevation.size() * sizeof(float)) == 0;
}

TEST(DemRaster, AGeographicGeoTiffReadsAsItsAsciiGrid) {
    ScratchDir dir(std::vector<std::string>{});
    std::mt19937 rng(16);
    std::uniform_int_distribution<int> size(3, 30), quarter(-400, 40000), coin(0, 9);
    std::ostringstream sink;
    for (int trial = 0; trial < 20; ++trial) {
        DemGrid g;
        g.ncols = size(rng);
        g.nrows = size(rng);
        g.xllcorner = 135.0 + trial * 0.1;
        g.yllcorner = 35.0 - trial * 0.05;
        g.cellsize = (1 + trial % 4) * 15.0 / 3600.0;
        for (int k = 0; k < g.ncols * g.nrows; ++k)
            g.elevation.push_back(coin(rng) == 0 ? NAN : static_cast<float>(quarter(rng)) / 4.0f);
        std::ostringstream ascii;
        writeDemGrid(ascii, g, 2);
        writeText("dem.asc", ascii.str());
        writeGeoTiff("dem.tif", g, trial % 2 ? 4326 : 0);  // with and without a CRS
        const DemGrid native = parseDemGrid(ascii.str(), "dem.asc");
        EXPECT_TRUE(sameBits(readDemRaster("dem.tif", 0.0, sink), native)) << "seed 16, trial " << trial;
        EXPECT_TRUE(sameBits(readDemRaster("dem.asc", 0.0, sink), native)) << "seed 16, trial " << trial;
    }
    // Projected coordinates without a CRS cannot be told from anything else.
    writeGeoTiff("utm.tif", 3, 3, std::vector<float>(9, 1.0f), 500000.0, 3900000.0, 100.0, 100.0, 0);
    try {
        readDemRaster("utm.tif", 0.0, sink);
        FAIL() << "no error";
    } catch (const InputError& e) {
        EXPECT_NE(e.message.find("utm.tif has no coordinate reference system and its coordinates"), std::string::npos)
            << e.message;
    }
}

// A valley in UTM zone 53 N draining south along x = 500 km (135 E), between
// ridges 2 km to either side; beyond them the land falls away east and west.
// The sides differ in steepness so that the valley has one lowest line of
// cells rather than two parallel ones.
TEST(DemRaster, AProjectedValleyIsWarpedAndDrainsAsItsSurface) {
    ScratchDir dir(std::vector<std::string>{});
    const double xc = 500000.0, ridge = 2000.0, west = 497000.0, north = 3881000.0, south = 3873000.0;
    const int cols = 60, rows = 80;
    auto height = [&](double x, double y) {
        const double d = std::fabs(x - xc), side = x < xc ? 0.04 : 0.06;
        return 100.0 + 0.002 * (y - south) + side * (d <= ridge ? d : 2.0 * ridge - d);
    };
    std::vector<float> z;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) z.push_back(static_cast<float>(height(west + (c + 0.5) * 100.0, north - (r + 0.5) * 100.0)));
    writeGeoTiff("valley.tif", cols, rows, z, west, north, 100.0, 100.0, 32653);
    std::ostringstream report;
    const DemGrid g = readDemRaster("valley.tif", 0.0, report);
    EXPECT_NE(report.str().find("WGS 84 / UTM zone 53N (EPSG:32653)"), std::string::npos) << report.str();
    EXPECT_NE(report.str().find("square cells of 3 arc-seconds (the DEM's own resolution)"), std::string::npos);
    EXPECT_DOUBLE_EQ(g.cellsize * 3600.0, 3.0);
    const TopoData topo = prepareTopoData(g, 100, 1);

    // The analytic basin: every computed cell between the ridges.
    const auto toUtm = transformBetween(4326, 32653);
    int expected = 0, dataRows = 0;
    for (int r = 1; r + 1 < g.nrows; ++r) {
        bool rowHasData = false;
        for (int c = 1; c + 1 < g.ncols; ++c) {
            if (!g.hasData(static_cast<std::size_t>(g.index(r, c)))) continue;
            rowHasData = true;
            double x = g.columnLongitude(c), y = g.rowLatitude(r);
            ASSERT_TRUE(toUtm->Transform(1, &x, &y));
            expected += std::fabs(x - xc) < ridge ? 1 : 0;
        }
        dataRows += rowHasData ? 1 : 0;
    }
    ASSERT_EQ(topo.basins.size(), 1u);
    EXPECT_NEAR(topo.basins[0].cellCount, expected, dataRows) << "analytic " << expected;
    // The mouth: on the valley line, in the southernmost computed row with data.
    const int mouthRow = topo.basins[0].mouth / g.ncols, mouthCol = topo.basins[0].mouth % g.ncols;
    double lon = 135.0, lat = 0.0, x = xc, y = south;
    const auto toLonLat = transformBetween(32653, 4326);
    ASSERT_TRUE(toLonLat->Transform(1, &x, &y));
    lat = y;
    EXPECT_LE(std::fabs(g.columnLongitude(mouthCol) - lon), 2.0 * g.cellsize);
    EXPECT_LE(std::fabs(g.rowLatitude(mouthRow) - lat), 2.5 * g.cellsize);
}

}  // namespace

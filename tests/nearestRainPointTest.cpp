// The fast nearest-point search against the full comparison with every point.

#include "nearestRainPoint.h"
#include "paramFile.h"
#include "rainfall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace {

ModelParams rainParams(int cols, int rows, double dx, double dy, double lon0, double lat0) {
    ModelParams p;
    p.rainCols = cols;
    p.rainRows = rows;
    p.rainDx = dx;
    p.rainDy = dy;
    p.rainLon0 = lon0;
    p.rainLat0 = lat0;
    p.days = 1;
    p.obsPerHour = 1;
    return p;
}

void expectSameChoice(const RainGrid& rain, const RainPointIndex& index, float latSec, float lonSec,
                      const std::string& context) {
    const RainPointChoice fast = nearestRainPoint(index, latSec, lonSec);
    const RainPointChoice brute = nearestRainPointBrute(rain, latSec, lonSec);
    ASSERT_EQ(fast.i, brute.i) << context << " latSec " << latSec << " lonSec " << lonSec;
    ASSERT_EQ(fast.j, brute.j) << context << " latSec " << latSec << " lonSec " << lonSec;
}

TEST(NearestRainPoint, HalfwayTiesGoSouthThenWest) {
    // Spacing 0.5 degrees: every midpoint is exact in float32 and double.
    const RainGrid rain = makeRainGrid(rainParams(3, 3, 0.5, 0.5, 135.0, 35.0));
    const RainPointIndex index = makeRainPointIndex(rain);
    auto choose = [&](double lat, double lon) {
        return nearestRainPoint(index, static_cast<float>(lat * 3600), static_cast<float>(lon * 3600));
    };
    RainPointChoice c = choose(35.25, 135.5);  // between rows 0 and 1, on column 1
    EXPECT_EQ(c.i, 0);
    EXPECT_EQ(c.j, 1);
    c = choose(35.5, 135.75);  // between columns 1 and 2, on row 1
    EXPECT_EQ(c.i, 1);
    EXPECT_EQ(c.j, 1);
    c = choose(35.75, 135.25);  // centre of four points
    EXPECT_EQ(c.i, 1);
    EXPECT_EQ(c.j, 0);
    c = choose(40.0, 130.0);  // far outside: the nearest corner
    EXPECT_EQ(c.i, 2);
    EXPECT_EQ(c.j, 0);
}

TEST(NearestRainPoint, FarGridsTieEveryRowOrReachNoPoint) {
    // 1e7 degrees east: the longitude term (about 1e14) absorbs every latitude
    // term, so all 20 rows are equally near and the first row found wins.
    const RainGrid far = makeRainGrid(rainParams(3, 20, 0.001, 0.001, 1e7, 35.0));
    const float northLat = static_cast<float>(35.019 * 3600);
    EXPECT_EQ(nearestRainPoint(makeRainPointIndex(far), northLat, 486000.0f).i, 0);
    EXPECT_EQ(nearestRainPointBrute(far, northLat, 486000.0f).i, 0);
    // Nothing nearer than 1e29 degrees, or a cell without a position: no point.
    const RainGrid absurd = makeRainGrid(rainParams(2, 2, 0.05, 0.05, 135.0, 1e30));
    EXPECT_FALSE(nearestRainPoint(makeRainPointIndex(absurd), 126000.0f, 486000.0f).found());
    EXPECT_FALSE(nearestRainPointBrute(absurd, 126000.0f, 486000.0f).found());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(nearestRainPoint(makeRainPointIndex(far), nan, 486000.0f).found());
}

// A random rainfall geometry: sizes from 1, spacings tiny to huge, negative or
// zero, origins near, across 180 degrees, or far enough that rows tie.
ModelParams randomGeometry(std::mt19937_64& gen) {
    auto pick = [&](int n) { return static_cast<int>(gen() % static_cast<unsigned>(n)); };
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto spacing = [&]() {
        switch (pick(6)) {
            case 0: return 0.25 * (1 + pick(4));  // binary fractions: exact half-way ties
            case 1: return unit(gen) * 0.5;
            case 2: return 1e-7 * (1 + pick(5));  // below float32 resolution: repeated coordinates
            case 3: return 50.0 + unit(gen) * 150.0;
            case 4: return -unit(gen) * 0.3;
            default: return pick(3) == 0 ? 0.0 : 0.05;
        }
    };
    const int cols = 1 + pick(pick(4) == 0 ? 2 : 25);
    const int rows = 1 + pick(pick(4) == 0 ? 2 : 25);
    double lon0 = 130.0 + unit(gen) * 10.0;
    double lat0 = 30.0 + unit(gen) * 10.0;
    switch (pick(5)) {
        case 0: lon0 = 179.0 + unit(gen); break;                // crosses 180
        case 1: lon0 = 1e6 + pick(3); break;                    // far east: the latitude terms vanish in the sum
        case 2: lat0 = std::floor(lat0); lon0 = std::floor(lon0); break;
        default: break;
    }
    return rainParams(cols, rows, spacing(), spacing(), lon0, lat0);
}

TEST(NearestRainPoint, MatchesTheFullSearchOnRandomGeometries) {
    const uint64_t seed = std::random_device{}();
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 400; ++trial) {
        const ModelParams p = randomGeometry(gen);
        const RainGrid rain = makeRainGrid(p);
        const RainPointIndex index = makeRainPointIndex(rain);
        const std::string context = "seed " + std::to_string(seed) + " trial " + std::to_string(trial);
        const double spanLat = std::max(1.0, std::fabs(p.rainDy) * p.rainRows);
        const double spanLon = std::max(1.0, std::fabs(p.rainDx) * p.rainCols);
        for (int k = 0; k < 150; ++k) {
            double lat = p.rainLat0 + (unit(gen) * 1.4 - 0.2) * spanLat;
            double lon = p.rainLon0 + (unit(gen) * 1.4 - 0.2) * spanLon;
            if (k % 3 == 0) {  // on a point, or half-way between two neighbours
                const RainPoint& a = rain.at(static_cast<int>(gen() % static_cast<unsigned>(p.rainRows)),
                                             static_cast<int>(gen() % static_cast<unsigned>(p.rainCols)));
                const RainPoint& b = rain.at(static_cast<int>(gen() % static_cast<unsigned>(p.rainRows)),
                                             static_cast<int>(gen() % static_cast<unsigned>(p.rainCols)));
                lat = k % 2 ? a.latitude : (static_cast<double>(a.latitude) + b.latitude) / 2;
                lon = k % 2 ? a.longitude : (static_cast<double>(a.longitude) + b.longitude) / 2;
            }
            if (k % 7 == 0) lon = 180.0 + unit(gen) * 0.5;  // an unwrapped study area east of 180
            expectSameChoice(rain, index, static_cast<float>(lat * 3600), static_cast<float>(lon * 3600), context);
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace

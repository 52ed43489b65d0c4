// The four-lane pow against std::pow, bit for bit: every kind of lane (the
// vector path's and the library's special cases, mixed within one call, also
// through the slope lanes' own copies of the power), and
// the vector path alone on about 10^7 inputs (a reduced run of
// bench/powLanesValidation). The suite also runs the first test with
// FLOOD_SCALAR_POW=1 (tests/CMakeLists.txt).

#include "powLanes.h"
#include "powLanesCases.h"
#include "slopeLanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace {

std::uint64_t bitsOf(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

bool scalarForcedByEnvironment() {
    const char* value = std::getenv("FLOOD_SCALAR_POW");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

TEST(PowLanes, Pow4MatchesStdPowOnEveryKindOfLane) {
    // Where the processor can, the self-test must have passed: a failing one
    // would silently fall back to the slow path.
    EXPECT_EQ(vectorPowAvailable(), cpuHasAvx2Fma() && !scalarForcedByEnvironment());

    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> specialX = {0.0,    -0.0,  -1.5,   -2.0,    4.9e-324, 1e-310, 0x1p-1022, inf,
                                          -inf,   nan,   1.0,    std::nextafter(1.0, 2.0), std::nextafter(1.0, 0.0),
                                          1e300,  1e-300, 1e-200, 1e200};
    std::vector<double> ys = modelExponents(0.7);
    for (double y : {0.0, -0.0, 1.0, 2.0, 3.0, -1.5, 0x1p-70, 0x1p64, inf, -inf, nan, 700.0, -700.0, 1e-17})
        ys.push_back(y);

    std::vector<PowInput> inputs;
    PowRandom random{42};
    for (double y : ys) {
        for (double x : specialX) {
            // Each special base shares its call with three ordinary ones.
            inputs.push_back({x, y});
            for (int l = 0; l < 3; ++l) inputs.push_back({random.base(l), y});
        }
    }
    while (inputs.size() % 4 != 0) inputs.push_back({2.0, 0.5});

    int mismatches = 0;
    for (std::size_t n = 0; n < inputs.size(); n += 4) {
        double x[4], y[4], lanes[4], sameY[4];
        for (int l = 0; l < 4; ++l) {
            x[l] = inputs[n + static_cast<std::size_t>(l)].x;
            y[l] = inputs[n + static_cast<std::size_t>(l)].y;
        }
        pow4(x, y, lanes);
        pow4(x, y[0], sameY);
        for (int l = 0; l < 4; ++l) {
            const bool same = bitsOf(lanes[l]) == bitsOf(std::pow(x[l], y[l])) &&
                              bitsOf(sameY[l]) == bitsOf(std::pow(x[l], y[0]));
            if (!same && ++mismatches <= 5) ADD_FAILURE() << "pow(" << std::hexfloat << x[l] << ", " << y[l] << ")";
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << inputs.size() << " inputs";

    // The copies of the power inside the slope lanes' kernels (four AVX2 lanes,
    // eight AVX-512 lanes), on the same inputs and the hard cases.
    if (!vectorPowAvailable()) return;
    inputs.insert(inputs.end(), kPowHardCases, kPowHardCases + kPowHardCaseCount);
    while (inputs.size() % 8 != 0) inputs.push_back({2.0, 0.5});
    const SlopeLaneConstants constants = {};
    for (const int width : {4, 8}) {
        if (width == 8 && !cpuHasAvx512()) continue;
        int kernelMismatches = 0;
        for (std::size_t n = 0; n < inputs.size(); n += static_cast<std::size_t>(width)) {
            SlopeLanes lanes = {};
            for (int l = 0; l < width; ++l) {
                lanes.x[l] = inputs[n + static_cast<std::size_t>(l)].x;
                lanes.y[l] = inputs[n + static_cast<std::size_t>(l)].y;
                lanes.state[l] = kLanePower;
            }
            if (width == 8) {
                runSlopeLanes8(lanes, constants);
            } else {
                runSlopeLanes(lanes, constants);
            }
            for (int l = 0; l < width; ++l) {
                const PowInput& in = inputs[n + static_cast<std::size_t>(l)];
                if (bitsOf(lanes.value[l]) != bitsOf(std::pow(in.x, in.y)) && ++kernelMismatches <= 5)
                    ADD_FAILURE() << width << " lanes: pow(" << std::hexfloat << in.x << ", " << in.y << ")";
            }
        }
        EXPECT_EQ(kernelMismatches, 0) << width << " lanes, of " << inputs.size() << " inputs";
    }
}

TEST(PowLanes, VectorPathMatchesLibraryOnTenMillionInputs) {
    if (!cpuHasAvx2Fma()) GTEST_SKIP() << "no AVX2 and FMA: the vector path is never used";
    PowCheck check;
    std::uint64_t seed = 1000;
    for (double y : modelExponents(4.0)) checkExponent(y, 800000, -1022, 1023, seed++, check);
    checkRandomExponents(800000, seed, check);
    checkHardCases(check);
    EXPECT_GT(check.inputs, 10000000u);
    EXPECT_EQ(check.mismatches, 0u) << "first: pow(" << std::hexfloat << check.first.x << ", " << check.first.y
                                    << ")";
}

}  // namespace

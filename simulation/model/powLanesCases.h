#pragma once
// Inputs on which the vector power function is compared with std::pow, and
// the comparison itself: used by the self-test at first use, by the tests and
// by the validation program (bench/powLanesValidation.cpp), at growing scales.

#include <cstddef>
#include <cstdint>
#include <vector>

struct PowInput {
    double x;
    double y;
};

// Inputs whose exact power lies within 1e-4 ulp of a rounding midpoint, where
// the library's result is not the correctly rounded one, or where the
// library's last unrounded sum lies on or next to a midpoint: where the
// smallest slip in the evaluation shows. Printed by bench/powHardCaseSearch.cpp
// (MPFR).
extern const PowInput kPowHardCases[];
extern const std::size_t kPowHardCaseCount;

// The exponents the model raises to, computed as the model computes them:
// m, 1/m, m - 1, (m - 1)/m for the kinematic-wave exponent m, the channel
// width exponent, and beta, 1/beta, beta - 1 for the capillary exponent beta.
std::vector<double> modelExponents(double beta);

// The bases the model sees, in SI units: discharges per unit width, areas,
// depths and their ratios lie well within [kModelBaseMin, kModelBaseMax].
inline constexpr double kModelBaseMin = 1e-12;
inline constexpr double kModelBaseMax = 1e6;

// Number of inputs compared, mismatches (results that differ in any bit) and
// the first mismatch.
struct PowCheck {
    std::uint64_t inputs = 0;
    std::uint64_t mismatches = 0;
    PowInput first{0.0, 0.0};
};

// Compares four lanes of pow4Avx2 with std::pow. Requires cpuHasAvx2Fma().
void comparePow4(const double x[4], const double y[4], PowCheck& check);

void checkHardCases(PowCheck& check);

// For one exponent y: x = 1 +- 64 ulp; the 128 table boundaries of the
// logarithm and the power of two in every binade 2^k, k in [binadeLo,
// binadeHi] (clipped to the normal numbers), each +- 3 ulp; and
// randomCount random bases, a third each log-uniform and uniform over the
// model's range and a third uniform over the bits of the positive finite
// doubles. The random draws follow from seed alone.
void checkExponent(double y, std::uint64_t randomCount, int binadeLo, int binadeHi, std::uint64_t seed,
                   PowCheck& check);

// count random pairs with a random capillary exponent: beta uniform in
// [0.5, 8], y one of beta, 1/beta, beta - 1, x drawn as in checkExponent.
void checkRandomExponents(std::uint64_t count, std::uint64_t seed, PowCheck& check);

// A reproducible stream of 64-bit draws (splitmix64) and the bases drawn
// from it, shared with the search for hard cases.
struct PowRandom {
    std::uint64_t state;
    std::uint64_t next();
    double unit();  // uniform in [0, 1), 53 bits
    // Draw number `which` (0, 1, 2): log-uniform or uniform over the model's
    // range, or uniform bits of a positive finite double.
    double base(int which);
};

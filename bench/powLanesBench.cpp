// Nanoseconds per power: std::pow against the four-lane pow4, for dependent
// chains (each result is the next base, as in a Newton iteration) and for
// independent calls. Minimum of several repeats; the machine may be shared.

#include "powLanes.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// The model's kinematic-wave exponent and a first base, out of the
// compiler's sight so that nothing is folded at compile time.
volatile double exponentSource = 0.666667 * 1.0 + 1.0;
volatile double baseSource = 3.7;
volatile double sink;

template <class Run>
double nanosecondsPerPower(Run run, long powers) {
    double best = 1e300;
    for (int repeat = 0; repeat < 7; ++repeat) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, ns / static_cast<double>(powers));
    }
    return best;
}

}  // namespace

int main() {
    std::printf("vector path in use: %s\n", vectorPowAvailable() ? "yes" : "no");
    const double kY = exponentSource;
    const double invY = 1.0 / kY;
    constexpr long kChain = 2000000;  // pairs x -> x^y -> (x^y)^(1/y), near x all the way
    const double chainScalar = nanosecondsPerPower(
        [&] {
            double x = baseSource;
            for (long n = 0; n < kChain; ++n) x = std::pow(std::pow(x, kY), invY);
            sink = x;
        },
        2 * kChain);
    const double chainLanes = nanosecondsPerPower(
        [&] {
            double x[4] = {baseSource, 0.02, 150.0, 1.3};
            for (long n = 0; n < kChain / 4; ++n) {
                pow4(x, kY, x);
                pow4(x, invY, x);
            }
            sink = x[0] + x[1] + x[2] + x[3];
        },
        2 * kChain);

    std::vector<double> bases(4096), out(4096);
    for (std::size_t i = 0; i < bases.size(); ++i) bases[i] = 1e-3 + 0.731 * static_cast<double>(i);
    constexpr int kSweeps = 500;
    const long powers = kSweeps * static_cast<long>(bases.size());
    const double freeScalar = nanosecondsPerPower(
        [&] {
            for (int s = 0; s < kSweeps; ++s) {
                for (std::size_t i = 0; i < bases.size(); ++i) out[i] = std::pow(bases[i], kY);
                sink = out[s];
            }
        },
        powers);
    const double freeLanes = nanosecondsPerPower(
        [&] {
            for (int s = 0; s < kSweeps; ++s) {
                for (std::size_t i = 0; i < bases.size(); i += 4) pow4(&bases[i], kY, &out[i]);
                sink = out[s];
            }
        },
        powers);
    std::printf("ns per power        std::pow   pow4 (per lane)\n");
    std::printf("dependent chain    %9.2f  %9.2f\n", chainScalar, chainLanes);
    std::printf("independent calls  %9.2f  %9.2f\n", freeScalar, freeLanes);
    return 0;
}

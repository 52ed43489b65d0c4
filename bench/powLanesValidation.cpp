// Compares the four-lane pow with std::pow, bit for bit, on every exponent the
// model uses: for each, the table boundaries of every binade +- 3 ulp, x = 1
// +- 64 ulp and N random bases (a third each log-uniform and uniform over the
// model's range and uniform over the bits of the positive finite doubles);
// then N random capillary exponents and the stored hard cases. Prints one
// line per exponent and the total number of mismatches, which must be 0.
//
//   powLanesValidation [N]      N = 1000000000 by default

#include "powLanes.h"
#include "powLanesCases.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* what, double y, const PowCheck& check, double seconds) {
    std::printf("%-22s y = %-24.17g inputs %12" PRIu64 "  mismatches %" PRIu64 "  (%.0f s)", what, y, check.inputs,
                check.mismatches, seconds);
    if (check.mismatches > 0) std::printf("  first: pow(%a, %a)", check.first.x, check.first.y);
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000000ULL;
    if (!cpuHasAvx2Fma()) {
        std::printf("no AVX2 and FMA on this processor: the vector path is never used\n");
        return 0;
    }
    std::printf("vector path in use: %s\n", vectorPowAvailable() ? "yes" : "no");
    std::uint64_t inputs = 0, mismatches = 0;
    std::uint64_t seed = 1;
    for (const double y : modelExponents(4.0)) {
        const auto start = std::chrono::steady_clock::now();
        PowCheck check;
        checkExponent(y, count, -1022, 1023, seed++, check);
        report("model exponent", y, check, secondsSince(start));
        inputs += check.inputs;
        mismatches += check.mismatches;
    }
    auto start = std::chrono::steady_clock::now();
    PowCheck random;
    checkRandomExponents(count, seed, random);
    report("random beta exponents", 0.0, random, secondsSince(start));
    start = std::chrono::steady_clock::now();
    PowCheck hard;
    checkHardCases(hard);
    report("stored hard cases", 0.0, hard, secondsSince(start));
    inputs += random.inputs + hard.inputs;
    mismatches += random.mismatches + hard.mismatches;
    std::printf("inputs %" PRIu64 ", mismatches %" PRIu64 "\n", inputs, mismatches);
    return mismatches == 0 ? 0 : 1;
}

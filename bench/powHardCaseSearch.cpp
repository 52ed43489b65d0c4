// Searches the hard cases of the four-lane pow and prints them as the source
// of simulation/model/powLanesHardCases.cpp. For each exponent of the model
// (beta = 4) and for random capillary exponents it keeps
//   - inputs whose exact power (MPFR, 256 bits) lies within 1e-4 ulp of a
//     rounding midpoint,
//   - inputs where the library's pow is not correctly rounded,
//   - inputs where the library's own unrounded last sum scale + scale * p lies
//     exactly on a midpoint (rounded to even), or within 2e-3 ulp of one. The
//     sum lies on a grid of about 2^-9 ulp (p's own ulp), so there a change
//     of p by one or two of its ulp, the trace of a slip in any earlier
//     operation, changes the result.
// Needs AVX2, FMA and MPFR; the draws are fixed, so a run reproduces the file.
//
//   powHardCaseSearch > simulation/model/powLanesHardCases.cpp

#include "powLanes.h"
#include "powLanesCases.h"
#include "powLanesKernel.h"

#include <mpfr.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct Found {
    std::vector<PowInput> nearMidpoint, misrounded, nearInternal, veryNearInternal;
};

// Distance of the exact x^y from the nearest rounding midpoint, in ulp.
double exactMidpointDistance(double x, double y, mpfr_t exact, mpfr_t scratch) {
    mpfr_set_d(scratch, x, MPFR_RNDN);
    mpfr_t ye;
    mpfr_init2(ye, 64);
    mpfr_set_d(ye, y, MPFR_RNDN);
    mpfr_pow(exact, scratch, ye, MPFR_RNDN);
    mpfr_clear(ye);
    const double below = mpfr_get_d(exact, MPFR_RNDD);
    const double above = std::nextafter(below, INFINITY);
    mpfr_set_d(scratch, below, MPFR_RNDN);
    mpfr_add_d(scratch, scratch, (above - below) / 2, MPFR_RNDN);  // the midpoint, exactly
    mpfr_sub(scratch, exact, scratch, MPFR_RNDN);
    return std::fabs(mpfr_get_d(scratch, MPFR_RNDN)) / (above - below);
}

void search(const std::vector<double>& exponents, bool randomBeta, std::uint64_t seed, Found& found) {
    PowRandom random{seed};
    mpfr_t exact, scratch;
    mpfr_init2(exact, 256);
    mpfr_init2(scratch, 256);
    auto drawY = [&](std::size_t n) {
        if (!randomBeta) return exponents[n % exponents.size()];
        const double beta = 0.5 + 7.5 * random.unit();
        const double ys[3] = {beta, 1.0 / beta, beta - 1.0};
        return ys[random.next() % 3];
    };
    // Exact midpoints and misrounding: MPFR on every input.
    const std::size_t nearWanted = found.nearMidpoint.size() + 40 * exponents.size();
    const std::size_t misWanted = found.misrounded.size() + 20 * exponents.size();
    for (std::size_t n = 0; found.nearMidpoint.size() < nearWanted || found.misrounded.size() < misWanted; ++n) {
        const double x = random.base(static_cast<int>(n % 2)), y = drawY(n);
        const double library = std::pow(x, y);
        if (!std::isnormal(library) || library == 1.0) continue;
        const double distance = exactMidpointDistance(x, y, exact, scratch);
        if (distance < 1e-4 && found.nearMidpoint.size() < nearWanted) found.nearMidpoint.push_back({x, y});
        if (library != mpfr_get_d(exact, MPFR_RNDN) && found.misrounded.size() < misWanted)
            found.misrounded.push_back({x, y});
        if (n > 20000000) break;  // misrounding is rare for some exponents
    }
    // The library's last sum near a midpoint: the vector twin's own parts.
    const std::size_t nearWantedNow = found.nearInternal.size() + 40 * exponents.size();
    const std::size_t veryNearWanted = found.veryNearInternal.size() + 20 * exponents.size();
    for (std::size_t n = 0; found.nearInternal.size() < nearWantedNow || found.veryNearInternal.size() < veryNearWanted;
         n += 4) {
        alignas(32) double x[4], y[4], result[4], poly[4], scale[4];
        for (int l = 0; l < 4; ++l) {
            x[l] = random.base(static_cast<int>((n / 4 + l) % 2));
            y[l] = drawY(n + l);
        }
        const powKernel::PowMainPath path = powKernel::powMainPath(_mm256_load_pd(x), _mm256_load_pd(y));
        const int onPath = _mm256_movemask_pd(_mm256_castsi256_pd(path.onPath));
        _mm256_store_pd(result, path.result);
        _mm256_store_pd(poly, path.expPoly);
        _mm256_store_pd(scale, path.scale);
        for (int l = 0; l < 4; ++l) {
            if ((onPath >> l & 1) == 0 || !std::isnormal(result[l])) continue;
            // scale - result is exact (the two lie within a factor 2).
            const double residual = std::fma(poly[l], scale[l], scale[l] - result[l]);
            const double ulp = std::nextafter(std::fabs(result[l]), INFINITY) - std::fabs(result[l]);
            const double distance = 0.5 - std::fabs(residual) / ulp;
            if (distance == 0.0 && found.veryNearInternal.size() < veryNearWanted) {
                found.veryNearInternal.push_back({x[l], y[l]});
            } else if (distance > 0.0 && distance < 2e-3 && found.nearInternal.size() < nearWantedNow) {
                found.nearInternal.push_back({x[l], y[l]});
            }
        }
    }
    mpfr_clear(exact);
    mpfr_clear(scratch);
}

void print(const char* what, const std::vector<PowInput>& cases) {
    std::printf("    // %s\n", what);
    for (const PowInput& c : cases) std::printf("    {%a, %a},\n", c.x, c.y);
}

}  // namespace

int main() {
    if (!cpuHasAvx2Fma()) {
        std::fprintf(stderr, "powHardCaseSearch: this processor has no AVX2 and FMA\n");
        return 1;
    }
    Found found;
    search(modelExponents(4.0), false, 1, found);
    search({1.0}, true, 2, found);
    std::printf("// Hard cases of the four-lane pow, printed by bench/powHardCaseSearch.cpp.\n\n");
    std::printf("#include \"powLanesCases.h\"\n\nconst PowInput kPowHardCases[] = {\n");
    print("Exact power within 1e-4 ulp of a rounding midpoint.", found.nearMidpoint);
    print("The library's result is not the correctly rounded one.", found.misrounded);
    print("The library's unrounded last sum within 2e-3 ulp of a midpoint.", found.nearInternal);
    print("The library's unrounded last sum on a midpoint.", found.veryNearInternal);
    std::printf("};\nconst std::size_t kPowHardCaseCount = sizeof kPowHardCases / sizeof kPowHardCases[0];\n");
    return 0;
}

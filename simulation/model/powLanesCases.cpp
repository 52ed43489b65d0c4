#include "powLanesCases.h"

#include "powLanes.h"

#include <cmath>
#include <cstring>

namespace {

std::uint64_t bitsOf(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

double fromBits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// The library function behind a pointer the compiler cannot see through:
// std::pow of two constants may otherwise be folded at compile time, and the
// compiler's folding rounds correctly where the library does not.
double (*volatile libraryPow)(double, double) = static_cast<double (*)(double, double)>(&std::pow);

// Compares the first n lanes of pow4Avx2 with std::pow.
void compareLanes(const double x[4], const double y[4], int n, PowCheck& check) {
    double vector[4];
    pow4Avx2(x, y, vector);
    for (int l = 0; l < n; ++l) {
        ++check.inputs;
        if (bitsOf(vector[l]) == bitsOf(libraryPow(x[l], y[l]))) continue;
        if (check.mismatches++ == 0) check.first = PowInput{x[l], y[l]};
    }
}

// Collects inputs four at a time.
struct Lanes {
    double x[4] = {1.0, 1.0, 1.0, 1.0};
    double y[4] = {1.0, 1.0, 1.0, 1.0};
    int count = 0;

    void add(double xv, double yv, PowCheck& check) {
        x[count] = xv;
        y[count] = yv;
        if (++count == 4) flush(check);
    }

    void flush(PowCheck& check) {
        if (count > 0) compareLanes(x, y, count, check);
        count = 0;
    }
};

constexpr std::uint64_t kOneBits = 0x3ff0000000000000ULL;
constexpr std::uint64_t kInfBits = 0x7ff0000000000000ULL;
constexpr std::uint64_t kLogOff = 0x3fe6955500000000ULL;

// Positive finite bit patterns only; others are skipped.
void addBits(Lanes& lanes, std::int64_t bits, double y, PowCheck& check) {
    if (bits <= 0 || static_cast<std::uint64_t>(bits) >= kInfBits) return;
    lanes.add(fromBits(static_cast<std::uint64_t>(bits)), y, check);
}

}  // namespace

std::uint64_t PowRandom::next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

double PowRandom::unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }

double PowRandom::base(int which) {
    if (which == 0) {
        // Every double of the range equally likely: log-uniform down to the bits.
        const std::uint64_t lo = bitsOf(kModelBaseMin), hi = bitsOf(kModelBaseMax);
        return fromBits(lo + next() % (hi - lo + 1));
    }
    if (which == 1) return kModelBaseMin + unit() * (kModelBaseMax - kModelBaseMin);
    for (;;) {
        const std::uint64_t bits = next() >> 1;
        if (bits != 0 && bits < kInfBits) return fromBits(bits);
    }
}

std::vector<double> modelExponents(double beta) {
    // As the cell set-up and the wave step compute them.
    const double m = 0.666667 * 1.0 + 1.0;
    return {m, 1.0 / m, m - 1.0, (m - 1.0) / m, 0.685081138, beta, 1.0 / beta, beta - 1.0};
}

void comparePow4(const double x[4], const double y[4], PowCheck& check) { compareLanes(x, y, 4, check); }

void checkHardCases(PowCheck& check) {
    Lanes lanes;
    for (std::size_t n = 0; n < kPowHardCaseCount; ++n) lanes.add(kPowHardCases[n].x, kPowHardCases[n].y, check);
    lanes.flush(check);
}

void checkExponent(double y, std::uint64_t randomCount, int binadeLo, int binadeHi, std::uint64_t seed,
                   PowCheck& check) {
    Lanes lanes;
    for (int d = -64; d <= 64; ++d) addBits(lanes, static_cast<std::int64_t>(kOneBits) + d, y, check);
    for (int k = binadeLo < -1022 ? -1022 : binadeLo; k <= binadeHi && k <= 1023; ++k) {
        const std::int64_t power = static_cast<std::int64_t>(k + 1023) << 52;
        const std::int64_t sub = static_cast<std::int64_t>(kLogOff) + static_cast<std::int64_t>(k) * (1LL << 52);
        for (int d = -3; d <= 3; ++d) {
            addBits(lanes, power + d, y, check);
            for (std::int64_t j = 0; j < 128; ++j) addBits(lanes, sub + (j << 45) + d, y, check);
        }
    }
    PowRandom random{seed};
    for (std::uint64_t n = 0; n < randomCount; ++n) lanes.add(random.base(static_cast<int>(n % 3)), y, check);
    lanes.flush(check);
}

void checkRandomExponents(std::uint64_t count, std::uint64_t seed, PowCheck& check) {
    Lanes lanes;
    PowRandom random{seed};
    for (std::uint64_t n = 0; n < count; ++n) {
        const double beta = 0.5 + 7.5 * random.unit();
        const double exponents[3] = {beta, 1.0 / beta, beta - 1.0};
        lanes.add(random.base(static_cast<int>(n % 3)), exponents[random.next() % 3], check);
    }
    lanes.flush(check);
}

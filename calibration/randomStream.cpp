#include "randomStream.h"

#include <cmath>

namespace {

constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ULL;

// The output function of splitmix64 (Steele, Lea and Flood 2014).
uint64_t mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

RandomStream::RandomStream(uint64_t seed, uint64_t number) : state(mix(mix(seed + kGolden) + number)) {}

uint64_t RandomStream::next() {
    state += kGolden;
    return mix(state);
}

double RandomStream::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

double RandomStream::normal() {
    // A point in the unit disc, then the Box-Muller radius without sine or
    // cosine: sqrt is exact everywhere, and log is the one library function
    // whose last bit another C library might round otherwise.
    for (;;) {
        const double u = 2.0 * uniform() - 1.0;
        const double v = 2.0 * uniform() - 1.0;
        const double s = u * u + v * v;
        if (s > 0.0 && s < 1.0) return u * std::sqrt(-2.0 * std::log(s) / s);
    }
}

uint64_t RandomStream::below(uint64_t count) {
    // Floor of a uniform times the count: exact for the small counts used here.
    const uint64_t k = static_cast<uint64_t>(uniform() * static_cast<double>(count));
    return k < count ? k : count - 1;
}

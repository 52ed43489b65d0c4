#include "powLanes.h"

#include "powLanesCases.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// FLOOD_SCALAR_POW set to anything but "" or "0" keeps every lane on std::pow.
bool scalarPowForced() {
    const char* value = std::getenv("FLOOD_SCALAR_POW");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

// The vector path against std::pow on this machine: the stored hard cases,
// the table boundaries of a few binades, x = 1 +- 64 ulp and random
// arguments, about 10^5 inputs over the model's exponents.
bool selfTestPasses() {
    PowCheck check;
    checkHardCases(check);
    for (const double y : modelExponents(4.0)) checkExponent(y, 5000, -4, 4, 20240611, check);
    return check.inputs > 0 && check.mismatches == 0;
}

}  // namespace

bool cpuHasAvx2Fma() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
    return false;
#endif
}

bool cpuHasAvx512() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return cpuHasAvx2Fma() && __builtin_cpu_supports("avx512f");
#else
    return false;
#endif
}

bool vectorPowAvailable() {
    // Initialised once, thread-safe; the environment is read before the
    // self-test so that a forced scalar run never executes vector code.
    static const bool available = !scalarPowForced() && cpuHasAvx2Fma() && selfTestPasses();
    return available;
}

void pow4(const double x[4], const double y[4], double out[4]) {
    if (vectorPowAvailable()) {
        pow4Avx2(x, y, out);
        return;
    }
    for (int lane = 0; lane < 4; ++lane) out[lane] = std::pow(x[lane], y[lane]);
}

void pow4(const double x[4], double y, double out[4]) {
    const double ys[4] = {y, y, y, y};
    pow4(x, ys, out);
}

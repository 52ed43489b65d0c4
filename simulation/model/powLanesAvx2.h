#pragma once
// The four-lane power function at the level of AVX2 registers, for
// translation units compiled with -mavx2 -mfma. Callers must have checked
// vectorPowAvailable() (powLanes.h) before the first call: on a processor
// without AVX2 and FMA these instructions do not exist.

#if defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>

// Lane by lane the bits of std::pow(x[l], y[l]) of this machine's C library.
// Each lane off the vector path (see powLanes.h) costs one std::pow call, so
// lanes whose result is not needed (a converged iteration) are best given a
// base such as 1.5 rather than a negative value, a NaN, or 0 with y <= 0.
__m256d pow4(__m256d x, __m256d y);
#endif

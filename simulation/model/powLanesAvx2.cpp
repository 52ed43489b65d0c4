// Four lanes of std::pow: the library's main path in vector form
// (powLanesKernel.h), std::pow for the lanes it does not take. This file alone
// is compiled with -mavx2 -mfma.

#include "powLanes.h"
#include "powLanesAvx2.h"

#include <cmath>

#if !(defined(__AVX2__) && defined(__FMA__))
// A processor without these instructions never takes the vector path.
void pow4Avx2(const double x[4], const double y[4], double out[4]) {
    for (int lane = 0; lane < 4; ++lane) out[lane] = std::pow(x[lane], y[lane]);
}
#else
#include "powLanesKernel.h"

__m256d pow4(__m256d x, __m256d y) { return powKernel::powLanes(x, y); }

void pow4Avx2(const double x[4], const double y[4], double out[4]) {
    _mm256_storeu_pd(out, pow4(_mm256_loadu_pd(x), _mm256_loadu_pd(y)));
}
#endif

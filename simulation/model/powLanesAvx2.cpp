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

__m256d pow4(__m256d x, __m256d y) {
    const powKernel::PowMainPath path = powKernel::powMainPath(x, y);
    const __m256i ix = _mm256_castpd_si256(x);
    // pow(+0, y > 0) is +0; no need for a library call on dry cells.
    const __m256i zeroBase = _mm256_and_si256(_mm256_cmpeq_epi64(ix, _mm256_setzero_si256()),
                                              _mm256_castpd_si256(_mm256_cmp_pd(y, _mm256_setzero_pd(), _CMP_GT_OQ)));
    const __m256d result = _mm256_blendv_pd(path.result, _mm256_setzero_pd(), _mm256_castsi256_pd(zeroBase));
    const int done = _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_or_si256(path.onPath, zeroBase)));
    if (done == 0xf) return result;
    alignas(32) double xs[4], ys[4], out[4];
    _mm256_store_pd(xs, x);
    _mm256_store_pd(ys, y);
    _mm256_store_pd(out, result);
    for (int lane = 0; lane < 4; ++lane) {
        if ((done >> lane & 1) == 0) out[lane] = std::pow(xs[lane], ys[lane]);
    }
    return _mm256_load_pd(out);
}

void pow4Avx2(const double x[4], const double y[4], double out[4]) {
    _mm256_storeu_pd(out, pow4(_mm256_loadu_pd(x), _mm256_loadu_pd(y)));
}
#endif

// The slope node iteration on four AVX2 lanes (slopeLanesWork.h). This file is
// compiled with -mavx2 -mfma, and -ffp-contract=off like every other: the
// model's own arithmetic uses separate multiplies and adds only. The only
// fused operations are inside the power function, where the C library has them.

#include "slopeLanes.h"

#if !(defined(__AVX2__) && defined(__FMA__))
// Without these instructions the lanes are never used (see cpuHasAvx2Fma).
int runSlopeLanes(SlopeLanes&, const SlopeLaneConstants&) { return 0; }
#else
#include "powLanesKernel.h"
#include "slopeLanesWork.h"

#include <immintrin.h>

namespace lanes4 {

struct V {
    __m256d v;
};
struct M {  // every bit of a lane set, or none
    __m256i v;
};
struct I {
    __m256i v;
};

__m256d d(const M& m) { return _mm256_castsi256_pd(m.v); }
V splat(V*, double value) { return V{_mm256_set1_pd(value)}; }
I splatInt(int64_t value) { return I{_mm256_set1_epi64x(value)}; }
V load(V*, const double* lanes) { return V{_mm256_load_pd(lanes)}; }
I load(I*, const int64_t* lanes) { return I{_mm256_load_si256(reinterpret_cast<const __m256i*>(lanes))}; }
void store(double* lanes, const V& a) { _mm256_store_pd(lanes, a.v); }
void store(int64_t* lanes, const I& a) { _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), a.v); }

V add(const V& a, const V& b) { return V{_mm256_add_pd(a.v, b.v)}; }
V sub(const V& a, const V& b) { return V{_mm256_sub_pd(a.v, b.v)}; }
V mul(const V& a, const V& b) { return V{_mm256_mul_pd(a.v, b.v)}; }
V div(const V& a, const V& b) { return V{_mm256_div_pd(a.v, b.v)}; }
V abs(const V& a) { return V{_mm256_andnot_pd(_mm256_set1_pd(-0.0), a.v)}; }
M less(const V& a, const V& b) { return M{_mm256_castpd_si256(_mm256_cmp_pd(a.v, b.v, _CMP_LT_OQ))}; }
M lessEqual(const V& a, const V& b) { return M{_mm256_castpd_si256(_mm256_cmp_pd(a.v, b.v, _CMP_LE_OQ))}; }
M greater(const V& a, const V& b) { return M{_mm256_castpd_si256(_mm256_cmp_pd(a.v, b.v, _CMP_GT_OQ))}; }
M equal(const V& a, const V& b) { return M{_mm256_castpd_si256(_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ))}; }
// Neither infinite nor NaN.
M finite(const V& a) { return less(abs(a), V{_mm256_set1_pd(__builtin_inf())}); }
M both(const M& a, const M& b) { return M{_mm256_and_si256(a.v, b.v)}; }
M either(const M& a, const M& b) { return M{_mm256_or_si256(a.v, b.v)}; }
M andNot(const M& notThis, const M& that) { return M{_mm256_andnot_si256(notThis.v, that.v)}; }
bool any(const M& m) { return !_mm256_testz_si256(m.v, m.v); }
int bits(const M& m) { return _mm256_movemask_pd(d(m)); }
V pick(const V& a, const V& b, const M& m) { return V{_mm256_blendv_pd(a.v, b.v, d(m))}; }
I pick(const I& a, SlopeLaneState b, const M& m) {
    return I{_mm256_castpd_si256(_mm256_blendv_pd(_mm256_castsi256_pd(a.v), _mm256_castsi256_pd(splatInt(b).v), d(m)))};
}
M is(const I& s, SlopeLaneState value) { return M{_mm256_cmpeq_epi64(s.v, splatInt(value).v)}; }
M above(const I& a, int64_t value) { return M{_mm256_cmpgt_epi64(a.v, splatInt(value).v)}; }
// lo < s < hi.
M between(const I& s, int64_t lo, int64_t hi) {
    return M{_mm256_and_si256(_mm256_cmpgt_epi64(s.v, splatInt(lo).v), _mm256_cmpgt_epi64(splatInt(hi).v, s.v))};
}
I countUp(const I& a, const M& m) { return I{_mm256_sub_epi64(a.v, m.v)}; }  // a mask lane is -1
I zeroWhere(const I& a, const M& m) { return I{_mm256_andnot_si256(m.v, a.v)}; }
V powers(const V& x, const V& y) { return V{powKernel::powLanes(x.v, y.v)}; }

}  // namespace lanes4

// The power function inline, so that the lanes' values stay in registers.
__attribute__((flatten)) int runSlopeLanes(SlopeLanes& lanes, const SlopeLaneConstants& k) {
    return runSlopeWork<lanes4::V, lanes4::M, lanes4::I>(lanes, k);
}
#endif

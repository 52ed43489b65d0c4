// The slope node iteration on eight AVX-512 lanes (slopeLanesWork.h): each
// field of SlopeLanes in one register, the powers taken four lanes at a time
// by the AVX2 power function. This file is compiled with
// -mavx512f -mavx2 -mfma, and -ffp-contract=off like every other: the model's
// own arithmetic uses separate multiplies and adds only.

#include "slopeLanes.h"

#if !(defined(__AVX512F__) && defined(__AVX2__) && defined(__FMA__))
// Without these instructions the eight lanes are never used (see cpuHasAvx512).
int runSlopeLanes8(SlopeLanes&, const SlopeLaneConstants&) { return 0; }
#else
#include "powLanesKernel.h"
#include "slopeLanesWork.h"

#include <immintrin.h>

// GCC 12 takes the "undefined" upper halves inside its own insert and extract
// intrinsics for uninitialised values; every lane used here is set.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace lanes8 {

struct V {
    __m512d v;
};
struct M {
    __mmask8 v;
};
struct I {
    __m512i v;
};

V splat(V*, double value) { return V{_mm512_set1_pd(value)}; }
__m512i splatInt(int64_t value) { return _mm512_set1_epi64(value); }
__m512d join(__m256d low, __m256d high) { return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1); }
V load(V*, const double* lanes) { return V{_mm512_load_pd(lanes)}; }
I load(I*, const int64_t* lanes) { return I{_mm512_load_si512(lanes)}; }
void store(double* lanes, const V& a) { _mm512_store_pd(lanes, a.v); }
void store(int64_t* lanes, const I& a) { _mm512_store_si512(lanes, a.v); }

V add(const V& a, const V& b) { return V{_mm512_add_pd(a.v, b.v)}; }
V sub(const V& a, const V& b) { return V{_mm512_sub_pd(a.v, b.v)}; }
V mul(const V& a, const V& b) { return V{_mm512_mul_pd(a.v, b.v)}; }
V div(const V& a, const V& b) { return V{_mm512_div_pd(a.v, b.v)}; }
V abs(const V& a) { return V{_mm512_abs_pd(a.v)}; }
M less(const V& a, const V& b) { return M{_mm512_cmp_pd_mask(a.v, b.v, _CMP_LT_OQ)}; }
M lessEqual(const V& a, const V& b) { return M{_mm512_cmp_pd_mask(a.v, b.v, _CMP_LE_OQ)}; }
M greater(const V& a, const V& b) { return M{_mm512_cmp_pd_mask(a.v, b.v, _CMP_GT_OQ)}; }
M equal(const V& a, const V& b) { return M{_mm512_cmp_pd_mask(a.v, b.v, _CMP_EQ_OQ)}; }
// Neither infinite nor NaN.
M finite(const V& a) { return less(abs(a), V{_mm512_set1_pd(__builtin_inf())}); }
M both(const M& a, const M& b) { return M{static_cast<__mmask8>(a.v & b.v)}; }
M either(const M& a, const M& b) { return M{static_cast<__mmask8>(a.v | b.v)}; }
M andNot(const M& notThis, const M& that) { return M{static_cast<__mmask8>(~notThis.v & that.v)}; }
bool any(const M& m) { return m.v != 0; }
int bits(const M& m) { return m.v; }
V pick(const V& a, const V& b, const M& m) { return V{_mm512_mask_blend_pd(m.v, a.v, b.v)}; }
I pick(const I& a, SlopeLaneState b, const M& m) { return I{_mm512_mask_blend_epi64(m.v, a.v, splatInt(b))}; }
M is(const I& s, SlopeLaneState value) { return M{_mm512_cmpeq_epi64_mask(s.v, splatInt(value))}; }
M above(const I& a, int64_t value) { return M{_mm512_cmpgt_epi64_mask(a.v, splatInt(value))}; }
// lo < s < hi.
M between(const I& s, int64_t lo, int64_t hi) {
    return M{static_cast<__mmask8>(_mm512_cmpgt_epi64_mask(s.v, splatInt(lo)) &
                                   _mm512_cmplt_epi64_mask(s.v, splatInt(hi)))};
}
I countUp(const I& a, const M& m) { return I{_mm512_mask_add_epi64(a.v, m.v, a.v, splatInt(1))}; }
I zeroWhere(const I& a, const M& m) { return I{_mm512_mask_mov_epi64(a.v, m.v, _mm512_setzero_si512())}; }
// The library's pow, four lanes at a time.
V powers(const V& x, const V& y) {
    const __m256d low = powKernel::powLanes(_mm512_castpd512_pd256(x.v), _mm512_castpd512_pd256(y.v));
    const __m256d high = powKernel::powLanes(_mm512_extractf64x4_pd(x.v, 1), _mm512_extractf64x4_pd(y.v, 1));
    return V{join(low, high)};
}

}  // namespace lanes8

// The power function inline, so that the lanes' values stay in registers.
__attribute__((flatten)) int runSlopeLanes8(SlopeLanes& lanes, const SlopeLaneConstants& k) {
    return runSlopeWork<lanes8::V, lanes8::M, lanes8::I>(lanes, k);
}
#endif

// The slope node iteration on four AVX2 lanes. This file is compiled with
// -mavx2 -mfma, and -ffp-contract=off like every other: the model's own
// arithmetic below uses separate multiplies and adds only, in the order of
// solveSlope, slopeCelerity and weightedUpdate (kinematicWave.*). The only
// fused operations are inside pow4, where the C library has them.

#include "slopeLanes.h"

#include "kinematicWave.h"

#if !(defined(__AVX2__) && defined(__FMA__))
// Without these instructions the lanes are never used (see cpuHasAvx2Fma).
int runSlopeLanes(SlopeLanes&, const SlopeLaneConstants&, bool) { return 0; }
#else
#include "powLanesKernel.h"

#include <immintrin.h>

namespace {

using V = __m256d;
using I = __m256i;

V set(double value) { return _mm256_set1_pd(value); }
I state(SlopeLaneState value) { return _mm256_set1_epi64x(value); }
V asV(I m) { return _mm256_castsi256_pd(m); }
I is(I s, SlopeLaneState value) { return _mm256_cmpeq_epi64(s, state(value)); }
bool any(I m) { return !_mm256_testz_si256(m, m); }
// m ? b : a, lane by lane.
V pick(V a, V b, I m) { return _mm256_blendv_pd(a, b, asV(m)); }
I pick(I a, I b, I m) { return _mm256_castpd_si256(_mm256_blendv_pd(asV(a), asV(b), asV(m))); }
I pick(I a, SlopeLaneState b, I m) { return pick(a, state(b), m); }
I mask(V m) { return _mm256_castpd_si256(m); }
I less(V a, V b) { return mask(_mm256_cmp_pd(a, b, _CMP_LT_OQ)); }
I lessEqual(V a, V b) { return mask(_mm256_cmp_pd(a, b, _CMP_LE_OQ)); }
I greater(V a, V b) { return mask(_mm256_cmp_pd(a, b, _CMP_GT_OQ)); }
I equal(V a, V b) { return mask(_mm256_cmp_pd(a, b, _CMP_EQ_OQ)); }
I andNot(I notThis, I that) { return _mm256_andnot_si256(notThis, that); }
V abs(V a) { return _mm256_andnot_pd(set(-0.0), a); }
// Neither infinite nor NaN.
I finite(V a) { return less(abs(a), set(__builtin_inf())); }
V add(V a, V b) { return _mm256_add_pd(a, b); }
V sub(V a, V b) { return _mm256_sub_pd(a, b); }
V mul(V a, V b) { return _mm256_mul_pd(a, b); }
V div(V a, V b) { return _mm256_div_pd(a, b); }

// The lanes' values in registers, and the cell's constants broadcast.
struct Work {
    V q, c, h, p, qc, value, x, y, inflowTerm, gradientTerm, oldHere;
    I s, count, newton, newtonMessages;
    const SlopeLaneConstants& k;

    Work(const SlopeLanes& lanes, const SlopeLaneConstants& constants)
        : q(_mm256_load_pd(lanes.q)), c(_mm256_load_pd(lanes.c)), h(_mm256_load_pd(lanes.h)),
          p(_mm256_load_pd(lanes.p)), qc(_mm256_load_pd(lanes.qc)), value(_mm256_load_pd(lanes.value)),
          x(_mm256_load_pd(lanes.x)), y(_mm256_load_pd(lanes.y)), inflowTerm(_mm256_load_pd(lanes.inflowTerm)),
          gradientTerm(_mm256_load_pd(lanes.gradientTerm)), oldHere(_mm256_load_pd(lanes.oldHere)),
          s(load(lanes.state)), count(load(lanes.count)), newton(load(lanes.newton)),
          newtonMessages(load(lanes.newtonMessages)), k(constants) {}

    // The cell's constants, broadcast where they are used (few registers stay free).
    V vcdc() const { return set(k.vcdc); }
    V qsat() const { return set(k.qsat); }
    V va() const { return set(k.va); }
    V dm() const { return set(k.dm); }
    V da() const { return set(k.da); }
    V beta() const { return set(k.beta); }
    V vaDm() const { return set(k.vaDm); }
    V invBeta() const { return set(k.invBeta); }
    V betaMinus1() const { return set(k.betaMinus1); }
    V invM() const { return set(k.invM); }
    V mMinus1() const { return set(k.mMinus1); }
    V alpha() const { return set(k.alpha); }
    V m() const { return set(k.m); }
    V tolerance() const { return set(k.tolerance); }
    V theta() const { return set(k.theta); }
    V dt() const { return set(k.dt); }
    V dx() const { return set(k.dx); }
    V w() const { return set(k.w); }

    static I load(const int64_t* from) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(from)); }
    static void store(int64_t* to, I from) { _mm256_store_si256(reinterpret_cast<__m256i*>(to), from); }

    void storeTo(SlopeLanes& lanes) const {
        _mm256_store_pd(lanes.q, q);
        _mm256_store_pd(lanes.c, c);
        _mm256_store_pd(lanes.h, h);
        _mm256_store_pd(lanes.p, p);
        _mm256_store_pd(lanes.qc, qc);
        _mm256_store_pd(lanes.value, value);
        _mm256_store_pd(lanes.x, x);
        _mm256_store_pd(lanes.y, y);
        store(lanes.state, s);
        store(lanes.count, count);
        store(lanes.newton, newton);
        store(lanes.newtonMessages, newtonMessages);
    }

    // alpha * p * (h - da) + (h - dm) * va + vcdc, the slope's q at depth h.
    V surfaceQ() const { return add(add(mul(mul(alpha(), p), sub(h, da())), mul(sub(h, dm()), va())), vcdc()); }
    // alpha * m * p + va, dq/dh in the surface regime.
    V surfaceCelerity() const { return add(mul(mul(alpha(), m()), p), va()); }

    // weightedUpdate(theta, c, dt, dx, newUp, oldHere, oldUp, r), operation by
    // operation, with its two terms that do not depend on c computed once.
    V weighted(V cc) const {
        const V thetaC = mul(theta(), cc);
        const V numerator =
            sub(add(mul(thetaC, inflowTerm), oldHere), mul(mul(mul(sub(set(1.0), theta()), cc), dt()), gradientTerm));
        return div(numerator, add(div(mul(thetaC, dt()), dx()), set(1.0)));
    }

    void newtonStep() {
        const I lanes = is(s, kLaneNewton);
        if (!any(lanes)) return;
        const V derivative = surfaceCelerity();
        // Zero only with va = 0 at h = da: keep h, the celerity is then 0.
        const I flat = _mm256_and_si256(lanes, equal(derivative, set(0.0)));
        const I step = andNot(flat, lanes);
        V next = sub(h, div(sub(qc, q), derivative));
        next = pick(next, da(), less(next, da()));  // never below the bottom of the surface regime
        h = pick(h, next, step);
        x = pick(x, sub(next, da()), step);
        y = pick(y, mMinus1(), step);
        s = pick(s, kLaneSurfaceNewton, step);
        s = pick(s, kLaneSurfaceDone, flat);
    }

    void surfaceDone() {
        const I lanes = is(s, kLaneSurfaceDone);
        if (!any(lanes)) return;
        c = pick(c, surfaceCelerity(), lanes);
        s = pick(s, kLaneUpdate, lanes);
    }

    void update() {
        const I lanes = is(s, kLaneUpdate);
        if (!any(lanes)) return;
        const V cc = pick(c, set(kMinSlopeCelerity), less(c, set(kMinSlopeCelerity)));
        V v = weighted(cc);
        v = pick(v, set(0.0), less(v, set(0.0)));
        c = pick(c, cc, lanes);
        value = pick(value, v, lanes);
        const I ok = _mm256_and_si256(lanes, finite(v));
        const I failed = andNot(ok, lanes);
        const I converged =
            _mm256_and_si256(ok, lessEqual(abs(sub(v, mul(q, w()))), mul(mul(set(0.01), q), w())));
        const I again = andNot(converged, ok);
        q = pick(q, div(v, w()), again);
        const I atLimit = _mm256_and_si256(again, _mm256_cmpgt_epi64(count, _mm256_set1_epi64x(kIterationLimit)));
        const I next = andNot(atLimit, again);
        count = _mm256_sub_epi64(count, next);  // a mask lane is -1
        s = pick(s, kLaneFailed, failed);
        s = pick(s, kLaneFinished, converged);
        s = pick(s, kLaneFinishedAtLimit, atLimit);
        s = pick(s, kLaneCelerity, next);
    }

    void celerity() {
        const I lanes = is(s, kLaneCelerity);
        if (!any(lanes)) return;
        const I capillary = _mm256_and_si256(lanes, greater(vcdc(), q));
        const I rest = andNot(capillary, lanes);
        const I layer = _mm256_and_si256(rest, greater(qsat(), q));
        const I surface = andNot(layer, rest);
        if (any(capillary)) {
            x = pick(x, div(mul(q, beta()), vaDm()), capillary);
            y = pick(y, invBeta(), capillary);
            s = pick(s, kLaneCapillaryDepth, capillary);
        }
        c = pick(c, va(), layer);
        s = pick(s, kLaneUpdate, layer);
        if (any(surface)) {
            x = pick(x, div(sub(q, qsat()), alpha()), surface);
            y = pick(y, invM(), surface);
            s = pick(s, kLaneSurfaceDepth, surface);
        }
    }

    void takePowers() {
        const I capillaryDepth = is(s, kLaneCapillaryDepth);
        const I capillaryCelerity = is(s, kLaneCapillaryCelerity);
        const I surfaceDepth = is(s, kLaneSurfaceDepth);
        const I surfaceStart = is(s, kLaneSurfaceStart);
        const I surfaceNewton = is(s, kLaneSurfaceNewton);
        const I waiting = _mm256_and_si256(_mm256_cmpgt_epi64(s, state(kLaneSurfaceDone)),
                                           _mm256_cmpgt_epi64(state(kLaneFinished), s));
        if (!any(waiting)) return;
        // Idle lanes get arguments on the vector path.
        const V result = powKernel::powLanes(pick(set(1.5), x, waiting), pick(set(1.5), y, waiting));

        // Capillary regime: h = dm * (q beta / (va dm))^(1/beta), then c = va (h / dm)^(beta - 1).
        if (any(capillaryDepth)) {
            const V depth = mul(dm(), result);
            h = pick(h, depth, capillaryDepth);
            x = pick(x, div(depth, dm()), capillaryDepth);
            y = pick(y, betaMinus1(), capillaryDepth);
            s = pick(s, kLaneCapillaryCelerity, capillaryDepth);
        }
        V capillaryC = mul(va(), result);
        // As slopeCelerity: an infinite capillary celerity (beta < 1) is taken as va.
        capillaryC = pick(capillaryC, va(), equal(abs(capillaryC), set(__builtin_inf())));
        c = pick(c, capillaryC, capillaryCelerity);
        s = pick(s, kLaneUpdate, capillaryCelerity);

        // Surface regime: the starting depth, P there, and P at each Newton iterate.
        const V start = add(da(), result);
        h = pick(h, start, surfaceDepth);
        x = pick(x, sub(start, da()), surfaceDepth);
        y = pick(y, mMinus1(), surfaceDepth);
        s = pick(s, kLaneSurfaceStart, surfaceDepth);
        const I withP = _mm256_or_si256(surfaceStart, surfaceNewton);
        if (!any(withP)) return;
        p = pick(p, result, withP);
        const V qn = surfaceQ();
        qc = pick(qc, qn, surfaceStart);
        newton = andNot(surfaceStart, newton);
        s = pick(s, kLaneNewton, surfaceStart);

        const I ok = _mm256_and_si256(surfaceNewton, finite(qn));
        const I failed = andNot(ok, surfaceNewton);
        const I converged = _mm256_and_si256(ok, less(abs(sub(qn, qc)), tolerance()));
        const I again = andNot(converged, ok);
        qc = pick(qc, qn, again);
        const I atLimit =
            _mm256_and_si256(again, _mm256_cmpgt_epi64(newton, _mm256_set1_epi64x(kIterationLimit)));
        const I next = andNot(atLimit, again);
        newtonMessages = _mm256_sub_epi64(newtonMessages, atLimit);
        newton = _mm256_sub_epi64(newton, next);
        s = pick(s, kLaneFailed, failed);
        s = pick(s, kLaneSurfaceDone, _mm256_or_si256(converged, atLimit));
        s = pick(s, kLaneNewton, next);
    }

    void settle() {
        while (busy()) {
            newtonStep();
            surfaceDone();
            update();
            celerity();
        }
    }

    bool busy() const {
        const I low = _mm256_cmpgt_epi64(s, state(kLaneEmpty));
        const I high = _mm256_cmpgt_epi64(state(kLaneCapillaryDepth), s);
        return any(_mm256_and_si256(low, high));
    }
};

}  // namespace

// The power function inline, so that the lanes' values stay in registers.
__attribute__((flatten)) int runSlopeLanes(SlopeLanes& lanes, const SlopeLaneConstants& k, bool takePowers) {
    Work work(lanes, k);
    if (takePowers) {
        // Nodes just put into lanes first come up to their first power.
        work.settle();
        work.takePowers();
    }
    work.settle();
    work.storeTo(lanes);
    const I done = _mm256_cmpgt_epi64(work.s, state(kLaneSurfaceNewton));
    return _mm256_movemask_pd(asV(done));
}
#endif

#pragma once
// The slope node iteration of slopeLanes.h, written once for any width of
// lanes: `Lanes` (slopeLanesAvx2.cpp, slopeLanesAvx512.cpp) gives the vector
// types V (doubles), M (a lane mask) and I (64-bit integers), and the
// operations below find their functions by argument: arithmetic lane by lane
// (add, sub, mul, div, abs), comparisons to masks, pick(a, b, m) = m ? b : a,
// powers (the library's pow, lane by lane) and the loads and stores of the
// lanes' fields (the first lanes of each, as many as V holds). Every lane does
// exactly the arithmetic of solveSlope, slopeCelerity and weightedUpdate, in
// their order: separate multiplies and adds only (the including files are
// compiled with -ffp-contract=off).
//
// Include only from files compiled with the vector flags.

#include "slopeLanes.h"

#include "kinematicWave.h"

#include <cstdint>

template <class V, class M, class I>
struct SlopeWork {
    SlopeLanes* const lanes;
    const SlopeLaneConstants* const k;
    V q, c, h, p, qc, value, x, y, inflowTerm, gradientTerm, oldHere;
    I s, count, newton, newtonMessages;

    SlopeWork(SlopeLanes* slope, const SlopeLaneConstants* constants)
        : lanes(slope), k(constants), q(field(&SlopeLanes::q)), c(field(&SlopeLanes::c)), h(field(&SlopeLanes::h)),
          p(field(&SlopeLanes::p)), qc(field(&SlopeLanes::qc)), value(field(&SlopeLanes::value)),
          x(field(&SlopeLanes::x)), y(field(&SlopeLanes::y)), inflowTerm(field(&SlopeLanes::inflowTerm)),
          gradientTerm(field(&SlopeLanes::gradientTerm)), oldHere(field(&SlopeLanes::oldHere)),
          s(field(&SlopeLanes::state)), count(field(&SlopeLanes::count)), newton(field(&SlopeLanes::newton)),
          newtonMessages(field(&SlopeLanes::newtonMessages)) {}

    static V all(double value) { return splat(static_cast<V*>(nullptr), value); }
    V field(double (SlopeLanes::*f)[kSlopeLaneSlots]) const { return load(static_cast<V*>(nullptr), lanes->*f); }
    I field(int64_t (SlopeLanes::*f)[kSlopeLaneSlots]) const { return load(static_cast<I*>(nullptr), lanes->*f); }
    // Each lane's cell constant, loaded where it is used (few registers stay free).
    V constant(const double (SlopeLaneConstants::*f)[kSlopeLaneSlots]) const {
        return load(static_cast<V*>(nullptr), k->*f);
    }
    V vcdc() const { return constant(&SlopeLaneConstants::vcdc); }
    V qsat() const { return constant(&SlopeLaneConstants::qsat); }
    V va() const { return constant(&SlopeLaneConstants::va); }
    V dm() const { return constant(&SlopeLaneConstants::dm); }
    V da() const { return constant(&SlopeLaneConstants::da); }
    V beta() const { return constant(&SlopeLaneConstants::beta); }
    V vaDm() const { return constant(&SlopeLaneConstants::vaDm); }
    V invBeta() const { return constant(&SlopeLaneConstants::invBeta); }
    V betaMinus1() const { return constant(&SlopeLaneConstants::betaMinus1); }
    V invM() const { return constant(&SlopeLaneConstants::invM); }
    V mMinus1() const { return constant(&SlopeLaneConstants::mMinus1); }
    V alpha() const { return constant(&SlopeLaneConstants::alpha); }
    V m() const { return constant(&SlopeLaneConstants::m); }
    V tolerance() const { return constant(&SlopeLaneConstants::tolerance); }
    V theta() const { return constant(&SlopeLaneConstants::theta); }
    V dt() const { return constant(&SlopeLaneConstants::dt); }
    V dx() const { return constant(&SlopeLaneConstants::dx); }
    V w() const { return constant(&SlopeLaneConstants::w); }

    void storeAll() const {
        store(lanes->q, q);
        store(lanes->c, c);
        store(lanes->h, h);
        store(lanes->p, p);
        store(lanes->qc, qc);
        store(lanes->value, value);
        store(lanes->x, x);
        store(lanes->y, y);
        store(lanes->state, s);
        store(lanes->count, count);
        store(lanes->newton, newton);
        store(lanes->newtonMessages, newtonMessages);
    }

    // alpha * p * (h - da) + (h - dm) * va + vcdc, the slope's q at depth h.
    V surfaceQ() const { return add(add(mul(mul(alpha(), p), sub(h, da())), mul(sub(h, dm()), va())), vcdc()); }
    // alpha * m * p + va, dq/dh in the surface regime.
    V surfaceCelerity() const { return add(mul(mul(alpha(), m()), p), va()); }

    // weightedUpdate(theta, c, dt, dx, newUp, oldHere, oldUp, r), operation by
    // operation, with its two terms that do not depend on c computed once.
    V weighted(const V& cc) const {
        const V thetaC = mul(theta(), cc);
        const V numerator =
            sub(add(mul(thetaC, inflowTerm), oldHere), mul(mul(mul(sub(all(1.0), theta()), cc), dt()), gradientTerm));
        return div(numerator, add(div(mul(thetaC, dt()), dx()), all(1.0)));
    }

    void newtonStep() {
        const M lanes = is(s, kLaneNewton);
        if (!any(lanes)) return;
        const V derivative = surfaceCelerity();
        // Zero only with va = 0 at h = da: keep h, the celerity is then 0.
        const M flat = both(lanes, equal(derivative, all(0.0)));
        const M step = andNot(flat, lanes);
        V next = sub(h, div(sub(qc, q), derivative));
        next = pick(next, da(), less(next, da()));  // never below the bottom of the surface regime
        h = pick(h, next, step);
        x = pick(x, sub(next, da()), step);
        y = pick(y, mMinus1(), step);
        s = pick(s, kLaneSurfaceNewton, step);
        s = pick(s, kLaneSurfaceDone, flat);
    }

    void surfaceDone() {
        const M lanes = is(s, kLaneSurfaceDone);
        if (!any(lanes)) return;
        c = pick(c, surfaceCelerity(), lanes);
        s = pick(s, kLaneUpdate, lanes);
    }

    void update() {
        const M lanes = is(s, kLaneUpdate);
        if (!any(lanes)) return;
        const V cc = pick(c, all(kMinSlopeCelerity), less(c, all(kMinSlopeCelerity)));
        V v = weighted(cc);
        v = pick(v, all(0.0), less(v, all(0.0)));
        c = pick(c, cc, lanes);
        value = pick(value, v, lanes);
        const M ok = both(lanes, finite(v));
        const M failed = andNot(ok, lanes);
        const M converged =
            both(ok, lessEqual(abs(sub(v, mul(q, w()))), mul(mul(all(0.01), q), w())));
        const M again = andNot(converged, ok);
        q = pick(q, div(v, w()), again);
        const M atLimit = both(again, above(count, kIterationLimit));
        const M next = andNot(atLimit, again);
        count = countUp(count, next);
        s = pick(s, kLaneFailed, failed);
        s = pick(s, kLaneFinished, converged);
        s = pick(s, kLaneFinishedAtLimit, atLimit);
        s = pick(s, kLaneCelerity, next);
    }

    void celerity() {
        const M lanes = is(s, kLaneCelerity);
        if (!any(lanes)) return;
        const M capillary = both(lanes, greater(vcdc(), q));
        const M rest = andNot(capillary, lanes);
        const M layer = both(rest, greater(qsat(), q));
        const M surface = andNot(layer, rest);
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
        const M capillaryDepth = is(s, kLaneCapillaryDepth);
        const M capillaryCelerity = is(s, kLaneCapillaryCelerity);
        const M surfaceDepth = is(s, kLaneSurfaceDepth);
        const M surfaceStart = is(s, kLaneSurfaceStart);
        const M surfaceNewton = is(s, kLaneSurfaceNewton);
        const M own = is(s, kLanePower);
        const M waiting = between(s, kLaneSurfaceDone, kLaneFinished);
        if (!any(waiting)) return;
        // Idle lanes get arguments on the vector path.
        const V result = powers(pick(all(1.5), x, waiting), pick(all(1.5), y, waiting));
        value = pick(value, result, own);
        s = pick(s, kLaneFinished, own);

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
        capillaryC = pick(capillaryC, va(), equal(abs(capillaryC), all(__builtin_inf())));
        c = pick(c, capillaryC, capillaryCelerity);
        s = pick(s, kLaneUpdate, capillaryCelerity);

        // Surface regime: the starting depth, P there, and P at each Newton iterate.
        const V start = add(da(), result);
        h = pick(h, start, surfaceDepth);
        x = pick(x, sub(start, da()), surfaceDepth);
        y = pick(y, mMinus1(), surfaceDepth);
        s = pick(s, kLaneSurfaceStart, surfaceDepth);
        const M withP = either(surfaceStart, surfaceNewton);
        if (!any(withP)) return;
        p = pick(p, result, withP);
        const V qn = surfaceQ();
        qc = pick(qc, qn, surfaceStart);
        newton = zeroWhere(newton, surfaceStart);
        s = pick(s, kLaneNewton, surfaceStart);

        const M ok = both(surfaceNewton, finite(qn));
        const M failed = andNot(ok, surfaceNewton);
        const M converged = both(ok, less(abs(sub(qn, qc)), tolerance()));
        const M again = andNot(converged, ok);
        qc = pick(qc, qn, again);
        const M atLimit = both(again, above(newton, kIterationLimit));
        const M next = andNot(atLimit, again);
        newtonMessages = countUp(newtonMessages, atLimit);
        newton = countUp(newton, next);
        s = pick(s, kLaneFailed, failed);
        s = pick(s, kLaneSurfaceDone, either(converged, atLimit));
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
        return any(between(s, kLaneEmpty, kLaneCapillaryDepth));
    }
};

// runSlopeLanes on the lanes that V spans: the lanes that have finished or
// failed, as bits.
template <class V, class M, class I>
int runSlopeWork(SlopeLanes& lanes, const SlopeLaneConstants& constants) {
    SlopeWork<V, M, I> work(&lanes, &constants);
    work.takePowers();
    work.settle();
    work.storeAll();
    return bits(between(work.s, kLanePower, kLaneFailed + 1));
}

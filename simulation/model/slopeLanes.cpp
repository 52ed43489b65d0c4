// The plain-code side of the slope lanes: what a node does before its first
// power, and the values a lane reads. Compiled without the vector flags, as
// these run on every processor.

#include "slopeLanes.h"

#include <cmath>

void setSlopeLaneConstants(SlopeLaneConstants& l, int lane, const Cell& c, const WaveConstants& k) {
    l.vcdc[lane] = c.vcdc;
    l.qsat[lane] = k.qsat;
    l.va[lane] = c.va;
    l.dm[lane] = c.dm;
    l.da[lane] = c.da;
    l.beta[lane] = c.beta;
    l.vaDm[lane] = k.vaDm;
    l.invBeta[lane] = k.invBeta;
    l.betaMinus1[lane] = k.betaMinus1;
    l.invM[lane] = k.invM;
    l.mMinus1[lane] = k.mMinus1;
    l.alpha[lane] = c.slopeAlpha;
    l.m[lane] = c.kinExponent;
    l.tolerance[lane] = k.slopeTolerance;
    l.theta[lane] = c.fdWeight;
    l.dt[lane] = k.dt;
    l.dx[lane] = c.slopeDx;
    l.w[lane] = c.slopeWidth;
}

SlopeLaneConstants slopeLaneConstants(const Cell& cell, const WaveConstants& k) {
    SlopeLaneConstants lanes;
    for (int lane = 0; lane < 4; ++lane) setSlopeLaneConstants(lanes, lane, cell, k);
    return lanes;
}

SlopeLayerTerms slopeLayerTerms(const Cell& cell, const WaveConstants& k) {
    const double c = cell.va < kMinSlopeCelerity ? kMinSlopeCelerity : cell.va;
    SlopeLayerTerms t;
    t.dtOverDx = k.dt / cell.slopeDx;
    t.thetaC = cell.fdWeight * c;
    t.oldTerm = (1.0 - cell.fdWeight) * c * k.dt;
    t.denominator = t.thetaC * k.dt / cell.slopeDx + 1.0;
    return t;
}

SlopeNodeStart startSlopeNode(const Cell& cell, const WaveConstants& k, const SlopeLayerTerms& layer, double newUp,
                              double oldUp, double oldHere, double r) {
    SlopeNodeStart s;
    const double w = cell.slopeWidth;
    // The parts of weightedUpdate without c, as it computes them.
    s.inflowTerm = layer.dtOverDx * newUp + k.dt * r;
    s.gradientTerm = (oldHere - oldUp) / cell.slopeDx - r;
    double estimate = (oldHere + newUp) * 0.5 / w;
    // Every iteration here has the same celerity and so the same new value.
    for (int count = 0;; ++count) {
        // slopeCelerity's regimes; a NaN estimate goes to the surface regime, as there.
        if (cell.vcdc > estimate || !(k.qsat > estimate)) {
            s.needsPower = true;
            s.estimate = estimate;
            s.count = count;
            return s;
        }
        if (count == 0) {
            double value = (layer.thetaC * s.inflowTerm + oldHere - layer.oldTerm * s.gradientTerm) / layer.denominator;
            if (value < 0.0) value = 0.0;
            s.value = value;
            if (!std::isfinite(value)) return s;
        }
        if (std::fabs(s.value - estimate * w) <= 0.01 * estimate * w) return s;
        estimate = s.value / w;
        if (count > kIterationLimit) {
            s.atLimit = true;
            return s;
        }
    }
}

void enterSlopeLane(SlopeLanes& lanes, const SlopeLaneConstants& k, int lane, const SlopeNodeStart& start,
                    double oldHere) {
    const double q = start.estimate;
    lanes.inflowTerm[lane] = start.inflowTerm;
    lanes.gradientTerm[lane] = start.gradientTerm;
    lanes.oldHere[lane] = oldHere;
    lanes.q[lane] = q;
    lanes.count[lane] = start.count;
    lanes.newton[lane] = 0;
    lanes.newtonMessages[lane] = 0;
    // The celerity step of the lanes at q, whose regime needs a power here
    // (capillary, or surface, where a NaN estimate also goes): its first
    // power's arguments, computed as the lanes compute them.
    if (k.vcdc[lane] > q) {
        lanes.x[lane] = q * k.beta[lane] / k.vaDm[lane];
        lanes.y[lane] = k.invBeta[lane];
        lanes.state[lane] = kLaneCapillaryDepth;
    } else {
        lanes.x[lane] = (q - k.qsat[lane]) / k.alpha[lane];
        lanes.y[lane] = k.invM[lane];
        lanes.state[lane] = kLaneSurfaceDepth;
    }
}

#include "kinematicWave.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Surface regime: Newton's method on q(h) = q from the depth that the surface
// term alone would give; returns dq/dh at the final depth, or NaN if the
// iteration leaves the finite numbers.
double surfaceCelerity(const Cell& cell, const WaveConstants& k, double q, std::string& log) {
    const double m = cell.kinExponent;
    const double alpha = cell.slopeAlpha;
    double h = cell.da + std::pow((q - k.qsat) / alpha, k.invM);
    double p = std::pow(h - cell.da, k.mMinus1);
    double qc = alpha * p * (h - cell.da) + (h - cell.dm) * cell.va + cell.vcdc;
    for (int count = 0;; ++count) {
        const double derivative = alpha * m * p + cell.va;
        // Zero only with va = 0 at h = da, where q = 0 is met exactly: keep h
        // (the celerity 0 below then takes the slope minimum).
        if (derivative == 0.0) break;
        h = h - (qc - q) / derivative;
        // Rounding a few units from qsat can step below da, where the power
        // has no real value; da is the bottom of the surface regime.
        if (h < cell.da) h = cell.da;
        p = std::pow(h - cell.da, k.mMinus1);
        const double qn = alpha * p * (h - cell.da) + (h - cell.dm) * cell.va + cell.vcdc;
        if (!std::isfinite(qn)) return std::numeric_limits<double>::quiet_NaN();
        if (std::fabs(qn - qc) < k.slopeTolerance) break;
        qc = qn;
        if (count > kIterationLimit) {
            log += kNewtonLimitMessage;
            break;
        }
    }
    return alpha * m * p + cell.va;
}

}  // namespace

UpstreamSeries upstreamSeriesOf(const CellGrid& grid, const Cell& cell) {
    UpstreamSeries upstream;
    upstream.count = cell.numUpstream;
    for (int k = 0; k < cell.numUpstream; ++k) {
        const std::size_t slot = static_cast<std::size_t>(k);
        upstream.series[slot] = grid.cell(cell.upstream[slot]).dischargeSeries.data();
    }
    return upstream;
}

WaveConstants waveConstants(const Cell& cell) {
    WaveConstants k;
    const double m = cell.kinExponent;
    k.dt = static_cast<double>(cell.stepSeconds);
    k.slopeTolerance = 1.0 * 0.01 * 0.001 / 3600 * cell.slopeDx;
    k.qsat = (cell.da - cell.dm) * cell.va + cell.vcdc;
    k.vaDm = cell.va * cell.dm;
    k.invBeta = 1.0 / cell.beta;
    k.betaMinus1 = cell.beta - 1.0;
    k.invM = 1.0 / m;
    k.mMinus1 = m - 1.0;
    k.alphaRoot = std::pow(cell.channelAlpha, k.invM);
    k.qExponent = (m - 1.0) / m;
    return k;
}

double slopeDischargeOfDepth(const Cell& cell, double h) {
    if (h < cell.dm) return cell.vcdc * std::pow(h / cell.dm, cell.beta);
    if (h < cell.da) return cell.vcdc + cell.va * (h - cell.dm);
    return cell.vcdc + cell.va * (h - cell.dm) + cell.slopeAlpha * std::pow(h - cell.da, cell.kinExponent);
}

double slopeCelerity(const Cell& cell, const WaveConstants& k, double q, std::string& log) {
    if (cell.vcdc > q) {
        const double h = cell.dm * std::pow(q * cell.beta / k.vaDm, k.invBeta);
        const double c = cell.va * std::pow(h / cell.dm, k.betaMinus1);
        // With beta < 1 the capillary celerity grows without bound as h falls
        // to 0 and is infinite at q = 0 (or where h underflows). There it is
        // taken as va, its value at a full capillary layer: finite, and every
        // other depth of the layer has a celerity at least as large.
        return std::isinf(c) ? cell.va : c;
    }
    if (k.qsat > q) return cell.va;
    return surfaceCelerity(cell, k, q, log);
}

void setRainfall(Cell& cell, const RainGrid& rain, int day, int hour, int rainStep) {
    const double p = static_cast<double>(rainfallAt(rain, cell, day, hour, rainStep));
    if (isChannelCell(cell)) {
        cell.lateralInflow = p * 0.001 * cell.slopeWidth / 3600;
    } else {
        // Cell area over slope length, with the float32 sizes widened one by one.
        cell.lateralInflow =
            p * 0.001 * static_cast<double>(cell.dy) * static_cast<double>(cell.dx) / cell.slopeLength / 3600;
    }
}

double solveSlope(Cell& cell, const WaveConstants& k, double qUp, double r, std::string& log) {
    const int n = cell.spaceSteps;
    const double dt = k.dt;
    const double dx = cell.slopeDx;
    const double theta = cell.fdWeight;
    const double w = cell.slopeWidth;
    double* oldQ = cell.slopeQ.data();
    double* newQ = cell.slopeQNew.data();

    newQ[0] = qUp;
    for (int j = 1; j <= n; ++j) {
        double q = (oldQ[j] + newQ[j - 1]) * 0.5 / w;
        for (int i = 0;; ++i) {
            double c = slopeCelerity(cell, k, q, log);
            if (c < kMinSlopeCelerity) c = kMinSlopeCelerity;
            double value = weightedUpdate(theta, c, dt, dx, newQ[j - 1], oldQ[j], oldQ[j - 1], r);
            if (value < 0.0) value = 0.0;
            newQ[j] = value;
            if (!std::isfinite(value)) return value;
            if (std::fabs(value - q * w) <= 0.01 * q * w) break;
            // The next celerity is taken at the new estimate alone, not averaged.
            q = value / w;
            if (i > kIterationLimit) {
                log += kSlopeLimitMessage;
                break;
            }
        }
    }
    std::copy(newQ, newQ + n + 1, oldQ);
    return newQ[n];
}

bool stepSlope(Cell& cell, const WaveConstants& k, const UpstreamSeries& upstream, std::size_t at,
               std::string& log) {
    const double qOut = solveSlope(cell, k, upstreamInflow(upstream, at), cell.lateralInflow, log);
    const float stored = static_cast<float>(qOut);
    if (!std::isfinite(stored)) return false;
    cell.dischargeSeries[at] = stored;
    return true;
}

bool stepChannel(Cell& cell, const WaveConstants& k, const UpstreamSeries& upstream, std::size_t at,
                 std::string& log) {
    const double qs = solveSlope(cell, k, 0.0, cell.lateralInflow, log);
    if (!std::isfinite(qs)) return false;
    // Slope outflow per unit slope area, times the cell area, over the channel length.
    const double qlat = qs / cell.slopeWidth / cell.slopeLength * static_cast<double>(cell.dy) *
                        static_cast<double>(cell.dx) / cell.flowLength;

    const int n = cell.spaceSteps;
    const double dt = k.dt;
    const double dx = cell.channelDx;
    const double theta = cell.fdWeight;
    const double alpha = cell.channelAlpha;
    const double m = cell.kinExponent;
    const double invM = k.invM;
    const double alphaRoot = k.alphaRoot;
    const double qExponent = k.qExponent;
    double* oldQ = cell.chanQ.data();
    double* newQ = cell.chanQNew.data();
    double* oldA = cell.chanA.data();
    double* newA = cell.chanANew.data();

    const double qIn = upstreamInflow(upstream, at);
    newQ[0] = qIn;
    // A reservoir above can release a little less than nothing (its recurrence
    // swings below zero once the inflow stops); such an inflow fills no area.
    newA[0] = qIn < 0.0 ? 0.0 : std::pow(qIn / alpha, invM);
    if (!std::isfinite(newA[0])) return false;
    for (int j = 1; j <= n; ++j) {
        const double c1 = alpha * m * std::pow(oldA[j - 1], m - 1.0);
        const double routed = (oldQ[j - 1] + newQ[j - 1]) * 0.5 + qlat * dx;
        double qEst = routed > oldQ[j] ? routed : oldQ[j];  // a tie keeps the old value
        const double c2 = alphaRoot * m * std::pow(qEst, qExponent);
        double c = (c1 + c2) * 0.5;
        for (int count = 0;; ++count) {
            double value = weightedUpdate(theta, c, dt, dx, newQ[j - 1], oldQ[j], oldQ[j - 1], qlat);
            if (value < 0.0) value = 0.0;
            newQ[j] = value;
            if (!std::isfinite(value)) return false;
            if (std::fabs(value - qEst) <= 0.01 * qEst) break;
            qEst = value;
            c = alphaRoot * m * std::pow(qEst, qExponent);
            if (count > kIterationLimit) {
                log += kChannelLimitMessage;
                break;
            }
        }
        newA[j] = std::pow(newQ[j] / alpha, invM);
        if (!std::isfinite(newA[j])) return false;
    }
    const float stored = static_cast<float>(newQ[n]);
    if (!std::isfinite(stored)) return false;
    cell.dischargeSeries[at] = stored;
    std::copy(newQ, newQ + n + 1, oldQ);
    std::copy(newA, newA + n + 1, oldA);
    return true;
}

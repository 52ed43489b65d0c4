#include "memberLanes.h"

#include "paramFile.h"
#include "powLanes.h"
#include "slopeLanes.h"

#include <cmath>

namespace {

// The members' event: lane g is members[g]; a lane whose member has stopped
// (or that has no member) takes no part any more.
struct Members {
    LaneEvent* event;
    int count;
    const Cell& shape;  // the parameters all members share
    WaveConstants k;
    SlopeLaneConstants slope;
    SlopeLayerTerms layer;
    bool on[kMemberLanes] = {false, false, false, false};
    SlopeLanes lanes{};  // every lane empty between nodes

    Members(LaneEvent* members, int n)
        : event(members), count(n), shape(*members[0].cell), k(waveConstants(shape)),
          slope(slopeLaneConstants(shape, k)), layer(slopeLayerTerms(shape, k)) {
        for (int g = 0; g < count; ++g) on[g] = true;
    }

    Cell& cell(int g) const { return *event[g].cell; }
    std::string& log(int g) const { return *event[g].log; }
    void stop(int g, EventStop where) {
        on[g] = false;
        event[g].stop = where;
    }
};

// Slope node j of lane g up to its first power (startSlopeNode). Returns true
// with newQ[j] set if the node's step has ended; false with the node in lane g
// of `lanes` otherwise.
bool startNode(const Members& m, int g, int j, double r, SlopeLanes& lanes) {
    Cell& cell = m.cell(g);
    const std::size_t here = static_cast<std::size_t>(j);
    const double oldHere = cell.slopeQ[here];
    const SlopeNodeStart start =
        startSlopeNode(cell, m.k, m.layer, cell.slopeQNew[here - 1], cell.slopeQ[here - 1], oldHere, r);
    if (start.needsPower) {
        enterSlopeLane(lanes, m.slope, g, start, oldHere);
        return false;
    }
    cell.slopeQNew[here] = start.value;
    if (start.atLimit) m.log(g) += kSlopeLimitMessage;
    return true;
}

// solveSlope for every lane that is on: qUp[g] enters at node 0, r[g] along the
// slope. out[g] is the discharge at node N, or the non-finite value at the
// first node that is not finite (that lane's sweep stops there).
void sweepSlope(Members& m, const double* qUp, const double* r, double* out) {
    const int n = m.shape.spaceSteps;
    bool sweeping[kMemberLanes] = {false, false, false, false};
    for (int g = 0; g < m.count; ++g) {
        sweeping[g] = m.on[g];
        if (sweeping[g]) m.cell(g).slopeQNew[0] = qUp[g];
    }
    for (int j = 1; j <= n; ++j) {
        SlopeLanes& lanes = m.lanes;
        int held = 0;
        for (int g = 0; g < m.count; ++g) {
            if (!sweeping[g]) continue;
            if (!startNode(m, g, j, r[g], lanes)) {
                held |= 1 << g;
            } else if (!std::isfinite(m.cell(g).slopeQNew[static_cast<std::size_t>(j)])) {
                sweeping[g] = false;
                out[g] = m.cell(g).slopeQNew[static_cast<std::size_t>(j)];
            }
        }
        // Each call brings the lanes up to their next power, takes it and goes on.
        while (held != 0) {
            const int done = runSlopeLanes(lanes, m.slope) & held;
            for (int g = 0; g < kMemberLanes; ++g) {
                if ((done >> g & 1) == 0) continue;
                std::string& log = m.log(g);
                for (int64_t k = 0; k < lanes.newtonMessages[g]; ++k) log += kNewtonLimitMessage;
                if (lanes.state[g] == kLaneFinishedAtLimit) log += kSlopeLimitMessage;
                const double value = lanes.value[g];
                m.cell(g).slopeQNew[static_cast<std::size_t>(j)] = value;
                if (lanes.state[g] == kLaneFailed || !std::isfinite(value)) {
                    sweeping[g] = false;
                    out[g] = std::isfinite(value) ? std::nan("") : value;
                }
                lanes.state[g] = kLaneEmpty;
                held &= ~(1 << g);
            }
        }
    }
    for (int g = 0; g < m.count; ++g) {
        if (!sweeping[g]) continue;
        Cell& cell = m.cell(g);
        for (int j = 0; j <= n; ++j) cell.slopeQ[static_cast<std::size_t>(j)] = cell.slopeQNew[static_cast<std::size_t>(j)];
        out[g] = cell.slopeQNew[static_cast<std::size_t>(n)];
    }
}

// out[g] = pow(x[g], y) for the lanes in `lanes`; the others get arguments on
// the vector path and their results are not used.
void powers(int lanes, const double* x, double y, double* out) {
    double xs[kMemberLanes];
    for (int g = 0; g < kMemberLanes; ++g) xs[g] = (lanes >> g & 1) != 0 ? x[g] : 1.5;
    pow4(xs, y, out);
}

// stepChannel's channel part for every lane that is on, after the slope part
// gave qs[g]: returns the lanes whose step failed (a value not finite).
int stepChannelLanes(Members& m, const double* qs, std::size_t at) {
    const Cell& shape = m.shape;
    const int n = shape.spaceSteps;
    const double dt = m.k.dt, dx = shape.channelDx, theta = shape.fdWeight, alpha = shape.channelAlpha;
    const double mm = shape.kinExponent, invM = m.k.invM, alphaRoot = m.k.alphaRoot, qExponent = m.k.qExponent;
    int active = 0, failed = 0;
    double qlat[kMemberLanes] = {}, x[kMemberLanes] = {}, p[kMemberLanes], p2[kMemberLanes];
    for (int g = 0; g < m.count; ++g) {
        if (!m.on[g]) continue;
        if (!std::isfinite(qs[g])) {
            failed |= 1 << g;
            continue;
        }
        const Cell& cell = m.cell(g);
        // Slope outflow per unit slope area, times the cell area, over the channel length.
        qlat[g] = qs[g] / cell.slopeWidth / cell.slopeLength * static_cast<double>(cell.dy) *
                  static_cast<double>(cell.dx) / cell.flowLength;
        active |= 1 << g;
    }
    // The inflow node: its discharge and area.
    int withArea = 0;
    for (int g = 0; g < kMemberLanes; ++g) {
        if ((active >> g & 1) == 0) continue;
        Cell& cell = m.cell(g);
        const double qIn = upstreamInflow(m.event[g].upstream, at);
        cell.chanQNew[0] = qIn;
        // A reservoir above can release a little less than nothing; such an inflow fills no area.
        if (qIn < 0.0) {
            cell.chanANew[0] = 0.0;
        } else {
            x[g] = qIn / alpha;
            withArea |= 1 << g;
        }
    }
    powers(withArea, x, invM, p);
    for (int g = 0; g < kMemberLanes; ++g) {
        if ((withArea >> g & 1) == 0) continue;
        m.cell(g).chanANew[0] = p[g];
        if (!std::isfinite(p[g])) {
            failed |= 1 << g;
            active &= ~(1 << g);
        }
    }
    for (int j = 1; j <= n && active != 0; ++j) {
        const std::size_t here = static_cast<std::size_t>(j), up = here - 1;
        double qEst[kMemberLanes] = {}, c[kMemberLanes] = {}, oldA[kMemberLanes] = {};
        for (int g = 0; g < kMemberLanes; ++g) {
            if ((active >> g & 1) == 0) continue;
            const Cell& cell = m.cell(g);
            oldA[g] = cell.chanA[up];
            const double routed = (cell.chanQ[up] + cell.chanQNew[up]) * 0.5 + qlat[g] * dx;
            qEst[g] = routed > cell.chanQ[here] ? routed : cell.chanQ[here];  // a tie keeps the old value
        }
        powers(active, oldA, mm - 1.0, p);
        powers(active, qEst, qExponent, p2);
        for (int g = 0; g < kMemberLanes; ++g) {
            const double c1 = alpha * mm * p[g];
            const double c2 = alphaRoot * mm * p2[g];
            c[g] = (c1 + c2) * 0.5;
        }
        int iterating = active;
        for (int count = 0; iterating != 0; ++count) {
            int again = 0;
            for (int g = 0; g < kMemberLanes; ++g) {
                if ((iterating >> g & 1) == 0) continue;
                Cell& cell = m.cell(g);
                double value = weightedUpdate(theta, c[g], dt, dx, cell.chanQNew[up], cell.chanQ[here], cell.chanQ[up],
                                              qlat[g]);
                if (value < 0.0) value = 0.0;
                cell.chanQNew[here] = value;
                if (!std::isfinite(value)) {
                    failed |= 1 << g;
                    active &= ~(1 << g);
                    continue;
                }
                if (std::fabs(value - qEst[g]) <= 0.01 * qEst[g]) continue;
                qEst[g] = value;
                again |= 1 << g;
            }
            powers(again, qEst, qExponent, p);
            iterating = 0;
            for (int g = 0; g < kMemberLanes; ++g) {
                if ((again >> g & 1) == 0) continue;
                c[g] = alphaRoot * mm * p[g];
                if (count > kIterationLimit) {
                    m.log(g) += kChannelLimitMessage;
                } else {
                    iterating |= 1 << g;
                }
            }
        }
        for (int g = 0; g < kMemberLanes; ++g) {
            if ((active >> g & 1) != 0) x[g] = m.cell(g).chanQNew[here] / alpha;
        }
        powers(active, x, invM, p);
        for (int g = 0; g < kMemberLanes; ++g) {
            if ((active >> g & 1) == 0) continue;
            m.cell(g).chanANew[here] = p[g];
            if (!std::isfinite(p[g])) {
                failed |= 1 << g;
                active &= ~(1 << g);
            }
        }
    }
    for (int g = 0; g < kMemberLanes; ++g) {
        if ((active >> g & 1) == 0) continue;
        Cell& cell = m.cell(g);
        const float stored = static_cast<float>(cell.chanQNew[static_cast<std::size_t>(n)]);
        if (!std::isfinite(stored)) {
            failed |= 1 << g;
            continue;
        }
        cell.dischargeSeries[at] = stored;
        for (int j = 0; j <= n; ++j) {
            cell.chanQ[static_cast<std::size_t>(j)] = cell.chanQNew[static_cast<std::size_t>(j)];
            cell.chanA[static_cast<std::size_t>(j)] = cell.chanANew[static_cast<std::size_t>(j)];
        }
    }
    return failed;
}

}  // namespace

void runMemberEvents(LaneEvent* members, int count, const ModelParams& params) {
    Members m(members, count);
    const bool channel = m.shape.kind == kChannelCell;
    const int tenMinutes = 600 % params.stepSeconds == 0 ? 600 / params.stepSeconds : 0;
    double qUp[kMemberLanes] = {}, r[kMemberLanes] = {}, out[kMemberLanes] = {};
    std::size_t at = 0;
    for (int day = 0; day < params.days; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            for (int step = 0; step < params.stepsPerHour; ++step, ++at) {
                const int rainAt = rainStep(step, params.stepSeconds, params.rainInterval);
                for (int g = 0; g < count; ++g) {
                    if (!m.on[g]) continue;
                    Cell& cell = m.cell(g);
                    setRainfall(cell, *members[g].rain, day, hour, rainAt);
                    // A channel cell's slope has no inflow at its top; the channel gets the upstream cells'.
                    qUp[g] = channel ? 0.0 : upstreamInflow(members[g].upstream, at);
                    r[g] = cell.lateralInflow;
                }
                sweepSlope(m, qUp, r, out);
                int failed = 0;
                if (channel) {
                    failed = stepChannelLanes(m, out, at);
                } else {
                    for (int g = 0; g < count; ++g) {
                        if (!m.on[g]) continue;
                        const float stored = static_cast<float>(out[g]);
                        if (!std::isfinite(stored)) {
                            failed |= 1 << g;
                        } else {
                            m.cell(g).dischargeSeries[at] = stored;
                        }
                    }
                }
                for (int g = 0; g < count; ++g) {
                    if ((failed >> g & 1) != 0) m.stop(g, EventStop{true, day, hour, step});
                }
            }
            for (int g = 0; g < count; ++g) {
                if (m.on[g] && !hourSumsFinite(m.cell(g).dischargeSeries, day, hour, params.stepsPerHour, tenMinutes))
                    m.stop(g, EventStop{true, day, hour, params.stepsPerHour - 1, true});
            }
        }
    }
}

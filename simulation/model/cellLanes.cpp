#include "cellLanes.h"

#include "paramFile.h"
#include "powLanes.h"

#include <algorithm>
#include <cmath>
#include <limits>

// What a lane waits for: a new event, the power(s) that the named operation
// of solveSlope, slopeCelerity or stepChannel needs, or nothing (it has ended).
enum class Await : uint8_t {
    kStart,
    kCapillaryDepth,      // h = dm (q beta / (va dm))^(1/beta)
    kCapillaryCelerity,   // c = va (h / dm)^(beta - 1)
    kSurfaceDepth,        // h = da + ((q - qsat) / alpha)^(1/m)
    kSurfaceStart,        // p = (h - da)^(m - 1) at the first depth
    kSurfaceNewton,       // p at a Newton iterate
    kChannelHeadArea,     // the area at channel node 0
    kChannelFirst,        // c1 and c2 of a channel node's first celerity
    kChannelNext,         // the celerity at a new estimate
    kChannelArea,         // the area at a channel node
    kEnded,
};

// One cell's event: the names are those of runCellEventByStep, solveSlope,
// slopeCelerity and stepChannel.
struct LaneEvent {
    int64_t id = 0;
    Cell* cell = nullptr;
    WaveConstants k;
    UpstreamSeries upstream;
    HourCapture capture;
    std::string* log = nullptr;
    bool channel = false;
    int n = 0;
    double *oldQ = nullptr, *newQ = nullptr;  // slope node arrays
    double *chanOldQ = nullptr, *chanNewQ = nullptr, *oldA = nullptr, *newA = nullptr;

    int day = 0, hour = 0, step = 0;
    std::size_t at = 0;  // series position of the step
    int j = 0;           // node
    // Slope node j: estimate q, iteration i; surface regime: depth h, power
    // p, discharge qc, Newton iteration count.
    double q = 0, h = 0, p = 0, qc = 0;
    int i = 0, newton = 0;
    // Channel node j.
    double qlat = 0, qEst = 0, c = 0;
    int count = 0;

    Await await = Await::kEnded;
    int asked = 0;  // powers asked for, 0..2
    double x[2] = {}, y[2] = {};
    int resultAt = 0;  // where this round's results are
    EventStop stop;
};

namespace {

void ask(LaneEvent& e, double x, double y) {
    e.x[e.asked] = x;
    e.y[e.asked] = y;
    ++e.asked;
}

// The event ends here, as runCellEventByStep returns `stop`.
void end(LaneEvent& e, const EventStop& stop) {
    e.stop = stop;
    e.await = Await::kEnded;
}

void stopAtStep(LaneEvent& e) { end(e, EventStop{true, e.day, e.hour, e.step}); }

// Step e.at begins: its rainfall, the slope's inflow at node 0, node 1.
void beginStep(LaneEvent& e, const CellLanes& lanes) {
    const ModelParams& params = lanes.params;
    setRainfall(*e.cell, lanes.rain, e.day, e.hour, rainStep(e.step, params.stepSeconds, params.rainInterval));
    // A channel cell's slope has no inflow at its top; the channel gets the upstream cells'.
    e.newQ[0] = e.channel ? 0.0 : upstreamInflow(e.upstream, e.at);
    e.j = 1;
    e.q = (e.oldQ[1] + e.newQ[0]) * 0.5 / e.cell->slopeWidth;
    e.i = 0;
}

// The step's outflow is stored: the checks at the end of an hour, then the
// next step. False if the event has ended.
bool endStep(LaneEvent& e, const CellLanes& lanes) {
    const int perHour = lanes.params.stepsPerHour;
    ++e.at;
    if (++e.step == perHour) {
        if (!hourSumsFinite(e.cell->dischargeSeries, e.day, e.hour, perHour, lanes.tenMinutes)) {
            end(e, EventStop{true, e.day, e.hour, perHour - 1, true});
            return false;
        }
        if (e.capture.cellValues != nullptr && capturesAfter(e.capture, e.day, e.hour))
            captureCell(*e.cell, e.capture.cellValues);
        e.step = 0;
        if (++e.hour == 24) {
            e.hour = 0;
            if (++e.day == lanes.params.days) {
                end(e, EventStop{});
                return false;
            }
        }
    }
    beginStep(e, lanes);
    return true;
}

// Channel node e.j begins: its first estimate, and the two powers of its first celerity.
void beginChannelNode(LaneEvent& e) {
    const int j = e.j;
    const double routed = (e.chanOldQ[j - 1] + e.chanNewQ[j - 1]) * 0.5 + e.qlat * e.cell->channelDx;
    e.qEst = routed > e.chanOldQ[j] ? routed : e.chanOldQ[j];  // a tie keeps the old value
    ask(e, e.oldA[j - 1], e.cell->kinExponent - 1.0);
    ask(e, e.qEst, e.k.qExponent);
    e.await = Await::kChannelFirst;
}

// The slope part of the step is complete. A slope cell stores its outflow and
// goes on to the next step (true: node 1 needs its celerity); a channel cell
// goes on to its channel (false: it has asked for a power, or ended).
bool endSlope(LaneEvent& e, const CellLanes& lanes) {
    const int n = e.n;
    std::copy(e.newQ, e.newQ + n + 1, e.oldQ);
    const double qOut = e.newQ[n];
    if (!e.channel) {
        const float stored = static_cast<float>(qOut);
        if (!std::isfinite(stored)) {
            stopAtStep(e);
            return false;
        }
        e.cell->dischargeSeries[e.at] = stored;
        return endStep(e, lanes);
    }
    e.qlat = channelLateralInflow(*e.cell, qOut);
    const double qIn = upstreamInflow(e.upstream, e.at);
    e.chanNewQ[0] = qIn;
    e.j = 1;
    // A reservoir above can release a little less than nothing; such an inflow fills no area.
    if (qIn < 0.0) {
        e.newA[0] = 0.0;
        beginChannelNode(e);
    } else {
        ask(e, qIn / e.cell->channelAlpha, e.k.invM);
        e.await = Await::kChannelHeadArea;
    }
    return false;
}

// Slope node e.j with celerity c: the scheme's update and its test; then the
// next iteration, node or step. True if a celerity at e.q is needed next;
// false if the event has ended or asked for a power.
bool updateSlope(LaneEvent& e, const CellLanes& lanes, double c) {
    const Cell& cell = *e.cell;
    const int j = e.j;
    if (c < kMinSlopeCelerity) c = kMinSlopeCelerity;
    double value = weightedUpdate(cell.fdWeight, c, e.k.dt, cell.slopeDx, e.newQ[j - 1], e.oldQ[j], e.oldQ[j - 1],
                                  cell.lateralInflow);
    if (value < 0.0) value = 0.0;
    e.newQ[j] = value;
    if (!std::isfinite(value)) {
        stopAtStep(e);
        return false;
    }
    const double w = cell.slopeWidth;
    if (!(std::fabs(value - e.q * w) <= 0.01 * e.q * w)) {
        // The next celerity is taken at the new estimate alone, not averaged.
        e.q = value / w;
        if (e.i <= kIterationLimit) {
            ++e.i;
            return true;
        }
        *e.log += kSlopeLimitMessage;
    }
    if (++e.j > e.n) return endSlope(e, lanes);
    e.q = (e.oldQ[e.j] + e.newQ[e.j - 1]) * 0.5 / w;
    e.i = 0;
    return true;
}

// The celerity at e.q, by regime, and what follows it, until a power is
// needed or the event ends. The middle regime needs none.
void slopeCelerity(LaneEvent& e, const CellLanes& lanes) {
    const Cell& cell = *e.cell;
    for (;;) {
        if (cell.vcdc > e.q) {
            ask(e, e.q * cell.beta / e.k.vaDm, e.k.invBeta);
            e.await = Await::kCapillaryDepth;
            return;
        }
        if (!(e.k.qsat > e.q)) {
            ask(e, (e.q - e.k.qsat) / cell.slopeAlpha, e.k.invM);
            e.await = Await::kSurfaceDepth;
            return;
        }
        if (!updateSlope(e, lanes, cell.va)) return;
    }
}

void withSlopeCelerity(LaneEvent& e, const CellLanes& lanes, double c) {
    if (updateSlope(e, lanes, c)) slopeCelerity(e, lanes);
}

// One Newton step of the surface regime from depth e.h, or its celerity if
// the derivative is zero there.
void newtonStep(LaneEvent& e, const CellLanes& lanes) {
    const Cell& cell = *e.cell;
    const double derivative = surfaceDerivative(cell, e.p);
    // Zero only with va = 0 at h = da (see surfaceCelerity).
    if (derivative == 0.0) {
        withSlopeCelerity(e, lanes, derivative);
        return;
    }
    e.h = e.h - (e.qc - e.q) / derivative;
    if (e.h < cell.da) e.h = cell.da;
    ask(e, e.h - cell.da, e.k.mMinus1);
    e.await = Await::kSurfaceNewton;
}

// Channel node e.j with celerity e.c: the scheme's update, its test, then
// the next power.
void updateChannel(LaneEvent& e) {
    const Cell& cell = *e.cell;
    const int j = e.j;
    double value = weightedUpdate(cell.fdWeight, e.c, e.k.dt, cell.channelDx, e.chanNewQ[j - 1], e.chanOldQ[j],
                                  e.chanOldQ[j - 1], e.qlat);
    if (value < 0.0) value = 0.0;
    e.chanNewQ[j] = value;
    if (!std::isfinite(value)) {
        stopAtStep(e);
        return;
    }
    if (!(std::fabs(value - e.qEst) <= 0.01 * e.qEst)) {
        e.qEst = value;
        if (e.count <= kIterationLimit) {
            ask(e, e.qEst, e.k.qExponent);
            e.await = Await::kChannelNext;
            return;
        }
        *e.log += kChannelLimitMessage;
    }
    ask(e, value / cell.channelAlpha, e.k.invM);
    e.await = Await::kChannelArea;
}

// Channel node e.j's area is in place: the next node, or the end of the step.
void endChannelNode(LaneEvent& e, const CellLanes& lanes) {
    if (!std::isfinite(e.newA[e.j])) {
        stopAtStep(e);
        return;
    }
    if (++e.j <= e.n) {
        beginChannelNode(e);
        return;
    }
    const int n = e.n;
    const float stored = static_cast<float>(e.chanNewQ[n]);
    if (!std::isfinite(stored)) {
        stopAtStep(e);
        return;
    }
    e.cell->dischargeSeries[e.at] = stored;
    std::copy(e.chanNewQ, e.chanNewQ + n + 1, e.chanOldQ);
    std::copy(e.newA, e.newA + n + 1, e.oldA);
    if (endStep(e, lanes)) slopeCelerity(e, lanes);
}

// The event goes on from the powers it waited for (`r`) to the next ones.
void resume(LaneEvent& e, const CellLanes& lanes, const double* r) {
    const Cell& cell = *e.cell;
    const double m = cell.kinExponent;
    switch (e.await) {
        case Await::kStart:
            beginStep(e, lanes);
            slopeCelerity(e, lanes);
            return;
        case Await::kCapillaryDepth:
            e.h = cell.dm * r[0];
            ask(e, e.h / cell.dm, e.k.betaMinus1);
            e.await = Await::kCapillaryCelerity;
            return;
        case Await::kCapillaryCelerity: {
            const double c = cell.va * r[0];
            // As slopeCelerity: an infinite capillary celerity (beta < 1) is taken as va.
            withSlopeCelerity(e, lanes, std::isinf(c) ? cell.va : c);
            return;
        }
        case Await::kSurfaceDepth:
            e.h = cell.da + r[0];
            ask(e, e.h - cell.da, e.k.mMinus1);
            e.await = Await::kSurfaceStart;
            return;
        case Await::kSurfaceStart:
            e.p = r[0];
            e.qc = surfaceDischarge(cell, e.p, e.h);
            e.newton = 0;
            newtonStep(e, lanes);
            return;
        case Await::kSurfaceNewton: {
            e.p = r[0];
            const double qn = surfaceDischarge(cell, e.p, e.h);
            if (!std::isfinite(qn)) {
                withSlopeCelerity(e, lanes, std::numeric_limits<double>::quiet_NaN());
                return;
            }
            if (!(std::fabs(qn - e.qc) < e.k.slopeTolerance)) {
                e.qc = qn;
                if (e.newton <= kIterationLimit) {
                    ++e.newton;
                    newtonStep(e, lanes);
                    return;
                }
                *e.log += kNewtonLimitMessage;
            }
            withSlopeCelerity(e, lanes, surfaceDerivative(cell, e.p));
            return;
        }
        case Await::kChannelHeadArea:
            e.newA[0] = r[0];
            if (!std::isfinite(e.newA[0])) {
                stopAtStep(e);
                return;
            }
            beginChannelNode(e);
            return;
        case Await::kChannelFirst: {
            const double c1 = cell.channelAlpha * m * r[0];
            const double c2 = e.k.alphaRoot * m * r[1];
            e.c = (c1 + c2) * 0.5;
            e.count = 0;
            updateChannel(e);
            return;
        }
        case Await::kChannelNext:
            e.c = e.k.alphaRoot * m * r[0];
            ++e.count;
            updateChannel(e);
            return;
        case Await::kChannelArea:
            e.newA[e.j] = r[0];
            endChannelNode(e, lanes);
            return;
        case Await::kEnded:
            return;
    }
}

}  // namespace

CellLanes::CellLanes(const RainGrid& r, const ModelParams& p, int lanes)
    : rain(r), params(p), tenMinutes(600 % p.stepSeconds == 0 ? 600 / p.stepSeconds : 0), count(lanes),
      events(static_cast<std::size_t>(lanes)), x(static_cast<std::size_t>(2 * lanes + 4)), y(x.size()),
      result(x.size()), order(events.size()) {}

CellLanes::~CellLanes() = default;

void addCellEvent(CellLanes& lanes, int64_t id, Cell& cell, const UpstreamSeries& upstream, std::string& log,
                  const HourCapture& capture) {
    for (LaneEvent& e : lanes.events) {
        if (e.await != Await::kEnded) continue;
        e = LaneEvent{};
        e.id = id;
        e.cell = &cell;
        e.k = waveConstants(cell);
        e.upstream = upstream;
        e.capture = capture;
        e.log = &log;
        e.channel = cell.kind == kChannelCell;
        e.n = cell.spaceSteps;
        e.oldQ = cell.slopeQ.data();
        e.newQ = cell.slopeQNew.data();
        if (e.channel) {
            e.chanOldQ = cell.chanQ.data();
            e.chanNewQ = cell.chanQNew.data();
            e.oldA = cell.chanA.data();
            e.newA = cell.chanANew.data();
        }
        e.await = lanes.params.days > 0 ? Await::kStart : Await::kEnded;
        ++lanes.busy;
        return;
    }
}

void runLanes(CellLanes& lanes, std::vector<LaneEnd>& ended) {
    const std::size_t endedBefore = ended.size();
    constexpr int kAwaits = static_cast<int>(Await::kEnded) + 1;
    std::vector<int>& order = lanes.order;
    do {
        // Lanes that wait for the same thing one after the other: the processor
        // then foresees which way each lane goes on.
        int start[kAwaits + 1] = {};
        for (const LaneEvent& e : lanes.events) ++start[static_cast<int>(e.await) + 1];
        for (int a = 0; a < kAwaits; ++a) start[a + 1] += start[a];
        for (int l = 0; l < static_cast<int>(lanes.events.size()); ++l)
            order[static_cast<std::size_t>(start[static_cast<int>(lanes.events[static_cast<std::size_t>(l)].await)]++)] = l;
        int asked = 0;
        for (const int l : order) {
            LaneEvent& e = lanes.events[static_cast<std::size_t>(l)];
            if (e.await == Await::kEnded) {
                if (e.cell != nullptr) {  // an event of no steps
                    ended.push_back(LaneEnd{e.id, e.stop});
                    e.cell = nullptr;
                    --lanes.busy;
                }
                continue;
            }
            const int at = e.resultAt;
            e.asked = 0;
            resume(e, lanes, &lanes.result[static_cast<std::size_t>(at)]);
            if (e.await == Await::kEnded) {
                ended.push_back(LaneEnd{e.id, e.stop});
                e.cell = nullptr;
                --lanes.busy;
                continue;
            }
            e.resultAt = asked;
            for (int k = 0; k < e.asked; ++k, ++asked) {
                lanes.x[static_cast<std::size_t>(asked)] = e.x[k];
                lanes.y[static_cast<std::size_t>(asked)] = e.y[k];
            }
        }
        // The last group's unused places get arguments on the vector path.
        for (; asked % 4 != 0; ++asked) lanes.x[static_cast<std::size_t>(asked)] = lanes.y[static_cast<std::size_t>(asked)] = 1.5;
        powBatch(lanes.x.data(), lanes.y.data(), lanes.result.data(), asked);
    } while (ended.size() == endedBefore);
}

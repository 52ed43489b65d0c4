#include "cellLanes.h"

#include "paramFile.h"
#include "powLanes.h"

#include <cmath>

namespace {

// Where a lane's event stands: the plain-code part it goes on with, or the
// result it waits for in the slope lanes.
enum Phase : uint8_t {
    kStepStart,      // the next step's rain and inflow
    kSlopeNode,      // slope node j, up to its first power
    kChannelNode,    // channel node j, up to its first power
    kSlopeIterate,   // slope node j in the slope lanes
    kHeadArea,       // the channel inflow node's area
    kChannelFirstA,  // channel node j: c1's power of the upstream area
    kChannelFirstQ,  // c2's power of the first estimate
    kChannelNext,    // the celerity at a new estimate
    kChannelArea,    // the node's area
};

// Lane g waits in the slope lanes for pow(x, y), then goes on at `then`.
void askPower(CellLanes& lanes, int g, double x, double y, Phase then) {
    EventLane& lane = lanes.lane[g];
    lanes.slope.x[g] = x;
    lanes.slope.y[g] = y;
    lanes.slope.state[g] = kLanePower;
    lane.phase = then;
    lane.waiting = true;
}

// The event's stop at the step in progress: a value left the finite numbers.
void fail(EventLane& lane) { lane.event.stop = EventStop{true, lane.day, lane.hour, lane.step}; }

// The step is complete: on to the next, with the check of the hour it ends.
// Returns true when the event has ended.
bool endStep(CellLanes& lanes, EventLane& lane) {
    const ModelParams& params = *lanes.params;
    ++lane.at;
    if (++lane.step < params.stepsPerHour) {
        lane.phase = kStepStart;
        return false;
    }
    lane.step = 0;
    if (!hourSumsFinite(lane.event.cell->dischargeSeries, lane.day, lane.hour, params.stepsPerHour,
                        lanes.tenMinutes)) {
        lane.event.stop = EventStop{true, lane.day, lane.hour, params.stepsPerHour - 1, true};
        return true;
    }
    if (++lane.hour == 24) {
        lane.hour = 0;
        ++lane.day;
    }
    lane.phase = kStepStart;
    return lane.day >= params.days;
}

// The value of a float32 series at the step; false (the event stops) if it is not finite.
bool store(EventLane& lane, double value) {
    const float stored = static_cast<float>(value);
    if (!std::isfinite(stored)) {
        fail(lane);
        return false;
    }
    lane.event.cell->dischargeSeries[lane.at] = stored;
    return true;
}

// The slope's sweep of the step is complete: its outflow goes to the series
// or into the channel. Returns true when the event has ended.
bool endSlope(CellLanes& lanes, int g) {
    EventLane& lane = lanes.lane[g];
    Cell& cell = *lane.event.cell;
    for (int j = 0; j <= lane.n; ++j)
        cell.slopeQ[static_cast<std::size_t>(j)] = cell.slopeQNew[static_cast<std::size_t>(j)];
    const double out = cell.slopeQNew[static_cast<std::size_t>(lane.n)];
    if (!lane.channel) return !store(lane, out) || endStep(lanes, lane);
    // Slope outflow per unit slope area, times the cell area, over the channel length.
    lane.qlat = out / cell.slopeWidth / cell.slopeLength * static_cast<double>(cell.dy) * static_cast<double>(cell.dx) /
                cell.flowLength;
    const double qIn = upstreamInflow(lane.event.upstream, lane.at);
    cell.chanQNew[0] = qIn;
    lane.j = 1;
    // A reservoir above can release a little less than nothing; such an inflow fills no area.
    if (qIn >= 0.0) {
        askPower(lanes, g, qIn / cell.channelAlpha, lane.k.invM, kHeadArea);
    } else {
        cell.chanANew[0] = 0.0;
        lane.phase = kChannelNode;
    }
    return false;
}

// The channel's sweep of the step is complete. Returns true when the event has ended.
bool endChannel(CellLanes& lanes, EventLane& lane) {
    Cell& cell = *lane.event.cell;
    if (!store(lane, cell.chanQNew[static_cast<std::size_t>(lane.n)])) return true;
    for (int j = 0; j <= lane.n; ++j) {
        cell.chanQ[static_cast<std::size_t>(j)] = cell.chanQNew[static_cast<std::size_t>(j)];
        cell.chanA[static_cast<std::size_t>(j)] = cell.chanANew[static_cast<std::size_t>(j)];
    }
    return endStep(lanes, lane);
}

// Channel node j takes up its step, up to its first power; after the last
// node, the step ends. Returns true when the event has ended.
bool startChannelNode(CellLanes& lanes, int g) {
    EventLane& lane = lanes.lane[g];
    if (lane.j > lane.n) return endChannel(lanes, lane);
    const Cell& cell = *lane.event.cell;
    const std::size_t here = static_cast<std::size_t>(lane.j), up = here - 1;
    const double routed = (cell.chanQ[up] + cell.chanQNew[up]) * 0.5 + lane.qlat * cell.channelDx;
    lane.qEst = routed > cell.chanQ[here] ? routed : cell.chanQ[here];  // a tie keeps the old value
    askPower(lanes, g, cell.chanA[up], cell.kinExponent - 1.0, kChannelFirstA);
    return false;
}

// stepChannel's iteration at node j with the celerity lane.c: the new value,
// then a new estimate's celerity or the node's area.
bool iterateChannel(CellLanes& lanes, int g) {
    EventLane& lane = lanes.lane[g];
    Cell& cell = *lane.event.cell;
    const std::size_t here = static_cast<std::size_t>(lane.j), up = here - 1;
    double value = weightedUpdate(cell.fdWeight, lane.c, lane.k.dt, cell.channelDx, cell.chanQNew[up], cell.chanQ[here],
                                  cell.chanQ[up], lane.qlat);
    if (value < 0.0) value = 0.0;
    cell.chanQNew[here] = value;
    if (!std::isfinite(value)) {
        fail(lane);
        return true;
    }
    if (std::fabs(value - lane.qEst) > 0.01 * lane.qEst) {
        lane.qEst = value;
        if (lane.count <= kIterationLimit) {
            askPower(lanes, g, lane.qEst, lane.k.qExponent, kChannelNext);
            return false;
        }
        *lane.event.log += kChannelLimitMessage;
    }
    askPower(lanes, g, value / cell.channelAlpha, lane.k.invM, kChannelArea);
    return false;
}

// A slope node's iteration has left the lanes: its messages and value.
// Returns true if the event stops there.
bool retireSlopeNode(CellLanes& lanes, int g) {
    EventLane& lane = lanes.lane[g];
    const SlopeLanes& slope = lanes.slope;
    std::string& log = *lane.event.log;
    for (int64_t k = 0; k < slope.newtonMessages[g]; ++k) log += kNewtonLimitMessage;
    if (slope.state[g] == kLaneFinishedAtLimit) log += kSlopeLimitMessage;
    const double value = slope.value[g];
    lane.event.cell->slopeQNew[static_cast<std::size_t>(lane.j)] = value;
    if (slope.state[g] == kLaneFailed || !std::isfinite(value)) {
        fail(lane);
        return true;
    }
    ++lane.j;
    lane.phase = kSlopeNode;
    return false;
}

// Lane g's event takes the result it waited for in the slope lanes. Returns
// true when the event has ended.
bool takeResult(CellLanes& lanes, int g) {
    EventLane& lane = lanes.lane[g];
    Cell& cell = *lane.event.cell;
    SlopeLanes& slope = lanes.slope;
    lane.waiting = false;
    if (lane.phase == kSlopeIterate) {
        const bool stops = retireSlopeNode(lanes, g);
        slope.state[g] = kLaneEmpty;
        return stops;
    }
    slope.state[g] = kLaneEmpty;
    const double result = slope.value[g];
    const double m = cell.kinExponent;
    switch (lane.phase) {
        case kHeadArea:
            cell.chanANew[0] = result;
            if (!std::isfinite(result)) break;
            lane.phase = kChannelNode;
            return false;
        case kChannelFirstA:
            lane.c1 = cell.channelAlpha * m * result;
            askPower(lanes, g, lane.qEst, lane.k.qExponent, kChannelFirstQ);
            return false;
        case kChannelFirstQ: {
            const double c2 = lane.k.alphaRoot * m * result;
            lane.c = (lane.c1 + c2) * 0.5;
            lane.count = 0;
            return iterateChannel(lanes, g);
        }
        case kChannelNext:
            lane.c = lane.k.alphaRoot * m * result;
            ++lane.count;
            return iterateChannel(lanes, g);
        default:  // kChannelArea
            cell.chanANew[static_cast<std::size_t>(lane.j)] = result;
            if (!std::isfinite(result)) break;
            ++lane.j;
            lane.phase = kChannelNode;
            return false;
    }
    fail(lane);
    return true;
}

// Works lane g's event on in plain code until it waits in the slope lanes
// (false) or ends (true).
bool advance(CellLanes& lanes, int g) {
    EventLane& lane = lanes.lane[g];
    Cell& cell = *lane.event.cell;
    const ModelParams& params = *lanes.params;
    while (!lane.waiting) {
        if (lane.phase == kStepStart) {
            if (lane.day >= params.days) return true;
            if (lane.handOver) {
                lane.event.resumeAt = static_cast<int64_t>(lane.at);
                return true;
            }
            setRainfall(cell, *lane.event.rain, lane.day, lane.hour,
                        rainStep(lane.step, params.stepSeconds, params.rainInterval));
            // A channel cell's slope has no inflow at its top; the channel gets the upstream cells'.
            cell.slopeQNew[0] = lane.channel ? 0.0 : upstreamInflow(lane.event.upstream, lane.at);
            lane.r = cell.lateralInflow;
            lane.j = 1;
            lane.phase = kSlopeNode;
        } else if (lane.phase == kChannelNode) {
            if (startChannelNode(lanes, g)) return true;
        } else if (lane.j > lane.n) {
            if (endSlope(lanes, g)) return true;
        } else {
            const std::size_t here = static_cast<std::size_t>(lane.j);
            const double oldHere = cell.slopeQ[here];
            const SlopeNodeStart start = startSlopeNode(cell, lane.k, lane.layer, cell.slopeQNew[here - 1],
                                                        cell.slopeQ[here - 1], oldHere, lane.r);
            if (start.needsPower) {
                enterSlopeLane(lanes.slope, lanes.constants, g, start, oldHere);
                lane.phase = kSlopeIterate;
                lane.waiting = true;
                return false;
            }
            cell.slopeQNew[here] = start.value;
            if (start.atLimit) *lane.event.log += kSlopeLimitMessage;
            if (!std::isfinite(start.value)) {
                fail(lane);
                return true;
            }
            ++lane.j;
        }
    }
    return false;
}

// Lane g's event has ended: the lane is free, the event goes to `ended`.
void release(CellLanes& lanes, int g, std::vector<LaneEvent>& ended) {
    lanes.lane[g].busy = false;
    lanes.slope.state[g] = kLaneEmpty;
    ended.push_back(lanes.lane[g].event);
}

}  // namespace

bool eightEventLanes() {
    static const bool available = vectorPowAvailable() && cpuHasAvx512();
    return available;
}

CellLanes makeCellLanes(const ModelParams& params, int width) {
    CellLanes lanes;
    lanes.params = &params;
    lanes.width = width > 4 && eightEventLanes() ? 8 : 4;
    lanes.tenMinutes = 600 % params.stepSeconds == 0 ? 600 / params.stepSeconds : 0;
    return lanes;
}

int busyLanes(const CellLanes& lanes) {
    int busy = 0;
    for (int g = 0; g < lanes.width; ++g) busy += lanes.lane[g].busy;
    return busy;
}

void handOverAll(CellLanes& lanes) {
    for (EventLane& lane : lanes.lane) lane.handOver = lane.busy;
}

bool hasFreeLane(const CellLanes& lanes) {
    for (int g = 0; g < lanes.width; ++g) {
        if (!lanes.lane[g].busy) return true;
    }
    return false;
}

bool isEmpty(const CellLanes& lanes) {
    for (int g = 0; g < lanes.width; ++g) {
        if (lanes.lane[g].busy) return false;
    }
    return true;
}

int freeLane(const CellLanes& lanes) {
    int g = 0;
    while (lanes.lane[g].busy) ++g;
    return g;
}

void addEvent(CellLanes& lanes, const LaneEvent& event) {
    const int g = freeLane(lanes);
    EventLane& lane = lanes.lane[g];
    lane = EventLane{};
    lane.event = event;
    lane.busy = true;
    const Cell& cell = *event.cell;
    lane.channel = cell.kind == kChannelCell;
    lane.n = cell.spaceSteps;
    lane.k = waveConstants(cell);
    lane.layer = slopeLayerTerms(cell, lane.k);
    setSlopeLaneConstants(lanes.constants, g, cell, lane.k);
    lanes.slope.state[g] = kLaneEmpty;
}

void runLanes(CellLanes& lanes, std::vector<LaneEvent>& ended) {
    for (;;) {
        bool any = false, endedHere = false;
        for (int g = 0; g < lanes.width; ++g) {
            if (!lanes.lane[g].busy) continue;
            if (advance(lanes, g)) {
                release(lanes, g, ended);
                endedHere = true;
            } else {
                any = true;
            }
        }
        if (endedHere || !any) return;
        // Every busy lane now waits in the slope lanes: one power each, and on.
        const int done = lanes.width == 8 ? runSlopeLanes8(lanes.slope, lanes.constants)
                                          : runSlopeLanes(lanes.slope, lanes.constants);
        for (int g = 0; g < lanes.width; ++g) {
            if ((done >> g & 1) == 0 || !lanes.lane[g].busy) continue;
            if (takeResult(lanes, g)) {
                release(lanes, g, ended);
                endedHere = true;
            }
        }
        if (endedHere) return;
    }
}

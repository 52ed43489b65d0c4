#include "nodeWavefront.h"

#include "paramFile.h"
#include "powLanes.h"
#include "slopeLanes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

// Steps of each node position kept for the positions below it. No position
// runs this many steps ahead of the cell's last position, so at any stop the
// state of the last complete step is still there.
constexpr int kRing = 32;

// What a position of the cell's chain of nodes computes: a slope node, the
// channel's inflow node (its area), or a channel node.
enum class NodeKind : uint8_t { kSlope, kChannelHead, kChannel };

// Where a channel position stands inside its current step: idle (between
// steps, or a slope position), or waiting for the power that the named
// operation needs.
enum class Wait : uint8_t {
    kIdle,
    kChannelFirst,        // channel: c1 and c2 of the first celerity
    kChannelNext,         // channel: the celerity at a new estimate
    kChannelArea,         // channel: the node's area
    kHeadArea,            // channel inflow node: its area
};

// One node position: its place in the chain, the step it is on and, for the
// channel, the values of the step in progress (a slope node's are in a lane
// of SlopeLanes while it runs).
struct Lane {
    NodeKind kind = NodeKind::kSlope;
    Wait wait = Wait::kIdle;
    int position = 0;
    int after = -1;       // position whose step t must be complete before this one's (-1: none)
    int alsoAfter = -1;   // a second such position, or -1
    int64_t step = 0;     // steps complete; while busy, also the step in progress
    bool inLane = false;        // a slope position whose step is in a lane of SlopeLanes or waits for one
    bool waitsForLane = false;  // a slope position whose step has come to its first power, with no lane yet
    int requests = 0;     // powers asked for, 0..2
    double x[2] = {}, y[2] = {}, result[2] = {};
    // The step in progress (names as in stepSlope and stepChannel).
    double newUp = 0, oldHere = 0, oldUp = 0, r = 0;
    double c = 0, value = 0, area = 0, qEst = 0;
    int count = 0;
    // A slope step waiting for a lane: where its first power stands.
    SlopeNodeStart slopeStart;
};

struct Message {
    int64_t key;
    const char* text;
};

// One cell's event. Positions: 0 the slope's inflow node, 1..N the slope
// nodes, then for a channel cell N+1 the channel's inflow node and
// N+2..2N+1 channel nodes 1..N. Serial order is step, then position.
class Wavefront {
public:
    Wavefront(Cell& cell, const UpstreamSeries& upstream, const RainGrid& rain, const ModelParams& params,
              const HourCapture& capture, int64_t firstStep)
        : firstStep_(firstStep), cell_(cell), k_(waveConstants(cell)), params_(params), capture_(capture),
          channel_(cell.kind == kChannelCell),
          n_(cell.spaceSteps), last_(channel_ ? 2 * n_ + 1 : n_),
          steps_(static_cast<int64_t>(seriesLength(params.days, params.stepsPerHour))),
          tenMinutes_(600 % params.stepSeconds == 0 ? 600 / params.stepSeconds : 0) {
        prepareInputs(upstream, rain);
        prepareLanes();
        layer_ = slopeLayerTerms(cell, k_);
        slopeConstants_ = slopeLaneConstants(cell, k_);
    }

    EventStop run(std::string& log);

private:
    int64_t key(int64_t step, int position) const { return step * (last_ + 2) + position; }
    static int slot(int64_t step) { return static_cast<int>((step + 1) & (kRing - 1)); }
    double& q(int position, int64_t step) { return ringQ_[static_cast<std::size_t>(position * kRing + slot(step))]; }
    double& a(int position, int64_t step) { return ringA_[static_cast<std::size_t>(position * kRing + slot(step))]; }
    double slopeInflow(int64_t step) const { return slopeInflow_[static_cast<std::size_t>(step + 1)]; }

    void prepareInputs(const UpstreamSeries& upstream, const RainGrid& rain);
    void prepareLanes();
    bool canStart(const Lane& lane) const;
    void start(Lane& lane);
    void advance(Lane& lane);
    void advanceChannel(Lane& lane);
    bool stepSlopeScalar(Lane& node);
    int waitingSlopePosition() const;
    void startSlope(int lane, int position);
    void retireSlope(int lane);
    void fillSlopeLanes();
    void runSlopeLanes();
    void finish(Lane& lane);
    void fail(Lane& lane);
    void ask(Lane& lane, Wait wait, double x, double y);
    void note(const Lane& lane, const char* text) { messages_.push_back(Message{key(lane.step, lane.position), text}); }
    void writeBack(int64_t step);

    const int64_t firstStep_;  // the node arrays are those after the step before it
    Cell& cell_;
    const WaveConstants k_;
    const ModelParams& params_;
    const HourCapture& capture_;
    const bool channel_;
    const int n_;
    const int last_;  // the position whose value is the cell's outflow
    const int64_t steps_;
    const int tenMinutes_;
    std::vector<double> rain_;         // lateralInflow per step
    std::vector<double> slopeInflow_;  // slope node 0 per step, from step -1 (0 on a channel cell's slope)
    std::vector<double> channelInflow_;
    std::vector<double> qlat_;  // channel inflow per unit length per step
    std::vector<double> ringQ_, ringA_;
    std::vector<Lane> lanes_;
    SlopeLanes slopeLanes_{};
    SlopeLaneConstants slopeConstants_{};
    int slopePosition_[4] = {0, 0, 0, 0};  // position of each lane of slopeLanes_ (0: empty)
    std::vector<Message> messages_;
    SlopeLayerTerms layer_{};
    int waitingForLane_ = 0;  // slope positions with waitsForLane set (some may be past the stop)
    bool changed_ = true;  // a step has ended (or the stop moved) since the slope lanes were last filled
    int64_t stopKey_ = std::numeric_limits<int64_t>::max();
    int64_t stopStep_ = 0;
    bool hourStop_ = false;
};

void Wavefront::prepareInputs(const UpstreamSeries& upstream, const RainGrid& rain) {
    const std::size_t steps = static_cast<std::size_t>(steps_);
    rain_.resize(steps);
    slopeInflow_.assign(steps + 1, 0.0);
    if (channel_) {
        channelInflow_.resize(steps);
        qlat_.resize(steps);
    }
    std::size_t at = 0;
    for (int day = 0; day < params_.days; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            for (int step = 0; step < params_.stepsPerHour; ++step, ++at) {
                setRainfall(cell_, rain, day, hour, rainStep(step, params_.stepSeconds, params_.rainInterval));
                rain_[at] = cell_.lateralInflow;
                // A channel cell's slope has no inflow at its top; the channel gets the upstream cells'.
                if (channel_) {
                    channelInflow_[at] = upstreamInflow(upstream, at);
                } else {
                    slopeInflow_[at + 1] = upstreamInflow(upstream, at);
                }
            }
        }
    }
    // Node 0 before the first step is the cell's (its initial state, or the inflow of the step before).
    slopeInflow_[static_cast<std::size_t>(firstStep_)] = cell_.slopeQ[0];
}

void Wavefront::prepareLanes() {
    ringQ_.assign(static_cast<std::size_t>((last_ + 1) * kRing), 0.0);
    ringA_.assign(ringQ_.size(), 0.0);
    const int64_t before = firstStep_ - 1;
    for (int j = 1; j <= n_; ++j) q(j, before) = cell_.slopeQ[static_cast<std::size_t>(j)];
    if (channel_) {
        for (int j = 0; j <= n_; ++j) {
            q(n_ + 1 + j, before) = cell_.chanQ[static_cast<std::size_t>(j)];
            a(n_ + 1 + j, before) = cell_.chanA[static_cast<std::size_t>(j)];
        }
    }
    lanes_.resize(static_cast<std::size_t>(last_ + 1));
    for (Lane& lane : lanes_) lane.step = firstStep_;
    for (int position = 1; position <= last_; ++position) {
        Lane& lane = lanes_[static_cast<std::size_t>(position)];
        lane.position = position;
        if (position <= n_) {
            lane.kind = NodeKind::kSlope;
            lane.after = position > 1 ? position - 1 : -1;
        } else if (position == n_ + 1) {
            lane.kind = NodeKind::kChannelHead;
        } else {
            lane.kind = NodeKind::kChannel;
            lane.after = position - 1;
            // Channel node 1 also needs the slope's outflow of the same step.
            if (position == n_ + 2) lane.alsoAfter = n_;
        }
    }
}

inline bool Wavefront::canStart(const Lane& lane) const {
    const int64_t t = lane.step;
    if (lane.inLane || t >= steps_ || key(t, lane.position) >= stopKey_) return false;
    if (lane.after >= 0 && lanes_[static_cast<std::size_t>(lane.after)].step <= t) return false;
    if (lane.alsoAfter >= 0 && lanes_[static_cast<std::size_t>(lane.alsoAfter)].step <= t) return false;
    // Step t takes the ring slot of step t - kRing, which must be older than
    // the step before the last position's next.
    if (lane.position != last_ && t >= lanes_[static_cast<std::size_t>(last_)].step + kRing - 1) return false;
    return true;
}

void Wavefront::ask(Lane& lane, Wait wait, double x, double y) {
    lane.x[lane.requests] = x;
    lane.y[lane.requests] = y;
    ++lane.requests;
    lane.wait = wait;
}

// Takes up step lane.step at a channel position: the values it reads, and
// the operations up to the first power (or the whole step, if it needs none).
void Wavefront::start(Lane& lane) {
    const int64_t t = lane.step;
    const int j = lane.position;
    if (lane.kind == NodeKind::kChannelHead) {
        const double qIn = channelInflow_[static_cast<std::size_t>(t)];
        lane.value = qIn;
        // A reservoir above can release a little less than nothing; such an inflow fills no area.
        if (qIn < 0.0) {
            lane.area = 0.0;
            finish(lane);
        } else {
            ask(lane, Wait::kHeadArea, qIn / cell_.channelAlpha, k_.invM);
        }
        return;
    }
    const double m = cell_.kinExponent;
    const double dx = cell_.channelDx;
    lane.newUp = q(j - 1, t);
    lane.oldUp = q(j - 1, t - 1);
    lane.oldHere = q(j, t - 1);
    lane.r = qlat_[static_cast<std::size_t>(t)];
    const double routed = (lane.oldUp + lane.newUp) * 0.5 + lane.r * dx;
    lane.qEst = routed > lane.oldHere ? routed : lane.oldHere;  // a tie keeps the old value
    ask(lane, Wait::kChannelFirst, a(j - 1, t - 1), m - 1.0);
    ask(lane, Wait::kChannelFirst, lane.qEst, k_.qExponent);
}

void Wavefront::advance(Lane& lane) {
    if (lane.kind == NodeKind::kChannel) {
        advanceChannel(lane);
    } else {
        lane.area = lane.result[0];
        if (!std::isfinite(lane.area)) {
            fail(lane);
        } else {
            finish(lane);
        }
    }
}

// The operations of stepChannel's node loop for one node, from the powers the
// lane waited for to the next power or the end of the node's step.
void Wavefront::advanceChannel(Lane& lane) {
    const Cell& cell = cell_;
    const double m = cell.kinExponent;
    const double alpha = cell.channelAlpha;
    switch (lane.wait) {
        case Wait::kChannelFirst: {
            const double c1 = alpha * m * lane.result[0];
            const double c2 = k_.alphaRoot * m * lane.result[1];
            lane.c = (c1 + c2) * 0.5;
            lane.count = 0;
            break;
        }
        case Wait::kChannelNext:
            lane.c = k_.alphaRoot * m * lane.result[0];
            ++lane.count;
            break;
        case Wait::kChannelArea:
            lane.area = lane.result[0];
            if (!std::isfinite(lane.area)) {
                fail(lane);
            } else {
                finish(lane);
            }
            return;
        default:
            return;
    }
    double value = weightedUpdate(cell.fdWeight, lane.c, k_.dt, cell.channelDx, lane.newUp, lane.oldHere, lane.oldUp,
                                  lane.r);
    if (value < 0.0) value = 0.0;
    lane.value = value;
    if (!std::isfinite(value)) {
        fail(lane);
        return;
    }
    if (std::fabs(value - lane.qEst) > 0.01 * lane.qEst) {
        lane.qEst = value;
        if (lane.count <= kIterationLimit) {
            ask(lane, Wait::kChannelNext, lane.qEst, k_.qExponent);
            return;
        }
        note(lane, kChannelLimitMessage);
    }
    ask(lane, Wait::kChannelArea, value / alpha, k_.invM);
}

// The lane's step is complete: its values go to the ring, the slope's outflow
// to the channel, the last position's to the series (with the checks of the
// step and of the hour it ends).
void Wavefront::finish(Lane& lane) {
    const int64_t t = lane.step;
    changed_ = true;
    lane.wait = Wait::kIdle;
    q(lane.position, t) = lane.value;
    if (lane.kind != NodeKind::kSlope) a(lane.position, t) = lane.area;
    if (channel_ && lane.position == n_) {
        // Slope outflow per unit slope area, times the cell area, over the channel length.
        qlat_[static_cast<std::size_t>(t)] = lane.value / cell_.slopeWidth / cell_.slopeLength *
                                             static_cast<double>(cell_.dy) * static_cast<double>(cell_.dx) /
                                             cell_.flowLength;
    }
    if (lane.position == last_) {
        const float stored = static_cast<float>(lane.value);
        if (!std::isfinite(stored)) {
            fail(lane);
            return;
        }
        cell_.dischargeSeries[static_cast<std::size_t>(t)] = stored;
        const int perHour = params_.stepsPerHour;
        if ((t + 1) % perHour == 0) {
            const int day = static_cast<int>(t / (24 * perHour));
            const int hour = static_cast<int>(t / perHour % 24);
            if (!hourSumsFinite(cell_.dischargeSeries, day, hour, perHour, tenMinutes_)) {
                // After the whole step: every earlier step is complete, so this stop is final.
                stopKey_ = key(t, last_ + 1);
                stopStep_ = t;
                hourStop_ = true;
            } else if (capture_.cellValues != nullptr && capturesAfter(capture_, day, hour)) {
                // Every position has finished step t, and no position is so far
                // ahead that its ring lost it: the node arrays as they are after it.
                writeBack(t);
                captureCell(cell_, capture_.cellValues);
            }
        }
    }
    lane.step = t + 1;
}

// A value of the lane's step left the finite numbers: the event stops there
// unless an earlier step, still in flight at other positions, stops it first.
void Wavefront::fail(Lane& lane) {
    lane.wait = Wait::kIdle;
    lane.requests = 0;
    changed_ = true;
    const int64_t failKey = key(lane.step, lane.position);
    if (failKey < stopKey_) {
        stopKey_ = failKey;
        stopStep_ = lane.step;
        hourStop_ = false;
    }
}

// Takes up the next step of a slope node (startSlopeNode). Returns false if
// the step has come to a celerity that needs a power: the node then waits for
// a lane of SlopeLanes, which goes on from that estimate with the same count.
bool Wavefront::stepSlopeScalar(Lane& node) {
    const int64_t t = node.step;
    const int position = node.position;
    const double newUp = position == 1 ? slopeInflow(t) : q(position - 1, t);
    const double oldUp = position == 1 ? slopeInflow(t - 1) : q(position - 1, t - 1);
    node.oldHere = q(position, t - 1);
    node.slopeStart = startSlopeNode(cell_, k_, layer_, newUp, oldUp, node.oldHere, rain_[static_cast<std::size_t>(t)]);
    if (node.slopeStart.needsPower) {
        node.inLane = true;
        node.waitsForLane = true;
        ++waitingForLane_;
        return false;
    }
    node.value = node.slopeStart.value;
    if (!std::isfinite(node.value)) {
        fail(node);
        return true;
    }
    if (node.slopeStart.atLimit) note(node, kSlopeLimitMessage);
    finish(node);
    return true;
}

// The slope position waiting for a lane that is furthest behind; 0 if none.
int Wavefront::waitingSlopePosition() const {
    int best = 0;
    for (int position = 1; position <= n_; ++position) {
        const Lane& node = lanes_[static_cast<std::size_t>(position)];
        if (node.waitsForLane && key(node.step, position) < stopKey_ &&
            (best == 0 || node.step < lanes_[static_cast<std::size_t>(best)].step)) {
            best = position;
        }
    }
    return best;
}

// Puts the waiting step of slope node `position` into lane `lane`, at the
// celerity of its current estimate.
void Wavefront::startSlope(int lane, int position) {
    Lane& node = lanes_[static_cast<std::size_t>(position)];
    node.waitsForLane = false;
    --waitingForLane_;
    slopePosition_[lane] = position;
    enterSlopeLane(slopeLanes_, slopeConstants_, lane, node.slopeStart, node.oldHere);
}

// A lane's node has finished its step (or failed): its messages, its value.
void Wavefront::retireSlope(int lane) {
    Lane& node = lanes_[static_cast<std::size_t>(slopePosition_[lane])];
    SlopeLanes& l = slopeLanes_;
    for (int64_t k = 0; k < l.newtonMessages[lane]; ++k) note(node, kNewtonLimitMessage);
    if (l.state[lane] == kLaneFinishedAtLimit) note(node, kSlopeLimitMessage);
    node.value = l.value[lane];
    if (l.state[lane] == kLaneFailed) {
        fail(node);
    } else {
        finish(node);
    }
    node.inLane = false;
    slopePosition_[lane] = 0;
    l.state[lane] = kLaneEmpty;
}

// Works the slope steps that can go on as far as they need no power, then
// puts those waiting for a power into the free lanes (and frees the lanes
// whose node is past a stop).
void Wavefront::fillSlopeLanes() {
    for (int lane = 0; lane < 4; ++lane) {
        const int position = slopePosition_[lane];
        if (position != 0 && key(lanes_[static_cast<std::size_t>(position)].step, position) >= stopKey_) {
            lanes_[static_cast<std::size_t>(position)].inLane = false;
            slopePosition_[lane] = 0;
            slopeLanes_.state[lane] = kLaneEmpty;
        }
    }
    // In the order of the chain, a node's steps let the next one's go on in
    // the same pass; only the last position's progress (the ring's limit) can
    // let earlier ones go further.
    for (;;) {
        const int64_t lastStep = lanes_[static_cast<std::size_t>(last_)].step;
        for (int position = 1; position <= n_; ++position) {
            Lane& node = lanes_[static_cast<std::size_t>(position)];
            while (canStart(node) && stepSlopeScalar(node)) {
            }
        }
        if (lanes_[static_cast<std::size_t>(last_)].step == lastStep) break;
    }
    changed_ = false;
    for (int lane = 0; lane < 4 && waitingForLane_ > 0; ++lane) {
        if (slopePosition_[lane] != 0) continue;
        const int waiting = waitingSlopePosition();
        if (waiting == 0) break;
        startSlope(lane, waiting);
    }
}

// Works the slope nodes in the lanes on through one power, hands finished
// nodes over and puts new ones into the free lanes, where they wait for their
// first power until the next call.
void Wavefront::runSlopeLanes() {
    if (slopePosition_[0] != 0 || slopePosition_[1] != 0 || slopePosition_[2] != 0 || slopePosition_[3] != 0) {
        const int done = ::runSlopeLanes(slopeLanes_, slopeConstants_);
        for (int lane = 0; lane < 4; ++lane) {
            if ((done >> lane & 1) != 0) retireSlope(lane);
        }
    }
    if (changed_) fillSlopeLanes();
}

// The node arrays as the step-by-step loop leaves them after `step`.
void Wavefront::writeBack(int64_t step) {
    for (int j = 0; j <= n_; ++j) {
        const double value = j == 0 ? slopeInflow(step) : q(j, step);
        cell_.slopeQ[static_cast<std::size_t>(j)] = value;
        cell_.slopeQNew[static_cast<std::size_t>(j)] = value;
    }
    if (!channel_) return;
    for (int j = 0; j <= n_; ++j) {
        const std::size_t at = static_cast<std::size_t>(j);
        cell_.chanQ[at] = cell_.chanQNew[at] = q(n_ + 1 + j, step);
        cell_.chanA[at] = cell_.chanANew[at] = a(n_ + 1 + j, step);
    }
}

EventStop Wavefront::run(std::string& log) {
    // Pending powers of the channel positions, four at a time, and whose they
    // are; each position asks for two at most. Room for a last group of four.
    const std::size_t room = static_cast<std::size_t>(2 * (last_ - n_) + 4);
    std::vector<double> xs(room), ys(room), out(room);
    std::vector<Lane*> owners(room);
    std::vector<int> ownerRequest(room);
    for (;;) {
        std::size_t pending = 0;
        bool moved = false;
        runSlopeLanes();
        bool slopeBusy = false;  // slope lanes hold nodes
        for (const int position : slopePosition_) slopeBusy = slopeBusy || position != 0;
        for (int position = n_ + 1; position <= last_; ++position) {
            Lane& lane = lanes_[static_cast<std::size_t>(position)];
            if (lane.wait != Wait::kIdle) {
                if (key(lane.step, position) >= stopKey_) {
                    lane.wait = Wait::kIdle;  // past the stop: nothing of it counts
                    lane.requests = 0;
                    continue;
                }
                lane.requests = 0;
                advance(lane);
                moved = true;
            }
            while (lane.wait == Wait::kIdle && canStart(lane)) {
                start(lane);
                moved = true;
            }
            for (int r = 0; r < lane.requests; ++r, ++pending) {
                xs[pending] = lane.x[r];
                ys[pending] = lane.y[r];
                owners[pending] = &lane;
                ownerRequest[pending] = r;
            }
        }
        if (pending == 0 && !moved && !slopeBusy) break;
        if (pending == 0) continue;
        // Unused lanes of the last group get arguments on the vector path.
        for (std::size_t at = pending; at % 4 != 0; ++at) xs[at] = ys[at] = 1.5;
        for (std::size_t at = 0; at < pending; at += 4) pow4(&xs[at], &ys[at], &out[at]);
        for (std::size_t at = 0; at < pending; ++at) owners[at]->result[ownerRequest[at]] = out[at];
    }

    std::stable_sort(messages_.begin(), messages_.end(),
                     [](const Message& a, const Message& b) { return a.key < b.key; });
    for (const Message& message : messages_) {
        if (message.key <= stopKey_) log += message.text;
    }
    const bool stopped = stopKey_ != std::numeric_limits<int64_t>::max();
    const int64_t endStep = stopped ? stopStep_ : steps_;
    if (stopped) {
        writeBack(hourStop_ ? stopStep_ : stopStep_ - 1);
        cell_.lateralInflow = rain_[static_cast<std::size_t>(stopStep_)];
    } else {
        writeBack(endStep - 1);
    }
    if (!stopped) return EventStop{};
    const int perHour = params_.stepsPerHour;
    return EventStop{true, static_cast<int>(stopStep_ / (24 * perHour)), static_cast<int>(stopStep_ / perHour % 24),
                     static_cast<int>(stopStep_ % perHour), hourStop_};
}

}  // namespace

EventStop runCellEventWavefront(Cell& cell, const UpstreamSeries& upstream, const RainGrid& rain,
                                const ModelParams& params, std::string& log, const HourCapture& capture,
                                int64_t firstStep) {
    Wavefront wavefront(cell, upstream, rain, params, capture, firstStep);
    return wavefront.run(log);
}

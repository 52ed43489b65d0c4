// The cell event with the nodes of several steps in flight, the members of an
// ensemble side by side in lanes, and different cells side by side in lanes,
// against the plain step-by-step loop, on random cells: series, node arrays,
// messages and the place of a stop must agree to the bit.

#include "cellEvent.h"
#include "cellSetup.h"
#include "cellLanes.h"
#include "memberLanes.h"
#include "modelCells.h"
#include "nodeWavefront.h"
#include "powLanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <random>

namespace {

struct Outcome {
    EventStop stop;
    std::string log;
    Cell cell;
    std::vector<double> captured;  // the node values at the end of the captured hour
};

Outcome runWith(bool wavefront, Cell cell, const UpstreamSeries& upstream, const RainGrid& rain,
                const ModelParams& p, int captureHour) {
    Outcome o;
    o.captured.assign(3 * cell.slopeQ.size(), -1.0);
    const HourCapture capture{captureHour, o.captured.data(), nullptr};
    o.stop = wavefront ? runCellEventWavefront(cell, upstream, rain, p, o.log, capture)
                       : runCellEventByStep(cell, upstream, rain, p, o.log, capture);
    o.cell = std::move(cell);
    return o;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// The outcomes of the same cell's event must agree to the bit.
void expectSame(const Outcome& actual, const Outcome& expected, const ModelParams& p, bool captured) {
    const std::size_t steps = seriesLength(p.days, p.stepsPerHour);
    if (captured) {
        EXPECT_TRUE(sameBits(actual.captured, expected.captured));
    }
    EXPECT_EQ(actual.stop.stopped, expected.stop.stopped);
    EXPECT_EQ(actual.stop.hourSum, expected.stop.hourSum);
    EXPECT_EQ(seriesIndex(actual.stop.day, actual.stop.hour, actual.stop.step, p.stepsPerHour),
              seriesIndex(expected.stop.day, expected.stop.hour, expected.stop.step, p.stepsPerHour));
    EXPECT_EQ(actual.log, expected.log);
    EXPECT_EQ(std::memcmp(actual.cell.dischargeSeries.data(), expected.cell.dischargeSeries.data(),
                          sizeof(float) * steps),
              0);
    // Mid-step the loop leaves half-written node arrays; only a whole event's end state is defined.
    if (!expected.stop.stopped || expected.stop.hourSum) {
        EXPECT_TRUE(sameBits(actual.cell.slopeQ, expected.cell.slopeQ));
        EXPECT_TRUE(sameBits(actual.cell.chanQ, expected.cell.chanQ));
        EXPECT_TRUE(sameBits(actual.cell.chanA, expected.cell.chanA));
        EXPECT_EQ(actual.cell.lateralInflow, expected.cell.lateralInflow);
    }
}

// A random cell as it starts its event, with what it reads, and its event by the loop.
struct Case {
    ModelParams p;
    CellGrid grid{1, 4};  // the cell, then its upstream cells
    RainGrid rain;
    Outcome expected;
};

// The cases' events all at once, different cells side by side in `width`
// lanes, grouped by the time steps they share; every few rounds the events in
// the lanes are handed over to go on by themselves from their next step.
void expectSameSideBySide(std::deque<Case>& cases, int width) {
    SCOPED_TRACE("lanes " + std::to_string(width));
    int handedOver = 0;
    for (const int seconds : {60, 300, 450, 900, 1800}) {
        for (int days = 1; days <= 2; ++days) {
            std::vector<Case*> group;
            for (Case& c : cases)
                if (c.p.stepSeconds == seconds && c.p.days == days) group.push_back(&c);
            if (group.empty()) continue;
            const ModelParams& p = group[0]->p;
            std::vector<Cell> cells;
            std::vector<std::string> logs(group.size());
            std::vector<EventStop> stops(group.size());
            for (const Case* c : group) cells.push_back(c->grid.cells[0]);
            CellLanes lanes = makeCellLanes(p, width);
            std::vector<LaneEvent> ended;
            std::size_t next = 0;
            for (int round = 1;; ++round) {
                for (; next < group.size() && hasFreeLane(lanes); ++next) {
                    addEvent(lanes, LaneEvent{&cells[next], upstreamSeriesOf(group[next]->grid, cells[next]),
                                              &group[next]->rain, &logs[next], static_cast<int64_t>(next), {}});
                }
                if (isEmpty(lanes)) break;
                if (round % 23 == 0) handOverAll(lanes);
                ended.clear();
                runLanes(lanes, ended);
                for (const LaneEvent& e : ended) {
                    EventStop& stop = stops[static_cast<std::size_t>(e.id)];
                    stop = e.stop;
                    if (e.resumeAt < 0) continue;
                    ++handedOver;
                    stop = runCellEventWavefront(*e.cell, e.upstream, *e.rain, p, *e.log, {}, e.resumeAt);
                }
            }
            for (std::size_t k = 0; k < group.size(); ++k) {
                Outcome side;
                side.stop = stops[k];
                side.log = logs[k];
                side.cell = cells[k];
                expectSame(side, group[k]->expected, group[k]->p, false);
            }
        }
    }
    EXPECT_GT(handedOver, 10);
}

TEST(NodeWavefront, RandomCellsMatchTheStepByStepLoop) {
    if (!cpuHasAvx2Fma()) GTEST_SKIP() << "the slope lanes need AVX2 and FMA";
    int stops = 0, hourStops = 0, messages = 0, memberMessages = 0;
    std::deque<Case> cases;
    for (unsigned seed = 1; seed <= 200; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937_64 gen(seed);
        const auto real = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(gen); };
        const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); };
        const int kinds = pick(0, 11);  // 0: an iteration limit, 1: a stop, else an ordinary cell

        ModelParams p = modelParams();
        p.days = kinds == 0 ? 1 : pick(1, 4) / 4 + 1;
        // Each step of a cell at its iteration limits costs 10^4 iterations a node: few steps there.
        p.stepSeconds = kinds == 0 ? 1800 : std::vector<int>{60, 300, 450, 900, 1800}[static_cast<std::size_t>(pick(0, 4))];
        p.stepsPerHour = 3600 / p.stepSeconds;
        p.spaceSteps = pick(1, 7);
        p.fdWeight = pick(0, 3) == 0 ? 1.0 : real(0.5, 1.0);
        const int steps = static_cast<int>(seriesLength(p.days, p.stepsPerHour));

        RainGrid rain = hourlyRain(p, {});
        for (float& mm : rain.points[0].rainSeries) mm = pick(0, 2) == 0 ? 0.0f : static_cast<float>(real(0, 150));

        // Up to three upstream cells with random hydrographs.
        CellGrid grid(1, 4);
        Cell& cell = grid.cells[0];
        cell.numUpstream = pick(0, 3);
        for (int u = 0; u < cell.numUpstream; ++u) {
            cell.upstream[static_cast<std::size_t>(u)] = u + 1;
            std::vector<float>& series = grid.cells[static_cast<std::size_t>(u + 1)].dischargeSeries;
            series.resize(static_cast<std::size_t>(steps));
            const double peak = std::pow(10.0, real(-4, 0.5));
            for (float& v : series) v = static_cast<float>(peak * real(0, 1));
            if (pick(0, 9) == 0) series[0] = -2.2e-16f;  // a reservoir's release just below zero
        }

        Cell lower;
        lower.elevation = 10.0f;
        cell.flowDir = 3;
        // Float32 giants go to a channel (a slope would iterate on them for long before they overflow).
        const bool giant = kinds == 1 && pick(0, 2) != 0;
        cell.flowAcc = giant || pick(0, 1) == 0 ? 10 : 1;
        cell.dx = static_cast<float>(real(50, 1000));
        cell.dy = static_cast<float>(real(50, 1000));
        cell.elevation = static_cast<float>(10.0 + real(0.01, 30));
        cell.rainPoint = 0;
        // At the limits the soil stays below its surface: 10^4 Newton iterations in each of 10^4 would take long.
        const double da = kinds == 0 ? 1e6 : pick(0, 4) == 0 ? 0.0 : std::pow(10.0, real(-3, 0));
        const double dm = da * (pick(0, 4) == 0 ? 0.0 : real(0, 1));
        const double beta = pick(0, 4) == 0 ? real(0.2, 1.0) : real(1.0, 6.0);
        setupCell(cell, &lower, CellParameters{real(0.01, 0.1), real(0.05, 1.0), std::pow(10.0, real(-3.5, -1)), da, dm, beta},
                  p);
        cell.kind = isChannelCell(cell) ? kChannelCell : kSlopeCell;
        setInitialState(cell, real(0, 1) < 0.2 ? 0.0 : real(0.0, 2.0));
        if (kinds == 0) {
            // Explicit scheme, fast celerity and a spike at node 1: the estimate never settles.
            cell.fdWeight = 0.0;
            cell.slopeAlpha *= 1e4;
            cell.slopeQ[1] = 100.0;
            if (!cell.chanQ.empty()) {
                cell.channelAlpha = 1.0;
                cell.chanQ[1] = 100.0;
            }
        } else if (kinds == 1) {
            // A value the model cannot carry, somewhere in the event: a NaN or a float32 giant.
            std::vector<float>& series = grid.cells[1].dischargeSeries;
            series.assign(static_cast<std::size_t>(steps), 0.1f);
            cell.numUpstream = std::max(cell.numUpstream, 1);
            cell.upstream[0] = 1;
            const int at = pick(0, steps - 1);
            series[static_cast<std::size_t>(at)] = giant ? 3e38f : std::nanf("");
            if (giant && pick(0, 1) == 0) std::fill(series.begin() + at, series.end(), 3e38f);
        }
        cell.dischargeSeries.assign(static_cast<std::size_t>(steps), 0.0f);
        const UpstreamSeries upstream = upstreamSeriesOf(grid, cell);

        const int captureHour = pick(1, 24 * p.days);
        const Outcome expected = runWith(false, cell, upstream, rain, p, captureHour);
        const Outcome actual = runWith(true, cell, upstream, rain, p, captureHour);
        expectSame(actual, expected, p, true);
        cases.push_back(Case{p, grid, rain, expected});
        cases.back().grid.cells[0] = cell;

        // Members (on a third of the cells, for time; one at the iteration
        // limits): this cell with its rain, and more with rain of their own.
        const int count = seed % 3 != 0 ? 0 : kinds != 0 ? pick(1, kMemberLanes) : seed % 9 == 0 ? 1 : 0;
        std::vector<RainGrid> rains(static_cast<std::size_t>(count), rain);
        std::vector<Cell> cells(static_cast<std::size_t>(count), cell);
        std::vector<Outcome> alone(static_cast<std::size_t>(count));
        std::string logs[kMemberLanes];
        LaneEvent members[kMemberLanes];
        for (int g = 0; g < count; ++g) {
            const std::size_t at = static_cast<std::size_t>(g);
            if (g > 0) {
                for (float& mm : rains[at].points[0].rainSeries) mm = pick(0, 2) == 0 ? 0.0f : static_cast<float>(real(0, 150));
            }
            alone[at] = g == 0 ? expected : runWith(false, cell, upstream, rains[at], p, 0);
            members[g] = LaneEvent{&cells[at], upstream, &rains[at], &logs[g], 0, {}};
        }
        if (count > 0) runMemberEvents(members, count, p);
        for (int g = 0; g < count; ++g) {
            SCOPED_TRACE("member " + std::to_string(g));
            Outcome side;
            side.stop = members[g].stop;
            side.log = logs[g];
            side.cell = cells[static_cast<std::size_t>(g)];
            expectSame(side, alone[static_cast<std::size_t>(g)], p, false);
            memberMessages += !side.log.empty();
        }
        stops += expected.stop.stopped;
        hourStops += expected.stop.hourSum;
        messages += !expected.log.empty();
    }
    // Different cells side by side (a run's ready cells), four or eight lanes at a time.
    if (vectorPowAvailable()) {
        expectSameSideBySide(cases, 4);
        if (eightEventLanes()) expectSameSideBySide(cases, 8);
    }
    // The random cells reach every kind of ending.
    EXPECT_GT(stops - hourStops, 5);
    EXPECT_GT(hourStops, 2);
    EXPECT_GT(messages, 5);
    EXPECT_GT(memberMessages, 0);
}

}  // namespace

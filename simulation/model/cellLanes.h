#pragma once
// Up to eight cell events at once, one per vector lane: different cells of a
// run whose upstream series are complete. (The members of an ensemble, one
// cell with different rain, go through memberLanes.h in lockstep instead:
// their lanes stay alike, which the processor runs faster.)
//
// Each lane runs its event step by step, node by node, exactly as
// runCellEventByStep does; the lanes meet only where a power is needed. A
// slope node whose celerity needs one goes through its iteration in the slope
// lanes (slopeLanes.h), and a channel node's powers are taken in the same
// calls, so that what in one event is a chain of dependent powers fills the
// lanes with the others' work. Every event keeps exactly its own operations,
// iteration counts, messages and stop: its series, log, final node state and
// EventStop are those runCellEventByStep gives it, whichever events share the
// lanes and whenever they join.
//
// Four lanes, or eight on processors with AVX-512 (one register). Requires
// vectorPowAvailable() (powLanes.h), and slope or channel cells with
// spaceSteps >= 1; no hour capture.

#include "cellEvent.h"
#include "slopeLanes.h"

#include <cstdint>
#include <string>
#include <vector>

// One event: its cell (series allocated), its upstream series, rain and
// message log, and the caller's name for it; `stop` is set when it ends.
struct LaneEvent {
    Cell* cell = nullptr;
    UpstreamSeries upstream;
    const RainGrid* rain = nullptr;
    std::string* log = nullptr;
    int64_t id = 0;
    EventStop stop;
    // Set when the event left the lanes before its end (handOver): the step it
    // goes on from, its node arrays and series being those after the step before.
    int64_t resumeAt = -1;
};

inline constexpr int kEventLanes = 8;  // at most

// Where one lane's event stands (cellLanes.cpp).
struct EventLane {
    LaneEvent event;
    bool busy = false;
    bool handOver = false;  // leaves the lanes at its next step boundary
    bool waiting = false;  // its node is in the slope lanes, or waits there for a power
    uint8_t phase = 0;
    bool channel = false;
    int n = 0;
    int j = 0;  // the node in progress
    std::size_t at = 0;
    int day = 0, hour = 0, step = 0;
    WaveConstants k{};
    SlopeLayerTerms layer{};
    double r = 0;  // the step's lateral inflow on the slope
    // The channel node in progress (names as in stepChannel).
    double qlat = 0, c = 0, qEst = 0, c1 = 0;
    int count = 0;
};

struct CellLanes {
    const ModelParams* params = nullptr;
    int tenMinutes = 0;
    int width = 4;  // lanes in use: 4, or 8 with AVX-512
    EventLane lane[kEventLanes];
    SlopeLanes slope{};  // lane g of the events in lane g
    SlopeLaneConstants constants{};
};

// Whether eight lanes run here (cpuHasAvx512(), and the vector power).
bool eightEventLanes();
// Lanes for `lanes` (4, or 8 where eightEventLanes()) events at a time.
CellLanes makeCellLanes(const ModelParams& params, int lanes);
bool hasFreeLane(const CellLanes& lanes);
bool isEmpty(const CellLanes& lanes);
// The lane addEvent fills next. Requires hasFreeLane().
int freeLane(const CellLanes& lanes);
// Puts `event` into freeLane(); it starts at the event's first step.
void addEvent(CellLanes& lanes, const LaneEvent& event);
// Runs the lanes until at least one event has ended (or none is left), and
// appends the events that ended, with their stops, to `ended`.
void runLanes(CellLanes& lanes, std::vector<LaneEvent>& ended);
// The number of lanes that hold an event.
int busyLanes(const CellLanes& lanes);
// Every event in the lanes leaves them at its next step boundary, with
// resumeAt set, as if it had ended (for runCellEventWavefront to go on with).
void handOverAll(CellLanes& lanes);

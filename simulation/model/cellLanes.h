#pragma once
// Several slope and channel cells through their whole events side by side.
//
// Each cell runs exactly the step-by-step loop of runCellEventByStep: its
// steps, nodes and iterations in their order, its messages in their order,
// its stop where that loop stops, its node arrays as that loop leaves them.
// In one cell every power waits for the one before it. Cells whose upstream
// series are complete do not wait for one another, so here each cell runs on
// until it needs a power (one, or the two of a channel node's first
// celerity), and then the powers of all cells are taken together, four at a
// time (powBatch): the processor overlaps what in one cell is a chain.
//
// A runner adds cells to free lanes (addCellEvent) and runs the lanes until
// events end (runLanes); a cell's event touches only that cell and its log.

#include "cellEvent.h"

#include <cstdint>
#include <string>
#include <vector>

struct ModelParams;

// Where one cell's event stands between two rounds of powers.
struct LaneEvent;

struct CellLanes {
    CellLanes(const RainGrid& rain, const ModelParams& params, int lanes);
    ~CellLanes();
    CellLanes(const CellLanes&) = delete;
    CellLanes& operator=(const CellLanes&) = delete;

    const RainGrid& rain;
    const ModelParams& params;
    const int tenMinutes;           // steps per 10 minutes, or 0 (cellEvent.cpp)
    const int count;                // lanes
    std::vector<LaneEvent> events;  // one per lane
    int busy = 0;                   // lanes holding an event
    // The powers asked for in a round, and their results.
    std::vector<double> x, y, result;
    std::vector<int> order;  // the lanes grouped by what they wait for
};

// A cell's event that has ended, with the `id` it was added with.
struct LaneEnd {
    int64_t id = 0;
    EventStop stop;
};

// Whether a lane is free.
inline bool hasFreeLane(const CellLanes& lanes) { return lanes.busy < lanes.count; }
inline bool isEmpty(const CellLanes& lanes) { return lanes.busy == 0; }

// Puts the event of a slope or channel cell (spaceSteps >= 1) into a free
// lane, with runCellEventByStep's requirements and arguments; `cell`,
// `upstream`'s series, `log` and `capture`'s storage must stay in place until
// the event ends.
void addCellEvent(CellLanes& lanes, int64_t id, Cell& cell, const UpstreamSeries& upstream, std::string& log,
                  const HourCapture& capture = {});

// Runs the events in the lanes until at least one has ended; appends those
// to `ended` and frees their lanes. Requires a busy lane.
void runLanes(CellLanes& lanes, std::vector<LaneEnd>& ended);

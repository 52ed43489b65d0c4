#pragma once
// A slope or channel cell through its whole event with the nodes of several
// steps in flight at once.
//
// Node j at step t needs only node j-1 at step t and nodes j-1 and j at step
// t-1, so node j can work on step t while node j-1 is already on step t+1.
// Each node position runs its own sequence of steps, exactly the operations
// of stepSlope/stepChannel for that node, with its own iteration counts and
// early exits; what the positions share is the C library's power function:
// the pending powers of all positions go through pow4 four at a time, so the
// processor overlaps what in one node is a chain of dependent calls. The
// outputs (series, iteration-limit messages in calculation order, where the
// event stops) are those of the step-by-step loop, bit for bit.
//
// Used by runCellEvent when the four-lane power runs in vectors
// (vectorPowAvailable()); otherwise the step-by-step loop runs.

#include "cellEvent.h"

#include <cstdint>

// runCellEvent's contract, for a slope or channel cell with spaceSteps >= 1.
// Requires cpuHasAvx2Fma() (powLanes.h). With `firstStep`, the event goes on
// from that step: the cell's node arrays and its series before it are those
// the event left after the step before (cellLanes.h hands events over so).
EventStop runCellEventWavefront(Cell& cell, const UpstreamSeries& upstream, const RainGrid& rain,
                                const ModelParams& params, std::string& log, const HourCapture& capture = {},
                                int64_t firstStep = 0);

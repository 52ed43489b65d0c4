#pragma once
// Up to four members of an ensemble through the event of the same cell at
// once, one member per vector lane.
//
// The members' cells are copies of one set-up cell: the same parameters and
// geometry, each with its own node state, rain and upstream series. They go
// through the event step by step together; at every node the members' celerity
// iterations run side by side in the slope lanes (slopeLanes.h) and their
// channel powers through pow4, so that what in one member is a chain of
// dependent powers fills the lanes with the others' work. Each member keeps
// exactly its own operations, iteration counts, messages and stop: its series,
// log, final node state and EventStop are those runCellEventByStep gives it.
//
// Requires vectorPowAvailable() (powLanes.h) and a slope or channel cell with
// spaceSteps >= 1; no hour capture.

#include "cellLanes.h"

#include <string>

inline constexpr int kMemberLanes = 4;

// runCellEventByStep for `count` (1 to kMemberLanes) members of one cell.
// Each member is a LaneEvent (cellLanes.h): its copy of the cell (series
// allocated), its upstream series, rain and log; `stop` is set here.
void runMemberEvents(LaneEvent* members, int count, const ModelParams& params);

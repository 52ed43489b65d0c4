#pragma once
// Warm starts: a run that starts from the state another run saved instead of
// the initial runoff height, and the saving of such states.
//
// runoffSim --save-state FILE [--save-at H] takes the state at the end of hour
// H of its run (stateFile.h holds the format); --initial-state FILE starts
// every computed cell, dam and reservoir from a saved state. The checks here
// refuse a state that does not belong to the project, each with a one-line
// message, before anything is run.
//
// For the programs that run the model in process, startFromState gives an
// event loaded by loadEvent (event.h) a saved state; its runs (runSelection)
// then start from it.

#include "calcOrder.h"
#include "dam.h"
#include "event.h"
#include "grid.h"
#include "modelState.h"
#include "peers.h"
#include "reservoir.h"
#include "stateFile.h"

#include <cstdint>
#include <string>
#include <vector>

struct ModelParams;

// The cells of the project that carry node values in a state: the slope and
// channel cells that the calculation order computes (dam and reservoir cells
// carry their structures' state instead), in ascending grid index, over the
// whole grid even in a share.
std::vector<int32_t> stateCells(const CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList,
                                const std::vector<Dam>& dams, const std::vector<Reservoir>& reservoirs);

// Throws the refusal of a state saved with another grid, another spaceSteps
// or stepSeconds, or other values of the parameters that shape the cells
// than the project's (`here`), naming the first that differs.
void requireSameSetUp(const StateHeader& saved, const StateHeader& here, const std::string& path);

// Throws the refusal of a state whose dams or reservoirs are not the
// project's (the count, a cell or a dam's kind differs, saying which).
void requireSameStructures(const ModelState& state, const CellGrid& grid, const std::vector<Dam>& dams,
                           const std::vector<Reservoir>& reservoirs, const std::string& path);

// Throws the refusal of a state without a record for one of `cells`
// (stateCells), or with a record of the other kind; naming the first such cell.
void requireCellRecords(const ModelState& state, const CellGrid& grid, const std::vector<int32_t>& cells,
                        const ModelParams& params, const std::string& path);

// Starts the cells this process computes among `cells`, and every dam and
// reservoir, from `state`. Requires the checks above to have passed.
void applyState(const ModelState& state, CellGrid& grid, const std::vector<int32_t>& cells, std::vector<Dam>& dams,
                std::vector<Reservoir>& reservoirs);

// The room, filled by the time loop, for the state at the end of hour `hour`
// of the cells this process computes among `cells`, and the dams and
// reservoirs as they stand before the loop (a structure whose cell is never
// run keeps that).
ModelState stateRoom(const CellGrid& grid, const std::vector<int32_t>& cells, const ModelParams& params,
                     const std::vector<Dam>& dams, const std::vector<Reservoir>& reservoirs, int hour);

// A distributed run after its loop: every process other than 0 sends its
// part of the state to process 0, which merges them into its `state` (cells
// in ascending order, each structure as its owner left it). Every process
// calls it.
void gatherState(Peers& peers, const CellGrid& grid, ModelState& state);

// Reads the state file `path`, checks it against the loaded event as
// runoffSim --initial-state does (same messages, thrown as InputError), and
// starts the event's cells, dams and reservoirs from it; runSelection on the
// event then starts from the state too.
void startFromState(Event& event, const std::string& path);

#pragma once
// The main sequence of runoffSim: read the settings and the topography, attach
// rainfall, parameters, dams and reservoirs, fix the calculation order, run the
// time loop and write the results. Works in the current directory.

#include "peers.h"
#include "topography.h"

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

struct RunOptions {
    int threads = 1;        // worker threads of the time loop
    bool progress = false;  // keep a progress line on standard error
    bool help = false;      // print the usage instead of running
    bool version = false;   // print the version line instead of running
    bool threadsGiven = false;  // --threads was on the command line
    std::string saveState;      // --save-state: where to save the state; empty: none
    int saveAt = 0;             // --save-at: the hour at whose end it is taken; 0: the end of the run
    std::string initialState;   // --initial-state: the state to start from; empty: the initial runoff
};

// The options of the command line (without the program name): none, or
// "--threads N" (N >= 1; the default is every hardware thread), "--save-state
// FILE" with "--save-at HOURS" (a whole number from 1), "--initial-state
// FILE", "--help" or "--version".
// Throws InputError with a one-line usage message, naming `program`'s --help,
// for anything else.
RunOptions parseRunOptions(const std::vector<std::string>& args, const std::string& program = "runoffSim");

// What "runoffSim --help" prints.
std::string runUsage();

// What one process of a distributed run brings to the main sequence: its
// peers, and the choice of the cells it holds, made from the checked rasters.
struct RunShare {
    Peers& peers;
    std::function<HeldCells(const TopographyRasters& rasters, const std::vector<int32_t>& riverNumList,
                            const ModelParams& params)>
        choose;
};

// Runs the whole simulation, printing its console lines to `out`. Returns the
// exit status of a complete run (0); an input error is thrown as InputError.
// The console and every file are the same whatever the number of threads.
//
// With `share`, this is one process of a distributed run: it holds and
// computes its share of the grid, and every process takes each step of the
// sequence together (agreeOrStop). Process 0 prints, writes the caches of
// "./temp/" (the others read them after it) and every result: the others send
// it their cells' values for the discharge files and the tables of their dams
// and reservoirs, so that one process puts all results in place together.
// The others print nothing to `out`
// and throw an empty message where the run stops. Process 0's console and
// every file are those of the run without a share.
//
// With options.initialState, every computed cell, dam and reservoir starts
// from that saved state; a state that does not belong to the project is
// refused before the loop. With options.saveState, the state at the end of
// hour options.saveAt (0: the last hour) is saved there once the outputs are
// written; the run and its outputs are the same as without it.
int runSimulation(std::ostream& out, const RunOptions& options, RunShare* share = nullptr);

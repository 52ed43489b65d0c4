#pragma once
// The main sequence of runoffSim: read the settings and the topography, attach
// rainfall, parameters, dams and reservoirs, fix the calculation order, run the
// time loop and write the results. Works in the current directory.

#include <iosfwd>
#include <string>
#include <vector>

struct RunOptions {
    int threads = 1;        // worker threads of the time loop
    bool progress = false;  // keep a progress line on standard error
    bool help = false;      // print the usage instead of running
    bool version = false;   // print the version line instead of running
};

// The options of the command line (without the program name): none, or
// "--threads N" (N >= 1; the default is every hardware thread), "--help" or
// "--version".
// Throws InputError with a one-line usage message for anything else.
RunOptions parseRunOptions(const std::vector<std::string>& args);

// What "runoffSim --help" prints.
std::string runUsage();

// Runs the whole simulation, printing its console lines to `out`. Returns the
// exit status of a complete run (0); an input error is thrown as InputError.
// The console and every file are the same whatever the number of threads.
int runSimulation(std::ostream& out, const RunOptions& options);

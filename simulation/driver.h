#pragma once
// The main sequence of runoffSim: read the settings and the topography, attach
// rainfall, parameters, dams and reservoirs, fix the calculation order, run the
// time loop and write the results. Works in the current directory.

#include <iosfwd>

// Runs the whole simulation, printing its console lines to `out`. Returns the
// exit status of a complete run (0); an input error is thrown as InputError.
int runSimulation(std::ostream& out);

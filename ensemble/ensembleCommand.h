#pragma once
// runEnsemble's main sequence: load the project once without its rainfall,
// read and check the members, the thresholds and the kept cells, run every
// member through the event, then write output/ensemble.nc (and, with
// --member-files, each member's discharge files). Works in the current directory.

#include "ensembleOptions.h"

#include <iosfwd>

inline const char* const kEnsembleFile = "./output/ensemble.nc";

// Runs the ensemble with normal output on `out` and the reports of members
// that stop on `err`. Returns 0, or 1 when every member stopped (nothing is
// then written); an input error is thrown as InputError before anything is written.
int runEnsembleProgram(const EnsembleOptions& options, std::ostream& out, std::ostream& err);

#pragma once
// The prepareTopography command: options, and the run from a DEM file to a
// project directory with its topography inputs.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct PrepareOptions {
    std::string demPath;             // any raster GDAL reads (without GDAL: an ESRI ASCII grid in degrees)
    std::string projectDir = ".";    // the files go to projectDir/topoData/
    int32_t minCells = 100;          // smallest basin selected, in cells
    int32_t maxBasins = 0;           // at most this many basins, largest first; 0: no limit
    double cellSeconds = 0.0;        // --cell-size: warp to cells of this many arc-seconds; 0: the DEM's own
    bool writeParamFile = false;     // also write projectDir/param-hsx-event-ver400.dat
    bool help = false;
    bool version = false;            // --version: print the version line and stop
};

// The --help text.
std::string prepareUsage();

// Parses the command-line arguments (without the program name). Throws
// InputError for an unknown option, a missing or malformed value, or a DEM
// path missing or given twice (unless --help or --version is asked for).
PrepareOptions parsePrepareOptions(const std::vector<std::string>& args);

// Runs the preparation and reports on `out`: reads the DEM, conditions it,
// traces the network, selects the basins, writes "topoData/", creates the
// empty run directories the simulation needs, removes a calculation-order
// cache made for other topography, prints the section-1 values and, if asked,
// writes a parameter file (an existing one is kept). Returns 0; throws
// InputError on bad input.
int runPrepare(const PrepareOptions& options, std::ostream& out);

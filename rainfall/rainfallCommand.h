#pragma once
// The prepareRainfall command: options, and the run from a gridded rainfall
// product or a gauge table to a project's "input/rain.bin" and section 2 of
// its parameter file.

#include "paramSection.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct RainfallOptions {
    std::vector<std::string> sources;  // one file with a time axis, or single-time rasters in time order
    std::string projectDir = ".";
    std::string variable;              // --variable
    std::string units;                 // --units
    std::optional<int64_t> start;      // --start, seconds since 1970 UTC; none: the first time of the source
    int32_t intervalMinutes = 0;       // --interval; 0 when not given
    std::string gauges;                // --gauges FILE.csv
    double idwPower = 2.0;             // --idw-power
    bool nearest = false;              // --nearest
    double spacing = 0.0;              // --spacing, degrees, gauge grid; 0: chosen from the study area
    bool help = false;
    bool version = false;
};

// The --help text.
std::string rainfallUsage();

// Parses the command-line arguments (without the program name). Throws
// InputError for an unknown option, a malformed value, or no source.
RainfallOptions parseRainfallOptions(const std::vector<std::string>& args);

// The rainfall of an event on its grid: `frames` holds days x 24 x 60 /
// `intervalMinutes` frames of grid.rows x grid.cols intensities in mm/h, rows
// south first, the layout of "input/rain.bin".
struct RainSeries {
    RainGridSpec grid;
    int32_t intervalMinutes = 0;
    bool timed = false;
    int64_t start = 0;  // timed: start of the first interval, seconds since 1970 UTC
    std::vector<float> frames;
    std::vector<std::string> report;  // summary lines on the source, the variable and the grid
};

// The series for the project from a product (`options.sources`) or a gauge
// table. Throws InputError on bad input; writes nothing.
RainSeries rainSeriesFor(const RainfallOptions& options, const ProjectArea& area);

// Runs the command and reports on `out`. The project is changed only when
// every check has passed: "input/rain.bin" and the parameter file are first
// written under temporary names, then renamed. Returns 0; throws InputError.
int runPrepareRainfall(const RainfallOptions& options, std::ostream& out);

#pragma once
// The prepareRainfall command: options, and the run from a gridded rainfall
// product or a gauge table to a project's "input/rain.bin" (or one file per
// member of an ensemble), section 2 of its parameter file and the record of
// the event's calendar, "input/event.txt".


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
    bool ensemble = false;             // --ensemble: every member to input/ensemble/rain.MMM.bin
    std::optional<int64_t> member;     // --member K: member K (from 0) to input/rain.bin
    bool help = false;
    bool version = false;
};

// The --help text.
std::string rainfallUsage();

// Parses the command-line arguments (without the program name). Throws
// InputError for an unknown option, a malformed value, or no source.
RainfallOptions parseRainfallOptions(const std::vector<std::string>& args);

// Runs the command and reports on `out`. The project is changed only when
// every check has passed: "input/rain.bin" (or the directory
// "input/ensemble"), the parameter file and "input/event.txt" are first
// written under temporary names, then renamed. Returns 0; throws InputError.
int runPrepareRainfall(const RainfallOptions& options, std::ostream& out);

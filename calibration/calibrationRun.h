#pragma once
// The calibrateModel command: reads the configuration, loads the events,
// searches with the trace written batch by batch (or goes on with one), and
// writes the results.

#include <iosfwd>
#include <string>
#include <vector>

struct CalibrateOptions {
    std::string configPath;
    int threads = 0;          // 0: every hardware thread
    bool resume = false;
    std::string outputDir;    // "": the configuration's folder
    bool help = false;
    bool version = false;
};

std::string calibrateUsage();

// Throws InputError for an unknown option, a missing or malformed value, or
// not exactly one configuration file (unless --help or --version is asked).
CalibrateOptions parseCalibrateOptions(const std::vector<std::string>& args);

// Runs the calibration; console lines on `out`, the progress line (on a
// terminal) on standard error. Returns 0; throws InputError, before anything
// is written for every mistake of the configuration.
int runCalibration(const CalibrateOptions& options, std::ostream& out);

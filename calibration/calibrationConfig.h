#pragma once
// The configuration of a calibration, a TOML file:
//
//     [calibration]          how to search and how to score
//     [[event]]              a prepared project, with its gauges:
//     [[event.gauge]]          a cell and its observed discharge
//     [[parameter]]          a parameter to calibrate and its range
//
// Every key, its meaning and its default is listed in README.md. Paths in the
// file are relative to the file's own folder. A mistake is one InputError line
// "Error: FILE:LINE: KEY: PROBLEM", KEY spelled as `event[2].gauge[1].cell`.

#include "cellSetup.h"
#include "inputError.h"

#include <cstdint>
#include <string>
#include <vector>

enum class Algorithm { kDds, kSceUa };
enum class Objective { kKge, kKge2012, kNse, kLogNse };
enum class Aggregate { kMean, kWeighted, kWorst };
enum class InitialPoint { kRandom, kParameterFile };

const char* objectiveName(Objective objective);

// Where a key stands, for messages about it found after the file was read.
struct KeyPlace {
    std::string key;  // "event[1].gauge[2].cell"
    int64_t line = 0;
};

struct GaugeConfig {
    int32_t column = 0;        // from 1 at the west
    int32_t row = 0;           // from 1 at the south
    std::string observed;      // the path as written
    std::string observedPath;  // resolved against the configuration's folder
    double weight = 1.0;
    std::string start;         // calendar start of the event, "" when not given
    KeyPlace cellKey, observedKey, startKey;
};

struct EventConfig {
    std::string name;         // folder of its results; default the project folder's name
    std::string project;      // as written
    std::string projectPath;  // resolved
    std::vector<GaugeConfig> gauges;
    KeyPlace projectKey;
};

struct ParameterConfig {
    ParamKey key = kNs;
    double min = 0.0;
    double max = 0.0;
    bool logarithmic = false;
    KeyPlace nameKey;
};

struct CalibrationConfig {
    std::string path;  // the file, as given
    Algorithm algorithm = Algorithm::kDds;
    int64_t evaluations = 300;
    uint64_t seed = 1;
    int32_t batch = 8;
    Objective objective = Objective::kKge;
    Aggregate aggregate = Aggregate::kMean;
    int32_t warmupHours = 0;
    int32_t complexes = 2;
    InitialPoint initial = InitialPoint::kRandom;
    std::vector<EventConfig> events;
    std::vector<ParameterConfig> parameters;
};

// Reads and checks the file: TOML syntax, known keys only, types, ranges,
// bounds in order, no parameter twice, unique event names. Throws InputError.
CalibrationConfig readCalibrationConfig(const std::string& path);

// "Error: FILE:LINE: KEY: PROBLEM\n" (without ":LINE" when the line is 0).
InputError configError(const CalibrationConfig& config, const KeyPlace& place, const std::string& problem);

// A double with the 17 significant digits that read back as the same double:
// the trace, best.toml and the configuration's hash use it.
std::string exactText(double v);
// The whole content of a file; false when it cannot be opened.
bool readWholeFile(const std::string& path, std::string& bytes);

// Everything in the configuration that the results depend on, as text:
// the base of the hash that ties a trace to its configuration.
std::string canonicalText(const CalibrationConfig& config);

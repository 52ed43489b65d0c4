#pragma once
// What runEnsemble reads besides the project: the rainfall members, the
// thresholds and the cells whose hourly series are kept. Everything is read
// and checked before the first member runs, so a bad input stops the program
// with one line and nothing written.

#include "ensembleOptions.h"
#include "event.h"

#include <cstdint>
#include <string>
#include <vector>

inline const char* const kMembersDir = "./input/ensemble/";

// The member files of `directory`, rain.000.bin, rain.001.bin, ... in member
// order. Throws InputError when there is none, or when a number is missing
// (the members are numbered from 000 without gaps).
std::vector<std::string> findMemberFiles(const std::string& directory = kMembersDir);

// Reads each member file as runoffSim reads input/rain.bin, into a copy of
// the event's rainfall grid. Throws InputError for a file that cannot be
// read, that is not exactly the size the parameter file gives (every frame of
// the event, rainRows x rainCols float32 each), or that holds a value that is
// not a rainfall intensity.
std::vector<RainGrid> readMembers(const Event& event, const std::vector<std::string>& paths);

// A threshold per grid index (row 0 north), float32 m3/s; NaN where it has no
// value (a NODATA cell of a grid).
struct Threshold {
    std::string name;
    std::string source;  // "300 m3/s" or the grid's path, for the file's metadata
    bool isGrid = false;
    float value = 0.0f;
    std::vector<float> cells;
};

// The thresholds of the options; a grid must be an ESRI ASCII grid of the
// study area (the parameter file's ncols, nrows and corner, to half a cell)
// whose values are zero or more. Throws InputError naming the grid otherwise.
std::vector<Threshold> readThresholds(const Event& event, const std::vector<ThresholdOption>& options);

// A cell whose hourly series of every member the file holds.
struct SeriesSite {
    int32_t cell = 0;        // grid index
    std::string name;        // "point 3", or the dam's or reservoir's name
    std::string kind;        // "point", "dam" or "reservoir"
    int32_t columnNumber = 0;  // from 1 at the west
    int32_t rowNumber = 0;     // from 1 at the south
};

// The --point cells in order, then every dam and every reservoir in list
// order. A point must lie in the grid on a cell of the discharge files (not on
// the border, of a listed river); otherwise InputError.
std::vector<SeriesSite> seriesSites(const Event& event, const std::vector<std::pair<int32_t, int32_t>>& points);

#pragma once
// The plotHydrograph command: the hydrograph of one cell, dam or reservoir of
// a finished run as an SVG page, with the upstream-mean rainfall and, when
// observations are given, the observed series and the skill scores.

#include "hydrographSvg.h"
#include "runResults.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct PlotOptions {
    enum class Target { kNone, kCell, kDam, kReservoir };
    Target target = Target::kNone;
    int32_t columnNumber = 0;  // --cell: from 1 at the west
    int32_t rowNumber = 0;     // --cell: from 1 at the south
    std::string name;          // --dam, --reservoir
    std::string observedPath;  // --observed FILE.csv
    std::string outputPath;    // -o FILE.svg; empty: output/hydrograph-<cell or name>.svg in the project
    std::string projectDir = ".";
    std::string start;         // --start
    bool tenMinute = false;    // also draw the 10-minute means
    bool help = false;
    bool version = false;
};

std::string plotUsage();

// Throws InputError for an unknown option, a missing or malformed value, or
// not exactly one of --cell, --dam and --reservoir (unless --help is asked).
PlotOptions parsePlotOptions(const std::vector<std::string>& args);

// "FILE.svg" -> "FILE-skill.csv": where the scores go beside the picture.
std::string skillCsvPath(const std::string& svgPath);

// Completes the picture of the simulated hourly means of a cell (column and
// row numbers from 1 at the west and south) as plotHydrograph draws it: the
// rainfall over the cells upstream, read from the project, the title and a
// subtitle with the cell's place, its upstream cells and the peak (`outflow`:
// of a dam or reservoir). Requires plot.hourly and plot.start.
void describeCellPlot(HydrographPlot& plot, const Project& project, const ModelParams& params, int32_t column,
                      int32_t row, const std::string& title, bool outflow);

// Hourly means as a series at the ends of their hours (minutes 60, 120, ...).
TimeSeries hourlySeries(const std::vector<float>& values);

// Writes a result file under a temporary name renamed when complete; throws InputError.
void writeResultText(const std::string& path, const std::string& text);

// Reads the run, draws the hydrograph and writes it (and the scores) under
// temporary names renamed at the end. Returns 0; throws InputError.
int runPlot(const PlotOptions& options, std::ostream& out);

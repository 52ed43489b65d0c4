#pragma once
// The discharge time-series extractor: the series of one grid cell, chosen on
// the console by column (from 1 at the west) and row (from 1 at the south),
// copied from one or two discharge grid files into small text files of
// "label value" lines.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// One input file and the output file its values go to.
struct SeriesChannel {
    std::string inputPath;      // discharge grid file in the working directory
    std::string openFailure;    // console text when it cannot be opened
    std::string outputSuffix;   // output name is "./<x>-<y>" + outputSuffix
};

// What differs between the two series programs. The input files are read in
// lockstep, in the order given.
struct SeriesToolConfig {
    std::vector<SeriesChannel> channels;
    int32_t framesPerDay;   // frames per simulated day in each input file
    int32_t labelStep;      // minutes per frame: the label of frame i is i x labelStep
};

SeriesToolConfig series10minConfig();
SeriesToolConfig seriesHourlyConfig();

// "./<x>-<y><suffix>": column first, then row.
std::string seriesFileName(int32_t x, int32_t y, const std::string& suffix);

// The whole program on the given console: reads "../param-hsx-event-ver400.dat",
// asks for the cell and writes its series. Returns the exit status; every stop
// throws InputError with its console text.
int runDischargeSeries(const SeriesToolConfig& config, std::istream& in, std::ostream& out);

#include "dischargeSeries.h"

#include "frameFile.h"
#include "inputError.h"
#include "paramFile.h"

#include <cmath>
#include <fstream>
#include <istream>
#include <ostream>

SeriesToolConfig series10minConfig() {
    return {{{"./discharge10minSnapshot.bin", "10 minutes snapshot discharge cannot open.",
              "_10minSnapshotDischarge.dat"},
             {"./discharge10minMean.bin", "10 minutes mean discharge data cannot open.", "_10minMeanDischarge.dat"}},
            144,
            10};
}

SeriesToolConfig seriesHourlyConfig() {
    return {{{"./dischargeHourlyMean.bin", "Discharge data cannot open.", "_hourlyMeanDischarge.dat"}}, 24, 60};
}

std::string seriesFileName(int32_t x, int32_t y, const std::string& suffix) {
    return "./" + std::to_string(x) + "-" + std::to_string(y) + suffix;
}

namespace {

// Prints the prompt and reads a cell number in 1..limit. An answer that is not
// an integer (or does not fit one) is out of range like any other.
int32_t askCellNumber(std::istream& in, std::ostream& out, const char* prompt, int32_t limit,
                      const char* outOfRange) {
    out << prompt;
    out.flush();
    int32_t value = 0;
    if (!(in >> value) || value < 1 || value > limit) throw InputError(std::string(outOfRange) + "\n");
    return value;
}

// Copies the value at `cell` of every frame of every input to its output. A
// frame's lines are written only once every input holds that frame whole, so
// the outputs always have the same number of lines. A value of the cell that
// is not finite stops the copy with a message.
void copySeries(std::vector<FrameFile>& inputs, std::vector<std::ofstream>& outputs, uint64_t cell, int64_t frames,
                int32_t labelStep) {
    std::vector<float> frame;
    std::vector<float> values(inputs.size());
    for (int64_t i = 1; i <= frames; ++i) {
        for (std::size_t c = 0; c < inputs.size(); ++c) {
            readFrame(inputs[c], frame, frames);
            values[c] = frame[cell];
            // A damaged value must not pass into the series as "nan" or "inf".
            if (!std::isfinite(values[c])) {
                throw InputError("Discharge data " + inputs[c].path + " holds a value that is not a finite number "
                                 "for this cell in frame " + std::to_string(i) + ".\n");
            }
        }
        // 64-bit label: i x labelStep may exceed int32 for very long runs.
        const int64_t label = i * labelStep;
        for (std::size_t c = 0; c < outputs.size(); ++c) outputs[c] << label << ' ' << values[c] << '\n';
    }
}

}  // namespace

int runDischargeSeries(const SeriesToolConfig& config, std::istream& in, std::ostream& out) {
    out << "Reading parameters for runoff simulation.\n";
    ToolParams params;
    if (!readParamFile(out, params)) throw InputError("param-hsx-event-ver400.dat cannot open.\n");

    const int32_t x = askCellNumber(in, out, "Input column number to extract data!\nColumn number begins from 1 from west.\n",
                                    params.ncols, "Column number is out of range!");
    const int32_t y = askCellNumber(in, out, "Input row number to extract data!\nRow number begins from 1 from south.\n",
                                    params.nrows, "Row number is out of range!");
    out << "Column number : " << x << " Row number : " << y << '\n';

    const uint64_t ncols = static_cast<uint64_t>(params.ncols);
    const uint64_t cells = static_cast<uint64_t>(params.nrows) * ncols;
    std::vector<FrameFile> inputs(config.channels.size());
    for (std::size_t c = 0; c < inputs.size(); ++c) {
        out << "Read " << config.channels[c].inputPath << '\n';
        if (!openFrameFile(inputs[c], config.channels[c].inputPath, cells)) {
            throw InputError(config.channels[c].openFailure + "\n");
        }
    }
    // 64-bit product: no limit is set on `days`, so the count must not wrap.
    const int64_t frames = int64_t{params.days} * config.framesPerDay;

    std::vector<std::string> names;
    std::vector<std::ofstream> outputs(config.channels.size());
    for (std::size_t c = 0; c < outputs.size(); ++c) {
        names.push_back(seriesFileName(x, y, config.channels[c].outputSuffix));
        out << "Write " << names[c] << '\r';
        outputs[c].open(names[c], std::ios::binary);
        if (!outputs[c]) throw InputError("Time series discharge output file cannot open.\n");
    }

    // File coordinates: row y counts from the south, which is the file's row order.
    const uint64_t cell = static_cast<uint64_t>(y - 1) * ncols + static_cast<uint64_t>(x - 1);
    copySeries(inputs, outputs, cell, frames, config.labelStep);
    for (std::size_t c = 0; c < outputs.size(); ++c) {
        outputs[c].close();
        if (!outputs[c]) throw InputError("Time series discharge output file " + names[c] + " cannot be written.\n");
    }
    return 0;
}

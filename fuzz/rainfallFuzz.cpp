// The rainfall readers, text and binary, and the event totals. The first byte
// chooses the reader, the rainfall grid size and the observation interval;
// the rest of the input is the rainfall file.

#include "fuzzProject.h"
#include "grid.h"
#include "rainfall.h"
#include "rainFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const uint8_t config = data[0];
    ModelParams params = smallParams();
    const bool text = (config & 1) == 0;
    params.rainCols = 1 + ((config >> 1) & 3);
    params.rainRows = 1 + ((config >> 3) & 1);
    static const int kIntervals[4] = {10, 60, 5, 30};
    params.rainInterval = kIntervals[(config >> 4) & 3];
    params.obsPerHour = 60 / params.rainInterval;
    const std::string file(reinterpret_cast<const char*>(data) + 1, size - 1);

    RainGrid rain = makeRainGrid(params);
    std::istringstream in(file);
    try {
        if (text) {
            readRainText(rain, in, kRainTextPath);
        } else {
            readRainBinary(rain, in, kRainBinaryPath);
        }
    } catch (const InputError& error) {
        checkStopMessage(error);
        return 0;
    }
    for (const RainPoint& point : rain.points) {
        for (float v : point.rainSeries) {
            if (!std::isfinite(v)) finding("non-finite rainfall accepted");
        }
    }
    CellGrid grid(params.nrows, params.ncols);
    for (std::size_t k = 0; k < grid.cells.size(); ++k) {
        grid.cells[k].rainPoint = static_cast<int32_t>(k % rain.points.size());
    }
    std::ostringstream totals;
    writeRainTotals(totals, rainTotals(grid, rain), params);
    const std::string written = totals.str();
    if (written.find("nan") != std::string::npos || written.find("inf") != std::string::npos) {
        finding("non-finite rainfall total");
    }
    return 0;
}

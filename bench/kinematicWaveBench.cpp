// Time of one cell through a one-day event (60 s steps, 4 segments), for a
// slope cell with soil layers and a channel cell, under rain then a dry tail.
// Prints microseconds per cell-day; a million cells cost a million times that.

#include "cellSetup.h"
#include "kinematicWave.h"
#include "paramFile.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {

ModelParams benchParams() {
    ModelParams p;
    p.days = 1;
    p.stepSeconds = 60;
    p.stepsPerHour = 60;
    p.spaceSteps = 4;
    p.fdWeight = 0.6;
    p.channelThreshold = 5;
    p.slopeLength = 100.0;
    p.obsPerHour = 6;
    return p;
}

double microsecondsPerCellDay(int flowAcc, int repeats) {
    const ModelParams p = benchParams();
    RainGrid rain;
    rain.days = 1;
    rain.obsPerHour = 6;
    rain.points.resize(1);
    rain.points[0].rainSeries.assign(24 * 6, 0.0f);
    for (int k = 0; k < 36; ++k) rain.points[0].rainSeries[static_cast<std::size_t>(k)] = 20.0f;  // 6 wet hours

    CellGrid grid(1, 1);
    Cell lower;
    lower.elevation = 0.0f;
    CellParameters v;
    v.nr = 0.03;
    v.ns = 0.3;
    v.ka = 0.001;
    v.da = 1.0;
    v.dm = 0.5;
    v.beta = 4.0;
    std::string log;
    const auto start = std::chrono::steady_clock::now();
    double sink = 0.0;
    for (int rep = 0; rep < repeats; ++rep) {
        Cell& cell = grid.cells[0];
        cell = Cell{};
        cell.flowDir = 3;
        cell.flowAcc = flowAcc;
        cell.dx = 760.0f;
        cell.dy = 927.0f;
        cell.elevation = 10.0f;
        cell.rainPoint = 0;
        setupCell(cell, &lower, v, p);
        setInitialState(cell, 0.1);
        cell.dischargeSeries.assign(24 * 60, 0.0f);
        const bool channel = isChannelCell(cell);
        const WaveConstants k = waveConstants(cell);
        const UpstreamSeries upstream = upstreamSeriesOf(grid, cell);
        std::size_t at = 0;
        for (int hour = 0; hour < 24; ++hour) {
            for (int step = 0; step < 60; ++step, ++at) {
                setRainfall(cell, rain, 0, hour, step / 10);
                if (channel) {
                    stepChannel(cell, k, upstream, at, log);
                } else {
                    stepSlope(cell, k, upstream, at, log);
                }
            }
        }
        sink += cell.dischargeSeries.back();
    }
    const double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / repeats;
    if (sink < 0) std::printf("%g\n", sink);
    return us;
}

}  // namespace

int main() {
    std::printf("slope cell:   %.0f us per cell-day\n", microsecondsPerCellDay(1, 2000));
    std::printf("channel cell: %.0f us per cell-day\n", microsecondsPerCellDay(50, 2000));
}

// Time of one cell through a one-day event (60 s steps, 4 segments), for a
// slope cell with soil layers and a channel cell, under rain then a dry tail.
// Prints processor microseconds per cell-day, step by step and with the nodes of several
// steps side by side; a million cells cost a million times that.

#include "cellEvent.h"
#include "cellSetup.h"
#include "kinematicWave.h"
#include "nodeWavefront.h"
#include "paramFile.h"
#include "powLanes.h"

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Processor time of this process: on a machine shared with other work the
// wall clock would count the time spent waiting for a core.
double cpuMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) * 1e-3;
}

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
    p.rainInterval = 10;
    return p;
}

double microsecondsPerCellDay(int flowAcc, int repeats, bool wavefront) {
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
    const double start = cpuMicroseconds();
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
        const UpstreamSeries upstream = upstreamSeriesOf(grid, cell);
        if (wavefront) {
            runCellEventWavefront(cell, upstream, rain, p, log);
        } else {
            runCellEventByStep(cell, upstream, rain, p, log);
        }
        sink += cell.dischargeSeries.back();
    }
    const double us =
        (cpuMicroseconds() - start) / repeats;
    if (sink < 0) std::printf("%g\n", sink);
    return us;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 1 ? std::atoi(argv[1]) : 500;
    // Step by step (std::pow), then with the nodes of several steps side by side (pow4).
    std::printf("vector pow: %s\n", vectorPowAvailable() ? "yes" : "no");
    for (const bool wavefront : {false, true}) {
        const char* way = wavefront ? "wavefront" : "by step  ";
        std::printf("%s slope cell:   %.0f us per cell-day\n", way, microsecondsPerCellDay(1, repeats, wavefront));
        std::printf("%s channel cell: %.0f us per cell-day\n", way, microsecondsPerCellDay(50, repeats, wavefront));
    }
}

#include "dischargeOutput.h"

#include "consoleProgram.h"
#include "dischargeFiles.h"
#include "rainFiles.h"
#include "structureLists.h"
#include "paramFile.h"

#include <algorithm>
#include <fstream>
#include <ostream>
#include <string>

namespace {

const float* hourStart(const std::vector<float>& series, int day, int hour, int stepsPerHour) {
    return series.data() + seriesIndex(day, hour, 0, stepsPerHour);
}

}  // namespace

float hourlyMeanDischarge(const Cell& cell, int day, int hour, int stepsPerHour) {
    return meanInOrder(hourStart(cell.dischargeSeries, day, hour, stepsPerHour), stepsPerHour);
}

float meanDischarge10min(const Cell& cell, int day, int hour, int s, int stepsPer10min) {
    const int stepsPerHour = stepsPer10min * 6;
    return meanInOrder(hourStart(cell.dischargeSeries, day, hour, stepsPerHour) + s * stepsPer10min, stepsPer10min);
}

float snapshotDischarge10min(const Cell& cell, int day, int hour, int s, int stepsPer10min) {
    const int stepsPerHour = stepsPer10min * 6;
    return hourStart(cell.dischargeSeries, day, hour, stepsPerHour)[(s + 1) * stepsPer10min - 1];
}

float hourlyMeanInflow(const Cell& cell, int day, int hour, int stepsPerHour) {
    return meanInOrder(hourStart(cell.inflowSeries, day, hour, stepsPerHour), stepsPerHour);
}

void releaseSeries(Cell& cell) {
    std::vector<float>().swap(cell.dischargeSeries);
    std::vector<float>().swap(cell.inflowSeries);
    std::vector<double>().swap(cell.chanQ);
    std::vector<double>().swap(cell.chanQNew);
    std::vector<double>().swap(cell.chanA);
    std::vector<double>().swap(cell.chanANew);
    std::vector<double>().swap(cell.slopeQ);
    std::vector<double>().swap(cell.slopeQNew);
}

TenMinuteLayout::TenMinuteLayout(int stepSeconds)
    : aligned(600 % stepSeconds == 0), stepsPer10min(600 / stepSeconds), pieces(6), snapshotStep(6) {
    for (int s = 0; s < 6; ++s) {
        const int begin = 600 * s, end = 600 * (s + 1);
        for (int step = begin / stepSeconds; step * stepSeconds < end; ++step) {
            const int overlap = std::min(end, (step + 1) * stepSeconds) - std::max(begin, step * stepSeconds);
            pieces[static_cast<std::size_t>(s)].push_back({step, overlap});
        }
        snapshotStep[static_cast<std::size_t>(s)] = (end - 1) / stepSeconds;
    }
}

float TenMinuteLayout::mean(const float* hourValues, int s) const {
    if (aligned) return meanInOrder(hourValues + s * stepsPer10min, stepsPer10min);
    // Time-weighted mean over the interval.
    double sum = 0.0;
    for (const Piece& piece : pieces[static_cast<std::size_t>(s)])
        sum += static_cast<double>(hourValues[piece.step]) * piece.seconds;
    return static_cast<float>(sum / 600.0);
}

float TenMinuteLayout::snapshot(const float* hourValues, int s) const {
    if (aligned) return hourValues[(s + 1) * stepsPer10min - 1];
    return hourValues[snapshotStep[static_cast<std::size_t>(s)]];
}

namespace {

const char* const kTotalsPath = "./output/totalRainDistribution.asc";

}  // namespace

bool writeOutputs(DischargeFiles& files, CellGrid& grid, const RainGrid& rain, const ModelParams& params,
                  const std::vector<Dam>& dams, const std::vector<Reservoir>& reservoirs, std::ostream& out) {
    closeDischargeFiles(files);
    std::vector<std::string> lost;
    for (int k = 0; k < 3; ++k) {
        out << "Write " << files.files[static_cast<std::size_t>(k)].path << '\n';
        if (!commitDischargeFile(files, k)) lost.push_back(files.files[static_cast<std::size_t>(k)].path);
    }
    out << "Write " << kTotalsPath << '\n';
    std::ofstream totals = openRainTotals(kTotalsPath);
    writeRainTotals(totals, rainTotals(grid, rain), params);
    totals.close();
    writeDamTables(dams, grid, params, out);
    writeReservoirTables(reservoirs, grid, params, out);

    for (Cell& cell : grid.cells) releaseSeries(cell);

    std::string stop;
    for (const std::string& path : lost) stop += "Error: " + path + " could not be written.\n";
    out << stop;
    if (!stop.empty()) echoStop(out, stop);
    return lost.empty();
}

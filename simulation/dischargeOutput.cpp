#include "dischargeOutput.h"

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

float TenMinuteLayout::mean(const Cell& cell, int day, int hour, int s, int stepsPerHour) const {
    if (aligned) return meanDischarge10min(cell, day, hour, s, stepsPer10min);
    // Time-weighted mean over the interval.
    const float* values = hourStart(cell.dischargeSeries, day, hour, stepsPerHour);
    double sum = 0.0;
    for (const Piece& piece : pieces[static_cast<std::size_t>(s)])
        sum += static_cast<double>(values[piece.step]) * piece.seconds;
    return static_cast<float>(sum / 600.0);
}

float TenMinuteLayout::snapshot(const Cell& cell, int day, int hour, int s, int stepsPerHour) const {
    if (aligned) return snapshotDischarge10min(cell, day, hour, s, stepsPer10min);
    return hourStart(cell.dischargeSeries, day, hour, stepsPerHour)[snapshotStep[static_cast<std::size_t>(s)]];
}

namespace {

const char* const kSnapshotPath = "./output/discharge10minSnapshot.bin";
const char* const kMeanPath = "./output/discharge10minMean.bin";
const char* const kHourlyPath = "./output/dischargeHourlyMean.bin";
const char* const kTotalsPath = "./output/totalRainDistribution.asc";

// One output file written a frame at a time; remembers whether every write succeeded.
struct FrameFile {
    const char* path;
    std::ofstream stream;
    std::vector<float> frame;

    FrameFile(const char* p, std::size_t cells, std::ostream& out) : path(p), frame(cells) {
        out << "Write " << path << '\n';
        stream.open(path, std::ios::binary | std::ios::trunc);
    }
    void writeFrame() {
        if (stream) stream.write(reinterpret_cast<const char*>(frame.data()),
                                 static_cast<std::streamsize>(frame.size() * sizeof(float)));
    }
    bool finish() {
        if (!stream.is_open()) return false;
        stream.close();
        return !stream.fail();
    }
};

// Whether each cell carries data in the files: not on the border, river listed.
std::vector<bool> writtenCells(const CellGrid& grid, const std::vector<int32_t>& riverNumList) {
    std::vector<bool> written(grid.cells.size(), false);
    for (std::size_t i = 0; i < grid.cells.size(); ++i) {
        const Cell& cell = grid.cells[i];
        written[i] = !cell.isEdge && isListedRiver(riverNumList, cell.riverNum);
    }
    return written;
}

}  // namespace

bool writeOutputs(CellGrid& grid, const std::vector<int32_t>& riverNumList, const RainGrid& rain,
                  const ModelParams& params, const std::vector<Dam>& dams, const std::vector<Reservoir>& reservoirs,
                  std::ostream& out) {
    const std::size_t cells = grid.cells.size();
    FrameFile snapshot(kSnapshotPath, cells * 6, out);
    FrameFile mean(kMeanPath, cells * 6, out);
    FrameFile hourly(kHourlyPath, cells, out);
    out << "Write " << kTotalsPath << '\n';
    std::ofstream totals = openRainTotals(kTotalsPath);

    const std::vector<bool> written = writtenCells(grid, riverNumList);
    const TenMinuteLayout layout(params.stepSeconds);
    const int sph = params.stepsPerHour;
    // One hour at a time: each cell's values of the hour go into the hour's
    // frames at the cell's file position (south row first).
    for (int day = 0; day < params.days; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            std::size_t k = 0;
            for (int r = grid.nrows - 1; r >= 0; --r) {
                for (int c = 0; c < grid.ncols; ++c, ++k) {
                    const std::size_t i = static_cast<std::size_t>(grid.index(r, c));
                    const Cell& cell = grid.cells[i];
                    const bool data = written[i];
                    hourly.frame[k] = data ? hourlyMeanDischarge(cell, day, hour, sph) : kNoData;
                    for (int s = 0; s < 6; ++s) {
                        const std::size_t at = static_cast<std::size_t>(s) * cells + k;
                        snapshot.frame[at] = data ? layout.snapshot(cell, day, hour, s, sph) : kNoData;
                        mean.frame[at] = data ? layout.mean(cell, day, hour, s, sph) : kNoData;
                    }
                }
            }
            hourly.writeFrame();
            snapshot.writeFrame();
            mean.writeFrame();
        }
    }
    std::vector<std::string> lost;
    for (FrameFile* file : {&snapshot, &mean, &hourly})
        if (!file->finish()) lost.push_back(file->path);

    writeRainTotals(totals, rainTotals(grid, rain), params);
    writeDamTables(dams, grid, params, out);
    writeReservoirTables(reservoirs, grid, params, out);

    for (Cell& cell : grid.cells)
        if (!cell.isEdge && cell.riverNum >= 0) releaseSeries(cell);

    for (const std::string& path : lost) out << "Error: " << path << " could not be written.\n";
    return lost.empty();
}

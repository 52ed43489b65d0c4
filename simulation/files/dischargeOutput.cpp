#include "dischargeOutput.h"

#include "consoleProgram.h"
#include "dischargeFiles.h"
#include "rainFiles.h"
#include "structureLists.h"
#include "paramFile.h"

#include "inputError.h"
#include "resultFiles.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>

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

void packSize(std::string& bytes, uint64_t size) { bytes.append(reinterpret_cast<const char*>(&size), sizeof size); }

uint64_t unpackSize(const std::string& bytes, std::size_t& at) {
    uint64_t size = 0;
    bytes.copy(reinterpret_cast<char*>(&size), sizeof size, at);
    at += sizeof size;
    return size;
}

void packText(std::string& bytes, const std::string& text) {
    packSize(bytes, text.size());
    bytes += text;
}

std::string unpackText(const std::string& bytes, std::size_t& at) {
    const uint64_t size = unpackSize(bytes, at);
    std::string text = bytes.substr(at, static_cast<std::size_t>(size));
    at += text.size();
    return text;
}

}  // namespace

std::string packTables(const std::vector<TableFile>& tables) {
    std::string bytes;
    packSize(bytes, tables.size());
    for (const TableFile& table : tables) {
        packText(bytes, table.path);
        packText(bytes, table.text);
    }
    return bytes;
}

void unpackTables(const std::string& bytes, std::size_t& at, std::vector<TableFile>& tables) {
    for (uint64_t count = unpackSize(bytes, at); count > 0; --count) {
        TableFile table;
        table.path = unpackText(bytes, at);
        table.text = unpackText(bytes, at);
        tables.push_back(std::move(table));
    }
}

void requireResultDirectories(bool dams, bool reservoirs) {
    const std::pair<const char*, bool> dirs[] = {
        {"./output/", true}, {"./output/damData/", dams}, {"./output/resData/", reservoirs}};
    for (const auto& [dir, needed] : dirs) {
        if (!needed) continue;
        if (const int error = probeDirectory(dir)) {
            throw InputError("Error: no result can be written into " + std::string(dir) + ": " + std::strerror(error) +
                             ".\n");
        }
    }
}

void requireDischargeFiles(const DischargeFiles& files) {
    const FileFailure failure = dischargeFailure(files);
    if (failure.error != 0) throw InputError("Error: " + failureText(failure) + ".\n");
}

namespace {

// Writes a table under its temporary name, unless an earlier file failed.
void writeTables(const std::vector<TableFile>& tables, std::vector<PendingFile>& pending, FileFailure& failure) {
    for (const TableFile& table : tables) {
        if (failure.error != 0) return;
        pending.push_back({table.path, table.path + ".partial"});
        if (const int error = writeWholeFile(pending.back().temporary, table.text)) failure = {table.path, error};
    }
}

}  // namespace

bool writeOutputs(DischargeFiles& files, CellGrid& grid, const RainGrid& rain, const ModelParams& params,
                  const std::vector<TableFile>& damTables, const std::vector<TableFile>& reservoirTables,
                  std::ostream& out) {
    closeDischargeFiles(files);
    std::vector<PendingFile> pending;
    for (const DischargeFiles::File& file : files.files) {
        out << "Write " << file.path << '\n';
        pending.push_back({file.path, file.temporary});
    }
    FileFailure failure = dischargeFailure(files);
    out << "Write " << kRainTotalsPath << '\n';
    if (failure.error == 0) {
        pending.push_back({kRainTotalsPath, std::string(kRainTotalsPath) + ".partial"});
        if (const int error = writeRainTotalsFile(pending.back().temporary, rainTotals(grid, rain), params))
            failure = {kRainTotalsPath, error};
    }
    out << "Write ./output/damData/damIQS.dat\n";
    writeTables(damTables, pending, failure);
    out << "Write ./output/resData/resIQ.dat\n";
    writeTables(reservoirTables, pending, failure);

    for (Cell& cell : grid.cells) releaseSeries(cell);

    if (failure.error == 0) failure = replaceTogether(pending);
    else removeTemporaries(pending);
    for (DischargeFiles::File& file : files.files) file.temporary.clear();  // renamed or removed
    if (failure.error == 0) return true;
    const std::string stop = "Error: " + failureText(failure) + ".\n";
    out << stop;
    echoStop(out, stop);
    return false;
}

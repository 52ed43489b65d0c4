#include "dam.h"

#include "cellSetup.h"
#include "dischargeOutput.h"
#include "inputError.h"
#include "kinematicWave.h"
#include "memoryBudget.h"
#include "paramFile.h"

#include <cmath>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

namespace {

const char* const kDamListPath = "./input/dam.dat";

// The largest release a dam may be given, m3/s: far beyond any river (the
// largest carry about 2e5 m3/s). Above it the slope cells downstream can no
// longer meet the absolute tolerance of their iterations, and a run of a few
// cells never ends.
constexpr double kMaxRelease = 1e9;

// The largest storage a dam may be given, m3: far beyond any reservoir (the
// largest hold about 2e11 m3). The hourly storage of the table is a float32,
// which a storage near its range would turn into an infinity.
constexpr double kMaxStorage = 1e15;

// A real in the default stream format, for messages.
std::string realText(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

}  // namespace

int32_t structureCellOf(const CellGrid& grid, const std::vector<int32_t>& riverNumList, int64_t columnNumber,
                        int64_t rowNumber, const std::string& what) {
    if (columnNumber < 1 || columnNumber > grid.ncols || rowNumber < 1 || rowNumber > grid.nrows) {
        throw InputError("Error: " + what + " at column " + std::to_string(columnNumber) + ", row " +
                         std::to_string(rowNumber) + " lies outside the grid.\n");
    }
    const int32_t i = grid.index(static_cast<int>(grid.nrows - rowNumber), static_cast<int>(columnNumber - 1));
    if (!isComputedAt(grid, i, riverNumList)) {
        throw InputError("Error: " + what + " at " + cellName(grid, i) +
                         " lies on a cell that is never computed (a border cell, a river that is not simulated, "
                         "or no positive flow accumulation).\n");
    }
    return i;
}

namespace {

// Reads the release of every hour of a kind 0 dam: two integers dropped, then the release.
std::vector<double> readRecordedReleases(const std::string& path, const ModelParams& params) {
    std::ifstream in(path);
    std::vector<double> releases;
    const int64_t hours = static_cast<int64_t>(params.days) * 24;
    releases.reserve(static_cast<std::size_t>(hours));
    for (int64_t h = 0; h < hours; ++h) {
        int64_t skip = 0;
        double q = 0.0;
        if (!(in >> skip >> skip >> q)) {
            throw InputError("Error: " + path + " has no valid record for hour " + std::to_string(h + 1) + " (day " +
                             std::to_string(h / 24 + 1) + ", hour " + std::to_string(h % 24) + ").\n");
        }
        if (q < 0.0) {
            throw InputError("Error: " + path + " hour " + std::to_string(h + 1) + ": the release " + realText(q) +
                             " m3/s is negative.\n");
        }
        if (std::fabs(q) > kMaxRelease) {
            throw InputError("Error: " + path + " hour " + std::to_string(h + 1) + ": the release " + realText(q) +
                             " m3/s is beyond any river (at most 1e+09 m3/s).\n");
        }
        releases.push_back(q);
    }
    return releases;
}

// Kind 0: the hour's recorded release at step 0, copied to the later steps.
void readRecordedOutflow(Dam& dam, Cell& cell, int day, int hour, int step, int stepsPerHour) {
    if (dam.kind != 0) throw InputError("Dam kind is set to non-zero\nDam name : " + dam.name + "\n");
    const std::size_t first = seriesIndex(day, hour, 0, stepsPerHour);
    if (step == 0) {
        cell.dischargeSeries[first] =
            static_cast<float>(dam.recordedOutflow[static_cast<std::size_t>(day) * 24 + static_cast<std::size_t>(hour)]);
    } else {
        cell.dischargeSeries[first + static_cast<std::size_t>(step)] = cell.dischargeSeries[first];
    }
}

}  // namespace

bool isComputedCell(const Cell& cell, const std::vector<int32_t>& riverNumList) {
    return !cell.isEdge && cell.riverNum >= 0 && cell.flowAcc > 0 && isListedRiver(riverNumList, cell.riverNum);
}

bool isComputedAt(const CellGrid& grid, int32_t i, const std::vector<int32_t>& riverNumList) {
    return !grid.isEdgeAt(i) && grid.riverNumAt(i) >= 0 && grid.flowAccAt(i) > 0 &&
           isListedRiver(riverNumList, grid.riverNumAt(i));
}

InputError structureListError(const std::string& listPath, int64_t record, const std::string& what) {
    return InputError("Error: " + listPath + " record " + std::to_string(record) + ": " + what + "\n");
}

std::string readStructureName(std::istream& in, const std::string& listPath, int64_t record) {
    std::string name;
    if (!(in >> name)) {
        throw structureListError(listPath, record, "the name is missing.");
    }
    if (name.size() > 19) {
        throw structureListError(listPath, record, "the name \"" + name + "\" is longer than 19 characters.");
    }
    return name;
}

std::vector<Dam> readDams(CellGrid& grid, const std::vector<int32_t>& riverNumList, const ModelParams& params,
                          std::ostream& out) {
    out << "\nRead ./input/dam.dat\n-------------Dam setting-------------\n";
    std::vector<Dam> dams;
    std::ifstream in(kDamListPath);
    if (!in) {
        out << "dam.dat does not exist. It is assumed no dams exist.\n";
    } else {
        const int64_t count = readStructureItem<int64_t>(in, kDamListPath, 0);
        if (count < 0) throw structureListError(kDamListPath, 0, "the number of dams is negative.");
        const std::size_t steps = seriesLength(params.days, params.stepsPerHour);
        // Every dam adds series as long as the run: a long list on a long run
        // must stop with a message before memory runs out.
        const double available = availableMemoryBytes();
        for (int64_t record = 1; record <= count; ++record) {
            Dam dam;
            dam.number = readStructureItem<int32_t>(in, kDamListPath, record);
            dam.kind = readStructureItem<int32_t>(in, kDamListPath, record);
            const int64_t columnNumber = readStructureItem<int64_t>(in, kDamListPath, record);
            const int64_t rowNumber = readStructureItem<int64_t>(in, kDamListPath, record);
            const double q = readStructureItem<double>(in, kDamListPath, record);
            // A negative release would send a negative discharge down the river.
            if (q < 0.0) {
                throw structureListError(kDamListPath, record, "the release " + realText(q) + " m3/s is negative.");
            }
            if (std::fabs(q) > kMaxRelease) {
                throw structureListError(kDamListPath, record,
                                         "the release " + realText(q) + " m3/s is beyond any river (at most 1e+09 m3/s).");
            }
            const double initial = readStructureItem<double>(in, kDamListPath, record);
            const double lower = readStructureItem<double>(in, kDamListPath, record);
            const double upper = readStructureItem<double>(in, kDamListPath, record);
            for (const double storage : {initial, lower, upper}) {
                if (std::fabs(storage) > kMaxStorage) {
                    throw structureListError(kDamListPath, record,
                                             "the storage " + realText(storage) +
                                                 " m3 is beyond any reservoir (at most 1e+15 m3).");
                }
            }
            dam.name = readStructureName(in, kDamListPath, record);

            // Set-up: the cell, its kind, the recorded releases of kind 0.
            dam.cell = structureCellOf(grid, riverNumList, columnNumber, rowNumber, "dam " + dam.name);
            dam.rowIndex = grid.rowOf(dam.cell);
            dam.columnIndex = grid.colOf(dam.cell);
            dam.place = cellName(grid, dam.cell);
            // A share marks and equips only the cells it holds.
            Cell* cell = grid.holds(dam.cell) ? &grid.cell(dam.cell) : nullptr;
            if (cell != nullptr) cell->kind = kDamCell;
            dam.outflowPath = "./input/realDamOutflow/real" + dam.name + ".dat";
            requireMemory(static_cast<double>(record) * damMemoryBytes(params), available);
            if (dam.kind == 0) {
                if (!std::ifstream(dam.outflowPath)) {
                    throw InputError("Dam outflow file cannot open.\nFile Name : " + dam.outflowPath + "\n");
                }
                out << "Read : " << dam.outflowPath << '\n';
                dam.recordedOutflow = readRecordedReleases(dam.outflowPath, params);
            }
            // Series, then the operation values.
            dam.storage = 0.0;
            dam.storageSeries.assign(steps, 0.0f);
            if (cell != nullptr && grid.owns(dam.cell)) allocateStructureSeries(*cell, params.days, params.stepsPerHour);
            dam.regulatedOutflow = q;
            dam.initialStorage = initial == 0.0 ? lower : initial;
            dam.s1 = lower - dam.initialStorage;
            dam.s2 = upper - dam.initialStorage;
            out << dam.name << " s1=" << dam.s1 << " s2=" << dam.s2 << '\n';
            dams.push_back(std::move(dam));
        }
    }
    out << "-------------------------------------\n";
    return dams;
}

double localInflow(const Cell& cell, const UpstreamSeries& upstream, std::size_t at) {
    const double inflow = upstreamInflow(upstream, at);
    return inflow + 2.0 * cell.lateralInflow * cell.slopeLength;
}

void operate(Dam& dam, Cell& cell, const UpstreamSeries& upstream, int day, int hour, int step, int stepsPerHour) {
    if (dam.kind == 0) {
        readRecordedOutflow(dam, cell, day, hour, step, stepsPerHour);
        return;
    }
    const std::size_t t = seriesIndex(day, hour, step, stepsPerHour);
    const double inflow = localInflow(cell, upstream, t);
    const double dt = static_cast<double>(cell.stepSeconds);
    double release = 0.0;
    if (dam.kind == 1) {
        // The limits are tested on the storage before this step.
        const bool passThrough = (dam.regulatedOutflow > inflow && dam.storage <= dam.s1) ||
                                 (inflow > dam.regulatedOutflow && dam.storage >= dam.s2);
        release = passThrough ? inflow : dam.regulatedOutflow;
    } else if (dam.kind == 2) {
        release = inflow > dam.regulatedOutflow ? dam.regulatedOutflow : inflow;
    } else {
        throw InputError(
            "Set dam type to 1 or 2. Modelling of other types of dam operation is instructed in the manual.\n");
    }
    dam.storage = dam.storage + (inflow - release) * dt;
    dam.storageSeries[t] = static_cast<float>(dam.storage);
    if (!std::isfinite(dam.storageSeries[t])) {
        throw InputError("Error: the storage of dam " + dam.name + " at " + dam.place +
                         " is no longer a finite number at day " + std::to_string(day) + ", hour " +
                         std::to_string(hour) + ", step " + std::to_string(step) +
                         " (counted from 0); check its inflow. Simulation ends\n");
    }
    cell.inflowSeries[t] = static_cast<float>(inflow);
    cell.dischargeSeries[t] = static_cast<float>(release);
}

float hourlyMeanStorage(const Dam& dam, int day, int hour, int stepsPerHour) {
    const float mean = meanInOrder(dam.storageSeries.data() + seriesIndex(day, hour, 0, stepsPerHour), stepsPerHour);
    return static_cast<float>(static_cast<double>(mean) + dam.initialStorage);
}

void writeDamTables(const std::vector<Dam>& dams, const CellGrid& grid, const ModelParams& params, std::ostream& out) {
    out << "Write ./output/damData/damIQS.dat\n";
    for (std::size_t k = 0; k < dams.size(); ++k) {
        const Dam& dam = dams[k];
        if (!writesTable(dams, k, grid)) continue;
        writeHourlyTable("./output/damData/" + dam.name + "IQS.dat", grid.cell(dam.cell),
                         params.days, params.stepsPerHour, [&](std::ostream& table, int day, int hour) {
                             table << '\t' << hourlyMeanStorage(dam, day, hour, params.stepsPerHour);
                         });
    }
}


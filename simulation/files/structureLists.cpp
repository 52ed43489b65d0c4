#include "structureLists.h"

#include "cellSetup.h"
#include "dischargeOutput.h"
#include "inputError.h"
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

}  // namespace

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

std::vector<TableFile> damTables(const std::vector<Dam>& dams, const CellGrid& grid, const ModelParams& params) {
    std::vector<TableFile> tables;
    for (std::size_t k = 0; k < dams.size(); ++k) {
        const Dam& dam = dams[k];
        if (!writesTable(dams, k, grid)) continue;
        tables.push_back({"./output/damData/" + dam.name + "IQS.dat",
                          hourlyTableText(grid.cell(dam.cell), params.days, params.stepsPerHour,
                                          [&](std::ostream& table, int day, int hour) {
                                              table << '\t' << hourlyMeanStorage(dam, day, hour, params.stepsPerHour);
                                          })});
    }
    return tables;
}

namespace {

const char* const kReservoirListPath = "./input/reservoir.dat";

}  // namespace

std::vector<Reservoir> readReservoirs(CellGrid& grid, const std::vector<int32_t>& riverNumList,
                                      const ModelParams& params, std::ostream& out) {
    out << "\nRead ./input/reservoir.dat\n----------Reservoir setting----------\n";
    std::vector<Reservoir> reservoirs;
    std::ifstream in(kReservoirListPath);
    if (!in) {
        out << "reservoir.dat dose not exist. It is assumed no reservoirs exist.\n";
    } else {
        const int64_t count = readStructureItem<int64_t>(in, kReservoirListPath, 0);
        if (count < 0) throw structureListError(kReservoirListPath, 0, "the number of reservoirs is negative.");
        const double available = availableMemoryBytes();
        for (int64_t record = 1; record <= count; ++record) {
            Reservoir reservoir;
            reservoir.number = readStructureItem<int32_t>(in, kReservoirListPath, record);
            const int64_t columnNumber = readStructureItem<int64_t>(in, kReservoirListPath, record);
            const int64_t rowNumber = readStructureItem<int64_t>(in, kReservoirListPath, record);
            const int32_t k = readStructureItem<int32_t>(in, kReservoirListPath, record);
            reservoir.name = readStructureName(in, kReservoirListPath, record);
            reservoir.cell = structureCellOf(grid, riverNumList, columnNumber, rowNumber, "reservoir " + reservoir.name);
            reservoir.rowIndex = grid.rowOf(reservoir.cell);
            reservoir.columnIndex = grid.colOf(reservoir.cell);
            // A share marks and equips only the cells it holds.
            Cell* cell = grid.holds(reservoir.cell) ? &grid.cell(reservoir.cell) : nullptr;
            requireMemory(static_cast<double>(record) * reservoirMemoryBytes(params), available);
            if (cell != nullptr) cell->kind = kReservoirCell;
            if (cell != nullptr && grid.owns(reservoir.cell))
                allocateStructureSeries(*cell, params.days, params.stepsPerHour);
            reservoir.prevInflow = 0.0;
            reservoir.outflow = 0.0;
            // A negative constant has no storage meaning (and 2k + dt = 0 would divide by zero).
            if (k < 0) {
                throw InputError("Error: reservoir " + reservoir.name + " has the negative storage constant k=" +
                                 std::to_string(k) + ".\n");
            }
            // Every computed cell has the step of the parameter file.
            setStorageConstant(reservoir, k, cell != nullptr ? cell->stepSeconds : params.stepSeconds);
            out << reservoir.name << " k=" << reservoir.k << '\n';
            reservoirs.push_back(std::move(reservoir));
        }
    }
    out << "-------------------------------------\n\n";
    return reservoirs;
}

std::vector<TableFile> reservoirTables(const std::vector<Reservoir>& reservoirs, const CellGrid& grid,
                                       const ModelParams& params) {
    std::vector<TableFile> tables;
    for (std::size_t k = 0; k < reservoirs.size(); ++k) {
        const Reservoir& reservoir = reservoirs[k];
        if (!writesTable(reservoirs, k, grid)) continue;
        tables.push_back({"./output/resData/" + reservoir.name + "IQ.dat",
                          hourlyTableText(grid.cell(reservoir.cell), params.days, params.stepsPerHour,
                                          [](std::ostream&, int, int) {})});
    }
    return tables;
}

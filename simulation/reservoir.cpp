#include "reservoir.h"

#include "cellSetup.h"
#include "dam.h"
#include "dischargeOutput.h"
#include "inputError.h"
#include "memoryBudget.h"
#include "paramFile.h"

#include <fstream>
#include <istream>
#include <ostream>

namespace {

const char* const kReservoirListPath = "./input/reservoir.dat";

}  // namespace

void setStorageConstant(Reservoir& reservoir, int32_t k, int32_t dt) {
    reservoir.k = k;
    // Integer numerator and denominator (in 64 bits, so 2k cannot overflow),
    // each widened to double before the division.
    const int64_t a = 2 * static_cast<int64_t>(k) - dt;
    const int64_t b = dt + 2 * static_cast<int64_t>(k);
    reservoir.c1 = static_cast<double>(a) / static_cast<double>(b);
    reservoir.c2 = static_cast<double>(dt) / static_cast<double>(b);
}

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

void route(Reservoir& reservoir, Cell& cell, const UpstreamSeries& upstream, int day, int hour, int step,
           int stepsPerHour) {
    const std::size_t t = seriesIndex(day, hour, step, stepsPerHour);
    const double inflow = localInflow(cell, upstream, t);
    reservoir.outflow = reservoir.c1 * reservoir.outflow + (reservoir.prevInflow + inflow) * reservoir.c2;
    reservoir.prevInflow = inflow;
    cell.inflowSeries[t] = static_cast<float>(inflow);
    cell.dischargeSeries[t] = static_cast<float>(reservoir.outflow);
}

void writeReservoirTables(const std::vector<Reservoir>& reservoirs, const CellGrid& grid, const ModelParams& params,
                          std::ostream& out) {
    out << "Write ./output/resData/resIQ.dat\n";
    for (std::size_t k = 0; k < reservoirs.size(); ++k) {
        const Reservoir& reservoir = reservoirs[k];
        if (!writesTable(reservoirs, k, grid)) continue;
        writeHourlyTable("./output/resData/" + reservoir.name + "IQ.dat", grid.cell(reservoir.cell), params.days,
                         params.stepsPerHour,
                         [](std::ostream&, int, int) {});
    }
}


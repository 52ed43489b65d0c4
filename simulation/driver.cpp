#include "driver.h"

#include "calcOrder.h"
#include "cellSetup.h"
#include "dam.h"
#include "dischargeOutput.h"
#include "grid.h"
#include "memoryBudget.h"
#include "paramFile.h"
#include "rainfall.h"
#include "reservoir.h"
#include "timeLoop.h"

#include <ostream>
#include <vector>

int runSimulation(std::ostream& out) {
    out << "Reading parameters for runoff simulation.\n";
    const ModelParams params = readParamFile(out);
    out.flush();

    const std::vector<int32_t> riverNumList = readRiverList(out);
    requireGridSize(params);
    const double available = availableMemoryBytes();
    requireMemory(gridMemoryBytes(params), available);
    CellGrid grid(params.nrows, params.ncols);
    RainGrid rain = makeRainGrid(params);
    readTopography(grid, params);
    out.flush();

    connectRainfall(grid, rain, params, out);
    out.flush();

    out << "Set parameter data.\n";
    checkModelParams(params);
    requireMemory(gridMemoryBytes(params) + modelMemoryBytes(grid, params), available);
    setupCells(grid, params, out);
    out << "Set parameter data at the river mouthes.\n";
    setupMouths(grid);
    out.flush();

    const CalcOrder order = prepareCalcOrder(grid, params, out);
    out.flush();

    readRainfall(rain, params, out);
    std::vector<Dam> dams = readDams(grid, riverNumList, params, out);
    std::vector<Reservoir> reservoirs = readReservoirs(grid, riverNumList, params, out);
    out.flush();
    // A run whose results cannot be written stops before the long loop, not after.
    requireDiskSpace(outputBytes(params, dams.size() + reservoirs.size()),
                     writableBytes("./output/", {"./output/discharge10minSnapshot.bin", "./output/discharge10minMean.bin",
                                                 "./output/dischargeHourlyMean.bin",
                                                 "./output/totalRainDistribution.asc"}),
                     "./output/");

    out << "\nRunoff simulation starts.\n";
    runTimeLoop(grid, order, riverNumList, rain, params, dams, reservoirs, out);
    out << "\nRunoff simulation ends.\n";
    out.flush();

    const bool written = writeOutputs(grid, riverNumList, rain, params, dams, reservoirs, out);
    out.flush();
    return written ? 0 : 1;
}

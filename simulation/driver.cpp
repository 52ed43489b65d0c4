#include "driver.h"

#include "grid.h"
#include "paramFile.h"

#include <ostream>
#include <vector>

int runSimulation(std::ostream& out) {
    out << "Reading parameters for runoff simulation.\n";
    const ModelParams params = readParamFile(out);
    out.flush();

    const std::vector<int32_t> riverNumList = readRiverList(out);
    CellGrid grid(params.nrows, params.ncols);
    readTopography(grid, params);
    out.flush();

    out << "Set parameter data.\n";
    checkModelParams(params);
    out.flush();
    return 0;
}

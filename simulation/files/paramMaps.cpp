#include "paramMaps.h"

#include "cellSetup.h"
#include "inputError.h"
#include "paramFile.h"

#include <array>
#include <cmath>
#include <fstream>
#include <ostream>
#include <string>

namespace {

// One of the seven parameters that a negative parameter-file value turns into
// a per-cell map.
struct DistributedParam {
    const char* key = "";
    double uniformValue = 0.0;  // the parameter-file value
    double cellValue = 0.0;     // the current cell's map value
    int32_t useMap = 0;         // 1: every cell takes its own map value
    std::string path;
    std::ifstream stream;       // open only while useMap is 1

    double value() const { return useMap == 1 ? cellValue : uniformValue; }
};

// Positions in the parameter table; maps are opened and read in this order.
enum ParamIndex { kNs, kKa, kDa, kDm, kBeta, kNr, kROFinitial, kParamCount };

InputError looksWrong(const std::string& path) {
    return InputError(path + " looks wrong! Simulation ends\n");
}

// Opens the map of a negative parameter-file value and checks its header
// against the study area. Prints the map's path when it is taken.
void openMap(DistributedParam& param, const ModelParams& params, std::ostream& out) {
    if (param.uniformValue >= 0.0) {
        param.useMap = 0;
        return;
    }
    param.path = std::string("./paramData/param_dist_") + param.key + ".dat";
    param.stream.open(param.path);
    if (!param.stream) {
        throw InputError("Error: " + param.path + " cannot open! " + param.key + " file must be prepared.\n");
    }
    std::string label, cellSize, noData;  // labels and the last two entries are not used
    int32_t cols = 0, rows = 0;
    double xll = 0.0, yll = 0.0;
    param.stream >> label >> cols >> label >> rows >> label >> xll >> label >> yll >> label >> cellSize >> label >>
        noData;
    if (!param.stream || cols != params.ncols || rows != params.nrows ||
        !(std::fabs(xll - params.xllcorner) <= kSmallestNormal) ||
        !(std::fabs(yll - params.yllcorner) <= kSmallestNormal)) {
        throw looksWrong(param.path);
    }
    param.useMap = 1;
    out << "  Read data from " << param.path << "\n";
}

// Reads the next cell's value of an open map: a number, finite, not negative.
void readMapValue(DistributedParam& param) {
    double v = 0.0;
    if (!(param.stream >> v) || !std::isfinite(v)) throw looksWrong(param.path);
    if (v < 0.0) {
        throw InputError("\nError: paramater value must be larger than zero\n" + param.path +
                         " looks wrong! Simulation ends\n");
    }
    param.cellValue = v;
}

// The values a map may give (0 or more) that would divide by zero: a zero
// roughness (Nr only where there is a channel) and a zero Beta where the cell
// has a capillary layer. A capillary layer deeper than both layers together is
// accepted from a map, as its relation still gives finite values.
void checkCellParameters(const CellGrid& grid, int32_t i, const CellParameters& v, bool channel) {
    auto fail = [&](const char* text) {
        return InputError(std::string("\n") + text + " at " + cellName(grid, i) + "\n\n");
    };
    if (v.ns == 0.0) throw fail(kSlopeRoughnessZero);
    if (v.ns < kMinSlopeRoughness) throw fail(kSlopeRoughnessTooSmall);
    if (channel && v.nr == 0.0) throw fail(kChannelRoughnessZero);
    if (v.beta == 0.0 && v.dm >= kSmallestNormal) throw fail(kBetaZero);
}
}  // namespace

void setupCells(CellGrid& grid, const ModelParams& params, std::ostream& out) {
    std::array<DistributedParam, kParamCount> table;
    const char* const keys[kParamCount] = {"Ns", "Ka", "Da", "Dm", "Beta", "Nr", "ROFinitial"};
    const double uniform[kParamCount] = {params.Ns,   params.Ka, params.Da,        params.Dm,
                                         params.Beta, params.Nr, params.ROFinitial};
    for (int k = 0; k < kParamCount; ++k) {
        table[k].key = keys[k];
        table[k].uniformValue = uniform[k];
        openMap(table[k], params, out);
    }

    Cell standIn;  // in a share, a downstream cell that is not held gives its elevation only
    for (int r = 0; r < grid.nrows; ++r) {
        for (int c = 0; c < grid.ncols; ++c) {
            // Maps hold a value for every grid cell, so they advance together.
            for (DistributedParam& param : table) {
                if (param.useMap == 1) readMapValue(param);
            }
            const int32_t i = grid.index(r, c);
            if (grid.riverNumAt(i) < 0 || grid.isEdgeAt(i)) continue;
            CellParameters v;
            v.nr = table[kNr].value();
            v.ns = table[kNs].value();
            v.ka = table[kKa].value();
            v.da = table[kDa].value();
            v.dm = table[kDm].value();
            v.beta = table[kBeta].value();
            checkCellParameters(grid, i, v, grid.flowAccAt(i) > params.channelThreshold);
            if (table[kROFinitial].value() > kMaxIntensity) {
                throw InputError("\nError: Initial runoff height must not exceed 1e+06 mm/hr at " + cellName(grid, i) +
                                 "\n\n");
            }
            // A share checks every cell's values but sets up only the cells it holds.
            if (!grid.holds(i)) continue;
            Cell& cell = grid.cell(i);
            const Cell* downstream = nullptr;
            if (cell.downstream != kNoCell && grid.holds(cell.downstream)) {
                downstream = &grid.cell(cell.downstream);
            } else if (cell.downstream != kNoCell) {
                standIn.elevation = grid.elevationAt(cell.downstream);
                downstream = &standIn;
            }
            setupCell(cell, downstream, v, params);
            cell.kind = cell.flowAcc > params.channelThreshold ? kChannelCell : kSlopeCell;
            setInitialState(cell, table[kROFinitial].value());
        }
    }
}


#include "paramMaps.h"

#include "cellSetup.h"
#include "digest.h"
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

}  // namespace

void setupCells(CellGrid& grid, const ModelParams& params, std::ostream& out, std::vector<CellValues>* kept,
                ValueDigests* digests) {
    std::array<Fnv1a, kParamCount> hashes;
    std::array<DistributedParam, kParamCount> table;
    const CellValues uniform = paramFileValues(params);
    for (int k = 0; k < kParamCount; ++k) {
        table[k].key = kParamKeys[k];
        table[k].uniformValue = uniform[k];
        openMap(table[k], params, out);
    }
    if (kept != nullptr) kept->assign(grid.cellCount(), CellValues{});

    Cell standIn;  // in a share, a downstream cell that is not held gives its elevation only
    for (int r = 0; r < grid.nrows; ++r) {
        for (int c = 0; c < grid.ncols; ++c) {
            // Maps hold a value for every grid cell, so they advance together.
            for (DistributedParam& param : table) {
                if (param.useMap == 1) readMapValue(param);
            }
            const int32_t i = grid.index(r, c);
            if (grid.riverNumAt(i) < 0 || grid.isEdgeAt(i)) continue;
            CellValues values;
            for (int k = 0; k < kParamCount; ++k) values[k] = table[k].value();
            checkCellValues(grid, i, values, grid.flowAccAt(i) > params.channelThreshold);
            if (digests != nullptr)
                for (int k = 0; k < kParamCount; ++k) hashes[k].addDouble(values[k]);
            // A share checks every cell's values but sets up only the cells it holds.
            if (!grid.holds(i)) continue;
            if (kept != nullptr) (*kept)[static_cast<std::size_t>(i)] = values;
            Cell& cell = grid.cell(i);
            const Cell* downstream = nullptr;
            if (cell.downstream != kNoCell && grid.holds(cell.downstream)) {
                downstream = &grid.cell(cell.downstream);
            } else if (cell.downstream != kNoCell) {
                standIn.elevation = grid.elevationAt(cell.downstream);
                downstream = &standIn;
            }
            setupCellFromValues(cell, downstream, values, params);
        }
    }
    if (digests != nullptr)
        for (int k = 0; k < kParamCount; ++k) (*digests)[k] = hashes[k].hash;
}

ValueDigests valueDigests(const CellGrid& grid, const std::vector<CellValues>& kept) {
    std::array<Fnv1a, kParamCount> hashes;
    for (int32_t i = 0; i < static_cast<int32_t>(grid.cellCount()); ++i) {
        if (grid.riverNumAt(i) < 0 || grid.isEdgeAt(i)) continue;
        for (int k = 0; k < kParamCount; ++k) hashes[k].addDouble(kept[static_cast<std::size_t>(i)][k]);
    }
    ValueDigests digests{};
    for (int k = 0; k < kParamCount; ++k) digests[k] = hashes[k].hash;
    return digests;
}

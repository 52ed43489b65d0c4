#include "cellSetup.h"

#include "inputError.h"
#include "kinematicWave.h"
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

// Length of the flow path through the cell by its flow code.
double flowLengthOf(const Cell& cell) {
    switch (cell.flowDir) {
        case 1:
        case 5:
            return static_cast<double>(cell.scale) * 30.9;
        case 3:
        case 7:
            return static_cast<double>(cell.dx);
        default:  // 0 (mouth) and the diagonals; the network admits no other code here
            return std::sqrt(static_cast<double>(cell.dy) * static_cast<double>(cell.dy) +
                             static_cast<double>(cell.dx) * static_cast<double>(cell.dx));
    }
}

// Sine of the slope toward the downstream cell; 1e-5 at least, and the float32
// 1e-5 where there is no downstream cell.
double slopeSineOf(const Cell& cell, const Cell* downstream) {
    double s = static_cast<double>(1e-5f);
    if (downstream != nullptr) {
        const float drop = cell.elevation - downstream->elevation;  // subtracted in float32
        s = std::tan(static_cast<double>(drop) / cell.flowLength);
        if (s < 1e-5) s = 1e-5;
    }
    return std::sin(std::atan(s));
}

// Channel width, coefficient and slope part of a channel cell.
void setupChannel(Cell& cell, const CellParameters& v, const ModelParams& params) {
    // Upstream area in km2: accumulation times dy in float32, then double.
    const float countTimesDy = static_cast<float>(cell.flowAcc) * cell.dy;
    const double area = static_cast<double>(countTimesDy) / 1000 * static_cast<double>(cell.dx) / 1000;
    cell.channelWidth = 1.061722301 * std::pow(area, 0.685081138);
    cell.nr = v.nr;
    cell.invChannelWidth = 1 / cell.channelWidth;
    cell.channelAlpha =
        (1 / cell.nr) * std::pow(cell.invChannelWidth, cell.kinExponent - 1) * std::sqrt(cell.slopeSine);
    cell.slopeLength = params.slopeLength;
    const float cellArea = cell.dy * cell.dx;  // float32 product
    cell.slopeWidth = static_cast<double>(cellArea) / cell.slopeLength;
    cell.slopeDx = cell.slopeLength / cell.spaceSteps;
    const std::size_t nodes = static_cast<std::size_t>(cell.spaceSteps) + 1;
    cell.chanQ.assign(nodes, 0.0);
    cell.chanQNew.assign(nodes, 0.0);
    cell.chanA.assign(nodes, 0.0);
    cell.chanANew.assign(nodes, 0.0);
}

}  // namespace

void setupCell(Cell& cell, const Cell* downstream, const CellParameters& v, const ModelParams& params) {
    cell.flowLength = flowLengthOf(cell);
    cell.slopeSine = slopeSineOf(cell, downstream);
    cell.channelThreshold = params.channelThreshold;
    cell.spaceSteps = params.spaceSteps;
    cell.stepSeconds = params.stepSeconds;
    cell.fdWeight = params.fdWeight;
    cell.ns = v.ns;
    cell.ka = v.ka;
    cell.da = v.da;
    cell.dm = v.dm;
    cell.beta = v.beta;
    cell.channelDx = cell.flowLength / cell.spaceSteps;

    cell.slopeAlpha = std::sqrt(cell.slopeSine) / cell.ns;
    cell.kinExponentFactor = 1.0;
    cell.kinExponent = 0.666667 * cell.kinExponentFactor + 1.0;  // 1.666667, deliberately not 5/3
    cell.va = cell.da < kSmallestNormal ? 0.0 : cell.ka * cell.slopeSine;
    cell.vcdc = cell.dm < kSmallestNormal ? 0.0 : cell.va / cell.beta * cell.dm;

    const std::size_t nodes = static_cast<std::size_t>(cell.spaceSteps) + 1;
    cell.slopeQ.assign(nodes, 0.0);
    cell.slopeQNew.assign(nodes, 0.0);

    if (isChannelCell(cell)) {
        setupChannel(cell, v, params);
    } else {
        cell.slopeLength = cell.flowLength;
        cell.slopeDx = cell.channelDx;
        const float cellArea = cell.dy * cell.dx;  // float32 product
        cell.slopeWidth = static_cast<double>(cellArea) / cell.flowLength;
    }
}

void setInitialState(Cell& cell, double q0) {
    const int n = cell.spaceSteps;
    const double r0 = q0 * 0.001 / 3600;
    // Steady discharge from the upstream area without and with this cell; the
    // count is widened before the subtraction so that no value can overflow.
    const double top = r0 * (static_cast<double>(cell.flowAcc) - 1.0) * static_cast<double>(cell.dy) *
                       static_cast<double>(cell.dx);
    const double bottom = r0 * cell.flowAcc * static_cast<double>(cell.dy) * static_cast<double>(cell.dx);
    for (int j = 0; j <= n; ++j) {
        const double steady = ((n - j) * top + j * bottom) / n;
        if (isChannelCell(cell)) {
            cell.chanQ[j] = steady;
            cell.chanA[j] = std::pow(cell.chanQ[j] / cell.channelAlpha, 1 / cell.kinExponent);
            cell.slopeQ[j] = r0 * (j * cell.slopeLength / n) * cell.slopeWidth;  // no inflow at the top
        } else {
            cell.slopeQ[j] = steady;
        }
    }
}

void setMouthParams(CellGrid& grid, int32_t i) {
    Cell& mouth = grid.cell(i);
    const bool channelMouth = mouth.kind == kChannelCell;
    for (int k = 0; k < mouth.numUpstream; ++k) {
        const Cell& up = grid.cell(mouth.upstream[static_cast<std::size_t>(k)]);
        if (up.flowAcc < 0) continue;
        if (channelMouth && up.kind != kChannelCell) continue;
        // A channel of no upstream area has no width and an infinite
        // coefficient; such a cell is never computed and gives the mouth nothing.
        if (channelMouth && up.flowAcc <= 0) continue;
        mouth.flowLength = up.flowLength;
        mouth.slopeSine = up.slopeSine;
        mouth.slopeAlpha = up.slopeAlpha;
        mouth.va = up.va;
        mouth.channelAlpha = up.channelAlpha;
        mouth.slopeLength = up.slopeLength;
        mouth.slopeWidth = up.slopeWidth;
        mouth.slopeDx = up.slopeDx;
    }
}

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

void setupMouths(CellGrid& grid) {
    // A share treats the mouths it computes, whose upstream cells it holds.
    for (std::size_t i = 0; i < grid.cellCount(); ++i) {
        const int32_t k = static_cast<int32_t>(i);
        if (grid.owns(k) && grid.cell(k).flowDir == 0) setMouthParams(grid, k);
    }
}

void allocateStructureSeries(Cell& cell, int days, int stepsPerHour) {
    if (cell.inflowSeries.empty()) cell.inflowSeries.assign(seriesLength(days, stepsPerHour), 0.0f);
    if (cell.dischargeSeries.empty()) cell.dischargeSeries.assign(seriesLength(days, stepsPerHour), 0.0f);
}

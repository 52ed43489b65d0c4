#include "cellSetup.h"

#include "inputError.h"

#include "kinematicWave.h"
#include "paramFile.h"

#include <cmath>

namespace {

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

void takeMouthGeometry(Cell& mouth, const Cell& up) {
    const bool channelMouth = mouth.kind == kChannelCell;
    if (up.flowAcc < 0) return;
    if (channelMouth && up.kind != kChannelCell) return;
    // A channel of no upstream area has no width and an infinite
    // coefficient; such a cell is never computed and gives the mouth nothing.
    if (channelMouth && up.flowAcc <= 0) return;
    mouth.flowLength = up.flowLength;
    mouth.slopeSine = up.slopeSine;
    mouth.slopeAlpha = up.slopeAlpha;
    mouth.va = up.va;
    mouth.channelAlpha = up.channelAlpha;
    mouth.slopeLength = up.slopeLength;
    mouth.slopeWidth = up.slopeWidth;
    mouth.slopeDx = up.slopeDx;
}

void setMouthParams(CellGrid& grid, int32_t i) {
    Cell& mouth = grid.cell(i);
    for (int k = 0; k < mouth.numUpstream; ++k) takeMouthGeometry(mouth, grid.cell(mouth.upstream[static_cast<std::size_t>(k)]));
}

void setupCellFromValues(Cell& cell, const Cell* downstream, const CellValues& values, const ModelParams& params) {
    setupCell(cell, downstream, cellParameters(values), params);
    cell.kind = cell.flowAcc > params.channelThreshold ? kChannelCell : kSlopeCell;
    setInitialState(cell, values[kROFinitial]);
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


CellParameters cellParameters(const CellValues& v) {
    CellParameters p;
    p.nr = v[kNr];
    p.ns = v[kNs];
    p.ka = v[kKa];
    p.da = v[kDa];
    p.dm = v[kDm];
    p.beta = v[kBeta];
    return p;
}

CellValues paramFileValues(const ModelParams& params) {
    return {params.Ns, params.Ka, params.Da, params.Dm, params.Beta, params.Nr, params.ROFinitial};
}

void setParamFileValue(ModelParams& params, ParamKey key, double value) {
    double* fields[kParamCount] = {&params.Ns, &params.Ka, &params.Da, &params.Dm, &params.Beta, &params.Nr,
                                   &params.ROFinitial};
    *fields[key] = value;
}

void checkCellValues(const CellGrid& grid, int32_t i, const CellValues& v, bool channel) {
    auto fail = [&](const char* text) {
        return InputError(std::string("\n") + text + " at " + cellName(grid, i) + "\n\n");
    };
    if (v[kNs] == 0.0) throw fail(kSlopeRoughnessZero);
    if (v[kNs] < kMinSlopeRoughness) throw fail(kSlopeRoughnessTooSmall);
    if (channel && v[kNr] == 0.0) throw fail(kChannelRoughnessZero);
    if (v[kBeta] == 0.0 && v[kDm] >= kSmallestNormal) throw fail(kBetaZero);
    if (v[kROFinitial] > kMaxIntensity) {
        throw InputError("\nError: Initial runoff height must not exceed 1e+06 mm/hr at " + cellName(grid, i) + "\n\n");
    }
}

#include "upstreamRain.h"

#include "flowCodes.h"
#include "grid.h"
#include "inputError.h"
#include "nearestRainPoint.h"
#include "rainfall.h"
#include "rainFiles.h"

#include <fstream>

std::vector<int32_t> upstreamCells(const std::vector<int32_t>& flowDir, int32_t nrows, int32_t ncols, int32_t target) {
    auto onRing = [&](int32_t r, int32_t c) { return r == 0 || c == 0 || r == nrows - 1 || c == ncols - 1; };
    std::vector<int32_t> cells{target};
    std::vector<bool> seen(flowDir.size(), false);
    seen[static_cast<std::size_t>(target)] = true;
    // Breadth first: a neighbour belongs when its flow code points at a member.
    for (std::size_t k = 0; k < cells.size(); ++k) {
        const int32_t r = cells[k] / ncols, c = cells[k] % ncols;
        for (int code = 1; code <= 8; ++code) {
            // The neighbour that code `code` would lead from into (r, c).
            const int32_t nr = r - kFlowRowStep[code], nc = c - kFlowColStep[code];
            if (nr < 0 || nc < 0 || nr >= nrows || nc >= ncols || onRing(nr, nc)) continue;
            const int32_t n = nr * ncols + nc;
            if (seen[static_cast<std::size_t>(n)] || flowDir[static_cast<std::size_t>(n)] != code) continue;
            seen[static_cast<std::size_t>(n)] = true;
            cells.push_back(n);
        }
    }
    return cells;
}

RainGrid readRunRainfall(const Project& project, const ModelParams& params) {
    RainGrid rain = makeRainGrid(params);
    const bool text = params.rainFormat == 1;
    const std::string path = project.path(text ? "input/rain10min.dat" : "input/rain.bin");
    std::ifstream in(path, text ? std::ios::in : std::ios::binary);
    if (!in) throw InputError("Error: the rainfall " + path + " cannot open.\n");
    if (text) {
        readRainText(rain, in, path);
    } else {
        readRainBinary(rain, in, path);
    }
    return rain;
}

CellRainPoints::CellRainPoints(const Project& project, const ModelParams& runParams, const RainGrid& runRain)
    : params(runParams), rain(runRain) {
    cached = readRainCache(project.path(kRainCachePath), rainCacheHeader(params), cache);
    if (!cached) index = makeRainPointIndex(rain);
    shape.nrows = params.nrows;
    shape.ncols = params.ncols;
}

namespace {

// One cell's centre and metric size as the simulation computes them.
Cell cellGeometry(const CellGrid& shape, const ModelParams& params, int32_t i) {
    Cell cell;
    cell.setGeometry(shape.rowOf(i), shape.colOf(i), params.nrows, params.ncols, params.yllcorner, params.xllcorner,
                     0.0f, params.scale);
    return cell;
}

}  // namespace

std::size_t CellRainPoints::pointOf(int32_t i) const {
    if (cached) return static_cast<std::size_t>(cache[static_cast<std::size_t>(i)]);
    const Cell cell = cellGeometry(shape, params, i);
    const RainPointChoice choice = nearestRainPoint(index, cell.latSec, cell.lonSec);
    if (!choice.found()) throw InputError("Error: no rainfall point lies near " + cellName(shape, i) + ".\n");
    return rain.indexOf(choice.i, choice.j);
}

double CellRainPoints::areaOf(int32_t i) const {
    const Cell cell = cellGeometry(shape, params, i);
    return static_cast<double>(cell.dx) * static_cast<double>(cell.dy);
}

std::vector<double> upstreamMeanRain(const Project& project, const ModelParams& params,
                                     const std::vector<int32_t>& cells) {
    const RainGrid rain = readRunRainfall(project, params);
    const CellRainPoints points(project, params, rain);
    const std::size_t observations = seriesLength(params.days, params.obsPerHour);
    std::vector<double> mean(observations, 0.0);
    double area = 0.0;
    for (int32_t i : cells) {
        const double weight = points.areaOf(i);
        const std::vector<float>& series = rain.points[points.pointOf(i)].rainSeries;
        for (std::size_t k = 0; k < observations; ++k) mean[k] += weight * static_cast<double>(series[k]);
        area += weight;
    }
    for (double& v : mean) v /= area;
    return mean;
}

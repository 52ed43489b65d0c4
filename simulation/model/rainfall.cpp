#include "rainfall.h"

#include "inputError.h"
#include "nearestRainPoint.h"
#include "paramFile.h"

#include <climits>
#include <string>

// ---- The grid ---------------------------------------------------------------

RainPoint makeRainPoint(float latitude, float longitude, int j, int i, int days, int obsPerHour) {
    RainPoint point;
    point.latitude = latitude;
    // Points east of 180 are stored west of it: the float32 value less 360 in double, rounded again.
    point.longitude = longitude > 180.0f ? static_cast<float>(static_cast<double>(longitude) - 360.0) : longitude;
    point.columnNumber = j + 1;
    point.rowNumber = i + 1;
    point.rainSeries.assign(seriesLength(days, obsPerHour), 0.0f);
    return point;
}

RainGrid makeRainGrid(const ModelParams& params) {
    const std::string size = std::to_string(params.rainCols) + " x " + std::to_string(params.rainRows);
    if (params.rainRows < 1 || params.rainCols < 1) {
        throw InputError("Error: the rainfall grid of " + size + " points is empty.\n");
    }
    // Cells name their point by an int32 index.
    const std::size_t count = static_cast<std::size_t>(params.rainRows) * static_cast<std::size_t>(params.rainCols);
    if (count > static_cast<std::size_t>(INT32_MAX)) {
        throw InputError("Error: the rainfall grid of " + size + " points is too large.\n");
    }
    RainGrid rain;
    rain.rainRows = params.rainRows;
    rain.rainCols = params.rainCols;
    rain.days = params.days;
    rain.obsPerHour = params.obsPerHour;
    rain.points.reserve(count);
    for (int i = 0; i < params.rainRows; ++i) {
        // Coordinates in double, rounded once to float32.
        const float latitude = static_cast<float>(static_cast<double>(i) * params.rainDy + params.rainLat0);
        for (int j = 0; j < params.rainCols; ++j) {
            const float longitude = static_cast<float>(static_cast<double>(j) * params.rainDx + params.rainLon0);
            rain.points.push_back(makeRainPoint(latitude, longitude, j, i, params.days, params.obsPerHour));
        }
    }
    return rain;
}

// ---- Mapping cells to rainfall points ---------------------------------------

namespace {

// The mapping of every cell, whose centre `centreOf(k)` gives as a Cell.
template <typename CentreOf>
std::vector<int32_t> mapPoints(const CellGrid& grid, const RainGrid& rain, CentreOf centreOf) {
    const RainPointIndex index = makeRainPointIndex(rain);
    std::vector<int32_t> pointOf(grid.cellCount());
    for (std::size_t k = 0; k < pointOf.size(); ++k) {
        const Cell& cell = centreOf(k);
        const RainPointChoice choice = nearestRainPoint(index, cell.latSec, cell.lonSec);
        if (!choice.found()) {
            throw InputError("Error: no rainfall point lies within reach of the cell at " +
                             cellName(grid, static_cast<int32_t>(k)) +
                             "; check the corner of the study area and the rainfall grid.\n");
        }
        pointOf[k] = choice.i * rain.rainCols + choice.j;
    }
    return pointOf;
}

}  // namespace

std::vector<int32_t> mapRainPoints(const CellGrid& grid, const RainGrid& rain) {
    return mapPoints(grid, rain, [&](std::size_t k) -> const Cell& { return grid.cells[k]; });
}
std::vector<int32_t> mapShareRainPoints(const CellGrid& grid, const RainGrid& rain, const ModelParams& params) {
    // Cells that are not held get their centre from a record made for the purpose.
    Cell centre;
    return mapPoints(grid, rain, [&](std::size_t k) -> const Cell& {
        const int32_t i = static_cast<int32_t>(k);
        if (grid.holds(i)) return grid.cell(i);
        centre.setGeometry(grid.rowOf(i), grid.colOf(i), grid.nrows, grid.ncols, params.yllcorner, params.xllcorner,
                           0.0f, params.scale);
        return centre;
    });
}

// ---- Event totals -------------------------------------------------------------


std::vector<double> rainTotals(const CellGrid& grid, const RainGrid& rain) {
    // A cell's total depends only on its point: total each point once.
    const double perHour = static_cast<double>(rain.obsPerHour);
    std::vector<double> pointTotal(rain.points.size(), 0.0);
    for (std::size_t p = 0; p < rain.points.size(); ++p) {
        double sum = 0.0;
        // Day, hour, observation order; each observation's depth is value / obsPerHour in double.
        for (const float value : rain.points[p].rainSeries) sum += static_cast<double>(value) / perHour;
        pointTotal[p] = sum;
    }
    std::vector<double> totals(grid.cellCount(), 0.0);
    for (std::size_t k = 0; k < totals.size(); ++k) {
        const int32_t p = grid.rainPointAt(static_cast<int32_t>(k));
        if (p >= 0 && static_cast<std::size_t>(p) < pointTotal.size()) {
            totals[k] = pointTotal[static_cast<std::size_t>(p)];
        }
    }
    return totals;
}

#include "timeLoop.h"

#include "inputError.h"
#include "kinematicWave.h"
#include "paramFile.h"

#include <cmath>
#include <ostream>

bool hourSumsFinite(const std::vector<float>& series, int day, int hour, int stepsPerHour, int stepsPer10min) {
    if (series.empty()) return true;
    const float* values = series.data() + seriesIndex(day, hour, 0, stepsPerHour);
    if (!std::isfinite(sumInOrder(values, stepsPerHour))) return false;
    for (int s = 0; stepsPer10min > 0 && s < 6; ++s) {
        if (!std::isfinite(sumInOrder(values + s * stepsPer10min, stepsPer10min))) return false;
    }
    return true;
}

namespace {

// Steps in 10 minutes when the step divides them, else 0 (the writer then
// averages by time in double precision, which cannot overflow).
int alignedStepsPer10min(const ModelParams& params) {
    return 600 % params.stepSeconds == 0 ? 600 / params.stepSeconds : 0;
}

std::string overflowMessage(const CellGrid& grid, int32_t i, int day, int hour) {
    return "Error: the flow at " + cellName(grid, i) + " is too large to be averaged over day " +
           std::to_string(day) + ", hour " + std::to_string(hour) +
           " (counted from 0); check this cell's parameters and inputs. Simulation ends\n";
}

// The hourly mean storage of a dam is a float32 sum too; a reservoir keeps no storage series.
bool storageHourFinite(const Dam& dam, int day, int hour, int stepsPerHour) {
    return hourSumsFinite(dam.storageSeries, day, hour, stepsPerHour, 0);
}
bool storageHourFinite(const Reservoir&, int, int, int) { return true; }

// A cached order made for another topography can name cells the grid lacks.
void checkOrderFitsGrid(const CalcOrder& order, const CellGrid& grid) {
    bool fits = order.groupCount >= 0 && order.groupSizes.size() >= static_cast<std::size_t>(order.groupCount);
    std::size_t total = 0;
    for (int32_t g = 0; fits && g < order.groupCount; ++g) {
        const int32_t size = order.groupSizes[static_cast<std::size_t>(g)];
        fits = size >= 0;
        total += fits ? static_cast<std::size_t>(size) : 0;
    }
    fits = fits && total <= order.entries.size();
    for (const auto& entry : order.entries) {
        fits = fits && entry.first >= 0 && entry.first < grid.nrows && entry.second >= 0 && entry.second < grid.ncols;
    }
    if (!fits) {
        throw InputError("Error: the calculation order in ./temp/ does not fit the grid; delete "
                         "./temp/numOfBasin.dat to rebuild it. Simulation ends\n");
    }
}

// The outflow and inflow a dam or reservoir stored must be finite like any other.
void checkStoredOutflow(const CellGrid& grid, int32_t i, int day, int hour, int step, int stepsPerHour) {
    const Cell& cell = grid.cells[static_cast<std::size_t>(i)];
    const std::size_t at = seriesIndex(day, hour, step, stepsPerHour);
    const bool outflowFinite = at >= cell.dischargeSeries.size() || std::isfinite(cell.dischargeSeries[at]);
    const bool inflowFinite = at >= cell.inflowSeries.size() || std::isfinite(cell.inflowSeries[at]);
    if (!outflowFinite || !inflowFinite) {
        throw InputError(nonFiniteMessage(grid, i, EventStop{true, day, hour, step}));
    }
}

// Dam (kind 99) or reservoir (kind 100) cell i: every structure at the cell,
// in file order, runs the whole event with a console line per step.
template <typename Structure, typename Step>
void runStructures(CellGrid& grid, int32_t i, std::vector<Structure>& structures, Step stepOne,
                   const RainGrid& rain, const ModelParams& params, std::ostream& out) {
    const int row = grid.rowOf(i), column = grid.colOf(i);
    for (Structure& s : structures) {
        if (s.rowIndex != row || s.columnIndex != column) continue;
        for (int day = 0; day < params.days; ++day) {
            for (int hour = 0; hour < 24; ++hour) {
                for (int step = 0; step < params.stepsPerHour; ++step) {
                    const int obs = rainStep(step, params.stepSeconds, params.rainInterval);
                    out << "ihour = " << hour << " dt = " << step << " imin = " << obs << '\n';
                    setRainfall(grid.cells[static_cast<std::size_t>(i)], rain, day, hour, obs);
                    stepOne(s, grid, day, hour, step, params.stepsPerHour);
                    checkStoredOutflow(grid, i, day, hour, step, params.stepsPerHour);
                }
                const Cell& cell = grid.cells[static_cast<std::size_t>(i)];
                const int tenMinutes = alignedStepsPer10min(params);
                if (!hourSumsFinite(cell.dischargeSeries, day, hour, params.stepsPerHour, tenMinutes) ||
                    !hourSumsFinite(cell.inflowSeries, day, hour, params.stepsPerHour, 0) ||
                    !storageHourFinite(s, day, hour, params.stepsPerHour)) {
                    throw InputError(overflowMessage(grid, i, day, hour));
                }
            }
        }
    }
}

}  // namespace

EventStop runCellEvent(CellGrid& grid, int32_t i, const RainGrid& rain, const ModelParams& params,
                       std::string& log) {
    Cell& cell = grid.cells[static_cast<std::size_t>(i)];
    const bool channel = cell.kind == kChannelCell;
    for (int day = 0; day < params.days; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            for (int step = 0; step < params.stepsPerHour; ++step) {
                setRainfall(cell, rain, day, hour, rainStep(step, params.stepSeconds, params.rainInterval));
                const bool finite = channel ? stepChannel(cell, grid, day, hour, step, log)
                                            : stepSlope(cell, grid, day, hour, step, log);
                if (!finite) return EventStop{true, day, hour, step};
            }
            if (!hourSumsFinite(cell.dischargeSeries, day, hour, params.stepsPerHour, alignedStepsPer10min(params))) {
                return EventStop{true, day, hour, params.stepsPerHour - 1, true};
            }
        }
    }
    return EventStop{};
}

std::string nonFiniteMessage(const CellGrid& grid, int32_t i, const EventStop& stop) {
    if (stop.hourSum) return overflowMessage(grid, i, stop.day, stop.hour);
    return "Error: the flow at " + cellName(grid, i) + " is no longer a finite number at day " +
           std::to_string(stop.day) + ", hour " + std::to_string(stop.hour) + ", step " +
           std::to_string(stop.step) + " (counted from 0); check this cell's parameters and inputs. "
           "Simulation ends\n";
}

void runTimeLoop(CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList,
                 const RainGrid& rain, const ModelParams& params, std::vector<Dam>& dams,
                 std::vector<Reservoir>& reservoirs, std::ostream& out) {
    checkOrderFitsGrid(order, grid);
    std::string log;
    std::size_t first = 0;
    for (int32_t g = 0; g < order.groupCount; ++g) {
        const std::size_t last = first + static_cast<std::size_t>(order.groupSizes[static_cast<std::size_t>(g)]);
        out << "  " << first + 1 << "/" << order.cellCount << " ends.\n";
        for (std::size_t e = first; e < last; ++e) {
            const int32_t i = grid.index(order.entries[e].first, order.entries[e].second);
            Cell& cell = grid.cells[static_cast<std::size_t>(i)];
            if (cell.kind < 0) continue;
            if (!isListedRiver(riverNumList, cell.riverNum)) continue;
            if (cell.kind == kSlopeCell || cell.kind == kChannelCell) {
                log.clear();
                const EventStop stop = runCellEvent(grid, i, rain, params, log);
                out << log;
                if (stop.stopped) throw InputError(nonFiniteMessage(grid, i, stop));
            } else if (cell.kind == kDamCell) {
                runStructures(grid, i, dams, operate, rain, params, out);
            } else if (cell.kind == kReservoirCell) {
                runStructures(grid, i, reservoirs, route, rain, params, out);
            }
        }
        out.flush();
        first = last;
    }
}

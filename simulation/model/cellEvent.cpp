#include "cellEvent.h"

#include "inputError.h"
#include "nodeWavefront.h"
#include "paramFile.h"
#include "powLanes.h"

#include <cmath>
#include <cstdio>

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

// The outflow and inflow a dam or reservoir stored must be finite like any other.
void checkStoredOutflow(const CellGrid& grid, int32_t i, const Cell& cell, int day, int hour, int step,
                        int stepsPerHour) {
    const std::size_t at = seriesIndex(day, hour, step, stepsPerHour);
    const bool outflowFinite = at >= cell.dischargeSeries.size() || std::isfinite(cell.dischargeSeries[at]);
    const bool inflowFinite = at >= cell.inflowSeries.size() || std::isfinite(cell.inflowSeries[at]);
    if (!outflowFinite || !inflowFinite) {
        throw InputError(nonFiniteMessage(grid, i, EventStop{true, day, hour, step}));
    }
}

// Every structure at cell i, in list order, through the whole event.
template <typename Structure, typename Step>
void runStructures(const CellGrid& grid, int32_t i, Cell& cell, std::vector<Structure>& structures, Step stepOne,
                   const UpstreamSeries& upstream, const RainGrid& rain, const ModelParams& params,
                   std::string* stepLines, const HourCapture& capture) {
    const int row = grid.rowOf(i), column = grid.colOf(i);
    const int tenMinutes = alignedStepsPer10min(params);
    // One line a step, "ihour = H dt = S imin = O": room for all of them at once.
    std::size_t lines = 0;
    for (const Structure& s : structures) lines += s.rowIndex == row && s.columnIndex == column ? 1 : 0;
    if (stepLines != nullptr)
        stepLines->reserve(stepLines->size() + lines * seriesLength(params.days, params.stepsPerHour) * 40);
    char line[64];
    for (std::size_t k = 0; k < structures.size(); ++k) {
        Structure& s = structures[k];
        if (s.rowIndex != row || s.columnIndex != column) continue;
        for (int day = 0; day < params.days; ++day) {
            for (int hour = 0; hour < 24; ++hour) {
                for (int step = 0; step < params.stepsPerHour; ++step) {
                    const int obs = rainStep(step, params.stepSeconds, params.rainInterval);
                    if (stepLines != nullptr) {
                        const int n = std::snprintf(line, sizeof line, "ihour = %d dt = %d imin = %d\n", hour, step, obs);
                        stepLines->append(line, static_cast<std::size_t>(n));
                    }
                    setRainfall(cell, rain, day, hour, obs);
                    stepOne(s, cell, upstream, day, hour, step, params.stepsPerHour);
                    checkStoredOutflow(grid, i, cell, day, hour, step, params.stepsPerHour);
                }
                if (!hourSumsFinite(cell.dischargeSeries, day, hour, params.stepsPerHour, tenMinutes) ||
                    !hourSumsFinite(cell.inflowSeries, day, hour, params.stepsPerHour, 0) ||
                    !storageHourFinite(s, day, hour, params.stepsPerHour)) {
                    throw InputError(overflowMessage(grid, i, day, hour));
                }
                if (capture.structures != nullptr && capturesAfter(capture, day, hour))
                    captureStructure(s, capture.structures[k]);
            }
        }
    }
}

}  // namespace

EventStop runCellEvent(Cell& cell, const UpstreamSeries& upstream, const RainGrid& rain, const ModelParams& params,
                       std::string& log, const HourCapture& capture) {
    // With the power function in vectors, the nodes of several steps run side by side.
    if (cell.spaceSteps > 0 && vectorPowAvailable())
        return runCellEventWavefront(cell, upstream, rain, params, log, capture);
    return runCellEventByStep(cell, upstream, rain, params, log, capture);
}

EventStop runCellEventByStep(Cell& cell, const UpstreamSeries& upstream, const RainGrid& rain,
                             const ModelParams& params, std::string& log, const HourCapture& capture) {
    const WaveConstants k = waveConstants(cell);
    const bool channel = cell.kind == kChannelCell;
    const int tenMinutes = alignedStepsPer10min(params);
    std::size_t at = 0;
    for (int day = 0; day < params.days; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            for (int step = 0; step < params.stepsPerHour; ++step, ++at) {
                setRainfall(cell, rain, day, hour, rainStep(step, params.stepSeconds, params.rainInterval));
                const bool finite = channel ? stepChannel(cell, k, upstream, at, log)
                                            : stepSlope(cell, k, upstream, at, log);
                if (!finite) return EventStop{true, day, hour, step};
            }
            if (!hourSumsFinite(cell.dischargeSeries, day, hour, params.stepsPerHour, tenMinutes)) {
                return EventStop{true, day, hour, params.stepsPerHour - 1, true};
            }
            if (capture.cellValues != nullptr && capturesAfter(capture, day, hour)) captureCell(cell, capture.cellValues);
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

void runDamsEvent(const CellGrid& grid, int32_t i, Cell& cell, std::vector<Dam>& dams,
                  const UpstreamSeries& upstream, const RainGrid& rain, const ModelParams& params,
                  std::string* stepLines, const HourCapture& capture) {
    runStructures(grid, i, cell, dams, operate, upstream, rain, params, stepLines, capture);
}

void runReservoirsEvent(const CellGrid& grid, int32_t i, Cell& cell, std::vector<Reservoir>& reservoirs,
                        const UpstreamSeries& upstream, const RainGrid& rain, const ModelParams& params,
                        std::string* stepLines, const HourCapture& capture) {
    runStructures(grid, i, cell, reservoirs, route, upstream, rain, params, stepLines, capture);
}

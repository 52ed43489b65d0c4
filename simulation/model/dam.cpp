#include "dam.h"

#include "inputError.h"

#include <cmath>
#include <string>

namespace {

// Kind 0: the hour's recorded release at step 0, copied to the later steps.
void readRecordedOutflow(Dam& dam, Cell& cell, int day, int hour, int step, int stepsPerHour) {
    if (dam.kind != 0) throw InputError("Dam kind is set to non-zero\nDam name : " + dam.name + "\n");
    const std::size_t first = seriesIndex(day, hour, 0, stepsPerHour);
    if (step == 0) {
        cell.dischargeSeries[first] =
            static_cast<float>(dam.recordedOutflow[static_cast<std::size_t>(day) * 24 + static_cast<std::size_t>(hour)]);
    } else {
        cell.dischargeSeries[first + static_cast<std::size_t>(step)] = cell.dischargeSeries[first];
    }
}

}  // namespace

bool isComputedCell(const Cell& cell, const std::vector<int32_t>& riverNumList) {
    return !cell.isEdge && cell.riverNum >= 0 && cell.flowAcc > 0 && isListedRiver(riverNumList, cell.riverNum);
}

bool isComputedAt(const CellGrid& grid, int32_t i, const std::vector<int32_t>& riverNumList) {
    return !grid.isEdgeAt(i) && grid.riverNumAt(i) >= 0 && grid.flowAccAt(i) > 0 &&
           isListedRiver(riverNumList, grid.riverNumAt(i));
}

double localInflow(const Cell& cell, const UpstreamSeries& upstream, std::size_t at) {
    const double inflow = upstreamInflow(upstream, at);
    return inflow + 2.0 * cell.lateralInflow * cell.slopeLength;
}

void operate(Dam& dam, Cell& cell, const UpstreamSeries& upstream, int day, int hour, int step, int stepsPerHour) {
    if (dam.kind == 0) {
        readRecordedOutflow(dam, cell, day, hour, step, stepsPerHour);
        return;
    }
    const std::size_t t = seriesIndex(day, hour, step, stepsPerHour);
    const double inflow = localInflow(cell, upstream, t);
    const double dt = static_cast<double>(cell.stepSeconds);
    double release = 0.0;
    if (dam.kind == 1) {
        // The limits are tested on the storage before this step.
        const bool passThrough = (dam.regulatedOutflow > inflow && dam.storage <= dam.s1) ||
                                 (inflow > dam.regulatedOutflow && dam.storage >= dam.s2);
        release = passThrough ? inflow : dam.regulatedOutflow;
    } else if (dam.kind == 2) {
        release = inflow > dam.regulatedOutflow ? dam.regulatedOutflow : inflow;
    } else {
        throw InputError(
            "Set dam type to 1 or 2. Modelling of other types of dam operation is instructed in the manual.\n");
    }
    dam.storage = dam.storage + (inflow - release) * dt;
    dam.storageSeries[t] = static_cast<float>(dam.storage);
    if (!std::isfinite(dam.storageSeries[t])) {
        throw InputError("Error: the storage of dam " + dam.name + " at " + dam.place +
                         " is no longer a finite number at day " + std::to_string(day) + ", hour " +
                         std::to_string(hour) + ", step " + std::to_string(step) +
                         " (counted from 0); check its inflow. Simulation ends\n");
    }
    cell.inflowSeries[t] = static_cast<float>(inflow);
    cell.dischargeSeries[t] = static_cast<float>(release);
}

float hourlyMeanStorage(const Dam& dam, int day, int hour, int stepsPerHour) {
    const float mean = meanInOrder(dam.storageSeries.data() + seriesIndex(day, hour, 0, stepsPerHour), stepsPerHour);
    return static_cast<float>(static_cast<double>(mean) + dam.initialStorage);
}

#pragma once
// The time loop: cells in calculation order, each through the whole event
// (day, hour, step) before the next; upstream series are final when read.

#include "calcOrder.h"
#include "dam.h"
#include "grid.h"
#include "rainfall.h"
#include "reservoir.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct ModelParams;

// Where a cell's event stopped because a value left the finite numbers, or a
// float32 sum that the outputs take over an hour would.
struct EventStop {
    bool stopped = false;
    int day = 0;
    int hour = 0;
    int step = 0;
    bool hourSum = false;  // every step was finite, but the float32 sum of the hour overflows
};

// Whether the float32 sums that the writer takes over one hour of a series
// stay finite: the hour's sum and, when stepsPer10min > 0, the six 10-minute
// sums, each added in step order as the means add them. Values that are each
// finite can still overflow such a sum. An empty series passes.
bool hourSumsFinite(const std::vector<float>& series, int day, int hour, int stepsPerHour, int stepsPer10min);

// Runs slope or channel cell i through the whole event: setRainfall, then its
// step, for every day, hour and step in order. Requires every upstream cell's
// series to be complete; writes cell i's series for every step (up to a stop).
// Touches no other cell and no console: iteration-limit messages are appended
// to `log` in the order they arise.
EventStop runCellEvent(CellGrid& grid, int32_t i, const RainGrid& rain, const ModelParams& params,
                       std::string& log);

// The message that stops the run when cell i's flow leaves the finite numbers.
std::string nonFiniteMessage(const CellGrid& grid, int32_t i, const EventStop& stop);

// Every group of the calculation order, with its progress line; border cells
// and cells of rivers not in `riverNumList` are skipped. A cell's iteration
// messages are printed when it has finished its event; the console is flushed
// after each group. Throws InputError when a flow becomes infinite or NaN.
void runTimeLoop(CellGrid& grid, const CalcOrder& order, const std::vector<int32_t>& riverNumList,
                 const RainGrid& rain, const ModelParams& params, std::vector<Dam>& dams,
                 std::vector<Reservoir>& reservoirs, std::ostream& out);

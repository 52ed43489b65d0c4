#pragma once
// One cell through the whole event: every day, hour and step in order, its
// rainfall set and its step taken (the kinematic wave of a slope or channel
// cell, or the operation of the dams or reservoirs on it). This is what any
// runner of the model calls for a cell once the series of its upstream cells
// are complete; the runners differ only in which cells they take, in what
// order and on how many threads.
//
// A cell's event touches no other cell and no console: its messages (the
// iteration-limit texts, a structure's step lines) are appended to a log that
// the caller prints in calculation order.

#include "dam.h"
#include "grid.h"
#include "kinematicWave.h"
#include "modelState.h"
#include "rainfall.h"
#include "reservoir.h"

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

// Runs a slope or channel cell through the whole event: setRainfall, then its
// step, for every day, hour and step in order. Requires the cell's series
// allocated and every upstream series complete; writes the cell's series for
// every step (up to a stop). Iteration-limit messages are appended to `log`
// in the order they arise. `capture` takes the node values at the end of its hour.
EventStop runCellEvent(Cell& cell, const UpstreamSeries& upstream, const RainGrid& rain, const ModelParams& params,
                       std::string& log, const HourCapture& capture = {});

// The same, one whole step of the cell after the other (stepSlope or
// stepChannel): runCellEvent's way without the four-lane power function, and
// the reference its other way is checked against.
EventStop runCellEventByStep(Cell& cell, const UpstreamSeries& upstream, const RainGrid& rain,
                             const ModelParams& params, std::string& log, const HourCapture& capture = {});

// The message that stops the run when cell i's flow leaves the finite numbers.
std::string nonFiniteMessage(const CellGrid& grid, int32_t i, const EventStop& stop);

// Dam cell i (record `cell`; `grid` only names it in messages): every dam of
// `dams` at the cell, in list order, runs the whole event, each step preceded
// by its console line "ihour = H dt = S imin = O", appended to `stepLines`
// (null: the lines are not made). Throws InputError where the run stops.
// `capture` takes each of these dams' state at the end of its hour, at the
// dam's position in `dams`.
void runDamsEvent(const CellGrid& grid, int32_t i, Cell& cell, std::vector<Dam>& dams,
                  const UpstreamSeries& upstream, const RainGrid& rain, const ModelParams& params,
                  std::string* stepLines, const HourCapture& capture = {});

// The same for the reservoirs at reservoir cell i.
void runReservoirsEvent(const CellGrid& grid, int32_t i, Cell& cell, std::vector<Reservoir>& reservoirs,
                        const UpstreamSeries& upstream, const RainGrid& rain, const ModelParams& params,
                        std::string* stepLines, const HourCapture& capture = {});

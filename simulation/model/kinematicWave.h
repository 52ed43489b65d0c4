#pragma once
// The kinematic wave of one cell over one calculation step.
//
// A slope cell is one hillslope: water runs through a capillary soil layer, a
// non-capillary soil layer and, once both are full, over the surface. A channel
// cell is a slope part that drains sideways into a channel. Both are cut into
// `spaceSteps` segments (nodes 0..N, node 0 upstream) and advanced with a
// weighted four-point scheme whose celerity is iterated at each node until the
// discharge changes by at most 1 %.
//
// Each step reads only the cell's own state and the finished series of its
// upstream cells, allocates nothing, and writes nothing to the console: the
// three iteration-limit messages are appended to a log the caller passes in.
// A value that leaves the finite numbers makes the step return false before it
// is stored, so the caller can stop the run with a message naming the cell.

#include "grid.h"
#include "rainfall.h"

#include <array>
#include <cstddef>
#include <string>

inline constexpr const char* kNewtonLimitMessage = "jcount>10000 (Newton method) \n";
inline constexpr const char* kSlopeLimitMessage = "icount > 10000\n";
inline constexpr const char* kChannelLimitMessage = "kcount > 10000\n";

// Iterations stop with their last value once the counter has passed this.
inline constexpr int kIterationLimit = 10000;

// The slope celerity never falls below this, m/s; the channel has no minimum.
inline constexpr double kMinSlopeCelerity = 1e-6;

// A set-up cell whose accumulation exceeds its channel threshold has a channel.
inline bool isChannelCell(const Cell& cell) { return cell.flowAcc > cell.channelThreshold; }

// The finished series a cell reads as its upstream inflow: one whole-event
// series per filled upstream slot, in slot order. A slot whose cell has no
// computed series points at zeros.
struct UpstreamSeries {
    std::array<const float*, kMaxUpstream> series{};
    int count = 0;
};

// The upstream series as the grid holds them now; every upstream cell must
// have its series allocated.
UpstreamSeries upstreamSeriesOf(const CellGrid& grid, const Cell& cell);

// One node of the weighted four-point scheme: the new discharge at node j from
// the new value at node j-1 (newUp), the old values at j (oldHere) and j-1
// (oldUp) and the lateral inflow r per unit length. Evaluated exactly as the
// scheme is written, left to right; do not regroup.
inline double weightedUpdate(double theta, double c, double dt, double dx, double newUp, double oldHere,
                             double oldUp, double r) {
    return (theta * c * (dt / dx * newUp + dt * r) + oldHere -
            (1.0 - theta) * c * dt * ((oldHere - oldUp) / dx - r)) /
           (theta * c * dt / dx + 1.0);
}

// Values of a cell's step that depend only on its parameters. Computed once
// when the cell's event starts; each is exactly the double that the step's
// formulas would compute in place, so hoisting them changes no bit.
struct WaveConstants {
    double dt = 0.0;              // step length, s
    double slopeTolerance = 0.0;  // Newton tolerance: 0.01 mm/h in m/s times slopeDx
    double qsat = 0.0;            // q per unit width with both soil layers full
    double vaDm = 0.0;            // va x dm
    double invBeta = 0.0;         // 1 / beta
    double betaMinus1 = 0.0;      // beta - 1
    double invM = 0.0;            // 1 / m
    double mMinus1 = 0.0;         // m - 1
    double alphaRoot = 0.0;       // channel: channelAlpha^(1/m)
    double qExponent = 0.0;       // channel: (m - 1) / m
};
WaveConstants waveConstants(const Cell& cell);

// Discharge per unit width q (m2/s) of the slope at water depth h (m), counted
// from the bottom of the soil layers: capillary layer below `dm`, non-capillary
// layer up to `da`, surface flow above.
double slopeDischargeOfDepth(const Cell& cell, double h);

// Celerity dq/dh of the slope at discharge per unit width q, by its regime. The
// surface regime solves q(h) = q by Newton's method to the slope tolerance
// (appending the limit message to `log` if it runs out). Returns NaN if the
// iteration leaves the finite numbers. Not yet clamped to kMinSlopeCelerity.
double slopeCelerity(const Cell& cell, const WaveConstants& k, double q, std::string& log);

// Sets `lateralInflow` (m2/s) from the rain (mm/h) of the cell's rainfall point
// at (day, hour, observation).
void setRainfall(Cell& cell, const RainGrid& rain, int day, int hour, int rainStep);

// Sum of the upstream cells' outflows at series position `at`, each float32
// widened and added in slot order; 0 for a headwater cell.
inline double upstreamInflow(const UpstreamSeries& upstream, std::size_t at) {
    double sum = 0.0;
    for (int k = 0; k < upstream.count; ++k) sum += static_cast<double>(upstream.series[static_cast<std::size_t>(k)][at]);
    return sum;
}

// One step of the slope part: `qUp` (m3/s) enters at node 0, `r` (m2/s) along
// the slope. Requires the slope node arrays of set-up; leaves the new values in
// `slopeQ` as well. Returns the discharge at node N, or a non-finite value at
// the first node that is not finite (the sweep stops there).
double solveSlope(Cell& cell, const WaveConstants& k, double qUp, double r, std::string& log);

// One step of a slope cell: writes `dischargeSeries`[at], `at` being the
// step's series position (seriesIndex). Requires every upstream series to be
// final at that step. Returns false, storing nothing, if the outflow or a node
// value is not finite.
bool stepSlope(Cell& cell, const WaveConstants& k, const UpstreamSeries& upstream, std::size_t at,
               std::string& log);

// One step of a channel cell (slope part, then the channel); as stepSlope.
bool stepChannel(Cell& cell, const WaveConstants& k, const UpstreamSeries& upstream, std::size_t at,
                 std::string& log);

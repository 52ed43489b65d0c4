#pragma once
// Four slope nodes (of any steps) through their celerity iterations at once,
// in AVX2 registers: the operations of solveSlope and slopeCelerity for one
// node, lane by lane, with masks where the lanes part ways (regime, Newton
// iterations, convergence). Each lane does exactly the arithmetic of the
// scalar code, in its order, and the powers are those of pow4, so every lane
// ends with the bits the step-by-step loop gives.
//
// The caller (nodeWavefront.cpp) works a node's steps in plain code while its
// celerity needs no power; at its first power it puts the node into a free lane
// (kLaneCelerity, with q, count, oldHere and the node's two fixed terms of the
// scheme set) and calls
// runSlopeLanes, which takes the powers the lanes wait for and works every
// lane up to its next power, or to its end. A lane may also wait for a power
// of the caller's own (kLanePower, x and y set), taken with the others.
// Requires cpuHasAvx2Fma().

#include "kinematicWave.h"

#include <cstdint>

enum SlopeLaneState : int64_t {
    kLaneEmpty = 0,
    // To be worked on by settleSlopeLanes.
    kLaneCelerity,     // celerity at q, by regime
    kLaneUpdate,       // the scheme's update with celerity c, then the convergence test
    kLaneNewton,       // a Newton step of the surface regime
    kLaneSurfaceDone,  // the surface celerity at the final depth
    // Waiting for pow(x, y).
    kLaneCapillaryDepth,
    kLaneCapillaryCelerity,
    kLaneSurfaceDepth,
    kLaneSurfaceStart,
    kLaneSurfaceNewton,
    kLanePower,  // the caller's own pow(x, y): value becomes the power
    // For the caller.
    kLaneFinished,         // value is the node's new discharge
    kLaneFinishedAtLimit,  // the same after the celerity iteration ran out ("icount" message)
    kLaneFailed,           // a value left the finite numbers
};

// The values of each lane's cell that the node iteration reads (names as in
// Cell and WaveConstants): the lanes may hold nodes of different cells.
struct alignas(32) SlopeLaneConstants {
    double vcdc[4], qsat[4], va[4], dm[4], da[4], beta[4], vaDm[4], invBeta[4], betaMinus1[4], invM[4], mMinus1[4];
    double alpha[4], m[4], tolerance[4], theta[4], dt[4], dx[4], w[4];
};

struct alignas(32) SlopeLanes {
    double q[4], c[4], h[4], p[4], qc[4], value[4], x[4], y[4];
    // Terms of weightedUpdate that do not change while the node iterates,
    // each computed as the scheme computes it: dt / dx * newUp + dt * r, and
    // (oldHere - oldUp) / dx - r.
    double inflowTerm[4], gradientTerm[4], oldHere[4];
    int64_t state[4];
    int64_t count[4], newton[4];
    int64_t newtonMessages[4];  // Newton iterations that ran out in this node ("jcount" messages)
};

// Works every lane in a kLaneCelerity..kLaneSurfaceDone state until it waits
// for a power or has finished or failed; with takePowers, then takes the
// power of every waiting lane (one pow4) and works the lanes on again.
// Returns the lanes (bit l for lane l) that have finished or failed.
int runSlopeLanes(SlopeLanes& lanes, const SlopeLaneConstants& k, bool takePowers);
// runSlopeLanes(.., true) for two groups of lanes in the eight lanes of
// AVX-512 registers: bits 0-3 are pair[0]'s lanes, 4-7 pair[1]'s. Requires
// cpuHasAvx512() (powLanes.h).
int runSlopeLanePair(SlopeLanes* pair, const SlopeLaneConstants* constants);

// Lane `lane` takes the values of `cell`.
void setSlopeLaneConstants(SlopeLaneConstants& lanes, int lane, const Cell& cell, const WaveConstants& k);
// The values of `cell` in every lane.
SlopeLaneConstants slopeLaneConstants(const Cell& cell, const WaveConstants& k);

// The scheme's terms with the celerity va (at least the slope minimum), as
// weightedUpdate computes them: dt / dx, theta c, (1 - theta) c dt and the
// denominator theta c dt / dx + 1.
struct SlopeLayerTerms {
    double dtOverDx, thetaC, oldTerm, denominator;
};
SlopeLayerTerms slopeLayerTerms(const Cell& cell, const WaveConstants& k);

// A slope node's step as solveSlope takes it up, worked in plain code while
// its celerity needs no power (between the capillary and the surface regime
// it is va); most steps end there.
struct SlopeNodeStart {
    // The two terms of the scheme that do not change while the node iterates.
    double inflowTerm = 0, gradientTerm = 0;
    bool needsPower = false;  // the step goes on in a lane from `estimate` at iteration `count`
    double estimate = 0;
    int64_t count = 0;
    double value = 0;      // otherwise the node's new discharge (not finite: the step failed)
    bool atLimit = false;  // the iteration ran out (the "icount" message)
};
SlopeNodeStart startSlopeNode(const Cell& cell, const WaveConstants& k, const SlopeLayerTerms& layer, double newUp,
                              double oldUp, double oldHere, double r);

// Puts a node that needs a power into lane `lane` (empty), at the celerity of
// its estimate.
void enterSlopeLane(SlopeLanes& lanes, int lane, const SlopeNodeStart& start, double oldHere);

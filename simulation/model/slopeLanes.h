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
// (enterSlopeLane: waiting for that power, with q, count, oldHere and the
// node's two fixed terms of the scheme set) and calls
// runSlopeLanes, which takes the powers the lanes wait for and works every
// lane up to its next power, or to its end. A lane may also wait for a power
// of the caller's own (kLanePower, x and y set), taken with the others.
// Requires cpuHasAvx2Fma().

#include "kinematicWave.h"

#include <cstdint>

enum SlopeLaneState : int64_t {
    kLaneEmpty = 0,
    // Worked on within a call of runSlopeLanes, up to the next power.
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

// Lanes per record: runSlopeLanes works lanes 0-3 (one AVX2 register),
// runSlopeLanes8 all eight (one AVX-512 register), each field loaded whole.
inline constexpr int kSlopeLaneSlots = 8;

// The values of each lane's cell that the node iteration reads (names as in
// Cell and WaveConstants): the lanes may hold nodes of different cells.
struct alignas(64) SlopeLaneConstants {
    double vcdc[kSlopeLaneSlots], qsat[kSlopeLaneSlots], va[kSlopeLaneSlots], dm[kSlopeLaneSlots],
        da[kSlopeLaneSlots], beta[kSlopeLaneSlots], vaDm[kSlopeLaneSlots], invBeta[kSlopeLaneSlots],
        betaMinus1[kSlopeLaneSlots], invM[kSlopeLaneSlots], mMinus1[kSlopeLaneSlots];
    double alpha[kSlopeLaneSlots], m[kSlopeLaneSlots], tolerance[kSlopeLaneSlots], theta[kSlopeLaneSlots],
        dt[kSlopeLaneSlots], dx[kSlopeLaneSlots], w[kSlopeLaneSlots];
};

struct alignas(64) SlopeLanes {
    double q[kSlopeLaneSlots], c[kSlopeLaneSlots], h[kSlopeLaneSlots], p[kSlopeLaneSlots], qc[kSlopeLaneSlots],
        value[kSlopeLaneSlots], x[kSlopeLaneSlots], y[kSlopeLaneSlots];
    // Terms of weightedUpdate that do not change while the node iterates,
    // each computed as the scheme computes it: dt / dx * newUp + dt * r, and
    // (oldHere - oldUp) / dx - r.
    double inflowTerm[kSlopeLaneSlots], gradientTerm[kSlopeLaneSlots], oldHere[kSlopeLaneSlots];
    int64_t state[kSlopeLaneSlots];
    int64_t count[kSlopeLaneSlots], newton[kSlopeLaneSlots];
    int64_t newtonMessages[kSlopeLaneSlots];  // Newton iterations that ran out in this node ("jcount" messages)
};

// Takes the power every waiting lane of lanes 0-3 waits for (one pow4) and
// works those lanes on until each waits for its next power or has finished or
// failed. Between calls every lane waits, has finished or is empty.
// Returns the lanes (bit l for lane l) that have finished or failed.
int runSlopeLanes(SlopeLanes& lanes, const SlopeLaneConstants& k);
// runSlopeLanes on all eight lanes, in AVX-512 registers (bit l for lane l).
// Requires cpuHasAvx512() (powLanes.h).
int runSlopeLanes8(SlopeLanes& lanes, const SlopeLaneConstants& k);

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

// Puts a node that needs a power into lane `lane` (empty; k holds the lane's
// cell), waiting for the first power of the celerity at its estimate.
void enterSlopeLane(SlopeLanes& lanes, const SlopeLaneConstants& k, int lane, const SlopeNodeStart& start,
                    double oldHere);

#pragma once
// Evaluations of candidates: the model run in process on each event's gauge
// cells and everything upstream, the gauges scored against their
// observations, and the scores combined. A batch of candidates runs on
// worker threads, one event of one candidate per task; each result depends on
// its candidate alone.

#include "calibrationSetup.h"

#include <functional>
#include <string>
#include <vector>

struct Outcome {
    std::vector<double> values;  // as run, after the soil-depth repair
    std::vector<double> scores;  // per gauge, events in order; -infinity where undefined or failed
    double aggregate = 0.0;      // -infinity for a failed evaluation
    bool failed = false;
    std::string message;         // why it failed
};

// Keeps the capillary layer within the soil: where a candidate makes Dm
// deeper than Da in a computed cell, the calibrated Dm is lowered to the
// largest number that keeps Dm <= Da in every such cell of every event (or,
// when Dm is not calibrated, the calibrated Da raised to the smallest
// number that does). False when that number lies outside its bounds (or no
// number can do it): the candidate is then rejected, not run, and keeps its
// values as proposed.
bool repairSoilDepths(const Calibration& calibration, std::vector<double>& values);

// A gauge's score of hourly means against its scored observations; NaN (no
// defined score, as for a constant simulation) counts as -infinity.
double gaugeScore(Objective objective, const std::vector<float>& hourlyMeans, const GaugeData& gauge);

// The gauges' scores combined as configured (mean, weighted mean, worst).
double aggregateScore(const Calibration& calibration, const std::vector<double>& scores);

// Evaluates the candidates on `threads` workers, calling `finished(done,
// total)` on the calling thread as tasks end.
std::vector<Outcome> evaluateBatch(const Calibration& calibration, const std::vector<std::vector<double>>& candidates,
                                   int threads, const std::function<void(int64_t, int64_t)>& finished);

// One candidate's hourly means at every gauge of an event (after the repair); empty when it stops.
std::vector<std::vector<float>> gaugeHydrographs(const Calibration& calibration, std::size_t event,
                                                 const std::vector<double>& values);

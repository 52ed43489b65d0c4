#pragma once
// The products of an ensemble, reduced from the members' results over the
// members that finished (a member that stopped is left out of every product).
//
// Rules:
// - A member exceeds a threshold at a cell when its hourly mean discharge is
//   larger than the threshold (strictly) in at least one hour of the event.
// - The probability is the number of such members over the members counted,
//   divided in double precision and rounded once to float32.
// - The time at which half of the members exceed it is the end of the first
//   hour by which at least ceil(n / 2) of the n members counted have exceeded
//   it, in minutes after the event start; none when fewer ever do.
// - Quantiles interpolate linearly between the sorted values x[0..n-1]
//   (Hyndman and Fan's type 7): h = (n - 1) p, q = x[lo] + (h - lo)(x[lo+1] -
//   x[lo]) with lo = floor(h), in double precision, rounded once to float32.
// - The mean adds the float32 values in member order in double precision,
//   divides by n and rounds once to float32.
// Cells without data in the discharge files (the border, rivers that are not
// simulated) and cells where a threshold grid has no value hold the fill value.

#include "ensembleInputs.h"
#include "ensembleRun.h"

#include <array>
#include <cstdint>
#include <vector>

inline constexpr std::array<double, 5> kQuantileLevels = {0.05, 0.25, 0.50, 0.75, 0.95};
inline constexpr float kProductFill = -9999.0f;

struct ThresholdProducts {
    std::vector<float> probability;    // per grid index, row 0 north
    std::vector<int32_t> count;        // members over the threshold; -9999 where there is no value
    std::vector<double> halfTime;      // minutes, or kProductFill
};

struct EnsembleProducts {
    std::vector<int32_t> counted;  // the members that finished, in order
    std::vector<ThresholdProducts> thresholds;
    std::vector<float> peakQuantiles;  // [q * cells + i]
    std::vector<float> peakMean;       // per grid index
    // Hourly quantile q of kept cell s at [(q * sites + s) * hours + h].
    std::vector<float> seriesQuantiles;
};

// The type-7 quantile at level p of `sorted` (ascending, not empty).
float quantileOfSorted(const std::vector<double>& sorted, double p);

EnsembleProducts makeProducts(const Event& event, const MemberResults& results,
                              const std::vector<Threshold>& thresholds, std::size_t sites);

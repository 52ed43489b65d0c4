#pragma once
// The two search algorithms of a calibration, DDS and SCE-UA, over a box of
// parameter values, maximising a score. They propose candidates in
// synchronous batches and get each batch's scores back together, so that
// what they propose depends on the scores alone, never on which worker
// evaluated what or when. Every random draw comes from the stream of the
// evaluation it serves (RandomStream(seed, evaluation number)).
//
// A point is kept as the parameter values themselves (the numbers a trace
// holds); a parameter searched on a log scale is moved in log space and
// turned back at once. Whoever evaluates a candidate may repair it: the
// algorithms go on from the values that were really run.

#include "randomStream.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

struct SearchSpace {
    std::vector<double> min, max;
    std::vector<char> logarithmic;
    std::size_t size() const { return min.size(); }
    // Parameter j's value in search coordinates (its log on a log scale), and back;
    // the way back lands exactly on a bound when the coordinate is that bound's.
    double coordinate(std::size_t j, double value) const;
    double value(std::size_t j, double coordinate) const;
    double lowCoordinate(std::size_t j) const { return coordinate(j, min[j]); }
    double highCoordinate(std::size_t j) const { return coordinate(j, max[j]); }
};

struct Evaluated {
    std::vector<double> values;  // as run
    double score = 0.0;          // larger is better; -infinity for a failed run
};

// Evaluates a batch of candidates, numbered on from the evaluations before.
using BatchEvaluator = std::function<std::vector<Evaluated>(const std::vector<std::vector<double>>&)>;

struct SearchSettings {
    SearchSpace space;
    int64_t budget = 0;  // evaluations in all
    uint64_t seed = 0;
    int32_t batch = 8;
    int32_t complexes = 2;
    std::optional<std::vector<double>> initial;  // start from this point instead of random ones
};

// A uniform random point of the box (uniform in search coordinates).
std::vector<double> randomPoint(const SearchSpace& space, RandomStream& random);

// Dynamically dimensioned search (Tolson and Shoemaker 2007), r = 0.2, in
// batches of `batch` perturbations of the best point found before the batch.
void runDds(const SearchSettings& settings, const BatchEvaluator& evaluate);

// Shuffled complex evolution (Duan, Sorooshian and Gupta 1992) with
// `complexes` complexes of 2n + 1 points; the complexes evolve side by side,
// each batch one candidate from each.
void runSceUa(const SearchSettings& settings, const BatchEvaluator& evaluate);

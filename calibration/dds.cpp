// Dynamically dimensioned search in synchronous batches.
//
// Evaluation i (numbered from 1 over the whole calibration) perturbs each
// parameter with probability 1 - ln(i) / ln(m), m the budget, and one random
// parameter when none is picked; the step is a normal number times 0.2 times
// the parameter's range. A value past a bound is reflected with probability
// one half and set to the bound otherwise; a reflection past the far bound
// lands on the near bound. All candidates of a batch perturb the best point
// found before the batch; the batch's results are then taken in evaluation
// order, each becoming the best if it is at least as good.
//
// Draws from evaluation i's stream, in this order: per parameter a uniform
// for the pick, and for a picked one a normal and, past a bound, a uniform
// for reflect-or-clamp; then, when none was picked, a uniform for the one.

#include "search.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kRadius = 0.2;

// Parameter j of `point` moved by a normal step, kept inside the bounds.
double perturbed(const SearchSpace& space, std::size_t j, double value, RandomStream& random) {
    const double a = space.lowCoordinate(j), b = space.highCoordinate(j);
    double t = space.coordinate(j, value) + kRadius * (b - a) * random.normal();
    if (t < a) {
        if (random.uniform() < 0.5) {
            t = a + (a - t);
            if (t > b) t = a;
        } else {
            t = a;
        }
    } else if (t > b) {
        if (random.uniform() < 0.5) {
            t = b - (t - b);
            if (t < a) t = b;
        } else {
            t = b;
        }
    }
    return space.value(j, t);
}

// The DDS candidate of evaluation `number` around `best`.
std::vector<double> candidate(const SearchSettings& s, int64_t number, const std::vector<double>& best) {
    RandomStream random(s.seed, static_cast<uint64_t>(number));
    const double p = 1.0 - std::log(static_cast<double>(number)) / std::log(static_cast<double>(s.budget));
    std::vector<double> x = best;
    bool any = false;
    for (std::size_t j = 0; j < x.size(); ++j) {
        if (random.uniform() < p) {
            x[j] = perturbed(s.space, j, x[j], random);
            any = true;
        }
    }
    if (!any) {
        const std::size_t j = static_cast<std::size_t>(random.below(x.size()));
        x[j] = perturbed(s.space, j, x[j], random);
    }
    return x;
}

}  // namespace

void runDds(const SearchSettings& s, const BatchEvaluator& evaluate) {
    int64_t done = 0;
    std::vector<double> best;
    double bestScore = -std::numeric_limits<double>::infinity();
    auto take = [&](const std::vector<Evaluated>& results) {
        for (const Evaluated& e : results) {
            if (best.empty() || e.score >= bestScore) {
                best = e.values;
                bestScore = e.score;
            }
        }
        done += static_cast<int64_t>(results.size());
    };

    // The start: the given point, or max(5, 0.5 % of the budget) random points.
    const int64_t starts = s.initial ? 1 : std::max<int64_t>(5, std::llround(0.005 * static_cast<double>(s.budget)));
    while (done < std::min(starts, s.budget)) {
        std::vector<std::vector<double>> batch;
        for (int64_t n = done + 1; n <= std::min(starts, s.budget) && static_cast<int32_t>(batch.size()) < s.batch; ++n) {
            RandomStream random(s.seed, static_cast<uint64_t>(n));
            batch.push_back(s.initial ? *s.initial : randomPoint(s.space, random));
        }
        take(evaluate(batch));
    }
    while (done < s.budget) {
        std::vector<std::vector<double>> batch;
        for (int64_t n = done + 1; n <= s.budget && static_cast<int32_t>(batch.size()) < s.batch; ++n) {
            batch.push_back(candidate(s, n, best));
        }
        take(evaluate(batch));
    }
}

// Shuffled complex evolution, the complexes evolving side by side.
//
// n parameters, p complexes of m = 2n + 1 points, sub-complexes of q = n + 1
// points, 2n + 1 evolution steps per complex between shuffles. The first
// population (p m points, uniform in the box, or the given point first) is
// ranked best first; point k of the ranking goes to complex k mod p. An
// evolution step of a complex picks q of its points with the trapezoidal
// probabilities 2 (m + 1 - i) / (m (m + 1)) (i the rank in the complex),
// reflects the worst of them through the centroid of the others, contracts
// half way towards it when the reflection is no better, and takes a random
// point of the smallest box holding the complex when the contraction is no
// better either (or in place of a reflection that leaves the bounds).
//
// Each batch holds the next candidate of every complex that has steps left;
// when every complex has made its steps, the complexes are merged, ranked
// and dealt out again. Ties in a ranking go to the earlier evaluation.
// Draws: the sub-complex and a random point in place of a reflection come
// from the stream of the reflection's evaluation, a random point after a
// failed contraction from its own.

#include "search.h"

#include <algorithm>
#include <cmath>

namespace {

struct Point {
    std::vector<double> values;
    double score = 0.0;
    int64_t number = 0;  // evaluation number
};

bool better(const Point& a, const Point& b) { return a.score > b.score || (a.score == b.score && a.number < b.number); }

// The step a complex is in: which candidate it waits for.
enum class Stage { kReflection, kContraction, kRandom };

struct Complex {
    std::vector<Point> points;    // best first
    std::vector<std::size_t> sub;  // ranks of the sub-complex, ascending
    std::vector<double> centroid;  // of the sub-complex without its worst, in search coordinates
    Stage stage = Stage::kReflection;
    int32_t stepsLeft = 0;
};

// A uniform point of the smallest box holding the complex.
std::vector<double> pointInHull(const SearchSpace& space, const Complex& c, RandomStream& random) {
    std::vector<double> x(space.size());
    for (std::size_t j = 0; j < x.size(); ++j) {
        double lo = space.coordinate(j, c.points[0].values[j]), hi = lo;
        for (const Point& p : c.points) {
            lo = std::min(lo, space.coordinate(j, p.values[j]));
            hi = std::max(hi, space.coordinate(j, p.values[j]));
        }
        x[j] = space.value(j, lo + random.uniform() * (hi - lo));
    }
    return x;
}

// Starts an evolution step: picks the sub-complex and returns the reflection
// of its worst point (or a random point when the reflection leaves the box).
std::vector<double> reflection(const SearchSpace& space, Complex& c, std::size_t q, RandomStream& random) {
    const std::size_t m = c.points.size();
    std::vector<char> taken(m, 0);
    c.sub.clear();
    while (c.sub.size() < q) {
        double total = 0.0;
        for (std::size_t i = 0; i < m; ++i)
            if (!taken[i]) total += static_cast<double>(m - i);  // proportional to 2 (m + 1 - rank) / (m (m + 1))
        double u = random.uniform() * total;
        std::size_t pick = m;
        for (std::size_t i = 0; i < m; ++i) {
            if (taken[i]) continue;
            pick = i;
            u -= static_cast<double>(m - i);
            if (u < 0.0) break;
        }
        taken[pick] = 1;
        c.sub.push_back(pick);
    }
    std::sort(c.sub.begin(), c.sub.end());
    const std::vector<double>& worst = c.points[c.sub.back()].values;
    c.centroid.assign(space.size(), 0.0);
    std::vector<double> x(space.size());
    bool inside = true;
    for (std::size_t j = 0; j < space.size(); ++j) {
        for (std::size_t k = 0; k + 1 < q; ++k) c.centroid[j] += space.coordinate(j, c.points[c.sub[k]].values[j]);
        c.centroid[j] /= static_cast<double>(q - 1);
        const double t = 2.0 * c.centroid[j] - space.coordinate(j, worst[j]);
        inside = inside && t >= space.lowCoordinate(j) && t <= space.highCoordinate(j);
        x[j] = inside ? space.value(j, t) : 0.0;
    }
    return inside ? x : pointInHull(space, c, random);
}

std::vector<double> contraction(const SearchSpace& space, const Complex& c) {
    const std::vector<double>& worst = c.points[c.sub.back()].values;
    std::vector<double> x(space.size());
    for (std::size_t j = 0; j < x.size(); ++j) x[j] = space.value(j, (c.centroid[j] + space.coordinate(j, worst[j])) / 2.0);
    return x;
}

// Replaces the sub-complex's worst point and ranks the complex again.
void replaceWorst(Complex& c, Point p) {
    c.points[c.sub.back()] = std::move(p);
    std::stable_sort(c.points.begin(), c.points.end(), better);
}

}  // namespace

void runSceUa(const SearchSettings& s, const BatchEvaluator& evaluate) {
    const std::size_t n = s.space.size(), m = 2 * n + 1, q = n + 1;
    const std::size_t p = static_cast<std::size_t>(s.complexes);
    int64_t done = 0;

    // The first population.
    std::vector<Point> population;
    const int64_t size = std::min<int64_t>(static_cast<int64_t>(p * m), s.budget);
    while (done < size) {
        std::vector<std::vector<double>> batch;
        for (int64_t k = done + 1; k <= size && static_cast<int32_t>(batch.size()) < s.batch; ++k) {
            RandomStream random(s.seed, static_cast<uint64_t>(k));
            batch.push_back(k == 1 && s.initial ? *s.initial : randomPoint(s.space, random));
        }
        for (Evaluated& e : evaluate(batch)) population.push_back({std::move(e.values), e.score, ++done});
    }

    while (done < s.budget) {
        // Shuffle: rank and deal out.
        std::stable_sort(population.begin(), population.end(), better);
        std::vector<Complex> complexes(p);
        for (std::size_t k = 0; k < population.size(); ++k) complexes[k % p].points.push_back(population[k]);
        for (Complex& c : complexes) c.stepsLeft = static_cast<int32_t>(m);

        // Evolution, one candidate per complex and batch.
        for (;;) {
            std::vector<std::size_t> asking;
            std::vector<std::vector<double>> batch;
            for (std::size_t k = 0; k < p && done + static_cast<int64_t>(batch.size()) < s.budget; ++k) {
                Complex& c = complexes[k];
                if (c.stepsLeft == 0) continue;
                RandomStream random(s.seed, static_cast<uint64_t>(done + static_cast<int64_t>(batch.size()) + 1));
                batch.push_back(c.stage == Stage::kReflection    ? reflection(s.space, c, q, random)
                                : c.stage == Stage::kContraction ? contraction(s.space, c)
                                                                 : pointInHull(s.space, c, random));
                asking.push_back(k);
            }
            if (batch.empty()) break;
            std::vector<Evaluated> results = evaluate(batch);
            for (std::size_t b = 0; b < results.size(); ++b) {
                Complex& c = complexes[asking[b]];
                Point point{std::move(results[b].values), results[b].score, ++done};
                const bool improves = point.score > c.points[c.sub.back()].score;
                if (improves || c.stage == Stage::kRandom) {
                    replaceWorst(c, std::move(point));
                    c.stage = Stage::kReflection;
                    --c.stepsLeft;
                } else {
                    c.stage = c.stage == Stage::kReflection ? Stage::kContraction : Stage::kRandom;
                }
            }
            if (done >= s.budget) return;
        }
        population.clear();
        for (const Complex& c : complexes) population.insert(population.end(), c.points.begin(), c.points.end());
    }
}

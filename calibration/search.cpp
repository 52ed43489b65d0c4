#include "search.h"

#include <cmath>

double SearchSpace::coordinate(std::size_t j, double v) const { return logarithmic[j] ? std::log(v) : v; }

double SearchSpace::value(std::size_t j, double t) const {
    if (t == lowCoordinate(j)) return min[j];
    if (t == highCoordinate(j)) return max[j];
    const double v = logarithmic[j] ? std::exp(t) : t;
    // exp may round a coordinate inside the bounds to just outside them.
    return v < min[j] ? min[j] : v > max[j] ? max[j] : v;
}

std::vector<double> randomPoint(const SearchSpace& space, RandomStream& random) {
    std::vector<double> point(space.size());
    for (std::size_t j = 0; j < space.size(); ++j) {
        const double a = space.lowCoordinate(j), b = space.highCoordinate(j);
        point[j] = space.value(j, a + random.uniform() * (b - a));
    }
    return point;
}

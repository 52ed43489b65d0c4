#include "reservoir.h"

#include "dam.h"

void setStorageConstant(Reservoir& reservoir, int32_t k, int32_t dt) {
    reservoir.k = k;
    // Integer numerator and denominator (in 64 bits, so 2k cannot overflow),
    // each widened to double before the division.
    const int64_t a = 2 * static_cast<int64_t>(k) - dt;
    const int64_t b = dt + 2 * static_cast<int64_t>(k);
    reservoir.c1 = static_cast<double>(a) / static_cast<double>(b);
    reservoir.c2 = static_cast<double>(dt) / static_cast<double>(b);
}

void route(Reservoir& reservoir, Cell& cell, const UpstreamSeries& upstream, int day, int hour, int step,
           int stepsPerHour) {
    const std::size_t t = seriesIndex(day, hour, step, stepsPerHour);
    const double inflow = localInflow(cell, upstream, t);
    reservoir.outflow = reservoir.c1 * reservoir.outflow + (reservoir.prevInflow + inflow) * reservoir.c2;
    reservoir.prevInflow = inflow;
    cell.inflowSeries[t] = static_cast<float>(inflow);
    cell.dischargeSeries[t] = static_cast<float>(reservoir.outflow);
}

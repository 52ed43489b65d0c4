#include "ensembleProducts.h"

#include <algorithm>
#include <cmath>

float quantileOfSorted(const std::vector<double>& sorted, double p) {
    const double h = static_cast<double>(sorted.size() - 1) * p;
    const double below = std::floor(h);
    const std::size_t lo = static_cast<std::size_t>(below);
    if (lo + 1 >= sorted.size()) return static_cast<float>(sorted[lo]);
    return static_cast<float>(sorted[lo] + (h - below) * (sorted[lo + 1] - sorted[lo]));
}

namespace {

// Whether grid cell i has values in the discharge files.
bool hasData(const Event& event, int32_t i) {
    return !event.grid.isEdgeAt(i) && isListedRiver(event.riverNumList, event.grid.riverNumAt(i));
}

ThresholdProducts thresholdProducts(const Event& event, const MemberResults& r, const std::vector<int32_t>& counted,
                                    std::size_t t, const std::vector<float>& levels) {
    ThresholdProducts out;
    out.probability.assign(r.cells, kProductFill);
    out.count.assign(r.cells, static_cast<int32_t>(kProductFill));
    out.halfTime.assign(r.cells, kProductFill);
    const std::size_t n = counted.size(), half = (n + 1) / 2;
    std::vector<int32_t> firsts;
    for (std::size_t i = 0; i < r.cells; ++i) {
        if (!hasData(event, static_cast<int32_t>(i)) || std::isnan(levels[i])) continue;
        firsts.clear();
        for (const int32_t m : counted) {
            const int32_t first = r.firstExceedance[(t * static_cast<std::size_t>(r.members) + static_cast<std::size_t>(m)) * r.cells + i];
            if (first >= 0) firsts.push_back(first);
        }
        out.count[i] = static_cast<int32_t>(firsts.size());
        out.probability[i] = static_cast<float>(static_cast<double>(firsts.size()) / static_cast<double>(n));
        if (firsts.size() >= half) {
            std::nth_element(firsts.begin(), firsts.begin() + static_cast<std::ptrdiff_t>(half - 1), firsts.end());
            out.halfTime[i] = static_cast<double>(firsts[half - 1] + 1) * 60.0;
        }
    }
    return out;
}

}  // namespace

EnsembleProducts makeProducts(const Event& event, const MemberResults& r, const std::vector<Threshold>& thresholds,
                              std::size_t sites) {
    EnsembleProducts out;
    for (std::size_t m = 0; m < r.stops.size(); ++m)
        if (!r.stops[m].stopped) out.counted.push_back(static_cast<int32_t>(m));
    const std::size_t n = out.counted.size();
    const std::size_t levels = kQuantileLevels.size();
    if (n == 0) return out;
    for (std::size_t t = 0; t < thresholds.size(); ++t)
        out.thresholds.push_back(thresholdProducts(event, r, out.counted, t, thresholds[t].cells));

    out.peakQuantiles.assign(levels * r.cells, kProductFill);
    out.peakMean.assign(r.cells, kProductFill);
    std::vector<double> values(n);
    for (std::size_t i = 0; i < r.cells; ++i) {
        if (!hasData(event, static_cast<int32_t>(i))) continue;
        double sum = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            values[k] = r.peaks[static_cast<std::size_t>(out.counted[k]) * r.cells + i];
            sum += values[k];
        }
        out.peakMean[i] = static_cast<float>(sum / static_cast<double>(n));
        std::sort(values.begin(), values.end());
        for (std::size_t q = 0; q < levels; ++q) out.peakQuantiles[q * r.cells + i] = quantileOfSorted(values, kQuantileLevels[q]);
    }

    const std::size_t hours = static_cast<std::size_t>(r.hours);
    out.seriesQuantiles.assign(sites * levels * hours, kProductFill);
    for (std::size_t s = 0; s < sites; ++s) {
        for (std::size_t h = 0; h < hours; ++h) {
            for (std::size_t k = 0; k < n; ++k)
                values[k] = r.series[s * static_cast<std::size_t>(r.members) + static_cast<std::size_t>(out.counted[k])][h];
            std::sort(values.begin(), values.end());
            for (std::size_t q = 0; q < levels; ++q) out.seriesQuantiles[(q * sites + s) * hours + h] = quantileOfSorted(values, kQuantileLevels[q]);
        }
    }
    return out;
}

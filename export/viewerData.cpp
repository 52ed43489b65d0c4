#include "viewerData.h"

#include <algorithm>
#include <cmath>

std::vector<uint16_t> cellInfo(const std::vector<uint8_t>& kinds, const std::vector<int32_t>& flowDir,
                               const std::vector<int32_t>& riverNum, int32_t nrows, int32_t ncols) {
    const std::size_t cols = static_cast<std::size_t>(ncols);
    // The basin of a computed cell is its river number; -1 stands for every cell that is not computed.
    auto basin = [&](std::size_t i) { return kinds[i] == kViewerNone ? -1 : riverNum[i]; };
    std::vector<uint16_t> info(kinds.size());
    for (int32_t r = 0; r < nrows; ++r) {
        for (int32_t c = 0; c < ncols; ++c) {
            const std::size_t i = static_cast<std::size_t>(r) * cols + static_cast<std::size_t>(c);
            const int32_t code = flowDir[i];
            uint16_t word = static_cast<uint16_t>(kinds[i] | ((code >= 0 && code <= 8 ? code : 15) << 3));
            if (c + 1 < ncols && basin(i) != basin(i + 1)) word |= 1u << 7;
            if (r + 1 < nrows && basin(i) != basin(i + cols)) word |= 1u << 8;
            info[i] = word;
        }
    }
    return info;
}

std::vector<uint8_t> hillshade(const std::vector<float>& elevation, const GridGeometry& grid) {
    const int32_t nrows = grid.nrows, ncols = grid.ncols;
    constexpr double kPi = 3.14159265358979323846;
    constexpr double zenith = (90.0 - 45.0) * kPi / 180.0;
    constexpr double azimuth = (360.0 - 315.0 + 90.0) * kPi / 180.0;  // the sun's bearing as a mathematical angle
    const double dy = grid.cellDeg * 3600.0 * 30.9;
    auto valid = [](float z) { return std::isfinite(z) && z > -1000.0f; };
    std::vector<uint8_t> shade(elevation.size(), 0);
    for (int32_t r = 0; r < nrows; ++r) {
        const double dx = dy * std::cos(grid.latCentre(r) * kPi / 180.0);
        for (int32_t c = 0; c < ncols; ++c) {
            // The 3 x 3 window (a b c / d e f / g h i, north row first), clamped at the grid's edge.
            double z[3][3];
            bool ok = true;
            for (int u = 0; u < 3; ++u) {
                for (int v = 0; v < 3; ++v) {
                    const int32_t rr = std::clamp(r + u - 1, 0, nrows - 1), cc = std::clamp(c + v - 1, 0, ncols - 1);
                    const float value = elevation[static_cast<std::size_t>(rr) * static_cast<std::size_t>(ncols) +
                                                  static_cast<std::size_t>(cc)];
                    ok = ok && valid(value);
                    z[u][v] = value;
                }
            }
            if (!ok) continue;
            // Horn's gradient; dzdy grows towards the south, as the hillshade formula expects.
            const double dzdx = ((z[0][2] + 2 * z[1][2] + z[2][2]) - (z[0][0] + 2 * z[1][0] + z[2][0])) / (8 * dx);
            const double dzdy = ((z[2][0] + 2 * z[2][1] + z[2][2]) - (z[0][0] + 2 * z[0][1] + z[0][2])) / (8 * dy);
            const double slope = std::atan(std::sqrt(dzdx * dzdx + dzdy * dzdy));
            const double aspect = std::atan2(dzdy, -dzdx);
            const double light =
                std::cos(zenith) * std::cos(slope) + std::sin(zenith) * std::sin(slope) * std::cos(azimuth - aspect);
            shade[static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols) + static_cast<std::size_t>(c)] =
                static_cast<uint8_t>(std::clamp(std::lround(255.0 * light), 1L, 255L));
        }
    }
    return shade;
}

uint8_t LogScale::level(double q) const {
    if (q == static_cast<double>(kFillValue)) return 0;
    if (!(q > qMin)) return 1;
    const double t = (std::log(q) - std::log(qMin)) / (std::log(qMax) - std::log(qMin));
    return static_cast<uint8_t>(2 + std::min(253.0, std::floor(t * 254.0)));
}

LogScale logScaleUpTo(double largest) {
    LogScale scale;
    scale.qMax = std::max(largest, 1e-3);
    scale.qMin = scale.qMax * 1e-5;
    return scale;
}

BlockGrid::BlockGrid(int32_t k, const std::vector<uint8_t>& kinds, int32_t nrows, int32_t ncols)
    : factor(k), rows((nrows + k - 1) / k), cols((ncols + k - 1) / k), blockOf(kinds.size()) {
    slotOf.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), -1);
    for (int32_t r = 0; r < nrows; ++r) {
        for (int32_t c = 0; c < ncols; ++c) {
            const std::size_t i = static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols) + static_cast<std::size_t>(c);
            const int32_t b = (r / k) * cols + c / k;
            blockOf[i] = b;
            if (kinds[i] == kViewerSlope) slotOf[static_cast<std::size_t>(b)] = 0;
        }
    }
    for (std::size_t b = 0; b < slotOf.size(); ++b) {
        if (slotOf[b] < 0) continue;
        slotOf[b] = static_cast<int32_t>(blocks.size());
        blocks.push_back(static_cast<int32_t>(b));
    }
}

std::vector<uint8_t> blockLevels(const BlockGrid& grid, const std::vector<uint8_t>& kinds, const float* frame,
                                 const LogScale& scale) {
    std::vector<double> sum(grid.blocks.size(), 0.0);
    std::vector<uint32_t> count(grid.blocks.size(), 0);
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (kinds[i] != kViewerSlope || frame[i] == kFillValue) continue;
        const std::size_t slot = static_cast<std::size_t>(grid.slotOf[static_cast<std::size_t>(grid.blockOf[i])]);
        sum[slot] += frame[i];
        ++count[slot];
    }
    std::vector<uint8_t> levels(grid.blocks.size(), 0);
    for (std::size_t s = 0; s < levels.size(); ++s) {
        if (count[s]) levels[s] = scale.level(sum[s] / count[s]);
    }
    return levels;
}

namespace {

uint64_t base64Size(uint64_t raw) { return (raw + 2) / 3 * 4; }

}  // namespace

ViewerPlan planViewer(const ViewerSizes& s, uint64_t budget) {
    const uint64_t hours = static_cast<uint64_t>(s.hours), frames10 = hours * 6;
    auto hourlyMaps = [&](int k) { return hours * s.slopeBlocks[static_cast<std::size_t>(k - 1)] + 4 * s.slopeBlocks[static_cast<std::size_t>(k - 1)]; };
    auto tenMinuteMaps = [&](int k) { return k == 0 ? 0 : frames10 * s.slopeBlocks[static_cast<std::size_t>(k - 1)] + 4 * s.slopeBlocks[static_cast<std::size_t>(k - 1)]; };
    const int kMax = static_cast<int>(s.slopeBlocks.size());
    ViewerPlan plan;
    plan.hourlyFactor = kMax;
    for (int k = 1; k <= kMax; ++k) {
        if (base64Size(s.fixedBytes + hourlyMaps(k)) <= budget * 7 / 10) {
            plan.hourlyFactor = k;
            break;
        }
    }
    const uint64_t base = s.fixedBytes + hourlyMaps(plan.hourlyFactor);
    const uint64_t exactTen = s.exactCells * frames10 * 4;
    plan.tenMinuteExact = base64Size(base + exactTen) <= budget * 85 / 100;
    const uint64_t withSeries = base + (plan.tenMinuteExact ? exactTen : s.exactCells * frames10);
    plan.tenMinuteFactor = 0;
    for (int k = plan.hourlyFactor; k <= kMax; ++k) {
        if (base64Size(withSeries + tenMinuteMaps(k)) <= budget &&
            tenMinuteMaps(k) <= 2 * hourlyMaps(plan.hourlyFactor)) {
            plan.tenMinuteFactor = k;
            break;
        }
    }
    plan.estimatedBytes = base64Size(withSeries + tenMinuteMaps(plan.tenMinuteFactor));
    return plan;
}

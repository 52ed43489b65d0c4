#include "depressionFill.h"

#include "flowCodes.h"

#include <cmath>
#include <limits>
#include <queue>

namespace {

struct FloodEntry {
    float level;
    uint64_t arrival;  // order of reaching the cell: breaks ties first come, first served
    int32_t cell;
};

// Lowest level first, then earliest arrival.
struct LaterOrHigher {
    bool operator()(const FloodEntry& a, const FloodEntry& b) const {
        if (a.level != b.level) return a.level > b.level;
        return a.arrival > b.arrival;
    }
};

}  // namespace

std::vector<uint8_t> floodSeeds(const DemGrid& grid) {
    std::vector<uint8_t> seed(grid.size(), 0);
    for (int r = 0; r < grid.nrows; ++r) {
        for (int c = 0; c < grid.ncols; ++c) {
            const std::size_t i = static_cast<std::size_t>(grid.index(r, c));
            if (!grid.hasData(i)) continue;
            bool edge = grid.isBorder(r, c);
            for (int code = 1; code <= 8 && !edge; ++code) {
                edge = !grid.hasData(
                    static_cast<std::size_t>(grid.index(r + kFlowRowStep[code], c + kFlowColStep[code])));
            }
            seed[i] = edge ? 1 : 0;
        }
    }
    return seed;
}

std::vector<float> fillDepressions(const DemGrid& grid) {
    std::vector<float> filled = grid.elevation;
    std::vector<uint8_t> reached = floodSeeds(grid);
    std::priority_queue<FloodEntry, std::vector<FloodEntry>, LaterOrHigher> open;
    uint64_t arrivals = 0;
    for (std::size_t i = 0; i < filled.size(); ++i) {
        if (reached[i]) open.push({filled[i], arrivals++, static_cast<int32_t>(i)});
    }
    const float up = std::numeric_limits<float>::infinity();
    while (!open.empty()) {
        const FloodEntry e = open.top();
        open.pop();
        const int r = e.cell / grid.ncols, c = e.cell % grid.ncols;
        for (int code = 1; code <= 8; ++code) {  // neighbours clockwise from the north
            const int rr = r + kFlowRowStep[code], cc = c + kFlowColStep[code];
            if (rr < 0 || rr >= grid.nrows || cc < 0 || cc >= grid.ncols) continue;
            const std::size_t n = static_cast<std::size_t>(grid.index(rr, cc));
            if (reached[n] || !grid.hasData(n)) continue;
            reached[n] = 1;
            // At least one float32 step above the cell it drains into: no flats, no pits.
            const float floor = std::nextafter(e.level, up);
            if (filled[n] < floor) filled[n] = floor;
            open.push({filled[n], arrivals++, static_cast<int32_t>(n)});
        }
    }
    return filled;
}

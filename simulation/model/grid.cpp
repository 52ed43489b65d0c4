#include "grid.h"

#include "flowCodes.h"

#include <algorithm>
#include <cmath>
#include <string>

void Cell::setGeometry(int r, int c, int nrows, int ncols, double yll, double xll, float elev, float s) {
    const float yllf = static_cast<float>(yll);
    const float xllf = static_cast<float>(xll);
    scale = s;
    // Corner plus whole cells in float32, then the half cell in double.
    const float southEdge = yllf * 3600.0f + static_cast<float>(nrows - r - 1) * s;
    latSec = static_cast<float>(static_cast<double>(southEdge) + static_cast<double>(s) * 0.5);
    const float westEdge = xllf * 3600.0f + static_cast<float>(c) * s;
    lonSec = static_cast<float>(static_cast<double>(westEdge) + static_cast<double>(s) * 0.5);
    dy = static_cast<float>(static_cast<double>(s) * 30.9);
    // float32 product of two float32 factors; the angle is in double with pi taken as 3.14.
    const float cosLat = static_cast<float>(std::cos(static_cast<double>(latSec) / 3600.0 / 180.0 * 3.14));
    dx = static_cast<float>(static_cast<double>(s) * 30.9) * cosLat;
    elevation = elev;
    if (r == 0 || r == nrows - 1 || c == 0 || c == ncols - 1) {
        isEdge = true;
        kind = kBorderCell;
    } else {
        isEdge = false;
        kind = kSlopeCell;
    }
}

void Cell::resetLinks() {
    downstream = kNoCell;
    upstream.fill(kNoCell);
    rainPoint = kNoCell;
}

void Cell::countUpstream() {
    numUpstream = 0;
    while (numUpstream < kMaxUpstream && upstream[static_cast<std::size_t>(numUpstream)] != kNoCell) ++numUpstream;
}

CellGrid::CellGrid(int32_t rows, int32_t cols)
    : nrows(rows), ncols(cols), cells(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols)) {}

int32_t downstreamOf(int r, int c, int code, int nrows, int ncols) {
    if (code < 1 || code > 8) return kNoCell;
    const int rr = r + kFlowRowStep[code];
    const int cc = c + kFlowColStep[code];
    if (rr < 0 || rr >= nrows || cc < 0 || cc >= ncols) return kNoCell;
    return rr * ncols + cc;
}

void linkDownstream(CellGrid& grid, int r, int c) {
    Cell& cell = grid.at(r, c);
    cell.downstream = downstreamOf(r, c, cell.flowDir, grid.nrows, grid.ncols);
}

void registerUpstream(CellGrid& grid, int32_t i) {
    const int32_t d = downstreamOf(grid.rowOf(i), grid.colOf(i), grid.flowDirAt(i), grid.nrows, grid.ncols);
    if (d == kNoCell || !grid.holds(d)) return;
    for (int32_t& slot : grid.cell(d).upstream) {
        if (slot == kNoCell) {
            slot = i;
            return;
        }
    }
}

std::string placeName(int32_t i, int nrows, int ncols) {
    return "column " + std::to_string(i % ncols + 1) + ", row " + std::to_string(nrows - i / ncols);
}

std::string cellName(const CellGrid& grid, int32_t i) { return placeName(i, grid.nrows, grid.ncols); }

bool isListedRiver(const std::vector<int32_t>& riverNumList, int32_t riverNum) {
    return std::find(riverNumList.begin(), riverNumList.end(), riverNum) != riverNumList.end();
}

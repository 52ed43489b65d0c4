#pragma once
// The study area: `nrows` x `ncols` cells, row 0 north, column 0 west, and the
// drainage network built from the eight-direction flow codes.
//
// Cells refer to one another by their index in the grid (row * ncols + column);
// -1 is the empty reference. Indices keep the records small and make the
// network safe to share between workers that each compute their own cells.

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct ModelParams;

inline constexpr int32_t kNoCell = -1;
inline constexpr int kMaxUpstream = 7;

enum CellKind : int32_t {
    kBorderCell = -1,
    kSlopeCell = 1,
    kChannelCell = 2,
    kDamCell = 99,
    kReservoirCell = 100,
};

// Length of a series of `perHour` values an hour over `days` days.
inline std::size_t seriesLength(int days, int perHour) {
    return static_cast<std::size_t>(days) * 24 * static_cast<std::size_t>(perHour);
}

// Float32 sum of `count` consecutive series values, added in time order.
inline float sumInOrder(const float* values, int count) {
    float sum = 0.0f;
    for (int i = 0; i < count; ++i) sum += values[i];
    return sum;
}

// Float32 mean of those values: their sum over the count as a float32.
inline float meanInOrder(const float* values, int count) {
    return sumInOrder(values, count) / static_cast<float>(count);
}

// Whether river number `riverNum` is one of the simulated rivers.
bool isListedRiver(const std::vector<int32_t>& riverNumList, int32_t riverNum);

// Position of step `step` of hour `hour` of day `day` in a per-step series.
inline std::size_t seriesIndex(int day, int hour, int step, int stepsPerHour) {
    return (static_cast<std::size_t>(day) * 24 + static_cast<std::size_t>(hour)) *
               static_cast<std::size_t>(stepsPerHour) +
           static_cast<std::size_t>(step);
}

struct Cell {
    // Geometry and topography.
    float latSec = 0.0f;  // latitude of the centre, arc-seconds
    float lonSec = 0.0f;  // longitude of the centre, arc-seconds
    float scale = 0.0f;   // cell size, arc-seconds
    int32_t flowDir = 0;  // 0 mouth, 1 north, clockwise to 8 north-west
    int32_t flowAcc = 0;  // contributing cells; zero or less: not simulated
    int32_t numUpstream = 0;
    int32_t riverNum = -1;  // negative: outside the simulated area
    float dx = 0.0f;        // east-west width, m
    float dy = 0.0f;        // north-south height, m
    float elevation = 0.0f;
    int32_t rainPoint = kNoCell;  // index into the rainfall grid
    int32_t downstream = kNoCell;
    std::array<int32_t, kMaxUpstream> upstream{kNoCell, kNoCell, kNoCell, kNoCell, kNoCell, kNoCell, kNoCell};
    int32_t kind = kBorderCell;
    bool isEdge = true;

    // Outflow at every calculation step, m3/s, indexed by seriesIndex(); one
    // block given when the cell's event starts and freed once the cells below
    // have read it (a dam or reservoir cell keeps it to the end).
    std::vector<float> dischargeSeries;

    // Kinematic-wave model: parameters, coefficients and geometry.
    double nr = 0.0;
    double ns = 0.0;
    double ka = 0.0;
    double da = 0.0;
    double dm = 0.0;
    double beta = 0.0;
    double va = 0.0;
    double vcdc = 0.0;
    double invChannelWidth = 0.0;
    double kinExponentFactor = 0.0;
    double flowLength = 0.0;
    double channelWidth = 0.0;
    double slopeSine = 0.0;
    int32_t spaceSteps = 0;
    double channelDx = 0.0;
    int32_t stepSeconds = 0;
    double fdWeight = 0.0;
    int32_t channelThreshold = 0;
    double slopeAlpha = 0.0;
    double channelAlpha = 0.0;
    double kinExponent = 0.0;
    double slopeLength = 0.0;
    double slopeWidth = 0.0;
    double slopeDx = 0.0;
    // Node arrays, spaceSteps + 1 values each, allocated once at set-up: the
    // previous step and the step in progress. The chan* arrays exist only for
    // channel cells.
    std::vector<double> chanQ, chanQNew;  // channel discharge, m3/s
    double lateralInflow = 0.0;           // rain inflow per unit slope length, m2/s
    std::vector<double> chanA, chanANew;  // channel flow area, m2
    std::vector<double> slopeQ, slopeQNew;  // slope discharge, m3/s

    // Inflow at every step of a dam or reservoir cell, m3/s, indexed like
    // dischargeSeries. Empty unless a dam or reservoir claims the cell
    // (allocateStructureSeries), so ordinary cells do not pay for it.
    std::vector<float> inflowSeries;

    // Sets the geometry of cell (r, c); the corner values are first rounded to
    // float32, the metric sizes use 30.9 m per arc-second and pi as 3.14.
    void setGeometry(int r, int c, int nrows, int ncols, double yll, double xll, float elevation, float s);
    // Empties the downstream and upstream links and the rainfall point.
    void resetLinks();
    // Number of filled upstream slots, counted from slot 0 to the first empty one.
    void countUpstream();
};

struct CellGrid {
    int32_t nrows = 0;
    int32_t ncols = 0;
    std::vector<Cell> cells;  // row-major, row 0 north; in a share, the held cells only (ascending index)

    // A share of the grid, as one process of a distributed run holds it: the
    // records of the cells it computes and of the few around them that it
    // reads, and for every cell only the topography and its rainfall point.
    // Empty `slots`: the whole grid is held, and the other share fields are empty.
    std::vector<int32_t> slots;   // per grid index: the place of its record in `cells`, or kNoCell
    std::vector<int32_t> owners;  // per held record: the process that computes the cell
    int32_t rank = 0;             // this process
    std::vector<int32_t> flowDirs, flowAccs, riverNums, rainPoints;  // per grid index
    std::vector<float> elevations;                                    // per grid index

    CellGrid() = default;
    CellGrid(int32_t rows, int32_t cols);

    int32_t index(int r, int c) const { return r * ncols + c; }
    Cell& at(int r, int c) { return cell(index(r, c)); }
    const Cell& at(int r, int c) const { return cell(index(r, c)); }
    int32_t rowOf(int32_t i) const { return i / ncols; }
    int32_t colOf(int32_t i) const { return i % ncols; }
    std::size_t cellCount() const { return static_cast<std::size_t>(nrows) * static_cast<std::size_t>(ncols); }

    bool isShare() const { return !slots.empty(); }
    // Whether the record of cell i is here; only such cells may be asked for.
    bool holds(int32_t i) const { return slots.empty() || slots[static_cast<std::size_t>(i)] != kNoCell; }
    // Whether this process computes cell i (every cell, without a share).
    bool owns(int32_t i) const {
        return slots.empty() || (holds(i) && owners[static_cast<std::size_t>(slots[static_cast<std::size_t>(i)])] == rank);
    }
    // The process that computes held cell i.
    int32_t ownerOf(int32_t i) const { return slots.empty() ? rank : owners[slotOf(i)]; }
    Cell& cell(int32_t i) { return cells[slotOf(i)]; }
    const Cell& cell(int32_t i) const { return cells[slotOf(i)]; }

    // The topography of any cell, held or not.
    int32_t flowAccAt(int32_t i) const { return slots.empty() ? cell(i).flowAcc : flowAccs[static_cast<std::size_t>(i)]; }
    int32_t riverNumAt(int32_t i) const { return slots.empty() ? cell(i).riverNum : riverNums[static_cast<std::size_t>(i)]; }
    int32_t flowDirAt(int32_t i) const { return slots.empty() ? cell(i).flowDir : flowDirs[static_cast<std::size_t>(i)]; }
    float elevationAt(int32_t i) const { return slots.empty() ? cell(i).elevation : elevations[static_cast<std::size_t>(i)]; }
    int32_t rainPointAt(int32_t i) const { return slots.empty() ? cell(i).rainPoint : rainPoints[static_cast<std::size_t>(i)]; }
    bool isEdgeAt(int32_t i) const {
        const int32_t r = rowOf(i), c = colOf(i);
        return r == 0 || r == nrows - 1 || c == 0 || c == ncols - 1;
    }

private:
    std::size_t slotOf(int32_t i) const {
        return static_cast<std::size_t>(slots.empty() ? i : slots[static_cast<std::size_t>(i)]);
    }
};

// The cell that cell (r, c) of a grid of nrows x ncols drains into by flow
// code `code`; kNoCell for codes outside 1..8 and for codes pointing out of the grid.
int32_t downstreamOf(int r, int c, int code, int nrows, int ncols);

// Sets the downstream link of cell (r, c) from its flow code; codes outside
// 1..8, and codes pointing out of the grid, leave it empty.
void linkDownstream(CellGrid& grid, int r, int c);
// Enters cell i (held or not) into the first empty upstream slot of the cell
// its flow code points to, if that cell is held; a full downstream cell
// (seven slots) takes nothing.
void registerUpstream(CellGrid& grid, int32_t i);

// Cell naming in messages: column number from 1 at the west, row number from 1 at the south.
std::string cellName(const CellGrid& grid, int32_t i);
// The same for grid index i of a grid of nrows x ncols, before there is a grid.
std::string placeName(int32_t i, int nrows, int ncols);

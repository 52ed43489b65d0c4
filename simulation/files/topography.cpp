#include "topography.h"

#include "inputError.h"
#include "paramFile.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>
#include <type_traits>

namespace {

bool isBlank(const std::string& line) {
    return line.find_first_not_of(" \t\r\v\f") == std::string::npos;
}

InputError riverListError(const std::string& what) {
    return InputError("Error: ./topoData/riverNumList.dat " + what + "\n");
}

// Opens a topography raster; the message names the file alone.
std::ifstream openRaster(const char* path, const char* name) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError(std::string(name) + " cannot open.\n");
    return in;
}

// Reads the first `count` values of a headerless raster of 4-byte values; a
// shorter file is an error.
std::vector<char> readRaster(std::ifstream& in, const char* path, std::size_t count) {
    std::vector<char> bytes(count * 4);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const std::size_t got = static_cast<std::size_t>(in.gcount()) / 4;
    if (got < count) {
        throw InputError("Error: " + std::string(path) + " is too short: it holds " + std::to_string(got) +
                         " values, the grid needs " + std::to_string(count) + ".\n");
    }
    return bytes;
}

template <typename T>
T valueAt(const std::vector<char>& bytes, std::size_t k) {
    T v;
    std::memcpy(&v, bytes.data() + 4 * k, 4);  // rasters are little-endian, like the host
    return v;
}

}  // namespace

std::vector<int32_t> readRiverList(std::istream& countPass, std::istream& readPass, std::ostream& out) {
    // Count the lines; blank lines after the last record are not rivers.
    std::size_t lines = 0, counted = 0;
    std::string line;
    while (std::getline(countPass, line)) {
        ++lines;
        if (!isBlank(line)) counted = lines;
    }
    out << "Number of rivers for simulation : " << counted << "\n\n";

    std::vector<int32_t> rivers;
    rivers.reserve(counted);
    for (std::size_t k = 0; k < counted; ++k) {
        int32_t number = 0, skipInt = 0;
        double skipReal = 0.0;
        bool ok = static_cast<bool>(readPass >> number);
        for (int n = 0; n < 5 && ok; ++n) ok = static_cast<bool>(readPass >> skipInt);
        for (int n = 0; n < 2 && ok; ++n) ok = static_cast<bool>(readPass >> skipReal);
        if (!ok) {
            throw riverListError("cannot read line " + std::to_string(k + 1) +
                                 ": each line needs eight numbers (river number, five integers, two reals).");
        }
        if (number < 0) {
            throw riverListError("holds the negative river number " + std::to_string(number) + " on line " +
                                 std::to_string(k + 1) + ".");
        }
        rivers.push_back(number);
    }
    return rivers;
}

std::vector<int32_t> readRiverList(std::ostream& out) {
    const char* path = "./topoData/riverNumList.dat";
    std::ifstream countPass(path);
    if (!countPass) throw InputError("riverNumList.dat cannot open.\n");
    std::ifstream readPass(path);
    if (!readPass) throw InputError("riverNumList.dat cannot open.\n");
    return readRiverList(countPass, readPass, out);
}

namespace {

InputError invalidFlowCode(int32_t code, const std::string& where) {
    return InputError("Error: ./topoData/flowDir.bin holds the invalid flow direction " + std::to_string(code) + " at " +
                      where + " (codes 0 to 8 only).\n");
}

bool isBorder(int32_t i, int nrows, int ncols) {
    const int r = i / ncols, c = i % ncols;
    return r == 0 || r == nrows - 1 || c == 0 || c == ncols - 1;
}

// The checks of the topography, in the order the network is built: a flow
// code outside 0..8 on a simulated non-border cell (south row first), then
// the elevation of every simulated non-border cell and of its downstream cell,
// neither of which may be NaN or infinite, as the slope is taken from them.
void checkRasters(const TopographyRasters& t, int nrows, int ncols) {
    for (int r = nrows - 1; r >= 0; --r) {
        for (int c = 0; c < ncols; ++c) {
            const std::size_t i = static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols) + static_cast<std::size_t>(c);
            if (t.riverNum[i] >= 0 && !isBorder(static_cast<int32_t>(i), nrows, ncols) &&
                (t.flowDir[i] < 0 || t.flowDir[i] > 8)) {
                throw invalidFlowCode(t.flowDir[i], placeName(static_cast<int32_t>(i), nrows, ncols));
            }
        }
    }
    auto check = [&](int32_t i) {
        if (!std::isfinite(t.elevation[static_cast<std::size_t>(i)])) {
            throw InputError("Error: ./topoData/modDem.bin holds a value that is not a finite number at " +
                             placeName(i, nrows, ncols) + ".\n");
        }
    };
    for (int32_t i = 0; i < nrows * ncols; ++i) {
        if (t.riverNum[static_cast<std::size_t>(i)] < 0 || isBorder(i, nrows, ncols)) continue;
        check(i);
        const int32_t d = downstreamOf(i / ncols, i % ncols, t.flowDir[static_cast<std::size_t>(i)], nrows, ncols);
        if (d != kNoCell) check(d);
    }
}

}  // namespace

void buildNetwork(CellGrid& grid) {
    for (int r = grid.nrows - 1; r >= 0; --r) {
        for (int c = 0; c < grid.ncols; ++c) {
            if (!grid.holds(grid.index(r, c))) continue;
            const Cell& cell = grid.at(r, c);
            if (cell.riverNum < 0) continue;
            if (!cell.isEdge && (cell.flowDir < 0 || cell.flowDir > 8)) {
                throw invalidFlowCode(cell.flowDir, cellName(grid, grid.index(r, c)));
            }
            linkDownstream(grid, r, c);
        }
    }
    // Upstream slots in row-major order of every cell draining in, held or not.
    const int32_t n = static_cast<int32_t>(grid.cellCount());
    for (int32_t i = 0; i < n; ++i) {
        if (grid.riverNumAt(i) >= 0 && !grid.isEdgeAt(i) && grid.flowDirAt(i) != 0) registerUpstream(grid, i);
    }
    for (Cell& cell : grid.cells) {
        if (cell.riverNum >= 0 && !cell.isEdge) cell.countUpstream();
    }
}

TopographyRasters readTopographyRasters(const ModelParams& params) {
    const std::size_t count = static_cast<std::size_t>(params.nrows) * static_cast<std::size_t>(params.ncols);
    const int nrows = params.nrows, ncols = params.ncols;
    TopographyRasters t;
    // Files run south row first; the rasters are kept in grid order (row 0 north).
    auto toGrid = [&](const std::vector<char>& bytes, auto& values) {
        using T = typename std::decay_t<decltype(values)>::value_type;
        values.resize(count);
        std::size_t k = 0;
        for (int r = nrows - 1; r >= 0; --r)
            for (int c = 0; c < ncols; ++c, ++k)
                values[static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols) + static_cast<std::size_t>(c)] =
                    valueAt<T>(bytes, k);
    };
    {
        std::ifstream demFile = openRaster("./topoData/modDem.bin", "modDem.bin");
        toGrid(readRaster(demFile, "./topoData/modDem.bin", count), t.elevation);
    }
    // Each file is opened and tested before the next, as the messages name them in this order.
    std::ifstream dirFile = openRaster("./topoData/flowDir.bin", "flowDir.bin");
    std::ifstream accFile = openRaster("./topoData/flowAcc.bin", "flowAcc.bin");
    std::ifstream numFile = openRaster("./topoData/riverNum.bin", "riverNum.bin");
    toGrid(readRaster(dirFile, "./topoData/flowDir.bin", count), t.flowDir);
    toGrid(readRaster(accFile, "./topoData/flowAcc.bin", count), t.flowAcc);
    toGrid(readRaster(numFile, "./topoData/riverNum.bin", count), t.riverNum);
    checkRasters(t, nrows, ncols);
    return t;
}

namespace {

// Every held cell's geometry and topography as the rasters give them; no links yet.
void setCellsFromRasters(CellGrid& grid, const TopographyRasters& t, const ModelParams& params) {
    const int32_t n = static_cast<int32_t>(grid.cellCount());
    for (int32_t i = 0; i < n; ++i) {
        if (!grid.holds(i)) continue;
        const std::size_t k = static_cast<std::size_t>(i);
        Cell& cell = grid.cell(i);
        cell.setGeometry(grid.rowOf(i), grid.colOf(i), grid.nrows, grid.ncols, params.yllcorner, params.xllcorner,
                         t.elevation[k], params.scale);
        cell.resetLinks();
        cell.flowDir = t.flowDir[k];
        cell.flowAcc = t.flowAcc[k];
        cell.riverNum = t.riverNum[k];
    }
}

}  // namespace

void readTopography(CellGrid& grid, const ModelParams& params) {
    setCellsFromRasters(grid, readTopographyRasters(params), params);
    buildNetwork(grid);
}

std::vector<int32_t> downstreamLinks(const TopographyRasters& t, int nrows, int ncols) {
    std::vector<int32_t> downstream(t.flowDir.size(), kNoCell);
    for (int32_t i = 0; i < nrows * ncols; ++i) {
        if (t.riverNum[static_cast<std::size_t>(i)] >= 0)
            downstream[static_cast<std::size_t>(i)] = downstreamOf(i / ncols, i % ncols, t.flowDir[static_cast<std::size_t>(i)], nrows, ncols);
    }
    return downstream;
}

void shareTopography(CellGrid& grid, TopographyRasters&& t, const HeldCells& held, int32_t rank,
                     const ModelParams& params) {
    grid.nrows = params.nrows;
    grid.ncols = params.ncols;
    grid.rank = rank;
    grid.slots.assign(static_cast<std::size_t>(grid.nrows) * static_cast<std::size_t>(grid.ncols), kNoCell);
    grid.cells.assign(held.cells.size(), Cell{});
    grid.owners = held.owners;
    for (std::size_t s = 0; s < held.cells.size(); ++s)
        grid.slots[static_cast<std::size_t>(held.cells[s])] = static_cast<int32_t>(s);
    setCellsFromRasters(grid, t, params);
    // The rasters stay for the cells that are not held; the links of those held read them.
    grid.flowDirs = std::move(t.flowDir);
    grid.flowAccs = std::move(t.flowAcc);
    grid.riverNums = std::move(t.riverNum);
    grid.elevations = std::move(t.elevation);
    buildNetwork(grid);
}


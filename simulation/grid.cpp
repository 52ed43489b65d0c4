#include "grid.h"

#include "flowCodes.h"
#include "inputError.h"
#include "paramFile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
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

void linkDownstream(CellGrid& grid, int r, int c) {
    Cell& cell = grid.at(r, c);
    cell.downstream = kNoCell;
    const int code = cell.flowDir;
    if (code < 1 || code > 8) return;
    const int rr = r + kFlowRowStep[code];
    const int cc = c + kFlowColStep[code];
    if (rr < 0 || rr >= grid.nrows || cc < 0 || cc >= grid.ncols) return;
    cell.downstream = grid.index(rr, cc);
}

void registerUpstream(CellGrid& grid, int32_t i) {
    const int32_t d = grid.cells[static_cast<std::size_t>(i)].downstream;
    if (d == kNoCell) return;
    for (int32_t& slot : grid.cells[static_cast<std::size_t>(d)].upstream) {
        if (slot == kNoCell) {
            slot = i;
            return;
        }
    }
}

std::string cellName(const CellGrid& grid, int32_t i) {
    return "column " + std::to_string(grid.colOf(i) + 1) + ", row " + std::to_string(grid.nrows - grid.rowOf(i));
}

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

void buildNetwork(CellGrid& grid) {
    const int32_t n = static_cast<int32_t>(grid.cells.size());
    for (int r = grid.nrows - 1; r >= 0; --r) {
        for (int c = 0; c < grid.ncols; ++c) {
            const Cell& cell = grid.at(r, c);
            if (cell.riverNum < 0) continue;
            if (!cell.isEdge && (cell.flowDir < 0 || cell.flowDir > 8)) {
                throw InputError("Error: ./topoData/flowDir.bin holds the invalid flow direction " +
                                 std::to_string(cell.flowDir) + " at " + cellName(grid, grid.index(r, c)) +
                                 " (codes 0 to 8 only).\n");
            }
            linkDownstream(grid, r, c);
        }
    }
    for (int32_t i = 0; i < n; ++i) {
        const Cell& cell = grid.cells[static_cast<std::size_t>(i)];
        if (cell.riverNum >= 0 && !cell.isEdge && cell.flowDir != 0) registerUpstream(grid, i);
    }
    for (Cell& cell : grid.cells) {
        if (cell.riverNum >= 0 && !cell.isEdge) cell.countUpstream();
    }
}

namespace {

// The slope of every simulated cell is taken from its own elevation and that
// of its downstream cell; neither may be NaN or infinite.
void checkElevations(const CellGrid& grid) {
    auto check = [&](int32_t i) {
        if (!std::isfinite(grid.cells[static_cast<std::size_t>(i)].elevation)) {
            throw InputError("Error: ./topoData/modDem.bin holds a value that is not a finite number at " +
                             cellName(grid, i) + ".\n");
        }
    };
    for (std::size_t i = 0; i < grid.cells.size(); ++i) {
        const Cell& cell = grid.cells[i];
        if (cell.riverNum < 0 || cell.isEdge) continue;
        check(static_cast<int32_t>(i));
        if (cell.downstream != kNoCell) check(cell.downstream);
    }
}

}  // namespace

void readTopography(CellGrid& grid, const ModelParams& params) {
    const std::size_t count = grid.cells.size();
    const int nrows = grid.nrows, ncols = grid.ncols;
    {
        std::ifstream demFile = openRaster("./topoData/modDem.bin", "modDem.bin");
        const std::vector<char> dem = readRaster(demFile, "./topoData/modDem.bin", count);
        std::size_t k = 0;
        for (int r = nrows - 1; r >= 0; --r) {
            for (int c = 0; c < ncols; ++c, ++k) {
                Cell& cell = grid.at(r, c);
                cell.setGeometry(r, c, nrows, ncols, params.yllcorner, params.xllcorner, valueAt<float>(dem, k),
                                 params.scale);
                cell.resetLinks();
            }
        }
    }
    // Each file is opened and tested before the next, as the messages name them in this order.
    std::ifstream dirFile = openRaster("./topoData/flowDir.bin", "flowDir.bin");
    std::ifstream accFile = openRaster("./topoData/flowAcc.bin", "flowAcc.bin");
    std::ifstream numFile = openRaster("./topoData/riverNum.bin", "riverNum.bin");
    const std::vector<char> dir = readRaster(dirFile, "./topoData/flowDir.bin", count);
    const std::vector<char> acc = readRaster(accFile, "./topoData/flowAcc.bin", count);
    const std::vector<char> num = readRaster(numFile, "./topoData/riverNum.bin", count);
    std::size_t k = 0;
    for (int r = nrows - 1; r >= 0; --r) {
        for (int c = 0; c < ncols; ++c, ++k) {
            Cell& cell = grid.at(r, c);
            cell.flowDir = valueAt<int32_t>(dir, k);
            cell.flowAcc = valueAt<int32_t>(acc, k);
            cell.riverNum = valueAt<int32_t>(num, k);
        }
    }
    buildNetwork(grid);
    checkElevations(grid);
}

bool isListedRiver(const std::vector<int32_t>& riverNumList, int32_t riverNum) {
    return std::find(riverNumList.begin(), riverNumList.end(), riverNum) != riverNumList.end();
}

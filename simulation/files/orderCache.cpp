#include "orderCache.h"

#include "inputError.h"
#include "paramFile.h"

#include <charconv>
#include <cstddef>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <string>

namespace {

const char* const kBasinPath = "./temp/numOfBasin.dat";
const char* const kOrderPath = "./temp/orderedCell.dat";

// Corner values equal within the smallest normal double count as the same grid.
bool sameCorner(double cached, double current) { return std::fabs(cached - current) <= kSmallestNormal; }

struct CacheHeader {
    int32_t ncols = -9999;
    int32_t nrows = -9999;
    double xllcorner = -9999.0;
    double yllcorner = -9999.0;
};

// Skips white space and reads one decimal integer as formatted extraction would.
bool nextInt(const char*& p, const char* end, int64_t& value) {
    while (p < end && (*p == ' ' || *p == '\n' || *p == '\t' || *p == '\r' || *p == '\v' || *p == '\f')) ++p;
    if (p < end && *p == '+') ++p;
    const auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc()) return false;
    p = next;
    return true;
}

std::string fileText(std::ifstream& in) {
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int32_t positiveCells(const CellGrid& grid) {
    int32_t count = 0;
    for (std::size_t i = 0; i < grid.cellCount(); ++i) count += grid.flowAccAt(static_cast<int32_t>(i)) > 0 ? 1 : 0;
    return count;
}

// Reads the group counts after the header; false when they are malformed or
// cannot belong to this grid.
bool readGroups(std::istream& in, const CellGrid& grid, CalcOrder& order) {
    CacheHeader skip;
    int64_t groupCount = 0, cellCount = 0;
    if (!(in >> skip.ncols >> skip.nrows >> skip.xllcorner >> skip.yllcorner >> groupCount >> cellCount)) return false;
    if (cellCount != positiveCells(grid) || groupCount < 0 || groupCount > cellCount) return false;
    int64_t sum = 0;
    order.groupSizes.resize(static_cast<std::size_t>(groupCount));
    for (int32_t& size : order.groupSizes) {
        int64_t value = 0;
        if (!(in >> value) || value < 1 || value > cellCount) return false;
        size = static_cast<int32_t>(value);
        sum += value;
    }
    if (sum != cellCount) return false;
    order.groupCount = static_cast<int32_t>(groupCount);
    order.cellCount = static_cast<int32_t>(cellCount);
    return true;
}

// Reads the entries; false unless they are every positive cell once, with the
// accumulation recorded for it, ascending, in runs matching the group sizes.
bool readEntries(const std::string& text, const CellGrid& grid, CalcOrder& order) {
    const char* p = text.data();
    const char* end = p + text.size();
    std::vector<bool> taken(grid.cellCount(), false);
    order.entries.resize(static_cast<std::size_t>(order.cellCount));
    std::size_t e = 0;
    int64_t groupValue = 0;  // the accumulation of the group so far, or of the previous group
    for (int32_t size : order.groupSizes) {
        for (int32_t k = 0; k < size; ++k, ++e) {
            int64_t acc = 0, row = 0, col = 0;
            if (!nextInt(p, end, acc) || !nextInt(p, end, row) || !nextInt(p, end, col)) return false;
            if (row < 0 || row >= grid.nrows || col < 0 || col >= grid.ncols) return false;
            const int32_t i = grid.index(static_cast<int>(row), static_cast<int>(col));
            if (taken[static_cast<std::size_t>(i)] || grid.flowAccAt(i) != acc) return false;
            if (k == 0 && e > 0 && acc <= groupValue) return false;
            if (k > 0 && acc != groupValue) return false;
            groupValue = acc;
            taken[static_cast<std::size_t>(i)] = true;
            order.entries[e] = {static_cast<int32_t>(row), static_cast<int32_t>(col)};
        }
    }
    return true;
}

void writeCache(const CellGrid& grid, const ModelParams& params, const CalcOrder& order, std::ostream& out) {
    std::ofstream basin(kBasinPath);
    if (!basin) throw InputError(std::string(kBasinPath) + " cannot open. Simulation ends\n");
    basin << params.ncols << '\n' << params.nrows << '\n' << std::setprecision(15) << params.xllcorner << '\n'
          << params.yllcorner << '\n' << order.groupCount << '\n' << order.cellCount << '\n';
    for (int32_t size : order.groupSizes) basin << size << '\n';
    basin.close();

    out << "Make calculation order data " << kOrderPath << '\n';
    std::ofstream cells(kOrderPath);
    if (!cells) throw InputError(std::string(kOrderPath) + " cannot open.\n");
    // One "accumulation row column" line per entry, formatted by hand for speed.
    std::string text;
    text.reserve(order.entries.size() * 20);
    char number[16];
    auto append = [&](int32_t v, char after) {
        const auto [last, ec] = std::to_chars(number, number + sizeof number, v);
        (void)ec;
        text.append(number, last);
        text.push_back(after);
    };
    for (const auto& [row, col] : order.entries) {
        append(grid.flowAccAt(grid.index(row, col)), ' ');
        append(row, ' ');
        append(col, '\n');
    }
    cells.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace

CalcOrder prepareCalcOrder(const CellGrid& grid, const ModelParams& params, std::ostream& out, bool mayWrite) {
    out << "Set simulation order of grid cells\n";
    CacheHeader header;
    {
        std::ifstream basin(kBasinPath);
        CacheHeader read;
        if (basin && basin >> read.ncols >> read.nrows >> read.xllcorner >> read.yllcorner) header = read;
    }
    const bool headerFits = header.ncols == params.ncols && header.nrows == params.nrows &&
                            sameCorner(header.xllcorner, params.xllcorner) &&
                            sameCorner(header.yllcorner, params.yllcorner);
    CalcOrder order;
    bool cached = false;
    if (headerFits) {
        // The cache is trusted only when it still describes this grid's
        // accumulations; a stale or damaged cache is rebuilt.
        std::ifstream basin(kBasinPath);
        if (readGroups(basin, grid, order)) {
            std::ifstream cells(kOrderPath);
            if (!cells) {
                out << "Read basinList data from " << kBasinPath << '\n';
                throw InputError(std::string(kOrderPath) + " cannot open.\n");
            }
            cached = readEntries(fileText(cells), grid, order);
        }
    }
    if (cached) {
        out << "Read basinList data from " << kBasinPath << '\n';
        out << "Read calculation order data from " << kOrderPath << "\n\n";
    } else {
        out << "Make basinList data " << kBasinPath << '\n';
        order = orderCells(grid);
        if (mayWrite) writeCache(grid, params, order, out);
    }
    out << "*** Number of different kind of cell accumulattion number : " << order.groupCount << '\n';
    out << "Number of calculation cell number : " << order.cellCount << '\n';
    out << "Total simulation time is " << params.days << " days.\n\n";
    return order;
}

// A cached order made for another topography can name cells the grid lacks.
void requireOrderFitsGrid(const CalcOrder& order, const CellGrid& grid) {
    bool fits = order.groupCount >= 0 && order.groupSizes.size() >= static_cast<std::size_t>(order.groupCount);
    std::size_t total = 0;
    for (int32_t g = 0; fits && g < order.groupCount; ++g) {
        const int32_t size = order.groupSizes[static_cast<std::size_t>(g)];
        fits = size >= 0;
        total += fits ? static_cast<std::size_t>(size) : 0;
    }
    fits = fits && total <= order.entries.size();
    for (const auto& entry : order.entries) {
        fits = fits && entry.first >= 0 && entry.first < grid.nrows && entry.second >= 0 && entry.second < grid.ncols;
    }
    if (!fits) {
        throw InputError("Error: the calculation order in ./temp/ does not fit the grid; delete "
                         "./temp/numOfBasin.dat to rebuild it. Simulation ends\n");
    }
}

#include "calcOrder.h"

#include "inputError.h"
#include "paramFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <string>

// The calculation order is defined by an exchange procedure over the cells in
// row-major order: for each position p, and each later position q in turn, the
// values at p and q are exchanged when A[p] > A[q]. Run directly it costs
// n^2 / 2 comparisons. The same result is computed here in O(n log n):
//
// Pass p carries a value along the sequence and leaves at p the smallest value
// it met. Seen as a pipeline, pass k takes the output stream of pass k - 1, so
// the passes can equally be fed one item at a time through all of them. The
// passes then hold the smallest, second smallest, ... items seen so far, in
// ascending order, and feeding in an item x of value v does exactly this: x
// joins the end of the run of items of value v, and every run of a value above
// v moves its first item to its end (the carried item swaps into the first
// item of each larger run and stays behind the equal ones). The final run of a
// value, read from its first item, is that value's order in the result.
//
// So each value's run is a cyclic list that receives its items in grid order
// and turns by one for every smaller item that arrives after it exists. The
// turns between two arrivals are counted with a Fenwick tree over the value
// ranks, and the insert positions are resolved backwards with a Fenwick tree
// of free slots.

namespace {

// Fenwick tree over counts, with a search for the k-th free slot.
struct CountTree {
    std::vector<int32_t> tree;
    explicit CountTree(std::size_t n) : tree(n + 1, 0) {}

    void add(std::size_t i, int32_t delta) {
        for (++i; i < tree.size(); i += i & (~i + 1)) tree[i] += delta;
    }
    // Sum of counts at positions [0, i).
    int64_t prefix(std::size_t i) const {
        int64_t s = 0;
        for (; i > 0; i -= i & (~i + 1)) s += tree[i];
        return s;
    }
    // The 0-based slot at which the running count first exceeds k.
    std::size_t findKth(int64_t k) const {
        std::size_t pos = 0;
        std::size_t step = 1;
        while (step * 2 < tree.size()) step *= 2;
        for (; step > 0; step /= 2) {
            const std::size_t next = pos + step;
            if (next < tree.size() && tree[next] <= k) {
                pos = next;
                k -= tree[next];
            }
        }
        return pos;
    }
};

// Final order of one value's items. `items` are the grid positions holding the
// value, ascending; `turns[i]` is the number of smaller items that arrive after
// item i and before item i + 1 (or the end).
void orderRun(const std::vector<int32_t>& items, const std::vector<int64_t>& turns, std::vector<int32_t>& result) {
    const std::size_t m = items.size();
    // Forward: the linear insert position of each item and the final head.
    std::vector<int64_t> insertAt(m);
    int64_t head = 0;
    for (std::size_t i = 0; i < m; ++i) {
        insertAt[i] = head;  // before the head, i.e. at the tail of the cyclic list
        const int64_t size = static_cast<int64_t>(i) + 1;
        head = (head + 1 + turns[i] % size) % size;
    }
    // Backward: an item inserted at index x of a list that later grows ends up
    // in the x-th slot left free by the items inserted after it.
    CountTree freeSlots(m);
    for (std::size_t s = 0; s < m; ++s) freeSlots.add(s, 1);
    std::vector<int32_t> linear(m);
    for (std::size_t i = m; i-- > 0;) {
        const std::size_t slot = freeSlots.findKth(insertAt[i]);
        linear[slot] = items[i];
        freeSlots.add(slot, -1);
    }
    // Read the cyclic list from its head.
    const std::size_t h = static_cast<std::size_t>(head);
    result.insert(result.end(), linear.begin() + static_cast<std::ptrdiff_t>(h), linear.end());
    result.insert(result.end(), linear.begin(), linear.begin() + static_cast<std::ptrdiff_t>(h));
}

}  // namespace

CalcOrder orderCells(const CellGrid& grid) {
    const std::size_t n = grid.cellCount();
    // Positions sorted by (value, position): each value's items in grid order.
    std::vector<uint64_t> keys(n);
    for (std::size_t q = 0; q < n; ++q) {
        const uint32_t biased = static_cast<uint32_t>(grid.flowAccAt(static_cast<int32_t>(q))) ^ 0x80000000u;
        keys[q] = (static_cast<uint64_t>(biased) << 32) | static_cast<uint64_t>(q);
    }
    std::sort(keys.begin(), keys.end());
    auto valueOf = [&](uint64_t key) { return static_cast<int32_t>(static_cast<uint32_t>(key >> 32) ^ 0x80000000u); };

    // Rank of every position, and the number of smaller items before it.
    std::vector<int32_t> rank(n);
    int32_t ranks = 0;
    for (std::size_t s = 0; s < n; ++s) {
        if (s > 0 && valueOf(keys[s]) != valueOf(keys[s - 1])) ++ranks;
        rank[static_cast<std::size_t>(keys[s] & 0xffffffffu)] = ranks;
    }
    std::vector<int64_t> smallerBefore(n);
    {
        CountTree seen(static_cast<std::size_t>(ranks) + 1);
        for (std::size_t q = 0; q < n; ++q) {
            smallerBefore[q] = seen.prefix(static_cast<std::size_t>(rank[q]));
            seen.add(static_cast<std::size_t>(rank[q]), 1);
        }
    }

    CalcOrder order;
    std::vector<int32_t> items, ordered;
    std::vector<int64_t> turns;
    for (std::size_t begin = 0; begin < n;) {
        const int32_t value = valueOf(keys[begin]);
        std::size_t end = begin;
        while (end < n && valueOf(keys[end]) == value) ++end;
        if (value > 0) {
            items.clear();
            turns.clear();
            for (std::size_t s = begin; s < end; ++s) items.push_back(static_cast<int32_t>(keys[s] & 0xffffffffu));
            // `begin` items in all are smaller than this value.
            for (std::size_t i = 0; i < items.size(); ++i) {
                const int64_t next = i + 1 < items.size() ? smallerBefore[static_cast<std::size_t>(items[i + 1])]
                                                          : static_cast<int64_t>(begin);
                turns.push_back(next - smallerBefore[static_cast<std::size_t>(items[i])]);
            }
            ordered.clear();
            orderRun(items, turns, ordered);
            for (int32_t q : ordered) order.entries.emplace_back(grid.rowOf(q), grid.colOf(q));
            order.groupSizes.push_back(static_cast<int32_t>(end - begin));
        }
        begin = end;
    }
    order.groupCount = static_cast<int32_t>(order.groupSizes.size());
    order.cellCount = static_cast<int32_t>(order.entries.size());
    return order;
}

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

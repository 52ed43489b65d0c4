#include "calcOrder.h"

#include <algorithm>
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

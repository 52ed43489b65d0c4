#include "clusterShare.h"

#include "paramFile.h"
#include "topography.h"

#include <algorithm>
#include <fstream>
#include <string>

namespace {

// Reads the (column, row) of each record of a structure list whose records
// hold `before` numbers before the column and `after` items after the row.
void readSites(const char* path, int before, int after, int32_t nrows, int32_t ncols, std::vector<int32_t>& sites) {
    std::ifstream in(path);
    long long count = 0;
    if (!(in >> count)) return;
    std::string item;
    for (long long record = 0; record < count; ++record) {
        for (int k = 0; k < before; ++k)
            if (!(in >> item)) return;
        long long column = 0, row = 0;
        if (!(in >> column >> row)) return;
        for (int k = 0; k < after; ++k)
            if (!(in >> item)) return;
        if (column >= 1 && column <= ncols && row >= 1 && row <= nrows)
            sites.push_back(static_cast<int32_t>((nrows - row) * ncols + (column - 1)));
    }
}

}  // namespace

std::vector<int32_t> structureSites(int32_t nrows, int32_t ncols) {
    std::vector<int32_t> sites;
    // Dam: number, kind, column, row, release, three storages, name.
    readSites("./input/dam.dat", 2, 5, nrows, ncols, sites);
    // Reservoir: number, column, row, storage constant, name.
    readSites("./input/reservoir.dat", 1, 2, nrows, ncols, sites);
    return sites;
}

std::vector<int64_t> cellWorks(const TopographyRasters& t, const ModelParams& params,
                               const std::vector<int32_t>& riverNumList, const std::vector<int32_t>& structures,
                               const CellWeights& weights) {
    std::vector<int32_t> rivers(riverNumList);
    std::sort(rivers.begin(), rivers.end());
    const int32_t nrows = params.nrows, ncols = params.ncols;
    std::vector<int64_t> work(t.flowAcc.size(), 0);
    for (int32_t r = 1; r < nrows - 1; ++r) {
        for (int32_t c = 1; c < ncols - 1; ++c) {
            const std::size_t i = static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols) + static_cast<std::size_t>(c);
            if (!std::binary_search(rivers.begin(), rivers.end(), t.riverNum[i])) continue;
            if (t.flowAcc[i] <= 0) {
                work[i] = 1;  // only a hand-made order computes it
            } else {
                work[i] = t.flowAcc[i] > params.channelThreshold ? weights.channel : weights.slope;
            }
        }
    }
    for (const int32_t i : structures)
        if (work[static_cast<std::size_t>(i)] > 0) work[static_cast<std::size_t>(i)] = weights.structure;
    return work;
}

HeldCells heldCells(const TopographyRasters& t, const std::vector<int32_t>& downstream, const Partition& partition,
                    int32_t rank, int32_t nrows, int32_t ncols) {
    const std::size_t n = partition.partOf.size();
    std::vector<char> held(n, 0);
    const auto border = [&](std::size_t i) {
        const int32_t r = static_cast<int32_t>(i) / ncols, c = static_cast<int32_t>(i) % ncols;
        return r == 0 || r == nrows - 1 || c == 0 || c == ncols - 1;
    };
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t d = downstream[i];
        const bool own = partition.partOf[i] == rank;
        if (own) held[i] = 1;
        if (own && d >= 0) held[static_cast<std::size_t>(d)] = 1;
        // A cell draining into an own cell, as the upstream links count them.
        if (d >= 0 && partition.partOf[static_cast<std::size_t>(d)] == rank && t.riverNum[i] >= 0 && !border(i) &&
            t.flowDir[i] != 0)
            held[i] = 1;
    }
    HeldCells result;
    for (std::size_t i = 0; i < n; ++i) {
        if (!held[i]) continue;
        result.cells.push_back(static_cast<int32_t>(i));
        result.owners.push_back(partition.partOf[i]);
    }
    return result;
}

HeldCells chooseShare(const TopographyRasters& rasters, const std::vector<int32_t>& riverNumList,
                      const ModelParams& params, int32_t rank, int32_t ranks) {
    const std::vector<int32_t> downstream = downstreamLinks(rasters, params.nrows, params.ncols);
    const std::vector<int64_t> works =
        cellWorks(rasters, params, riverNumList, structureSites(params.nrows, params.ncols));
    const Partition partition = partitionCells(downstream, works, ranks);
    return heldCells(rasters, downstream, partition, rank, params.nrows, params.ncols);
}

RunShare processShare(Peers& peers) {
    return RunShare{peers, [&peers](const TopographyRasters& rasters, const std::vector<int32_t>& rivers,
                                    const ModelParams& params) {
                        return chooseShare(rasters, rivers, params, peers.rank, peers.ranks);
                    }};
}

// The partition of a continent-sized run among processes, without MPI: draws
// the sample landscape at COLS x ROWS (default 3200 x 3200, about 1e7 cells
// in many basins), prepares its topography, weighs every cell by its kind and
// splits the work into 16, 64, 256 and 1024 parts (or the counts given). For
// each it reports the largest part's work over the mean, the links cut
// between parts, the bytes of series they send for the sample's event (two
// days of 60 s steps), the critical path in cells, and the time it took.
//
// Usage: partitionBench [COLS ROWS [PARTS...]]

#include "clusterShare.h"
#include "paramFile.h"
#include "partition.h"
#include "sampleBasin.h"
#include "topoFiles.h"
#include "topography.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    const int32_t cols = argc > 2 ? std::atoi(argv[1]) : 3200;
    const int32_t rows = argc > 2 ? std::atoi(argv[2]) : 3200;
    std::vector<int32_t> counts;
    for (int k = 3; k < argc; ++k) counts.push_back(std::atoi(argv[k]));
    if (counts.empty()) counts = {16, 64, 256, 1024};

    auto start = std::chrono::steady_clock::now();
    const DemGrid dem = makeSampleDem(cols, rows);
    TopoData topo = prepareTopoData(dem, 100, 0);
    const ModelParams params = sampleParams(dem);
    const double prepared = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    TopographyRasters rasters;
    rasters.elevation = std::move(topo.modDem);
    rasters.flowDir = std::move(topo.flowDir);
    rasters.flowAcc = std::move(topo.flowAcc);
    rasters.riverNum = std::move(topo.riverNum);
    std::vector<int32_t> rivers;
    for (std::size_t b = 0; b < topo.basins.size(); ++b) rivers.push_back(static_cast<int32_t>(b));
    const std::vector<int32_t> downstream = downstreamLinks(rasters, rows, cols);
    const std::vector<int64_t> works = cellWorks(rasters, params, rivers, {});
    int64_t computed = 0;
    for (const int64_t w : works) computed += w > 0 ? 1 : 0;
    const double seriesBytes = static_cast<double>(params.days) * 24.0 * params.stepsPerHour * 4.0;

    std::printf("sample landscape %d x %d: %lld computed cells in %zu basins (prepared in %.1f s)\n", cols, rows,
                static_cast<long long>(computed), topo.basins.size(), prepared);
    std::printf("series of %d day(s) at %d s: %.0f bytes per cut link\n\n", params.days, params.stepSeconds, seriesBytes);
    std::printf("%6s %10s %16s %10s %14s %18s %9s\n", "parts", "pieces", "largest/mean", "cut links", "series MB",
                "critical path", "seconds");
    for (const int32_t parts : counts) {
        start = std::chrono::steady_clock::now();
        const Partition partition = partitionCells(downstream, works, parts);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const PartitionFigures f = partitionFigures(downstream, works, partition);
        std::printf("%6d %10lld %16.4f %10lld %14.1f %18lld %9.2f\n", parts, static_cast<long long>(partition.pieces),
                    f.largestOverMean, static_cast<long long>(f.cutLinks),
                    static_cast<double>(f.cutLinks) * seriesBytes / 1e6, static_cast<long long>(f.criticalPathCells),
                    seconds);
    }
    std::printf("\nlongest flow path: %lld cells (no partition can wait less)\n",
                static_cast<long long>(partitionFigures(downstream, works, partitionCells(downstream, works, 1)).longestFlowPath));
    return 0;
}

// The distributed run with its processes as threads of the test: on random
// projects, process 0's console, the exit status and every file in temp/ and
// output/ are those of the run in one process, for 2 to 4 processes. Every
// process's part of a basin cut into many parts, dams and reservoirs on cut
// links and runs that stop in the loop come up among the seeds. Also the
// partition itself: connected pieces, every computed cell in one part, and
// the balance.

#include "clusterShare.h"
#include "driver.h"
#include "partition.h"
#include "randomProject.h"
#include "inputError.h"
#include "runRecord.h"
#include "threadPeers.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <thread>

namespace {

// The project of `seed` run by `ranks` processes (threads here) of `threads` threads each.
RunRecord runShared(uint64_t seed, int ranks, int threads) {
    ScratchDir dir(kRandomProjectDirs);
    writeRandomProject(seed);
    ThreadPeersHub hub(ranks);
    std::vector<RunResult> results(static_cast<std::size_t>(ranks));
    std::vector<std::thread> processes;
    for (int rank = 0; rank < ranks; ++rank) {
        processes.emplace_back([&, rank] {
            Peers peers = hub.peers(rank);
            RunShare share = processShare(peers);
            RunOptions options;
            options.threads = threads;
            results[static_cast<std::size_t>(rank)] =
                runCaptured([&](std::ostream& out) { return runSimulation(out, options, &share); });
        });
    }
    for (std::thread& process : processes) process.join();
    // The others' consoles are not shown (runoffSimMpi gives them a stream that drops everything).
    for (int rank = 1; rank < ranks; ++rank)
        EXPECT_EQ(results[static_cast<std::size_t>(rank)].status, results[0].status) << "seed " << seed;
    return recordRun(results[0]);
}

RunRecord runAlone(uint64_t seed) {
    ScratchDir dir(kRandomProjectDirs);
    writeRandomProject(seed);
    RunOptions options;
    return recordRun(runCaptured([&](std::ostream& out) { return runSimulation(out, options); }));
}

TEST(ClusterRun, AnyNumberOfProcessesGivesTheConsoleAndFilesOfOne) {
    const std::vector<uint64_t> seeds = differentialSeeds(10);
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t k = 0; k < seeds.size() && !seedTimeUp(start, k); ++k) {
        const uint64_t seed = seeds[k];
        const RunRecord alone = runAlone(seed);
        for (const int ranks : {2, 3, 4}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(ranks) + " processes");
            ASSERT_NO_FATAL_FAILURE(assertSameRun(runShared(seed, ranks, 1 + static_cast<int>(k % 2)), alone));
        }
    }
}

// A stop on one process only (a cache it cannot read, memory) stops every
// process: process 0 with the message of the lowest process that stopped,
// the others silently; a step where nobody stops goes on everywhere.
TEST(ClusterRun, OneProcessStoppingStopsAllWithOneMessage) {
    const auto outcome = [](int ranks, const std::function<void(int rank)>& body) {
        ThreadPeersHub hub(ranks);
        std::vector<std::string> said(static_cast<std::size_t>(ranks), "went on");
        std::vector<std::thread> processes;
        for (int rank = 0; rank < ranks; ++rank) {
            processes.emplace_back([&, rank] {
                Peers peers = hub.peers(rank);
                try {
                    agreeOrStop(peers, [&] { body(rank); });
                } catch (const InputError& error) {
                    said[static_cast<std::size_t>(rank)] = "stopped: " + error.message;
                } catch (const std::bad_alloc&) {
                    said[static_cast<std::size_t>(rank)] = "out of memory";
                }
            });
        }
        for (std::thread& process : processes) process.join();
        return said;
    };
    using Said = std::vector<std::string>;
    EXPECT_EQ(outcome(3, [](int) {}), (Said{"went on", "went on", "went on"}));
    EXPECT_EQ(outcome(3, [](int rank) { if (rank >= 1) throw InputError("rank " + std::to_string(rank) + "\n"); }),
              (Said{"stopped: rank 1\n", "stopped: ", "stopped: "}));
    EXPECT_EQ(outcome(3, [](int rank) { if (rank == 2) throw std::bad_alloc(); }),
              (Said{"out of memory", "stopped: ", "stopped: "}));
}

// A random forest over n cells with random work; some cells without work.
void randomForest(std::mt19937_64& gen, int n, std::vector<int32_t>& downstream, std::vector<int64_t>& weight) {
    downstream.assign(static_cast<std::size_t>(n), -1);
    weight.assign(static_cast<std::size_t>(n), 0);
    for (int i = 1; i < n; ++i)
        if (gen() % 20 != 0) downstream[static_cast<std::size_t>(i)] = static_cast<int32_t>(gen() % static_cast<uint64_t>(i));
    for (int i = 0; i < n; ++i) weight[static_cast<std::size_t>(i)] = gen() % 10 == 0 ? 0 : 1 + static_cast<int64_t>(gen() % 16);
    if (n > 3) downstream[0] = 2;  // a circle of flow codes: 0 -> 2 -> (something below 2) ...
}

TEST(Partition, PiecesAreConnectedAndEveryCellWithWorkHasOnePart) {
    std::mt19937_64 gen(std::random_device{}());
    for (int round = 0; round < 40; ++round) {
        std::vector<int32_t> downstream;
        std::vector<int64_t> weight;
        const int n = 1 + static_cast<int>(gen() % 3000);
        randomForest(gen, n, downstream, weight);
        const int32_t parts = 1 + static_cast<int32_t>(gen() % 40);
        const Partition p = partitionCells(downstream, weight, parts);
        std::map<int32_t, int> mouths;  // per piece: cells whose downstream cell lies in another piece
        for (int i = 0; i < n; ++i) {
            const std::size_t k = static_cast<std::size_t>(i);
            ASSERT_EQ(p.partOf[k] >= 0, weight[k] > 0) << "round " << round;
            if (weight[k] <= 0) continue;
            ASSERT_LT(p.partOf[k], parts);
            const int32_t d = downstream[k];
            const bool inside = d >= 0 && weight[static_cast<std::size_t>(d)] > 0 && p.pieceOf[static_cast<std::size_t>(d)] == p.pieceOf[k];
            if (!inside) ++mouths[p.pieceOf[k]];
            if (inside) {
                ASSERT_EQ(p.partOf[static_cast<std::size_t>(d)], p.partOf[k]);
            }
        }
        // A connected piece of a tree has one mouth; a circle cut open adds at most one more piece mouth.
        int extra = 0;
        for (const auto& [piece, count] : mouths) extra += count - 1;
        EXPECT_LE(extra, 1) << "round " << round;
    }
}

TEST(Partition, ManySmallBasinsAndOneLargeOneBalance) {
    std::mt19937_64 gen(7);
    std::vector<int32_t> downstream;
    std::vector<int64_t> weight;
    randomForest(gen, 200000, downstream, weight);
    int64_t cells = 0;
    for (const int64_t w : weight) cells += w > 0 ? 1 : 0;
    for (const int32_t parts : {2, 16, 64}) {
        const Partition p = partitionCells(downstream, weight, parts);
        const PartitionFigures f = partitionFigures(downstream, weight, p);
        EXPECT_LE(f.largestOverMean, 1.05) << parts << " parts";
        // A run takes at least a mean part, and here waiting adds little to it.
        EXPECT_GE(f.criticalPathCells + 1, cells / parts) << parts << " parts";
        EXPECT_LE(f.criticalPathCells, 2 * cells / parts) << parts << " parts";
    }
}

}  // namespace

// The whole run on random projects with 1, 2, 3 and 8 threads: the console,
// the exit status and every file in temp/ and output/ are the same.

#include "driver.h"
#include "randomProject.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

namespace {

struct RunRecord {
    int status = 0;
    std::string console;
    std::map<std::string, std::string> files;  // path under the project -> bytes
};

RunRecord runRandomProject(uint64_t seed, int threads) {
    ScratchDir dir(kRandomProjectDirs);
    writeRandomProject(seed);
    RunOptions options;
    options.threads = threads;
    const RunResult r = runCaptured([&](std::ostream& out) { return runSimulation(out, options); });
    RunRecord record{r.status, r.output, {}};
    for (const char* top : {"temp", "output"})
        for (const auto& entry : std::filesystem::recursive_directory_iterator(top))
            if (entry.is_regular_file()) record.files[entry.path().string()] = readFile(entry.path().string());
    return record;
}

TEST(ParallelRun, AnyThreadCountGivesTheSameConsoleAndFiles) {
    const uint64_t base = std::random_device{}();
    int stopped = 0;
    for (uint64_t k = 0; k < 16; ++k) {
        const uint64_t seed = base + k;
        const RunRecord serial = runRandomProject(seed, 1);
        stopped += serial.status;
        for (int threads : {2, 3, 8}) {
            const RunRecord parallel = runRandomProject(seed, threads);
            ASSERT_EQ(parallel.status, serial.status) << "seed " << seed << ", " << threads << " threads";
            ASSERT_EQ(parallel.console, serial.console) << "seed " << seed << ", " << threads << " threads";
            ASSERT_EQ(parallel.files.size(), serial.files.size()) << "seed " << seed;
            for (const auto& [path, bytes] : serial.files)
                ASSERT_TRUE(parallel.files.count(path) && parallel.files.at(path) == bytes)
                    << path << " differs: seed " << seed << ", " << threads << " threads";
        }
    }
    RecordProperty("stoppedRuns", stopped);
}

}  // namespace

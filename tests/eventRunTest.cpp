// Runs of chosen cells of an event held in memory, against runoffSim: on random
// projects (parameter maps, dams and reservoirs upstream, repeated cells in
// the order) and random parameter values, the hourly means of the chosen
// cells equal, bit for bit, dischargeHourlyMean.bin of runoffSim run on a copy
// of the project whose parameter file (and maps) hold those values.

#include "driver.h"
#include "event.h"
#include "eventPlan.h"
#include "randomProject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

std::string exact(double v) {
    std::ostringstream text;
    text.precision(17);
    text << v;
    return text.str();
}

// Rewrites the project so that it holds the changed values: the parameter
// file's value, or every value of the map times the factor.
void writeChangedProject(const ParamChange& change) {
    std::vector<std::string> words = wordsOf("param-hsx-event-ver400.dat");
    for (int k = 0; k < kParamCount; ++k) {
        if (!change.given[k]) continue;
        std::string& word = words[static_cast<std::size_t>(k == kROFinitial ? ParamText::kROFinitial : ParamText::kNs + k)];
        if (std::stod(word) >= 0.0) {
            word = exact(change.value[k]);
            continue;
        }
        const std::string path = std::string("paramData/param_dist_") + kParamKeys[k] + ".dat";
        std::istringstream in(readFile(path));
        std::string map, label, value;
        for (int h = 0; h < 6 && in >> label >> value; ++h) map += label + " " + value + "\n";
        for (double v; in >> v;) map += exact(v * change.value[k]) + " ";
        writeText(path, map);
    }
    std::string text;
    for (const std::string& w : words) text += w + "\n";
    writeText("param-hsx-event-ver400.dat", text);
}

TEST(EventRun, ChosenCellsEqualRunoffSimWithTheSameValues) {
    const std::vector<uint64_t> seeds = differentialSeeds(30);
    int compared = 0, taken = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const uint64_t seed : seeds) {
        if (seedTimeUp(start, static_cast<std::size_t>(taken), 10)) break;
        ++taken;
        SCOPED_TRACE("seed " + std::to_string(seed));
        ScratchDir dir(kRandomProjectDirs);
        writeRandomProject(seed);
        Event event;
        try {
            event = loadEvent(".");
        } catch (const InputError&) {
            continue;  // a project runoffSim refuses before its loop
        }
        std::mt19937_64 gen(seed);
        const auto real = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(gen); };
        // Targets: up to three computed cells of the order.
        std::vector<int32_t> candidates;
        for (const auto& [r, c] : event.order.entries) {
            const int32_t i = event.grid.index(r, c);
            if (computesCell(event.grid.cell(i), event.riverNumList) &&
                std::find(candidates.begin(), candidates.end(), i) == candidates.end())
                candidates.push_back(i);
        }
        if (candidates.empty()) continue;
        std::shuffle(candidates.begin(), candidates.end(), gen);
        candidates.resize(std::min<std::size_t>(candidates.size(), 1 + gen() % 3));
        ParamChange change;
        // A value near the project's own, or a factor near 1 of its map.
        const CellValues file = paramFileValues(event.params);
        for (int p = 0; p < kParamCount; ++p) {
            change.given[p] = gen() % 2 == 0;
            change.value[p] = (file[p] < 0.0 ? 1.0 : file[p]) * real(0.7, 1.3);
        }
        const SelectionRun run = runSelection(event, selectUpstream(event, candidates), change);

        writeChangedProject(change);
        RunOptions options;
        options.threads = 1;
        const RunResult whole = runCaptured([&](std::ostream& out) { return runSimulation(out, options); });
        if (whole.status != 0) continue;  // stopped somewhere, maybe outside the chosen cells
        ASSERT_FALSE(run.stopped) << run.message;
        const std::vector<float> hourly = readBinary<float>("output/dischargeHourlyMean.bin");
        const std::size_t frame = event.grid.cellCount();
        for (std::size_t t = 0; t < candidates.size(); ++t) {
            const int32_t i = candidates[t];
            const std::size_t at = static_cast<std::size_t>(event.grid.nrows - 1 - event.grid.rowOf(i)) *
                                       static_cast<std::size_t>(event.grid.ncols) +
                                   static_cast<std::size_t>(event.grid.colOf(i));
            ASSERT_EQ(run.hourlyMeans[t].size() * frame, hourly.size());
            for (std::size_t h = 0; h < run.hourlyMeans[t].size(); ++h)
                ASSERT_EQ(std::memcmp(&run.hourlyMeans[t][h], &hourly[h * frame + at], sizeof(float)), 0)
                    << cellName(event.grid, i) << " hour " << h;
        }
        ++compared;
    }
    EXPECT_GT(compared, taken / 3);
}

}  // namespace

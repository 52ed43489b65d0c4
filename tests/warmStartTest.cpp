// Warm starts. The split run on random projects: a run that saves its state
// at hour H gives the files of the whole run, and a run of the rest of the
// event from that state gives, byte for byte, every frame of the discharge
// files and every row of the dam and reservoir tables (but its hour number)
// of the whole run from hour H + 1 on; so do runs of chosen cells of the rest
// held in memory. The state is the same for 1, 2 and 3 threads. And every
// refusal of a state that does not belong to the project.

#include "driver.h"
#include "eventPlan.h"
#include "event.h"
#include "randomProject.h"
#include "runRecord.h"
#include "stateFile.h"
#include "warmProject.h"
#include "warmStart.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <set>

namespace {

RunRecord runHere(const RunOptions& options) {
    return recordRun(runCaptured([&](std::ostream& out) { return runSimulation(out, options); }));
}

RunOptions optionsOf(int threads, const std::string& save = "", int saveAt = 0, const std::string& initial = "") {
    RunOptions options;
    options.threads = threads;
    options.saveState = save;
    options.saveAt = saveAt;
    options.initialState = initial;
    return options;
}

// Whether the project's cached order, if it has one, runs a cell twice: the
// second event continues the first, which a split cannot reproduce.
bool orderRepeatsCells() {
    std::ifstream in("temp/orderedCell.dat");
    std::set<std::pair<int, int>> seen;
    for (int acc, r, c; in >> acc >> r >> c;)
        if (!seen.insert({r, c}).second) return true;
    return false;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Asserts that `warm`, a run of the rest after hour `hour`, shows from its
// first hour what `whole` (of `hours` hours) shows from hour `hour` + 1 on.
void assertContinues(const RunRecord& warm, const RunRecord& whole, int hour, int hours, std::size_t frameBytes) {
    ASSERT_EQ(warm.status, 0) << warm.console.substr(warm.console.size() > 300 ? warm.console.size() - 300 : 0);
    const std::size_t rest = static_cast<std::size_t>(hours - hour);
    for (const auto& [name, framesPerHour] : {std::pair<std::string, std::size_t>{"output/dischargeHourlyMean.bin", 1},
                                              {"output/discharge10minMean.bin", 6},
                                              {"output/discharge10minSnapshot.bin", 6}}) {
        const std::size_t bytes = framesPerHour * frameBytes;
        ASSERT_TRUE(warm.files.count(name) && whole.files.count(name)) << name;
        ASSERT_EQ(warm.files.at(name).substr(0, rest * bytes), whole.files.at(name).substr(hour * bytes, rest * bytes))
            << name;
    }
    for (const auto& [name, text] : whole.files) {
        if (name.find("Data/") == std::string::npos) continue;  // the dam and reservoir tables
        ASSERT_TRUE(warm.files.count(name)) << name;
        const std::vector<std::string> a = linesOf(warm.files.at(name)), b = linesOf(text);
        for (std::size_t k = 0; k < rest; ++k)
            ASSERT_EQ(a[k].substr(a[k].find('\t')), b[hour + k].substr(b[hour + k].find('\t'))) << name << " hour " << hour + k + 1;
    }
}

// Runs of up to three computed cells of the rest, held in memory and started
// from the state, give the whole run's hourly means from hour `hour` + 1 on.
void assertEventContinues(const std::filesystem::path& dir, const std::string& state, const RunRecord& whole,
                          int hour, int hours, std::mt19937_64& gen) {
    Event event = loadEvent(dir.string());
    startFromState(event, state);
    std::vector<int32_t> computed;
    for (std::size_t e = 0; e < event.order.entries.size(); ++e) {
        const int32_t i = event.grid.index(event.order.entries[e].first, event.order.entries[e].second);
        if (computesCell(event.grid.cell(i), event.riverNumList)) computed.push_back(i);
    }
    if (computed.empty()) return;
    std::vector<int32_t> targets;
    for (int k = 0; k < 3; ++k) targets.push_back(computed[gen() % computed.size()]);
    std::sort(targets.begin(), targets.end());
    targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
    const SelectionRun run = runSelection(event, selectUpstream(event, targets), ParamChange{});
    ASSERT_FALSE(run.stopped) << run.message;
    const std::string& hourly = whole.files.at("output/dischargeHourlyMean.bin");
    const std::size_t cells = event.grid.cellCount();
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const int32_t i = targets[t];
        const std::size_t position = static_cast<std::size_t>((event.grid.nrows - 1 - event.grid.rowOf(i)) * event.grid.ncols + event.grid.colOf(i));
        for (int h = 0; h < hours - hour; ++h) {
            float expected = 0.0f;
            std::memcpy(&expected, hourly.data() + 4 * ((static_cast<std::size_t>(hour + h)) * cells + position), 4);
            ASSERT_EQ(std::memcmp(&run.hourlyMeans[t][static_cast<std::size_t>(h)], &expected, 4), 0)
                << cellName(event.grid, i) << " hour " << hour + h + 1;
        }
    }
}

TEST(WarmStart, ASplitRunGivesTheWholeRunFromTheSplitHourOn) {
    int split = 0;
    const std::vector<uint64_t> seeds = differentialSeeds(10);
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t k = 0; k < seeds.size() && !seedTimeUp(start, k); ++k) {
        const uint64_t seed = seeds[k];
        std::mt19937_64 gen(seed);
        ScratchDir whole(kRandomProjectDirs);
        writeRandomProject(seed);
        if (orderRepeatsCells()) continue;
        ParamText p;
        p.values = wordsOf("param-hsx-event-ver400.dat");
        const int hours = std::stoi(p[ParamText::kDays]) * 24;
        const std::size_t frameBytes = 4 * std::stoul(p[ParamText::kNcols]) * std::stoul(p[ParamText::kNrows]);
        runHere(optionsOf(1));  // the caches of temp/, which every later run reads
        const RunRecord wholeRun = runHere(optionsOf(1));
        const int random = 1 + static_cast<int>(gen() % static_cast<uint64_t>(hours));
        for (const int hour : {random, 1, hours}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", state at hour " + std::to_string(hour));
            // Saving changes nothing of the run; the state does not depend on the thread count.
            std::string state;
            for (const int threads : {1, 2, 3}) {
                if (hour != random && threads != 1 + hour % 3) continue;
                std::filesystem::remove("state.bin");
                ASSERT_NO_FATAL_FAILURE(assertSameRun(runHere(optionsOf(threads, "state.bin", hour)), wholeRun));
                ASSERT_EQ(std::filesystem::exists("state.bin"), wholeRun.status == 0);
                if (wholeRun.status != 0) break;
                if (!state.empty()) {
                    ASSERT_EQ(readFile("state.bin"), state) << threads << " threads";
                }
                state = readFile("state.bin");
            }
            if (wholeRun.status != 0) break;
            // The rest of the event, from the state.
            ScratchDir rest(kRandomProjectDirs);
            writeRandomProject(seed);
            startProjectAtHour(hour);
            writeText("state.bin", state);
            const RunRecord warm = runHere(optionsOf(1 + static_cast<int>(gen() % 3), "", 0, "state.bin"));
            ASSERT_NO_FATAL_FAILURE(assertContinues(warm, wholeRun, hour, hours, frameBytes));
            ASSERT_NO_FATAL_FAILURE(assertEventContinues(rest.path, "state.bin", wholeRun, hour, hours, gen));
            ++split;
        }
    }
    RecordProperty("splitRuns", split);
}

// The Ka map of the small project; `bump` is added to the value of column 3, row 3.
std::string kaMap(double bump) {
    std::string map = "ncols 5\nnrows 4\nxllcorner 135.0\nyllcorner 35.0\ncellsize 0.00833\nNODATA_value -9999\n";
    for (int k = 0; k < 20; ++k) map += std::to_string(0.001 * (1 + k % 3) + (k == 7 ? bump : 0.0)) + " ";
    return map;
}

// Writes the small basin with a dam, a reservoir and a Ka map into the
// current directory: the project, or its topography, parameters and map
// as they were.
void writeSmallProject() {
    smallBasin().write();
    ParamText p;
    p[ParamText::kKa] = "-1";
    writeText(kModelParamPath, p.text());
    writeText("paramData/param_dist_Ka.dat", kaMap(0.0));
    std::string rain;
    for (int f = 0; f < 144; ++f) rain += "2026 7 1 0 0 0 " + std::to_string(f) + " 5 " + std::to_string(f % 20) + " 3 0\n";
    writeText("input/rain10min.dat", rain);
    writeText("input/dam.dat", "1\n1 1 2 2 1.0 0 1000 5000 damA\n");
    writeText("input/reservoir.dat", "1\n1 4 3 3600 resA\n");
}

// The state file decoded, changed by `change`, and encoded again with a good checksum.
std::string edited(const std::string& bytes, const std::function<void(StateFile&)>& change) {
    StateFile file = decodeState(bytes, "good.bin");
    change(file);
    return encodeState(file);
}

TEST(WarmStart, AStateThatDoesNotBelongIsRefusedBeforeTheLoopWritingNothing) {
    ScratchDir dir;
    writeSmallProject();
    ASSERT_EQ(runHere(optionsOf(2, "good.bin", 7)).status, 0);
    const std::string good = readFile("good.bin");
    const auto refusal = [&](const std::string& file, const std::string& expected,
                             const std::function<void()>& changeProject = {}) {
        SCOPED_TRACE(expected);
        std::filesystem::remove_all("output");
        for (const char* d : {"output", "output/damData", "output/resData"}) std::filesystem::create_directory(d);
        writeSmallProject();
        writeText("bad.bin", file);
        if (changeProject) changeProject();
        const RunRecord r = runHere(optionsOf(2, "out.bin", 0, "bad.bin"));
        EXPECT_EQ(r.status, 1);
        const std::string last = r.console.substr(r.console.rfind('\n', r.console.size() - 2) + 1);
        EXPECT_EQ(last.find("Error: "), 0u) << last;
        EXPECT_NE(last.find(expected), std::string::npos) << last;
        EXPECT_EQ(r.console.find("Runoff simulation starts."), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists("out.bin"));
        for (const auto& [path, bytes] : r.files) EXPECT_EQ(path.rfind("temp/", 0), 0u) << path << " written";
    };
    const auto paramSet = [](int index, const std::string& value) {
        return [index, value] {
            ParamText p;
            p.values = wordsOf(kModelParamPath);
            p[index] = value;
            writeText(kModelParamPath, p.text());
        };
    };
    refusal("a text file\n", "bad.bin is not a state file of runoffSim.");
    refusal(good.substr(0, good.size() - 20), "the state file bad.bin is truncated.");
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x10;
    refusal(flipped, "bad.bin is damaged: its checksum does not match.");
    refusal(edited(good, [](StateFile& f) { f.header.ncols = 6; }), "was saved on a grid of 4 rows and 6 columns");
    refusal(edited(good, [](StateFile& f) { f.header.yllcorner += 1e-12; }), "south-west corner lies at 135, 35.000000000001");
    refusal(good, "was saved with 4 finite difference space steps; this project has 3", paramSet(ParamText::kSpaceSteps, "3"));
    refusal(good, "was saved with a time step of 60 s; this project's time step is 120 s",
            paramSet(ParamText::kStepSeconds, "120"));
    refusal(good, "was saved with Ns = 0.3; this project has Ns = 0.35", paramSet(ParamText::kNs, "0.35"));
    refusal(good, "was saved with Ka from its map; this project has Ka = 0.001", paramSet(ParamText::kKa, "0.001"));
    refusal(good, "was saved with the slope length 100; this project has the slope length 100.5", paramSet(ParamText::kSlopeLength, "100.5"));
    refusal(good, "was saved with other values of Ka than ./paramData/param_dist_Ka.dat gives this project's cells",
            [] { writeText("paramData/param_dist_Ka.dat", kaMap(1e-6)); });
    refusal(good, "was saved with 3 as the area to classify slope and channel; this project has 4",
            paramSet(ParamText::kChannelThreshold, "4"));
    refusal(edited(good, [](StateFile& f) { f.state.dams[0].kind = 2; }),
            "holds dam 1 of kind 2; this project's dam 1 (damA) is of kind 1");
    refusal(edited(good, [](StateFile& f) { f.state.reservoirs.clear(); }), "holds 0 reservoirs; this project has 1");
    refusal(edited(good, [](StateFile& f) { f.state.dams[0].cell += 1; }), "holds dam 1 at column 3, row 2");
    refusal(edited(good, [](StateFile& f) {
                ModelState s;
                s.hour = f.state.hour;
                s.spaceSteps = f.state.spaceSteps;
                for (std::size_t k = 0; k < f.state.cells.size(); ++k)
                    if (f.state.cells[k] != 2 * 5 + 3) addCellRecord(s, f.state.cells[k], f.state.kinds[k]);
                s.dams = f.state.dams;
                s.reservoirs = f.state.reservoirs;
                f.state = s;
            }),
            "holds no state of the cell at column 4, row 2, which this run computes");
    refusal(good, "holds the state of a channel cell at column 3, row 2, where this project has a slope cell", [] {
        Topography t = smallBasin();
        t.flowAcc[t.at(2, 2)] = 3;
        t.write();
    });

    // --save-at beyond the run, and the options that cannot go together.
    writeSmallProject();
    RunRecord r = runHere(optionsOf(1, "out.bin", 25));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.console.find("Error: --save-at 25 lies beyond the run, whose last hour is 24.\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("out.bin"));
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--save-at", "3"},
                                                {"--save-state", "s.bin", "--save-at", "0"},
                                                {"--save-state", "s.bin", "--save-at", "1.5"}}) {
        const RunResult parsed = runCaptured([&](std::ostream&) { return parseRunOptions(bad), 0; });
        EXPECT_EQ(parsed.status, 1);
        EXPECT_NE(parsed.output.find("Try runoffSim --help."), std::string::npos) << parsed.output;
    }
    // A state that cannot be saved is refused before the loop too.
    r = runHere(optionsOf(1, "missing/out.bin"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.console.find("Error: the state cannot be saved as missing/out.bin: missing: No such file"), std::string::npos);
}

}  // namespace

// calibrateModel: the same files for every thread count and after a kill at
// any moment, parameter files that reproduce the best run, every mistake of a
// configuration as one line with nothing written, the objectives, and the two
// searches on a function whose optimum is known.

#include "calibrationResults.h"
#include "calibrationRun.h"
#include "driver.h"
#include "eventPlan.h"
#include "randomProject.h"
#include "search.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

// Every file under `root` with its bytes, by relative path.
std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = readFile(e.path().string());
    return files;
}

void expectSameTree(const fs::path& a, const fs::path& b) {
    const auto ta = tree(a), tb = tree(b);
    ASSERT_EQ(ta.size(), tb.size()) << a << " against " << b;
    for (const auto& [name, bytes] : ta) EXPECT_TRUE(tb.count(name) && tb.at(name) == bytes) << name << " differs in " << b;
}

int calibrate(const std::string& config, const std::string& out, int threads, bool resume = false) {
    CalibrateOptions options;
    options.configPath = config;
    options.outputDir = out;
    options.threads = threads;
    options.resume = resume;
    std::ostringstream console;
    return runCalibration(options, console);
}

// A random project in "project" with binary rain, a parameter map, a dam or reservoir
// upstream of its largest computed cell, and a hydrograph there that varies;
// observations there from the model with Ns (value or map) 1.3 times larger.
// Returns the gauge's column and row.
std::pair<int, int> writeCalibrationProject() {
    for (uint64_t seed = 1; seed < 2000; ++seed) {
        fs::remove_all("project");
        for (const std::string& d : kRandomProjectDirs) fs::create_directories("project/" + d);
        {
            WorkingDirectory inside("project");
            writeRandomProject(seed);
        }
        Event event;
        try {
            event = loadEvent("project");
        } catch (const InputError&) {
            continue;
        }
        const CellValues file = paramFileValues(event.params);
        // Binary rain and no recorded calendar: the start of the event is unknown.
        if (event.params.rainFormat != 2 || std::none_of(file.begin(), file.end() - 1, [](double v) { return v < 0.0; })) continue;
        int32_t gauge = -1;
        for (int32_t i = 0; i < static_cast<int32_t>(event.grid.cellCount()); ++i) {
            if (computesCell(event.grid.cell(i), event.riverNumList) &&
                (gauge < 0 || event.grid.cell(i).flowAcc > event.grid.cell(gauge).flowAcc))
                gauge = i;
        }
        if (gauge < 0) continue;
        const CellSelection selection = selectUpstream(event, {gauge});
        bool structure = false;
        for (const int32_t i : selection.cells) structure = structure || event.grid.cell(i).kind >= kDamCell;
        ParamChange truth;
        truth.given[kNs] = true;
        truth.value[kNs] = file[kNs] < 0.0 ? 1.3 : 1.3 * file[kNs];
        const SelectionRun run = runSelection(event, selection, truth);
        if (!structure || selection.entries.size() < 4 || run.stopped) continue;
        const std::vector<float>& q = run.hourlyMeans[0];
        if (*std::max_element(q.begin(), q.end()) <= *std::min_element(q.begin(), q.end())) continue;
        std::string csv = "minutes,discharge\n";
        for (std::size_t h = 0; h < q.size(); ++h) csv += std::to_string(60 * (h + 1)) + "," + std::to_string(q[h]) + "\n";
        writeText("observed.csv", csv);
        return {event.grid.colOf(gauge) + 1, event.grid.nrows - event.grid.rowOf(gauge)};
    }
    return {0, 0};
}

std::string configText(const std::string& algorithm, std::pair<int, int> gauge) {
    return "[calibration]\nalgorithm = \"" + algorithm + "\"\nevaluations = 40\nseed = 11\nbatch = 4\n\n"
           "[[event]]\nproject = \"project\"\n\n[[event.gauge]]\ncell = [" + std::to_string(gauge.first) + ", " +
           std::to_string(gauge.second) + "]\nobserved = \"observed.csv\"\n\n"
           "[[parameter]]\nname = \"Ns\"\nmin = 0.01\nmax = 2.0\ntransform = \"log\"\n\n"
           "[[parameter]]\nname = \"Dm\"\nmin = 0.001\nmax = 3.0\ntransform = \"log\"\n\n"
           "[[parameter]]\nname = \"Nr\"\nmin = 0.01\nmax = 0.2\n";
}

TEST(Calibration, SameFilesForEveryThreadCountAndAfterAKillAtAnyMoment) {
    ScratchDir dir(std::vector<std::string>{});
    const std::pair<int, int> gauge = writeCalibrationProject();
    ASSERT_GT(gauge.first, 0) << "no usable random project";
    // Under the sanitizers (about ten times slower) fewer thread counts and kill points.
    const bool lean = std::getenv("FLOOD_SANITIZER_BUILD") != nullptr;
    for (const std::string algorithm : {"dds", "sce-ua"}) {
        SCOPED_TRACE(algorithm);
        writeText("cal.toml", configText(algorithm, gauge));
        fs::remove_all("runs");
        ASSERT_EQ(calibrate("cal.toml", "runs/t1", 1), 0);
        for (const int threads : {2, 8}) {
            if (lean && threads == 2) continue;
            ASSERT_EQ(calibrate("cal.toml", "runs/t" + std::to_string(threads), threads), 0);
            expectSameTree("runs/t1", "runs/t" + std::to_string(threads));
        }

        // Kills at chosen moments: the trace cut back to its header, inside a
        // line, at the end of a line, and whole with nothing else written.
        const std::string trace = readFile("runs/t1/trace.csv");
        const std::size_t header = trace.find('\n', trace.find('\n') + 1) + 1;
        const std::size_t line3 = [&] {
            std::size_t at = header;
            for (int k = 0; k < 3; ++k) at = trace.find('\n', at) + 1;
            return at;
        }();
        for (const std::size_t cut : {header, header + 7, line3, line3 + 40, trace.size() - 3, trace.size()}) {
            if (lean && (cut == header || cut == line3 || cut == trace.size())) continue;
            SCOPED_TRACE("trace cut at byte " + std::to_string(cut));
            fs::remove_all("runs/cut");
            fs::create_directories("runs/cut");
            writeText("runs/cut/trace.csv", trace.substr(0, cut));
            ASSERT_EQ(calibrate("cal.toml", "runs/cut", 2, true), 0);
            expectSameTree("runs/t1", "runs/cut");
        }
#ifdef FLOOD_PROGRAM_calibrateModel
        // And kill -9 of the program itself, whenever it lands.
        for (const char* after : {"0.01", "0.05", "0.2"}) {
            if (lean && std::string(after) != "0.2") continue;
            fs::remove_all("runs/killed");
            const std::string program = FLOOD_PROGRAM_calibrateModel;
            std::system(("timeout -s KILL " + std::string(after) + " " + program + " cal.toml -o runs/killed >/dev/null 2>&1").c_str());
            const int status = std::system((program + " cal.toml -o runs/killed --resume >/dev/null 2>&1").c_str());
            EXPECT_EQ(WEXITSTATUS(status), 0);
            expectSameTree("runs/t1", "runs/killed");
        }
#endif
    }

    // The best values written as a project: runoffSim on it gives the best hydrograph.
    const Calibration calibration = loadCalibration(readCalibrationConfig("cal.toml"));
    const std::string best = "runs/t1/" + eventResultFolder(calibration.events[0]);
    for (const LoadedEvent& e : calibration.events) {
        for (const int32_t i : e.soilCells) {  // the repair keeps every capillary layer within its soil
            std::istringstream lines(readFile("runs/t1/trace.csv"));
            for (std::string line; std::getline(lines, line);) {
                if (line[0] == '#' || line[0] == 'e' || line.back() == '1') continue;
                std::vector<double> v(3);
                std::sscanf(line.c_str(), "%*d,%lf,%lf,%lf", &v[0], &v[1], &v[2]);
                const CellValues values = changedValues(e.event, i, changeOf(calibration, v));
                ASSERT_LE(values[kDm], values[kDa]) << line;
            }
        }
    }
    const std::vector<double> bestValues = [&] {
        std::istringstream in(readFile("runs/t1/trace.csv"));
        std::string line;
        std::vector<Outcome> outcomes;
        std::getline(in, line);
        std::getline(in, line);
        for (int64_t n = 1; std::getline(in, line); ++n) {
            Outcome o;
            o.values.resize(3);
            int failed = 0;
            std::sscanf(line.c_str(), "%*d,%lf,%lf,%lf,%*f,%lf,%d", &o.values[0], &o.values[1], &o.values[2], &o.aggregate, &failed);
            o.failed = failed == 1;
            outcomes.push_back(o);
        }
        return outcomes[static_cast<std::size_t>(bestEvaluation(outcomes))].values;
    }();
    fs::copy("project", "rerun", fs::copy_options::recursive);
    fs::copy(best + "/param-hsx-event-ver400.dat", "rerun/param-hsx-event-ver400.dat", fs::copy_options::overwrite_existing);
    if (fs::exists(best + "/paramData"))
        fs::copy(best + "/paramData", "rerun/paramData", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    const RunResult run = runCapturedIn("rerun", [](std::ostream& out) { return runSimulation(out, RunOptions{}); });
    ASSERT_EQ(run.status, 0) << run.output;
    const std::vector<float> grid = readBinary<float>("rerun/output/dischargeHourlyMean.bin");
    const std::vector<float> expected = gaugeHydrographs(calibration, 0, bestValues)[0];
    const CellGrid& g = calibration.events[0].event.grid;
    const std::size_t at = static_cast<std::size_t>(gauge.second - 1) * static_cast<std::size_t>(g.ncols) + static_cast<std::size_t>(gauge.first - 1);
    for (std::size_t h = 0; h < expected.size(); ++h) ASSERT_EQ(grid[h * g.cellCount() + at], expected[h]) << "hour " << h;
}

TEST(Calibration, EachMistakeIsOneLineAndNothingIsWritten) {
    ScratchDir dir(std::vector<std::string>{});
    const std::pair<int, int> gauge = writeCalibrationProject();
    ASSERT_GT(gauge.first, 0);
    const std::string good = configText("dds", gauge);
    const std::string cell = "cell = [" + std::to_string(gauge.first) + ", " + std::to_string(gauge.second) + "]";
    writeText("late.csv", "minutes,discharge\n100000,1\n100060,2\n");
    writeText("dated.csv", "time,discharge\n2024-09-01 01:00,1\n2024-09-01 02:00,2\n");
    writeText("flat.csv", "minutes,discharge\n60,5\n120,5\n180,5\n");
    // (text replaced, its replacement, the message)
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"seed = 11", "seed = 11\nsede = 3", "cal.toml:5: calibration.sede: unknown key."},
        {"\"dds\"", "\"ddx\"", "cal.toml:2: calibration.algorithm: must be \"dds\" or \"sce-ua\", not \"ddx\"."},
        {"evaluations = 40", "evaluations = 0", "cal.toml:3: calibration.evaluations: must be 1 to 100000000, not 0."},
        {"batch = 4", "batch = 2.5", "cal.toml:5: calibration.batch: must be a whole number."},
        {"seed = 11", "seed = 11\nobjective = \"rmse\"", "cal.toml:5: calibration.objective: must be \"kge\", \"kge2012\", \"nse\" or \"lognse\", not \"rmse\"."},
        {"project = \"project\"", "project = \"nowhere\"", "cal.toml:8: event[1].project: there is no project folder nowhere."},
        {cell, "cell = [1, 1]", "cal.toml:11: event[1].gauge[1].cell: column 1, row 1 is not computed by the event (the outer ring, a cell outside the listed rivers, or no river at all)."},
        {cell, "cell = [99, 2]", "cal.toml:11: event[1].gauge[1].cell: column 99, row 2 is outside the grid of "},
        {cell, "cell = [3]", "cal.toml:11: event[1].gauge[1].cell: must be [COLUMN, ROW], two whole numbers from 1 (columns from the west, rows from the south)."},
        {"\"observed.csv\"", "\"missing.csv\"", "cal.toml:12: event[1].gauge[1].observed: the observations missing.csv cannot open."},
        {"\"observed.csv\"", "\"late.csv\"", "cal.toml:12: event[1].gauge[1].observed: 0 observations of late.csv fall inside the event after the warm-up"},
        {"\"observed.csv\"", "\"flat.csv\"", "cal.toml:12: event[1].gauge[1].observed: the scored observations of flat.csv are all the same; no score can be computed against them."},
        {"\"observed.csv\"", "\"dated.csv\"", "cal.toml:12: event[1].gauge[1].observed: dated.csv line 2: the time is a date, but the start of the event is unknown: give it with the gauge's key start."},
        {"\"observed.csv\"", "\"dated.csv\"\nstart = \"1 Sept\"", "cal.toml:13: event[1].gauge[1].start: needs a date and time such as \"2024-09-01T00:00\", not \"1 Sept\"."},
        {"\"observed.csv\"", "\"observed.csv\"\nweight = -1", "cal.toml:13: event[1].gauge[1].weight: must be larger than zero."},
        {"max = 2.0", "max = 0.001", "cal.toml:17: parameter[1].max: must be larger than min (0.01), not 0.001."},
        {"\"Ns\"", "\"Nx\"", "cal.toml:15: parameter[1].name: \"Nx\" is none of Ns, Ka, Da, Dm, Beta, Nr and ROFinitial."},
        {"\"Nr\"", "\"Ns\"", "cal.toml:27: parameter[3].name: Ns is calibrated twice."},
        {"min = 0.001", "min = 0", "cal.toml:22: parameter[2].min: must be larger than zero with transform = \"log\"."},
        {"[[parameter]]\nname = \"Ns\"", "[[parametre]]\nname = \"Ns\"", "cal.toml:14: parametre: unknown key (the file holds [calibration], [[event]] and [[parameter]])."},
        {"seed = 11", "seed = 11 \xc3\xa9", "cal.toml:4: a character beyond ASCII outside quotes and comments."},
        {"\"dds\"", "\"dds", "cal.toml:2: "},  // the TOML reader's own words
    };
    for (const auto& [from, to, message] : cases) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        writeText("cal.toml", text);
        const RunResult run = runCaptured([](std::ostream&) { return calibrate("cal.toml", "out", 1); });
        EXPECT_EQ(run.status, 1) << message;
        EXPECT_EQ(run.output.rfind("Error: " + message, 0), 0u) << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
        EXPECT_FALSE(fs::exists("out")) << message;
    }
    // A trace already there is kept unless --resume is given.
    writeText("cal.toml", good);
    fs::create_directories("out");
    writeText("out/trace.csv", "not mine\n");
    const RunResult again = runCaptured([](std::ostream&) { return calibrate("cal.toml", "out", 1); });
    EXPECT_EQ(again.output, "Error: out/trace.csv exists: give --resume to go on with it, or remove it to start again.\n");
    const RunResult other = runCaptured([](std::ostream&) { return calibrate("cal.toml", "out", 1, true); });
    EXPECT_EQ(other.output.rfind("Error: out/trace.csv is the trace of another configuration", 0), 0u) << other.output;
    EXPECT_EQ(tree("out").size(), 1u);
    EXPECT_EQ(readFile("out/trace.csv"), "not mine\n");
}

TEST(Calibration, ObjectivesOfAHandMadeHydrograph) {
    GaugeData gauge;
    gauge.scored = {{60, 120, 180, 240}, {1, 3, 2, 6}};
    gauge.logOffset = 0.03;
    const std::vector<float> same = {1, 3, 2, 6}, doubled = {2, 6, 4, 12}, flat = {2, 2, 2, 2};
    for (const Objective o : {Objective::kKge, Objective::kKge2012, Objective::kNse, Objective::kLogNse})
        EXPECT_DOUBLE_EQ(gaugeScore(o, same, gauge), 1.0) << objectiveName(o);
    // Twice the flow: r 1, alpha 2, beta 2; the coefficient of variation unchanged.
    EXPECT_DOUBLE_EQ(gaugeScore(Objective::kKge, doubled, gauge), 1.0 - std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(gaugeScore(Objective::kKge2012, doubled, gauge), 0.0);
    EXPECT_DOUBLE_EQ(gaugeScore(Objective::kNse, doubled, gauge), 1.0 - 50.0 / 14.0);
    // A constant simulation has no correlation: the worst score.
    EXPECT_EQ(gaugeScore(Objective::kKge, flat, gauge), -INFINITY);
}

TEST(Calibration, BothSearchesFindTheTopOfAHill) {
    SearchSettings s;
    s.space.min = {-2.0, 1e-3, 0.0};
    s.space.max = {3.0, 10.0, 1.0};
    s.space.logarithmic = {0, 1, 0};
    s.budget = 600;
    s.seed = 5;
    const std::vector<double> top = {1.5, 0.02, 1.0};  // the last on its bound
    for (const bool dds : {true, false}) {
        double bestScore = -INFINITY;
        std::vector<double> best;
        int64_t evaluations = 0;
        const BatchEvaluator hill = [&](const std::vector<std::vector<double>>& batch) {
            std::vector<Evaluated> results;
            for (const std::vector<double>& x : batch) {
                for (std::size_t j = 0; j < x.size(); ++j) EXPECT_TRUE(x[j] >= s.space.min[j] && x[j] <= s.space.max[j]);
                const double score = -std::pow(x[0] - top[0], 2) - std::pow(std::log(x[1] / top[1]), 2) - std::pow(x[2] - top[2], 2);
                if (score > bestScore) {
                    bestScore = score;
                    best = x;
                }
                results.push_back({x, score});
            }
            evaluations += static_cast<int64_t>(batch.size());
            return results;
        };
        dds ? runDds(s, hill) : runSceUa(s, hill);
        EXPECT_EQ(evaluations, s.budget);
        EXPECT_NEAR(best[0], top[0], 0.05) << (dds ? "DDS" : "SCE-UA");
        EXPECT_NEAR(std::log(best[1] / top[1]), 0.0, 0.05) << (dds ? "DDS" : "SCE-UA");
        EXPECT_NEAR(best[2], top[2], 0.05) << (dds ? "DDS" : "SCE-UA");
    }
}

}  // namespace

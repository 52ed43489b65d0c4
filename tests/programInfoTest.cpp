// The command line of the programs: --version and --help answer and stop, and
// without arguments every program does exactly what its library stage does.
// The programs themselves are run here, from the build.

#include "demGrid.h"
#include "dischargeImage.h"
#include "dischargeSeries.h"
#include "driver.h"
#include "prepareCommand.h"
#include "programInfo.h"
#include "sampleBasin.h"
#include "testProject.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>
#include <tuple>

#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

const std::map<std::string, std::string> kPrograms = {
    {"runoffSim", FLOOD_PROGRAM_runoffSim},
    {"dischargeImage10min", FLOOD_PROGRAM_dischargeImage10min},
    {"dischargeImageHourly", FLOOD_PROGRAM_dischargeImageHourly},
    {"dischargeSeries10min", FLOOD_PROGRAM_dischargeSeries10min},
    {"dischargeSeriesHourly", FLOOD_PROGRAM_dischargeSeriesHourly},
    {"prepareTopography", FLOOD_PROGRAM_prepareTopography},
    {"makeSampleBasin", FLOOD_PROGRAM_makeSampleBasin},
    {"plotHydrograph", FLOOD_PROGRAM_plotHydrograph},
#ifdef FLOOD_PROGRAM_exportResults
    {"exportResults", FLOOD_PROGRAM_exportResults},
#endif
#ifdef FLOOD_PROGRAM_prepareRainfall
    {"prepareRainfall", FLOOD_PROGRAM_prepareRainfall},
#endif
#ifdef FLOOD_PROGRAM_calibrateModel
    {"calibrateModel", FLOOD_PROGRAM_calibrateModel},
#endif
#ifdef FLOOD_PROGRAM_runEnsemble
    {"runEnsemble", FLOOD_PROGRAM_runEnsemble},
#endif
};

std::string quoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a program in `dir` with `input` on standard input; standard output and
// error together are the console, unless `errors` names another file for
// standard error. The console files lie in the current directory while it runs.
RunResult runProgram(const std::string& name, const std::string& args, const fs::path& dir,
                     const std::string& input = "", const std::string& errors = "&1") {
    const fs::path in = fs::current_path() / "console.in", out = fs::current_path() / "console.out";
    writeText(in.string(), input);
    const int status = std::system(("cd " + quoted(dir.string()) + " && " + quoted(kPrograms.at(name)) + " " + args +
                                    " <" + quoted(in.string()) + " >" + quoted(out.string()) + " 2>" + errors)
                                       .c_str());
    RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out.string())};
    fs::remove(in);
    fs::remove(out);
    return result;
}

// The same with standard output and standard error in files of their own.
struct Streams {
    int status = -1;
    std::string out, err;
};
Streams runStreams(const std::string& name, const std::string& args, const fs::path& dir,
                   const std::string& input = "") {
    const fs::path err = fs::current_path() / "console.err";
    const RunResult run = runProgram(name, args, dir, input, quoted(err.string()));
    Streams streams{run.status, run.output, readFile(err.string())};
    fs::remove(err);
    return streams;
}

bool isModelProgram(const std::string& name) { return name == "runoffSim" || name.rfind("discharge", 0) == 0; }

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(ProgramInfo, AnswersOnlyWhenAsked) {
    const ProgramInfo info{"tool", "Usage: tool\n"};
    const std::string unknown = "Error: unknown argument \"x\". tool takes no arguments; see tool --help.\n";
    const std::tuple<std::vector<const char*>, std::optional<int>, std::string> cases[] = {
        {{"tool"}, std::nullopt, ""},
        {{"tool", "--version"}, 0, versionLine("tool")},
        {{"tool", "-h"}, 0, "Usage: tool\n"},
        {{"tool", "--help", "--version"}, 0, "Usage: tool\n"},
        {{"tool", "x"}, 1, unknown},
        {{"tool", "--version", "x"}, 1, unknown},
    };
    for (const auto& [args, status, text] : cases) {
        const RunResult run = runCaptured([&](std::ostream& out) {
            return answerProgramInfo(info, static_cast<int>(args.size()), args.data(), out).value_or(-1);
        });
        EXPECT_EQ(run.status, status.value_or(-1)) << args.back();
        EXPECT_EQ(run.output, text) << args.back();
    }
    // "tool 1.0.0" or "tool 1.0.0 (git REVISION)", one line.
    const std::string revision = sourceRevision();
    EXPECT_EQ(versionLine("tool"),
              "tool " FLOOD_PROJECT_VERSION + (revision.empty() ? "" : " (git " + revision + ")") + "\n");
    EXPECT_EQ(revision.find_first_of("\n\r"), std::string::npos);
}

TEST(ProgramInfo, EachProgramAnswersVersionAndHelp) {
    ScratchDir dir({"run"});
    for (const auto& [name, path] : kPrograms) {
        const RunResult version = runProgram(name, "--version", dir.path / "run");
        EXPECT_EQ(version.status, 0) << name;
        EXPECT_EQ(version.output, versionLine(name));
        const RunResult help = runProgram(name, "--help", dir.path / "run");
        EXPECT_EQ(help.status, 0) << name;
        EXPECT_EQ(firstLine(help.output).rfind("Usage: " + name, 0), 0u) << help.output;
        if (name.rfind("discharge", 0) == 0) {
            const RunResult other = runProgram(name, "--threads 2", dir.path / "run");
            EXPECT_EQ(other.status, 1) << name;
            EXPECT_EQ(firstLine(other.output), "Error: unknown argument \"--threads\". " + name +
                                                   " takes no arguments; see " + name + " --help.");
        }
        // Results on standard output; a model program's stop there too, and
        // on standard error as well when standard output is a file; every
        // other program's error on standard error only.
        const Streams versionApart = runStreams(name, "--version", dir.path / "run");
        EXPECT_EQ(versionApart.out + "|" + versionApart.err, versionLine(name) + "|");
        const Streams wrong = runStreams(name, "--no-such-option", dir.path / "run");
        EXPECT_EQ(wrong.status, 1) << name;
        EXPECT_EQ(wrong.err.rfind(isModelProgram(name) ? "Error: unknown " : "", 0), 0u) << name << ": " << wrong.err;
        EXPECT_EQ(wrong.out, isModelProgram(name) ? wrong.err : "") << name;
        EXPECT_TRUE(fs::is_empty(dir.path / "run")) << name << " wrote into its working directory";
    }
}

// Every file under `root` with its bytes, by relative path; directories map to "/".
std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        files[fs::relative(e.path(), root).string()] = e.is_directory() ? "/" : readFile(e.path().string());
    }
    return files;
}

using Stage = std::function<int(std::istream&, std::ostream&)>;

// Runs a program's library stage in `dir`, as its main does.
RunResult runStage(const Stage& stage, const fs::path& dir, const std::string& input) {
    std::istringstream in(input);
    return runCapturedIn(dir, [&](std::ostream& out) { return stage(in, out); });
}

// The five programs without arguments, on a small sample project and in an
// empty directory: console, exit status and every file as their stages make them.
TEST(ProgramInfo, WithoutArgumentsTheProgramsRunTheirStages) {
    ScratchDir dir({"proj", "empty/output"});
    std::ostringstream text, ignored;
    writeDemGrid(text, makeSampleDem(16, 12), 2);
    writeText("proj/sample.asc", text.str());
    PrepareOptions options;
    options.demPath = "proj/sample.asc";
    options.projectDir = "proj";
    options.minCells = 20;
    ASSERT_EQ(runPrepare(options, ignored), 0);
    writeSampleInputs("proj", 16, 12, ignored);
    fs::copy("proj", "program", fs::copy_options::recursive);
    fs::copy("proj", "stage", fs::copy_options::recursive);

    // In order: the tools read what runoffSim wrote.
    const std::tuple<std::string, std::string, Stage> runs[] = {
        {"runoffSim", "", [](std::istream&, std::ostream& out) { return runSimulation(out, RunOptions{}); }},
        {"dischargeImage10min", "n\n",
         [](std::istream& in, std::ostream& out) { return runDischargeImage(kImage10min, in, out); }},
        {"dischargeImageHourly", "y 20 0.5\n",
         [](std::istream& in, std::ostream& out) { return runDischargeImage(kImageHourly, in, out); }},
        {"dischargeSeries10min", "8\n2\n",
         [](std::istream& in, std::ostream& out) { return runDischargeSeries(series10minConfig(), in, out); }},
        {"dischargeSeriesHourly", "9 4",
         [](std::istream& in, std::ostream& out) { return runDischargeSeries(seriesHourlyConfig(), in, out); }},
    };
    for (const auto& [name, input, stage] : runs) {
        const std::string sub = name == "runoffSim" ? "." : "output";
        const RunResult program = runProgram(name, "", dir.path / "program" / sub, input);
        const RunResult expected = runStage(stage, dir.path / "stage" / sub, input);
        EXPECT_EQ(program.status, 0) << name << ":\n" << program.output;
        EXPECT_EQ(program.output, expected.output) << name;
        // Nothing to read: the program stops as its stage does.
        const RunResult stopped = runProgram(name, "", dir.path / "empty" / sub);
        const RunResult expectedStop = runStage(stage, dir.path / "empty" / sub, "");
        EXPECT_EQ(stopped.status, 1) << name;
        EXPECT_EQ(stopped.output, expectedStop.output) << name;  // one file: the stop is not repeated
        // With the console in a file of its own, standard error says why it stopped (the
        // image makers before they wait for a key).
        const Streams apart = runStreams(name, "", dir.path / "empty" / sub);
        EXPECT_EQ(apart.out, expectedStop.output) << name;
        EXPECT_EQ(apart.err, std::string(name == "runoffSim" ? "./" : "") + "param-hsx-event-ver400.dat cannot open.\n")
            << name;
    }
    const std::map<std::string, std::string> files = tree("program");
    EXPECT_TRUE(files == tree("stage")) << "the programs' files differ from their stages' files";
    EXPECT_GT(files.size(), 300u);  // 288 images (the hourly ones replace the first 48), grids, series, tables
}

}  // namespace

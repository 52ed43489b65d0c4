// runoffSim end to end on small projects: console output, stop points, files.

#include "driver.h"
#include "paramFile.h"
#include "testProject.h"

#include <gtest/gtest.h>

#include <map>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int runSerial(std::ostream& out) { return runSimulation(out, RunOptions{}); }

RunResult runSim() { return runCaptured(runSerial); }

TEST(Driver, ThreadOption) {
    EXPECT_GE(parseRunOptions({}).threads, 1);  // every hardware thread
    EXPECT_EQ(parseRunOptions({"--threads", "3"}).threads, 3);
    EXPECT_EQ(parseRunOptions({"--threads=2"}).threads, 2);
    EXPECT_EQ(parseRunOptions({"--threads", "123456789012"}).threads, 1024);  // capped, not refused
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--threads"}, {"--threads", "0"}, {"--threads", "-2"}, {"--threads", "2x"}, {"-t"}}) {
        const RunResult r = runCaptured([&](std::ostream&) { return parseRunOptions(bad), 0; });
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
        EXPECT_NE(r.output.find("Try runoffSim --help."), std::string::npos) << r.output;
    }
}

TEST(Driver, MissingParameterFileStopsFirst) {
    ScratchDir dir;
    const RunResult r = runSim();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "Reading parameters for runoff simulation.\n./param-hsx-event-ver400.dat cannot open.\n");
}

TEST(Driver, ModelChecksRunAfterTheTopography) {
    ScratchDir dir;
    smallBasin().write();
    ParamText p;
    p[ParamText::kDa] = "1.0";
    p[ParamText::kDm] = "1.5";
    writeText(kModelParamPath, p.text());
    RunResult r = runSim();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Number of rivers for simulation : 1\n\n"), std::string::npos);
    const std::string end =
        "Set parameter data.\n\nError: Depth of capillary soil layer must be larger than that of non-capillary soil "
        "layer\n\n";
    ASSERT_GE(r.output.size(), end.size());
    EXPECT_EQ(r.output.substr(r.output.size() - end.size()), end);

    // A missing raster stops before the checks.
    std::filesystem::remove("topoData/flowAcc.bin");
    r = runSim();
    EXPECT_EQ(r.status, 1);
    const std::string missing = "Number of rivers for simulation : 1\n\nflowAcc.bin cannot open.\n";
    EXPECT_EQ(r.output.substr(r.output.size() - missing.size()), missing);
}

}  // namespace

namespace {

TEST(Driver, ImpossibleSizesStopWithAMessage) {
    ScratchDir dir;
    smallBasin().write();
    ParamText p;
    p[ParamText::kNcols] = "50000";
    p[ParamText::kNrows] = "50000";
    writeText(kModelParamPath, p.text());
    RunResult r = runSim();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Error: a grid of 50000 x 50000 cells is too large"), std::string::npos) << r.output;

    p[ParamText::kNcols] = "40000";
    p[ParamText::kNrows] = "40000";
    writeText(kModelParamPath, p.text());
    r = runSim();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Error: this run needs about "), std::string::npos) << r.output;

    ParamText q;  // a small grid, but rainfall series far beyond memory
    q[ParamText::kRainCols] = "20000";
    q[ParamText::kRainRows] = "20000";
    q[ParamText::kDays] = "1000";
    writeText(kModelParamPath, q.text());
    r = runSim();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("GB of memory"), std::string::npos);
}

}  // namespace

namespace {

namespace fs = std::filesystem;

// Every entry under output/ with its bytes; directories as "/".
std::map<std::string, std::string> outputTree() {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator("output"))
        files[e.path().string()] = e.is_directory() ? "/" : readFile(e.path().string());
    return files;
}

void restoreOutput(const std::map<std::string, std::string>& tree) {
    fs::remove_all("output");
    for (const auto& [path, bytes] : tree) {
        fs::create_directories(bytes == "/" ? fs::path(path) : fs::path(path).parent_path());
        if (bytes != "/") writeText(path, bytes);
    }
}

// A run that could not write its results found out after the whole event, or
// never: missing table directories were skipped in silence, and a failure
// while writing left old and new results mixed. Each case must stop with the
// file or directory and the system's reason, and leave output/ as it was,
// although the new results would differ from the old ones in every file.
TEST(Results, ARunThatCannotWriteLeavesThePreviousResultsAsTheyWere) {
    ScratchDir dir;
    smallBasin().write();
    writeText(kModelParamPath, ParamText().text());
    writeText("input/dam.dat", "1\n1 1 3 2 5.0 0 1000 5000 Upper\n");
    writeText("input/reservoir.dat", "1\n1 4 2 3600 Lake\n");
    const auto writeRain = [](const std::string& record) {
        std::string rain;
        for (int k = 0; k < 144; ++k) rain += "2026 1 1 0 0 0 0\n" + record;
        writeText("input/rain10min.dat", rain);
    };
    writeRain("1.5 2.5\n0.5 0\n");
    ASSERT_EQ(runSim().status, 0);
    const std::map<std::string, std::string> previous = outputTree();
    writeRain("9 9\n9 9\n");

    const auto fails = [&](const std::string& why, const std::function<void()>& breakIt, bool beforeTheLoop,
                           const std::string& message, const std::function<RunResult()>& run = runSim) {
        SCOPED_TRACE(why);
        breakIt();
        const std::map<std::string, std::string> before = outputTree();
        const RunResult r = run();
        chmod("output", 0755);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output.find("Runoff simulation starts") == std::string::npos, beforeTheLoop) << r.output;
        ASSERT_GE(r.output.size(), message.size());
        EXPECT_EQ(r.output.substr(r.output.size() - message.size()), message);
        EXPECT_TRUE(outputTree() == before);
        restoreOutput(previous);
    };
    fails("a plain file in place of a directory", [] {
        fs::remove_all("output/damData");
        writeText("output/damData", "");
    }, true, "Error: no result can be written into ./output/damData/: Not a directory.\n");
    fails("a directory removed", [] { fs::remove_all("output/resData"); }, true,
          "Error: no result can be written into ./output/resData/: No such file or directory.\n");
    if (geteuid() != 0) {  // the superuser writes into read-only directories
        fails("a read-only directory", [] { chmod("output", 0555); }, true,
              "Error: no result can be written into ./output/: Permission denied.\n");
    }
    // A limit on file sizes (4 or 8 KiB, whichever block the shell counts;
    // the console fits) stands for a full disk; the program must not be killed by it.
    fails("files limited to a few blocks", [] {}, true,
          "Error: ./output/discharge10minSnapshot.bin could not be written: File too large.\n", [] {
              const int status = std::system("ulimit -f 8 && '" FLOOD_PROGRAM_runoffSim "' >console.out 2>&1");
              const RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile("console.out")};
              fs::remove("console.out");
              return result;
          });
    // The last table cannot take its name: every result already renamed goes back.
    fails("the last result cannot be renamed", [] {
        fs::remove("output/resData/LakeIQ.dat");
        fs::create_directories("output/resData/LakeIQ.dat/kept");
    }, false, "Write ./output/resData/resIQ.dat\n"
              "Error: ./output/resData/LakeIQ.dat could not be written: Is a directory.\n");

    ASSERT_EQ(runSim().status, 0);
    const std::map<std::string, std::string> next = outputTree();
    EXPECT_EQ(next.size(), previous.size());  // no temporary left behind
    for (const auto& [path, bytes] : previous) EXPECT_TRUE(bytes == "/" || next.at(path) != bytes) << path;
}

}  // namespace

// runoffSim end to end on small projects: console output, stop points, files.

#include "driver.h"
#include "paramFile.h"
#include "testProject.h"

#include <gtest/gtest.h>

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

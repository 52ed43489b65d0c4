// Damaged and hostile inputs: one regression test per fault found by fuzzing
// or by the search for inputs that make a run hang, each saying what went
// wrong before the fix.

#include "dam.h"
#include "dischargeImage.h"
#include "dischargeSeries.h"
#include "driver.h"
#include "memoryBudget.h"
#include "paramFile.h"
#include "rainfall.h"
#include "timeLoop.h"
#include "toolProject.h"
#include "rainFiles.h"
#include "structureLists.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

int runSerial(std::ostream& out) { return runSimulation(out, RunOptions{}); }

RunResult readParams(const ParamText& p) {
    return runCaptured([&](std::ostream& out) {
        std::istringstream in(p.text());
        ModelParams params;
        readParamFile(in, kModelParamPath, out, params);
        checkModelParams(params);
        return 0;
    });
}

std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    const std::size_t begin = text.rfind('\n', end);
    return text.substr(begin == std::string::npos ? 0 : begin + 1, end - (begin == std::string::npos ? 0 : begin + 1) + 1);
}

// Every float32 of a discharge file is finite.
bool allFinite(const std::string& path) {
    for (float v : readBinary<float>(path))
        if (!std::isfinite(v)) return false;
    return true;
}

// A negative finite-difference weight made the celerity iterations run to
// their limits at every node (minutes on a few cells) or end in NaN. The
// weight runs from 0 (explicit) to 1 (implicit); weights above 1 converge and
// stay accepted.
TEST(Hardening, NegativeFiniteDifferenceWeightIsRejected) {
    ParamText p;
    p[ParamText::kFdWeight] = "-0.01";
    RunResult r = readParams(p);
    EXPECT_EQ(r.status, 1);
    const std::string tail = "  Finite difference weight : -0.01\n\n    Error : Finite difference weight must not be negative\n\n";
    ASSERT_GE(r.output.size(), tail.size());
    EXPECT_EQ(r.output.substr(r.output.size() - tail.size()), tail);
    for (const char* accepted : {"0", "1", "1.5"}) {
        p[ParamText::kFdWeight] = accepted;
        EXPECT_EQ(readParams(p).status, 0) << accepted;
    }
}

// A slope roughness of 1e-30 made every surface-regime Newton iteration run to
// its limit (the depth step falls below double resolution), so a run of a few
// cells printed "jcount>10000" without end. Such a roughness has no physical
// meaning; the floor is 1e-06, far below any real surface.
TEST(Hardening, SlopeRoughnessFarBelowAnySurfaceIsRejected) {
    ParamText p;
    p[ParamText::kNs] = "1e-30";
    RunResult r = readParams(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lastLine(r.output), "Error: Manning roughmess coefficient for slope must be at least 1e-06");
    p[ParamText::kNs] = "1e-06";
    EXPECT_EQ(readParams(p).status, 0);
    p[ParamText::kNs] = "-1";  // a map: its values are checked per cell
    EXPECT_EQ(readParams(p).status, 0);
}

// A river mouth whose last upstream channel cell has a flow accumulation of 0
// (a channel only because the channel threshold is negative) took that cell's
// channel coefficient, which is infinite for a channel of no upstream area;
// the mouth's flow became NaN and the run stopped. Such a cell is never
// computed, and the mouth now takes its coefficient from the cells that are.
TEST(Hardening, MouthIgnoresAnUpstreamChannelWithoutAccumulation) {
    ScratchDir dir;
    Topography t = smallBasin();
    t.flowAcc[t.at(2, 2)] = 0;  // upstream of the mouth (2, 3), after (1, 3) in its list
    t.write();
    ParamText p;
    p[ParamText::kChannelThreshold] = "-1";
    writeText(kModelParamPath, p.text());
    std::string rain;
    for (int k = 0; k < 144; ++k) rain += "0 0 0 0 0 0 0 6 6 6 6\n";
    writeText("input/rain10min.dat", rain);
    const RunResult r = runCaptured(runSerial);
    EXPECT_EQ(r.status, 0) << lastLine(r.output);
    EXPECT_TRUE(allFinite("output/dischargeHourlyMean.bin"));
}

// A project in which no cell has a positive accumulation still runs and
// writes every output (nothing is computed, the series stay zero).
TEST(Hardening, ProjectWithoutAccumulationStillWritesItsOutputs) {
    ScratchDir dir;
    Topography t = smallBasin();
    std::fill(t.flowAcc.begin(), t.flowAcc.end(), 0);
    t.write();
    writeText(kModelParamPath, ParamText().text());
    writeText("input/rain10min.dat", "");
    const RunResult r = runCaptured(runSerial);
    EXPECT_EQ(r.status, 0) << lastLine(r.output);
    EXPECT_NE(r.output.find("Runoff simulation starts.\n\nRunoff simulation ends.\n"), std::string::npos);
    const std::vector<float> hourly = readBinary<float>("output/dischargeHourlyMean.bin");
    ASSERT_EQ(hourly.size(), 24u * 20);
    EXPECT_EQ(hourly[6], 0.0f);  // an interior cell of the south row + 1
}

// A long dam list on a long run allocated each dam's series in turn until the
// system killed the program. The list now stops, before the dam that would
// not fit, with the memory message.
TEST(Hardening, DamListBeyondMemoryStopsBeforeAllocating) {
    ScratchDir dir;
    ModelParams params;
    params.nrows = 3;
    params.ncols = 3;
    params.days = 100000;  // 8.64e9 steps of one second: about 415 GB per dam (storage, inflow, outflow, console lines)
    params.stepSeconds = 1;
    params.stepsPerHour = 3600;
    CellGrid grid(3, 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            grid.at(r, c).setGeometry(r, c, 3, 3, 35.0, 135.0, 0.0f, 30.0f);
            grid.at(r, c).riverNum = 0;
            grid.at(r, c).flowAcc = 1;
        }
    writeText("input/dam.dat", "1\n1 2 2 2 1.0 0 0 100 A\n");
    std::vector<Dam> dams;
    const RunResult r = runCaptured([&](std::ostream& out) { return dams = readDams(grid, {0}, params, out), 0; });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Error: this run needs about 414.7"), std::string::npos) << r.output;
    EXPECT_TRUE(grid.at(1, 1).inflowSeries.empty());
}

// Nothing checked the space for the results: a long run on a tiny grid
// computed for hours and then could not write its files. The output size is
// now compared with what "./output/" can take before the time loop.
TEST(Hardening, OutputsThatCannotBeWrittenStopBeforeTheLoop) {
    ModelParams p;
    p.ncols = 5;
    p.nrows = 4;
    p.days = 2;
    // Three discharge files (13 frames an hour), totals, one table line an hour per structure.
    EXPECT_EQ(outputBytes(p, 1), 20.0 * 4 * 48 * 13 + 20.0 * 14 + 48.0 * 64);
    try {
        requireDiskSpace(3.2e12, 1.5e9, "./output/");
        FAIL() << "no error";
    } catch (const InputError& e) {
        EXPECT_EQ(e.message, "Error: this run writes about 3200.0 GB into ./output/, but only 1.5 GB can be written there.\n");
    }
    EXPECT_NO_THROW(requireDiskSpace(3.2e12, -1.0, "./output/"));  // unknown space: no check
    ScratchDir dir({"output"});
    EXPECT_LT(writableBytes("./missing/"), 0.0);
    EXPECT_GT(writableBytes("./output/"), 0.0);
}

}  // namespace

namespace {

// An infinite value in a discharge file became the top of the automatic range:
// the range line printed "inf" and every finite value was drawn at level 0.
// It now takes no part in the range, like NaN, and is drawn above the range.
TEST(Hardening, InfiniteDischargeTakesNoPartInTheImageRange) {
    ToolProject project(6, 5, 1);
    std::vector<float> frame(30, 1.0f);
    frame[2 * 6 + 2] = 4.0f;
    frame[3 * 6 + 3] = std::numeric_limits<float>::infinity();
    writeFrames("dischargeHourlyMean.bin", frame, 24);
    std::istringstream console("n\n");
    const RunResult r = runCaptured([&](std::ostream& out) { return runDischargeImage(kImageHourly, console, out); });
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Maximun discharge = 4 Minimum discharge = 1\n"), std::string::npos) << r.output;
}

}  // namespace

namespace {

// A release of 3e38 m3/s is a finite float32 at every step, but the float32
// sum of an hour's steps overflows: the hourly means in the discharge files and
// the dam table were infinite. Such an hour now stops the run; and a release
// beyond any river is rejected where it is read (downstream slope cells could
// not meet their iteration tolerance with it and the run never ended).
TEST(Hardening, HourWhoseMeanOverflowsStopsTheRun) {
    std::vector<float> series(2 * 60, 1.0f);
    EXPECT_TRUE(hourSumsFinite(series, 0, 1, 60, 10));
    series[60 + 5] = -3e38f;
    std::fill(series.begin() + 70, series.begin() + 75, 1e38f);  // minutes 10..20 of hour 1 overflow,
                                                                 // the hour's running sum does not
    EXPECT_TRUE(hourSumsFinite(series, 0, 0, 60, 10));
    EXPECT_FALSE(hourSumsFinite(series, 0, 1, 60, 10));
    EXPECT_TRUE(hourSumsFinite(series, 0, 1, 60, 0));  // no 10-minute sums: the step does not divide them
    EXPECT_TRUE(hourSumsFinite({}, 0, 0, 60, 10));

    ScratchDir dir({"topoData", "input", "input/realDamOutflow", "temp", "output", "output/damData",
                    "output/resData"});
    smallBasin().write();
    writeText(kModelParamPath, ParamText().text());
    writeText("input/rain10min.dat", "");
    writeText("input/dam.dat", "1\n1 0 3 2 0 0 0 0 A\n");  // on (2, 2)
    std::string releases;
    for (int h = 0; h < 24; ++h) releases += h == 3 ? "0 0 3e38\n" : "0 0 1.5\n";
    writeText("input/realDamOutflow/realA.dat", releases);
    RunResult r = runCaptured(runSerial);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lastLine(r.output), "Error: ./input/realDamOutflow/realA.dat hour 4: the release 3e+38 m3/s is beyond "
                                  "any river (at most 1e+09 m3/s).");
    writeText("input/dam.dat", "1\n1 2 3 2 2e9 0 0 0 A\n");
    r = runCaptured(runSerial);
    EXPECT_EQ(lastLine(r.output), "Error: ./input/dam.dat record 1: the release 2e+09 m3/s is beyond any river (at "
                                  "most 1e+09 m3/s).");
    EXPECT_FALSE(std::filesystem::exists("output/dischargeHourlyMean.bin"));
}

}  // namespace

namespace {

// A NaN in a discharge file was copied into the cell's series as "nan". The
// extractor now stops at it with a message naming the file and the frame.
TEST(Hardening, SeriesExtractorStopsAtANonFiniteValueOfItsCell) {
    ToolProject project(4, 3, 1);
    std::vector<float> frames(24 * 12, 0.5f);
    frames[5 * 12 + 1 * 4 + 2] = std::nanf("");  // frame 6, column 3, row 2
    writeBinary("dischargeHourlyMean.bin", frames);
    std::istringstream console("3 2\n");
    const RunResult r = runCaptured([&](std::ostream& out) {
        return runDischargeSeries(seriesHourlyConfig(), console, out);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.output, "Discharge data ./dischargeHourlyMean.bin holds a value that is not a finite "
                                   "number for this cell in frame 6.\n"));
    EXPECT_EQ(readFile("3-2_hourlyMeanDischarge.dat"), "60 0.5\n120 0.5\n180 0.5\n240 0.5\n300 0.5\n");
}

}  // namespace

namespace {

// Fuzzing (wholeRun, a timeout): a binary rainfall value of 4.4e27 mm/h made
// the slope flow so large that its Newton iteration could never meet its
// absolute tolerance; every node of every step ran to both iteration limits
// and a run of a few cells did not end. Intensities above 1e6 mm/h (rain or
// initial runoff) are now rejected where they are read.
TEST(Hardening, IntensitiesBeyondAnyStormAreRejected) {
    ModelParams p;
    p.rainRows = 1;
    p.rainCols = 2;
    p.days = 1;
    p.obsPerHour = 1;
    RainGrid rain = makeRainGrid(p);
    std::istringstream text("0 0 0 0 0 0 0 5.5 1e6\n0 0 0 0 0 0 0 2 1.5e6\n");
    RunResult r = runCaptured([&](std::ostream&) { return readRainText(rain, text, "rain.txt"), 0; });
    EXPECT_EQ(r.output, "Error: rain.txt record 2, rainfall point column 2, row 1: 1.5e6 mm/h is beyond any rainfall "
                        "intensity (at most 1e+06 mm/h).\n");
    EXPECT_EQ(rain.at(0, 1).rainSeries[0], 1e6f);  // the bound itself is accepted

    const float frame[4] = {1.0f, 2.0f, 3.0f, 4.4e27f};
    std::istringstream binary(std::string(reinterpret_cast<const char*>(frame), sizeof frame));
    r = runCaptured([&](std::ostream&) { return readRainBinary(rain, binary, "rain.bin"), 0; });
    EXPECT_EQ(r.output, "Error: rain.bin frame 2, rainfall point column 2, row 1: 4.4e+27 mm/h is beyond any "
                        "rainfall intensity (at most 1e+06 mm/h).\n");

    ParamText q;
    q[ParamText::kROFinitial] = "2e6";
    r = readParams(q);
    EXPECT_EQ(lastLine(r.output), "Error: Initial runoff height must not exceed 1e+06 mm/hr");
}

}  // namespace

namespace {

// Fuzzing (structures, a NaN/infinity finding): an initial storage of -1e40 m3
// is a valid double, but the table's hourly storage is a float32, so the dam
// table showed "-inf" in every hour. Storages beyond any reservoir are now
// rejected where the dam list is read.
TEST(Hardening, DamStorageBeyondAnyReservoirIsRejected) {
    ScratchDir dir;
    smallBasin().write();
    writeText(kModelParamPath, ParamText().text());
    writeText("input/rain10min.dat", "");
    writeText("input/dam.dat", "1\n7 2 3 2 0 -.01e042 0 0 4\n");
    const RunResult r = runCaptured(runSerial);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lastLine(r.output),
              "Error: ./input/dam.dat record 1: the storage -1e+40 m3 is beyond any reservoir (at most 1e+15 m3).");
}

}  // namespace

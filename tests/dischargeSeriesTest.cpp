// The discharge time-series extractor: cell addressing, labels, value format,
// lockstep reading of two files, and every stop.

#include "dischargeSeries.h"
#include "toolProject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

RunResult runSeries(const SeriesToolConfig& config, const std::string& console) {
    std::istringstream in(console);
    return runCaptured([&](std::ostream& out) { return runDischargeSeries(config, in, out); });
}

const std::string kAskCell =
    "Input column number to extract data!\nColumn number begins from 1 from west.\n"
    "Input row number to extract data!\nRow number begins from 1 from south.\n";

// Frame f of a 4 x 3 grid: 100 f + 10 row + column, rows and columns from 1.
std::vector<float> numberedFrames(int frames, float offset = 0.0f) {
    std::vector<float> all;
    for (int f = 0; f < frames; ++f)
        for (int j = 1; j <= 3; ++j)
            for (int k = 1; k <= 4; ++k) all.push_back(offset + static_cast<float>(100 * f + 10 * j + k));
    return all;
}

TEST(DischargeSeries, HourlySeriesOfOneCellInDefaultFormat) {
    ToolProject project(4, 3, 1);
    std::vector<float> frames = numberedFrames(24);
    // Cell x = 3, y = 2 is value 6 of each frame; a few frames test the number format.
    const float special[] = {0.1f, 1234567.0f, 1e-5f, 123456.7f, -9999.0f};
    for (int f = 0; f < 5; ++f) frames[f * 12 + 6] = special[f];
    writeBinary("dischargeHourlyMean.bin", frames);

    const RunResult r = runSeries(seriesHourlyConfig(), "3\n2\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, toolEcho(4, 3, 1) + kAskCell +
                            "Column number : 3 Row number : 2\n"
                            "Read ./dischargeHourlyMean.bin\n"
                            "Write ./3-2_hourlyMeanDischarge.dat\r");
    std::string expected = "60 0.1\n120 1.23457e+06\n180 1e-05\n240 123457\n300 -9999\n";
    for (int f = 5; f < 24; ++f) expected += std::to_string(60 * (f + 1)) + " " + std::to_string(100 * f + 23) + "\n";
    EXPECT_EQ(readFile("3-2_hourlyMeanDischarge.dat"), expected);
}

TEST(DischargeSeries, TenMinuteFilesInLockstep) {
    ToolProject project(4, 3, 2);
    writeBinary("discharge10minSnapshot.bin", numberedFrames(288));
    writeBinary("discharge10minMean.bin", numberedFrames(288, 0.5f));
    RunResult r = runSeries(series10minConfig(), "4 3");  // the north-east corner
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, toolEcho(4, 3, 2) + kAskCell +
                            "Column number : 4 Row number : 3\n"
                            "Read ./discharge10minSnapshot.bin\nRead ./discharge10minMean.bin\n"
                            "Write ./4-3_10minSnapshotDischarge.dat\rWrite ./4-3_10minMeanDischarge.dat\r");
    const std::string snapshot = readFile("4-3_10minSnapshotDischarge.dat");
    const std::string mean = readFile("4-3_10minMeanDischarge.dat");
    EXPECT_EQ(std::count(snapshot.begin(), snapshot.end(), '\n'), 288);
    EXPECT_EQ(snapshot.substr(0, 14), "10 34\n20 134\n3");
    EXPECT_EQ(mean.substr(0, 18), "10 34.5\n20 134.5\n3");
    EXPECT_TRUE(endsWith(snapshot, "\n2880 28734\n"));

    r = runSeries(series10minConfig(), "1 2");  // column and row are not swapped
    EXPECT_EQ(readFile("1-2_10minSnapshotDischarge.dat").substr(0, 6), "10 21\n");
}

TEST(DischargeSeries, CellOutOfRange) {
    ToolProject project(4, 3, 1);
    writeBinary("dischargeHourlyMean.bin", numberedFrames(24));
    const char* column = "Column number is out of range!\n";
    const char* row = "Row number is out of range!\n";
    const std::pair<const char*, const char*> cases[] = {
        {"0 1", column}, {"5 1", column}, {"-1 1", column}, {"abc", column}, {"99999999999 1", column}, {"", column},
        {"1 0", row},    {"1 4", row},    {"1 x", row},     {"4", row}};
    for (const auto& [answer, message] : cases) {
        const RunResult r = runSeries(seriesHourlyConfig(), answer);
        EXPECT_EQ(r.status, 1);
        const std::string asked = message == row ? kAskCell : kAskCell.substr(0, kAskCell.find("Input row"));
        EXPECT_EQ(r.output, toolEcho(4, 3, 1) + asked + message) << answer;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 2);  // the input and image/
}

TEST(DischargeSeries, OpenFailures) {
    ToolProject project(4, 3, 1);
    const std::string head = toolEcho(4, 3, 1) + kAskCell + "Column number : 2 Row number : 2\n";
    EXPECT_EQ(runSeries(series10minConfig(), "2 2").output,
              head + "Read ./discharge10minSnapshot.bin\n10 minutes snapshot discharge cannot open.\n");
    writeBinary("discharge10minSnapshot.bin", numberedFrames(144));
    EXPECT_EQ(runSeries(series10minConfig(), "2 2").output,
              head + "Read ./discharge10minSnapshot.bin\nRead ./discharge10minMean.bin\n"
                     "10 minutes mean discharge data cannot open.\n");
    EXPECT_EQ(runSeries(seriesHourlyConfig(), "2 2").output,
              head + "Read ./dischargeHourlyMean.bin\nDischarge data cannot open.\n");

    // The second output cannot be created: the first stays, empty.
    writeBinary("discharge10minMean.bin", numberedFrames(144));
    std::filesystem::create_directory("2-2_10minMeanDischarge.dat");
    const RunResult r = runSeries(series10minConfig(), "2 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, head + "Read ./discharge10minSnapshot.bin\nRead ./discharge10minMean.bin\n"
                               "Write ./2-2_10minSnapshotDischarge.dat\rWrite ./2-2_10minMeanDischarge.dat\r"
                               "Time series discharge output file cannot open.\n");
    EXPECT_EQ(readFile("2-2_10minSnapshotDischarge.dat"), "");

    // A write that fails (a full disk) is not a success.
    std::filesystem::create_symlink("/dev/full", "3-3_hourlyMeanDischarge.dat");
    writeBinary("dischargeHourlyMean.bin", numberedFrames(24));
    EXPECT_TRUE(endsWith(runSeries(seriesHourlyConfig(), "3 3").output,
                         "\rTime series discharge output file ./3-3_hourlyMeanDischarge.dat cannot be written.\n"));

    std::filesystem::remove("../param-hsx-event-ver400.dat");
    EXPECT_EQ(runSeries(series10minConfig(), "2 2").output,
              "Reading parameters for runoff simulation.\nparam-hsx-event-ver400.dat cannot open.\n");
}

// Files shorter than the parameter file implies: lines of whole frames stay,
// the same number in both outputs, and the frame count never overflows.
TEST(DischargeSeries, ShortFilesStopAtTheirEnd) {
    ToolProject project(4, 3, 1);
    writeBinary("discharge10minSnapshot.bin", numberedFrames(144));
    std::vector<float> mean = numberedFrames(4);
    mean.resize(42);
    mean[13] = std::nanf("");
    writeBinary("discharge10minMean.bin", mean);
    RunResult r = runSeries(series10minConfig(), "2 1");
    EXPECT_EQ(r.status, 1);
    const std::string message = "Discharge data ./discharge10minMean.bin is too short: it ends in frame 4 of 144.\n";
    EXPECT_TRUE(endsWith(r.output, "Write ./2-1_10minMeanDischarge.dat\r" + message));
    EXPECT_EQ(readFile("2-1_10minSnapshotDischarge.dat"), "10 12\n20 112\n30 212\n");
    EXPECT_EQ(readFile("2-1_10minMeanDischarge.dat"), "10 12\n20 nan\n30 212\n");

    ToolProject huge(4, 3, 2147483647);
    writeBinary("dischargeHourlyMean.bin", numberedFrames(1));
    r = runSeries(seriesHourlyConfig(), "1 1");
    EXPECT_TRUE(endsWith(r.output, "hourlyMeanDischarge.dat\rDischarge data ./dischargeHourlyMean.bin is too short: it ends in frame 2 of 51539607528.\n"));
    EXPECT_EQ(readFile("1-1_hourlyMeanDischarge.dat"), "60 11\n");
}

}  // namespace

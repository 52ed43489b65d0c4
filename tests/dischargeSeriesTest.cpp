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

const std::string kAskColumn = "Input column number to extract data!\nColumn number begins from 1 from west.\n";
const std::string kAskRow = "Input row number to extract data!\nRow number begins from 1 from south.\n";

// Frames of a 4 x 3 grid: value 100 f + 10 row + column + offset, from 1 at the south-west.
std::vector<float> numberedFrames(int frames, float offset = 0.0f) {
    std::vector<float> all;
    for (int f = 0; f < frames; ++f)
        for (int j = 1; j <= 3; ++j)
            for (int k = 1; k <= 4; ++k) all.push_back(offset + static_cast<float>(100 * f + 10 * j + k));
    return all;
}

TEST(DischargeSeries, HourlySeriesInDefaultFormat) {
    ToolProject project(4, 3, 1);
    std::vector<float> frames = numberedFrames(24);
    const float special[] = {0.1f, 1234567.0f, 1e-5f, 123456.7f, -9999.0f};
    for (int f = 0; f < 5; ++f) frames[f * 12 + 6] = special[f];  // column 3, row 2
    writeBinary("dischargeHourlyMean.bin", frames);

    const RunResult r = runSeries(seriesHourlyConfig(), "3\n2\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, toolEcho(4, 3, 1) + kAskColumn + kAskRow +
                            "Column number : 3 Row number : 2\nRead ./dischargeHourlyMean.bin\n"
                            "Write ./3-2_hourlyMeanDischarge.dat\r");
    std::string expected = "60 0.1\n120 1.23457e+06\n180 1e-05\n240 123457\n300 -9999\n";
    for (int f = 5; f < 24; ++f) expected += std::to_string(60 * (f + 1)) + " " + std::to_string(100 * f + 23) + "\n";
    EXPECT_EQ(readFile("3-2_hourlyMeanDischarge.dat"), expected);
}

TEST(DischargeSeries, TenMinuteFilesInLockstep) {
    ToolProject project(4, 3, 2);
    writeBinary("discharge10minSnapshot.bin", numberedFrames(288));
    writeBinary("discharge10minMean.bin", numberedFrames(288, 0.5f));
    const RunResult r = runSeries(series10minConfig(), "4 3");  // the north-east corner
    EXPECT_TRUE(endsWith(r.output, "Column number : 4 Row number : 3\nRead ./discharge10minSnapshot.bin\n"
                                   "Read ./discharge10minMean.bin\nWrite ./4-3_10minSnapshotDischarge.dat\r"
                                   "Write ./4-3_10minMeanDischarge.dat\r"));
    const std::string snapshot = readFile("4-3_10minSnapshotDischarge.dat");
    EXPECT_EQ(std::count(snapshot.begin(), snapshot.end(), '\n'), 288);
    EXPECT_EQ(snapshot.substr(0, 14), "10 34\n20 134\n3");
    EXPECT_TRUE(endsWith(snapshot, "\n2880 28734\n"));
    EXPECT_EQ(readFile("4-3_10minMeanDischarge.dat").substr(0, 18), "10 34.5\n20 134.5\n3");
    runSeries(series10minConfig(), "1 2");  // column first, row second
    EXPECT_EQ(readFile("1-2_10minSnapshotDischarge.dat").substr(0, 6), "10 21\n");
}

TEST(DischargeSeries, CellOutOfRange) {
    ToolProject project(4, 3, 1);
    writeBinary("dischargeHourlyMean.bin", numberedFrames(24));
    const std::string column = kAskColumn + "Column number is out of range!\n";
    const std::string row = kAskColumn + kAskRow + "Row number is out of range!\n";
    const std::pair<const char*, const std::string*> cases[] = {
        {"0 1", &column}, {"5 1", &column}, {"abc", &column}, {"99999999999 1", &column}, {"", &column},
        {"1 0", &row},    {"1 4", &row},    {"1 x", &row}};
    for (const auto& [answer, expected] : cases) {
        const RunResult r = runSeries(seriesHourlyConfig(), answer);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, toolEcho(4, 3, 1) + *expected) << answer;
    }
}

TEST(DischargeSeries, OpenAndWriteFailures) {
    ToolProject project(4, 3, 1);
    EXPECT_TRUE(endsWith(runSeries(series10minConfig(), "2 2").output,
                         "2\nRead ./discharge10minSnapshot.bin\n10 minutes snapshot discharge cannot open.\n"));
    writeBinary("discharge10minSnapshot.bin", numberedFrames(144));
    EXPECT_TRUE(endsWith(runSeries(series10minConfig(), "2 2").output,
                         "bin\nRead ./discharge10minMean.bin\n10 minutes mean discharge data cannot open.\n"));
    EXPECT_TRUE(endsWith(runSeries(seriesHourlyConfig(), "2 2").output,
                         "2\nRead ./dischargeHourlyMean.bin\nDischarge data cannot open.\n"));

    writeBinary("discharge10minMean.bin", numberedFrames(144));
    std::filesystem::create_directory("2-2_10minMeanDischarge.dat");
    EXPECT_TRUE(endsWith(runSeries(series10minConfig(), "2 2").output,
                         "\rWrite ./2-2_10minMeanDischarge.dat\rTime series discharge output file cannot open.\n"));
    EXPECT_EQ(readFile("2-2_10minSnapshotDischarge.dat"), "");  // the first output stays, empty

    std::filesystem::create_symlink("/dev/full", "3-3_hourlyMeanDischarge.dat");
    writeBinary("dischargeHourlyMean.bin", numberedFrames(24));
    const RunResult r = runSeries(seriesHourlyConfig(), "3 3");
    EXPECT_TRUE(endsWith(r.output, "\rTime series discharge output file ./3-3_hourlyMeanDischarge.dat cannot be written.\n"));
    EXPECT_EQ(r.status, 1);

    std::filesystem::remove("../param-hsx-event-ver400.dat");
    EXPECT_EQ(runSeries(series10minConfig(), "2 2").output,
              "Reading parameters for runoff simulation.\nparam-hsx-event-ver400.dat cannot open.\n");
}

// Lines of whole frames stay, the same number in both outputs; a huge `days`
// does not overflow the frame count or the labels.
TEST(DischargeSeries, ShortFilesStopAtTheirEnd) {
    ToolProject project(4, 3, 1);
    writeBinary("discharge10minSnapshot.bin", numberedFrames(144));
    std::vector<float> mean = numberedFrames(4);
    mean.resize(42);
    mean[14] = std::nanf("");  // another cell: damage elsewhere in a frame does not matter
    writeBinary("discharge10minMean.bin", mean);
    const RunResult r = runSeries(series10minConfig(), "2 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(endsWith(r.output, "Write ./2-1_10minMeanDischarge.dat\rDischarge data ./discharge10minMean.bin "
                                   "is too short: it ends in frame 4 of 144.\n"));
    EXPECT_EQ(readFile("2-1_10minSnapshotDischarge.dat"), "10 12\n20 112\n30 212\n");
    EXPECT_EQ(readFile("2-1_10minMeanDischarge.dat"), "10 12\n20 112\n30 212\n");

    ToolProject huge(4, 3, 2147483647);
    writeBinary("dischargeHourlyMean.bin", numberedFrames(1));
    EXPECT_TRUE(endsWith(runSeries(seriesHourlyConfig(), "1 1").output, "frame 2 of 51539607528.\n"));
    EXPECT_EQ(readFile("1-1_hourlyMeanDischarge.dat"), "60 11\n");
}

}  // namespace

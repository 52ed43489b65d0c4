// Discharge statistics and the three discharge grid files.

#include "dischargeFiles.h"
#include "dischargeOutput.h"
#include "paramFile.h"
#include "testProject.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

Cell cellWithSeries(int days, int stepsPerHour, float (*value)(std::size_t)) {
    Cell cell;
    cell.dischargeSeries.resize(static_cast<std::size_t>(days) * 24 * static_cast<std::size_t>(stepsPerHour));
    for (std::size_t t = 0; t < cell.dischargeSeries.size(); ++t) cell.dischargeSeries[t] = value(t);
    return cell;
}

const float* hourOf(const Cell& cell, int day, int hour, int stepsPerHour) {
    return cell.dischargeSeries.data() + seriesIndex(day, hour, 0, stepsPerHour);
}

TEST(DischargeStatistics, MeansAreFloat32SumsInStepOrder) {
    Cell cell;
    cell.dischargeSeries = {16777216.0f, 1.0f, 1.0f, 1.0f};  // 2^24: a float32 sum drops each 1
    EXPECT_EQ(hourlyMeanDischarge(cell, 0, 0, 4), 4194304.0f);
    cell.inflowSeries = cell.dischargeSeries;  // a double sum would round to 4194305
    EXPECT_EQ(hourlyMeanInflow(cell, 0, 0, 4), 4194304.0f);
}

TEST(DischargeStatistics, TenMinuteValuesOfSixtySecondSteps) {
    const Cell cell = cellWithSeries(2, 60, [](std::size_t t) { return static_cast<float>(t); });
    EXPECT_EQ(snapshotDischarge10min(cell, 0, 0, 0, 10), 9.0f);
    EXPECT_EQ(snapshotDischarge10min(cell, 0, 0, 5, 10), 59.0f);
    EXPECT_EQ(snapshotDischarge10min(cell, 1, 2, 1, 10), static_cast<float>(26 * 60 + 19));
    EXPECT_EQ(meanDischarge10min(cell, 0, 1, 2, 10), static_cast<float>(60 + 24.5));
    EXPECT_EQ(hourlyMeanDischarge(cell, 1, 23, 60), static_cast<float>(47 * 60 + 29.5));
}

TEST(DischargeStatistics, AlignedLayoutIsTheDirectFormula) {
    for (int stepSeconds : {30, 60, 120, 300, 600}) {
        const int sph = 3600 / stepSeconds;
        const Cell cell = cellWithSeries(1, sph, [](std::size_t t) { return 0.1f * static_cast<float>(t % 7); });
        const TenMinuteLayout layout(stepSeconds);
        for (int s = 0; s < 6; ++s) {
            EXPECT_EQ(layout.mean(hourOf(cell, 0, 3, sph), s), meanDischarge10min(cell, 0, 3, s, 600 / stepSeconds));
            EXPECT_EQ(layout.snapshot(hourOf(cell, 0, 3, sph), s),
                      snapshotDischarge10min(cell, 0, 3, s, 600 / stepSeconds));
        }
    }
}

TEST(DischargeStatistics, StepsThatDoNotDivideTenMinutesAreWeightedByTime) {
    // 720 s steps: the second interval takes 120 s of step 0 and 480 s of step 1.
    Cell cell;
    cell.dischargeSeries = {1.0f, 6.0f, 2.0f, 3.0f, 4.0f};
    const TenMinuteLayout slow(720);
    EXPECT_EQ(slow.mean(hourOf(cell, 0, 0, 5), 0), 1.0f);
    EXPECT_EQ(slow.mean(hourOf(cell, 0, 0, 5), 1), static_cast<float>((1.0 * 120 + 6.0 * 480) / 600.0));
    EXPECT_EQ(slow.snapshot(hourOf(cell, 0, 0, 5), 0), 1.0f);
    EXPECT_EQ(slow.snapshot(hourOf(cell, 0, 0, 5), 1), 6.0f);
    EXPECT_EQ(slow.snapshot(hourOf(cell, 0, 0, 5), 5), 4.0f);
    // 45 s steps: step 13 runs from 585 s to 630 s and is in progress at 600 s.
    const Cell ramp = cellWithSeries(1, 80, [](std::size_t t) { return static_cast<float>(t); });
    const TenMinuteLayout fine(45);
    EXPECT_EQ(fine.snapshot(hourOf(ramp, 0, 0, 80), 0), 13.0f);
    EXPECT_EQ(fine.snapshot(hourOf(ramp, 0, 0, 80), 5), 79.0f);
    double expected = 0.0;
    for (int step = 0; step < 13; ++step) expected += step * 45.0;
    expected += 13 * 15.0;
    EXPECT_EQ(fine.mean(hourOf(ramp, 0, 0, 80), 0), static_cast<float>(expected / 600.0));
    // A constant discharge keeps its value whatever the step.
    const Cell flat = cellWithSeries(1, 4, [](std::size_t) { return 2.5f; });
    const TenMinuteLayout quarter(900);
    for (int s = 0; s < 6; ++s) EXPECT_EQ(quarter.mean(hourOf(flat, 0, 0, 4), s), 2.5f);
}

// A 4 x 5 grid whose interior cells carry a series value = 1000 * cell index + step.
struct OutputProject {
    ScratchDir dir;
    ModelParams params;
    CellGrid grid{4, 5};
    RainGrid rain;
    std::vector<int32_t> rivers{0, 3};

    explicit OutputProject(int stepSeconds, int days = 1) {
        params.nrows = 4;
        params.ncols = 5;
        params.days = days;
        params.stepSeconds = stepSeconds;
        params.stepsPerHour = 3600 / stepSeconds;
        params.xllcorner = 135.0;
        params.yllcorner = 35.0;
        params.rainRows = params.rainCols = 1;
        params.obsPerHour = 6;
        rain = makeRainGrid(params);
        const std::size_t steps = static_cast<std::size_t>(days) * 24 * static_cast<std::size_t>(params.stepsPerHour);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 5; ++c) {
                Cell& cell = grid.at(r, c);
                cell.setGeometry(r, c, 4, 5, 35.0, 135.0, 0.0f, 30.0f);
                cell.riverNum = c == 2 ? 7 : 3;  // river 7 is not simulated
                cell.rainPoint = 0;
                if (cell.isEdge) continue;
                cell.dischargeSeries.resize(steps);
                for (std::size_t t = 0; t < steps; ++t)
                    cell.dischargeSeries[t] = static_cast<float>(1000 * grid.index(r, c)) + static_cast<float>(t);
            }
    }
    // Enters the listed cells' values as the time loop does, in the order
    // `cells` gives (default: row-major), in batches of `batchBytes`, then
    // writes the outputs.
    RunResult write(std::size_t batchBytes = 0, std::vector<int32_t> cells = {},
                    const std::function<void(DischargeFiles&)>& first = {}) {
        if (cells.empty())
            for (int32_t i = 0; i < 20; ++i) cells.push_back(i);
        return runCaptured([&](std::ostream& out) {
            DischargeFiles files;
            openDischargeFiles(files, grid, rivers, params, batchBytes);
            if (first) first(files);
            const TenMinuteLayout layout(params.stepSeconds);
            std::vector<float> values(static_cast<std::size_t>(params.days) * 24 * kValuesPerHour);
            for (const int32_t i : cells) {
                const Cell& cell = grid.cells[static_cast<std::size_t>(i)];
                if (cell.isEdge || !isListedRiver(rivers, cell.riverNum)) continue;
                cellStatistics(cell.dischargeSeries, layout, params.days, params.stepsPerHour, values.data());
                addCellValues(files, i, values.data());
            }
            return writeOutputs(files, grid, rain, params, {}, {}, out) ? 0 : 1;
        });
    }
};

TEST(DischargeFiles, LayoutNoDataAndConsole) {
    OutputProject project(60);
    const RunResult r = project.write();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "Write ./output/discharge10minSnapshot.bin\n"
              "Write ./output/discharge10minMean.bin\n"
              "Write ./output/dischargeHourlyMean.bin\n"
              "Write ./output/totalRainDistribution.asc\n"
              "Write ./output/damData/damIQS.dat\n"
              "Write ./output/resData/resIQ.dat\n");
    const std::vector<float> hourly = readBinary<float>("output/dischargeHourlyMean.bin");
    const std::vector<float> snap = readBinary<float>("output/discharge10minSnapshot.bin");
    const std::vector<float> mean = readBinary<float>("output/discharge10minMean.bin");
    ASSERT_EQ(hourly.size(), 20u * 24);
    ASSERT_EQ(snap.size(), 20u * 144);
    ASSERT_EQ(mean.size(), 20u * 144);
    // File row 1 is the south row (in-memory row 3): all border.
    for (int x = 0; x < 5; ++x) EXPECT_EQ(hourly[static_cast<std::size_t>(x)], kNoData);
    // File row 2, column 2 is in-memory cell (2, 1), index 11.
    const std::size_t at = 5 + 1;
    EXPECT_EQ(hourly[at], static_cast<float>(11000 + 29.5));
    EXPECT_EQ(hourly[20 * 3 + at], static_cast<float>(11000 + 180 + 29.5));
    EXPECT_EQ(snap[at], 11009.0f);
    EXPECT_EQ(snap[20 * 5 + at], 11059.0f);
    EXPECT_EQ(snap[20 * 6 + at], 11069.0f);
    EXPECT_EQ(mean[20 * 7 + at], 11000.0f + 74.5f);
    // Column 3 belongs to river 7, which is not in the river list.
    for (std::size_t f = 0; f < 144; ++f) {
        EXPECT_EQ(snap[f * 20 + 5 + 2], kNoData);
        EXPECT_EQ(mean[f * 20 + 10 + 2], kNoData);
        for (int x = 0; x < 5; ++x) {  // outer ring
            EXPECT_EQ(snap[f * 20 + static_cast<std::size_t>(x)], kNoData);
            EXPECT_EQ(snap[f * 20 + 15 + static_cast<std::size_t>(x)], kNoData);
        }
        EXPECT_EQ(mean[f * 20 + 5], kNoData);
        EXPECT_EQ(mean[f * 20 + 9], kNoData);
    }
    // -9999.0 is stored as 00 3C 1C C6.
    const std::string bytes = readFile("output/dischargeHourlyMean.bin");
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x00\x3c\x1c\xc6", 4));
}

TEST(DischargeFiles, BatchesAndOrderDoNotChangeTheFiles) {
    std::vector<std::string> expected;
    {
        OutputProject plain(60, 2);
        ASSERT_EQ(plain.write().status, 0);
        for (const char* f : {"output/discharge10minSnapshot.bin", "output/discharge10minMean.bin",
                              "output/dischargeHourlyMean.bin"})
            expected.push_back(readFile(f));
    }
    // Cells in reverse, and a cell entered twice: its later values win.
    std::vector<int32_t> reverse;
    for (int32_t i = 19; i >= 0; --i) reverse.push_back(i);
    const auto earlier = [&](DischargeFiles& files) {
        const std::vector<float> wrong(static_cast<std::size_t>(2 * 24 * kValuesPerHour), 5.0f);
        addCellValues(files, 11, wrong.data());  // cell (2, 1)
    };
    // Batches of one cell, of three (gaps and the repeated cell inside a batch), and of all.
    for (const std::size_t cells : {1, 3, 20}) {
        OutputProject project(60, 2);
        ASSERT_EQ(project.write(cells * 2 * 24 * kValuesPerHour * sizeof(float), reverse, earlier).status, 0);
        EXPECT_EQ(readFile("output/discharge10minSnapshot.bin"), expected[0]) << cells;
        EXPECT_EQ(readFile("output/discharge10minMean.bin"), expected[1]) << cells;
        EXPECT_EQ(readFile("output/dischargeHourlyMean.bin"), expected[2]) << cells;
        EXPECT_FALSE(std::filesystem::exists("output/dischargeHourlyMean.bin.partial"));
    }
}

TEST(DischargeFiles, TenMinuteStepsMakeSnapshotAndMeanIdentical) {
    OutputProject project(600, 2);
    EXPECT_EQ(project.write().status, 0);
    EXPECT_EQ(readFile("output/discharge10minSnapshot.bin"), readFile("output/discharge10minMean.bin"));
    EXPECT_EQ(readFile("output/dischargeHourlyMean.bin").size(), 4u * 20 * 48);
}

TEST(DischargeFiles, MissingOutputDirectoryIsReported) {
    OutputProject project(300);
    std::filesystem::remove_all("output");
    const RunResult r = project.write();
    EXPECT_EQ(r.status, 1);
    const std::string tail =
        "Write ./output/resData/resIQ.dat\n"
        "Error: ./output/discharge10minSnapshot.bin could not be written: No such file or directory.\n";
    EXPECT_EQ(r.output.substr(r.output.size() - tail.size()), tail);
    // The series are released once everything is written.
    EXPECT_TRUE(project.grid.at(1, 1).dischargeSeries.empty());
}

}  // namespace

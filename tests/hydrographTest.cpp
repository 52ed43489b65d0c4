// plotHydrograph and its pieces: skill scores against hand-computed values,
// observed CSV files, event dates, the upstream area, and the command on a
// finished run.

#include "eventTime.h"
#include "observedSeries.h"
#include "plotCommand.h"
#include "resultsProject.h"
#include "skillScores.h"
#include "upstreamRain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace {

TimeSeries series(std::vector<double> minutes, std::vector<double> values) { return {minutes, values}; }

TEST(SkillScores, PerfectFitOffsetAndHandComputedSeries) {
    const TimeSeries obs = series({60, 120, 180, 240}, {1, 2, 3, 4});
    const SkillScores perfect = compareSeries(obs, obs);
    EXPECT_EQ(perfect.nse, 1.0);
    EXPECT_EQ(perfect.kge, 1.0);
    EXPECT_EQ(perfect.percentBias, 0.0);
    EXPECT_EQ(perfect.peakErrorPercent, 0.0);
    EXPECT_EQ(perfect.peakTimingMinutes, 0.0);

    // A constant offset of +1: NSE 1 - 4/5, bias 100 x 4/10, beta 3.5/2.5, r = alpha = 1, KGE 1 - 0.4.
    const SkillScores offset = compareSeries(series({60, 120, 180, 240}, {2, 3, 4, 5}), obs);
    EXPECT_NEAR(offset.nse, 0.2, 1e-12);
    EXPECT_NEAR(offset.percentBias, 40.0, 1e-12);
    EXPECT_NEAR(offset.r, 1.0, 1e-12);
    EXPECT_NEAR(offset.alpha, 1.0, 1e-12);
    EXPECT_NEAR(offset.beta, 1.4, 1e-12);
    EXPECT_NEAR(offset.kge, 0.6, 1e-12);
    EXPECT_NEAR(offset.peakErrorPercent, 25.0, 1e-12);

    // Twice the variation around the same mean, the peak an hour late:
    // s = {2.5, 1, 2.5, 4}, o = {2.5, 2, 2.5, 3}; r = 1 at the pairs, alpha = 3, beta = 1.
    const SkillScores spread = compareSeries(series({60, 120, 180, 240, 300}, {2.5, 1, 2.5, 4, 9}),
                                             series({60, 120, 180, 240}, {2.5, 2, 2.5, 3}));
    EXPECT_EQ(spread.pairs, 4u);
    EXPECT_NEAR(spread.alpha, 3.0, 1e-12);
    EXPECT_NEAR(spread.kge, 1.0 - 2.0, 1e-12);
    EXPECT_NEAR(spread.nse, 1.0 - 4.0 * 0.5 / 0.5, 1e-12);  // squared errors 0 + 1 + 0 + 1 over 0.5
    EXPECT_NEAR(spread.peakErrorPercent, 100.0 / 3.0, 1e-12);  // 4 against 3; the 9 lies outside the pairs
    EXPECT_EQ(spread.peakTimingMinutes, 0.0);
}

TEST(SkillScores, PairsInsideTheSimulatedSpanOnly) {
    // Hourly simulation 10, 20, 30; observations at 30 (before it), 90 and 150 (between), 600 (after).
    const SkillScores s =
        compareSeries(series({60, 120, 180}, {10, 20, 30}), series({30, 90, 150, 600}, {0, 15, 25, 99}));
    EXPECT_EQ(s.pairs, 2u);
    EXPECT_EQ(s.firstMinute, 90.0);
    EXPECT_EQ(s.lastMinute, 150.0);
    EXPECT_EQ(s.nse, 1.0);  // the interpolated simulation equals the observations there
    EXPECT_EQ(s.peakTimingMinutes, 120.0 - 150.0);  // the simulated sample at 120 is the peak inside 90..150
    EXPECT_THROW(compareSeries(series({60, 120}, {1, 2}), series({90, 400}, {1, 2})), InputError);
    // Constant observations: NSE has no denominator.
    EXPECT_TRUE(std::isnan(compareSeries(series({60, 120}, {1, 2}), series({60, 120}, {3, 3})).nse));
}

TEST(EventTime, DatesParsedCheckedAndCounted) {
    EXPECT_TRUE(parseDateTime("2024-02-29T23:59:59"));
    EXPECT_TRUE(parseDateTime("2024/09/01 06:00"));
    EXPECT_TRUE(parseDateTime("2024-09-01"));
    for (const char* bad : {"2023-02-29", "2024-09-01T24:00", "2024-9-01", "2024-09-01T06", "2024-09-01 06:00:00Z", ""})
        EXPECT_FALSE(parseDateTime(bad)) << bad;
    const DateTime start = *parseDateTime("2023-12-31T23:30");
    EXPECT_EQ(isoText(addMinutes(start, 90)), "2024-01-01T01:00:00");
    EXPECT_EQ(minutesBetween(start, *parseDateTime("2024-03-01T00:00:30")), 30 + (31 + 29) * 1440 + 0.5);  // leap February
}

TEST(ObservedSeries, CsvWithHeaderCommentsGapsAndDates) {
    ScratchDir dir;
    const EventStart start{parseDateTime("2024-09-01T06:00"), ""};
    writeText("gauge.csv", "# station 42\ndate,Q (m3/s)\n2024-09-01 08:00,7.5\n2024-09-01T07:00;5\n"
                           "120,NA\n180,-9999\n\n2024/09/01 09:30:00\t8\n");
    const ObservedSeries obs = readObservedCsv("gauge.csv", start);
    EXPECT_EQ(obs.series.minutes, (std::vector<double>{60, 120, 210}));
    EXPECT_EQ(obs.series.values, (std::vector<double>{5, 7.5, 8}));
    EXPECT_EQ(obs.gaps, 2u);

    const struct {
        const char* text;
        std::string message;
    } bad[] = {
        {"60,1\nsoon,2\n", "Error: gauge.csv line 2: \"soon\" is neither minutes from the start nor a date and time.\n"},
        {"60,1\n120,high\n", "Error: gauge.csv line 2: the discharge \"high\" is not a number.\n"},
        {"time,q\n", "Error: the observations gauge.csv hold no discharge value.\n"},
    };
    for (const auto& b : bad) {
        writeText("gauge.csv", b.text);
        try {
            readObservedCsv("gauge.csv", start);
            ADD_FAILURE() << b.text;
        } catch (const InputError& e) {
            EXPECT_EQ(e.message, b.message);
        }
    }
    writeText("gauge.csv", "2024-09-01 08:00,7.5\n");
    EXPECT_THROW(readObservedCsv("gauge.csv", EventStart{}), InputError);
    EXPECT_THROW(readObservedCsv("missing.csv", start), InputError);
}

TEST(UpstreamRain, AreaAndMeanOfTheCellsDrainingToACell) {
    ResultsProject project;
    std::vector<int32_t> flowDir = readIntRasterNorthUp("topoData/flowDir.bin", 4, 6);
    // Row 1 from the north drains east along columns 1..4 into its mouth at column 4.
    std::vector<int32_t> cells = upstreamCells(flowDir, 4, 6, 1 * 6 + 4);
    std::sort(cells.begin(), cells.end());
    EXPECT_EQ(cells, (std::vector<int32_t>{7, 8, 9, 10}));
    EXPECT_EQ(upstreamCells(flowDir, 4, 6, 1 * 6 + 1), (std::vector<int32_t>{7}));
    const std::vector<double> rain = upstreamMeanRain(Project{}, readProjectParams(Project{}), cells);
    ASSERT_EQ(rain.size(), 144u);
    EXPECT_NEAR(rain[0], 6.0, 1e-12);
    EXPECT_NEAR(rain[143], 6.0, 1e-12);
}

TEST(PlotHydrograph, CellDamAndGaugeEndToEnd) {
    ResultsProject project;
    auto run = [](const std::vector<std::string>& args) {
        return runCaptured([&](std::ostream& out) { return runPlot(parsePlotOptions(args), out); });
    };
    // The gauge (the run starts at 06:30): the hourly means of the cell at four
    // hours, 100 h + 23.125 for the hour h ending at minute 60 (h + 1), one of them 10 higher.
    writeText("gauge.csv", "time,q\n2024-09-01 08:30,123.125\n2024-09-01 09:30,223.125\n"
                           "2024-09-01 10:30,333.125\n2024-09-01 11:30,423.125\n");
    const RunResult cell = run({"--cell", "3", "2", "--observed", "gauge.csv", "--10min"});
    ASSERT_EQ(cell.status, 0) << cell.output;
    EXPECT_NE(cell.output.find("Write output/hydrograph-3-2.svg\nWrite output/hydrograph-3-2-skill.csv\n"),
              std::string::npos);
    const std::string svg = readFile("output/hydrograph-3-2.svg");
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find("Discharge (m³/s)"), std::string::npos);
    EXPECT_NE(svg.find("Observed"), std::string::npos);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    // Percent bias: the simulation is 10 lower in a sum of 1102.5.
    const std::string csv = readFile("output/hydrograph-3-2-skill.csv");
    EXPECT_NE(csv.find("\n4,120,300,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",-0.907029,"), std::string::npos) << csv;

    const RunResult dam = run({"--dam", "Upper", "-o", "dam.svg"});
    ASSERT_EQ(dam.status, 0) << dam.output;
    EXPECT_NE(readFile("dam.svg").find("Inflow (hourly mean)"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("dam-skill.csv"));

    EXPECT_EQ(run({"--reservoir", "Pond"}).output,
              "Error: input/reservoir.dat names no \"Pond\"; it names Lake.\n");
    EXPECT_EQ(run({"--cell", "2", "3"}).output,
              "Error: column 2, row 3 is not computed (the outer ring, or a river that is not simulated): "
              "output/dischargeHourlyMean.bin holds no discharge there.\n");
    EXPECT_EQ(run({"--cell", "7", "1"}).output, "Error: column 7, row 1 is outside the grid of 6 x 4 cells.\n");
    EXPECT_EQ(run({"--cell", "3", "2", "--dam", "Upper"}).output,
              "Error: give one of --cell COL ROW, --dam NAME and --reservoir NAME. Try plotHydrograph --help.\n");
    EXPECT_EQ(run({"--cell", "3", "2", "--observed", "none.csv"}).output,
              "Error: the observations none.csv cannot open.\n");
    EXPECT_EQ(skillCsvPath("out/a.b/plot"), "out/a.b/plot-skill.csv");
}

}  // namespace

// Dams and reservoirs: the lists, the operation rules at their limits, the
// routing coefficients and the hourly tables.

#include "dam.h"
#include "paramFile.h"
#include "reservoir.h"
#include "testProject.h"
#include "structureLists.h"

#include <gtest/gtest.h>

namespace {

// A 4 x 5 grid of river 0 whose interior cells are set up with series of one
// day of 60 steps per hour; cell (1, 1) drains into (1, 2), the structure cell.
struct StructureGrid {
    ModelParams params;
    CellGrid grid{4, 5};
    std::vector<int32_t> rivers{0};

    StructureGrid() {
        params.nrows = 4;
        params.ncols = 5;
        params.days = 1;
        params.stepSeconds = 60;
        params.stepsPerHour = 60;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 5; ++c) {
                Cell& cell = grid.at(r, c);
                cell.setGeometry(r, c, 4, 5, 35.0, 135.0, 0.0f, 30.0f);
                cell.riverNum = 0;
                cell.flowAcc = 1;
                cell.stepSeconds = 60;
                cell.slopeLength = 100.0;
                if (!cell.isEdge) cell.dischargeSeries.assign(24 * 60, 0.0f);
            }
        Cell& target = grid.at(1, 2);
        target.upstream[0] = grid.index(1, 1);
        target.numUpstream = 1;
    }
    Cell& target() { return grid.at(1, 2); }
    UpstreamSeries upstream() const { return upstreamSeriesOf(grid, grid.at(1, 2)); }
    void upstreamFlow(float q) {
        std::fill(grid.at(1, 1).dischargeSeries.begin(), grid.at(1, 1).dischargeSeries.end(), q);
    }
};

Dam damAt(StructureGrid& g, int kind, double q, double s1, double s2) {
    Dam dam;
    dam.kind = kind;
    dam.cell = g.grid.index(1, 2);
    dam.regulatedOutflow = q;
    dam.s1 = s1;
    dam.s2 = s2;
    dam.storageSeries.assign(24 * 60, 0.0f);
    g.target().inflowSeries.assign(24 * 60, 0.0f);
    g.target().kind = kDamCell;
    return dam;
}

TEST(Dam, LocalInflowCountsTheRainTwice) {
    StructureGrid g;
    g.upstreamFlow(3.0f);
    g.target().lateralInflow = 1e-4;
    EXPECT_DOUBLE_EQ(localInflow(g.target(), g.upstream(), 0), 3.0 + 2.0 * 1e-4 * 100.0);
}

TEST(Dam, ConstantReleaseBetweenLimits) {
    StructureGrid g;
    Dam dam = damAt(g, 1, 5.0, 0.0, 4000.0);
    g.upstreamFlow(2.0f);  // below the regulated release, storage at the lower limit
    operate(dam, g.target(), g.upstream(), 0, 0, 0, 60);
    EXPECT_EQ(g.target().dischargeSeries[0], 2.0f);
    EXPECT_EQ(dam.storage, 0.0);

    g.upstreamFlow(5.0f);  // inflow equal to the release
    operate(dam, g.target(), g.upstream(), 0, 0, 1, 60);
    EXPECT_EQ(g.target().dischargeSeries[1], 5.0f);

    g.upstreamFlow(45.0f);  // above: stores (45 - 5) * 60 per step and overshoots the limit by one step
    for (int step = 2; step < 4; ++step) operate(dam, g.target(), g.upstream(), 0, 0, step, 60);
    EXPECT_EQ(dam.storage, 4800.0);
    EXPECT_EQ(g.target().dischargeSeries[3], 5.0f);
    operate(dam, g.target(), g.upstream(), 0, 0, 4, 60);  // at the upper limit: passes the inflow through
    EXPECT_EQ(g.target().dischargeSeries[4], 45.0f);
    EXPECT_EQ(dam.storage, 4800.0);
    EXPECT_EQ(dam.storageSeries[4], 4800.0f);
    EXPECT_EQ(g.target().inflowSeries[4], 45.0f);
}

TEST(Dam, CappedReleaseStoresEverythingAbove) {
    StructureGrid g;
    Dam dam = damAt(g, 2, 5.0, 0.0, 0.0);
    g.upstreamFlow(8.0f);
    operate(dam, g.target(), g.upstream(), 0, 0, 0, 60);
    EXPECT_EQ(g.target().dischargeSeries[0], 5.0f);
    EXPECT_EQ(dam.storage, 180.0);
    g.upstreamFlow(1.0f);
    operate(dam, g.target(), g.upstream(), 0, 0, 1, 60);
    EXPECT_EQ(g.target().dischargeSeries[1], 1.0f);
    EXPECT_EQ(dam.storage, 180.0);  // never decreases
}

TEST(Dam, RecordedReleaseHoldsOverTheHour) {
    StructureGrid g;
    Dam dam = damAt(g, 0, 0.0, 0.0, 0.0);
    dam.recordedOutflow.assign(24, 0.0);
    dam.recordedOutflow[1] = 12.5;
    for (int step = 0; step < 60; ++step) operate(dam, g.target(), g.upstream(), 0, 1, step, 60);
    EXPECT_EQ(g.target().dischargeSeries[60], 12.5f);
    EXPECT_EQ(g.target().dischargeSeries[119], 12.5f);
    EXPECT_EQ(g.target().inflowSeries[60], 0.0f);
    EXPECT_EQ(dam.storageSeries[60], 0.0f);
}

TEST(Dam, UnknownKindStopsAtItsFirstStep) {
    StructureGrid g;
    Dam dam = damAt(g, 3, 0.0, 0.0, 0.0);
    const RunResult r = runCaptured([&](std::ostream&) {
        operate(dam, g.target(), g.upstream(), 0, 0, 0, 60);
        return 0;
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output,
              "Set dam type to 1 or 2. Modelling of other types of dam operation is instructed in the manual.\n");
}

TEST(Dam, MeanStorageAddsTheInitialStorage) {
    Dam dam;
    dam.initialStorage = 1000.0;
    dam.storageSeries.assign(24 * 4, 0.0f);
    dam.storageSeries[4] = 10.0f;
    dam.storageSeries[5] = 20.0f;
    EXPECT_EQ(hourlyMeanStorage(dam, 0, 0, 4), 1000.0f);
    EXPECT_EQ(hourlyMeanStorage(dam, 0, 1, 4), 1007.5f);
}

RunResult readDamList(StructureGrid& g, std::vector<Dam>& dams) {
    return runCaptured([&](std::ostream& out) {
        dams = readDams(g.grid, g.rivers, g.params, out);
        return 0;
    });
}

TEST(DamList, ConsoleBlockAndLimits) {
    ScratchDir dir;
    StructureGrid g;
    std::vector<Dam> dams;
    RunResult r = readDamList(g, dams);
    EXPECT_EQ(r.output,
              "\nRead ./input/dam.dat\n-------------Dam setting-------------\n"
              "dam.dat does not exist. It is assumed no dams exist.\n"
              "-------------------------------------\n");
    EXPECT_TRUE(dams.empty());

    writeText("input/dam.dat", "2\n1 1 3 3 5.0 0 1000 5000 Upper\n2 2 2 2 1.5 2500.5 1000 5000 Lower\n");
    r = readDamList(g, dams);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "\nRead ./input/dam.dat\n-------------Dam setting-------------\n"
              "Upper s1=0 s2=4000\n"
              "Lower s1=-1500.5 s2=2499.5\n"
              "-------------------------------------\n");
    ASSERT_EQ(dams.size(), 2u);
    EXPECT_EQ(dams[0].rowIndex, 1);
    EXPECT_EQ(dams[0].columnIndex, 2);
    EXPECT_EQ(dams[0].initialStorage, 1000.0);
    EXPECT_EQ(dams[1].rowIndex, 2);
    EXPECT_EQ(dams[1].columnIndex, 1);
    EXPECT_EQ(g.grid.at(1, 2).kind, kDamCell);
    EXPECT_EQ(g.grid.at(1, 2).inflowSeries.size(), 24u * 60);
    EXPECT_EQ(dams[0].outflowPath, "./input/realDamOutflow/realUpper.dat");
}

TEST(DamList, RecordedReleaseFile) {
    ScratchDir dir({"input", "input/realDamOutflow"});
    StructureGrid g;
    std::vector<Dam> dams;
    writeText("input/dam.dat", "1\n1 0 3 3 0 0 0 0 Gauge\n");
    RunResult r = readDamList(g, dams);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output.substr(r.output.find("Dam outflow")),
              "Dam outflow file cannot open.\nFile Name : ./input/realDamOutflow/realGauge.dat\n");

    std::string records;
    for (int h = 0; h < 23; ++h) records += "1 " + std::to_string(h) + " " + std::to_string(h * 0.5) + "\n";
    writeText("input/realDamOutflow/realGauge.dat", records);
    r = readDamList(g, dams);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Read : ./input/realDamOutflow/realGauge.dat\nError: "
                            "./input/realDamOutflow/realGauge.dat has no valid record for hour 24"),
              std::string::npos)
        << r.output;

    writeText("input/realDamOutflow/realGauge.dat", records + "1 23 7.25\n");
    r = readDamList(g, dams);
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(dams.size(), 1u);
    EXPECT_EQ(dams[0].recordedOutflow[23], 7.25);
}

TEST(DamList, RejectedRecords) {
    ScratchDir dir;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"1\n1 1 6 3 5 0 0 0 Far\n", "dam Far at column 6, row 3 lies outside the grid"},
        {"1\n1 1 3 0 5 0 0 0 Low\n", "lies outside the grid"},
        {"1\n1 1 1 2 5 0 0 0 Edge\n", "dam Edge at column 1, row 2 lies on a cell that is never computed"},
        {"1\n1 1 3 3 5 0 0 0 ABCDEFGHIJKLMNOPQRST\n", "is longer than 19 characters"},
        {"2\n1 1 3 3 5 0 0 0 One\n", "record 2: the list ends early"},
        {"1\n1 1 3 x 5 0 0 0 Bad\n", "record 1: the list ends early or holds a token that is not a number"},
        {"-1\n", "the number of dams is negative"},
        {"1\n1 2 3 3 -5 0 0 0 Neg\n", "record 1: the release -5 m3/s is negative."},
    };
    for (const auto& [text, message] : cases) {
        StructureGrid g;
        std::vector<Dam> dams;
        writeText("input/dam.dat", text);
        const RunResult r = readDamList(g, dams);
        EXPECT_EQ(r.status, 1) << text;
        EXPECT_NE(r.output.find(message), std::string::npos) << r.output;
    }
    StructureGrid g;
    g.rivers = {4};  // river 0 is not simulated
    std::vector<Dam> dams;
    writeText("input/dam.dat", "1\n1 1 3 3 5 0 0 0 Off\n");
    EXPECT_EQ(readDamList(g, dams).status, 1);
}

TEST(DamList, HourlyTable) {
    ScratchDir dir;
    StructureGrid g;
    std::vector<Dam> dams(1, damAt(g, 2, 5.0, 0.0, 0.0));
    dams[0].name = "Upper";
    dams[0].initialStorage = 100.0;
    g.upstreamFlow(6.0f);
    for (int hour = 0; hour < 24; ++hour)
        for (int step = 0; step < 60; ++step) operate(dams[0], g.target(), g.upstream(), 0, hour, step, 60);
    const std::vector<TableFile> tables = damTables(dams, g.grid, g.params);
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].path, "./output/damData/UpperIQS.dat");
    const std::string& table = tables[0].text;
    EXPECT_EQ(table.substr(0, table.find('\n') + 1), "1\t6\t5\t1930\n");  // mean storage 30.5 * 60 + 100
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 24);
    EXPECT_NE(table.find("\n24\t6\t5\t"), std::string::npos);
}

TEST(Reservoir, RoutingCoefficients) {
    Reservoir r;
    setStorageConstant(r, 0, 60);
    EXPECT_EQ(r.c1, -1.0);
    EXPECT_EQ(r.c2, 1.0);
    setStorageConstant(r, 30, 60);
    EXPECT_EQ(r.c1, 0.0);
    EXPECT_EQ(r.c2, 0.5);
    setStorageConstant(r, 3600, 60);
    EXPECT_EQ(r.c1, 7140.0 / 7260.0);
    EXPECT_EQ(r.c2, 60.0 / 7260.0);
    setStorageConstant(r, 2000000000, 60);  // 2k overflows 32 bits
    EXPECT_EQ(r.c1, 3999999940.0 / 4000000060.0);
}

TEST(Reservoir, RoutesTowardsTheInflow) {
    StructureGrid g;
    Reservoir reservoir;
    reservoir.cell = g.grid.index(1, 2);
    g.target().inflowSeries.assign(24 * 60, 0.0f);
    setStorageConstant(reservoir, 3600, 60);
    g.upstreamFlow(10.0f);
    route(reservoir, g.target(), g.upstream(), 0, 0, 0, 60);
    EXPECT_EQ(g.target().dischargeSeries[0], static_cast<float>(10.0 * (60.0 / 7260.0)));
    for (int step = 1; step < 60; ++step) route(reservoir, g.target(), g.upstream(), 0, 0, step, 60);
    for (int hour = 1; hour < 24; ++hour)
        for (int step = 0; step < 60; ++step) route(reservoir, g.target(), g.upstream(), 0, hour, step, 60);
    EXPECT_NEAR(g.target().dischargeSeries.back(), 10.0f, 1e-3);
    EXPECT_EQ(g.target().inflowSeries.back(), 10.0f);

    Reservoir passThrough;  // k = 0: the outflow is the inflow
    passThrough.cell = reservoir.cell;
    setStorageConstant(passThrough, 0, 60);
    g.upstreamFlow(3.0f);
    route(passThrough, g.target(), g.upstream(), 0, 0, 0, 60);
    EXPECT_EQ(g.target().dischargeSeries[0], 3.0f);
}

TEST(ReservoirList, ConsoleBlockAndRejections) {
    ScratchDir dir;
    StructureGrid g;
    auto read = [&](std::vector<Reservoir>& list) {
        return runCaptured([&](std::ostream& out) {
            list = readReservoirs(g.grid, g.rivers, g.params, out);
            return 0;
        });
    };
    std::vector<Reservoir> list;
    RunResult r = read(list);
    EXPECT_EQ(r.output,
              "\nRead ./input/reservoir.dat\n----------Reservoir setting----------\n"
              "reservoir.dat dose not exist. It is assumed no reservoirs exist.\n"
              "-------------------------------------\n\n");
    writeText("input/reservoir.dat", "1 7 3 3 3600 Lake\n");
    r = read(list);
    EXPECT_EQ(r.output,
              "\nRead ./input/reservoir.dat\n----------Reservoir setting----------\n"
              "Lake k=3600\n"
              "-------------------------------------\n\n");
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].number, 7);
    EXPECT_EQ(g.grid.at(1, 2).kind, kReservoirCell);
    writeText("input/reservoir.dat", "1 7 3 3 -10 Lake\n");
    r = read(list);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("negative storage constant"), std::string::npos);
}

}  // namespace

// The parameter file: value order, echo, checks and their stop points.

#include "inputError.h"
#include "paramFile.h"
#include "testProject.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const char* const kFullEcho =
    "1: Reading parameters for study area.\n"
    "  Topography scale : 30\n"
    "  Number of col : 5  Number of row : 4\n"
    " Sorth West corner Longitude (degree) : 135 Latitude (deg) : 35\n"
    "2: Reading parameters for input data.\n"
    "Read ./input/rain.dat\n"
    "  Rainfall time interval (min): 10\n"
    "  Number of col : 2  Number of row : 2\n"
    "  Input data grid size of x-direction : 0.05\n"
    "  Input data grid size of y-direction : 0.05\n"
    "  Longitude of the center of the Southwest corner of input data (degree) : 135\n"
    "  Latitude of the center of the Southwest corner of input data (degree) : 35\n"
    "  Raninfall observation times in 1 hour : 6\n"
    "3: Reading parameters for simuration duration.\n"
    "  Simulation duration (days) : 1\n"
    "4: Reading parameters for finite difference condition.\n"
    "  Finite Difference time interval (sec) : 60\n"
    "  Finite difference space step : 4\n"
    "  Finite difference weight : 0.6\n"
    "  Iteration times in 1 hour : 60\n"
    "5: Reading parameters for kinematic wave model.\n"
    "Manning roughmess coefficient for slope [m-s unit] : 0.3\n"
    "Hydraulic conductivity [m-s] : 0.001\n"
    "Depth of capillary and non-capillary soil layers [m] : 1\n"
    "Depth of capillary soil layers [m] : 0.5\n"
    "Exponent constant of unsaturated hydraulic conductivity : 4\n"
    "Manning roughmess coefficient for channel [m-s unit] : 0.03\n"
    "6: Reading the parameters of topographic conditions.\n"
    "  Area to classify slope and channel : 3\n"
    "  Slope length [m] : 100\n"
    "7: Reading itinial discharge for kinematic wave model.\n"
    "  Initial runoff height [mm/hr] : 0.1\n";

struct ModelRead {
    RunResult run;
    ModelParams params;
};

ModelRead readModel(const std::string& text) {
    ModelRead r;
    std::istringstream in(text);
    r.run = runCaptured([&](std::ostream& out) {
        readParamFile(in, kModelParamPath, out, r.params);
        return 0;
    });
    return r;
}

RunResult readTool(const std::string& text, ToolParams& params) {
    std::istringstream in(text);
    return runCaptured([&](std::ostream& out) {
        readParamFile(in, kToolParamPath, out, params);
        return 0;
    });
}

TEST(ParamFile, EchoesEveryValueWithItsLabel) {
    const ModelRead r = readModel(ParamText().text());
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.run.output, kFullEcho);
    EXPECT_EQ(r.params.obsPerHour, 6);
    EXPECT_EQ(r.params.stepsPerHour, 60);
    EXPECT_EQ(r.params.ncols, 5);
    EXPECT_EQ(r.params.nrows, 4);
    EXPECT_EQ(r.params.channelThreshold, 3);
    EXPECT_DOUBLE_EQ(r.params.ROFinitial, 0.1);
}

TEST(ParamFile, LineBreaksCarryNoMeaning) {
    const ModelRead oneLine = readModel(ParamText().text(" "));
    const ModelRead tabs = readModel("  " + ParamText().text("\t\r\n\n"));
    EXPECT_EQ(oneLine.run.output, kFullEcho);
    EXPECT_EQ(tabs.run.output, kFullEcho);
}

TEST(ParamFile, ScaleIsReadAsFloat32AndDefaultFormatting) {
    ParamText p;
    p[ParamText::kScale] = "0.1";
    p[ParamText::kXll] = "134.123456789";
    p[ParamText::kFdWeight] = "1e-7";
    p[ParamText::kRainFormat] = "2";
    const ModelRead r = readModel(p.text());
    EXPECT_EQ(r.params.scale, 0.1f);
    EXPECT_NE(r.run.output.find("  Topography scale : 0.1\n"), std::string::npos);
    EXPECT_NE(r.run.output.find(" Sorth West corner Longitude (degree) : 134.123 Latitude (deg) : 35\n"),
              std::string::npos);
    EXPECT_NE(r.run.output.find("  Finite difference weight : 1e-07\n"), std::string::npos);
    EXPECT_NE(r.run.output.find("Read ./input/rain.bin\n"), std::string::npos);
}

TEST(ParamFile, TimeStepChecks) {
    ParamText p;
    p[ParamText::kRainInterval] = "3";
    p[ParamText::kStepSeconds] = "45";
    ModelRead r = readModel(p.text());
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.params.stepsPerHour, 80);
    EXPECT_EQ(r.params.obsPerHour, 20);

    p[ParamText::kRainInterval] = "1";
    p[ParamText::kStepSeconds] = "120";
    r = readModel(p.text());
    EXPECT_EQ(r.run.status, 1);
    const std::string tail =
        "  Finite Difference time interval (sec) : 120\n\n    Error : Finite Difference time interval is wrong!\n\n";
    ASSERT_GE(r.run.output.size(), tail.size());
    EXPECT_EQ(r.run.output.substr(r.run.output.size() - tail.size()), tail);

    for (const char* bad : {"0", "-60"}) {
        p[ParamText::kRainInterval] = "10";
        p[ParamText::kStepSeconds] = bad;
        r = readModel(p.text());
        EXPECT_EQ(r.run.status, 1);
        EXPECT_NE(r.run.output.find("    Error : Finite Difference time interval is wrong!\n\n"), std::string::npos);
    }
}

TEST(ParamFile, RainIntervalStopsRightAfterItsEcho) {
    for (const char* bad : {"7", "0", "-10"}) {
        ParamText p;
        p[ParamText::kRainInterval] = bad;
        const ModelRead r = readModel(p.text());
        EXPECT_EQ(r.run.status, 1);
        const std::string expected = std::string(kFullEcho).substr(0, std::string(kFullEcho).find("  Rainfall")) +
                                     "  Rainfall time interval (min): " + bad +
                                     "\n\n    Error : Rainfall time interval is wrong!\n\n";
        EXPECT_EQ(r.run.output, expected);
    }
}

TEST(ParamFile, UnknownRainFormatFollowsRead) {
    ParamText p;
    p[ParamText::kRainFormat] = "3";
    const ModelRead r = readModel(p.text());
    EXPECT_EQ(r.run.status, 1);
    const std::string expected = std::string(kFullEcho).substr(0, std::string(kFullEcho).find("Read ")) +
                                 "Read Set rainfall data format (1: text, 2: 4 byte binary)\n";
    EXPECT_EQ(r.run.output, expected);
}

TEST(ParamFile, SlopeLengthMustBePositive) {
    for (const char* bad : {"0", "-5"}) {
        ParamText p;
        p[ParamText::kSlopeLength] = bad;
        const ModelRead r = readModel(p.text());
        EXPECT_EQ(r.run.status, 1);
        const std::string tail = std::string("  Slope length [m] : ") + bad +
                                 "\n\n    Error : Slope length must be larger than zero\n\n";
        EXPECT_EQ(r.run.output.substr(r.run.output.size() - tail.size()), tail) << r.run.output;
    }
}

TEST(ParamFile, SizesThatWouldBreakLaterStagesAreRejected) {
    const std::pair<int, const char*> cases[] = {
        {ParamText::kScale, "0"},      {ParamText::kNcols, "0"},     {ParamText::kNrows, "-3"},
        {ParamText::kRainCols, "0"},   {ParamText::kRainRows, "0"},  {ParamText::kDays, "0"},
        {ParamText::kSpaceSteps, "0"},
    };
    for (const auto& [index, value] : cases) {
        ParamText p;
        p[index] = value;
        const ModelRead r = readModel(p.text());
        EXPECT_EQ(r.run.status, 1) << index;
        EXPECT_NE(r.run.output.find("must be larger than zero\n\n"), std::string::npos) << r.run.output;
        // Nothing after the failed value is echoed.
        EXPECT_EQ(r.run.output.find("7: Reading"), std::string::npos);
    }
}

TEST(ParamFile, MissingOrMalformedValueNamesTheValue) {
    ParamText p;
    p[ParamText::kFdWeight] = "abc";
    ModelRead r = readModel(p.text());
    EXPECT_EQ(r.run.status, 1);
    EXPECT_NE(r.run.output.find("  Finite difference space step : 4\nError: ./param-hsx-event-ver400.dat cannot "
                                "read \"Finite difference weight\""),
              std::string::npos)
        << r.run.output;

    ParamText shortFile;
    shortFile.values.resize(ParamText::kROFinitial);
    r = readModel(shortFile.text());
    EXPECT_EQ(r.run.status, 1);
    EXPECT_NE(r.run.output.find("cannot read \"Initial runoff height [mm/hr]\""), std::string::npos);

    ParamText overflow;
    overflow[ParamText::kNcols] = "99999999999";
    r = readModel(overflow.text());
    EXPECT_EQ(r.run.status, 1);
    EXPECT_NE(r.run.output.find("cannot read \"Number of col\""), std::string::npos);
}

TEST(ParamFile, MissingFileMessage) {
    ScratchDir dir;
    RunResult r = runCaptured([](std::ostream& out) {
        readParamFile(out);
        return 0;
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "./param-hsx-event-ver400.dat cannot open.\n");
}

TEST(ParamFile, LaterChecksInTheirOrder) {
    ModelParams p;
    p.Ns = 0.3;
    p.Nr = 0.03;
    p.Da = 1.0;
    p.Dm = 0.5;
    p.Beta = 4.0;
    p.ROFinitial = 0.1;
    EXPECT_NO_THROW(checkModelParams(p));

    auto message = [](const ModelParams& q) {
        try {
            checkModelParams(q);
        } catch (const InputError& e) {
            return e.message;
        }
        return std::string();
    };
    ModelParams q = p;
    q.Ns = 0.0;
    q.ROFinitial = 0.0;
    EXPECT_EQ(message(q), "\nError: Manning roughmess coefficient for slope must be larger than zero\n\n");
    q = p;
    q.Nr = 0.0;
    EXPECT_EQ(message(q), "\nError: Manning roughmess coefficient for channel must be larger than zero\n\n");
    q = p;
    q.Dm = 1.5;
    EXPECT_EQ(message(q),
              "\nError: Depth of capillary soil layer must be larger than that of non-capillary soil layer\n\n");
    q.Da = -1.0;  // a map: checked per cell later
    EXPECT_EQ(message(q), "");
    q = p;
    q.ROFinitial = 0.0;
    EXPECT_EQ(message(q), "\nError: Initial runoff height must be larger than zero\n\n");
    q = p;
    q.Ka = -1.0;
    q.Ns = -1.0;
    EXPECT_EQ(message(q), "");
    q = p;
    q.Beta = 0.0;
    EXPECT_EQ(message(q),
              "\nError: Exponent constant of unsaturated hydraulic conductivity must be larger than zero\n\n");
    q.Dm = 0.0;  // no capillary layer: Beta is never used
    EXPECT_EQ(message(q), "");
}

TEST(ToolParamFile, ReadsSectionsOneToThree) {
    ParamText p;
    p[ParamText::kRainFormat] = "3";  // not checked by the tools
    p[ParamText::kStepSeconds] = "garbage";
    ToolParams params;
    const RunResult r = readTool(p.text(), params);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "1) Reading parameters for study area.\n"
              "  Topography scale : 30\n"
              "  Number of col : 5  Number of row : 4\n"
              " Sorth West corner Longitude (degree) : 135 Latitude (deg) : 35\n"
              "2) Reading parameters for input data.\n"
              "  Rainfall time interval (min): 10\n"
              "  Number of col : 2  Number of row : 2\n"
              "  Input data grid size of x-direction : 0.05\n"
              "  Input data grid size of y-direction : 0.05\n"
              "  West corner longitude of input data : 135\n"
              "  South corner latitude of input data : 35\n"
              "3) Reading parameters for simuration duration.\n"
              "  Simulation duration (days) : 1\n");
    EXPECT_EQ(params.ncols, 5);
    EXPECT_EQ(params.nrows, 4);
    EXPECT_EQ(params.days, 1);
}

TEST(ToolParamFile, SameChecksAsTheSimulation) {
    ParamText p;
    p[ParamText::kRainInterval] = "7";
    ToolParams params;
    RunResult r = readTool(p.text(), params);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("  Rainfall time interval (min): 7\n\n    Error : Rainfall time interval is wrong!\n\n"),
              std::string::npos);

    ParamText q;
    q[ParamText::kDays] = "x";
    r = readTool(q.text(), params);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("cannot read \"Simulation duration (days)\""), std::string::npos);
    EXPECT_NE(r.output.find("../param-hsx-event-ver400.dat"), std::string::npos);
}

}  // namespace

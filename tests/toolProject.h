#pragma once
// Scratch projects for in-process runs of the post-processing tools: the
// working directory is "output" and the parameter file lies one level up.

#include "testProject.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

struct ToolProject {
    ScratchDir dir{{"output", "output/image"}};

    ToolProject(int ncols, int nrows, int days, ParamText params = ParamText()) {
        params[ParamText::kNcols] = std::to_string(ncols);
        params[ParamText::kNrows] = std::to_string(nrows);
        params[ParamText::kDays] = std::to_string(days);
        writeText("param-hsx-event-ver400.dat", params.text());
        std::filesystem::current_path("output");
    }
};

// The console echo of the tools' parameter reading for the default ParamText.
inline std::string toolEcho(int ncols, int nrows, int days) {
    return "Reading parameters for runoff simulation.\n"
           "1) Reading parameters for study area.\n"
           "  Topography scale : 30\n"
           "  Number of col : " + std::to_string(ncols) + "  Number of row : " + std::to_string(nrows) + "\n"
           " Sorth West corner Longitude (degree) : 135 Latitude (deg) : 35\n"
           "2) Reading parameters for input data.\n"
           "  Rainfall time interval (min): 10\n"
           "  Number of col : 2  Number of row : 2\n"
           "  Input data grid size of x-direction : 0.05\n"
           "  Input data grid size of y-direction : 0.05\n"
           "  West corner longitude of input data : 135\n"
           "  South corner latitude of input data : 35\n"
           "3) Reading parameters for simuration duration.\n"
           "  Simulation duration (days) : " + std::to_string(days) + "\n";
}

// `count` copies of one frame, written as a discharge grid file.
inline void writeFrames(const std::string& path, const std::vector<float>& frame, int count) {
    std::vector<float> all;
    for (int i = 0; i < count; ++i) all.insert(all.end(), frame.begin(), frame.end());
    writeBinary(path, all);
}

inline ::testing::AssertionResult endsWith(const std::string& text, const std::string& tail) {
    if (text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << text << "\" does not end in \"" << tail << "\"";
}

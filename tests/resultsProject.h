#pragma once
// A finished run made by hand for the exporters' tests: a 6 x 4 grid (wider
// than high, so a flipped or transposed grid shows), one day, numbered
// discharge frames, the rainfall total, flow rasters, a dam and a reservoir
// with their tables, and a dated text rainfall file.

#include "testProject.h"

#include <cstdint>
#include <string>
#include <vector>

struct ResultsProject {
    static constexpr int kCols = 6;
    static constexpr int kRows = 4;
    ScratchDir dir;
    ParamText params;

    // Cells with data: off the outer ring, except column 2, row 3 (from 1 at
    // the west and south), which lies in a river that is not simulated.
    static bool hasData(int column, int row) {
        return column > 1 && column < kCols && row > 1 && row < kRows && !(column == 2 && row == 3);
    }
    // Value of frame f at column x and row y, from 1 at the west and south.
    static float value(int f, int x, int y, float offset) {
        return hasData(x, y) ? offset + static_cast<float>(100 * f + 10 * y + x) + 0.125f : -9999.0f;
    }

    ResultsProject() {
        params[ParamText::kNcols] = std::to_string(kCols);
        params[ParamText::kNrows] = std::to_string(kRows);
        writeText("param-hsx-event-ver400.dat", params.text());
        writeFrames("output/dischargeHourlyMean.bin", 24, 0.0f);
        writeFrames("output/discharge10minMean.bin", 144, 0.25f);
        writeFrames("output/discharge10minSnapshot.bin", 144, 0.5f);
        // The hourly peak of column 4, row 2: frame 5, where the numbering peaks late otherwise.
        std::vector<float> hourly = readBinary<float>("output/dischargeHourlyMean.bin");
        hourly[5 * kCols * kRows + 1 * kCols + 3] = 1e6f;
        writeBinary("output/dischargeHourlyMean.bin", hourly);

        std::string asc = "ncols 6\nnrows 4\nxllcorner 135\nyllcorner 35\ncellsize 0.00833333\nNODATA_value -9999\n";
        for (int y = kRows; y >= 1; --y) {
            for (int x = 1; x <= kCols; ++x) asc += std::to_string(10 * y + x) + ".5 ";
            asc += "\n";
        }
        writeText("output/totalRainDistribution.asc", asc);

        // Every interior cell drains east; column 5 holds the mouths.
        std::vector<int32_t> flowDir, flowAcc;  // file order: south row first
        for (int y = 1; y <= kRows; ++y)
            for (int x = 1; x <= kCols; ++x) {
                const bool interior = x > 1 && x < kCols && y > 1 && y < kRows;
                flowDir.push_back(interior && x < kCols - 1 ? 3 : 0);
                flowAcc.push_back(interior ? x - 1 : 0);
            }
        writeBinary("topoData/flowDir.bin", flowDir);
        writeBinary("topoData/flowAcc.bin", flowAcc);

        writeText("input/dam.dat", "1\n7 1 4 2 5.0 0 1000 5000 Upper\n");
        writeText("input/reservoir.dat", "1\n3 5 3 3600 Lake\n");
        std::string dam, lake;
        for (int h = 1; h <= 24; ++h) {
            dam += std::to_string(h) + "\t" + std::to_string(h) + ".5\t2\t1000.25\n";
            lake += std::to_string(h) + "\t3\t" + std::to_string(h) + ".75\n";
        }
        writeText("output/damData/UpperIQS.dat", dam);
        writeText("output/resData/LakeIQ.dat", lake);
        writeRain("2024 9 1 6 30 0 1");
    }

    // 144 records of 2 x 2 points, 6 mm/h everywhere; `firstLabel` opens record 1.
    void writeRain(const std::string& firstLabel) const {
        std::string text;
        for (int k = 0; k < 144; ++k) text += (k ? "0 0 0 0 0 0 0" : firstLabel) + "\n6 6\n6 6\n";
        writeText("input/rain10min.dat", text);
    }

    static void writeFrames(const std::string& path, int frames, float offset) {
        std::vector<float> values;
        for (int f = 0; f < frames; ++f)
            for (int y = 1; y <= kRows; ++y)
                for (int x = 1; x <= kCols; ++x) values.push_back(value(f, x, y, offset));
        writeBinary(path, values);
    }
};

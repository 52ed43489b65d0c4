// Timing of the rainfall mapping: 1 000 000 study-area cells against a 200 x 200
// rainfall grid (fast search), the full search on a smaller case for
// comparison, and a write and read of the million-record mapping cache.
// Plain wall-clock timing, so it builds with or without a benchmark library.

#include "modelCells.h"
#include "nearestRainPoint.h"
#include "paramFile.h"
#include "rainfall.h"
#include "rainFiles.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A study area of 30" cells at (130, 30) under a 0.05-degree rainfall grid that covers it.
ModelParams benchParams(int rows, int cols) {
    ModelParams p;
    p.scale = 30.0f;
    p.nrows = rows;
    p.ncols = cols;
    p.xllcorner = 130.0;
    p.yllcorner = 30.0;
    p.rainRows = 200;
    p.rainCols = 200;
    p.rainDx = 0.05;
    p.rainDy = 0.05;
    p.rainLon0 = 129.025;
    p.rainLat0 = 29.025;
    p.days = 1;
    p.obsPerHour = 6;
    return p;
}

}  // namespace

int main() {
    const ModelParams p = benchParams(1000, 1000);
    const CellGrid grid = geometryGrid(p);
    const RainGrid rain = makeRainGrid(p);

    auto start = std::chrono::steady_clock::now();
    const std::vector<int32_t> pointOf = mapRainPoints(grid, rain);
    std::printf("fast search: %zu cells x %d points: %.3f s\n", pointOf.size(), p.rainRows * p.rainCols,
                secondsSince(start));

    // The full search on every 100th cell, checked against the fast result.
    start = std::chrono::steady_clock::now();
    std::size_t checked = 0, differ = 0;
    for (std::size_t k = 0; k < grid.cells.size(); k += 100, ++checked) {
        const RainPointChoice c = nearestRainPointBrute(rain, grid.cells[k].latSec, grid.cells[k].lonSec);
        if (c.i * rain.rainCols + c.j != pointOf[k]) ++differ;
    }
    const double brute = secondsSince(start);
    std::printf("full search: %zu cells: %.3f s (%.1f s per million cells), %zu differ from the fast search\n",
                checked, brute, brute / static_cast<double>(checked) * 1e6, differ);

    const std::string path = (std::filesystem::temp_directory_path() / "nearestRainPointBench.dat").string();
    start = std::chrono::steady_clock::now();
    {
        std::ofstream file(path, std::ios::binary);
        writeRainCache(file, rainCacheHeader(p), pointOf);
    }
    std::printf("cache write: %zu records: %.3f s\n", pointOf.size(), secondsSince(start));
    start = std::chrono::steady_clock::now();
    std::vector<int32_t> readBack;
    const bool fits = readRainCache(path, rainCacheHeader(p), readBack);
    std::printf("cache read: %zu records: %.3f s, %s\n", readBack.size(), secondsSince(start),
                fits && readBack == pointOf ? "identical" : "DIFFERENT");
    std::filesystem::remove(path);
    return differ == 0 && fits && readBack == pointOf ? 0 : 1;
}

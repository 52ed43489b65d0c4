#include "sampleBasin.h"

#include "drainage.h"
#include "inputError.h"
#include "paramWriter.h"
#include "topoFiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <limits>
#include <ostream>
#include <sstream>

namespace {

// Size of the sample landscape, km: the shapes below are drawn in fractions
// of the study area and scaled by these, whatever the grid resolution.
constexpr double kWidthKm = 91.0;
constexpr double kHeightKm = 93.0;

struct Point {
    double x, y;  // fractions of the study area: x from the west edge, y from the south edge
};

// A valley: a polyline from its lower end to its source, with a bed rising
// from `lowBed` to `highBed` metres as (fraction of its length)^`power`.
struct Valley {
    std::vector<Point> points;
    double lowBed;
    double highBed;
    double power;
};

double kmBetween(Point a, Point b) {
    return std::hypot((a.x - b.x) * kWidthKm, (a.y - b.y) * kHeightKm);
}

double lengthKm(const std::vector<Point>& line) {
    double total = 0.0;
    for (std::size_t k = 1; k < line.size(); ++k) total += kmBetween(line[k - 1], line[k]);
    return total;
}

// The point at fraction s of the polyline's length from its first point.
Point pointAt(const std::vector<Point>& line, double s) {
    double left = s * lengthKm(line);
    for (std::size_t k = 1; k < line.size(); ++k) {
        const double seg = kmBetween(line[k - 1], line[k]);
        if (left <= seg || k + 1 == line.size()) {
            const double t = seg > 0.0 ? std::min(left / seg, 1.0) : 0.0;
            return {line[k - 1].x + t * (line[k].x - line[k - 1].x), line[k - 1].y + t * (line[k].y - line[k - 1].y)};
        }
        left -= seg;
    }
    return line.back();
}

// Distance (km) from p to the polyline, and the fraction of the polyline's
// length at the nearest point.
std::pair<double, double> nearestOnLine(const std::vector<Point>& line, Point p) {
    double best = 1e300, bestAlong = 0.0, along = 0.0;
    for (std::size_t k = 1; k < line.size(); ++k) {
        const double ax = line[k - 1].x * kWidthKm, ay = line[k - 1].y * kHeightKm;
        const double bx = line[k].x * kWidthKm, by = line[k].y * kHeightKm;
        const double px = p.x * kWidthKm, py = p.y * kHeightKm;
        const double vx = bx - ax, vy = by - ay, len2 = vx * vx + vy * vy;
        const double t = len2 > 0.0 ? std::clamp(((px - ax) * vx + (py - ay) * vy) / len2, 0.0, 1.0) : 0.0;
        const double d = std::hypot(px - ax - t * vx, py - ay - t * vy);
        if (d < best) {
            best = d;
            bestAlong = along + t * std::sqrt(len2);
        }
        along += std::sqrt(len2);
    }
    return {best, along > 0.0 ? bestAlong / along : 0.0};
}

std::vector<Valley> sampleValleys() {
    const Valley main{{{0.46, 0.0}, {0.45, 0.15}, {0.41, 0.28}, {0.47, 0.42}, {0.56, 0.55}, {0.54, 0.70},
                       {0.58, 0.80}, {0.62, 0.88}},
                      0.0, 750.0, 1.5};
    auto bedAt = [&](double s) { return main.lowBed + (main.highBed - main.lowBed) * std::pow(s, main.power); };
    // Tributaries: source, a bend, and the fraction of the main river where they join it.
    struct Branch {
        Point source, bend;
        double joinAt, sourceBed;
    };
    const Branch branches[] = {{{0.14, 0.60}, {0.24, 0.50}, 0.42, 650.0}, {{0.88, 0.42}, {0.74, 0.36}, 0.30, 600.0},
                               {{0.28, 0.85}, {0.36, 0.74}, 0.70, 700.0}, {{0.78, 0.78}, {0.70, 0.68}, 0.62, 650.0},
                               {{0.14, 0.30}, {0.26, 0.24}, 0.17, 400.0}};
    std::vector<Valley> valleys{main};
    for (const Branch& b : branches) {
        valleys.push_back({{pointAt(main.points, b.joinAt), b.bend, b.source}, bedAt(b.joinAt), b.sourceBed, 1.3});
    }
    return valleys;
}

// A reproducible pseudo-random value in [0, 1) for a lattice point.
double latticeValue(int64_t ix, int64_t iy, uint64_t octave) {
    uint64_t h = static_cast<uint64_t>(ix) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(iy) * 0xC2B2AE3D27D4EB4Full ^
                 octave * 0x165667B19E3779F9ull;
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBull;
    h ^= h >> 31;
    return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0);
}

// Smooth value noise in [-1, 1) with features `spacing` km apart.
double valueNoise(double xKm, double yKm, double spacing, uint64_t octave) {
    const double gx = xKm / spacing, gy = yKm / spacing;
    const double fx0 = std::floor(gx), fy0 = std::floor(gy);
    const int64_t ix = static_cast<int64_t>(fx0), iy = static_cast<int64_t>(fy0);
    const double fx = gx - fx0, fy = gy - fy0;
    const double u = fx * fx * (3.0 - 2.0 * fx), v = fy * fy * (3.0 - 2.0 * fy);
    const double south = latticeValue(ix, iy, octave) * (1.0 - u) + latticeValue(ix + 1, iy, octave) * u;
    const double north = latticeValue(ix, iy + 1, octave) * (1.0 - u) + latticeValue(ix + 1, iy + 1, octave) * u;
    return 2.0 * (south * (1.0 - v) + north * v) - 1.0;
}

double coastLine(double x) {
    const double pi = std::acos(-1.0);
    return 0.08 + 0.03 * std::sin(2.0 * pi * 1.2 * x + 0.7) + 0.015 * std::sin(2.0 * pi * 3.1 * x);
}

// Height (m) of the basin's divide seen from p: high inside an ellipse around
// the valleys, falling away outside it, so the land beyond drains to the edges.
double divideAt(Point p) {
    const double e = std::hypot((p.x - 0.5) / 0.42, (p.y - 0.5) / 0.45);
    return e < 1.0 ? 1000.0 + 2000.0 * (1.0 - e) : 1000.0 - 1200.0 * (e - 1.0);
}

double smoothStep(double t) {
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Ground elevation (m) of the landscape at p: the lowest of the valley
// profiles seen from p and the divide, a closed hollow on the western
// tributary, small-scale relief, and hills sinking to the coast.
double groundAt(const std::vector<Valley>& valleys, Point p) {
    double ground = divideAt(p);
    for (const Valley& v : valleys) {
        const auto [d, s] = nearestOnLine(v.points, p);
        const double bed = v.lowBed + (v.highBed - v.lowBed) * std::pow(s, v.power);
        const double side = 350.0 * (1.0 - std::exp(-(d / 5.0) * (d / 5.0))) + 6.0 * d;  // flat floor, steep sides
        ground = std::min(ground, bed + side);
    }
    const double xKm = p.x * kWidthKm, yKm = p.y * kHeightKm;
    const double hx = xKm - 0.26 * kWidthKm, hy = yKm - 0.485 * kHeightKm;
    ground -= 30.0 * std::exp(-(hx * hx + hy * hy) / (2.0 * 2.5 * 2.5));
    ground += 10.0 * valueNoise(xKm, yKm, 4.0, 1) + 5.0 * valueNoise(xKm, yKm, 2.0, 2) +
              2.5 * valueNoise(xKm, yKm, 1.0, 3) + 1.2 * valueNoise(xKm, yKm, 0.5, 4);
    ground = 2.0 + (ground - 2.0) * smoothStep((p.y - coastLine(p.x)) / 0.10);
    return std::max(ground, 0.5);
}

}  // namespace

DemGrid makeSampleDem(int32_t ncols, int32_t nrows) {
    DemGrid grid;
    grid.ncols = ncols;
    grid.nrows = nrows;
    grid.cellsize = 1.0 / ncols;
    grid.xllcorner = 135.0;
    grid.yllcorner = 34.9;
    grid.elevation.assign(static_cast<std::size_t>(ncols) * static_cast<std::size_t>(nrows), 0.0f);
    const std::vector<Valley> valleys = sampleValleys();
    for (int32_t r = 0; r < nrows; ++r) {
        for (int32_t c = 0; c < ncols; ++c) {
            const Point p{(c + 0.5) / ncols, (nrows - r - 0.5) / nrows};
            float& cell = grid.elevation[static_cast<std::size_t>(grid.index(r, c))];
            cell = p.y < coastLine(p.x) ? std::nanf("") : static_cast<float>(groundAt(valleys, p));
        }
    }
    return grid;
}

double sampleRain(double x, double y, double hours) {
    const double pi = std::acos(-1.0);
    double rain = 0.0;
    if (hours > 0.0 && hours < 24.0) {  // a band of light rain, heavier on the northern hills
        const double s = std::sin(pi * hours / 24.0);
        rain += 3.0 * s * s * (0.6 + 0.4 * y);
    }
    if (hours > 2.0 && hours < 18.0) {  // the storm cell, crossing from south-west to north-east
        const double t = (hours - 2.0) / 16.0;
        const double cx = -0.30 + 1.6 * t, cy = 0.0 + 1.0 * t;
        const double dx = (x - cx) * kWidthKm, dy = (y - cy) * kHeightKm;
        rain += 48.0 * std::sin(pi * t) * std::exp(-(dx * dx + dy * dy) / (2.0 * 15.0 * 15.0));
    }
    return rain;
}

std::vector<RiverSite> mainRiver(const std::vector<int32_t>& flowDir, const std::vector<int32_t>& flowAcc,
                                 const std::vector<int32_t>& riverNum, int32_t nrows, int32_t ncols, int32_t mouthRow,
                                 int32_t mouthCol) {
    auto at = [&](int32_t r, int32_t c) { return static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols) + c; };
    std::vector<RiverSite> river;
    int32_t r = mouthRow, c = mouthCol;
    for (;;) {
        river.push_back({r, c, flowAcc[at(r, c)]});
        int32_t bestR = -1, bestC = -1, bestAcc = 0;
        for (int code = 1; code <= 8; ++code) {
            const int32_t rr = r + kFlowRowStep[code], cc = c + kFlowColStep[code];
            if (rr < 1 || rr >= nrows - 1 || cc < 1 || cc >= ncols - 1) continue;
            const std::size_t n = at(rr, cc);
            if (riverNum[n] < 0 || flowDir[n] < 1 || flowDir[n] > 8) continue;
            // The neighbour drains here when its code points back at this cell.
            if (rr + kFlowRowStep[flowDir[n]] != r || cc + kFlowColStep[flowDir[n]] != c) continue;
            if (flowAcc[n] > bestAcc) {
                bestAcc = flowAcc[n];
                bestR = rr;
                bestC = cc;
            }
        }
        if (bestR < 0) return river;
        r = bestR;
        c = bestC;
    }
}

RiverSite siteAtShare(const std::vector<RiverSite>& river, double share) {
    const double target = share * river.front().flowAcc;
    RiverSite best = river.size() > 1 ? river[1] : river.front();
    for (std::size_t k = 1; k < river.size(); ++k) {
        if (std::fabs(river[k].flowAcc - target) < std::fabs(best.flowAcc - target)) best = river[k];
    }
    return best;
}

ModelParams sampleParams(const DemGrid& grid) {
    ModelParams p = starterParams(grid);
    p.days = 2;
    p.rainDx = 0.05;
    p.rainDy = 0.05;
    p.rainLon0 = grid.xllcorner;
    p.rainLat0 = grid.yllcorner;
    // Rainfall points from the south-west corner to beyond the north-east corner.
    p.rainCols = static_cast<int32_t>(std::ceil(grid.ncols * grid.cellsize / p.rainDx - 1e-9)) + 1;
    p.rainRows = static_cast<int32_t>(std::ceil(grid.nrows * grid.cellsize / p.rainDy - 1e-9)) + 1;
    return p;
}

namespace {

// A raster of "topoData/" in memory order (row 0 north).
std::vector<int32_t> readIntRaster(const std::string& path, int32_t nrows, int32_t ncols) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError("Error: " + path + " cannot be opened; run prepareTopography first.\n");
    const std::size_t count = static_cast<std::size_t>(nrows) * static_cast<std::size_t>(ncols);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != count * 4) {
        throw InputError("Error: " + path + " does not fit the sample grid of " + std::to_string(ncols) + " x " +
                         std::to_string(nrows) + " cells.\n");
    }
    std::vector<int32_t> values(count);
    std::size_t k = 0;
    for (int32_t r = nrows - 1; r >= 0; --r) {
        for (int32_t c = 0; c < ncols; ++c, k += 4) {
            uint32_t bits = 0;
            for (int b = 0; b < 4; ++b) bits |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[k + b])) << (8 * b);
            std::memcpy(&values[static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols) + c], &bits, 4);
        }
    }
    return values;
}

std::string rainText(const ModelParams& p, const DemGrid& grid) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(2);
    const double width = grid.ncols * grid.cellsize, height = grid.nrows * grid.cellsize;
    int record = 0;
    for (int day = 0; day < p.days; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            for (int k = 0; k < p.obsPerHour; ++k) {
                // Seven integers the simulation skips: date, hour, minute, second, record number.
                text << 2024 << ' ' << 9 << ' ' << day + 1 << ' ' << hour << ' ' << k * p.rainInterval << ' ' << 0
                     << ' ' << ++record << '\n';
                const double hours = day * 24 + hour + (k + 0.5) * p.rainInterval / 60.0;
                for (int i = p.rainRows - 1; i >= 0; --i) {  // northern row first
                    for (int j = 0; j < p.rainCols; ++j) {
                        const double x = (j * p.rainDx + p.rainLon0 - grid.xllcorner) / width;
                        const double y = (i * p.rainDy + p.rainLat0 - grid.yllcorner) / height;
                        text << (j > 0 ? " " : "") << sampleRain(x, y, hours);
                    }
                    text << '\n';
                }
            }
        }
    }
    return text.str();
}

// How member m changes the storm: a shift in fractions of the study area, a
// shift in hours and a factor. Member 0 changes nothing; the others go round
// a circle of shifts, with the time shifts and factors spread by the golden ratio.
struct StormChange {
    double dx = 0.0, dy = 0.0, hours = 0.0, factor = 1.0;
};

// Cells of accumulation from which a cell counts as a river for the flood level.
constexpr int32_t kRiverCells = 20;

StormChange stormChange(int m, int members) {
    if (m == 0) return {};
    const double pi = std::acos(-1.0);
    const double angle = 2.0 * pi * (m - 1) / std::max(1, members - 1);
    const double spread = std::fmod(m * 0.6180339887498949, 1.0);  // in [0, 1)
    return {0.1 * std::cos(angle), 0.1 * std::sin(angle), -3.0 + 6.0 * spread, 0.6 + 0.8 * std::fmod(m * 0.7548776662466927, 1.0)};
}

// Member m's frames, float32 little-endian, each value rounded to the two
// decimals the text storm has.
std::string memberFrames(const ModelParams& p, const DemGrid& grid, const StormChange& change) {
    const double width = grid.ncols * grid.cellsize, height = grid.nrows * grid.cellsize;
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(p.days) * 24 * p.obsPerHour * p.rainRows * p.rainCols * 4);
    char number[32];
    for (int day = 0; day < p.days; ++day) {
        for (int hour = 0; hour < 24; ++hour) {
            for (int k = 0; k < p.obsPerHour; ++k) {
                const double hours = day * 24 + hour + (k + 0.5) * p.rainInterval / 60.0;
                for (int i = 0; i < p.rainRows; ++i) {  // southern row first
                    for (int j = 0; j < p.rainCols; ++j) {
                        const double x = (j * p.rainDx + p.rainLon0 - grid.xllcorner) / width;
                        const double y = (i * p.rainDy + p.rainLat0 - grid.yllcorner) / height;
                        const double rain = change.factor * sampleRain(x - change.dx, y - change.dy, hours - change.hours);
                        std::snprintf(number, sizeof number, "%.2f", rain);
                        const float value = std::strtof(number, nullptr);
                        uint32_t bits = 0;
                        std::memcpy(&bits, &value, 4);
                        for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<char>((bits >> (8 * b)) & 0xff));
                    }
                }
            }
        }
    }
    return bytes;
}

}  // namespace

void writeSampleEnsemble(const std::string& projectDir, int32_t ncols, int32_t nrows, int members, std::ostream& out) {
    namespace fs = std::filesystem;
    const DemGrid grid = makeSampleDem(ncols, nrows);
    const ModelParams params = sampleParams(grid);
    const std::string topo = projectDir + "/topoData/";
    const std::vector<int32_t> flowAcc = readIntRaster(topo + "flowAcc.bin", nrows, ncols);
    const std::vector<int32_t> riverNum = readIntRaster(topo + "riverNum.bin", nrows, ncols);
    const fs::path dir = fs::path(projectDir) / "input" / "ensemble";
    std::error_code ec;
    if (!fs::is_directory(fs::path(projectDir) / "input", ec))
        throw InputError("Error: " + projectDir + "/input/ does not exist; run makeSampleBasin inputs first.\n");
    fs::remove_all(dir, ec);
    fs::create_directories(dir, ec);
    if (ec) throw InputError("Error: " + dir.string() + " cannot be created: " + ec.message() + ".\n");
    out << "Write " << dir.string() << "/ (" << members << " members)\n";
    for (int m = 0; m < members; ++m) {
        char name[32];
        std::snprintf(name, sizeof name, "rain.%03d.bin", m);
        writeFileAtomically((dir / name).string(), memberFrames(params, grid, stormChange(m, members)));
    }

    // A flood level for every river cell: 0.6 m3/s per km2 of the area upstream,
    // about what the sample storm's peaks reach; no level on the hillslopes.
    const double cellKm2 = params.scale * 30.9 * params.scale * 30.9 * std::cos(35.3 / 180.0 * std::acos(-1.0)) / 1e6;
    DemGrid levels = grid;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        levels.elevation[i] = riverNum[i] >= 0 && flowAcc[i] >= kRiverCells
                                  ? static_cast<float>(0.6 * flowAcc[i] * cellKm2)
                                  : std::numeric_limits<float>::quiet_NaN();
    }
    std::ostringstream text;
    writeDemGrid(text, levels, 2);
    const std::string levelPath = projectDir + "/input/floodLevel.asc";
    out << "Write " << levelPath << '\n';
    writeFileAtomically(levelPath, text.str());
}

void writeSampleInputs(const std::string& projectDir, int32_t ncols, int32_t nrows, std::ostream& out) {
    const DemGrid grid = makeSampleDem(ncols, nrows);
    const std::string topo = projectDir + "/topoData/";
    const std::vector<int32_t> flowDir = readIntRaster(topo + "flowDir.bin", nrows, ncols);
    const std::vector<int32_t> flowAcc = readIntRaster(topo + "flowAcc.bin", nrows, ncols);
    const std::vector<int32_t> riverNum = readIntRaster(topo + "riverNum.bin", nrows, ncols);
    std::ifstream list(topo + "riverNumList.dat");
    int32_t number = 0, mouthColumn = 0, mouthRowNumber = 0;
    if (!(list >> number >> mouthColumn >> mouthRowNumber) || mouthColumn < 2 || mouthColumn > ncols - 1 ||
        mouthRowNumber < 2 || mouthRowNumber > nrows - 1) {
        throw InputError("Error: " + topo + "riverNumList.dat does not name a basin; run prepareTopography first.\n");
    }
    const std::vector<RiverSite> river =
        mainRiver(flowDir, flowAcc, riverNum, nrows, ncols, nrows - mouthRowNumber, mouthColumn - 1);
    if (river.size() < 4) throw InputError("Error: the main river of the sample basin is too short for a dam.\n");
    const RiverSite dam = siteAtShare(river, 0.35);
    const RiverSite lake = siteAtShare(river, 0.75);
    const ModelParams params = sampleParams(grid);

    // Flood-control dam: releases up to about 0.3 m3/s per km2 of its basin and
    // stores the rest between its lower and upper limits (initial storage 0: at the lower limit).
    const double cellKm2 = params.scale * 30.9 * params.scale * 30.9 * std::cos(35.3 / 180.0 * std::acos(-1.0)) / 1e6;
    const double release = std::round(0.3 * dam.flowAcc * cellKm2);
    std::ostringstream damText, lakeText;
    damText << "1\n1 1 " << dam.col + 1 << ' ' << nrows - dam.row << ' ' << release << " 0 5000000 60000000 SampleDam\n";
    lakeText << "1\n1 " << lake.col + 1 << ' ' << nrows - lake.row << " 10800 SampleLake\n";

    const std::pair<std::string, std::string> files[] = {
        {projectDir + "/param-hsx-event-ver400.dat", paramFileText(params)},
        {projectDir + "/input/rain10min.dat", rainText(params, grid)},
        {projectDir + "/input/dam.dat", damText.str()},
        {projectDir + "/input/reservoir.dat", lakeText.str()},
    };
    for (const auto& [path, text] : files) {
        out << "Write " << path << '\n';
        writeFileAtomically(path, text);
    }
}

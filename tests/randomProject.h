#pragma once
// Random but complete projects for differential runs: small grids with a
// random drainage forest (sometimes with accumulations that disagree with it),
// text or binary rainfall on any interval and step, parameter maps, dams of
// every kind (now and then one of an unknown kind, which stops the run
// mid-loop), reservoirs, and now and then a hand-made calculation-order cache
// that repeats cells. Every project is a pure function of its seed.

#include "testProject.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

// The directories a project needs, as ScratchDir takes them.
inline const std::vector<std::string> kRandomProjectDirs = {
    "topoData", "input", "input/realDamOutflow", "temp", "output", "output/damData", "output/resData", "paramData"};

// Writes the project of `seed` into the current directory, which must hold kRandomProjectDirs.
inline void writeRandomProject(uint64_t seed) {
    std::mt19937_64 gen(seed);
    const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); };
    const auto real = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(gen); };
    const auto chance = [&](double p) { return real(0.0, 1.0) < p; };

    const int rows = pick(3, 13), cols = pick(3, 13);
    Topography t(rows, cols);
    t.rivers = chance(0.3) ? std::vector<int32_t>{0, 2} : std::vector<int32_t>{0};

    // A drainage forest over the interior: a few mouths, then every other
    // interior cell drains into a neighbour already in the forest.
    const int dr[9] = {0, -1, -1, 0, 1, 1, 1, 0, -1}, dc[9] = {0, 0, 1, 1, 1, 0, -1, -1, -1};
    std::vector<char> placed(static_cast<std::size_t>(rows * cols), 0);
    std::vector<int> frontier;
    const auto interior = [&](int r, int c) { return r > 0 && c > 0 && r < rows - 1 && c < cols - 1; };
    const int mouths = pick(1, 3);
    for (int m = 0; m < mouths; ++m) {
        const int r = pick(0, rows - 1), c = pick(0, cols - 1);
        if (!interior(r, c) && rows > 2 && cols > 2) continue;
        if (placed[t.at(r, c)]) continue;
        placed[t.at(r, c)] = 1;
        frontier.push_back(r * cols + c);
    }
    while (!frontier.empty()) {
        const std::size_t k = static_cast<std::size_t>(pick(0, static_cast<int>(frontier.size()) - 1));
        const int at = frontier[k];
        const int r = at / cols, c = at % cols;
        std::vector<int> codes;
        for (int code = 1; code <= 8; ++code) {
            const int nr = r + dr[code], nc = c + dc[code];
            if (interior(nr, nc) && !placed[t.at(nr, nc)]) codes.push_back(code);
        }
        if (codes.empty()) {
            frontier.erase(frontier.begin() + static_cast<std::ptrdiff_t>(k));
            continue;
        }
        const int code = codes[static_cast<std::size_t>(pick(0, static_cast<int>(codes.size()) - 1))];
        const int nr = r + dr[code], nc = c + dc[code];
        placed[t.at(nr, nc)] = 1;
        t.flowDir[t.at(nr, nc)] = (code + 3) % 8 + 1;  // the opposite direction: back into (r, c)
        frontier.push_back(nr * cols + nc);
    }
    // Accumulation of the forest, river numbers, elevations falling towards the mouths.
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            if (!placed[t.at(r, c)]) continue;
            t.riverNum[t.at(r, c)] = chance(0.1) ? 2 : (chance(0.05) ? 5 : 0);
            for (int cr = r, cc = c, steps = 0; steps <= rows * cols; ++steps) {
                ++t.flowAcc[t.at(cr, cc)];
                const int code = t.flowDir[t.at(cr, cc)];
                if (code == 0) break;
                cr += dr[code];
                cc += dc[code];
            }
        }
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            t.dem[t.at(r, c)] = static_cast<float>(real(0.0, 3.0) + 200.0 / (1.0 + t.flowAcc[t.at(r, c)]));
            if (!interior(r, c) && chance(0.2)) {
                t.riverNum[t.at(r, c)] = 0;
                t.flowAcc[t.at(r, c)] = pick(0, 3);
            }
        }
    if (chance(0.15)) {  // accumulations that disagree with the network
        for (int32_t& acc : t.flowAcc)
            if (acc > 0 && chance(0.3)) acc = pick(-1, 20);
    }
    t.write();

    // The parameter file: any interval with any step that divides it.
    const int intervals[] = {1, 2, 3, 5, 6, 10, 12, 15, 20, 30, 60};
    const int interval = intervals[pick(0, 10)];
    std::vector<int> steps;
    for (int s = 20; s <= 900; ++s)
        if (interval * 60 % s == 0) steps.push_back(s);
    const int stepSeconds = steps[static_cast<std::size_t>(pick(0, static_cast<int>(steps.size()) - 1))];
    const int rainFormat = pick(1, 2);
    const int rainCols = pick(1, 4), rainRows = pick(1, 4);
    const double scale = 30.0, xll = 135.0 + pick(0, 9) * 0.1, yll = 35.0 + pick(0, 9) * 0.1;
    const double rainDx = (cols * scale / 3600.0) / rainCols, rainDy = (rows * scale / 3600.0) / rainRows;
    const int days = chance(0.15) ? 2 : 1;
    const int obsPerHour = 60 / interval;
    ParamText p;
    p[ParamText::kNcols] = std::to_string(cols);
    p[ParamText::kNrows] = std::to_string(rows);
    std::ostringstream num;
    num.precision(17);
    const auto text = [&](double v) {
        num.str("");
        num << v;
        return num.str();
    };
    p[ParamText::kXll] = text(xll);
    p[ParamText::kYll] = text(yll);
    p[ParamText::kRainFormat] = std::to_string(rainFormat);
    p[ParamText::kRainInterval] = std::to_string(interval);
    p[ParamText::kRainCols] = std::to_string(rainCols);
    p[ParamText::kRainRows] = std::to_string(rainRows);
    p[ParamText::kRainDx] = text(rainDx);
    p[ParamText::kRainDy] = text(rainDy);
    p[ParamText::kRainLon0] = text(xll + rainDx / 2);
    p[ParamText::kRainLat0] = text(yll + rainDy / 2);
    p[ParamText::kDays] = std::to_string(days);
    p[ParamText::kStepSeconds] = std::to_string(stepSeconds);
    p[ParamText::kSpaceSteps] = std::to_string(pick(1, 6));
    p[ParamText::kFdWeight] = text(real(0.0, 1.0));
    const int maps[] = {ParamText::kNs, ParamText::kKa, ParamText::kDa, ParamText::kDm, ParamText::kBeta, ParamText::kNr,
                        ParamText::kROFinitial};
    const char* keys[] = {"Ns", "Ka", "Da", "Dm", "Beta", "Nr", "ROFinitial"};
    const double lo[] = {0.05, 0.0, 0.0, 0.0, 0.5, 0.01, 0.001}, hi[] = {0.8, 0.02, 1.0, 0.5, 6.0, 0.1, 2.0};
    for (int k = 0; k < 7; ++k) {
        p[maps[k]] = text(real(lo[k], hi[k]));
        const double da = std::stod(p[ParamText::kDa]);
        if (k == 3 && da >= 0.0) p[maps[k]] = text(real(0.0, std::min(0.5, da)));  // a capillary layer within Da
        if (!chance(0.12)) continue;
        p[maps[k]] = "-1";
        std::ostringstream map;
        map.precision(17);
        map << "ncols " << cols << "\nnrows " << rows << "\nxllcorner " << xll << "\nyllcorner " << yll
            << "\ncellsize 0.00833\nNODATA_value -9999\n";
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                double v = real(lo[k], hi[k]);
                if (k == 2) v = real(0.5, 1.0);  // Da above every Dm
                map << v << ' ';
            }
            map << '\n';
        }
        writeText("paramData/param_dist_" + std::string(keys[k]) + ".dat", map.str());
    }
    p[ParamText::kChannelThreshold] = std::to_string(pick(1, 8));
    p[ParamText::kSlopeLength] = text(real(20.0, 200.0));
    writeText("param-hsx-event-ver400.dat", p.text());

    // Rainfall: a storm of random cells, some dry intervals.
    const std::size_t frames = static_cast<std::size_t>(days) * 24 * static_cast<std::size_t>(obsPerHour);
    std::vector<float> frame(static_cast<std::size_t>(rainRows * rainCols));
    std::string rainText;
    std::vector<float> rainBinary;
    const double peak = real(5.0, 80.0);
    for (std::size_t f = 0; f < frames; ++f) {
        const double storm = chance(0.3) ? 0.0 : peak * real(0.0, 1.0);
        for (float& v : frame) v = static_cast<float>(storm * real(0.5, 1.5));
        rainText += "2026 7 1 0 0 0 " + std::to_string(f);
        for (int i = rainRows - 1; i >= 0; --i)
            for (int j = 0; j < rainCols; ++j) rainText += ' ' + text(frame[static_cast<std::size_t>(i * rainCols + j)]);
        rainText += '\n';
        rainBinary.insert(rainBinary.end(), frame.begin(), frame.end());
    }
    if (rainFormat == 1) {
        writeText("input/rain10min.dat", rainText);
    } else {
        writeBinary("input/rain.bin", rainBinary);
    }

    // Dams and reservoirs on computed cells (listed river, interior, positive accumulation).
    std::vector<std::pair<int, int>> computed;
    for (int r = 1; r < rows - 1; ++r)
        for (int c = 1; c < cols - 1; ++c) {
            const int32_t river = t.riverNum[t.at(r, c)];
            if (t.flowAcc[t.at(r, c)] > 0 && std::find(t.rivers.begin(), t.rivers.end(), river) != t.rivers.end())
                computed.emplace_back(r, c);
        }
    const auto structureCell = [&]() {
        const auto& rc = computed[static_cast<std::size_t>(pick(0, static_cast<int>(computed.size()) - 1))];
        return std::to_string(rc.second + 1) + " " + std::to_string(rows - rc.first);
    };
    // Now and then a structure takes the name of the one before it (its table
    // replaces that one's); drawn apart, so the rest of the project is the same.
    std::mt19937_64 namesGen(seed ^ 0x6e616d6573ULL);
    const auto nameOf = [&](const char* prefix, int k) {
        const bool repeat = k > 0 && std::uniform_real_distribution<double>(0.0, 1.0)(namesGen) < 0.2;
        return prefix + std::to_string(repeat ? k - 1 : k);
    };
    if (!computed.empty() && chance(0.6)) {
        const int count = pick(1, 3);
        std::string list = std::to_string(count) + "\n";
        for (int d = 0; d < count; ++d) {
            const int kind = chance(0.1) ? 3 : pick(0, 2);
            const std::string name = nameOf("dam", d);
            list += std::to_string(d + 1) + " " + std::to_string(kind) + " " + structureCell() + " " +
                    text(real(0.0, 3.0)) + " " + text(chance(0.5) ? 0.0 : real(0.0, 5e4)) + " 1000 " +
                    text(real(2e3, 1e5)) + " " + name + "\n";
            if (kind == 0) {
                std::string releases;
                for (int h = 0; h < days * 24; ++h) releases += "0 " + std::to_string(h) + " " + text(real(0.0, 2.0)) + "\n";
                writeText("input/realDamOutflow/real" + name + ".dat", releases);
            }
        }
        writeText("input/dam.dat", list);
    }
    if (!computed.empty() && chance(0.5)) {
        const int count = pick(1, 2);
        std::string list = std::to_string(count) + "\n";
        for (int k = 0; k < count; ++k) {
            const int constants[] = {0, stepSeconds / 2, 3600, pick(1, 20000)};
            list += std::to_string(k + 1) + " " + structureCell() + " " + std::to_string(constants[pick(0, 3)]) +
                    " " + nameOf("res", k) + "\n";
        }
        writeText("input/reservoir.dat", list);
    }

    // Now and then a cached order made by hand: cells with positive
    // accumulation in a random order, some of them twice, in random groups.
    if (chance(0.12)) {
        std::vector<std::pair<int, int>> entries;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c)
                if (t.flowAcc[t.at(r, c)] > 0) entries.emplace_back(r, c);
        const std::size_t again = entries.size() / 4;
        for (std::size_t k = 0; k < again && !entries.empty(); ++k)
            entries.push_back(entries[static_cast<std::size_t>(pick(0, static_cast<int>(entries.size()) - 1))]);
        std::shuffle(entries.begin(), entries.end(), gen);
        std::vector<int> groups;
        for (std::size_t left = entries.size(); left > 0;) {
            const int size = std::min(static_cast<int>(left), pick(1, 4));
            groups.push_back(size);
            left -= static_cast<std::size_t>(size);
        }
        std::string header = std::to_string(cols) + "\n" + std::to_string(rows) + "\n" + p[ParamText::kXll] + "\n" +
                             p[ParamText::kYll] + "\n" + std::to_string(groups.size()) + "\n" +
                             std::to_string(entries.size()) + "\n";
        for (int g : groups) header += std::to_string(g) + "\n";
        std::string cells;
        for (const auto& [r, c] : entries)
            cells += std::to_string(t.flowAcc[t.at(r, c)]) + " " + std::to_string(r) + " " + std::to_string(c) + "\n";
        writeText("temp/numOfBasin.dat", header);
        writeText("temp/orderedCell.dat", cells);
    }
}

// Seeds for the differential tests: `count` consecutive seeds from a new random
// base at each run, so that every run meets new projects. About one project in
// ten meets the iteration limit in many steps and takes seconds; under the
// sanitizers (FLOOD_SANITIZER_BUILD), which make runs ten to fifty times
// slower, that would be minutes, so there the seeds are a fixed handful of
// projects that run in a fraction of a second: dams of every kind and
// reservoirs (2, 18), links cut between processes (11, 16), runs that stop in
// the loop (27, 35) and iteration-limit messages (50).
inline std::vector<uint64_t> differentialSeeds(uint64_t count) {
    if (std::getenv("FLOOD_SANITIZER_BUILD") != nullptr) {
        const std::vector<uint64_t> light = {2, 11, 16, 18, 27, 35, 50};
        return {light.begin(), light.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(count, light.size()))};
    }
    const uint64_t base = std::random_device{}();
    std::vector<uint64_t> seeds;
    for (uint64_t k = 0; k < count; ++k) seeds.push_back(base + k);
    return seeds;
}

// Whether a differential test that started at `start` and has taken `taken`
// seeds should stop taking more: once it has taken `atLeast` and run for 30
// seconds, as a run may draw several slow projects. Never under the
// sanitizers, whose seeds are few and chosen.
inline bool seedTimeUp(std::chrono::steady_clock::time_point start, std::size_t taken, std::size_t atLeast = 3) {
    if (std::getenv("FLOOD_SANITIZER_BUILD") != nullptr || taken < atLeast) return false;
    return std::chrono::steady_clock::now() - start > std::chrono::seconds(30);
}

#pragma once
// Support for the fuzz targets: a scratch project directory that the fuzzer
// process enters once and empties before every input, an input format of
// several files in one byte string, and the checks that every target applies
// to the outcome of a run.
//
// Input format: the files of one input are separated by the line
// "\n--part--\n" (see kPartSeparator). A target names the files it takes, in
// order; a part that is absent leaves its file absent, an empty part gives an
// empty file.

#include "inputError.h"
#include "modelCells.h"
#include "paramFile.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline const std::string kPartSeparator = "\n--part--\n";

// Splits the input at every separator; at most `maxParts` parts (the last
// part keeps any further separators).
inline std::vector<std::string> splitParts(const uint8_t* data, std::size_t size, std::size_t maxParts) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    std::size_t begin = 0;
    while (parts.size() + 1 < maxParts) {
        const std::size_t at = text.find(kPartSeparator, begin);
        if (at == std::string::npos) break;
        parts.push_back(text.substr(begin, at - begin));
        begin = at + kPartSeparator.size();
    }
    parts.push_back(text.substr(begin));
    return parts;
}

// The project directories that the programs expect to exist.
inline const std::vector<std::string> kProjectDirs = {
    "topoData", "input", "input/realDamOutflow", "temp", "output", "output/damData", "output/resData",
    "output/image", "paramData"};

// Enters a fresh project directory under the temp directory, once per process.
inline const std::filesystem::path& projectDir() {
    static const std::filesystem::path dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "floodFuzz-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) std::abort();
        const std::filesystem::path made(buffer.data());
        for (const std::string& d : kProjectDirs) std::filesystem::create_directories(made / d);
        std::filesystem::current_path(made);
        return made;
    }();
    return dir;
}

// Enters the project directory and removes every file left by the last input;
// the directories stay.
inline void resetProject() {
    const std::filesystem::path& dir = projectDir();
    std::filesystem::current_path(dir);
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        if (!entry.is_directory()) files.push_back(entry.path());
    }
    for (const auto& file : files) std::filesystem::remove(file);
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Writes part `k` to `path` if the input has it.
inline void writePart(const std::vector<std::string>& parts, std::size_t k, const std::string& path) {
    if (k < parts.size()) writeFile(path, parts[k]);
}

inline std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A finding: the fuzzer reports the input that led here.
[[noreturn]] inline void finding(const std::string& what) {
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::abort();
}

// A stop must be a message ending in a line end, as the programs print it.
inline void checkStopMessage(const InputError& error) {
    if (error.message.empty() || error.message.back() != '\n') finding("stop message without line end");
}

// No float32 in a discharge grid file may be NaN or infinite.
inline void checkBinaryFinite(const std::filesystem::path& path) {
    const std::string bytes = readWholeFile(path);
    for (std::size_t k = 0; k + 4 <= bytes.size(); k += 4) {
        float v;
        std::memcpy(&v, bytes.data() + k, 4);
        if (!std::isfinite(v)) finding("non-finite value in " + path.string());
    }
}

// No number written into a text output may be NaN or infinite.
inline void checkTextFinite(const std::filesystem::path& path) {
    const std::string text = readWholeFile(path);
    if (text.find("nan") != std::string::npos || text.find("inf") != std::string::npos) {
        finding("non-finite value in " + path.string());
    }
}

// Checks every output of a finished simulation for NaN and infinity.
inline void checkSimulationOutputs() {
    for (const char* file : {"output/discharge10minSnapshot.bin", "output/discharge10minMean.bin",
                             "output/dischargeHourlyMean.bin"}) {
        checkBinaryFinite(file);
    }
    checkTextFinite("output/totalRainDistribution.asc");
    for (const char* dir : {"output/damData", "output/resData"}) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) checkTextFinite(entry.path());
    }
}

// A small, valid parameter set: the model tests' 5 x 4 cells with 2 x 2
// rainfall points and one day of 10-minute steps. Targets change what they fuzz.
inline ModelParams smallParams() {
    ModelParams p = modelParams();
    p.rainFormat = 1;
    p.rainCols = 2;
    p.rainRows = 2;
    p.rainDx = 0.05;
    p.rainDy = 0.05;
    p.rainLon0 = 135.0;
    p.rainLat0 = 35.0;
    p.stepSeconds = 600;
    p.stepsPerHour = 6;
    return p;
}

// The parameter file of `p`, every value written so that it reads back exactly.
inline std::string paramFileText(const ModelParams& p) {
    std::ostringstream s;
    s.precision(17);
    s << static_cast<double>(p.scale) << '\n' << p.ncols << ' ' << p.nrows << '\n' << p.xllcorner << ' '
      << p.yllcorner << '\n' << p.rainFormat << '\n' << p.rainInterval << '\n' << p.rainCols << ' ' << p.rainRows
      << '\n' << p.rainDx << ' ' << p.rainDy << '\n' << p.rainLon0 << ' ' << p.rainLat0 << '\n' << p.days << '\n'
      << p.stepSeconds << '\n' << p.spaceSteps << '\n' << p.fdWeight << '\n' << p.Ns << ' ' << p.Ka << ' ' << p.Da
      << ' ' << p.Dm << ' ' << p.Beta << ' ' << p.Nr << '\n' << p.channelThreshold << '\n' << p.slopeLength << '\n'
      << p.ROFinitial << '\n';
    return s.str();
}

// The 5 x 4 basin of the tests, as the four raster files and the river list:
// row 2 drains east to a mouth at (2, 3); (1, 1)..(1, 3) drain south into it.
inline void writeSmallBasin() { smallBasin().write(); }

// Uniform rain of 6 mm/h at every point of a 2 x 2 grid for one day of
// 10-minute observations, as a text rainfall file.
inline std::string uniformRainText() {
    std::string text;
    for (int record = 0; record < 144; ++record) text += "0 0 0 0 0 0 0 6 6 6 6\n";
    return text;
}

// Runs runoffSim in the project directory and applies the checks: a stop is
// a one-message InputError, a finished run leaves no NaN or infinity in its
// outputs. Any other exception escapes to the fuzzer as a finding.
int runProject();

#pragma once
// Helpers that build small project directories for in-process tests of the
// programs: a scratch directory (entered for the test's lifetime), parameter
// files, rasters and a runner that captures the console.

#include "inputError.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

// A fresh directory under the system temp directory; the test runs inside it.
struct ScratchDir {
    std::filesystem::path path;
    std::filesystem::path previous;

    explicit ScratchDir(const std::vector<std::string>& subdirs = {"topoData", "input", "temp", "output",
                                                                   "output/damData", "output/resData",
                                                                   "paramData"}) {
        previous = std::filesystem::current_path();
        std::string pattern = (std::filesystem::temp_directory_path() / "floodTest-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        path = mkdtemp(buffer.data());
        for (const std::string& d : subdirs) std::filesystem::create_directories(path / d);
        std::filesystem::current_path(path);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::current_path(previous, ec);
        std::filesystem::remove_all(path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
};

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

template <typename T>
void writeBinary(const std::string& path, const std::vector<T>& values) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(values.data()), static_cast<std::streamsize>(values.size() * sizeof(T)));
}

template <typename T>
std::vector<T> readBinary(const std::string& path) {
    const std::string bytes = readFile(path);
    std::vector<T> values(bytes.size() / sizeof(T));
    if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * sizeof(T));
    return values;
}

// The 26 values of a parameter file, as text tokens so tests can break them.
struct ParamText {
    std::vector<std::string> values = {
        "30",        // scale
        "5", "4",    // ncols nrows
        "135.0", "35.0",  // xllcorner yllcorner
        "1",         // rainFormat
        "10",        // rainInterval
        "2", "2",    // rainCols rainRows
        "0.05", "0.05",   // rainDx rainDy
        "135.0", "35.0",  // rainLon0 rainLat0
        "1",         // days
        "60",        // stepSeconds
        "4",         // spaceSteps
        "0.6",       // fdWeight
        "0.3", "0.001", "1.0", "0.5", "4.0", "0.03",  // Ns Ka Da Dm Beta Nr
        "3",         // channelThreshold
        "100.0",     // slopeLength
        "0.1",       // ROFinitial
    };
    // Index of each value in `values` (0-based; one less than its number).
    enum Index {
        kScale, kNcols, kNrows, kXll, kYll, kRainFormat, kRainInterval, kRainCols, kRainRows, kRainDx, kRainDy,
        kRainLon0, kRainLat0, kDays, kStepSeconds, kSpaceSteps, kFdWeight, kNs, kKa, kDa, kDm, kBeta, kNr,
        kChannelThreshold, kSlopeLength, kROFinitial
    };
    std::string& operator[](int i) { return values[static_cast<std::size_t>(i)]; }
    std::string text(const std::string& separator = "\n") const {
        std::string s;
        for (const std::string& v : values) s += v + separator;
        return s;
    }
};

struct RunResult {
    int status = 0;
    std::string output;
};

// Runs `program` on a captured console; an InputError becomes its message and status 1.
inline RunResult runCaptured(const std::function<int(std::ostream&)>& program) {
    std::ostringstream out;
    RunResult result;
    try {
        result.status = program(out);
    } catch (const InputError& e) {
        out << e.message;
        result.status = 1;
    }
    result.output = out.str();
    return result;
}

// runCaptured with `dir` as the working directory, as a program started there.
inline RunResult runCapturedIn(const std::filesystem::path& dir, const std::function<int(std::ostream&)>& program) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    const RunResult result = runCaptured(program);
    std::filesystem::current_path(previous);
    return result;
}

// The whitespace-separated words of a file (the values of a parameter file).
inline std::vector<std::string> wordsOf(const std::string& path) {
    std::istringstream in(readFile(path));
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// A small topography given in in-memory row order (row 0 north); written to the
// four rasters in file order (south row first).
struct Topography {
    int nrows = 0;
    int ncols = 0;
    std::vector<float> dem;
    std::vector<int32_t> flowDir;
    std::vector<int32_t> flowAcc;
    std::vector<int32_t> riverNum;
    std::vector<int32_t> rivers{0};  // riverNumList

    Topography(int rows, int cols)
        : nrows(rows), ncols(cols), dem(static_cast<std::size_t>(rows * cols), 0.0f),
          flowDir(static_cast<std::size_t>(rows * cols), 0), flowAcc(static_cast<std::size_t>(rows * cols), 0),
          riverNum(static_cast<std::size_t>(rows * cols), -1) {}

    std::size_t at(int r, int c) const { return static_cast<std::size_t>(r * ncols + c); }

    template <typename T>
    std::vector<T> fileOrder(const std::vector<T>& v) const {
        std::vector<T> out;
        for (int r = nrows - 1; r >= 0; --r)
            for (int c = 0; c < ncols; ++c) out.push_back(v[at(r, c)]);
        return out;
    }

    void write() const {
        writeBinary("topoData/modDem.bin", fileOrder(dem));
        writeBinary("topoData/flowDir.bin", fileOrder(flowDir));
        writeBinary("topoData/flowAcc.bin", fileOrder(flowAcc));
        writeBinary("topoData/riverNum.bin", fileOrder(riverNum));
        std::string list;
        for (int32_t n : rivers) list += std::to_string(n) + " 1 1 1 1 1 0.5 0.5\n";
        writeText("topoData/riverNumList.dat", list);
    }
};

// A 5 x 4 basin draining east along row 2 to a mouth at (2, 3); (1, 1)..(1, 3)
// drain south into it. Accumulations follow the network.
inline Topography smallBasin() {
    Topography t(4, 5);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c) {
            t.riverNum[t.at(r, c)] = 0;
            t.dem[t.at(r, c)] = static_cast<float>(100 - 10 * c + (r == 1 ? 5 : 0));
        }
    t.flowDir[t.at(1, 1)] = 5;
    t.flowDir[t.at(1, 2)] = 5;
    t.flowDir[t.at(1, 3)] = 5;
    t.flowDir[t.at(2, 1)] = 3;
    t.flowDir[t.at(2, 2)] = 3;
    t.flowDir[t.at(2, 3)] = 0;
    t.flowAcc[t.at(1, 1)] = 1;
    t.flowAcc[t.at(1, 2)] = 1;
    t.flowAcc[t.at(1, 3)] = 1;
    t.flowAcc[t.at(2, 1)] = 2;
    t.flowAcc[t.at(2, 2)] = 4;
    t.flowAcc[t.at(2, 3)] = 6;
    return t;
}

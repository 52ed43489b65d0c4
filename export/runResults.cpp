#include "runResults.h"

#include "dam.h"
#include "inputError.h"
#include "structureLists.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <sstream>

static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559,
              "discharge files hold IEEE-754 float32 values");

namespace fs = std::filesystem;

std::string Project::path(const std::string& relative) const {
    if (dir.empty() || dir == ".") return relative;
    return dir.back() == '/' ? dir + relative : dir + "/" + relative;
}

ModelParams readProjectParams(const Project& project) {
    const std::string path = project.path("param-hsx-event-ver400.dat");
    std::ifstream in(path);
    if (!in) throw InputError("Error: " + path + " cannot open: is this a project directory?\n");
    std::ostream silent(nullptr);  // the echo belongs to runoffSim's console
    ModelParams params;
    readParamFile(in, path, silent, params);
    checkModelParams(params);
    return params;
}

GridGeometry gridGeometry(const ModelParams& params) {
    GridGeometry g;
    g.nrows = params.nrows;
    g.ncols = params.ncols;
    g.west = params.xllcorner;
    g.south = params.yllcorner;
    g.cellDeg = static_cast<double>(params.scale) / 3600.0;
    return g;
}

namespace {

std::string count(uint64_t n) { return std::to_string(n); }

// Size of `path` in bytes; a missing file is an InputError naming what made it.
uint64_t sizeOf(const std::string& path, const std::string& madeBy) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) throw InputError("Error: " + path + " cannot open: " + madeBy + "\n");
    return static_cast<uint64_t>(size);
}

}  // namespace

void openDischargeFile(DischargeFile& file, const std::string& path, std::size_t cells, int64_t frames) {
    file.path = path;
    file.cells = cells;
    file.frames = frames;
    const uint64_t size = sizeOf(path, "run runoffSim in this project first.");
    const uint64_t frameBytes = static_cast<uint64_t>(cells) * 4;
    const uint64_t whole = size / frameBytes;
    if (size != frameBytes * static_cast<uint64_t>(frames)) {
        const std::string held = count(whole) + (size % frameBytes ? " whole frames and a part" : " frames");
        throw InputError("Error: " + path + " holds " + held + ", the parameter file gives " +
                         count(static_cast<uint64_t>(frames)) + " frames of " + count(cells) + " cells" +
                         (whole < static_cast<uint64_t>(frames) ? ": the file is short."
                                                                : ": was the parameter file changed after the run?") +
                         "\n");
    }
    file.stream.open(path, std::ios::binary);
    if (!file.stream) throw InputError("Error: " + path + " cannot open.\n");
}

void readNorthUpFrames(DischargeFile& file, int64_t frames, int32_t nrows, int32_t ncols, std::vector<float>& north) {
    const std::size_t cols = static_cast<std::size_t>(ncols);
    north.resize(static_cast<std::size_t>(frames) * file.cells);
    std::vector<float> frame(file.cells);
    for (int64_t f = 0; f < frames; ++f) {
        file.stream.read(reinterpret_cast<char*>(frame.data()), static_cast<std::streamsize>(frame.size() * 4));
        if (file.stream.gcount() != static_cast<std::streamsize>(frame.size() * 4)) {
            throw InputError("Error: " + file.path + " cannot be read in full.\n");
        }
        float* out = north.data() + static_cast<std::size_t>(f) * file.cells;
        // File row k (0 = south) is row nrows - 1 - k from the north.
        for (int32_t k = 0; k < nrows; ++k) {
            std::memcpy(out + static_cast<std::size_t>(nrows - 1 - k) * cols, frame.data() + k * cols, cols * 4);
        }
    }
}

std::vector<float> readCellSeries(DischargeFile& file, int32_t ncols, int32_t columnNumber, int32_t rowNumber) {
    const uint64_t cell = static_cast<uint64_t>(rowNumber - 1) * static_cast<uint64_t>(ncols) +
                          static_cast<uint64_t>(columnNumber - 1);
    std::vector<float> series(static_cast<std::size_t>(file.frames));
    for (int64_t f = 0; f < file.frames; ++f) {
        file.stream.seekg(static_cast<std::streamoff>((static_cast<uint64_t>(f) * file.cells + cell) * 4));
        file.stream.read(reinterpret_cast<char*>(&series[static_cast<std::size_t>(f)]), 4);
        if (!file.stream) throw InputError("Error: " + file.path + " cannot be read in full.\n");
    }
    return series;
}

std::vector<float> readRainTotals(const std::string& path, int32_t nrows, int32_t ncols) {
    std::ifstream in(path);
    if (!in) throw InputError("Error: " + path + " cannot open: run runoffSim in this project first.\n");
    std::string key;
    double value = 0.0;
    double header[6] = {};
    const char* keys[6] = {"ncols", "nrows", "xllcorner", "yllcorner", "cellsize", "NODATA_value"};
    for (int k = 0; k < 6; ++k) {
        if (!(in >> key >> value) || key != keys[k]) {
            throw InputError("Error: " + path + " does not start with the six lines of an ESRI ASCII grid header.\n");
        }
        header[k] = value;
    }
    if (header[0] != ncols || header[1] != nrows) {
        throw InputError("Error: " + path + " is a grid of " + std::to_string(static_cast<int64_t>(header[0])) +
                         " x " + std::to_string(static_cast<int64_t>(header[1])) +
                         " cells; the parameter file gives " + std::to_string(ncols) + " x " +
                         std::to_string(nrows) + ".\n");
    }
    std::vector<float> totals(static_cast<std::size_t>(nrows) * static_cast<std::size_t>(ncols));
    for (std::size_t i = 0; i < totals.size(); ++i) {
        if (!(in >> totals[i]) || !std::isfinite(totals[i])) {
            throw InputError("Error: " + path + " ends early or holds a value that is not a number (value " +
                             count(i + 1) + " of " + count(totals.size()) + ").\n");
        }
    }
    return totals;
}

std::vector<int32_t> readIntRasterNorthUp(const std::string& path, int32_t nrows, int32_t ncols) {
    const std::size_t cols = static_cast<std::size_t>(ncols);
    const std::size_t cells = static_cast<std::size_t>(nrows) * cols;
    if (sizeOf(path, "run prepareTopography for this project first.") < cells * 4) {
        throw InputError("Error: " + path + " is too short for a grid of " + std::to_string(ncols) + " x " +
                         std::to_string(nrows) + " cells.\n");
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<int32_t> file(cells), north(cells);
    in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(cells * 4));
    if (!in) throw InputError("Error: " + path + " cannot be read in full.\n");
    for (int32_t k = 0; k < nrows; ++k) {
        std::memcpy(north.data() + static_cast<std::size_t>(nrows - 1 - k) * cols, file.data() + k * cols, cols * 4);
    }
    return north;
}

namespace {

// Reads a dam or reservoir list: the count, then one record per structure read
// by `readRecord(in, record)`. A missing list means no structures.
template <typename ReadRecord>
std::vector<StructureSite> readSites(const std::string& path, ReadRecord readRecord) {
    std::vector<StructureSite> sites;
    std::ifstream in(path);
    if (!in) return sites;
    const int64_t n = readStructureItem<int64_t>(in, path, 0);
    if (n < 0) throw structureListError(path, 0, "the number of records is negative.");
    for (int64_t record = 1; record <= n; ++record) sites.push_back(readRecord(in, record));
    return sites;
}

void checkPosition(const StructureSite& site, const std::string& path, int64_t record, int32_t nrows, int32_t ncols) {
    if (site.columnNumber < 1 || site.columnNumber > ncols || site.rowNumber < 1 || site.rowNumber > nrows) {
        throw structureListError(path, record, "column " + std::to_string(site.columnNumber) + ", row " +
                                                   std::to_string(site.rowNumber) + " is outside the grid.");
    }
}

}  // namespace

std::vector<StructureSite> readDamSites(const Project& project, int32_t nrows, int32_t ncols) {
    const std::string path = project.path(kDamListFile);
    return readSites(path, [&](std::istream& in, int64_t record) {
        StructureSite site;
        site.number = readStructureItem<int32_t>(in, path, record);
        site.operation = readStructureItem<int32_t>(in, path, record);
        site.columnNumber = readStructureItem<int32_t>(in, path, record);
        site.rowNumber = readStructureItem<int32_t>(in, path, record);
        for (int k = 0; k < 4; ++k) readStructureItem<double>(in, path, record);  // release and storages
        site.name = readStructureName(in, path, record);
        checkPosition(site, path, record, nrows, ncols);
        return site;
    });
}

std::vector<StructureSite> readReservoirSites(const Project& project, int32_t nrows, int32_t ncols) {
    const std::string path = project.path(kReservoirListFile);
    return readSites(path, [&](std::istream& in, int64_t record) {
        StructureSite site;
        site.number = readStructureItem<int32_t>(in, path, record);
        site.columnNumber = readStructureItem<int32_t>(in, path, record);
        site.rowNumber = readStructureItem<int32_t>(in, path, record);
        readStructureItem<int32_t>(in, path, record);  // storage constant
        site.name = readStructureName(in, path, record);
        checkPosition(site, path, record, nrows, ncols);
        return site;
    });
}

std::string tablePath(const StructureSite& site) {
    return site.operation >= 0 ? "output/damData/" + site.name + "IQS.dat" : "output/resData/" + site.name + "IQ.dat";
}

std::vector<std::vector<float>> readHourlyTable(const std::string& path, int64_t hours, int valueColumns) {
    std::ifstream in(path);
    if (!in) throw InputError("Error: " + path + " cannot open: run runoffSim in this project first.\n");
    std::vector<std::vector<float>> columns(static_cast<std::size_t>(valueColumns));
    for (auto& column : columns) column.reserve(static_cast<std::size_t>(hours));
    std::string line;
    for (int64_t hour = 1; hour <= hours; ++hour) {
        if (!std::getline(in, line)) {
            throw InputError("Error: " + path + " is short: it ends after " + std::to_string(hour - 1) + " of " +
                             std::to_string(hours) + " hours.\n");
        }
        std::istringstream fields(line);
        int64_t number = 0;
        bool ok = static_cast<bool>(fields >> number) && number == hour;
        for (auto& column : columns) {
            float v = 0.0f;
            ok = ok && static_cast<bool>(fields >> v) && std::isfinite(v);
            column.push_back(v);
        }
        if (!ok) {
            throw InputError("Error: " + path + " line " + std::to_string(hour) + " is not the hour number " +
                             std::to_string(hour) + " followed by " + std::to_string(valueColumns) +
                             " numbers.\n");
        }
    }
    return columns;
}

#include "ensembleInputs.h"

#include "demGrid.h"
#include "eventPlan.h"
#include "inputError.h"
#include "rainFiles.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// "rain.007.bin": the name prepareRainfall --ensemble gives member 7.
std::string memberName(std::size_t member) {
    char name[40];
    std::snprintf(name, sizeof name, "rain.%03zu.bin", member);
    return name;
}

// The member number of a file name of that form, or -1.
long memberNumber(const std::string& name) {
    if (name.size() < 12 || name.compare(0, 5, "rain.") != 0 || name.compare(name.size() - 4, 4, ".bin") != 0) return -1;
    const std::string number = name.substr(5, name.size() - 9);  // between "rain." and ".bin"
    if (number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos) return -1;
    const long n = std::stol(number);
    return memberName(static_cast<std::size_t>(n)) == name ? n : -1;
}

}  // namespace

std::vector<std::string> findMemberFiles(const std::string& directory) {
    std::error_code ec;
    std::map<long, std::string> found;
    if (fs::is_directory(directory, ec)) {
        for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
            const long n = memberNumber(it->path().filename().string());
            if (n >= 0) found.emplace(n, directory + it->path().filename().string());
        }
    }
    if (ec) throw InputError("Error: " + directory + " cannot be read: " + ec.message() + ".\n");
    if (found.empty()) {
        throw InputError("Error: " + directory + " holds no rainfall members (rain.000.bin, rain.001.bin, ...); "
                         "prepareRainfall --ensemble writes them.\n");
    }
    std::vector<std::string> paths;
    for (const auto& [n, path] : found) {
        if (n != static_cast<long>(paths.size())) {
            throw InputError("Error: member " + std::to_string(paths.size()) + " (" + directory +
                             memberName(paths.size()) + ") is missing: the members must be numbered from 000 "
                             "without gaps.\n");
        }
        paths.push_back(path);
    }
    return paths;
}

std::vector<RainGrid> readMembers(const Event& event, const std::vector<std::string>& paths) {
    const RainGrid& shape = event.rain;
    const uintmax_t frames = seriesLength(shape.days, shape.obsPerHour);
    const uintmax_t expected = frames * shape.points.size() * 4;
    // Every size first: a wrong file stops the program before any member is read.
    for (const std::string& path : paths) {
        std::error_code ec;
        const uintmax_t size = fs::file_size(path, ec);
        if (ec) throw InputError("Error: " + path + " cannot be read: " + ec.message() + ".\n");
        if (size != expected) {
            throw InputError("Error: " + path + " holds " + std::to_string(size) + " bytes; the parameter file's " +
                             "rainfall grid (" + std::to_string(shape.rainCols) + " x " + std::to_string(shape.rainRows) +
                             " points, " + std::to_string(frames) + " frames) needs " + std::to_string(expected) + ".\n");
        }
    }
    std::vector<RainGrid> members;
    members.reserve(paths.size());
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw InputError("Error: " + path + " cannot be opened.\n");
        members.push_back(shape);
        readRainBinary(members.back(), in, path);
        if (in.bad()) throw InputError("Error: " + path + " cannot be read.\n");
    }
    return members;
}

std::vector<Threshold> readThresholds(const Event& event, const std::vector<ThresholdOption>& options) {
    const ModelParams& p = event.params;
    const std::size_t cells = event.grid.cellCount();
    std::vector<Threshold> thresholds;
    for (const ThresholdOption& option : options) {
        Threshold t;
        t.name = option.name;
        t.isGrid = option.isGrid;
        t.value = option.value;
        if (!option.isGrid) {
            std::ostringstream text;
            text << option.value << " m3/s";
            t.source = text.str();
            t.cells.assign(cells, option.value);
            thresholds.push_back(std::move(t));
            continue;
        }
        t.source = option.path;
        const DemGrid grid = readDemGrid(option.path);
        const double cell = p.scale / 3600.0;
        if (grid.ncols != p.ncols || grid.nrows != p.nrows || std::fabs(grid.xllcorner - p.xllcorner) > cell / 2 ||
            std::fabs(grid.yllcorner - p.yllcorner) > cell / 2) {
            std::ostringstream text;
            text.precision(10);
            text << "Error: the threshold grid " << option.path << " (" << grid.ncols << " x " << grid.nrows
                 << " cells, corner " << grid.xllcorner << ", " << grid.yllcorner
                 << ") is not the study area of the parameter file (" << p.ncols << " x " << p.nrows
                 << " cells, corner " << p.xllcorner << ", " << p.yllcorner << ").\n";
            throw InputError(text.str());
        }
        for (std::size_t i = 0; i < grid.size(); ++i) {
            if (grid.elevation[i] < 0.0f) {
                throw InputError("Error: the threshold grid " + option.path + " holds a negative discharge at " +
                                 cellName(event.grid, static_cast<int32_t>(i)) + "; thresholds are zero or more.\n");
            }
        }
        t.cells = grid.elevation;  // both row-major from the north; NODATA is NaN
        thresholds.push_back(std::move(t));
    }
    return thresholds;
}

std::vector<SeriesSite> seriesSites(const Event& event, const std::vector<std::pair<int32_t, int32_t>>& points) {
    const CellGrid& grid = event.grid;
    std::vector<SeriesSite> sites;
    for (std::size_t k = 0; k < points.size(); ++k) {
        const auto [column, row] = points[k];
        if (column > grid.ncols || row > grid.nrows) {
            throw InputError("Error: --point " + std::to_string(column) + " " + std::to_string(row) +
                             " lies outside the grid of " + std::to_string(grid.ncols) + " columns and " +
                             std::to_string(grid.nrows) + " rows.\n");
        }
        const int32_t i = grid.index(grid.nrows - row, column - 1);
        if (grid.isEdgeAt(i) || !isListedRiver(event.riverNumList, grid.riverNumAt(i))) {
            throw InputError("Error: --point " + std::to_string(column) + " " + std::to_string(row) +
                             " is a cell without discharge (the border, or a river that is not simulated).\n");
        }
        sites.push_back({i, "point " + std::to_string(k + 1), "point", column, row});
    }
    for (const Dam& dam : event.dams)
        sites.push_back({dam.cell, dam.name, "dam", dam.columnIndex + 1, grid.nrows - dam.rowIndex});
    for (const Reservoir& r : event.reservoirs)
        sites.push_back({r.cell, r.name, "reservoir", r.columnIndex + 1, grid.nrows - r.rowIndex});
    return sites;
}

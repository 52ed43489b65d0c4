#include "demGrid.h"

#include "inputError.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <ostream>
#include <sstream>
#include <string_view>

namespace {

// Splits text into whitespace-separated tokens, one at a time.
struct Tokenizer {
    std::string_view text;
    std::size_t pos = 0;

    std::string_view next() {
        while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
        const std::size_t start = pos;
        while (pos < text.size() && !std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
        return text.substr(start, pos - start);
    }
    std::string_view peek() {
        const std::size_t saved = pos;
        const std::string_view token = next();
        pos = saved;
        return token;
    }
};

std::string lowerCase(std::string_view token) {
    std::string s(token);
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return s;
}

const char* const kHeaderKeys[] = {"ncols",    "nrows",    "xllcorner", "xllcenter",    "yllcorner",
                                   "yllcenter", "cellsize", "dx",        "dy",           "nodata_value",
                                   "nodata"};

bool isHeaderKey(const std::string& key) {
    return std::find(std::begin(kHeaderKeys), std::end(kHeaderKeys), key) != std::end(kHeaderKeys);
}

// A whole token read as a real of type T (a float32 elevation is read straight
// into a float, so it is rounded once); "nan" and "inf" are accepted here and
// judged by the caller.
template <typename T>
bool parseReal(std::string_view token, T& value) {
    if (!token.empty() && token.front() == '+') token.remove_prefix(1);
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    return ec == std::errc() && end == token.data() + token.size() && !token.empty();
}

struct Header {
    std::map<std::string, double> values;  // key in lower case -> value
    bool has(const char* key) const { return values.count(key) != 0; }
    double get(const char* key) const { return values.at(key); }
};

InputError gridError(const std::string& name, const std::string& what) {
    return InputError("Error: " + name + ": " + what + "\n");
}

Header readHeader(Tokenizer& tokens, const std::string& name) {
    Header header;
    for (;;) {
        const std::string_view token = tokens.peek();
        if (token.empty() || !std::isalpha(static_cast<unsigned char>(token.front()))) break;
        const std::string key = lowerCase(token);
        if (!isHeaderKey(key)) {
            if (key == "nan" || key == "inf" || key == "-inf") break;  // first value, no more header
            throw gridError(name, "unknown header key \"" + std::string(token) + "\".");
        }
        tokens.next();
        const std::string_view valueToken = tokens.next();
        double value = 0.0;
        const bool nodataKey = key.rfind("nodata", 0) == 0;  // a NODATA value of nan is allowed
        if (!parseReal(valueToken, value) || (!std::isfinite(value) && !nodataKey)) {
            throw gridError(name, "the header value of " + key + " is not a number: \"" + std::string(valueToken) + "\".");
        }
        if (!header.values.emplace(key, value).second) throw gridError(name, "the header names " + key + " twice.");
    }
    return header;
}

int32_t gridCount(const Header& header, const char* key, const std::string& name) {
    if (!header.has(key)) throw gridError(name, std::string("the header has no ") + key + ".");
    const double v = header.get(key);
    if (v != std::floor(v) || v < 1.0 || v > std::numeric_limits<int32_t>::max()) {
        throw gridError(name, std::string(key) + " must be a positive whole number.");
    }
    return static_cast<int32_t>(v);
}

double cellSizeOf(const Header& header, const std::string& name) {
    double size = 0.0;
    if (header.has("cellsize")) {
        size = header.get("cellsize");
    } else if (header.has("dx") && header.has("dy")) {
        const double dx = header.get("dx"), dy = header.get("dy");
        if (std::fabs(dx - dy) > 1e-9 * std::max(std::fabs(dx), std::fabs(dy))) {
            throw gridError(name, "the cells are not square (dx differs from dy); resample the DEM to square cells, "
                                  "for example with gdalwarp -tr.");
        }
        size = dx;
    } else {
        throw gridError(name, "the header has no cellsize.");
    }
    if (!(size > 0.0)) throw gridError(name, "cellsize must be larger than zero.");
    return size;
}

// West or south edge from either the corner or the centre key.
double cornerOf(const Header& header, const char* corner, const char* centre, double cellsize,
                const std::string& name) {
    if (header.has(corner) && header.has(centre)) {
        throw gridError(name, std::string("the header names both ") + corner + " and " + centre + ".");
    }
    if (header.has(corner)) return header.get(corner);
    if (header.has(centre)) return header.get(centre) - 0.5 * cellsize;
    throw gridError(name, std::string("the header has no ") + corner + ".");
}

}  // namespace

void checkDemGeometry(const DemGrid& grid, const std::string& name) {
    if (grid.nrows < 3 || grid.ncols < 3) {
        throw gridError(name, "the grid has " + std::to_string(grid.ncols) + " columns and " +
                                  std::to_string(grid.nrows) +
                                  " rows; at least 3 of each are needed, as the outer ring of cells is never computed.");
    }
    if (static_cast<int64_t>(grid.nrows) * grid.ncols > std::numeric_limits<int32_t>::max()) {
        throw gridError(name, "the grid has more cells than the simulation can address (2147483647).");
    }
    const double east = grid.xllcorner + grid.ncols * grid.cellsize;
    const double north = grid.yllcorner + grid.nrows * grid.cellsize;
    if (grid.xllcorner < -360.0 || east > 360.0 || grid.yllcorner < -90.0 || north > 90.0) {
        throw gridError(name, "the grid is not in geographic coordinates (longitude and latitude in degrees); "
                              "reproject it, for example with gdalwarp -t_srs EPSG:4326.");
    }
}

DemGrid parseDemGrid(const std::string& text, const std::string& name) {
    Tokenizer tokens{text};
    const Header header = readHeader(tokens, name);
    DemGrid grid;
    grid.ncols = gridCount(header, "ncols", name);
    grid.nrows = gridCount(header, "nrows", name);
    grid.cellsize = cellSizeOf(header, name);
    grid.xllcorner = cornerOf(header, "xllcorner", "xllcenter", grid.cellsize, name);
    grid.yllcorner = cornerOf(header, "yllcorner", "yllcenter", grid.cellsize, name);
    checkDemGeometry(grid, name);
    // Without a NODATA key the format's default, -9999, marks cells without data.
    const double nodata = header.has("nodata_value") ? header.get("nodata_value")
                                                     : (header.has("nodata") ? header.get("nodata") : -9999.0);

    const std::size_t count = static_cast<std::size_t>(grid.nrows) * static_cast<std::size_t>(grid.ncols);
    grid.elevation.assign(count, 0.0f);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view token = tokens.next();
        if (token.empty()) {
            throw gridError(name, "the grid holds " + std::to_string(i) + " values; the header announces " +
                                      std::to_string(count) + " (" + std::to_string(grid.nrows) + " rows of " +
                                      std::to_string(grid.ncols) + ").");
        }
        double value = 0.0;
        if (!parseReal(token, value)) {
            throw gridError(name, "value " + std::to_string(i + 1) + " is not a number: \"" + std::string(token) + "\".");
        }
        if (value == nodata || !std::isfinite(value)) {
            grid.elevation[i] = std::numeric_limits<float>::quiet_NaN();
        } else if (!parseReal(token, grid.elevation[i]) || !std::isfinite(grid.elevation[i])) {
            throw gridError(name, "value " + std::to_string(i + 1) + " is too large for an elevation: \"" +
                                      std::string(token) + "\".");
        }
    }
    if (!tokens.next().empty()) {
        throw gridError(name, "the grid holds more values than the header announces (" + std::to_string(count) + ").");
    }
    return grid;
}

DemGrid readDemGrid(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw InputError("Error: " + path + " is a directory, not a grid file.\n");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError("Error: " + path + " cannot be opened.\n");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw InputError("Error: " + path + " cannot be read.\n");
    return parseDemGrid(text.str(), path);
}

void writeDemGrid(std::ostream& out, const DemGrid& grid, int decimals) {
    std::ostringstream header;
    header.precision(15);
    header << "ncols " << grid.ncols << "\nnrows " << grid.nrows << "\nxllcorner " << grid.xllcorner
           << "\nyllcorner " << grid.yllcorner;
    header.precision(17);
    header << "\ncellsize " << grid.cellsize << "\nNODATA_value -9999\n";
    out << header.str();
    std::ostringstream row;
    row.setf(std::ios::fixed);
    row.precision(decimals);
    for (int r = 0; r < grid.nrows; ++r) {
        row.str("");
        for (int c = 0; c < grid.ncols; ++c) {
            const float v = grid.elevation[static_cast<std::size_t>(grid.index(r, c))];
            if (c > 0) row << ' ';
            if (std::isnan(v)) {
                row << "-9999";
            } else {
                row << v;
            }
        }
        row << '\n';
        out << row.str();
    }
}

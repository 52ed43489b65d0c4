#pragma once
// A digital elevation model on a longitude/latitude grid, as an ESRI ASCII
// grid holds it (the format `gdal_translate -of AAIGrid` writes): a header of
// "key value" lines, then `nrows` lines of `ncols` values, northern row first.
//
// In memory row 0 is the northernmost row and column 0 the westernmost, as in
// the file and in the simulation's grid. A cell without data (the header's
// NODATA value, or a value that is not a finite number) is held as NaN.

#include <cmath>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct DemGrid {
    int32_t ncols = 0;
    int32_t nrows = 0;
    double xllcorner = 0.0;  // west edge of the grid, degrees of longitude
    double yllcorner = 0.0;  // south edge of the grid, degrees of latitude
    double cellsize = 0.0;   // degrees, the same east-west and north-south
    std::vector<float> elevation;  // row-major, row 0 north; NaN where there is no data

    std::size_t size() const { return elevation.size(); }
    int32_t index(int r, int c) const { return r * ncols + c; }
    bool hasData(std::size_t i) const { return !std::isnan(elevation[i]); }
    // The outer ring of rows and columns, which the simulation never computes.
    bool isBorder(int r, int c) const { return r == 0 || c == 0 || r == nrows - 1 || c == ncols - 1; }
    // Latitude of the centre of row r, degrees.
    double rowLatitude(int r) const { return yllcorner + (nrows - r - 0.5) * cellsize; }
    // Longitude of the centre of column c, degrees.
    double columnLongitude(int c) const { return xllcorner + (c + 0.5) * cellsize; }
};

// Metres per arc-second of latitude, as the simulation counts them: the
// preparation's conversions between metres and arc-seconds use it too.
inline constexpr double kMetresPerArcSecond = 30.9;

// Parses an ESRI ASCII grid. Header keys are case-insensitive and may come in
// any order: ncols, nrows, xllcorner or xllcenter, yllcorner or yllcenter,
// cellsize (or equal dx and dy), and optionally nodata_value (default -9999,
// as in the format itself). `name` names the grid in messages. Throws
// InputError on a malformed header, a value that is not a number, a value
// count other than nrows x ncols, non-square cells, a grid smaller than 3 x 3,
// or a grid that is not in geographic coordinates.
DemGrid parseDemGrid(const std::string& text, const std::string& name);

// Checks that `grid` can be prepared: at least 3 x 3 cells, no more than the
// simulation can address, and coordinates that are longitudes and latitudes.
// Throws InputError naming `name`.
void checkDemGeometry(const DemGrid& grid, const std::string& name);

// Reads and parses the grid file at `path`; a missing file is an InputError.
DemGrid readDemGrid(const std::string& path);

// Writes `grid` as an ESRI ASCII grid with corner coordinates; cells without
// data are written as -9999, the NODATA value of the header. Elevations are
// written with `decimals` digits after the point.
void writeDemGrid(std::ostream& out, const DemGrid& grid, int decimals);

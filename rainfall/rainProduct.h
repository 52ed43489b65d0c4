#pragma once
// A gridded rainfall product opened through GDAL: the chosen variable, its
// units, its time axis and its grid, and the reading of one frame.
//
// A single SOURCE with a time axis is read through GDAL's multidimensional
// API (CF-NetCDF, GRIB2, HDF5, Zarr). Rasters without one (GeoTIFF and the
// like, one or several files) are read band by band, each band one interval,
// in the order given, at the interval the user names.

#include "rainUnits.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class GridKind {
    LonLat,      // regular longitude/latitude axes: cut without resampling
    Projected,   // regular axes in a projected CRS: warped
    Curvilinear  // two-dimensional longitudes and latitudes: warped
};

struct SourceGrid {
    GridKind kind = GridKind::LonLat;
    int32_t nx = 0, ny = 0;
    std::vector<double> x;  // LonLat, Projected: column centres, west to east
    std::vector<double> y;  // LonLat, Projected: row centres, north first
    std::vector<double> lon, lat;  // Curvilinear: ny x nx centres in the order the frames are read
    std::string crsWkt;    // Projected: the grid's CRS
    std::string crsName;   // for the summary
};

struct ProductOptions {
    std::string variable;       // --variable, "" to choose
    std::string units;          // --units, "" to take the metadata's
    int32_t intervalMinutes = 0;  // --interval, 0 when not given
};

struct ProductAccess;  // the open datasets, private to the reader

struct RainProduct {
    std::string source;        // the file(s) as named
    std::string variable;
    std::string unitsText;     // as read, or as given by --units
    std::string cellMethods;
    bool isRate = false;       // rate (mm/h and the like) or amount per interval
    bool timed = false;        // the frames carry times
    int64_t intervalSeconds = 0;
    std::vector<int64_t> starts;  // timed: start of each frame's interval, seconds since 1970 UTC
    std::size_t frameCount = 0;
    double toMillimetresPerHour = 0.0;  // from the unpacked values
    double noiseFloor = 0.0;   // negative values above -noiseFloor (mm/h) are packing noise, read as 0
    SourceGrid grid;
    std::size_t members = 0;       // size of the member dimension; 0: the product has none
    std::string memberDimension;   // its name
    std::shared_ptr<ProductAccess> access;
};

// Opens the product. A dimension besides time, y and x is its member
// dimension when its coordinate variable has the standard_name "realization"
// or it is named realization, member, ensemble or number (as GRIB decoders
// name it); any other such dimension must have one value. Throws InputError
// for a file GDAL cannot read, no or an ambiguous precipitation variable,
// unknown units, an irregular time axis or an interval that does not divide
// 60 minutes, frames of different grids, or a grid without a usable CRS.
RainProduct openRainProduct(const std::vector<std::string>& sources, const ProductOptions& options);

// Frame k of member `member` (0 when the product has no members), rows
// [row0, row0 + rows) (north first, as SourceGrid lists them) and columns
// [col0, col0 + cols), in mm/h; fill values and NaN as NaN.
std::vector<double> readFrame(const RainProduct& product, std::size_t member, std::size_t k, int32_t row0,
                              int32_t rows, int32_t col0, int32_t cols);

#include "demRaster.h"

#include "gdalSupport.h"
#include "inputError.h"

#include <gdal_utils.h>
#include <ogr_spatialref.h>

#include <cctype>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <limits>
#include <ostream>
#include <sstream>
#include <vector>

namespace {

// Elevations of band 1 as float32, row 0 north; NODATA and non-finite as NaN.
DemGrid gridOf(GDALDataset& ds, const std::string& name) {
    double gt[6];
    ds.GetGeoTransform(gt);
    DemGrid grid;
    grid.ncols = ds.GetRasterXSize();
    grid.nrows = ds.GetRasterYSize();
    grid.cellsize = gt[1];
    grid.xllcorner = gt[0];
    grid.yllcorner = gt[5] < 0.0 ? gt[3] + grid.nrows * gt[5] : gt[3];
    GDALRasterBand* band = ds.GetRasterBand(1);
    grid.elevation.assign(static_cast<std::size_t>(grid.ncols) * static_cast<std::size_t>(grid.nrows), 0.0f);
    if (band->RasterIO(GF_Read, 0, 0, grid.ncols, grid.nrows, grid.elevation.data(), grid.ncols, grid.nrows,
                       GDT_Float32, 0, 0) != CE_None) {
        throw gdalError(name, "the elevations cannot be read.");
    }
    int hasNoData = 0;
    const double noData = band->GetNoDataValue(&hasNoData);
    const float noDataValue = static_cast<float>(noData);
    for (float& v : grid.elevation) {
        const bool noDataCell = hasNoData && (std::isnan(noData) ? std::isnan(v) : v == noDataValue);
        if (noDataCell || !std::isfinite(v)) v = std::numeric_limits<float>::quiet_NaN();
    }
    if (gt[5] > 0.0) {  // stored south row first
        for (int r = 0; r < grid.nrows / 2; ++r)
            for (int c = 0; c < grid.ncols; ++c)
                std::swap(grid.elevation[static_cast<std::size_t>(grid.index(r, c))],
                          grid.elevation[static_cast<std::size_t>(grid.index(grid.nrows - 1 - r, c))]);
    }
    checkDemGeometry(grid, name);
    return grid;
}

// The DEM's own resolution in whole arc-seconds (at least 1): the smaller side
// of a cell, metres converted at 30.9 m per arc-second.
double ownSeconds(const double gt[6], const OGRSpatialReference* srs, bool geographic) {
    const double width = std::hypot(gt[1], gt[4]), height = std::hypot(gt[2], gt[5]);
    const double side = std::min(width, height);
    const double seconds =
        geographic ? side * 3600.0 : side * (srs ? srs->GetLinearUnits() : 1.0) / kMetresPerArcSecond;
    return std::max(1.0, std::round(seconds));
}

GDALDatasetUniquePtr warp(GDALDataset& source, double seconds, const char* resampling, const std::string& name) {
    std::ostringstream res;
    res.precision(17);
    res << seconds / 3600.0;
    const char* args[] = {"-of", "MEM", "-t_srs", "EPSG:4326", "-tr", nullptr, nullptr, "-tap", "-r", resampling,
                          "-ot", "Float32", "-dstnodata", "nan", nullptr};
    const std::string r = res.str();
    args[5] = r.c_str();
    args[6] = r.c_str();
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH sources[] = {GDALDataset::ToHandle(&source)};
    int usageError = 0;
    CPLErrorReset();
    GDALDatasetH result = GDALWarp("", nullptr, 1, sources, options, &usageError);
    GDALWarpAppOptionsFree(options);
    if (!result) throw gdalError(name, "the DEM cannot be warped to longitude and latitude.");
    return GDALDatasetUniquePtr(GDALDataset::FromHandle(result));
}

// True when the file starts like an ESRI ASCII grid header ("ncols 120").
bool looksLikeAsciiGrid(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string word;
    if (!(in >> std::setw(16) >> word)) return false;
    for (char& ch : word) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const char* key : {"ncols", "nrows", "xllcorner", "xllcenter", "yllcorner", "yllcenter", "cellsize"})
        if (word == key) return true;
    return false;
}

// The grid as an in-memory GDAL dataset in WGS 84, NODATA as NaN.
GDALDatasetUniquePtr datasetOf(const DemGrid& grid) {
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDatasetUniquePtr ds(mem->Create("", grid.ncols, grid.nrows, 1, GDT_Float32, nullptr));
    double gt[6] = {grid.xllcorner, grid.cellsize, 0.0, grid.yllcorner + grid.nrows * grid.cellsize, 0.0,
                    -grid.cellsize};
    ds->SetGeoTransform(gt);
    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);  // x is the longitude
    ds->SetSpatialRef(&wgs84);
    std::vector<float> z(grid.elevation);
    ds->GetRasterBand(1)->SetNoDataValue(std::numeric_limits<double>::quiet_NaN());
    if (ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, grid.ncols, grid.nrows, z.data(), grid.ncols, grid.nrows,
                                       GDT_Float32, 0, 0) != CE_None) {
        throw gdalError("the DEM", "the elevations cannot be passed to GDAL.");
    }
    return ds;
}

DemGrid warpedGrid(GDALDataset& ds, double seconds, bool ownResolution, const std::string& path, std::ostream& out) {
    std::ostringstream what;
    what << "  Warp to longitude/latitude (WGS 84) with square cells of " << seconds << " arc-seconds"
         << (ownResolution ? " (the DEM's own resolution)" : "") << ", bilinear; NODATA stays NODATA\n";
    out << what.str();
    GDALDatasetUniquePtr bilinear = warp(ds, seconds, "bilinear", path);
    GDALDatasetUniquePtr nearest = warp(ds, seconds, "near", path);
    DemGrid grid = gridOf(*bilinear, path);
    const DemGrid mask = gridOf(*nearest, path);
    for (std::size_t i = 0; i < grid.size(); ++i)
        if (!mask.hasData(i)) grid.elevation[i] = std::numeric_limits<float>::quiet_NaN();
    // The exact cell size asked for, whatever the warp's rounding of the corner.
    grid.cellsize = seconds / 3600.0;
    return grid;
}

// An ESRI ASCII grid goes through the native reader, which keeps its numbers
// exactly as they were always read and accepts every layout it always did.
// Returns false (out untouched) when that reader cannot use the grid but GDAL
// may (a projected grid with its .prj, non-square cells).
bool readAsciiGrid(const std::string& path, double cellSeconds, std::ostream& out, DemGrid& grid) {
    useGdal();
    CPLErrorReset();
    GDALDatasetUniquePtr gdal(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
    const OGRSpatialReference* srs = gdal ? gdal->GetSpatialRef() : nullptr;
    if (srs && !srs->IsGeographic()) return false;
    DemGrid native;
    try {
        native = readDemGrid(path);
    } catch (const InputError&) {
        if (gdal) return false;
        throw;
    }
    out << "  Coordinate reference system: "
        << (srs ? crsName(*srs) : "none; the coordinates are read as longitudes and latitudes") << '\n';
    if (cellSeconds > 0.0 && std::fabs(native.cellsize * 3600.0 - cellSeconds) > 1e-6) {
        GDALDatasetUniquePtr mem = datasetOf(native);
        grid = warpedGrid(*mem, cellSeconds, false, path, out);
    } else {
        grid = std::move(native);
    }
    return true;
}

}  // namespace

DemGrid readDemRaster(const std::string& path, double cellSeconds, std::ostream& out) {
    DemGrid ascii;
    if (looksLikeAsciiGrid(path) && readAsciiGrid(path, cellSeconds, out, ascii)) return ascii;
    GDALDatasetUniquePtr ds = openWithGdal(path, GDAL_OF_RASTER | GDAL_OF_VERBOSE_ERROR);
    if (ds->GetRasterCount() < 1) throw InputError("Error: " + path + " holds no raster band.\n");
    double gt[6];
    if (ds->GetGeoTransform(gt) != CE_None) {
        throw InputError("Error: " + path + " has no georeferencing (no corner coordinates and cell size).\n");
    }
    const OGRSpatialReference* srs = ds->GetSpatialRef();
    bool geographic = srs && srs->IsGeographic();
    if (!srs) {
        // Without a CRS the coordinates decide: longitudes and latitudes are read as such.
        const double west = std::min(gt[0], gt[0] + ds->GetRasterXSize() * gt[1]);
        const double east = std::max(gt[0], gt[0] + ds->GetRasterXSize() * gt[1]);
        const double south = std::min(gt[3], gt[3] + ds->GetRasterYSize() * gt[5]);
        const double north = std::max(gt[3], gt[3] + ds->GetRasterYSize() * gt[5]);
        if (west < -360.0 || east > 360.0 || south < -90.0 || north > 90.0) {
            throw InputError("Error: " + path + " has no coordinate reference system and its coordinates (" +
                             std::to_string(west) + " to " + std::to_string(east) + ", " + std::to_string(south) +
                             " to " + std::to_string(north) + ") are not longitudes and latitudes; give it a CRS, "
                             "for example with gdal_edit.py -a_srs EPSG:32653.\n");
        }
        geographic = true;
        out << "  Coordinate reference system: none; the coordinates are read as longitudes and latitudes\n";
    } else {
        out << "  Coordinate reference system: " << crsName(*srs) << '\n';
    }
    const bool square = gt[2] == 0.0 && gt[4] == 0.0 &&
                        std::fabs(std::fabs(gt[1]) - std::fabs(gt[5])) <= 1e-9 * std::fabs(gt[1]) && gt[1] > 0.0;
    const double own = ownSeconds(gt, srs, geographic);
    const bool keep = geographic && square && (cellSeconds <= 0.0 || std::fabs(gt[1] * 3600.0 - cellSeconds) < 1e-6);
    if (keep) return gridOf(*ds, path);
    return warpedGrid(*ds, cellSeconds > 0.0 ? cellSeconds : own, cellSeconds <= 0.0, path, out);
}


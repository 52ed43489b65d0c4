#include "geotiffWriter.h"

#include "inputError.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

namespace {

InputError gdalError(const std::string& displayPath, const std::string& action) {
    const char* detail = CPLGetLastErrorMsg();
    return InputError("Error: " + displayPath + ": cannot " + action + (detail && *detail ? ": " + std::string(detail) : "") +
                      ".\n");
}

// Raster blocks of 256 x 256 cells, the GeoTIFF default for tiled files.
constexpr const char* kBlockSize = "256";

}  // namespace

void writeGeoTiff(const std::string& path, const std::string& displayPath, const GridGeometry& grid,
                  const std::vector<float>& northUp, const GeoTiffBand& band) {
    GDALAllRegister();
    CPLErrorReset();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!driver) throw gdalError(displayPath, "find GDAL's GeoTIFF driver");

    CPLStringList options;
    options.SetNameValue("TILED", "YES");
    options.SetNameValue("BLOCKXSIZE", kBlockSize);
    options.SetNameValue("BLOCKYSIZE", kBlockSize);
    options.SetNameValue("COMPRESS", "DEFLATE");
    options.SetNameValue("PREDICTOR", "3");  // floating-point predictor
    GDALDatasetUniquePtr dataset(driver->Create(path.c_str(), grid.ncols, grid.nrows, 1, GDT_Float32, options.List()));
    if (!dataset) throw gdalError(displayPath, "create the file");

    // North-up: the top-left corner, then a negative row step.
    double transform[6] = {grid.west, grid.cellDeg, 0.0, grid.south + grid.nrows * grid.cellDeg, 0.0, -grid.cellDeg};
    if (dataset->SetGeoTransform(transform) != CE_None) throw gdalError(displayPath, "set the geotransform");
    OGRSpatialReference srs;
    srs.importFromEPSG(4326);
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (dataset->SetSpatialRef(&srs) != CE_None) throw gdalError(displayPath, "set the coordinate system");

    GDALRasterBand* raster = dataset->GetRasterBand(1);
    raster->SetDescription(band.description.c_str());
    if (raster->SetUnitType(band.units.c_str()) != CE_None) throw gdalError(displayPath, "set the unit");
    if (band.hasNoData && raster->SetNoDataValue(kFillValue) != CE_None) throw gdalError(displayPath, "set the no-data value");
    for (const auto& [key, value] : band.metadata) dataset->SetMetadataItem(key.c_str(), value.c_str());
    if (raster->RasterIO(GF_Write, 0, 0, grid.ncols, grid.nrows, const_cast<float*>(northUp.data()), grid.ncols,
                         grid.nrows, GDT_Float32, 0, 0) != CE_None) {
        throw gdalError(displayPath, "write the values");
    }
    // Closing writes the last blocks; an error while closing is left in GDAL's error state.
    CPLErrorReset();
    dataset.reset();
    if (CPLGetLastErrorType() >= CE_Failure) throw gdalError(displayPath, "finish the file");
}

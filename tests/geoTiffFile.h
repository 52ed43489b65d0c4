#pragma once
// GeoTIFF DEMs and longitude/latitude transformations for the tests of the
// GDAL input.

#include "demGrid.h"
#include "gdalSupport.h"

#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

// Writes `values` (row 0 north) as a Float32 GeoTIFF with the given corner,
// cell sizes and CRS (EPSG code; 0: none). NaN cells carry the NODATA value -9999.
inline void writeGeoTiff(const std::string& path, int cols, int rows, const std::vector<float>& values, double west,
                         double north, double dx, double dy, int epsg) {
    useGdal();
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDatasetUniquePtr ds(gtiff->Create(path.c_str(), cols, rows, 1, GDT_Float32, nullptr));
    ASSERT_TRUE(ds);
    double gt[6] = {west, dx, 0.0, north, 0.0, -dy};
    ds->SetGeoTransform(gt);
    if (epsg) {
        OGRSpatialReference srs;
        srs.importFromEPSG(epsg);
        ds->SetSpatialRef(&srs);
    }
    std::vector<float> data(values);
    for (float& v : data)
        if (std::isnan(v)) v = -9999.0f;
    ds->GetRasterBand(1)->SetNoDataValue(-9999.0);
    ASSERT_EQ(ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, cols, rows, data.data(), cols, rows, GDT_Float32, 0, 0),
              CE_None);
}

inline void writeGeoTiff(const std::string& path, const DemGrid& g, int epsg) {
    writeGeoTiff(path, g.ncols, g.nrows, g.elevation, g.xllcorner, g.yllcorner + g.nrows * g.cellsize, g.cellsize,
                 g.cellsize, epsg);
}

// The transformation between two CRSs given by EPSG code, x first (the
// longitude in a geographic CRS).
inline std::unique_ptr<OGRCoordinateTransformation> transformBetween(int fromEpsg, int toEpsg) {
    OGRSpatialReference from, to;
    from.importFromEPSG(fromEpsg);
    to.importFromEPSG(toEpsg);
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    to.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return std::unique_ptr<OGRCoordinateTransformation>(OGRCreateCoordinateTransformation(&from, &to));
}

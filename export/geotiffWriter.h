#pragma once
// Single-band float32 GeoTIFFs of the study area, written through GDAL: north
// up, EPSG:4326, tiled and deflate-compressed, with the band's description,
// unit and no-data value.

#include "runResults.h"

#include <string>
#include <utility>
#include <vector>

struct GeoTiffBand {
    std::string description;
    std::string units;
    bool hasNoData = true;  // kFillValue marks cells without data
    std::vector<std::pair<std::string, std::string>> metadata;
};

// Writes `northUp` (row 0 north) to `path`, the caller's temporary name. A
// GDAL failure is an InputError naming `displayPath`.
void writeGeoTiff(const std::string& path, const std::string& displayPath, const GridGeometry& grid,
                  const std::vector<float>& northUp, const GeoTiffBand& band);

#pragma once
// A DEM in any raster format GDAL reads (GeoTIFF, ESRI ASCII grid, NetCDF and
// the rest), brought to the longitude/latitude grid of square cells that the
// preparation works on.
//
// An ESRI ASCII grid in geographic coordinates goes through the native reader
// (parseDemGrid), so it gives exactly the files it always gave. Any other DEM
// in geographic coordinates with square cells is used as it is. A projected
// DEM, or one with non-square or rotated cells, is warped to WGS 84
// longitude/latitude with square cells of a whole number of arc-seconds,
// bilinearly; a cell whose nearest source cell has no data has no data.

#include "demGrid.h"

#include <iosfwd>
#include <string>

// Reads the DEM at `path`. `cellSeconds` > 0 asks for cells of that many
// arc-seconds (warping when the DEM's own cells differ); 0 keeps a usable
// grid as it is and warps any other to the DEM's own resolution in whole
// arc-seconds. Reports the source's CRS and any warp on `out`. Throws
// InputError for a file GDAL cannot read, a DEM without CRS whose coordinates
// are not longitudes and latitudes, or a grid the preparation cannot use.
DemGrid readDemRaster(const std::string& path, double cellSeconds, std::ostream& out);

#pragma once
// GDAL for the preparation programs: one-time set-up, opening with a message
// that names the file, GDAL's own error text in our messages, and the names
// of coordinate reference systems in the reports.

#include "inputError.h"

#include <gdal_priv.h>

#include <string>

class OGRSpatialReference;

// Registers the drivers once, keeps GDAL's messages off the console (they
// come back through lastGdalMessage) and stops GDAL from writing side-car
// ".aux.xml" files next to the inputs.
void useGdal();

// GDAL's last error message, or "" when it gave none.
std::string lastGdalMessage();

// "Error: <file>: <what>" plus GDAL's message when it has one, one line.
InputError gdalError(const std::string& file, const std::string& what);

// Opens `path` with the given GDAL_OF_* flags; throws InputError naming it
// when GDAL cannot open it (a missing file, or a format GDAL does not read).
GDALDatasetUniquePtr openWithGdal(const std::string& path, unsigned int flags);

// A CRS as the summaries name it: its name ("unnamed" without one) and, when
// it has them, its authority and code: "WGS 84 / UTM zone 53N (EPSG:32653)".
std::string crsName(const OGRSpatialReference& srs);

// The CRS as WKT ("" when GDAL cannot write it).
std::string wktOf(const OGRSpatialReference& srs);

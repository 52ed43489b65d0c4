#pragma once
// The exportResults command: converts the results of a finished run into
// output/discharge.nc (CF NetCDF) and, if asked, GeoTIFF maps and the
// results viewer page output/viewer.html.

#include "viewerPage.h"

#include <iosfwd>
#include <string>
#include <vector>

struct ExportOptions {
    std::string projectDir = ".";
    std::string start;     // ISO date and time of the event start; empty: from the rainfall file
    bool geotiff = false;  // also peakDischarge.tif, peakTime.tif, totalRain.tif
    bool html = false;     // also viewer.html
    std::vector<ViewerGauge> gauges;  // --observed COL ROW FILE, for the page
    bool help = false;
    bool version = false;
};

std::string exportUsage();

// Throws InputError for an unknown option or a missing value.
ExportOptions parseExportOptions(const std::vector<std::string>& args);

// Whether this build can write GeoTIFFs (GDAL was found).
bool geotiffAvailable();

// Checks every input, then writes each file under a temporary name and
// renames them together at the end, all or none. Returns 0; throws InputError on bad input.
int runExport(const ExportOptions& options, std::ostream& out);

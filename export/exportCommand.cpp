#include "exportCommand.h"

#include "exportRun.h"
#include "commandLine.h"
#include "inputError.h"
#include "netcdfWriter.h"
#include "temporaryFile.h"
#if FLOOD_HAVE_GDAL
#include "geotiffWriter.h"
#endif

#include <memory>
#include <ostream>

std::string exportUsage() {
    return "Usage: exportResults [options]\n"
           "\n"
           "Converts the results of runoffSim in a project directory into\n"
           "output/discharge.nc, a CF-1.8 NetCDF-4 file that xarray, QGIS, Panoply and\n"
           "ncview open: the hourly mean, 10-minute mean and 10-minute snapshot discharge\n"
           "(m3 s-1, north up, -9999 where a cell is not computed), the event rainfall\n"
           "total, the peak hourly discharge and its time, the flow direction and\n"
           "accumulation, and the dam and reservoir tables as station time series (groups\n"
           "\"dams\" and \"reservoirs\").\n"
           "\n"
           "Times count minutes from the start of the event. The start is --start, or else,\n"
           "for binary rainfall, the start prepareRainfall recorded in input/event.txt, and\n"
           "for text rainfall the date in the first record of input/rain10min.dat (its\n"
           "first six numbers: year, month, day, hour, minute, second). Without any, times\n"
           "stay minutes since the start.\n"
           "\n"
           "Options:\n"
           "  -o, --output DIR     project directory (default: the current directory)\n"
           "  -s, --start TIME     start of the event, as 2024-09-01T00:00 or 2024-09-01 00:00:00\n"
           "  -g, --geotiff        also write output/peakDischarge.tif, output/peakTime.tif\n"
           "                       and output/totalRain.tif (EPSG:4326)\n"
           "  -h, --help           show this text\n"
           "  --version            show the version\n" +
           std::string(geotiffAvailable() ? "" : "\nThis exportResults was built without GDAL: --geotiff is not available.\n");
}


ExportOptions parseExportOptions(const std::vector<std::string>& args) {
    ExportOptions options;
    CommandLine line(args, "exportResults");
    while (line.advance()) {
        const std::string& arg = line.argument;
        if (line.takeInfoOption(options.help, options.version)) continue;
        if (arg == "-o" || arg == "--output") {
            options.projectDir = line.value();
        } else if (arg == "-s" || arg == "--start") {
            options.start = line.value();
            if (options.start.empty()) throw line.error("--start needs a date and time.");
        } else if (arg == "-g" || arg == "--geotiff") {
            options.geotiff = true;
        } else {
            throw line.error("unknown option " + arg + ".");
        }
    }
    return options;
}

bool geotiffAvailable() { return FLOOD_HAVE_GDAL != 0; }

#if FLOOD_HAVE_GDAL
namespace {

// The three maps, each under its temporary name.
void writeMaps(const ExportRun& run, const PeakFields& peaks, std::vector<std::unique_ptr<TemporaryFile>>& files,
               std::ostream& out) {
    const std::string timeUnits = cfMinuteUnits(run.start);
    const std::string origin = run.start.start ? isoText(*run.start.start) : "unknown";
    const std::pair<const char*, std::pair<const std::vector<float>*, GeoTiffBand>> maps[] = {
        {"output/peakDischarge.tif",
         {&peaks.discharge, {"highest hourly mean discharge of the event", "m3 s-1", true, {}}}},
        {"output/peakTime.tif",
         {&peaks.minutes,
          {"end of the hour of the highest hourly mean discharge", timeUnits, true, {{"EVENT_START", origin}}}}},
        {"output/totalRain.tif", {&run.rainTotals, {"event rainfall total", "mm", false, {}}}},
    };
    for (const auto& [name, map] : maps) {
        files.push_back(std::make_unique<TemporaryFile>(run.project.path(name)));
        out << "Write " << files.back()->finalPath << '\n';
        writeGeoTiff(files.back()->path, files.back()->finalPath, run.grid, *map.first, map.second);
    }
}

}  // namespace
#endif

int runExport(const ExportOptions& options, std::ostream& out) {
    if (options.geotiff && !geotiffAvailable()) {
        throw InputError("Error: this exportResults was built without GDAL, so --geotiff is not available.\n");
    }
    Project project;
    project.dir = options.projectDir;
    ExportRun run;
    loadExportRun(run, project, options.start);
    out << "Event start: "
        << (run.start.start ? isoText(*run.start.start) + " (" + run.start.source + ")" : run.start.source) << '\n';

    std::vector<std::unique_ptr<TemporaryFile>> files;
    files.push_back(std::make_unique<TemporaryFile>(project.path("output/discharge.nc")));
    out << "Write " << files.back()->finalPath << '\n';
    out.flush();
    const PeakFields peaks = writeDischargeNetcdf(run, files.back()->path, files.back()->finalPath);
#if FLOOD_HAVE_GDAL
    if (options.geotiff) writeMaps(run, peaks, files, out);
#endif
    commitTogether(files);
    return 0;
}

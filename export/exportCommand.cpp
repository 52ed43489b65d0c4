#include "exportCommand.h"

#include "exportRun.h"
#include "commandLine.h"
#include "inputError.h"
#include "netcdfWriter.h"
#include "temporaryFile.h"
#if FLOOD_HAVE_GDAL
#include "geotiffWriter.h"
#endif

#include <charconv>
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
           "  --html               also write output/viewer.html, the results in one page that\n"
           "                       opens offline in a browser: the discharge animated on a map,\n"
           "                       the rainfall, the peaks, and the hydrograph of any cell\n"
           "  --observed COL ROW FILE\n"
           "                       a gauge's record (CSV, as plotHydrograph --observed reads it)\n"
           "                       at the cell of column COL and row ROW, drawn on the page with\n"
           "                       its skill scores; may be given more than once (needs --html)\n"
           "  -h, --help           show this text\n"
           "  --version            show the version\n" +
           std::string(geotiffAvailable() ? "" : "\nThis exportResults was built without GDAL: --geotiff is not available.\n");
}


namespace {

int32_t gaugeNumber(const CommandLine& line, const std::string& what, const std::string& text) {
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1) {
        throw line.error("--observed needs the " + what + " number as a whole number from 1, not \"" + text + "\".");
    }
    return value;
}

}  // namespace

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
        } else if (arg == "--html") {
            options.html = true;
        } else if (arg == "--observed") {
            ViewerGauge gauge;
            gauge.columnNumber = gaugeNumber(line, "column", line.value());
            gauge.rowNumber = gaugeNumber(line, "row", line.value());
            gauge.path = line.value();
            options.gauges.push_back(gauge);
        } else {
            throw line.error("unknown option " + arg + ".");
        }
    }
    if (!options.gauges.empty() && !options.html && !options.help && !options.version) {
        throw line.error("--observed adds a gauge to the viewer page: give --html too.");
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
    ViewerInputs viewer;
    if (options.html) viewer = readViewerInputs(run, options.gauges);
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
    if (options.html) {
        files.push_back(std::make_unique<TemporaryFile>(project.path("output/viewer.html")));
        out << "Write " << files.back()->finalPath << '\n';
        out.flush();
        out << writeViewerPage(run, viewer, files.back()->path);
    }
    commitTogether(files);
    return 0;
}

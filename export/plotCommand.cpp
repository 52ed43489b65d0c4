#include "plotCommand.h"

#include "eventTime.h"
#include "hydrographSvg.h"
#include "commandLine.h"
#include "inputError.h"
#include "observedSeries.h"
#include "runResults.h"
#include "temporaryFile.h"
#include "upstreamRain.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>
#include <ostream>

std::string plotUsage() {
    return "Usage: plotHydrograph --cell COL ROW | --dam NAME | --reservoir NAME [options]\n"
           "\n"
           "Draws the hydrograph of one cell (column and row numbers from 1 at the west\n"
           "and south), dam or reservoir of a finished runoffSim run as an SVG page that\n"
           "opens in any browser: the simulated hourly mean discharge, the rainfall\n"
           "averaged over the area upstream as an inverted hyetograph, and for a dam or\n"
           "reservoir its inflow. Run it in the project directory (or give -p DIR).\n"
           "\n"
           "With --observed, the gauge's series is drawn too and compared with the hourly\n"
           "means over the times both cover: Nash-Sutcliffe efficiency, Kling-Gupta\n"
           "efficiency (2009) with r, alpha and beta, percent bias (positive: simulation\n"
           "too high), peak error in percent and peak timing error in minutes (positive:\n"
           "simulation late). The scores are printed and written beside the SVG as\n"
           "FILE-skill.csv. The CSV has one \"time,discharge\" line per observation; the\n"
           "time is minutes since the start, or a date and time such as 2024-09-01 06:00.\n"
           "\n"
           "Options:\n"
           "  --cell COL ROW        the cell\n"
           "  --dam NAME            the dam of input/dam.dat\n"
           "  --reservoir NAME      the reservoir of input/reservoir.dat\n"
           "  --observed FILE.csv   observed discharge (m3/s)\n"
           "  --10min               also draw the 10-minute means\n"
           "  -s, --start TIME      start of the event (default: the start prepareRainfall\n"
           "                        recorded in input/event.txt for binary rainfall, the\n"
           "                        date in the first record of input/rain10min.dat for\n"
           "                        text rainfall)\n"
           "  -o FILE.svg           the picture (default: output/hydrograph-COL-ROW.svg or\n"
           "                        output/hydrograph-NAME.svg in the project)\n"
           "  -p, --project DIR     project directory (default: the current directory)\n"
           "  -h, --help            show this text\n"
           "  --version             show the version\n";
}

namespace {

int32_t cellNumber(const CommandLine& line, const std::string& what, const std::string& text) {
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1) {
        throw line.error("--cell needs the " + what + " number as a whole number from 1, not \"" + text + "\".");
    }
    return value;
}

}  // namespace

PlotOptions parsePlotOptions(const std::vector<std::string>& args) {
    PlotOptions options;
    int targets = 0;
    CommandLine line(args, "plotHydrograph");
    while (line.advance()) {
        const std::string& arg = line.argument;
        if (line.takeInfoOption(options.help, options.version)) continue;
        if (arg == "--cell") {
            options.target = PlotOptions::Target::kCell;
            options.columnNumber = cellNumber(line, "column", line.value());
            options.rowNumber = cellNumber(line, "row", line.value());
            ++targets;
        } else if (arg == "--dam" || arg == "--reservoir") {
            options.target = arg == "--dam" ? PlotOptions::Target::kDam : PlotOptions::Target::kReservoir;
            options.name = line.value();
            ++targets;
        } else if (arg == "--observed") {
            options.observedPath = line.value();
        } else if (arg == "--10min") {
            options.tenMinute = true;
        } else if (arg == "-s" || arg == "--start") {
            options.start = line.value();
        } else if (arg == "-o" || arg == "--output") {
            options.outputPath = line.value();
        } else if (arg == "-p" || arg == "--project") {
            options.projectDir = line.value();
        } else {
            throw line.error("unknown option " + arg + ".");
        }
    }
    if (!options.help && !options.version && targets != 1) {
        throw line.error("give one of --cell COL ROW, --dam NAME and --reservoir NAME.");
    }
    return options;
}

std::string skillCsvPath(const std::string& svgPath) {
    const std::size_t slash = svgPath.find_last_of('/');
    const std::size_t dot = svgPath.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? svgPath.substr(0, dot) : svgPath) + "-skill.csv";
}

namespace {

// The site of --dam or --reservoir; an unknown name lists the known ones.
StructureSite findSite(const std::vector<StructureSite>& sites, const std::string& name, const std::string& listPath) {
    std::string known;
    for (const StructureSite& s : sites) {
        if (s.name == name) return s;
        known += (known.empty() ? "" : ", ") + s.name;
    }
    throw InputError("Error: " + listPath + " names no \"" + name + "\"" +
                     (known.empty() ? " (the list is missing or empty)." : "; it names " + known + ".") + "\n");
}

TimeSeries endOfIntervalSeries(const std::vector<float>& values, double minutes) {
    TimeSeries s;
    for (std::size_t k = 0; k < values.size(); ++k) {
        s.minutes.push_back(static_cast<double>(k + 1) * minutes);
        s.values.push_back(values[k]);
    }
    return s;
}

std::string fixed(double v, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

void writeText(const std::string& path, const std::string& text) {
    TemporaryFile file(path);
    std::ofstream stream(file.path, std::ios::binary | std::ios::trunc);
    stream << text;
    stream.close();
    if (!stream) throw InputError("Error: " + path + " cannot be written.\n");
    file.commit();
}

}  // namespace

void describeCellPlot(HydrographPlot& plot, const Project& project, const ModelParams& params, int32_t column,
                      int32_t row, const std::string& title, bool outflow) {
    const GridGeometry grid = gridGeometry(params);
    // Rainfall over the area upstream.
    const int32_t target = (grid.nrows - row) * grid.ncols + (column - 1);
    const std::vector<int32_t> upstream =
        upstreamCells(readIntRasterNorthUp(project.path(kFlowDirFile), grid.nrows, grid.ncols), grid.nrows,
                      grid.ncols, target);
    plot.rain = upstreamMeanRain(project, params, upstream);
    plot.rainInterval = params.rainInterval;

    const std::size_t peak = static_cast<std::size_t>(
        std::max_element(plot.hourly.values.begin(), plot.hourly.values.end()) - plot.hourly.values.begin());
    const double peakMinute = plot.hourly.minutes[peak];
    const EventStart& start = plot.start;
    const std::string peakTime = start.start ? isoText(addMinutes(*start.start, static_cast<int64_t>(peakMinute)))
                                                   .replace(10, 1, " ")
                                                   .substr(0, 16)
                                             : "hour " + fixed(peakMinute / 60.0, 0);
    plot.title = title;
    plot.subtitle = fixed(grid.lonCentre(column - 1), 4) + " E, " + fixed(grid.latCentre(grid.nrows - row), 4) +
                    " N;  " + std::to_string(upstream.size()) + " cells upstream;  peak hourly mean " +
                    (outflow ? "outflow " : "") +
                    fixed(plot.hourly.values[peak], 1) + " m³/s, hour ending " + peakTime;
}

TimeSeries hourlySeries(const std::vector<float>& values) { return endOfIntervalSeries(values, 60.0); }

void writeResultText(const std::string& path, const std::string& text) { writeText(path, text); }

int runPlot(const PlotOptions& options, std::ostream& out) {
    Project project;
    project.dir = options.projectDir;
    const ModelParams params = readProjectParams(project);
    const GridGeometry grid = gridGeometry(params);
    const EventStart start = findEventStart(options.start, params.rainFormat, project.dir);

    // The cell, and for a dam or reservoir its site.
    std::optional<StructureSite> site;
    int32_t column = options.columnNumber, row = options.rowNumber;
    if (options.target == PlotOptions::Target::kDam) {
        site = findSite(readDamSites(project, grid.nrows, grid.ncols), options.name, project.path(kDamListFile));
    } else if (options.target == PlotOptions::Target::kReservoir) {
        site = findSite(readReservoirSites(project, grid.nrows, grid.ncols), options.name,
                        project.path(kReservoirListFile));
    } else if (column > grid.ncols || row > grid.nrows) {
        throw InputError("Error: column " + std::to_string(column) + ", row " + std::to_string(row) +
                         " is outside the grid of " + std::to_string(grid.ncols) + " x " + std::to_string(grid.nrows) +
                         " cells.\n");
    }
    if (site) {
        column = site->columnNumber;
        row = site->rowNumber;
    }
    const std::string cellText = "column " + std::to_string(column) + ", row " + std::to_string(row);

    HydrographPlot plot;
    plot.start = start;
    const int64_t hours = int64_t{params.days} * 24;
    plot.totalMinutes = static_cast<double>(hours) * 60.0;
    DischargeFile hourly;
    openDischargeFile(hourly, project.path(kHourlyFile), grid.cells(), hours);
    const std::vector<float> hourlyValues = readCellSeries(hourly, grid.ncols, column, row);
    if (!hourlyValues.empty() && hourlyValues.front() == kFillValue) {
        throw InputError("Error: " + cellText + " is not computed (the outer ring, or a river that is not "
                         "simulated): " + hourly.path + " holds no discharge there.\n");
    }
    plot.hourly = endOfIntervalSeries(hourlyValues, 60.0);
    if (options.tenMinute) {
        DischargeFile mean10;
        openDischargeFile(mean10, project.path(k10minMeanFile), grid.cells(), hours * 6);
        plot.tenMinute = endOfIntervalSeries(readCellSeries(mean10, grid.ncols, column, row), 10.0);
    }
    if (site) {
        const std::string table = project.path(tablePath(*site));
        if (std::ifstream(table)) {
            plot.inflow = endOfIntervalSeries(readHourlyTable(table, hours, site->operation >= 0 ? 3 : 2)[0], 60.0);
        } else {
            out << "No table " << table << ": the inflow is not drawn.\n";
        }
    }

    const char* what = options.target == PlotOptions::Target::kDam         ? "Dam "
                       : options.target == PlotOptions::Target::kReservoir ? "Reservoir "
                                                                           : "";
    describeCellPlot(plot, project, params, column, row,
                     site ? what + site->name + " (" + cellText + ")" : "Discharge at " + cellText, site.has_value());

    const std::string svgPath = options.outputPath.empty()
                                    ? project.path("output/hydrograph-" +
                                                   (site ? site->name : std::to_string(column) + "-" + std::to_string(row)) +
                                                   ".svg")
                                    : options.outputPath;
    std::string csv;
    if (!options.observedPath.empty()) {
        const ObservedSeries observed = readObservedCsv(options.observedPath, start);
        plot.observed = observed.series;
        plot.scores = compareSeries(plot.hourly, observed.series);
        if (observed.gaps) out << "Observations: " << observed.gaps << " missing values left out.\n";
        out << skillScoresText(*plot.scores);
        csv = skillScoresCsv(*plot.scores);
    }
    out << "Write " << svgPath << '\n';
    writeText(svgPath, hydrographSvg(plot));
    if (!csv.empty()) {
        out << "Write " << skillCsvPath(svgPath) << '\n';
        writeText(skillCsvPath(svgPath), csv);
    }
    return 0;
}

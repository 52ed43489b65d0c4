#include "prepareCommand.h"

#include "demGrid.h"
#ifdef FLOOD_HAVE_GDAL
#include "demRaster.h"
#endif
#include "commandLine.h"
#include "inputError.h"
#include "paramWriter.h"
#include "topoFiles.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <ostream>
#include <sstream>

namespace fs = std::filesystem;

std::string prepareUsage() {
    return "Usage: prepareTopography [options] DEM\n"
           "\n"
           "Turns a digital elevation model into the topography inputs of runoffSim.\n"
#ifdef FLOOD_HAVE_GDAL
           "DEM is any raster GDAL reads (GeoTIFF, ESRI ASCII grid, NetCDF, ...). A DEM in\n"
           "geographic coordinates with square cells is used as it is; any other (projected,\n"
           "or with non-square cells) is warped bilinearly to longitude/latitude (WGS 84)\n"
           "with square cells of --cell-size arc-seconds, NODATA staying NODATA. A DEM\n"
           "without a CRS is read as longitudes and latitudes when its coordinates fit.\n"
#else
           "DEM is an ESRI ASCII grid in geographic coordinates (longitude and latitude in\n"
           "degrees, square cells). This build has no GDAL: other formats are not read.\n"
#endif
           "\n"
           "Depressions and flats are filled (Priority-Flood with a float32 epsilon), flow\n"
           "directions follow the steepest descent, and every basin of at least\n"
           "--min-cells cells is selected; its cells get the basin number, largest first.\n"
           "A river mouth is the last cell before the water leaves the computed area\n"
           "(the outer ring of the grid, which runoffSim never computes, or NODATA).\n"
           "\n"
           "Writes DIR/topoData/: modDem.bin, flowDir.bin, flowAcc.bin, riverNum.bin and\n"
           "riverNumList.dat, and creates the empty run directories DIR/input, DIR/temp,\n"
           "DIR/output, DIR/output/damData, DIR/output/resData and DIR/output/image.\n"
           "riverNumList.dat has one line per basin: its number, the mouth's column and\n"
           "row numbers (from 1 at the west and south), the cell count, the cells on the\n"
           "longest flow path, the Strahler order at the mouth, and the mouth's longitude\n"
           "and latitude.\n"
           "A calculation-order cache in DIR/temp made for earlier topography is removed.\n"
           "\n"
           "Options:\n"
           "  -o, --output DIR     project directory (default: the current directory)\n"
           "  -m, --min-cells N    select every basin of at least N cells (default: 100)\n"
           "  -n, --max-basins K   select at most the K largest of them (default: all)\n"
           "  -c, --cell-size S    warp to square cells of S arc-seconds (default: the DEM's\n"
           "                       own resolution, in whole arc-seconds, when it needs a warp)\n"
           "  -p, --param-file     also write DIR/param-hsx-event-ver400.dat with this grid\n"
           "                       and starting values for the rest; an existing file is kept\n"
           "  -h, --help           show this text\n"
           "      --version        show the version\n";
}


PrepareOptions parsePrepareOptions(const std::vector<std::string>& args) {
    PrepareOptions options;
    bool haveDem = false;
    CommandLine line(args, "prepareTopography");
    while (line.advance()) {
        const std::string& arg = line.argument;
        if (line.takeInfoOption(options.help, options.version)) continue;
        if (arg == "-o" || arg == "--output") {
            options.projectDir = line.value();
        } else if (arg == "-m" || arg == "--min-cells") {
            options.minCells = line.positiveCount(line.value());
        } else if (arg == "-n" || arg == "--max-basins") {
            options.maxBasins = line.positiveCount(line.value());
        } else if (arg == "-c" || arg == "--cell-size") {
            const std::string text = line.value();
            double seconds = 0.0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
            if (ec != std::errc() || end != text.data() + text.size() || !(seconds > 0.0) || seconds > 36000.0) {
                throw line.error(arg + " needs a cell size in arc-seconds larger than zero, not \"" + text + "\".");
            }
            options.cellSeconds = seconds;
        } else if (arg == "-p" || arg == "--param-file") {
            options.writeParamFile = true;
        } else if (line.isOption()) {
            throw line.error("unknown option " + arg + ".");
        } else if (haveDem) {
            throw line.error("only one DEM can be prepared at a time.");
        } else {
            options.demPath = arg;
            haveDem = true;
        }
    }
    if (!haveDem && !options.help && !options.version) throw line.error("no DEM file given.");
    return options;
}

namespace {

void reportGrid(std::ostream& out, const DemGrid& grid) {
    std::size_t missing = 0;
    for (std::size_t i = 0; i < grid.size(); ++i) missing += grid.hasData(i) ? 0 : 1;
    std::ostringstream line;
    line.precision(9);
    line << "  " << grid.ncols << " columns x " << grid.nrows << " rows, cell size " << grid.cellsize * 3600.0
         << " arc-seconds, " << missing << " cells without data\n";
    out << line.str();
}

void reportBasins(std::ostream& out, const DemGrid& grid, const TopoData& topo, int32_t minCells) {
    std::ostringstream text;
    text << "Basins of at least " << minCells << " cells selected: " << topo.basins.size() << '\n';
    const std::size_t shown = std::min<std::size_t>(topo.basins.size(), 20);
    text.precision(9);
    for (std::size_t k = 0; k < shown; ++k) {
        const BasinSummary& b = topo.basins[k];
        const int r = b.mouth / grid.ncols, c = b.mouth % grid.ncols;
        text << "  basin " << b.number << ": " << b.cellCount << " cells, mouth at column " << c + 1 << ", row "
            << grid.nrows - r << " (longitude " << grid.columnLongitude(c) << ", latitude " << grid.rowLatitude(r)
            << ")\n";
    }
    if (shown < topo.basins.size()) text << "  ... and " << topo.basins.size() - shown << " smaller basins\n";
    out << text.str();
}

// The run directories that runoffSim and the tools need but never create.
void makeRunDirectories(const fs::path& project) {
    for (const char* sub : {"input", "temp", "output", "output/damData", "output/resData", "output/image"}) {
        createDirectory(project / sub);
    }
}

// runoffSim reuses its calculation order while the grid's size and corner are
// unchanged, even when the accumulation changed: drop it with the old topography.
void removeStaleOrder(const fs::path& project, std::ostream& out) {
    for (const char* name : {"temp/numOfBasin.dat", "temp/orderedCell.dat"}) {
        std::error_code ec;
        if (fs::remove(project / name, ec)) out << "Remove the calculation order made for earlier topography: "
                                                << (project / name).string() << '\n';
    }
}

}  // namespace

int runPrepare(const PrepareOptions& options, std::ostream& out) {
    out << "Read " << options.demPath << '\n';
#ifdef FLOOD_HAVE_GDAL
    const DemGrid grid = readDemRaster(options.demPath, options.cellSeconds, out);
#else
    if (options.cellSeconds > 0.0) {
        throw InputError("Error: --cell-size needs GDAL, which this build lacks; warp the DEM beforehand.\n");
    }
    const DemGrid grid = readDemGrid(options.demPath);
#endif
    reportGrid(out, grid);
    out << "Fill depressions and flats, trace flow directions and accumulation\n";
    const TopoData topo = prepareTopoData(grid, options.minCells, options.maxBasins);
    out << "  " << topo.raisedCells << " cells raised, " << topo.mouthCount << " river mouths\n";
    reportBasins(out, grid, topo, options.minCells);

    const fs::path project(options.projectDir);
    writeTopoData(options.projectDir, grid, topo, out);
    makeRunDirectories(project);
    removeStaleOrder(project, out);

    ModelParams params = starterParams(grid);
    printStudyArea(out, params);
    if (options.writeParamFile) {
        const fs::path path = project / "param-hsx-event-ver400.dat";
        if (fs::exists(path)) {
            out << "Keep the existing " << path.string() << '\n';
        } else {
            out << "Write " << path.string() << '\n';
            writeFileAtomically(path.string(), paramFileText(params));
        }
    }
    return 0;
}

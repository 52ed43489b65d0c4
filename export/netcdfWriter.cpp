#include "netcdfWriter.h"

#include "inputError.h"
#include "programInfo.h"

#include <netcdf.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The model's name as the build gives it (CMake's project name); its version is toolkitVersion().
const char* const kModelName = FLOOD_MODEL_NAME;

// WGS 84 longitude/latitude, as GDAL and other readers take it from crs_wkt.
const char* const kWgs84Wkt =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],"
    "AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],"
    "UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],AXIS[\"Latitude\",NORTH],"
    "AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4326\"]]";

const char* const kDischargeName = "water_volume_transport_in_river_channel";
constexpr int kDeflateLevel = 4;
constexpr std::size_t kTimeChunk = 24;   // frames per chunk
constexpr std::size_t kSpaceChunk = 64;  // rows and columns per chunk

// One open netCDF file; closes it when it goes out of scope, so an error
// never leaves the handle open. Every call goes through `check`.
struct NcFile {
    int id = -1;
    std::string name;  // the path in messages

    ~NcFile() {
        if (id >= 0) nc_close(id);
    }
    void check(int status, const std::string& variable, const char* action) const {
        if (status != NC_NOERR) {
            throw InputError("Error: " + name + ": cannot " + action + " " + variable + ": " + nc_strerror(status) +
                             ".\n");
        }
    }
    void close() {
        const int status = nc_close(id);
        id = -1;
        check(status, "the file", "finish");
    }
};

// Attributes of one variable (or of a group with NC_GLOBAL).
struct Attributes {
    const NcFile& file;
    int group;
    int var;
    std::string varName;

    Attributes& text(const char* name, const std::string& value) {
        file.check(nc_put_att_text(group, var, name, value.size(), value.c_str()), varName + ":" + name, "write");
        return *this;
    }
    Attributes& real(const char* name, double value) {
        file.check(nc_put_att_double(group, var, name, NC_DOUBLE, 1, &value), varName + ":" + name, "write");
        return *this;
    }
    Attributes& real32(const char* name, float value) {
        file.check(nc_put_att_float(group, var, name, NC_FLOAT, 1, &value), varName + ":" + name, "write");
        return *this;
    }
    Attributes& integers(const char* name, const std::vector<int>& values) {
        file.check(nc_put_att_int(group, var, name, NC_INT, values.size(), values.data()), varName + ":" + name,
                   "write");
        return *this;
    }
};

struct Var {
    int group;
    int id;
    std::string name;
};

int defineDim(const NcFile& file, int group, const char* name, std::size_t length) {
    int dim = -1;
    file.check(nc_def_dim(group, name, length, &dim), std::string("the dimension ") + name, "define");
    return dim;
}

// A variable; with `chunks` it is chunked and compressed (deflate with shuffle).
Var defineVar(const NcFile& file, int group, const char* name, nc_type type, const std::vector<int>& dims,
              const std::vector<std::size_t>& chunks = {}) {
    Var v{group, -1, name};
    file.check(nc_def_var(group, name, type, static_cast<int>(dims.size()), dims.data(), &v.id), v.name, "define");
    if (!chunks.empty()) {
        file.check(nc_def_var_chunking(group, v.id, NC_CHUNKED, chunks.data()), v.name, "chunk");
        file.check(nc_def_var_deflate(group, v.id, 1, 1, kDeflateLevel), v.name, "compress");
    }
    return v;
}

Attributes attributes(const NcFile& file, const Var& v) { return Attributes{file, v.group, v.id, v.name}; }

void putDoubles(const NcFile& file, const Var& v, const std::vector<double>& values) {
    file.check(nc_put_var_double(v.group, v.id, values.data()), v.name, "write");
}

// End-of-interval times and their bounds for `count` intervals of `minutes`.
void putTimes(const NcFile& file, const Var& time, const Var& bounds, int64_t count, int64_t minutes) {
    std::vector<double> ends(static_cast<std::size_t>(count)), edges(static_cast<std::size_t>(count) * 2);
    for (int64_t k = 0; k < count; ++k) {
        ends[static_cast<std::size_t>(k)] = static_cast<double>((k + 1) * minutes);
        edges[static_cast<std::size_t>(2 * k)] = static_cast<double>(k * minutes);
        edges[static_cast<std::size_t>(2 * k + 1)] = static_cast<double>((k + 1) * minutes);
    }
    putDoubles(file, time, ends);
    putDoubles(file, bounds, edges);
}

// A time coordinate of end-of-interval times with its bounds variable.
std::pair<Var, Var> defineTime(const NcFile& file, int group, const char* name, int dim, int bndsDim,
                               const EventStart& start, const std::string& longName) {
    const Var time = defineVar(file, group, name, NC_DOUBLE, {dim});
    const std::string boundsName = std::string(name) + "_bnds";
    const Var bounds = defineVar(file, group, boundsName.c_str(), NC_DOUBLE, {dim, bndsDim});
    Attributes a = attributes(file, time);
    a.text("long_name", longName).text("units", cfMinuteUnits(start)).text("axis", "T").text("bounds", boundsName);
    if (start.start) a.text("standard_name", "time").text("calendar", "standard");
    return {time, bounds};
}

std::size_t chunkOf(std::size_t length, std::size_t chunk) { return std::max<std::size_t>(1, std::min(length, chunk)); }

// A float grid variable over (time, lat, lon) or (lat, lon), chunked and compressed.
Var defineGridVar(const NcFile& file, const char* name, nc_type type, const std::vector<int>& dims,
                  const std::vector<std::size_t>& lengths) {
    std::vector<std::size_t> chunks;
    for (std::size_t k = 0; k < lengths.size(); ++k)
        chunks.push_back(chunkOf(lengths[k], k + 2 < lengths.size() ? kTimeChunk : kSpaceChunk));
    return defineVar(file, file.id, name, type, dims, chunks);
}

struct GridVars {
    Var hourly, mean10, snapshot10, rain, peak, peakTime, flowDir, flowAcc;
};

void defineDischarge(const NcFile& file, Var& v, const char* longName, const char* cellMethods) {
    attributes(file, v)
        .text("long_name", longName)
        .text("standard_name", kDischargeName)
        .text("units", "m3 s-1")
        .text("cell_methods", cellMethods)
        .text("grid_mapping", "crs")
        .real32("_FillValue", kFillValue);
}

GridVars defineGrids(const NcFile& file, const ExportRun& run, int timeDim, int time10Dim, int latDim,
                     int lonDim) {
    const std::size_t nrows = static_cast<std::size_t>(run.grid.nrows), ncols = static_cast<std::size_t>(run.grid.ncols);
    const std::size_t hours = static_cast<std::size_t>(run.hours);
    GridVars g;
    g.hourly = defineGridVar(file, "discharge_hourly", NC_FLOAT, {timeDim, latDim, lonDim}, {hours, nrows, ncols});
    defineDischarge(file, g.hourly, "hourly mean discharge", "time: mean");
    g.mean10 = defineGridVar(file, "discharge_10min", NC_FLOAT, {time10Dim, latDim, lonDim}, {hours * 6, nrows, ncols});
    defineDischarge(file, g.mean10, "10-minute mean discharge", "time: mean");
    g.snapshot10 = defineGridVar(file, "discharge_10min_snapshot", NC_FLOAT, {time10Dim, latDim, lonDim},
                                 {hours * 6, nrows, ncols});
    defineDischarge(file, g.snapshot10, "discharge at the end of each 10 minutes", "time: point");

    g.rain = defineGridVar(file, "rainfall_total", NC_FLOAT, {latDim, lonDim}, {nrows, ncols});
    attributes(file, g.rain)
        .text("long_name", "event rainfall total")
        .text("standard_name", "thickness_of_rainfall_amount")
        .text("units", "mm")
        .text("cell_methods", "time: sum")
        .text("grid_mapping", "crs");
    g.peak = defineGridVar(file, "peak_discharge", NC_FLOAT, {latDim, lonDim}, {nrows, ncols});
    defineDischarge(file, g.peak, "highest hourly mean discharge of the event", "time: maximum");
    // The peak's time as minutes after the event start, in the UDUNITS symbol
    // "min", not as a date ("minutes since ..."): readers that decode dates
    // through integer clock values (xarray among them) choke on the missing
    // dates of the cells that are not computed; an elapsed time in "min" stays
    // a plain number, missing where there is no peak.
    g.peakTime = defineGridVar(file, "peak_time", NC_DOUBLE, {latDim, lonDim}, {nrows, ncols});
    attributes(file, g.peakTime)
        .text("long_name", "time from the event start to the end of the hour of the highest hourly mean discharge")
        .text("units", "min")
        .text("comment", "The event start is the start of the first interval of time (see time_bnds and the "
                         "time_origin attribute); add peak_time to it for the date.")
        .text("grid_mapping", "crs")
        .real("_FillValue", static_cast<double>(kFillValue));

    g.flowDir = defineGridVar(file, "flow_direction", NC_INT, {latDim, lonDim}, {nrows, ncols});
    attributes(file, g.flowDir)
        .text("long_name", "eight-direction flow code")
        .integers("flag_values", {0, 1, 2, 3, 4, 5, 6, 7, 8})
        .text("flag_meanings", "river_mouth north north_east east south_east south south_west west north_west")
        .text("grid_mapping", "crs");
    g.flowAcc = defineGridVar(file, "flow_accumulation", NC_INT, {latDim, lonDim}, {nrows, ncols});
    attributes(file, g.flowAcc)
        .text("long_name", "number of cells draining through the cell, the cell itself included")
        .text("units", "1")
        .text("grid_mapping", "crs");
    return g;
}

// Global attributes: what the file is, the model, and every parameter-file value.
void writeGlobals(const NcFile& file, const ExportRun& run) {
    Attributes g{file, file.id, NC_GLOBAL, "the global attribute"};
    const std::string model = std::string(kModelName) + " " + toolkitVersion();
    g.text("Conventions", "CF-1.8")
        .text("title", "Discharge and rainfall of a flood event simulated by runoffSim")
        .text("source", model + " (runoffSim: distributed kinematic-wave rainfall-runoff model)")
        .text("model_name", kModelName)
        .text("model_version", toolkitVersion())
        .text("history", "exportResults " + std::string(toolkitVersion()) +
                             ": converted from the discharge grid files, the rainfall total and the dam and "
                             "reservoir tables of runoffSim")
        .text("time_origin", run.start.start ? isoText(*run.start.start) + " (" + run.start.source + ")"
                                              : run.start.source)
        .text("comment", "Times are the ends of their intervals (see the bounds). Cells that are not computed "
                         "(the outer ring and rivers that are not simulated) hold the fill value.");
    const ModelParams& p = run.params;
    g.real32("param_scale", p.scale)
        .integers("param_ncols", {p.ncols})
        .integers("param_nrows", {p.nrows})
        .real("param_xllcorner", p.xllcorner)
        .real("param_yllcorner", p.yllcorner)
        .integers("param_rainFormat", {p.rainFormat})
        .integers("param_rainInterval", {p.rainInterval})
        .integers("param_rainCols", {p.rainCols})
        .integers("param_rainRows", {p.rainRows})
        .real("param_rainDx", p.rainDx)
        .real("param_rainDy", p.rainDy)
        .real("param_rainLon0", p.rainLon0)
        .real("param_rainLat0", p.rainLat0)
        .integers("param_days", {p.days})
        .integers("param_stepSeconds", {p.stepSeconds})
        .integers("param_spaceSteps", {p.spaceSteps})
        .real("param_fdWeight", p.fdWeight)
        .real("param_Ns", p.Ns)
        .real("param_Ka", p.Ka)
        .real("param_Da", p.Da)
        .real("param_Dm", p.Dm)
        .real("param_Beta", p.Beta)
        .real("param_Nr", p.Nr)
        .integers("param_channelThreshold", {p.channelThreshold})
        .real("param_slopeLength", p.slopeLength)
        .real("param_ROFinitial", p.ROFinitial);
}

// Copies a discharge file into its variable a slab of whole time chunks at a
// time; the hourly file also feeds the peaks.
void copyFrames(const NcFile& file, const Var& v, DischargeFile& input, const GridGeometry& grid, PeakFields* peaks) {
    const std::size_t nrows = static_cast<std::size_t>(grid.nrows), ncols = static_cast<std::size_t>(grid.ncols);
    const int64_t slab = static_cast<int64_t>(chunkOf(static_cast<std::size_t>(input.frames), kTimeChunk));
    // Room for one slab of chunks, so every chunk is compressed once.
    const std::size_t slabBytes = static_cast<std::size_t>(slab) * nrows * ncols * sizeof(float);
    file.check(nc_set_var_chunk_cache(v.group, v.id, slabBytes + (1u << 20), 1009, 1.0f), v.name, "size the cache of");
    std::vector<float> frames;
    for (int64_t first = 0; first < input.frames; first += slab) {
        const int64_t count = std::min(slab, input.frames - first);
        readNorthUpFrames(input, count, grid.nrows, grid.ncols, frames);
        const std::size_t start[3] = {static_cast<std::size_t>(first), 0, 0};
        const std::size_t counts[3] = {static_cast<std::size_t>(count), nrows, ncols};
        file.check(nc_put_vara_float(v.group, v.id, start, counts, frames.data()), v.name, "write");
        if (peaks) addToPeaks(*peaks, frames, first, count);
    }
}

// One group of CF timeSeries stations: the structures and their hourly tables.
void writeStations(const NcFile& file, const char* groupName, const std::vector<StructureSite>& sites,
                   const std::vector<std::vector<std::vector<float>>>& tables, const ExportRun& run, bool dams) {
    if (sites.empty()) return;
    int group = -1;
    file.check(nc_def_grp(file.id, groupName, &group), std::string("the group ") + groupName, "define");
    const std::string prefix = std::string(groupName) + "/";
    Attributes{file, group, NC_GLOBAL, prefix}
        .text("featureType", "timeSeries")
        .text("Conventions", "CF-1.8")
        .text("title", std::string(dams ? "Dams" : "Reservoirs") + ": hourly tables of runoffSim");
    const std::size_t n = sites.size(), hours = static_cast<std::size_t>(run.hours);
    const int stationDim = defineDim(file, group, "station", n);
    const int timeDim = defineDim(file, group, "time", hours);
    const int bndsDim = defineDim(file, group, "bnds", 2);
    const auto [time, timeBounds] = defineTime(file, group, "time", timeDim, bndsDim, run.start, "end of each hour");

    const Var name = defineVar(file, group, "station_name", NC_STRING, {stationDim});
    attributes(file, name).text("long_name", dams ? "dam name" : "reservoir name").text("cf_role", "timeseries_id");
    const Var lat = defineVar(file, group, "lat", NC_DOUBLE, {stationDim});
    attributes(file, lat).text("standard_name", "latitude").text("units", "degrees_north").text("long_name",
                                                                                                  "latitude of the cell centre");
    const Var lon = defineVar(file, group, "lon", NC_DOUBLE, {stationDim});
    attributes(file, lon).text("standard_name", "longitude").text("units", "degrees_east").text("long_name",
                                                                                                   "longitude of the cell centre");
    const Var column = defineVar(file, group, "column_number", NC_INT, {stationDim});
    attributes(file, column).text("long_name", "column number of the cell, from 1 at the west");
    const Var row = defineVar(file, group, "row_number", NC_INT, {stationDim});
    attributes(file, row).text("long_name", "row number of the cell, from 1 at the south");
    Var operation{group, -1, "operation"};
    if (dams) {
        operation = defineVar(file, group, "operation", NC_INT, {stationDim});
        attributes(file, operation)
            .text("long_name", "dam operation")
            .integers("flag_values", {0, 1, 2})
            .text("flag_meanings", "recorded_release constant_release_between_storage_limits capped_release");
    }
    const std::vector<std::size_t> chunks = {n, hours};
    std::vector<Var> series;
    const char* names[3] = {"inflow", "outflow", "storage"};
    const char* longNames[3] = {"hourly mean inflow", "hourly mean outflow", "hourly mean storage"};
    for (std::size_t c = 0; c < tables.front().size(); ++c) {
        Var v = defineVar(file, group, names[c], NC_FLOAT, {stationDim, timeDim}, chunks);
        Attributes a = attributes(file, v);
        a.text("long_name", longNames[c])
            .text("units", c < 2 ? "m3 s-1" : "m3")
            .text("cell_methods", "time: mean")
            .text("coordinates", "lat lon station_name");
        if (c < 2) a.text("standard_name", kDischargeName);
        series.push_back(v);
    }
    file.check(nc_enddef(file.id), prefix, "define");

    putTimes(file, time, timeBounds, run.hours, 60);
    std::vector<const char*> nameText;
    std::vector<double> lats, lons;
    std::vector<int> columns, rows, operations;
    for (const StructureSite& s : sites) {
        nameText.push_back(s.name.c_str());
        lats.push_back(run.grid.latCentre(run.grid.nrows - s.rowNumber));
        lons.push_back(run.grid.lonCentre(s.columnNumber - 1));
        columns.push_back(s.columnNumber);
        rows.push_back(s.rowNumber);
        operations.push_back(s.operation);
    }
    file.check(nc_put_var_string(group, name.id, nameText.data()), prefix + name.name, "write");
    putDoubles(file, lat, lats);
    putDoubles(file, lon, lons);
    file.check(nc_put_var_int(group, column.id, columns.data()), prefix + column.name, "write");
    file.check(nc_put_var_int(group, row.id, rows.data()), prefix + row.name, "write");
    if (dams) file.check(nc_put_var_int(group, operation.id, operations.data()), prefix + operation.name, "write");
    for (std::size_t c = 0; c < series.size(); ++c) {
        std::vector<float> values;
        for (const auto& table : tables) values.insert(values.end(), table[c].begin(), table[c].end());
        file.check(nc_put_var_float(group, series[c].id, values.data()), prefix + series[c].name, "write");
    }
}

}  // namespace

PeakFields writeDischargeNetcdf(ExportRun& run, const std::string& path, const std::string& displayPath) {
    NcFile file;
    file.name = displayPath;
    file.check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &file.id), "the file", "create");
    const int root = file.id;
    const GridGeometry& grid = run.grid;
    const std::size_t nrows = static_cast<std::size_t>(grid.nrows), ncols = static_cast<std::size_t>(grid.ncols);

    const int timeDim = defineDim(file, root, "time", static_cast<std::size_t>(run.hours));
    const int time10Dim = defineDim(file, root, "time_10min", static_cast<std::size_t>(run.hours * 6));
    const int latDim = defineDim(file, root, "lat", nrows);
    const int lonDim = defineDim(file, root, "lon", ncols);
    const int bndsDim = defineDim(file, root, "bnds", 2);

    const auto [time, timeBounds] = defineTime(file, root, "time", timeDim, bndsDim, run.start, "end of each hour");
    const auto [time10, time10Bounds] =
        defineTime(file, root, "time_10min", time10Dim, bndsDim, run.start, "end of each 10 minutes");
    const Var lat = defineVar(file, root, "lat", NC_DOUBLE, {latDim});
    attributes(file, lat)
        .text("standard_name", "latitude")
        .text("long_name", "latitude")
        .text("units", "degrees_north")
        .text("axis", "Y")
        .text("bounds", "lat_bnds");
    const Var latBounds = defineVar(file, root, "lat_bnds", NC_DOUBLE, {latDim, bndsDim});
    const Var lon = defineVar(file, root, "lon", NC_DOUBLE, {lonDim});
    attributes(file, lon)
        .text("standard_name", "longitude")
        .text("long_name", "longitude")
        .text("units", "degrees_east")
        .text("axis", "X")
        .text("bounds", "lon_bnds");
    const Var lonBounds = defineVar(file, root, "lon_bnds", NC_DOUBLE, {lonDim, bndsDim});
    const Var crs = defineVar(file, root, "crs", NC_INT, {});
    attributes(file, crs)
        .text("grid_mapping_name", "latitude_longitude")
        .real("longitude_of_prime_meridian", 0.0)
        .real("semi_major_axis", 6378137.0)
        .real("inverse_flattening", 298.257223563)
        .text("crs_wkt", kWgs84Wkt)
        .text("spatial_ref", kWgs84Wkt);
    GridVars g = defineGrids(file, run, timeDim, time10Dim, latDim, lonDim);
    writeGlobals(file, run);
    file.check(nc_enddef(root), "the file", "define");

    // Coordinates: cell centres and edges, rows from north to south.
    std::vector<double> lats(nrows), latEdges(nrows * 2), lons(ncols), lonEdges(ncols * 2);
    for (std::size_t r = 0; r < nrows; ++r) {
        lats[r] = grid.latCentre(static_cast<int32_t>(r));
        latEdges[2 * r] = grid.south + static_cast<double>(grid.nrows - static_cast<int32_t>(r)) * grid.cellDeg;
        latEdges[2 * r + 1] = grid.south + static_cast<double>(grid.nrows - static_cast<int32_t>(r) - 1) * grid.cellDeg;
    }
    for (std::size_t c = 0; c < ncols; ++c) {
        lons[c] = grid.lonCentre(static_cast<int32_t>(c));
        lonEdges[2 * c] = grid.west + static_cast<double>(c) * grid.cellDeg;
        lonEdges[2 * c + 1] = grid.west + static_cast<double>(c + 1) * grid.cellDeg;
    }
    putDoubles(file, lat, lats);
    putDoubles(file, latBounds, latEdges);
    putDoubles(file, lon, lons);
    putDoubles(file, lonBounds, lonEdges);
    putTimes(file, time, timeBounds, run.hours, 60);
    putTimes(file, time10, time10Bounds, run.hours * 6, 10);
    const int crsValue = 0;
    file.check(nc_put_var_int(root, crs.id, &crsValue), "crs", "write");

    PeakFields peaks(grid.cells());
    copyFrames(file, g.hourly, run.hourly, grid, &peaks);
    copyFrames(file, g.mean10, run.mean10min, grid, nullptr);
    copyFrames(file, g.snapshot10, run.snapshot10min, grid, nullptr);

    file.check(nc_put_var_float(root, g.rain.id, run.rainTotals.data()), g.rain.name, "write");
    file.check(nc_put_var_float(root, g.peak.id, peaks.discharge.data()), g.peak.name, "write");
    std::vector<double> peakTimes(peaks.minutes.begin(), peaks.minutes.end());
    putDoubles(file, g.peakTime, peakTimes);
    file.check(nc_put_var_int(root, g.flowDir.id, run.flowDir.data()), g.flowDir.name, "write");
    file.check(nc_put_var_int(root, g.flowAcc.id, run.flowAcc.data()), g.flowAcc.name, "write");

    file.check(nc_redef(root), "the file", "reopen the definitions of");
    writeStations(file, "dams", run.dams, run.damTables, run, true);
    writeStations(file, "reservoirs", run.reservoirs, run.reservoirTables, run, false);
    file.close();
    return peaks;
}

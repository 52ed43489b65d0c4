#include "ensembleNetcdf.h"

#include "inputError.h"
#include "programInfo.h"
#include "runResults.h"

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

const char* const kWgs84Wkt =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],"
    "AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],"
    "UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],AXIS[\"Latitude\",NORTH],"
    "AXIS[\"Longitude\",EAST],AUTHORITY[\"EPSG\",\"4326\"]]";
const char* const kDischargeName = "water_volume_transport_in_river_channel";
constexpr int kDeflateLevel = 4;
constexpr std::size_t kSpaceChunk = 64;

// One open netCDF file, closed when it goes out of scope; every call goes through `check`.
struct NcFile {
    int id = -1;
    std::string name;
    ~NcFile() {
        if (id >= 0) nc_close(id);
    }
    void check(int status, const std::string& what, const char* action) const {
        if (status != NC_NOERR)
            throw InputError("Error: " + name + ": cannot " + action + " " + what + ": " + nc_strerror(status) + ".\n");
    }
    int dim(const char* dimName, std::size_t length) const {
        int d = -1;
        check(nc_def_dim(id, dimName, length, &d), std::string("the dimension ") + dimName, "define");
        return d;
    }
    // A variable; with `chunks` chunked and compressed (deflate with shuffle).
    int var(const std::string& varName, nc_type type, const std::vector<int>& dims,
            const std::vector<std::size_t>& chunks = {}) const {
        int v = -1;
        check(nc_def_var(id, varName.c_str(), type, static_cast<int>(dims.size()), dims.data(), &v), varName, "define");
        if (!chunks.empty()) {
            check(nc_def_var_chunking(id, v, NC_CHUNKED, chunks.data()), varName, "chunk");
            check(nc_def_var_deflate(id, v, 1, 1, kDeflateLevel), varName, "compress");
        }
        return v;
    }
    void text(int v, const char* att, const std::string& value) const {
        check(nc_put_att_text(id, v, att, value.size(), value.c_str()), std::string("the attribute ") + att, "write");
    }
    void real(int v, const char* att, double value) const {
        check(nc_put_att_double(id, v, att, NC_DOUBLE, 1, &value), std::string("the attribute ") + att, "write");
    }
    void real32(int v, const char* att, float value) const {
        check(nc_put_att_float(id, v, att, NC_FLOAT, 1, &value), std::string("the attribute ") + att, "write");
    }
    void integer(int v, const char* att, int value) const {
        check(nc_put_att_int(id, v, att, NC_INT, 1, &value), std::string("the attribute ") + att, "write");
    }
};

struct GridDims {
    int lat = -1, lon = -1, quantile = -1;
    std::size_t nrows = 0, ncols = 0;
    std::vector<std::size_t> chunks() const {
        return {std::min(nrows, kSpaceChunk), std::min(ncols, kSpaceChunk)};
    }
};

int gridVar(const NcFile& f, const GridDims& g, const std::string& name, nc_type type) {
    const int v = f.var(name, type, {g.lat, g.lon}, g.chunks());
    f.text(v, "grid_mapping", "crs");
    return v;
}

std::string membersCountedText(const EnsembleProducts& p, std::size_t members) {
    return std::to_string(p.counted.size()) + " of " + std::to_string(members);
}

struct Defined {
    std::vector<int> probability, count, halfTime, level;  // per threshold (level: -1 for constants)
    int peakQuantiles = -1, peakMean = -1;
    int quantile = -1, realization = -1, finished = -1;
    int time = -1, timeBounds = -1;
    int stationName = -1, stationKind = -1, column = -1, row = -1, stationLat = -1, stationLon = -1;
    int series = -1, seriesQuantiles = -1;
    int lat = -1, latBounds = -1, lon = -1, lonBounds = -1, crs = -1;
};

void defineThresholds(const NcFile& f, const EnsembleFile& e, const GridDims& g, Defined& d) {
    const std::string counted = membersCountedText(e.products, e.memberPaths.size());
    const int counts = static_cast<int>(e.products.counted.size());
    for (const Threshold& t : e.thresholds) {
        const std::string about = t.isGrid ? "the threshold grid " + t.source : "the threshold " + t.source;
        const int p = gridVar(f, g, "exceedance_probability_" + t.name, NC_FLOAT);
        f.text(p, "long_name", "fraction of the members whose hourly mean discharge exceeds " + t.name +
                                   " (is larger than it) in at least one hour");
        f.text(p, "units", "1");
        f.real32(p, "valid_min", 0.0f);
        f.real32(p, "valid_max", 1.0f);
        f.real32(p, "_FillValue", kProductFill);
        f.text(p, "threshold", about);
        f.integer(p, "members_counted", counts);
        f.text(p, "comment", "members counted: " + counted);
        const int c = gridVar(f, g, "exceedance_count_" + t.name, NC_INT);
        f.text(c, "long_name", "number of members whose hourly mean discharge exceeds " + t.name + " in at least one hour");
        f.text(c, "units", "1");
        f.integer(c, "_FillValue", static_cast<int>(kProductFill));
        f.integer(c, "members_counted", counts);
        const int h = gridVar(f, g, "half_exceedance_time_" + t.name, NC_DOUBLE);
        f.text(h, "long_name", "time from the event start to the end of the first hour by which half of the members "
                               "(or more) have exceeded " + t.name);
        f.text(h, "units", "min");
        f.real(h, "_FillValue", static_cast<double>(kProductFill));
        f.integer(h, "members_counted", counts);
        int level = -1;
        if (t.isGrid) {
            level = gridVar(f, g, "threshold_" + t.name, NC_FLOAT);
            f.text(level, "long_name", "discharge threshold " + t.name + " (" + t.source + ")");
            f.text(level, "standard_name", kDischargeName);
            f.text(level, "units", "m3 s-1");
            f.real32(level, "_FillValue", kProductFill);
        }
        d.probability.push_back(p);
        d.count.push_back(c);
        d.halfTime.push_back(h);
        d.level.push_back(level);
    }
}

void defineStations(const NcFile& f, const EnsembleFile& e, const GridDims& g, int realizationDim, int timeDim,
                    Defined& d) {
    const std::size_t sites = e.sites.size(), hours = static_cast<std::size_t>(e.results.hours);
    const int station = f.dim("station", sites);
    d.stationName = f.var("station_name", NC_STRING, {station});
    f.text(d.stationName, "long_name", "point, dam or reservoir name");
    f.text(d.stationName, "cf_role", "timeseries_id");
    d.stationKind = f.var("station_kind", NC_STRING, {station});
    f.text(d.stationKind, "long_name", "kind of kept cell: point (--point), dam or reservoir");
    d.column = f.var("column_number", NC_INT, {station});
    f.text(d.column, "long_name", "column number of the cell, from 1 at the west");
    d.row = f.var("row_number", NC_INT, {station});
    f.text(d.row, "long_name", "row number of the cell, from 1 at the south");
    d.stationLat = f.var("station_lat", NC_DOUBLE, {station});
    f.text(d.stationLat, "standard_name", "latitude");
    f.text(d.stationLat, "units", "degrees_north");
    d.stationLon = f.var("station_lon", NC_DOUBLE, {station});
    f.text(d.stationLon, "standard_name", "longitude");
    f.text(d.stationLon, "units", "degrees_east");
    const std::size_t members = e.memberPaths.size();
    d.series = f.var("discharge_series", NC_FLOAT, {realizationDim, station, timeDim}, {1, sites, hours});
    f.text(d.series, "long_name", "hourly mean discharge of every member at the kept cells");
    f.text(d.series, "standard_name", kDischargeName);
    f.text(d.series, "units", "m3 s-1");
    f.text(d.series, "cell_methods", "time: mean");
    f.text(d.series, "coordinates", "station_lat station_lon station_name");
    f.real32(d.series, "_FillValue", kProductFill);
    f.text(d.series, "comment", "members that stopped hold the fill value");
    d.seriesQuantiles = f.var("discharge_series_quantile", NC_FLOAT, {g.quantile, station, timeDim},
                              {kQuantileLevels.size(), sites, hours});
    f.text(d.seriesQuantiles, "long_name", "quantiles over the members of the hourly mean discharge at the kept cells");
    f.text(d.seriesQuantiles, "standard_name", kDischargeName);
    f.text(d.seriesQuantiles, "units", "m3 s-1");
    f.text(d.seriesQuantiles, "cell_methods", "time: mean");
    f.text(d.seriesQuantiles, "coordinates", "station_lat station_lon station_name");
    f.real32(d.seriesQuantiles, "_FillValue", kProductFill);
    f.integer(d.seriesQuantiles, "members_counted", static_cast<int>(e.products.counted.size()));
    (void)members;
}

void defineGlobals(const NcFile& f, const EnsembleFile& e) {
    const std::string version = toolkitVersion();
    std::string stopped;
    for (std::size_t m = 0; m < e.results.stops.size(); ++m)
        if (e.results.stops[m].stopped) stopped += (stopped.empty() ? "" : " ") + std::to_string(m);
    f.text(NC_GLOBAL, "Conventions", "CF-1.8");
    f.text(NC_GLOBAL, "title", "Flood ensemble: exceedance probabilities and discharge quantiles of runoffSim's model");
    f.text(NC_GLOBAL, "source", "runEnsemble " + version + " (runoffSim: distributed kinematic-wave rainfall-runoff model)");
    f.text(NC_GLOBAL, "history", "runEnsemble " + version + ": every member of input/ensemble/ run through the event");
    f.text(NC_GLOBAL, "time_origin", e.start.start ? isoText(*e.start.start) + " (" + e.start.source + ")" : e.start.source);
    f.integer(NC_GLOBAL, "members", static_cast<int>(e.memberPaths.size()));
    f.integer(NC_GLOBAL, "members_counted", static_cast<int>(e.products.counted.size()));
    f.text(NC_GLOBAL, "members_stopped", stopped);
    f.text(NC_GLOBAL, "threshold_comparison", "a member exceeds a threshold when its hourly mean discharge is larger "
                                              "than the threshold (strictly) in at least one hour");
    f.text(NC_GLOBAL, "quantile_rule", "linear interpolation between the sorted members (Hyndman and Fan type 7): "
                                       "h = (n - 1) p, q = x[floor h] + (h - floor h) (x[floor h + 1] - x[floor h])");
    f.text(NC_GLOBAL, "comment", "Products count only the members that finished (members_counted); a member that "
                                 "stopped is listed in members_stopped. Cells that are not computed (the outer ring "
                                 "and rivers that are not simulated) hold the fill value.");
}

}  // namespace

void writeEnsembleNetcdf(const EnsembleFile& e, const std::string& path, const std::string& displayPath) {
    NcFile f;
    f.name = displayPath;
    f.check(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &f.id), "the file", "create");
    const GridGeometry grid = gridGeometry(e.event.params);
    GridDims g;
    g.nrows = static_cast<std::size_t>(grid.nrows);
    g.ncols = static_cast<std::size_t>(grid.ncols);
    const std::size_t hours = static_cast<std::size_t>(e.results.hours), members = e.memberPaths.size();
    const int realizationDim = f.dim("realization", members);
    g.quantile = f.dim("quantile", kQuantileLevels.size());
    const int timeDim = f.dim("time", hours);
    g.lat = f.dim("lat", g.nrows);
    g.lon = f.dim("lon", g.ncols);
    const int bnds = f.dim("bnds", 2);

    Defined d;
    d.realization = f.var("realization", NC_INT, {realizationDim});
    f.text(d.realization, "standard_name", "realization");
    f.text(d.realization, "long_name", "ensemble member: the number MMM of input/ensemble/rain.MMM.bin");
    f.text(d.realization, "units", "1");
    d.finished = f.var("member_finished", NC_BYTE, {realizationDim});
    f.text(d.finished, "long_name", "whether the member's run finished (1) or stopped (0) and is left out of the products");
    d.quantile = f.var("quantile", NC_DOUBLE, {g.quantile});
    f.text(d.quantile, "long_name", "probability level of the quantile (type 7)");
    f.text(d.quantile, "units", "1");
    d.time = f.var("time", NC_DOUBLE, {timeDim});
    d.timeBounds = f.var("time_bnds", NC_DOUBLE, {timeDim, bnds});
    f.text(d.time, "long_name", "end of each hour");
    f.text(d.time, "units", cfMinuteUnits(e.start));
    f.text(d.time, "axis", "T");
    f.text(d.time, "bounds", "time_bnds");
    if (e.start.start) {
        f.text(d.time, "standard_name", "time");
        f.text(d.time, "calendar", "standard");
    }
    d.lat = f.var("lat", NC_DOUBLE, {g.lat});
    f.text(d.lat, "standard_name", "latitude");
    f.text(d.lat, "long_name", "latitude");
    f.text(d.lat, "units", "degrees_north");
    f.text(d.lat, "axis", "Y");
    f.text(d.lat, "bounds", "lat_bnds");
    d.latBounds = f.var("lat_bnds", NC_DOUBLE, {g.lat, bnds});
    d.lon = f.var("lon", NC_DOUBLE, {g.lon});
    f.text(d.lon, "standard_name", "longitude");
    f.text(d.lon, "long_name", "longitude");
    f.text(d.lon, "units", "degrees_east");
    f.text(d.lon, "axis", "X");
    f.text(d.lon, "bounds", "lon_bnds");
    d.lonBounds = f.var("lon_bnds", NC_DOUBLE, {g.lon, bnds});
    d.crs = f.var("crs", NC_INT, {});
    f.text(d.crs, "grid_mapping_name", "latitude_longitude");
    f.real(d.crs, "longitude_of_prime_meridian", 0.0);
    f.real(d.crs, "semi_major_axis", 6378137.0);
    f.real(d.crs, "inverse_flattening", 298.257223563);
    f.text(d.crs, "crs_wkt", kWgs84Wkt);
    f.text(d.crs, "spatial_ref", kWgs84Wkt);

    defineThresholds(f, e, g, d);
    std::vector<std::size_t> chunks = g.chunks();
    chunks.insert(chunks.begin(), 1);
    d.peakQuantiles = f.var("peak_discharge_quantile", NC_FLOAT, {g.quantile, g.lat, g.lon}, chunks);
    f.text(d.peakQuantiles, "long_name", "quantiles over the members of the highest hourly mean discharge of the event");
    d.peakMean = gridVar(f, g, "peak_discharge_mean", NC_FLOAT);
    f.text(d.peakMean, "long_name", "mean over the members of the highest hourly mean discharge of the event");
    for (const int v : {d.peakQuantiles, d.peakMean}) {
        f.text(v, "standard_name", kDischargeName);
        f.text(v, "units", "m3 s-1");
        f.text(v, "cell_methods", "time: maximum");
        f.text(v, "grid_mapping", "crs");
        f.real32(v, "_FillValue", kProductFill);
        f.integer(v, "members_counted", static_cast<int>(e.products.counted.size()));
    }
    if (!e.sites.empty()) defineStations(f, e, g, realizationDim, timeDim, d);
    defineGlobals(f, e);
    f.check(nc_enddef(f.id), "the file", "define");

    // Coordinates: cell centres and edges, rows from north to south, as in discharge.nc.
    std::vector<double> lats(g.nrows), latEdges(g.nrows * 2), lons(g.ncols), lonEdges(g.ncols * 2);
    for (std::size_t r = 0; r < g.nrows; ++r) {
        lats[r] = grid.latCentre(static_cast<int32_t>(r));
        latEdges[2 * r] = grid.south + static_cast<double>(grid.nrows - static_cast<int32_t>(r)) * grid.cellDeg;
        latEdges[2 * r + 1] = grid.south + static_cast<double>(grid.nrows - static_cast<int32_t>(r) - 1) * grid.cellDeg;
    }
    for (std::size_t c = 0; c < g.ncols; ++c) {
        lons[c] = grid.lonCentre(static_cast<int32_t>(c));
        lonEdges[2 * c] = grid.west + static_cast<double>(c) * grid.cellDeg;
        lonEdges[2 * c + 1] = grid.west + static_cast<double>(c + 1) * grid.cellDeg;
    }
    auto doubles = [&](int v, const std::vector<double>& values, const char* name) {
        f.check(nc_put_var_double(f.id, v, values.data()), name, "write");
    };
    auto floats = [&](int v, const std::vector<float>& values, const std::string& name) {
        f.check(nc_put_var_float(f.id, v, values.data()), name, "write");
    };
    doubles(d.lat, lats, "lat");
    doubles(d.latBounds, latEdges, "lat_bnds");
    doubles(d.lon, lons, "lon");
    doubles(d.lonBounds, lonEdges, "lon_bnds");
    std::vector<double> ends(hours), edges(hours * 2);
    for (std::size_t h = 0; h < hours; ++h) {
        ends[h] = static_cast<double>((h + 1) * 60);
        edges[2 * h] = static_cast<double>(h * 60);
        edges[2 * h + 1] = ends[h];
    }
    doubles(d.time, ends, "time");
    doubles(d.timeBounds, edges, "time_bnds");
    doubles(d.quantile, std::vector<double>(kQuantileLevels.begin(), kQuantileLevels.end()), "quantile");
    std::vector<int> numbers(members);
    std::vector<signed char> finished(members);
    for (std::size_t m = 0; m < members; ++m) {
        numbers[m] = static_cast<int>(m);
        finished[m] = e.results.stops[m].stopped ? 0 : 1;
    }
    f.check(nc_put_var_int(f.id, d.realization, numbers.data()), "realization", "write");
    f.check(nc_put_var_schar(f.id, d.finished, finished.data()), "member_finished", "write");
    const int crsValue = 0;
    f.check(nc_put_var_int(f.id, d.crs, &crsValue), "crs", "write");

    for (std::size_t t = 0; t < e.thresholds.size(); ++t) {
        const ThresholdProducts& p = e.products.thresholds[t];
        const std::string& name = e.thresholds[t].name;
        floats(d.probability[t], p.probability, "exceedance_probability_" + name);
        f.check(nc_put_var_int(f.id, d.count[t], p.count.data()), "exceedance_count_" + name, "write");
        f.check(nc_put_var_double(f.id, d.halfTime[t], p.halfTime.data()), "half_exceedance_time_" + name, "write");
        if (d.level[t] >= 0) {
            std::vector<float> level = e.thresholds[t].cells;
            for (float& v : level) v = std::isnan(v) ? kProductFill : v;
            floats(d.level[t], level, "threshold_" + name);
        }
    }
    floats(d.peakQuantiles, e.products.peakQuantiles, "peak_discharge_quantile");
    floats(d.peakMean, e.products.peakMean, "peak_discharge_mean");

    if (!e.sites.empty()) {
        std::vector<const char*> names, kinds;
        std::vector<int> columns, rows;
        std::vector<double> slat, slon;
        for (const SeriesSite& s : e.sites) {
            names.push_back(s.name.c_str());
            kinds.push_back(s.kind.c_str());
            columns.push_back(s.columnNumber);
            rows.push_back(s.rowNumber);
            slat.push_back(grid.latCentre(grid.nrows - s.rowNumber));
            slon.push_back(grid.lonCentre(s.columnNumber - 1));
        }
        f.check(nc_put_var_string(f.id, d.stationName, names.data()), "station_name", "write");
        f.check(nc_put_var_string(f.id, d.stationKind, kinds.data()), "station_kind", "write");
        f.check(nc_put_var_int(f.id, d.column, columns.data()), "column_number", "write");
        f.check(nc_put_var_int(f.id, d.row, rows.data()), "row_number", "write");
        doubles(d.stationLat, slat, "station_lat");
        doubles(d.stationLon, slon, "station_lon");
        // (realization, station, time): members that stopped hold the fill value.
        std::vector<float> series;
        series.reserve(members * e.sites.size() * hours);
        for (std::size_t m = 0; m < members; ++m) {
            for (std::size_t s = 0; s < e.sites.size(); ++s) {
                const std::vector<float>& values = e.results.series[s * members + m];
                if (e.results.stops[m].stopped) {
                    series.insert(series.end(), hours, kProductFill);
                } else {
                    series.insert(series.end(), values.begin(), values.end());
                }
            }
        }
        floats(d.series, series, "discharge_series");
        floats(d.seriesQuantiles, e.products.seriesQuantiles, "discharge_series_quantile");
    }
    const int status = nc_close(f.id);
    f.id = -1;
    f.check(status, "the file", "finish");
}

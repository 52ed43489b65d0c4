#pragma once
// Small CF-NetCDF rainfall files written with netCDF-C for the tests: a time
// axis, one-dimensional x/y (longitude/latitude or a projected grid with its
// grid mapping) or two-dimensional latitude and longitude, optionally a
// member dimension before time, and the rainfall variable with its CF
// attributes.

#include <netcdf.h>
#include <ogr_spatialref.h>
#include <cpl_conv.h>

#include <stdexcept>
#include <string>
#include <vector>

struct CfRain {
    std::vector<double> times;
    std::string timeUnits = "minutes since 2020-09-01 00:00:00";
    std::string calendar;            // the time axis' calendar attribute, when not empty
    std::vector<double> timeBounds;  // 2 per time, or none
    std::vector<double> x, y;        // axes; y in file order
    int projectedEpsg = 0;           // x/y in metres of this CRS, with a grid mapping
    std::vector<double> lon2d, lat2d;  // curvilinear: y.size() x x.size() values; the axes are then indices
    bool radarLonLat = false;        // curvilinear lat/lon as radar products store them: float32, only
                                     // units and _CoordinateAxisType, no axis variables, "time lat lon"
    int members = 0;                 // > 0: a member dimension of this size before time
    std::string memberDim = "realization";
    bool memberStandardName = true;  // the member coordinate carries standard_name "realization"
    std::string name = "precip";
    std::string units = "mm h-1";
    std::string standardName = "lwe_precipitation_rate";
    std::string cellMethods;
    bool hasFill = false;
    float fill = -999.0f;
    bool fillAlsoMissing = false;    // missing_value as well, equal to _FillValue
    std::vector<float> values;  // [member][time][y][x]
};

namespace cfdetail {

inline void check(int status, const std::string& what) {
    if (status != NC_NOERR) throw std::runtime_error(what + ": " + nc_strerror(status));
}

struct NcFile {
    int id = -1;
    ~NcFile() {
        if (id >= 0) nc_close(id);
    }
};

inline void text(int nc, int var, const char* name, const std::string& value) {
    check(nc_put_att_text(nc, var, name, value.size(), value.c_str()), name);
}

}  // namespace cfdetail

inline void writeCfRain(const std::string& path, const CfRain& r) {
    using namespace cfdetail;
    NcFile f;
    check(nc_create(path.c_str(), NC_CLOBBER, &f.id), "create " + path);
    const int nc = f.id;
    const bool curvilinear = !r.lon2d.empty();
    const bool projected = r.projectedEpsg != 0;
    const char* xName = projected || curvilinear ? "x" : "lon";
    const char* yName = projected || curvilinear ? "y" : "lat";
    int tDim, yDim, xDim, bDim = -1, tVar, yVar = -1, xVar = -1, bVar = -1, rVar, mVar = -1, lonVar = -1, latVar = -1;
    int eDim = -1, eVar = -1;
    if (r.members > 0) {
        check(nc_def_dim(nc, r.memberDim.c_str(), static_cast<size_t>(r.members), &eDim), "member");
        check(nc_def_var(nc, r.memberDim.c_str(), NC_INT, 1, &eDim, &eVar), "member");
        if (r.memberStandardName) text(nc, eVar, "standard_name", "realization");
    }
    check(nc_def_dim(nc, "time", r.times.size(), &tDim), "time");
    check(nc_def_dim(nc, yName, r.y.size(), &yDim), "y");
    check(nc_def_dim(nc, xName, r.x.size(), &xDim), "x");
    check(nc_def_var(nc, "time", NC_DOUBLE, 1, &tDim, &tVar), "time");
    text(nc, tVar, "units", r.timeUnits);
    text(nc, tVar, "standard_name", "time");
    if (!r.calendar.empty()) text(nc, tVar, "calendar", r.calendar);
    if (!r.timeBounds.empty()) {
        check(nc_def_dim(nc, "nv", 2, &bDim), "nv");
        const int dims[2] = {tDim, bDim};
        check(nc_def_var(nc, "time_bnds", NC_DOUBLE, 2, dims, &bVar), "time_bnds");
        text(nc, tVar, "bounds", "time_bnds");
    }
    if (!curvilinear) {
        check(nc_def_var(nc, yName, NC_DOUBLE, 1, &yDim, &yVar), "y");
        check(nc_def_var(nc, xName, NC_DOUBLE, 1, &xDim, &xVar), "x");
        text(nc, xVar, "standard_name", projected ? "projection_x_coordinate" : "longitude");
        text(nc, yVar, "standard_name", projected ? "projection_y_coordinate" : "latitude");
        text(nc, xVar, "units", projected ? "m" : "degrees_east");
        text(nc, yVar, "units", projected ? "m" : "degrees_north");
    } else {
        const int dims[2] = {yDim, xDim};
        const nc_type type = r.radarLonLat ? NC_FLOAT : NC_DOUBLE;
        check(nc_def_var(nc, "lat", type, 2, dims, &latVar), "lat");
        check(nc_def_var(nc, "lon", type, 2, dims, &lonVar), "lon");
        text(nc, latVar, "units", "degrees_north");
        text(nc, lonVar, "units", "degrees_east");
        if (r.radarLonLat) {
            text(nc, latVar, "_CoordinateAxisType", "Lat");
            text(nc, lonVar, "_CoordinateAxisType", "Lon");
        } else {
            text(nc, latVar, "standard_name", "latitude");
            text(nc, lonVar, "standard_name", "longitude");
        }
    }
    const int dims[4] = {eDim, tDim, yDim, xDim};
    const int rank = r.members > 0 ? 4 : 3;
    check(nc_def_var(nc, r.name.c_str(), NC_FLOAT, rank, dims + 4 - rank, &rVar), r.name);
    if (!r.units.empty()) text(nc, rVar, "units", r.units);
    if (!r.standardName.empty()) text(nc, rVar, "standard_name", r.standardName);
    if (!r.cellMethods.empty()) text(nc, rVar, "cell_methods", r.cellMethods);
    if (r.hasFill) check(nc_put_att_float(nc, rVar, "_FillValue", NC_FLOAT, 1, &r.fill), "_FillValue");
    if (r.fillAlsoMissing) check(nc_put_att_float(nc, rVar, "missing_value", NC_FLOAT, 1, &r.fill), "missing_value");
    if (curvilinear) text(nc, rVar, "coordinates", r.radarLonLat ? "time lat lon" : "lat lon");
    if (projected) {
        check(nc_def_var(nc, "crs", NC_INT, 0, nullptr, &mVar), "crs");
        OGRSpatialReference srs;
        srs.importFromEPSG(r.projectedEpsg);
        char* wkt = nullptr;
        srs.exportToWkt(&wkt);
        text(nc, mVar, "crs_wkt", wkt);
        text(nc, mVar, "spatial_ref", wkt);
        CPLFree(wkt);
        text(nc, mVar, "grid_mapping_name", "transverse_mercator");
        text(nc, rVar, "grid_mapping", "crs");
    }
    check(nc_enddef(nc), "enddef");
    for (int k = 0; k < r.members; ++k) {
        const size_t at = static_cast<size_t>(k);
        check(nc_put_var1_int(nc, eVar, &at, &k), "member values");
    }
    check(nc_put_var_double(nc, tVar, r.times.data()), "time values");
    if (bVar >= 0) check(nc_put_var_double(nc, bVar, r.timeBounds.data()), "bounds values");
    if (!curvilinear) {
        check(nc_put_var_double(nc, yVar, r.y.data()), "y values");
        check(nc_put_var_double(nc, xVar, r.x.data()), "x values");
    } else {
        check(nc_put_var_double(nc, latVar, r.lat2d.data()), "lat values");
        check(nc_put_var_double(nc, lonVar, r.lon2d.data()), "lon values");
    }
    check(nc_put_var_float(nc, rVar, r.values.data()), "rain values");
}

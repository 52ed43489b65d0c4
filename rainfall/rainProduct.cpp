#include "rainProduct.h"

#include "productTime.h"
#include "gdalSupport.h"
#include "inputError.h"

#include <ogr_spatialref.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <cmath>
#include <limits>
#include <set>
#include <sstream>

struct ProductAccess {
    // Multidimensional source: one array, its time, y and x dimensions.
    GDALDatasetUniquePtr dataset;
    std::shared_ptr<GDALMDArray> array;
    std::size_t dimCount = 0;
    int timeDim = -1, memberDim = -1, yDim = -1, xDim = -1;
    // Band sources: every band of every file is one frame, in order.
    std::vector<GDALDatasetUniquePtr> rasters;
    std::vector<std::pair<std::size_t, int>> bands;  // (raster, band number)
    bool timesAreStarts = false;  // the times came from time bounds: each is the start of its interval
    // Both: orientation and packing.
    bool flipRows = false, flipCols = false;
    bool hasFill = false;
    double fill = 0.0;
    bool hasMissing = false;
    double missing = 0.0;
    double scale = 1.0, offset = 0.0;
};

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string lower(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

std::string textAttribute(const GDALMDArray& array, const char* name) {
    const auto attribute = array.GetAttribute(name);
    if (!attribute) return "";
    const char* text = attribute->ReadAsString();
    return text ? text : "";
}

bool numberAttribute(const GDALMDArray& array, const char* name, double& value) {
    const auto attribute = array.GetAttribute(name);
    if (!attribute || attribute->GetDataType().GetClass() != GEDTC_NUMERIC) return false;
    value = attribute->ReadAsDouble();
    return true;
}

std::vector<double> readAll(const GDALMDArray& array, const std::string& file) {
    std::size_t count = 1;
    std::vector<GUInt64> start;
    std::vector<size_t> counts;
    for (const auto& d : array.GetDimensions()) {
        count *= static_cast<std::size_t>(d->GetSize());
        start.push_back(0);
        counts.push_back(static_cast<size_t>(d->GetSize()));
    }
    std::vector<double> values(count);
    if (!array.Read(start.data(), counts.data(), nullptr, nullptr, GDALExtendedDataType::Create(GDT_Float64),
                    values.data())) {
        throw gdalError(file, "the variable " + array.GetName() + " cannot be read.");
    }
    return values;
}

// Coordinates stored as float32 are read as the shortest decimal that gives
// the same float (134.95f as 134.95, not 134.949996948242), so the spacing
// and the south-west point in the parameter file are the ones the producer meant.
std::vector<double> readAxis(const GDALMDArray& axis, const std::string& file) {
    std::vector<double> values = readAll(axis, file);
    if (axis.GetDataType().GetNumericDataType() == GDT_Float32) {
        for (double& v : values) {
            char text[32];
            const auto result = std::to_chars(text, text + sizeof text - 1, static_cast<float>(v));
            *result.ptr = '\0';
            v = std::strtod(text, nullptr);
        }
    }
    return values;
}

const std::set<std::string> kRainStandardNames = {
    "precipitation_amount",        "precipitation_flux",       "lwe_precipitation_rate",
    "lwe_thickness_of_precipitation_amount", "rainfall_amount", "rainfall_flux",
    "rainfall_rate",               "lwe_rainfall_rate",        "thickness_of_rainfall_amount",
};
const std::set<std::string> kRainNames = {"tp",   "pr",     "precip", "precipitation", "rain", "rainfall",
                                          "rr",   "apcp",   "prate",  "tprate",        "pcp",  "precipitation_amount",
                                          "prec", "rate",   "acc_precip"};

// Arrays of the group and its subgroups.
void collectArrays(const std::shared_ptr<GDALGroup>& group, std::vector<std::shared_ptr<GDALMDArray>>& arrays) {
    for (const std::string& name : group->GetMDArrayNames()) {
        if (auto array = group->OpenMDArray(name)) arrays.push_back(array);
    }
    for (const std::string& name : group->GetGroupNames()) {
        if (auto sub = group->OpenGroup(name)) collectArrays(sub, arrays);
    }
}

// The arrays that hold data on a grid: two dimensions or more, numeric, and
// not named by another array as its coordinates, bounds or grid mapping.
std::vector<std::shared_ptr<GDALMDArray>> dataArrays(const std::vector<std::shared_ptr<GDALMDArray>>& arrays) {
    std::set<std::string> auxiliary;
    for (const auto& a : arrays) {
        for (const char* key : {"coordinates", "bounds", "grid_mapping", "climatology", "ancillary_variables"}) {
            std::istringstream words(textAttribute(*a, key));
            for (std::string w; words >> w;) auxiliary.insert(w.back() == ':' ? w.substr(0, w.size() - 1) : w);
        }
    }
    std::vector<std::shared_ptr<GDALMDArray>> data;
    for (const auto& a : arrays) {
        const std::string standard = lower(textAttribute(*a, "standard_name"));
        if (a->GetDimensionCount() < 2 || a->GetDataType().GetClass() != GEDTC_NUMERIC ||
            auxiliary.count(a->GetName()) || standard == "latitude" || standard == "longitude" ||
            standard == "time") {
            continue;
        }
        data.push_back(a);
    }
    return data;
}

std::string namesOf(const std::vector<std::shared_ptr<GDALMDArray>>& arrays) {
    std::string names;
    for (const auto& a : arrays) names += (names.empty() ? "" : ", ") + a->GetName();
    return names.empty() ? "none" : names;
}

std::shared_ptr<GDALMDArray> pickVariable(const std::vector<std::shared_ptr<GDALMDArray>>& arrays,
                                          const std::string& wanted, const std::string& file) {
    const auto data = dataArrays(arrays);
    if (!wanted.empty()) {
        for (const auto& a : arrays)
            if (a->GetName() == wanted || a->GetFullName() == wanted) return a;
        throw InputError("Error: " + file + " has no variable \"" + wanted + "\"; its gridded variables are " +
                         namesOf(data) + ".\n");
    }
    if (data.size() == 1) return data.front();
    std::vector<std::shared_ptr<GDALMDArray>> byStandard, byName;
    for (const auto& a : data) {
        if (kRainStandardNames.count(lower(textAttribute(*a, "standard_name")))) byStandard.push_back(a);
        // GRIB arrays are named after the element and level ("APCP_0-SFC") and carry the element as "name".
        const std::string name = lower(a->GetName());
        if (kRainNames.count(name) || kRainNames.count(name.substr(0, name.find('_'))) ||
            kRainNames.count(lower(textAttribute(*a, "name")))) {
            byName.push_back(a);
        }
    }
    if (byStandard.size() == 1) return byStandard.front();
    if (byStandard.empty() && byName.size() == 1) return byName.front();
    throw InputError("Error: " + file + ": cannot tell which variable is the precipitation (" + namesOf(data) +
                     "); name it with --variable.\n");
}

// The time in seconds since 1970 of every value of a CF time variable.
std::vector<int64_t> timesOf(const GDALMDArray& timeVar, const std::vector<double>& values, const std::string& file) {
    std::string units = timeVar.GetUnit();
    if (units.empty()) units = textAttribute(timeVar, "units");
    TimeUnits parsed;
    if (!parseTimeUnits(units, parsed)) {
        throw InputError("Error: " + file + ": the time variable " + timeVar.GetName() + " has units \"" + units +
                         "\", not \"<unit> since <date>\".\n");
    }
    const std::string calendar = lower(textAttribute(timeVar, "calendar"));
    if (!calendar.empty() && calendar != "standard" && calendar != "gregorian" && calendar != "proleptic_gregorian") {
        throw InputError("Error: " + file + ": the time axis uses the calendar \"" + calendar +
                         "\"; only the standard (Gregorian) calendar is read.\n");
    }
    std::vector<int64_t> times;
    for (double v : values) {
        if (!std::isfinite(v)) throw InputError("Error: " + file + ": the time axis holds a value that is not a number.\n");
        times.push_back(parsed.epoch + std::llround(v * parsed.secondsPerUnit));
    }
    return times;
}

bool isTimeDimension(const GDALDimension& d) {
    const std::string name = lower(d.GetName());
    if (d.GetType() == GDAL_DIM_TYPE_TEMPORAL || name == "time" || name == "t" || name == "valid_time") return true;
    const auto index = d.GetIndexingVariable();
    if (!index) return false;
    std::string units = index->GetUnit();
    if (units.empty()) units = textAttribute(*index, "units");
    return units.find(" since ") != std::string::npos || units == "sec UTC";
}

// A dimension of ensemble members: CF's "realization" on its coordinate
// variable, or one of the names that CF writers and GRIB decoders use.
bool isMemberDimension(const GDALDimension& d) {
    const std::string name = lower(d.GetName());
    if (name == "realization" || name == "member" || name == "ensemble" || name == "number") return true;
    const auto index = d.GetIndexingVariable();
    return index && lower(textAttribute(*index, "standard_name")) == "realization";
}

// The interval named in cell_methods, "time: sum (interval: 1 hour)", in seconds; 0 if none.
int64_t cellMethodsInterval(const std::string& methods) {
    const std::size_t at = methods.find("interval:");
    if (at == std::string::npos) return 0;
    std::istringstream in(methods.substr(at + 9));
    double value = 0.0;
    std::string unit;
    if (!(in >> value >> unit)) return 0;
    while (!unit.empty() && (unit.back() == ')' || unit.back() == ',')) unit.pop_back();
    TimeUnits parsed;
    if (!parseTimeUnits(unit + " since 1970-01-01", parsed)) return 0;
    return std::llround(value * parsed.secondsPerUnit);
}

bool looksLikeLonLatAxis(const GDALMDArray& axis, bool longitude) {
    const std::string units = lower(axis.GetUnit().empty() ? textAttribute(axis, "units") : axis.GetUnit());
    const std::string standard = lower(textAttribute(axis, "standard_name"));
    const std::string name = lower(axis.GetName());
    if (units.rfind("degree", 0) == 0) return true;
    if (longitude) return standard == "longitude" || name == "lon" || name == "longitude";
    return standard == "latitude" || name == "lat" || name == "latitude";
}

// Metres per unit of a projected axis: CF radar products often give km.
double axisMetres(const GDALMDArray& axis) {
    const std::string units = lower(axis.GetUnit().empty() ? textAttribute(axis, "units") : axis.GetUnit());
    return units == "km" || units == "kilometre" || units == "kilometer" ? 1000.0 : 1.0;
}

bool regular(const std::vector<double>& v) {
    if (v.size() < 2) return false;
    const double step = (v.back() - v.front()) / static_cast<double>(v.size() - 1);
    if (step == 0.0) return false;
    for (std::size_t k = 0; k < v.size(); ++k) {
        if (std::fabs(v[k] - (v.front() + static_cast<double>(k) * step)) > 0.01 * std::fabs(step)) return false;
    }
    return true;
}

// Orients 1-D axes north first and west to east, recording the flips.
void orientAxes(SourceGrid& g, ProductAccess& access) {
    if (g.x.size() > 1 && g.x.back() < g.x.front()) {
        std::reverse(g.x.begin(), g.x.end());
        access.flipCols = true;
    }
    if (g.y.size() > 1 && g.y.back() > g.y.front()) {
        std::reverse(g.y.begin(), g.y.end());
        access.flipRows = true;
    }
}

// Two-dimensional latitude and longitude arrays over the variable's (y, x).
bool curvilinearCoordinates(const GDALMDArray& array, SourceGrid& g, const std::string& file) {
    std::shared_ptr<GDALMDArray> lon, lat;
    for (const auto& c : array.GetCoordinateVariables()) {
        if (c->GetDimensionCount() != 2) continue;
        if (looksLikeLonLatAxis(*c, true) && (lower(textAttribute(*c, "units")).find("east") != std::string::npos ||
                                              lower(textAttribute(*c, "standard_name")) == "longitude" ||
                                              lower(c->GetName()).rfind("lon", 0) == 0)) {
            lon = c;
        } else if (looksLikeLonLatAxis(*c, false)) {
            lat = c;
        }
    }
    if (!lon || !lat) return false;
    g.kind = GridKind::Curvilinear;
    g.lon = readAxis(*lon, file);
    g.lat = readAxis(*lat, file);
    g.crsName = "two-dimensional latitude and longitude (" + lat->GetName() + ", " + lon->GetName() + ")";
    return true;
}

// A grid in the projected CRS `srs`, kept as WKT for the warp and named for the summary.
void setProjected(SourceGrid& g, const OGRSpatialReference& srs) {
    g.kind = GridKind::Projected;
    g.crsWkt = wktOf(srs);
    g.crsName = crsName(srs);
}

// The summary's name of a longitude/latitude grid's CRS, which may be missing.
std::string lonLatCrsName(const OGRSpatialReference* srs) {
    return srs ? crsName(*srs) : "longitude/latitude (no CRS given)";
}

// The one-dimensional coordinate variable of a grid dimension, or none.
// GDAL's netCDF driver offers the two-dimensional longitudes and latitudes of
// a curvilinear grid (those marked with _CoordinateAxisType, as radar products
// store them) as the "indexing variables" of x and y; they are not axes.
std::shared_ptr<GDALMDArray> axisOf(const GDALDimension& dim) {
    auto axis = dim.GetIndexingVariable();
    if (!axis || axis->GetDimensionCount() != 1 || axis->GetDimensions()[0]->GetSize() != dim.GetSize()) return nullptr;
    return axis;
}

void gridOfArray(const GDALMDArray& array, ProductAccess& access, SourceGrid& g, const std::string& file) {
    const auto& dims = array.GetDimensions();
    const auto& xDim = dims[static_cast<std::size_t>(access.xDim)];
    const auto& yDim = dims[static_cast<std::size_t>(access.yDim)];
    g.nx = static_cast<int32_t>(xDim->GetSize());
    g.ny = static_cast<int32_t>(yDim->GetSize());
    const auto xAxis = axisOf(*xDim);
    const auto yAxis = axisOf(*yDim);
    const auto srs = array.GetSpatialRef();
    const bool projected = srs && srs->IsProjected();
    if (xAxis && yAxis) {
        g.x = readAxis(*xAxis, file);
        g.y = readAxis(*yAxis, file);
        const bool lonLat = srs ? srs->IsGeographic() != 0
                                : looksLikeLonLatAxis(*xAxis, true) && looksLikeLonLatAxis(*yAxis, false);
        if (projected) {
            if (!regular(g.x) || !regular(g.y)) {
                throw InputError("Error: " + file + ": the projected x and y axes of " + array.GetName() +
                                 " are not evenly spaced.\n");
            }
            const double mx = axisMetres(*xAxis), my = axisMetres(*yAxis);
            const double crsMetres = srs->GetLinearUnits();
            for (double& v : g.x) v *= mx / crsMetres;
            for (double& v : g.y) v *= my / crsMetres;
            setProjected(g, *srs);
            orientAxes(g, access);
            return;
        }
        if (lonLat) {
            g.crsName = lonLatCrsName(srs.get());
            orientAxes(g, access);
            if (regular(g.x) && regular(g.y)) {
                g.kind = GridKind::LonLat;
                return;
            }
            // Unevenly spaced longitudes or latitudes (a Gaussian grid): warped like a curvilinear grid.
            g.kind = GridKind::Curvilinear;
            for (int32_t i = 0; i < g.ny; ++i)
                for (int32_t j = 0; j < g.nx; ++j) {
                    g.lon.push_back(g.x[static_cast<std::size_t>(j)]);
                    g.lat.push_back(g.y[static_cast<std::size_t>(i)]);
                }
            return;
        }
    }
    g.x.clear();
    g.y.clear();
    access.flipRows = access.flipCols = false;
    if (curvilinearCoordinates(array, g, file)) return;
    throw InputError("Error: " + file + ": the grid of " + array.GetName() +
                     " has neither a coordinate reference system nor latitude and longitude coordinates.\n");
}

RainProduct openMultidimensional(GDALDatasetUniquePtr dataset, const std::string& file, const ProductOptions& options) {
    auto access = std::make_shared<ProductAccess>();
    std::vector<std::shared_ptr<GDALMDArray>> arrays;
    if (auto root = dataset->GetRootGroup()) collectArrays(root, arrays);
    const auto array = pickVariable(arrays, options.variable, file);
    RainProduct p;
    p.source = file;
    p.variable = array->GetName();
    const auto& dims = array->GetDimensions();
    access->dimCount = dims.size();
    if (dims.size() < 2) throw InputError("Error: " + file + ": " + p.variable + " is not a grid.\n");
    access->xDim = static_cast<int>(dims.size()) - 1;
    access->yDim = static_cast<int>(dims.size()) - 2;
    for (std::size_t d = 0; d + 2 < dims.size(); ++d) {
        if (access->timeDim < 0 && isTimeDimension(*dims[d])) {
            access->timeDim = static_cast<int>(d);
        } else if (access->memberDim < 0 && isMemberDimension(*dims[d])) {
            access->memberDim = static_cast<int>(d);
            p.members = static_cast<std::size_t>(dims[d]->GetSize());
            p.memberDimension = dims[d]->GetName();
        } else if (dims[d]->GetSize() != 1) {
            throw InputError("Error: " + file + ": " + p.variable + " has a dimension " + dims[d]->GetName() + " of " +
                             std::to_string(dims[d]->GetSize()) + " values besides time, y and x; give one level.\n");
        }
    }
    gridOfArray(*array, *access, p.grid, file);

    p.unitsText = array->GetUnit();
    if (p.unitsText.empty()) p.unitsText = textAttribute(*array, "units");
    p.cellMethods = textAttribute(*array, "cell_methods");
    access->fill = array->GetNoDataValueAsDouble(&access->hasFill);
    access->hasMissing = numberAttribute(*array, "missing_value", access->missing);
    bool hasScale = false, hasOffset = false;
    access->scale = array->GetScale(&hasScale);
    access->offset = array->GetOffset(&hasOffset);
    if (!hasScale) access->scale = 1.0;
    if (!hasOffset) access->offset = 0.0;

    if (access->timeDim >= 0) {
        const auto& timeDim = dims[static_cast<std::size_t>(access->timeDim)];
        const auto timeVar = timeDim->GetIndexingVariable();
        if (!timeVar) throw InputError("Error: " + file + ": the time dimension has no time values.\n");
        p.timed = true;
        p.starts = timesOf(*timeVar, readAll(*timeVar, file), file);
        p.frameCount = p.starts.size();
        // Time bounds, when given, say where each interval starts.
        const std::string boundsName = textAttribute(*timeVar, "bounds");
        std::shared_ptr<GDALMDArray> bounds;
        for (const auto& a : arrays)
            if (!boundsName.empty() && a->GetName() == boundsName) bounds = a;
        if (bounds && bounds->GetDimensionCount() == 2 && bounds->GetDimensions()[1]->GetSize() == 2) {
            access->timesAreStarts = true;
            const std::vector<int64_t> edges = timesOf(*timeVar, readAll(*bounds, file), file);
            for (std::size_t k = 0; k < p.starts.size(); ++k) {
                p.starts[k] = edges[2 * k];
                if (edges[2 * k + 1] - edges[2 * k] <= 0) {
                    throw InputError("Error: " + file + ": the time bounds of interval " + std::to_string(k + 1) +
                                     " are empty or reversed.\n");
                }
                if (k == 0) p.intervalSeconds = edges[1] - edges[0];
            }
        }
    } else {
        p.frameCount = 1;
    }
    access->dataset = std::move(dataset);
    access->array = array;
    p.access = access;
    return p;
}

RainProduct openBands(const std::vector<std::string>& sources) {
    auto access = std::make_shared<ProductAccess>();
    RainProduct p;
    double firstTransform[6] = {0, 0, 0, 0, 0, 0};
    for (std::size_t s = 0; s < sources.size(); ++s) {
        GDALDatasetUniquePtr ds = openWithGdal(sources[s], GDAL_OF_RASTER | GDAL_OF_VERBOSE_ERROR);
        double gt[6];
        if (ds->GetGeoTransform(gt) != CE_None) throw gdalError(sources[s], "the raster has no georeferencing.");
        if (ds->GetRasterCount() < 1) throw InputError("Error: " + sources[s] + " holds no raster band.\n");
        if (s == 0) {
            std::copy(gt, gt + 6, firstTransform);
            GDALRasterBand* band = ds->GetRasterBand(1);
            p.grid.nx = ds->GetRasterXSize();
            p.grid.ny = ds->GetRasterYSize();
            if (gt[2] != 0.0 || gt[4] != 0.0) {
                throw InputError("Error: " + sources[s] + ": rotated rasters are not read; warp it first.\n");
            }
            p.unitsText = band->GetUnitType();
            if (p.unitsText.empty() && band->GetMetadataItem("GRIB_UNIT")) p.unitsText = band->GetMetadataItem("GRIB_UNIT");
            int has = 0;
            access->fill = band->GetNoDataValue(&has);
            access->hasFill = has != 0;
            access->scale = band->GetScale(&has);
            if (!has) access->scale = 1.0;
            access->offset = band->GetOffset(&has);
            if (!has) access->offset = 0.0;
            p.variable = band->GetDescription()[0] ? band->GetDescription() : "band 1";
            for (int32_t j = 0; j < p.grid.nx; ++j) p.grid.x.push_back(gt[0] + (j + 0.5) * gt[1]);
            for (int32_t i = 0; i < p.grid.ny; ++i) p.grid.y.push_back(gt[3] + (i + 0.5) * gt[5]);
            const OGRSpatialReference* srs = ds->GetSpatialRef();
            if (srs && srs->IsProjected()) {
                setProjected(p.grid, *srs);
            } else {
                p.grid.kind = GridKind::LonLat;
                p.grid.crsName = lonLatCrsName(srs);
                const double west = std::min(p.grid.x.front(), p.grid.x.back());
                const double east = std::max(p.grid.x.front(), p.grid.x.back());
                if (!srs && (west < -360.0 || east > 360.0 || std::fabs(p.grid.y.front()) > 90.0 ||
                             std::fabs(p.grid.y.back()) > 90.0)) {
                    throw InputError("Error: " + sources[s] + " has no coordinate reference system and its "
                                     "coordinates are not longitudes and latitudes.\n");
                }
            }
            orientAxes(p.grid, *access);
        } else if (ds->GetRasterXSize() != p.grid.nx || ds->GetRasterYSize() != p.grid.ny ||
                   !std::equal(gt, gt + 6, firstTransform)) {
            throw InputError("Error: " + sources[s] + " is not on the grid of " + sources[0] + ".\n");
        }
        for (int b = 1; b <= ds->GetRasterCount(); ++b) access->bands.emplace_back(s, b);
        access->rasters.push_back(std::move(ds));
    }
    p.source = sources.size() == 1 ? sources[0] : sources[0] + " ... " + sources.back();
    p.frameCount = access->bands.size();
    p.access = access;
    return p;
}

// Turns the product's time stamps into interval starts and checks the axis.
void settleTimes(RainProduct& p, bool stampsAreStarts, int64_t methodsInterval, const ProductOptions& options) {
    const bool fromStamps = !p.access->timesAreStarts;
    int64_t step = 0;
    for (std::size_t k = 1; k < p.starts.size(); ++k) {
        const int64_t d = p.starts[k] - p.starts[k - 1];
        if (k == 1) step = d;
        if (d <= 0) {
            throw InputError("Error: " + p.source + ": the time axis is not regular: " + formatIsoTime(p.starts[k]) +
                             " does not follow " + formatIsoTime(p.starts[k - 1]) + ".\n");
        }
        if (d != step) {
            throw InputError("Error: " + p.source + ": the time axis is not regular: " + formatIsoTime(p.starts[k - 2]) +
                             ", " + formatIsoTime(p.starts[k - 1]) + " and " + formatIsoTime(p.starts[k]) +
                             " are not evenly spaced.\n");
        }
    }
    if (step == 0) step = p.intervalSeconds > 0 ? p.intervalSeconds : methodsInterval;
    if (step == 0 && options.intervalMinutes > 0) step = options.intervalMinutes * 60;
    if (step == 0) {
        throw InputError("Error: " + p.source + " holds one time only; give its interval with --interval MINUTES.\n");
    }
    if (p.intervalSeconds > 0 && p.intervalSeconds != step) {
        throw InputError("Error: " + p.source + ": the time bounds span " + std::to_string(p.intervalSeconds) +
                         " s but the times are " + std::to_string(step) + " s apart.\n");
    }
    p.intervalSeconds = step;
    if (fromStamps && !stampsAreStarts)
        for (int64_t& t : p.starts) t -= step;
    if (options.intervalMinutes > 0 && options.intervalMinutes * 60 != step) {
        throw InputError("Error: " + p.source + " has an interval of " + std::to_string(step / 60.0).substr(0, 6) +
                         " minutes, not the " + std::to_string(options.intervalMinutes) + " of --interval.\n");
    }
}

}  // namespace

RainProduct openRainProduct(const std::vector<std::string>& sources, const ProductOptions& options) {
    useGdal();
    RainProduct p;
    bool multidim = false;
    if (sources.size() == 1) {
        openWithGdal(sources[0], GDAL_OF_RASTER | GDAL_OF_MULTIDIM_RASTER);  // a clear message for a missing file
        CPLErrorReset();
        GDALDatasetUniquePtr ds(GDALDataset::Open(sources[0].c_str(), GDAL_OF_MULTIDIM_RASTER));
        if (ds) {
            p = openMultidimensional(std::move(ds), sources[0], options);
            multidim = true;
        }
    }
    if (!multidim) p = openBands(sources);
    if (!options.units.empty()) p.unitsText = options.units;

    RainUnits units;
    if (p.unitsText.empty()) {
        throw InputError("Error: " + p.source + ": " + p.variable + " has no units; give them with --units (for "
                         "example --units mm/h, --units \"kg m-2\").\n");
    }
    if (!parseRainUnits(p.unitsText, units)) {
        throw InputError("Error: " + p.source + ": the units \"" + p.unitsText + "\" of " + p.variable +
                         " are not a rainfall rate or amount; give them with --units.\n");
    }
    p.isRate = units.isRate;
    const std::string methods = lower(p.cellMethods);
    const bool pointInTime = methods.find("time: point") != std::string::npos;
    const bool period = methods.find("time:") != std::string::npos && !pointInTime;
    const int64_t methodsInterval = cellMethodsInterval(methods);

    if (p.timed) {
        // An accumulation or a period mean is stamped at the end of its
        // interval; an instantaneous rate at the start of the interval it stands for.
        settleTimes(p, units.isRate && !period, methodsInterval, options);
    } else {
        if (options.intervalMinutes <= 0) {
            throw InputError("Error: " + p.source + " has no time axis; give the interval of its frames with "
                             "--interval MINUTES.\n");
        }
        p.intervalSeconds = options.intervalMinutes * 60;
    }
    if (p.intervalSeconds % 60 != 0 || p.intervalSeconds > 3600 || 3600 % p.intervalSeconds != 0) {
        throw InputError("Error: " + p.source + " has an interval of " + std::to_string(p.intervalSeconds) +
                         " s; runoffSim needs whole minutes that divide 60 minutes (1, 2, 3, 4, 5, 6, 10, 12, 15, "
                         "20, 30 or 60), so a coarser or irregular product cannot be used.\n");
    }
    // An amount is per its cell_methods interval when one is named, else per frame.
    const int64_t amountSeconds = methodsInterval > 0 ? methodsInterval : p.intervalSeconds;
    p.toMillimetresPerHour = units.isRate ? units.factor : units.factor * 3600.0 / static_cast<double>(amountSeconds);
    // Packed values are exact only to half a packing step.
    p.noiseFloor = std::max(1e-6, p.access->scale == 1.0 ? 0.0 : 0.5 * std::fabs(p.access->scale) * p.toMillimetresPerHour);
    return p;
}

std::vector<double> readFrame(const RainProduct& p, std::size_t member, std::size_t k, int32_t row0, int32_t rows,
                              int32_t col0, int32_t cols) {
    const ProductAccess& a = *p.access;
    // The source rows and columns in the file's own order.
    const int32_t fileRow0 = a.flipRows ? p.grid.ny - row0 - rows : row0;
    const int32_t fileCol0 = a.flipCols ? p.grid.nx - col0 - cols : col0;
    std::vector<double> raw(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
    bool ok = false;
    if (a.array) {
        std::vector<GUInt64> start(a.dimCount, 0);
        std::vector<size_t> count(a.dimCount, 1);
        if (a.timeDim >= 0) start[static_cast<std::size_t>(a.timeDim)] = k;
        if (a.memberDim >= 0) start[static_cast<std::size_t>(a.memberDim)] = member;
        start[static_cast<std::size_t>(a.yDim)] = static_cast<GUInt64>(fileRow0);
        start[static_cast<std::size_t>(a.xDim)] = static_cast<GUInt64>(fileCol0);
        count[static_cast<std::size_t>(a.yDim)] = static_cast<size_t>(rows);
        count[static_cast<std::size_t>(a.xDim)] = static_cast<size_t>(cols);
        ok = a.array->Read(start.data(), count.data(), nullptr, nullptr, GDALExtendedDataType::Create(GDT_Float64),
                           raw.data());
    } else {
        const auto& [raster, band] = a.bands[k];
        ok = a.rasters[raster]->GetRasterBand(band)->RasterIO(GF_Read, fileCol0, fileRow0, cols, rows, raw.data(), cols,
                                                               rows, GDT_Float64, 0, 0) == CE_None;
    }
    if (!ok) throw gdalError(p.source, "frame " + std::to_string(k + 1) + " of " + p.variable + " cannot be read.");
    std::vector<double> values(raw.size());
    for (int32_t i = 0; i < rows; ++i) {
        const int32_t fi = a.flipRows ? rows - 1 - i : i;
        for (int32_t j = 0; j < cols; ++j) {
            const int32_t fj = a.flipCols ? cols - 1 - j : j;
            const double r = raw[static_cast<std::size_t>(fi) * static_cast<std::size_t>(cols) + fj];
            double v = kNaN;
            if (!(a.hasFill && r == a.fill) && !(a.hasMissing && r == a.missing) && std::isfinite(r)) {
                v = (r * a.scale + a.offset) * p.toMillimetresPerHour;
                if (v < 0.0 && v > -p.noiseFloor) v = 0.0;
            }
            values[static_cast<std::size_t>(i) * static_cast<std::size_t>(cols) + j] = v;
        }
    }
    return values;
}

#include "rainRegrid.h"

#include "demGrid.h"
#include "gdalSupport.h"
#include "inputError.h"

#include <cpl_string.h>
#include <gdal_alg.h>
#include <gdalwarper.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

struct WarpState {
    GDALDatasetUniquePtr source;  // the part of the product, one Float64 band
    GDALDatasetUniquePtr target;  // the rainfall grid, one Float64 band, north up
    std::vector<std::string> vsimemFiles;  // geolocation arrays of a curvilinear source
    void* transformer = nullptr;
    GDALWarpOptions* options = nullptr;
    GDALWarpOperation operation;

    ~WarpState() {
        if (options) {
            options->pTransformerArg = nullptr;
            GDALDestroyWarpOptions(options);
        }
        if (transformer) GDALDestroyGenImgProjTransformer(transformer);
        for (const std::string& f : vsimemFiles) VSIUnlink(f.c_str());
    }
};

namespace {

const double kPi = 3.14159265358979323846;

std::string coverError(const std::string& source, const ProjectArea& a, const std::string& what) {
    char box[160];
    std::snprintf(box, sizeof box, "%.6g..%.6g E, %.6g..%.6g N", a.west(), a.east(), a.south(), a.north());
    return "Error: " + source + " does not cover the study area (" + box + ")" + what + ".\n";
}

// The cell index in [0, n) whose extent holds coordinate v, from the first
// cell's west (south) edge `edge` and spacing `step`; may fall outside [0, n).
long cellOf(double v, double edge, double step) { return static_cast<long>(std::floor((v - edge) / step + 1e-9)); }

double roundedSpacing(double step) {
    char text[40];
    std::snprintf(text, sizeof text, "%.12g", step);
    return std::strtod(text, nullptr);
}

RainCut cutLonLat(const SourceGrid& g, const ProjectArea& a, const std::string& source) {
    if (g.nx < 2 || g.ny < 2) throw InputError("Error: " + source + ": the grid needs at least 2 x 2 points.\n");
    // Spacing rounded to 12 significant digits: the division leaves noise in
    // the last digits (0.0499999999999996 for 0.05) far below any grid's accuracy.
    const double dx = roundedSpacing((g.x.back() - g.x.front()) / (g.nx - 1));
    const double dy = roundedSpacing((g.y.front() - g.y.back()) / (g.ny - 1));  // rows run north to south
    const double westEdge = g.x.front() - 0.5 * dx, southEdge = g.y.back() - 0.5 * dy;
    // The study area may use longitudes 360 degrees away from the product's.
    double shift = 0.0;
    for (double s : {0.0, 360.0, -360.0}) {
        if (a.west() >= westEdge + s - 1e-9 * dx && a.west() < westEdge + s + g.nx * dx) {
            shift = s;
            break;
        }
    }
    const long jWest = cellOf(a.west(), westEdge + shift, dx);
    const long jEast = static_cast<long>(std::ceil((a.east() - westEdge - shift) / dx - 1e-9)) - 1;
    const long iSouth = cellOf(a.south(), southEdge, dy);  // counted from the south
    const long iNorth = static_cast<long>(std::ceil((a.north() - southEdge) / dy - 1e-9)) - 1;
    if (jWest < 0 || jEast >= g.nx || iSouth < 0 || iNorth >= g.ny) throw InputError(coverError(source, a, ""));
    // One cell all round where the product has it.
    const long j0 = std::max(0L, jWest - 1), j1 = std::min<long>(g.nx - 1, jEast + 1);
    const long i0 = std::max(0L, iSouth - 1), i1 = std::min<long>(g.ny - 1, iNorth + 1);
    RainCut cut;
    cut.col0 = static_cast<int32_t>(j0);
    cut.cols = static_cast<int32_t>(j1 - j0 + 1);
    cut.row0 = static_cast<int32_t>(g.ny - 1 - i1);
    cut.rows = static_cast<int32_t>(i1 - i0 + 1);
    cut.out.cols = cut.cols;
    cut.out.rows = cut.rows;
    cut.out.dx = dx;
    cut.out.dy = dy;
    cut.out.lon0 = g.x[static_cast<std::size_t>(j0)] + shift;
    cut.out.lat0 = g.y[static_cast<std::size_t>(g.ny - 1 - i0)];
    return cut;
}

// Resolution of the source near the study area's centre, metres.
double sourceResolution(const SourceGrid& g, const ProjectArea& a) {
    if (g.kind == GridKind::Projected) {
        OGRSpatialReference srs;
        srs.importFromWkt(g.crsWkt.c_str());
        const double metres = srs.GetLinearUnits();
        const double dx = std::fabs(g.x[1] - g.x[0]) * metres, dy = std::fabs(g.y[1] - g.y[0]) * metres;
        return std::sqrt(dx * dy);
    }
    const double lonC = 0.5 * (a.west() + a.east()), latC = 0.5 * (a.south() + a.north());
    const double shrink = std::cos(latC * kPi / 180.0);
    std::size_t best = 0;
    double bestD = HUGE_VAL;
    for (std::size_t k = 0; k < g.lon.size(); ++k) {
        const double ex = std::remainder(g.lon[k] - lonC, 360.0) * shrink, ey = g.lat[k] - latC;
        if (ex * ex + ey * ey < bestD) bestD = ex * ex + ey * ey, best = k;
    }
    const int32_t i = static_cast<int32_t>(best / static_cast<std::size_t>(g.nx));
    const int32_t j = static_cast<int32_t>(best % static_cast<std::size_t>(g.nx));
    auto metresBetween = [&](std::size_t p, std::size_t q) {
        const double ex = std::remainder(g.lon[p] - g.lon[q], 360.0) * shrink * 3600.0 * kMetresPerArcSecond;
        const double ey = (g.lat[p] - g.lat[q]) * 3600.0 * kMetresPerArcSecond;
        return std::sqrt(ex * ex + ey * ey);
    };
    const std::size_t right = best + (j + 1 < g.nx ? 1 : 0) - (j + 1 < g.nx ? 0 : 1);
    const std::size_t down = best + (i + 1 < g.ny ? static_cast<std::size_t>(g.nx) : 0) -
                             (i + 1 < g.ny ? 0 : static_cast<std::size_t>(g.nx));
    return std::sqrt(metresBetween(best, right) * metresBetween(best, down));
}

GDALDatasetUniquePtr memDataset(int32_t cols, int32_t rows, int bands) {
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    return GDALDatasetUniquePtr(mem->Create("", cols, rows, bands, GDT_Float64, nullptr));
}

std::string wgs84Wkt() {
    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    return wktOf(wgs84);
}

void setSrs(GDALDataset& ds, const std::string& wkt) {
    OGRSpatialReference srs;
    srs.importFromWkt(wkt.c_str());
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    ds.SetSpatialRef(&srs);
}

// Writes a window of a curvilinear coordinate array to an in-memory GeoTIFF.
std::string geolocationFile(const std::vector<double>& values, const SourceGrid& g, int32_t row0, int32_t rows,
                            int32_t col0, int32_t cols, const char* what) {
    static std::atomic<int> counter{0};
    const std::string name = "/vsimem/floodRain-" + std::to_string(++counter) + "-" + what + ".tif";
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDatasetUniquePtr ds(gtiff->Create(name.c_str(), cols, rows, 1, GDT_Float64, nullptr));
    std::vector<double> part;
    for (int32_t i = row0; i < row0 + rows; ++i)
        for (int32_t j = col0; j < col0 + cols; ++j)
            part.push_back(values[static_cast<std::size_t>(i) * static_cast<std::size_t>(g.nx) + j]);
    if (ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, cols, rows, part.data(), cols, rows, GDT_Float64, 0, 0) !=
        CE_None) {
        throw gdalError(name, "the geolocation array cannot be written.");
    }
    return name;
}

// Georeferences `ds` as the source part (row0, col0, rows, cols) of `g`.
void georeferencePart(GDALDataset& ds, const SourceGrid& g, const std::vector<double>& lon, int32_t row0,
                      int32_t rows, int32_t col0, int32_t cols, WarpState* state) {
    if (g.kind == GridKind::Projected) {
        const double dx = g.x[1] - g.x[0], dy = g.y[1] - g.y[0];
        double gt[6] = {g.x[static_cast<std::size_t>(col0)] - 0.5 * dx, dx, 0.0,
                        g.y[static_cast<std::size_t>(row0)] - 0.5 * dy, 0.0, dy};
        ds.SetGeoTransform(gt);
        setSrs(ds, g.crsWkt);
        return;
    }
    const std::string xFile = geolocationFile(lon, g, row0, rows, col0, cols, "lon");
    const std::string yFile = geolocationFile(g.lat, g, row0, rows, col0, cols, "lat");
    if (state) state->vsimemFiles.insert(state->vsimemFiles.end(), {xFile, yFile});
    ds.SetMetadataItem("SRS", wgs84Wkt().c_str(), "GEOLOCATION");
    ds.SetMetadataItem("X_DATASET", xFile.c_str(), "GEOLOCATION");
    ds.SetMetadataItem("Y_DATASET", yFile.c_str(), "GEOLOCATION");
    ds.SetMetadataItem("X_BAND", "1", "GEOLOCATION");
    ds.SetMetadataItem("Y_BAND", "1", "GEOLOCATION");
    ds.SetMetadataItem("PIXEL_OFFSET", "0", "GEOLOCATION");
    ds.SetMetadataItem("LINE_OFFSET", "0", "GEOLOCATION");
    ds.SetMetadataItem("PIXEL_STEP", "1", "GEOLOCATION");
    ds.SetMetadataItem("LINE_STEP", "1", "GEOLOCATION");
    ds.SetMetadataItem("GEOREFERENCING_CONVENTION", "PIXEL_CENTER", "GEOLOCATION");
}

void* makeTransformer(GDALDataset& source, GDALDataset& target, bool geolocated) {
    CPLStringList options;
    if (geolocated) options.AddString("SRC_METHOD=GEOLOC_ARRAY");
    return GDALCreateGenImgProjTransformer2(GDALDataset::ToHandle(&source), GDALDataset::ToHandle(&target),
                                            options.List());
}

RainCut planWarp(const SourceGrid& g, const ProjectArea& a, const std::string& source) {
    const double latC = 0.5 * (a.south() + a.north()), lonC = 0.5 * (a.west() + a.east());
    const double metres = sourceResolution(g, a);
    const double dySec = std::max(1.0, std::round(metres / kMetresPerArcSecond));
    const double dxSec = std::max(1.0, std::round(metres / (kMetresPerArcSecond * std::cos(latC * kPi / 180.0))));
    RainCut cut;
    cut.warped = true;
    cut.out.dx = dxSec / 3600.0;
    cut.out.dy = dySec / 3600.0;
    cut.out.cols = static_cast<int32_t>(std::ceil((a.east() - a.west()) / cut.out.dx - 1e-9)) + 2;
    cut.out.rows = static_cast<int32_t>(std::ceil((a.north() - a.south()) / cut.out.dy - 1e-9)) + 2;
    cut.out.lon0 = a.west() - 0.5 * cut.out.dx;
    cut.out.lat0 = a.south() - 0.5 * cut.out.dy;

    auto state = std::make_shared<WarpState>();
    state->target = memDataset(cut.out.cols, cut.out.rows, 1);
    double targetGt[6] = {a.west() - cut.out.dx, cut.out.dx, 0.0,
                          cut.out.lat0 - 0.5 * cut.out.dy + cut.out.rows * cut.out.dy, 0.0, -cut.out.dy};
    state->target->SetGeoTransform(targetGt);
    setSrs(*state->target, wgs84Wkt());

    // Longitudes of a curvilinear grid brought within 180 degrees of the study area.
    std::vector<double> lon = g.lon;
    for (double& v : lon) v = lonC + std::remainder(v - lonC, 360.0);

    // The source pixels the rainfall grid reaches: its edges traced back into the whole source.
    const bool geolocated = g.kind == GridKind::Curvilinear;
    GDALDatasetUniquePtr whole = memDataset(g.nx, g.ny, 0);
    WarpState wholeFiles;
    georeferencePart(*whole, g, lon, 0, g.ny, 0, g.nx, &wholeFiles);
    void* back = makeTransformer(*whole, *state->target, geolocated);
    if (!back) throw gdalError(source, "its grid cannot be transformed to longitude and latitude.");
    std::vector<double> px, py, pz;
    for (int32_t k = 0; k <= cut.out.cols; ++k) {
        for (double r : {0.0, static_cast<double>(cut.out.rows)}) px.push_back(k), py.push_back(r);
    }
    for (int32_t k = 0; k <= cut.out.rows; ++k) {
        for (double c : {0.0, static_cast<double>(cut.out.cols)}) px.push_back(c), py.push_back(k);
    }
    pz.assign(px.size(), 0.0);
    std::vector<int> ok(px.size(), 0);
    GDALGenImgProjTransform(back, TRUE, static_cast<int>(px.size()), px.data(), py.data(), pz.data(), ok.data());
    GDALDestroyGenImgProjTransformer(back);
    double minX = HUGE_VAL, maxX = -HUGE_VAL, minY = HUGE_VAL, maxY = -HUGE_VAL;
    for (std::size_t k = 0; k < px.size(); ++k) {
        if (!ok[k] || !std::isfinite(px[k]) || !std::isfinite(py[k])) continue;
        minX = std::min(minX, px[k]), maxX = std::max(maxX, px[k]);
        minY = std::min(minY, py[k]), maxY = std::max(maxY, py[k]);
    }
    const std::string around = " and one rainfall cell around it";
    if (!(minX <= maxX) || maxX < 0.0 || maxY < 0.0 || minX > g.nx || minY > g.ny) {
        throw InputError(coverError(source, a, around));
    }
    cut.col0 = static_cast<int32_t>(std::max(0.0, std::floor(minX) - 1.0));
    cut.row0 = static_cast<int32_t>(std::max(0.0, std::floor(minY) - 1.0));
    cut.cols = static_cast<int32_t>(std::min<double>(g.nx, std::ceil(maxX) + 1.0)) - cut.col0;
    cut.rows = static_cast<int32_t>(std::min<double>(g.ny, std::ceil(maxY) + 1.0)) - cut.row0;

    state->source = memDataset(cut.cols, cut.rows, 1);
    georeferencePart(*state->source, g, lon, cut.row0, cut.rows, cut.col0, cut.cols, state.get());
    state->transformer = makeTransformer(*state->source, *state->target, geolocated);
    if (!state->transformer) throw gdalError(source, "its grid cannot be transformed to longitude and latitude.");
    state->options = GDALCreateWarpOptions();
    GDALWarpOptions* o = state->options;
    o->hSrcDS = GDALDataset::ToHandle(state->source.get());
    o->hDstDS = GDALDataset::ToHandle(state->target.get());
    o->eResampleAlg = GRA_Average;
    o->eWorkingDataType = GDT_Float64;
    o->nBandCount = 1;
    o->panSrcBands = static_cast<int*>(CPLMalloc(sizeof(int)));
    o->panSrcBands[0] = 1;
    o->panDstBands = static_cast<int*>(CPLMalloc(sizeof(int)));
    o->panDstBands[0] = 1;
    o->padfDstNoDataReal = static_cast<double*>(CPLMalloc(sizeof(double)));
    o->padfDstNoDataReal[0] = std::numeric_limits<double>::quiet_NaN();
    o->papszWarpOptions = CSLSetNameValue(o->papszWarpOptions, "INIT_DEST", "NO_DATA");
    o->pfnTransformer = GDALGenImgProjTransform;
    o->pTransformerArg = state->transformer;
    if (state->operation.Initialize(o) != CE_None) throw gdalError(source, "the warp cannot be set up.");
    cut.warp = state;

    // Every rainfall cell must take something from the source.
    const std::vector<float> coverage =
        cutFrame(cut, std::vector<double>(static_cast<std::size_t>(cut.rows) * static_cast<std::size_t>(cut.cols), 1.0));
    for (float v : coverage)
        if (std::isnan(v)) throw InputError(coverError(source, a, around));
    return cut;
}

}  // namespace

RainCut planCut(const SourceGrid& grid, const ProjectArea& area, const std::string& source) {
    useGdal();
    return grid.kind == GridKind::LonLat ? cutLonLat(grid, area, source) : planWarp(grid, area, source);
}

std::vector<float> cutFrame(const RainCut& cut, const std::vector<double>& part) {
    const std::size_t cols = static_cast<std::size_t>(cut.out.cols);
    std::vector<float> frame(static_cast<std::size_t>(cut.out.rows) * cols);
    if (!cut.warped) {
        for (int32_t i = 0; i < cut.out.rows; ++i)  // output row i (south first) is part row rows - 1 - i
            for (std::size_t j = 0; j < cols; ++j)
                frame[static_cast<std::size_t>(i) * cols + j] =
                    static_cast<float>(part[static_cast<std::size_t>(cut.rows - 1 - i) * cols + j]);
        return frame;
    }
    WarpState& w = *cut.warp;
    std::vector<double> values(part);
    if (w.source->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, cut.cols, cut.rows, values.data(), cut.cols, cut.rows,
                                              GDT_Float64, 0, 0) != CE_None ||
        w.operation.ChunkAndWarpImage(0, 0, cut.out.cols, cut.out.rows) != CE_None) {
        throw gdalError("the rainfall grid", "the warp failed.");
    }
    std::vector<double> north(frame.size());
    if (w.target->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, cut.out.cols, cut.out.rows, north.data(), cut.out.cols,
                                              cut.out.rows, GDT_Float64, 0, 0) != CE_None) {
        throw gdalError("the rainfall grid", "the warped frame cannot be read.");
    }
    for (int32_t i = 0; i < cut.out.rows; ++i)
        for (std::size_t j = 0; j < cols; ++j)
            frame[static_cast<std::size_t>(i) * cols + j] =
                static_cast<float>(north[static_cast<std::size_t>(cut.out.rows - 1 - i) * cols + j]);
    return frame;
}
